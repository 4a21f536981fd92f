// Reading and writing profile (INI) files the way users expect from desktop
// systems whose terminals keep their settings in them, since people carry
// these files between machines and edit them by hand:
// - "[Section]" lines open sections, "key=value" lines fill them; section and
//   key names match ASCII case-insensitively, and spaces around names and
//   values are ignored; a value wrapped in matching quotes (' or ") loses them;
// - a line whose first non-space character is ';' is a comment;
// - the first matching section, and within it the first matching key, wins;
// - writing a key replaces its value in place, adds a missing key after the
//   last line of its section, and a missing section at the end of the file;
//   every other byte of the file stays as it was, line endings included (new
//   lines take the file's style, CRLF or LF; LF for a new file);
// - a file is replaced atomically: the new content goes to a temporary file in
//   the same directory, is synced and renamed over the old one, so readers see
//   the old file or the new one, never a part. A failed write leaves the old
//   file untouched.
// None of these functions throws; any thread may call them, on different
// files or on one file (the last rename wins).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

// A file larger than this is not a profile anyone wrote by hand: it reads as
// unusable, so a stray huge file costs no time or memory, and no write ever
// replaces it (it may be someone's data).
inline constexpr std::size_t kMaxProfileFileSize = 1024 * 1024;

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

enum class ProfileFileStatus {
  kRead,      // the file's text was read
  kMissing,   // no file (or a dangling link): an empty profile
  kUnusable,  // a directory, device, unreadable or oversized file: left alone
};

// Reads the whole regular file at `path` into `text` (emptied otherwise).
// Never blocks on a FIFO or device.
ProfileFileStatus ReadProfileFile(const std::filesystem::path& path, std::string& text);

// Reads `path`, lets `edit` change the document, and replaces the file
// atomically when the text changed. A missing file is created (through a
// dangling symbolic link, its target is). Returns false, leaving the file as it
// was, when the file is unusable, `edit` returns false, or writing fails (read-
// only directory or file, full disk, missing directory). Symbolic links are
// followed, so a linked file is replaced and the link kept.
bool EditProfileFile(const std::filesystem::path& path,
                     const std::function<bool(ProfileDocument&)>& edit);

// One-key conveniences on a file path, for tools that share a profile with the
// terminal (e.g. adding "COM5=/dev/pts/3" to [PortMap] of ./Quorvel.ini).
// Reads treat an unusable file like a missing one.
std::optional<std::string> ReadProfileString(const std::filesystem::path& path,
                                             std::string_view section, std::string_view key);
int32_t ReadProfileInt(const std::filesystem::path& path, std::string_view section,
                       std::string_view key, int32_t defaultValue);
bool WriteProfileString(const std::filesystem::path& path, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace quorvel
