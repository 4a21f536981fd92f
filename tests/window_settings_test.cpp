// The window's [Window] section and its text size in [View]: what a missing,
// hand-edited or damaged section reads as, and saves that keep the rest.
#include "settings/window_settings.h"

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;

WindowSettings With(void (*change)(WindowSettings&)) {
  WindowSettings settings;
  change(settings);
  return settings;
}

struct WindowCase {
  const char* name;
  const char* text;
  WindowSettings expected;
};

const WindowCase kWindowCases[] = {
    {"no section: the defaults", "[COMConfig]\nBRATE=7\n", WindowSettings{}},
    {"every key",
     "[Window]\nGeometry=-40, 25,1600,1000\nMaximized=1\nSendBoxHeight=120\n"
     "SendListWidth=300\nPaneWidth=400\n[View]\nTextSize=14\n",
     With([](WindowSettings& s) {
       s.geometry = WindowRect{-40, 25, 1600, 1000};
       s.maximized = true;
       s.sendBoxHeight = 120;
       s.sendListWidth = 300;
       s.paneWidth = 400;
       s.textPoints = 14;
     })},
    {"a geometry with a word in it", "[Window]\nGeometry=10,20,wide,600\n", WindowSettings{}},
    {"a geometry of three numbers", "[Window]\nGeometry=10,20,800\n", WindowSettings{}},
    {"a geometry of five numbers", "[Window]\nGeometry=10,20,800,600,5\n", WindowSettings{}},
    {"a geometry without a size", "[Window]\nGeometry=10,20,0,600\n", WindowSettings{}},
    {"a geometry beyond any desktop", "[Window]\nGeometry=10,20,800,99999999999\n",
     WindowSettings{}},
    {"pane sizes that are no sizes", "[Window]\nSendBoxHeight=-5\nSendListWidth=12px\n",
     WindowSettings{}},
    {"a text size too small", "[View]\nTextSize=2\n", WindowSettings{}},
    {"a text size too large", "[View]\nTextSize=200\n", WindowSettings{}},
};

TEST(WindowSettingsTest, ReadsWhatTheFileSays) {
  for (const WindowCase& c : kWindowCases) {
    SCOPED_TRACE(c.name);
    TempDir directory;
    WriteFile(directory / "Quorvel.ini", c.text);
    EXPECT_EQ(LoadWindowSettings(directory / "Quorvel.ini"), c.expected);
  }
}

TEST(WindowSettingsTest, SavedSettingsReadBackAndTheRestStays) {
  TempDir directory;
  WriteFile(directory / "Quorvel.ini", "[COMConfig]\nBRATE=7\n[View]\nSessionView=1\n");
  WindowSettings chosen = kWindowCases[1].expected;
  ASSERT_TRUE(SaveWindowSettings(chosen, directory / "Quorvel.ini"));
  EXPECT_EQ(LoadWindowSettings(directory / "Quorvel.ini"), chosen);
  std::string text = ReadAll(directory / "Quorvel.ini");
  EXPECT_EQ(text.find("[COMConfig]\nBRATE=7\n[View]\nSessionView=1\nTextSize=14\n"), 0u);
  EXPECT_NE(text.find("[Window]\nGeometry=-40,25,1600,1000\nMaximized=1\n"), std::string::npos);
}

TEST(WindowSettingsTest, TheDefaultTextSizeAddsNothingToView) {
  TempDir directory;
  WriteFile(directory / "Quorvel.ini", "[COMConfig]\nBRATE=7\n");
  ASSERT_TRUE(SaveWindowSettings(WindowSettings{}, directory / "Quorvel.ini"));
  EXPECT_EQ(ReadAll(directory / "Quorvel.ini").find("[View]"), std::string::npos);
  // Once there, it is kept up to date, the default included.
  WriteFile(directory / "Quorvel.ini", "[View]\nTextSize=12\n");
  ASSERT_TRUE(SaveWindowSettings(WindowSettings{}, directory / "Quorvel.ini"));
  EXPECT_EQ(LoadWindowSettings(directory / "Quorvel.ini").textPoints, kDefaultTextPoints);
}

}  // namespace
}  // namespace quorvel
