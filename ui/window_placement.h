// Where the window opens: the stored size and place when they still fit on
// one of the screens there are now (a monitor may have gone since, or shrunk),
// otherwise the default size centred on the primary screen. Pure functions
// over rectangles in the desktop's logical pixels, so any arrangement of
// screens can be tried without one.
#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <optional>

namespace quorvel {

// How much of the window's top edge must lie on a screen for the stored
// place to count: enough to grab the title bar and drag the window back.
inline constexpr int kGrabbableWidth = 100;
inline constexpr int kGrabbableHeight = 24;

// `stored` where its top edge can be grabbed on one of `screens` (their
// available areas), its size cut to that screen's and kept at least
// `minimum`; nullopt when no screen shows it.
std::optional<QRect> FitStoredGeometry(const QRect& stored, QSize minimum,
                                       const QList<QRect>& screens);

// `size` centred on `screen`, its top left kept on the screen.
QRect CentredOn(const QRect& screen, QSize size);

}  // namespace quorvel
