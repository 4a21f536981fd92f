// COM numbers for Linux serial devices: [PortMap] entries in Quorvel.ini, and
// the numbers handed to the devices of a fake /sys/class/tty tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "link/port_names.h"
#include "link/serial_port.h"
#include "settings/profile_file.h"
#include "settings/settings.h"
#include "support/fake_sysfs.h"
#include "support/pty_device.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;
using PortMap = std::map<int, std::string>;
using testing::FakeMachine;
using testing::Tty;
using testing::Usb;

// ---------------------------------------------------------------- entries

TEST(PortMap, EntriesLoadFromTheirSectionWhateverTheirCase) {
  TempDir dir;
  WriteFile(dir / "Quorvel.ini",
            "[COMConfig]\nCOM=4\n"
            "[portmap]\n"
            "COM5 = /dev/ttyUSB0\n"
            "com7=\"/tmp/my link\"\n"
            "COM5=/dev/second-is-ignored\n"
            "; COM6=/dev/commented\n"
            "COM05=/dev/leading-zero\n"
            "COM0=/dev/zero-port\n"
            "COM256=/dev/beyond\n"
            "COM8=\n"
            "COMX=/dev/x\n"
            "Note=kept by hand\n");
  EXPECT_EQ(LoadSettings(dir.path()).portMap, (PortMap{{5, "/dev/ttyUSB0"}, {7, "/tmp/my link"}}));
}

TEST(PortMapKeys, NameAndNumberAgree) {
  EXPECT_EQ(PortMapKey(5), "COM5");
  EXPECT_EQ(PortMapNumber("COM5"), 5);
  EXPECT_EQ(PortMapNumber("com255"), 255);
  EXPECT_EQ(PortMapNumber("cOm1"), 1);
  for (const char* key :
       {"COM", "COM0", "COM05", "COM256", "COM1x", "COM-1", "CON1", "XCOM1", "COM99999999999"}) {
    EXPECT_EQ(PortMapNumber(key), 0) << key;
  }
}

// What the simulated device tool does, and what a user does by hand: an entry
// sends COM 3 to a pseudo-terminal instead of /dev/ttyS2.
TEST(PortMap, EntryReachesItsDeviceInsteadOfTheDefault) {
  TempDir dir;
  testing::PtyDevice device;
  ASSERT_TRUE(
      WriteProfileString(dir / "Quorvel.ini", kPortMapSection, PortMapKey(3), device.Path()));
  Settings settings = LoadSettings(dir.path());

  PortNames names;
  for (const auto& [number, path] : settings.portMap) names.Set(number, path);
  EXPECT_EQ(names.DevicePath(4), "/dev/ttyS3");
  ASSERT_TRUE(names.Target(3));
  SerialPort port;
  ASSERT_TRUE(port.Open(*names.Target(3), LineParameters{}));
  const uint8_t hello[] = {'h', 'i'};
  port.Write(hello, 2);
  EXPECT_EQ(device.Receive(2), (std::vector<uint8_t>{'h', 'i'}));
  port.Close();
}

TEST(PortMap, SaveWritesEntriesInPlaceOrAppendedAndRemovesNothing) {
  TempDir dir;
  WriteFile(dir / "Quorvel.ini",
            "[PortMap]\nNote = by hand\ncom2 = /dev/old\nCOM4=/dev/keep\n\n; line settings\n");
  Settings settings;
  settings.portMap = {
      {2, "/dev/new"}, {9, "/dev/ttyUSB3"}, {0, "/dev/no-number"}, {300, "/dev/big"},
      {5, ""},         {6, "two\nlines"}};
  ASSERT_TRUE(SaveSettings(settings, dir.path()));
  const std::string tenKeys =
      "[COMConfig]\nCOM=0\nBRATE=6\nBYTESIZE=3\nSTOPBITS=0\nPARITY=2\nFLOWCONTROL=0\n"
      "\n[RecvConfig]\nRECVHEX=0\n"
      "\n[SendConfig]\nSENDHEX=0\nTIMEGAP=80\nFRAMEEND=00\n";
  EXPECT_EQ(ReadAll(dir / "Quorvel.ini"),
            "[PortMap]\nNote = by hand\ncom2 = /dev/new\nCOM4=/dev/keep\nCOM9=/dev/ttyUSB3\n"
            "\n; line settings\n\n" +
                tenKeys);
  EXPECT_EQ(LoadSettings(dir.path()).portMap,
            (PortMap{{2, "/dev/new"}, {4, "/dev/keep"}, {9, "/dev/ttyUSB3"}}));
}

