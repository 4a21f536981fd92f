// Who else wants to see the bytes the line carries (the log file, the session
// view's history), beside the receive box. The receive worker reports what it
// reads, the senders what they wrote, each on its own thread, so a tap must
// return quickly: it may take a short lock and copy, never wait for a file.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

// What happened to the line besides its bytes, as the session view lists it.
enum class LineEvent : uint8_t {
  kNone = 0,  // not an event: a line of bytes
  kLinkOpened,
  kLinkClosed,
  kDeviceAway,
  kDeviceBack,
  kSettingsChanged,
  kModemLinesChanged,  // DTR/RTS
  kBreakSent,
  kLoggingStarted,
  kLoggingStopped,
  kTransfer,  // a file transfer started, ended or failed
};

class LineTap {
 public:
  virtual ~LineTap() = default;
  virtual void Received(const uint8_t* bytes, int count) = 0;
  virtual void Sent(const uint8_t* bytes, int count) = 0;
  // An event of the line, `text` its details on one line; a tap that keeps
  // only bytes ignores it.
  virtual void Noted(LineEvent event, std::string_view text) {
    (void)event;
    (void)text;
  }
};

}  // namespace quorvel
