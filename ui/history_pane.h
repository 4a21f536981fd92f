// A pane's own session history on screen: the session view over a store of
// the pane's (a second port's, a linked pair's), its find bar above it, and
// "Save session…" written on a thread of its own. The owner says when the
// store gained something (Changed); the view follows at most once a display
// frame, so a flood repaints sixty times a second, not once per read.
// UI thread; the store is read with its own short lock.
#pragma once

#include <QTimer>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "history/session_store.h"
#include "logging/log_format.h"
#include "ui/session_rows.h"

namespace quorvel {

class SessionFindBar;
class SessionView;

class HistoryPane : public QWidget {
 public:
  // `labels` name the directions in saved files; `marks` and `gaps` how the
  // view marks them. `settingsFile` keeps the save dialog's choices.
  HistoryPane(SessionStore& store, const LogLabels& labels, const DirectionMarks& marks, bool gaps,
              std::filesystem::path settingsFile, QWidget* parent);
  // Waits for a save being written.
  ~HistoryPane() override;

  // The store gained lines: the view takes them within a frame.
  void Changed();

  // The port's commands, on this pane's history.
  void OpenFind();
  void Clear();
  void CopyAsHex();
  void AskAndSave();
  bool Saving() const { return saver_.joinable(); }

  SessionView* View() const { return view_; }
  SessionFindBar* FindBar() const { return findBar_; }

 private:
  void FinishSave(bool saved, const std::string& error);

  SessionStore& store_;
  LogLabels labels_;
  std::filesystem::path settingsFile_;
  SessionView* view_;
  SessionFindBar* findBar_;
  QTimer sync_;
  std::thread saver_;
  std::atomic<bool> stopSaving_{false};
};

}  // namespace quorvel
