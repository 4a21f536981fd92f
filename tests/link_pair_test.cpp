// Two ports as one link, on pseudo-terminals: the monitor keeps what both
// sides read in one timeline, in order, and writes nothing; the bridge
// forwards each way byte for byte (a Modbus client and server of pymodbus
// talking through it), holds back no more than its bound for a slow side and
// says what it did not forward, waits for a side that was unplugged, and
// answers by the rules of each direction on the side that spoke.
#include "pairing/link_pair.h"

#include <poll.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "history/session_save.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/script_peer.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using testing::PtyDevice;
using testing::RecordingWindow;

constexpr LineParameters k115200{115200, 8, kOneStopBit, kParityNone};

Bytes B(const std::string& text) {
  return {text.begin(), text.end()};
}

Bytes operator+(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

PairEnd EndAt(const std::string& path, const LineParameters& line = k115200) {
  return {PortTarget::Device(path), line};
}

// Serves both sides as the window's event loop does, until `done` holds.
bool Pump(LinkPair& pair, const std::function<bool()>& done, std::chrono::seconds limit = 10s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd wake[2] = {{pair.WakeDescriptor(PairSide::kA), POLLIN, 0},
                      {pair.WakeDescriptor(PairSide::kB), POLLIN, 0}};
    if (::poll(wake, 2, 20) > 0) {
      if (wake[0].revents) pair.Service(PairSide::kA);
      if (wake[1].revents) pair.Service(PairSide::kB);
    }
  }
  return true;
}

// What the timeline kept of one direction, and its notes and events in order.
struct Kept {
  Bytes a, b;
  std::vector<std::string> events;
};

Kept KeptOf(const SessionStore& store) {
  Kept kept;
  store.ForEachRun([&](const SessionStore::Run& run) {
    if (run.kind == SessionKind::kEvent) {
      kept.events.emplace_back(run.bytes.begin(), run.bytes.end());
    } else {
      Bytes& side = run.kind == SessionKind::kReceived ? kept.a : kept.b;
      side.insert(side.end(), run.bytes.begin(), run.bytes.end());
    }
    return true;
  });
  return kept;
}

bool HasEvent(const SessionStore& store, const std::string& part) {
  for (const std::string& event : KeptOf(store).events) {
    if (event.find(part) != std::string::npos) return true;
  }
  return false;
}

uint64_t Rx(LinkPair& pair, PairSide side) {
  return pair.Status(side).counters.rxCount;
}

