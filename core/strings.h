// The terminal's string table: every text the user sees in a message box or a
// caption, so the core and the window show the same words.
#pragma once

namespace quorvel {

enum class StringId : int {
  kAboutMenu = 101,
  kSocketInitFail = 103,
  kWriteFail = 104,
  kOpenFail = 105,
  kOpenCaption = 106,
  kCloseCaption = 107,
};

// Never null: an id outside the table gives "".
const char* LoadString(StringId id);

}  // namespace quorvel
