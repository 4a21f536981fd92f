// "Script" (View menu, Ctrl+Shift+U) shows and hides the Script pane beside
// the session view; "Run script" (F5) and "Stop script"
// (Shift+F5) in the Send menu run the pane's text against the window's
// link session and stop it. The script runs on a thread of its own
// (ScriptRunner) through a SessionScriptLink: its sends go through the
// session's door in order with the user's, its line settings are run by the
// UI thread from the hub's uiCalls, which the window serves. What the run
// says comes through the runner's event descriptor; the status line says
// "script: running 12 s" while it runs and how it ended after.
//
// A script ends with the port: closing the port stops it, and so does the
// window's close, which waits for its end while it serves the script's
// calls (Stop ends every wait of a script promptly, so a script never keeps
// the window from closing). Whether the pane shows, its width and the last
// file are kept in [Script]. UI thread.
#pragma once

#include <QObject>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "connection/link_session.h"

class QAction;
class QSocketNotifier;
class QTimer;
class QWidget;

namespace quorvel {

class ScriptPane;
class ScriptRunner;
class SessionScriptLink;
class StatusLine;
class WindowCommands;
class WindowLayout;

class ScriptViewer : public QObject {
 public:
  // `apply` sets the line settings a script asks for and shows them in the
  // window's selectors; false when the driver refused them (UI thread).
  ScriptViewer(QWidget& window, WindowLayout& layout, LinkSession& link, StatusLine& status,
               std::filesystem::path settingsFile,
               std::function<bool(const LineParameters&)> apply = {});
  ~ScriptViewer() override;  // after the link's Shutdown (the script link outlives its worker)

  // Takes "Script", "Run script" and "Stop script" of the command table.
  void BindCommands(WindowCommands& commands);
  void SetShown(bool shown);
  bool Shown() const;
  // Null until first shown.
  ScriptPane* Pane() const { return pane_; }

  // Runs the pane's text (shown first); false, with the reason in the
  // pane's output, when it could not start (the port closed, a syntax
  // error, a script running).
  bool Run();
  // Ends the running script promptly; its end comes as an event.
  void Stop();
  bool Running() const;
  // Told by the window whenever the link's state changes: a closed port,
  // or one opened on another device, stops the script.
  void LinkChanged(const LinkStatus& status);
  // Stops a running script and waits for its end, serving the hub's calls
  // meanwhile. Before the link shuts down.
  void Shutdown();

 private:
  void EnsurePane();
  void KeepSize();
  void TakeEvents();
  void ShowState();

  QWidget& window_;
  WindowLayout& layout_;
  LinkSession& link_;
  StatusLine& status_;
  std::filesystem::path settingsFile_;
  std::function<bool(const LineParameters&)> apply_;
  ScriptPane* pane_ = nullptr;
  QAction* action_ = nullptr;
  QAction* runAction_ = nullptr;
  QAction* stopAction_ = nullptr;
  // Made at the first run: the link before the runner, which goes first.
  std::unique_ptr<SessionScriptLink> scriptLink_;
  std::unique_ptr<ScriptRunner> runner_;
  QSocketNotifier* events_ = nullptr;
  QTimer* clock_ = nullptr;  // the status line's seconds, only while a script runs
  std::chrono::steady_clock::time_point started_;
  std::string path_;  // the port the running script was started on
};

}  // namespace quorvel
