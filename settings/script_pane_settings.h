// The Script pane's choices in the settings file, in a section of its own:
//   [Script]  Shown (0 or 1), File (the script last opened or saved, as a
//             path; empty for none), Width (the pane's width in pixels, 200
//             to 4000)
// A missing or bad value reads as its default; saving writes only these
// keys and keeps every other line. UI thread.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

struct ScriptPaneSettings {
  bool shown = false;
  std::string file;
  int width = 520;
  bool operator==(const ScriptPaneSettings&) const = default;
};

ScriptPaneSettings LoadScriptPaneSettings(const std::filesystem::path& file);
bool SaveScriptPaneSettings(const ScriptPaneSettings& settings, const std::filesystem::path& file);

}  // namespace quorvel
