#include "settings/send_store.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <optional>

#include "settings/profile_file.h"
#include "settings/settings_file_choice.h"

namespace quorvel {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Longer indices are no list anyone keeps: they read as too many entries.
constexpr std::size_t kMaxIndexDigits = 6;

// The numbered fields of one [SendList] entry.
constexpr const char* kListFields[] = {"Name",   "Content",  "Hex",    "Escapes",
                                       "Ending", "Checksum", "DelayMs"};
constexpr const char* kHistoryFields[] = {"Text", "Hex"};

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

ProfileDocument ReadDocument(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  return ProfileDocument(text);
}

// Splits "Name12" into its field (one of `fields`, any case) and index.
// Index 0 for a key of another form; SIZE_MAX for an index too long to be one.
template <std::size_t N>
std::pair<std::string, std::size_t> SplitKey(std::string_view key, const char* const (&fields)[N]) {
  for (const char* field : fields) {
    std::string_view name(field);
    if (key.size() <= name.size()) continue;
    bool same = std::equal(name.begin(), name.end(), key.begin(), [](char a, char b) {
      return std::tolower(static_cast<unsigned char>(a)) ==
             std::tolower(static_cast<unsigned char>(b));
    });
    std::string_view digits = key.substr(name.size());
    if (!same ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    if (digits.size() > kMaxIndexDigits) return {field, SIZE_MAX};
    std::size_t index = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), index);
    return {field, index};
  }
  return {"", 0};
}

// The numbered fields of `section`, by index, then by field name.
template <std::size_t N>
std::map<std::size_t, std::map<std::string, std::string>> NumberedFields(
    const ProfileDocument& document, std::string_view section, const char* const (&fields)[N]) {
  std::map<std::size_t, std::map<std::string, std::string>> numbered;
  for (const auto& [key, value] : document.Entries(section)) {
    auto [field, index] = SplitKey(key, fields);
    if (index != 0) numbered[index][field] = value;
  }
  return numbered;
}

// Removes the numbered keys of `section` beyond `count`.
template <std::size_t N>
void RemoveBeyond(ProfileDocument& document, std::string_view section, std::size_t count,
                  const char* const (&fields)[N]) {
  document.RemoveKeys(section, [&](std::string_view key) {
    std::size_t index = SplitKey(key, fields).second;
    return index > count;
  });
}

std::optional<std::string> FieldOf(const std::map<std::string, std::string>& fields,
                                   const char* name) {
  auto found = fields.find(name);
  if (found == fields.end()) return std::nullopt;
  return found->second;
}

bool Flag(const std::map<std::string, std::string>& fields, const char* name) {
  return ProfileInteger(FieldOf(fields, name), 0) != 0;
}

// One entry from its stored fields; a problem for what cannot be kept.
SendListEntry EntryFrom(const std::map<std::string, std::string>& fields, std::string& problem) {
  SendListEntry entry;
  entry.name = UnescapeValue(FieldOf(fields, "Name").value_or(""));
  entry.content = UnescapeValue(FieldOf(fields, "Content").value_or(""));
  entry.hex = Flag(fields, "Hex");
  entry.options.escapes = Flag(fields, "Escapes");
  std::string ending = FieldOf(fields, "Ending").value_or("");
  if (!ending.empty()) {
    if (auto known = LineEndingFromKey(ending)) {
      entry.options.ending = *known;
    } else {
      problem = "The line ending \"" + ending + "\" is not one of none, cr, lf, crlf.";
    }
  }
  std::string checksum = FieldOf(fields, "Checksum").value_or("");
  if (!checksum.empty()) {
    if (auto known = ChecksumFromKey(checksum)) {
      entry.options.checksum = *known;
    } else {
      problem = "The check \"" + checksum + "\" is not known.";
    }
  }
  auto delay = FieldOf(fields, "DelayMs");
  entry.delayMs = ProfileInteger(delay, 0);
  if (problem.empty()) problem = EntryProblem(entry);
  return entry;
}

