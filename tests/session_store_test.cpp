// The session store: what the line carried comes out byte for byte, in
// lines as each display splits them, stamped in order; the history limit
// drops the oldest lines a slice at a time; finding goes across chunks and
// round the end; a re-split gives the lines a fresh store would.
#include "history/session_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>

#include "history/line_number_runs.h"
#include "history/session_chunks.h"
#include "history/session_pool.h"
#include "support/seeded_bytes.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kMs = 1'000'000;

struct RunSpec {
  SessionKind kind;
  int64_t monoNs;
  Bytes bytes;
};

// A seeded stream cut into runs of 1 to 3000 bytes, with direction changes,
// events, quiet gaps and bytes rich in CR, LF and the frame-end byte 0x7E.
std::vector<RunSpec> SeededRuns(size_t total, unsigned seed) {
  Bytes stream = testing::SeededBytes(total, seed);
  std::mt19937 random(seed);
  for (uint8_t& byte : stream) {
    unsigned pick = random() % 64;
    if (pick == 0) byte = '\r';
    if (pick == 1) byte = '\n';
    if (pick == 2) byte = 0x7E;
  }
  std::vector<RunSpec> runs;
  int64_t now = 1000 * kMs;
  for (size_t at = 0; at < stream.size();) {
    size_t length = std::min<size_t>(1 + random() % 3000, stream.size() - at);
    now += static_cast<int64_t>(random() % 4 == 0 ? 100 : random() % 20) * kMs;
    SessionKind kind = random() % 5 == 0 ? SessionKind::kSent : SessionKind::kReceived;
    if (random() % 40 == 0) runs.push_back({SessionKind::kEvent, now, Bytes{'e', 'v'}});
    runs.push_back({kind, now, Bytes(stream.begin() + at, stream.begin() + at + length)});
    at += length;
  }
  return runs;
}

void Feed(SessionStore& store, const std::vector<RunSpec>& runs) {
  for (const RunSpec& run : runs) {
    SessionEvent event =
        run.kind == SessionKind::kEvent ? SessionEvent::kBreakSent : SessionEvent::kNone;
    store.AppendAt(run.kind, event, run.bytes.data(), run.bytes.size(), run.monoNs, 0);
  }
}

std::vector<SessionLine> AllLines(const SessionStore& store, SessionDisplay display) {
  SessionCounts counts = store.Counts(display);
  std::vector<SessionLine> lines(static_cast<size_t>(counts.endLine - counts.firstLine));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(store.Line(display, counts.firstLine + i, lines[i]));
  }
  return lines;
}

bool IsLineEnd(uint8_t byte) {
  return byte == '\r' || byte == '\n';
}

struct SplitCase {
  const char* name;
  SessionSplit split;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
  *out << c.name;
}

class SeededStreamTest : public ::testing::TestWithParam<SplitCase> {};

