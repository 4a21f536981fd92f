// XMODEM's receiving side fed whatever a broken or hostile sender might
// send, in pieces the input chooses, then silence: it always ends, every
// file it began is ended, and it never writes more than it was sent.
#include "fuzz/transfer_fuzz_support.h"
#include "transfer/xymodem.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputChannel channel(data, size);
  CheckingSink sink(size);
  SilentObserver observer;
  XmodemPadding padding =
      size > 0 && (data[0] & 0x80) ? XmodemPadding::kKeep : XmodemPadding::kDrop;
  TransferOutcome outcome = XmodemReceive(channel, sink, observer, kFuzzTiming, padding);
  FUZZ_CHECK(!sink.Open());
  FUZZ_CHECK(outcome.bytes <= size);
  FUZZ_CHECK(outcome.files <= 1);
  return 0;
}
