#include "support/pty_device.h"

#include <gtest/gtest.h>

#include "core/clock.h"

namespace quorvel::testing {

PtyDevice::PtyDevice() {
  if (!line_.Ok()) ADD_FAILURE() << "openpty failed";
}

void PtyDevice::Send(const std::vector<uint8_t>& bytes) {
  if (!line_.WriteAll(bytes, SteadyNowMs() + kSendTimeout.count())) {
    ADD_FAILURE() << "the device could not write " << bytes.size() << " bytes";
  }
}

void PtyDevice::Send(const std::string& text) {
  Send(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> PtyDevice::Receive(size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> got;
  line_.ReadExactly(count, got, SteadyNowMs() + timeout.count());
  return got;
}

std::vector<uint8_t> PtyDevice::Drain(std::chrono::milliseconds quiet) {
  return line_.Drain(static_cast<int>(quiet.count()));
}

LineSnapshot PtyDevice::Line() const {
  LineSnapshot line;
  EXPECT_TRUE(ReadLineSnapshot(line_.Master(), &line));
  return line;
}

}  // namespace quorvel::testing
