#include "settings/plot_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kPlotSection[] = "Plot";
constexpr double kMostWindow = 1e9;
constexpr double kMostLimit = 1e300;

std::optional<double> Number(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  double value = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<uint64_t> Count(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  uint64_t value = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::string Text(double value) {
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : "0";
}

}  // namespace

PlotSettings LoadPlotSettings(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  PlotSettings settings;
  auto get = [&](const char* key) { return document.Get(kPlotSection, key); };
  settings.shown = ProfileInteger(get("Shown"), 0) != 0;
  auto size = [&](const char* key, int fallback, uint64_t least, uint64_t most) {
    return static_cast<int>(std::clamp<uint64_t>(Count(get(key)).value_or(fallback), least, most));
  };
  settings.width = size("Width", settings.width, 200, 4000);
  settings.height = size("Height", settings.height, 150, 3000);
  settings.sampleAxis = get("XAxis").value_or("time") == "sample";
  double window = Number(get("Window")).value_or(settings.window);
  if (window >= 0 && window <= kMostWindow) settings.window = window;
  settings.autoY = ProfileInteger(get("AutoY"), 1) != 0;
  std::optional<double> yMin = Number(get("YMin"));
  std::optional<double> yMax = Number(get("YMax"));
  if (yMin && yMax && *yMin < *yMax && std::abs(*yMin) <= kMostLimit &&
      std::abs(*yMax) <= kMostLimit) {
    settings.yMin = *yMin;
    settings.yMax = *yMax;
  }
  settings.regex = get("Regex").value_or("");
  settings.maxPoints =
      std::clamp<uint64_t>(Count(get("MaxPoints")).value_or(settings.maxPoints), 1000, 50'000'000);
  return settings;
}

bool SavePlotSettings(const PlotSettings& settings, const std::filesystem::path& file) {
  auto flag = [](bool on) { return on ? "1" : "0"; };
  std::vector<ProfileValue> values = {
      {kPlotSection, "Shown", flag(settings.shown)},
      {kPlotSection, "Width", std::to_string(settings.width)},
      {kPlotSection, "Height", std::to_string(settings.height)},
      {kPlotSection, "XAxis", settings.sampleAxis ? "sample" : "time"},
      {kPlotSection, "Window", Text(settings.window)},
      {kPlotSection, "AutoY", flag(settings.autoY)},
      {kPlotSection, "YMin", Text(settings.yMin)},
      {kPlotSection, "YMax", Text(settings.yMax)},
      {kPlotSection, "Regex", settings.regex},
      {kPlotSection, "MaxPoints", std::to_string(settings.maxPoints)},
  };
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

}  // namespace quorvel
