#include "settings/tool_settings.h"

#include <algorithm>
#include <optional>

#include "settings/profile_file.h"
#include "settings/settings.h"

namespace quorvel {
namespace {

constexpr char kFileSendSection[] = "FileSend";
constexpr char kLogSection[] = "Logging";

constexpr struct {
  LogFormat format;
  const char* name;
} kFormatNames[] = {
    {LogFormat::kRaw, "raw"},
    {LogFormat::kText, "text"},
    {LogFormat::kHex, "hex"},
};

ProfileDocument ReadToolDocument(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  return ProfileDocument(text);
}

int DelayFrom(const ProfileDocument& document, const char* key) {
  return std::clamp(ProfileInteger(document.Get(kFileSendSection, key), 0), 0, kMaxPacingDelayMs);
}

bool Save(const std::filesystem::path& file, const std::vector<ProfileValue>& values) {
  return EditProfileFile(file, [&](ProfileDocument& document) {
    // A directory no profile line can hold is left out.
    document.SetAll(values);
    return true;
  });
}

}  // namespace

const char* LogFormatName(LogFormat format) {
  for (const auto& entry : kFormatNames) {
    if (entry.format == format) return entry.name;
  }
  return "text";
}

LogFormat LogFormatNamed(const std::string& name) {
  for (const auto& entry : kFormatNames) {
    if (name == entry.name) return entry.format;
  }
  return LogFormat::kText;
}

FileSendSettings LoadFileSendSettings(const std::filesystem::path& file) {
  ProfileDocument document = ReadToolDocument(file);
  FileSendSettings settings;
  settings.pacing.lineDelayMs = DelayFrom(document, "LineDelayMs");
  settings.pacing.byteDelayMs = DelayFrom(document, "ByteDelayMs");
  settings.directory = document.Get(kFileSendSection, "Directory").value_or("");
  return settings;
}

bool SaveFileSendSettings(const FileSendSettings& settings, const std::filesystem::path& file) {
  return Save(file, {{kFileSendSection, "LineDelayMs", std::to_string(settings.pacing.lineDelayMs)},
                     {kFileSendSection, "ByteDelayMs", std::to_string(settings.pacing.byteDelayMs)},
                     {kFileSendSection, "Directory", settings.directory}});
}

LogSettings LoadLogSettings(const std::filesystem::path& file) {
  ProfileDocument document = ReadToolDocument(file);
  LogSettings settings;
  settings.format = LogFormatNamed(document.Get(kLogSection, "Format").value_or(""));
  settings.includeSent = ProfileInteger(document.Get(kLogSection, "IncludeSent"), 0) != 0;
  settings.directory = document.Get(kLogSection, "Directory").value_or("");
  return settings;
}

bool SaveLogSettings(const LogSettings& settings, const std::filesystem::path& file) {
  return Save(file, {{kLogSection, "Format", LogFormatName(settings.format)},
                     {kLogSection, "IncludeSent", settings.includeSent ? "1" : "0"},
                     {kLogSection, "Directory", settings.directory}});
}

}  // namespace quorvel
