#include "plot/plot_trace.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

// How far outside the range the neighbours are looked for.
constexpr uint64_t kNeighbourRows = kPlotChunkRows;

}  // namespace

double RowX(const PlotSnapshot& snapshot, PlotXAxis axis, uint64_t row) {
  return axis == PlotXAxis::kTime ? snapshot.Time(row) : static_cast<double>(row);
}

uint64_t RowAtX(const PlotSnapshot& snapshot, PlotXAxis axis, double x) {
  if (axis == PlotXAxis::kTime) return snapshot.RowAtTime(x);
  if (!(x > static_cast<double>(snapshot.FirstRow()))) return snapshot.FirstRow();
  if (x >= static_cast<double>(snapshot.EndRow())) return snapshot.EndRow();
  return static_cast<uint64_t>(std::ceil(x));
}

std::vector<uint64_t> ColumnEdges(const PlotSnapshot& snapshot, PlotXAxis axis, double x0,
                                  double x1, int columns) {
  std::vector<uint64_t> edges(static_cast<size_t>(std::max(columns, 0)) + 1);
  double step = (x1 - x0) / std::max(columns, 1);
  for (size_t c = 0; c < edges.size(); ++c) {
    edges[c] = RowAtX(snapshot, axis, x0 + step * static_cast<double>(c));
  }
  return edges;
}

void TraceSeries(const PlotSnapshot& snapshot, PlotXAxis axis, int series,
                 const std::vector<uint64_t>& edges, PlotTrace& trace) {
  size_t columns = edges.empty() ? 0 : edges.size() - 1;
  trace.spans.assign(columns, PlotSpan{});
  trace.hasBefore = trace.hasAfter = false;
  if (columns == 0 || series < 0 || series >= static_cast<int>(snapshot.Names().size())) return;
  for (size_t c = 0; c < columns; ++c) {
    uint64_t from = edges[c];
    uint64_t to = edges[c + 1];
    if (from >= to) continue;
    PlotSpan& span = trace.spans[c];
    uint64_t first = 0;
    uint64_t last = 0;
    if (!snapshot.FirstWithValue(series, from, to, first)) continue;
    snapshot.LastWithValue(series, first, to, last);
    span.any = true;
    span.first = snapshot.Value(series, first);
    span.last = snapshot.Value(series, last);
    snapshot.Range(series, first, last + 1, span.least, span.most);
  }
  uint64_t row = 0;
  uint64_t start = edges.front();
  uint64_t lookFrom = start > kNeighbourRows ? start - kNeighbourRows : 0;
  if (snapshot.LastWithValue(series, lookFrom, start, row)) {
    trace.hasBefore = true;
    trace.beforeX = RowX(snapshot, axis, row);
    trace.beforeValue = snapshot.Value(series, row);
  }
  uint64_t end = edges.back();
  if (snapshot.FirstWithValue(series, end, end + kNeighbourRows, row)) {
    trace.hasAfter = true;
    trace.afterX = RowX(snapshot, axis, row);
    trace.afterValue = snapshot.Value(series, row);
  }
}

}  // namespace quorvel
