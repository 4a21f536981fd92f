// What the transfer fuzz targets share: a sender played from the input (a
// piece at a time, the first byte of each saying its length, then silence)
// and a sink that checks how it is used.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "transfer/safe_name.h"
#include "transfer/transfer_channel.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_report.h"

namespace quorvel {

class InputChannel : public TransferChannel {
 public:
  InputChannel(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int Read(uint8_t* buffer, int capacity, int) override {
    if (at_ >= size_) return kTimedOut;
    size_t piece = std::min<size_t>(1 + data_[at_] % 200, size_ - at_ - 1);
    piece = std::min(piece, static_cast<size_t>(capacity));
    ++at_;
    std::copy(data_ + at_, data_ + at_ + piece, buffer);
    at_ += piece;
    return piece == 0 ? kTimedOut : static_cast<int>(piece);
  }
  bool Write(const uint8_t*, int count) override {
    written_ += static_cast<size_t>(count);
    return true;
  }
  void DiscardInput() override {}
  bool CancelRequested() const override { return false; }
  size_t Given() const { return at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  size_t written_ = 0;
};

// Keeps nothing; checks that files are begun, written and ended in order,
// that no file gets more than the input held, and that every name the
// sender gave is made safe.
class CheckingSink : public FileSink {
 public:
  explicit CheckingSink(size_t inputSize) : inputSize_(inputSize) {}
  bool Begin(const IncomingFile& file, std::string*) override {
    FUZZ_CHECK(!open_);
    std::string safe = SafeFileName(file.name);
    FUZZ_CHECK(safe.size() <= kMaxFileNameBytes);
    FUZZ_CHECK(safe.find('/') == std::string::npos && safe.find('\\') == std::string::npos);
    FUZZ_CHECK(safe != "." && safe != "..");
    for (char c : safe) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    open_ = true;
    written_ = 0;
    return true;
  }
  bool Write(const uint8_t*, size_t count, std::string*) override {
    FUZZ_CHECK(open_);
    written_ += count;
    FUZZ_CHECK(written_ <= inputSize_);
    return true;
  }
  bool End(bool, std::string*) override {
    FUZZ_CHECK(open_);
    open_ = false;
    return true;
  }
  bool Open() const { return open_; }

 private:
  size_t inputSize_;
  bool open_ = false;
  size_t written_ = 0;
};

class SilentObserver : public TransferObserver {
  void Progressed(const TransferProgress&) override {}
  void Noted(std::string_view) override {}
};

// Waits short enough that a run takes milliseconds.
inline constexpr TransferTiming kFuzzTiming{5, 5, 3};

}  // namespace quorvel
