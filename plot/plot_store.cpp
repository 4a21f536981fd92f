#include "plot/plot_store.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel {
namespace {

constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

PlotColumn::PlotColumn() {
  values.fill(kNoValue);
  blockMin.fill(kInfinity);
  blockMax.fill(-kInfinity);
}

// ---- the snapshot ----

double PlotSnapshot::Time(uint64_t row) const {
  uint64_t at = row - baseRow_;
  return parts_[at / kPlotChunkRows].chunk->time[at % kPlotChunkRows];
}

const PlotColumn* PlotSnapshot::Column(int series, uint64_t row) const {
  return parts_[(row - baseRow_) / kPlotChunkRows].columns[static_cast<size_t>(series)];
}

double PlotSnapshot::Value(int series, uint64_t row) const {
  const PlotColumn* column = Column(series, row);
  return column ? column->values[(row - baseRow_) % kPlotChunkRows] : kNoValue;
}

uint64_t PlotSnapshot::RowAtTime(double time) const {
  uint64_t low = firstRow_;
  uint64_t high = endRow_;
  while (low < high) {
    uint64_t middle = low + (high - low) / 2;
    if (Time(middle) < time) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

bool PlotSnapshot::Range(int series, uint64_t from, uint64_t to, double& least,
                         double& most) const {
  from = std::max(from, firstRow_);
  to = std::min(to, endRow_);
  least = kInfinity;
  most = -kInfinity;
  uint64_t row = from;
  while (row < to) {
    uint64_t at = row - baseRow_;
    uint64_t chunkEnd = std::min(to, row - at % kPlotChunkRows + kPlotChunkRows);
    const PlotColumn* column = parts_[at / kPlotChunkRows].columns[static_cast<size_t>(series)];
    if (!column) {
      row = chunkEnd;
      continue;
    }
    while (row < chunkEnd) {
      size_t inChunk = (row - baseRow_) % kPlotChunkRows;
      // A whole block inside the range is read from its summary.
      if (inChunk % kPlotBlockRows == 0 && row + kPlotBlockRows <= chunkEnd) {
        size_t block = inChunk / kPlotBlockRows;
        least = std::min(least, column->blockMin[block]);
        most = std::max(most, column->blockMax[block]);
        row += kPlotBlockRows;
        continue;
      }
      double value = column->values[inChunk];
      if (!std::isnan(value)) {
        least = std::min(least, value);
        most = std::max(most, value);
      }
      ++row;
    }
  }
  return least <= most;
}

bool PlotSnapshot::FirstWithValue(int series, uint64_t from, uint64_t to, uint64_t& found) const {
  from = std::max(from, firstRow_);
  to = std::min(to, endRow_);
  for (uint64_t row = from; row < to;) {
    size_t inChunk = (row - baseRow_) % kPlotChunkRows;
    const PlotColumn* column = Column(series, row);
    if (!column) {
      row += kPlotChunkRows - inChunk;
      continue;
    }
    // A block without any value is passed over whole; only a finished one
    // (all of it below the end) has its summary, so that is asked first.
    size_t block = inChunk / kPlotBlockRows;
    if (inChunk % kPlotBlockRows == 0 && row + kPlotBlockRows <= to &&
        column->blockMin[block] > column->blockMax[block]) {
      row += kPlotBlockRows;
      continue;
    }
    if (!std::isnan(column->values[inChunk])) {
      found = row;
      return true;
    }
    ++row;
  }
  return false;
}

bool PlotSnapshot::LastWithValue(int series, uint64_t from, uint64_t to, uint64_t& found) const {
  from = std::max(from, firstRow_);
  to = std::min(to, endRow_);
  for (uint64_t row = to; row > from;) {
    uint64_t last = row - 1;
    size_t inChunk = (last - baseRow_) % kPlotChunkRows;
    const PlotColumn* column = Column(series, last);
    if (!column) {
      row = last - inChunk;
      continue;
    }
    size_t block = inChunk / kPlotBlockRows;
    if (inChunk % kPlotBlockRows == kPlotBlockRows - 1 && row >= from + kPlotBlockRows &&
        column->blockMin[block] > column->blockMax[block]) {
      row -= kPlotBlockRows;
      continue;
    }
    if (!std::isnan(column->values[inChunk])) {
      found = last;
      return true;
    }
    row = last;
  }
  return false;
}

// ---- the store ----

PlotStore::PlotStore(uint64_t maxRows)
    : maxRows_(std::clamp(maxRows, kPlotMinMaxPoints, kPlotMaxMaxPoints)) {}

void PlotStore::Append(const PlotRow* rows, size_t count, const std::vector<std::string>& names) {
  std::lock_guard guard(lock_);
  if (names.size() != names_.size()) names_ = names;
  for (size_t i = 0; i < count; ++i) AppendRow(rows[i]);
  tally_.lines += count;
  DropOldest();
}

void PlotStore::AppendRow(const PlotRow& row) {
  uint64_t at = endRow_ - baseRow_;
  size_t inChunk = at % kPlotChunkRows;
  if (at / kPlotChunkRows >= chunks_.size()) chunks_.push_back(std::make_shared<PlotChunk>());
  PlotChunk& chunk = *chunks_.back();
  lastTime_ = std::max(lastTime_, row.time);
  chunk.time[inChunk] = lastTime_;
  for (int i = 0; i < row.line.count; ++i) {
    const PlotValue& value = row.line.values[static_cast<size_t>(i)];
    auto& column = chunk.columns[static_cast<size_t>(value.series)];
    if (!column) column = std::make_unique<PlotColumn>();
    column->values[inChunk] = value.value;
  }
  tally_.refusedValues += static_cast<uint64_t>(row.line.refused);
  ++endRow_;
  // A finished block gets its summary before any reader can see its rows.
  if ((inChunk + 1) % kPlotBlockRows != 0) return;
  size_t block = inChunk / kPlotBlockRows;
  for (auto& column : chunk.columns) {
    if (!column) continue;
    double least = kInfinity;
    double most = -kInfinity;
    for (size_t r = block * kPlotBlockRows; r < (block + 1) * kPlotBlockRows; ++r) {
      double value = column->values[r];
      if (std::isnan(value)) continue;
      least = std::min(least, value);
      most = std::max(most, value);
    }
    column->blockMin[block] = least;
    column->blockMax[block] = most;
  }
}

void PlotStore::DropOldest() {
  if (endRow_ - firstRow_ > maxRows_) firstRow_ = endRow_ - maxRows_;
  while (!chunks_.empty() && baseRow_ + kPlotChunkRows <= firstRow_) {
    chunks_.pop_front();
    baseRow_ += kPlotChunkRows;
  }
  while (!markers_.empty() && markers_.front().row < firstRow_) markers_.pop_front();
}

void PlotStore::AddMarker(double time, LineEvent event, std::string text) {
  std::lock_guard guard(lock_);
  lastTime_ = std::max(lastTime_, time);
  markers_.push_back({lastTime_, endRow_, event, std::move(text)});
  if (markers_.size() > kPlotMaxMarkers) markers_.pop_front();
}

void PlotStore::CountSkipped(uint64_t lines) {
  std::lock_guard guard(lock_);
  tally_.skippedLines += lines;
}

void PlotStore::Clear() {
  std::lock_guard guard(lock_);
  chunks_.clear();
  baseRow_ = firstRow_ = endRow_ = 0;
  lastTime_ = -kInfinity;
  names_.clear();
  markers_.clear();
  tally_ = {};
}

void PlotStore::SetLimit(uint64_t maxRows) {
  std::lock_guard guard(lock_);
  maxRows_ = std::clamp(maxRows, kPlotMinMaxPoints, kPlotMaxMaxPoints);
  DropOldest();
}

uint64_t PlotStore::Limit() const {
  std::lock_guard guard(lock_);
  return maxRows_;
}

std::shared_ptr<const PlotSnapshot> PlotStore::Snapshot() const {
  auto snapshot = std::make_shared<PlotSnapshot>();
  std::lock_guard guard(lock_);
  snapshot->firstRow_ = firstRow_;
  snapshot->endRow_ = endRow_;
  snapshot->baseRow_ = baseRow_;
  snapshot->parts_.reserve(chunks_.size());
  for (const auto& chunk : chunks_) {
    PlotSnapshot::Part part;
    part.chunk = chunk;
    for (size_t s = 0; s < kPlotMaxSeries; ++s) part.columns[s] = chunk->columns[s].get();
    snapshot->parts_.push_back(std::move(part));
  }
  snapshot->names_ = names_;
  snapshot->markers_.assign(markers_.begin(), markers_.end());
  snapshot->tally_ = tally_;
  return snapshot;
}

}  // namespace quorvel
