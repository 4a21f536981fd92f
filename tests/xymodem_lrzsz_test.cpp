// XMODEM, XMODEM-1K and YMODEM against Debian's lrzsz on the far side of a
// relayed pseudo-terminal, both ways: files of every size around the block
// sizes arrive byte-exact, a batch, a noisy line, a peer that cancels and
// one that never starts.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "support/descriptor_channel.h"
#include "support/lrzsz_peer.h"
#include "support/pty_device.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "transfer/folder_sink.h"
#include "transfer/local_file.h"
#include "transfer/xymodem.h"

namespace quorvel {
namespace {

using std::chrono::seconds;
using testing::DescriptorChannel;
using testing::LrzszPeer;
using testing::LrzszProcess;
using testing::ReadAll;
using testing::RelayOptions;
using testing::SeededBytes;
using testing::TempDir;
using testing::WriteFile;

constexpr TransferTiming kTiming{20000, 3000, 10};

class CountingObserver : public TransferObserver {
 public:
  void Progressed(const TransferProgress& progress) override {
    bytes.store(progress.bytes);
    if (onProgress) onProgress(progress);
  }
  void Noted(std::string_view) override {}
  std::atomic<uint64_t> bytes{0};
  std::function<void(const TransferProgress&)> onProgress;
};

enum class Protocol { kXmodem, kXmodemCrc, kXmodem1k, kYmodem };
enum class Way { kSend, kReceive };

struct Case {
  Protocol protocol;
  Way way;
  size_t size;
};

std::string Name(const Case& c) {
  const char* protocol[] = {"Xmodem", "XmodemCrc", "Xmodem1k", "Ymodem"};
  return std::string(protocol[static_cast<int>(c.protocol)]) +
         (c.way == Way::kSend ? "Send" : "Receive") + std::to_string(c.size);
}

// lrzsz's side of each case.
std::vector<std::string> PeerCommand(const Case& c) {
  if (c.way == Way::kSend) {
    switch (c.protocol) {
      case Protocol::kXmodem:
        return {"rx", "-q", "out.bin"};  // asks for checksum blocks
      case Protocol::kXmodemCrc:
      case Protocol::kXmodem1k:
        return {"rx", "-q", "-c", "out.bin"};
      case Protocol::kYmodem:
        return {"rb", "-q"};
    }
  }
  switch (c.protocol) {
    case Protocol::kXmodem:
    case Protocol::kXmodemCrc:
      return {"sx", "-q", "data.bin"};
    case Protocol::kXmodem1k:
      return {"sx", "-q", "-k", "data.bin"};
    case Protocol::kYmodem:
      return {"sb", "-q", "-k", "data.bin"};
  }
  return {};
}

class LrzszTransfer : public ::testing::TestWithParam<Case> {};

TEST_P(LrzszTransfer, ArrivesByteExact) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  const Case& c = GetParam();
  TempDir here;
  TempDir there;
  std::vector<uint8_t> bytes = SeededBytes(c.size, static_cast<unsigned>(c.size) + 1);
  // XMODEM drops its padding from a received file's end: a file of ours must
  // not end in a padding byte itself.
  if (!bytes.empty() && bytes.back() == 0x1A) bytes.back() = 0x1B;
  std::string content(bytes.begin(), bytes.end());
  WriteFile((c.way == Way::kSend ? here : there) / "data.bin", content);
  LrzszPeer peer(PeerCommand(c), there.path());
  DescriptorChannel channel(peer.DevicePath());
  CountingObserver observer;
  TransferOutcome outcome;
  if (c.way == Way::kSend) {
    std::string reason;
    auto file = LocalFile::Open((here / "data.bin").string(), &reason);
    ASSERT_TRUE(file) << reason;
    if (c.protocol == Protocol::kYmodem) {
      std::vector<std::unique_ptr<OutgoingFile>> files;
      files.push_back(std::move(file));
      outcome = YmodemSend(channel, files, observer, kTiming);
    } else {
      outcome = XmodemSend(channel, *file, c.protocol == Protocol::kXmodem1k, observer, kTiming);
    }
  } else {
    FolderSink sink({here.path().string(), ExistingFiles::kNumber,
                     c.protocol == Protocol::kYmodem ? "" : "data.bin"});
    outcome = c.protocol == Protocol::kYmodem ? YmodemReceive(channel, sink, observer, kTiming)
                                              : XmodemReceive(channel, sink, observer, kTiming);
  }
  EXPECT_EQ(outcome.status, TransferStatus::kDone)
      << StatusText(outcome.status) << " " << outcome.detail << "\n"
      << peer.ErrorText();
  EXPECT_EQ(peer.WaitExit(seconds(10)), 0) << peer.ErrorText();
  std::string got = c.way == Way::kSend && c.protocol != Protocol::kYmodem
                        ? ReadAll(there / "out.bin")
                        : ReadAll((c.way == Way::kSend ? there : here) / "data.bin");
  if (c.way == Way::kSend && c.protocol != Protocol::kYmodem) {
    // rx keeps XMODEM's padding: the file, then 0x1A up to the block's end.
    ASSERT_GE(got.size(), content.size());
    EXPECT_LT(got.size() - content.size(), 1024u);
    EXPECT_EQ(got.find_first_not_of('\x1A', content.size()), std::string::npos);
    got.resize(content.size());
  }
  EXPECT_TRUE(got == content) << "got " << got.size() << " bytes of " << content.size();
  EXPECT_EQ(outcome.bytes, c.size);
  EXPECT_EQ(outcome.files, 1);
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const size_t sizes[] = {1, 127, 128, 129, 1023, 1024, 1025};
  for (Protocol protocol :
       {Protocol::kXmodem, Protocol::kXmodemCrc, Protocol::kXmodem1k, Protocol::kYmodem}) {
    for (Way way : {Way::kSend, Way::kReceive}) {
      for (size_t size : sizes) cases.push_back({protocol, way, size});
    }
  }
  cases.push_back({Protocol::kYmodem, Way::kSend, 0});
  cases.push_back({Protocol::kYmodem, Way::kReceive, 0});
  // A mebibyte both ways, in the long blocks that carry it fastest.
  cases.push_back({Protocol::kXmodem1k, Way::kSend, 1 << 20});
  cases.push_back({Protocol::kYmodem, Way::kReceive, 1 << 20});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, LrzszTransfer, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return Name(info.param); });

