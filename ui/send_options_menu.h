// "Send options" in the window's Send menu: the line ending, escapes and
// check of every send from the send box (the timer's and the auto-reply's
// too, as they send the box's text), and the encoding of all typed text. A
// choice takes effect at once on the terminal state and is saved to
// [SendOptions]. UI thread.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>

#include "core/terminal_state.h"
#include "sending/send_composer.h"
#include "sending/text_encoding.h"

class QMenu;

namespace quorvel {

class SendOptionsMenu : public QObject {
 public:
  // Fills `menu` with the choices; `changed` runs after every choice, and
  // `chooseEncoding` takes a choice of encoding (false: it was refused).
  SendOptionsMenu(QMenu* menu, TerminalState& state, std::filesystem::path settingsFile,
                  std::function<void()> changed, std::function<bool(TextEncoding)> chooseEncoding);

  QMenu* Menu() const { return menu_; }
  // Applies `options` as a choice in the menu would.
  void Choose(const SendOptions& options);
  // The same for the encoding; false when it was refused.
  bool ChooseEncoding(TextEncoding encoding);

  // "CR LF · Modbus CRC-16 · escapes · UTF-8"; "" with every option off and
  // Latin-1.
  static QString Summary(const SendOptions& options, TextEncoding encoding = TextEncoding::kLatin1);

 private:
  void ShowChecks();

  TerminalState& state_;
  std::filesystem::path settingsFile_;
  std::function<void()> changed_;
  std::function<bool(TextEncoding)> chooseEncoding_;
  QMenu* menu_;
};

}  // namespace quorvel
