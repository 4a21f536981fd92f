// Our ZMODEM against lrzsz's sz and rz, each on a pseudo-terminal of its own
// behind the test relay: both directions, the lengths around a subpacket's
// edges and a large random file, a batch, a noisy line, lrzsz's own options,
// and the other side giving up. One table drives them all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/descriptor_channel.h"
#include "support/lrzsz_peer.h"
#include "support/memory_transfer.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "transfer/folder_sink.h"
#include "transfer/local_file.h"
#include "transfer/zmodem.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::DescriptorChannel;
using testing::LrzszPeer;
using testing::RecordingObserver;
using testing::SeededBytes;
using testing::TempDir;

enum class Way { kWeSend, kWeReceive };
// What lrzsz does besides the transfer.
enum class Peer {
  kFinishes,
  kDiskFull,       // rz can write no more than 300 kB, and cancels
  kKilled,         // killed midway: the line goes quiet
  kSendsACommand,  // sz asks us to run a command
};

struct LrzszCase {
  std::string name;
  Way way;
  std::vector<size_t> sizes;              // one file each, one batch
  std::vector<std::string> options = {};  // lrzsz's, after its name
  unsigned oneIn = 0;                     // noise each way: about one byte in N damaged
  Peer peer = Peer::kFinishes;
  TransferStatus expected = TransferStatus::kDone;
  speed_t speed = B38400;  // of lrzsz's line, which it sizes its patience by
};

constexpr size_t kMiB = 1 << 20;
// Short waits for a noisy line, on both sides: lrzsz counts in tenths. Quiet:
// lrzsz's progress lines go to a pipe nobody reads while the transfer runs,
// and a full pipe would stop it.
constexpr TransferTiming kTiming{10000, 1000, 10};
constexpr TransferTiming kImpatient{10000, 300, 3};  // for a peer that went quiet
const std::vector<std::string> kQuickLrzsz = {"-q", "-t", "10"};

std::string FileName(size_t index, size_t size) {
  return "f" + std::to_string(index) + "_" + std::to_string(size) + ".bin";
}

class ZmodemLrzsz : public ::testing::TestWithParam<LrzszCase> {
 protected:
  void SetUp() override {
    if (!testing::LrzszProcess::Available()) GTEST_SKIP() << testing::LrzszProcess::kMissing;
    const LrzszCase& c = GetParam();
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      files.push_back(
          {FileName(i, c.sizes[i]), SeededBytes(c.sizes[i], static_cast<unsigned>(i + 1))});
    }
  }

  testing::RelayOptions Relay() const {
    testing::RelayOptions relay;
    relay.towardPeer.oneIn = GetParam().oneIn;
    relay.towardUs.oneIn = GetParam().oneIn;
    relay.seed = 11;
    return relay;
  }

  std::vector<std::string> PeerArgs(const char* program) const {
    std::vector<std::string> args = {program};
    args.insert(args.end(), kQuickLrzsz.begin(), kQuickLrzsz.end());
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    return args;
  }

  // Starts lrzsz; one that is to find its disk full gets a file size limit
  // (with SIGXFSZ ignored, a write past it fails), which only it inherits.
  void StartPeer(const std::vector<std::string>& args) {
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    void (*handler)(int) = SIG_DFL;
    if (GetParam().peer == Peer::kDiskFull) {
      rlimit small = before;
      small.rlim_cur = 300'000;
      ::setrlimit(RLIMIT_FSIZE, &small);
      handler = ::signal(SIGXFSZ, SIG_IGN);
    }
    peer.emplace(args, peerDir.path(), Relay(), LrzszPeer::When::kNow, GetParam().speed);
    if (GetParam().peer == Peer::kDiskFull) {
      ::setrlimit(RLIMIT_FSIZE, &before);
      ::signal(SIGXFSZ, handler);
    }
    if (GetParam().peer == Peer::kKilled) {
      notes.When(200'000, [this] { peer->Process().Kill(); });
    }
  }
  TransferTiming Timing() const { return GetParam().peer == Peer::kKilled ? kImpatient : kTiming; }

  struct File {
    std::string name;
    Bytes bytes;
  };
  std::vector<File> files;
  std::optional<LrzszPeer> peer;
  TempDir peerDir;
  TempDir ourDir;
  RecordingObserver notes;
  TransferOutcome outcome;
};

