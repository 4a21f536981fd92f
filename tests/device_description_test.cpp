// What the port list says of each device, read from a fake sysfs tree, and
// by-id entries that keep an adapter's number whatever name the kernel gives it.
#include <gtest/gtest.h>

#include "link/device_description.h"
#include "settings/port_listing.h"
#include "settings/settings.h"
#include "support/fake_sysfs.h"

namespace quorvel {
namespace {

using testing::FakeMachine;
using testing::Tty;
using testing::Usb;

const Usb kFtdi{"0403", "6001", "FT232R USB UART", "FTDI", "A50285BI", "ftdi_sio"};
const Usb kFtdiTwo{"0403", "6001", "FT232R USB UART", "FTDI", "B7730011", "ftdi_sio"};
const Usb kBoard{"2e8a", "000a", "Pico", "Raspberry Pi", nullptr, "cdc_acm", true};

TEST(DeviceDescription, LinesTellWhatIsBehindEachPath) {
  FakeMachine machine;
  machine.Plug({"ttyUSB0", true, nullptr, true, &kFtdi});
  machine.Plug({"ttyACM0", true, nullptr, true, &kBoard});
  machine.Plug({"ttyS0", true, "4"});
  machine.Plug({"ttyS1", true, "0"});
  std::string byId = machine.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");

  const struct {
    std::string path;
    bool present;
    std::string line;
  } cases[] = {
      {machine.Node("ttyUSB0"), true,
       machine.Node("ttyUSB0") +
           "   FT232R USB UART \u00b7 FTDI \u00b7 A50285BI \u00b7 0403:6001 \u00b7 ftdi_sio"},
      {byId, true,
       machine.Node("ttyUSB0") +
           "   FT232R USB UART \u00b7 FTDI \u00b7 A50285BI \u00b7 0403:6001 \u00b7 ftdi_sio"},
      {machine.Node("ttyACM0"), true,
       machine.Node("ttyACM0") + "   Pico \u00b7 Raspberry Pi \u00b7 2e8a:000a \u00b7 cdc_acm"},
      {machine.Node("ttyS0"), true, machine.Node("ttyS0")},
      {machine.Node("ttyS1"), false, machine.Node("ttyS1")},  // no UART behind it
      {machine.Node("ttyUSB5"), false, machine.Node("ttyUSB5")},
      // A port served over the network: its address, never contacted.
      {"rfc2217://lab-pi:7001", true, "rfc2217://lab-pi:7001   network"},
      {"tcp://[::1]:4001", true, "tcp://[::1]:4001   network"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    DeviceDescription description = DescribeDevice(*PortTarget::Parse(c.path), machine.Roots());
    EXPECT_EQ(description.present, c.present);
    EXPECT_EQ(DescriptionLine(description), c.line);
  }
}

TEST(DeviceDescription, AttributesShowAsOneLineOfPlainText) {
  const Usb odd{"1a86", "7523", "USB\tSerial\x1b[2J", "  QinHeng  ", nullptr, "ch341"};
  FakeMachine machine;
  machine.Plug({"ttyUSB0", true, nullptr, true, &odd});
  EXPECT_EQ(
      DescriptionLine(DescribeDevice(PortTarget::Device(machine.Node("ttyUSB0")), machine.Roots())),
      machine.Node("ttyUSB0") + "   USB Serial [2J \u00b7 QinHeng \u00b7 1a86:7523 \u00b7 ch341");
}

// Two adapters plugged in the other order get the other kernel names; their
// by-id entries keep each on its number.
TEST(DeviceDescription, ByIdEntriesStickToTheAdapterAcrossRuns) {
  testing::TempDir dir;
  const std::string a = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  const std::string b = "usb-FTDI_FT232R_USB_UART_B7730011-if00-port0";
  std::map<int, std::string> first;
  {
    FakeMachine machine;
    machine.Plug({"ttyUSB0", true, nullptr, true, &kFtdi});
    machine.Plug({"ttyUSB1", true, nullptr, true, &kFtdiTwo});
    machine.Plug({"ttyUSB2"});  // an adapter without a by-id link
    std::string byIdA = machine.ById(a, "ttyUSB0"), byIdB = machine.ById(b, "ttyUSB1");
    Settings settings = LoadSettings(dir.path());
    AssignDetectedPorts(settings.portMap, machine.ttyClass(), machine.dev());
    EXPECT_EQ(settings.portMap,
              (std::map<int, std::string>{{1, byIdA}, {2, byIdB}, {3, machine.Node("ttyUSB2")}}));
    ASSERT_TRUE(SaveSettings(settings, dir.path()));
    first = settings.portMap;

    // The next run, with the names swapped.
    machine.ById(a, "ttyUSB1");
    machine.ById(b, "ttyUSB0");
    Settings again = LoadSettings(dir.path());
    EXPECT_TRUE(AssignDetectedPorts(again.portMap, machine.ttyClass(), machine.dev()).empty());
    EXPECT_EQ(again.portMap, first) << "no entry changes";
    for (auto [number, node] :
         {std::pair{1, machine.Node("ttyUSB1")}, {2, machine.Node("ttyUSB0")}}) {
      PortTarget target = PortTarget::Device(again.portMap[number]);
      EXPECT_EQ(DescribeDevice(target, machine.Roots()).node, node);
    }
  }
}

// quorvel --list: the ports present and those [PortMap] maps, in number
// order, as the window's list shows them; an adapter no entry names gets the
// number the window would give it; a ttyS without a UART is left out.
TEST(DeviceDescription, TheListingShowsPresentAndMappedPorts) {
  FakeMachine machine;
  machine.Plug({"ttyUSB0", true, nullptr, true, &kFtdi});
  machine.Plug({"ttyACM0", true, nullptr, true, &kBoard});
  machine.Plug({"ttyS1", true, "0"});
  std::string byId = machine.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  std::map<int, std::string> portMap = {
      {5, byId}, {7, "rfc2217://lab-pi:7001"}, {9, machine.Node("ttyUSB3")}};
  EXPECT_EQ(PortListingText(portMap, machine.Roots()),
            "COM1\t" + machine.Node("ttyACM0") + "\t" + machine.Node("ttyACM0") +
                "   Pico \u00b7 Raspberry Pi \u00b7 2e8a:000a \u00b7 cdc_acm\n"
                "COM5\t" +
                byId + "\t" + machine.Node("ttyUSB0") +
                "   FT232R USB UART \u00b7 FTDI \u00b7 A50285BI \u00b7 0403:6001 \u00b7 ftdi_sio\n"
                "COM7\trfc2217://lab-pi:7001\trfc2217://lab-pi:7001   network\n"
                "COM9\t" +
                machine.Node("ttyUSB3") + "\tabsent\n");
  EXPECT_EQ(PortListingText({}, FakeMachine().Roots()), "");
}

}  // namespace
}  // namespace quorvel
