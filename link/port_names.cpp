#include "link/port_names.h"

namespace quorvel {

std::string PortNames::DevicePath(int number) const {
  if (number < 1) return "";
  if (auto entry = entries_.find(number); entry != entries_.end()) return entry->second;
  return "/dev/ttyS" + std::to_string(number - 1);
}

void PortNames::Set(int number, const std::string& path) {
  if (path.empty()) {
    entries_.erase(number);
  } else {
    entries_[number] = path;
  }
}

}  // namespace quorvel
