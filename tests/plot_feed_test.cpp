// The plot's feed: runs of received bytes become rows however the lines are
// cut across runs; what cannot be read is counted, never kept; events become
// markers; a session history comes first and no run twice; and an export of
// a 1 kHz stream over 10 s reads back as exactly the values sent.
#include "plot/plot_feed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "history/session_store.h"
#include "plot/plot_export.h"
#include "support/recording_window.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

constexpr int64_t kMsNs = 1'000'000;

class FeedFixture {
 public:
  explicit FeedFixture(const SessionStore* history = nullptr) { feed.Start(history); }
  // Hands `runs` over, 1 ms apart from `startMs` on, and waits until parsed.
  void Feed(const std::vector<std::string>& runs, int64_t startMs = 1000) {
    for (const std::string& run : runs) {
      feed.ReceivedAt(reinterpret_cast<const uint8_t*>(run.data()), run.size(),
                      (startMs++) * kMsNs + base);
    }
    Settle();
  }
  void Settle() {
    ASSERT_TRUE(testing::RecordingWindow::WaitFor([&] { return feed.Idle(); }));
  }
  // Every kept value of series `name`, in row order.
  std::vector<double> Series(const std::string& name) {
    auto snapshot = store.Snapshot();
    std::vector<double> values;
    const auto& names = snapshot->Names();
    auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) return values;
    int series = static_cast<int>(found - names.begin());
    for (uint64_t row = snapshot->FirstRow(); row < snapshot->EndRow(); ++row) {
      double value = snapshot->Value(series, row);
      if (!std::isnan(value)) values.push_back(value);
    }
    return values;
  }

  int64_t base = PlotNowNs();
  PlotStore store;
  PlotFeed feed{store};
};

struct SplitCase {
  const char* name;
  std::vector<std::string> runs;
  std::vector<double> values;  // of series "v", or of "1" for lists
  uint64_t skipped;
};

class PlotFeedSplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PlotFeedSplitTest, CutsLinesAcrossRuns) {
  FeedFixture fixture;
  fixture.Feed(GetParam().runs);
  auto snapshot = fixture.store.Snapshot();
  std::vector<double> values = fixture.Series("v");
  if (values.empty()) values = fixture.Series("1");
  EXPECT_EQ(values, GetParam().values);
  EXPECT_EQ(snapshot->Tally().skippedLines, GetParam().skipped);
}

const std::string kLongLine = "v:" + std::string(kPlotMaxLineBytes, '1');

