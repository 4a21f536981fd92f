#include "sending/checksum.h"

#include <algorithm>
#include <array>

namespace quorvel {
namespace {

constexpr ChecksumInfo kChecksums[] = {
    {ChecksumKind::kNone, "none", "None"},
    {ChecksumKind::kModbusCrc16, "modbus-crc16", "Modbus CRC-16"},
    {ChecksumKind::kCrc16CcittFalse, "crc16-ccitt-false", "CRC-16/CCITT-FALSE"},
    {ChecksumKind::kCrc16Xmodem, "crc16-xmodem", "CRC-16/XMODEM"},
    {ChecksumKind::kCrc8, "crc8", "CRC-8"},
    {ChecksumKind::kCrc32, "crc32", "CRC-32"},
    {ChecksumKind::kXor8, "xor8", "XOR-8"},
    {ChecksumKind::kSum8, "sum8", "SUM-8"},
    {ChecksumKind::kModbusLrc, "modbus-lrc", "Modbus ASCII LRC"},
};

// Byte tables, one per polynomial, made at compile time.
constexpr std::array<uint16_t, 256> ReflectedTable16(uint16_t poly) {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ poly : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> Table16(uint16_t poly) {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ poly)
                           : static_cast<uint16_t>(crc << 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint8_t, 256> Table8(uint8_t poly) {
  std::array<uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint8_t crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ poly) : static_cast<uint8_t>(crc << 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> ReflectedTable32(uint32_t poly) {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ poly : crc >> 1;
    table[i] = crc;
  }
  return table;
}

constexpr auto kModbusTable = ReflectedTable16(0xA001);  // 0x8005 reflected
constexpr auto kCcittTable = Table16(0x1021);
constexpr auto kCrc8Table = Table8(0x07);
constexpr auto kCrc32Table = ReflectedTable32(0xEDB88320);  // 0x04C11DB7 reflected

// CRC-32 eight bytes a step: table k gives a byte's share of the CRC after
// k more zero bytes, so eight lookups that do not wait on one another
// replace eight that each wait on the last. File transfers check every byte.
constexpr std::array<std::array<uint32_t, 256>, 8> SlicedTables32() {
  std::array<std::array<uint32_t, 256>, 8> tables{};
  tables[0] = kCrc32Table;
  for (size_t k = 1; k < 8; ++k) {
    for (size_t i = 0; i < 256; ++i) {
      uint32_t before = tables[k - 1][i];
      tables[k][i] = (before >> 8) ^ kCrc32Table[before & 0xFF];
    }
  }
  return tables;
}
constexpr auto kCrc32Sliced = SlicedTables32();

uint32_t LittleEndian32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

uint16_t Crc16Msb(std::span<const uint8_t> bytes, uint16_t crc) {
  for (uint8_t byte : bytes) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCcittTable[((crc >> 8) ^ byte) & 0xFF]);
  }
  return crc;
}

uint8_t Xor8(std::span<const uint8_t> bytes) {
  uint8_t value = 0;
  for (uint8_t byte : bytes) value ^= byte;
  return value;
}

uint8_t Sum8(std::span<const uint8_t> bytes) {
  unsigned sum = 0;
  for (uint8_t byte : bytes) sum += byte;
  return static_cast<uint8_t>(sum);
}

uint8_t Lrc(std::span<const uint8_t> bytes) {
  return static_cast<uint8_t>(-Sum8(bytes));
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes a Modbus ASCII frame's digits stand for (after the colon), or
// nothing when `text` is not ":" and pairs of hex digits.
std::optional<std::vector<uint8_t>> AsciiFrameBytes(std::span<const uint8_t> text) {
  if (text.empty() || text[0] != ':' || text.size() % 2 == 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 1; i + 1 < text.size(); i += 2) {
    int high = HexDigit(text[i]);
    int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::vector<uint8_t> HexPair(uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {static_cast<uint8_t>(kDigits[value >> 4]), static_cast<uint8_t>(kDigits[value & 0xF])};
}

std::vector<uint8_t> LrcBytes(std::span<const uint8_t> bytes) {
  if (auto frame = AsciiFrameBytes(bytes)) return HexPair(Lrc(*frame));
  return {Lrc(bytes)};
}

FrameCheck CheckAsciiFrame(std::span<const uint8_t> frame) {
  while (!frame.empty() && (frame.back() == '\n' || frame.back() == '\r')) {
    frame = frame.first(frame.size() - 1);
  }
  auto bytes = AsciiFrameBytes(frame);
  if (!bytes) {
    // Not an ASCII frame: the last byte is the LRC of those before it.
    if (frame.size() < 2) return FrameCheck::kBad;
    return Lrc(frame.first(frame.size() - 1)) == frame.back() ? FrameCheck::kValid
                                                              : FrameCheck::kBad;
  }
  if (bytes->size() < 2) return FrameCheck::kBad;
  std::span<const uint8_t> data(bytes->data(), bytes->size() - 1);
  return Lrc(data) == bytes->back() ? FrameCheck::kValid : FrameCheck::kBad;
}

}  // namespace

std::span<const ChecksumInfo> ChecksumTable() {
  return kChecksums;
}

const ChecksumInfo& InfoOf(ChecksumKind kind) {
  for (const ChecksumInfo& info : kChecksums) {
    if (info.kind == kind) return info;
  }
  return kChecksums[0];
}

std::optional<ChecksumKind> ChecksumFromKey(std::string_view key) {
  for (const ChecksumInfo& info : kChecksums) {
    if (info.key == key) return info.kind;
  }
  return std::nullopt;
}

uint16_t Crc16Modbus(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : bytes)
    crc = static_cast<uint16_t>((crc >> 8) ^ kModbusTable[(crc ^ byte) & 0xFF]);
  return crc;
}

uint16_t Crc16CcittFalse(std::span<const uint8_t> bytes) {
  return Crc16Msb(bytes, 0xFFFF);
}

uint16_t Crc16Xmodem(std::span<const uint8_t> bytes) {
  return Crc16Msb(bytes, 0x0000);
}

uint8_t Crc8(std::span<const uint8_t> bytes) {
  uint8_t crc = 0;
  for (uint8_t byte : bytes) crc = kCrc8Table[crc ^ byte];
  return crc;
}

uint32_t Crc32(std::span<const uint8_t> bytes) {
  return Crc32Continue(0, bytes);
}

uint16_t Crc16XmodemContinue(uint16_t crc, std::span<const uint8_t> bytes) {
  return Crc16Msb(bytes, crc);
}

uint32_t Crc32Continue(uint32_t crc, std::span<const uint8_t> bytes) {
  const auto& t = kCrc32Sliced;
  crc ^= 0xFFFFFFFF;
  const uint8_t* at = bytes.data();
  size_t left = bytes.size();
  for (; left >= 8; left -= 8, at += 8) {
    uint32_t low = LittleEndian32(at) ^ crc;
    uint32_t high = LittleEndian32(at + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^
          t[0][high >> 24];
  }
  for (; left > 0; --left, ++at) crc = (crc >> 8) ^ kCrc32Table[(crc ^ *at) & 0xFF];
  return crc ^ 0xFFFFFFFF;
}

std::vector<uint8_t> ChecksumBytes(ChecksumKind kind, std::span<const uint8_t> bytes) {
  auto lowFirst16 = [](uint16_t v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  };
  auto highFirst16 = [](uint16_t v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  };
  switch (kind) {
    case ChecksumKind::kNone:
      return {};
    case ChecksumKind::kModbusCrc16:
      return lowFirst16(Crc16Modbus(bytes));
    case ChecksumKind::kCrc16CcittFalse:
      return highFirst16(Crc16CcittFalse(bytes));
    case ChecksumKind::kCrc16Xmodem:
      return highFirst16(Crc16Xmodem(bytes));
    case ChecksumKind::kCrc8:
      return {Crc8(bytes)};
    case ChecksumKind::kCrc32: {
      uint32_t crc = Crc32(bytes);
      return {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
              static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24)};
    }
    case ChecksumKind::kXor8:
      return {Xor8(bytes)};
    case ChecksumKind::kSum8:
      return {Sum8(bytes)};
    case ChecksumKind::kModbusLrc:
      return LrcBytes(bytes);
  }
  return {};
}

void AppendChecksum(ChecksumKind kind, std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> check = ChecksumBytes(kind, bytes);
  bytes.insert(bytes.end(), check.begin(), check.end());
}

FrameCheck CheckFrame(ChecksumKind kind, std::span<const uint8_t> frame) {
  if (kind == ChecksumKind::kNone) return FrameCheck::kUnchecked;
  if (kind == ChecksumKind::kModbusLrc) return CheckAsciiFrame(frame);
  // Every other check has a fixed width: that of the check of nothing.
  size_t width = ChecksumBytes(kind, {}).size();
  if (frame.size() <= width) return FrameCheck::kBad;
  std::span<const uint8_t> data = frame.first(frame.size() - width);
  std::vector<uint8_t> expected = ChecksumBytes(kind, data);
  bool equal = std::equal(expected.begin(), expected.end(), frame.begin() + data.size());
  return equal ? FrameCheck::kValid : FrameCheck::kBad;
}

}  // namespace quorvel
