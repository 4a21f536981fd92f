// ParseHexText and HexValue on any text: never more bytes than the text can
// hold, one byte per run of digits, and the receive box's hex rendering reads
// back as the bytes it came from.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/render.h"
#include "fuzz/fuzz_check.h"
#include "sending/hex.h"

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> out(text.size() + 1, 0xEE);
  int count = quorvel::ParseHexText(out.data(), text);

  std::string_view upToZero(text.c_str());
  FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= (upToZero.size() + 1) / 2);
  FUZZ_CHECK(out[text.size()] == 0xEE);  // the byte past the text is never written

  // Each byte is the low 8 bits of its run's value; a run of two digits is
  // exactly the byte they spell.
  int run = 0;
  for (size_t i = 0; i < upToZero.size();) {
    if (!IsHexDigit(upToZero[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < upToZero.size() && IsHexDigit(upToZero[end])) ++end;
    FUZZ_CHECK(run < count);
    int32_t value = quorvel::HexValue(upToZero.data() + i, static_cast<int>(end - i));
    FUZZ_CHECK(out[run] == static_cast<uint8_t>(value));
    if (end - i == 2)
      FUZZ_CHECK(out[run] == std::stoul(std::string(upToZero.substr(i, 2)), nullptr, 16));
    ++run;
    i = end;
  }
  FUZZ_CHECK(run == count);

  // Hex display text parses back into the received bytes.
  std::string shown = quorvel::RenderReceiveText(data, static_cast<int>(size), true);
  std::vector<uint8_t> back(shown.size() + 1);
  int parsed = quorvel::ParseHexText(back.data(), shown);
  FUZZ_CHECK(static_cast<size_t>(parsed) == size);
  FUZZ_CHECK(std::equal(data, data + size, back.begin()));
  return 0;
}