// Whatever the split, each display gives back every byte of each direction,
// stamps never go back, and each line ends where a rule says it may.
TEST_P(SeededStreamTest, LinesHoldEveryByteInOrderAndEndOnlyWhereTheRulesSay) {
  const SessionSplit split = GetParam().split;
  std::vector<RunSpec> runs = SeededRuns(3'000'000, 19);
  SessionStore store;
  store.SetSplit(split);
  Feed(store, runs);

  std::vector<uint64_t> runStarts;
  uint64_t offset = 0;
  Bytes expected[3];
  for (const RunSpec& run : runs) {
    runStarts.push_back(offset);
    offset += run.bytes.size();
    auto& out = expected[static_cast<int>(run.kind)];
    out.insert(out.end(), run.bytes.begin(), run.bytes.end());
  }

  for (SessionDisplay display : {SessionDisplay::kText, SessionDisplay::kHex}) {
    SCOPED_TRACE(display == SessionDisplay::kText ? "text" : "hex");
    std::vector<SessionLine> lines = AllLines(store, display);
    Bytes got[3];
    for (size_t i = 0; i < lines.size(); ++i) {
      const SessionLine& line = lines[i];
      auto& out = got[static_cast<int>(line.kind)];
      out.insert(out.end(), line.bytes.begin(), line.bytes.end());
      ASSERT_FALSE(line.bytes.empty());
      ASSERT_LE(line.bytes.size(), kSessionMaxLineBytes + 1);
      if (i > 0) {
        ASSERT_GE(line.monoNs, lines[i - 1].monoNs);
      }
      if (i + 1 == lines.size() || line.kind == SessionKind::kEvent) continue;
      const SessionLine& next = lines[i + 1];
      size_t n = line.bytes.size();
      // Only the line's end may end it: no line end, no frame end inside.
      for (size_t k = 0; k + 1 < n; ++k) {
        if (display == SessionDisplay::kText) {
          bool crlf = k + 2 == n && line.bytes[k] == '\r' && line.bytes[k + 1] == '\n';
          ASSERT_TRUE(!IsLineEnd(line.bytes[k]) || crlf) << "line " << i << " byte " << k;
        } else {
          ASSERT_NE(line.bytes[k], split.frameEndByte) << "line " << i << " byte " << k;
        }
      }
      bool endedByByte = display == SessionDisplay::kText ? IsLineEnd(line.bytes.back())
                                                          : line.bytes.back() == split.frameEndByte;
      if (endedByByte || line.continued) continue;
      // Otherwise a new run began the next line, for a reason.
      auto run = std::lower_bound(runStarts.begin(), runStarts.end(), next.offset);
      ASSERT_TRUE(run != runStarts.end() && *run == next.offset) << "line " << i;
      int64_t gapNs = next.monoNs - runs[static_cast<size_t>(run - runStarts.begin()) - 1].monoNs;
      int silenceMs = display == SessionDisplay::kText ? split.textSilenceMs : split.hexSilenceMs;
      bool quiet = silenceMs > 0 && gapNs >= int64_t{silenceMs} * kMs;
      bool burst = display == SessionDisplay::kHex && silenceMs == 0;
      ASSERT_TRUE(next.kind != line.kind || quiet || burst) << "line " << i;
    }
    for (int kind = 0; kind < 3; ++kind) EXPECT_TRUE(got[kind] == expected[kind]) << kind;
  }
}

