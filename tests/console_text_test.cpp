// The console's text in and out: the line-end and erase maps (a CR LF split
// across two reads included), Latin-1 for the emulator, the bytes of a
// paste and its pacing against a line that reports each piece written,
// selections, finds and the size command.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/console_text.h"
#include "console/line_maps.h"

namespace quorvel {
namespace {

struct MapCase {
  const char* name;
  LineMap map;
  std::vector<std::string> reads;  // fed one after another
  std::string expected;
};

class LineMaps : public ::testing::TestWithParam<MapCase> {};

TEST_P(LineMaps, MapLineBreaksAsPairs) {
  const MapCase& c = GetParam();
  LineMapper mapper(c.map);
  std::string out;
  for (const std::string& read : c.reads) mapper.Apply(read, out);
  EXPECT_EQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, LineMaps,
    ::testing::Values(
        MapCase{"none", {}, {"a\r\nb\rc\n"}, "a\r\nb\rc\n"},
        MapCase{"cr_to_crlf", {CrMap::kToCrLf}, {"a\rb\r\nc"}, "a\r\nb\r\nc"},
        MapCase{"cr_to_crlf_split_pair", {CrMap::kToCrLf}, {"a\r", "\nb"}, "a\r\nb"},
        MapCase{"lf_to_crlf", {CrMap::kKeep, LfMap::kToCrLf}, {"a\nb\r\nc"}, "a\r\nb\r\nc"},
        MapCase{"lf_to_crlf_split_pair", {CrMap::kKeep, LfMap::kToCrLf}, {"a\r", "\n"}, "a\r\n"},
        MapCase{"cr_to_lf", {CrMap::kToLf}, {"a\rb\r", "\nc"}, "a\nb\nc"},
        MapCase{"drop_cr", {CrMap::kDrop}, {"a\r\nb\rc"}, "a\nbc"},
        MapCase{
            "drop_cr_lf_to_crlf", {CrMap::kDrop, LfMap::kToCrLf}, {"a\r", "\nb\n"}, "a\r\nb\r\n"},
        MapCase{"lf_to_cr", {CrMap::kKeep, LfMap::kToCr}, {"a\nb\r\n"}, "a\rb\r"},
        MapCase{"drop_lf", {CrMap::kKeep, LfMap::kDrop}, {"a\nb\r\n"}, "ab\r"},
        MapCase{
            "bs_to_del", {CrMap::kKeep, LfMap::kKeep, EraseMap::kBsToDel}, {"\b\x7f"}, "\x7f\x7f"},
        MapCase{"del_to_bs", {CrMap::kKeep, LfMap::kKeep, EraseMap::kDelToBs}, {"\b\x7f"}, "\b\b"},
        MapCase{"swap", {CrMap::kKeep, LfMap::kKeep, EraseMap::kSwap}, {"\b\x7f"}, "\x7f\b"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineMaps, KeysReadBackAsTheirChoices) {
  for (const auto& choice : CrMapTable()) EXPECT_EQ(CrMapFromKey(choice.key), choice.value);
  for (const auto& choice : LfMapTable()) EXPECT_EQ(LfMapFromKey(choice.key), choice.value);
  for (const auto& choice : EraseMapTable()) EXPECT_EQ(EraseMapFromKey(choice.key), choice.value);
  EXPECT_FALSE(CrMapFromKey("sideways"));
}

TEST(Latin1, BecomesUtf8WithEightBitControlsAsEscapes) {
  std::string out;
  Latin1ToEmulator(
      "a\xe9\x9b"
      "31m\xff",
      out);
  EXPECT_EQ(out, "a\xc3\xa9\x1b[31m\xc3\xbf");
}

struct PasteCase {
  const char* name;
  std::u16string text;
  bool bracketed;
  std::string expected;
};

class PasteBytesFor : public ::testing::TestWithParam<PasteCase> {};

TEST_P(PasteBytesFor, SendsLinesAsATerminalDoes) {
  const PasteCase& c = GetParam();
  PasteBytes paste = PasteFor(c.text, TextEncoding::kUtf8, c.bracketed ? "\x1b[200~" : "",
                              c.bracketed ? "\x1b[201~" : "");
  EXPECT_FALSE(paste.refused);
  EXPECT_EQ(paste.bytes, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pastes, PasteBytesFor,
    ::testing::Values(PasteCase{"plain", u"ls -l", false, "ls -l"},
                      PasteCase{"line_breaks_as_cr", u"a\r\nb\nc\rd", false, "a\rb\rc\rd"},
                      PasteCase{"bracketed", u"echo hi\n", true, "\x1b[200~echo hi\r\x1b[201~"},
                      PasteCase{"cannot_end_the_bracket", u"x\x1b[201~rm -rf\n", true,
                                "\x1b[200~xrm -rf\r\x1b[201~"},
                      PasteCase{"unicode", u"€", false, "\xe2\x82\xac"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PasteBytesFor, RefusesWhatTheEncodingCannotCarry) {
  PasteBytes paste = PasteFor(u"a€", TextEncoding::kLatin1, "", "");
  EXPECT_EQ(paste.refused, U'€');
  EXPECT_EQ(paste.bytes, "");
}

TEST(PasteBytesFor, PiecesKeepEveryByteInOrder) {
  std::string bytes(1000, 'x');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  std::vector<std::string> pieces = CutPieces(bytes, 64);
  ASSERT_EQ(pieces.size(), 16u);
  std::string joined;
  for (const std::string& piece : pieces) {
    EXPECT_LE(piece.size(), 64u);
    joined += piece;
  }
  EXPECT_EQ(joined, bytes);
  EXPECT_EQ(CutPieces("abc", 0).size(), 3u);
}

TEST(Stty, TellsTheSize) {
  EXPECT_EQ(SttyCommand(60, 200), "stty rows 60 cols 200\r");
}

// Selections and finds over an emulator's scrollback and screen.
class ConsoleText : public ::testing::Test {
 protected:
  ConsoleText() : emulator_(3, 12, 100) {
    emulator_.Feed("first line\r\nsecond Line\r\n\xe4\xb8\xad\xe6\x96\x87 wide\r\nlast   \r\nend");
  }
  LineReader Reader() {
    return [this](uint64_t line, ConsoleRow& row) {
      const Scrollback& history = emulator_.History();
      if (line < history.FirstLine()) return false;
      if (line < history.EndLine()) {
        UnpackRow(history.Packed(line), emulator_.Columns(), row);
        return true;
      }
      if (line - history.EndLine() >= static_cast<uint64_t>(emulator_.Rows())) return false;
      emulator_.ReadRow(static_cast<int>(line - history.EndLine()), row);
      return true;
    };
  }
  FindRequest Request(std::u32string needle, bool forward, bool matchCase) {
    return {std::move(needle), forward, matchCase, emulator_.History().FirstLine(),
            emulator_.History().EndLine() + 3};
  }
  Emulator emulator_;
};

TEST_F(ConsoleText, SelectionJoinsRowsWithoutTrailingBlanks) {
  // Lines: 0 "first line", 1 "second Line", 2 "中文 wide", 3 "last", 4 "end".
  EXPECT_EQ(SelectionText(Reader(), {0, 6}, {1, 6}), "line\nsecond");
  EXPECT_EQ(SelectionText(Reader(), {1, 6}, {0, 6}), "line\nsecond");  // either way round
  EXPECT_EQ(SelectionText(Reader(), {3, 0}, {3, 12}), "last");
  EXPECT_EQ(SelectionText(Reader(), {2, 0}, {2, 4}), "\xe4\xb8\xad\xe6\x96\x87");
  EXPECT_EQ(SelectionText(Reader(), {2, 1}, {2, 3}),
            "\xe4\xb8\xad\xe6\x96\x87");  // half a wide one
  EXPECT_EQ(SelectionText(Reader(), {2, 2}, {2, 2}), "");
}

TEST_F(ConsoleText, FindGoesBothWaysOverScrollbackAndScreen) {
  auto found = FindText(Reader(), Request(U"line", true, false), {0, 0});
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, (TextMatch{{0, 6}, 4}));
  found = FindText(Reader(), Request(U"line", true, false), {0, 7});
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, (TextMatch{{1, 7}, 4}));
  EXPECT_FALSE(FindText(Reader(), Request(U"line", true, true), {0, 7}));  // "Line" differs in case
  found = FindText(Reader(), Request(U"line", false, false), {4, 0});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->at, (TextPlace{1, 7}));
  found = FindText(Reader(), Request(U"\u6587 w", true, false), {0, 0});
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, (TextMatch{{2, 2}, 4}));
  found = FindText(Reader(), Request(U"end", true, false), {0, 0});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->at.line, 4u);  // on the screen
  EXPECT_FALSE(FindText(Reader(), Request(U"absent", true, false), {0, 0}));
}

// A line that takes a paste piece by piece and says when each is written.
class PacedLine {
 public:
  void Send(std::vector<uint8_t> piece, Console::PieceWritten written) {
    std::lock_guard lock(mutex_);
    pieces_.emplace_back(piece.begin(), piece.end());
    written_.push_back(std::move(written));
    arrived_.notify_all();
  }
  // Waits until `count` pieces came, then says whether more came than that.
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return pieces_.size() >= count; });
  }
  void Written(size_t piece, bool whole = true) {
    Console::PieceWritten written;
    {
      std::lock_guard lock(mutex_);
      written = written_.at(piece);
    }
    written(whole);
  }
  std::vector<std::string> Pieces() {
    std::lock_guard lock(mutex_);
    return pieces_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> pieces_;
  std::vector<Console::PieceWritten> written_;
};

