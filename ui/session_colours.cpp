#include "ui/session_colours.h"

#include <algorithm>

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

// The linear light of each 8-bit sRGB channel value, as the contrast ratio
// of WCAG 2 defines it: c / 12.92 up to c = 0.03928, ((c + 0.055) / 1.055)^2.4
// above (c = value / 255), to nine digits. A table rather than std::pow: the
// view works this out as it first shows, and pow's code and tables would be
// resident from then on for nothing else.
// clang-format off
constexpr double kLinear[256] = {
    0, 0.000303526984, 0.000607053967, 0.000910580951, 0.00121410793, 0.00151763492,
    0.0018211619, 0.00212468888, 0.00242821587, 0.00273174285, 0.00303526984, 0.00334653576,
    0.00367650732, 0.00402471702, 0.00439144204, 0.00477695348, 0.0051815167, 0.00560539162,
    0.00604883302, 0.00651209079, 0.00699541019, 0.00749903204, 0.00802319299, 0.00856812562,
    0.0091340587, 0.00972121732, 0.010329823, 0.010960094, 0.0116122452, 0.0122864884,
    0.0129830323, 0.013702083, 0.0144438436, 0.0152085144, 0.0159962934, 0.0168073758,
    0.0176419545, 0.0185002201, 0.019382361, 0.0202885631, 0.0212190104, 0.0221738848,
    0.0231533662, 0.0241576324, 0.0251868596, 0.0262412219, 0.0273208916, 0.0284260395,
    0.0295568344, 0.0307134437, 0.0318960331, 0.0331047666, 0.0343398068, 0.0356013149,
    0.0368894504, 0.0382043716, 0.0395462353, 0.0409151969, 0.0423114106, 0.0437350293,
    0.0451862044, 0.0466650863, 0.0481718242, 0.049706566, 0.0512694584, 0.052860647,
    0.0544802764, 0.05612849, 0.0578054302, 0.0595112382, 0.0612460542, 0.0630100177,
    0.0648032667, 0.0666259386, 0.0684781698, 0.0703600957, 0.0722718507, 0.0742135684,
    0.0761853815, 0.0781874218, 0.0802198203, 0.0822827071, 0.0843762115, 0.086500462,
    0.0886555863, 0.0908417112, 0.0930589628, 0.0953074666, 0.0975873471, 0.0998987282,
    0.102241733, 0.104616484, 0.107023103, 0.109461711, 0.111932428, 0.114435374,
    0.116970668, 0.119538428, 0.122138772, 0.124771818, 0.12743768, 0.130136477,
    0.132868322, 0.13563333, 0.138431615, 0.141263291, 0.144128471, 0.147027266,
    0.14995979, 0.152926152, 0.155926464, 0.158960835, 0.162029376, 0.165132195,
    0.1682694, 0.171441101, 0.174647404, 0.177888416, 0.181164244, 0.184474995,
    0.187820772, 0.191201683, 0.19461783, 0.19806932, 0.201556254, 0.205078736,
    0.20863687, 0.212230757, 0.2158605, 0.2195262, 0.223227957, 0.226965874,
    0.230740049, 0.234550582, 0.238397574, 0.242281122, 0.246201327, 0.250158285,
    0.254152094, 0.258182853, 0.262250658, 0.266355605, 0.270497791, 0.274677312,
    0.278894263, 0.28314874, 0.287440838, 0.29177065, 0.296138271, 0.300543794,
    0.304987314, 0.309468923, 0.313988713, 0.318546778, 0.323143209, 0.327778098,
    0.332451536, 0.337163615, 0.341914425, 0.346704056, 0.3515326, 0.356400144,
    0.36130678, 0.366252596, 0.37123768, 0.376262123, 0.381326011, 0.386429434,
    0.391572478, 0.396755231, 0.40197778, 0.407240212, 0.412542613, 0.417885071,
    0.42326767, 0.428690497, 0.434153636, 0.439657174, 0.445201195, 0.450785783,
    0.456411023, 0.462077, 0.467783796, 0.473531496, 0.479320183, 0.48514994,
    0.49102085, 0.496932995, 0.502886458, 0.508881321, 0.514917665, 0.520995573,
    0.527115126, 0.533276404, 0.539479489, 0.545724461, 0.552011402, 0.55834039,
    0.564711506, 0.571124829, 0.57758044, 0.584078418, 0.590618841, 0.597201788,
    0.603827339, 0.610495571, 0.617206562, 0.623960392, 0.630757136, 0.637596874,
    0.644479682, 0.651405637, 0.658374817, 0.665387298, 0.672443157, 0.67954247,
    0.686685312, 0.693871761, 0.701101892, 0.70837578, 0.715693501, 0.723055129,
    0.73046074, 0.737910409, 0.74540421, 0.752942217, 0.760524505, 0.768151147,
    0.775822218, 0.783537792, 0.79129794, 0.799102738, 0.806952258, 0.814846572,
    0.822785754, 0.830769877, 0.838799012, 0.846873232, 0.854992608, 0.863157213,
    0.871367119, 0.879622397, 0.887923118, 0.896269353, 0.904661174, 0.913098652,
    0.921581856, 0.930110858, 0.938685728, 0.947306537, 0.955973353, 0.964686248,
    0.97344529, 0.98225055, 0.991102097, 1,
};
// clang-format on

double Channel(int value) {
  return kLinear[std::clamp(value, 0, 255)];
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
