#include "engine/receive_worker.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "core/clock.h"
#include "engine/frame_gatherer.h"
#include "engine/rule_responder.h"
#include "engine/transmit.h"

namespace quorvel {
namespace {

FrameRules ReadRules(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return state.CurrentFrameRules();
}

// The capture refresh lets the window store what the user typed before the
// log changes (only when there is something new to store); afterwards the
// window learns that the log and the counters changed.
void FlushBurst(TerminalState& state, const uint8_t* chunk, int length) {
  WindowServices* window = state.Window();
  if (window && window->CaptureDue()) window->Refresh(RefreshPhase::kCapture);
  {
    std::lock_guard guard(state.lock);
    state.AppendReceived(chunk, length);
    int64_t now = ReadCounter();
    state.rxCount += static_cast<uint32_t>(length);
    state.lastIntervalMs = static_cast<double>(now - state.lastSendTime) /
                           static_cast<double>(state.counterFrequency) * 1000.0;
    state.intervalSumMs += state.lastIntervalMs;
    if (state.sendCount > 0) state.averageMs = state.intervalSumMs / state.sendCount;
  }
  if (window) window->ReceivedChanged();
}

class Pass {
 public:
  explicit Pass(TerminalState& state) : state_(state) {}

  void Run() {
    if (ReceiveDiversion* diversion = state_.diversion.load()) {
      Divert(*diversion);
      return;
    }
    answers_.SendDue();
    int room = kChunkCapacity - chunkLength_;
    int got = state_.port.Read(chunk_ + chunkLength_, room);
    if (got > 0) {
      state_.TapReceived(chunk_ + chunkLength_, got);
      FrameRules rules = ReadRules(state_);
      if (rules.Gathering()) frame_.Add(chunk_ + chunkLength_, got, rules.endByte);
      answers_.Received(chunk_ + chunkLength_, got);
      chunkLength_ = std::min(chunkLength_ + got, kChunkCapacity);
    }
    if (chunkLength_ > 0 && got <= 0) {
      FlushBurst(state_, chunk_, chunkLength_);
      chunkLength_ = 0;
      quietDue_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQuietNoticeMs);
      quietNoticePending_ = true;
    }
    if (got <= 0) {
      // Read the rules again: the capture refresh may have changed them.
      answers_.Quiet(AnswerCompleteFrame(ReadRules(state_)));
      NoticeQuiet();
      // A full burst ended for want of room, not because the line is quiet:
      // what follows is read at once, without a wait that would not wait.
      if (room > 0) Rest();
    }
  }

 private:
  // A file transfer has the line: what is read goes to it alone (and to the
  // log file), counted as received; a burst begun before is shown first,
  // and no frame or answer carries over the transfer.
  void Divert(ReceiveDiversion& diversion) {
    if (chunkLength_ > 0) {
      FlushBurst(state_, chunk_, chunkLength_);
      chunkLength_ = 0;
    }
    frame_.Clear();
    answers_.Forget();
    // A transfer streams: reads as large as the port gives cost fewer
    // wake-ups of the transfer's thread than the window's bursts would.
    if (diverted_.empty()) diverted_.resize(kDivertedCapacity);
    int got = state_.port.Read(diverted_.data(), kDivertedCapacity);
    if (got <= 0) {
      state_.port.WaitReadable(-1);
      return;
    }
    // What came meanwhile goes along: one hand-over for several reads.
    while (got < kDivertedCapacity) {
      int more = state_.port.Read(diverted_.data() + got, kDivertedCapacity - got);
      if (more <= 0) break;
      got += more;
    }
    if (LineTap* log = state_.tap.load()) log->Received(diverted_.data(), got);
    {
      std::lock_guard guard(state_.lock);
      state_.rxCount += static_cast<uint32_t>(got);
    }
    diversion.Divert(diverted_.data(), got);
  }

  // Frames are judged only on a quiet read, after the burst was shown.
  // Returns whether a frame was answered.
  bool AnswerCompleteFrame(const FrameRules& rules) {
    if (!rules.Gathering() || !frame_.Complete(rules.endByte)) return false;
    if (rules.echo) SendBytes(state_, frame_.Bytes(), frame_.Length());
    if (rules.reply) SendComposedText(state_);
    frame_.Clear();
    return true;
  }

  // Waits for the next byte instead of sleeping a fixed millisecond: with
  // nothing pending there is nothing to do until the line speaks, so an idle
  // line costs no wake-ups. A waiting frame can also be completed by a mode
  // switched on or a new frame-end byte; the window wakes the worker for
  // those (TerminalState::FrameRulesChanged), and a slow look now and then
  // catches a change made without that call.
  void Rest() {
    static constexpr int kFrameRecheckMs = 250;
    int wantedMs = frame_.Empty() ? -1 : kFrameRecheckMs;
    if (quietNoticePending_) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(quietDue_ -
                                                               std::chrono::steady_clock::now());
      int quietMs = static_cast<int>(std::max<int64_t>(left.count(), 0));
      wantedMs = wantedMs < 0 ? quietMs : std::min(wantedMs, quietMs);
    }
    state_.port.WaitReadable(answers_.RestMs(wantedMs));
  }

  // The line stayed silent since the last burst: the window hears it once.
  // A flood keeps moving the point on, so it costs nothing while it lasts.
  void NoticeQuiet() {
    if (!quietNoticePending_ || std::chrono::steady_clock::now() < quietDue_) return;
    quietNoticePending_ = false;
    if (WindowServices* window = state_.Window()) window->ReceivedQuiet();
  }

  static constexpr int kDivertedCapacity = 64 * 1024;

  TerminalState& state_;
  uint8_t chunk_[kChunkCapacity];
  int chunkLength_ = 0;
  std::vector<uint8_t> diverted_;  // made at the first transfer
  FrameGatherer frame_;
  RuleResponder answers_{state_};
  bool quietNoticePending_ = false;
  std::chrono::steady_clock::time_point quietDue_;
};

}  // namespace

int ReceiveWorker(TerminalState& state, const std::atomic<bool>& stop) {
  if (state.runningWorkers.fetch_add(1) > 0) state.workersOverlapped.store(true);
  if (state.port.IsOpen()) {
    Pass pass(state);
    do {
      pass.Run();
    } while (!stop.load() && state.port.IsOpen());
  }
  if (ReceiveDiversion* diversion = state.diversion.load()) diversion->ReaderEnded();
  state.runningWorkers.fetch_sub(1);
  return 0;
}

void WorkerThread::Start(TerminalState& state) {
  StopAndWait();
  state_ = &state;
  stop_.store(false);
  finished_.store(false);
  thread_ = std::thread([this, &state] {
    ReceiveWorker(state, stop_);
    finished_.store(true);
    state.uiCalls.Notify();
  });
}

void WorkerThread::StopAndWait() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  state_->port.CancelWaits();
  state_->uiCalls.ServeUntil([this] { return finished_.load(); });
  thread_.join();
  // The cancellation was for this worker only: a port that stays open (a
  // restart) must wait for room and for data again, or the next worker would
  // spin and every write would give up at once.
  state_->port.ResumeWaits();
}

}  // namespace quorvel
