// A device starting a ZMODEM send to us, seen in what the line brings while
// no transfer has it: the receive worker hands every burst to this tap
// (TerminalState::startTap), and the window's event loop watches
// Descriptor() and starts the receive. Our own sends are not watched.
//
// Threads: Received on the receive worker's; Descriptor and TakeStart on
// the window's.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/event_fd.h"
#include "core/line_tap.h"
#include "transfer/zmodem_autostart.h"

namespace quorvel {

class ZmodemStartTap : public LineTap {
 public:
  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t* bytes, int count) override {
    (void)bytes;
    (void)count;
  }

  // Readable once a start was seen, until TakeStart.
  int Descriptor() const { return wake_.Descriptor(); }
  // Whether a start was seen since the last call.
  bool TakeStart();

 private:
  ZmodemStartDetector detector_;  // the receive worker's alone
  std::atomic<bool> started_{false};
  EventFd wake_;
};

}  // namespace quorvel
