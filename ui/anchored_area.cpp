#include "ui/anchored_area.h"

#include <algorithm>

namespace quorvel {

QRect Anchored(const QRect& base, Anchor anchor, QSize extra) {
  // Below the base size (never, once the minimum holds) nothing moves back
  // over its neighbours.
  int dx = std::max(0, extra.width());
  int dy = std::max(0, extra.height());
  QRect rect = base;
  if (anchor.across == Follow::kMove) rect.translate(dx, 0);
  if (anchor.across == Follow::kGrow) rect.setWidth(rect.width() + dx);
  if (anchor.down == Follow::kMove) rect.translate(0, dy);
  if (anchor.down == Follow::kGrow) rect.setHeight(rect.height() + dy);
  return rect;
}

AnchoredArea::AnchoredArea(QSize base, QWidget* parent) : QWidget(parent), base_(base) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AnchoredArea::Place(QWidget* child, const QRect& base, Anchor anchor) {
  placed_.push_back({child, base, anchor});
  PlaceOne(placed_.back());
}

void AnchoredArea::PlaceOne(const Placed& placed) const {
  placed.child->setGeometry(Anchored(placed.base, placed.anchor, size() - base_));
}

void AnchoredArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (const Placed& placed : placed_) PlaceOne(placed);
}

}  // namespace quorvel
