// The application shell: reads the command line, starts the terminal, runs
// its window modally and ends when the window has ended.
#include <QApplication>
#include <cstdio>

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