std::vector<ProfileValue> ListValues(const std::vector<SendListEntry>& entries) {
  std::vector<ProfileValue> values;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const SendListEntry& entry = entries[i];
    std::string n = std::to_string(i + 1);
    values.push_back({kSendListSection, "Name" + n, EscapeValue(entry.name)});
    values.push_back({kSendListSection, "Content" + n, EscapeValue(entry.content)});
    values.push_back({kSendListSection, "Hex" + n, entry.hex ? "1" : "0"});
    values.push_back({kSendListSection, "Escapes" + n, entry.options.escapes ? "1" : "0"});
    values.push_back(
        {kSendListSection, "Ending" + n, std::string(InfoOf(entry.options.ending).key)});
    values.push_back(
        {kSendListSection, "Checksum" + n, std::string(InfoOf(entry.options.checksum).key)});
    values.push_back({kSendListSection, "DelayMs" + n, std::to_string(entry.delayMs)});
  }
  return values;
}

}  // namespace

std::string EscapeValue(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        text += "\\\\";
        break;
      case '\r':
        text += "\\r";
        break;
      case '\n':
        text += "\\n";
        break;
      case '\t':
        text += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          text += "\\x";
          text += kHexDigits[byte >> 4];
          text += kHexDigits[byte & 0x0F];
        } else {
          text += c;
        }
    }
  }
  return text;
}

std::string UnescapeValue(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] != '\\') {
      bytes += text[i];
    } else if (next == '\\' || next == 'r' || next == 'n' || next == 't') {
      bytes += next == '\\' ? '\\' : next == 'r' ? '\r' : next == 'n' ? '\n' : '\t';
      ++i;
    } else if (next == 'x' && i + 3 < text.size() && HexDigitValue(text[i + 2]) >= 0 &&
               HexDigitValue(text[i + 3]) >= 0) {
      bytes += static_cast<char>(HexDigitValue(text[i + 2]) * 16 + HexDigitValue(text[i + 3]));
      i += 3;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

std::vector<HistoryEntry> LoadSendHistory(const std::filesystem::path& file) {
  std::vector<HistoryEntry> entries;
  for (const auto& [index, fields] :
       NumberedFields(ReadDocument(file), kSendHistorySection, kHistoryFields)) {
    if (index > kMaxHistoryEntries) break;
    auto text = FieldOf(fields, "Text");
    if (!text) continue;
    entries.push_back({UnescapeValue(*text), Flag(fields, "Hex")});
  }
  SendHistory tidy;  // duplicates, empty and overlong texts go as Add drops them
  tidy.Assign(entries);
  return tidy.Entries();
}

bool SaveSendHistory(const std::vector<HistoryEntry>& entries, const std::filesystem::path& file) {
  std::vector<ProfileValue> values;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::string n = std::to_string(i + 1);
    values.push_back({kSendHistorySection, "Text" + n, EscapeValue(entries[i].text)});
    values.push_back({kSendHistorySection, "Hex" + n, entries[i].hex ? "1" : "0"});
  }
  return EditProfileFile(file, [&](ProfileDocument& document) {
    RemoveBeyond(document, kSendHistorySection, entries.size(), kHistoryFields);
    document.SetAll(values);
    return true;
  });
}

StoredSendList LoadSendList(const std::filesystem::path& file) {
  StoredSendList stored;
  for (auto& [index, fields] : NumberedFields(ReadDocument(file), kSendListSection, kListFields)) {
    std::string problem;
    SendListEntry entry = EntryFrom(fields, problem);
    if (problem.empty() && stored.entries.size() == kMaxSendListEntries) {
      problem = "The list already holds " + std::to_string(kMaxSendListEntries) + " entries.";
    }
    if (problem.empty()) {
      stored.entries.push_back(std::move(entry));
    } else {
      std::string name = UnescapeValue(FieldOf(fields, "Name").value_or(""));
      stored.kept.push_back({index, std::move(name), std::move(problem), std::move(fields)});
    }
  }
  return stored;
}

