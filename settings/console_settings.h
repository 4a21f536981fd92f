// The console's choices in the settings file, in a section of its own:
//   [Console]  Shown (0 or 1: the console shows in the receive area),
//              Enter (cr, lf or crlf), Backspace (del or bs),
//              Encoding (utf8 or latin1: both directions), LocalEcho (0 or 1),
//              InputCr, InputLf, InputErase (the maps of what is typed and
//              pasted), OutputCr, OutputLf, OutputErase (of what the device
//              sends): keep, lf/cr, crlf, drop; keep, bs-del, del-bs, swap
//              (console/line_maps.h),
//              Scrollback (rows kept, 1000 to 1000000)
// A missing section is the console off with the defaults (Enter as CR,
// Backspace as DEL, UTF-8, no echo, no maps, 100,000 rows). A missing or bad
// value reads as its default; saving writes only these keys and keeps every
// other line. UI thread.
#pragma once

#include <cstddef>
#include <filesystem>

#include "console/console.h"

namespace quorvel {

inline constexpr size_t kMinConsoleScrollback = 1000;
inline constexpr size_t kMaxConsoleScrollback = 1'000'000;

struct ConsoleSettings {
  bool shown = false;
  ConsoleOptions options;
  bool operator==(const ConsoleSettings&) const = default;
};

ConsoleSettings LoadConsoleSettings(const std::filesystem::path& file);
bool SaveConsoleSettings(const ConsoleSettings& settings, const std::filesystem::path& file);

}  // namespace quorvel
