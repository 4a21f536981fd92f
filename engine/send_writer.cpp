#include "engine/send_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "core/clock.h"
#include "core/strings.h"

namespace quorvel {
namespace {

constexpr size_t kFileBlock = 64 * 1024;

}  // namespace

struct SendWriter::Job {
  bool IsFile() const { return file.Valid(); }

  // The next bytes to write into `bytes`: all of them for a send of bytes, a
  // block for a file. False at the end or on a read error (`readError` set).
  bool Refill() {
    if (!IsFile()) return false;
    bytes.resize(kFileBlock);
    ssize_t got;
    do {
      got = ::read(file.Get(), bytes.data(), bytes.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) readError = errno;
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return got > 0;
  }

  void Finish() {
    if (done) done(result);
  }

  std::vector<uint8_t> bytes;
  UniqueFd file;  // a file to send; closed with the job
  int readError = 0;
  std::string name;
  uint64_t total = 0;
  FilePacing pacing;
  SendDone done;
  SendResult result;
};

SendWriter::SendWriter(LinkHub& hub) : hub_(hub) {
  thread_ = std::thread([this] { Run(); });
}

SendWriter::~SendWriter() {
  std::deque<Job> dropped;
  {
    std::lock_guard guard(mutex_);
    dropped.swap(queue_);
    quit_ = true;
  }
  abort_.store(true);
  changed_.notify_all();
  thread_.join();
  for (Job& job : dropped) job.Finish();
}

void SendWriter::Queue(std::vector<uint8_t> bytes, SendDone done) {
  Job job;
  job.total = bytes.size();
  job.bytes = std::move(bytes);
  job.done = std::move(done);
  {
    std::lock_guard guard(mutex_);
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void SendWriter::QueueFile(UniqueFd file, std::string name, uint64_t size, FilePacing pacing,
                           SendDone done) {
  Job job;
  job.file = std::move(file);
  job.name = std::move(name);
  job.total = size;
  job.pacing = pacing;
  job.done = std::move(done);
  {
    std::lock_guard guard(mutex_);
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void SendWriter::Reply(const uint8_t* bytes, int count) {
  // While a send holds the wire, it writes this after its own bytes.
  if (!hub_.wire.TakeOrLeave(bytes, count)) return;
  hub_.counters.BeginSend(true);
  std::optional<PortFailure> failed = hub_.port.Write(bytes, count);
  // Told once, before the count moves; the bytes count all the same.
  if (failed) hub_.news.PostMessage(LoadString(StringId::kWriteFail));
  hub_.listeners.Sent(bytes, count);
  hub_.wire.ReleaseReply();
  hub_.counters.CountSent(count);
  hub_.news.CountersMoved();
}

bool SendWriter::HoldWire(const std::atomic<bool>& abandon) {
  return hub_.wire.Take(abandon);
}

WriteEnd SendWriter::WriteHeld(const uint8_t* bytes, int count, const std::atomic<bool>& abandon) {
  int64_t deadline = SteadyNowMs() + hub_.port.WriteBoundMs(count);
  return WriteSliced(
      hub_.port, bytes, static_cast<size_t>(count), deadline, [&] { return abandon.load(); },
      [&](const uint8_t* piece, int n) {
        hub_.counters.CountSent(n);
        hub_.listeners.TransferSent(piece, n);
      });
}

void SendWriter::ReleaseWire(bool dropReplies) {
  WriteLeftReplies(dropReplies);
}

bool SendWriter::Busy() const {
  std::lock_guard guard(mutex_);
  return running_ || !queue_.empty();
}

bool SendWriter::FilesPending() const {
  std::lock_guard guard(mutex_);
  return progress_.active ||
         std::any_of(queue_.begin(), queue_.end(), [](const Job& job) { return job.IsFile(); });
}

void SendWriter::CancelFiles() {
  std::deque<Job> dropped;
  {
    std::lock_guard guard(mutex_);
    auto files = std::stable_partition(queue_.begin(), queue_.end(),
                                       [](const Job& job) { return !job.IsFile(); });
    std::move(files, queue_.end(), std::back_inserter(dropped));
    queue_.erase(files, queue_.end());
    cancelFile_.store(true);
  }
  changed_.notify_all();
  for (Job& job : dropped) job.Finish();
}

void SendWriter::Abort() {
  std::deque<Job> dropped;
  {
    std::lock_guard guard(mutex_);
    dropped.swap(queue_);
    abort_.store(true);
  }
  changed_.notify_all();
  for (Job& job : dropped) job.Finish();
  hub_.port.CancelWaits();
  hub_.uiCalls.ServeUntil([this] {
    std::lock_guard guard(mutex_);
    return !running_;
  });
  abort_.store(false);
}

FileSendProgress SendWriter::Progress() const {
  std::lock_guard guard(mutex_);
  FileSendProgress progress = progress_;
  if (progress.active)
    progress.seconds = static_cast<double>(SteadyNowMs() - progressStartMs_) / 1000.0;
  return progress;
}

void SendWriter::Run() {
  for (;;) {
    Job job;
    {
      std::unique_lock guard(mutex_);
      changed_.wait(guard, [this] { return quit_ || !queue_.empty(); });
      if (quit_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      running_ = true;
      cancelFile_.store(false);
      if (job.IsFile()) {
        progress_ = {true, job.name, 0, job.total, 0};
        progressStartMs_ = SteadyNowMs();
      }
    }
    Send(job);
    {
      std::lock_guard guard(mutex_);
      running_ = false;
      progress_.active = false;
    }
    hub_.news.CountersMoved();
    job.Finish();
    hub_.uiCalls.Notify();  // an Abort may be waiting for this
  }
}

void SendWriter::Send(Job& job) {
  if (!hub_.wire.Take(abort_)) return;
  Write(job);
  // Echo and auto-reply bytes that came during this send follow it at once.
  WriteLeftReplies(false);
}

void SendWriter::WriteLeftReplies(bool drop) {
  for (;;) {
    std::deque<WireGate::Bytes> left = hub_.wire.CollectOrRelease();
    if (left.empty()) return;
    for (WireGate::Bytes& reply : left) {
      if (drop || abort_.load()) continue;
      Job replyJob;
      replyJob.total = reply.size();
      replyJob.bytes = std::move(reply);
      Write(replyJob);
    }
  }
}

void SendWriter::Write(Job& job) {
  hub_.counters.BeginSend(false);
  int64_t deadline = SteadyNowMs() + hub_.port.WriteBoundMs(static_cast<int64_t>(job.total));
  const FilePacing pacing = job.pacing;
  WriteEnd end = WriteEnd::kWritten;
  size_t at = 0;
  for (;;) {
    if (at == job.bytes.size()) {
      at = 0;
      if (!job.Refill()) break;
    }
    // Paced, a write ends at a byte or at a line feed, so the pause follows it.
    size_t piece = job.bytes.size() - at;
    if (pacing.byteDelayMs > 0) {
      piece = 1;
    } else if (pacing.lineDelayMs > 0) {
      const uint8_t* start = job.bytes.data() + at;
      const void* lineEnd = std::memchr(start, '\n', piece);
      if (lineEnd) piece = static_cast<size_t>(static_cast<const uint8_t*>(lineEnd) - start) + 1;
    }
    end = WriteSliced(
        hub_.port, job.bytes.data() + at, piece, deadline, [&] { return Stopping(job); },
        [&](const uint8_t* bytes, int n) { Count(job, bytes, n); });
    if (end != WriteEnd::kWritten) break;
    at += piece;
    int pause = pacing.byteDelayMs;
    if (pacing.lineDelayMs > 0 && job.bytes[at - 1] == '\n') pause += pacing.lineDelayMs;
    if (pause > 0) {
      deadline += pause;
      Pause(job, pause);  // cut short by a cancel, which the next piece then sees
    }
  }
  bool stopped = end == WriteEnd::kStopped;
  bool failed = end == WriteEnd::kFailed;
  if (job.readError != 0) {
    job.result.failure = "Cannot read " + job.name + ": " + std::strerror(job.readError);
    hub_.news.PostMessage(job.result.failure);
    stopped = true;
  }
  hub_.counters.StampSend();
  while (!failed && !stopped && !hub_.port.WaitDrained(SliceUntil(deadline))) {
    stopped = Stopping(job);
    failed = !stopped && SteadyNowMs() >= deadline;
  }
  if (failed && !abort_.load()) {
    job.result.failure = LoadString(StringId::kWriteFail);
    hub_.news.PostMessage(job.result.failure);
  }
  job.result.complete = !failed && !stopped;
}

bool SendWriter::Stopping(const Job& job) const {
  return abort_.load() || (job.IsFile() && cancelFile_.load());
}

void SendWriter::Pause(const Job& job, int ms) {
  std::unique_lock guard(mutex_);
  changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return quit_ || Stopping(job); });
}

void SendWriter::Count(Job& job, const uint8_t* bytes, int count) {
  hub_.counters.CountSent(count);
  hub_.listeners.Sent(bytes, count);
  if (job.IsFile()) {
    std::lock_guard guard(mutex_);
    progress_.sent += static_cast<uint64_t>(count);
  }
  job.result.written += static_cast<uint64_t>(count);
  hub_.news.CountersMoved();
}

}  // namespace quorvel
