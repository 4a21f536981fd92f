// The window's way of sending through its link's door: a send the link
// refuses because its device is away is told to the user at once ("Write com
// fail!", as a failed write is); one refused because the link is closed goes
// silently, as it always has. UI thread.
#pragma once

#include <cstdint>
#include <vector>

#include "connection/link_session.h"

class QWidget;

namespace quorvel {

// Whether the bytes were queued; `written` is told only then.
bool SendOrTell(QWidget* window, LinkSession& link, std::vector<uint8_t> bytes,
                SendDone written = {});

}  // namespace quorvel
