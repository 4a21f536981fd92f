// The terminal's command line: the port to open, its baud rate and where the
// settings are kept; --help, --version and --list answer and end the program.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/startup_options.h"

namespace quorvel {

// Where the user's configuration directories are, from the environment.
struct ConfigHome {
  QString xdgConfigHome;  // $XDG_CONFIG_HOME, used only when absolute
  QString home;           // the home directory
};
ConfigHome ConfigHomeFromEnvironment();

struct CommandLine {
  bool run = true;   // false: print the texts and end with exitCode
  int exitCode = 0;  // 0 after --help, --version and --list, 2 for a usage error
  QString output;    // for standard output
  QString errors;    // for standard error
  StartupOptions options;
};

// `arguments` starts with the program's name. Needs no application object.
// --list reads the settings file (its [PortMap]), sysfs and /dev.
CommandLine ParseCommandLine(const QStringList& arguments, const ConfigHome& configHome);

}  // namespace quorvel
