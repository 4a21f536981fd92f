#include "ui/startup_options.h"

namespace quorvel {

void ApplyStartupOptions(const StartupOptions& options, std::map<int, std::string>& portMap,
                         LineSelection& selection) {
  if (!options.device.empty()) {
    int number = PortMapNumber(options.device);
    if (number == 0) number = PortNumberForDevice(portMap, options.device);
    // With every number taken the stored port stays selected.
    if (number != 0) selection.portPos = number - 1;
  }
  if (options.typedBaud != 0) {
    selection.typedBaud = options.typedBaud;
  } else if (options.baudPos >= 0) {
    selection.baudPos = options.baudPos;
    selection.typedBaud = 0;
  }
}

}  // namespace quorvel
