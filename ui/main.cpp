// The application shell: starts the terminal, runs its window modally and
// ends when the window has ended. No command line, no socket layer to start.
#include <QApplication>

#include "ui/app_icon.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setWindowIcon(quorvel::AppIcon());
  {
    quorvel::MainWindow window;
    window.exec();
    // The worker is stopped and the port closed before the window goes away.
    window.Shutdown();
  }
  return 0;
}