TEST(PortMap, NoEntriesNoSection) {
  TempDir dir;
  ASSERT_TRUE(SaveSettings(Settings{}, dir.path()));
  EXPECT_EQ(ReadAll(dir / "Quorvel.ini").find("PortMap"), std::string::npos);
}

// ---------------------------------------------------------------- detection

struct AssignCase {
  const char* name;
  std::vector<Tty> ttys;
  PortMap existing;  // a value "dev:NAME" stands for the fake /dev/NAME
  PortMap added;     // values are device names in the fake /dev
};

void PrintTo(const AssignCase& c, std::ostream* out) {
  *out << c.name;
}

class AssignPorts : public ::testing::TestWithParam<AssignCase> {};

TEST_P(AssignPorts, GivesEachNewDeviceTheLowestFreeNumber) {
  const AssignCase& c = GetParam();
  FakeMachine machine;
  for (const Tty& tty : c.ttys) machine.Plug(tty);
  PortMap map;
  for (const auto& [number, value] : c.existing) {
    map[number] = value.starts_with("dev:") ? machine.Node(value.substr(4)) : value;
  }
  PortMap expectedAdded, expectedMap = map;
  for (const auto& [number, name] : c.added) {
    expectedAdded[number] = machine.Node(name);
    expectedMap[number] = machine.Node(name);
  }
  EXPECT_EQ(AssignDetectedPorts(map, machine.ttyClass(), machine.dev()), expectedAdded);
  EXPECT_EQ(map, expectedMap);
}

const std::vector<Tty> kConsoles = {
    {"tty", false}, {"tty0", false}, {"tty1", false}, {"console", false}, {"ptmx", false}};

std::vector<Tty> With(std::vector<Tty> ttys) {
  ttys.insert(ttys.end(), kConsoles.begin(), kConsoles.end());
  return ttys;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AssignPorts,
    ::testing::Values(AssignCase{"UsbAndAcmSkipTheNumberOfABuiltInUart",
                                 With({{"ttyS0", true, "4"},
                                       {"ttyS1", true, "0"},
                                       {"ttyS2", true},
                                       {"ttyS3", true, "0"},
                                       {"ttyUSB0"},
                                       {"ttyACM0"}}),
                                 {},
                                 {{2, "ttyACM0"}, {3, "ttyUSB0"}}},
                      AssignCase{"LaptopWithoutBuiltInPortsMakesTheAdapterCom1",
                                 With({{"ttyS0", true, "0"},
                                       {"ttyS1", true, "0"},
                                       {"ttyS2", true, "0"},
                                       {"ttyS3", true, "0"},
                                       {"ttyUSB0"}}),
                                 {},
                                 {{1, "ttyUSB0"}}},
                      AssignCase{"OnBoardUartAndUsbWithoutAnyTtyS",
                                 {{"ttyAMA0"}, {"ttyUSB0"}},
                                 {},
                                 {{1, "ttyAMA0"}, {2, "ttyUSB0"}}},
                      AssignCase{"DevicesTakenInNumericOrder",
                                 {{"ttyUSB10"}, {"ttyUSB2"}, {"ttyUSB1"}},
                                 {},
                                 {{1, "ttyUSB1"}, {2, "ttyUSB2"}, {3, "ttyUSB10"}}},
                      AssignCase{"ExistingEntriesKeepTheirNumbersAndDevices",
                                 {{"ttyUSB0"}, {"ttyUSB1"}, {"ttyACM0"}},
                                 {{1, "/dev/pts/9"}, {3, "dev:ttyUSB0"}},
                                 {{2, "ttyACM0"}, {4, "ttyUSB1"}}},
                      AssignCase{"DeviceWithoutNodeIsNotPresent",
                                 {{"ttyUSB0", true, nullptr, false}, {"ttyUSB1"}},
                                 {},
                                 {{1, "ttyUSB1"}}},
                      AssignCase{"VirtualTtysAndTtySGetNoEntry",
                                 With({{"ttyS0", true, "0"}, {"ttyS1", true, "4"}, {"pts", false}}),
                                 {},
                                 {}},
                      AssignCase{"OtherHardwareNamesStartingWithTtySAreDevicesToo",
                                 {{"ttySAC0"}, {"ttyS0", true, "4"}},
                                 {},
                                 {{2, "ttySAC0"}}},
                      AssignCase{
                          "UartTypeReadByTheIntegerRule",
                          {{"ttyS0", true, "garbage"}, {"ttyS1", true, "  17 "}, {"ttyUSB0"}},
                          {},
                          {{1, "ttyUSB0"}}}),
    [](const auto& info) { return info.param.name; });

