// The session store and the view's decoding driven by a fuzzed schedule of
// what the line and the window do: reads and writes of hostile bytes at
// varying gaps, events, a new split, a lower limit, a find, Clear. Whatever
// happened, the lines of either display hold exactly the bytes kept, and
// decoding a line accounts for each of its bytes.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "history/session_lines.h"
#include "history/session_store.h"

namespace {

using quorvel::SessionDisplay;
using quorvel::SessionKind;
using quorvel::SessionStore;

void CheckLines(const SessionStore& store, SessionDisplay display) {
  quorvel::SessionCounts counts = store.Counts(display);
  quorvel::SessionLine line;
  uint64_t bytes = 0;
  int64_t lastStamp = INT64_MIN;
  for (uint64_t i = counts.firstLine; i < counts.endLine; ++i) {
    FUZZ_CHECK(store.Line(display, i, line));
    FUZZ_CHECK(!line.bytes.empty());
    FUZZ_CHECK(line.monoNs >= lastStamp);
    lastStamp = line.monoNs;
    bytes += line.bytes.size();
    for (auto encoding : {quorvel::SessionEncoding::kLatin1, quorvel::SessionEncoding::kUtf8}) {
      quorvel::DecodedLine shown = quorvel::DecodeLine(line.bytes, {encoding, true, true, false});
      FUZZ_CHECK(shown.byteOf.size() == shown.text.size() + 1);
      FUZZ_CHECK(shown.byteOf.back() == line.bytes.size());
      FUZZ_CHECK(std::is_sorted(shown.byteOf.begin(), shown.byteOf.end()));
    }
  }
  FUZZ_CHECK(bytes == counts.keptBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SessionStore store;
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  int64_t now = 0;
  while (at < size) {
    uint8_t op = next();
    now += int64_t{next()} * 1'000'000;
    switch (op % 6) {
      case 0:
      case 1: {
        // The length byte is read before what is left is measured: in one
        // expression the two may be evaluated in either order.
        size_t wanted = next() * 40u + 1;
        size_t n = std::min<size_t>(wanted, size - std::min(at, size));
        auto kind = op % 2 ? SessionKind::kSent : SessionKind::kReceived;
        store.AppendAt(kind, quorvel::SessionEvent::kNone, data + at, n, now, now / 1'000'000);
        at += n;
        break;
      }
      case 2:
        store.RecordEvent(quorvel::SessionEvent::kLinkOpened, "115200,8,N,1");
        break;
      case 3:
        store.SetSplit({next() % 4 * 20, next() % 4 * 20, next() % 2 ? -1 : int{next()}});
        break;
      case 4: {
        std::vector<uint8_t> pattern = {next(), next()};
        auto way = op & 8 ? quorvel::FindWay::kForward : quorvel::FindWay::kBackward;
        auto match = store.Find(SessionDisplay::kHex, {pattern, (op & 16) != 0}, next() * 64u, way);
        if (match) FUZZ_CHECK(match->length == 2);
        break;
      }
      default:
        if (op & 8) store.Clear();
        break;
    }
  }
  CheckLines(store, SessionDisplay::kText);
  CheckLines(store, SessionDisplay::kHex);
  return 0;
}
