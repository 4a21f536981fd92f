#include "settings/profile_document.h"

#include <unordered_map>
#include <unordered_set>

namespace quorvel {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = Lower(c);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != kNone;
}

std::string_view StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// How one line reads. Offsets are into the line's content.
struct LineView {
  enum Kind { kBlank, kComment, kSection, kKey } kind = kBlank;
  std::string_view name;           // section or key name, trimmed
  std::string_view value;          // the key's value, trimmed, quotes kept
  std::size_t valueStart = kNone;  // where the value begins; kNone without '='
  std::size_t nameEnd = 0;         // end of the trimmed key line without '='
};

LineView Classify(std::string_view content, bool firstLine) {
  LineView view;
  std::size_t i = (firstLine && content.starts_with(kUtf8Mark)) ? kUtf8Mark.size() : 0;
  while (i < content.size() && IsSpace(content[i])) ++i;
  if (i == content.size()) return view;
  if (content[i] == ';') {
    view.kind = LineView::kComment;
    return view;
  }
  if (content[i] == '[') {
    std::size_t close = content.find(']', i + 1);
    if (close != kNone) {
      view.kind = LineView::kSection;
      view.name = Trim(content.substr(i + 1, close - i - 1));
      return view;
    }
    // Without ']' the line is no section header; it reads as a key line.
  }
  view.kind = LineView::kKey;
  std::size_t end = content.size();
  while (end > i && IsSpace(content[end - 1])) --end;
  std::size_t equals = content.substr(0, end).find('=', i);
  if (equals == kNone) {
    view.name = content.substr(i, end - i);
    view.nameEnd = end;
    return view;
  }
  view.name = Trim(content.substr(i, equals - i));
  std::size_t start = equals + 1;
  while (start < end && IsSpace(content[start])) ++start;
  view.valueStart = start;
  view.value = content.substr(start, end - start);
  return view;
}

// Writes the value so that Get reads it back as it is.
std::string EncodeValue(std::string_view value) {
  bool needsQuotes = !value.empty() && (IsSpace(value.front()) || IsSpace(value.back()) ||
                                        StripQuotes(value).size() != value.size());
  if (!needsQuotes) return std::string(value);
  return "\"" + std::string(value) + "\"";
}

bool ValidSection(std::string_view name) {
  return !name.empty() && Trim(name) == name && !HasLineBreak(name) && name.find(']') == kNone;
}

bool ValidKey(std::string_view name) {
  return !name.empty() && Trim(name) == name && !HasLineBreak(name) && name.find('=') == kNone &&
         name.front() != ';' && name.front() != '[';
}

}  // namespace

ProfileDocument::ProfileDocument(std::string_view text) {
  while (!text.empty()) {
    std::size_t newline = text.find('\n');
    if (newline == kNone) {
      lines_.push_back({std::string(text), ""});
      break;
    }
    std::string_view content = text.substr(0, newline);
    if (content.ends_with('\r')) {
      content.remove_suffix(1);
      lines_.push_back({std::string(content), "\r\n"});
    } else {
      lines_.push_back({std::string(content), "\n"});
    }
    text.remove_prefix(newline + 1);
  }
}

std::string ProfileDocument::Text() const {
  std::string text;
  for (const Line& line : lines_) {
    text += line.content;
    text += line.ending;
  }
  return text;
}

std::string ProfileDocument::NewLineEnding() const {
  for (const Line& line : lines_) {
    if (!line.ending.empty()) return line.ending;
  }
  return "\n";
}

std::optional<std::string> ProfileDocument::Get(std::string_view section,
                                                std::string_view key) const {
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    LineView view = Classify(lines_[i].content, i == 0);
    if (view.kind == LineView::kSection) {
      if (inSection) return std::nullopt;  // only the first such section counts
      inSection = SameName(view.name, section);
    } else if (inSection && view.kind == LineView::kKey && SameName(view.name, key)) {
      return std::string(StripQuotes(view.value));
    }
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> ProfileDocument::Entries(
    std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  std::unordered_set<std::string> seen;  // lower-case names; a big file stays linear
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    LineView view = Classify(lines_[i].content, i == 0);
    if (view.kind == LineView::kSection) {
      if (inSection) break;
      inSection = SameName(view.name, section);
    } else if (inSection && view.kind == LineView::kKey) {
      if (seen.insert(Fold(view.name)).second) {
        entries.emplace_back(view.name, StripQuotes(view.value));
      }
    }
  }
  return entries;
}

void ProfileDocument::RemoveKeys(std::string_view section,
                                 const std::function<bool(std::string_view)>& remove) {
  std::vector<Line> kept;
  kept.reserve(lines_.size());
  bool inSection = false;
  bool seenSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    LineView view = Classify(lines_[i].content, i == 0);
    if (view.kind == LineView::kSection) {
      inSection = !seenSection && SameName(view.name, section);
      seenSection = seenSection || inSection;
    } else if (inSection && view.kind == LineView::kKey && remove(view.name)) {
      continue;
    }
    kept.push_back(std::move(lines_[i]));
  }
  lines_ = std::move(kept);
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  return SetAll({{std::string(section), std::string(key), std::string(value)}});
}

