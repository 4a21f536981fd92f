// Where a port leads: a terminal device of this machine, by its path, or a
// serial port served over the network, by its address. Made once from what
// the user or the settings file wrote (the command line, [PortMap], a newly
// plugged adapter) and carried as it is to every open and reopen; nothing
// downstream reads the text again. The text stays as written, so that an
// entry saved back to [PortMap] is unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/network_address.h"

namespace quorvel {

class PortTarget {
 public:
  // What `text` names: a network address when it starts with a network
  // scheme (rfc2217://, tcp://), else a device path. nullopt for an empty
  // text, or a network text that names no host and port.
  static std::optional<PortTarget> Parse(std::string_view text);
  // The device at `path` (not empty), whatever the path looks like.
  static PortTarget Device(std::string path);

  bool IsNetwork() const { return address_.has_value(); }
  // The address of a network port; only when IsNetwork().
  const NetworkAddress& Address() const { return *address_; }
  // The device path, or the network text, as written.
  const std::string& Text() const { return text_; }

  bool operator==(const PortTarget&) const = default;

 private:
  PortTarget(std::string text, std::optional<NetworkAddress> address)
      : text_(std::move(text)), address_(std::move(address)) {}

  std::string text_;
  std::optional<NetworkAddress> address_;
};

}  // namespace quorvel
