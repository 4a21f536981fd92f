// What a script needs of the link it drives, and nothing more: the script
// engine runs against this interface so that it can be tested against a fake
// and bound to the live link session by a small adapter.
//
// The script's own thread makes every call except Interrupt and Resume, and
// every call but Attach, Detach and Note may block (a send waits for its
// bytes to be written, a transfer for its end). A call that fails returns
// the reason in words for the script ("the link is closed", "the driver
// refused 74880 baud"), which the script gets as `nil, reason`; nothing is
// retried. The link never calls into the script engine except through the
// receiver it was given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// Hears the bytes the link receives. Received may be called from any thread
// (the link's receive worker) and must return quickly: the engine's buffer
// takes a short lock, copies and wakes the script.
class ScriptReceiver {
 public:
  virtual ~ScriptReceiver() = default;
  virtual void Received(const uint8_t* bytes, int count) = 0;
};

// A failure in words, or nothing when the call did what it was asked.
using LinkFailure = std::optional<std::string>;

enum class ScriptParity : int { kNone = 0, kOdd, kEven, kMark, kSpace };
enum class ScriptStopBits : int { kOne = 0, kOneAndHalf, kTwo };

// Line settings a script asks for; a field without a value stays as it is.
struct ScriptLineSettings {
  std::optional<uint32_t> baud;  // 1 to 4294967295
  std::optional<int> dataBits;   // 5 to 8
  std::optional<ScriptParity> parity;
  std::optional<ScriptStopBits> stopBits;
  bool operator==(const ScriptLineSettings&) const = default;
};

// The modem lines a script sets; a line without a value stays as it is.
struct ScriptLineLevels {
  std::optional<bool> dtr;
  std::optional<bool> rts;
  bool operator==(const ScriptLineLevels&) const = default;
};

enum class ScriptProtocol : int { kXmodem = 0, kXmodem1k, kYmodem, kZmodem };

struct ScriptTransfer {
  ScriptProtocol protocol = ScriptProtocol::kYmodem;
  bool send = true;
  std::vector<std::string> files;  // to send, as the script named them (XMODEM: one)
  std::string folder;              // to receive into (XMODEM: the file to write)
  bool operator==(const ScriptTransfer&) const = default;
};

class ScriptLink {
 public:
  virtual ~ScriptLink() = default;

  // Puts `bytes` through the link's one writer, in order with every other
  // send, and returns once they are written. A failure (the link is closed,
  // the device went away, the write timed out) may leave some of the bytes
  // on the line; an interrupted send may still be written by the writer
  // after it returned.
  virtual LinkFailure Send(const std::vector<uint8_t>& bytes) = 0;

  // Sets the lines that have a value; on failure (no modem lines on this
  // link, the link is closed) the lines are as they were.
  virtual LinkFailure SetLines(const ScriptLineLevels& levels) = 0;

  // Holds the line in break for about `ms` milliseconds and returns after.
  virtual LinkFailure SendBreak(int ms) = 0;

  // Applies the settings that have a value, reads them back, and only then
  // takes them as the link's; a refused setting leaves the line as it was
  // and says which one and why.
  virtual LinkFailure ApplyLine(const ScriptLineSettings& settings) = 0;

  // Runs the transfer on the link and returns when it ends: nothing when
  // every file went whole, else the outcome in words ("cancelled by the
  // other side", "fw.bin cannot be read"). Received files that did not
  // complete are handled as the link's transfers always handle them.
  virtual LinkFailure Transfer(const ScriptTransfer& transfer) = 0;

  // An event line for the session view and the log file. Returns at once.
  virtual void Note(const std::string& text) = 0;

  // After Attach returns, every byte the link receives (outside a transfer)
  // reaches `receiver` until Detach; once Detach returns, no call to
  // Received is running or will start. One receiver at a time.
  virtual void Attach(ScriptReceiver* receiver) = 0;
  virtual void Detach(ScriptReceiver* receiver) = 0;

  // Any thread (the user's Stop, the run's timeout): the blocking call
  // running now and every later one return promptly with a failure, a
  // transfer by sending the protocol's cancel, until Resume. Never waits.
  virtual void Interrupt() = 0;
  // Undoes Interrupt before the next script runs; the runner calls it
  // before it starts a script's thread.
  virtual void Resume() = 0;
};

}  // namespace quorvel
