// How the window's room is shared out. The template's controls sit in a form
// that keeps them where the template put them; what the window has beyond
// the template's size goes to the receive box (or the session view in its
// place), in width and height, and to the send box, in width. Between the
// view and the send row (the send box with the Send button) a splitter lets
// the send box's height be dragged; beside the view a second splitter waits,
// empty, for a pane to be added; the send list panel is a pane at the right
// of a third; the status line spans the whole bottom. The bottom row of the
// template follows the bottom edge, its counters from "Count TX:" on the
// right edge too. The window's minimum is the template's size with the
// status line (and the send list while it shows).
//
// It also keeps the text size of the view and the boxes, and takes the
// window's size, place and pane sizes from the settings and gives them back
// at close. UI thread.
#pragma once

#include <QObject>
#include <map>

#include "settings/window_settings.h"

class QSplitter;
class QVBoxLayout;
class QWidget;

namespace quorvel {

class AnchoredArea;
class DialogUnits;
class StatusLine;

class WindowLayout : public QObject {
 public:
  // Makes the form and the panes, and puts `status` below them.
  WindowLayout(QWidget& window, StatusLine& status, const DialogUnits& units);

  // Puts `bar` above everything, across the window; the window's minimum
  // and default heights count it.
  void SetMenuBar(QWidget* bar);

  // Where the template's controls are to be built.
  QWidget* Form() const;
  // Once they are built: moves the receive box into the view's pane and the
  // send box and the Send button into the send row, and anchors the rest.
  void Arrange(const std::map<int, QWidget*>& controls);

  // The receive box's pane. The session view and its find bar belong there
  // too: its column layout shows whichever of the box and the view is
  // visible, with the find bar above it while that shows.
  QWidget* ViewPane() const { return viewPane_; }
  // Puts `pane` to the right of the view, in a splitter with it; the view
  // keeps what the window gains, and a hidden pane takes no room. The pane
  // takes `width` until a width is stored.
  void AddBesideView(QWidget* pane, int width);
  // Shows or hides a pane beside the view; the window, unless maximised,
  // grows or shrinks by its width, so the view keeps its size.
  void ShowBesideView(QWidget* pane, bool shown);

  // The send list panel, at the right; `width` is what it takes from the
  // window (its splitter's handle included) until one is stored.
  void SetSendList(QWidget* panel, int width);
  // Shows or hides the panel; the window, unless maximised, grows or shrinks
  // by its width, so the template's controls stay where they are.
  void ShowSendList(bool shown);

  // The text size of the session view, the receive box and the send box.
  int TextPoints() const { return textPoints_; }
  void SetTextPoints(int points);

  // Takes the stored text size, pane sizes, size, place and maximised state:
  // call once every pane is in, before the window is shown.
  void Restore(const WindowSettings& stored);
  // What Restore takes, as the window is now.
  WindowSettings Stored() const;

 private:
  // Every control left in the form keeps its place; those from
  // `bottomRowTop` down follow the bottom edge, and of them those from the
  // TX count's label on the right edge too.
  void AnchorForm(QWidget* txBox, int bottomRowTop);
  QSize DefaultSize() const;

  QWidget& window_;
  QVBoxLayout* column_;
  QWidget* menuBar_ = nullptr;
  QSplitter* sideSplit_;  // the form | the send list
  AnchoredArea* form_;
  QSplitter* viewSplit_;  // the view and its neighbours over the send row
  QSplitter* paneSplit_;  // the view | panes added beside it
  QWidget* viewPane_;
  QVBoxLayout* viewColumn_;
  AnchoredArea* sendRow_ = nullptr;
  QWidget* sendBox_ = nullptr;
  QWidget* sendList_ = nullptr;
  int sendListWidth_ = 0;
  int paneWidth_ = 0;
  int textPoints_ = kDefaultTextPoints;
  int statusHeight_ = 0;
};

}  // namespace quorvel
