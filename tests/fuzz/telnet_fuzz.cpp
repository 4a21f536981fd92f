// The telnet and RFC 2217 decoder fed whatever a hostile or broken server
// might send, in pieces the input itself chooses. Whatever comes: the data
// never outgrows the input, every answer is a whole IAC command (DONT, WONT,
// DO or WILL) and there are never more answers than commands received, the
// decoder's memory stays bounded, and data escaped by our own encoder always
// comes out as it went in, even after the garbage.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/telnet_codec.h"

using namespace quorvel::telnet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TelnetCodec codec((data[0] & 1) != 0);
  std::vector<uint8_t> start;
  codec.Start(start);
  std::vector<uint8_t> replies;
  std::vector<ComPortNotice> notices;
  size_t at = 1;
  size_t commands = 0;
  while (at < size) {
    // The first byte of each piece says how long the piece is.
    size_t piece = std::min<size_t>(1 + data[at] % 64, size - at - 1);
    ++at;
    const uint8_t* in = data + at;
    for (size_t i = 0; i < piece; ++i) commands += in[i] == kIac ? 1 : 0;
    std::vector<uint8_t> out(piece);
    size_t before = replies.size();
    size_t count = codec.Decode(in, piece, out.data(), replies, notices);
    FUZZ_CHECK(count <= piece);
    FUZZ_CHECK((replies.size() - before) % 3 == 0);
    for (size_t i = before; i < replies.size(); i += 3) {
      FUZZ_CHECK(replies[i] == kIac);
      FUZZ_CHECK(replies[i + 1] >= kWill && replies[i + 1] <= kDont);
    }
    for (const ComPortNotice& notice : notices) {
      FUZZ_CHECK(notice.size <= TelnetCodec::kMaxSubnegotiation);
    }
    at += piece;
  }
  FUZZ_CHECK(replies.size() / 3 <= commands + 1);

  // End whatever was half-said (a dangling IAC, an open subnegotiation)...
  const uint8_t reset[] = {kIac, kSe, kIac, 241 /* NOP */};
  std::vector<uint8_t> scratch(sizeof reset);
  codec.Decode(reset, sizeof reset, scratch.data(), replies, notices);
  // ...then every byte value, escaped by our encoder, arrives as it was.
  std::vector<uint8_t> payload(data, data + size);
  std::vector<uint8_t> wire;
  AppendData(wire, payload.data(), payload.size());
  std::vector<uint8_t> back(wire.size());
  size_t count = codec.Decode(wire.data(), wire.size(), back.data(), replies, notices);
  back.resize(count);
  FUZZ_CHECK(back == payload);
  return 0;
}
