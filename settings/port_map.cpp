// COM numbers for the serial devices a Linux machine really has, handed out the
// way a desktop system with COM ports would: sticky, lowest free first.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "link/device_description.h"
#include "settings/profile_file.h"
#include "settings/settings.h"

namespace quorvel {
namespace {

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool Exists(const std::filesystem::path& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// Virtual consoles (tty, tty0..tty63, console) have no COM number; nor have
// the ttyS<n>, which COM n+1 reaches without an entry.
bool IsCandidateName(std::string_view name) {
  if (name.empty() || name.front() == '.') return false;
  if (name == "tty" || name == "console" || name == "ptmx") return false;
  if (name.starts_with("tty") && AllDigits(name.substr(3))) return false;
  if (name.starts_with("ttyS") && AllDigits(name.substr(4))) return false;
  // A name a profile line cannot hold could never be saved.
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// Orders ttyUSB2 before ttyUSB10: the name without its trailing digits, then
// their value.
bool NameOrder(const std::string& a, const std::string& b) {
  auto split = [](const std::string& name) {
    std::size_t digits = name.find_last_not_of("0123456789") + 1;
    std::string_view number = std::string_view(name).substr(digits);
    std::size_t start = number.find_first_not_of('0');
    number = start == std::string_view::npos ? std::string_view() : number.substr(start);
    return std::make_tuple(std::string_view(name).substr(0, digits), number.size(), number,
                           std::string_view(name));
  };
  return split(a) < split(b);
}

std::vector<std::string> SerialDeviceNames(const std::filesystem::path& ttyClassRoot,
                                           const std::filesystem::path& devRoot) {
  std::vector<std::string> names;
  DIR* directory = ::opendir(ttyClassRoot.c_str());
  if (directory == nullptr) return names;
  while (dirent* entry = ::readdir(directory)) {
    std::string name = entry->d_name;
    if (!IsCandidateName(name)) continue;
    // Only a tty backed by hardware has a "device" link in sysfs.
    if (!Exists(ttyClassRoot / name / "device")) continue;
    if (!Exists(devRoot / name)) continue;
    names.push_back(std::move(name));
  }
  ::closedir(directory);
  std::sort(names.begin(), names.end(), NameOrder);
  return names;
}

// Whether /dev/ttyS(number-1) has a UART behind it.
bool DefaultHasUart(const std::filesystem::path& ttyClassRoot, int number) {
  return HasUart(ttyClassRoot, "ttyS" + std::to_string(number - 1));
}

using NodeId = std::pair<dev_t, ino_t>;

bool NodeOf(const std::string& path, NodeId& id) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  id = {info.st_dev, info.st_ino};
  return true;
}

// Whether two targets lead to one port: the same network address, or the
// same device path or a path to the same node.
bool LeadsToTheSamePlace(const PortTarget& a, const PortTarget& b) {
  if (a.IsNetwork() || b.IsNetwork()) {
    return a.IsNetwork() && b.IsNetwork() && a.Address() == b.Address();
  }
  NodeId first, second;
  return a.Text() == b.Text() ||
         (NodeOf(a.Text(), first) && NodeOf(b.Text(), second) && first == second);
}

// The lowest COM number from `next` on that no entry uses and whose ttyS has
// no UART behind it; beyond kPortCount when there is none.
int LowestFreeNumber(const std::map<int, std::string>& portMap,
                     const std::filesystem::path& ttyClassRoot, int next) {
  while (next <= kPortCount && (portMap.contains(next) || DefaultHasUart(ttyClassRoot, next))) {
    ++next;
  }
  return next;
}

}  // namespace

std::map<int, std::string> AssignDetectedPorts(std::map<int, std::string>& portMap,
                                               const std::filesystem::path& ttyClassRoot,
                                               const std::filesystem::path& devRoot) {
  std::set<std::string> namedPaths;
  std::set<NodeId> namedNodes;
  for (const auto& [number, path] : portMap) {
    namedPaths.insert(path);
    if (NodeId id; NodeOf(path, id)) namedNodes.insert(id);
  }

  std::map<int, std::string> added;
  int next = 1;
  for (const std::string& name : SerialDeviceNames(ttyClassRoot, devRoot)) {
    std::string path = (devRoot / name).string();
    NodeId id;
    if (namedPaths.contains(path) || (NodeOf(path, id) && namedNodes.contains(id))) continue;
    next = LowestFreeNumber(portMap, ttyClassRoot, next);
    if (next > kPortCount) break;
    // A by-id link holds the adapter's serial number, so the entry follows
    // the adapter, not the name the kernel gave it this time.
    std::string byId = ByIdPath(path, devRoot / "serial" / "by-id");
    std::string entry = byId.empty() ? path : byId;
    portMap.emplace(next, entry);
    added.emplace(next, entry);
    namedPaths.insert(path);
    ++next;
  }
  return added;
}

PortNumberGrant GrantPortNumber(PortNames& names, const PortTarget& target,
                                const std::filesystem::path& ttyClassRoot) {
  for (const auto& [number, text] : names.Entries()) {
    std::optional<PortTarget> named = names.Target(number);
    if (named && LeadsToTheSamePlace(*named, target)) return {number, {}};
  }
  int number = LowestFreeNumber(names.Entries(), ttyClassRoot, 1);
  if (number > kPortCount) {
    return {0, "every COM number from 1 to " + std::to_string(kPortCount) + " is in use"};
  }
  names.Set(number, target);
  return {number, {}};
}

}  // namespace quorvel
