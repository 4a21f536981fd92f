#include "scripting/session_script_link.h"

#include <poll.h>

#include <cerrno>
#include <condition_variable>
#include <filesystem>

namespace quorvel {
namespace {

constexpr char kStopped[] = "the script is being stopped";
constexpr char kNotOpen[] = "the port is not open";
// A stopped script's transfer gets this long to tell the other side (the
// protocol's cancel) before it is ended outright.
constexpr int kCancelGraceMs = 1000;

// "74880,8,E,1", as the session view's event lines give a line.
std::string LineText(const LineParameters& line) {
  static constexpr const char* kParity[] = {"N", "O", "E", "M", "S"};
  static constexpr const char* kStop[] = {"1", "1.5", "2"};
  auto pick = [](const std::optional<int>& code, const auto& names) -> std::string {
    return code && *code >= 0 && *code < static_cast<int>(std::size(names)) ? names[*code] : "-";
  };
  return (line.baudRate ? std::to_string(*line.baudRate) : "-") + "," +
         (line.dataBits ? std::to_string(*line.dataBits) : "-") + "," + pick(line.parity, kParity) +
         "," + pick(line.stopBits, kStop);
}

}  // namespace

// One wait of the script's thread for work done on another: told `expected`
// times (each with its failure, "" for none), or ended by Interrupt. Shared
// with the completions it hands out, so one told after the wait ended finds
// it still there.
class SessionScriptLink::Completion {
 public:
  explicit Completion(int expected) : left_(expected) {}

  void Tell(const std::string& failure) {
    {
      std::lock_guard guard(mutex_);
      if (!failure.empty() && failure_.empty()) failure_ = failure;
      --left_;
    }
    changed_.notify_all();
  }

  void Interrupt() {
    {
      std::lock_guard guard(mutex_);
      interrupted_ = true;
    }
    changed_.notify_all();
  }

  LinkFailure Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return left_ <= 0 || interrupted_; });
    if (left_ > 0) return std::string(kStopped);
    if (failure_.empty()) return std::nullopt;
    return failure_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int left_;
  bool interrupted_ = false;
  std::string failure_;
};

SessionScriptLink::SessionScriptLink(LinkSession& session, LineApplier apply)
    : session_(session), apply_(std::move(apply)), transfers_(session.Hub(), session.Door()) {}

SessionScriptLink::~SessionScriptLink() {
  if (relay_) session_.Hub().listeners.Remove(*relay_);
}

bool SessionScriptLink::Interrupted() const {
  std::lock_guard guard(mutex_);
  return interrupted_;
}

LinkFailure SessionScriptLink::Await(const std::shared_ptr<Completion>& completion) {
  {
    std::lock_guard guard(mutex_);
    if (interrupted_) completion->Interrupt();
    waiting_ = completion;
  }
  LinkFailure failure = completion->Wait();
  std::lock_guard guard(mutex_);
  waiting_.reset();
  return failure;
}

LinkFailure SessionScriptLink::Send(const std::vector<uint8_t>& bytes) {
  if (Interrupted()) return std::string(kStopped);
  auto completion = std::make_shared<Completion>(1);
  Done queued = session_.Send(bytes, [completion](const SendResult& result) {
    if (result.complete) {
      completion->Tell("");
    } else {
      // Dropped unwritten (the link closed under it) or cut short.
      completion->Tell(result.failure.empty() ? "the link closed before the send was written"
                                              : result.failure);
    }
  });
  if (!queued) return queued.Reason();
  return Await(completion);
}

LinkFailure SessionScriptLink::SetLines(const ScriptLineLevels& levels) {
  if (Interrupted()) return std::string(kStopped);
  unsigned raise = 0;
  unsigned drop = 0;
  for (auto [level, line] : {std::pair{levels.dtr, kLineDtr}, std::pair{levels.rts, kLineRts}}) {
    if (level) (*level ? raise : drop) |= line;
  }
  int commands = (raise ? 1 : 0) + (drop ? 1 : 0);
  if (commands == 0) return std::nullopt;
  auto completion = std::make_shared<Completion>(commands);
  auto told = [completion](const Done& done) { completion->Tell(done.Reason()); };
  // In order on the actions' thread: both are carried before the wait ends.
  if (raise) session_.Order(LineActions::Kind::kRaise, raise, {}, told);
  if (drop) session_.Order(LineActions::Kind::kDrop, drop, {}, told);
  return Await(completion);
}

