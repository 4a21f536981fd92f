// `quorvel --script FILE [--report FILE.xml] [--tap] [--timeout S]
// [--baud RATE] [--settings FILE | --user-config] [DEVICE]`: a script run
// against a port with no window, no toolkit and no display. The program's
// main asks here first; a command line without --script (or one that asks
// for --help or --version) is the window's.
//
// DEVICE is what the window takes (a device path, COM<n> as [PortMap] maps
// it, rfc2217://HOST:PORT, tcp://HOST:PORT); without one the port the
// settings file selects is opened, as the window opens it. The line settings
// are the settings file's with --baud over them. The settings file is read,
// never written (a CI run leaves the user's file as it was).
//
// Exit codes: the run's (script/script_headless.h), and 2 for a usage error
// or a port that cannot be opened. SIGINT and SIGTERM stop the script as its
// Stop does (a failed step "stopped", exit 1), through a signalfd, so the
// report is still written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "link/port_target.h"
#include "script/script_headless.h"

namespace quorvel {

struct ScriptCommand {
  HeadlessOptions run;  // the script, --report, --tap, --timeout
  std::filesystem::path settingsFile = "Quorvel.ini";
  std::optional<uint32_t> baud;
  int comNumber = 0;                 // COM<n> given as DEVICE
  std::optional<PortTarget> device;  // a path (made absolute) or a network port
};

struct ScriptCommandLine {
  bool script = false;  // a run of a script: --script given, neither --help nor --version
  bool ok = false;      // read whole; else `errors` says why (exit 2)
  std::string errors;
  ScriptCommand command;
};

// Where the user's configuration lives, as the environment says it.
struct UserConfigHome {
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME, used only when absolute
  std::string home;
};

// `arguments` starts with the program's name.
ScriptCommandLine ParseScriptCommandLine(const std::vector<std::string>& arguments,
                                         const UserConfigHome& configHome);

// Opens the port, runs the script and closes the port; the exit code.
int RunScriptCommand(const ScriptCommand& command, std::FILE* out, std::FILE* errors);

// The program's first step: the exit code of a script run, or nothing when
// the command line is the window's.
std::optional<int> ScriptMain(int argc, char** argv);

}  // namespace quorvel
