#include "link/port_target.h"

namespace quorvel {

std::optional<PortTarget> PortTarget::Parse(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (!IsNetworkPath(text)) return Device(std::string(text));
  std::optional<NetworkAddress> address = ParseNetworkAddress(text);
  if (!address) return std::nullopt;
  return PortTarget(std::string(text), std::move(address));
}

PortTarget PortTarget::Device(std::string path) {
  return PortTarget(std::move(path), std::nullopt);
}

}  // namespace quorvel
