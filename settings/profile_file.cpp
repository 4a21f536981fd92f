#include "settings/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

#include "core/unique_fd.h"

namespace quorvel {
namespace {

// The file at `path` with the symbolic links of its last component followed,
// so that a save replaces the linked file rather than the link. Empty for a
// link loop.
std::filesystem::path ResolveLinks(std::filesystem::path path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char target[PATH_MAX];
    ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return {};
    std::filesystem::path next(std::string(target, static_cast<std::size_t>(length)));
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return {};
}

ProfileFileStatus ReadFile(const std::filesystem::path& path, std::string& text,
                           struct stat& info) {
  text.clear();
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) return errno == ENOENT ? ProfileFileStatus::kMissing : ProfileFileStatus::kUnusable;
  if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return ProfileFileStatus::kUnusable;
  }
  if (static_cast<std::size_t>(info.st_size) > kMaxProfileFileSize) {
    return ProfileFileStatus::kTooLarge;
  }
  char buffer[16384];
  std::size_t lines = 0;
  for (;;) {
    ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      text.clear();
      return ProfileFileStatus::kUnusable;
    }
    if (got == 0) break;
    lines += static_cast<std::size_t>(std::count(buffer, buffer + got, '\n'));
    if (text.size() + static_cast<std::size_t>(got) > kMaxProfileFileSize ||
        lines > kMaxProfileLines) {
      text.clear();  // a file that grew, or one of countless short lines
      return ProfileFileStatus::kTooLarge;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return ProfileFileStatus::kRead;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t done = ::write(fd, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
  return true;
}

// Writes `text` to a new file beside `target` and renames it over `target`.
// `previous` (null for a new file) gives the mode and owner to keep.
bool ReplaceFile(const std::filesystem::path& target, std::string_view text,
                 const struct stat* previous) {
  static std::atomic<unsigned> serial{0};
  std::filesystem::path directory = target.parent_path();
  std::string base = "." + target.filename().string() + ".";
  std::filesystem::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%ld.%x.%lx", static_cast<long>(::getpid()),
                  serial.fetch_add(1), static_cast<unsigned long>(now.tv_nsec));
    temporary = directory / (base + suffix);
    // The umask shapes a new file's mode as for any file the user creates.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = true;
  if (previous != nullptr) {
    // Best effort: an owner change needs privileges most users lack.
    if (::fchown(fd, previous->st_uid, previous->st_gid) != 0) {
    }
    ok = ::fchmod(fd, previous->st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable; the file is in place either way.
  int dirFd =
      ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace

ProfileFileStatus ReadProfileFile(const std::filesystem::path& path, std::string& text) {
  struct stat info;
  return ReadFile(path, text, info);
}

bool EditProfileFile(const std::filesystem::path& path,
                     const std::function<bool(ProfileDocument&)>& edit) {
  std::filesystem::path target = ResolveLinks(path);
  if (target.empty()) return false;
  std::string text;
  struct stat info;
  ProfileFileStatus status = ReadFile(target, text, info);
  if (status == ProfileFileStatus::kUnusable || status == ProfileFileStatus::kTooLarge)
    return false;
  bool exists = status == ProfileFileStatus::kRead;
  ProfileDocument document(text);
  if (!edit(document)) return false;
  std::string next = document.Text();
  if (exists && next == text) return true;
  // A file the user made read-only stays as it is, as writing it in place would.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
  return ReplaceFile(target, next, exists ? &info : nullptr);
}

std::optional<std::string> ReadProfileString(const std::filesystem::path& path,
                                             std::string_view section, std::string_view key) {
  std::string text;
  ReadProfileFile(path, text);
  return ProfileDocument(text).Get(section, key);
}

int32_t ReadProfileInt(const std::filesystem::path& path, std::string_view section,
                       std::string_view key, int32_t defaultValue) {
  return ProfileInteger(ReadProfileString(path, section, key), defaultValue);
}

bool WriteProfileString(const std::filesystem::path& path, std::string_view section,
                        std::string_view key, std::string_view value) {
  return EditProfileFile(
      path, [&](ProfileDocument& document) { return document.Set(section, key, value); });
}

}  // namespace quorvel
