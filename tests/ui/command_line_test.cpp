// The command line: what each option and each mistake gives, and what a
// start with a device, a rate and a settings file does to the window.
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <filesystem>

#include "link/line_settings.h"
#include "support/pty_device.h"
#include "support/temp_files.h"
#include "terminal_harness.h"
#include "ui/command_line.h"

using namespace quorvel;
using quorvel::testing::PtyDevice;
using quorvel::testing::TerminalHarness;

namespace {

const ConfigHome kHome{QStringLiteral("/cfg"), QStringLiteral("/home/ann")};

// The port the options ask for, as text: "COM<n>" for a COM name, the
// target's text otherwise, "" for none.
std::string PortAskedFor(const StartupOptions& options) {
  if (options.comNumber != 0) return "COM" + std::to_string(options.comNumber);
  return options.device ? options.device->Text() : "";
}

int BaudPos(uint32_t rate) {
  const auto* found = std::find(std::begin(kBaudRates), std::end(kBaudRates), rate);
  return static_cast<int>(found - std::begin(kBaudRates));
}

}  // namespace

class CommandLineTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void parsesEachOptionAndError();
  void parsesALinkOfTwoPorts();
  void placesTheUserSettingsInTheConfigurationDirectory();
  void startsOnTheDeviceAndRateAskedFor();
  void keepsTheSettingsInTheFileAskedFor();
  void listsThePortsAndEnds();
  void saysWhyWhenEveryComNumberIsTaken();
};

void CommandLineTest::parsesEachOptionAndError() {
  const std::string here = QDir::currentPath().toStdString();
  struct Case {
    QStringList arguments;
    bool run;
    int exitCode;
    const char* output;  // a part of standard output
    const char* errors;  // a part of standard error
    struct {
      std::filesystem::path settingsFile = kSettingsFileName;
      std::string port;  // as PortAskedFor writes it
      int baudPos = -1;
      uint32_t typedBaud = 0;
    } options;
  };
  const Case cases[] = {
      {{}, true, 0, "", "", {}},
      {{"--help"}, false, 0, "--user-config", "", {}},
      {{"-h"}, false, 0, "115200", "", {}},
      {{"--version"}, false, 0, "quorvel " QUORVEL_TEST_VERSION "\n", "", {}},
      {{"--bogus"}, false, 2, "", "Unknown option 'bogus'", {}},
      {{"--baud"}, false, 2, "", "Usage: quorvel", {}},
      {{"--baud", "fast"}, false, 2, "", "not a whole number from 1 to 4294967295", {}},
      {{"--baud", "0"}, false, 2, "", "'0' is not a whole number", {}},
      {{"--baud", "-9600"}, false, 2, "", "Usage: quorvel", {}},
      {{"--baud", "4294967296"}, false, 2, "", "not a whole number", {}},
      {{"--help"}, false, 0, "921600", "", {}},
      {{"/dev/ttyUSB0", "/dev/ttyUSB1"}, false, 2, "", "only one DEVICE", {}},
      {{"/dev/tty\nUSB0"}, false, 2, "", "names no device", {}},
      {{"COM256"}, false, 2, "", "COM1 to COM255", {}},
      {{"com0"}, false, 2, "", "COM1 to COM255", {}},
      {{"--settings", ""}, false, 2, "", "needs a file name", {}},
      {{"--settings", "a.ini", "--user-config"}, false, 2, "", "exclude each other", {}},
      {{"--list", "COM3"}, false, 2, "", "--list opens no port", {}},
      {{"--list", "--demo"}, false, 2, "", "--list opens no port", {}},
      {{"--help"}, false, 0, "--list", "", {}},
      {{"--baud", "115200", "/dev/ttyUSB0"}, true, 0, "", "", {"Quorvel.ini", "/dev/ttyUSB0", 15}},
      {{"/dev/serial/by-id/usb-FTDI-if00-port0", "--baud=9600"},
       true,
       0,
       "",
       "",
       {"Quorvel.ini", "/dev/serial/by-id/usb-FTDI-if00-port0", BaudPos(9600)}},
      {{"com3"}, true, 0, "", "", {"Quorvel.ini", "COM3", -1}},
      {{"rfc2217://lab-pi:7001"}, true, 0, "", "", {"Quorvel.ini", "rfc2217://lab-pi:7001", -1}},
      {{"tcp://[::1]:4001", "--baud", "921600"},
       true,
       0,
       "",
       "",
       {"Quorvel.ini", "tcp://[::1]:4001", BaudPos(921600)}},
      {{"rfc2217://lab-pi"}, false, 2, "", "rfc2217://HOST:PORT", {}},
      {{"tcp://:7001"}, false, 2, "", "names no device", {}},
      {{"--help"}, false, 0, "rfc2217://HOST:PORT", "", {}},
      {{"--baud", "921600"}, true, 0, "", "", {"Quorvel.ini", "", BaudPos(921600)}},
      {{"--baud", "4000000"}, true, 0, "", "", {"Quorvel.ini", "", 25}},
      {{"--baud", "250000"}, true, 0, "", "", {"Quorvel.ini", "", -1, 250000}},
      {{"--baud=74880"}, true, 0, "", "", {"Quorvel.ini", "", -1, 74880}},
      {{"--baud", "4294967295"}, true, 0, "", "", {"Quorvel.ini", "", -1, 4294967295u}},
      {{"ttyUSB0"}, true, 0, "", "", {"Quorvel.ini", here + "/ttyUSB0", -1}},
      {{"--settings", "lab/bench.ini"}, true, 0, "", "", {"lab/bench.ini", "", -1}},
      {{"--user-config"}, true, 0, "", "", {"/cfg/quorvel/Quorvel.ini", "", -1}},
  };
  for (const Case& c : cases) {
    const QString what = c.arguments.join(QLatin1Char(' '));
    CommandLine got = ParseCommandLine(QStringList{QStringLiteral("quorvel")} + c.arguments, kHome);
    QVERIFY2(got.run == c.run, qPrintable(what));
    QVERIFY2(got.exitCode == c.exitCode, qPrintable(what));
    QVERIFY2(got.output.contains(QString::fromUtf8(c.output)), qPrintable(what + got.output));
    QVERIFY2(got.errors.contains(QString::fromUtf8(c.errors)), qPrintable(what + got.errors));
    // Only a usage error writes to standard error; only an answer to standard output.
    QVERIFY2(got.errors.isEmpty() == (c.exitCode == 0), qPrintable(what));
    QVERIFY2(got.output.isEmpty() == (c.run || c.exitCode != 0), qPrintable(what));
    if (!c.run) continue;
    QCOMPARE(got.options.settingsFile, c.options.settingsFile);
    QCOMPARE(PortAskedFor(got.options), c.options.port);
    const std::string& port = c.options.port;
    bool network = port.starts_with("rfc2217://") || port.starts_with("tcp://");
    QVERIFY2(network == (got.options.device && got.options.device->IsNetwork()), qPrintable(what));
    QCOMPARE(got.options.baudPos, c.options.baudPos);
    QCOMPARE(got.options.typedBaud, c.options.typedBaud);
  }
}

