#include "measure_common.h"

#include <cstdio>

namespace quorvel::bench {

void Progress(const std::string& what, const std::string& terminal) {
  std::fprintf(stderr, "bench: %s (%s)\n", what.c_str(), terminal.c_str());
}

Row Failed(const std::string& measure, const std::string& terminal, const std::string& why) {
  Row row;
  row.measure = measure;
  row.terminal = terminal;
  row.median = row.p99 = row.max = row.samples = "—";
  row.verdict = "failed";
  row.notes = why;
  return row;
}

std::vector<uint8_t> StreamText(size_t count) {
  std::vector<uint8_t> text;
  text.reserve(count + 80);
  char line[96];
  for (size_t number = 0; text.size() < count; ++number) {
    int n =
        std::snprintf(line, sizeof line,
                      "%09zu The quick brown fox jumps over the lazy dog 0123456789\r\n", number);
    text.insert(text.end(), line, line + n);
  }
  text.resize(count);
  return text;
}

}  // namespace quorvel::bench
