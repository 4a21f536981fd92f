#include "ui/startup_options.h"

namespace quorvel {

std::string ApplyStartupOptions(const StartupOptions& options, PortNames& names,
                                LineSelection& selection) {
  std::string refusal;
  if (options.comNumber != 0) {
    selection.portPos = options.comNumber - 1;
  } else if (options.device) {
    PortNumberGrant grant = GrantPortNumber(names, *options.device);
    if (grant.number != 0) selection.portPos = grant.number - 1;
    refusal = grant.refusal;
  }
  if (options.typedBaud != 0) {
    selection.typedBaud = options.typedBaud;
  } else if (options.baudPos >= 0) {
    selection.baudPos = options.baudPos;
    selection.typedBaud = 0;
  }
  return refusal;
}

}  // namespace quorvel
