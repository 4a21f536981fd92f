// The session view over 100 MB of history: how long one repaint takes when
// the user pages through it and drags the scroll bar to anywhere in it. The
// view lays out and paints only the lines on screen, so the figure should
// not depend on the history's size.
#include <time.h>
#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include <cstdio>
#include <random>

#include "history/session_store.h"
#include "ui/session_view.h"
#include "window_bench.h"

namespace quorvel::bench {
namespace {

constexpr uint64_t kHistoryBytes = 100'000'000;
constexpr int kSamplesPerWay = 300;

// Lines of 20 to 120 printable bytes, a TX line now and then, 1 ms apart.
void Fill(SessionStore& store) {
  std::mt19937 random(19);
  std::vector<uint8_t> line;
  int64_t ns = 0, wallMs = 1'780'000'000'000;
  for (uint64_t kept = 0; kept < kHistoryBytes; kept += line.size()) {
    line.assign(20 + random() % 100, 0);
    for (uint8_t& byte : line) byte = static_cast<uint8_t>(0x20 + random() % 0x5f);
    line.back() = '\n';
    SessionKind kind = random() % 8 == 0 ? SessionKind::kSent : SessionKind::kReceived;
    store.AppendAt(kind, SessionEvent::kNone, line.data(), line.size(), ns, wallMs);
    ns += 1'000'000;
    ++wallMs;
  }
}

// Lays out and paints the screen into an image: the view's whole work for a
// frame, without the platform's flush (which differs between platforms).
// The UI thread's own CPU time, which a loaded machine does not inflate.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double TimedRepaint(SessionView& view, QImage& image, std::vector<double>& cpu) {
  Clock::time_point start = Clock::now();
  double cpuStart = ThreadCpuMs();
  view.viewport()->render(&image);
  cpu.push_back(ThreadCpuMs() - cpuStart);
  return MillisecondsBetween(start, Clock::now());
}

Row MeasureDisplay(SessionStore& store, SessionView& view, SessionDisplay display) {
  view.SetDisplay(display);
  view.Sync();
  QScrollBar* bar = view.verticalScrollBar();
  std::mt19937 random(display == SessionDisplay::kHex ? 2 : 1);
  std::vector<double> samples, cpu;
  QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  for (int i = 0; i < kSamplesPerWay; ++i) {
    // A drag lands anywhere; a page goes one screen down from there.
    bar->setValue(static_cast<int>(random() % static_cast<unsigned>(bar->maximum() + 1)));
    samples.push_back(TimedRepaint(view, image, cpu));
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    samples.push_back(TimedRepaint(view, image, cpu));
  }
  Summary time = Summarise(samples);
  Summary cpuTime = Summarise(cpu);
  SessionCounts counts = store.Counts(display);
  Row row;
  row.measure = std::string("Session view: paging and dragging through 100 MB, ") +
                (display == SessionDisplay::kHex ? "hex" : "text");
  row.terminal =
      QGuiApplication::platformName() == QStringLiteral("xcb") ? "window, X server" : "window";
  row.median = Milliseconds(time.median);
  row.p99 = Milliseconds(time.p99);
  row.max = Milliseconds(time.max);
  row.samples = std::to_string(time.count) + " repaints";
  row.goal = "≤ 16 ms";
  row.verdict = time.p99 <= 16 ? "met" : "missed";
  row.notes = std::to_string(counts.endLine - counts.firstLine) +
              " lines, stamps and TX shown; CPU time median " + Milliseconds(cpuTime.median) +
              ", p99 " + Milliseconds(cpuTime.p99);
  return row;
}

}  // namespace

std::vector<Row> MeasureSessionScroll(const BenchOptions&) {
  EnsureApplication();
  std::fprintf(stderr, "bench: session view over 100 MB\n");
  SessionStore store(kSessionLimitMax);
  Fill(store);
  SessionView view(store, nullptr);
  view.resize(450, 330);  // about the receive box's size
  view.show();
  std::vector<Row> rows;
  for (SessionDisplay display : {SessionDisplay::kText, SessionDisplay::kHex}) {
    rows.push_back(MeasureDisplay(store, view, display));
  }
  return rows;
}

}  // namespace quorvel::bench
