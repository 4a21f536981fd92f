#include "pairing/link_pair.h"

namespace quorvel {
namespace {

constexpr PairSide kSides[] = {PairSide::kA, PairSide::kB};

}  // namespace

const char* PairModeName(PairMode mode) {
  return mode == PairMode::kBridge ? "bridge" : "monitor";
}

LinkPair::LinkPair(ModemControl& modem, size_t forwardBound) : forwardBound_(forwardBound) {
  for (PairSide side : kSides) {
    answers_[Index(side)] = std::make_unique<BridgeAnswers>(timeline_, side);
    sessions_[Index(side)] = std::make_unique<LinkSession>(modem);
  }
}

LinkPair::~LinkPair() {
  Stop();
  // The sessions go first: their doors may still hold a forwarder's send.
  for (auto& session : sessions_) session->Shutdown();
}

void LinkPair::Start(PairMode mode, const PairEnd& a, const PairEnd& b) {
  Stop();
  mode_ = mode;
  running_ = true;
  for (PairSide side : kSides) {
    Session(side).Hub().listeners.Add(taps_[Index(side)]);
    // Only a bridge writes: a monitor's rules stay silent.
    Session(side).AttachAnswers(mode == PairMode::kBridge ? answers_[Index(side)].get() : nullptr);
  }
  if (mode == PairMode::kBridge) {
    for (PairSide side : kSides) {
      auto forwarder =
          std::make_unique<Forwarder>(Session(OtherSide(side)), timeline_, side, forwardBound_);
      // Before the history hears a read: forwarding is what waits on it.
      Session(side).Hub().listeners.Add(*forwarder, {.early = true});
      forwarders_[Index(side)] = std::move(forwarder);
    }
  }
  timeline_.Note(std::string(mode == PairMode::kBridge ? "Bridge" : "Monitor") + " started: A " +
                 a.target.Text() + ", B " + b.target.Text());
  Open(PairSide::kA, a);
  Open(PairSide::kB, b);
}

void LinkPair::Open(PairSide side, const PairEnd& end) {
  LinkStatus status = Session(side).Open(end.target, end.line);
  if (!status.open) {
    timeline_.Note(std::string(SideName(side)) + ": " + end.target.Text() +
                   " would not open: " + Session(side).OpenFailure());
  }
}

void LinkPair::Stop() {
  if (!running_) return;
  std::string summary;
  for (PairSide side : kSides) {
    Forwarder* forwarder = forwarders_[Index(side)].get();
    if (!forwarder) continue;
    // Out of the list first: from now on the side's reads are only kept.
    Session(side).Hub().listeners.Remove(*forwarder);
    forwarder->Drain(kDrainLimit);
  }
  for (PairSide side : kSides) Session(side).Close();
  for (PairSide side : kSides) {
    Session(side).Hub().listeners.Remove(taps_[Index(side)]);
    if (Forwarder* forwarder = forwarders_[Index(side)].get()) {
      ForwardCounts counts = forwarder->Counts();
      summary += std::string(summary.empty() ? "; " : ", ") + SideName(side) + "\u2192 " +
                 std::to_string(counts.forwarded) + " bytes forwarded, " +
                 std::to_string(counts.dropped) + " not";
    }
  }
  timeline_.Note(std::string(mode_ == PairMode::kBridge ? "Bridge" : "Monitor") + " stopped" +
                 summary);
  for (auto& forwarder : forwarders_) forwarder.reset();
  running_ = false;
}

bool LinkPair::ApplyLineSettings(PairSide side, const LineParameters& line) {
  return Session(side).ApplyLineSettings(line);
}

PairSideStatus LinkPair::Status(PairSide side) const {
  const LinkSession& session = *sessions_[Index(side)];
  PairSideStatus status;
  status.link = session.Status();
  status.path = status.link.waiting ? session.WaitingFor() : session.Path();
  status.failure = session.OpenFailure();
  status.counters = session.Hub().counters.Read();
  if (const Forwarder* forwarder = forwarders_[Index(side)].get()) {
    status.forwarded = forwarder->Counts();
  }
  return status;
}

bool LinkPair::Service(PairSide side) {
  // The session tells its listeners (the timeline) of away and back itself.
  return Session(side).Service();
}

}  // namespace quorvel
