#include "script/script_report.h"

#include <charconv>
#include <cstdint>

namespace quorvel {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendByteEscape(std::string& out, uint8_t byte) {
  out += "\\x";
  out += kHexDigits[byte >> 4];
  out += kHexDigits[byte & 0xF];
}

// The length of the valid UTF-8 sequence at text[i] and its code point, or
// 0 when there is none (a stray continuation, a cut sequence, an overlong
// form, a surrogate, past U+10FFFF).
size_t Utf8At(std::string_view text, size_t i, uint32_t& codePoint) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  uint8_t lead = byte(i);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
  uint32_t value = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  codePoint = value;
  return length;
}

// Walks `text`: each invalid byte becomes \xHH; each code point goes to
// `put(out, codePoint, bytes)`, which appends it as it should appear.
template <typename Put>
std::string Rewritten(std::string_view text, Put&& put) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t codePoint = 0;
    size_t length = Utf8At(text, i, codePoint);
    if (length == 0) {
      AppendByteEscape(out, static_cast<uint8_t>(text[i]));
      ++i;
      continue;
    }
    put(out, codePoint, text.substr(i, length));
    i += length;
  }
  return out;
}

bool IsControl(uint32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x2028 ||
         codePoint == 0x2029;
}

void AppendControlEscape(std::string& out, uint32_t codePoint) {
  if (codePoint <= 0xFF) {
    AppendByteEscape(out, static_cast<uint8_t>(codePoint));
    return;
  }
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(codePoint >> shift) & 0xF];
}

// A TAP description: one line, '#' and '\' escaped.
std::string TapText(std::string_view text) {
  return Rewritten(text, [](std::string& out, uint32_t codePoint, std::string_view bytes) {
    if (IsControl(codePoint)) {
      AppendControlEscape(out, codePoint);
    } else if (codePoint == '#' || codePoint == '\\') {
      out += '\\';
      out += bytes;
    } else {
      out += bytes;
    }
  });
}

// A YAML double-quoted scalar, quotes included.
std::string YamlQuoted(std::string_view text) {
  return "\"" +
         Rewritten(text,
                   [](std::string& out, uint32_t codePoint, std::string_view bytes) {
                     if (codePoint == '"' || codePoint == '\\') {
                       out += '\\';
                       out += bytes;
                     } else if (codePoint == '\n') {
                       out += "\\n";
                     } else if (IsControl(codePoint) || codePoint == 0xFEFF) {
                       AppendControlEscape(out, codePoint);
                     } else {
                       out += bytes;
                     }
                   }) +
         "\"";
}

std::string Fixed(double value, int digits) {
  char text[64];
  auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, digits);
  if (error != std::errc()) return "0";
  return std::string(text, end);
}

std::string Seconds(double seconds) {
  return Fixed(seconds < 0 ? 0 : seconds, 3);
}

std::string Attribute(std::string_view name, std::string_view value) {
  return " " + std::string(name) + "=\"" + XmlEscaped(value, true) + "\"";
}

std::string ClassName(std::string_view suite) {
  size_t slash = suite.find_last_of('/');
  if (slash != suite.npos) suite.remove_prefix(slash + 1);
  size_t dot = suite.find_last_of('.');
  if (dot != suite.npos && dot > 0) suite = suite.substr(0, dot);
  return std::string(suite.empty() ? "script" : suite);
}

}  // namespace

std::string XmlEscaped(std::string_view text, bool attribute) {
  return Rewritten(text, [&](std::string& out, uint32_t codePoint, std::string_view bytes) {
    switch (codePoint) {
      case '&':
        out += "&amp;";
        return;
      case '<':
        out += "&lt;";
        return;
      case '>':
        out += "&gt;";
        return;
      case '"':
        out += attribute ? "&quot;" : "\"";
        return;
      case '\'':
        out += attribute ? "&apos;" : "'";
        return;
      case '\t':
        out += attribute ? "&#9;" : "\t";
        return;
      case '\n':
        out += attribute ? "&#10;" : "\n";
        return;
      case '\r':
        // A parser turns a bare CR into LF; the reference keeps it.
        out += "&#13;";
        return;
    }
    // What XML 1.0 cannot carry at all, even as a reference.
    if (codePoint < 0x20 || codePoint == 0xFFFE || codePoint == 0xFFFF) {
      AppendControlEscape(out, codePoint);
      return;
    }
    out += bytes;
  });
}

