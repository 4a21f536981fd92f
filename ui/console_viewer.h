// The console mode of the window: "Console" (View menu, Ctrl+Shift+F7) shows
// the device's output through the terminal emulator (console/console.h,
// drawn by ui/console_view.h) in the receive area, in the place of the
// receive box or the session view, which go on behind it; "Console
// settings…", "Send terminal size" and the window's Find while it shows;
// the grid in the status line ("console 80×24"); the [Console] section of
// the settings file.
//
// The console is a view of the window's link session, not a second line:
// it joins the session's listeners (hearing the terminal's traffic, not a
// file transfer's, so a ZMODEM receive that a shell's `sz` starts takes its
// bytes from under it), and what it sends goes through the session's one
// door, keys at once and a paste a piece at a time, each after the one
// before was written. So its traffic counts in RX and TX and reaches the
// session history and the log file as any other send does.
//
// It is made when first shown, so a window that never shows it pays
// nothing for it, and from then on it keeps listening while hidden: a
// terminal's screen is the sum of every byte (its modes, the alternate
// screen, the cursor), which a catch-up from the session history could not
// rebuild (the history is bounded and is kept only while the session view
// is on). Hidden, the view takes no changes and draws nothing; the
// console's own thread still feeds the emulator.
//
// While the console has the focus it takes the window's keys that a shell
// needs (plain Ctrl+Q and Ctrl+F go to the device); Ctrl+Shift with a
// letter stays the window's, and Ctrl+Shift+Q quits. UI thread.
#pragma once

#include <QObject>
#include <filesystem>
#include <memory>

#include "connection/link_session.h"
#include "settings/console_settings.h"

class QAction;

namespace quorvel {

class Console;
class ConsoleFindBar;
class ConsoleView;
class SessionViewer;
class StatusLine;
class WindowCommands;
class WindowLayout;

class ConsoleViewer : public QObject {
 public:
  struct Parts {
    QWidget* window;
    WindowLayout& layout;  // its view pane holds the console
    LinkSession& link;     // the line the console shows and sends on
    SessionViewer& session;
    StatusLine& status;
    std::filesystem::path settingsFile;
  };
  // Reads [Console] and shows the console at once when it says so: call
  // before the link first opens, so the console hears it from the start.
  explicit ConsoleViewer(Parts parts);
  // Leaves the line; call once nothing reads or writes it any more.
  ~ConsoleViewer() override;

  // Takes "Console", "Console settings…", "Send terminal size" and Find
  // (while the console shows) of the command table.
  void BindCommands(WindowCommands& commands);

  bool Shown() const;
  void SetShown(bool shown);
  // Gives the console the keyboard when it shows.
  void FocusIfShown();

  const ConsoleSettings& Settings() const { return settings_; }
  // Applies and stores `options`.
  void Apply(const ConsoleOptions& options);
  void AskSettings();
  void OpenFind();
  void SendSize();

  // Null until first shown.
  Console* Terminal() const { return console_.get(); }
  ConsoleView* View() const { return view_; }
  ConsoleFindBar* FindBar() const { return findBar_; }

 private:
  class Feed;

  void EnsureConsole();
  // The entries, the status line's field: as the console shows or not.
  void ShowState();
  void ShowSize();
  void Save();

  Parts parts_;
  ConsoleSettings settings_;
  std::unique_ptr<Console> console_;
  std::unique_ptr<Feed> feed_;
  ConsoleView* view_ = nullptr;
  ConsoleFindBar* findBar_ = nullptr;
  QAction* mode_ = nullptr;
  QAction* size_ = nullptr;
  QAction* find_ = nullptr;
};

}  // namespace quorvel
