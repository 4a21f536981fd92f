// The writer of the window's sends on a pseudo-terminal: what goes on the
// wire and in what order, what is counted, how a stalled send ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "engine/send_writer.h"
#include "engine/transmit.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;
using testing::SeededBytes;

class SendWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Open(device.Path(), {9600, 8, kOneStopBit, kParityNone}));
  }
  void TearDown() override { writer.Abort(); }

  uint32_t TxCount() { return rig.Counters().txCount; }
  // The messages posted since the last look, each dismissed at once as a
  // user would, so the same text may come again.
  std::vector<std::string> TakeNews() {
    std::vector<std::string> taken = rig.hub.news.Take();
    for (const std::string& text : taken) rig.hub.news.Dismissed(text);
    return taken;
  }
  // Waits until the writer has written something and then taken nothing
  // more for a while: the device's side is full.
  bool WaitForStall() {
    uint32_t last = 0;
    int steady = 0;
    return RecordingWindow::WaitFor([&] {
      uint32_t now = TxCount();
      steady = now > 0 && now == last ? steady + 1 : 0;
      last = now;
      if (steady < 20) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return steady >= 20;
    });
  }
  std::vector<std::string> WaitForMessages(size_t count) {
    std::vector<std::string> seen;
    RecordingWindow::WaitFor([&] {
      for (std::string& message : TakeNews()) seen.push_back(std::move(message));
      return seen.size() >= count;
    });
    return seen;
  }

  testing::PtyDevice device;
  testing::LineRig rig;
  SerialPort& serial = rig.port;
  SendWriter& writer = rig.door;
};

TEST_F(SendWriterTest, AbortEndsAStalledSendAndTheCountIsWhatTheDeviceGets) {
  const Bytes sent = SeededBytes(100'000, 1);
  writer.Queue(sent);
  writer.Queue(Bytes{'n', 'e', 'x', 't'});
  ASSERT_TRUE(WaitForStall());
  EXPECT_TRUE(writer.Busy());
  EXPECT_LT(TxCount(), 100'000u);
  writer.Abort();  // returns though nobody reads: the test would hang otherwise
  EXPECT_FALSE(writer.Busy());
  serial.ResumeWaits();
  Bytes got = device.Drain();
  EXPECT_EQ(got.size(), TxCount()) << "counted as it left, no more and no less";
  EXPECT_EQ(got, Bytes(sent.begin(), sent.begin() + static_cast<ptrdiff_t>(got.size())));
  EXPECT_TRUE(TakeNews().empty()) << "an abort is no failure";
}

TEST_F(SendWriterTest, BoundExpiryFailsOnceAndTheNextSendGoes) {
  serial.SetWriteTimeouts(0, 200);
  writer.Queue(SeededBytes(100'000, 2));
  writer.Queue(Bytes{'o', 'k'});
  EXPECT_EQ(WaitForMessages(1), std::vector<std::string>{"Write com fail!"});
  Bytes got = device.Receive(TxCount() + 2);
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(Bytes(got.end() - 2, got.end()), (Bytes{'o', 'k'}));
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return !writer.Busy(); }));
  EXPECT_TRUE(TakeNews().empty()) << "shown once";
  EXPECT_EQ(rig.Counters().sendCount, 2u);
}

TEST_F(SendWriterTest, SendsAndRepliesStayWholeAndInOrder) {
  Bytes first = SeededBytes(60'000, 3);
  writer.Queue(first);
  ASSERT_TRUE(WaitForStall());
  // The worker's echo while the first send holds the wire, then the window's next.
  Bytes reply = {'R', 'E', 'P'};
  writer.Reply(reply.data(), static_cast<int>(reply.size()));
  writer.Queue(Bytes{'n', 'e', 'x', 't'});
  Bytes expected = first;
  expected.insert(expected.end(), reply.begin(), reply.end());
  expected.insert(expected.end(), {'n', 'e', 'x', 't'});
  EXPECT_EQ(device.Receive(expected.size(), std::chrono::seconds(20)), expected);
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return TxCount() == expected.size(); }));
  // With the wire free, a reply goes at once on the worker's own thread.
  writer.Reply(reply.data(), static_cast<int>(reply.size()));
  EXPECT_EQ(device.Receive(3), reply);
}

struct FileCase {
  const char* name;
  size_t size;
  FilePacing pacing;
  int minimumMs;  // the pauses asked for, at least
};

