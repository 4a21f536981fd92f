#include "scripting/script_command.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "connection/link_session.h"
#include "core/unique_fd.h"
#include "link/line_settings.h"
#include "link/port_names.h"
#include "scripting/session_script_link.h"
#include "settings/settings.h"
#include "settings/settings_file_choice.h"

namespace quorvel {
namespace {

constexpr char kProgram[] = "quorvel";

// The options, as the window's parser names them.
struct OptionRow {
  const char* name;
  bool takesValue;
};
constexpr OptionRow kOptions[] = {
    {"script", true}, {"report", true},   {"tap", false},         {"timeout", true},
    {"baud", true},   {"settings", true}, {"user-config", false}, {"demo", false},
    {"list", false},  {"help", false},    {"version", false},
};

std::string UsageText() {
  return std::string("Usage: ") + kProgram +
         " --script FILE [--report FILE.xml] [--tap] [--timeout S] [--baud RATE]\n"
         "               [--settings FILE | --user-config] [DEVICE]\n";
}

ScriptCommandLine UsageError(ScriptCommandLine line, const std::string& problem) {
  line.ok = false;
  line.errors = std::string(kProgram) + ": " + problem + "\n" + UsageText() + "Try '" + kProgram +
                " --help' for more information.\n";
  return line;
}

bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// "com" and digits, in any case: a COM name, which a file of that name is not.
bool LooksLikeComName(const std::string& text) {
  if (text.size() < 4) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != "com"[i]) return false;
  }
  return std::all_of(text.begin() + 3, text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

// As the window reads DEVICE (ui/command_line.cpp): a COM name gives its
// number, a network port stays as written, a path is made absolute.
bool TakeDevice(const std::string& argument, ScriptCommand& command) {
  if (argument.empty() || HasControlCharacter(argument)) return false;
  if (int number = PortMapNumber(argument); number != 0) {
    command.comNumber = number;
    return true;
  }
  if (LooksLikeComName(argument)) return false;
  command.device = PortTarget::Parse(argument);
  if (command.device && !command.device->IsNetwork()) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(argument, error);
    if (error) return false;
    command.device = PortTarget::Device(absolute.lexically_normal().string());
  }
  return command.device.has_value();
}

std::filesystem::path UserSettingsFile(const UserConfigHome& home) {
  std::filesystem::path base = home.xdgConfigHome;
  if (base.empty() || base.is_relative()) base = std::filesystem::path(home.home) / ".config";
  return base / "quorvel" / kSettingsFileName;
}

// What the settings and the command line make of the port: its target and
// line settings, or why there is none.
struct PortChoice {
  std::optional<PortTarget> target;
  std::string name;  // as the user knows it: "COM3" or the target's text
  std::string refusal;
  LineParameters line;
  LinesAtOpen linesAtOpen;
};

PortChoice ChoosePort(const ScriptCommand& command, std::FILE* errors) {
  SettingsFileChoice file = ChooseSettingsFile(command.settingsFile);
  if (!file.problem.empty()) std::fprintf(errors, "%s: %s\n", kProgram, file.problem.c_str());
  Settings settings = LoadSettingsFile(file.file);
  // The numbers the window would give adapters that have none yet, kept in
  // memory only.
  AssignDetectedPorts(settings.portMap);
  PortNames names;
  for (const auto& [number, path] : settings.portMap) names.Set(number, path);

  LineSelection selection = settings.selection;
  if (command.baud) {
    selection.baudPos = BaudPosition(*command.baud);
    selection.typedBaud = selection.baudPos < 0 ? *command.baud : 0;
  }
  PortChoice choice;
  choice.line = ReadLineSelections(selection);
  choice.linesAtOpen = settings.linesAtOpen;
  if (command.device) {
    choice.target = command.device;
    choice.name = command.device->Text();
    return choice;
  }
  int number = command.comNumber != 0 ? command.comNumber : selection.portPos + 1;
  choice.name = PortMapKey(number);
  choice.target = names.Target(number);
  if (!choice.target) choice.refusal = names.WhyNoTarget(number).Reason();
  return choice;
}

// Waits while a network port connects; the status once it is over, or once
// a stop signal came.
LinkStatus AwaitConnection(LinkSession& session, LinkStatus status, int stopDescriptor) {
  while (status.connecting) {
    pollfd watched[2] = {{session.WakeDescriptor(), POLLIN, 0}, {stopDescriptor, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0 && errno != EINTR) break;
    if (watched[1].revents != 0) break;
    if (watched[0].revents != 0) session.Service();
    status = session.Status();
  }
  return session.Status();
}

}  // namespace

ScriptCommandLine ParseScriptCommandLine(const std::vector<std::string>& arguments,
                                         const UserConfigHome& configHome) {
  ScriptCommandLine line;
  std::vector<std::pair<std::string, std::string>> given;  // name, value
  std::vector<std::string> devices;
  std::string problem;
  bool optionsEnd = false;
  bool sawScript = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnd || argument.size() < 2 || argument[0] != '-') {
      devices.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnd = true;
      continue;
    }
    std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
    std::optional<std::string> value;
    if (size_t equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name == "h") name = "help";
    const OptionRow* row = nullptr;
    for (const OptionRow& option : kOptions) {
      if (name == option.name) row = &option;
    }
    if (!row) {
      if (problem.empty()) problem = "unknown option '" + argument + "'.";
      continue;
    }
    sawScript = sawScript || name == "script";
    if (row->takesValue && !value) {
      if (i + 1 >= arguments.size()) {
        if (problem.empty()) problem = "missing value after '" + argument + "'.";
        continue;
      }
      value = arguments[++i];
    } else if (!row->takesValue && value) {
      if (problem.empty()) problem = "'" + argument + "' takes no value.";
      continue;
    }
    given.emplace_back(name, value.value_or(""));
  }
  auto find = [&](const char* name) -> const std::string* {
    const std::string* found = nullptr;
    for (const auto& [option, value] : given) {
      if (option == name) found = &value;
    }
    return found;
  };
  // Help and the version are the window's to answer, with every option.
  if (!sawScript || find("help") || find("version")) return line;
  line.script = true;
  if (!problem.empty()) return UsageError(line, problem);

  ScriptCommand& command = line.command;
  command.run.script = find("script") ? *find("script") : "";
  if (command.run.script.empty()) return UsageError(line, "--script needs a file name.");
  if (find("demo") || find("list")) {
    return UsageError(line,
                      "--script runs on a DEVICE: for a simulated one, start quorvel-devsim and "
                      "give its path.");
  }
  if (const std::string* report = find("report")) {
    if (report->empty()) return UsageError(line, "--report needs a file name.");
    command.run.report = *report;
  }
  command.run.tap = find("tap") != nullptr;
  if (const std::string* timeout = find("timeout")) {
    std::optional<double> seconds = ParseTimeoutSeconds(*timeout);
    if (!seconds) {
      return UsageError(
          line, "timeout '" + *timeout + "' is not a number of seconds above 0 and up to a week.");
    }
    command.run.timeoutSeconds = *seconds;
  }
  const std::string* settings = find("settings");
  bool userConfig = find("user-config") != nullptr;
  if (settings && userConfig) {
    return UsageError(line, "--settings and --user-config exclude each other.");
  }
  if (settings) {
    if (settings->empty()) return UsageError(line, "--settings needs a file name.");
    command.settingsFile = *settings;
  } else if (userConfig) {
    command.settingsFile = UserSettingsFile(configHome);
  }
  if (const std::string* baud = find("baud")) {
    command.baud = ParseBaudRate(*baud);
    if (!command.baud) {
      return UsageError(line, "baud rate '" + *baud + "' is not a whole number from 1 to " +
                                  std::to_string(kHighestBaudRate) + ".");
    }
  }
  if (devices.size() > 1) return UsageError(line, "only one DEVICE can be opened.");
  if (!devices.empty() && !TakeDevice(devices.front(), command)) {
    return UsageError(line, "'" + devices.front() + "' names no device: give a path, COM1 to COM" +
                                std::to_string(kPortCount) +
                                ", rfc2217://HOST:PORT or tcp://HOST:PORT.");
  }
  line.ok = true;
  return line;
}

