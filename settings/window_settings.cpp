#include "settings/window_settings.h"

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kWindow[] = "Window";
constexpr char kView[] = "View";
constexpr char kTextSizeKey[] = "TextSize";

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The whole of `text` as a number from `least` to `most`; a hand edit that
// left anything else beside the digits is damage, not a number.
std::optional<int> WholeNumber(std::string_view text, int least, int most) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (value < least || value > most) return std::nullopt;
  return value;
}

int Extent(const ProfileDocument& document, const char* key) {
  std::optional<std::string> text = document.Get(kWindow, key);
  return text ? WholeNumber(*text, 0, kMaxWindowExtent).value_or(0) : 0;
}

}  // namespace

std::optional<WindowRect> ParseWindowRect(const std::string& text) {
  int parts[4];
  std::string_view rest = text;
  for (int i = 0; i < 4; ++i) {
    size_t comma = i < 3 ? rest.find(',') : rest.size();
    if (comma == std::string_view::npos) return std::nullopt;
    bool isSize = i >= 2;
    std::optional<int> value =
        WholeNumber(rest.substr(0, comma), isSize ? 1 : -kMaxWindowExtent, kMaxWindowExtent);
    if (!value) return std::nullopt;
    parts[i] = *value;
    rest.remove_prefix(i < 3 ? comma + 1 : comma);
  }
  return WindowRect{parts[0], parts[1], parts[2], parts[3]};
}

WindowSettings LoadWindowSettings(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  WindowSettings settings;
  if (std::optional<std::string> geometry = document.Get(kWindow, "Geometry")) {
    settings.geometry = ParseWindowRect(*geometry);
  }
  settings.maximized = ProfileInteger(document.Get(kWindow, "Maximized"), 0) != 0;
  settings.sendBoxHeight = Extent(document, "SendBoxHeight");
  settings.sendListWidth = Extent(document, "SendListWidth");
  settings.paneWidth = Extent(document, "PaneWidth");
  if (std::optional<std::string> points = document.Get(kView, kTextSizeKey)) {
    settings.textPoints =
        WholeNumber(*points, kMinTextPoints, kMaxTextPoints).value_or(kDefaultTextPoints);
  }
  return settings;
}

bool SaveWindowSettings(const WindowSettings& settings, const std::filesystem::path& file) {
  std::vector<ProfileValue> values;
  if (settings.geometry) {
    const WindowRect& rect = *settings.geometry;
    values.push_back({kWindow, "Geometry",
                      std::to_string(rect.x) + "," + std::to_string(rect.y) + "," +
                          std::to_string(rect.width) + "," + std::to_string(rect.height)});
  }
  values.push_back({kWindow, "Maximized", settings.maximized ? "1" : "0"});
  values.push_back({kWindow, "SendBoxHeight", std::to_string(settings.sendBoxHeight)});
  values.push_back({kWindow, "SendListWidth", std::to_string(settings.sendListWidth)});
  values.push_back({kWindow, "PaneWidth", std::to_string(settings.paneWidth)});
  return EditProfileFile(file, [&](ProfileDocument& document) {
    if (settings.textPoints != kDefaultTextPoints || document.Get(kView, kTextSizeKey)) {
      values.push_back({kView, kTextSizeKey, std::to_string(settings.textPoints)});
    }
    return document.SetAll(values);
  });
}

}  // namespace quorvel
