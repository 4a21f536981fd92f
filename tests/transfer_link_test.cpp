// A transfer on the terminal's live link (its serial port, its receive
// worker) against lrzsz: the file arrives whole, the protocol's bytes stay
// out of the receive box and the session view, which gets event lines, and
// a link that closes or a cancel ends the transfer cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "history/session_store.h"
#include "support/line_rig.h"
#include "support/lrzsz_peer.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "transfer/transfer_runner.h"

namespace quorvel {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::LrzszPeer;
using testing::LrzszProcess;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;

// The terminal without its window: a port, its state and its worker, with
// the session view's store listening.
struct LiveLink {
  explicit LiveLink(const std::string& path) {
    EXPECT_TRUE(rig.Open(path));
    rig.hub.listeners.Add(session);
    rig.StartWorker();
  }
  ~LiveLink() {
    runner.Stop();
    worker.StopAndWait();
    port.Close();
    rig.hub.listeners.Remove(session);
  }
  // Waits for the runner to end; its last state.
  TransferState Finish(milliseconds limit = milliseconds(60000)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    TransferState now = runner.TakeNews();
    while (now.running && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(5));
      now = runner.TakeNews();
    }
    return now;
  }
  // The session view's event lines. A receiver asks first ('C' or NAK), and
  // what it asked before the transfer began is ordinary traffic; after that
  // the view holds event lines only.
  std::vector<std::string> Events() {
    std::vector<std::string> events;
    SessionCounts counts = session.Counts(SessionDisplay::kText);
    for (uint64_t i = counts.firstLine; i < counts.endLine; ++i) {
      SessionLine line;
      if (!session.Line(SessionDisplay::kText, i, line)) continue;
      std::string text(line.bytes.begin(), line.bytes.end());
      if (line.kind == SessionKind::kEvent) {
        events.push_back(text);
      } else {
        EXPECT_TRUE(events.empty() && text.find_first_not_of("C\x15") == std::string::npos)
            << "the protocol's bytes reached the view: " << text;
      }
    }
    return events;
  }

  SessionStore session;  // outlives the threads that hear the line
  testing::LineRig rig;
  SerialPort& port = rig.port;
  TerminalState& state = rig.state;
  WorkerThread& worker = rig.worker;
  TransferRunner runner{rig.hub, rig.door};
};

struct LinkCase {
  const char* name;
  TransferProtocol protocol;
  bool send;
  std::vector<std::string> peer;
};