// --monitor A B and --bridge A B: each side as DEVICE is taken, the rates
// for both or each, and every way to get them wrong.
void CommandLineTest::parsesALinkOfTwoPorts() {
  const std::string here = QDir::currentPath().toStdString();
  struct Case {
    QStringList arguments;
    const char* errors;  // "" for a start
    PairMode mode = PairMode::kMonitor;
    std::string a, b;
    uint32_t baudA = 0, baudB = 0;
  };
  auto Refused = [](QStringList arguments, const char* errors) {
    return Case{std::move(arguments), errors, PairMode::kMonitor, "", "", 0, 0};
  };
  const Case cases[] = {
      {{"--monitor", "/dev/ttyUSB0", "/dev/ttyUSB1"},
       "",
       PairMode::kMonitor,
       "/dev/ttyUSB0",
       "/dev/ttyUSB1",
       0,
       0},
      {{"--bridge", "com3", "tcp://10.0.0.5:4001", "--baud", "9600"},
       "",
       PairMode::kBridge,
       "COM3",
       "tcp://10.0.0.5:4001",
       9600,
       9600},
      {{"--baud-b", "921600", "--monitor", "ttyA", "rfc2217://lab:7001", "--baud", "115200"},
       "",
       PairMode::kMonitor,
       here + "/ttyA",
       "rfc2217://lab:7001",
       115200,
       921600},
      {{"--bridge", "COM1", "COM2", "--baud-a", "74880"},
       "",
       PairMode::kBridge,
       "COM1",
       "COM2",
       74880,
       0},
      Refused({"--monitor", "/dev/ttyUSB0"}, "--monitor needs two ports"),
      Refused({"--bridge"}, "--bridge needs two ports"),
      Refused({"--monitor", "/dev/ttyUSB0", "--baud", "9600"}, "--monitor needs two ports"),
      Refused({"--monitor", "COM1", "COM1"}, "the same port"),
      Refused({"--monitor", "COM300", "COM1"}, "A 'COM300' names no port"),
      Refused({"--bridge", "COM1", "tcp://:1"}, "B 'tcp://:1' names no port"),
      Refused({"--monitor", "COM1", "COM2", "--bridge", "COM3", "COM4"},
              "one --monitor or --bridge"),
      Refused({"--monitor", "COM1", "COM2", "COM3"}, "give them no DEVICE"),
      Refused({"--monitor", "COM1", "COM2", "--demo"}, "give them no DEVICE or --demo"),
      Refused({"--baud-a", "9600"}, "--baud-a and --baud-b are for --monitor and --bridge"),
      Refused({"--monitor", "COM1", "COM2", "--baud-b", "fast"}, "'fast' is not a whole number"),
      Refused({"--list", "--monitor", "COM1", "COM2"}, "--list opens no port"),
  };
  for (const Case& c : cases) {
    const QString what = c.arguments.join(QLatin1Char(' '));
    CommandLine got = ParseCommandLine(QStringList{QStringLiteral("quorvel")} + c.arguments, kHome);
    bool start = *c.errors == '\0';
    QVERIFY2(got.run == start, qPrintable(what + got.errors));
    QVERIFY2(got.errors.contains(QString::fromUtf8(c.errors)), qPrintable(what + got.errors));
    if (!start) {
      QCOMPARE(got.exitCode, 2);
      continue;
    }
    QVERIFY2(got.options.link.has_value(), qPrintable(what));
    QVERIFY(got.options.link->mode == c.mode);
    QCOMPARE(got.options.link->a, c.a);
    QCOMPARE(got.options.link->b, c.b);
    QCOMPARE(got.options.link->baudA, c.baudA);
    QCOMPARE(got.options.link->baudB, c.baudB);
    QCOMPARE(got.options.baudPos, -1);  // the first port keeps its stored rate
  }
  QVERIFY(!ParseCommandLine({QStringLiteral("quorvel")}, kHome).options.link);
}

