// The plot's [Plot] section: what a missing or hand-edited section reads as,
// and a save that reads back the same and keeps the rest of the file.
#include "settings/plot_settings.h"

#include <gtest/gtest.h>

#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;

PlotSettings With(void (*change)(PlotSettings&)) {
  PlotSettings settings;
  change(settings);
  return settings;
}

struct Case {
  const char* name;
  const char* text;
  PlotSettings expected;
};

const Case kCases[] = {
    {"no section: hidden, defaults", "[COMConfig]\nBRATE=7\n", PlotSettings{}},
    {"the keys that show it at start", "[Plot]\nShown=1\n",
     With([](PlotSettings& s) { s.shown = true; })},
    {"every choice",
     "[Plot]\nShown=1\nWidth=900\nHeight=500\nXAxis=sample\nWindow=0\nAutoY=0\nYMin=-2.5\n"
     "YMax=1e3\nRegex=t=(?<t>\\d+)\nMaxPoints=5000\n",
     With([](PlotSettings& s) {
       s = {true, 900, 500, true, 0, false, -2.5, 1000, "t=(?<t>\\d+)", 5000};
     })},
    {"bad values give defaults",
     "[Plot]\nWidth=x\nXAxis=log\nWindow=-3\nYMin=5\nYMax=1\nMaxPoints=-1\nAutoY=\n",
     PlotSettings{}},
    {"out of range is clamped", "[Plot]\nWidth=99999\nMaxPoints=10\nYMin=nan\n",
     With([](PlotSettings& s) {
       s.width = 4000;
       s.maxPoints = 1000;
     })},
};

TEST(PlotSettingsTest, ReadsWhatTheFileSays) {
  TempDir directory;
  for (const Case& c : kCases) {
    WriteFile(directory / "Quorvel.ini", c.text);
    EXPECT_EQ(LoadPlotSettings(directory / "Quorvel.ini"), c.expected) << c.name;
  }
}

TEST(PlotSettingsTest, SavesWhatReadsBackAndKeepsTheRest) {
  TempDir directory;
  WriteFile(directory / "Quorvel.ini", "[COMConfig]\nBRATE=7\n; mine\n");
  PlotSettings settings = kCases[2].expected;
  settings.yMin = 0.1;
  ASSERT_TRUE(SavePlotSettings(settings, directory / "Quorvel.ini"));
  EXPECT_EQ(LoadPlotSettings(directory / "Quorvel.ini"), settings);
  EXPECT_EQ(ReadAll(directory / "Quorvel.ini").rfind("[COMConfig]\nBRATE=7\n; mine\n", 0), 0u);
}

}  // namespace
}  // namespace quorvel