TEST(LinkPairTest, MonitorKeepsBothDirectionsInReadOrderAndWritesNothing) {
  PtyDevice a, b;
  LinkPair pair;
  pair.Start(PairMode::kMonitor, EndAt(a.Path()), EndAt(b.Path()));
  ASSERT_TRUE(pair.Status(PairSide::kA).link.open);
  ASSERT_TRUE(pair.Status(PairSide::kB).link.open);
  // A host asks on one direction, the device answers on the other, each
  // seen before the next is said.
  constexpr int kExchanges = 12;
  uint64_t aRead = 0, bRead = 0;
  for (int i = 0; i < kExchanges; ++i) {
    std::string ask = "ask " + std::to_string(i) + "\r\n";
    std::string answer = "answer " + std::to_string(i) + "\r\n";
    a.Send(ask);
    aRead += ask.size();
    ASSERT_TRUE(RecordingWindow::WaitFor([&] { return Rx(pair, PairSide::kA) == aRead; }));
    b.Send(answer);
    bRead += answer.size();
    ASSERT_TRUE(RecordingWindow::WaitFor([&] { return Rx(pair, PairSide::kB) == bRead; }));
  }
  pair.Stop();
  EXPECT_TRUE(a.Drain().empty()) << "a monitor writes nothing to A";
  EXPECT_TRUE(b.Drain().empty()) << "nor to B";
  EXPECT_EQ(pair.Status(PairSide::kA).counters.txCount, 0u);
  EXPECT_EQ(pair.Status(PairSide::kB).counters.txCount, 0u);

  // The saved timeline: one row per read, the two sides taking turns.
  testing::TempDir dir;
  std::string error;
  ASSERT_TRUE(SaveSessionCsv(pair.Store(), (dir / "link.csv").string(), kPairLabels, error))
      << error;
  std::istringstream csv(testing::ReadAll(dir / "link.csv"));
  std::string row;
  std::getline(csv, row);
  EXPECT_EQ(row, "time,seconds,direction,gap_ms,length,hex,text");
  std::string said;
  std::string lastDirection;
  double lastSeconds = -1;
  int changes = 0;
  while (std::getline(csv, row)) {
    std::vector<std::string> fields;
    std::istringstream cells(row);
    for (std::string cell; fields.size() < 6 && std::getline(cells, cell, ',');) {
      fields.push_back(cell);
    }
    ASSERT_EQ(fields.size(), 6u) << row;
    double seconds = std::stod(fields[1]);
    EXPECT_GE(seconds, lastSeconds) << "read order is time order: " << row;
    lastSeconds = seconds;
    if (fields[2] == "event") continue;
    std::string text = row.substr(row.find(",\"") + 2);
    text = text.substr(0, text.size() - 1);
    bool change = !lastDirection.empty() && fields[2] != lastDirection;
    EXPECT_EQ(!fields[3].empty(), change) << "the gap is on each change of direction: " << row;
    if (change) ++changes;
    if (lastDirection != fields[2]) said += "|" + fields[2];
    said += text;
    lastDirection = fields[2];
  }
  std::string expected;
  for (int i = 0; i < kExchanges; ++i) {
    expected += "|A\u2192ask " + std::to_string(i) + "\\x0D\\x0A";
    expected += "|B\u2192answer " + std::to_string(i) + "\\x0D\\x0A";
  }
  EXPECT_EQ(said, expected);
  EXPECT_EQ(changes, 2 * kExchanges - 1);
  EXPECT_TRUE(HasEvent(pair.Store(), "Monitor started: A " + a.Path()));
  EXPECT_TRUE(HasEvent(pair.Store(), "Monitor stopped"));
}