void CommandLineTest::placesTheUserSettingsInTheConfigurationDirectory() {
  const struct {
    ConfigHome home;
    const char* file;
  } cases[] = {
      {{"/cfg", "/home/ann"}, "/cfg/quorvel/Quorvel.ini"},
      {{"", "/home/ann"}, "/home/ann/.config/quorvel/Quorvel.ini"},
      {{"relative/cfg", "/home/ann"}, "/home/ann/.config/quorvel/Quorvel.ini"},
  };
  for (const auto& c : cases) {
    CommandLine got = ParseCommandLine({"quorvel", "--user-config"}, c.home);
    QCOMPARE(got.options.settingsFile, std::filesystem::path(c.file));
  }
}

void CommandLineTest::startsOnTheDeviceAndRateAskedFor() {
  // The stored port is COM5; COM1 is mapped to the harness's device, the
  // spare device has no entry.
  struct Case {
    const char* what;
    bool spare;        // the device asked for: the spare one, or the mapped one
    bool throughLink;  // named through a link to it
    const char* com;   // or named by its COM name
  };
  const Case cases[] = {
      {"a path with no entry", true, false, ""},
      {"a link to a mapped device", false, true, ""},
      {"a COM name", false, false, "com1"},
  };
  for (const Case& c : cases) {
    TerminalHarness harness("[COMConfig]\nCOM=4\n");
    PtyDevice spare;
    PtyDevice& device = c.spare ? spare : harness.Device();
    std::string path = c.com[0] != '\0' ? std::string(c.com) : device.Path();
    if (c.throughLink) {
      std::string link = harness.Directory().toStdString() + "/usb-by-id";
      std::filesystem::create_symlink(path, link);
      path = link;
    }
    if (int com = PortMapNumber(path); com != 0) {
      harness.Options().comNumber = com;
    } else {
      harness.Options().device = PortTarget::Device(path);
    }
    harness.Options().baudPos = BaudPos(115200);

    MainWindow& window = harness.Window();
    int number = window.CurrentSelection().portPos + 1;
    std::string opened = window.Names().DevicePath(number);
    // A mapped device keeps its number; a new one is entered as asked for.
    QVERIFY2(c.spare ? opened == path : number == 1, c.what);
    QVERIFY2(window.Link().Port().IsOpen(), c.what);
    QCOMPARE(device.Line().outputSpeed, 115200u);
    QVERIFY(harness.Messages().isEmpty());
    // The number sticks: it is saved with the port map.
    window.close();
    QVERIFY2(
        harness.IniText().find("COM" + std::to_string(number) + "=" + opened) != std::string::npos,
        c.what);
  }
}

