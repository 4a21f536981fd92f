#include "support/pty_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel::testing {

PtyDevice::PtyDevice() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed: " << errno;
    return;
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  path_ = name;
}

PtyDevice::~PtyDevice() {
  Hangup();
  if (slave_ >= 0) close(slave_);
}

void PtyDevice::Send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd out = {master_, POLLOUT, 0};
      poll(&out, 1, 100);
    } else {
      ADD_FAILURE() << "device write failed: " << errno;
      return;
    }
  }
}

void PtyDevice::Send(const std::string& text) {
  Send(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> PtyDevice::Receive(size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> got;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd in = {master_, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buffer[4096];
    ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

std::vector<uint8_t> PtyDevice::Drain(std::chrono::milliseconds quiet) {
  std::vector<uint8_t> got;
  for (;;) {
    pollfd in = {master_, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(quiet.count())) <= 0) return got;
    uint8_t buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return got;
    got.insert(got.end(), buffer, buffer + n);
  }
}

LineSnapshot PtyDevice::Line() const {
  LineSnapshot line;
  EXPECT_TRUE(ReadLineSnapshot(master_, &line));
  return line;
}

void PtyDevice::Hangup() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace quorvel::testing
