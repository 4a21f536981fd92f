// The session view's [View] section: what a missing or hand-edited section
// reads as, and saves that keep the rest of the file.
#include "settings/view_settings.h"

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;

struct Case {
  const char* name;
  const char* text;
  ViewSettings expected;
};

ViewSettings With(void (*change)(ViewSettings&)) {
  ViewSettings settings;
  change(settings);
  return settings;
}

const Case kCases[] = {
    {"no section leaves the view off", "[COMConfig]\nBRATE=7\n", ViewSettings{}},
    {"the peer bench's lines", "[View]\nSessionView=1\nStamps=time\nShowTx=1\n",
     With([](ViewSettings& s) { s.sessionView = true; })},
    {"every choice",
     "[View]\nStamps=delta\nShowTx=0\nSilenceMs=50\nEncoding=utf8\nControlSymbols=1\n"
     "HideAnsi=1\nCheck=modbus-crc16\nHistoryMiB=256\n",
     With([](ViewSettings& s) {
       s.stamps = StampKind::kSincePrevious;
       s.showTx = false;
       s.silenceMs = 50;
       s.encoding = DisplayEncoding::kUtf8;
       s.controlSymbols = true;
       s.hideAnsi = true;
       s.check = ChecksumKind::kModbusCrc16;
       s.historyMiB = 256;
     })},
    {"bad names read as defaults", "[View]\nStamps=sometimes\nEncoding=ebcdic\nCheck=md5\n",
     ViewSettings{}},
    {"history below the least", "[View]\nHistoryMiB=0\n",
     With([](ViewSettings& s) { s.historyMiB = kMinHistoryMiB; })},
    {"history above the most", "[View]\nHistoryMiB=999999\n",
     With([](ViewSettings& s) { s.historyMiB = kMaxHistoryMiB; })},
    {"negative silence", "[View]\nSilenceMs=-5\n", ViewSettings{}},
};

TEST(ViewSettingsTest, ReadsWhatTheFileSays) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir directory;
    WriteFile(directory / "Quorvel.ini", c.text);
    EXPECT_EQ(LoadViewSettings(directory / "Quorvel.ini"), c.expected);
  }
}

TEST(ViewSettingsTest, SavedChoicesReadBackAndTheRestStays) {
  TempDir directory;
  WriteFile(directory / "Quorvel.ini", "[COMConfig]\nBRATE=7\n[Logging]\nFormat=hex\n");
  ViewSettings chosen = kCases[2].expected;
  chosen.sessionView = true;
  ASSERT_TRUE(SaveViewSettings(chosen, directory / "Quorvel.ini"));
  EXPECT_EQ(LoadViewSettings(directory / "Quorvel.ini"), chosen);
  std::string text = ReadAll(directory / "Quorvel.ini");
  EXPECT_EQ(text.find("[COMConfig]\nBRATE=7\n[Logging]\nFormat=hex\n"), 0u);
  EXPECT_NE(text.find("[View]\nSessionView=1\n"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
