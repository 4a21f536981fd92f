// "Plot" (View menu, Ctrl+Shift+P): shows and hides the plot pane beside the
// session view, made when first shown (so a window that never plots starts
// as small and as quickly as before) and kept until the window goes, hidden
// or not, so the plot goes on recording while hidden. The pane starts from
// the session view's history when the view is on. Whether it shows and its
// width are kept in [Plot]. UI thread.
#pragma once

#include <QObject>
#include <filesystem>

#include "core/line_listeners.h"

class QAction;

namespace quorvel {

class PlotPane;
class SessionViewer;
class WindowCommands;
class WindowLayout;

class PlotViewer : public QObject {
 public:
  // Shows the pane at once when [Plot] says so: call before the link first
  // opens, so its opening is the plot's first marker.
  PlotViewer(WindowLayout& layout, LineListeners& listeners, SessionViewer& session,
             std::filesystem::path settingsFile);
  ~PlotViewer() override;

  // Takes the "Plot" command of the command table.
  void BindCommands(WindowCommands& commands);
  void SetShown(bool shown);
  bool Shown() const;
  // Null until first shown.
  PlotPane* Pane() const { return pane_; }
  QAction* Action() const { return action_; }

 private:
  void EnsurePane();
  void KeepSize();

  WindowLayout& layout_;
  LineListeners& listeners_;
  SessionViewer& session_;
  std::filesystem::path settingsFile_;
  PlotPane* pane_ = nullptr;
  QAction* action_ = nullptr;
};

}  // namespace quorvel
