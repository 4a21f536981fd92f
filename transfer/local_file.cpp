#include "transfer/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvel {

std::unique_ptr<LocalFile> LocalFile::Open(const std::string& path, std::string* reason) {
  std::unique_ptr<LocalFile> file(new LocalFile);
  file->fd_.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!file->fd_ || ::fstat(file->fd_.Get(), &info) != 0) {
    *reason = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = "not a regular file";
    return nullptr;
  }
  size_t slash = path.find_last_of('/');
  file->name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  file->size_ = static_cast<uint64_t>(info.st_size);
  file->modified_ = static_cast<int64_t>(info.st_mtime);
  file->mode_ = static_cast<uint32_t>(info.st_mode & 07777);
  return file;
}

int64_t LocalFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t count, std::string* reason) {
  if (count >= kReadAhead) return ReadFromFile(offset, buffer, count, reason);
  size_t done = 0;
  while (done < count) {
    const uint64_t at = offset + done;
    if (at < aheadAt_ || at >= aheadAt_ + ahead_.size()) {
      ahead_.resize(kReadAhead);
      int64_t got = ReadFromFile(at, ahead_.data(), kReadAhead, reason);
      ahead_.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
      aheadAt_ = at;
      if (got < 0) return -1;
      if (got == 0) break;  // the end of the file
    }
    const size_t from = static_cast<size_t>(at - aheadAt_);
    const size_t n = std::min(count - done, ahead_.size() - from);
    std::memcpy(buffer + done, ahead_.data() + from, n);
    done += n;
  }
  return static_cast<int64_t>(done);
}

int64_t LocalFile::ReadFromFile(uint64_t offset, uint8_t* buffer, size_t count,
                                std::string* reason) {
  ssize_t got;
  do {
    got = ::pread(fd_.Get(), buffer, count, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  if (got < 0) *reason = std::strerror(errno);
  return got;
}

}  // namespace quorvel
