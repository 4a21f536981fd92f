// The plot as a user meets it: the chart draws a known square wave where it
// belongs, in light and dark palettes; zooming and resetting; "Plot"
// (Ctrl+Shift+P) fed by a device, pausing while recording goes on, the
// export, the session's history, and [Plot] across a restart.
#include <QAction>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QTest>

#include "plot/plot_feed.h"
#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/plot_chart.h"
#include "ui/plot_palette.h"
#include "ui/plot_pane.h"
#include "ui/plot_viewer.h"
#include "ui/session_viewer.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

constexpr int kPeriod = 200;  // samples: high for the first half, low for the second

std::shared_ptr<PlotStore> SquareWave(uint64_t samples) {
  auto store = std::make_shared<PlotStore>(samples);
  std::vector<PlotRow> rows(samples);
  for (uint64_t n = 0; n < samples; ++n) {
    rows[n].time = static_cast<double>(n) / 1000;
    rows[n].line.values[0] = {0, n % kPeriod < kPeriod / 2 ? 1.0 : -1.0};
    rows[n].line.count = 1;
  }
  store->Append(rows.data(), rows.size(), {"square"});
  return store;
}

// Whether `colour` is within one pixel of row `y` in column `x`.
bool ColourNear(const QImage& image, int x, int y, QColor colour) {
  for (int row = y - 1; row <= y + 1; ++row) {
    if (image.pixelColor(x, row).rgb() == colour.rgb()) return true;
  }
  return false;
}

int PixelRow(const PlotChart& chart, double value) {
  PlotRange y = chart.ShownY();
  QRect area = chart.PlotArea();
  return static_cast<int>(area.bottom() + 1 - (value - y.low) / (y.high - y.low) * area.height());
}

std::string Lines(int from, int count) {
  std::string text;
  for (int n = from; n < from + count; ++n) {
    text += "a:" + std::to_string(n) + " b:" + std::to_string(-n) + "\r\n";
  }
  return text;
}

}  // namespace

class PlotTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void squareWaveLandsOnItsRows_data();
  void squareWaveLandsOnItsRows();
  void dragZoomsAndDoubleClickResets();
  void plotFollowsTheDevicePausesAndExports();
  void startsFromTheSessionHistoryAndIsKept();
};

void PlotTest::squareWaveLandsOnItsRows_data() {
  QTest::addColumn<bool>("dark");
  QTest::addColumn<int>("samples");
  QTest::newRow("light, 2,000 points") << false << 2000;
  QTest::newRow("dark, 2,000 points") << true << 2000;
  QTest::newRow("light, 1,000,000 points") << false << 1'000'000;
}

void PlotTest::squareWaveLandsOnItsRows() {
  QFETCH(bool, dark);
  QFETCH(int, samples);
  auto store = SquareWave(static_cast<uint64_t>(samples));
  PlotChart chart;
  QPalette palette = chart.palette();
  palette.setColor(QPalette::Base, dark ? Qt::black : Qt::white);
  palette.setColor(QPalette::Text, dark ? Qt::white : Qt::black);
  chart.setPalette(palette);
  chart.resize(700, 320);
  chart.SetOptions({PlotXAxis::kSample, 0, false, {-2, 2}});
  // Only the first four periods: each column holds at most a few samples.
  chart.Show(store->Snapshot());
  chart.Viewport().Zoom({0, 4 * kPeriod}, std::nullopt, *store->Snapshot());
  QImage image = chart.grab().toImage();
  QColor colour = SeriesColour(0, dark);
  QRect area = chart.PlotArea();
  int high = PixelRow(chart, 1);
  int low = PixelRow(chart, -1);
  int checked = 0;
  for (int x = area.left() + 2; x < area.right() - 2; ++x) {
    double sample = chart.ShownX().low + (x - area.left() + 0.5) / area.width() * (4 * kPeriod);
    int phase = static_cast<int>(sample) % kPeriod;
    if (phase % (kPeriod / 2) < 5 || phase % (kPeriod / 2) > kPeriod / 2 - 5) continue;  // edges
    bool isHigh = phase < kPeriod / 2;
    QVERIFY2(ColourNear(image, x, isHigh ? high : low, colour), qPrintable(QString::number(x)));
    QVERIFY2(!ColourNear(image, x, isHigh ? low : high, colour), qPrintable(QString::number(x)));
    ++checked;
  }
  QVERIFY(checked > area.width() / 2);
  // The edges are vertical strokes: the colour halfway between the levels.
  int edge = area.left() + area.width() / 8;  // sample 100: the first fall
  QVERIFY(ColourNear(image, edge, (high + low) / 2, colour) ||
          ColourNear(image, edge + 1, (high + low) / 2, colour));

  // All kept data, a million points too: both levels in the columns, and a
  // hidden series leaves no trace.
  chart.ResetZoom();
  image = chart.grab().toImage();
  QVERIFY(ColourNear(image, area.center().x(), high, colour));
  QVERIFY(ColourNear(image, area.center().x(), low, colour));
  chart.SetSeriesShown(0, false);
  image = chart.grab().toImage().copy(area);
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2)
      QVERIFY(image.pixelColor(x, y).rgb() != colour.rgb());
  }
}

