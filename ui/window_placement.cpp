#include "ui/window_placement.h"

#include <algorithm>

namespace quorvel {

std::optional<QRect> FitStoredGeometry(const QRect& stored, QSize minimum,
                                       const QList<QRect>& screens) {
  if (!stored.isValid()) return std::nullopt;
  QRect topEdge(stored.x(), stored.y(), stored.width(),
                std::min(stored.height(), kGrabbableHeight));
  for (const QRect& screen : screens) {
    // The title bar sits above the window's top: a top above the screen's
    // hides it even when the rest shows.
    if (stored.y() < screen.y()) continue;
    QRect shown = topEdge.intersected(screen);
    if (shown.width() < std::min(stored.width(), kGrabbableWidth) ||
        shown.height() < topEdge.height()) {
      continue;
    }
    QSize size = stored.size().boundedTo(screen.size()).expandedTo(minimum);
    return QRect(stored.topLeft(), size);
  }
  return std::nullopt;
}

QRect CentredOn(const QRect& screen, QSize size) {
  QRect rect(QPoint(0, 0), size);
  rect.moveCenter(screen.center());
  rect.moveTopLeft(QPoint(std::max(rect.x(), screen.x()), std::max(rect.y(), screen.y())));
  return rect;
}

}  // namespace quorvel
