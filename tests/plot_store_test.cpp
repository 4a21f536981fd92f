// The plot's store and what a chart reads from it: the store stays within its
// limit, oldest rows first; the per-column spans equal what reading every row
// gives, for dense and sparse series and any range; pausing, zooming and
// resetting give back the ranges they should.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "plot/plot_store.h"
#include "plot/plot_trace.h"
#include "plot/plot_viewport.h"

namespace quorvel {
namespace {

const std::vector<std::string> kNames = {"a", "b"};

// Appends `count` rows, row n at time n / 1000 s: series a = n % 1000 in
// every row, series b = -n only in every `bEvery`-th row.
void AppendRows(PlotStore& store, uint64_t from, uint64_t count, uint64_t bEvery = 1) {
  std::vector<PlotRow> rows;
  for (uint64_t n = from; n < from + count; ++n) {
    PlotRow row;
    row.time = static_cast<double>(n) / 1000;
    row.line.values[0] = {0, static_cast<double>(n % 1000)};
    row.line.count = 1;
    if (n % bEvery == 0) row.line.values[static_cast<size_t>(row.line.count++)] = {1, -double(n)};
    rows.push_back(row);
  }
  store.Append(rows.data(), rows.size(), kNames);
}

TEST(PlotStoreTest, KeepsAtMostItsLimitDroppingTheOldestRows) {
  PlotStore store(kPlotMinMaxPoints);
  for (uint64_t n = 0; n < 100 * kPlotMinMaxPoints; n += 777) AppendRows(store, n, 777);
  auto snapshot = store.Snapshot();
  uint64_t end = (100 * kPlotMinMaxPoints + 776) / 777 * 777;
  EXPECT_EQ(snapshot->EndRow(), end);
  EXPECT_EQ(snapshot->EndRow() - snapshot->FirstRow(), kPlotMinMaxPoints);
  // Memory follows: the chunks kept cover the limit and one partial chunk.
  EXPECT_LE(snapshot->ChunkCount(), kPlotMinMaxPoints / kPlotChunkRows + 2);
  EXPECT_EQ(snapshot->Value(0, snapshot->FirstRow()),
            static_cast<double>(snapshot->FirstRow() % 1000));
  EXPECT_EQ(snapshot->Tally().lines, end);
}

TEST(PlotStoreTest, ASmallerLimitDropsAtOnceAndASnapshotOutlivesIt) {
  PlotStore store(100'000);
  AppendRows(store, 0, 50'000);
  auto before = store.Snapshot();
  store.SetLimit(2000);
  auto after = store.Snapshot();
  EXPECT_EQ(after->FirstRow(), 48'000u);
  // The old snapshot still reads its own rows.
  EXPECT_EQ(before->Value(1, 10), -10.0);
  store.Clear();
  EXPECT_TRUE(store.Snapshot()->Empty());
  EXPECT_EQ(after->Value(0, 49'999), 999.0);
}

struct TraceCase {
  const char* name;
  PlotXAxis axis;
  uint64_t bEvery;  // how sparse series b is
  double x0, x1;    // in seconds or samples
  int columns;
};

class PlotTraceTest : public ::testing::TestWithParam<TraceCase> {};

// Every span must be what a plain reading of every row in its column gives.
TEST_P(PlotTraceTest, SpansEqualReadingEveryRow) {
  const TraceCase& c = GetParam();
  PlotStore store(200'000);
  AppendRows(store, 0, 150'000, c.bEvery);
  store.SetLimit(120'000);  // rows 30,000 on are kept
  auto snapshot = store.Snapshot();
  std::vector<uint64_t> edges = ColumnEdges(*snapshot, c.axis, c.x0, c.x1, c.columns);
  for (int series = 0; series < 2; ++series) {
    PlotTrace trace;
    TraceSeries(*snapshot, c.axis, series, edges, trace);
    ASSERT_EQ(trace.spans.size(), static_cast<size_t>(c.columns));
    for (int column = 0; column < c.columns; ++column) {
      PlotSpan expected;
      for (uint64_t row = edges[column]; row < edges[column + 1]; ++row) {
        double value = snapshot->Value(series, row);
        if (std::isnan(value)) continue;
        if (!expected.any) expected = {true, value, value, value, value};
        expected.last = value;
        expected.least = std::min(expected.least, value);
        expected.most = std::max(expected.most, value);
      }
      const PlotSpan& got = trace.spans[static_cast<size_t>(column)];
      ASSERT_EQ(got.any, expected.any) << "series " << series << " column " << column;
      if (!got.any) continue;
      EXPECT_EQ(got.first, expected.first);
      EXPECT_EQ(got.last, expected.last);
      EXPECT_EQ(got.least, expected.least);
      EXPECT_EQ(got.most, expected.most) << "series " << series << " column " << column;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, PlotTraceTest,
    ::testing::Values(TraceCase{"AllByTime", PlotXAxis::kTime, 1, 30, 150, 977},
                      TraceCase{"AllBySample", PlotXAxis::kSample, 1, 30'000, 150'000, 640},
                      TraceCase{"SparseSeries", PlotXAxis::kSample, 97, 30'000, 150'000, 333},
                      TraceCase{"ZoomedIn", PlotXAxis::kTime, 3, 100.0005, 100.0205, 800},
                      TraceCase{"PastTheEnds", PlotXAxis::kTime, 5, 0, 1000, 500},
                      TraceCase{"OneColumn", PlotXAxis::kSample, 1, 31'000, 140'000, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlotTraceTest, GivesTheNeighboursOutsideAZoom) {
  PlotStore store;
  AppendRows(store, 0, 1000, 10);
  auto snapshot = store.Snapshot();
  // Between samples 501 and 509 series b has no value: it enters from 500
  // and leaves towards 510.
  PlotTrace trace;
  TraceSeries(*snapshot, PlotXAxis::kSample, 1,
              ColumnEdges(*snapshot, PlotXAxis::kSample, 501, 509, 8), trace);
  EXPECT_TRUE(trace.hasBefore);
  EXPECT_EQ(trace.beforeX, 500);
  EXPECT_EQ(trace.beforeValue, -500);
  EXPECT_TRUE(trace.hasAfter);
  EXPECT_EQ(trace.afterX, 510);
}

TEST(PlotViewportTest, FollowsTheLiveEdgeOverItsWindow) {
  PlotStore store;
  AppendRows(store, 0, 20'000);  // 20 s
  PlotViewport viewport;
  EXPECT_EQ(viewport.XRange(*store.Snapshot()), (PlotRange{19.999 - 10, 19.999}));
  viewport.SetOptions({PlotXAxis::kSample, 0, true, {}});
  EXPECT_EQ(viewport.XRange(*store.Snapshot()), (PlotRange{0, 19'999}));
}

TEST(PlotViewportTest, PauseHoldsTheRangeWhileRowsAreStillKept) {
  PlotStore store;
  AppendRows(store, 0, 20'000);
  PlotViewport viewport;
  viewport.Pause(*store.Snapshot());
  PlotRange held = viewport.XRange(*store.Snapshot());
  AppendRows(store, 20'000, 5000);
  auto snapshot = store.Snapshot();
  EXPECT_EQ(snapshot->EndRow(), 25'000u);  // recording went on
  EXPECT_EQ(viewport.XRange(*snapshot), held);
  viewport.Resume();
  EXPECT_EQ(viewport.XRange(*snapshot), (PlotRange{24.999 - 10, 24.999}));
}

TEST(PlotViewportTest, ZoomAndResetRestoreTheRanges) {
  PlotStore store;
  AppendRows(store, 0, 20'000);
  PlotViewport viewport;
  std::vector<PlotTrace> traces(1);
  traces[0].spans = {{true, 1, 2, -5, 7}};
  PlotRange liveY = viewport.YRange(traces, {true});
  EXPECT_EQ(liveY, (PlotRange{-5 - 0.6, 7 + 0.6}));

  // A zoom of a live plot pauses it; Reset makes it live again.
  viewport.Zoom({12, 13}, PlotRange{0, 1}, *store.Snapshot());
  EXPECT_TRUE(viewport.Paused());
  EXPECT_EQ(viewport.XRange(*store.Snapshot()), (PlotRange{12, 13}));
  EXPECT_EQ(viewport.YRange(traces, {true}), (PlotRange{0, 1}));
  viewport.Reset();
  EXPECT_FALSE(viewport.Paused());
  AppendRows(store, 20'000, 1000);
  EXPECT_EQ(viewport.XRange(*store.Snapshot()), (PlotRange{20.999 - 10, 20.999}));
  EXPECT_EQ(viewport.YRange(traces, {true}), liveY);

  // A zoom of a paused plot goes back to the paused range, still paused.
  viewport.Pause(*store.Snapshot());
  PlotRange held = viewport.XRange(*store.Snapshot());
  viewport.Zoom({15, 16}, std::nullopt, *store.Snapshot());
  viewport.Zoom({15.2, 15.4}, std::nullopt, *store.Snapshot());
  viewport.Reset();
  EXPECT_TRUE(viewport.Paused());
  EXPECT_EQ(viewport.XRange(*store.Snapshot()), held);

  // Fixed limits, and a hidden series that does not count for the fit.
  EXPECT_EQ(viewport.YRange(traces, {false}), (PlotRange{0, 1}));
  viewport.SetOptions({PlotXAxis::kTime, 10, false, {-1, 1}});
  EXPECT_EQ(viewport.YRange(traces, {true}), (PlotRange{-1, 1}));
}

TEST(PlotAxisTest, TicksAreRoundSteps) {
  EXPECT_EQ(AxisTicks({0, 10}, 5), (std::vector<double>{0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(AxisTicks({-0.3, 0.25}, 4), (std::vector<double>{-0.2, 0, 0.2}));
  EXPECT_TRUE(AxisTicks({1, 1}, 5).empty());
}

}  // namespace
}  // namespace quorvel
