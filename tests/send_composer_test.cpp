// The send box's options on a pseudo-terminal: line endings, escapes and
// checks byte for byte, the auto-reply with a check, and the options' own
// section of the settings file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/transmit.h"
#include "sending/hex.h"
#include "settings/send_options_settings.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;

class SendBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Open(device.Path(), {9600, 8, kOneStopBit, kParityNone}));
  }

  void SetBox(const std::string& text, bool asHex, const SendOptions& options) {
    {
      std::lock_guard guard(state.lock);
      state.sendText = text;
      state.sendAsHex = asHex ? 1 : 0;
    }
    SetSendOptions(state, options);
  }

  testing::PtyDevice device;
  testing::LineRig rig;
  TerminalState& state = rig.state;
  RecordingWindow window{rig.state, rig.hub};
};

struct ComposeCase {
  const char* name;
  std::string text;
  bool asHex;
  SendOptions options;
  Bytes sent;
};
void PrintTo(const ComposeCase& c, std::ostream* os) {
  *os << c.name;
}

class SendOptionsTest : public SendBoxTest, public ::testing::WithParamInterface<ComposeCase> {};

TEST_P(SendOptionsTest, SendGoesOutWithItsOptions) {
  const ComposeCase& c = GetParam();
  SetBox(c.text, c.asHex, c.options);
  EXPECT_EQ(ComposeSend(c.text, c.asHex, c.options), c.sent);
  SendComposedText(state, rig.port, rig.door);
  // A marker behind it shows that nothing more went out.
  const Bytes marker = {0xA5};
  rig.port.Write(marker.data(), 1);
  Bytes expected = c.sent;
  expected.push_back(0xA5);
  EXPECT_EQ(device.Receive(expected.size()), expected);
  EXPECT_EQ(rig.Counters().txCount, c.sent.size());
}

constexpr auto kCr = LineEnding::kCr;
constexpr auto kLf = LineEnding::kLf;
constexpr auto kCrLf = LineEnding::kCrLf;
constexpr auto kNoEnding = LineEnding::kNone;

INSTANTIATE_TEST_SUITE_P(
    Sends, SendOptionsTest,
    ::testing::Values(
        // With nothing chosen, the text as typed (box line breaks are CR LF).
        ComposeCase{"TextAsTyped", "AB\r\n\\r", false, {}, {'A', 'B', 0x0D, 0x0A, '\\', 'r'}},
        ComposeCase{"HexAsParsed", "01 0x1F 123 zz", true, {}, {0x01, 0x00, 0x1F, 0x23}},
        ComposeCase{"EndingCr", "AT", false, {kCr}, {'A', 'T', 0x0D}},
        ComposeCase{"EndingLf", "AT", false, {kLf}, {'A', 'T', 0x0A}},
        ComposeCase{"EndingCrLf", "AT", false, {kCrLf}, {'A', 'T', 0x0D, 0x0A}},
        ComposeCase{"EndingOnEmptyText", "", false, {kCrLf}, {0x0D, 0x0A}},
        ComposeCase{"HexGetsNoEnding", "01 02", true, {kCrLf}, {0x01, 0x02}},
        ComposeCase{"Escapes",
                    "a\\r\\n\\t\\\\\\x41\\x7f\\xFF",
                    false,
                    {kNoEnding, true},
                    {'a', 0x0D, 0x0A, 0x09, '\\', 'A', 0x7F, 0xFF}},
        ComposeCase{"ZeroByteEscape", "\\x00!", false, {kNoEnding, true}, {0x00, '!'}},
        ComposeCase{"BadEscapesKeptAsTyped",
                    "\\x4 \\xZZ\\q\\",
                    false,
                    {kNoEnding, true},
                    {'\\', 'x', '4', ' ', '\\', 'x', 'Z', 'Z', '\\', 'q', '\\'}},
        ComposeCase{"ShortHexEscapeAtTheEnd", "\\x4", false, {kNoEnding, true}, {'\\', 'x', '4'}},
        ComposeCase{"EscapesLeaveHexAlone", "\\x41", true, {kNoEnding, true}, {0x41}},
        ComposeCase{"ModbusReadWithCrc",
                    "01 03 00 00 00 02",
                    true,
                    {kNoEnding, false, ChecksumKind::kModbusCrc16},
                    {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}},
        ComposeCase{"CheckBeforeTheEnding",
                    "123456789",
                    false,
                    {kCrLf, false, ChecksumKind::kCrc16CcittFalse},
                    {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x29, 0xB1, 0x0D, 0x0A}},
        ComposeCase{"Crc32LowByteFirst",
                    "123456789",
                    false,
                    {kNoEnding, false, ChecksumKind::kCrc32},
                    {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x26, 0x39, 0xF4, 0xCB}},
        ComposeCase{"CheckOverEscapedBytes",
                    "\\x01\\x03\\x00\\x00\\x00\\x02",
                    false,
                    {kNoEnding, true, ChecksumKind::kModbusCrc16},
                    {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SendBoxTest, OptionNumbersOutOfRangeReadAsOff) {
  testing::Locked(state, [&] {
    state.sendLineEnding = 9;
    state.sendChecksum = -1;
  });
  EXPECT_EQ(SendOptionsOf(state), SendOptions{});
}

TEST_F(SendBoxTest, AutoReplyCarriesTheBoxCheckAndEnding) {
  SetBox("\\x01\\x03", false, {kLf, true, ChecksumKind::kXor8});
  {
    std::lock_guard guard(state.lock);
    state.replyAfterFrame = 1;
    state.frameEndText = "0D";
    state.frameEndByte = FrameEndByteOf("0D");
  }
  rig.StartWorker();
  device.Send(Bytes{0x10, 0x0D});
  EXPECT_EQ(device.Receive(4), (Bytes{0x01, 0x03, 0x02, 0x0A}));
  rig.worker.StopAndWait();
}

class SendOptionsFileTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::filesystem::path file = dir / "Quorvel.ini";
};

TEST_F(SendOptionsFileTest, OptionsRoundTripBesideTheOtherSections) {
  testing::WriteFile(file, "[Port]\r\nCOM=3\r\n");
  for (const LineEndingInfo& ending : LineEndingTable()) {
    for (const ChecksumInfo& check : ChecksumTable()) {
      SendOptions options{ending.ending, check.kind == ChecksumKind::kCrc8, check.kind};
      ASSERT_TRUE(SaveSendOptions(options, file));
      EXPECT_EQ(LoadSendOptions(file), options) << ending.key << " " << check.key;
    }
  }
  std::string text = testing::ReadAll(file);
  EXPECT_EQ(text.rfind("[Port]\r\nCOM=3\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("[SendOptions]\r\nLineEnding=crlf\r\n"), std::string::npos) << text;
}

TEST_F(SendOptionsFileTest, BadValuesReadAsOff) {
  testing::WriteFile(file,
                     "[SendOptions]\nLineEnding=CRLF \nEscapes=yes\nChecksum=crc99\n"
                     "LineEnding=cr\n");
  EXPECT_EQ(LoadSendOptions(file), SendOptions{});
  EXPECT_EQ(LoadSendOptions(dir / "missing.ini"), SendOptions{});
}

}  // namespace
}  // namespace quorvel
