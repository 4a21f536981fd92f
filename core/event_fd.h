// A one-descriptor signal between threads: readable from Signal() until
// Drain(). Event loops and poll() can wait on it beside other descriptors.
// Any thread may call either operation.
#pragma once

#include "core/unique_fd.h"

namespace quorvel {

class EventFd {
 public:
  EventFd();  // Descriptor() is -1 if the kernel refused one; then nothing signals
  EventFd(const EventFd&) = delete;
  EventFd& operator=(const EventFd&) = delete;

  int Descriptor() const { return fd_.Get(); }
  void Signal();
  // Readable no longer, until the next Signal(); returns whether it was.
  bool Drain();

 private:
  UniqueFd fd_;
};

}  // namespace quorvel
