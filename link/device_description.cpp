#include "link/device_description.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/unique_fd.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, trimmed; "" when there is none.
std::string ReadAttribute(const fs::path& file) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return "";
  char text[256];
  ssize_t got = ::read(fd.Get(), text, sizeof text - 1);
  if (got <= 0) return "";
  std::string value(text, static_cast<size_t>(got));
  value = value.substr(0, value.find('\n'));
  // An attribute is shown as one line of plain text, whatever a device says.
  std::replace_if(
      value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
  size_t begin = value.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  return value.substr(begin, value.find_last_not_of(' ') + 1 - begin);
}

bool IsUartName(const std::string& name) {
  return name.size() > 4 && name.starts_with("ttyS") &&
         std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void ReadUsbAttributes(const fs::path& port, DeviceDescription& description) {
  // The port, its USB interface, the USB device: a few levels at most.
  fs::path at = port;
  for (int level = 0; level < 4 && !at.empty(); ++level, at = at.parent_path()) {
    std::string vendor = ReadAttribute(at / "idVendor");
    if (vendor.empty()) continue;
    description.usbId = vendor + ":" + ReadAttribute(at / "idProduct");
    description.product = ReadAttribute(at / "product");
    description.manufacturer = ReadAttribute(at / "manufacturer");
    description.serial = ReadAttribute(at / "serial");
    return;
  }
}

}  // namespace

bool HasUart(const fs::path& ttyClassRoot, const std::string& name) {
  fs::path typeFile = ttyClassRoot / name / "type";
  UniqueFd fd(::open(typeFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return errno != ENOENT && errno != ENOTDIR;
  char text[32];
  ssize_t got = ::read(fd.Get(), text, sizeof text - 1);
  if (got < 0) return true;  // something is there that we cannot tell: keep clear of it
  text[got] = '\0';
  // As the profile integer rule reads it: leading blanks, digits, anything after.
  return std::strtol(text, nullptr, 10) != 0;
}

DeviceDescription DescribeDevice(const PortTarget& target, const DeviceRoots& roots) {
  DeviceDescription description;
  description.node = target.Text();
  if (target.IsNetwork()) {
    // Nothing here can tell whether the server is there without connecting,
    // and the list connects to nothing: shown as present, by its address.
    description.present = true;
    description.driver = "network";
    return description;
  }
  std::error_code error;
  fs::path node = fs::canonical(target.Text(), error);
  if (error) return description;
  description.node = node.string();
  std::string name = node.filename().string();
  description.present = !IsUartName(name) || HasUart(roots.ttyClass, name);
  if (!description.present) return description;

  fs::path port = fs::canonical(roots.ttyClass / name / "device", error);
  if (error) return description;  // no hardware behind it: a pseudo-terminal, say
  // usb-serial names its driver at the port, cdc-acm at the interface; a
  // UART's port and controller belong to the serial core's own bus, whose
  // drivers ("port", "ctrl") say nothing, and its driver sits above them.
  fs::path at = port;
  for (int level = 0; level < 3 && description.driver.empty(); ++level, at = at.parent_path()) {
    fs::path driver = fs::read_symlink(at / "driver", error);
    if (!error && driver.string().find("/serial-base/") == std::string::npos) {
      description.driver = driver.filename().string();
    }
  }
  ReadUsbAttributes(port, description);
  return description;
}

std::string DescriptionLine(const DeviceDescription& description) {
  std::string line = description.node;
  if (!description.present) return line;
  std::string details;
  for (const std::string* part : {&description.product, &description.manufacturer,
                                  &description.serial, &description.usbId, &description.driver}) {
    if (part->empty()) continue;
    if (!details.empty()) details += " \u00b7 ";
    details += *part;
  }
  return details.empty() ? line : line + "   " + details;
}

std::string ByIdPath(const std::string& path, const fs::path& byIdDirectory) {
  std::error_code error;
  fs::path node = fs::canonical(path, error);
  if (error) return "";
  std::vector<std::string> matches;
  for (fs::directory_iterator it(byIdDirectory, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code linkError;
    if (fs::canonical(it->path(), linkError) == node && !linkError) {
      matches.push_back(it->path().string());
    }
  }
  std::sort(matches.begin(), matches.end());
  return matches.empty() ? "" : matches.front();
}

}  // namespace quorvel
