// An area of the window whose children keep the places the dialog template
// gave them at the area's base size, and follow its growth beyond that as
// their anchors say: a child stays, moves with the far edge, or grows with
// it, across and down separately. The base size is also the least the area
// takes, so at the window's minimum every child is where the template put it.
// UI thread.
#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

namespace quorvel {

enum class Follow { kStay, kMove, kGrow };

struct Anchor {
  Follow across = Follow::kStay;
  Follow down = Follow::kStay;
};

// `base` (a rectangle at the area's base size) in an area `extra` larger.
QRect Anchored(const QRect& base, Anchor anchor, QSize extra);

class AnchoredArea : public QWidget {
 public:
  AnchoredArea(QSize base, QWidget* parent);

  // Places `child` (already a child of the area) at `base` at the base size,
  // and from now on as `anchor` says.
  void Place(QWidget* child, const QRect& base, Anchor anchor);

  QSize Base() const { return base_; }
  QSize sizeHint() const override { return base_; }
  QSize minimumSizeHint() const override { return base_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Placed {
    QWidget* child;
    QRect base;
    Anchor anchor;
  };
  void PlaceOne(const Placed& placed) const;

  QSize base_;
  std::vector<Placed> placed_;
};

}  // namespace quorvel