TEST_P(ZmodemLrzsz, EndsAsTheOtherSideSaysWithEveryByteInPlace) {
  const LrzszCase& c = GetParam();
  if (c.way == Way::kWeSend) {
    StartPeer(PeerArgs("rz"));
    std::vector<std::unique_ptr<OutgoingFile>> outgoing;
    for (const File& file : files) {
      testing::WriteFile(ourDir.path() / file.name,
                         std::string(file.bytes.begin(), file.bytes.end()));
      std::string reason;
      outgoing.push_back(LocalFile::Open(ourDir.path() / file.name, &reason));
      ASSERT_TRUE(outgoing.back()) << reason;
    }
    DescriptorChannel channel(peer->DevicePath());
    outcome = ZmodemSend(channel, outgoing, notes, Timing());
  } else {
    std::vector<std::string> args = PeerArgs("sz");
    if (c.peer == Peer::kSendsACommand) {
      args.insert(args.end(), {"-c", "touch owned"});
    } else {
      for (const File& file : files) {
        testing::WriteFile(peerDir.path() / file.name,
                           std::string(file.bytes.begin(), file.bytes.end()));
        args.push_back(file.name);
      }
    }
    StartPeer(args);
    DescriptorChannel channel(peer->DevicePath());
    SinkOptions options;
    options.folder = ourDir.path().string();
    FolderSink sink(options);
    outcome = ZmodemReceive(channel, sink, notes, Timing());
  }
  // rz waits up to three times ten seconds for our last "OO" when a noisy
  // line took its first copy.
  std::optional<int> status = peer->WaitExit(std::chrono::seconds(40));
  ASSERT_TRUE(status.has_value()) << "lrzsz did not end";
  const std::filesystem::path& arrived = c.way == Way::kWeSend ? peerDir.path() : ourDir.path();

  ASSERT_EQ(outcome.status, c.expected) << outcome.detail << "\n" << peer->ErrorText();
  if (c.peer == Peer::kSendsACommand) {
    EXPECT_FALSE(std::filesystem::exists(ourDir.path() / "owned"));
    EXPECT_FALSE(std::filesystem::exists(peerDir.path() / "owned"));
    EXPECT_NE(*status, 0) << "sz is told the command failed";
    return;
  }
  if (c.expected != TransferStatus::kDone) {
    EXPECT_NE(*status, 0);
    if (c.way == Way::kWeReceive) {
      EXPECT_TRUE(testing::Listing(ourDir.path()).empty()) << "nothing cut short is kept";
    }
    return;
  }
  EXPECT_EQ(*status, 0) << peer->ErrorText();
  EXPECT_EQ(outcome.files, static_cast<int>(files.size()));
  for (const File& file : files) {
    EXPECT_EQ(testing::ReadAll(arrived / file.name),
              std::string(file.bytes.begin(), file.bytes.end()))
        << file.name;
  }
  if (c.oneIn != 0) {
    testing::LineRelay& relay = peer->Relay();
    uint64_t damaged = relay.TowardPeer().dropped + relay.TowardPeer().flipped +
                       relay.TowardUs().dropped + relay.TowardUs().flipped;
    EXPECT_GT(damaged, 0u);
    EXPECT_GT(outcome.retries, 0) << "the damage was noticed and mended";
  }
}

