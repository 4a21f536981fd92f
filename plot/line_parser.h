// Turns one received line into the values it carries, one per series:
// - "name:value" or "name=value" pairs ("temp:21.4 hum:40", "T=21.4 C"):
//   one series per name, numbered in order of first appearance; a pair may
//   have a space after its ':' or '=' ("temp: 21.4");
// - otherwise a list of numbers ("512,498,503"): series "1", "2", "3", ...
//   counting the numbers of the line; words between them are left out;
// - or, with a PlotPattern chosen, the values of its groups.
// Tokens are separated by spaces, tabs, commas and semicolons; numbers are
// read by ParsePlotNumber. At most kPlotMaxSeries series: a value of a
// further one is refused, as is a value that is not a number, and the line
// keeps its other values. One thread at a time (the series names grow).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "plot/plot_pattern.h"

namespace quorvel {

inline constexpr int kPlotMaxSeries = 16;
inline constexpr size_t kPlotMaxLineBytes = 4096;  // a longer line is skipped whole
inline constexpr size_t kPlotMaxNameBytes = 64;    // a longer name is cut

struct PlotValue {
  int series = 0;  // index into the parser's Names()
  double value = 0;
};

struct ParsedLine {
  std::array<PlotValue, kPlotMaxSeries> values{};
  int count = 0;    // values[0, count)
  int refused = 0;  // values left out: not a number, or one series too many
};

class PlotLineParser {
 public:
  // `pattern` null: pairs or a list of numbers.
  explicit PlotLineParser(std::shared_ptr<const PlotPattern> pattern = nullptr);

  // Reads `line` (its line end taken off) into `out`.
  void Parse(std::string_view line, ParsedLine& out);

  // The series seen so far, in order of first appearance.
  const std::vector<std::string>& Names() const { return names_; }
  // Lines from now on are read with `pattern`; the series seen stay.
  void SetPattern(std::shared_ptr<const PlotPattern> pattern) { pattern_ = std::move(pattern); }
  // Forgets the series (for a plot cleared).
  void ForgetNames();

 private:
  void ParseTokens(std::string_view line, ParsedLine& out);
  void ParseGroups(std::string_view line, ParsedLine& out);
  void Add(std::string_view name, std::string_view value, ParsedLine& out);
  int SeriesNamed(std::string_view name);

  std::shared_ptr<const PlotPattern> pattern_;
  std::vector<std::string> names_;
  std::vector<std::string_view> groups_;
  int guess_ = 0;  // where the last name was found: lines repeat their order
};

}  // namespace quorvel
