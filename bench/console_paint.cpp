// The paint of a full 200 × 60 console screen of coloured text: a console
// view of its own rendered whole into an image, as the session view's
// repaint rows measure theirs, so the figure is the view's drawing alone.
#include <QApplication>
#include <QImage>

#include "console/console.h"
#include "measure_common.h"
#include "ui/console_view.h"
#include "window_bench.h"

namespace quorvel::bench {
namespace {

constexpr int kPaints = 300;
constexpr int kPaintRows = 60, kPaintColumns = 200;

void Serve(milliseconds period) {
  for (auto by = Clock::now() + period; Clock::now() < by;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

// A screen of `rows` × `columns` of words, each row placed by a cursor
// move, the colours (foreground, background, bold) changing every 3 words.
std::string ColouredScreen(int rows, int columns) {
  static const char* const kWords[] = {"serial", "line",  "frame", "0x7f", "baud",    "parity",
                                       "ok",     "ERROR", "rx",    "tx",   "timeout", "ack"};
  std::string text = "\x1b[H\x1b[2J";
  int word = 0;
  for (int r = 0; r < rows; ++r) {
    text += "\x1b[" + std::to_string(r + 1) + ";1H";
    for (int column = 0; column < columns; ++word) {
      if (word % 3 == 0) {
        text += "\x1b[0;" + std::string(word % 2 ? "1;" : "") + std::to_string(31 + word % 7) +
                ";" + std::to_string(40 + word / 3 % 8) + "m";
      }
      std::string piece = std::string(kWords[word % 12]) + " ";
      piece.resize(std::min<size_t>(piece.size(), static_cast<size_t>(columns - column)));
      text += piece;
      column += static_cast<int>(piece.size());
    }
  }
  return text + "\x1b[0m\x1b[H";
}

}  // namespace

Row MeasureConsolePaint() {
  const std::string measure = kConsolePaintName;
  EnsureApplication();
  Progress(measure, WindowTerminalName());
  Console console(
      kPaintRows, kPaintColumns, ConsoleOptions{}, [](std::vector<uint8_t>) {},
      [](std::vector<uint8_t>, Console::PieceWritten written) { written(true); });
  ConsoleView view(console, nullptr);
  view.resize(1600, 1000);
  view.show();
  QApplication::processEvents();
  // The grid follows the size: grow or shrink by the cells missing.
  for (int i = 0; i < 4 && (view.Columns() != kPaintColumns || view.Rows() != kPaintRows); ++i) {
    QSize cell = view.CellRect(0, 0).size();
    view.resize(view.width() + (kPaintColumns - view.Columns()) * cell.width(),
                view.height() + (kPaintRows - view.Rows()) * cell.height());
    Serve(milliseconds(100));
    view.Refresh();
  }
  std::string screen = ColouredScreen(view.Rows(), view.Columns());
  console.Received(reinterpret_cast<const uint8_t*>(screen.data()),
                   static_cast<int>(screen.size()));
  int lastRow = view.Rows() - 1;
  auto filled = [&] {
    view.Refresh();
    return lastRow >= 0 && view.Screen().cursor.row == 0 &&
           RowText(view.Screen().screen[static_cast<size_t>(lastRow)]).size() >=
               static_cast<size_t>(view.Columns() - 1);
  };
  for (auto by = Clock::now() + std::chrono::seconds(5); !filled() && Clock::now() < by;) {
    Serve(milliseconds(10));
  }
  if (!filled()) return Failed(measure, WindowTerminalName(), "the screen was not filled");
  QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  std::vector<double> samples, cpu;
  for (int i = 0; i < kWarmUp + kPaints; ++i) {
    Clock::time_point start = Clock::now();
    double cpuStart = ThreadCpuMs();
    view.viewport()->render(&image);
    if (i < kWarmUp) continue;
    cpu.push_back(ThreadCpuMs() - cpuStart);
    samples.push_back(MillisecondsBetween(start, Clock::now()));
  }
  Row row;
  row.measure = measure;
  row.terminal = WindowTerminalName();
  Summary summary = AddLatencyFigures(row, samples);
  row.samples = std::to_string(samples.size()) + " paints";
  row.goal = "< 4 ms";
  row.verdict = summary.median < 4.0 ? "met" : "missed";
  row.notes = "the viewport rendered whole into an image, grid " + std::to_string(view.Columns()) +
              " × " + std::to_string(view.Rows()) + " (" +
              std::to_string(view.viewport()->width()) + "×" +
              std::to_string(view.viewport()->height()) + " px); CPU time median " +
              Milliseconds(Summarise(cpu).median);
  return row;
}

}  // namespace quorvel::bench
