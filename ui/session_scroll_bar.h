// The session view's scroll bar. While the view follows a flood, every
// publish grows the bar's range and moves its value to the new end, and a
// plain scroll bar repaints at each change; yet over thousands of lines the
// handle stays where it is, to the pixel. Set changes all three at once and
// repaints only when what the bar draws changed: the handle's place or size,
// or an end reached or left (the arrows show whether they can move). Any
// other change repaints as always. UI thread.
#pragma once

#include <QRect>
#include <QScrollBar>

namespace quorvel {

class SessionScrollBar : public QScrollBar {
  Q_OBJECT

 public:
  explicit SessionScrollBar(QWidget* parent);

  // Range 0..maximum, the page step and the value, as one change.
  void Set(int maximum, int pageStep, int value);

 protected:
  void sliderChange(SliderChange change) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Look {
    QRect handle;
    bool atMinimum = false;
    bool atMaximum = false;
    bool operator==(const Look&) const = default;
  };
  Look CurrentLook() const;

  Look painted_;  // as last painted
  bool setting_ = false;
};

}  // namespace quorvel
