#include "support/fake_sysfs.h"

namespace quorvel::testing {

namespace fs = std::filesystem;

FakeMachine::FakeMachine() {
  fs::create_directories(ttyClass());
  fs::create_directories(dev());
  fs::create_directories(root_ / "sys/devices/platform/hw");
}

void FakeMachine::Plug(const Tty& tty) {
  fs::path device = root_ / "sys/devices/platform" / tty.name;
  fs::create_directories(device);
  if (tty.usb != nullptr) {
    const Usb& usb = *tty.usb;
    fs::path usbDevice = root_ / "sys/devices/usb1" / (std::string("1-") + tty.name);
    fs::path port = usbDevice / "1-1:1.0";
    if (!usb.acm) port /= tty.name;
    fs::create_directories(port);
    WriteFile(usbDevice / "idVendor", std::string(usb.vendor) + "\n");
    WriteFile(usbDevice / "idProduct", std::string(usb.product) + "\n");
    WriteFile(usbDevice / "product", std::string(usb.productName) + "\n");
    WriteFile(usbDevice / "manufacturer", std::string(usb.manufacturer) + "\n");
    if (usb.serial != nullptr) WriteFile(usbDevice / "serial", std::string(usb.serial) + "\n");
    fs::path driver = root_ / "sys/bus/usb/drivers" / usb.driver;
    fs::create_directories(driver);
    fs::create_directory_symlink(driver, port / "driver");
    fs::create_directory_symlink(port, device / "device");
  } else if (tty.hardware) {
    fs::create_directory_symlink("../hw", device / "device");
  }
  if (tty.type != nullptr) WriteFile(device / "type", std::string(tty.type) + "\n");
  fs::create_directory_symlink(device, ttyClass() / tty.name);
  if (tty.node) WriteFile(dev() / tty.name, "");
}

void FakeMachine::Unplug(const std::string& name) {
  fs::remove(ttyClass() / name);
  fs::remove_all(root_ / "sys/devices/platform" / name);
  fs::remove_all(root_ / "sys/devices/usb1" / ("1-" + name));
  fs::remove(dev() / name);
}

std::string FakeMachine::ById(const std::string& link, const std::string& name) {
  fs::path byId = dev() / "serial/by-id";
  fs::create_directories(byId);
  fs::remove(byId / link);
  fs::create_symlink("../../" + name, byId / link);
  return (byId / link).string();
}

}  // namespace quorvel::testing
