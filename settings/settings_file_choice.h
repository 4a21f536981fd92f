// Which file a session keeps its settings in. The file the user named is
// used unless it cannot be: too large to be a settings file (beyond
// kMaxProfileFileSize or kMaxProfileLines), not a regular file, or not
// readable. Then it is left exactly as it is (no save ever replaces it), and
// the session reads and writes "<file>.new" beside it instead, so that its
// changes are kept where the user finds them; the user is told in a sentence.
// UI thread, at start.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel {

struct SettingsFileChoice {
  std::filesystem::path file;  // the file the session uses
  std::string problem;         // "" when that is the file named
};

SettingsFileChoice ChooseSettingsFile(const std::filesystem::path& named);

// The bounds of a profile file in words: "8 MiB or 100,000 lines".
std::string ProfileLimitText();

}  // namespace quorvel
