// Our ZMODEM sender and receiver against each other on an in-memory line:
// every way the receiver can ask to be sent to, damage on the line, and each
// way a transfer can end; and the receiver against a sender the test plays
// byte by byte, with headers no honest sender writes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/channel_pair.h"
#include "support/memory_transfer.h"
#include "support/seeded_bytes.h"
#include "transfer/zmodem.h"
#include "transfer/zmodem_encoder.h"
#include "transfer/zmodem_flight_window.h"
#include "transfer/zmodem_reader.h"
#include "transfer/zmodem_receiver.h"

namespace quorvel::zmodem {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::ChannelPair;
using testing::MemoryFile;
using testing::MemorySink;
using testing::RecordingObserver;
using testing::SeededBytes;

// Short waits; long enough that a busy machine is no lost header.
constexpr TransferTiming kQuick{3000, 1000, 10};

struct Sent {
  std::string name;
  Bytes bytes;
  uint64_t failAt = UINT64_MAX;
};

// One end of the line that can be cut, as when the device is pulled out.
class Severable : public TransferChannel {
 public:
  explicit Severable(TransferChannel& line) : line_(line) {}
  void Cut() { cut_ = true; }
  int Read(uint8_t* buffer, int capacity, int timeoutMs) override {
    return cut_ ? kLinkLost : line_.Read(buffer, capacity, timeoutMs);
  }
  bool Write(const uint8_t* bytes, int count) override {
    return !cut_ && line_.Write(bytes, count);
  }
  void DiscardInput() override { line_.DiscardInput(); }
  bool CancelRequested() const override { return line_.CancelRequested(); }

 private:
  TransferChannel& line_;
  std::atomic<bool> cut_{false};
};

testing::RelayOptions Noise(unsigned oneIn) {
  testing::RelayOptions options;
  options.towardPeer.oneIn = options.towardUs.oneIn = oneIn;
  options.seed = 29;
  return options;
}

// Both sides on one line, the receiver on a thread of its own.
class Transfer {
 public:
  explicit Transfer(ReceiverOffer offer = {}, unsigned oneIn = 0)
      : line(Noise(oneIn)), offer_(offer) {}

  uint64_t Damaged() {
    auto peer = line.Relay().TowardPeer();
    auto us = line.Relay().TowardUs();
    return peer.dropped + peer.flipped + us.dropped + us.flipped;
  }
  void Cut() {
    a.Cut();
    b.Cut();
  }

  void Run(const std::vector<Sent>& files) {
    std::vector<std::unique_ptr<OutgoingFile>> outgoing;
    for (const Sent& file : files) {
      outgoing.push_back(std::make_unique<MemoryFile>(file.name, file.bytes, file.failAt));
    }
    std::thread receiver([&] { received = Receive(offer_, b, sink, receiverNotes, kQuick); });
    sent = ZmodemSend(a, outgoing, senderNotes, kQuick);
    receiver.join();
  }

  ChannelPair line;
  Severable a{line.A()};
  Severable b{line.B()};
  MemorySink sink;
  RecordingObserver senderNotes;
  RecordingObserver receiverNotes;
  TransferOutcome sent;
  TransferOutcome received;

