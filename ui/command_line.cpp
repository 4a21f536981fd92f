#include "ui/command_line.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <optional>

#include "link/line_settings.h"
#include "link/port_target.h"
#include "settings/port_listing.h"
#include "settings/settings.h"

namespace quorvel {
namespace {

constexpr int kUsageError = 2;
constexpr char kProgramName[] = "quorvel";

QString UsageLine() {
  return QStringLiteral(
             "Usage: %1 [--baud RATE] [--settings FILE | --user-config] [DEVICE]\n"
             "       %1 --monitor A B | --bridge A B [--baud RATE | --baud-a RATE --baud-b RATE]\n"
             "          [--settings FILE | --user-config]\n"
             "       %1 --list [--settings FILE | --user-config]\n"
             "       %1 --script FILE [--report FILE.xml] [--tap] [--timeout S] [--baud RATE]\n"
             "               [--settings FILE | --user-config] [DEVICE]\n")
      .arg(QLatin1String(kProgramName));
}

CommandLine UsageError(const QString& problem) {
  CommandLine outcome;
  outcome.run = false;
  outcome.exitCode = kUsageError;
  outcome.errors = QStringLiteral("%1: %2\n%3Try '%1 --help' for more information.\n")
                       .arg(QLatin1String(kProgramName), problem, UsageLine());
  return outcome;
}

CommandLine Answer(const QString& text) {
  CommandLine outcome;
  outcome.run = false;
  outcome.output = text;
  return outcome;
}

// The rates most boards use; any other works too.
QString CommonRates() {
  QStringList rates;
  for (uint32_t rate : {9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u, 1000000u,
                        1500000u, 2000000u, 3000000u, 4000000u}) {
    rates.append(QString::number(rate));
  }
  return rates.join(QStringLiteral(", "));
}

// $XDG_CONFIG_HOME/quorvel/Quorvel.ini, else ~/.config/quorvel/Quorvel.ini. A
// relative $XDG_CONFIG_HOME is ignored, as the base directory rules say.
QString UserSettingsFile(const ConfigHome& configHome) {
  QString base = configHome.xdgConfigHome;
  if (base.isEmpty() || QDir::isRelativePath(base)) {
    base = QDir(configHome.home).filePath(QStringLiteral(".config"));
  }
  return QDir(base).filePath(QStringLiteral("quorvel/%1").arg(QLatin1String(kSettingsFileName)));
}

bool HasControlCharacter(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; });
}

// Puts the port DEVICE names into `options`; false when it names none. A
// COM name gives its number; a COM name outside COM1..COM255 is a mistake,
// not a file of that name. A port served over the network stays as written,
// once it names a host and a port; a path is made absolute, so that the
// entry it gets in the port map names the same device from any directory.
bool TakeDeviceArgument(const QString& argument, StartupOptions& options) {
  if (argument.isEmpty() || HasControlCharacter(argument)) return false;
  std::string bytes = argument.toLocal8Bit().toStdString();
  if (int number = PortMapNumber(bytes); number != 0) {
    options.comNumber = number;
    return true;
  }
  static const QRegularExpression comName(QStringLiteral("^com[0-9]+$"),
                                          QRegularExpression::CaseInsensitiveOption);
  if (comName.match(argument).hasMatch()) return false;
  options.device = PortTarget::Parse(bytes);
  if (options.device && !options.device->IsNetwork()) {
    options.device =
        PortTarget::Device(QFileInfo(argument).absoluteFilePath().toLocal8Bit().toStdString());
  }
  return options.device.has_value();
}

// A or B of --monitor and --bridge, as DEVICE is taken: a COM name as it is
// (COM1 to COM255), a network address as written, a path made absolute.
// Empty when it names no port.
std::string PortArgument(const QString& argument) {
  StartupOptions taken;
  if (!TakeDeviceArgument(argument, taken)) return {};
  if (taken.comNumber != 0) return PortMapKey(taken.comNumber);
  return taken.device->Text();
}

// Takes "--monitor A B" and "--bridge A B" out of `arguments` (each option
// has two values, which the parser cannot take), into `link`. Returns the
// problem, or "".
QString TakeLinkArguments(QStringList& arguments, std::optional<StartupOptions::LinkStart>& link) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& word = arguments[i];
    if (word == QLatin1String("--")) break;
    bool monitor = word == QLatin1String("--monitor");
    if (!monitor && word != QLatin1String("--bridge")) continue;
    if (link) return QStringLiteral("give one --monitor or --bridge.");
    if (i + 2 >= arguments.size() || arguments[i + 1].startsWith(QLatin1Char('-')) ||
        arguments[i + 2].startsWith(QLatin1Char('-'))) {
      return QStringLiteral("%1 needs two ports, A and B.").arg(word);
    }
    StartupOptions::LinkStart start;
    start.mode = monitor ? PairMode::kMonitor : PairMode::kBridge;
    for (int side = 0; side < 2; ++side) {
      const QString& given = arguments[i + 1 + side];
      std::string port = PortArgument(given);
      if (port.empty()) {
        return QStringLiteral(
                   "%1 '%2' names no port: give a path, COM1 to COM%3, "
                   "rfc2217://HOST:PORT or tcp://HOST:PORT.")
            .arg(side == 0 ? QStringLiteral("A") : QStringLiteral("B"), given)
            .arg(kPortCount);
      }
      (side == 0 ? start.a : start.b) = port;
    }
    if (start.a == start.b) return QStringLiteral("A and B are the same port: give two.");
    link = start;
    arguments.remove(i, 3);
    --i;
  }
  return {};
}