void CommandLineTest::keepsTheSettingsInTheFileAskedFor() {
  struct Case {
    std::string file;  // in the harness's directory
    int baudPos;
  };
  const Case cases[] = {
      {"stored.conf", 9},
      // A directory that is not there yet is made when the settings are saved.
      {"config/quorvel/Quorvel.ini", 6},
  };
  for (const Case& c : cases) {
    TerminalHarness harness;
    const std::string file = harness.Directory().toStdString() + "/" + c.file;
    if (c.baudPos != 6) quorvel::testing::WriteFile(file, "[COMConfig]\nBRATE=9\n");
    harness.Options().settingsFile = file;
    harness.Options().device = PortTarget::Device(harness.Device().Path());
    QCOMPARE(harness.Window().CurrentSelection().baudPos, c.baudPos);
    harness.Choose(kParitySelector, 1);
    harness.Window().close();
    QCOMPARE(LoadSettingsFile(file).selection.parityPos, 1);
    QVERIFY(harness.IniText().find("PARITY") == std::string::npos);
  }
}

// --list prints the ports of the settings file asked for, one line each,
// and ends with 0; a file too large to use is named and its ".new" read.
void CommandLineTest::listsThePortsAndEnds() {
  quorvel::testing::TempDir dir;
  const std::string file = (dir / "bench.ini").string();
  quorvel::testing::WriteFile(
      file, "[PortMap]\nCOM7=tcp://lab:4001\nCOM9=" + (dir / "ttyUSB9").string() + "\n");
  CommandLine got =
      ParseCommandLine({"quorvel", "--list", "--settings", QString::fromStdString(file)}, kHome);
  QVERIFY(!got.run);
  QCOMPARE(got.exitCode, 0);
  QVERIFY2(got.output.contains(QStringLiteral("COM7\ttcp://lab:4001\ttcp://lab:4001   network\n")),
           qPrintable(got.output));
  QVERIFY2(got.output.contains(
               QString::fromStdString("COM9\t" + (dir / "ttyUSB9").string() + "\tabsent\n")),
           qPrintable(got.output));

  std::filesystem::resize_file(file, std::uintmax_t{64} << 20);
  quorvel::testing::WriteFile(file + ".new", "[PortMap]\nCOM12=tcp://other:4001\n");
  got = ParseCommandLine({"quorvel", "--list", "--settings", QString::fromStdString(file)}, kHome);
  QCOMPARE(got.exitCode, 0);
  QVERIFY2(got.output.contains(QStringLiteral("COM12\ttcp://other:4001\t")),
           qPrintable(got.output));
  QVERIFY2(got.errors.contains(QStringLiteral("is larger than")), qPrintable(got.errors));
}

void CommandLineTest::saysWhyWhenEveryComNumberIsTaken() {
  // COM1 is the stored port; every other number leads somewhere already.
  PtyDevice stored;
  std::string ini = "[PortMap]\nCOM1=" + stored.Path() + "\n";
  for (int n = 2; n <= kPortCount; ++n) {
    ini += "COM" + std::to_string(n) + "=/nonexistent/quorvel-" + std::to_string(n) + "\n";
  }
  TerminalHarness harness(ini, 0);
  PtyDevice asked;
  harness.Options().device = PortTarget::Device(asked.Path());
  MainWindow& window = harness.Window();
  QTRY_COMPARE(harness.Messages(),
               QStringList{QString::fromStdString(
                   asked.Path() + " cannot be opened: every COM number from 1 to 255 is in use.")});
  QCOMPARE(window.CurrentSelection().portPos, 0);
  QVERIFY(window.Link().Port().IsOpen());
  window.close();
  QVERIFY(harness.IniText().find(asked.Path()) == std::string::npos);
}

QTEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
