// The window's size, place and panes, and the text size of what it shows,
// in the settings file, each in a section of its own so the terminal's own
// keys stay as they are:
//   [Window]  Geometry (x,y,width,height of the window's normal size and
//             place, in the desktop's logical pixels), Maximized (0 or 1),
//             SendBoxHeight, SendListWidth, PaneWidth (pixels)
//   [View]    TextSize (points, of the session view and the boxes)
// A missing, damaged or out-of-range value reads as "none", and the window
// then takes its default for it (the template's size, centred). Saving
// writes only these keys and keeps every other line; TextSize is written
// only once it differs from the default or is already there, so a file
// whose user never zoomed keeps its [View] as it was. UI thread, at start
// and at close.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorvel {

inline constexpr int kDefaultTextPoints = 9;
inline constexpr int kMinTextPoints = 6;
inline constexpr int kMaxTextPoints = 48;
// Larger than any desktop's logical size; a stored value beyond it is damage.
inline constexpr int kMaxWindowExtent = 100'000;

struct WindowRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const WindowRect&) const = default;
};

struct WindowSettings {
  std::optional<WindowRect> geometry;  // none: the default size, centred
  bool maximized = false;
  int sendBoxHeight = 0;  // 0: the template's
  int sendListWidth = 0;  // 0: the panel's default
  int paneWidth = 0;      // of a pane beside the view; 0: its own
  int textPoints = kDefaultTextPoints;

  bool operator==(const WindowSettings&) const = default;
};

WindowSettings LoadWindowSettings(const std::filesystem::path& file);
bool SaveWindowSettings(const WindowSettings& settings, const std::filesystem::path& file);

// "x,y,width,height" as four whole numbers (spaces around them allowed), the
// size positive; nullopt for anything else.
std::optional<WindowRect> ParseWindowRect(const std::string& text);

}  // namespace quorvel