bool ProfileDocument::SetAll(const std::vector<ProfileValue>& values) {
  // One pass over the lines whatever the number of values, so that a large
  // file with many sections or keys is still saved at once.
  struct Pending {
    const ProfileValue* names;  // the spelling of the first mention
    const std::string* value;   // the last value given
    bool done = false;
  };
  struct SectionPlace {
    std::vector<std::size_t> pending;  // indices into `pending`, in call order
    std::size_t lastKey = kNone;       // where missing keys go; kNone: section not found
  };
  std::vector<Pending> pending;
  std::vector<std::string> sectionOrder;  // folded names, in call order
  std::unordered_map<std::string, SectionPlace> sections;
  std::unordered_map<std::string, std::size_t> keys;  // folded "section\nkey"
  bool all = true;
  for (const ProfileValue& value : values) {
    if (!ValidSection(value.section) || !ValidKey(value.key) || HasLineBreak(value.value)) {
      all = false;
      continue;
    }
    std::string section = Fold(value.section);
    auto [known, isNew] = keys.emplace(section + "\n" + Fold(value.key), pending.size());
    if (!isNew) {
      pending[known->second].value = &value.value;
      continue;
    }
    if (!sections.contains(section)) sectionOrder.push_back(section);
    sections[section].pending.push_back(pending.size());
    pending.push_back({&value, &value.value});
  }
  if (pending.empty()) return all;

  const std::string ending = NewLineEnding();
  std::unordered_set<std::string> seen;
  SectionPlace* current = nullptr;  // the first section of a name we write to
  std::string currentName;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string& content = lines_[i].content;
    LineView view = Classify(content, i == 0);
    if (view.kind == LineView::kSection) {
      currentName = Fold(view.name);
      auto place = sections.find(currentName);
      current =
          (place != sections.end() && seen.insert(currentName).second) ? &place->second : nullptr;
      if (current != nullptr) current->lastKey = i;
      continue;
    }
    if (current == nullptr || view.kind != LineView::kKey) continue;
    // Blank lines and comments after a section's last key usually introduce
    // the next section, so missing keys go right after the last key line.
    current->lastKey = i;
    auto match = keys.find(currentName + "\n" + Fold(view.name));
    if (match == keys.end() || pending[match->second].done) continue;
    Pending& entry = pending[match->second];
    entry.done = true;
    const std::string& value = *entry.value;
    if (StripQuotes(view.value) == value) continue;
    if (view.valueStart != kNone) {
      content = content.substr(0, view.valueStart) + EncodeValue(value);
    } else {
      content = content.substr(0, view.nameEnd) + "=" + EncodeValue(value);
    }
  }

  auto keyLine = [&](const Pending& entry) {
    return Line{entry.names->key + "=" + EncodeValue(*entry.value), ending};
  };
  // Missing keys of sections that exist, after their section's last key.
  std::unordered_map<std::size_t, std::vector<Line>> inserts;
  for (const std::string& name : sectionOrder) {
    const SectionPlace& place = sections[name];
    if (place.lastKey == kNone) continue;
    for (std::size_t index : place.pending) {
      if (!pending[index].done) inserts[place.lastKey].push_back(keyLine(pending[index]));
    }
  }
  if (!inserts.empty()) {
    std::vector<Line> merged;
    merged.reserve(lines_.size() + pending.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      merged.push_back(std::move(lines_[i]));
      auto added = inserts.find(i);
      if (added == inserts.end()) continue;
      if (merged.back().ending.empty()) merged.back().ending = ending;
      for (Line& line : added->second) merged.push_back(std::move(line));
    }
    lines_ = std::move(merged);
  }
  // Missing sections at the end of the file, each after a blank line.
  for (const std::string& name : sectionOrder) {
    const SectionPlace& place = sections[name];
    if (place.lastKey != kNone) continue;
    if (!lines_.empty()) {
      if (lines_.back().ending.empty()) lines_.back().ending = ending;
      if (Classify(lines_.back().content, lines_.size() == 1).kind != LineView::kBlank) {
        lines_.push_back({"", ending});
      }
    }
    lines_.push_back({"[" + pending[place.pending.front()].names->section + "]", ending});
    for (std::size_t index : place.pending) lines_.push_back(keyLine(pending[index]));
  }
  return all;
}

int32_t ProfileInteger(const std::optional<std::string>& value, int32_t defaultValue) {
  if (!value) return defaultValue;
  std::string_view text = *value;
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  if (text.empty()) return defaultValue;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  uint32_t magnitude = 0;  // unsigned, so that overflow wraps by definition
  for (char c : text) {
    if (c < '0' || c > '9') break;
    magnitude = magnitude * 10u + static_cast<uint32_t>(c - '0');
  }
  if (negative) magnitude = 0u - magnitude;
  return static_cast<int32_t>(magnitude);
}

}  // namespace quorvel
