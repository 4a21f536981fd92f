#include "transfer/transfer_runner.h"

#include <chrono>
#include <cstdio>

#include "core/clock.h"
#include "transfer/local_file.h"
#include "transfer/zmodem.h"

namespace quorvel {
namespace {

// 262144 as "262,144".
std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<size_t>(at), ",");
  }
  return digits;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

}  // namespace

std::string TransferTitle(TransferProtocol protocol, bool send, const std::string& files) {
  std::string title = std::string(ProtocolName(protocol)) + (send ? " send" : " receive");
  return files.empty() ? title : title + " " + files;
}

std::string TransferSummary(uint64_t bytes, double seconds, int retries) {
  char time[32];
  std::snprintf(time, sizeof time, "%.1f", seconds);
  return Grouped(bytes) + " bytes in " + time + " s, " + std::to_string(retries) +
         (retries == 1 ? " retry" : " retries");
}

Done TransferRunner::Start(TransferRequest request) {
  if (Running()) return Failure{"a file transfer is running"};
  if (thread_.joinable()) thread_.join();
  if (!hub_.port.IsOpen()) return Failure{"the port is not open"};
  std::vector<std::unique_ptr<OutgoingFile>> files;
  if (request.send) {
    bool single = request.protocol == TransferProtocol::kXmodem ||
                  request.protocol == TransferProtocol::kXmodem1k;
    if (request.paths.empty() || (single && request.paths.size() > 1)) {
      return Failure{single ? "XMODEM sends one file" : "no file was chosen"};
    }
    for (const std::string& path : request.paths) {
      std::string why;
      std::unique_ptr<LocalFile> file = LocalFile::Open(path, &why);
      if (!file) return Failure{"cannot read " + path + ": " + why};
      files.push_back(std::move(file));
    }
    sink_.reset();
  } else {
    sink_ = std::make_unique<FolderSink>(request.sink);
    sink_->KeepPartial(keepPartial_.load());
  }
  channel_.Reset();
  {
    std::lock_guard guard(mutex_);
    now_ = TransferState{};
    now_.running = true;
    now_.protocol = request.protocol;
    now_.send = request.send;
    if (!files.empty()) now_.progress.file = files.front()->Name();
  }
  startedMs_ = SteadyNowMs();
  thread_ = std::thread(&TransferRunner::Run, this, std::move(request), std::move(files));
  return {};
}

void TransferRunner::KeepPartial(bool keep) {
  keepPartial_.store(keep);
  if (sink_) sink_->KeepPartial(keep);
}

void TransferRunner::Stop(int graceMs) {
  if (!thread_.joinable()) return;
  if (graceMs > 0) {
    channel_.Cancel();
    int64_t deadline = SteadyNowMs() + graceMs;
    while (Running() && RemainingMs(deadline) > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  channel_.Abandon();
  thread_.join();
}

bool TransferRunner::Running() const {
  std::lock_guard guard(mutex_);
  return now_.running;
}

TransferState TransferRunner::TakeNews() {
  news_.Take();
  std::lock_guard guard(mutex_);
  TransferState state = now_;
  if (state.running) state.seconds = static_cast<double>(SteadyNowMs() - startedMs_) / 1000.0;
  now_.outcome.reset();  // told once
  return state;
}

void TransferRunner::Run(TransferRequest request,
                         std::vector<std::unique_ptr<OutgoingFile>> files) {
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file->Name());
  std::string title = TransferTitle(request.protocol, request.send, NameList(names));
  TransferOutcome outcome;
  if (channel_.Attach()) {
    hub_.Note(LineEvent::kTransfer, title + ": started");
    outcome = Dispatch(request, files);
    channel_.Detach();
  } else {
    outcome.status =
        channel_.CancelRequested() ? TransferStatus::kCancelledByUser : TransferStatus::kLinkLost;
  }
  std::vector<FolderSink::Saved> saved;
  if (sink_) {
    saved = sink_->Files();
    names.clear();
    for (const FolderSink::Saved& file : saved) names.push_back(BaseName(file.path));
    title = TransferTitle(request.protocol, request.send, NameList(names));
  }
  double seconds = static_cast<double>(SteadyNowMs() - startedMs_) / 1000.0;
  std::string end = outcome.status == TransferStatus::kDone
                        ? TransferSummary(outcome.bytes, seconds, outcome.retries)
                        : std::string(StatusText(outcome.status)) +
                              (outcome.detail.empty() ? "" : " (" + outcome.detail + ")");
  hub_.Note(LineEvent::kTransfer, title + ": " + end);
  {
    std::lock_guard guard(mutex_);
    now_.running = false;
    now_.seconds = seconds;
    now_.outcome = outcome;
    now_.saved = std::move(saved);
  }
  news_.Raise();
}

TransferOutcome TransferRunner::Dispatch(const TransferRequest& request,
                                         std::vector<std::unique_ptr<OutgoingFile>>& files) {
  switch (request.protocol) {
    case TransferProtocol::kXmodem:
    case TransferProtocol::kXmodem1k:
      if (request.send) {
        return XmodemSend(channel_, *files.front(), request.protocol == TransferProtocol::kXmodem1k,
                          *this, request.timing);
      }
      return XmodemReceive(channel_, *sink_, *this, request.timing, request.padding);
    case TransferProtocol::kYmodem:
      return request.send ? YmodemSend(channel_, files, *this, request.timing)
                          : YmodemReceive(channel_, *sink_, *this, request.timing);
    case TransferProtocol::kZmodem:
      return request.send ? ZmodemSend(channel_, files, *this, request.timing)
                          : ZmodemReceive(channel_, *sink_, *this, request.timing);
  }
  TransferOutcome none;
  none.status = TransferStatus::kProtocolError;
  return none;
}

void TransferRunner::Progressed(const TransferProgress& progress) {
  TransferProgress shown = progress;
  if (shown.file.empty() && sink_) shown.file = sink_->CurrentName();
  {
    std::lock_guard guard(mutex_);
    now_.progress = std::move(shown);
  }
  news_.Raise();
}

void TransferRunner::Noted(std::string_view text) {
  hub_.Note(LineEvent::kTransfer, text);
}

}  // namespace quorvel
