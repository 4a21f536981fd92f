#include "engine/receive_worker.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/frame_gatherer.h"
#include "engine/rule_responder.h"
#include "engine/transmit.h"

namespace quorvel {
namespace {

FrameRules ReadRules(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return state.CurrentFrameRules();
}

// The terminal's side of a worker: the receive log and the frames it answers.
class TerminalSide {
 public:
  TerminalSide(TerminalState& state, Port& line, SendWriter& door)
      : state_(state), line_(line), door_(door), source_(state), answers_(source_, door) {}

  // The capture refresh lets the window store what the user typed before the
  // log changes (only when there is something new to store).
  void BeforeBurst() {
    WindowServices* window = state_.Window();
    if (window && window->CaptureDue()) window->Refresh(RefreshPhase::kCapture);
  }
  // The log and the count move together: whoever reads both under the
  // state's lock sees the one match the other.
  void Append(const uint8_t* chunk, int length, LinkCounters& counters) {
    std::lock_guard guard(state_.lock);
    state_.AppendReceived(chunk, length);
    counters.CountBurst(length);
  }
  // Afterwards the window learns that the log and the counters changed.
  void AfterBurst() {
    if (WindowServices* window = state_.Window()) window->ReceivedChanged();
  }
  void Quiet() {
    if (WindowServices* window = state_.Window()) window->ReceivedQuiet();
  }

  void Read(const uint8_t* bytes, int got) {
    FrameRules rules = ReadRules(state_);
    if (rules.Gathering()) frame_.Add(bytes, got, rules.endByte);
    answers_.Received(bytes, got);
  }
  // On a quiet read. Reads the rules again: the capture refresh may have
  // changed them.
  void Answer() { answers_.Quiet(AnswerCompleteFrame(ReadRules(state_))); }
  void SendDue() { answers_.SendDue(); }
  // Nothing a transfer carries is answered.
  void Forget() {
    frame_.Clear();
    answers_.Forget();
  }
  bool FrameWaiting() const { return !frame_.Empty(); }
  int RestMs(int wantedMs) const { return answers_.RestMs(wantedMs); }

 private:
  // Frames are judged only on a quiet read, after the burst was shown.
  // Returns whether a frame was answered.
  bool AnswerCompleteFrame(const FrameRules& rules) {
    if (!rules.Gathering() || !frame_.Complete(rules.endByte)) return false;
    if (rules.echo) door_.Reply(frame_.Bytes(), frame_.Length());
    if (rules.reply) SendComposedText(state_, line_, door_);
    frame_.Clear();
    return true;
  }

  TerminalState& state_;
  Port& line_;
  SendWriter& door_;
  FrameGatherer frame_;
  TerminalAnswers source_;
  RuleResponder answers_;
};

class Pass {
 public:
  explicit Pass(const WorkerParts& parts) : hub_(parts.hub) {
    if (parts.terminal) {
      terminal_.emplace(*parts.terminal, hub_.port, parts.door);
    } else if (parts.answers) {
      answers_.emplace(*parts.answers, parts.door);
    }
  }

  void Run() {
    hub_.BeginWorkerRead();
    LinkHub::Taken taken = hub_.Taking();
    if (taken.taker) {
      hub_.EndWorkerRead();
      if (taken.readsItself) {
        StandAside();
      } else {
        Divert(*taken.taker);
      }
      return;
    }
    // One read takes what the port has, up to several bursts' worth: a
    // flood costs fewer reads and fewer hand-overs to the listeners, and the
    // bursts come out as a read per burst would give them.
    int got = hub_.port.Read(read_, kReadCapacity);
    if (got > 0) hub_.listeners.Received(read_, got);
    hub_.EndWorkerRead();
    if (terminal_) terminal_->SendDue();
    if (answers_) answers_->SendDue();
    if (got > 0) {
      TakeRead(read_, got);
      return;
    }
    QuietRead();
    Rest();
  }

 private:
  // The bytes of one read, a burst's room at a time. A burst that fills its
  // chunk ends there, as if the next read had found no room.
  void TakeRead(const uint8_t* bytes, int count) {
    while (count > 0) {
      int piece = std::min(count, kChunkCapacity - chunkLength_);
      if (terminal_) terminal_->Read(bytes, piece);
      if (answers_) answers_->Received(bytes, piece);
      std::memcpy(chunk_ + chunkLength_, bytes, static_cast<size_t>(piece));
      chunkLength_ += piece;
      bytes += piece;
      count -= piece;
      if (chunkLength_ == kChunkCapacity) QuietRead();
    }
  }

  // A read that found nothing (or no room): the burst so far is shown and
  // the frame judged.
  void QuietRead() {
    if (chunkLength_ > 0) {
      FlushBurst();
      quietDue_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQuietNoticeMs);
      quietNoticePending_ = true;
    }
    if (terminal_) terminal_->Answer();
    if (answers_) answers_->Quiet(false);
    NoticeQuiet();
  }

  void FlushBurst() {
    if (terminal_) {
      terminal_->BeforeBurst();
      terminal_->Append(chunk_, chunkLength_, hub_.counters);
      terminal_->AfterBurst();
    } else {
      hub_.counters.CountBurst(chunkLength_);
      hub_.news.CountersMoved();
    }
    chunkLength_ = 0;
  }

