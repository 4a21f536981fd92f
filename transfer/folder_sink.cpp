#include "transfer/folder_sink.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "transfer/safe_name.h"

namespace quorvel {
namespace {

constexpr int kMaxNumbered = 9999;

std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Bytes the folder's file system still gives an unprivileged user; nullopt
// when it cannot say.
std::optional<uint64_t> FreeBytes(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

// The process's file-creation mask, read without changing it (umask() would
// change it for every thread for a moment).
mode_t CreationMask() {
  FILE* status = std::fopen("/proc/self/status", "re");
  unsigned mask = 022;
  char line[128];
  while (status && std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
  }
  if (status) std::fclose(status);
  return static_cast<mode_t>(mask);
}

// Moves `from` to `to` unless `to` exists: 0, EEXIST, or another errno.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a hard link fails on a taken name.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

FolderSink::~FolderSink() {
  std::string ignored;
  if (fd_) End(false, &ignored);
}

bool FolderSink::Begin(const IncomingFile& file, std::string* reason) {
  std::string ignored;
  if (fd_) End(false, &ignored);
  std::string name = options_.fixedName.empty() ? SafeFileName(file.name) : options_.fixedName;
  if (name.empty()) {
    *reason = "the sender's file name cannot be made safe";
    return false;
  }
  if (file.size) {
    std::optional<uint64_t> free = FreeBytes(options_.folder);
    if (free && *file.size > *free) {
      *reason = name + " is " + std::to_string(*file.size) + " bytes; " + std::to_string(*free) +
                " bytes are free in the folder";
      return false;
    }
  }
  std::string pattern = Joined(options_.folder, ".quorvel-receiving-XXXXXX");
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    *reason = "cannot write in " + (options_.folder.empty() ? "." : options_.folder) + ": " +
              std::strerror(errno);
    return false;
  }
  fd_.Reset(fd);
  ::fchmod(fd, 0666 & ~CreationMask());
  temporary_ = pattern;
  limit_ = file.size;
  modified_ = file.modifiedUnix;
  held_.clear();
  held_.reserve(kHeldBytes);
  taken_ = 0;
  writeFailed_ = false;
  written_ = 0;
  std::lock_guard guard(mutex_);
  name_ = name;
  return true;
}

bool FolderSink::Write(const uint8_t* bytes, size_t count, std::string* reason) {
  if (!fd_) {
    *reason = "no file is open";
    return false;
  }
  if (limit_ && taken_ + count > *limit_) count = static_cast<size_t>(*limit_ - taken_);
  held_.insert(held_.end(), bytes, bytes + count);
  taken_ += count;
  return held_.size() < kHeldBytes || WriteHeld(reason);
}

bool FolderSink::WriteHeld(std::string* reason) {
  size_t done = 0;
  while (done < held_.size()) {
    ssize_t n = ::write(fd_.Get(), held_.data() + done, held_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *reason = "cannot write " + CurrentName() + ": " + std::strerror(n < 0 ? errno : ENOSPC);
      held_.clear();
      writeFailed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
    written_ += static_cast<size_t>(n);
  }
  held_.clear();
  return true;
}

bool FolderSink::End(bool complete, std::string* reason) {
  if (!fd_) return true;
  const bool allWritten = WriteHeld(reason) && !writeFailed_;
  complete = complete && allWritten;
  if (modified_ && complete) {
    timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*modified_), 0}};
    ::futimens(fd_.Get(), times);
  }
  fd_.Reset();
  if (!complete && !keepPartial_.load()) {
    ::unlink(temporary_.c_str());
    return allWritten;
  }
  // A file that cannot be given its name stays under the hidden one rather
  // than being lost.
  std::string placed = Place(complete && options_.existing == ExistingFiles::kReplace);
  if (placed.empty()) placed = temporary_;
  std::lock_guard guard(mutex_);
  files_.push_back({placed, written_, complete});
  return allWritten;
}

// Gives the written file its name; "" when no name could be had.
std::string FolderSink::Place(bool replace) {
  std::string name = CurrentName();
  std::string target = Joined(options_.folder, name);
  if (replace) return ::rename(temporary_.c_str(), target.c_str()) == 0 ? target : "";
  for (int n = 1; n <= kMaxNumbered; ++n) {
    int error = RenameNoReplace(temporary_, target);
    if (error == 0) return target;
    if (error != EEXIST) return "";
    target = Joined(options_.folder, NumberedFileName(name, n));
  }
  return "";
}

std::vector<FolderSink::Saved> FolderSink::Files() const {
  std::lock_guard guard(mutex_);
  return files_;
}

std::string FolderSink::CurrentName() const {
  std::lock_guard guard(mutex_);
  return name_;
}

}  // namespace quorvel
