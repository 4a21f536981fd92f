// "Send all in order": the send list top to bottom, once or round and round
// until stopped, on the UI thread with a timer, so the window never waits.
//
// Each entry is handed to `send` and its delay runs from that moment; then
// the next one goes, once the writer has taken the one before (checked every
// millisecond), so a repeated list never piles up in the writer's queue. An
// entry (at most 1 KB) fits the driver's buffer, so the writer takes it
// within a fraction of a millisecond and the delay is the pause between two
// entries handed to the driver; a line slower than the delay stretches it.
// The entries are copied at Start, so editing the list meanwhile changes
// nothing in the run. Stop() ends the run at once; an entry already queued
// still goes out whole. UI thread.
#pragma once

#include <QObject>
#include <cstddef>
#include <functional>
#include <vector>

#include "sending/send_list.h"

class QTimer;

namespace quorvel {

class SendWriter;

class SendSequence : public QObject {
 public:
  // Queues one entry; false ends the run (the link is closed or away).
  using Send = std::function<bool(const SendListEntry& entry)>;
  // After every step and when the run ends: the entry sent last (0-based)
  // and the round (0-based), or running false.
  using Progress = std::function<void(bool running, std::size_t index, std::size_t round)>;

  SendSequence(SendWriter& writer, Send send, Progress progress, QObject* parent);

  // Starts a run of `entries` (nothing for none), ending a run in progress.
  void Start(std::vector<SendListEntry> entries, bool repeat);
  void Stop();
  bool Running() const { return running_; }
  // While `held` answers true, the run waits before its next entry (a file
  // transfer has the line) and goes on after.
  void HoldWhile(std::function<bool()> held) { held_ = std::move(held); }

 private:
  void SendNext();
  void Tick();

  SendWriter& writer_;
  Send send_;
  Progress progress_;
  std::function<bool()> held_;
  QTimer* timer_;
  std::vector<SendListEntry> entries_;
  bool repeat_ = false;
  bool running_ = false;
  std::size_t next_ = 0;
  std::size_t round_ = 0;
};

}  // namespace quorvel
