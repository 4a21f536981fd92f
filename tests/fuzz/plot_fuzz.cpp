// Reading received lines for the plot, on any bytes: never more values than
// series, every value finite and of a series the parser names, at most 16
// series however many names the lines bring; with the user's expression
// chosen too (picked by the first byte).
#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "plot/line_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::shared_ptr<const quorvel::PlotPattern> pattern;
  if (data[0] % 2 == 1) {
    std::string error;
    auto compiled = quorvel::PlotPattern::Compile(R"(t=(?<t>\S+)\s+(\S+)?)", error);
    FUZZ_CHECK(compiled.has_value());
    pattern = std::make_shared<const quorvel::PlotPattern>(*compiled);
  }
  quorvel::PlotLineParser parser(pattern);
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  quorvel::ParsedLine parsed;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, std::min(end, quorvel::kPlotMaxLineBytes));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    parser.Parse(line, parsed);
    FUZZ_CHECK(parsed.count >= 0 && parsed.count <= quorvel::kPlotMaxSeries);
    FUZZ_CHECK(parser.Names().size() <= static_cast<size_t>(quorvel::kPlotMaxSeries));
    for (int i = 0; i < parsed.count; ++i) {
      const quorvel::PlotValue& value = parsed.values[static_cast<size_t>(i)];
      FUZZ_CHECK(std::isfinite(value.value));
      FUZZ_CHECK(value.series >= 0 && static_cast<size_t>(value.series) < parser.Names().size());
    }
  }
  return 0;
}
