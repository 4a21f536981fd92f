#include "transfer/zmodem_reader.h"

#include "core/clock.h"
#include "sending/checksum.h"

namespace quorvel::zmodem {
namespace {

bool IsFlowControl(int byte) {
  int low = byte & 0x7f;
  return low == kXon || low == kXoff;
}

int HexValue(int byte) {
  byte &= 0x7f;  // the hex header ignores parity
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

bool IsEnd(int byte) {
  return byte >= static_cast<int>(End::kCrcE) && byte <= static_cast<int>(End::kCrcW);
}

Header HeaderOf(const uint8_t payload[5]) {
  return Header{static_cast<Type>(payload[0]), {payload[1], payload[2], payload[3], payload[4]}};
}

}  // namespace

Got Reader::GotOf(int code) {
  switch (code) {
    case kTimedOutCode:
      return Got::kTimedOut;
    case kLinkLostCode:
      return Got::kLinkLost;
    case kUserCancelledCode:
      return Got::kUserCancelled;
    case kPeerCancelledCode:
      return Got::kPeerCancelled;
    default:
      return Got::kGarbled;
  }
}

// Called with nothing left in the buffer.
int Reader::Refill(int64_t deadline) {
  begin_ = end_ = 0;
  // Past the deadline what has arrived is kept for the next read but this
  // one ends, so a flood cannot hold a wait open.
  int remaining = RemainingMs(deadline);
  int got = channel_.Read(buffer_, static_cast<int>(sizeof buffer_), remaining);
  if (got == TransferChannel::kLinkLost) return kLinkLostCode;
  if (got == TransferChannel::kCancelled) return kUserCancelledCode;
  if (got > 0) end_ = got;
  return got > 0 && remaining > 0 ? 0 : kTimedOutCode;
}

int Reader::Next(int64_t deadline) {
  if (begin_ == end_) {
    if (int status = Refill(deadline); status < 0) return status;
  }
  return buffer_[begin_++];
}

int Reader::Escaped(int64_t deadline) {
  canRun_ = 1;  // ZDLE is a CAN
  for (;;) {
    int byte = Next(deadline);
    if (byte < 0) return byte;
    if (byte == kCan) {
      if (++canRun_ >= kCancelRun) return kPeerCancelledCode;
      continue;
    }
    if (IsFlowControl(byte)) continue;
    bool cansBefore = canRun_ > 1;
    canRun_ = 0;
    if (cansBefore) return kGarbledCode;  // ZDLE CAN is no escape
    if (IsEnd(byte)) return kEndFlag | byte;
    if (byte == kRub0) return 0x7f;
    if (byte == kRub1) return 0xff;
    if ((byte & 0x60) == 0x40) return byte ^ 0x40;
    return kGarbledCode;
  }
}

int Reader::DecodeByte(int64_t deadline) {
  for (;;) {
    int byte = Next(deadline);
    if (byte < 0) return byte;
    if (byte == kDle) return Escaped(deadline);
    if (IsFlowControl(byte)) continue;
    canRun_ = 0;
    return byte;
  }
}

Got Reader::ReadHeader(int timeoutMs, Header* header, Encoding* encoding) {
  const int64_t deadline = SteadyNowMs() + timeoutMs;
  enum { kHunting, kAfterPad, kAfterDle } state = kHunting;
  afterHex_ = false;
  for (;;) {
    int byte = Next(deadline);
    if (byte < 0) return GotOf(byte);
    if (byte == kCan) {
      if (++canRun_ >= kCancelRun) return Got::kPeerCancelled;
    } else {
      canRun_ = 0;
    }
    if (state == kAfterDle) {
      if (byte == static_cast<int>(Encoding::kHex)) {
        *encoding = Encoding::kHex;
        return ReadHexHeader(deadline, header);
      }
      if (byte == static_cast<int>(Encoding::kBin16) ||
          byte == static_cast<int>(Encoding::kBin32)) {
        *encoding = static_cast<Encoding>(byte);
        return ReadBinaryHeader(deadline, byte == static_cast<int>(Encoding::kBin32), header);
      }
      state = kHunting;
    }
    if (byte == kPad) {
      state = kAfterPad;
    } else if (state == kAfterPad && byte == kDle) {
      state = kAfterDle;
    } else {
      state = kHunting;
    }
  }
}

Got Reader::ReadHexHeader(int64_t deadline, Header* header) {
  uint8_t bytes[7] = {};
  for (int digit = 0; digit < 14; ++digit) {
    int byte = Next(deadline);
    if (byte < 0) return GotOf(byte);
    int value = HexValue(byte);
    if (value < 0) {
      canRun_ = byte == kCan ? 1 : 0;  // a cancel may cut the header short
      return Got::kGarbled;
    }
    bytes[digit / 2] = static_cast<uint8_t>(bytes[digit / 2] << 4 | value);
  }
  uint16_t sent = static_cast<uint16_t>(bytes[5] << 8 | bytes[6]);
  if (Crc16Xmodem(std::span<const uint8_t>(bytes, 5)) != sent) return Got::kGarbled;
  *header = HeaderOf(bytes);
  afterHex_ = true;
  return Got::kOk;
}

Got Reader::ReadBinaryHeader(int64_t deadline, bool crc32, Header* header) {
  uint8_t bytes[9];
  const int count = crc32 ? 9 : 7;
  for (int i = 0; i < count; ++i) {
    int byte = DecodeByte(deadline);
    if (byte < 0) return GotOf(byte);
    if (byte & kEndFlag) return Got::kGarbled;
    bytes[i] = static_cast<uint8_t>(byte);
  }
  std::span<const uint8_t> payload(bytes, 5);
  bool good = crc32 ? Crc32(payload) == (bytes[5] | bytes[6] << 8 | bytes[7] << 16 |
                                         static_cast<uint32_t>(bytes[8]) << 24)
                    : Crc16Xmodem(payload) == (bytes[5] << 8 | bytes[6]);
  if (!good) return Got::kGarbled;
  *header = HeaderOf(bytes);
  return Got::kOk;
}

// A hex header ends in CR LF (or LF alone); when a subpacket follows one,
// those are no data.
Got Reader::SkipHexLineEnd(int64_t deadline) {
  afterHex_ = false;
  int byte = Next(deadline);
  if (byte < 0) return GotOf(byte);
  if ((byte & 0x7f) == '\r') {
    byte = Next(deadline);
    if (byte < 0) return GotOf(byte);
  }
  if ((byte & 0x7f) != '\n') --begin_;  // no line end: the byte is the subpacket's
  return Got::kOk;
}

bool Reader::TakePlainRun(std::vector<uint8_t>* data) {
  const int start = begin_;
  int at = begin_;
  while (at < end_) {
    uint8_t byte = buffer_[at];
    if (byte == kDle || IsFlowControl(byte)) break;
    ++at;
  }
  if (at == start) return true;
  canRun_ = 0;
  if (data->size() + static_cast<size_t>(at - start) > static_cast<size_t>(kMaxSubpacket)) {
    return false;
  }
  data->insert(data->end(), buffer_ + start, buffer_ + at);
  begin_ = at;
  return true;
}

Got Reader::ReadSubpacket(bool crc32, int timeoutMs, std::vector<uint8_t>* data, End* end) {
  const int64_t deadline = SteadyNowMs() + timeoutMs;
  data->clear();
  if (afterHex_) {
    if (Got got = SkipHexLineEnd(deadline); got != Got::kOk) return got;
  }
  int ending;
  for (;;) {
    if (!TakePlainRun(data)) return Got::kGarbled;
    int byte = DecodeByte(deadline);
    if (byte < 0) return GotOf(byte);
    if (byte & kEndFlag) {
      ending = byte & 0xff;
      break;
    }
    if (data->size() >= static_cast<size_t>(kMaxSubpacket)) return Got::kGarbled;
    data->push_back(static_cast<uint8_t>(byte));
  }
  uint8_t check[4];
  const int checkLength = crc32 ? 4 : 2;
  for (int i = 0; i < checkLength; ++i) {
    int byte = DecodeByte(deadline);
    if (byte < 0) return GotOf(byte);
    if (byte & kEndFlag) return Got::kGarbled;
    check[i] = static_cast<uint8_t>(byte);
  }
  const uint8_t endByte = static_cast<uint8_t>(ending);
  const std::span<const uint8_t> ended(&endByte, 1);
  bool good =
      crc32 ? Crc32Continue(Crc32(*data), ended) == (check[0] | check[1] << 8 | check[2] << 16 |
                                                     static_cast<uint32_t>(check[3]) << 24)
            : Crc16XmodemContinue(Crc16Xmodem(*data), ended) == (check[0] << 8 | check[1]);
  if (!good) return Got::kGarbled;
  *end = static_cast<End>(ending);
  return Got::kOk;
}

Got Reader::Sample(bool* interrupted) {
  *interrupted = false;
  if (begin_ == end_) {
    begin_ = end_ = 0;
    int got = channel_.Read(buffer_, static_cast<int>(sizeof buffer_), 0);
    if (got == TransferChannel::kLinkLost) return Got::kLinkLost;
    if (got == TransferChannel::kCancelled) return Got::kUserCancelled;
    if (got > 0) end_ = got;
  }
  while (begin_ < end_) {
    uint8_t byte = buffer_[begin_];
    if (byte == kPad || byte == kCan) {
      *interrupted = true;
      return Got::kOk;
    }
    ++begin_;
  }
  return Got::kOk;
}

void Reader::Discard() {
  begin_ = end_ = 0;
  canRun_ = 0;
  afterHex_ = false;
  channel_.DiscardInput();
}

void Reader::SkipOverAndOut(int timeoutMs) {
  const int64_t deadline = SteadyNowMs() + timeoutMs;
  int seen = 0;
  while (seen < 2) {
    int byte = Next(deadline);
    if (byte < 0) return;
    seen = byte == 'O' ? seen + 1 : 0;
  }
}

}  // namespace quorvel::zmodem
