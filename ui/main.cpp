// The application shell: reads the command line, starts the terminal, runs
// its window modally and ends when the window has ended. A script run
// (--script) needs no window: it is handed on before any Qt object exists.
#include <QApplication>
#include <cstdio>

#include "scripting/script_command.h"
#include "ui/app_icon.h"
#include "ui/command_line.h"
#include "ui/main_window.h"

namespace {

QStringList ArgumentsOf(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  return arguments;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::optional<int> code = quorvel::ScriptMain(argc, argv)) return *code;
  // Before the application object: --help and --version need no display.
  quorvel::CommandLine command =
      quorvel::ParseCommandLine(ArgumentsOf(argc, argv), quorvel::ConfigHomeFromEnvironment());
  std::fputs(command.output.toLocal8Bit().constData(), stdout);
  std::fputs(command.errors.toLocal8Bit().constData(), stderr);
  if (!command.run) return command.exitCode;

  QApplication application(argc, argv);
  QApplication::setWindowIcon(quorvel::AppIcon());
  {
    quorvel::MainWindow window(command.options);
    window.exec();
    // The worker is stopped and the port closed before the window goes away.
    window.Shutdown();
  }
  return 0;
}
