// The session's history on its way out and in: "Save session…" writes what
// parses back to the bytes of each direction, and on a pseudo-terminal the
// real receive worker and send paths put RX and TX in the store in order.
#include "history/session_save.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "engine/receive_worker.h"
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

struct Burst {
  SessionKind kind;
  Bytes bytes;
};

std::vector<Burst> SeededBursts() {
  Bytes stream = testing::SeededBytes(200'000, 5);
  std::vector<Burst> bursts;
  for (size_t at = 0, i = 0; at < stream.size(); ++i) {
    size_t n = std::min<size_t>(1 + (i * 37) % 700, stream.size() - at);
    SessionKind kind = i % 4 == 3 ? SessionKind::kSent : SessionKind::kReceived;
    bursts.push_back({kind, Bytes(stream.begin() + at, stream.begin() + at + n)});
    at += n;
  }
  return bursts;
}

void Fill(SessionStore& store, const std::vector<Burst>& bursts) {
  int64_t ms = 1'700'000'000'000;
  for (const Burst& burst : bursts) {
    store.AppendAt(burst.kind, SessionEvent::kNone, burst.bytes.data(), burst.bytes.size(),
                   ms * 1'000'000, ms);
    ms += 3;
    if (ms % 10 == 0) store.RecordEvent(SessionEvent::kBreakSent, "");
  }
}

// The hex dump read back: a stamp line ending "RX" or "TX" per burst, then
// rows of four spaces and up to 16 pairs of hex digits.
std::vector<Burst> ParseHexDump(const std::string& text) {
  std::vector<Burst> bursts;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("    ", 0) != 0) {
      EXPECT_GE(line.size(), 3u);
      std::string mark = line.substr(line.size() - 2);
      EXPECT_TRUE(mark == "RX" || mark == "TX") << line;
      bursts.push_back({mark == "TX" ? SessionKind::kSent : SessionKind::kReceived, {}});
      continue;
    }
    EXPECT_FALSE(bursts.empty());
    std::istringstream row(line.substr(kHexRowIndent, kHexRowField));
    std::string pair;
    while (row >> pair)
      bursts.back().bytes.push_back(static_cast<uint8_t>(std::stoi(pair, nullptr, 16)));
  }
  return bursts;
}

TEST(SessionSaveTest, HexDumpParsesBackToEveryBurstWithItsDirection) {
  std::vector<Burst> bursts = SeededBursts();
  SessionStore store;
  Fill(store, bursts);
  testing::TempDir dir;
  std::string error;
  ASSERT_TRUE(SaveSession(store, dir / "session.txt", LogFormat::kHex, error)) << error;
  std::vector<Burst> got = ParseHexDump(testing::ReadAll(dir / "session.txt"));
  ASSERT_EQ(got.size(), bursts.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].kind, bursts[i].kind) << i;
    ASSERT_EQ(got[i].bytes, bursts[i].bytes) << i;
  }
}

TEST(SessionSaveTest, RawIsEveryByteInOrderAndTextStampsEachDirection) {
  std::vector<Burst> bursts = SeededBursts();
  SessionStore store;
  Fill(store, bursts);
  Bytes all;
  for (const Burst& burst : bursts) all.insert(all.end(), burst.bytes.begin(), burst.bytes.end());
  testing::TempDir dir;
  std::string error;
  ASSERT_TRUE(SaveSession(store, dir / "raw.bin", LogFormat::kRaw, error)) << error;
  std::string raw = testing::ReadAll(dir / "raw.bin");
  EXPECT_TRUE(Bytes(raw.begin(), raw.end()) == all);

  ASSERT_TRUE(SaveSession(store, dir / "text.txt", LogFormat::kText, error)) << error;
  std::string text = testing::ReadAll(dir / "text.txt");
  EXPECT_NE(text.find(" RX "), std::string::npos);
  EXPECT_NE(text.find(" TX "), std::string::npos);
}

TEST(SessionSaveTest, AFileThatCannotBeWrittenSaysSo) {
  SessionStore store;
  testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(SaveSession(store, dir / "no-such-dir/x.txt", LogFormat::kRaw, error));
  EXPECT_NE(error.find("no-such-dir"), std::string::npos);

  // A save stopped (the window closing) is no success either.
  Fill(store, SeededBursts());
  std::atomic<bool> stop{true};
  EXPECT_FALSE(SaveSession(store, dir / "stopped.txt", LogFormat::kRaw, error, &stop));
  EXPECT_NE(error.find("stopped"), std::string::npos);
}

