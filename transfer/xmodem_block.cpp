#include "transfer/xmodem_block.h"

#include <algorithm>
#include <span>

#include "sending/checksum.h"

namespace quorvel {
namespace {

uint8_t Sum(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>(sum);
}

}  // namespace

std::vector<uint8_t> MakeBlock(uint8_t number, const uint8_t* data, size_t count, size_t size,
                               BlockCheck check, uint8_t pad) {
  std::vector<uint8_t> block;
  block.reserve(size + 5);
  block.push_back(size == xmodem::kLongBlock ? xmodem::kStx : xmodem::kSoh);
  block.push_back(number);
  block.push_back(static_cast<uint8_t>(~number));
  count = std::min(count, size);
  block.insert(block.end(), data, data + count);
  block.resize(3 + size, pad);
  const uint8_t* payload = block.data() + 3;
  if (check == BlockCheck::kCrc) {
    uint16_t crc = Crc16Xmodem(std::span<const uint8_t>(payload, size));
    block.push_back(static_cast<uint8_t>(crc >> 8));
    block.push_back(static_cast<uint8_t>(crc));
  } else {
    block.push_back(Sum(payload, size));
  }
  return block;
}

BlockParser::Event BlockParser::Push(uint8_t byte) {
  switch (state_) {
    case State::kIdle: {
      bool can = byte == xmodem::kCan;
      bool twice = can && canSeen_;
      canSeen_ = can && !twice;
      if (twice) return Event::kCancel;
      if (byte == xmodem::kEot) return Event::kEot;
      if (byte == xmodem::kSoh || byte == xmodem::kStx) {
        size_ = byte == xmodem::kStx ? xmodem::kLongBlock : xmodem::kShortBlock;
        state_ = State::kNumber;
      }
      return Event::kNone;
    }
    case State::kNumber:
      number_ = byte;
      state_ = State::kComplement;
      return Event::kNone;
    case State::kComplement:
      complementOk_ = static_cast<uint8_t>(~number_) == byte;
      at_ = 0;
      state_ = State::kData;
      return Event::kNone;
    case State::kData:
      data_[at_++] = byte;
      if (at_ == size_) {
        at_ = 0;
        state_ = State::kCheck;
      }
      return Event::kNone;
    case State::kCheck:
      checkBytes_[at_++] = byte;
      if (at_ < (check_ == BlockCheck::kCrc ? 2u : 1u)) return Event::kNone;
      state_ = State::kIdle;
      return Finish();
  }
  return Event::kNone;
}

BlockParser::Event BlockParser::Finish() {
  bool good;
  if (check_ == BlockCheck::kCrc) {
    uint16_t crc = Crc16Xmodem(std::span<const uint8_t>(data_.data(), size_));
    good = checkBytes_[0] == static_cast<uint8_t>(crc >> 8) &&
           checkBytes_[1] == static_cast<uint8_t>(crc);
  } else {
    good = checkBytes_[0] == Sum(data_.data(), size_);
  }
  return good && complementOk_ ? Event::kBlock : Event::kBadBlock;
}

}  // namespace quorvel
