#include "link/network_address.h"

#include <algorithm>
#include <cctype>

namespace quorvel {
namespace {

struct Scheme {
  const char* prefix;
  NetworkKind kind;
};
constexpr Scheme kSchemes[] = {{"rfc2217://", NetworkKind::kRfc2217},
                               {"tcp://", NetworkKind::kTcp}};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool Printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7f;
  });
}

}  // namespace

bool IsNetworkPath(std::string_view path) {
  return std::any_of(std::begin(kSchemes), std::end(kSchemes),
                     [&](const Scheme& scheme) { return StartsWithNoCase(path, scheme.prefix); });
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view path) {
  for (const Scheme& scheme : kSchemes) {
    if (!StartsWithNoCase(path, scheme.prefix)) continue;
    std::string_view rest = path.substr(std::string_view(scheme.prefix).size());
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (!Printable(rest)) return std::nullopt;
    NetworkAddress address;
    address.kind = scheme.kind;
    size_t colon;
    if (rest.starts_with('[')) {
      size_t close = rest.find(']');
      if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
        return std::nullopt;
      }
      address.host = std::string(rest.substr(1, close - 1));
      colon = close + 1;
    } else {
      colon = rest.rfind(':');
      if (colon == std::string_view::npos) return std::nullopt;
      address.host = std::string(rest.substr(0, colon));
      if (address.host.find(':') != std::string::npos) return std::nullopt;  // IPv6: brackets
    }
    address.port = std::string(rest.substr(colon + 1));
    if (address.host.empty() || address.port.empty() ||
        address.port.find_first_of("/[]@") != std::string::npos) {
      return std::nullopt;
    }
    if (std::all_of(address.port.begin(), address.port.end(), ::isdigit)) {
      if (address.port.size() > 5 || std::stoi(address.port) < 1 ||
          std::stoi(address.port) > 65535) {
        return std::nullopt;
      }
    }
    return address;
  }
  return std::nullopt;
}

const char* NetworkKindName(NetworkKind kind) {
  return kind == NetworkKind::kRfc2217 ? "rfc2217" : "tcp";
}

}  // namespace quorvel