INSTANTIATE_TEST_SUITE_P(Splits, SeededStreamTest,
                         ::testing::Values(SplitCase{"Plain", {}},
                                           SplitCase{"Silence", {50, 50, -1}},
                                           SplitCase{"FrameEnd", {0, 0, 0x7E}},
                                           SplitCase{"FrameEndAndSilence", {30, 30, 0x7E}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Piece {
  SessionKind kind;
  int gapMs;
  std::string bytes;
};
struct BreakCase {
  const char* name;
  SessionDisplay display;
  SessionSplit split;
  std::vector<Piece> pieces;
  std::vector<std::string> lines;  // "R:" received, "T:" sent, "E:" event
};

void PrintTo(const BreakCase& c, std::ostream* out) {
  *out << c.name;
}

class LineBreakTest : public ::testing::TestWithParam<BreakCase> {};

TEST_P(LineBreakTest, SplitsAsTheDisplayShowsIt) {
  const BreakCase& c = GetParam();
  SessionStore store;
  store.SetSplit(c.split);
  int64_t now = 0;
  for (const Piece& piece : c.pieces) {
    now += piece.gapMs * kMs;
    auto bytes = reinterpret_cast<const uint8_t*>(piece.bytes.data());
    SessionEvent event =
        piece.kind == SessionKind::kEvent ? SessionEvent::kLinkClosed : SessionEvent::kNone;
    store.AppendAt(piece.kind, event, bytes, piece.bytes.size(), now, 0);
  }
  std::vector<std::string> got;
  for (const SessionLine& line : AllLines(store, c.display)) {
    const char* mark = line.kind == SessionKind::kReceived ? "R:"
                       : line.kind == SessionKind::kSent   ? "T:"
                                                           : "E:";
    got.push_back(mark + std::string(line.bytes.begin(), line.bytes.end()));
  }
  EXPECT_EQ(got, c.lines);
}

constexpr auto R = SessionKind::kReceived;
constexpr auto T = SessionKind::kSent;
constexpr auto E = SessionKind::kEvent;
constexpr auto kTextShown = SessionDisplay::kText;
constexpr auto kHexShown = SessionDisplay::kHex;

INSTANTIATE_TEST_SUITE_P(
    Cases, LineBreakTest,
    ::testing::Values(
        BreakCase{"CrLfCrAndLf",
                  kTextShown,
                  {},
                  {{R, 0, "ab\r\ncd\ref\n\rg"}},
                  {"R:ab\r\n", "R:cd\r", "R:ef\n", "R:\r", "R:g"}},
        BreakCase{"CrLfAcrossReads",
                  kTextShown,
                  {},
                  {{R, 0, "ab\r"}, {R, 1, "\ncd"}},
                  {"R:ab\r\n", "R:cd"}},
        BreakCase{"DirectionChangeEndsALine",
                  kTextShown,
                  {},
                  {{R, 0, "ab"}, {T, 0, "cd"}, {R, 0, "ef\n"}},
                  {"R:ab", "T:cd", "R:ef\n"}},
        BreakCase{"CrThenSentLfIsTwoLines",
                  kTextShown,
                  {},
                  {{R, 0, "ab\r"}, {T, 0, "\n"}},
                  {"R:ab\r", "T:\n"}},
        BreakCase{
            "ReadsJoinWithoutSilence", kTextShown, {}, {{R, 0, "ab"}, {R, 500, "cd"}}, {"R:abcd"}},
        BreakCase{"SilenceEndsATextLine",
                  kTextShown,
                  {50, 0, -1},
                  {{R, 0, "ab"}, {R, 60, "cd"}, {R, 10, "e"}},
                  {"R:ab", "R:cde"}},
        BreakCase{"EventIsALineOfItsOwn",
                  kTextShown,
                  {},
                  {{R, 0, "ab"}, {E, 0, "Link closed"}, {R, 0, "cd"}},
                  {"R:ab", "E:Link closed", "R:cd"}},
        BreakCase{"EachBurstIsAFrame",
                  kHexShown,
                  {},
                  {{R, 0, "ab"}, {R, 1, "cd"}, {T, 0, "x"}},
                  {"R:ab", "R:cd", "T:x"}},
        BreakCase{"HexKeepsLineEndsInside", kHexShown, {}, {{R, 0, "a\r\nb"}}, {"R:a\r\nb"}},
        BreakCase{"FramesGatherUntilSilence",
                  kHexShown,
                  {0, 50, -1},
                  {{R, 0, "ab"}, {R, 10, "cd"}, {R, 60, "ef"}},
                  {"R:abcd", "R:ef"}},
        BreakCase{"FrameEndByteEndsAFrame",
                  kHexShown,
                  {0, 50, '\r'},
                  {{R, 0, "a\rb"}, {R, 10, "c\r"}, {R, 10, "d"}},
                  {"R:a\r", "R:bc\r", "R:d"}}),
    [](const auto& info) { return std::string(info.param.name); });

// With sent bytes hidden the view counts only the other lines; the lines
// themselves stay as they are.
TEST(SessionStoreTest, SentLinesCanBeLeftOut) {
  SessionStore store;
  auto add = [&](SessionKind kind, const std::string& text, int64_t ms) {
    store.AppendAt(kind,
                   kind == SessionKind::kEvent ? SessionEvent::kBreakSent : SessionEvent::kNone,
                   reinterpret_cast<const uint8_t*>(text.data()), text.size(), ms * kMs, 0);
  };
  add(SessionKind::kReceived, "a\n", 0);
  add(SessionKind::kSent, "query\n", 10);
  add(SessionKind::kReceived, "b\n", 30);
  add(SessionKind::kEvent, "Break", 40);
  add(SessionKind::kSent, "x", 50);
  SessionCounts counts = store.Counts(SessionDisplay::kText, false);
  EXPECT_EQ(counts.endLine - counts.firstLine, 3u);
  std::vector<std::string> shown;
  SessionLine line;
  for (uint64_t i = counts.firstLine; i < counts.endLine; ++i) {
    ASSERT_TRUE(store.Line(SessionDisplay::kText, i, line, false));
    shown.push_back(std::string(line.bytes.begin(), line.bytes.end()));
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"a\n", "b\n", "Break"}));
  ASSERT_TRUE(store.Line(SessionDisplay::kText, 1, line, false));
  EXPECT_EQ(line.sincePreviousNs, 30 * kMs) << "from the line shown before it";
  EXPECT_EQ(store.LineAt(SessionDisplay::kText, 3, false), 1u) << "a sent line gives the next";
  EXPECT_EQ(store.LineAt(SessionDisplay::kText, 16, false), 2u) << "none after: the last";
  EXPECT_EQ(store.LineAt(SessionDisplay::kText, 3, true), 1u);
}

TEST(SessionStoreTest, LongLineIsCutAndMarkedContinued) {
  SessionStore store;
  Bytes bytes(kSessionMaxLineBytes * 2 + 5, 'x');
  store.AppendAt(SessionKind::kReceived, SessionEvent::kNone, bytes.data(), bytes.size(), 0, 0);
  std::vector<SessionLine> lines = AllLines(store, SessionDisplay::kText);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].continued);
  EXPECT_TRUE(lines[1].continued);
  EXPECT_FALSE(lines[2].continued);
  EXPECT_EQ(lines[2].bytes.size(), 5u);
}

