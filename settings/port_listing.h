// The port list as text, for `quorvel --list`: what the window's port
// selector shows, for a console and for scripts. One line per port, three
// fields separated by a tab:
//   COM5<TAB>/dev/serial/by-id/usb-FTDI_...<TAB>/dev/ttyUSB0   FT232R USB UART · FTDI · ...
//   COM7<TAB>rfc2217://lab:2217<TAB>rfc2217://lab:2217   network
//   COM9<TAB>/dev/ttyUSB3<TAB>absent
// the COM number, the path it reaches (what [PortMap] names, else
// /dev/ttyS<n-1>) and the selector's line for it, or "absent". The ports are
// those the selector draws as present and those [PortMap] maps, in number
// order. Reads sysfs and /dev; any thread.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "link/device_description.h"

namespace quorvel {

// The list for `portMap` with the adapters present now added as the window
// adds them at start (AssignDetectedPorts; nothing is written). "" when no
// port is present or mapped.
std::string PortListingText(std::map<int, std::string> portMap, const DeviceRoots& roots = {});

// The same for the settings file `file` (kept as the window keeps it: one it
// cannot use is left for "<file>.new" beside it). `note` gets a sentence for
// the user when the file cannot be used, "" when it can.
std::string PortListingOfFile(const std::filesystem::path& file, std::string& note);

}  // namespace quorvel
