// The telnet and RFC 2217 codec on its own: escapes both ways, the answers to
// every negotiation, bounded subnegotiations, the COM-PORT messages; the
// order of the commands held for the server's agreement; and the network
// port paths.
#include "link/telnet_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <numeric>
#include <thread>

#include "link/modem_control.h"
#include "link/network_address.h"
#include "link/rfc2217_session.h"

namespace quorvel {
namespace {

using namespace telnet;
using Bytes = std::vector<uint8_t>;

struct Decoded {
  Bytes data;
  Bytes replies;
  std::vector<ComPortNotice> notices;
};

Decoded Feed(TelnetCodec& codec, const Bytes& in, size_t piece = SIZE_MAX) {
  Decoded out;
  for (size_t at = 0; at < in.size(); at += piece) {
    size_t count = std::min(piece, in.size() - at);
    Bytes data(count);
    size_t n = codec.Decode(in.data() + at, count, data.data(), out.replies, out.notices);
    out.data.insert(out.data.end(), data.begin(), data.begin() + static_cast<ptrdiff_t>(n));
  }
  return out;
}

TEST(TelnetCodec, EveryByteValueSurvivesTheEscapesInAnyPieces) {
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  Bytes wire;
  AppendData(wire, all.data(), all.size());
  EXPECT_EQ(wire.size(), 257u) << "only IAC doubled: no CR or NUL translation";
  for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, SIZE_MAX}) {
    TelnetCodec codec(true);
    Decoded got = Feed(codec, wire, piece);
    EXPECT_EQ(got.data, all) << piece;
    EXPECT_TRUE(got.replies.empty());
  }
}

TEST(TelnetCodec, StartOffersBinaryBothWaysAndTheComPortOption) {
  TelnetCodec codec(true);
  Bytes out;
  codec.Start(out);
  EXPECT_EQ(out,
            (Bytes{kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac, kWill, 44}));
  // The server's answers to what we asked need no answer back.
  Decoded got = Feed(codec, {kIac, kDo, 0, kIac, kWill, 0, kIac, kDo, 44, kIac, kWill, 3});
  EXPECT_TRUE(got.replies.empty());
  EXPECT_TRUE(codec.BinaryIn());
  EXPECT_TRUE(codec.BinaryOut());
  EXPECT_TRUE(codec.ComPortAccepted());
  // Said again: still nothing, so no loop.
  EXPECT_TRUE(Feed(codec, {kIac, kDo, 0, kIac, kWill, 0}).replies.empty());
}

TEST(TelnetCodec, UnknownOptionsAreRefused) {
  TelnetCodec codec(true);
  Decoded got = Feed(codec, {kIac, kWill, 1, kIac, kDo, 24, kIac, kWill, 44, 'a'});
  EXPECT_EQ(got.replies, (Bytes{kIac, kDont, 1, kIac, kWont, 24, kIac, kDont, 44}));
  EXPECT_EQ(got.data, Bytes{'a'});
  // A refusal of something never enabled needs no answer.
  EXPECT_TRUE(Feed(codec, {kIac, kDont, 1, kIac, kWont, 1}).replies.empty());
  // Raw telnet without RFC 2217 refuses that option too.
  TelnetCodec plain(false);
  EXPECT_EQ(Feed(plain, {kIac, kDo, 44}).replies, (Bytes{kIac, kWont, 44}));
}

TEST(TelnetCodec, AServerTurningBinaryOffIsAcknowledged) {
  TelnetCodec codec(true);
  Bytes out;
  codec.Start(out);
  Feed(codec, {kIac, kDo, 0, kIac, kWill, 0});
  EXPECT_EQ(Feed(codec, {kIac, kDont, 0, kIac, kWont, 0}).replies,
            (Bytes{kIac, kWont, 0, kIac, kDont, 0}));
  EXPECT_FALSE(codec.BinaryIn());
  EXPECT_EQ(Feed(codec, {kIac, kDont, 44}).replies, Bytes{});
  EXPECT_TRUE(codec.ComPortRefused());
}

TEST(TelnetCodec, ComPortMessagesAreDecoded) {
  TelnetCodec codec(true);
  Decoded got =
      Feed(codec, {kIac, kSb, 44, 101, 0,    3,    0x84, 0,    kIac, kSe,        // 230400
                   kIac, kSb, 44, 105, 8,    kIac, kSe,                          // DTR on
                   kIac, kSb, 44, 107, 0xb0, kIac, kSe,                          // DCD, DSR, CTS
                   kIac, kSb, 44, 101, 0,    0,    0,    kIac, kIac, kIac, kSe,  // 255 baud
                   'z'});
  ASSERT_EQ(got.notices.size(), 4u);
  EXPECT_EQ(got.notices[0], (ComPortNotice{kSetBaudRate, 230400, 4}));
  EXPECT_EQ(got.notices[1], (ComPortNotice{kSetControl, 8, 1}));
  EXPECT_EQ(got.notices[2], (ComPortNotice{kNotifyModemState, 0xb0, 1}));
  EXPECT_EQ(got.notices[3], (ComPortNotice{kSetBaudRate, 255, 4}));
  EXPECT_EQ(got.data, Bytes{'z'});
}