class LiveLinkTransfer : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LiveLinkTransfer, ArrivesWholeOutsideTheReceiveBox) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  const LinkCase& c = GetParam();
  TempDir here;
  TempDir there;
  std::vector<uint8_t> bytes = testing::SeededBytes(100000, 11);
  if (bytes.back() == 0x1A) bytes.back() = 0;
  std::string content(bytes.begin(), bytes.end());
  WriteFile((c.send ? here : there) / "data.bin", content);
  LrzszPeer peer(c.peer, there.path());
  LiveLink link(peer.DevicePath());
  TransferRequest request;
  request.protocol = c.protocol;
  request.send = c.send;
  request.paths = {(here / "data.bin").string()};
  request.sink = {here.path().string(), ExistingFiles::kNumber,
                  c.protocol == TransferProtocol::kYmodem ? "" : "data.bin"};
  request.timing = {20000, 3000, 10};
  Done started = link.runner.Start(request);
  ASSERT_TRUE(started) << started.Reason();
  TransferState end = link.Finish();
  ASSERT_TRUE(end.outcome);
  EXPECT_EQ(end.outcome->status, TransferStatus::kDone) << end.outcome->detail;
  EXPECT_EQ(peer.WaitExit(seconds(10)), 0) << peer.ErrorText();
  std::string got =
      ReadAll((c.send ? there : here) /
              (c.send && c.protocol != TransferProtocol::kYmodem ? "out.bin" : "data.bin"));
  if (c.send && c.protocol != TransferProtocol::kYmodem)
    got.resize(std::min(got.size(), content.size()));
  EXPECT_TRUE(got == content);
  {
    std::lock_guard guard(link.state.lock);
    std::string shown(link.state.rxBuffer.begin(),
                      link.state.rxBuffer.begin() + link.state.rxLength);
    EXPECT_EQ(shown.find_first_not_of("C\x15"), std::string::npos) << shown;
  }
  CounterValues counters = link.rig.Counters();
  EXPECT_GT(counters.rxCount, 0u);
  EXPECT_GT(counters.txCount, 0u);
  std::vector<std::string> events = link.Events();
  ASSERT_EQ(events.size(), 2u);
  std::string title = TransferTitle(c.protocol, c.send, "data.bin");
  EXPECT_EQ(events[0], (c.send ? title : TransferTitle(c.protocol, false, "")) + ": started");
  EXPECT_EQ(events[1].rfind(title + ": 100,000 bytes in ", 0), 0u) << events[1];
  EXPECT_EQ(link.rig.hub.Taker(), nullptr) << "the received bytes are the terminal's again";
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, LiveLinkTransfer,
    ::testing::Values(
        LinkCase{"YmodemSend", TransferProtocol::kYmodem, true, {"rb", "-q"}},
        LinkCase{"YmodemReceive", TransferProtocol::kYmodem, false, {"sb", "-q", "-k", "data.bin"}},
        LinkCase{"Xmodem1kSend", TransferProtocol::kXmodem1k, true, {"rx", "-q", "-c", "out.bin"}},
        LinkCase{"XmodemReceive", TransferProtocol::kXmodem, false, {"sx", "-q", "data.bin"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LiveLinkTransfer, ClosingTheLinkEndsTheTransferAndLeavesNoPartialFile) {
  if (!LrzszProcess::Available()) GTEST_SKIP() << LrzszProcess::kMissing;
  TempDir here;
  TempDir there;
  WriteFile(there / "data.bin", std::string(400000, 'x'));
  LrzszPeer peer({"sb", "-q", "-k", "data.bin"}, there.path());
  LiveLink link(peer.DevicePath());
  TransferRequest request;
  request.send = false;
  request.sink = {here.path().string(), ExistingFiles::kNumber, ""};
  Done started = link.runner.Start(request);
  ASSERT_TRUE(started) << started.Reason();
  while (link.runner.TakeNews().progress.bytes < 50000)
    std::this_thread::sleep_for(milliseconds(2));
  // The worker ends as a closing link ends it; the port goes with it.
  link.worker.StopAndWait();
  link.port.Close();
  TransferState end = link.Finish(seconds(5));
  ASSERT_TRUE(end.outcome);
  EXPECT_EQ(end.outcome->status, TransferStatus::kLinkLost);
  EXPECT_TRUE(testing::Listing(here.path()).empty());
}

TEST(LiveLinkTransfer, RefusesWhatCannotStart) {
  TempDir here;
  testing::PtyDevice device;
  LiveLink link(device.Path());
  TransferRequest request;
  request.paths = {(here / "missing.bin").string()};
  Done refused = link.runner.Start(request);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.Reason().find("cannot read"), std::string::npos) << refused.Reason();
  // XMODEM carries one file; a batch is YMODEM's or ZMODEM's.
  request.protocol = TransferProtocol::kXmodem;
  request.paths.push_back(request.paths.front());
  refused = link.runner.Start(request);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.Reason(), "XMODEM sends one file");
  // A receive with nobody sending, cancelled: it ends at once, saying so.
  request = {};
  request.send = false;
  request.sink = {here.path().string(), ExistingFiles::kNumber, ""};
  Done started = link.runner.Start(request);
  ASSERT_TRUE(started) << started.Reason();
  refused = link.runner.Start(request);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.Reason(), "a file transfer is running");
  link.runner.Cancel();
  TransferState end = link.Finish(seconds(5));
  ASSERT_TRUE(end.outcome);
  EXPECT_EQ(end.outcome->status, TransferStatus::kCancelledByUser);
  std::vector<uint8_t> cancel = device.Drain(milliseconds(400));
  EXPECT_NE(std::find(cancel.begin(), cancel.end(), 0x18), cancel.end());
}

}  // namespace
}  // namespace quorvel
