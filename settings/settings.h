// The terminal's own keys in its settings file: the line settings, the
// display and send options, and the COM-number port map. Which file is the
// caller's choice: by default Quorvel.ini in the working directory (the
// overloads without a path), `--settings FILE` names another, and
// `--user-config`, which the desktop menu entry passes, keeps it in
// $XDG_CONFIG_HOME/quorvel/ (else ~/.config/quorvel/). The window reads it at
// start and writes it at every close request, on the UI thread; the other
// parts keep their sections in the same file (settings/*_settings.h,
// settings/send_store.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "link/line_settings.h"
#include "link/modem_control.h"
#include "link/port_names.h"
#include "link/port_target.h"

namespace quorvel {

inline constexpr char kSettingsFileName[] = "Quorvel.ini";
inline constexpr char kPortMapSection[] = "PortMap";
// DTR=1 and RTS=1 (active, the default) or 0 (kept inactive) after every
// open; written once a line is to be kept inactive.
inline constexpr char kLinesAtOpenSection[] = "LinesAtOpen";
// RATE=<bits per second>: a rate typed into the baud selector that its list
// does not have. While it is there it wins over BRATE, which keeps its old
// meaning (a position in the list) for every version; "0" or a value that is
// no rate stands for none. Written once a rate is typed; a file that has it
// keeps it up to date.
inline constexpr char kTypedRateSection[] = "TypedRate";
inline constexpr char kTypedRateKey[] = "RATE";

struct Settings {
  // COM1, 7200 baud, 8 data bits, 1 stop bit, even; typedBaud is [TypedRate].
  LineSelection selection{0, 6, 3, 0, 2, 0};
  int32_t hexDisplay = 0;
  int32_t sendAsHex = 0;
  int32_t timerIntervalMs = 80;
  std::string frameEndText = "00";
  uint8_t frameEndByte = 0;
  std::map<int, std::string> portMap;  // [PortMap]: COM number to device path
  LinesAtOpen linesAtOpen;             // [LinesAtOpen]
};

// Reads ./Quorvel.ini, relative to the working directory at the moment of the
// call (so its length does not matter); a missing file, section or key gives
// the defaults, and so does a file that cannot be used (a directory, an
// unreadable file, one above kMaxProfileFileSize). Nothing is reported here:
// the window chooses its file with ChooseSettingsFile first.
Settings LoadSettings();
// The same for Quorvel.ini in `directory`.
Settings LoadSettings(const std::filesystem::path& directory);

// The same for the settings file at `file` (relative: to the working
// directory at the moment of the call).
Settings LoadSettingsFile(const std::filesystem::path& file);

// Writes our keys into ./Quorvel.ini, keeping every other line as it was, and
// adds or updates a "COM<n>" key in [PortMap] for each entry of portMap
// (COM 1 to 255, non-empty paths); no other key is ever removed or renumbered.
// A failed save leaves the old file untouched and is not reported; nor is a
// file that cannot be used (see LoadSettings) ever replaced.
void SaveSettings(const Settings& settings);
// The same for Quorvel.ini in `directory`; returns whether the file now holds
// the settings.
bool SaveSettings(const Settings& settings, const std::filesystem::path& directory);
// The same for the settings file at `file`.
bool SaveSettingsFile(const Settings& settings, const std::filesystem::path& file);

// "COM<number>", the [PortMap] key for a COM number.
std::string PortMapKey(int number);
// The COM number (1 to 255) a [PortMap] key names, case-insensitively and
// without leading zeros; 0 for any other key.
int PortMapNumber(std::string_view key);

// Gives each serial device of this machine that no entry of `portMap` names
// yet the lowest COM number that no entry uses and whose default device
// /dev/ttyS(n-1) has no UART behind it (<ttyClassRoot>/ttyS(n-1)/type is 0 or
// missing), and adds it to `portMap` as the <devRoot>/serial/by-id link that
// leads to it where there is one, otherwise as <devRoot>/<name>. The devices are the
// entries of `ttyClassRoot` backed by hardware (with a "device" link) and
// present in `devRoot`, except virtual consoles and the ttyS<n> devices, which
// COM n+1 reaches anyway; they are taken in name order (ttyACM0, ttyUSB0,
// ttyUSB2, ttyUSB10). An entry names a device by the same path or by a path
// to the same node (a /dev/serial/by-id link). Existing entries never change.
// Returns the new entries. Call it after LoadSettings, so that SaveSettings
// makes the numbers stick across runs.
std::map<int, std::string> AssignDetectedPorts(
    std::map<int, std::string>& portMap,
    const std::filesystem::path& ttyClassRoot = "/sys/class/tty",
    const std::filesystem::path& devRoot = "/dev");

// The COM number a port asked for by where it leads gets (the command line,
// a network port added by the user, the demo device).
struct PortNumberGrant {
  int number = 0;       // 1 to kPortCount; 0 when none could be given
  std::string refusal;  // why not, when number is 0
};
// The number of the entry of `names` that leads to the same place as
// `target` (the same path or the same node; the same network address), or
// else the number a newly detected adapter would get (see
// AssignDetectedPorts), which `names` then maps to `target` as written.
PortNumberGrant GrantPortNumber(PortNames& names, const PortTarget& target,
                                const std::filesystem::path& ttyClassRoot = "/sys/class/tty");

}  // namespace quorvel