  // A file transfer reads the line itself: the worker reads nothing until
  // it is given back. As with a diversion, a burst begun before is shown
  // first and no frame or answer carries over the transfer. The wait looks
  // up now and then, so that a stop or a close meanwhile ends the worker.
  void StandAside() {
    if (chunkLength_ > 0) FlushBurst();
    Forget();
    hub_.StandAside(kAsideLookMs);
  }

  // A file transfer has the line: what is read goes to it alone (and to the
  // listeners that hear transfers), counted as received; a burst begun before
  // is shown first, and no frame or answer carries over the transfer.
  void Divert(ReceiveDiversion& taker) {
    if (chunkLength_ > 0) FlushBurst();
    Forget();
    // A transfer streams: reads as large as the port gives cost fewer
    // wake-ups of the transfer's thread than the window's bursts would.
    if (diverted_.empty()) diverted_.resize(kDivertedCapacity);
    int got = hub_.port.Read(diverted_.data(), kDivertedCapacity);
    if (got <= 0) {
      hub_.port.WaitReadable(-1);
      return;
    }
    // What came meanwhile goes along: one hand-over for several reads.
    while (got < kDivertedCapacity) {
      int more = hub_.port.Read(diverted_.data() + got, kDivertedCapacity - got);
      if (more <= 0) break;
      got += more;
    }
    hub_.listeners.TransferReceived(diverted_.data(), got);
    hub_.counters.CountReceived(got);
    taker.Divert(diverted_.data(), got);
  }

  // Waits for the next byte instead of sleeping a fixed millisecond: with
  // nothing pending there is nothing to do until the line speaks, so an idle
  // line costs no wake-ups. A waiting frame can also be completed by a mode
  // switched on or a new frame-end byte; the window wakes the worker for
  // those (TerminalState::FrameRulesChanged), and a slow look now and then
  // catches a change made without that call.
  void Rest() {
    static constexpr int kFrameRecheckMs = 250;
    int wantedMs = terminal_ && terminal_->FrameWaiting() ? kFrameRecheckMs : -1;
    if (quietNoticePending_) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(quietDue_ -
                                                               std::chrono::steady_clock::now());
      int quietMs = static_cast<int>(std::max<int64_t>(left.count(), 0));
      wantedMs = wantedMs < 0 ? quietMs : std::min(wantedMs, quietMs);
    }
    if (terminal_) wantedMs = terminal_->RestMs(wantedMs);
    if (answers_) wantedMs = answers_->RestMs(wantedMs);
    hub_.port.WaitReadable(wantedMs);
  }

  void Forget() {
    if (terminal_) terminal_->Forget();
    if (answers_) answers_->Forget();
  }

  // The line stayed silent since the last burst: the window hears it once.
  // A flood keeps moving the point on, so it costs nothing while it lasts.
  void NoticeQuiet() {
    if (!quietNoticePending_ || std::chrono::steady_clock::now() < quietDue_) return;
    quietNoticePending_ = false;
    if (terminal_) terminal_->Quiet();
  }

  static constexpr int kDivertedCapacity = 64 * 1024;
  // A pseudo-terminal hands at most 4 KB a read; a USB adapter or a
  // network port may hand more.
  static constexpr int kReadCapacity = 16 * 1024;
  static constexpr int kAsideLookMs = 100;

  LinkHub& hub_;
  std::optional<TerminalSide> terminal_;
  std::optional<RuleResponder> answers_;  // a line without a terminal that answers rules
  uint8_t chunk_[kChunkCapacity];
  uint8_t read_[kReadCapacity];
  int chunkLength_ = 0;
  std::vector<uint8_t> diverted_;  // made at the first transfer
  bool quietNoticePending_ = false;
  std::chrono::steady_clock::time_point quietDue_;
};

}  // namespace

int ReceiveWorker(const WorkerParts& parts, const std::atomic<bool>& stop) {
  LinkHub& hub = parts.hub;
  if (hub.runningWorkers.fetch_add(1) > 0) hub.workersOverlapped.store(true);
  if (hub.port.IsOpen()) {
    Pass pass(parts);
    do {
      pass.Run();
    } while (!stop.load() && hub.port.IsOpen());
  }
  if (ReceiveDiversion* taker = hub.Taker()) taker->ReaderEnded();
  hub.runningWorkers.fetch_sub(1);
  return 0;
}

void WorkerThread::Start(const WorkerParts& parts) {
  StopAndWait();
  hub_ = &parts.hub;
  stop_.store(false);
  finished_.store(false);
  thread_ = std::thread([this, parts] {
    ReceiveWorker(parts, stop_);
    finished_.store(true);
    parts.hub.uiCalls.Notify();
  });
}

void WorkerThread::StopAndWait() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  hub_->port.CancelWaits();
  hub_->WakeAside();
  hub_->uiCalls.ServeUntil([this] { return finished_.load(); });
  thread_.join();
  // The cancellation was for this worker only: a port that stays open (a
  // restart) must wait for room and for data again, or the next worker would
  // spin and every write would give up at once.
  hub_->port.ResumeWaits();
}

}  // namespace quorvel
