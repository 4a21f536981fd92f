// The line's log file: every byte the worker reads reaches it, each format
// reads back to the bytes it recorded, and a failing file ends the log with
// one message.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>

#include <random>
#include <sstream>
#include <thread>

#include "engine/receive_worker.h"
#include "logging/line_logger.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;

Bytes Seeded(size_t size, unsigned seed, int lineEvery = 0) {
  Bytes bytes = testing::SeededBytes(size, seed);
  std::mt19937 rng(seed);
  if (lineEvery > 0) {
    for (size_t i = 0; i < size; i += rng() % lineEvery + 1) bytes[i] = '\n';
  }
  return bytes;
}

std::string Text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

TEST(LineLoggerTest, RawLogOfA20MegabyteStreamIsByteIdentical) {
  testing::PtyDevice device;
  LineLogger logger;  // outlives the worker that hands it the line
  testing::LineRig rig;
  ASSERT_TRUE(rig.Open(device.Path(), {115200, 8, kOneStopBit, kParityNone}));
  RecordingWindow window{rig.state, rig.hub};
  testing::TempDir directory;
  std::string path = directory / "line.log";
  Done started = logger.Start({path, LogFormat::kRaw, false, true});
  ASSERT_TRUE(started) << started.Reason();
  rig.hub.listeners.Add(logger, {.transfers = true});
  rig.StartWorker();

  const Bytes stream = Seeded(20'000'000, 7);
  std::thread sender([&] { device.Send(stream); });
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return rig.Counters().rxCount >= stream.size(); },
                                       std::chrono::seconds(120)));
  sender.join();
  // Written out while logging goes on, without a stop.
  EXPECT_TRUE(RecordingWindow::WaitFor([&] { return logger.FileSize() == stream.size(); },
                                       std::chrono::seconds(10)));
  rig.worker.StopAndWait();
  rig.hub.listeners.Remove(logger);
  logger.Stop();
  EXPECT_TRUE(testing::ReadAll(path) == Text(stream));
  EXPECT_TRUE(logger.TakeFailure().empty());
}

// Reads a log back into what each direction carried; checks every stamp.
struct ReadBack {
  Bytes received, sent;
};

bool IsStamp(const std::string& line) {
  // "2026-12-07T14:15:28.123"
  static const char kShape[] = "dddd-dd-ddTdd:dd:dd.ddd";
  if (line.size() < sizeof kShape - 1) return false;
  for (size_t i = 0; i + 1 < sizeof kShape; ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

constexpr size_t kStampLength = 23;

ReadBack ReadText(const std::string& log, bool bothDirections) {
  ReadBack back;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(at, end - at);
    EXPECT_TRUE(IsStamp(line)) << line.substr(0, 40);
    size_t content = kStampLength + 1;
    Bytes* into = &back.received;
    if (bothDirections) {
      if (line.compare(content, 3, "TX ") == 0) into = &back.sent;
      content += 3;
    }
    into->insert(into->end(), line.begin() + static_cast<ptrdiff_t>(content), line.end());
    at = end;
  }
  return back;
}

ReadBack ReadHex(const std::string& log) {
  ReadBack back;
  Bytes* into = nullptr;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, kHexRowIndent, std::string(kHexRowIndent, ' ')) != 0) {
      EXPECT_TRUE(IsStamp(line)) << line;
      into = line.substr(kStampLength + 1) == "TX" ? &back.sent : &back.received;
      continue;
    }
    std::istringstream field(line.substr(kHexRowIndent, kHexRowField));
    for (unsigned value; field >> std::hex >> value;) into->push_back(static_cast<uint8_t>(value));
  }
  return back;
}

struct FormatCase {
  const char* name;
  LogFormat format;
  bool includeSent;
};

class LogFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LogFormatTest, ReadsBackToTheBytesOfEachDirection) {
  const FormatCase& c = GetParam();
  testing::TempDir directory;
  std::string path = directory / "line.log";
  LineLogger logger;
  Done started = logger.Start({path, c.format, c.includeSent, true});
  ASSERT_TRUE(started) << started.Reason();
  Bytes received = Seeded(300'000, 8, 80);
  Bytes sent = Seeded(20'000, 9, 40);
  // Sent bytes come as whole lines, as a reply does; received ones in bursts
  // that cut lines anywhere.
  std::mt19937 rng(10);
  size_t r = 0, s = 0;
  while (r < received.size()) {
    size_t n = std::min<size_t>(rng() % 2000 + 1, received.size() - r);
    logger.Received(received.data() + r, static_cast<int>(n));
    r += n;
    auto end = std::find(sent.begin() + static_cast<ptrdiff_t>(s), sent.end(), '\n');
    if (received[r - 1] == '\n' && end != sent.end()) {
      size_t line = static_cast<size_t>(end - sent.begin()) + 1 - s;
      logger.Sent(sent.data() + s, static_cast<int>(line));
      s += line;
    }
  }
  logger.Stop();
  std::string log = testing::ReadAll(path);
  ReadBack back = c.format == LogFormat::kHex ? ReadHex(log) : ReadText(log, c.includeSent);
  EXPECT_TRUE(back.received == received);
  EXPECT_TRUE(
      back.sent ==
      (c.includeSent ? Bytes(sent.begin(), sent.begin() + static_cast<ptrdiff_t>(s)) : Bytes{}));
}

INSTANTIATE_TEST_SUITE_P(Formats, LogFormatTest,
                         ::testing::Values(FormatCase{"TextReceived", LogFormat::kText, false},
                                           FormatCase{"TextBoth", LogFormat::kText, true},
                                           FormatCase{"HexBoth", LogFormat::kHex, true},
                                           FormatCase{"HexReceived", LogFormat::kHex, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LineLoggerTest, AFullFileEndsLoggingWithOneMessage) {
  testing::TempDir directory;
  std::string path = directory / "line.log";
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  LineLogger logger;
  Done started = logger.Start({path, LogFormat::kRaw, false, false});
  Bytes chunk = Seeded(4096, 11);
  for (int i = 0; started && i < 256; ++i) logger.Received(chunk.data(), 4096);
  pollfd failed = {logger.FailureDescriptor(), POLLIN, 0};
  bool signalled = ::poll(&failed, 1, 20'000) == 1;
  setrlimit(RLIMIT_FSIZE, &before);
  ASSERT_TRUE(started) << started.Reason();
  EXPECT_TRUE(signalled);
  EXPECT_FALSE(logger.Active());
  std::string message = logger.TakeFailure();
  EXPECT_NE(message.find("Logging stopped: " + path), std::string::npos) << message;
  EXPECT_TRUE(logger.TakeFailure().empty()) << "once";
  logger.Received(chunk.data(), 4096);  // after the end: dropped, no second message
  logger.Stop();
  EXPECT_TRUE(logger.TakeFailure().empty());
  EXPECT_EQ(testing::ReadAll(path).size(), 64u * 1024);
}

TEST(LineLoggerTest, AFileThatCannotBeOpenedIsRefused) {
  testing::TempDir directory;
  testing::WriteFile(directory / "plain", "x");
  for (std::string path :
       {(directory / "plain").string() + "/line.log", directory.path().string()}) {
    LineLogger logger;
    Done refused = logger.Start({path, LogFormat::kRaw, false, true});
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Reason().rfind(path, 0), 0u) << refused.Reason();
    EXPECT_FALSE(logger.Active());
  }
}

}  // namespace
}  // namespace quorvel