 private:
  ReceiverOffer offer_;
};

struct OfferCase {
  const char* name;
  ReceiverOffer offer;
  unsigned oneIn;  // about one byte in N on the line dropped or changed, each way
  size_t large;    // the batch's last file; each window is a round trip
};

class ZmodemBothWays : public ::testing::TestWithParam<OfferCase> {};

TEST_P(ZmodemBothWays, ABatchArrivesByteExact) {
  const OfferCase& c = GetParam();
  Transfer transfer(c.offer, c.oneIn);
  const std::vector<Sent> files = {{"empty.bin", {}},
                                   {"one.bin", SeededBytes(1, 1)},
                                   {"edge.bin", SeededBytes(1025, 2)},
                                   {"large.bin", SeededBytes(c.large, 3)}};
  transfer.Run(files);
  ASSERT_EQ(transfer.sent.status, TransferStatus::kDone) << transfer.sent.detail;
  ASSERT_EQ(transfer.received.status, TransferStatus::kDone) << transfer.received.detail;
  for (const Sent& file : files) {
    EXPECT_EQ(transfer.sink.Complete(file.name), file.bytes) << file.name;
  }
  EXPECT_EQ(transfer.sent.files, 4);
  EXPECT_EQ(transfer.received.files, 4);
  uint64_t total = 0;
  for (const Sent& file : files) total += file.bytes.size();
  EXPECT_EQ(transfer.received.bytes, total);
  if (c.oneIn > 0) {
    EXPECT_GT(transfer.Damaged(), 0u);
    EXPECT_GT(transfer.received.retries + transfer.sent.retries, 0) << "damage costs retries";
  } else {
    EXPECT_EQ(transfer.received.retries + transfer.sent.retries, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Offers, ZmodemBothWays,
    ::testing::Values(OfferCase{"streaming_crc32", {}, 0, 300'000},
                      OfferCase{"crc16", {.crc32 = false}, 0, 100'000},
                      OfferCase{"half_duplex", {.fullDuplex = false}, 0, 30'000},
                      OfferCase{"window_4k", {.windowBytes = 4096}, 0, 100'000},
                      OfferCase{"small_window", {.windowBytes = 100}, 0, 3'000},
                      OfferCase{"escape_controls", {.escapeControls = true}, 0, 100'000},
                      OfferCase{"noisy_streaming", {}, 10'000, 500'000},
                      OfferCase{"noisy_window", {.windowBytes = 8192}, 10'000, 300'000}),
    [](const auto& info) { return std::string(info.param.name); });

struct EndingCase {
  const char* name;
  uint64_t failAt;                         // where reading the file fails
  unsigned oneIn;                          // the line's damage, about one byte in N
  std::function<void(Transfer&)> arrange;  // before the run
  TransferStatus sender;
  TransferStatus receiver;
};

class ZmodemEndings : public ::testing::TestWithParam<EndingCase> {};

TEST_P(ZmodemEndings, BothSidesTellHowItEnded) {
  const EndingCase& c = GetParam();
  Transfer transfer(ReceiverOffer{}, c.oneIn);
  c.arrange(transfer);
  transfer.Run({{"first.bin", SeededBytes(1 << 20, 5), c.failAt}});
  EXPECT_EQ(transfer.sent.status, c.sender) << transfer.sent.detail;
  EXPECT_EQ(transfer.received.status, c.receiver) << transfer.received.detail;
  for (const MemorySink::Kept& kept : transfer.sink.Files()) {
    EXPECT_TRUE(kept.ended) << "every file begun is ended";
    EXPECT_FALSE(kept.complete);
  }
}

// What happens once the receiver has 100 kB of the file.
void Midway(Transfer& transfer, std::function<void(Transfer&)> action) {
  transfer.receiverNotes.When(100'000, [&transfer, action] { action(transfer); });
}

constexpr uint64_t kReadable = UINT64_MAX;

INSTANTIATE_TEST_SUITE_P(
    Ways, ZmodemEndings,
    ::testing::Values(
        EndingCase{"sender_cancels", kReadable, 0,
                   [](Transfer& t) { Midway(t, [](Transfer& t) { t.line.A().Cancel(); }); },
                   TransferStatus::kCancelledByUser, TransferStatus::kCancelledByPeer},
        EndingCase{"receiver_cancels", kReadable, 0,
                   [](Transfer& t) { Midway(t, [](Transfer& t) { t.line.B().Cancel(); }); },
                   TransferStatus::kCancelledByPeer, TransferStatus::kCancelledByUser},
        EndingCase{"link_lost", kReadable, 0,
                   [](Transfer& t) { Midway(t, [](Transfer& t) { t.Cut(); }); },
                   TransferStatus::kLinkLost, TransferStatus::kLinkLost},
        EndingCase{"unreadable", 300'000, 0, [](Transfer&) {}, TransferStatus::kFileUnreadable,
                   TransferStatus::kCancelledByPeer},
        EndingCase{"disk_full", kReadable, 0, [](Transfer& t) { t.sink.LimitWrites(64'000); },
                   TransferStatus::kCancelledByPeer, TransferStatus::kFileRefused},
        EndingCase{"dead_line", kReadable, 1, [](Transfer&) {},
                   TransferStatus::kReceiverNeverStarted, TransferStatus::kSenderNeverStarted}),
    [](const auto& info) { return std::string(info.param.name); });

// The sender's window against the rate the receiver's answers show: an
// answer every `everyMs` for `bytesPerAnswer` more each, `answers` times.
struct WindowCase {
  const char* name;
  uint64_t bytesPerAnswer;
  int everyMs;
  int answers;
  uint64_t expected;
};

TEST(ZmodemTest, TheWindowFollowsTheReceiversRateWithinItsBounds) {
  constexpr uint64_t kKiB = 1024;
  constexpr uint64_t kLeast = FlightWindow::kLeast;
  const WindowCase cases[] = {
      // 8 KiB a ms: 8 MB/s wants 2 MB ahead, capped.
      {"fast line", 8 * kKiB, 1, 400, FlightWindow::kMost},
      // 115200 baud: 11.5 kB/s wants 2.9 kB, the least is kept.
      {"slow line", 8 * kKiB, 700, 20, kLeast},
      // 400 KiB/s wants 100 KiB.
      {"in between", 4 * kKiB, 10, 50, 100 * kKiB},
      // 120 KiB answered: the calm is not over.
      {"calm first", 8 * kKiB, 1, 15, kLeast},
      // The calm is over with the 16th answer; the four after it widen the
      // window by what they answered.
      {"then by what is answered", 8 * kKiB, 1, 20, kLeast + 4 * 8 * kKiB},
      // Before 10 ms have passed no rate is known to hold it back: the calm
      // is over after two answers, the next two widen it.
      {"before the rate is known", 64 * kKiB, 0, 4, kLeast + 2 * 64 * kKiB},
  };
  for (const WindowCase& c : cases) {
    FlightWindow window;
    window.Restart(0, 0);
    uint64_t acked = 0;
    int64_t now = 0;
    auto answers = [&] {
      for (int i = 1; i <= c.answers; ++i) {
        acked += c.bytesPerAnswer;
        now += c.everyMs;
        window.Acked(acked, now);
      }
      return static_cast<double>(window.Bytes());
    };
    EXPECT_NEAR(answers(), static_cast<double>(c.expected), 1024) << c.name;
    EXPECT_EQ(window.AskEvery(), window.Bytes() / 4) << c.name;
    window.Lost();
    window.Restart(acked, now);
    EXPECT_EQ(window.Bytes(), kLeast) << c.name << ": a loss starts it over";
    EXPECT_NEAR(answers(), static_cast<double>(c.expected), 1024) << c.name << ": calm again";
  }
}

TEST(ZmodemTest, ARefusedFileIsSkippedAndTheBatchGoesOn) {
  Transfer transfer;
  transfer.sink.Refuse("secret.key");
  transfer.Run({{"a.txt", SeededBytes(5000, 1)},
                {"secret.key", SeededBytes(5000, 2)},
                {"b.txt", SeededBytes(5000, 3)}});
  EXPECT_EQ(transfer.sent.status, TransferStatus::kDone);
  EXPECT_EQ(transfer.sent.files, 2);
  EXPECT_EQ(transfer.received.status, TransferStatus::kFileRefused);
  EXPECT_NE(transfer.received.detail.find("secret.key"), std::string::npos);
  EXPECT_EQ(transfer.sink.Complete("b.txt"), SeededBytes(5000, 3));
  EXPECT_EQ(transfer.sink.Refusals(), 1);
}

// A receiver the test plays: the sender runs on a thread of its own, its
// headers are read here and the answers encoded here.
class PlayedReceiver : public ::testing::Test {
 protected:
  void Start(size_t size) {
    files.push_back(std::make_unique<MemoryFile>("a.bin", SeededBytes(size, 4)));
    sender = std::thread([&] { sent = ZmodemSend(line.A(), files, notes, kQuick); });
    AwaitHeader(Type::kRqInit);
    Send({init});
    AwaitHeader(Type::kFile);
    Send({Header::At(Type::kRPos, 0)});
  }
  void Finish() {
    AwaitHeader(Type::kFin);
    Send({Header::At(Type::kFin, 0)});
    sender.join();
  }
  void Send(const std::vector<Header>& headers) {
    Bytes wire;
    for (const Header& header : headers) encoder.AppendHexHeader(wire, header);
    line.B().Write(wire.data(), static_cast<int>(wire.size()));
  }
  // Reads on to a header of `type`, whatever comes before it; a ZEOF is
  // answered as a receiver waiting for the next file does.
  void AwaitHeader(Type type) {
    Header header;
    Encoding encoding;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
      if (reader.ReadHeader(1000, &header, &encoding) != Got::kOk) continue;
      if (header.type == type) return;
      if (header.type == Type::kEof) Send({init});
    }
    FAIL() << "no header " << static_cast<int>(type);
  }

  const Header init = Header::Flags(Type::kRInit, kCanFullDuplex | kCanOverlapIo | kCanCrc32);
  ChannelPair line;
  std::vector<std::unique_ptr<OutgoingFile>> files;
  RecordingObserver notes;
  TransferOutcome sent;
  std::thread sender;
  Reader reader{line.B()};
  Encoder encoder;
};

// It takes part of the file and then waits for the next one (its ZRINIT):
// the file did not arrive whole, and the transfer must not end as done.
TEST_F(PlayedReceiver, AFileItDropsMidwayIsNotReportedDone) {
  Start(200'000);
  AwaitHeader(Type::kData);
  Send({init});
  Finish();
  EXPECT_EQ(sent.status, TransferStatus::kFileRefused);
  EXPECT_NE(sent.detail.find("a.bin: the receiver stopped taking it at"), std::string::npos)
      << sent.detail;
  EXPECT_EQ(sent.files, 0);
}

// Asks for the same place that arrive together were all sent before the
// receiver saw the sender go back: the sender goes back once, and they
// count as one retry, not as more than the retries allowed.
TEST_F(PlayedReceiver, AsksThatArriveTogetherAreAnsweredOnce) {
  Start(8000);
  AwaitHeader(Type::kEof);
  Send(std::vector<Header>(kQuick.maxRetries + 2, Header::At(Type::kRPos, 4096)));
  Finish();
  EXPECT_EQ(sent.status, TransferStatus::kDone) << sent.detail;
  EXPECT_EQ(sent.files, 1);
  EXPECT_LE(sent.retries, 2);
}

// A sender the test plays: its bytes are encoded here and the receiver's
// answers read back.
class HostileSender : public ::testing::Test {
 protected:
  void SetUp() override {
    receiver = std::thread([&] { outcome = ZmodemReceive(line.B(), sink, notes, {2000, 300, 3}); });
    Header init;
    ASSERT_EQ(Answer(&init), Got::kOk);
    ASSERT_EQ(init.type, Type::kRInit);
  }
  void TearDown() override {
    if (receiver.joinable()) {
      line.B().Cancel();
      receiver.join();
    }
  }

  void Send(const Bytes& bytes) { line.A().Write(bytes.data(), static_cast<int>(bytes.size())); }
  void SendFile(const Bytes& info, Type type = Type::kFile) {
    Bytes wire;
    encoder.AppendBinaryHeader(wire, Header::Flags(type, kConvertBinary), true);
    encoder.AppendSubpacket(wire, info, End::kCrcW, true);
    Send(wire);
  }
  void SendData(uint32_t at, const Bytes& data, End end = End::kCrcE) {
    Bytes wire;
    encoder.AppendBinaryHeader(wire, Header::At(Type::kData, at), true);
    encoder.AppendSubpacket(wire, data, end, true);
    Send(wire);
  }
  void SendHeader(Type type, uint32_t at) {
    Bytes wire;
    encoder.AppendBinaryHeader(wire, Header::At(type, at), true);
    Send(wire);
  }
  Got Answer(Header* header) {
    Encoding encoding;
    return reader.ReadHeader(1000, header, &encoding);
  }
  void Finish() {
    SendHeader(Type::kFin, 0);
    Header fin;
    EXPECT_EQ(Answer(&fin), Got::kOk);
    EXPECT_EQ(fin.type, Type::kFin);
    Send({'O', 'O'});
    receiver.join();
  }

  ChannelPair line;
  MemorySink sink;
  RecordingObserver notes;
  Encoder encoder;
  Reader reader{line.A()};
  TransferOutcome outcome;
  std::thread receiver;
};

using namespace std::string_literals;

Bytes InfoBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

struct HostileCase {
  const char* name;
  std::string info;      // ZFILE's subpacket
  std::string sinkName;  // the name as the sink must see it
  std::optional<uint64_t> size;
};

class HostileFileHeader : public HostileSender,
                          public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileFileHeader, ReachesTheSinkAsSentAndNoMoreIsWrittenThanItSays) {
  const HostileCase& c = GetParam();
  SendFile(InfoBytes(c.info));
  Header answer;
  ASSERT_EQ(Answer(&answer), Got::kOk);
  ASSERT_EQ(answer, Header::At(Type::kRPos, 0));
  ASSERT_EQ(sink.Files().size(), 1u);
  EXPECT_EQ(sink.Files()[0].header.name, c.sinkName);
  EXPECT_EQ(sink.Files()[0].header.size, c.size);
  // More data than a small header promises: only what it promised is kept.
  SendData(0, Bytes(3000, 'd'));
  SendHeader(Type::kEof, 3000);
  ASSERT_EQ(Answer(&answer), Got::kOk);
  EXPECT_EQ(answer.type, Type::kRInit);
  Finish();
  const MemorySink::Kept& kept = sink.Files()[0];
  uint64_t expected = std::min<uint64_t>(3000, c.size.value_or(3000));
  EXPECT_EQ(kept.bytes.size(), expected);
  EXPECT_EQ(kept.complete, c.size == 3000u || !c.size);
  EXPECT_EQ(outcome.status, kept.complete ? TransferStatus::kDone : TransferStatus::kProtocolError);
}

INSTANTIATE_TEST_SUITE_P(Headers, HostileFileHeader,
                         ::testing::Values(HostileCase{"climbs_out",
                                                       "../../x\0"
                                                       "3000 0 0\0"s,
                                                       "../../x", 3000},
                                           HostileCase{"long_name",
                                                       std::string(10'000, 'n') + "\0"
                                                                                  "3000"s,
                                                       std::string(10'000, 'n'), 3000},
                                           HostileCase{"size_2_63",
                                                       "big\0"
                                                       "9223372036854775808 0 0\0"s,
                                                       "big", 9223372036854775808ull},
                                           HostileCase{"controls",
                                                       "\x1b]0;owned\x07\r\n\0"
                                                       "100 0 0\0"s,
                                                       "\x1b]0;owned\x07\r\n", 100},
                                           HostileCase{"no_fields", "bare"s, "bare", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileSender, DataAtTheWrongPlaceOrDamagedIsAskedForAgainAndNeverWritten) {
  SendFile(
      InfoBytes("f\0"
                "10\0"s));
  Header answer;
  ASSERT_EQ(Answer(&answer), Got::kOk);
  SendData(5, Bytes(5, 'x'));  // not where the receiver is
  ASSERT_EQ(Answer(&answer), Got::kOk);
  EXPECT_EQ(answer, Header::At(Type::kRPos, 0));
  Bytes wire;
  encoder.AppendBinaryHeader(wire, Header::At(Type::kData, 0), true);
  encoder.AppendSubpacket(wire, Bytes(10, 'y'), End::kCrcE, true);
  wire[wire.size() - 3] ^= 0x01;  // in the CRC
  Send(wire);
  ASSERT_EQ(Answer(&answer), Got::kOk);
  EXPECT_EQ(answer, Header::At(Type::kRPos, 0));
  SendHeader(Type::kEof, 10);  // a ZEOF ahead of the data is let pass
  SendData(0, Bytes(10, 'z'));
  SendHeader(Type::kEof, 10);
  ASSERT_EQ(Answer(&answer), Got::kOk);
  EXPECT_EQ(answer.type, Type::kRInit);
  Finish();
  EXPECT_EQ(outcome.status, TransferStatus::kDone);
  EXPECT_EQ(sink.Complete("f"), Bytes(10, 'z'));
  EXPECT_GE(outcome.retries, 2);
}

TEST_F(HostileSender, ACommandIsNeverRunAndTooMuchDamageEndsTheTransfer) {
  SendFile(InfoBytes("touch /tmp/owned\0"s), Type::kCommand);
  Header answer;
  ASSERT_EQ(Answer(&answer), Got::kOk);
  EXPECT_EQ(answer, Header::At(Type::kCompl, 1));
  for (int i = 0; i < 5; ++i)
    Send(
        InfoBytes("**\x18"
                  "Cgarbage"s));
  receiver.join();
  EXPECT_EQ(outcome.status, TransferStatus::kTooManyRetries);
  EXPECT_TRUE(sink.Files().empty());
}

}  // namespace
}  // namespace quorvel::zmodem
