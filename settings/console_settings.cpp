#include "settings/console_settings.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kConsoleSection[] = "Console";

template <typename Value>
Value ChoiceOf(std::span<const KeyChoice> table, const std::optional<std::string>& key,
               Value fallback) {
  if (!key) return fallback;
  for (const KeyChoice& choice : table) {
    if (choice.key == *key) return static_cast<Value>(choice.value);
  }
  return fallback;
}

std::string KeyOf(std::span<const KeyChoice> table, int value) {
  for (const KeyChoice& choice : table) {
    if (choice.value == value) return std::string(choice.key);
  }
  return std::string(table.front().key);
}

template <typename Choice>
std::string MapKey(std::span<const MapChoice<Choice>> table, Choice value) {
  for (const MapChoice<Choice>& choice : table) {
    if (choice.value == value) return std::string(choice.key);
  }
  return std::string(table.front().key);
}

// The rows kept: a whole number within the bounds; anything else the default.
size_t ScrollbackRows(const std::optional<std::string>& text, size_t fallback) {
  if (!text || text->empty()) return fallback;
  uint64_t rows = 0;
  const char* end = text->data() + text->size();
  auto [stop, error] = std::from_chars(text->data(), end, rows);
  if (error != std::errc() || stop != end) return fallback;
  return static_cast<size_t>(
      std::clamp<uint64_t>(rows, kMinConsoleScrollback, kMaxConsoleScrollback));
}

}  // namespace

ConsoleSettings LoadConsoleSettings(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  auto get = [&](const char* key) { return document.Get(kConsoleSection, key); };
  ConsoleSettings settings;
  ConsoleOptions& options = settings.options;
  settings.shown = ProfileInteger(get("Shown"), 0) != 0;
  options.keys.enter = ChoiceOf(EnterTable(), get("Enter"), options.keys.enter);
  options.keys.backspace = ChoiceOf(BackspaceTable(), get("Backspace"), options.keys.backspace);
  if (std::optional<std::string> encoding = get("Encoding")) {
    options.keys.encoding = TextEncodingFromKey(*encoding).value_or(options.keys.encoding);
  }
  options.localEcho = ProfileInteger(get("LocalEcho"), 0) != 0;
  auto maps = [&](const char* cr, const char* lf, const char* erase, LineMap& map) {
    if (auto key = get(cr)) map.cr = CrMapFromKey(*key).value_or(map.cr);
    if (auto key = get(lf)) map.lf = LfMapFromKey(*key).value_or(map.lf);
    if (auto key = get(erase)) map.erase = EraseMapFromKey(*key).value_or(map.erase);
  };
  maps("InputCr", "InputLf", "InputErase", options.input);
  maps("OutputCr", "OutputLf", "OutputErase", options.output);
  options.scrollbackRows = ScrollbackRows(get("Scrollback"), options.scrollbackRows);
  return settings;
}

bool SaveConsoleSettings(const ConsoleSettings& settings, const std::filesystem::path& file) {
  const ConsoleOptions& options = settings.options;
  auto flag = [](bool on) { return on ? "1" : "0"; };
  std::vector<ProfileValue> values = {
      {kConsoleSection, "Shown", flag(settings.shown)},
      {kConsoleSection, "Enter", KeyOf(EnterTable(), static_cast<int>(options.keys.enter))},
      {kConsoleSection, "Backspace",
       KeyOf(BackspaceTable(), static_cast<int>(options.keys.backspace))},
      {kConsoleSection, "Encoding", std::string(InfoOf(options.keys.encoding).key)},
      {kConsoleSection, "LocalEcho", flag(options.localEcho)},
      {kConsoleSection, "InputCr", MapKey(CrMapTable(), options.input.cr)},
      {kConsoleSection, "InputLf", MapKey(LfMapTable(), options.input.lf)},
      {kConsoleSection, "InputErase", MapKey(EraseMapTable(), options.input.erase)},
      {kConsoleSection, "OutputCr", MapKey(CrMapTable(), options.output.cr)},
      {kConsoleSection, "OutputLf", MapKey(LfMapTable(), options.output.lf)},
      {kConsoleSection, "OutputErase", MapKey(EraseMapTable(), options.output.erase)},
      {kConsoleSection, "Scrollback", std::to_string(options.scrollbackRows)},
  };
  return EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
}

}  // namespace quorvel
