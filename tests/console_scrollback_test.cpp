// The scrollback's own bookkeeping beyond what the emulator's tests reach:
// rows written into blocks, blocks given back once their rows are gone, and
// rows taken back across a block's edge.
#include <gtest/gtest.h>

#include <string>

#include "console/scrollback.h"

namespace quorvel {
namespace {

// Rows long enough that a few thousand fill several blocks.
std::string Row(uint64_t line) {
  return std::to_string(line) + std::string(900, static_cast<char>('a' + line % 26));
}

void ExpectRows(const Scrollback& history, uint64_t first, uint64_t end) {
  ASSERT_EQ(history.FirstLine(), first);
  ASSERT_EQ(history.EndLine(), end);
  for (uint64_t line = first; line < end; ++line) {
    ASSERT_EQ(history.Packed(line), Row(line)) << "line " << line;
  }
  EXPECT_TRUE(history.Packed(end).empty());
  if (first > 0) {
    EXPECT_TRUE(history.Packed(first - 1).empty());
  }
}

TEST(Scrollback, KeepsTheNewestRowsAndGivesBackTheBlocksOfTheOldest) {
  Scrollback history(3000);
  for (uint64_t line = 0; line < 20000; ++line) history.Push(Row(line));
  ExpectRows(history, 17000, 20000);
  // 3000 rows of about 900 bytes, in blocks of 2 MB: a block or two more
  // than they need, not the 20,000 rows' worth.
  EXPECT_LT(history.Bytes(), size_t{8} << 20);
}

TEST(Scrollback, GivesRowsBackAcrossBlocksAndGoesOnFromThere) {
  Scrollback history(100000);
  for (uint64_t line = 0; line < 5000; ++line) history.Push(Row(line));
  std::string packed;
  for (uint64_t line = 5000; line-- > 1000;) {
    ASSERT_TRUE(history.PopNewest(packed));
    ASSERT_EQ(packed, Row(line));
  }
  ExpectRows(history, 0, 1000);
  for (uint64_t line = 1000; line < 6000; ++line) history.Push(Row(line));
  ExpectRows(history, 0, 6000);
}

TEST(Scrollback, CapacityClearAndEmptyRowsKeepTheNumbering) {
  Scrollback history(10000);
  for (uint64_t line = 0; line < 6000; ++line) history.Push(Row(line));
  history.SetCapacity(2000);
  ExpectRows(history, 4000, 6000);
  history.SetCapacity(50000);
  for (uint64_t line = 6000; line < 9000; ++line) history.Push(Row(line));
  ExpectRows(history, 4000, 9000);
  history.Clear();
  EXPECT_EQ(history.Size(), 0u);
  EXPECT_EQ(history.Bytes(), 0u);
  history.Push("");
  history.Push(Row(9001));
  EXPECT_EQ(history.FirstLine(), 9000u);
  EXPECT_TRUE(history.Packed(9000).empty());
  EXPECT_EQ(history.Packed(9001), Row(9001));
}

}  // namespace
}  // namespace quorvel
