// One owner for one file descriptor: move-only, -1 when it owns none, and
// the destructor closes what it owns once, without retrying (on Linux the
// descriptor is gone after close() whatever it returns). Not shared between
// threads: whoever holds it closes it.
#pragma once

#include <unistd.h>

#include <utility>

namespace quorvel {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }

  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes what it owns and takes `fd` (-1: nothing).
  void Reset(int fd = -1) {
    int old = std::exchange(fd_, fd);
    if (old >= 0) ::close(old);
  }

 private:
  int fd_ = -1;
};

}  // namespace quorvel
