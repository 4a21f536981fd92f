#include "link/port_names.h"

#include <cerrno>

namespace quorvel {
namespace {

// Where COM n leads without an entry.
std::string DefaultPath(int number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace

std::optional<PortTarget> PortNames::Target(int number) const {
  if (number < 1) return std::nullopt;
  if (auto target = targets_.find(number); target != targets_.end()) return target->second;
  if (entries_.contains(number)) return std::nullopt;
  return PortTarget::Device(DefaultPath(number));
}

PortFailure PortNames::WhyNoTarget(int number) const {
  // An entry that leads nowhere is a network text without a host or a port:
  // no connection can be made to it.
  if (number >= 1 && entries_.contains(number)) return {PortFailure::Step::kConnect, EINVAL, {}};
  return {PortFailure::Step::kOpen, ENOENT, {}};
}

std::string PortNames::DevicePath(int number) const {
  if (number < 1) return "";
  if (auto entry = entries_.find(number); entry != entries_.end()) return entry->second;
  return DefaultPath(number);
}

void PortNames::Set(int number, const std::string& text) {
  entries_.erase(number);
  targets_.erase(number);
  if (text.empty()) return;
  entries_[number] = text;
  if (std::optional<PortTarget> target = PortTarget::Parse(text)) targets_.emplace(number, *target);
}

void PortNames::Set(int number, const PortTarget& target) {
  entries_[number] = target.Text();
  targets_.insert_or_assign(number, target);
}

}  // namespace quorvel
