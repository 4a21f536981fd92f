#include "plot/plot_pattern.h"

#include <algorithm>
#include <cctype>

namespace quorvel {
namespace {

constexpr int kMostRepeat = 1000;  // "a{100000}" would build an enormous automaton

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The pattern without its group names, which go into `names` (one entry per
// capturing group, "" for an unnamed one). False when a name is malformed.
bool TakeOutNames(std::string_view pattern, std::string& plain, std::vector<std::string>& names,
                  std::string& error) {
  bool inClass = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size()) {
      plain += pattern.substr(i, 2);
      ++i;
      continue;
    }
    plain += c;
    if (inClass) {
      inClass = c != ']';
      continue;
    }
    if (c == '[') inClass = true;
    if (c != '(') continue;
    if (pattern.substr(i + 1, 2) == "?<" && i + 3 < pattern.size() && pattern[i + 3] != '=' &&
        pattern[i + 3] != '!') {
      size_t end = pattern.find('>', i + 3);
      std::string_view name =
          pattern.substr(i + 3, end == std::string_view::npos ? 0 : end - (i + 3));
      if (end == std::string_view::npos || name.empty() ||
          !std::all_of(name.begin(), name.end(), IsNameChar)) {
        error = "a group name is not a word (use (?<name>...))";
        return false;
      }
      names.emplace_back(name);
      i = end;
    } else if (pattern.substr(i + 1, 1) != "?") {
      names.emplace_back();
    }
  }
  return true;
}

bool HasHugeRepeat(std::string_view pattern) {
  for (size_t at = pattern.find('{'); at != std::string_view::npos;
       at = pattern.find('{', at + 1)) {
    long number = 0;
    for (size_t i = at + 1; i < pattern.size() && pattern[i] != '}'; ++i) {
      char c = pattern[i];
      if (c == ',') {
        number = 0;
      } else if (c >= '0' && c <= '9') {
        number = number * 10 + (c - '0');
        if (number > kMostRepeat) return true;
      } else {
        break;
      }
    }
  }
  return false;
}

}  // namespace

std::optional<PlotPattern> PlotPattern::Compile(std::string_view pattern, std::string& error) {
  if (pattern.empty() || pattern.size() > kPlotMaxPatternLength) {
    error = pattern.empty() ? "the regular expression is empty"
                            : "the regular expression is longer than " +
                                  std::to_string(kPlotMaxPatternLength) + " characters";
    return std::nullopt;
  }
  if (HasHugeRepeat(pattern)) {
    error = "a repeat count above " + std::to_string(kMostRepeat) + " is too large to use";
    return std::nullopt;
  }
  PlotPattern compiled;
  compiled.source_ = pattern;
  std::string plain;
  if (!TakeOutNames(pattern, plain, compiled.names_, error)) return std::nullopt;
  // Compiled alone first, so it cannot reach outside the group it is put in;
  // then searched as a whole match of "the least of anything, the pattern,
  // anything", on the automaton that runs in polynomial time.
  constexpr auto kFlags = std::regex::ECMAScript | std::regex_constants::__polynomial;
  try {
    std::regex alone(plain, kFlags);
    if (alone.mark_count() != compiled.names_.size()) {
      error = "the groups of the regular expression could not be counted";
      return std::nullopt;
    }
    compiled.regex_ = std::regex("[\\s\\S]*?(?:" + plain + ")[\\s\\S]*", kFlags);
  } catch (const std::regex_error& problem) {
    error = std::string("the regular expression is not valid: ") + problem.what();
    return std::nullopt;
  }
  if (compiled.names_.empty()) {
    error = "the regular expression has no group to take a value from";
    return std::nullopt;
  }
  return compiled;
}

bool PlotPattern::Match(std::string_view line, std::vector<std::string_view>& groups) const {
  groups.clear();
  std::cmatch match;
  try {
    if (!std::regex_match(line.data(), line.data() + line.size(), match, regex_)) return false;
  } catch (const std::regex_error&) {
    return false;  // too complex for the matcher: taken as no match
  }
  for (size_t i = 1; i < match.size(); ++i) {
    groups.emplace_back(
        match[i].matched ? std::string_view(match[i].first, static_cast<size_t>(match[i].length()))
                         : std::string_view());
  }
  return true;
}

}  // namespace quorvel
