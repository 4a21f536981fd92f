// The console view for assistive technologies: a terminal whose text is
// the visible screen (not the scrollback), one line per row, top row first,
// as a text box offers it (QAccessibleTextInterface, which Qt gives to
// AT-SPI), with the cursor's place as the caret. A row's line ends after
// its last character that is not blank, and on the cursor's row no sooner
// than the cursor, so the caret always falls on the text. A wide character
// is one character of its line and a combining mark one more after it.
//
// InstallConsoleAccessible() registers the factory once; the view calls it.
// UI thread.
#pragma once

#include <QString>
#include <vector>

#include "console/console.h"

namespace quorvel {

struct AccessibleScreen {
  QString text;                 // the rows' lines joined with LF
  std::vector<int> lineStarts;  // the offset of each row's line
  // For each offset of `text`: the cell it stands on (-1 for the LFs).
  std::vector<int> rowOf;
  std::vector<int> columnOf;
  int cursor = 0;  // the caret's offset
};

AccessibleScreen AccessibleScreenOf(const ScreenCopy& screen);

void InstallConsoleAccessible();

}  // namespace quorvel
