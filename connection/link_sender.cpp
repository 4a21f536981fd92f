#include "connection/link_sender.h"

#include <utility>

namespace quorvel {

bool LinkSender::Send(std::vector<uint8_t> bytes) {
  // Nothing can reach a device that is away. (The timer's sends skip
  // silently: the port reads closed.)
  if (link_.Waiting()) {
    window_.ShowMessage(StringId::kWriteFail);
    return false;
  }
  if (!state_.port.IsOpen()) return false;
  link_.Writer().QueueBytes(std::move(bytes));
  return true;
}

}  // namespace quorvel
