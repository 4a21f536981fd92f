// A TransferChannel straight over a terminal device opened raw by path (a
// pseudo-terminal in the tests and benchmarks): the protocols without the
// terminal's link around them. Cancel() may come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/event_fd.h"
#include "core/unique_fd.h"
#include "transfer/transfer_channel.h"

namespace quorvel::testing {

class DescriptorChannel : public TransferChannel {
 public:
  explicit DescriptorChannel(const std::string& path);  // fails the test when it cannot open

  int Read(uint8_t* buffer, int capacity, int timeoutMs) override;
  bool Write(const uint8_t* bytes, int count) override;
  void DiscardInput() override;
  bool CancelRequested() const override { return cancelled_.load(); }

  void Cancel();
  uint64_t BytesWritten() const { return written_.load(); }

 private:
  UniqueFd fd_;
  EventFd cancel_;
  std::atomic<bool> cancelled_{false};
  std::atomic<uint64_t> written_{0};
};

}  // namespace quorvel::testing
