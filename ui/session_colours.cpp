#include "ui/session_colours.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

struct Hues {
  QColor sent, event, stamp, valid, bad, match;
};

// On white and light greys.
const Hues kOnLight{QColor(0x1a, 0x5f, 0xb4), QColor(0x6b, 0x6b, 0x6b), QColor(0x6e, 0x6e, 0x6e),
                    QColor(0x1b, 0x7a, 0x2f), QColor(0xc0, 0x1c, 0x28), QColor(0xff, 0xd5, 0x4f)};
// On the near-blacks of dark desktop themes.
const Hues kOnDark{QColor(0x78, 0xae, 0xed), QColor(0xa8, 0xa8, 0xa8), QColor(0x9a, 0x9a, 0x9a),
                   QColor(0x57, 0xe3, 0x89), QColor(0xff, 0x7b, 0x63), QColor(0x6b, 0x53, 0x00)};

double Channel(int value) {
  double c = value / 255.0;
  return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
  QColor rgb = colour.toRgb();
  return 0.2126 * Channel(rgb.red()) + 0.7152 * Channel(rgb.green()) + 0.0722 * Channel(rgb.blue());
}

bool IsDark(const QColor& background) {
  return ContrastRatio(Qt::white, background) > ContrastRatio(Qt::black, background);
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Readable(const QColor& colour, const QColor& background, double ratio) {
  constexpr int kSteps = 20;
  bool lighten = IsDark(background);
  QColor hsl = colour.toHsl();
  QColor best = colour;
  // Lightness in even steps towards white or black keeps the hue, so TX
  // stays blue however far it has to move.
  for (int step = 0; step <= kSteps && ContrastRatio(best, background) < ratio; ++step) {
    float lightness = hsl.lightnessF();
    float target = lighten ? 1.0f : 0.0f;
    float moved = lightness + (target - lightness) * static_cast<float>(step) / kSteps;
    best = QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), moved).toRgb();
  }
  return best;
}

SessionColours SessionColoursFor(const QPalette& palette) {
  QColor base = palette.color(QPalette::Base);
  const Hues& hues = IsDark(base) ? kOnDark : kOnLight;
  QColor highlight = palette.color(QPalette::Highlight);
  return {
      Readable(palette.color(QPalette::Text), base),
      Readable(hues.sent, base),
      Readable(hues.event, base),
      Readable(hues.stamp, base),
      Readable(hues.valid, base),
      Readable(hues.bad, base),
      hues.match,
      IsDark(base) ? highlight.darker(160) : highlight.lighter(),
  };
}

}  // namespace quorvel
