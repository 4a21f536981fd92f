// Reading and writing profile (INI) files, whose text settings/
// profile_document.h reads and edits:
// - a file is read whole, and only up to kMaxProfileFileSize bytes and
//   kMaxProfileLines lines;
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

#include "settings/profile_document.h"

namespace quorvel {

// The largest profile read. The send list and the history at their limits
// take up to about 0.9 MB each with their escapes (8 KiB of hex text with
// tabs, or 1,024 typed \xHH escapes, an entry), so a settings file may pass
// 1 MiB; a file beyond these bounds is no settings file anyone kept: it is
// neither read (a stray huge file costs no time or memory: a document holds
// each line apart) nor ever replaced (it may be someone's data).
inline constexpr std::size_t kMaxProfileFileSize = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxProfileLines = 100'000;

enum class ProfileFileStatus {
  kRead,      // the file's text was read
  kMissing,   // no file (or a dangling link): an empty profile
  kTooLarge,  // beyond kMaxProfileFileSize or kMaxProfileLines: left alone
  kUnusable,  // a directory, device or unreadable file: left alone
};

// Reads the whole regular file at `path` into `text` (emptied otherwise).
// Never blocks on a FIFO or device.
ProfileFileStatus ReadProfileFile(const std::filesystem::path& path, std::string& text);

// Reads `path`, lets `edit` change the document, and replaces the file
// atomically when the text changed. A missing file is created (through a
// dangling symbolic link, its target is). Returns false, leaving the file as it
// was, when the file is unusable or too large, `edit` returns false, or writing fails (read-
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
