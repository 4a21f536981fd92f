// The ZMODEM receiver fed whatever a sender might send: the input is the
// line, cut into reads of sizes the input's first byte picks. Whatever
// arrives, the receiver ends (the line ends with the input), begins and
// ends files in pairs, never writes past the length a file's header gave nor
// without a file begun, and keeps its progress within what it wrote. The
// auto-start detector reads the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "transfer/zmodem.h"
#include "transfer/zmodem_autostart.h"

namespace {

using namespace quorvel;

class FuzzLine : public TransferChannel {
 public:
  FuzzLine(const uint8_t* data, size_t size)
      : data_(data), size_(size), chunk_(size > 0 ? 1 + data[0] % 64 : 1) {}

  int Read(uint8_t* buffer, int capacity, int) override {
    if (at_ >= size_) return kLinkLost;
    size_t n = std::min({chunk_, size_ - at_, static_cast<size_t>(capacity)});
    std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return static_cast<int>(n);
  }
  bool Write(const uint8_t*, int count) override {
    FUZZ_CHECK(count > 0 && count < (1 << 20));
    return true;
  }
  void DiscardInput() override {}
  bool CancelRequested() const override { return false; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t chunk_;
  size_t at_ = 0;
};

class CheckingSink : public FileSink {
 public:
  bool Begin(const IncomingFile& file, std::string* reason) override {
    FUZZ_CHECK(!open_);
    // Refuse every third file: the receiver must skip it and go on.
    if (++begun_ % 3 == 0) {
      *reason = "refused";
      return false;
    }
    open_ = true;
    size_ = file.size;
    written_ = 0;
    return true;
  }
  bool Write(const uint8_t* bytes, size_t count, std::string*) override {
    FUZZ_CHECK(open_);
    FUZZ_CHECK(bytes != nullptr && count > 0);
    written_ += count;
    total_ += count;
    FUZZ_CHECK(!size_ || written_ <= *size_);
    return true;
  }
  bool End(bool complete, std::string*) override {
    FUZZ_CHECK(open_);
    FUZZ_CHECK(!complete || !size_ || written_ == *size_);
    open_ = false;
    return true;
  }
  bool Open() const { return open_; }
  uint64_t Total() const { return total_; }

 private:
  bool open_ = false;
  int begun_ = 0;
  std::optional<uint64_t> size_;
  uint64_t written_ = 0;
  uint64_t total_ = 0;
};

class QuietObserver : public TransferObserver {
 public:
  void Progressed(const TransferProgress& progress) override {
    FUZZ_CHECK(progress.waitSecondsLeft >= -1);
  }
  void Noted(std::string_view text) override { FUZZ_CHECK(!text.empty()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzLine line(data, size);
  CheckingSink sink;
  QuietObserver observer;
  TransferOutcome outcome = ZmodemReceive(line, sink, observer, {1000, 100, 3});
  FUZZ_CHECK(!sink.Open());
  FUZZ_CHECK(outcome.bytes <= sink.Total());
  FUZZ_CHECK(outcome.status != TransferStatus::kDone || outcome.files >= 0);

  ZmodemStartDetector detector;
  std::optional<size_t> at = detector.Feed({data, size});
  if (at) {
    FUZZ_CHECK(*at >= 6 && *at <= size);
    FUZZ_CHECK(std::memcmp(data + *at - 6,
                           "**\x18"
                           "B00",
                           6) == 0);
  }
  return 0;
}
