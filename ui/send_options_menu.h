// "Send options" in the window's context menu: the line ending, escapes and
// check of every send from the send box (the timer's and the auto-reply's
// too, as they send the box's text). A choice takes effect at once on the
// terminal state and is saved to [SendOptions]. UI thread.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>

#include "core/terminal_state.h"
#include "sending/send_composer.h"

class QMenu;

namespace quorvel {

class SendOptionsMenu : public QObject {
 public:
  // Adds the submenu to `menu`; `changed` runs after every choice.
  SendOptionsMenu(QMenu* menu, TerminalState& state, std::filesystem::path settingsFile,
                  std::function<void()> changed);

  QMenu* Menu() const { return menu_; }
  // Applies `options` as a choice in the menu would.
  void Choose(const SendOptions& options);

  // "CR LF · Modbus CRC-16 · escapes"; "" with every option off.
  static QString Summary(const SendOptions& options);

 private:
  void ShowChecks();

  TerminalState& state_;
  std::filesystem::path settingsFile_;
  std::function<void()> changed_;
  QMenu* menu_;
};

}  // namespace quorvel
