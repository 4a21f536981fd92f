// The console (View › Console) in the real window on the bench's
// pseudo-terminal: 5 MB of coloured text to quiet (the console's screen
// caught up and painted with the last line), the console idle once the
// cursor stopped blinking, and a key from the view to the device's side of
// the line; the paint row is console_paint.cpp's.
#include <sys/types.h>
#include <unistd.h>
#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "console/console.h"
#include "measure_common.h"
#include "ui/console_view.h"
#include "ui/console_viewer.h"
#include "ui/main_window.h"
#include "window_bench.h"

namespace quorvel::bench {
namespace {

constexpr char kFloodName[] = "Console: 5 MB of coloured text to quiet";
constexpr char kKeyName[] = "Console: a key from the view to the device's side of the line";
constexpr char kIdleName[] = "Console: idle, shown, no traffic";

constexpr size_t kFloodBytes = 5'000'000;
constexpr int kKeys = 200;
// The view's cursor blinks for 10 s after the last key or change.
constexpr auto kBlinkStops = std::chrono::seconds(11);

// Serves the UI thread's events until `done` holds or `limit` passed.
bool ServeUntil(const std::function<bool()>& done, milliseconds limit) {
  auto by = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > by) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Lines as `ls --color` and a compiler print them: a colour change every
// few words, numbered so that no two are alike.
std::string ColouredLines(size_t bytes) {
  std::string text;
  text.reserve(bytes + 200);
  for (size_t n = 0; text.size() < bytes; ++n) {
    std::string number = std::to_string(n);
    switch (n % 4) {
      case 0:
        text +=
            "\x1b[0m\x1b[01;34mbuild\x1b[0m  \x1b[01;32mconfigure\x1b[0m  README.md  "
            "\x1b[01;36mlib64\x1b[0m  \x1b[01;31mdist-" +
            number + ".tar.gz\x1b[0m  notes.txt\r\n";
        break;
      case 1:
        text += "src/console/emulator.cpp:" + number +
                ":17: \x1b[01;31m\x1b[Kerror: \x1b[m\x1b[K'cell' was not declared in this scope; "
                "did you mean '\x1b[01;32m\x1b[Kcells\x1b[m\x1b[K'?\r\n";
        break;
      case 2:
        text += "src/ui/console_view.cpp:" + number +
                ":9: \x1b[01;35m\x1b[Kwarning: \x1b[m\x1b[Kunused variable '\x1b[01m\x1b[Krow"
                "\x1b[m\x1b[K' [\x1b[01;35m\x1b[K-Wunused-variable\x1b[m\x1b[K]\r\n";
        break;
      default:
        text += "  " + number +
                " | \x1b[01;32m\x1b[Kint\x1b[m\x1b[K row = \x1b[33mcopy_\x1b[0m"
                ".cursor.row;  \x1b[36m// the cursor's row\x1b[0m\r\n";
    }
  }
  return text;
}

// Posts `call` to run once a paint of the watched widget has been done.
class AfterPaint : public QObject {
 public:
  explicit AfterPaint(std::function<void()> call) : call_(std::move(call)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) QTimer::singleShot(0, this, call_);
    return false;
  }

 private:
  std::function<void()> call_;
};

// The real window on the bench's line, its settings in a directory of its
// own; Open shows the console as View › Console does.
class ConsoleWindow {
 public:
  ConsoleWindow() {
    EnsureApplication();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvel_bench.XXXXXX").string();
    if (mkdtemp(pattern.data())) directory_ = pattern;
  }
  ~ConsoleWindow() {
    if (window_) window_->Shutdown();
    window_.reset();
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }
  ConsoleWindow(const ConsoleWindow&) = delete;
  ConsoleWindow& operator=(const ConsoleWindow&) = delete;

  // "" once the link is open and the console shows, else what failed.
  std::string Open(const std::string& devicePath) {
    if (directory_.empty() || !WriteBenchSettings(directory_, devicePath)) {
      return "no settings file";
    }
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(directory_);
    window_ = std::make_unique<MainWindow>();
    std::filesystem::current_path(previous);
    window_->show();
    if (!ServeUntil([&] { return window_->Link().Port().IsOpen(); }, std::chrono::seconds(6))) {
      return "the link did not open";
    }
    std::vector<pid_t> before = Tasks();
    window_->ConsoleMode().SetShown(true);
    for (pid_t tid : Tasks()) {
      if (std::find(before.begin(), before.end(), tid) == before.end()) started_.push_back(tid);
    }
    if (!ServeUntil([&] { return View().isVisible() && View().Rows() > 0; },
                    std::chrono::seconds(5))) {
      return "the console did not show";
    }
    return {};
  }