LinkFailure SessionScriptLink::SendBreak(int ms) {
  if (Interrupted()) return std::string(kStopped);
  auto completion = std::make_shared<Completion>(1);
  session_.Order(LineActions::Kind::kBreak, 0, std::chrono::milliseconds(ms),
                 [completion](const Done& done) { completion->Tell(done.Reason()); });
  return Await(completion);
}

LineParameters SessionScriptLink::Merged(LineParameters line, const ScriptLineSettings& settings) {
  if (settings.baud) line.baudRate = *settings.baud;
  if (settings.dataBits) line.dataBits = *settings.dataBits;
  if (settings.parity) line.parity = static_cast<int>(*settings.parity);
  if (settings.stopBits) line.stopBits = static_cast<int>(*settings.stopBits);
  return line;
}

LinkFailure SessionScriptLink::ApplyLine(const ScriptLineSettings& settings) {
  if (Interrupted()) return std::string(kStopped);
  LinkFailure failure;
  // The session's settings belong to the thread that serves its calls; the
  // call reads and writes only what is captured here, and Run returns once
  // it ran.
  session_.Hub().uiCalls.Run([&] {
    if (!session_.Wanted()) {
      failure = kNotOpen;
      return;
    }
    LineParameters line = Merged(session_.Line(), settings);
    bool applied = apply_ ? apply_(line) : session_.ApplyLineSettings(line);
    if (!applied)
      failure =
          "the driver refused " + LineText(line) + "; the line keeps " + LineText(session_.Line());
  });
  return failure;
}

TransferRequest SessionScriptLink::RequestOf(const ScriptTransfer& transfer) {
  TransferRequest request;
  request.protocol = static_cast<TransferProtocol>(static_cast<int>(transfer.protocol));
  request.send = transfer.send;
  if (transfer.send) {
    request.paths = transfer.files;
    return request;
  }
  bool single = transfer.protocol == ScriptProtocol::kXmodem ||
                transfer.protocol == ScriptProtocol::kXmodem1k;
  if (single) {
    // XMODEM carries no name: the script's is the file to write.
    std::filesystem::path file(transfer.folder);
    request.sink.folder = file.has_parent_path() ? file.parent_path().string() : ".";
    request.sink.fixedName = file.filename().string();
  } else {
    request.sink.folder = transfer.folder.empty() ? "." : transfer.folder;
  }
  return request;
}

LinkFailure SessionScriptLink::Transfer(const ScriptTransfer& transfer) {
  if (Interrupted()) return std::string(kStopped);
  Done started = transfers_.Start(RequestOf(transfer));
  if (!started) return started.Reason();
  std::optional<TransferOutcome> outcome;
  for (;;) {
    TransferState state = transfers_.TakeNews();
    if (state.outcome || !state.running) {
      outcome = state.outcome;
      break;
    }
    pollfd watched[2] = {{transfers_.NewsDescriptor(), POLLIN, 0},
                         {interruptions_.Descriptor(), POLLIN, 0}};
    if (poll(watched, 2, -1) < 0 && errno != EINTR) break;
    if (watched[1].revents != 0) {
      // The protocol's cancel goes out; the thread is ended and joined.
      transfers_.Stop(kCancelGraceMs);
      outcome = transfers_.TakeNews().outcome;
      break;
    }
  }
  transfers_.Stop();
  if (Interrupted()) return std::string(kStopped);
  if (!outcome) return std::string("the transfer ended without an outcome");
  if (outcome->status == TransferStatus::kDone) return std::nullopt;
  std::string text = StatusText(outcome->status);
  return outcome->detail.empty() ? text : text + " (" + outcome->detail + ")";
}

void SessionScriptLink::Note(const std::string& text) {
  session_.Hub().Note(LineEvent::kNote, text);
}

void SessionScriptLink::Attach(ScriptReceiver* receiver) {
  Detach(nullptr);
  if (!receiver) return;
  relay_ = std::make_unique<Relay>(*receiver);
  // The terminal's traffic, not a transfer's: a script's own transfer has
  // the received bytes to itself.
  session_.Hub().listeners.Add(*relay_, Hearing{});
}

void SessionScriptLink::Detach(ScriptReceiver*) {
  if (!relay_) return;
  // Returns once no call into the receiver runs.
  session_.Hub().listeners.Remove(*relay_);
  relay_.reset();
}

void SessionScriptLink::Interrupt() {
  std::lock_guard guard(mutex_);
  if (interrupted_) return;
  interrupted_ = true;
  if (waiting_) waiting_->Interrupt();
  interruptions_.Signal();
}

void SessionScriptLink::Resume() {
  std::lock_guard guard(mutex_);
  interrupted_ = false;
  interruptions_.Drain();
}

}  // namespace quorvel