std::string Content(size_t size, unsigned seed) {
  std::vector<uint8_t> bytes = SeededBytes(size, seed);
  return {bytes.begin(), bytes.end()};
}

TEST(LrzszBatch, ThreeFilesGoAndComeInOneBatch) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  const std::vector<std::pair<std::string, std::string>> batch = {
      {"one.bin", Content(3000, 1)}, {"two.txt", Content(1, 2)}, {"three.img", Content(0, 3)}};
  for (Way way : {Way::kSend, Way::kReceive}) {
    TempDir here;
    TempDir there;
    TempDir& from = way == Way::kSend ? here : there;
    TempDir& to = way == Way::kSend ? there : here;
    std::vector<std::string> command = {way == Way::kSend ? "rb" : "sb", "-q"};
    for (const auto& [name, content] : batch) {
      WriteFile(from / name.c_str(), content);
      if (way == Way::kReceive) command.push_back(name);
    }
    LrzszPeer peer(command, there.path());
    DescriptorChannel channel(peer.DevicePath());
    CountingObserver observer;
    TransferOutcome outcome;
    if (way == Way::kSend) {
      std::vector<std::unique_ptr<OutgoingFile>> files;
      std::string reason;
      for (const auto& entry : batch)
        files.push_back(LocalFile::Open((here / entry.first.c_str()).string(), &reason));
      outcome = YmodemSend(channel, files, observer, kTiming);
    } else {
      FolderSink sink({here.path().string(), ExistingFiles::kNumber, ""});
      outcome = YmodemReceive(channel, sink, observer, kTiming);
    }
    EXPECT_EQ(outcome.status, TransferStatus::kDone) << outcome.detail;
    EXPECT_EQ(outcome.files, 3);
    EXPECT_EQ(peer.WaitExit(seconds(10)), 0) << peer.ErrorText();
    for (const auto& [name, content] : batch)
      EXPECT_TRUE(ReadAll(to / name.c_str()) == content) << name;
  }
}

class LrzszNoisyLine : public ::testing::TestWithParam<Case> {};

// About one byte in 10,000 lost or damaged each way: the file still
// arrives whole, and the blocks sent again are counted.
TEST_P(LrzszNoisyLine, StillEndsByteExactWithRetriesCounted) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  const Case& c = GetParam();
  TempDir here;
  TempDir there;
  std::string content = Content(c.size, 9);
  WriteFile((c.way == Way::kSend ? here : there) / "data.bin", content);
  RelayOptions relay;
  relay.towardPeer = {10000, true, true};
  relay.towardUs = {10000, true, true};
  relay.seed = 5;
  LrzszPeer peer(PeerCommand(c), there.path(), relay);
  DescriptorChannel channel(peer.DevicePath());
  CountingObserver observer;
  TransferOutcome outcome;
  if (c.way == Way::kSend) {
    std::vector<std::unique_ptr<OutgoingFile>> files;
    std::string reason;
    files.push_back(LocalFile::Open((here / "data.bin").string(), &reason));
    outcome = YmodemSend(channel, files, observer, kTiming);
  } else {
    FolderSink sink({here.path().string(), ExistingFiles::kNumber, ""});
    outcome = YmodemReceive(channel, sink, observer, kTiming);
  }
  EXPECT_EQ(outcome.status, TransferStatus::kDone) << outcome.detail << peer.ErrorText();
  EXPECT_TRUE(ReadAll((c.way == Way::kSend ? there : here) / "data.bin") == content);
  testing::LineRelay::Counts damaged =
      c.way == Way::kSend ? peer.Relay().TowardPeer() : peer.Relay().TowardUs();
  ASSERT_GT(damaged.dropped + damaged.flipped, 0u);
  EXPECT_GT(outcome.retries, 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, LrzszNoisyLine,
                         ::testing::Values(Case{Protocol::kYmodem, Way::kSend, 150000},
                                           Case{Protocol::kYmodem, Way::kReceive, 150000}),
                         [](const auto& info) { return Name(info.param); });