TEST(AssignPorts, EntryThroughALinkNamesTheDevice) {
  FakeMachine machine;
  machine.Plug({"ttyUSB0"});
  TempDir links;
  fs::create_symlink(machine.Node("ttyUSB0"), links / "usb-FTDI_FT232R-if00-port0");
  PortMap map{{7, (links / "usb-FTDI_FT232R-if00-port0").string()}};
  EXPECT_EQ(AssignDetectedPorts(map, machine.ttyClass(), machine.dev()), PortMap{});
  EXPECT_EQ(map.size(), 1u);
}

TEST(AssignPorts, NoFreeNumberAssignsNothing) {
  FakeMachine machine;
  machine.Plug({"ttyUSB0"});
  PortMap map;
  for (int n = 1; n <= kPortCount; ++n) map[n] = "/dev/pts/" + std::to_string(n);
  const PortMap before = map;
  EXPECT_EQ(AssignDetectedPorts(map, machine.ttyClass(), machine.dev()), PortMap{});
  EXPECT_EQ(map, before);
}

TEST(AssignPorts, MissingSysfsAssignsNothing) {
  TempDir dir;
  PortMap map;
  EXPECT_EQ(AssignDetectedPorts(map, dir / "no-sys", dir / "no-dev"), PortMap{});
  EXPECT_TRUE(map.empty());
}

TEST(AssignPorts, NumbersStickAcrossSaveAndReload) {
  TempDir dir;
  FakeMachine machine;
  machine.Plug({"ttyS0", true, "4"});
  machine.Plug({"ttyUSB0"});
  machine.Plug({"ttyACM0"});
  auto start = [&] {
    Settings settings = LoadSettings(dir.path());
    AssignDetectedPorts(settings.portMap, machine.ttyClass(), machine.dev());
    return settings;
  };

  Settings first = start();
  const PortMap expected{{2, machine.Node("ttyACM0")}, {3, machine.Node("ttyUSB0")}};
  EXPECT_EQ(first.portMap, expected);
  ASSERT_TRUE(SaveSettings(first, dir.path()));
  EXPECT_EQ(ReadProfileString(dir / "Quorvel.ini", kPortMapSection, "COM3"),
            machine.Node("ttyUSB0"));

  Settings second = start();
  EXPECT_EQ(second.portMap, expected);

  // An adapter unplugged keeps its number for when it comes back; a new one
  // takes the next free number rather than the unplugged one's.
  machine.Unplug("ttyACM0");
  machine.Plug({"ttyUSB1"});
  Settings third = start();
  EXPECT_EQ(third.portMap, (PortMap{{2, machine.Node("ttyACM0")},
                                    {3, machine.Node("ttyUSB0")},
                                    {4, machine.Node("ttyUSB1")}}));
  ASSERT_TRUE(SaveSettings(third, dir.path()));
  EXPECT_EQ(LoadSettings(dir.path()).portMap, third.portMap);
}