INSTANTIATE_TEST_SUITE_P(
    Runs, PlotFeedSplitTest,
    ::testing::Values(SplitCase{"Lf", {"v:1\nv:2\n"}, {1, 2}, 0},
                      SplitCase{"CrLfSplitBetweenRuns", {"v:1\r", "\nv:2\r\n"}, {1, 2}, 0},
                      SplitCase{"LoneCr", {"v:1\rv:2\r"}, {1, 2}, 0},
                      SplitCase{
                          "LineCutAnywhere", {"v", ":1", "2.", "5\nv:3", "4\n"}, {12.5, 34}, 0},
                      SplitCase{"BlankLinesAreNotCounted", {"\n\r\n\r\rv:1\n"}, {1}, 0},
                      SplitCase{"NoNumberIsCounted", {"hello\nv:nan\nv:2\n"}, {2}, 2},
                      SplitCase{"UnendedLineWaits", {"v:1\nv:2"}, {1}, 0},
                      SplitCase{"OverlongLineSkippedWhole",
                                {kLongLine.substr(0, 3000), kLongLine.substr(3000), "9\nv:5\n"},
                                {5},
                                1},
                      SplitCase{"ListOfNumbers", {"5,6\n7;8\n"}, {5, 7}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlotFeedTest, EventsBecomeMarkersAndClearForgetsAll) {
  FeedFixture fixture;
  fixture.Feed({"v:1\n"});
  fixture.feed.Noted(LineEvent::kLinkClosed, "/dev/pts/3");
  fixture.feed.Noted(LineEvent::kBreakSent, "");  // not a marker
  fixture.feed.Noted(LineEvent::kLinkOpened, "/dev/pts/3 9600,8,N,1");
  fixture.Settle();
  auto snapshot = fixture.store.Snapshot();
  ASSERT_EQ(snapshot->Markers().size(), 2u);
  EXPECT_EQ(snapshot->Markers()[0].event, LineEvent::kLinkClosed);
  EXPECT_EQ(snapshot->Markers()[1].text, "/dev/pts/3 9600,8,N,1");
  EXPECT_EQ(snapshot->Markers()[1].row, 1u);

  fixture.feed.Clear();
  fixture.Feed({"w:2\n"}, 5000);
  snapshot = fixture.store.Snapshot();
  EXPECT_EQ(snapshot->Names(), std::vector<std::string>{"w"});
  EXPECT_EQ(snapshot->EndRow(), 1u);
  EXPECT_TRUE(snapshot->Markers().empty());
}

TEST(PlotFeedTest, StartsFromTheSessionHistoryWithoutTakingARunTwice) {
  SessionStore history;
  int64_t base = PlotNowNs() - 10'000 * kMsNs;
  auto put = [&](SessionKind kind, const std::string& bytes, int64_t ms) {
    history.AppendAt(kind, kind == SessionKind::kEvent ? LineEvent::kLinkOpened : LineEvent::kNone,
                     reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                     base + ms * kMsNs, 0);
  };
  put(SessionKind::kEvent, "opened", 0);
  put(SessionKind::kReceived, "v:1\nv:", 1000);
  put(SessionKind::kSent, "READ\r\n", 1500);
  put(SessionKind::kReceived, "2\n", 2000);
  // A run the tap saw too: the history stamps it after the tap's first run.
  FeedFixture fixture(&history);
  fixture.base = base;
  fixture.feed.ReceivedAt(reinterpret_cast<const uint8_t*>("v:3\n"), 4, base + 3000 * kMsNs);
  put(SessionKind::kReceived, "v:3\n", 3001);
  fixture.Feed({"v:4\n"}, 4000);
  EXPECT_EQ(fixture.Series("v"), (std::vector<double>{1, 2, 3, 4}));
  auto snapshot = fixture.store.Snapshot();
  ASSERT_EQ(snapshot->Markers().size(), 1u);
  // Times count from the history's first run.
  EXPECT_DOUBLE_EQ(snapshot->Markers()[0].time, 0);
  EXPECT_DOUBLE_EQ(snapshot->Time(snapshot->EndRow() - 1), 4.0);
}

// Reads the CSV back: the header's names, then each row's cells.
std::vector<std::vector<std::string>> ReadCsv(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::stringstream cellStream(line);
    for (std::string cell; std::getline(cellStream, cell, ',');) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.emplace_back();
    rows.push_back(cells);
  }
  return rows;
}

TEST(PlotFeedTest, ExportReadsBackAsTheValuesSentAtOneKilohertzForTenSeconds) {
  FeedFixture fixture;
  std::vector<std::string> runs;
  std::vector<double> sent;
  for (int n = 0; n < 10'000; ++n) {
    double a = std::sin(n * 0.01) * 100;
    char line[96];
    // b only every third line: its cells are empty in between.
    std::snprintf(line, sizeof line, n % 3 == 0 ? "a:%.17g b:%d\r\n" : "a:%.17g\r\n", a, -n);
    runs.push_back(line);
    sent.push_back(a);
  }
  fixture.Feed(runs, 0);
  testing::TempDir directory;
  std::string error;
  ASSERT_TRUE(ExportPlotCsv(*fixture.store.Snapshot(), directory / "plot.csv", error)) << error;

  auto rows = ReadCsv(directory / "plot.csv");
  ASSERT_EQ(rows.size(), sent.size() + 1);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "a", "b"}));
  for (size_t n = 0; n < sent.size(); ++n) {
    const auto& cells = rows[n + 1];
    ASSERT_EQ(cells.size(), 3u) << n;
    // Microseconds in the file; the plot started a moment before the first line.
    EXPECT_NEAR(std::stod(cells[0]) - std::stod(rows[1][0]), static_cast<double>(n) / 1000, 2e-6);
    EXPECT_EQ(std::stod(cells[1]), sent[n]) << n;
    EXPECT_EQ(cells[2], n % 3 == 0 ? std::to_string(-static_cast<int>(n)) : "") << n;
  }
}

TEST(PlotFeedTest, AnExportToAPlaceThatCannotBeWrittenSaysSo) {
  PlotStore store;
  std::string error;
  EXPECT_FALSE(ExportPlotCsv(*store.Snapshot(), "/nonexistent/plot.csv", error));
  EXPECT_NE(error.find("/nonexistent/plot.csv"), std::string::npos);
  EXPECT_EQ(CsvCell("a,\"b\""), "\"a,\"\"b\"\"\"");
}

}  // namespace
}  // namespace quorvel