// Both workers keep at once: each side's bytes stay whole and in order, and
// the stamps of the one timeline never go back, steady or wall.
TEST(LinkPairTest, TwoReadersKeepingAtOnceNeverStampBackwards) {
  PtyDevice a, b;
  LinkPair pair;
  pair.Start(PairMode::kMonitor, EndAt(a.Path()), EndAt(b.Path()));
  Bytes aStream = testing::SeededBytes(300'000, 11);
  Bytes bStream = testing::SeededBytes(300'000, 12);
  auto feed = [](PtyDevice& device, const Bytes& stream) {
    for (size_t at = 0; at < stream.size(); at += 997) {
      size_t n = std::min<size_t>(997, stream.size() - at);
      device.Send(Bytes(stream.begin() + at, stream.begin() + at + n));
    }
  };
  std::thread feedA([&] { feed(a, aStream); });
  feed(b, bStream);
  feedA.join();
  ASSERT_TRUE(RecordingWindow::WaitFor([&] {
    return Rx(pair, PairSide::kA) == aStream.size() && Rx(pair, PairSide::kB) == bStream.size();
  }));
  Kept kept = KeptOf(pair.Store());
  EXPECT_TRUE(kept.a == aStream) << "A's bytes whole and in order";
  EXPECT_TRUE(kept.b == bStream) << "B's bytes whole and in order";
  int64_t lastMono = INT64_MIN, lastWall = INT64_MIN;
  int backwards = 0;
  pair.Store().ForEachRun([&](const SessionStore::Run& run) {
    if (run.monoNs < lastMono || run.wallMs < lastWall) ++backwards;
    lastMono = run.monoNs;
    lastWall = run.wallMs;
    return true;
  });
  EXPECT_EQ(backwards, 0);
}

TEST(LinkPairTest, BridgeForwardsEachWayByteForByteAndCountsIt) {
  PtyDevice a, b;
  LinkPair pair;
  // A rate converter: each side at its own rate.
  pair.Start(PairMode::kBridge, EndAt(a.Path(), {9600, 8, kOneStopBit, kParityEven}),
             EndAt(b.Path(), {921600, 8, kOneStopBit, kParityNone}));
  EXPECT_EQ(b.Line().outputSpeed, 921600u);
  EXPECT_EQ(a.Line().outputSpeed, 9600u);
  Bytes toB = testing::SeededBytes(200'000, 3);
  Bytes toA = testing::SeededBytes(150'000, 4);
  std::thread sendA([&] { a.Send(toB); });
  b.Send(toA);
  sendA.join();
  EXPECT_EQ(b.Receive(toB.size(), 10s), toB);
  EXPECT_EQ(a.Receive(toA.size(), 10s), toA);
  ASSERT_TRUE(RecordingWindow::WaitFor([&] {
    return pair.Status(PairSide::kA).forwarded.forwarded == toB.size() &&
           pair.Status(PairSide::kB).forwarded.forwarded == toA.size();
  }));
  PairSideStatus sideA = pair.Status(PairSide::kA);
  EXPECT_EQ(sideA.forwarded.dropped, 0u);
  EXPECT_EQ(sideA.counters.rxCount, toB.size());
  EXPECT_EQ(sideA.counters.txCount, toA.size()) << "what A's line took is B's read";
  pair.Stop();
  Kept kept = KeptOf(pair.Store());
  EXPECT_TRUE(kept.a == toB);
  EXPECT_TRUE(kept.b == toA);
  EXPECT_TRUE(HasEvent(pair.Store(),
                       "Bridge stopped; A\u2192 200000 bytes forwarded, 0 not, "
                       "B\u2192 150000 bytes forwarded, 0 not"));
  EXPECT_FALSE(pair.Status(PairSide::kA).link.open);
}

// Answer rules on a bridge: what A read is answered on A by A's rules, what B
// read on B by B's, each still forwarded whole; the first port's rules stay
// out; a monitor answers nothing.
TEST(LinkPairTest, RulesOfEachDirectionAnswerOnTheSideThatSpoke) {
  AnswerRules rules{true, FrameBy::kBurst, {}};
  auto add = [&](RuleLine line, const std::string& pattern, const std::string& answer) {
    AnswerRule rule;
    rule.line = line;
    rule.pattern = pattern;
    rule.content = answer;
    rules.rules.push_back(rule);
  };
  add(RuleLine::kPort, "ping", "port answer");
  add(RuleLine::kA, "ping", "A answer");
  add(RuleLine::kB, "pong", "B answer");
  const Bytes ping = B("ping\r\n"), pong = B("pong\r\n");
  for (PairMode mode : {PairMode::kBridge, PairMode::kMonitor}) {
    SCOPED_TRACE(PairModeName(mode));
    bool bridge = mode == PairMode::kBridge;
    PtyDevice a, b;
    LinkPair pair;
    pair.SetAnswerRules(PairSide::kA, AnswerRuleTable::Build(rules, {}, nullptr, RuleLine::kA));
    pair.SetAnswerRules(PairSide::kB, AnswerRuleTable::Build(rules, {}, nullptr, RuleLine::kB));
    pair.Start(mode, EndAt(a.Path()), EndAt(b.Path()));
    // Who speaks, what it says, and what each side hears on a bridge: the
    // speaker its answer, the other side what was read.
    const struct {
      PtyDevice& speaker;
      PairSide side;
      Bytes said, toA, toB;
    } kTurns[] = {{a, PairSide::kA, ping, B("A answer"), ping},
                  {b, PairSide::kB, pong, pong, B("B answer")},
                  {b, PairSide::kB, ping, ping, {}}};  // only the first port's rule matches
    uint64_t read[2] = {0, 0};
    for (const auto& turn : kTurns) {
      turn.speaker.Send(turn.said);
      uint64_t& total = read[static_cast<size_t>(turn.side)];
      total += turn.said.size();
      ASSERT_TRUE(RecordingWindow::WaitFor([&] { return Rx(pair, turn.side) == total; }));
      if (!bridge) continue;
      EXPECT_EQ(a.Receive(turn.toA.size()), turn.toA);
      EXPECT_EQ(b.Receive(turn.toB.size()), turn.toB);
    }
    pair.Stop();
    EXPECT_TRUE(a.Drain().empty()) << "nothing more on A";
    EXPECT_TRUE(b.Drain().empty()) << "nothing more on B";
    EXPECT_EQ(HasEvent(pair.Store(), "rule 2 answered on A: 8 bytes"), bridge);
    EXPECT_EQ(HasEvent(pair.Store(), "rule 3 answered on B: 8 bytes"), bridge);
    EXPECT_FALSE(HasEvent(pair.Store(), "rule 1")) << "the first port's rule stays out";
    Kept kept = KeptOf(pair.Store());
    EXPECT_EQ(kept.a, ping) << "the timeline holds what each side read";
    EXPECT_EQ(kept.b, pong + ping);
  }
}

// A side that reads nothing holds the bridge back by no more than its bound:
// the rest is counted as not forwarded, said once, and kept in the history.
TEST(LinkPairTest, ASlowSideHoldsBackNoMoreThanTheBoundAndTheRestIsCounted) {
  constexpr size_t kBound = 64 * 1024;
  PtyDevice a, b;
  LinkPair pair(KernelModemControl(), kBound);
  pair.Start(PairMode::kBridge, EndAt(a.Path()), EndAt(b.Path()));
  Bytes flood = testing::SeededBytes(1 << 20, 8);
  a.Send(flood);  // B's device does not read meanwhile
  ASSERT_TRUE(RecordingWindow::WaitFor([&] { return Rx(pair, PairSide::kA) == flood.size(); }));
  ForwardCounts held = pair.Status(PairSide::kA).forwarded;
  EXPECT_LE(held.waiting, kBound);
  EXPECT_GT(held.dropped, 0u);
  EXPECT_EQ(held.forwarded + held.dropped + held.waiting, flood.size())
      << "every byte read is forwarded, waiting or counted";
  EXPECT_TRUE(HasEvent(pair.Store(), "A\u2192 not forwarded: B takes bytes more slowly"));

  // B reads again: what waited goes out, and nothing more is lost.
  Bytes got = b.Drain(300ms);
  ASSERT_TRUE(
      RecordingWindow::WaitFor([&] { return pair.Status(PairSide::kA).forwarded.waiting == 0; }));
  Bytes rest = b.Drain(100ms);
  got.insert(got.end(), rest.begin(), rest.end());
  ForwardCounts after = pair.Status(PairSide::kA).forwarded;
  EXPECT_EQ(got.size(), after.forwarded);
  EXPECT_EQ(after.forwarded + after.dropped, flood.size());
  a.Send("after");
  EXPECT_EQ(b.Receive(5), B("after"));
  // Each note that forwarding goes on counts what was dropped since the last.
  uint64_t told = 0;
  const std::string again = "A\u2192 forwarded again; ";
  for (const std::string& event : KeptOf(pair.Store()).events) {
    if (event.rfind(again, 0) == 0) told += std::stoull(event.substr(again.size()));
  }
  EXPECT_EQ(told, after.dropped);
  // Forwarded before it is kept: the history may take a moment longer.
  EXPECT_TRUE(RecordingWindow::WaitFor([&] {
    return KeptOf(pair.Store()).a.size() == flood.size() + 5;
  })) << "the history has every read";
}

// B reached through a symbolic link: removed to unplug it, made again to a
// new pseudo-terminal to plug it back.
TEST(LinkPairTest, ASideUnpluggedIsWaitedForAndWhatCameMeanwhileIsKept) {
  testing::TempDir dir;
  std::filesystem::path bLink = dir / "ttyUSB1";
  PtyDevice a;
  auto b = std::make_unique<PtyDevice>();
  std::filesystem::create_symlink(b->Path(), bLink);
  LinkPair pair;
  pair.Start(PairMode::kBridge, EndAt(a.Path()), EndAt(bLink.string()));
  a.Send("one");
  EXPECT_EQ(b->Receive(3), B("one"));

  std::filesystem::remove(bLink);
  b->Hangup();
  ASSERT_TRUE(Pump(pair, [&] { return pair.Session(PairSide::kB).Waiting(); }));
  EXPECT_TRUE(pair.Status(PairSide::kB).link.waiting);
  EXPECT_EQ(pair.Status(PairSide::kB).path, bLink.string());
  a.Send("lost");
  ASSERT_TRUE(RecordingWindow::WaitFor([&] { return Rx(pair, PairSide::kA) == 7; }));
  EXPECT_EQ(pair.Status(PairSide::kA).forwarded.dropped, 4u);
  EXPECT_TRUE(HasEvent(pair.Store(), "B: " + bLink.string()));
  EXPECT_TRUE(HasEvent(pair.Store(), "A\u2192 not forwarded: B is not open"));

  b = std::make_unique<PtyDevice>();
  std::filesystem::create_symlink(b->Path(), bLink);
  ASSERT_TRUE(Pump(pair, [&] { return pair.Session(PairSide::kB).Port().IsOpen(); }));
  a.Send("two");
  EXPECT_EQ(b->Receive(3), B("two"));
  b->Send("back");
  EXPECT_EQ(a.Receive(4), B("back"));
  EXPECT_EQ(KeptOf(pair.Store()).a, B("onelosttwo")) << "nothing read is lost";
  EXPECT_TRUE(HasEvent(pair.Store(), "forwarded again; 4 bytes were not forwarded"));
}

// A pymodbus client and server, each on a line of its own, talk through the
// bridge: every request reaches the server and every answer the client.
TEST(LinkPairTest, ModbusClientAndServerTalkThroughTheBridge) {
  constexpr int kRequests = 40;
  testing::ScriptPeer peers(testing::ModbusPeerScript(), {"bridge", std::to_string(kRequests)});
  std::string paths = peers.Line();
  if (paths.rfind("SKIP", 0) == 0) GTEST_SKIP() << paths;
  std::istringstream words(paths);
  std::string clientSide, serverSide;
  words >> clientSide >> serverSide;
  ASSERT_FALSE(serverSide.empty()) << "the peers did not start: \"" << paths << "\"";
  LinkPair pair;
  LineParameters line{9600, 8, kOneStopBit, kParityNone};
  pair.Start(PairMode::kBridge, EndAt(clientSide, line), EndAt(serverSide, line));
  peers.Go();
  std::string said;
  while ((said = peers.Line(60s)).rfind("missed", 0) == 0) ADD_FAILURE() << said;
  EXPECT_EQ(said, "answered " + std::to_string(kRequests) + " of " + std::to_string(kRequests));
  pair.Stop();
  PairSideStatus client = pair.Status(PairSide::kA);
  PairSideStatus server = pair.Status(PairSide::kB);
  // Read holding registers: 8 bytes asked, 7 answered, each request.
  EXPECT_EQ(client.counters.rxCount, 8u * kRequests);
  EXPECT_EQ(server.counters.rxCount, 7u * kRequests);
  EXPECT_EQ(client.forwarded.dropped + server.forwarded.dropped, 0u);
}

}  // namespace
}  // namespace quorvel
