#include "plot/line_parser.h"

#include <optional>

#include "plot/plot_number.h"

namespace quorvel {
namespace {

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ';';
}

// The next token of `rest` from `at`, which moves past it; empty at the end.
std::string_view NextToken(std::string_view rest, size_t& at) {
  while (at < rest.size() && IsSeparator(rest[at])) ++at;
  size_t start = at;
  while (at < rest.size() && !IsSeparator(rest[at])) ++at;
  return rest.substr(start, at - start);
}

constexpr const char* kPositionNames[kPlotMaxSeries] = {
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"};

}  // namespace

PlotLineParser::PlotLineParser(std::shared_ptr<const PlotPattern> pattern)
    : pattern_(std::move(pattern)) {}

void PlotLineParser::ForgetNames() {
  names_.clear();
  guess_ = 0;
}

void PlotLineParser::Parse(std::string_view line, ParsedLine& out) {
  out.count = 0;
  out.refused = 0;
  if (pattern_) {
    ParseGroups(line, out);
  } else {
    ParseTokens(line, out);
  }
}

void PlotLineParser::ParseTokens(std::string_view line, ParsedLine& out) {
  // Numbers wait until the line is known to hold no pair: in "T=21.4 C 5"
  // the 5 is not a series.
  std::array<double, kPlotMaxSeries> numbers{};
  int numberCount = 0;
  bool pairs = false;
  size_t at = 0;
  for (std::string_view token = NextToken(line, at); !token.empty(); token = NextToken(line, at)) {
    size_t mark = token.find_first_of(":=");
    if (mark == std::string_view::npos) {
      if (pairs) continue;
      if (std::optional<double> number = ParsePlotNumber(token)) {
        if (numberCount < kPlotMaxSeries) {
          numbers[static_cast<size_t>(numberCount++)] = *number;
        } else {
          ++out.refused;
        }
      }
      continue;
    }
    pairs = true;
    std::string_view name = token.substr(0, mark);
    std::string_view value = token.substr(mark + 1);
    if (value.empty()) value = NextToken(line, at);  // "temp: 21.4"
    if (name.empty()) {
      ++out.refused;
      continue;
    }
    Add(name.substr(0, kPlotMaxNameBytes), value, out);
  }
  if (pairs) return;
  for (int i = 0; i < numberCount; ++i) {
    int series = SeriesNamed(kPositionNames[i]);
    if (series < 0) {
      ++out.refused;
      continue;
    }
    out.values[static_cast<size_t>(out.count++)] = {series, numbers[static_cast<size_t>(i)]};
  }
}

void PlotLineParser::ParseGroups(std::string_view line, ParsedLine& out) {
  if (!pattern_->Match(line, groups_)) return;
  const std::vector<std::string>& groupNames = pattern_->GroupNames();
  for (size_t i = 0; i < groups_.size(); ++i) {
    if (groups_[i].data() == nullptr) continue;  // the group took no part
    std::string_view name = groupNames[i];
    std::string number = std::to_string(i + 1);
    Add(name.empty() ? std::string_view(number) : name.substr(0, kPlotMaxNameBytes), groups_[i],
        out);
  }
}

void PlotLineParser::Add(std::string_view name, std::string_view value, ParsedLine& out) {
  std::optional<double> number = ParsePlotNumber(value);
  int series = number ? SeriesNamed(name) : -1;
  if (series < 0 || out.count >= kPlotMaxSeries) {
    ++out.refused;
    return;
  }
  out.values[static_cast<size_t>(out.count++)] = {series, *number};
}

int PlotLineParser::SeriesNamed(std::string_view name) {
  int count = static_cast<int>(names_.size());
  for (int i = 0; i < count; ++i) {
    int candidate = (guess_ + i) % count;
    if (names_[static_cast<size_t>(candidate)] == name) {
      guess_ = (candidate + 1) % count;
      return candidate;
    }
  }
  if (count >= kPlotMaxSeries) return -1;
  names_.emplace_back(name);
  guess_ = 0;
  return count;
}

}  // namespace quorvel
