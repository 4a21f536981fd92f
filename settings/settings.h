// The settings file Quorvel.ini in the current working directory: the line
// settings, the display and send options, and the COM-number port map.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "link/line_settings.h"

namespace quorvel {

struct Settings {
  LineSelection selection{0, 6, 3, 0, 2, 0};  // COM1, 7200 baud, 8 data bits, 1 stop bit, even
  int32_t hexDisplay = 0;
  int32_t sendAsHex = 0;
  int32_t timerIntervalMs = 80;
  std::string frameEndText = "00";
  uint8_t frameEndByte = 0;
  std::map<int, std::string> portMap;  // [PortMap]: COM number to device path
};

// Reads ./Quorvel.ini; a missing file, section or key gives the defaults.
Settings LoadSettings();

// Writes our keys into ./Quorvel.ini, keeping every other line as it was.
// A failed save leaves the old file untouched and is not reported.
void SaveSettings(const Settings& settings);

}  // namespace quorvel
