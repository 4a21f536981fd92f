// A script's link (script/script_link.h) over a live link session: the bytes
// the terminal hears reach the script as one more listener of the session
// (not what a transfer carries), its sends go through the session's one door
// in order with the user's own and wait for their completion, its line
// commands go to the session's line actions with a completion, its line
// settings are applied by the thread that serves the hub's uiCalls, and its
// transfers run on a runner of its own.
//
// Threads: the script's thread makes every call but Interrupt and Resume
// (script/script_link.h). A call that waits (a send, a line command, a
// transfer) waits on its own completion or on Interrupt, whichever comes
// first; what it waited for may still finish later on the door's or the
// actions' thread, and tells a completion that outlives the wait. Only the
// line settings wait for another thread's turn: they run inside
// hub.uiCalls.Run, so the thread that serves the queue must serve it while
// it waits for a script to end (UiCallQueue::ServeUntil); nothing here holds
// a lock across it.
//
// Lifetime: made after the session and destroyed after the session's
// Shutdown (its transfer channel may be held by a receive worker for a
// moment after a transfer, as the session's own transfers are).
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "connection/link_session.h"
#include "core/event_fd.h"
#include "core/line_listener.h"
#include "script/script_link.h"
#include "transfer/transfer_runner.h"

namespace quorvel {

class SessionScriptLink : public ScriptLink {
 public:
  // Applies the line settings a script asks for (merged with the link's
  // own) on the thread that serves the hub's uiCalls; false when the driver
  // refused them. A window also shows them in its selectors; without one the
  // session's ApplyLineSettings is used.
  using LineApplier = std::function<bool(const LineParameters&)>;

  explicit SessionScriptLink(LinkSession& session, LineApplier apply = {});
  ~SessionScriptLink() override;
  SessionScriptLink(const SessionScriptLink&) = delete;
  SessionScriptLink& operator=(const SessionScriptLink&) = delete;

  LinkFailure Send(const std::vector<uint8_t>& bytes) override;
  LinkFailure SetLines(const ScriptLineLevels& levels) override;
  LinkFailure SendBreak(int ms) override;
  LinkFailure ApplyLine(const ScriptLineSettings& settings) override;
  LinkFailure Transfer(const ScriptTransfer& transfer) override;
  void Note(const std::string& text) override;
  void Attach(ScriptReceiver* receiver) override;
  void Detach(ScriptReceiver* receiver) override;
  void Interrupt() override;
  void Resume() override;

  // The request a script's transfer becomes.
  static TransferRequest RequestOf(const ScriptTransfer& transfer);
  // The link's line settings with those the script gives.
  static LineParameters Merged(LineParameters line, const ScriptLineSettings& settings);

 private:
  class Completion;
  class Relay : public LineListener {
   public:
    explicit Relay(ScriptReceiver& receiver) : receiver_(receiver) {}
    void Received(const uint8_t* bytes, int count) override { receiver_.Received(bytes, count); }
    void Sent(const uint8_t*, int) override {}

   private:
    ScriptReceiver& receiver_;
  };

  // Waits for `completion` to be told `expected` times, or for Interrupt.
  LinkFailure Await(const std::shared_ptr<Completion>& completion);
  bool Interrupted() const;

  LinkSession& session_;
  LineApplier apply_;
  TransferRunner transfers_;
  std::unique_ptr<Relay> relay_;  // the script's thread's

  mutable std::mutex mutex_;
  bool interrupted_ = false;             // under mutex_
  std::shared_ptr<Completion> waiting_;  // under mutex_: the wait Interrupt ends
  EventFd interruptions_;                // readable while interrupted: ends a transfer's wait
};

}  // namespace quorvel
