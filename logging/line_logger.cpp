#include "logging/line_logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <utility>

namespace quorvel {
namespace {

// The writer is told early once this much waits; far more than a second of
// any serial line, so it only matters for a flood from a fast device.
constexpr size_t kWakeBytes = 1 << 20;
// Past this the disk cannot keep up: logging ends rather than memory growing
// without bound.
constexpr size_t kMaxPendingBytes = size_t{256} << 20;
constexpr size_t kRecordHeader = 1 + sizeof(int64_t) + sizeof(uint32_t);

int64_t UnixMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string Describe(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

}  // namespace

LineLogger::~LineLogger() {
  Stop();
}

Done LineLogger::Start(const LogRequest& request) {
  return Start(request, LogLabels{});
}

Done LineLogger::Start(const LogRequest& request, const LogLabels& labels) {
  Stop();
  // A file past the process's size limit must end the log with a message,
  // not the process with a signal: the write then fails with EFBIG.
  std::signal(SIGXFSZ, SIG_IGN);
  struct stat info {};
  if (::stat(request.path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return Failure{request.path + ": not a regular file"};
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (request.append ? O_APPEND : O_TRUNC);
  UniqueFd file(::open(request.path.c_str(), flags, 0644));
  if (!file) {
    return Failure{Describe(request.path, errno)};
  }
  ::fstat(file.Get(), &info);
  request_ = request;
  labels_ = labels;
  fileSize_.store(static_cast<uint64_t>(info.st_size));
  failed_.Drain();
  {
    std::lock_guard guard(mutex_);
    pending_.clear();
    failure_.clear();
    includeSent_ = request.includeSent;
    stop_ = false;
    active_.store(true);
  }
  thread_ = std::thread([this, file = std::move(file)]() mutable { Run(std::move(file)); });
  return {};
}

void LineLogger::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard guard(mutex_);
    stop_ = true;
    active_.store(false);  // under the lock: nothing is added after the last batch
  }
  wake_.notify_all();
  thread_.join();
}

std::string LineLogger::TakeFailure() {
  failed_.Drain();
  std::lock_guard guard(mutex_);
  return std::exchange(failure_, {});
}

void LineLogger::Received(const uint8_t* bytes, int count) {
  Add(LogDirection::kReceived, bytes, count);
}

void LineLogger::Sent(const uint8_t* bytes, int count) {
  Add(LogDirection::kSent, bytes, count);
}

void LineLogger::Add(LogDirection direction, const uint8_t* bytes, int count) {
  if (count <= 0 || !active_.load(std::memory_order_relaxed)) return;
  Record(direction, UnixMs(), bytes, count);
}

void LineLogger::Record(LogDirection direction, int64_t now, const uint8_t* bytes, int count) {
  if (count <= 0 || !active_.load(std::memory_order_relaxed)) return;
  auto length = static_cast<uint32_t>(count);
  bool wake = false;
  {
    std::lock_guard guard(mutex_);
    if (!active_.load() || (direction == LogDirection::kSent && !includeSent_)) return;
    if (pending_.size() + kRecordHeader + length > kMaxPendingBytes) {
      failure_ = "Logging stopped: the disk cannot keep up with the line";
      active_.store(false);
      stop_ = true;
      wake = true;
    } else {
      size_t at = pending_.size();
      pending_.resize(at + kRecordHeader + length);
      uint8_t* record = pending_.data() + at;
      record[0] = static_cast<uint8_t>(direction);
      std::memcpy(record + 1, &now, sizeof now);
      std::memcpy(record + 1 + sizeof now, &length, sizeof length);
      std::memcpy(record + kRecordHeader, bytes, length);
      wake = pending_.size() >= kWakeBytes;
    }
  }
  if (wake) wake_.notify_one();
}

void LineLogger::Run(UniqueFd file) {
  LogFormatter formatter(request_.format, request_.includeSent, labels_);
  std::vector<uint8_t> batch;
  std::string text;
  for (bool last = false; !last;) {
    {
      std::unique_lock guard(mutex_);
      wake_.wait_for(guard, std::chrono::milliseconds(kFlushMs),
                     [this] { return stop_ || pending_.size() >= kWakeBytes; });
      batch.swap(pending_);
      last = stop_;
    }
    for (size_t at = 0; at + kRecordHeader <= batch.size();) {
      int64_t time;
      uint32_t length;
      std::memcpy(&time, batch.data() + at + 1, sizeof time);
      std::memcpy(&length, batch.data() + at + 1 + sizeof time, sizeof length);
      formatter.Append(static_cast<LogDirection>(batch[at]), time,
                       batch.data() + at + kRecordHeader, length, text);
      at += kRecordHeader + length;
    }
    batch.clear();
    if (!WriteOut(file.Get(), text)) break;
    text.clear();
  }
  file.Reset();  // closed before a failure is told, so the file is whole
  std::lock_guard guard(mutex_);
  if (!failure_.empty()) failed_.Signal();
}

bool LineLogger::WriteOut(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("Logging stopped: " + Describe(request_.path, n < 0 ? errno : ENOSPC));
      return false;
    }
    done += static_cast<size_t>(n);
    fileSize_.fetch_add(static_cast<uint64_t>(n));
  }
  return true;
}

void LineLogger::Fail(const std::string& message) {
  std::lock_guard guard(mutex_);
  failure_ = message;
  active_.store(false);
  pending_.clear();
}

}  // namespace quorvel
