// A terminal window for a test: its own working directory with a Quorvel.ini
// whose [PortMap] maps COM1, COM2, ... to pseudo-terminals playing the
// devices, message boxes recorded instead of shown, and helpers that act as
// the user would.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/pty_device.h"
#include "ui/main_window.h"
#include "ui/message_box.h"

namespace quorvel::testing {

class TerminalHarness {
 public:
  // `ini` is put before the [PortMap] section, e.g. "[COMConfig]\nBRATE=7\n".
  explicit TerminalHarness(const std::string& ini = "", int devices = 1);
  ~TerminalHarness();
  TerminalHarness(const TerminalHarness&) = delete;
  TerminalHarness& operator=(const TerminalHarness&) = delete;

  // The window, initialised on first use (so the link opens then), with
  // the options set before.
  MainWindow& Window();
  // Before the window exists: its devices' modem lines are `modem`'s.
  void UseModem(ModemControl* modem) { modem_ = modem; }
  StartupOptions& Options() { return options_; }
  // Shows the window and waits until it is active, so keys reach it.
  bool ShowActive();
  // Destroys the window: its link is shut down.
  void CloseWindow();

  PtyDevice& Device(int index = 0) { return *devices_.at(static_cast<size_t>(index)); }
  QString Directory() const { return directory_.path(); }
  std::string IniText() const;

  QStringList Messages() const { return messages_; }
  void ClearMessages() { messages_.clear(); }

  template <class T>
  T* Get(ControlId id) {
    return qobject_cast<T*>(Window().Control(id));
  }
  QString Text(ControlId id);  // a line edit's, a button's or a text box's text

  // The user's actions.
  void Click(ControlId id);                      // a mouse click on the control
  void Choose(ControlId selector, int index);    // picks an entry from the list
  void Type(ControlId id, const QString& text);  // replaces a line edit's text
  // Types `text` key by key into the focused widget, any character included.
  static void TypeKeys(QWidget* widget, const QString& text);

  // Reads what the device receives while the window keeps serving the
  // worker, until `count` bytes came or `timeout` passed.
  std::vector<uint8_t> Receive(int device, size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything the device receives until it has been quiet for `quiet`.
  std::vector<uint8_t> Drain(int device,
                             std::chrono::milliseconds quiet = std::chrono::milliseconds(100));

  // The counters of the window's line.
  CounterValues Counters() { return Window().Link().Hub().counters.Read(); }

  // A field of the terminal state, read with its lock held.
  template <class F>
  auto Field(F read) {
    TerminalState& state = Window().State();
    std::lock_guard guard(state.lock);
    return read(state);
  }

 private:
  QTemporaryDir directory_;
  QString previousDirectory_;
  std::vector<std::unique_ptr<PtyDevice>> devices_;
  StartupOptions options_;
  std::unique_ptr<MainWindow> window_;
  ModemControl* modem_ = nullptr;
  QStringList messages_;
  MessagePresenter previousPresenter_;
};

// What a screen reader announces as the widget's name.
QString AnnouncedName(QWidget* widget);

// The first entry of `menu` or of its submenus, depth first, whose text
// without mnemonics starts with `prefix`; null when there is none.
QAction* MenuEntry(const QWidget* menu, const QString& prefix);

// Runs `action` on the first modal dialog or popup menu that opens (checked
// every few milliseconds, on the UI thread, from inside its modal loop). When
// none opens within `timeout`, nothing runs; when one stays open past it, it
// is closed, so a failing test ends instead of hanging.
class ModalWatcher {
 public:
  enum class Kind { kDialog, kPopupMenu };
  explicit ModalWatcher(Kind kind, std::function<void(QWidget*)> action,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~ModalWatcher();
  bool Ran() const { return *ran_; }
  QString SeenClass() const { return *seenClass_; }

 private:
  class QTimer* timer_;
  std::shared_ptr<bool> ran_ = std::make_shared<bool>(false);
  std::shared_ptr<QString> seenClass_ = std::make_shared<QString>();
};

}  // namespace quorvel::testing