// A port asked for by where it leads keeps the number an entry gives it (by
// the same path, a link to the same node, the same network address however
// it is spelt); otherwise it is entered with the number a new adapter would
// get, as written, or refused with the reason when every number is taken.
TEST(GrantPortNumber, ExistingNumberOrTheLowestFreeOne) {
  FakeMachine machine;
  machine.Plug({"ttyS0", true, "4"});
  machine.Plug({"ttyS1", true, "0"});
  machine.Plug({"ttyUSB0"});
  machine.Plug({"ttyUSB1"});
  TempDir links;
  const std::string byId = (links / "usb-FTDI-if00-port0").string();
  fs::create_symlink(machine.Node("ttyUSB0"), byId);
  const PortMap start{{2, machine.Node("ttyUSB0")},
                      {3, "/dev/pts/9"},
                      {5, "RFC2217://lab-pi:7001/"},
                      {6, "rfc2217://nohost"}};
  struct Case {
    std::string asked;
    int number;
    bool added;
  } cases[] = {
      {machine.Node("ttyUSB0"), 2, false},
      {byId, 2, false},
      {"/dev/pts/9", 3, false},
      {"rfc2217://lab-pi:7001", 5, false},
      {machine.Node("ttyUSB1"), 4, true},  // COM1 has a UART, 2 and 3 are taken
      {"/dev/not-plugged-yet", 4, true},
      {"tcp://lab-pi:7001", 4, true},  // another kind of port on the same address
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    PortNames names;
    for (const auto& [number, text] : start) names.Set(number, text);
    PortNumberGrant grant = GrantPortNumber(names, *PortTarget::Parse(c.asked), machine.ttyClass());
    EXPECT_EQ(grant.number, c.number);
    EXPECT_EQ(grant.refusal, "");
    PortMap expected = start;
    if (c.added) expected.emplace(c.number, c.asked);
    EXPECT_EQ(names.Entries(), expected);
    if (c.added) {
      EXPECT_EQ(names.Target(c.number), PortTarget::Parse(c.asked));
    }
  }
  PortNames full;
  for (int n = 1; n <= kPortCount; ++n) full.Set(n, "/dev/pts/" + std::to_string(n));
  PortNumberGrant refused =
      GrantPortNumber(full, PortTarget::Device(machine.Node("ttyUSB1")), machine.ttyClass());
  EXPECT_EQ(refused.number, 0);
  EXPECT_EQ(refused.refusal, "every COM number from 1 to 255 is in use");
  EXPECT_EQ(full.Entries().size(), static_cast<size_t>(kPortCount));
}

// Each entry is read once, when it is set: what it leads to, or nothing for
// a network text that names no host and port; its text stays as written.
TEST(PortNames, EntriesBecomeTargetsAndKeepTheirText) {
  struct Case {
    const char* text;
    bool names;    // a port at all
    bool network;  // a network address
  } cases[] = {
      {"/dev/ttyUSB0", true, false},        {"relative/link", true, false},
      {"TCP://10.0.0.5:4001/", true, true}, {"rfc2217://[::1]:7001", true, true},
      {"rfc2217://lab-pi", false, false},   {"tcp://:7001", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PortNames names;
    names.Set(4, c.text);
    EXPECT_EQ(names.DevicePath(4), c.text);
    EXPECT_EQ(names.Entries().at(4), c.text);
    std::optional<PortTarget> target = names.Target(4);
    ASSERT_EQ(target.has_value(), c.names);
    if (!target) continue;
    EXPECT_EQ(target->Text(), c.text);
    EXPECT_EQ(target->IsNetwork(), c.network);
  }
  PortNames names;
  names.Set(1, "tcp://h:1");
  names.Set(1, "");
  EXPECT_EQ(names.Target(1), PortTarget::Device("/dev/ttyS0")) << "removed: the default again";
}

TEST(SettingsFile, LoadsAndSavesAFileOfAnyName) {
  TempDir dir;
  const fs::path file = dir / "bench.conf";
  WriteFile(file, "[COMConfig]\nBRATE=9\n");
  Settings settings = LoadSettingsFile(file);
  EXPECT_EQ(settings.selection.baudPos, 9);
  settings.selection.parityPos = 1;
  ASSERT_TRUE(SaveSettingsFile(settings, file));
  EXPECT_EQ(LoadSettingsFile(file).selection.parityPos, 1);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"bench.conf"});
}

}  // namespace
}  // namespace quorvel
