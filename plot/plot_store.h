// What the plot keeps: one row per received line that gave a value, with the
// line's time and a value or nothing for each series, the oldest rows
// dropped first once more than the limit are kept (so no series holds more
// points than that, and memory stays bounded by it); and the link's events as
// markers.
//
// Rows live in chunks of kPlotChunkRows; a series' values in a chunk are a
// column of their own, made when the series first has a value there, with the
// least and greatest value of every kPlotBlockRows rows, so a chart can
// reduce a million rows to one span per pixel column without reading each.
//
// Threads: one writer (the plot's feed) appends under a short lock. Readers
// (the window drawing, an export writing) take a snapshot under the same lock
// (a list of chunk pointers, no values copied) and read it without the lock:
// a chunk's rows below the snapshot's end never change, and the writer only
// writes above it, so the feed never waits for a drawing or an export.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/line_listener.h"
#include "plot/line_parser.h"

namespace quorvel {

inline constexpr size_t kPlotChunkRows = 4096;
inline constexpr size_t kPlotBlockRows = 64;
inline constexpr size_t kPlotBlocks = kPlotChunkRows / kPlotBlockRows;
inline constexpr uint64_t kPlotDefaultMaxPoints = 1'000'000;
inline constexpr uint64_t kPlotMinMaxPoints = 1'000;
inline constexpr uint64_t kPlotMaxMaxPoints = 50'000'000;
inline constexpr size_t kPlotMaxMarkers = 1000;

// One series' values in one chunk: NaN where a row has none.
struct PlotColumn {
  PlotColumn();
  std::array<double, kPlotChunkRows> values;
  std::array<double, kPlotBlocks> blockMin;  // +inf when the block has no value
  std::array<double, kPlotBlocks> blockMax;  // -inf likewise
};

struct PlotChunk {
  std::array<double, kPlotChunkRows> time;  // seconds since the plot's origin
  std::array<std::unique_ptr<PlotColumn>, kPlotMaxSeries> columns;
};

struct PlotMarker {
  double time = 0;   // seconds since the origin
  uint64_t row = 0;  // the rows before it
  LineEvent event = LineEvent::kNone;
  std::string text;
};

// What the plot counts besides its rows, for the pane to show.
struct PlotTally {
  uint64_t lines = 0;          // lines that gave a row
  uint64_t skippedLines = 0;   // lines without a usable value, or longer than 4 KiB
  uint64_t refusedValues = 0;  // values left out of lines that gave a row
};

// One received line as the feed appends it.
struct PlotRow {
  double time = 0;
  ParsedLine line;
};

// The kept rows at one moment; read without any lock. Rows are numbered from
// the first row since the plot was cleared (the sample number).
class PlotSnapshot {
 public:
  uint64_t FirstRow() const { return firstRow_; }
  uint64_t EndRow() const { return endRow_; }
  bool Empty() const { return firstRow_ == endRow_; }
  const std::vector<std::string>& Names() const { return names_; }
  const std::vector<PlotMarker>& Markers() const { return markers_; }
  const PlotTally& Tally() const { return tally_; }
  // The chunks it holds on to: what the kept rows cost.
  size_t ChunkCount() const { return parts_.size(); }

  // Row in [FirstRow(), EndRow()).
  double Time(uint64_t row) const;
  // NaN when the series has no value in that row.
  double Value(int series, uint64_t row) const;
  // The first kept row whose time is at least `time` (EndRow() when none).
  uint64_t RowAtTime(double time) const;

  // The least and greatest value of `series` over rows [from, to) (clamped to
  // the kept rows); false when it has none there.
  bool Range(int series, uint64_t from, uint64_t to, double& least, double& most) const;
  // The first and the last row in [from, to) where `series` has a value.
  bool FirstWithValue(int series, uint64_t from, uint64_t to, uint64_t& row) const;
  bool LastWithValue(int series, uint64_t from, uint64_t to, uint64_t& row) const;

 private:
  friend class PlotStore;
  struct Part {
    std::shared_ptr<const PlotChunk> chunk;  // keeps the columns alive
    std::array<const PlotColumn*, kPlotMaxSeries> columns{};
  };
  const PlotColumn* Column(int series, uint64_t row) const;

  uint64_t firstRow_ = 0;
  uint64_t endRow_ = 0;
  uint64_t baseRow_ = 0;  // the first row of parts_[0]
  std::vector<Part> parts_;
  std::vector<std::string> names_;
  std::vector<PlotMarker> markers_;
  PlotTally tally_;
};

class PlotStore {
 public:
  explicit PlotStore(uint64_t maxRows = kPlotDefaultMaxPoints);

  // The writer. Appends `count` rows (their times never go back: an earlier
  // one is taken as the last), with the series names as they are now.
  void Append(const PlotRow* rows, size_t count, const std::vector<std::string>& names);
  void AddMarker(double time, LineEvent event, std::string text);
  void CountSkipped(uint64_t lines);
  // Forgets every row, marker, name and count.
  void Clear();

  // Any thread. Clamped to kPlotMinMaxPoints..kPlotMaxMaxPoints; drops the
  // oldest rows at once when more are kept.
  void SetLimit(uint64_t maxRows);
  uint64_t Limit() const;

  // Any thread.
  std::shared_ptr<const PlotSnapshot> Snapshot() const;

 private:
  void AppendRow(const PlotRow& row);
  void DropOldest();

  mutable std::mutex lock_;
  uint64_t maxRows_;
  std::deque<std::shared_ptr<PlotChunk>> chunks_;
  uint64_t baseRow_ = 0;  // the first row of chunks_[0]
  uint64_t firstRow_ = 0;
  uint64_t endRow_ = 0;
  double lastTime_ = -std::numeric_limits<double>::infinity();
  std::vector<std::string> names_;
  std::deque<PlotMarker> markers_;
  PlotTally tally_;
};

}  // namespace quorvel
