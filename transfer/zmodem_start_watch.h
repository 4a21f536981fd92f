// A device starting a ZMODEM send to us, seen in what the line brings while
// no transfer has it: a listener of the link that hears each run early, and
// the window's event loop watches Descriptor() and starts the receive. Our
// own sends are not watched.
//
// Threads: Received on the receive worker's; Descriptor and TakeStart on
// the window's.
#pragma once

#include <cstdint>

#include "core/line_listener.h"
#include "core/news_flag.h"
#include "transfer/zmodem_autostart.h"

namespace quorvel {

class ZmodemStartWatch : public LineListener {
 public:
  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t* bytes, int count) override {
    (void)bytes;
    (void)count;
  }

  // Readable once a start was seen, until TakeStart.
  int Descriptor() const { return started_.Descriptor(); }
  // Whether a start was seen since the last call.
  bool TakeStart() { return started_.Take(); }

 private:
  ZmodemStartDetector detector_;  // the receive worker's alone
  NewsFlag started_;
};

}  // namespace quorvel
