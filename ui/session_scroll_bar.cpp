#include "ui/session_scroll_bar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace quorvel {

SessionScrollBar::SessionScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

SessionScrollBar::Look SessionScrollBar::CurrentLook() const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
          value() == minimum(), value() == maximum()};
}

void SessionScrollBar::Set(int maximum, int pageStep, int value) {
  {
    // The steps between may move the handle and back (a range grown before
    // the value follows it): only where they end counts.
    setting_ = true;
    setRange(0, maximum);
    setPageStep(pageStep);
    setValue(value);
    setting_ = false;
  }
  // A repaint pending draws the bar as it is now anyway.
  if (CurrentLook() != painted_) update();
}

void SessionScrollBar::sliderChange(SliderChange change) {
  if (!setting_) QScrollBar::sliderChange(change);
}

void SessionScrollBar::paintEvent(QPaintEvent* event) {
  painted_ = CurrentLook();
  QScrollBar::paintEvent(event);
}

}  // namespace quorvel