// The store as the window attaches it, beside the real worker and writer.
class SessionCaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Open(device.Path(), {9600, 8, kOneStopBit, kParityNone}));
    rig.hub.listeners.Add(store);
    rig.StartWorker();
  }
  void TearDown() override {
    writer.Abort();
    rig.worker.StopAndWait();
    rig.hub.listeners.Remove(store);
  }

  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    SessionCounts counts = store.Counts(SessionDisplay::kText);
    SessionLine line;
    for (uint64_t i = counts.firstLine; i < counts.endLine; ++i) {
      if (!store.Line(SessionDisplay::kText, i, line)) continue;
      lines.push_back((line.kind == SessionKind::kSent ? "TX " : "RX ") +
                      std::string(line.bytes.begin(), line.bytes.end()));
    }
    return lines;
  }
  bool WaitForBytes(uint64_t count) {
    return RecordingWindow::WaitFor(
        [&] { return store.Counts(SessionDisplay::kText).keptBytes >= count; });
  }

  SessionStore store;  // outlives the threads that hear the line
  testing::PtyDevice device;
  testing::LineRig rig;
  RecordingWindow window{rig.state, rig.hub};
  SendWriter& writer = rig.door;
};

TEST_F(SessionCaptureTest, ReceivedAndSentLandInOrder) {
  device.Send("ping\n");
  ASSERT_TRUE(WaitForBytes(5));
  writer.Queue(Bytes{'p', 'o', 'n', 'g', '\r', '\n'});
  EXPECT_EQ(device.Receive(6).size(), 6u);
  ASSERT_TRUE(WaitForBytes(11));
  const uint8_t reply[] = {'r', 'e'};
  writer.Reply(reply, 2);  // the path of echo and auto-reply
  EXPECT_EQ(device.Receive(2).size(), 2u);
  // The terminal replies from the receive worker, so the next read waits for
  // the reply to be kept; from the test's thread the device could overtake it.
  ASSERT_TRUE(WaitForBytes(13));
  device.Send("again\n");
  ASSERT_TRUE(WaitForBytes(19));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"RX ping\n", "TX pong\r\n", "TX re", "RX again\n"}));
  SessionLine last;
  SessionLine first;
  ASSERT_TRUE(store.Line(SessionDisplay::kText, 3, last));
  ASSERT_TRUE(store.Line(SessionDisplay::kText, 0, first));
  EXPECT_GT(last.monoNs, first.monoNs);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A CSV row per run: the steady seconds to the microsecond, the direction
// by its label, the gap only on a change of direction, and text a
// spreadsheet reads back whole (quotes doubled, every other byte escaped).
struct CsvCase {
  const char* name;
  SessionKind kind;
  std::string bytes;
  int64_t sinceFirstNs;
  int64_t gapNs;
  const char* expectedTail;  // the row after its time of day
};

class CsvRowTest : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvRowTest, WritesTheRunAsOneRow) {
  const CsvCase& c = GetParam();
  SessionStore::Run run{c.kind, SessionEvent::kNone, 5'000'000'000 + c.sinceFirstNs,
                        1'700'000'000'123, Bytes(c.bytes.begin(), c.bytes.end())};
  std::string row;
  AppendCsvRow(run, 5'000'000'000, c.gapNs, LogLabels{"A\u2192", "B\u2192"}, row);
  ASSERT_EQ(row.substr(19, 5), ".123,") << row;
  EXPECT_EQ(row.substr(24), c.expectedTail);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CsvRowTest,
    ::testing::Values(CsvCase{"Plain", SessionKind::kReceived, "AB", 0, -1,
                              "0.000000,A\u2192,,2,41 42,\"AB\"\n"},
                      CsvCase{"ChangeOfDirection", SessionKind::kSent, "ok\r\n", 1'234'567'891,
                              4'567'000, "1.234567,B\u2192,4.567,4,6F 6B 0D 0A,\"ok\\x0D\\x0A\"\n"},
                      CsvCase{"QuotesAndBackslash", SessionKind::kReceived, "a\"b\\", 10'000, -1,
                              "0.000010,A\u2192,,4,61 22 62 5C,\"a\"\"b\\\\\"\n"},
                      CsvCase{"Event", SessionKind::kEvent, "B: away", 2'000'000'000, -1,
                              "2.000000,event,,0,,\"B: away\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
