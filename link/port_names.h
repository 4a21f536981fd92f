// Which port a COM number reaches. COM n is /dev/ttyS(n-1) unless an entry
// maps it elsewhere (a USB adapter, a pseudo-terminal, a socat link, a port
// served over the network). Each entry is read into a PortTarget once, when
// it is set; the text stays as written for the settings file.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "core/port.h"
#include "link/port_target.h"

namespace quorvel {

class PortNames {
 public:
  // Where COM `number` leads; nullopt for a number no port can have (< 1)
  // and for an entry that names no port (a network text without a host or
  // a port).
  std::optional<PortTarget> Target(int number) const;
  // Why COM `number` leads nowhere, as an open of it fails: ENOENT for a
  // number below 1, a failed connection (EINVAL) for an entry that names no
  // port.
  PortFailure WhyNoTarget(int number) const;
  // The text of COM `number`: its entry as written, else its default device
  // path; "" for a number below 1.
  std::string DevicePath(int number) const;

  // Maps COM `number` to `text`; an empty text removes the entry.
  void Set(int number, const std::string& text);
  void Set(int number, const PortTarget& target);

  // The entries as written, for [PortMap].
  const std::map<int, std::string>& Entries() const { return entries_; }

 private:
  std::map<int, std::string> entries_;
  std::map<int, PortTarget> targets_;  // of the entries that name a port
};

}  // namespace quorvel
