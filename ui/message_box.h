// Every message box of the terminal: modal, only OK, a warning icon, and the
// executable's base name as its title. UI thread only (the worker's messages
// reach the UI thread through the terminal state's call queue first).
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace quorvel {

using MessagePresenter = std::function<void(QWidget* parent, const QString& text)>;

// Shows `text` and returns once it was dismissed.
void ShowWarning(QWidget* parent, const QString& text);

// Replaces how messages are shown, e.g. so tests can record them without a
// modal loop; an empty presenter restores the message box. Returns the
// previous presenter (empty for the message box).
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// The title of every message box: the executable's base name.
QString MessageTitle();

}  // namespace quorvel
