#include "settings/settings_file_choice.h"

#include "settings/profile_file.h"

namespace quorvel {
namespace {

// "100,000": the digits in groups of three.
std::string Grouped(std::size_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// The file's full path, for a message: the user looks for it by that.
std::string Shown(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::path full = std::filesystem::absolute(path, ignored);
  return (full.empty() ? path : full).string();
}

// Why `status` keeps the file at `path` from use; "" when nothing does.
std::string Why(ProfileFileStatus status, const std::filesystem::path& path) {
  switch (status) {
    case ProfileFileStatus::kTooLarge:
      return Shown(path) + " is larger than " + ProfileLimitText();
    case ProfileFileStatus::kUnusable:
      return Shown(path) + " cannot be read (it is no regular file, or not readable)";
    case ProfileFileStatus::kRead:
    case ProfileFileStatus::kMissing:
      break;
  }
  return "";
}

}  // namespace

std::string ProfileLimitText() {
  return std::to_string(kMaxProfileFileSize >> 20) + " MiB or " + Grouped(kMaxProfileLines) +
         " lines";
}

SettingsFileChoice ChooseSettingsFile(const std::filesystem::path& named) {
  std::string text;
  std::string why = Why(ReadProfileFile(named, text), named);
  if (why.empty()) return {named, ""};
  std::filesystem::path instead = named;
  instead += ".new";
  std::string problem = why + ", so its settings were not read and it is left as it is. ";
  std::string insteadWhy = Why(ReadProfileFile(instead, text), instead);
  if (insteadWhy.empty()) {
    problem += "This session's settings are read from and saved to " + Shown(instead) + ".";
  } else {
    problem += insteadWhy + " too, so this session's settings cannot be saved.";
  }
  return {instead, problem};
}

}  // namespace quorvel
