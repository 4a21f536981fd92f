// A transfer's channel on the live link, against a pseudo-terminal: while it
// is attached it alone reads the line (the worker stands aside), in order,
// with the log file hearing every byte; what came before it is the
// terminal's, and so is what comes after; a cancel, a stop of the worker and
// a close end its wait.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/seeded_bytes.h"
#include "support/state_access.h"
#include "transfer/link_channel.h"

namespace quorvel {
namespace {

using testing::LogOf;
using testing::RecordingWindow;

// Hears what transfers carry, as the log file does.
class TransferEar : public LineListener {
 public:
  void Received(const uint8_t* bytes, int count) override { Add(bytes, count); }
  void Sent(const uint8_t*, int) override {}
  std::vector<uint8_t> Heard() {
    std::lock_guard guard(mutex_);
    return heard_;
  }

 private:
  void Add(const uint8_t* bytes, int count) {
    std::lock_guard guard(mutex_);
    heard_.insert(heard_.end(), bytes, bytes + count);
  }
  std::mutex mutex_;
  std::vector<uint8_t> heard_;
};

struct ChannelRig {
  ChannelRig() {
    EXPECT_TRUE(rig.Open(device.Path()));
    rig.hub.listeners.Add(ear, {.transfers = true});
    rig.StartWorker();
  }
  ~ChannelRig() {
    channel.Detach();
    rig.worker.StopAndWait();
    rig.hub.listeners.Remove(ear);
  }
  // Reads until `count` bytes came or a read ends otherwise.
  std::vector<uint8_t> ReadAll(size_t count) {
    std::vector<uint8_t> got;
    uint8_t buffer[16 * 1024];
    while (got.size() < count) {
      int n = channel.Read(buffer, sizeof buffer, 5000);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

  testing::PtyDevice device;
  TransferEar ear;
  testing::LineRig rig;
  LinkChannel channel{rig.hub, rig.door};
};

TEST(LinkChannel, HasTheLineAloneWhileAttachedAndGivesItBack) {
  ChannelRig c;
  c.device.Send("before");
  ASSERT_TRUE(testing::WaitForRx(c.rig.hub.counters, 6));
  ASSERT_TRUE(RecordingWindow::WaitFor([&] { return LogOf(c.rig.state).size() == 6; }));
  ASSERT_TRUE(c.channel.Attach());
  // A stream larger than the pseudo-terminal holds: read in pieces, in order.
  std::vector<uint8_t> stream = testing::SeededBytes(300000, 7);
  std::thread writer([&] { c.device.Send(stream); });
  std::vector<uint8_t> got = c.ReadAll(stream.size());
  writer.join();
  EXPECT_EQ(got, stream);
  std::vector<uint8_t> heard = {'b', 'e', 'f', 'o', 'r', 'e'};
  heard.insert(heard.end(), stream.begin(), stream.end());
  EXPECT_EQ(c.ear.Heard(), heard) << "the log file hears what the transfer carried, after the rest";
  EXPECT_EQ(LogOf(c.rig.state).size(), 6u) << "nothing of it reaches the receive box";
  EXPECT_EQ(c.rig.hub.counters.Read().rxCount, 6 + stream.size());
  uint8_t none[4];
  EXPECT_EQ(c.channel.Read(none, sizeof none, 0), TransferChannel::kTimedOut);
  c.channel.Detach();
  c.device.Send("after");
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return LogOf(c.rig.state).size() == 11; }))
      << "the worker reads again once the channel lets go";
}

// Each way a read waiting on a quiet line must end, and what it says.
struct EndCase {
  const char* name;
  void (*end)(ChannelRig&);
  int read;
};

class LinkChannelEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(LinkChannelEnds, AWaitingReadEndsAtOnce) {
  ChannelRig c;
  ASSERT_TRUE(c.channel.Attach());
  // Whether the end comes before the read or during its wait, it ends it.
  std::thread ender([&] { GetParam().end(c); });
  uint8_t buffer[16];
  // A deadline far beyond the test's own: only the end can stop this read.
  int got = c.channel.Read(buffer, sizeof buffer, 600000);
  ender.join();
  EXPECT_EQ(got, GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LinkChannelEnds,
    ::testing::Values(
        EndCase{"Cancel", [](ChannelRig& c) { c.channel.Cancel(); }, TransferChannel::kCancelled},
        EndCase{"Abandon", [](ChannelRig& c) { c.channel.Abandon(); }, TransferChannel::kCancelled},
        EndCase{"WorkerStops", [](ChannelRig& c) { c.rig.worker.StopAndWait(); },
                TransferChannel::kLinkLost},
        // A link closes as a session closes it: its worker first.
        EndCase{"LinkCloses",
                [](ChannelRig& c) {
                  c.rig.worker.StopAndWait();
                  c.rig.port.Close();
                },
                TransferChannel::kLinkLost}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
