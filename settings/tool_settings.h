// The file send's and the log's choices in the settings file (the one the
// terminal keeps its other settings in), each in a section
// of its own so that the terminal's own keys stay as they are:
//   [FileSend]  LineDelayMs, ByteDelayMs, Directory
//   [Logging]   Format (raw, text or hex), IncludeSent (0 or 1), Directory
// A missing or bad value reads as its default; saving writes only these keys
// and keeps every other line. UI thread.
#pragma once

#include <filesystem>
#include <string>

#include "engine/send_writer.h"
#include "logging/log_format.h"

namespace quorvel {

inline constexpr int kMaxPacingDelayMs = 60'000;

struct FileSendSettings {
  FilePacing pacing;
  std::string directory;  // where the chooser opens; "" for the working directory
};

struct LogSettings {
  LogFormat format = LogFormat::kText;
  bool includeSent = false;
  std::string directory;
};

FileSendSettings LoadFileSendSettings(const std::filesystem::path& file);
bool SaveFileSendSettings(const FileSendSettings& settings, const std::filesystem::path& file);

LogSettings LoadLogSettings(const std::filesystem::path& file);
bool SaveLogSettings(const LogSettings& settings, const std::filesystem::path& file);

// The stored name of a format, and back ("" and unknown names give text).
const char* LogFormatName(LogFormat format);
LogFormat LogFormatNamed(const std::string& name);

}  // namespace quorvel