std::vector<LrzszCase> Cases() {
  std::vector<LrzszCase> cases;
  for (size_t size : std::initializer_list<size_t>{0, 1, 127, 128, 129, 1023, 1024, 1025, kMiB}) {
    cases.push_back({"send_" + std::to_string(size), Way::kWeSend, {size}});
    cases.push_back({"receive_" + std::to_string(size), Way::kWeReceive, {size}});
  }
  cases.insert(cases.end(),
               {
                   {"send_batch", Way::kWeSend, {3000, 0, 70'000}},
                   {"receive_batch", Way::kWeReceive, {3000, 0, 70'000}},
                   {"send_noisy", Way::kWeSend, {kMiB}, {}, 10'000},
                   {"receive_noisy", Way::kWeReceive, {kMiB}, {}, 10'000},
                   // At a rate it does not know, rz skips only about 30 kB.
                   {"send_noisy_4000000_baud",
                    Way::kWeSend,
                    {kMiB},
                    {},
                    10'000,
                    Peer::kFinishes,
                    TransferStatus::kDone,
                    B4000000},
                   // rz asking for control bytes escaped, a window, or damage of its own.
                   {"send_to_escaping_rz", Way::kWeSend, {100'000}, {"-e"}},
                   {"send_to_windowed_rz", Way::kWeSend, {100'000}, {"-w", "2048"}},
                   {"send_through_crc_errors", Way::kWeSend, {300'000}, {"--errors", "50000"}},
                   // sz escaping everything, with CRC-16, with 8 KiB subpackets, in frames.
                   {"receive_escaped", Way::kWeReceive, {100'000}, {"-e"}},
                   {"receive_crc16", Way::kWeReceive, {100'000}, {"-o"}},
                   {"receive_8k", Way::kWeReceive, {300'000}, {"-8"}},
                   {"receive_framed", Way::kWeReceive, {100'000}, {"-l", "2048", "-w", "4096"}},
                   // The other side gives up, or goes, midway.
                   {"send_to_a_full_disk",
                    Way::kWeSend,
                    {4 * kMiB},
                    {},
                    0,
                    Peer::kDiskFull,
                    TransferStatus::kCancelledByPeer},
                   {"send_to_a_killed_rz",
                    Way::kWeSend,
                    {4 * kMiB},
                    {},
                    0,
                    Peer::kKilled,
                    TransferStatus::kTooManyRetries},
                   {"receive_from_a_killed_sz",
                    Way::kWeReceive,
                    {4 * kMiB},
                    {},
                    0,
                    Peer::kKilled,
                    TransferStatus::kTooManyRetries},
                   {"receive_a_command", Way::kWeReceive, {}, {}, 0, Peer::kSendsACommand},
               });
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Lrzsz, ZmodemLrzsz, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

TEST(ZmodemLrzszTest, AShellThatNeverRunsRzIsWaitedForAndLeftAlone) {
  testing::PtyDevice shell;
  DescriptorChannel channel(shell.Path());
  RecordingObserver notes;
  std::vector<std::unique_ptr<OutgoingFile>> files;
  files.push_back(std::make_unique<testing::MemoryFile>("f", Bytes(100, 'f')));
  TransferOutcome outcome = ZmodemSend(channel, files, notes, {1500, 500, 10});
  EXPECT_EQ(outcome.status, TransferStatus::kReceiverNeverStarted);
  EXPECT_EQ(notes.Countdown(), (std::vector<int>{2, 1, 0})) << "seconds left, each second";
  Bytes asked = shell.Drain();
  const std::string zrqinit =
      "**\x18"
      "B00000000000000";
  std::string text(asked.begin(), asked.end());
  EXPECT_EQ(text.substr(0, 3 + zrqinit.size()), "rz\r" + zrqinit);
  EXPECT_NE(text.find(zrqinit, 3 + zrqinit.size()), std::string::npos) << "asked again";
  EXPECT_EQ(text.find("\x18\x18"), std::string::npos) << "no cancel for a shell";
}

}  // namespace
}  // namespace quorvel
