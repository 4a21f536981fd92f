// What a chart needs to draw a series over a range of x in a number of pixel
// columns, however many rows the range holds: each column's first, last,
// least and greatest value, so a million rows cost about as much as a
// thousand (the store's block summaries do the reading), and a narrow spike
// still shows. Reads a snapshot only: any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "plot/plot_store.h"

namespace quorvel {

enum class PlotXAxis { kTime, kSample };

// The x of a kept row: its time in seconds, or its sample number.
double RowX(const PlotSnapshot& snapshot, PlotXAxis axis, uint64_t row);
// The first kept row whose x is at least `x` (EndRow() when none).
uint64_t RowAtX(const PlotSnapshot& snapshot, PlotXAxis axis, double x);

// The rows of each of `columns` equal slices of [x0, x1): column c holds rows
// [edges[c], edges[c + 1]). Computed once per drawing, for every series.
std::vector<uint64_t> ColumnEdges(const PlotSnapshot& snapshot, PlotXAxis axis, double x0,
                                  double x1, int columns);

struct PlotSpan {
  bool any = false;
  double first = 0;
  double last = 0;
  double least = 0;
  double most = 0;
};

struct PlotTrace {
  std::vector<PlotSpan> spans;  // one per column
  // The nearest values just outside the range, so a line enters and leaves
  // at the edges when the view is zoomed in between two samples.
  bool hasBefore = false;
  double beforeX = 0;
  double beforeValue = 0;
  bool hasAfter = false;
  double afterX = 0;
  double afterValue = 0;
};

void TraceSeries(const PlotSnapshot& snapshot, PlotXAxis axis, int series,
                 const std::vector<uint64_t>& edges, PlotTrace& trace);

}  // namespace quorvel
