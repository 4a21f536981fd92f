// The console's emulator: the screen after known sequences, the scrollback
// as rows scroll off and come back, sequences that libvterm 0.1.4 cannot
// survive, and the flood path, which must leave exactly the screen and
// scrollback that libvterm alone leaves.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/emulator.h"

namespace quorvel {
namespace {

std::vector<std::string> Lines(const Emulator& emulator) {
  std::vector<std::string> lines;
  std::string text = emulator.ScreenText();
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

Cell CellAt(const Emulator& emulator, int row, int column) {
  ConsoleRow cells;
  emulator.ReadRow(row, cells);
  return cells.cells.at(static_cast<size_t>(column));
}

struct ScreenCase {
  const char* name;
  const char* input;
  std::vector<std::string> rows;  // of a 4 x 10 screen
  int cursorRow, cursorColumn;
};

class EmulatorScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(EmulatorScreen, ShowsWhatTheSequencesDraw) {
  const ScreenCase& c = GetParam();
  Emulator emulator(4, 10, 100);
  emulator.Feed(c.input);
  EXPECT_EQ(Lines(emulator), c.rows);
  EXPECT_EQ(emulator.Cursor().row, c.cursorRow);
  EXPECT_EQ(emulator.Cursor().column, c.cursorColumn);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, EmulatorScreen,
    ::testing::Values(
        ScreenCase{"text_and_crlf", "ab\r\ncd", {"ab", "cd", "", ""}, 1, 2},
        ScreenCase{"cursor_addressing", "\x1b[3;5Hx\x1b[1;1Hy", {"y", "", "    x", ""}, 0, 1},
        ScreenCase{"wraps_at_the_edge", "0123456789ab", {"0123456789", "ab", "", ""}, 1, 2},
        ScreenCase{"erase_line_right", "abcdef\x1b[3D\x1b[K", {"abc", "", "", ""}, 0, 3},
        ScreenCase{"erase_display", "a\r\nb\r\nc\x1b[2J", {"", "", "", ""}, 2, 1},
        ScreenCase{"insert_line", "a\r\nb\r\nc\x1b[2;1H\x1b[L", {"a", "", "b", "c"}, 1, 0},
        ScreenCase{"delete_line", "a\r\nb\r\nc\x1b[1;1H\x1b[M", {"b", "c", "", ""}, 0, 0},
        ScreenCase{
            "scroll_region", "1\r\n2\r\n3\r\n4\x1b[2;3r\x1b[3;1H\n", {"1", "3", "", "4"}, 2, 0},
        ScreenCase{"wide_characters",
                   "\xe4\xb8\xad\xe6\x96\x87x",
                   {"\xe4\xb8\xad\xe6\x96\x87x", "", "", ""},
                   0,
                   5},
        ScreenCase{"combining_mark", "e\xcc\x81!", {"e\xcc\x81!", "", "", ""}, 0, 2},
        ScreenCase{"alternate_screen_and_back",
                   "main\x1b[?1049h\x1b[Halt\x1b[?1049l",
                   {"main", "", "", ""},
                   0,
                   4},
        ScreenCase{"line_drawing_set",
                   "\x1b(0qx\x1b(Bq",
                   {"\xe2\x94\x80\xe2\x94\x82q", "", "", ""},
                   0,
                   3}),
    [](const auto& info) { return std::string(info.param.name); });

struct ColourCase {
  const char* name;
  const char* sgr;
  CellColour fg, bg;
  uint16_t attrs;
};

class EmulatorColours : public ::testing::TestWithParam<ColourCase> {};

TEST_P(EmulatorColours, KeepTheColourAsAsked) {
  const ColourCase& c = GetParam();
  Emulator emulator(2, 10, 10);
  emulator.Feed(std::string(c.sgr) + "x");
  Cell cell = CellAt(emulator, 0, 0);
  EXPECT_EQ(cell.ch, U'x');
  EXPECT_EQ(cell.style.fg, c.fg);
  EXPECT_EQ(cell.style.bg, c.bg);
  EXPECT_EQ(cell.style.attrs, c.attrs);
}

INSTANTIATE_TEST_SUITE_P(
    Sgr, EmulatorColours,
    ::testing::Values(
        ColourCase{"plain", "", {}, {}, 0},
        ColourCase{"sixteen", "\x1b[31;42m", CellColour::Indexed(1), CellColour::Indexed(2), 0},
        ColourCase{"bright", "\x1b[91;102m", CellColour::Indexed(9), CellColour::Indexed(10), 0},
        ColourCase{"two_five_six", "\x1b[38;5;208;48;5;17m", CellColour::Indexed(208),
                   CellColour::Indexed(17), 0},
        ColourCase{"rgb", "\x1b[38;2;1;2;3;48;2;250;251;252m", CellColour::Rgb(1, 2, 3),
                   CellColour::Rgb(250, 251, 252), 0},
        ColourCase{"bold_underline_reverse",
                   "\x1b[1;4;7m",
                   {},
                   {},
                   kCellBold | kCellReverse | (1 << kCellUnderlineShift)},
        ColourCase{"reset_clears", "\x1b[1;31m\x1b[0m", {}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EmulatorScrollback, KeepsScrolledRowsAndGivesThemBackOnGrowth) {
  Emulator emulator(3, 10, 100);
  for (int i = 1; i <= 6; ++i) emulator.Feed("line" + std::to_string(i) + "\r\n");
  // Four rows went up: lines 1-4 scrolled off, 5 and 6 and the cursor's row show.
  ASSERT_EQ(emulator.History().Size(), 4u);
  EXPECT_EQ(PackedRowText(emulator.History().Packed(0)), "line1");
  EXPECT_EQ(PackedRowText(emulator.History().Packed(3)), "line4");
  EXPECT_EQ(Lines(emulator), (std::vector<std::string>{"line5", "line6", ""}));

  emulator.Resize(5, 10);
  EXPECT_EQ(emulator.History().Size(), 2u);
  EXPECT_EQ(Lines(emulator), (std::vector<std::string>{"line3", "line4", "line5", "line6", ""}));
  emulator.Resize(2, 10);
  EXPECT_EQ(Lines(emulator), (std::vector<std::string>{"line6", ""}));
  EXPECT_EQ(emulator.History().Size(), 5u);
}

TEST(EmulatorScrollback, DropsTheOldestRowsWhenFull) {
  Emulator emulator(2, 10, 3);
  for (int i = 1; i <= 10; ++i) emulator.Feed(std::to_string(i) + "\r\n");
  ASSERT_EQ(emulator.History().Size(), 3u);
  EXPECT_EQ(emulator.History().EndLine(), 9u);
  EXPECT_EQ(PackedRowText(emulator.History().Packed(emulator.History().FirstLine())), "7");
}

TEST(EmulatorScrollback, AlternateScreenPushesNothing) {
  Emulator emulator(3, 10, 100);
  emulator.Feed("\x1b[?1049h");
  for (int i = 0; i < 10; ++i) emulator.Feed("x\r\n");
  EXPECT_TRUE(emulator.AltScreen());
  EXPECT_EQ(emulator.History().Size(), 0u);
  emulator.Feed("\x1b[?1049l");
  EXPECT_FALSE(emulator.AltScreen());
}

// A device's garbage that libvterm 0.1.4 alone crashes or hangs on.
TEST(EmulatorHostileInput, SurvivesWhatLibvtermCannot) {
  const std::vector<std::string> inputs = {
      "\x1b[" + std::string(200, '1') + "m",
      [] {
        std::string s = "\x1b[";
        for (int i = 0; i < 40; ++i) s += "1;";
        return s + "m";
      }(),
      "\x1b[5b",                // REP with nothing before it
      "\xe4\xb8\xad\x1b[300b",  // REP of a wide character
      "\x1b[" + std::string(5000, ';') + "m",
  };
  for (const std::string& input : inputs) {
    Emulator emulator(4, 10, 10);
    emulator.Feed(input);
    emulator.Feed("ok");
    EXPECT_NE(emulator.ScreenText().find("ok"), std::string::npos) << input.substr(0, 20);
  }
  Emulator repeat(2, 10, 10);
  repeat.Feed("ab\x1b[3bc");
  EXPECT_EQ(Lines(repeat)[0], "abbbbc");
}

TEST(EmulatorReplies, AnswersCursorPositionReport) {
  Emulator emulator(4, 10, 10);
  emulator.Feed("\x1b[2;3H\x1b[6n");
  EXPECT_EQ(emulator.TakeReplies(), "\x1b[2;3R");
  EXPECT_EQ(emulator.TakeReplies(), "");
}

// Every cell, the cursor and every scrollback row of two emulators.
void ExpectSame(const Emulator& flood, const Emulator& plain, const std::string& where) {
  ASSERT_EQ(flood.Rows(), plain.Rows());
  for (int r = 0; r < flood.Rows(); ++r) {
    ConsoleRow a, b;
    flood.ReadRow(r, a);
    plain.ReadRow(r, b);
    ASSERT_EQ(a.cells.size(), b.cells.size());
    for (size_t c = 0; c < a.cells.size(); ++c) {
      ASSERT_EQ(a.cells[c], b.cells[c]) << where << " row " << r << " column " << c << "\n"
                                        << flood.ScreenText() << "\n--\n"
                                        << plain.ScreenText();
    }
    ASSERT_EQ(a.marks, b.marks) << where << " row " << r;
  }
  ASSERT_EQ(flood.Cursor(), plain.Cursor()) << where;
  ASSERT_EQ(flood.History().FirstLine(), plain.History().FirstLine()) << where;
  ASSERT_EQ(flood.History().EndLine(), plain.History().EndLine()) << where;
  for (uint64_t line = plain.History().FirstLine(); line < plain.History().EndLine(); ++line) {
    ASSERT_EQ(flood.History().Packed(line), plain.History().Packed(line))
        << where << " scrollback line " << line << ": "
        << PackedRowText(plain.History().Packed(line));
  }
}

// Output as a flood of colour text makes it, with now and then what ends a
// flood (a backspace, a wide character, cursor addressing, a mode).
std::string FloodOutput(std::mt19937& random, int columns, int lines) {
  static const char* kSgr[] = {
      "0",          "",           "1",     "01;34",  "31",          "4",
      "21",         "7",          "3;9;5", "22;24",  "38;5;208",    "48;5;17",
      "38;2;1;2;3", "48;2;9;8;7", "39;49", "91;102", "1;4;7;31;42", "27;23;25;29"};
  static const char* kBreakers[] = {
      "\b",       "\t",       "\xe4\xb8\xad", "\x1b[2;3H",   "e\xcc\x81",        "\x1b[A",
      "\x1b[?7l", "\x1b[?7h", "\x1b[4h",      "\x1b[4l",     "\x1b[2;3r",        "\x1b[r",
      "\x1b(0",   "\x1b(B",   "\x1b[?1049h",  "\x1b[?1049l", "\x1b[2K",          "\x1b[1K",
      "\x1b[s",   "\x1b[u",   "\x1b[5b",      "\x07",        "\x1b]0;title\x07", "\x1b#6",
      "\x1b\x63"};  // ESC c, a full reset
  std::string out;
  for (int l = 0; l < lines; ++l) {
    int length = static_cast<int>(random() % static_cast<unsigned>(columns * 5 / 2 + 2));
    if (random() % 6 == 0) length = columns;  // exactly the width: a pending wrap
    for (int i = 0; i < length; ++i) {
      unsigned pick = random() % 40;
      if (pick == 0) {
        out += "\x1b[" + std::string(kSgr[random() % std::size(kSgr)]) + "m";
      } else if (pick == 1) {
        out += "\x1b[K";
      } else if (pick == 2 && random() % 8 == 0) {
        out += kBreakers[random() % std::size(kBreakers)];
      } else {
        out.push_back(static_cast<char>(0x20 + random() % 95));
      }
    }
    unsigned end = random() % 20;
    out += end == 0 ? "\n" : end == 1 ? "\r" : "\r\n";
  }
  return out;
}

struct FloodCase {
  const char* name;
  int rows, columns;
  unsigned seed;
};

class EmulatorFlood : public ::testing::TestWithParam<FloodCase> {};

TEST_P(EmulatorFlood, LeavesWhatLibvtermAloneLeaves) {
  const FloodCase& c = GetParam();
  std::mt19937 random(c.seed);
  Emulator flood(c.rows, c.columns, 500), plain(c.rows, c.columns, 500);
  plain.SetFloodPath(false);
  for (int round = 0; round < 40; ++round) {
    std::string output = FloodOutput(random, c.columns, 10 + static_cast<int>(random() % 80));
    // Fed in pieces that split lines and sequences anywhere.
    for (size_t at = 0; at < output.size();) {
      size_t piece = 1 + random() % (random() % 4 == 0 ? 4000 : 40);
      std::string_view part = std::string_view(output).substr(at, piece);
      flood.Feed(part);
      plain.Feed(part);
      at += part.size();
    }
    ExpectSame(flood, plain, "round " + std::to_string(round));
    if (random() % 10 == 0) {
      int rows = 2 + static_cast<int>(random() % 8), columns = 2 + static_cast<int>(random() % 30);
      flood.Resize(rows, columns);
      plain.Resize(rows, columns);
      ExpectSame(flood, plain, "resize in round " + std::to_string(round));
    }
  }
  // What comes after a flood lands where it would have.
  flood.Feed("\x1b[Kx\xcc\x81\b\x1b[6n");
  plain.Feed("\x1b[Kx\xcc\x81\b\x1b[6n");
  ExpectSame(flood, plain, "after the floods");
  EXPECT_EQ(flood.TakeReplies(), plain.TakeReplies());
  EXPECT_GT(flood.FloodsStarted(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, EmulatorFlood,
    ::testing::Values(FloodCase{"small", 3, 8, 1}, FloodCase{"narrow", 6, 2, 2},
                      FloodCase{"wide", 5, 40, 3}, FloodCase{"tall", 12, 20, 4},
                      FloodCase{"other_seed", 4, 10, 5}, FloodCase{"another_seed", 7, 13, 6}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
