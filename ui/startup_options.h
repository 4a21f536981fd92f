// What the command line asks of the window at start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "link/line_settings.h"

#include "settings/settings.h"

namespace quorvel {

struct StartupOptions {
  // The settings file; a relative path is taken in the working directory.
  std::filesystem::path settingsFile = kSettingsFileName;
  // The port to select and open instead of the stored one: an absolute device
  // path or "COM<n>"; empty for the stored one.
  std::string device;
  // The baud-rate selector's position instead of the stored one; -1 for the
  // stored one.
  int baudPos = -1;
  // A rate the list does not have; 0 for none. Wins over baudPos.
  uint32_t typedBaud = 0;
  // A demo device played inside the program, selected and opened instead of
  // the stored port for this run only (see DemoSession).
  bool demo = false;
};

// Puts the device and baud rate asked for into the stored selection: a
// device named by path gets its COM number from `portMap` (see
// PortNumberForDevice), which may add it there.
void ApplyStartupOptions(const StartupOptions& options, std::map<int, std::string>& portMap,
                         LineSelection& selection);

}  // namespace quorvel
