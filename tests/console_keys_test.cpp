// What the console's keys send: named keys in the device's normal and
// application modes (as the device sets them with DECCKM and DECKPAM),
// Ctrl and Alt, the Enter and Backspace choices, and text in the encoding.
#include <gtest/gtest.h>

#include <string>

#include "console/emulator.h"
#include "console/key_encoder.h"

namespace quorvel {
namespace {

struct KeyCase {
  const char* name;
  ConsoleKey key;
  int modifiers;
  const char16_t* text;
  std::string normal;       // in the normal modes
  std::string application;  // after ESC [ ? 1 h and ESC =
};

class KeyEncoding : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyEncoding, SendsWhatATerminalSends) {
  const KeyCase& c = GetParam();
  Emulator emulator(24, 80, 10);
  KeyPress press{c.key, c.modifiers, c.text};
  EXPECT_EQ(EncodeKey(emulator, press, {}).bytes, c.normal) << "normal modes";
  emulator.Feed("\x1b[?1h\x1b=");
  EXPECT_EQ(EncodeKey(emulator, press, {}).bytes, c.application) << "application modes";
  emulator.Feed("\x1b[?1l\x1b>");
  EXPECT_EQ(EncodeKey(emulator, press, {}).bytes, c.normal) << "normal again";
}

constexpr auto kF1 = static_cast<ConsoleKey>(static_cast<int>(ConsoleKey::kF1));
constexpr auto kF5 = static_cast<ConsoleKey>(static_cast<int>(ConsoleKey::kF1) + 4);
constexpr auto kKeypad1 = static_cast<ConsoleKey>(static_cast<int>(ConsoleKey::kKeypad0) + 1);

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyEncoding,
    ::testing::Values(
        KeyCase{"letter", ConsoleKey::kNone, 0, u"a", "a", "a"},
        KeyCase{"utf8_text", ConsoleKey::kNone, 0, u"é€", "\xc3\xa9\xe2\x82\xac",
                "\xc3\xa9\xe2\x82\xac"},
        KeyCase{"ctrl_c", ConsoleKey::kNone, kModCtrl, u"c", "\x03", "\x03"},
        KeyCase{"ctrl_d", ConsoleKey::kNone, kModCtrl, u"d", "\x04", "\x04"},
        KeyCase{"ctrl_z", ConsoleKey::kNone, kModCtrl, u"z", "\x1a", "\x1a"},
        KeyCase{"ctrl_shift_letter", ConsoleKey::kNone, kModCtrl | kModShift, u"Q", "\x11", "\x11"},
        KeyCase{"ctrl_bracket", ConsoleKey::kNone, kModCtrl, u"[", "\x1b", "\x1b"},
        KeyCase{"ctrl_space", ConsoleKey::kNone, kModCtrl, u" ", std::string(1, '\0'),
                std::string(1, '\0')},
        KeyCase{"ctrl_underscore", ConsoleKey::kNone, kModCtrl, u"_", "\x1f", "\x1f"},
        KeyCase{"alt_letter", ConsoleKey::kNone, kModAlt, u"b",
                "\x1b"
                "b",
                "\x1b"
                "b"},
        KeyCase{"ctrl_alt_letter", ConsoleKey::kNone, kModCtrl | kModAlt, u"x", "\x1b\x18",
                "\x1b\x18"},
        KeyCase{"up", ConsoleKey::kUp, 0, u"", "\x1b[A", "\x1bOA"},
        KeyCase{"down", ConsoleKey::kDown, 0, u"", "\x1b[B", "\x1bOB"},
        KeyCase{"right", ConsoleKey::kRight, 0, u"", "\x1b[C", "\x1bOC"},
        KeyCase{"left", ConsoleKey::kLeft, 0, u"", "\x1b[D", "\x1bOD"},
        KeyCase{"home", ConsoleKey::kHome, 0, u"", "\x1b[H", "\x1bOH"},
        KeyCase{"end", ConsoleKey::kEnd, 0, u"", "\x1b[F", "\x1bOF"},
        KeyCase{"ctrl_up", ConsoleKey::kUp, kModCtrl, u"", "\x1b[1;5A", "\x1b[1;5A"},
        KeyCase{"page_up", ConsoleKey::kPageUp, 0, u"", "\x1b[5~", "\x1b[5~"},
        KeyCase{"page_down", ConsoleKey::kPageDown, 0, u"", "\x1b[6~", "\x1b[6~"},
        KeyCase{"insert", ConsoleKey::kInsert, 0, u"", "\x1b[2~", "\x1b[2~"},
        KeyCase{"delete", ConsoleKey::kDelete, 0, u"", "\x1b[3~", "\x1b[3~"},
        KeyCase{"f1", kF1, 0, u"", "\x1bOP", "\x1bOP"},
        KeyCase{"f5", kF5, 0, u"", "\x1b[15~", "\x1b[15~"},
        KeyCase{"f12", ConsoleKey::kF12, 0, u"", "\x1b[24~", "\x1b[24~"},
        KeyCase{"keypad_digit", kKeypad1, 0, u"", "1", "\x1bOq"},
        KeyCase{"keypad_enter", ConsoleKey::kKeypadEnter, 0, u"", "\r", "\x1bOM"},
        KeyCase{"tab", ConsoleKey::kTab, 0, u"", "\t", "\t"},
        KeyCase{"back_tab", ConsoleKey::kTab, kModShift, u"", "\x1b[Z", "\x1b[Z"},
        KeyCase{"escape", ConsoleKey::kEscape, 0, u"", "\x1b", "\x1b"},
        KeyCase{"enter", ConsoleKey::kEnter, 0, u"", "\r", "\r"},
        KeyCase{"alt_enter", ConsoleKey::kEnter, kModAlt, u"", "\x1b\r", "\x1b\r"},
        KeyCase{"backspace", ConsoleKey::kBackspace, 0, u"", "\x7f", "\x7f"},
        KeyCase{"ctrl_backspace", ConsoleKey::kBackspace, kModCtrl, u"", "\b", "\b"},
        KeyCase{"alt_backspace", ConsoleKey::kBackspace, kModAlt, u"", "\x1b\x7f", "\x1b\x7f"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeyChoices, EnterAndBackspaceSendWhatIsChosen) {
  Emulator emulator(24, 80, 10);
  struct {
    EnterSends enter;
    BackspaceSends backspace;
    const char* enterBytes;
    const char* backspaceBytes;
  } cases[] = {
      {EnterSends::kCr, BackspaceSends::kDel, "\r", "\x7f"},
      {EnterSends::kLf, BackspaceSends::kBs, "\n", "\b"},
      {EnterSends::kCrLf, BackspaceSends::kDel, "\r\n", "\x7f"},
  };
  for (const auto& c : cases) {
    KeyOptions options;
    options.enter = c.enter;
    options.backspace = c.backspace;
    EXPECT_EQ(EncodeKey(emulator, {ConsoleKey::kEnter, 0, u""}, options).bytes, c.enterBytes);
    EXPECT_EQ(EncodeKey(emulator, {ConsoleKey::kKeypadEnter, 0, u""}, options).bytes, c.enterBytes);
    EXPECT_EQ(EncodeKey(emulator, {ConsoleKey::kBackspace, 0, u""}, options).bytes,
              c.backspaceBytes);
  }
}

TEST(KeyChoices, Latin1SendsItsBytesAndRefusesTheRest) {
  Emulator emulator(24, 80, 10);
  KeyOptions latin1;
  latin1.encoding = TextEncoding::kLatin1;
  EXPECT_EQ(EncodeKey(emulator, {ConsoleKey::kNone, 0, u"é"}, latin1).bytes, "\xe9");
  EncodedKey euro = EncodeKey(emulator, {ConsoleKey::kNone, 0, u"€"}, latin1);
  EXPECT_EQ(euro.bytes, "");
  EXPECT_EQ(euro.refused, U'€');
}

}  // namespace
}  // namespace quorvel
