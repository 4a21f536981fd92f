// Finding in the session history: the same answers as a plain search over
// the whole stream, for matches inside a chunk, across chunk ends, round the
// end of the history, in either case and either direction.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "history/session_chunks.h"
#include "history/session_store.h"
#include "support/seeded_bytes.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kChunk = kSessionChunkBytes;
constexpr size_t kRunBytes = 1500;

uint8_t Fold(uint8_t c) {
  return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c;
}

// Every start of `pattern` in `stream`: the answer to check against.
std::vector<uint64_t> AllMatches(const Bytes& stream, const Bytes& pattern, bool matchCase) {
  std::vector<uint64_t> starts;
  auto same = [&](uint8_t a, uint8_t b) { return matchCase ? a == b : Fold(a) == Fold(b); };
  for (auto it = stream.begin();;) {
    it = std::search(it, stream.end(), pattern.begin(), pattern.end(), same);
    if (it == stream.end()) return starts;
    starts.push_back(static_cast<uint64_t>(it - stream.begin()));
    ++it;
  }
}

std::optional<uint64_t> Expected(const std::vector<uint64_t>& all, uint64_t from, FindWay way,
                                 bool& wrapped) {
  wrapped = false;
  if (all.empty()) return std::nullopt;
  if (way == FindWay::kForward) {
    auto it = std::lower_bound(all.begin(), all.end(), from);
    if (it != all.end()) return *it;
    wrapped = true;
    return all.front();
  }
  auto it = std::lower_bound(all.begin(), all.end(), from);
  if (it != all.begin()) return *(it - 1);
  wrapped = true;
  return all.back();
}

struct FindCase {
  const char* name;
  std::string pattern;
  bool matchCase;
};

void PrintTo(const FindCase& c, std::ostream* out) {
  *out << c.name;
}

class SessionFindTest : public ::testing::TestWithParam<FindCase> {
 protected:
  // Three and a half chunks of seeded bytes in runs of both directions, with
  // "Needle" planted inside a chunk, across each chunk end, and at the ends.
  static void SetUpTestSuite() {
    stream_ = new Bytes(testing::SeededBytes(kChunk * 7 / 2, 11));
    const std::string needle = "Needle";
    for (uint64_t at : {uint64_t{0}, uint64_t{5000}, kChunk - 3, 2 * kChunk - 1, 3 * kChunk - 5,
                        stream_->size() - needle.size()}) {
      std::copy(needle.begin(), needle.end(), stream_->begin() + static_cast<ptrdiff_t>(at));
    }
    store_ = new SessionStore;
    for (size_t at = 0, run = 0; at < stream_->size(); at += kRunBytes, ++run) {
      size_t n = std::min<size_t>(kRunBytes, stream_->size() - at);
      SessionKind kind = run % 3 == 2 ? SessionKind::kSent : SessionKind::kReceived;
      store_->AppendAt(kind, SessionEvent::kNone, stream_->data() + at, n,
                       static_cast<int64_t>(run), 0);
    }
  }
  static void TearDownTestSuite() {
    delete store_;
    delete stream_;
  }

  static Bytes* stream_;
  static SessionStore* store_;
};

Bytes* SessionFindTest::stream_ = nullptr;
SessionStore* SessionFindTest::store_ = nullptr;

TEST_P(SessionFindTest, FindsWhatAPlainSearchFinds) {
  const FindCase& c = GetParam();
#if defined(__SANITIZE_THREAD__)
  // A one-byte pattern matches thousands of times, and its hundreds of scans
  // of 3.5 MB take minutes under ThreadSanitizer; the scan has one thread, and
  // the other patterns run here too.
  if (c.pattern.size() == 1) GTEST_SKIP() << "too slow under ThreadSanitizer";
#endif
  Bytes pattern(c.pattern.begin(), c.pattern.end());
  std::vector<uint64_t> all = AllMatches(*stream_, pattern, c.matchCase);
  std::vector<uint64_t> unsent;  // those that start in received bytes
  std::copy_if(all.begin(), all.end(), std::back_inserter(unsent),
               [](uint64_t at) { return at / kRunBytes % 3 != 2; });
  SessionQuery query{pattern, c.matchCase};
  std::vector<uint64_t> froms = {0, 1, 5001, kChunk - 3, kChunk - 2, 2 * kChunk, stream_->size()};
  for (size_t i = 0; i < all.size(); i += std::max<size_t>(1, all.size() / 40)) {
    froms.push_back(all[i] + 1);
  }
  for (bool withSent : {true, false}) {
    for (uint64_t from : froms) {
      for (FindWay way : {FindWay::kForward, FindWay::kBackward}) {
        SCOPED_TRACE("from " + std::to_string(from) + (way == FindWay::kForward ? " on" : " back") +
                     (withSent ? "" : ", sent hidden"));
        bool wrapped = false;
        std::optional<uint64_t> want = Expected(withSent ? all : unsent, from, way, wrapped);
        for (SessionDisplay display : {SessionDisplay::kText, SessionDisplay::kHex}) {
          std::optional<SessionMatch> got = store_->Find(display, query, from, way, withSent);
          ASSERT_EQ(got.has_value(), want.has_value());
          if (!got) continue;
          EXPECT_EQ(got->offset, *want);
          EXPECT_EQ(got->wrapped, wrapped);
          EXPECT_EQ(got->length, pattern.size());
          SessionLine line;
          ASSERT_TRUE(store_->Line(display, got->line, line, withSent));
          EXPECT_LE(line.offset, got->offset);
          EXPECT_GT(line.offset + line.bytes.size(), got->offset) << "the line holds the match";
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Patterns, SessionFindTest,
                         ::testing::Values(FindCase{"Exact", "Needle", true},
                                           FindCase{"AnyCase", "nEEDLE", false},
                                           FindCase{"WrongCase", "nEEDLE", true},
                                           FindCase{"OneByte", "N", true},
                                           FindCase{"Absent", "Needle-not-there", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SessionFindLimitsTest, EmptyOrTooLongQueriesFindNothing) {
  SessionStore store;
  Bytes bytes(100, 'a');
  store.AppendAt(SessionKind::kReceived, SessionEvent::kNone, bytes.data(), bytes.size(), 0, 0);
  EXPECT_FALSE(store.Find(SessionDisplay::kText, {{}, true}, 0, FindWay::kForward));
  SessionQuery longQuery{Bytes(kSessionMaxQuery + 1, 'a'), true};
  EXPECT_FALSE(store.Find(SessionDisplay::kText, longQuery, 0, FindWay::kForward));
  SessionQuery tail{Bytes(101, 'a'), true};
  EXPECT_FALSE(store.Find(SessionDisplay::kText, tail, 0, FindWay::kForward));
}

}  // namespace
}  // namespace quorvel
