// Profile (INI) text as users expect it from desktop systems whose terminals
// keep their settings in such files, since people carry these files between
// machines and edit them by hand:
// - "[Section]" lines open sections, "key=value" lines fill them; section and
//   key names match ASCII case-insensitively, and spaces around names and
//   values are ignored; a value wrapped in matching quotes (' or ") loses them;
// - a line whose first non-space character is ';' is a comment;
// - the first matching section, and within it the first matching key, wins;
// - writing a key replaces its value in place, adds a missing key after the
//   last line of its section, and a missing section at the end of the file;
//   every other byte of the text stays as it was, line endings included (new
//   lines take the text's style, CRLF or LF; LF for a new text).
// Nothing here throws or touches a file (settings/profile_file.h does); a
// document belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

struct ProfileValue {
  std::string section;
  std::string key;
  std::string value;
};

// The text of one profile file, held as its lines. Unchanged lines keep their
// bytes exactly, so Text() of an unedited document is the text it was made of.
class ProfileDocument {
 public:
  ProfileDocument() = default;
  explicit ProfileDocument(std::string_view text);

  // The value of `key` in the first `section` of that name, without the spaces
  // around it and without matching outer quotes; "" for a key line without
  // '='. nullopt when the section or the key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // The keys of the first `section` of that name with their values (as Get
  // gives them), in file order; of keys that repeat, only the first.
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;

  // Makes Get(section, key) give `value`. A key whose value already reads as
  // `value` is left as it is. Values with surrounding spaces or outer quotes
  // are written inside double quotes so they read back unchanged. Returns
  // false, changing nothing, for what a profile file cannot hold: an empty or
  // untrimmed name, a line break in any argument, ']' in a section name, '='
  // in a key name, a key starting with ';' or '['.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // Set for each value, in order, in one pass over the document: missing keys
  // of one section are added in the order given, missing sections likewise.
  // Values Set would refuse are skipped; returns whether none was.
  bool SetAll(const std::vector<ProfileValue>& values);

  // Removes the key lines of the first `section` of that name whose key
  // `remove` picks; every other line (comments, other keys) stays. For lists
  // kept as numbered keys, whose tail goes when the list shrinks.
  void RemoveKeys(std::string_view section, const std::function<bool(std::string_view)>& remove);

  std::string Text() const;

 private:
  struct Line {
    std::string content;  // without its line ending
    std::string ending;   // "\n", "\r\n", or "" for a last line without one
  };
  std::string NewLineEnding() const;

  std::vector<Line> lines_;
};

// The profile integer rule: a missing or empty value gives `defaultValue`;
// otherwise leading spaces are skipped, an optional '+' or '-' is taken, then
// decimal digits up to the first other character; no digits gives 0. Values
// beyond 32 bits wrap modulo 2^32, as the desktop profile reader does, so
// "4294967295" reads as -1 and any number of digits is safe.
int32_t ProfileInteger(const std::optional<std::string>& value, int32_t defaultValue);

}  // namespace quorvel
