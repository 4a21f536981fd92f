// The checks a send can end with and a received frame can be judged by.
//
// A check is computed over the bytes of the send as they go out (after hex
// parsing and escapes) and appended to them; a line ending chosen for the
// send comes after the check, so "...<LRC>\r\n" is a Modbus ASCII frame.
// Each check's bytes go in the order its protocol puts them on the wire:
// Modbus CRC-16 and CRC-32 low byte first, the other CRC-16s high byte
// first.
//
// The Modbus ASCII LRC is the exception in form: when the bytes are a Modbus
// ASCII frame (":" and pairs of hex digits) it is computed over the bytes the
// digits stand for and appended as two upper-case hex digits, as the protocol
// carries it; otherwise it is the two's complement of the byte sum, one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel {

enum class ChecksumKind : int {
  kNone = 0,
  kModbusCrc16,
  kCrc16CcittFalse,
  kCrc16Xmodem,
  kCrc8,
  kCrc32,
  kXor8,
  kSum8,
  kModbusLrc,
};

struct ChecksumInfo {
  ChecksumKind kind;
  std::string_view key;    // as kept in the settings file: "modbus-crc16"
  std::string_view label;  // as shown to the user: "Modbus CRC-16"
};

// Every kind, kNone first, in the order the user is offered them.
std::span<const ChecksumInfo> ChecksumTable();
const ChecksumInfo& InfoOf(ChecksumKind kind);
// The kind kept under `key` (case as written); nothing for an unknown key.
std::optional<ChecksumKind> ChecksumFromKey(std::string_view key);

// The check of `bytes` as it goes on the wire; empty for kNone.
std::vector<uint8_t> ChecksumBytes(ChecksumKind kind, std::span<const uint8_t> bytes);
// Appends the check of `bytes` to them.
void AppendChecksum(ChecksumKind kind, std::vector<uint8_t>& bytes);

enum class FrameCheck { kUnchecked, kValid, kBad };
// Whether the frame's last bytes are the check of those before them. A
// frame too short to hold a check and at least one byte is bad; kNone leaves
// every frame unchecked. A Modbus ASCII frame may end in CR LF.
FrameCheck CheckFrame(ChecksumKind kind, std::span<const uint8_t> frame);

// The bare values, for tests against published check values.
uint16_t Crc16Modbus(std::span<const uint8_t> bytes);
uint16_t Crc16CcittFalse(std::span<const uint8_t> bytes);
uint16_t Crc16Xmodem(std::span<const uint8_t> bytes);
uint8_t Crc8(std::span<const uint8_t> bytes);
uint32_t Crc32(std::span<const uint8_t> bytes);

// The same checks continued over more bytes, for data that arrives in pieces
// (a transfer's subpacket and the byte that ends it):
// Crc32Continue(Crc32(a), b) == Crc32(a followed by b), and Crc32(x) ==
// Crc32Continue(0, x); likewise for CRC-16/XMODEM.
uint16_t Crc16XmodemContinue(uint16_t crc, std::span<const uint8_t> bytes);
uint32_t Crc32Continue(uint32_t crc, std::span<const uint8_t> bytes);

}  // namespace quorvel
