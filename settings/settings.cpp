#include "settings/settings.h"

#include <algorithm>
#include <cstdio>

#include "sending/hex.h"
#include "settings/profile_file.h"

namespace quorvel {
namespace {

enum class ValueKind {
  kInteger,   // "%d"
  kFlag,      // "1" when non-zero, "0" otherwise
  kFrameEnd,  // read as text of at most kFrameEndLength; written as "%.2x" of the byte
};

constexpr std::size_t kFrameEndLength = 2;

struct SettingKey {
  const char* section;
  const char* key;
  const char* defaultValue;
  ValueKind kind;
  int32_t& (*field)(Settings&);  // null for the frame end, which has two members
};

// Read and written in this order.
constexpr SettingKey kSettingKeys[] = {
    {"COMConfig", "COM", "0", ValueKind::kInteger,
     [](Settings& s) -> int32_t& { return s.selection.portPos; }},
    {"COMConfig", "BRATE", "6", ValueKind::kInteger,  // 7200 baud, not 9600
     [](Settings& s) -> int32_t& { return s.selection.baudPos; }},
    {"COMConfig", "BYTESIZE", "3", ValueKind::kInteger,
     [](Settings& s) -> int32_t& { return s.selection.dataBitsPos; }},
    {"COMConfig", "STOPBITS", "0", ValueKind::kInteger,
     [](Settings& s) -> int32_t& { return s.selection.stopBitsPos; }},
    {"COMConfig", "PARITY", "2", ValueKind::kInteger,
     [](Settings& s) -> int32_t& { return s.selection.parityPos; }},
    {"COMConfig", "FLOWCONTROL", "0", ValueKind::kInteger,
     [](Settings& s) -> int32_t& { return s.selection.flowPos; }},
    {"RecvConfig", "RECVHEX", "0", ValueKind::kFlag,
     [](Settings& s) -> int32_t& { return s.hexDisplay; }},
    {"SendConfig", "SENDHEX", "0", ValueKind::kFlag,
     [](Settings& s) -> int32_t& { return s.sendAsHex; }},
    {"SendConfig", "TIMEGAP", "80", ValueKind::kInteger,
     [](Settings& s) -> int32_t& { return s.timerIntervalMs; }},
    {"SendConfig", "FRAMEEND", "00", ValueKind::kFrameEnd, nullptr},
};

struct LineKey {
  const char* key;
  bool LinesAtOpen::*active;
};
constexpr LineKey kLineKeys[] = {{"DTR", &LinesAtOpen::dtrActive},
                                 {"RTS", &LinesAtOpen::rtsActive}};

std::filesystem::path FileIn(const std::filesystem::path& directory) {
  return directory / kSettingsFileName;
}

std::string ValueToWrite(const SettingKey& entry, Settings& settings) {
  char text[16];
  switch (entry.kind) {
    case ValueKind::kInteger:
      std::snprintf(text, sizeof text, "%d", static_cast<int>(entry.field(settings)));
      break;
    case ValueKind::kFlag:
      return entry.field(settings) != 0 ? "1" : "0";
    case ValueKind::kFrameEnd:
      // The byte the terminal really used, not the text the user typed.
      std::snprintf(text, sizeof text, "%.2x", static_cast<unsigned>(settings.frameEndByte));
      break;
  }
  return text;
}

}  // namespace

std::string PortMapKey(int number) {
  return "COM" + std::to_string(number);
}

int PortMapNumber(std::string_view key) {
  if (key.size() < 4 || key.size() > 6) return 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if ((key[i] | 0x20) != "com"[i]) return 0;
  }
  if (key[3] == '0') return 0;
  int number = 0;
  for (char c : key.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number <= kPortCount ? number : 0;
}

Settings LoadSettings() {
  return LoadSettings(".");
}

Settings LoadSettings(const std::filesystem::path& directory) {
  return LoadSettingsFile(FileIn(directory));
}

Settings LoadSettingsFile(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);  // an unusable file reads as empty
  ProfileDocument document(text);
  Settings settings;
  for (const SettingKey& entry : kSettingKeys) {
    std::optional<std::string> value = document.Get(entry.section, entry.key);
    if (entry.kind == ValueKind::kFrameEnd) {
      std::string frameEnd = value.value_or(entry.defaultValue);
      frameEnd.resize(std::min(frameEnd.size(), kFrameEndLength));
      settings.frameEndByte = FrameEndByteOf(frameEnd);
      settings.frameEndText = std::move(frameEnd);
    } else {
      entry.field(settings) = ProfileInteger(value, ProfileInteger(entry.defaultValue, 0));
    }
  }
  for (const LineKey& line : kLineKeys) {
    settings.linesAtOpen.*line.active =
        ProfileInteger(document.Get(kLinesAtOpenSection, line.key), 1) != 0;
  }
  if (std::optional<std::string> rate = document.Get(kTypedRateSection, kTypedRateKey)) {
    settings.selection.typedBaud = ParseBaudRate(*rate).value_or(0);
  }
  for (const auto& [key, path] : document.Entries(kPortMapSection)) {
    int number = PortMapNumber(key);
    if (number != 0 && !path.empty()) settings.portMap.emplace(number, path);
  }
  return settings;
}

void SaveSettings(const Settings& settings) {
  SaveSettings(settings, ".");
}

bool SaveSettings(const Settings& settings, const std::filesystem::path& directory) {
  return SaveSettingsFile(settings, FileIn(directory));
}

bool SaveSettingsFile(const Settings& settings, const std::filesystem::path& file) {
  std::vector<ProfileValue> values;
  Settings copy = settings;
  for (const SettingKey& entry : kSettingKeys) {
    values.push_back({entry.section, entry.key, ValueToWrite(entry, copy)});
  }
  for (const auto& [number, path] : settings.portMap) {
    if (number >= 1 && number <= kPortCount && !path.empty()) {
      values.push_back({kPortMapSection, PortMapKey(number), path});
    }
  }
  return EditProfileFile(file, [&](ProfileDocument& document) {
    // The section appears once the user chooses other than the kernel's own
    // behaviour; a file that has it keeps it up to date.
    if (settings.linesAtOpen != LinesAtOpen{} || !document.Entries(kLinesAtOpenSection).empty()) {
      for (const LineKey& line : kLineKeys) {
        values.push_back(
            {kLinesAtOpenSection, line.key, settings.linesAtOpen.*line.active ? "1" : "0"});
      }
    }
    if (settings.selection.typedBaud != 0 ||
        document.Get(kTypedRateSection, kTypedRateKey).has_value()) {
      values.push_back(
          {kTypedRateSection, kTypedRateKey, std::to_string(settings.selection.typedBaud)});
    }
    // A path that no profile line can hold (a line break) is left out.
    document.SetAll(values);
    return true;
  });
}

}  // namespace quorvel
