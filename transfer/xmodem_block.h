// The blocks XMODEM and YMODEM carry, both ways: building one to send, and
// finding them in the received bytes. The parser is a small state machine
// over bytes that trusts nothing it reads: a block is whole only when its
// number, the number's complement and its check agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel {

namespace xmodem {
inline constexpr uint8_t kSoh = 0x01;  // a block of 128 bytes follows
inline constexpr uint8_t kStx = 0x02;  // a block of 1024 bytes follows
inline constexpr uint8_t kEot = 0x04;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCan = 0x18;
inline constexpr uint8_t kCrcStart = 'C';  // the receiver asks for CRC-16 blocks
inline constexpr uint8_t kPad = 0x1A;      // fills the last block
inline constexpr size_t kShortBlock = 128;
inline constexpr size_t kLongBlock = 1024;
}  // namespace xmodem

enum class BlockCheck { kSum, kCrc };

// The block numbered `number` holding `data` (at most `size` bytes, padded
// with `pad` up to `size`, which is 128 or 1024).
std::vector<uint8_t> MakeBlock(uint8_t number, const uint8_t* data, size_t count, size_t size,
                               BlockCheck check, uint8_t pad = xmodem::kPad);

class BlockParser {
 public:
  enum class Event {
    kNone,      // nothing complete yet
    kBlock,     // a whole block: Number() and Data()
    kBadBlock,  // a block whose complement or check is wrong
    kEot,       // the sender's end of file
    kCancel,    // two CANs in a row between blocks
  };

  explicit BlockParser(BlockCheck check = BlockCheck::kCrc) : check_(check) {}
  void SetCheck(BlockCheck check) { check_ = check; }
  BlockCheck Check() const { return check_; }

  // Takes the next received byte. Bytes between blocks that mean nothing
  // (noise, a stray 'C') are passed over.
  Event Push(uint8_t byte);
  // Inside a block: its end is awaited.
  bool InBlock() const { return state_ != State::kIdle; }
  // Forgets a block begun.
  void Reset() { state_ = State::kIdle; }

  uint8_t Number() const { return number_; }
  const uint8_t* Data() const { return data_.data(); }
  size_t Size() const { return size_; }

 private:
  enum class State { kIdle, kNumber, kComplement, kData, kCheck };
  Event Finish();

  BlockCheck check_;
  State state_ = State::kIdle;
  bool canSeen_ = false;
  uint8_t number_ = 0;
  bool complementOk_ = false;
  size_t size_ = 0;
  size_t at_ = 0;
  std::array<uint8_t, xmodem::kLongBlock> data_{};
  std::array<uint8_t, 2> checkBytes_{};
};

}  // namespace quorvel
