// Whoever wants to hear what one line carries (the log file, the session
// view's history, the plot, ZMODEM's start watch, a console, a script)
// implements this and joins the link's listener list (core/line_listeners.h).
// The receive worker reports what it reads, the senders what they wrote,
// each on its own thread, so a listener must return quickly: it may take a
// short lock and copy, never wait for a file, a person or another thread.
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
  kNote,      // a line of a script's or the user's own
};

class LineListener {
 public:
  virtual ~LineListener() = default;
  virtual void Received(const uint8_t* bytes, int count) = 0;
  virtual void Sent(const uint8_t* bytes, int count) = 0;
  // An event of the line, `text` its details on one line; a listener that
  // keeps only bytes ignores it.
  virtual void Noted(LineEvent event, std::string_view text) {
    (void)event;
    (void)text;
  }
};

}  // namespace quorvel
