// ParseRecording on any text: it ends, never reports more bytes than the text
// can hold, names a line that exists when it fails, and its bursts go forward
// in time.
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<quorvel::RecordedBurst> bursts;
  quorvel::RecordingError error;
  bool ok = quorvel::ParseRecording(text, bursts, error);
  size_t lines = 1;
  for (char c : text) lines += c == '\n';
  FUZZ_CHECK(ok == error.message.empty());
  FUZZ_CHECK(ok || (error.line >= 1 && error.line <= lines));
  size_t total = 0;
  for (size_t i = 0; i < bursts.size(); ++i) {
    FUZZ_CHECK(!bursts[i].bytes.empty());
    FUZZ_CHECK(i == 0 || bursts[i].ms >= bursts[i - 1].ms);
    total += bursts[i].bytes.size();
  }
  FUZZ_CHECK(total <= size / 3);  // every byte takes at least "41 " in the text
  return 0;
}