// A YMODEM transfer of 300,000 bytes against lrzsz, either way, and
// `midway` called once 30,000 bytes went.
struct CancelRun {
  explicit CancelRun(Way way)
      : way(way),
        content(
            (WriteFile((way == Way::kSend ? here : there) / "data.bin", Content(300000, 4)), 0)),
        peer(way == Way::kSend ? std::vector<std::string>{"rb", "-q"}
                               : std::vector<std::string>{"sb", "-q", "-k", "data.bin"},
             there.path()),
        channel(peer.DevicePath()) {}

  TransferOutcome Run(std::function<void()> midway) {
    std::atomic<bool> called{false};
    observer.onProgress = [&](const TransferProgress& progress) {
      if (progress.bytes > 30000 && !called.exchange(true)) midway();
    };
    FolderSink sink({here.path().string(), ExistingFiles::kNumber, ""});
    if (way == Way::kReceive) return YmodemReceive(channel, sink, observer, kTiming);
    std::vector<std::unique_ptr<OutgoingFile>> files;
    std::string reason;
    files.push_back(LocalFile::Open((here / "data.bin").string(), &reason));
    return YmodemSend(channel, files, observer, kTiming);
  }

  Way way;
  TempDir here;
  TempDir there;
  int content;
  LrzszPeer peer;
  DescriptorChannel channel;
  CountingObserver observer;
};

class LrzszCancel : public ::testing::TestWithParam<Way> {};

// The other side is interrupted midway: lrzsz sends its cancel sequence as
// it leaves, and the transfer ends saying so, a received part deleted.
TEST_P(LrzszCancel, ThePeerCancellingMidwayEndsTheTransfer) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  CancelRun run(GetParam());
  TransferOutcome outcome = run.Run([&] { run.peer.Process().Signal(SIGINT); });
  EXPECT_EQ(outcome.status, TransferStatus::kCancelledByPeer) << StatusText(outcome.status);
  if (GetParam() == Way::kReceive) {
    EXPECT_TRUE(testing::Listing(run.here.path()).empty());
  }
}

// Our own cancel reaches the other side as its cancel sequence: it gives up.
TEST_P(LrzszCancel, OurCancelEndsTheOtherSide) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  CancelRun run(GetParam());
  TransferOutcome outcome = run.Run([&] { run.channel.Cancel(); });
  EXPECT_EQ(outcome.status, TransferStatus::kCancelledByUser);
  std::optional<int> status = run.peer.WaitExit(seconds(15));
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, LrzszCancel, ::testing::Values(Way::kSend, Way::kReceive),
                         [](const auto& info) {
                           return std::string(info.param == Way::kSend ? "Send" : "Receive");
                         });

// Nobody on the line: the wait for the other side ends with its own
// message, counting down meanwhile; a receiver asks with 'C', then NAK.
TEST(SilentLine, AReceiverOrSenderThatNeverStartsIsToldApart) {
  testing::PtyDevice device;
  testing::MakeRaw(device.Path());
  TempDir dir;
  WriteFile(dir / "f.bin", "data");
  const TransferTiming shortWait{1500, 300, 3};
  {
    DescriptorChannel channel(device.Path());
    CountingObserver observer;
    int lastCount = -1;
    observer.onProgress = [&](const TransferProgress& p) { lastCount = p.waitSecondsLeft; };
    std::string reason;
    auto file = LocalFile::Open((dir / "f.bin").string(), &reason);
    auto started = std::chrono::steady_clock::now();
    TransferOutcome outcome = XmodemSend(channel, *file, false, observer, shortWait);
    EXPECT_EQ(outcome.status, TransferStatus::kReceiverNeverStarted);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
    EXPECT_EQ(lastCount, 0);
  }
  device.Drain();
  {
    DescriptorChannel channel(device.Path());
    CountingObserver observer;
    FolderSink sink({dir.path().string(), ExistingFiles::kNumber, "in.bin"});
    TransferOutcome outcome = XmodemReceive(channel, sink, observer, shortWait);
    EXPECT_EQ(outcome.status, TransferStatus::kSenderNeverStarted);
    std::vector<uint8_t> asked = device.Drain();
    std::string text(asked.begin(), asked.end());
    EXPECT_EQ(text.substr(0, 3), "CCC");
    EXPECT_NE(text.find('\x15'), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "in.bin"));
  }
}

}  // namespace
}  // namespace quorvel
