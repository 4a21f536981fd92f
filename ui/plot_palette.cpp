#include "ui/plot_palette.h"

namespace quorvel {
namespace {

// Blue, orange, bluish green, vermillion, reddish purple, sky blue, yellow,
// black; yellow and sky blue darkened on white, black turned white on dark.
constexpr QRgb kLight[kPlotColours] = {0x0072B2, 0xC17F00, 0x009E73, 0xD55E00,
                                       0xB8589A, 0x3A8FC4, 0x8F8200, 0x000000};
constexpr QRgb kDark[kPlotColours] = {0x56B4E9, 0xE69F00, 0x1FC49A, 0xFF7A33,
                                      0xE08CC0, 0x9CC8F5, 0xF0E442, 0xFFFFFF};

}  // namespace

bool IsDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
}

QColor SeriesColour(int series, bool dark) {
  int index = ((series % kPlotColours) + kPlotColours) % kPlotColours;
  return QColor::fromRgb(dark ? kDark[index] : kLight[index]);
}

Qt::PenStyle SeriesPenStyle(int series) {
  return series >= kPlotColours ? Qt::DashLine : Qt::SolidLine;
}

}  // namespace quorvel