TEST(TelnetCodec, AnOverlongSubnegotiationIsDroppedAndTheStreamGoesOn) {
  TelnetCodec codec(true);
  Bytes in = {kIac, kSb, 44, 101};
  in.insert(in.end(), 100000, 7);
  in.insert(in.end(), {kIac, kSe, 'o', 'k'});
  Decoded got = Feed(codec, in, 4096);
  EXPECT_TRUE(got.notices.empty());
  EXPECT_EQ(got.data, (Bytes{'o', 'k'}));
  // A command inside a subnegotiation ends it, and counts.
  got = Feed(codec, {kIac, kSb, 44, 105, kIac, kWill, 1, 'x'});
  EXPECT_EQ(got.replies, (Bytes{kIac, kDont, 1}));
  EXPECT_EQ(got.data, Bytes{'x'});
}

TEST(TelnetCodec, LineSettingsBecomeTheirCommands) {
  Bytes out;
  AppendLineSettings(out, {0xff00ffu, 7, kTwoStopBits, kParityMark, kFlowHardware});
  EXPECT_EQ(out, (Bytes{kIac, kSb, 44, 1, 0, 0xff, 0xff, 0, 0xff, 0xff, kIac, kSe,  //
                        kIac, kSb, 44, 2, 7, kIac, kSe,                             //
                        kIac, kSb, 44, 3, 4, kIac, kSe,                             //
                        kIac, kSb, 44, 4, 2, kIac, kSe,                             //
                        kIac, kSb, 44, 5, 3, kIac, kSe}));
  out.clear();
  AppendLineSettings(out, {{}, {}, kOneAndHalfStopBits, {}, {}});
  EXPECT_EQ(out, (Bytes{kIac, kSb, 44, 4, 3, kIac, kSe}));
}

// A DTR command given from another thread the moment the server agrees to
// RFC 2217 goes after the commands held for that agreement, never before.
TEST(Rfc2217Session, ACommandGivenAsTheServerAgreesFollowsTheHeldOnes) {
  std::mutex mutex;
  Bytes sent;
  std::thread commander;
  Rfc2217Session* session = nullptr;
  Rfc2217Session rfc2217([&](const std::vector<uint8_t>& units) {
    std::lock_guard guard(mutex);
    // The first reply to the server's negotiation: the option is accepted.
    if (session && !commander.joinable()) {
      commander = std::thread([session] { session->Drop(kLineDtr); });
    }
    sent.insert(sent.end(), units.begin(), units.end());
    return true;
  });
  rfc2217.Begin(true, {}, {true, true});
  session = &rfc2217;
  Bytes server = {kIac, kDo, 99, kIac, kDo, 44, kIac, kSb, 44, 107, 0x90, kIac, kSe};
  rfc2217.Decode(server.data(), server.size());
  commander.join();
  const Bytes dtrOn = {kIac, kSb, 44, 5, kControlDtrOn, kIac, kSe};
  const Bytes dtrOff = {kIac, kSb, 44, 5, kControlDtrOff, kIac, kSe};
  auto on = std::search(sent.begin(), sent.end(), dtrOn.begin(), dtrOn.end());
  auto off = std::search(sent.begin(), sent.end(), dtrOff.begin(), dtrOff.end());
  ASSERT_NE(on, sent.end());
  ASSERT_NE(off, sent.end());
  EXPECT_LT(on, off);
}

TEST(NetworkAddress, PathsNameTheSchemeHostAndPort) {
  EXPECT_EQ(ParseNetworkAddress("rfc2217://lab-pi:7001"),
            (NetworkAddress{NetworkKind::kRfc2217, "lab-pi", "7001"}));
  EXPECT_EQ(ParseNetworkAddress("TCP://10.0.0.5:4001/"),
            (NetworkAddress{NetworkKind::kTcp, "10.0.0.5", "4001"}));
  EXPECT_EQ(ParseNetworkAddress("tcp://[::1]:2000"),
            (NetworkAddress{NetworkKind::kTcp, "::1", "2000"}));
  EXPECT_EQ(ParseNetworkAddress("rfc2217://host:telnet"),
            (NetworkAddress{NetworkKind::kRfc2217, "host", "telnet"}));
  for (const char* bad : {"rfc2217://", "rfc2217://host", "rfc2217://:7001", "tcp://host:",
                          "tcp://host:0", "tcp://host:65536", "tcp://::1:2000", "tcp://[::1]2000",
                          "tcp://a b:1", "udp://host:1", "/dev/ttyUSB0", "tcp://h\n:1"}) {
    EXPECT_FALSE(ParseNetworkAddress(bad).has_value()) << bad;
  }
  EXPECT_TRUE(IsNetworkPath("rfc2217://x"));
  EXPECT_TRUE(IsNetworkPath("Tcp://x"));
  EXPECT_FALSE(IsNetworkPath("/dev/tcp://x"));
}

}  // namespace
}  // namespace quorvel