class FileSendTest : public SendWriterTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileSendTest, ArrivesByteIdentical) {
  const FileCase& c = GetParam();
  testing::TempDir directory;
  Bytes content = SeededBytes(c.size, 4);
  for (size_t i = 0; i < content.size(); i += 50) content[i] = '\n';
  std::string path = directory / "file.bin";
  testing::WriteFile(path, std::string(content.begin(), content.end()));
  auto started = std::chrono::steady_clock::now();
  writer.QueueFile(UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), "file.bin", c.size,
                   c.pacing);
  EXPECT_EQ(device.Receive(c.size, std::chrono::seconds(30)), content);
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return !writer.Busy(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(c.minimumMs));
  EXPECT_EQ(TxCount(), c.size);
  EXPECT_FALSE(writer.Progress().active);
}

INSTANTIATE_TEST_SUITE_P(Pacing, FileSendTest,
                         ::testing::Values(FileCase{"Unpaced", 1 << 20, {0, 0}, 0},
                                           FileCase{"LineDelay", 2000, {5, 0}, 40 * 5},
                                           FileCase{"ByteDelay", 100, {0, 2}, 100 * 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendWriterTest, CancellingAFileKeepsTheOtherSends) {
  testing::TempDir directory;
  std::string path = directory / "big.bin";
  testing::WriteFile(path, std::string(200'000, 'x'));
  writer.QueueFile(UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), "big.bin", 200'000, {});
  writer.Queue(Bytes{'a', 'f', 't', 'e', 'r'});
  ASSERT_TRUE(WaitForStall());
  FileSendProgress progress = writer.Progress();
  EXPECT_TRUE(progress.active);
  EXPECT_EQ(progress.total, 200'000u);
  EXPECT_EQ(progress.sent, TxCount());
  writer.CancelFiles();
  const Bytes after = {'a', 'f', 't', 'e', 'r'};
  Bytes got;
  EXPECT_TRUE(RecordingWindow::WaitFor(
      [&] {
        Bytes part = device.Drain(std::chrono::milliseconds(10));
        got.insert(got.end(), part.begin(), part.end());
        return got.size() >= after.size() && std::equal(after.rbegin(), after.rend(), got.rbegin());
      },
      std::chrono::seconds(20)));
  EXPECT_EQ(got.size(), TxCount());
  EXPECT_LT(TxCount(), 200'005u);
  EXPECT_TRUE(TakeNews().empty()) << "a cancel is no failure";
}

// The writer owns a queued file's descriptor and closes it however the file
// ends. The file is a socket here, so the test sees the close as the end of
// its peer (its own side reading end-of-file) without guessing at numbers.
enum class FileEnd { kSent, kCancelled, kAborted };

class FileDescriptorTest : public SendWriterTest, public ::testing::WithParamInterface<FileEnd> {};

TEST_P(FileDescriptorTest, IsClosedWhenTheFileEnds) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  UniqueFd ours(ends[0]);
  const bool whole = GetParam() == FileEnd::kSent;
  const std::string content(whole ? 100 : 200'000, 'x');  // 200,000 stall the line
  writer.QueueFile(UniqueFd(ends[1]), "socket", content.size(), {});
  std::thread feeder([&] {  // the writer reads as the line takes it
    for (size_t done = 0; done < content.size();) {
      ssize_t n = ::send(ours.Get(), content.data() + done, content.size() - done, MSG_NOSIGNAL);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::shutdown(ours.Get(), SHUT_WR);
  });
  if (whole) {
    EXPECT_EQ(device.Receive(content.size()).size(), content.size());
  } else {
    EXPECT_TRUE(WaitForStall());  // and on regardless: the feeder must be let go
    GetParam() == FileEnd::kCancelled ? writer.CancelFiles() : writer.Abort();
  }
  EXPECT_TRUE(RecordingWindow::WaitFor([&] {
    char byte;
    return ::recv(ours.Get(), &byte, 1, MSG_DONTWAIT) == 0;
  }));
  feeder.join();
}

std::string FileEndName(const ::testing::TestParamInfo<FileEnd>& info) {
  static const char* const kNames[] = {"Sent", "Cancelled", "Aborted"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ends, FileDescriptorTest,
                         ::testing::Values(FileEnd::kSent, FileEnd::kCancelled, FileEnd::kAborted),
                         FileEndName);

}  // namespace
}  // namespace quorvel