void PlotTest::dragZoomsAndDoubleClickResets() {
  auto store = SquareWave(5000);
  PlotChart chart;
  chart.resize(600, 300);
  chart.SetOptions({PlotXAxis::kSample, 0, true, {}});
  chart.Show(store->Snapshot());
  chart.grab();
  PlotRange wholeX = chart.ShownX();
  PlotRange wholeY = chart.ShownY();
  QRect area = chart.PlotArea();
  QPoint from = area.topLeft() + QPoint(area.width() / 4, 10);
  QPoint to = area.topLeft() + QPoint(area.width() / 2, area.height() / 2);
  QTest::mousePress(&chart, Qt::LeftButton, {}, from);
  QTest::mouseMove(&chart, to);
  QTest::mouseRelease(&chart, Qt::LeftButton, {}, to);
  chart.grab();
  QVERIFY(chart.Viewport().Paused());
  QVERIFY(std::abs(chart.ShownX().low - (wholeX.low + (wholeX.high - wholeX.low) / 4)) < 20);
  QVERIFY(chart.ShownX().high - chart.ShownX().low < (wholeX.high - wholeX.low) / 3);
  QVERIFY(chart.ShownY().high < wholeY.high);
  QTest::mouseDClick(&chart, Qt::LeftButton, {}, area.center());
  chart.grab();
  QCOMPARE(chart.ShownX(), wholeX);
  QCOMPARE(chart.ShownY(), wholeY);
  QVERIFY(!chart.Viewport().Paused());
}

void PlotTest::plotFollowsTheDevicePausesAndExports() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(!window.Plot().Pane());  // nothing made until first shown
  QCOMPARE(window.Plot().Action(), window.Commands().Action(Command::kPlot));
  QVERIFY(harness.ShowActive());
  QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
  PlotPane* pane = window.Plot().Pane();
  QVERIFY(pane && pane->isVisible());
  QVERIFY(harness.IniText().find("[Plot]\nShown=1\n") != std::string::npos);

  harness.Device().Send(Lines(0, 500));
  QTRY_COMPARE(pane->Chart().Snapshot() ? pane->Chart().Snapshot()->EndRow() : 0, uint64_t{500});
  pane->TogglePause();
  pane->Chart().grab();
  PlotRange held = pane->Chart().ShownX();
  harness.Device().Send(Lines(500, 500));
  // Recording goes on while the drawing holds still.
  QTRY_COMPARE(pane->Chart().Snapshot()->EndRow(), uint64_t{1000});
  pane->Chart().grab();
  QCOMPARE(pane->Chart().ShownX(), held);
  pane->TogglePause();
  pane->Chart().grab();
  QVERIFY(pane->Chart().ShownX().high > held.high);

  QString path = harness.Directory() + QStringLiteral("/plot.csv");
  pane->ExportTo(path);
  QTRY_VERIFY(!pane->Exporting());
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QList<QByteArray> rows = file.readAll().split('\n');
  QCOMPARE(rows.size(), 1002);  // header, 1,000 rows, the end
  QCOMPARE(rows[0], QByteArray("time,a,b"));
  QVERIFY(rows[1000].endsWith(",999,-999"));

  // Hidden, it goes on recording; Clear starts again.
  window.Plot().Action()->trigger();
  QVERIFY(!pane->isVisible());
  harness.Device().Send(Lines(1000, 10));
  QTRY_COMPARE(pane->Store().Snapshot()->EndRow(), uint64_t{1010});
  pane->Clear();
  QTRY_VERIFY(pane->Store().Snapshot()->Empty());
}

void PlotTest::startsFromTheSessionHistoryAndIsKept() {
  TerminalHarness harness("[View]\nSessionView=1\n");
  MainWindow& window = harness.Window();
  harness.Device().Send(Lines(0, 20));
  QTRY_COMPARE(harness.Counters().rxCount, static_cast<uint32_t>(Lines(0, 20).size()));
  window.Plot().SetShown(true);
  harness.Device().Send(Lines(20, 20));
  PlotPane* pane = window.Plot().Pane();
  QTRY_COMPARE(pane->Store().Snapshot()->EndRow(), uint64_t{40});
  auto snapshot = pane->Store().Snapshot();
  for (uint64_t row = 0; row < 40; ++row) QCOMPARE(snapshot->Value(0, row), double(row));
  QVERIFY(!snapshot->Markers().empty());  // the link's opening, from the history

  harness.CloseWindow();  // and a restart: the plot shows again at once
  QTRY_VERIFY(harness.Window().Plot().Shown());
  QVERIFY(harness.Window().Plot().Action()->isChecked());
}

QTEST_MAIN(PlotTest)
#include "plot_test.moc"
