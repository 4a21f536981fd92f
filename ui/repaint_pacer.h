// Paces the repaints of widgets whose content a fast line changes thousands
// of times a second: the first change in a frame (16 ms) is painted at once,
// the changes after it together at the frame's end. What the widgets hold
// always changes at once; only their pixels wait, for at most one frame.
// UI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace quorvel {

class RepaintPacer : public QObject {
  Q_OBJECT

 public:
  explicit RepaintPacer(QObject* parent);

  // Call before changing what `widget` shows.
  void Changing(QWidget* widget);

  // Runs `work` at the end of the current frame, once however often it is
  // asked for in the frame; at once when no frame runs. Starts a frame.
  void AtFrameEnd(std::function<void()> work);

  // No frame runs: everything held has been painted and done.
  bool Idle() const { return !frame_.isActive(); }

 private:
  void EndFrame();

  QTimer frame_;
  std::vector<QPointer<QWidget>> held_;
  std::function<void()> work_;
};

}  // namespace quorvel
