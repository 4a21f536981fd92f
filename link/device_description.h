// What sysfs says of the device behind a path: whether it is there, and for
// a USB adapter or board its product, maker, serial number and ids, with the
// driver that serves it. Read the way the kernel lays it out: the tty class
// entry's "device" link leads to the port (or USB interface), whose "driver"
// link names the driver, and the USB device above it holds the attributes.
// The roots are parameters so that a fake tree can stand in.
#pragma once

#include <filesystem>
#include <string>

#include "link/port_target.h"

namespace quorvel {

struct DeviceRoots {
  std::filesystem::path ttyClass = "/sys/class/tty";
  std::filesystem::path dev = "/dev";
  std::filesystem::path ById() const { return dev / "serial" / "by-id"; }
};

struct DeviceDescription {
  bool present = false;
  std::string node;  // where the path leads, /dev/ttyUSB0; the path itself when absent
  std::string product;
  std::string manufacturer;
  std::string serial;
  std::string usbId;  // vendor:product, 0403:6001
  std::string driver;
};

// A network port (rfc2217://HOST:PORT, tcp://HOST:PORT) is described by its
// address and "network", and counts as present (it is never contacted). A
// device is present when its path leads to an existing node, except a
// ttyS<n> with no UART behind it (the kernel lists ttyS0 to ttyS31
// regardless).
DeviceDescription DescribeDevice(const PortTarget& target, const DeviceRoots& roots);

// "/dev/ttyUSB0   FT232R USB UART · FTDI · A50285BI · 0403:6001 · ftdi_sio";
// only the node for a device sysfs says nothing of, or one that is absent.
std::string DescriptionLine(const DeviceDescription& description);

// Whether the ttyS<n> tty `name` has a UART behind it: its "type" reads
// non-zero. A "type" that cannot be read for another reason than its absence
// counts as a UART, to keep clear of it.
bool HasUart(const std::filesystem::path& ttyClassRoot, const std::string& name);

// The /dev/serial/by-id link (in `byIdDirectory`) that leads to the same
// node as `path`, the first in name order; "" when there is none.
std::string ByIdPath(const std::string& path, const std::filesystem::path& byIdDirectory);

}  // namespace quorvel
