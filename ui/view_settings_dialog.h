// "View settings…": the session view's choices in a small dialog. UI thread.
#pragma once

#include <optional>

#include "settings/view_settings.h"

class QWidget;

namespace quorvel {

// Asks, starting from `current`; nothing when the user cancels. The mode
// itself (on or off) is not asked and comes back as it went in.
std::optional<ViewSettings> AskViewSettings(QWidget* parent, const ViewSettings& current);

}  // namespace quorvel