int RunScriptCommand(const ScriptCommand& command, std::FILE* out, std::FILE* errors) {
  // Blocked before any thread starts, so that every thread inherits the
  // mask and the signals wait for the loop's signalfd.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  UniqueFd stopSignals(signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK));

  PortChoice port = ChoosePort(command, errors);
  if (!port.target) {
    std::fprintf(errors, "%s: %s cannot be opened: %s\n", kProgram, port.name.c_str(),
                 port.refusal.c_str());
    return 2;
  }
  LinkSession session;
  session.Port().SetLinesAtOpen(port.linesAtOpen);
  LinkStatus status =
      AwaitConnection(session, session.Open(*port.target, port.line), stopSignals.Get());
  if (!status.open) {
    std::string why = session.OpenFailure();
    std::fprintf(errors, "%s: %s cannot be opened: %s\n", kProgram, port.name.c_str(),
                 why.empty() ? "stopped while connecting" : why.c_str());
    session.Shutdown();
    return 2;
  }
  (void)session.Hub().news.Take();  // "Open com fail!" and the like: told above

  int code = 0;
  {
    SessionScriptLink link(session);
    HeadlessOptions options = command.run;
    options.stopDescriptor = stopSignals.Get();
    // The session's own work belongs to this thread: its reopening of a
    // device that went away, and the calls a script hands it.
    options.watched = {
        {session.WakeDescriptor(), [&session] { session.Service(); }},
        {session.Hub().uiCalls.WakeDescriptor(), [&session] { session.Hub().uiCalls.Serve(); }},
    };
    // Taken at each wake of the loop, not watched: the news descriptor also
    // turns readable at every burst received, for a window's counters.
    options.news = [&session] {
      std::vector<std::string> texts = session.Hub().news.Take();
      for (const std::string& text : texts) session.Hub().news.Dismissed(text);
      return texts;
    };
    code = RunScriptHeadless(link, options, out, errors);
    // Before the script's link goes: no worker holds its transfer channel.
    session.Shutdown();
  }
  return code;
}

std::optional<int> ScriptMain(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  ScriptCommandLine line = ParseScriptCommandLine(arguments, {xdg ? xdg : "", home ? home : ""});
  if (!line.script) return std::nullopt;
  if (!line.ok) {
    std::fputs(line.errors.c_str(), stderr);
    return 2;
  }
  int code = RunScriptCommand(line.command, stdout, stderr);
  std::fflush(stdout);
  return code;
}

}  // namespace quorvel