TEST(ConsolePaste, SendsEachPieceOnlyAfterTheOneBeforeWasWritten) {
  PacedLine line;
  ConsoleOptions options;
  options.pastePiece = 4;
  Console console(
      5, 20, options, [](std::vector<uint8_t>) {},
      [&line](std::vector<uint8_t> piece, Console::PieceWritten written) {
        line.Send(std::move(piece), std::move(written));
      });
  ASSERT_FALSE(console.Paste(u"abcdefghij\n"));
  EXPECT_TRUE(console.Pasting());
  for (size_t piece = 0; piece < 3; ++piece) {
    ASSERT_TRUE(line.WaitFor(piece + 1));
    // Nothing more goes until the line says this piece is out.
    EXPECT_EQ(line.Pieces().size(), piece + 1);
    line.Written(piece);
  }
  EXPECT_EQ(line.Pieces(), (std::vector<std::string>{"abcd", "efgh", "ij\r"}));
  EXPECT_FALSE(console.Pasting());
}

TEST(ConsolePaste, ANewPasteEndsTheOldOneAndIgnoresItsLateReports) {
  PacedLine line;
  ConsoleOptions options;
  options.pastePiece = 2;
  Console console(
      5, 20, options, [](std::vector<uint8_t>) {},
      [&line](std::vector<uint8_t> piece, Console::PieceWritten written) {
        line.Send(std::move(piece), std::move(written));
      });
  console.Paste(u"aabbcc");
  ASSERT_TRUE(line.WaitFor(1));
  console.Paste(u"xxyy");
  ASSERT_TRUE(line.WaitFor(2));
  line.Written(0);  // the old paste's piece: changes nothing
  line.Written(1);
  ASSERT_TRUE(line.WaitFor(3));
  line.Written(2);
  EXPECT_EQ(line.Pieces(), (std::vector<std::string>{"aa", "xx", "yy"}));
  console.CancelPaste();
  EXPECT_FALSE(console.Pasting());
}

// A line that closed, or a write that failed: the rest of the paste would
// reach the device without the piece before it, so none of it goes.
TEST(ConsolePaste, APieceTheLineDidNotTakeEndsThePaste) {
  PacedLine line;
  ConsoleOptions options;
  options.pastePiece = 2;
  Console console(
      5, 20, options, [](std::vector<uint8_t>) {},
      [&line](std::vector<uint8_t> piece, Console::PieceWritten written) {
        line.Send(std::move(piece), std::move(written));
      });
  console.Paste(u"aabbcc");
  ASSERT_TRUE(line.WaitFor(1));
  line.Written(0, false);
  EXPECT_FALSE(console.Pasting());
  console.Paste(u"dd");  // the next paste goes as ever
  ASSERT_TRUE(line.WaitFor(2));
  line.Written(1);
  EXPECT_EQ(line.Pieces(), (std::vector<std::string>{"aa", "dd"}));
  EXPECT_FALSE(console.Pasting());
}

}  // namespace
}  // namespace quorvel
