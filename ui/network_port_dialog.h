// "Add network port…": the host, the port number and the protocol of a
// serial port served over the network (ser2net, a console server). A host
// that is no name or address, or a port number outside 1 to 65535, is
// refused in the dialog with a line that says why, and the dialog stays open
// for a correction. Modal, UI thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/network_address.h"

class QWidget;

namespace quorvel {

// Why `host` and `port` (as typed, spaces around them ignored) cannot make
// an address; "" when they can. A host is a name (letters, digits and
// hyphens in dot-separated labels), an IPv4 address, or an IPv6 address,
// with or without brackets; a port is a number from 1 to 65535.
std::string NetworkPortProblem(std::string_view host, std::string_view port);

// The address as a port path: "rfc2217://lab-pi:7001", "tcp://[::1]:4001".
std::string NetworkPortPath(const NetworkAddress& address);

// Asks for a network port; nullopt when cancelled. What it gives has passed
// NetworkPortProblem, the host without brackets.
std::optional<NetworkAddress> AskNetworkPort(QWidget* parent);

}  // namespace quorvel
