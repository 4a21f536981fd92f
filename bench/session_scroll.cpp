// The session view over 100 MB of history: how long one repaint takes when
// the user pages through it and drags the scroll bar to anywhere in it. The
// view lays out and paints only the lines on screen, so the figure should
// not depend on the history's size. And the repaint of a view that follows a
// flood, at the receive box's size and at a large window's, where every
// publish brings a screen of new lines.
#include <time.h>
#include <QApplication>
#include <QImage>
#include <QScrollBar>

#include <cstdio>
#include <random>
#include <string>

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

// A row of repaint times (wall and CPU, ms) against one frame; `what` says
// what was on screen.
Row RepaintRow(const std::string& measure, const std::vector<double>& samples,
               const std::vector<double>& cpu, const std::string& what) {
  Summary time = Summarise(samples);
  Summary cpuTime = Summarise(cpu);
  Row row;
  row.measure = measure;
  row.terminal =
      QGuiApplication::platformName() == QStringLiteral("xcb") ? "window, X server" : "window";
  row.median = Milliseconds(time.median);
  row.p99 = Milliseconds(time.p99);
  row.max = Milliseconds(time.max);
  row.samples = std::to_string(time.count) + " repaints";
  row.goal = "≤ 16 ms";
  row.verdict = time.p99 <= 16 ? "met" : "missed";
  row.notes = what + ", stamps and TX shown; CPU time median " + Milliseconds(cpuTime.median) +
              ", p99 " + Milliseconds(cpuTime.p99);
  return row;
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
  SessionCounts counts = store.Counts(display);
  return RepaintRow(std::string("Session view: paging and dragging through 100 MB, ") +
                        (display == SessionDisplay::kHex ? "hex" : "text"),
                    samples, cpu, std::to_string(counts.endLine - counts.firstLine) + " lines");
}

// The peer bench's text: 62 printable characters and CR LF, numbered.
void AppendFloodLines(SessionStore& store, uint64_t& number, int count) {
  std::string text;
  for (int i = 0; i < count; ++i, ++number) {
    char line[65];
    std::snprintf(line, sizeof line, "%07llu ", static_cast<unsigned long long>(number));
    for (int k = 0; k < 54; ++k) line[8 + k] = static_cast<char>(33 + (number + k) % 94);
    line[62] = '\r';
    line[63] = '\n';
    text.append(line, 64);
  }
  store.Received(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

// Counts the paints a widget gets.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

Row MeasureFollowing(QSize size) {
  SessionStore store;
  uint64_t number = 0;
  AppendFloodLines(store, number, 80'000);  // 5 MB
  SessionView view(store, nullptr);
  view.resize(size);
  view.show();
  QApplication::processEvents();
  PaintCounter barPaints;
  view.verticalScrollBar()->installEventFilter(&barPaints);
  std::vector<double> samples, cpu;
  for (int i = 0; i < kSamplesPerWay; ++i) {
    AppendFloodLines(store, number, 200);  // a screen and more since the last publish
    // What the publish changed is painted by the window's own repaint, as
    // on screen: the lines, and the scroll bar where it changed.
    Clock::time_point start = Clock::now();
    double cpuStart = ThreadCpuMs();
    view.Sync();
    QApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    cpu.push_back(ThreadCpuMs() - cpuStart);
    samples.push_back(MillisecondsBetween(start, Clock::now()));
  }
  Row row =
      RepaintRow("Session view: a repaint while following a flood, " +
                     std::to_string(size.width()) + "×" + std::to_string(size.height()) + " view",
                 samples, cpu, std::to_string(view.ShownRows().size()) + " rows of 64-byte lines");
  row.notes += "; scroll bar painted " + std::to_string(barPaints.paints) + " times";
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
  // The receive box's size, and the view of a 1600 × 1000 window.
  for (QSize size : {QSize(450, 330), QSize(1370, 855)}) rows.push_back(MeasureFollowing(size));
  return rows;
}

}  // namespace quorvel::bench
