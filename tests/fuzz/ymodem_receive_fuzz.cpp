// YMODEM's receiving side fed whatever a broken or hostile sender might
// send (headers with any name, size and time, blocks in any order), in
// pieces the input chooses, then silence: it always ends, every file it
// began is ended, every name is made safe, and it never writes more than it
// was sent.
#include "fuzz/transfer_fuzz_support.h"
#include "transfer/xymodem.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputChannel channel(data, size);
  CheckingSink sink(size);
  SilentObserver observer;
  TransferOutcome outcome = YmodemReceive(channel, sink, observer, kFuzzTiming);
  FUZZ_CHECK(!sink.Open());
  FUZZ_CHECK(outcome.bytes <= size);
  FUZZ_CHECK(static_cast<size_t>(outcome.files) <= size / 128 + 1);
  return 0;
}
