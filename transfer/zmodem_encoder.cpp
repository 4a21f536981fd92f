#include "transfer/zmodem_encoder.h"

#include "sending/checksum.h"

namespace quorvel::zmodem {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHex(std::vector<uint8_t>& out, uint8_t byte) {
  out.push_back(static_cast<uint8_t>(kHexDigits[byte >> 4]));
  out.push_back(static_cast<uint8_t>(kHexDigits[byte & 0x0f]));
}

// The five bytes a header's CRC covers.
std::array<uint8_t, 5> Payload(const Header& header) {
  return {static_cast<uint8_t>(header.type), header.bytes[0], header.bytes[1], header.bytes[2],
          header.bytes[3]};
}

}  // namespace

Encoder::Encoder() {
  for (int byte = 0; byte < 256; ++byte) escape_[byte] = kPlain;
  for (uint8_t special : {kDle, uint8_t{0x10}, kXon, kXoff}) {
    escape_[special] = kAlways;
    escape_[special | 0x80] = kAlways;
  }
  escape_[0x0d] = kAfterAt;
  escape_[0x8d] = kAfterAt;
}

void Encoder::EscapeAllControls() {
  for (int byte = 0; byte < 256; ++byte) {
    if ((byte & 0x60) == 0) escape_[byte] = kAlways;
  }
}

uint8_t* Encoder::Escape(uint8_t* at, std::span<const uint8_t> bytes) {
  uint8_t previous = previous_;
  for (uint8_t byte : bytes) {
    uint8_t how = escape_[byte];
    if (how == kAlways || (how == kAfterAt && (previous & 0x7f) == '@')) {
      *at++ = kDle;
      *at++ = byte ^ 0x40;
    } else {
      *at++ = byte;
    }
    previous = byte;
  }
  previous_ = previous;
  return at;
}

void Encoder::AppendEscaped(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
  size_t used = out.size();
  out.resize(used + 2 * bytes.size());
  uint8_t* end = Escape(out.data() + used, bytes);
  out.resize(static_cast<size_t>(end - out.data()));
}

void Encoder::AppendHexHeader(std::vector<uint8_t>& out, const Header& header) {
  std::array<uint8_t, 5> payload = Payload(header);
  uint16_t crc = Crc16Xmodem(payload);
  out.insert(out.end(), {kPad, kPad, kDle, static_cast<uint8_t>(Encoding::kHex)});
  for (uint8_t byte : payload) AppendHex(out, byte);
  AppendHex(out, static_cast<uint8_t>(crc >> 8));
  AppendHex(out, static_cast<uint8_t>(crc));
  out.push_back('\r');
  out.push_back('\n');
  if (header.type != Type::kAck && header.type != Type::kFin) out.push_back(kXon);
  previous_ = '\n';
}

void Encoder::AppendCheck(std::vector<uint8_t>& out, uint32_t crc, bool crc32) {
  std::array<uint8_t, 4> check{};
  if (crc32) {
    for (int i = 0; i < 4; ++i) check[i] = static_cast<uint8_t>(crc >> (8 * i));
  } else {
    check = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
  }
  AppendEscaped(out, std::span<const uint8_t>(check.data(), crc32 ? 4 : 2));
}

void Encoder::AppendBinaryHeader(std::vector<uint8_t>& out, const Header& header, bool crc32) {
  std::array<uint8_t, 5> payload = Payload(header);
  Encoding encoding = crc32 ? Encoding::kBin32 : Encoding::kBin16;
  out.insert(out.end(), {kPad, kDle, static_cast<uint8_t>(encoding)});
  AppendEscaped(out, payload);
  AppendCheck(out, crc32 ? Crc32(payload) : Crc16Xmodem(payload), crc32);
}

void Encoder::AppendSubpacket(std::vector<uint8_t>& out, std::span<const uint8_t> data, End end,
                              bool crc32) {
  const uint8_t endByte = static_cast<uint8_t>(end);
  const std::span<const uint8_t> ending(&endByte, 1);
  AppendEscaped(out, data);
  out.push_back(kDle);
  out.push_back(endByte);
  previous_ = endByte;
  AppendCheck(
      out,
      crc32 ? Crc32Continue(Crc32(data), ending) : Crc16XmodemContinue(Crc16Xmodem(data), ending),
      crc32);
}

}  // namespace quorvel::zmodem