TEST(SessionStoreTest, StampsNeverGoBackAndCountFromTheLinkOpening) {
  SessionStore store;
  auto add = [&](SessionKind kind, SessionEvent event, const char* text, int64_t ms) {
    store.AppendAt(kind, event, reinterpret_cast<const uint8_t*>(text), std::strlen(text), ms * kMs,
                   5000 + ms);
  };
  add(SessionKind::kReceived, SessionEvent::kNone, "a\n", 100);
  add(SessionKind::kEvent, SessionEvent::kLinkOpened, "opened", 200);
  add(SessionKind::kReceived, SessionEvent::kNone, "b\n", 150);  // a clock that went back
  add(SessionKind::kSent, SessionEvent::kNone, "c", 260);
  std::vector<SessionLine> lines = AllLines(store, SessionDisplay::kText);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2].monoNs, 200 * kMs);
  EXPECT_EQ(lines[2].sinceOpenNs, 0);
  EXPECT_EQ(lines[3].sinceOpenNs, 60 * kMs);
  EXPECT_EQ(lines[3].sincePreviousNs, 60 * kMs);
  EXPECT_EQ(lines[0].sinceOpenNs, 0) << "before any opening: from the first byte";
  EXPECT_EQ(lines[3].wallMs, 5260);
  EXPECT_EQ(lines[2].wallMs, 5200) << "held at the last run's moment, as its steady stamp is";
  EXPECT_EQ(lines[1].event, SessionEvent::kLinkOpened);
}

// The gap since the other direction last spoke is on the first line of each
// change of direction, across events, and on no other line.
TEST(SessionStoreTest, AChangeOfDirectionCarriesTheGapSinceTheOtherSide) {
  SessionStore store;
  auto add = [&](SessionKind kind, const char* text, int64_t ms) {
    SessionEvent event =
        kind == SessionKind::kEvent ? SessionEvent::kDeviceAway : SessionEvent::kNone;
    store.AppendAt(kind, event, reinterpret_cast<const uint8_t*>(text), std::strlen(text), ms * kMs,
                   ms);
  };
  add(SessionKind::kReceived, "ask\n", 100);
  add(SessionKind::kReceived, "more\n", 104);
  add(SessionKind::kSent, "ans", 112);
  add(SessionKind::kSent, "wer\n", 115);
  add(SessionKind::kEvent, "away", 300);
  add(SessionKind::kReceived, "again\n", 320);
  std::vector<SessionLine> lines = AllLines(store, SessionDisplay::kText);
  ASSERT_EQ(lines.size(), 5u);
  const int64_t expected[] = {-1, -1, 8 * kMs, -1, 205 * kMs};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].sinceOtherNs, expected[i]) << "line " << i;
  }
}

