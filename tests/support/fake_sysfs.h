// A machine's /sys/class/tty and /dev in a temporary directory, laid out like
// the kernel's: each class entry is a link into /sys/devices, hardware-backed
// ones have a "device" link to their port, USB ones sit below a USB device
// with its attributes, and /dev/serial/by-id links name adapters.
#pragma once

#include <filesystem>
#include <string>

#include "link/device_description.h"
#include "support/temp_files.h"

namespace quorvel::testing {

// The USB device above a tty, as sysfs shows it.
struct Usb {
  const char* vendor;
  const char* product;
  const char* productName;
  const char* manufacturer;
  const char* serial;  // null: the device has none
  const char* driver;
  bool acm = false;  // cdc-acm: the tty hangs off the interface itself
};

// One tty as sysfs shows it.
struct Tty {
  const char* name;
  bool hardware = true;        // has a "device" link
  const char* type = nullptr;  // contents of "type"; null: no such file
  bool node = true;            // present in /dev
  const Usb* usb = nullptr;
};

class FakeMachine {
 public:
  FakeMachine();
  std::filesystem::path ttyClass() const { return root_ / "sys/class/tty"; }
  std::filesystem::path dev() const { return root_ / "dev"; }
  DeviceRoots Roots() const { return {ttyClass(), dev()}; }
  std::string Node(const std::string& name) const { return (dev() / name).string(); }

  void Plug(const Tty& tty);
  void Unplug(const std::string& name);
  // /dev/serial/by-id/<link> leading to /dev/<name>; replaces an old one.
  std::string ById(const std::string& link, const std::string& name);

 private:
  TempDir dir_;
  std::filesystem::path root_ = dir_.path();
};

}  // namespace quorvel::testing
