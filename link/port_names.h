// Which device a COM number reaches. COM n is /dev/ttyS(n-1) unless an entry
// maps it elsewhere (a USB adapter, a pseudo-terminal, a socat link).
#pragma once

#include <map>
#include <string>

namespace quorvel {

class PortNames {
 public:
  // The device path for COM `number`; "" for a number no device can have (< 1).
  std::string DevicePath(int number) const;

  // Maps COM `number` to `path`; an empty path removes the entry.
  void Set(int number, const std::string& path);

  const std::map<int, std::string>& Entries() const { return entries_; }

 private:
  std::map<int, std::string> entries_;
};

}  // namespace quorvel