TEST(SessionStoreTest, HistoryLimitDropsTheOldestLinesASliceAtATime) {
  constexpr uint64_t kLimit = kSessionLimitMin;
  SessionStore store(kLimit);
  Bytes stream = testing::SeededBytes(6 * kLimit, 7);
  for (size_t i = 0; i < stream.size(); ++i) {
    if (stream[i] == '\n' || stream[i] == '\r') stream[i] = ' ';
    if (i % 80 == 79) stream[i] = '\n';
  }
  uint64_t lastDropped = 0;
  int drops = 0;
  for (size_t at = 0; at < stream.size(); at += 1000) {
    size_t n = std::min<size_t>(1000, stream.size() - at);
    store.AppendAt(SessionKind::kReceived, SessionEvent::kNone, stream.data() + at, n,
                   static_cast<int64_t>(at), 0);
    SessionCounts counts = store.Counts(SessionDisplay::kText);
    ASSERT_LE(counts.keptBytes + counts.indexBytes, kLimit);
    ASSERT_EQ(counts.keptBytes + counts.droppedBytes, at + n);
    if (counts.droppedBytes != lastDropped) {
      ++drops;
      ASSERT_LT(counts.droppedBytes - lastDropped, kLimit / 8) << "a slice, not the history";
      ASSERT_GT(counts.keptBytes, kLimit / 2);
      lastDropped = counts.droppedBytes;
    }
  }
  EXPECT_GT(drops, 10);
  // What is kept is the stream's tail, starting at a line's start.
  SessionCounts counts = store.Counts(SessionDisplay::kText);
  EXPECT_EQ(stream[counts.droppedBytes - 1], '\n');
  Bytes kept;
  for (const SessionLine& line : AllLines(store, SessionDisplay::kText)) {
    kept.insert(kept.end(), line.bytes.begin(), line.bytes.end());
  }
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), stream.end() - kept.size(), stream.end()));
  EXPECT_EQ(kept.size(), counts.keptBytes);
  EXPECT_EQ(counts.firstLine, counts.droppedLines);
  EXPECT_EQ(counts.droppedLines, counts.droppedBytes / 80);
}

TEST(SessionStoreTest, ClearForgetsAllAndRenumbers) {
  SessionStore store;
  store.AppendAt(SessionKind::kReceived, SessionEvent::kNone, Bytes{'a', '\n'}.data(), 2, 0, 0);
  uint64_t generation = store.Counts(SessionDisplay::kText).generation;
  store.Clear();
  SessionCounts counts = store.Counts(SessionDisplay::kText);
  EXPECT_EQ(counts.endLine, 0u);
  EXPECT_EQ(counts.keptBytes, 0u);
  EXPECT_NE(counts.generation, generation);
  SessionLine line;
  EXPECT_FALSE(store.Line(SessionDisplay::kText, 0, line));
}

// A re-split of what is kept gives exactly the lines a store split that way
// from the start has.
TEST(SessionStoreTest, ResplitMatchesAFreshStore) {
  std::vector<RunSpec> runs = SeededRuns(1'000'000, 3);
  const SessionSplit splits[] = {{50, 50, 0x7E}, {0, 30, -1}, {}};
  SessionStore store;
  Feed(store, runs);
  for (const SessionSplit& split : splits) {
    store.SetSplit(split);
    SessionStore fresh;
    fresh.SetSplit(split);
    Feed(fresh, runs);
    for (SessionDisplay display : {SessionDisplay::kText, SessionDisplay::kHex}) {
      std::vector<SessionLine> a = AllLines(store, display);
      std::vector<SessionLine> b = AllLines(fresh, display);
      ASSERT_EQ(a.size(), b.size());
      EXPECT_EQ(store.Counts(display, false).endLine, fresh.Counts(display, false).endLine);
      for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a[i].offset, b[i].offset) << i;
        ASSERT_EQ(a[i].continued, b[i].continued) << i;
      }
    }
  }
}

