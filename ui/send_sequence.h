// "Send all in order": the send list top to bottom, once or round and round
// until stopped, on the UI thread with a timer, so the window never waits.
//
// Each entry is handed to `send` and its delay runs from that moment; the
// next one goes once the delay has passed and the door has told that the
// entry before was written (its completion wakes the sequence; nothing
// looks in the meantime), so a repeated list never piles up in the door's
// queue. An entry (at most 1 KB) fits the driver's buffer, so it is written
// within a fraction of a millisecond and the delay is the pause between two
// entries handed to the driver; a line slower than the delay stretches it.
// The entries are copied at Start, so editing the list meanwhile changes
// nothing in the run. Stop() ends the run at once; an entry already queued
// still goes out whole. UI thread.
#pragma once

#include <QObject>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "engine/send_writer.h"
#include "sending/send_list.h"

class QSocketNotifier;
class QTimer;

namespace quorvel {

class SendSequence : public QObject {
 public:
  // Queues one entry, `written` to be told when it ended; false ends the run
  // (the link is closed or away), and `written` is then never told.
  using Send = std::function<bool(const SendListEntry& entry, SendDone written)>;
  // After every step and when the run ends: the entry sent last (0-based)
  // and the round (0-based), or running false.
  using Progress = std::function<void(bool running, std::size_t index, std::size_t round)>;

  SendSequence(Send send, Progress progress, QObject* parent);
  ~SendSequence() override;

  // Starts a run of `entries` (nothing for none), ending a run in progress.
  void Start(std::vector<SendListEntry> entries, bool repeat);
  void Stop();
  bool Running() const { return running_; }
  // While `held` answers true, the run waits before its next entry (a file
  // transfer has the line) and goes on after.
  void HoldWhile(std::function<bool()> held) { held_ = std::move(held); }

 private:
  struct Flights;

  void SendNext();
  void DelayOver();
  void GoOnWhenWritten();

  Send send_;
  Progress progress_;
  std::function<bool()> held_;
  QTimer* timer_;
  // Told from the door's thread; shared so that a completion after this
  // sequence is gone lands harmlessly.
  std::shared_ptr<Flights> flights_;
  QSocketNotifier* written_;
  std::vector<SendListEntry> entries_;
  bool repeat_ = false;
  bool running_ = false;
  bool delayOver_ = false;
  std::size_t next_ = 0;
  std::size_t round_ = 0;
};

}  // namespace quorvel
