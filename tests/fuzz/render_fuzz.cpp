// RenderReceiveText on any received bytes: text display keeps every byte but
// zero, unchanged and in order; hex display is three characters a byte; and
// rendering the log piece by piece (as bursts arrive) equals rendering it whole.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/render.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    FUZZ_CHECK(quorvel::RenderReceiveText(data, 0, false).empty());
    return 0;
  }
  // The first byte picks where the log is split into two bursts.
  size_t split = data[0] % size;
  const uint8_t* bytes = data + 1;
  int length = static_cast<int>(size - 1);

  std::string text = quorvel::RenderReceiveText(bytes, length, false);
  std::string expected;
  std::copy_if(bytes, bytes + length, std::back_inserter(expected),
               [](uint8_t b) { return b != 0; });
  FUZZ_CHECK(text == expected);

  std::string hex = quorvel::RenderReceiveText(bytes, length, true);
  FUZZ_CHECK(hex.size() == 3 * static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) FUZZ_CHECK(hex[3 * i + 2] == ' ');

  for (bool asHex : {false, true}) {
    std::string pieces;
    int first = std::min(static_cast<int>(split), length);
    quorvel::AppendReceiveText(pieces, bytes, first, asHex);
    quorvel::AppendReceiveText(pieces, bytes + first, length - first, asHex);
    FUZZ_CHECK(pieces == (asHex ? hex : text));
  }
  return 0;
}