TEST(SessionStoreTest, ReceivedFramesAreJudgedByTheCheckChosen) {
  SessionStore store;
  store.SetFrameCheck(ChecksumKind::kModbusCrc16);
  Bytes good = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  AppendChecksum(ChecksumKind::kModbusCrc16, good);
  Bytes bad = good;
  bad[2] ^= 1;
  store.AppendAt(SessionKind::kReceived, SessionEvent::kNone, good.data(), good.size(), 0, 0);
  store.AppendAt(SessionKind::kReceived, SessionEvent::kNone, bad.data(), bad.size(), 1, 0);
  store.AppendAt(SessionKind::kSent, SessionEvent::kNone, good.data(), good.size(), 2, 0);
  std::vector<SessionLine> lines = AllLines(store, SessionDisplay::kHex);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].check, FrameCheck::kValid);
  EXPECT_EQ(lines[1].check, FrameCheck::kBad);
  EXPECT_EQ(lines[2].check, FrameCheck::kUnchecked) << "what was sent is not judged";
  EXPECT_EQ(AllLines(store, SessionDisplay::kText)[0].check, FrameCheck::kUnchecked);
}

// The taps go on while the window reads, finds and re-splits: nothing is
// lost or torn (and ThreadSanitizer sees no race).
// The indexes' deques take their nodes from a pool that reuses what a drop
// gives back; a copy has a pool of its own, a moved deque keeps its pool.
TEST(SessionPoolTest, PooledDequeHoldsItsElementsThroughChurnMovesAndCopies) {
  PooledDeque<uint64_t> pooled;
  std::deque<uint64_t> plain;
  for (uint64_t i = 0; i < 200'000; ++i) {
    pooled.push_back(i);
    plain.push_back(i);
    if (i % 3 == 0) {  // the front goes as the history limit drops lines
      pooled.pop_front();
      plain.pop_front();
    }
  }
  ASSERT_TRUE(std::equal(pooled.begin(), pooled.end(), plain.begin(), plain.end()));
  PooledDeque<uint64_t> copy = pooled;
  copy.push_back(7);
  pooled.pop_front();
  plain.pop_front();
  pooled = PooledDeque<uint64_t>(std::move(pooled));
  EXPECT_TRUE(std::equal(pooled.begin(), pooled.end(), plain.begin(), plain.end()));
  EXPECT_EQ(copy.size(), pooled.size() + 2);
  EXPECT_EQ(copy.back(), 7u);
}

// Resident 4 KiB pages of a chunk (mincore), for what a short history costs.
size_t ResidentPages(const SessionChunk& chunk) {
  std::vector<unsigned char> in(kSessionChunkBytes / 4096);
  if (mincore(chunk.get(), kSessionChunkBytes, in.data()) != 0) return 0;
  return static_cast<size_t>(
      std::count_if(in.begin(), in.end(), [](unsigned char c) { return c & 1; }));
}

// The history's first chunk is filled a part at a time as it fills; whatever
// the sizes of the appends, every byte reads back where it was written, in
// that chunk and in the whole ones after it.
TEST(SessionChunksTest, BytesReadBackThroughPartFillsAndIntoWholeChunks) {
  const std::vector<size_t> appendSizes = {1,      100,    4095,      4097,
                                           65'536, 70'000, 1'000'000, 3'000'000};
  for (size_t size : appendSizes) {
    ChunkList list;
    Bytes written;
    uint64_t end = 0;
    std::mt19937 random(static_cast<unsigned>(size));
    while (end < kSessionChunkBytes + 300'000) {
      Bytes part(size);
      for (uint8_t& b : part) b = static_cast<uint8_t>(random());
      list.Append(end, part.data(), part.size());
      written.insert(written.end(), part.begin(), part.end());
      end += part.size();
    }
    Bytes back(written.size());
    list.Copy(0, back.size(), back.data());
    EXPECT_EQ(back, written) << "appends of " << size;
    ChunkView view = list.View(0, end);
    Bytes viewed(written.size());
    view.Copy(0, viewed.size(), viewed.data());
    EXPECT_EQ(viewed, written) << "appends of " << size;
  }
}

