// "Something new" for a thread that looks when it likes (the window's event
// loop): any number of Raise calls between two looks turn the descriptor
// readable once, so a stream of news costs the looker one wake-up. The
// looker calls Take before it reads what is new; news raised after that
// raises the descriptor again, so none is lost between the two threads.
#pragma once

#include <atomic>

#include "core/event_fd.h"

namespace quorvel {

class NewsFlag {
 public:
  // Any thread.
  void Raise() {
    if (!raised_.exchange(true)) ready_.Signal();
  }
  // The looker: quiets the descriptor and says whether there was news. The
  // descriptor is drained before the flag drops, so a Raise in between
  // finds the flag up and its news is read after this returns.
  bool Take() {
    ready_.Drain();
    return raised_.exchange(false);
  }
  bool Raised() const { return raised_.load(); }
  int Descriptor() const { return ready_.Descriptor(); }

 private:
  std::atomic<bool> raised_{false};
  EventFd ready_;
};

}  // namespace quorvel
