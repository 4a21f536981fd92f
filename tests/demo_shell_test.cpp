// The demo device's shell as a user sees it: its output fed into the
// console's own emulator, keys as the console encodes them, and the screen
// read back after each table of keys. Then the shell on the demo's real line.
#include "sim/demo_shell.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "console/emulator.h"
#include "support/devsim_process.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Clock = DemoShell::Clock;

// A key: text typed as it is, or a key the console encodes.
using Key = std::variant<std::string, ConsoleKey>;

std::string RowText(const Emulator& emulator, int row) {
  std::string text = emulator.ScreenText();
  size_t start = 0;
  for (int n = 0; n < row; ++n) start = text.find('\n', start) + 1;
  return text.substr(start, text.find('\n', start) - start);
}

// A shell with a console on the far side: 24 x 80, as a window starts.
struct ShellOnConsole {
  ShellOnConsole() : shell(responder, now, 0) { emulator.Feed(shell.Start()); }

  void Press(const Key& key) {
    std::string bytes = std::holds_alternative<std::string>(key)
                            ? std::get<std::string>(key)
                            : emulator.KeyBytes(std::get<ConsoleKey>(key), 0);
    size_t used = 0;
    emulator.Feed(shell.Feed(bytes, now, used));
    EXPECT_EQ(used, bytes.size());
  }
  std::string CursorLine() const { return RowText(emulator, emulator.Cursor().row); }
  bool Shows(const std::string& text) const {
    return emulator.ScreenText().find(text) != std::string::npos;
  }

  Clock::time_point now = Clock::now();
  DemoResponder responder;
  DemoShell shell;
  Emulator emulator{24, 80, 100};
};

struct KeysCase {
  const char* name;
  std::vector<Key> keys;
  std::string cursorLine;  // the row the cursor is on, as it reads
  int cursorColumn;
  std::string shows;  // somewhere on the screen; "" for nothing more
};

void PrintTo(const KeysCase& keys, std::ostream* out) {
  *out << keys.name;
}

class ShellKeys : public ::testing::TestWithParam<KeysCase> {};

TEST_P(ShellKeys, LeaveTheScreenAsAUserExpects) {
  const KeysCase& c = GetParam();
  ShellOnConsole console;
  for (const Key& key : c.keys) console.Press(key);
  EXPECT_EQ(console.CursorLine(), c.cursorLine) << console.emulator.ScreenText();
  EXPECT_EQ(console.emulator.Cursor().column, c.cursorColumn);
  EXPECT_TRUE(console.Shows(c.shows)) << console.emulator.ScreenText();
  EXPECT_FALSE(console.emulator.AltScreen());
  EXPECT_TRUE(console.shell.Running());
}

constexpr ConsoleKey kEnter = ConsoleKey::kEnter;
constexpr ConsoleKey kTab = ConsoleKey::kTab;
constexpr ConsoleKey kUp = ConsoleKey::kUp;
constexpr ConsoleKey kDown = ConsoleKey::kDown;
constexpr ConsoleKey kLeft = ConsoleKey::kLeft;
constexpr ConsoleKey kBackspace = ConsoleKey::kBackspace;

INSTANTIATE_TEST_SUITE_P(
    Demo, ShellKeys,
    ::testing::Values(
        KeysCase{"PromptAfterTheEnterThatStartsIt", {}, "demo>", 6, "Quorvel demo device"},
        KeysCase{"HelpListsTheCommands", {"help", kEnter}, "demo>", 6, "colors"},
        KeysCase{"IdNamesTheDevice", {"id", kEnter}, "demo>", 6, "QUORVEL-DEMO,1.0"},
        KeysCase{"ReadGivesAReading", {"read", kEnter}, "demo>", 6, "T=20.7 C"},
        KeysCase{"TabCompletesTheOneMatch", {"he", kTab}, "demo> help", 11, ""},
        KeysCase{"TabListsSeveralAndRedrawsTheLine", {"c", kTab}, "demo> c", 7, "colors  clear"},
        KeysCase{"TabPastTheFirstWordDoesNothing", {"wave of", kTab}, "demo> wave of", 13, ""},
        KeysCase{"UpRecallsThePreviousLine",
                 {"id", kEnter, "read", kEnter, kUp, kUp},
                 "demo> id",
                 8,
                 ""},
        KeysCase{"DownComesBackToTheLineBeingWritten",
                 {"id", kEnter, "re", kUp, kDown},
                 "demo> re",
                 8,
                 ""},
        KeysCase{"UpInApplicationCursorMode", {"id", kEnter, "\x1bOA"}, "demo> id", 8, ""},
        KeysCase{"ModifiedLeftMovesAsThePlainOne",
                 {"hlp", "\x1b[1;5D", "\x1b[1;5D", "e"},
                 "demo> help",
                 8,
                 ""},
        KeysCase{"EscapeAloneThenEnterStillEnters",
                 {"id", "\x1b", kEnter},
                 "demo>",
                 6,
                 "QUORVEL-DEMO,1.0"},
        KeysCase{"BackspaceErases", {"helpx", kBackspace}, "demo> help", 10, ""},
        KeysCase{
            "BackspaceWithinTheLine", {"hexlp", kLeft, kLeft, kBackspace}, "demo> help", 8, ""},
        KeysCase{
            "LeftThenTypingInserts", {"hlp", kLeft, kLeft, "e", kEnter}, "demo>", 6, "this list"},
        KeysCase{"HomeAndEnd", {"elp", "\x1b[H", "h", "\x1b[F", "!"}, "demo> help!", 11, ""},
        KeysCase{"CtrlUClearsTheLine", {"help", "\x15"}, "demo>", 6, ""},
        KeysCase{"CtrlCAbandonsTheLine", {"help", "\x03"}, "demo>", 6, "demo> help^C"},
        KeysCase{"CrLfIsOneEnter", {"id\r\n"}, "demo>", 6, "QUORVEL-DEMO,1.0\ndemo>"},
        KeysCase{"UnknownCommand", {"frob", kEnter}, "demo>", 6, "demo: frob: command not found"},
        KeysCase{"WaveRefusesABadRate", {"wave fast", kEnter}, "demo>", 6, "ERR WAVE takes a rate"},
        KeysCase{"ColorsNameThem", {"colors", kEnter}, "demo>", 6, "magenta"}),
    [](const ::testing::TestParamInfo<KeysCase>& info) { return info.param.name; });

