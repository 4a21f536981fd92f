// Turns headers and data into ZMODEM's bytes on the wire: hex headers, binary
// headers with CRC-16 or CRC-32, and data subpackets, every binary byte
// escaped with ZDLE where a network or telnet path could take it for its own
// (ZDLE itself, DLE, XON, XOFF and their high-bit twins, and CR after '@',
// the telnet escape), or every control byte where the receiver asks for it.
//
// One encoder belongs to one side of one transfer (one thread). It appends to
// the caller's buffer and never fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "transfer/zmodem_protocol.h"

namespace quorvel::zmodem {

class Encoder {
 public:
  Encoder();

  // Escape every control byte (0x00-0x1f and 0x80-0x9f) from now on: the
  // receiver's ESCCTL.
  void EscapeAllControls();

  // ZPAD ZPAD ZDLE 'B', the header and its CRC-16 as lower-case hex, CR LF,
  // and XON except after ZACK and ZFIN.
  void AppendHexHeader(std::vector<uint8_t>& out, const Header& header);
  // ZPAD ZDLE 'A' or 'C' and the escaped header with its CRC.
  void AppendBinaryHeader(std::vector<uint8_t>& out, const Header& header, bool crc32);
  // The escaped data, ZDLE and `end`, and the escaped CRC of both.
  void AppendSubpacket(std::vector<uint8_t>& out, std::span<const uint8_t> data, End end,
                       bool crc32);

 private:
  // Appends `bytes` escaped at `at`, which has room for twice their count.
  uint8_t* Escape(uint8_t* at, std::span<const uint8_t> bytes);
  void AppendEscaped(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);
  // The CRC as the wire carries it: CRC-16 high byte first, CRC-32 low byte
  // first, escaped like the data.
  void AppendCheck(std::vector<uint8_t>& out, uint32_t crc, bool crc32);

  enum : uint8_t { kPlain = 0, kAlways = 1, kAfterAt = 2 };
  uint8_t escape_[256];
  uint8_t previous_ = 0;  // the last byte escaped, for CR after '@'
};

}  // namespace quorvel::zmodem
