// The session view's choices in the settings file, in a section of their
// own so the terminal's own keys stay as they are:
//   [View]  SessionView (0 or 1), Stamps (none, time, open or delta),
//           ShowTx (0 or 1), SilenceMs (0 = off), Encoding (latin1 or utf8),
//           ControlSymbols (0 or 1), HideAnsi (0 or 1), Check (a checksum
//           key, e.g. modbus-crc16; none), HistoryMiB (1 to 1024),
//           ZmodemAutoStart (0 or 1: a device's ZMODEM send starts a receive)
// A missing section leaves the view off, so a stored file keeps the window it
// had. A missing or bad value reads as its default; saving writes only these
// keys and keeps every other line. UI thread.
#pragma once

#include <cstdint>
#include <filesystem>

#include "sending/checksum.h"

namespace quorvel {

enum class StampKind : int {
  kNone,
  kTimeOfDay,      // hh:mm:ss.mmm
  kSinceOpen,      // s.mmm since the link opened
  kSincePrevious,  // +ms since the previous line
};

enum class DisplayEncoding : int { kLatin1, kUtf8 };

inline constexpr int kMinHistoryMiB = 1;
inline constexpr int kMaxHistoryMiB = 1024;
inline constexpr int kMaxSilenceMs = 60'000;

struct ViewSettings {
  bool sessionView = false;
  StampKind stamps = StampKind::kTimeOfDay;
  bool showTx = true;
  int silenceMs = 0;
  DisplayEncoding encoding = DisplayEncoding::kLatin1;
  bool controlSymbols = false;
  bool hideAnsi = false;
  ChecksumKind check = ChecksumKind::kNone;
  int historyMiB = 64;
  bool zmodemAutoStart = false;

  bool operator==(const ViewSettings&) const = default;
};

ViewSettings LoadViewSettings(const std::filesystem::path& file);
bool SaveViewSettings(const ViewSettings& settings, const std::filesystem::path& file);

}  // namespace quorvel
