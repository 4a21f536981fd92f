#include "ui/repaint_pacer.h"

#include <algorithm>

namespace quorvel {
namespace {

constexpr int kFrameMs = 16;

}  // namespace

RepaintPacer::RepaintPacer(QObject* parent) : QObject(parent) {
  frame_.setSingleShot(true);
  frame_.setInterval(kFrameMs);
  connect(&frame_, &QTimer::timeout, this, &RepaintPacer::EndFrame);
}

void RepaintPacer::Changing(QWidget* widget) {
  if (!frame_.isActive()) {
    frame_.start();  // this change paints now; the next ones wait for the frame's end
    return;
  }
  if (std::find(held_.begin(), held_.end(), widget) != held_.end()) return;
  // A widget whose updates are off ignores update(); turning them on again
  // repaints it whole.
  widget->setUpdatesEnabled(false);
  held_.push_back(widget);
}

void RepaintPacer::AtFrameEnd(std::function<void()> work) {
  if (!frame_.isActive()) {
    frame_.start();
    work();
    return;
  }
  work_ = std::move(work);
}

void RepaintPacer::EndFrame() {
  bool painted = !held_.empty() || work_;
  if (work_) std::exchange(work_, nullptr)();
  for (QPointer<QWidget>& widget : held_) {
    if (widget) widget->setUpdatesEnabled(true);
  }
  held_.clear();
  // What was just painted starts a frame of its own.
  if (painted) frame_.start();
}

}  // namespace quorvel
