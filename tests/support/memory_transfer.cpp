#include "support/memory_transfer.h"

#include <algorithm>
#include <cstring>

namespace quorvel::testing {

int64_t MemoryFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t count, std::string* reason) {
  if (offset + count > failAt_) {
    *reason = "Input/output error";
    return -1;
  }
  if (offset >= bytes_.size()) return 0;
  size_t n = std::min<size_t>(count, bytes_.size() - offset);
  std::memcpy(buffer, bytes_.data() + offset, n);
  return static_cast<int64_t>(n);
}

bool MemorySink::Begin(const IncomingFile& file, std::string* reason) {
  if (open_) {
    *reason = "begun twice";
    return false;
  }
  if (std::find(refused_.begin(), refused_.end(), file.name) != refused_.end()) {
    ++refusals_;
    *reason = "refused by the test";
    return false;
  }
  files_.push_back(Kept{file, {}, false, false});
  open_ = true;
  return true;
}

bool MemorySink::Write(const uint8_t* bytes, size_t count, std::string* reason) {
  if (!open_) {
    *reason = "written without a file";
    return false;
  }
  std::vector<uint8_t>& kept = files_.back().bytes;
  if (kept.size() + count > writeLimit_) {
    *reason = "No space left on device";
    return false;
  }
  kept.insert(kept.end(), bytes, bytes + count);
  return true;
}

bool MemorySink::End(bool complete, std::string*) {
  if (!open_) return true;
  files_.back().complete = complete;
  files_.back().ended = true;
  open_ = false;
  return true;
}

std::vector<uint8_t> MemorySink::Complete(const std::string& name) const {
  for (const Kept& kept : files_) {
    if (kept.header.name == name && kept.complete) return kept.bytes;
  }
  return {};
}

void RecordingObserver::When(uint64_t bytes, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  actionAt_ = bytes;
  action_ = std::move(action);
}

void RecordingObserver::Progressed(const TransferProgress& progress) {
  std::function<void()> action;
  {
    std::lock_guard lock(mutex_);
    last_ = progress;
    if (progress.waitSecondsLeft >= 0 &&
        (countdown_.empty() || countdown_.back() != progress.waitSecondsLeft)) {
      countdown_.push_back(progress.waitSecondsLeft);
    }
    if (action_ && progress.bytes >= actionAt_) action.swap(action_);
  }
  if (action) action();
}

void RecordingObserver::Noted(std::string_view text) {
  std::lock_guard lock(mutex_);
  notes_.emplace_back(text);
}

std::vector<std::string> RecordingObserver::Notes() const {
  std::lock_guard lock(mutex_);
  return notes_;
}

std::vector<int> RecordingObserver::Countdown() const {
  std::lock_guard lock(mutex_);
  return countdown_;
}

TransferProgress RecordingObserver::Last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

}  // namespace quorvel::testing
