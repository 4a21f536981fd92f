// The ZMODEM protocol's vocabulary: the bytes that frame the stream, the
// header types and their flag bits, and the five-byte header itself. Plain
// values, no behaviour; the codec (zmodem_encoder.h, zmodem_reader.h) and the
// two sides (zmodem.h) are written in these terms.
#pragma once

#include <array>
#include <cstdint>

namespace quorvel::zmodem {

// Framing bytes.
inline constexpr uint8_t kPad = '*';   // ZPAD: a header follows
inline constexpr uint8_t kDle = 0x18;  // ZDLE: the link escape, which is also CAN
inline constexpr uint8_t kCan = 0x18;  // five in a row end the session
inline constexpr uint8_t kXon = 0x11;  // flow control: ignored inside the stream
inline constexpr uint8_t kXoff = 0x13;
inline constexpr int kCancelRun = 5;  // CANs in a row that cancel

// The byte after ZPAD ZDLE: how the header is encoded.
enum class Encoding : uint8_t {
  kBin16 = 'A',  // binary, CRC-16
  kHex = 'B',    // hex digits, CRC-16 (the receiver's own headers)
  kBin32 = 'C',  // binary, CRC-32
};

// The byte after ZDLE that ends a data subpacket, and what it asks.
enum class End : uint8_t {
  kCrcE = 'h',  // the frame ends; a header follows; no answer wanted
  kCrcG = 'i',  // the frame goes on; no answer wanted
  kCrcQ = 'j',  // the frame goes on; answer with ZACK
  kCrcW = 'k',  // the frame ends; answer with ZACK
};
inline constexpr uint8_t kRub0 = 'l';  // ZDLE l stands for 0x7f
inline constexpr uint8_t kRub1 = 'm';  // ZDLE m stands for 0xff

enum class Type : uint8_t {
  kRqInit = 0,  // sender: are you there (the auto-start pattern's header)
  kRInit = 1,   // receiver: ready, with what it can do
  kSInit = 2,   // sender: its escaping wishes and attention string
  kAck = 3,
  kFile = 4,  // a file's name and size follow
  kSkip = 5,  // receiver: not this file
  kNak = 6,   // the last header arrived garbled
  kAbort = 7,
  kFin = 8,   // the session ends
  kRPos = 9,  // receiver: resume at this offset
  kData = 10,
  kEof = 11,
  kFErr = 12,  // a file could not be read or written
  kCrc = 13,   // the file's CRC-32, asked and answered
  kChallenge = 14,
  kCompl = 15,
  kCan = 16,
  kFreeCnt = 17,
  kCommand = 18,
  kStdErr = 19,
};

// ZRINIT's ZF0: what the receiver can do.
inline constexpr uint8_t kCanFullDuplex = 0x01;   // CANFDX
inline constexpr uint8_t kCanOverlapIo = 0x02;    // CANOVIO: receives while it writes
inline constexpr uint8_t kCanCrc32 = 0x20;        // CANFC32
inline constexpr uint8_t kEscapeControls = 0x40;  // ESCCTL: wants every control byte escaped
inline constexpr uint8_t kEscape8 = 0x80;         // ESC8

// ZFILE's ZF0: the conversion asked for.
inline constexpr uint8_t kConvertBinary = 1;  // ZCBIN: the bytes as they are

// Subpackets: the sender's length, and the most a receiver takes (a file
// header with a long name included) before it calls the subpacket garbled.
inline constexpr int kSubpacketLength = 1024;
inline constexpr int kMaxSubpacket = 16 * 1024;

// One header: the type and four bytes that are either a file offset (ZP0 low
// byte first) or flags (ZF3 ZF2 ZF1 ZF0, ZF0 last).
struct Header {
  Type type = Type::kRqInit;
  std::array<uint8_t, 4> bytes{};

  static Header At(Type type, uint64_t position) {
    Header header{type, {}};
    for (int i = 0; i < 4; ++i) header.bytes[i] = static_cast<uint8_t>(position >> (8 * i));
    return header;
  }
  static Header Flags(Type type, uint8_t zf0, uint8_t zf1 = 0, uint8_t zf2 = 0, uint8_t zf3 = 0) {
    return Header{type, {zf3, zf2, zf1, zf0}};
  }
  uint32_t Position() const {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  }
  uint8_t Zf0() const { return bytes[3]; }
  uint8_t Zf1() const { return bytes[2]; }
  bool operator==(const Header&) const = default;
};

}  // namespace quorvel::zmodem