std::string PlainStep(const ScriptStep& step) {
  if (step.passed) return "PASS " + TapText(step.name) + " (" + Seconds(step.seconds) + " s)\n";
  std::string line = "FAIL " + TapText(step.name);
  if (!step.failure.empty() && step.failure != step.name) line += ": " + TapText(step.failure);
  if (!step.where.empty()) line += " (" + TapText(step.where) + ")";
  return line + "\n";
}

std::string PlainSummary(const ScriptResult& result) {
  int count = StepCount(result);
  int failed = FailedSteps(result);
  return std::to_string(count) + (count == 1 ? " step: " : " steps: ") +
         std::to_string(count - failed) + " passed, " + std::to_string(failed) + " failed, in " +
         Seconds(result.seconds) + " s\n";
}

std::string TapHeader() {
  return "TAP version 13\n";
}

std::string TapStep(int number, const ScriptStep& step) {
  std::string point = (step.passed ? "ok " : "not ok ") + std::to_string(number) + " - " +
                      TapText(step.name) + "\n";
  if (step.passed) return point;
  point += "  ---\n";
  point += "  message: " + YamlQuoted(step.failure) + "\n";
  if (!step.where.empty()) point += "  at: " + YamlQuoted(step.where) + "\n";
  point += "  duration_ms: " + Fixed(step.seconds * 1000.0, 1) + "\n";
  point += "  ...\n";
  return point;
}

std::string TapComment(std::string_view text) {
  std::string comments;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    comments +=
        "# " + Rewritten(line, [](std::string& out, uint32_t codePoint, std::string_view bytes) {
          if (IsControl(codePoint) && codePoint != '\t') {
            AppendControlEscape(out, codePoint);
          } else {
            out += bytes;
          }
        });
    comments += "\n";
    if (end == text.npos) break;
    text.remove_prefix(end + 1);
  }
  return comments;
}

std::string TapPlan(int count) {
  return "1.." + std::to_string(count) + "\n";
}

std::string JUnitXml(std::string_view suite, const ScriptResult& result) {
  std::string className = ClassName(suite);
  std::string cases;
  int tests = 0;
  int failures = 0;
  auto testcase = [&](std::string_view name, double seconds) {
    ++tests;
    cases += "    <testcase" + Attribute("name", name) + Attribute("classname", className) +
             Attribute("time", Seconds(seconds));
  };
  for (const ScriptStep& step : result.steps) {
    testcase(step.name, step.seconds);
    if (step.passed) {
      cases += "/>\n";
      continue;
    }
    ++failures;
    std::string detail = step.where.empty() ? step.failure : step.where + ": " + step.failure;
    cases += ">\n      <failure" + Attribute("message", step.failure) +
             Attribute("type", "failed") + ">" + XmlEscaped(detail, false) +
             "</failure>\n    </testcase>\n";
  }
  if (result.stepsNotKept > 0) {
    std::string name = std::to_string(result.stepsNotKept) + " steps not listed";
    testcase(name, 0);
    if (result.failedNotKept == 0) {
      cases += "/>\n";
    } else {
      ++failures;
      std::string message = std::to_string(result.failedNotKept) + " of them failed";
      cases += ">\n      <failure" + Attribute("message", message) + Attribute("type", "failed") +
               "/>\n    </testcase>\n";
    }
  }
  int errors = 0;
  if (result.end == ScriptEnd::kError) {
    errors = 1;
    testcase("script error", 0);
    std::string detail =
        result.traceback.empty() ? result.error : result.error + "\n" + result.traceback;
    cases += ">\n      <error" + Attribute("message", result.error) + Attribute("type", "error") +
             ">" + XmlEscaped(detail, false) + "</error>\n    </testcase>\n";
  }
  std::string counts = Attribute("tests", std::to_string(tests)) +
                       Attribute("failures", std::to_string(failures)) +
                       Attribute("errors", std::to_string(errors));
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites" + Attribute("name", "quorvel") + counts +
         Attribute("time", Seconds(result.seconds)) + ">\n";
  xml += "  <testsuite" + Attribute("name", suite) + counts + Attribute("skipped", "0") +
         Attribute("time", Seconds(result.seconds)) + ">\n";
  xml += cases;
  if (!result.output.empty()) {
    std::string output = result.output;
    if (result.outputCut) output += "\n-- output cut here: the report keeps its first 1 MiB\n";
    xml += "    <system-out>" + XmlEscaped(output, false) + "</system-out>\n";
  }
  xml += "  </testsuite>\n</testsuites>\n";
  return xml;
}

}  // namespace quorvel
