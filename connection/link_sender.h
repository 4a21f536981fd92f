// The one door through which the window's sends reach the line: the "Send"
// button, the send history and the send list all come here, so the link's
// state is looked at in one place. A link that waits for its device sends
// nothing and the user hears "Write com fail!", as of a failed write; a
// closed link sends nothing and says nothing; an open one queues the bytes
// on the link's writer, which sends them in turn beside the window.
//
// UI thread: the message is shown through the window's services and
// returns once it was dismissed.
#pragma once

#include <cstdint>
#include <vector>

#include "connection/link_control.h"
#include "core/terminal_state.h"
#include "core/window_services.h"

namespace quorvel {

class LinkSender {
 public:
  // Everything given outlives the sender.
  LinkSender(LinkControl& link, TerminalState& state, WindowServices& window)
      : link_(link), state_(state), window_(window) {}

  // Queues `bytes` as one send; false when nothing could go (the link is
  // closed, or waits for its device: the message was shown then).
  bool Send(std::vector<uint8_t> bytes);

 private:
  LinkControl& link_;
  TerminalState& state_;
  WindowServices& window_;
};

}  // namespace quorvel
