// Two ports as one link: a monitor, which only reads both (two adapters
// tapping the two directions of an RS-485, Modbus or UART link) and shows
// what each read in one timeline; or a bridge, which sits between two
// devices (a host program and a device) and forwards what each side reads
// to the other at once, byte for byte, while the timeline shows both
// directions as the monitor does. Each side is a link session of its own,
// with its own line settings (a bridge converts rates), counters and
// waiting for a device that went away: a side unplugged is waited for and
// reopened as the window's port is, and what the other side reads meanwhile
// stays in the timeline, counted as not forwarded.
//
// A monitor never writes to either port: no terminal state, no door of
// theirs is used, and no answer rule answers. What a bridge forwards is
// bounded (pairing/forwarder.h); what each side reads is also tried against
// the answer rules of its direction (pairing/bridge_answers.h).
//
// Threads: Start, Stop, ApplyLineSettings and Service belong to the UI
// thread (the one serving each side's hub.uiCalls); the counts to any
// thread. The sides' threads never call into a window: their news and the
// timeline's are descriptors the UI thread watches.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "connection/link_session.h"
#include "history/session_store.h"
#include "pairing/bridge_answers.h"
#include "pairing/forwarder.h"
#include "pairing/pair_timeline.h"

namespace quorvel {

enum class PairMode : uint8_t { kMonitor, kBridge };

// "monitor" or "bridge".
const char* PairModeName(PairMode mode);

// One side: where it leads and its line settings.
struct PairEnd {
  PortTarget target;
  LineParameters line;
};

// A side as the status line shows it.
struct PairSideStatus {
  LinkStatus link;
  std::string path;     // what it opened or waits for
  std::string failure;  // why it would not open ("" when it did)
  CounterValues counters;
  ForwardCounts forwarded;  // from this side to the other (a bridge)
};

class LinkPair {
 public:
  // How long a stop waits for what a bridge still forwards.
  static constexpr std::chrono::milliseconds kDrainLimit{500};

  explicit LinkPair(ModemControl& modem = KernelModemControl(),
                    size_t forwardBound = Forwarder::kDefaultBound);
  ~LinkPair();
  LinkPair(const LinkPair&) = delete;
  LinkPair& operator=(const LinkPair&) = delete;

  // Stops what runs, then opens both sides in `mode`. A side that will not
  // open stays closed, its reason in its status and the timeline; the other
  // runs on. The history is kept from the last run (Store().Clear() for a
  // fresh one): the start is a line of it.
  void Start(PairMode mode, const PairEnd& a, const PairEnd& b);
  // Forwarding ends first (what waits goes out for up to kDrainLimit, and
  // what did not is counted), then both sides close. The timeline says so,
  // with the counts. Harmless when stopped.
  void Stop();
  bool Running() const { return running_; }
  PairMode Mode() const { return mode_; }

  // The side's line settings, on its open port (or for its reopen); false
  // when the driver refused them.
  bool ApplyLineSettings(PairSide side, const LineParameters& line);

  LinkSession& Session(PairSide side) { return *sessions_[Index(side)]; }
  PairSideStatus Status(PairSide side) const;
  // Each side's descriptor to watch and call Service(side) for when readable
  // (a device that hung up, came back, a connection made); returns whether
  // the side's status changed, which the timeline has been told.
  int WakeDescriptor(PairSide side) const { return sessions_[Index(side)]->WakeDescriptor(); }
  bool Service(PairSide side);

  // The answer rules of what `side` reads (null: none), used while a bridge
  // runs; the frame-end byte is `frameEnd`'s (pairing/bridge_answers.h).
  // Any thread; takes effect at the side's next quiet read.
  void SetAnswerRules(PairSide side, std::shared_ptr<const AnswerRuleTable> table,
                      const TerminalState* frameEnd = nullptr) {
    answers_[Index(side)]->Set(std::move(table), frameEnd);
  }

  SessionStore& Store() { return store_; }
  PairTimeline& Timeline() { return timeline_; }
  const PairTimeline& Timeline() const { return timeline_; }

 private:
  static size_t Index(PairSide side) { return static_cast<size_t>(side); }
  void Open(PairSide side, const PairEnd& end);

  size_t forwardBound_;
  SessionStore store_;
  PairTimeline timeline_{store_};
  std::array<PairTap, 2> taps_{PairTap(timeline_, PairSide::kA), PairTap(timeline_, PairSide::kB)};
  // Made for a bridge; each on its reading side's list, forwarding to the
  // other. They outlive every send of the sessions' doors (Stop ends them).
  std::array<std::unique_ptr<Forwarder>, 2> forwarders_;
  // Each side's rules; they outlive the sessions' workers.
  std::array<std::unique_ptr<BridgeAnswers>, 2> answers_;
  std::array<std::unique_ptr<LinkSession>, 2> sessions_;
  PairMode mode_ = PairMode::kMonitor;
  bool running_ = false;
};

}  // namespace quorvel
