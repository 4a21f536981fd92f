// The plot's series colours: the Okabe–Ito set, which stays distinct for the
// common kinds of colour blindness, in a light and a dark variant (each with
// a contrast of at least 3:1 against its background), then again dashed for
// series 9 to 16. Pure functions; any thread.
#pragma once

#include <QColor>
#include <QPalette>

namespace quorvel {

inline constexpr int kPlotColours = 8;

// Whether `palette` is a dark one: its base darker than its text.
bool IsDarkPalette(const QPalette& palette);
QColor SeriesColour(int series, bool dark);
Qt::PenStyle SeriesPenStyle(int series);

}  // namespace quorvel
