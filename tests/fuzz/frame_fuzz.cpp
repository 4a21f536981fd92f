// The receive worker's frame logic driven by a fuzzed schedule of what the
// line and the window do: bursts of bytes, quiet reads, a new frame-end byte,
// echo switched on and off. Whatever happened before, an answered frame is
// always a run of bytes as they arrived and really ends with the frame end,
// and a short frame sent afterwards is answered within two tries.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/frame_gatherer.h"
#include "fuzz/fuzz_check.h"

namespace {

class Schedule {
 public:
  Schedule(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ >= size_; }
  uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
  // Up to `wanted` bytes of the schedule itself, as line data.
  std::vector<uint8_t> Take(size_t wanted) {
    size_t n = std::min(wanted, size_ - at_);
    std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class Line {
 public:
  void Burst(const std::vector<uint8_t>& bytes) {
    if (!gathering_) return;
    frame_.Add(bytes.data(), static_cast<int>(bytes.size()), endByte_);
    stream_.insert(stream_.end(), bytes.begin(), bytes.end());
    FUZZ_CHECK(frame_.Length() >= 0 && frame_.Length() <= quorvel::kChunkCapacity);
  }

  // A quiet read: a complete frame is answered, as echo would send it.
  bool Quiet() {
    if (!gathering_ || !frame_.Complete(endByte_)) return false;
    int n = frame_.Length();
    const uint8_t* bytes = frame_.Bytes();
    FUZZ_CHECK(n >= 1);
    FUZZ_CHECK(bytes[n - 1] == endByte_ || (n >= 2 && bytes[n - 2] == endByte_));
    // The frame is bytes as they came, after the last answered frame.
    auto from = stream_.begin() + static_cast<long>(answeredUpTo_);
    auto found = std::search(from, stream_.end(), bytes, bytes + n);
    FUZZ_CHECK(found != stream_.end());
    answeredUpTo_ = static_cast<size_t>(found - stream_.begin()) + static_cast<size_t>(n);
    frame_.Clear();
    return true;
  }

  void SetEndByte(uint8_t endByte) { endByte_ = endByte; }
  void SetGathering(bool on) { gathering_ = on; }
  uint8_t EndByte() const { return endByte_; }

 private:
  quorvel::FrameGatherer frame_;
  std::vector<uint8_t> stream_;  // every byte gathered, in order
  size_t answeredUpTo_ = 0;
  uint8_t endByte_ = 0x0d;
  bool gathering_ = true;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Schedule schedule(data, size);
  Line line;
  while (!schedule.Done()) {
    switch (schedule.Next() % 4) {
      case 0: {
        // Bursts up to a full chunk, and now and then several chunks' worth.
        size_t length = schedule.Next() * 16u + schedule.Next();
        line.Burst(schedule.Take(length));
        break;
      }
      case 1:
        line.Quiet();
        break;
      case 2:
        line.SetEndByte(schedule.Next());
        break;
      case 3:
        line.SetGathering(schedule.Next() % 2 == 0);
        break;
    }
  }
  // Whatever the frame holds now, a short frame is answered by the second try.
  line.SetGathering(true);
  uint8_t body = static_cast<uint8_t>(line.EndByte() + 1);
  bool answered = false;
  for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
    line.Quiet();  // an earlier frame completed by the last schedule step goes first
    line.Burst({body, line.EndByte()});
    answered = line.Quiet();
  }
  FUZZ_CHECK(answered);
  return 0;
}
