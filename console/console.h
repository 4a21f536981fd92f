// The console: the device's output drawn through a terminal emulator, and
// keys and pastes sent to the device as a terminal sends them.
//
// Threads. Received() is called by the receive worker (any thread) with
// what the line brought: it takes a short lock, appends, and never waits.
// The console's own thread maps those bytes (console/line_maps.h), feeds
// the emulator in slices and signals ChangedDescriptor(), at most once until
// the window has taken the changes. Everything else is for one thread, the
// window's: TakeChanges() copies the rows that changed into the window's
// copy, and keys, pastes, finds and resizes take the emulator's lock for as
// long as they need it (microseconds; a find over a full scrollback some
// milliseconds). The console's thread holds that lock for a slice at a time
// (4 KB through libvterm, 64 KB of a flood) and steps aside between slices
// when the window is waiting, so a key reaches the line within a slice.
//
// Sending. `send` gets the bytes of a key, the stty command and the
// emulator's answers to the device's queries; it is called from the
// window's thread (keys) and from the console's thread (answers, and the
// echo of nothing: answers are not echoed), so it must take any thread and
// return without waiting for the wire. `sendPiece` gets a paste a piece at a
// time, each only once `written` was called for the one before (from any
// thread, at most once): written(true) when the piece went whole, and the
// next one goes; written(false) when it did not (the line closed, a write
// failed), and the paste ends there, so a paste never waits for a line that
// will not take it. A paste ended by CancelPaste or a new paste ignores the
// calls of its pieces.
//
// What is received while the console's thread is behind waits in memory up
// to kMaxPending bytes; beyond that the newest bytes are dropped and
// counted (DroppedBytes()), which no serial line reaches. Destroying the
// console stops its thread; callbacks already handed out may still be
// called and do nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "console/console_text.h"
#include "console/emulator.h"
#include "console/key_encoder.h"
#include "console/line_maps.h"
#include "core/event_fd.h"

namespace quorvel {

struct ConsoleOptions {
  KeyOptions keys;  // Enter, Backspace, and the encoding of both directions
  LineMap input;    // what goes to the device
  LineMap output;   // what comes from it, before the emulator
  bool localEcho = false;
  size_t scrollbackRows = 100'000;
  size_t pastePiece = 64;  // bytes a paste sends before waiting for the wire
  bool operator==(const ConsoleOptions&) const = default;
};

// The window's copy of the screen, brought up to date by TakeChanges.
struct ScreenCopy {
  int rows = 0;
  int columns = 0;
  std::vector<ConsoleRow> screen;
  std::vector<uint8_t> changed;  // per row: changed in the last TakeChanges
  ConsoleCursor cursor;
  bool altScreen = false;
  bool reverse = false;
  bool bracketedPaste = false;
  uint64_t firstLine = 0;   // the oldest scrollback line kept
  uint64_t screenLine = 0;  // the screen's top row's line: the scrollback ends here
  std::string title;
  uint64_t bells = 0;
};

class Console {
 public:
  using SendBytes = std::function<void(std::vector<uint8_t> bytes)>;
  using PieceWritten = std::function<void(bool whole)>;
  using SendPiece = std::function<void(std::vector<uint8_t> piece, PieceWritten written)>;

  static constexpr size_t kMaxPending = 64u << 20;

  Console(int rows, int columns, const ConsoleOptions& options, SendBytes send,
          SendPiece sendPiece);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Any thread.
  void Received(const uint8_t* bytes, int count);
  void Sent(const uint8_t* bytes, int count) {
    (void)bytes;
    (void)count;
  }
  int ChangedDescriptor() const { return changed_.Descriptor(); }
  uint64_t DroppedBytes() const { return dropped_.load(); }

  // The window's thread.
  ConsoleOptions Options() const;
  void SetOptions(const ConsoleOptions& options);

  // Brings `copy` up to date (the first call fills it); false when nothing
  // changed. Clears the descriptor's signal.
  bool TakeChanges(ScreenCopy& copy);
  void Resize(int rows, int columns);
  // Sends what `key` sends; the character refused by the encoding, if any.
  std::optional<char32_t> Key(const KeyPress& key);
  // Starts pasting `text` (ending a paste still going); the character
  // refused by the encoding, if any, and then nothing is sent.
  std::optional<char32_t> Paste(std::u16string_view text);
  void CancelPaste();
  bool Pasting() const;
  // Sends SttyCommand for the current size.
  void SendSize();

  // Line `line` of the scrollback or the screen (TextPlace numbering).
  bool ReadLine(uint64_t line, ConsoleRow& row) const;
  // Rows [from, from + count) under one lock; missing lines come empty.
  void ReadLines(uint64_t from, int count, std::vector<ConsoleRow>& rows) const;
  std::string SelectionText(TextPlace from, TextPlace to) const;
  // Over the scrollback and the screen.
  std::optional<TextMatch> Find(std::u32string_view needle, TextPlace from, bool forward,
                                bool matchCase) const;

 private:
  // What the console's thread waits on: received bytes, the paste's
  // pieces, new options. Shared with the `written` callbacks handed out
  // with the pieces, which may outlive the console.
  struct Inbox {
    std::mutex mutex;
    std::condition_variable wake;
    std::string pending;
    bool stopping = false;
    bool optionsChanged = false;
    ConsoleOptions options;
    std::deque<std::string> pieces;
    uint64_t paste = 0;     // the paste the pieces belong to; a new one or a cancel counts up
    bool pieceOut = false;  // a piece was handed out and its `written` has not come
  };

  void Run();
  // The bytes `batch` became the emulator's, a slice at a time.
  void Feed(std::string_view batch, LineMapper& mapper, TextEncoding encoding);
  // Locks the emulator for the window's thread; the console's thread steps
  // aside between slices while the window waits.
  std::unique_lock<std::mutex> LockForWindow() const;
  void Signal();
  void Echo(std::string_view bytes);
  void Transmit(const std::string& bytes);
  bool ReadLineLocked(uint64_t line, ConsoleRow& row) const;

  SendBytes send_;
  SendPiece sendPiece_;

  // The window's thread's own.
  ConsoleOptions options_;
  LineMapper inputMapper_;

  std::shared_ptr<Inbox> inbox_;
  std::atomic<uint64_t> dropped_{0};

  // The emulator and everything read from it.
  mutable std::mutex screenMutex_;
  Emulator emulator_;
  mutable std::atomic<int> windowWaiting_{0};

  EventFd changed_;
  std::atomic<bool> signalled_{false};

  std::thread thread_;  // last: it starts once everything above is made
};

}  // namespace quorvel
