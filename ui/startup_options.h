// What the command line asks of the window at start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "link/line_settings.h"
#include "link/port_names.h"
#include "link/port_target.h"
#include "pairing/link_pair.h"
#include "settings/settings.h"

namespace quorvel {

struct StartupOptions {
  // The settings file; a relative path is taken in the working directory.
  std::filesystem::path settingsFile = kSettingsFileName;
  // The port to select and open instead of the stored one: COM `comNumber`
  // (1 to 255), or where `device` leads (an absolute device path or a
  // network address), which gets its COM number from the port map. Neither:
  // the stored one.
  int comNumber = 0;
  std::optional<PortTarget> device;
  // The baud-rate selector's position instead of the stored one; -1 for the
  // stored one.
  int baudPos = -1;
  // A rate the list does not have; 0 for none. Wins over baudPos.
  uint32_t typedBaud = 0;
  // A demo device played inside the program, selected and opened instead of
  // the stored port for this run only (see DemoSession).
  bool demo = false;

  // --monitor A B or --bridge A B: the window starts into the link; its
  // first port stays closed then (it may be one of A and B), "Open com"
  // opens it.
  struct LinkStart {
    PairMode mode = PairMode::kMonitor;
    std::string a;       // as DEVICE is given: a COM name, an absolute path, a
    std::string b;       // network address
    uint32_t baudA = 0;  // 0: [Pair]'s rate for the side
    uint32_t baudB = 0;
  };
  std::optional<LinkStart> link;
};

// Puts the port and baud rate asked for into the stored selection: a port
// named by where it leads gets its COM number from `names` (see
// GrantPortNumber), which may add it there. Returns why the port asked for
// could not be selected (every number taken: the stored one stays
// selected); "" otherwise.
std::string ApplyStartupOptions(const StartupOptions& options, PortNames& names,
                                LineSelection& selection);

}  // namespace quorvel
