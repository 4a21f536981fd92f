// The spike behind the plot's choice of drawing: Qt Charts (Debian's
// qt6-charts-dev, GPL-3 in its open-source edition) drawing 1,000,000 points
// per line series, against our chart over the same points. Built only where
// Qt Charts is installed; the product never links it.
//   quorvel_chart_spike [SERIES] [FRAMES]
// prints, for each, the UI thread's CPU per frame (median) and the resident
// memory the points added.
#include <QApplication>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "plot/plot_store.h"
#include "ui/plot_chart.h"

namespace {

constexpr int kPoints = 1'000'000;

double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

double Value(int n, int k) {
  double t = n / 10'000.0;
  return std::sin(t * (k + 1) / 4) * 10 + k * 3 + (n * 2654435761u % 1000) / 2000.0;
}

// The median CPU of `frames` frames: `change` (new data, as a live plot
// gets between frames), then a repaint of `widget`.
template <typename Change>
double MedianFrameMs(QWidget& widget, int frames, Change change) {
  std::vector<double> cpu;
  for (int i = 0; i < frames; ++i) {
    double start = ThreadCpuMs();
    change(i);
    widget.repaint();
    cpu.push_back(ThreadCpuMs() - start);
  }
  std::sort(cpu.begin(), cpu.end());
  return cpu[cpu.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  int series = argc > 1 ? std::atoi(argv[1]) : 1;
  int frames = argc > 2 ? std::atoi(argv[2]) : 10;

  long before = ResidentKb();
  quorvel::PlotStore store(kPoints);
  std::vector<std::string> names;
  for (int k = 0; k < series; ++k) names.push_back("s" + std::to_string(k + 1));
  std::vector<quorvel::PlotRow> rows(4096);
  for (int n = 0; n < kPoints; n += 4096) {
    size_t count = std::min(4096, kPoints - n);
    for (size_t i = 0; i < count; ++i) {
      int at = n + static_cast<int>(i);
      rows[i].time = at / 10'000.0;
      rows[i].line.count = series;
      for (int k = 0; k < series; ++k)
        rows[i].line.values[static_cast<size_t>(k)] = {k, Value(at, k)};
    }
    store.Append(rows.data(), count, names);
  }
  quorvel::PlotChart ours;
  ours.SetOptions({quorvel::PlotXAxis::kTime, 0, true, {}});
  ours.Show(store.Snapshot());
  ours.resize(1200, 700);
  ours.show();
  QApplication::processEvents();
  long oursKb = ResidentKb() - before;
  double oursStillMs = MedianFrameMs(ours, frames, [](int) {});
  double oursMs = MedianFrameMs(ours, frames, [&](int) { ours.Show(store.Snapshot()); });

  ours.hide();
  before = ResidentKb();
  auto* chart = new QChart;
  std::vector<QLineSeries*> lines;
  for (int k = 0; k < series; ++k) {
    auto* line = new QLineSeries;
    QList<QPointF> points;
    points.reserve(kPoints);
    for (int n = 0; n < kPoints; ++n) points.append(QPointF(n / 10'000.0, Value(n, k)));
    line->replace(points);
    chart->addSeries(line);
    lines.push_back(line);
  }
  chart->createDefaultAxes();
  QChartView view(chart);
  view.resize(1200, 700);
  view.show();
  QApplication::processEvents();
  long chartsKb = ResidentKb() - before;
  // The view paints on its viewport. Unchanged data repaints from the
  // chart's cached outline; a live plot changes it every frame.
  double chartsStillMs = MedianFrameMs(*view.viewport(), frames, [](int) {});
  double chartsMs = MedianFrameMs(*view.viewport(), frames, [&](int i) {
    for (QLineSeries* line : lines) line->append(kPoints / 10'000.0 + i * 1e-4, 0);
  });

  std::printf("%d series × %d points, %d frames, 1200 × 700\n", series, kPoints, frames);
  std::printf(
      "Qt Charts (QLineSeries): %.1f ms CPU a frame with a point added, %.1f ms "
      "unchanged; %ld MB resident for the points\n",
      chartsMs, chartsStillMs, chartsKb / 1024);
  std::printf(
      "our chart (PlotStore):   %.1f ms CPU a frame with a new snapshot, %.1f ms "
      "unchanged; %ld MB resident for the points\n",
      oursMs, oursStillMs, oursKb / 1024);
  return 0;
}
