// The session view's colours for the palette it draws on. Received bytes
// take the palette's text colour; sent bytes, events, stamps and the check
// marks take hues chosen for a light or a dark base, and each is then made
// darker or lighter as far as it takes to stand at least 4.5:1 against the
// base (the contrast WCAG 2 asks of body text), so a desktop's own palette,
// light or dark, never leaves a line unreadable. Pure; UI thread.
#pragma once

#include <QColor>
#include <QPalette>

namespace quorvel {

inline constexpr double kReadableContrast = 4.5;

struct SessionColours {
  QColor received;
  QColor sent;
  QColor event;
  QColor stamp;
  QColor valid;      // a frame whose check holds
  QColor bad;        // one whose check fails
  QColor match;      // behind a find's match
  QColor selection;  // behind the selection
};

SessionColours SessionColoursFor(const QPalette& palette);

// The contrast ratio of two colours as WCAG 2 defines it: 1 (the same) to 21
// (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// `colour`, darkened or lightened (whichever the background allows more of)
// until it stands `ratio`:1 against `background`, or as near as it gets.
QColor Readable(const QColor& colour, const QColor& background, double ratio = kReadableContrast);

}  // namespace quorvel
