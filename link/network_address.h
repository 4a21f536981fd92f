// The port paths that name a serial port served over the network, as
// ser2net and console servers serve them:
//   rfc2217://HOST:PORT   telnet with the COM-PORT-OPTION (RFC 2217)
//   tcp://HOST:PORT       the raw bytes, nothing else
// HOST is a name, an IPv4 address or an IPv6 address in brackets
// ([::1]); PORT a number from 1 to 65535 or a service name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

enum class NetworkKind { kRfc2217, kTcp };

struct NetworkAddress {
  NetworkKind kind = NetworkKind::kTcp;
  std::string host;  // without brackets
  std::string port;
  bool operator==(const NetworkAddress&) const = default;
};

// Whether `path` starts with one of the network schemes (case-insensitively).
bool IsNetworkPath(std::string_view path);
// The address `path` names; nullopt for a path that is no network path or
// names no host or port.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view path);
// "rfc2217" or "tcp".
const char* NetworkKindName(NetworkKind kind);

}  // namespace quorvel
