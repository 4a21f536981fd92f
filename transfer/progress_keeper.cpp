#include "transfer/progress_keeper.h"

namespace quorvel {

void ProgressKeeper::StartFile(std::string name, int64_t total) {
  progress_.file = std::move(name);
  progress_.total = total;
  progress_.bytes = 0;
  progress_.blocks = 0;
  progress_.waitSecondsLeft = -1;
  fileCounted_ = false;
  observer_.Progressed(progress_);
}

void ProgressKeeper::AddBlock(uint64_t bytes) {
  progress_.bytes += bytes;
  ++progress_.blocks;
  progress_.waitSecondsLeft = -1;
  observer_.Progressed(progress_);
}

void ProgressKeeper::Retry() {
  ++progress_.retries;
  ++outcome_.retries;
  observer_.Progressed(progress_);
}

void ProgressKeeper::Waiting(int secondsLeft) {
  if (progress_.waitSecondsLeft == secondsLeft) return;
  progress_.waitSecondsLeft = secondsLeft;
  observer_.Progressed(progress_);
}

void ProgressKeeper::FileDone() {
  ++outcome_.files;
  outcome_.bytes += progress_.bytes;
  fileCounted_ = true;
}

TransferOutcome ProgressKeeper::End(TransferStatus status, std::string detail) {
  TransferOutcome outcome = outcome_;
  outcome.status = status;
  outcome.detail = std::move(detail);
  // A file cut short still counts its bytes.
  if (!fileCounted_) outcome.bytes += progress_.bytes;
  return outcome;
}

}  // namespace quorvel