  ConsoleView& View() { return *window_->ConsoleMode().View(); }
  Console& Terminal() { return *window_->ConsoleMode().Terminal(); }
  // The threads that started with the console: its own, when it is one.
  pid_t ConsoleTid() const { return started_.size() == 1 ? started_[0] : 0; }
  std::string Grid() {
    return std::to_string(View().Columns()) + " × " + std::to_string(View().Rows());
  }

 private:
  std::filesystem::path directory_;
  std::unique_ptr<MainWindow> window_;
  std::vector<pid_t> started_;
};

bool ShowsLastLine(const ConsoleView& view, const std::string& line) {
  const ScreenCopy& screen = view.Screen();
  int row = screen.cursor.row - 1;
  return row >= 0 && row < static_cast<int>(screen.screen.size()) &&
         RowText(screen.screen[static_cast<size_t>(row)]) == line;
}

Row FloodToQuiet(ConsoleWindow& window, PtyLine& line, const BenchOptions& options) {
  const std::string measure = kFloodName;
  Progress(measure, WindowTerminalName());
  ConsoleView& view = window.View();
  std::vector<double> rates;
  for (int run = 0; run < options.streamRuns; ++run) {
    const std::string last = "flood-done-" + std::to_string(run);
    const std::string text = ColouredLines(kFloodBytes - last.size() - 2) + last + "\r\n";
    QEventLoop loop;
    Clock::time_point painted{};
    AfterPaint watch([&] {
      if (painted == Clock::time_point{} && ShowsLastLine(view, last)) {
        painted = Clock::now();
        loop.quit();
      }
    });
    view.viewport()->installEventFilter(&watch);
    QTimer::singleShot(120'000, &loop, &QEventLoop::quit);
    Clock::time_point start = Clock::now();
    std::atomic<bool> written{false};
    std::thread device([&] {
      written = line.WriteAll(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                              DeadlineIn(std::chrono::seconds(120)));
      if (!written) QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    device.join();
    view.viewport()->removeEventFilter(&watch);
    if (!written) return Failed(measure, WindowTerminalName(), "the line did not take the text");
    if (painted == Clock::time_point{}) {
      return Failed(measure, WindowTerminalName(), "the last line was not painted within 120 s");
    }
    rates.push_back(static_cast<double>(text.size()) / 1e6 /
                    (MillisecondsBetween(start, painted) / 1e3));
  }
  Summary summary = Summarise(rates);
  Row row;
  row.measure = measure;
  row.terminal = WindowTerminalName();
  row.median = Format(summary.median, 2) + " MB/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(rates.size()) + " runs";
  row.goal = "≥ 3× GtkTerm's MB/s (peer bench)";
  std::string all;
  for (double rate : rates) all += (all.empty() ? "" : ", ") + Format(rate, 2);
  row.notes = "runs " + all +
              " MB/s; from the device's first write to the paint with its last "
              "line; grid " +
              window.Grid() + ", receive box behind it; " +
              std::to_string(window.Terminal().DroppedBytes()) + " bytes dropped";
  return row;
}

Row KeyToLine(ConsoleWindow& window, PtyLine& line) {
  const std::string measure = kKeyName;
  Progress(measure, WindowTerminalName());
  ConsoleView& view = window.View();
  view.setFocus();
  line.Drain(100);
  const int total = kWarmUp + kKeys;
  std::vector<Clock::time_point> sent(static_cast<size_t>(total)),
      arrived(static_cast<size_t>(total));
  std::atomic<int> read{0};
  QObject relay;
  QEventLoop* waiting = nullptr;
  std::thread device([&] {
    uint8_t buffer[64];
    auto by = Clock::now() + std::chrono::seconds(30);
    while (read.load() < total && Clock::now() < by) {
      size_t got = line.ReadSome(buffer, sizeof buffer, 100);
      if (got == 0) continue;
      Clock::time_point now = Clock::now();
      int from = read.load();
      for (size_t i = 0; i < got && from + static_cast<int>(i) < total; ++i) {
        arrived[static_cast<size_t>(from) + i] = now;
      }
      read.store(std::min(total, from + static_cast<int>(got)));
      QMetaObject::invokeMethod(
          &relay,
          [&] {
            if (waiting) waiting->quit();
          },
          Qt::QueuedConnection);
    }
  });
  bool lost = false;
  for (int i = 0; i < total && !lost; ++i) {
    QChar letter(static_cast<char16_t>(u'a' + i % 26));
    auto keyCode = static_cast<Qt::Key>(Qt::Key_A + i % 26);
    QKeyEvent press(QEvent::KeyPress, keyCode, Qt::NoModifier, QString(letter));
    QKeyEvent release(QEvent::KeyRelease, keyCode, Qt::NoModifier, QString(letter));
    QEventLoop loop;
    waiting = &loop;
    auto by = Clock::now() + std::chrono::seconds(5);
    sent[static_cast<size_t>(i)] = Clock::now();
    QApplication::sendEvent(&view, &press);
    QApplication::sendEvent(&view, &release);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    while (read.load() <= i && Clock::now() < by) loop.exec();
    waiting = nullptr;
    lost = read.load() <= i;
  }
  device.join();
  if (lost) {
    return Failed(measure, WindowTerminalName(), "a key's byte did not reach the line in 5 s");
  }
  std::vector<double> samples;
  for (int i = kWarmUp; i < total; ++i) {
    samples.push_back(
        MillisecondsBetween(sent[static_cast<size_t>(i)], arrived[static_cast<size_t>(i)]));
  }
  Row row;
  row.measure = measure;
  row.terminal = WindowTerminalName();
  Summary summary = AddLatencyFigures(row, samples);
  row.goal = "≤ 1 ms";
  row.verdict = summary.median <= 1.0 ? "met" : "missed";
  row.notes =
      "a key event sent to the console view until the device's read of its byte, one key "
      "at a time, after " +
      std::to_string(kWarmUp) + " warm-up keys";
  return row;
}

Row IdleShown(ConsoleWindow& window, const BenchOptions& options) {
  const std::string measure =
      std::string(kIdleName) + ", " + std::to_string(options.idleSeconds) + " s";
  Progress(measure, WindowTerminalName());
  pid_t console = window.ConsoleTid();
  pid_t ui = getpid();
  IdleFigures figures;
  Switches ui0, ui1;
  QEventLoop loop;
  std::thread sampler([&] {
    std::this_thread::sleep_for(kBlinkStops);
    ui0 = TaskSwitches(ui).value_or(Switches{});
    figures = SampleIdle(options.idleSeconds, console);
    ui1 = TaskSwitches(ui).value_or(Switches{});
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  sampler.join();
  double seconds = options.idleSeconds;
  double uiWakeups = static_cast<double>(ui1.voluntary - ui0.voluntary) / seconds;
  Row row;
  row.measure = measure;
  row.terminal = WindowTerminalName();
  row.median = Format(figures.cpuPercent, 3) + " % CPU, " +
               (console != 0 ? Format(figures.workerWakeups, 1) : std::string("?")) + " wake-ups/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  row.goal = "0 wake-ups/s";
  row.verdict = console != 0 && figures.workerWakeups <= 0.1 && uiWakeups <= 0.1 ? "met" : "missed";
  row.notes = "after the flood and key rows (when they ran), " +
              std::to_string(kBlinkStops.count()) +
              " s for the cursor to stop blinking; wake-ups of the console's thread" +
              (console != 0 ? "" : " (not told apart from the others that started with it)") +
              ", the UI thread " + Format(uiWakeups, 1) + "/s, all threads " +
              Format(figures.processWakeups, 1) + "/s; CPU of the whole process";
  return row;
}

}  // namespace

std::vector<Row> MeasureConsole(const BenchOptions& options,
                                const std::function<bool(const std::string&)>& selected) {
  std::vector<Row> rows;
  if (selected(kFloodName) || selected(kKeyName) || selected(kIdleName)) {
    PtyLine line;
    ConsoleWindow window;
    std::string failure = line.Ok() ? window.Open(line.Path()) : "no pseudo-terminal";
    if (!failure.empty()) return {Failed("Console", WindowTerminalName(), failure)};
    if (selected(kFloodName)) rows.push_back(FloodToQuiet(window, line, options));
    if (selected(kKeyName)) rows.push_back(KeyToLine(window, line));
    if (selected(kIdleName)) rows.push_back(IdleShown(window, options));
  }
  if (selected(kConsolePaintName)) rows.push_back(MeasureConsolePaint());
  return rows;
}

}  // namespace quorvel::bench
