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

// How long one write waits for room before the writer looks at the clock and
// at cancellation again: the bound of an abort or a cancel.
constexpr int kSliceMs = 50;
constexpr size_t kFileBlock = 64 * 1024;

int SliceUntil(int64_t deadline) {
  return static_cast<int>(std::clamp<int64_t>(deadline - SteadyNowMs(), 0, kSliceMs));
}

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

  std::vector<uint8_t> bytes;
  UniqueFd file;  // a file to send; closed with the job
  int readError = 0;
  std::string name;
  uint64_t total = 0;
  FilePacing pacing;
};

SendWriter::SendWriter(TerminalState& state) : state_(state) {
  thread_ = std::thread([this] { Run(); });
}

SendWriter::~SendWriter() {
  {
    std::lock_guard guard(mutex_);
    queue_.clear();
    quit_ = true;
  }
  abort_.store(true);
  changed_.notify_all();
  thread_.join();
}

void SendWriter::QueueBytes(std::vector<uint8_t> bytes) {
  Job job;
  job.total = bytes.size();
  job.bytes = std::move(bytes);
  {
    std::lock_guard guard(mutex_);
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void SendWriter::QueueFile(UniqueFd file, std::string name, uint64_t size, FilePacing pacing) {
  Job job;
  job.file = std::move(file);
  job.name = std::move(name);
  job.total = size;
  job.pacing = pacing;
  {
    std::lock_guard guard(mutex_);
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
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
  {
    std::lock_guard guard(mutex_);
    std::erase_if(queue_, [](const Job& job) { return job.IsFile(); });
    cancelFile_.store(true);
  }
  changed_.notify_all();
}

void SendWriter::Abort() {
  {
    std::lock_guard guard(mutex_);
    queue_.clear();
    abort_.store(true);
  }
  changed_.notify_all();
  state_.port.CancelWaits();
  state_.uiCalls.ServeUntil([this] {
    std::lock_guard guard(mutex_);
    return !running_;
  });
  abort_.store(false);
}

std::vector<std::string> SendWriter::TakeNews() {
  newsPending_.store(false);
  news_.Drain();
  std::lock_guard guard(mutex_);
  return std::exchange(messages_, {});
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
    SignalNews();
    state_.uiCalls.Notify();  // an Abort may be waiting for this
  }
}

void SendWriter::Send(Job& job) {
  if (!state_.wire.Take(abort_)) return;
  Write(job);
  // Echo and auto-reply bytes that came during this send follow it at once.
  for (;;) {
    std::deque<WireGate::Bytes> left = state_.wire.CollectOrRelease();
    if (left.empty()) return;
    for (WireGate::Bytes& reply : left) {
      if (abort_.load()) continue;
      Job replyJob;
      replyJob.total = reply.size();
      replyJob.bytes = std::move(reply);
      Write(replyJob);
    }
  }
}

void SendWriter::Write(Job& job) {
  {
    std::lock_guard guard(state_.lock);
    ++state_.sendCount;
  }
  int64_t deadline = SteadyNowMs() + state_.port.WriteBoundMs(static_cast<int64_t>(job.total));
  const FilePacing pacing = job.pacing;
  bool failed = false;
  bool stopped = false;
  size_t at = 0;
  while (!failed && !(stopped = Stopping(job))) {
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
    int n =
        state_.port.WriteSome(job.bytes.data() + at, static_cast<int>(piece), SliceUntil(deadline));
    if (n > 0) {
      Count(job, job.bytes.data() + at, n);
      at += static_cast<size_t>(n);
      int pause = pacing.byteDelayMs;
      if (pacing.lineDelayMs > 0 && job.bytes[at - 1] == '\n') pause += pacing.lineDelayMs;
      if (pause > 0 && static_cast<size_t>(n) == piece) {
        deadline += pause;
        Pause(job, pause);  // cut short by a cancel, which the loop then sees
      }
    } else if (n < 0 || SteadyNowMs() >= deadline) {
      failed = true;
    }
  }
  if (job.readError != 0) {
    Post("Cannot read " + job.name + ": " + std::strerror(job.readError));
    stopped = true;
  }
  {
    std::lock_guard guard(state_.lock);
    state_.lastSendTime = ReadCounter();
  }
  while (!failed && !stopped && !state_.port.WaitDrained(SliceUntil(deadline))) {
    stopped = Stopping(job);
    failed = !stopped && SteadyNowMs() >= deadline;
  }
  if (failed && !abort_.load()) Post(LoadString(StringId::kWriteFail));
}

bool SendWriter::Stopping(const Job& job) const {
  return abort_.load() || (job.IsFile() && cancelFile_.load());
}

void SendWriter::Pause(const Job& job, int ms) {
  std::unique_lock guard(mutex_);
  changed_.wait_for(guard, std::chrono::milliseconds(ms), [&] { return quit_ || Stopping(job); });
}

void SendWriter::Count(const Job& job, const uint8_t* bytes, int count) {
  {
    std::lock_guard guard(state_.lock);
    state_.txCount += static_cast<uint32_t>(count);
  }
  state_.TapSent(bytes, count);
  if (job.IsFile()) {
    std::lock_guard guard(mutex_);
    progress_.sent += static_cast<uint64_t>(count);
  }
  SignalNews();
}

void SendWriter::Post(std::string message) {
  {
    std::lock_guard guard(mutex_);
    messages_.push_back(std::move(message));
  }
  SignalNews();
}

void SendWriter::SignalNews() {
  if (!newsPending_.exchange(true)) news_.Signal();
}

}  // namespace quorvel
