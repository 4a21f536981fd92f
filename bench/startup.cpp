#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "core/unique_fd.h"
#include "ui/app_icon.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "window_bench.h"

namespace quorvel::bench {
namespace {

int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Ends the event loop once the window's first paint has been handled.
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(std::function<void()> done) : done_(std::move(done)) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen_) {
      seen_ = true;
      // Queued, so it runs after this paint has reached the backing store.
      QMetaObject::invokeMethod(this, done_, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  std::function<void()> done_;
  bool seen_ = false;
};

struct Probe {
  double ms = 0;
  double residentMb = 0;
  bool open = false;
};

// One start in a fresh process; false when the probe failed.
bool RunProbe(Probe& probe, std::string& failure) {
  PtyLine line;
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel_start.XXXXXX").string();
  if (!line.Ok() || !mkdtemp(pattern.data())) {
    failure = "no pseudo-terminal or temporary directory";
    return false;
  }
  std::filesystem::path directory = pattern;
  bool ok = WriteBenchSettings(directory, line.Path());
  int ends[2];
  if (!ok || pipe2(ends, O_CLOEXEC) != 0) {
    failure = "could not prepare the probe";
    return false;
  }
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);  // the child's standard output
  std::string start = std::to_string(MonotonicNs());
  pid_t child = fork();
  if (child == 0) {
    dup2(writeEnd.Get(), 1);
    if (chdir(directory.c_str()) != 0) _exit(127);
    execl("/proc/self/exe", "quorvel_bench", "--startup-probe", start.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  writeEnd.Reset();  // only the child's copy stays: the reads end when it ends
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(readEnd.Get(), buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
  double residentKb = 0;
  int open = 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text.c_str(), "%lf %lf %d", &probe.ms, &residentKb, &open) != 3) {
    failure = "the probe failed: \"" + text + "\"";
    return false;
  }
  probe.residentMb = residentKb / 1024.0;
  probe.open = open != 0;
  return true;
}

}  // namespace

Row MeasureStartup(const BenchOptions& options) {
  Row row;
  row.measure = "Start-up to the window shown with the link open; resident memory then";
  row.terminal = "window";
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  std::vector<double> times;
  std::vector<double> resident;
  int closed = 0;
  for (int i = 0; i < options.startupRuns; ++i) {
    Probe probe;
    std::string failure;
    if (!RunProbe(probe, failure)) {
      row.median = row.p99 = row.max = row.samples = "—";
      row.verdict = "failed";
      row.notes = failure;
      return row;
    }
    times.push_back(probe.ms);
    resident.push_back(probe.residentMb);
    closed += probe.open ? 0 : 1;
  }
  Summary time = Summarise(times);
  Summary memory = Summarise(resident);
  row.median = Milliseconds(time.median) + ", " + Format(memory.median, 1) + " MB";
  row.p99 = Milliseconds(time.p99) + ", " + Format(memory.p99, 1) + " MB";
  row.max = Milliseconds(time.max) + ", " + Format(memory.max, 1) + " MB";
  row.samples = std::to_string(time.count) + " starts";
  row.goal = "≤ 60 ms, ≤ 34 MB";
  row.verdict = time.median <= 60 && memory.median <= 34 && closed == 0 ? "met" : "missed";
  row.notes = "fork to first paint, offscreen; ";
  row.notes +=
      closed == 0 ? "link open every time" : std::to_string(closed) + " starts without the link";
  return row;
}

int StartupProbe(const char* startNs) {
  int64_t start = std::atoll(startNs);
  static int argc = 1;
  static char name[] = "quorvel";
  static char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  QApplication::setWindowIcon(AppIcon());
  SetMessagePresenter([](QWidget*, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
  });
  double ms = 0;
  uint64_t residentKb = 0;
  bool painted = false;
  MainWindow window;
  bool open = window.Link().Port().IsOpen();
  FirstPaint firstPaint([&] {
    ms = static_cast<double>(MonotonicNs() - start) / 1e6;
    residentKb = ResidentKb();
    painted = true;
    application.quit();
  });
  window.installEventFilter(&firstPaint);
  QTimer::singleShot(10'000, &application, [&] { application.quit(); });
  window.show();
  application.exec();
  window.Shutdown();
  if (!painted) {
    std::printf("never painted\n");
    return 1;
  }
  std::printf("%.3f %llu %d\n", ms, static_cast<unsigned long long>(residentKb), open ? 1 : 0);
  return 0;
}

}  // namespace quorvel::bench
