// ZMODEM's bytes on the wire: what the encoder writes, what the reader takes
// back from it and what it refuses, and the file header's fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/clock.h"
#include "support/channel_pair.h"
#include "support/memory_transfer.h"
#include "support/seeded_bytes.h"
#include "transfer/zmodem_encoder.h"
#include "transfer/zmodem_file_info.h"
#include "transfer/zmodem_reader.h"

namespace quorvel::zmodem {
namespace {

using namespace std::string_literals;

using Bytes = std::vector<uint8_t>;
using testing::ChannelPair;

Bytes BytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// What the reader on B makes of `wire` written on A.
class WireTest : public ::testing::Test {
 protected:
  void Put(const Bytes& wire) {
    ASSERT_TRUE(line.A().Write(wire.data(), static_cast<int>(wire.size())));
  }
  Got ReadHeader(Header* header, Encoding* encoding = nullptr, int timeoutMs = 200) {
    Encoding ignored;
    return reader.ReadHeader(timeoutMs, header, encoding ? encoding : &ignored);
  }

  ChannelPair line;
  Reader reader{line.B()};
  Encoder encoder;
};

struct HeaderCase {
  const char* name;
  Encoding encoding;
  Header header;
};

class HeaderRoundTrip : public WireTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderRoundTrip, ComesBackAsSentAndFailsItsCheckWhenAnyByteChanges) {
  const HeaderCase& c = GetParam();
  Bytes wire;
  if (c.encoding == Encoding::kHex) {
    encoder.AppendHexHeader(wire, c.header);
  } else {
    encoder.AppendBinaryHeader(wire, c.header, c.encoding == Encoding::kBin32);
  }
  Put(wire);
  Header got;
  Encoding encoding;
  ASSERT_EQ(ReadHeader(&got, &encoding), Got::kOk);
  EXPECT_EQ(got, c.header);
  EXPECT_EQ(encoding, c.encoding);
  // Each byte of the header's body changed in turn: never taken as a header.
  for (size_t at = 4; at < wire.size() - (c.encoding == Encoding::kHex ? 3 : 0); ++at) {
    Bytes damaged = wire;
    damaged[at] ^= 0x01;
    reader.Discard();
    Put(damaged);
    EXPECT_NE(ReadHeader(&got, nullptr, 20), Got::kOk) << "byte " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, HeaderRoundTrip,
    ::testing::Values(HeaderCase{"hex", Encoding::kHex, Header::At(Type::kRPos, 0x12345678)},
                      HeaderCase{"bin16", Encoding::kBin16, Header::At(Type::kData, 0x00181311)},
                      HeaderCase{"bin32", Encoding::kBin32, Header::Flags(Type::kFile, 1, 2, 3, 4)},
                      HeaderCase{"bin32_escapes", Encoding::kBin32,
                                 Header::At(Type::kEof, 0x9391900d)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WireTest, TheAutoStartPatternIsAHexZrqinit) {
  Bytes wire;
  encoder.AppendHexHeader(wire, Header::At(Type::kRqInit, 0));
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 6), BytesOf("**\x18"
                                                           "B00"));
  // Hex headers end in CR LF and XON, but ZACK and ZFIN without the XON.
  EXPECT_EQ(Bytes(wire.end() - 3, wire.end()), BytesOf("\r\n\x11"));
  wire.clear();
  encoder.AppendHexHeader(wire, Header::At(Type::kFin, 0));
  EXPECT_EQ(Bytes(wire.end() - 2, wire.end()), BytesOf("\r\n"));
}

struct EscapeCase {
  const char* name;
  bool allControls;
  bool crc32;
};

class SubpacketRoundTrip : public WireTest, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(SubpacketRoundTrip, EveryByteValueComesBackAndNoneTheLineCouldTakeIsSentBare) {
  const EscapeCase& c = GetParam();
  if (c.allControls) encoder.EscapeAllControls();
  Bytes data;
  for (int i = 0; i < 512; ++i) data.push_back(static_cast<uint8_t>(i));
  for (uint8_t at : {uint8_t{0x40}, uint8_t{0xc0}}) data.insert(data.end(), {at, 0x0d, at, 0x8d});
  Bytes wire;
  encoder.AppendSubpacket(wire, data, End::kCrcQ, c.crc32);
  for (size_t i = 0; i + 1 < wire.size(); ++i) {
    uint8_t byte = wire[i];
    bool escaped = i > 0 && wire[i - 1] == kDle;
    if (escaped) continue;
    EXPECT_TRUE(byte != 0x10 && byte != 0x11 && byte != 0x13 && byte != 0x90 && byte != 0x91 &&
                byte != 0x93)
        << "bare flow control or DLE at " << i;
    if (c.allControls && byte != kDle) {
      EXPECT_NE(byte & 0x60, 0) << "bare control at " << i;
    }
    if ((byte & 0x7f) == '\r' && i > 0) {
      EXPECT_NE(wire[i - 1] & 0x7f, '@') << "telnet escape at " << i;
    }
  }
  // XON and XOFF that flow control slips in are no data.
  wire.insert(wire.begin() + 100, kXon);
  wire.insert(wire.begin() + 200, kXoff | 0x80);
  Put(wire);
  Bytes got;
  End end;
  ASSERT_EQ(reader.ReadSubpacket(c.crc32, 200, &got, &end), Got::kOk);
  EXPECT_EQ(got, data);
  EXPECT_EQ(end, End::kCrcQ);
}

INSTANTIATE_TEST_SUITE_P(Escaping, SubpacketRoundTrip,
                         ::testing::Values(EscapeCase{"network", false, true},
                                           EscapeCase{"network_crc16", false, false},
                                           EscapeCase{"all_controls", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  Bytes wire;
  Got expected;
};

class SubpacketRefused : public WireTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(SubpacketRefused, IsNeverTakenForData) {
  Put(GetParam().wire);
  Bytes got;
  End end;
  EXPECT_EQ(reader.ReadSubpacket(true, 100, &got, &end), GetParam().expected);
  EXPECT_LE(got.size(), static_cast<size_t>(kMaxSubpacket));
}

Bytes Damaged(Bytes wire, size_t at) {
  wire[at] ^= 0x20;
  return wire;
}

// The last two bytes gone (erase, not resize: GCC's overflow check cannot
// see that a subpacket is never that short).
Bytes CutShort(Bytes wire) {
  wire.erase(wire.end() - std::min<std::ptrdiff_t>(2, std::ssize(wire)), wire.end());
  return wire;
}

Bytes GoodSubpacket() {
  Encoder encoder;
  Bytes wire;
  encoder.AppendSubpacket(wire, testing::SeededBytes(300, 7), End::kCrcG, true);
  return wire;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, SubpacketRefused,
    ::testing::Values(RefusedCase{"bad_crc", Damaged(GoodSubpacket(), 50), Got::kGarbled},
                      RefusedCase{"cut_short", CutShort(GoodSubpacket()), Got::kTimedOut},
                      RefusedCase{"endless", Bytes(kMaxSubpacket + 10, 'a'), Got::kGarbled},
                      RefusedCase{"bad_escape", BytesOf("abc\x18\x01"), Got::kGarbled},
                      RefusedCase{"five_cans", BytesOf("abc\x18\x18\x18\x18\x18"),
                                  Got::kPeerCancelled}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WireTest, HeadersAreFoundAfterNoiseAndFiveCansAnywhereCancel) {
  Bytes wire = BytesOf("noise * \x18 ** \x18Z rz\r");
  encoder.AppendHexHeader(wire, Header::At(Type::kRInit, 0));
  Put(wire);
  Header header;
  ASSERT_EQ(ReadHeader(&header), Got::kOk);
  EXPECT_EQ(header.type, Type::kRInit);

  Put(BytesOf("\x18\x18\x18\x18\x18\x08\x08"));
  EXPECT_EQ(ReadHeader(&header), Got::kPeerCancelled);
  // Five CANs, the first cutting a hex header short, still end it.
  Put(
      BytesOf("**\x18"
              "B0\x18\x18\x18\x18\x18"));
  Got first = ReadHeader(&header);
  Got second = first == Got::kPeerCancelled ? first : ReadHeader(&header);
  EXPECT_EQ(second, Got::kPeerCancelled);
}

TEST_F(WireTest, AFloodWithoutAHeaderEndsTheWaitOnTime) {
  std::atomic<bool> stop{false};
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    Bytes noise(4096, 'x');
    while (!stop) line.A().Write(noise.data(), static_cast<int>(noise.size()));
    flooding = false;
  });
  int64_t start = SteadyNowMs();
  Header header;
  EXPECT_EQ(ReadHeader(&header, nullptr, 200), Got::kTimedOut);
  EXPECT_LT(SteadyNowMs() - start, 2000);
  stop = true;
  uint8_t drained[4096];
  while (flooding) line.B().Read(drained, sizeof drained, 10);
  flood.join();
}

TEST_F(WireTest, SamplingFindsTheStartOfAHeaderBehindNoise) {
  bool interrupted = true;
  ASSERT_EQ(reader.Sample(&interrupted), Got::kOk);
  EXPECT_FALSE(interrupted);
  Bytes wire = BytesOf("\x11\x11junk");
  encoder.AppendHexHeader(wire, Header::At(Type::kRPos, 4096));
  Put(wire);
  // It comes through the relay a little later; the noise before it is dropped.
  int64_t deadline = SteadyNowMs() + 2000;
  while (!interrupted && SteadyNowMs() < deadline) ASSERT_EQ(reader.Sample(&interrupted), Got::kOk);
  EXPECT_TRUE(interrupted);
  Header header;
  ASSERT_EQ(ReadHeader(&header), Got::kOk);
  EXPECT_EQ(header, Header::At(Type::kRPos, 4096));
}

struct FileInfoCase {
  const char* name;
  Bytes bytes;
  IncomingFile expected;
};

class FileInfoParse : public ::testing::TestWithParam<FileInfoCase> {};

TEST_P(FileInfoParse, TakesWhatIsThereAndNothingElse) {
  IncomingFile got = ParseFileInfo(GetParam().bytes);
  const IncomingFile& expected = GetParam().expected;
  EXPECT_EQ(got.name, expected.name);
  EXPECT_EQ(got.size, expected.size);
  EXPECT_EQ(got.modifiedUnix, expected.modifiedUnix);
  EXPECT_EQ(got.mode, expected.mode);
}

Bytes Info(const std::string& text) {
  return BytesOf(text);
}

INSTANTIATE_TEST_SUITE_P(Headers, FileInfoParse,
                         ::testing::Values(FileInfoCase{"full",
                                                        Info("a.bin\0"
                                                             "1025 14524770400 100644 0 3 5000\0"s),
                                                        {"a.bin", 1025, 1700000000, 0644}},
                                           FileInfoCase{
                                               "name_only", Info("plain"), {"plain", {}, {}, {}}},
                                           FileInfoCase{"size_only",
                                                        Info("x\0"
                                                             "77"s),
                                                        {"x", 77, {}, {}}},
                                           FileInfoCase{"size_2_63",
                                                        Info("big\0"
                                                             "9223372036854775808 0 0"s),
                                                        {"big", 9223372036854775808ull, {}, {}}},
                                           FileInfoCase{"size_overflows",
                                                        Info("big\0"
                                                             "18446744073709551616 1"s),
                                                        {"big", {}, {}, {}}},
                                           FileInfoCase{"not_numbers",
                                                        Info("n\0"
                                                             "-5 7"s),
                                                        {"n", {}, {}, {}}},
                                           FileInfoCase{"octal_nine",
                                                        Info("n\0"
                                                             "5 9 644"s),
                                                        {"n", 5, {}, {}}},
                                           FileInfoCase{"setuid_dropped",
                                                        Info("n\0"
                                                             "5 1 104755"s),
                                                        {"n", 5, 1, 0755}},
                                           FileInfoCase{"hostile_name",
                                                        Info("../../x\x1b[2J\r\0"
                                                             "1"s),
                                                        {"../../x\x1b[2J\r", 1, {}, {}}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FileInfo, WhatTheSenderWritesParsesBack) {
  testing::MemoryFile file("report.csv", Bytes(1234, 'r'));
  IncomingFile got = ParseFileInfo(FileInfoBytes(file, 2, 5000));
  EXPECT_EQ(got.name, "report.csv");
  EXPECT_EQ(got.size, 1234u);
  EXPECT_EQ(got.modifiedUnix, 1700000000);
  EXPECT_EQ(got.mode, 0640u);
}

}  // namespace
}  // namespace quorvel::zmodem