bool SaveSendList(const std::vector<SendListEntry>& entries, const std::filesystem::path& file,
                  const std::vector<KeptSendListEntry>& kept) {
  std::vector<ProfileValue> values = ListValues(entries);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    std::string n = std::to_string(entries.size() + i + 1);
    for (const auto& [field, value] : kept[i].fields) {
      values.push_back({kSendListSection, field + n, value});
    }
  }
  return EditProfileFile(file, [&](ProfileDocument& document) {
    // A kept entry writes only the fields it has: none of another entry that
    // had its number before may stay behind.
    RemoveBeyond(document, kSendListSection, entries.size(), kListFields);
    document.SetAll(values);
    return true;
  });
}

std::string KeptEntriesMessage(const std::vector<KeptSendListEntry>& kept,
                               const std::filesystem::path& file) {
  if (kept.empty()) return "";
  std::string text = "These entries of the send list in " + file.string() +
                     " cannot be used. They stay in the file as they are, after the list's own "
                     "entries; edit them there.";
  for (std::size_t i = 0; i < kept.size() && i < kMaxKeptLinesShown; ++i) {
    text += "\nEntry " + std::to_string(kept[i].number) + " \"" + kept[i].name +
            "\": " + kept[i].problem;
  }
  if (kept.size() > kMaxKeptLinesShown) {
    text += "\n... and " + std::to_string(kept.size() - kMaxKeptLinesShown) + " more.";
  }
  return text;
}

SendListPanelSettings LoadSendListPanel(const std::filesystem::path& file) {
  ProfileDocument document = ReadDocument(file);
  return {ProfileInteger(document.Get(kSendListPanelSection, "Shown"), 0) != 0,
          ProfileInteger(document.Get(kSendListPanelSection, "Repeat"), 0) != 0};
}

bool SaveSendListPanel(const SendListPanelSettings& settings, const std::filesystem::path& file) {
  return EditProfileFile(file, [&](ProfileDocument& document) {
    document.SetAll({{kSendListPanelSection, "Shown", settings.shown ? "1" : "0"},
                     {kSendListPanelSection, "Repeat", settings.repeat ? "1" : "0"}});
    return true;
  });
}

SendListImport ImportSendList(const std::filesystem::path& file, std::size_t room) {
  std::string text;
  ProfileFileStatus status = ReadProfileFile(file, text);
  if (status == ProfileFileStatus::kMissing) return {{}, "The file does not exist."};
  if (status == ProfileFileStatus::kUnusable) return {{}, "The file cannot be read."};
  if (status == ProfileFileStatus::kTooLarge) {
    return {{}, "The file is larger than " + ProfileLimitText() + "."};
  }
  auto numbered = NumberedFields(ProfileDocument(text), kSendListSection, kListFields);
  if (numbered.empty()) return {{}, "The file holds no send list (no [SendList] entries)."};
  if (numbered.size() > room || numbered.rbegin()->first == SIZE_MAX) {
    return {{},
            "The file holds more entries than the list has room for (" + std::to_string(room) +
                " of " + std::to_string(kMaxSendListEntries) + ")."};
  }
  SendListImport result;
  for (const auto& [index, fields] : numbered) {
    std::string problem;
    SendListEntry entry = EntryFrom(fields, problem);
    if (!problem.empty()) return {{}, "Entry " + std::to_string(index) + ": " + problem};
    result.entries.push_back(std::move(entry));
  }
  return result;
}

bool ExportSendList(const std::vector<SendListEntry>& entries, const std::filesystem::path& file) {
  std::vector<ProfileValue> values = ListValues(entries);
  return EditProfileFile(file, [&](ProfileDocument& document) {
    document = ProfileDocument("; Quorvel send list\n[SendList]\n");
    document.SetAll(values);
    return true;
  });
}

}  // namespace quorvel