// A port opened with the view on writes a few events: that holds a few pages,
// not a chunk's worth; a history begun again after Clear starts small again.
TEST(SessionChunksTest, AShortHistoryHoldsAFewPages) {
  ChunkList list;
  Bytes event(200, 0x41);
  list.Append(0, event.data(), event.size());
  ASSERT_EQ(list.Chunks().size(), 1u);
  EXPECT_LE(ResidentPages(list.Chunks().front()), 16u);
  Bytes more(kSessionChunkBytes, 0x42);
  list.Append(event.size(), more.data(), more.size());
  list.Clear();
  list.Append(0, event.data(), event.size());
  EXPECT_LE(ResidentPages(list.Chunks().front()), 16u);
}

// Runs of consecutive numbers answer as the plain list of them would, as
// numbers come in gaps and single ones and leave from the front.
TEST(SessionPoolTest, LineNumberRunsAnswerAsTheListOfNumbers) {
  std::mt19937 random(5);
  LineNumberRuns runs;
  std::deque<uint64_t> plain;
  uint64_t next = 0;
  for (int step = 0; step < 20'000; ++step) {
    if (random() % 4 != 0 || plain.empty()) {
      next += random() % 3 == 0 ? 1 + random() % 5 : 1;  // a gap now and then
      runs.PushBack(next);
      plain.push_back(next);
    } else {
      for (uint32_t n = random() % 4; n > 0 && !plain.empty(); --n) {
        runs.PopFront();
        plain.pop_front();
      }
    }
    ASSERT_EQ(runs.Size(), plain.size());
    if (plain.empty()) continue;
    size_t index = random() % plain.size();
    ASSERT_EQ(runs.At(index), plain[index]);
    uint64_t probe = plain.front() - std::min<uint64_t>(plain.front(), 2) +
                     random() % (next - plain.front() + 4);
    size_t want =
        static_cast<size_t>(std::lower_bound(plain.begin(), plain.end(), probe) - plain.begin());
    ASSERT_EQ(runs.LowerBound(probe), want) << "probe " << probe;
  }
}

TEST(SessionStoreTest, TapsAndReadersRunTogether) {
  std::vector<RunSpec> runs = SeededRuns(4'000'000, 23);
  SessionStore store;
  std::atomic<bool> done{false};
  std::thread tap([&] {
    for (const RunSpec& run : runs) {
      if (run.kind == SessionKind::kSent) {
        store.Sent(run.bytes.data(), static_cast<int>(run.bytes.size()));
      } else if (run.kind == SessionKind::kReceived) {
        store.Received(run.bytes.data(), static_cast<int>(run.bytes.size()));
      }
    }
    done = true;
  });
  const SessionSplit splits[] = {{}, {20, 20, 0x7E}};
  SessionQuery query{{'\r', '\n', 0x7E}, true};
  SessionLine line;
  for (int round = 0; !done; ++round) {
    SessionCounts counts = store.Counts(SessionDisplay::kHex);
    if (counts.endLine > counts.firstLine)
      store.Line(SessionDisplay::kHex, counts.endLine - 1, line);
    store.Find(SessionDisplay::kText, query, counts.keptBytes / 2, FindWay::kBackward);
    store.SetSplit(splits[round % 2]);
  }
  tap.join();
  store.SetSplit({});
  Bytes expected;
  for (const RunSpec& run : runs) {
    if (run.kind != SessionKind::kEvent)
      expected.insert(expected.end(), run.bytes.begin(), run.bytes.end());
  }
  Bytes got;
  for (const SessionLine& each : AllLines(store, SessionDisplay::kText)) {
    got.insert(got.end(), each.bytes.begin(), each.bytes.end());
  }
  EXPECT_TRUE(got == expected);
}

}  // namespace
}  // namespace quorvel
