#include "settings/script_pane_settings.h"

#include <algorithm>
#include <vector>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kScriptSection[] = "Script";
constexpr int kLeastWidth = 200;
constexpr int kMostWidth = 4000;

}  // namespace

ScriptPaneSettings LoadScriptPaneSettings(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  ScriptPaneSettings settings;
  auto get = [&](const char* key) { return document.Get(kScriptSection, key); };
  settings.shown = ProfileInteger(get("Shown"), 0) != 0;
  // A name with a control character (a damaged file) would be opened as
  // some other file: none is remembered then.
  std::string path = get("File").value_or("");
  bool clean = std::none_of(path.begin(), path.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  if (clean) settings.file = path;
  settings.width =
      std::clamp(ProfileInteger(get("Width"), settings.width), kLeastWidth, kMostWidth);
  return settings;
}

bool SaveScriptPaneSettings(const ScriptPaneSettings& settings, const std::filesystem::path& file) {
  std::vector<ProfileValue> values = {
      {kScriptSection, "Shown", settings.shown ? "1" : "0"},
      {kScriptSection, "File", settings.file},
      {kScriptSection, "Width", std::to_string(settings.width)},
  };
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

}  // namespace quorvel
