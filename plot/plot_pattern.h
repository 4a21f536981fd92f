// The regular expression a user may choose for a device that prints prose
// around its numbers ("temp is 21.4 C, fan at 40 %"): each capture group is a
// value, and a named group ("(?<temp>[-0-9.]+)") names its series; an unnamed
// one is named by its number ("1", "2", ...).
//
// ECMAScript syntax, plus named groups, which the standard library's engine
// lacks and which are taken out before it compiles the rest. The expression
// is found anywhere in the line, its first match counts, and matching runs in
// time linear in the line whatever the pattern: a pattern such as "(a*)*b"
// must not stall the thread that reads the lines. The price is that
// back-references are refused. Immutable once compiled: any thread may match.
#pragma once

#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

inline constexpr size_t kPlotMaxPatternLength = 1000;

class PlotPattern {
 public:
  // The compiled pattern, or nothing with `error` saying what is wrong.
  static std::optional<PlotPattern> Compile(std::string_view pattern, std::string& error);

  // The text of each group of the first match in `line` (empty views for
  // groups that took no part), or false when the line does not match.
  bool Match(std::string_view line, std::vector<std::string_view>& groups) const;

  // Each group's series name, in group order.
  const std::vector<std::string>& GroupNames() const { return names_; }
  const std::string& Source() const { return source_; }

 private:
  std::string source_;
  std::regex regex_;
  std::vector<std::string> names_;
};

}  // namespace quorvel
