// The session view mode of the window: "Session view" and its commands
// (View and Log menus), the view in the receive box's place while the mode is on
// (the receive box itself is only hidden, and goes on exactly as before),
// the find bar, "View settings…" and "Save session…", the [View] section of
// the settings file, and the store the view draws from, which taps the line
// while the mode is on.
//
// The window tells it when a burst was published, so the view repaints at
// the display's pace; sends and events the store signals go through the
// window's pacing too, so a fast exchange of answers repaints no more often
// than a flood. Clear and the hex display it hears from the controls
// themselves. The link records its own events (opened, closed, away, back,
// settings, modem lines, break) through the store's tap; logging started and
// stopped are recorded here. UI thread.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "core/line_listeners.h"
#include "core/terminal_state.h"
#include "history/session_store.h"
#include "logging/line_logger.h"
#include "settings/view_settings.h"
#include "ui/dialog_template.h"

class QAction;
class QSocketNotifier;
class QWidget;

namespace quorvel {

class SessionFindBar;
class SessionView;
class WindowCommands;

class SessionViewer : public QObject {
 public:
  struct Parts {
    QWidget* window;
    std::function<QWidget*(ControlId)> control;  // the template's controls
    LineListeners& listeners;                    // of the line shown
    TerminalState* state;  // its hex display and frame end; null: text, no frame end
    const LineLogger& logger;
    std::filesystem::path settingsFile;
    // Asks the window to publish at its pace; it then calls Publish.
    std::function<void()> requestPublish;
  };
  // Reads [View] and turns the mode on when it says so. Call before the link
  // first opens, so its opening is the history's first line.
  explicit SessionViewer(Parts parts);
  // Stops the tap; call once nothing reads or writes the line any more.
  ~SessionViewer() override;

  // Takes "Session view" and the view's commands of the command table.
  void BindCommands(WindowCommands& commands);

  // The window showed a burst: the view takes it at the same pace.
  void Publish();
  // Stops taping the line; for after the link is shut down.
  void Shutdown();

  bool On() const { return settings_.sessionView; }
  void SetOn(bool on);
  // Another view holds the pane (the console): while covered, the session
  // view and the receive box stay hidden, the history goes on as the mode
  // says, and Find is the cover's. Uncovered, the pane shows what the mode
  // says again.
  void SetCovered(bool covered);
  bool Covered() const { return covered_; }
  const ViewSettings& Settings() const { return settings_; }
  // Applies and stores `settings` (the mode included).
  void Apply(const ViewSettings& settings);
  // `watcher` hears the settings now and after every change (the choices
  // that other parts of the window act on).
  void WatchSettings(std::function<void(const ViewSettings&)> watcher);

  void AskSettings();
  void OpenFind();
  // Asks where and how, then writes the history on a thread of its own: a
  // history of many megabytes takes a while, and the window goes on.
  void AskAndSave();
  void CopyAsHex();
  // A save is being written (its menu entry says so and waits).
  bool Saving() const { return saver_.joinable(); }

  SessionStore& Store() { return store_; }
  // Made on first use.
  SessionView* View();
  SessionFindBar* FindBar();
  QAction* ModeAction() const { return mode_; }

 private:
  void EnsureView();
  void Place();
  void Tick();
  void ApplyToView();
  void Record(SessionEvent event, const QString& text);
  void FinishSave(bool saved, const std::string& error);
  void ShowSaving();

  Parts parts_;
  ViewSettings settings_;
  std::function<void(const ViewSettings&)> settingsWatcher_;
  SessionStore store_;
  SessionView* view_ = nullptr;
  SessionFindBar* findBar_ = nullptr;
  QSocketNotifier* news_;
  QAction* mode_ = nullptr;
  QList<QAction*> viewActions_;  // usable only while the mode is on
  QAction* save_ = nullptr;
  QAction* find_ = nullptr;
  bool covered_ = false;
  bool wasLogging_ = false;
  std::thread saver_;
  std::atomic<bool> stopSaving_{false};
};

}  // namespace quorvel