TEST(DemoShell, UnknownCommandIsRed) {
  ShellOnConsole console;
  console.Press("frob\r");
  ConsoleRow row;
  console.emulator.ReadRow(console.emulator.Cursor().row - 1, row);
  EXPECT_EQ(row.cells.at(0).style.fg, CellColour::Indexed(1));
}

TEST(DemoShell, TopHoldsTheAlternateScreenUntilQ) {
  ShellOnConsole console;
  console.Press("id\r");
  console.Press("top\r");
  EXPECT_TRUE(console.emulator.AltScreen());
  EXPECT_TRUE(console.Shows("PID")) << console.emulator.ScreenText();
  std::string first = RowText(console.emulator, 3);
  ASSERT_TRUE(console.shell.NextDue().has_value());
  EXPECT_EQ(console.shell.Tick(console.now + 500ms), "") << "not due yet";
  console.now += 1s;
  console.emulator.Feed(console.shell.Tick(console.now));
  EXPECT_NE(RowText(console.emulator, 3), first) << "redrawn with new figures";
  EXPECT_TRUE(console.Shows("up 00:00:01")) << console.emulator.ScreenText();
  console.Press("x");  // not a key top knows
  EXPECT_TRUE(console.emulator.AltScreen());
  console.Press("q");
  EXPECT_FALSE(console.emulator.AltScreen());
  EXPECT_FALSE(console.shell.NextDue().has_value());
  EXPECT_EQ(console.CursorLine(), "demo>");
  EXPECT_TRUE(console.Shows("QUORVEL-DEMO,1.0")) << "the shell's screen as it was";
}

TEST(DemoShell, ExitHandsWhatFollowsBack) {
  ShellOnConsole console;
  std::string keys = "exit\rREAD\r";
  size_t used = 0;
  console.shell.Feed(keys, console.now, used);
  EXPECT_FALSE(console.shell.Running());
  EXPECT_EQ(keys.substr(used), "READ\r");
}

TEST(DemoShell, WaveAsksTheDeviceForARate) {
  ShellOnConsole console;
  console.Press("wave 50\r");
  EXPECT_EQ(console.shell.TakeWaveRequest(), 50);
  console.Press("wave off\r");
  EXPECT_EQ(console.shell.TakeWaveRequest(), 0);
  EXPECT_EQ(console.shell.TakeWaveRequest(), std::nullopt);
}

TEST(DemoShell, OnlyALoneEnterStartsIt) {
  for (const char* burst : {"\r", "\n", "\r\n"}) EXPECT_TRUE(IsLoneEnter(burst)) << burst;
  for (const char* burst : {"\r\r", "\n\r", " \r", "READ\r", ""}) EXPECT_FALSE(IsLoneEnter(burst));
}

// What the line brings until `text` is among it, or the deadline.
std::string ReceiveUntil(testing::Terminal& terminal, const std::string& text) {
  std::string got;
  auto deadline = Clock::now() + 5s;
  while (got.find(text) == std::string::npos && Clock::now() < deadline) {
    std::vector<uint8_t> bytes = terminal.Receive(1, 100ms);
    got.append(bytes.begin(), bytes.end());
  }
  return got;
}

// On the demo's own line: Enter starts the shell, `id` is answered, `exit`
// brings the plain device back with its readings and its answers.
TEST(DemoShell, RunsOnTheDemoLine) {
  DemoDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(error)) << error;
  testing::Terminal terminal(device.Path());
  terminal.Send({'\r'});
  EXPECT_NE(ReceiveUntil(terminal, "demo>\x1b[0m ").find("demo>"), std::string::npos);
  terminal.Send({'i', 'd', '\r'});
  EXPECT_NE(ReceiveUntil(terminal, kDemoDeviceName).find(kDemoDeviceName), std::string::npos);
  terminal.Send({'e', 'x', 'i', 't', '\r'});
  std::string after = ReceiveUntil(terminal, "T=");
  EXPECT_NE(after.find("T="), std::string::npos) << after;
  terminal.Send({'I', 'D', '?', '\r', '\n'});
  EXPECT_NE(ReceiveUntil(terminal, kDemoDeviceName).find(kDemoDeviceName), std::string::npos);
  device.Stop();
}

}  // namespace
}  // namespace quorvel
