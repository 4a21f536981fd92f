// "Console settings…": what Enter and Backspace send, the encoding of both
// directions, local echo, the maps of what is typed (input) and of what
// the device sends (output), and the scrollback kept. The first field has
// the focus. Modal, UI thread.
#pragma once

#include <optional>

#include "console/console.h"

class QWidget;

namespace quorvel {

// The options chosen; nullopt when cancelled.
std::optional<ConsoleOptions> AskConsoleSettings(QWidget* parent, const ConsoleOptions& current);

}  // namespace quorvel
