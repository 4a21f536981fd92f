// The settings file a session uses, chosen at start before anything reads
// it (settings/settings_file_choice.h). When the file named cannot be used,
// the user hears so in a message and the status line keeps saying where this
// session's settings go. UI thread.
#pragma once

#include <filesystem>

class QWidget;

namespace quorvel {

class StatusLine;

std::filesystem::path UseSettingsFile(QWidget* window, StatusLine& status,
                                      const std::filesystem::path& named);

}  // namespace quorvel