// `quorvel --list`: the port list on standard output, what keeps it short on
// standard error; it ends the program with 0 either way.
CommandLine PortList(const std::filesystem::path& settingsFile) {
  std::string note;
  CommandLine outcome = Answer(QString::fromStdString(PortListingOfFile(settingsFile, note)));
  if (!note.empty()) {
    outcome.errors =
        QStringLiteral("%1: %2\n").arg(QLatin1String(kProgramName), QString::fromStdString(note));
  }
  if (outcome.output.isEmpty()) {
    outcome.errors +=
        QStringLiteral("%1: no port is present, and %2 maps none.\n")
            .arg(QLatin1String(kProgramName), QString::fromLocal8Bit(settingsFile.c_str()));
  }
  return outcome;
}

}  // namespace

ConfigHome ConfigHomeFromEnvironment() {
  return {qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()};
}

CommandLine ParseCommandLine(const QStringList& arguments, const ConfigHome& configHome) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Serial port debugging terminal.\n\nCommon baud rates: %1; any other rate "
                     "from 1 to %2 works where the adapter can make it.")
          .arg(CommonRates())
          .arg(kHighestBaudRate));
  QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                          QStringLiteral("Show this help and exit."));
  QCommandLineOption version(QStringLiteral("version"),
                             QStringLiteral("Show the version and exit."));
  QCommandLineOption baud(
      QStringLiteral("baud"),
      QStringLiteral("Select the baud rate RATE, any whole number of bits per second."),
      QStringLiteral("RATE"));
  QCommandLineOption settings(
      QStringLiteral("settings"),
      QStringLiteral("Keep the settings in FILE instead of ./%1.").arg(kSettingsFileName),
      QStringLiteral("FILE"));
  QCommandLineOption userConfig(
      QStringLiteral("user-config"),
      QStringLiteral("Keep the settings in $XDG_CONFIG_HOME/quorvel/, else in "
                     "~/.config/quorvel/ (how the desktop menu starts it)."));
  parser.addOptions({help, version, baud, settings, userConfig});
  QCommandLineOption demo(
      QStringLiteral("demo"),
      QStringLiteral("Open a demo device played inside the terminal, for this run only (no "
                     "hardware needed): it reports \"T=21.4 C\" each second, answers READ and "
                     "ID? (ended by CR or LF) and a Modbus RTU read of holding registers "
                     "(01 03 00 00 00 02 C4 0B), and echoes anything else."));
  parser.addOption(demo);
  QCommandLineOption monitor(
      QStringLiteral("monitor"),
      QStringLiteral("Monitor two ports as one link: A and B (each as DEVICE) are only read, "
                     "and what each reads shows in one view, stamped and in the order read, as "
                     "the link's two directions A→ and B→. The first port stays "
                     "closed."),
      QStringLiteral("A B"));
  QCommandLineOption bridge(
      QStringLiteral("bridge"),
      QStringLiteral("Bridge two ports: what A reads goes out on B at once and what B reads on "
                     "A, shown as --monitor shows it. The first port stays closed."),
      QStringLiteral("A B"));
  QCommandLineOption baudA(QStringLiteral("baud-a"),
                           QStringLiteral("A's baud rate, with --monitor or --bridge (--baud "
                                          "sets both)."),
                           QStringLiteral("RATE"));
  QCommandLineOption baudB(QStringLiteral("baud-b"), QStringLiteral("B's baud rate, likewise."),
                           QStringLiteral("RATE"));
  parser.addOptions({monitor, bridge, baudA, baudB});
  QCommandLineOption list(
      QStringLiteral("list"),
      QStringLiteral("Print the port list and exit: each port present or in [PortMap], one line "
                     "each, its COM number, the device or address it reaches and what the system "
                     "says of it (\"absent\" when it is not there), separated by tabs."));
  parser.addOption(list);
  // Read by the headless run (scripting/script_command.h) before this parser
  // sees a command line with --script; here for --help and for a mistake.
  QCommandLineOption script(
      QStringLiteral("script"),
      QStringLiteral("Run the Lua script FILE against DEVICE without a window and exit: 0 when "
                     "every check passed, 1 when one failed or the run was stopped or timed "
                     "out, 2 for a script error, a usage error or a port that did not open."),
      QStringLiteral("FILE"));
  QCommandLineOption report(QStringLiteral("report"),
                            QStringLiteral("With --script: write a JUnit XML report to FILE."),
                            QStringLiteral("FILE"));
  QCommandLineOption tap(QStringLiteral("tap"),
                         QStringLiteral("With --script: write the steps as TAP (version 13)."));
  QCommandLineOption timeout(
      QStringLiteral("timeout"),
      QStringLiteral("With --script: stop the script after S seconds (a failed step)."),
      QStringLiteral("S"));
  parser.addOptions({script, report, tap, timeout});
  parser.addPositionalArgument(
      QStringLiteral("DEVICE"),
      QStringLiteral("The port to open: a device path such as /dev/ttyUSB0 or "
                     "/dev/serial/by-id/..., COM<n>, or a port served over the network: "
                     "rfc2217://HOST:PORT (ser2net's telnet with RFC 2217: the line settings "
                     "reach the far port) or tcp://HOST:PORT (raw bytes)."),
      QStringLiteral("[DEVICE]"));

  QStringList words = arguments;
  std::optional<StartupOptions::LinkStart> link;
  if (QString problem = TakeLinkArguments(words, link); !problem.isEmpty()) {
    return UsageError(problem);
  }
  if (!parser.parse(words)) return UsageError(parser.errorText());
  if (parser.isSet(help)) {
    QString text = parser.helpText();
    // The parser's own first line names the program as it was started.
    text = UsageLine() + text.mid(text.indexOf(QLatin1Char('\n')) + 1);
    return Answer(text);
  }
  if (parser.isSet(version)) {
    return Answer(
        QStringLiteral("%1 %2\n").arg(QLatin1String(kProgramName), QLatin1String(QUORVEL_VERSION)));
  }

  CommandLine outcome;
  if (parser.isSet(script) || parser.isSet(report) || parser.isSet(tap) || parser.isSet(timeout)) {
    return UsageError(QStringLiteral("--report, --tap and --timeout go with --script FILE."));
  }
  if (parser.isSet(settings) && parser.isSet(userConfig)) {
    return UsageError(QStringLiteral("--settings and --user-config exclude each other."));
  }
  if (parser.isSet(settings)) {
    QString file = parser.value(settings);
    if (file.isEmpty()) return UsageError(QStringLiteral("--settings needs a file name."));
    outcome.options.settingsFile = file.toLocal8Bit().toStdString();
  } else if (parser.isSet(userConfig)) {
    outcome.options.settingsFile = UserSettingsFile(configHome).toLocal8Bit().toStdString();
  }
  auto rateOf = [&](const QCommandLineOption& option, uint32_t& rate) -> QString {
    std::optional<uint32_t> parsed = ParseBaudRate(parser.value(option).toStdString());
    if (!parsed) {
      return QStringLiteral("baud rate '%1' is not a whole number from 1 to %2.")
          .arg(parser.value(option))
          .arg(kHighestBaudRate);
    }
    rate = *parsed;
    return {};
  };
  uint32_t rate = 0;
  if (parser.isSet(baud)) {
    if (QString problem = rateOf(baud, rate); !problem.isEmpty()) return UsageError(problem);
    if (!link) {
      outcome.options.baudPos = BaudPosition(rate);
      if (outcome.options.baudPos < 0) outcome.options.typedBaud = rate;
    }
  }
  if ((parser.isSet(baudA) || parser.isSet(baudB)) && !link) {
    return UsageError(QStringLiteral("--baud-a and --baud-b are for --monitor and --bridge."));
  }
  if (link) {
    link->baudA = link->baudB = rate;
    if (parser.isSet(baudA)) {
      if (QString problem = rateOf(baudA, link->baudA); !problem.isEmpty()) {
        return UsageError(problem);
      }
    }
    if (parser.isSet(baudB)) {
      if (QString problem = rateOf(baudB, link->baudB); !problem.isEmpty()) {
        return UsageError(problem);
      }
    }
  }
  const QStringList devices = parser.positionalArguments();
  if (link && (!devices.isEmpty() || parser.isSet(demo))) {
    return UsageError(
        QStringLiteral("--monitor and --bridge open A and B: give them no DEVICE or --demo."));
  }
  if (devices.size() > 1) return UsageError(QStringLiteral("only one DEVICE can be opened."));
  if (parser.isSet(demo) && !devices.isEmpty()) {
    return UsageError(QStringLiteral("--demo opens the demo device: give it no DEVICE."));
  }
  if (parser.isSet(list)) {
    if (!devices.isEmpty() || parser.isSet(demo) || parser.isSet(baud) || link) {
      return UsageError(QStringLiteral(
          "--list opens no port: give it no DEVICE, --demo, --baud, --monitor or --bridge."));
    }
    return PortList(outcome.options.settingsFile);
  }
  outcome.options.demo = parser.isSet(demo);
  outcome.options.link = link;
  if (!devices.isEmpty() && !TakeDeviceArgument(devices.front(), outcome.options)) {
    return UsageError(QStringLiteral("'%1' names no device: give a path, COM1 to COM%2, "
                                     "rfc2217://HOST:PORT or tcp://HOST:PORT.")
                          .arg(devices.front())
                          .arg(kPortCount));
  }
  return outcome;
}

}  // namespace quorvel
