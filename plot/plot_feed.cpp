#include "plot/plot_feed.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "history/session_store.h"

namespace quorvel {
namespace {

// What may wait for the thread: far more than any line rate it keeps up with.
constexpr size_t kPendingLimit = size_t{64} << 20;
// The thread takes what arrived at most this often, so a flood of small
// reads costs a few wake-ups per display frame rather than one per read.
constexpr auto kPassSpacing = std::chrono::milliseconds(4);
constexpr size_t kRowsPerAppend = 4096;

bool IsMarked(LineEvent event) {
  switch (event) {
    case LineEvent::kLinkOpened:
    case LineEvent::kLinkClosed:
    case LineEvent::kDeviceAway:
    case LineEvent::kDeviceBack:
      return true;
    default:
      return false;
  }
}

}  // namespace

int64_t PlotNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

PlotFeed::PlotFeed(PlotStore& store) : store_(store) {}

PlotFeed::~PlotFeed() {
  Stop();
}

void PlotFeed::Start(const SessionStore* history) {
  if (thread_.joinable()) return;
  history_ = history;
  originNs_ = PlotNowNs();
  {
    std::lock_guard guard(lock_);
    stop_ = false;
    busy_ = true;  // until the history is read
  }
  thread_ = std::thread([this] { Run(); });
}

void PlotFeed::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard guard(lock_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void PlotFeed::Received(const uint8_t* bytes, int count) {
  if (count > 0) ReceivedAt(bytes, static_cast<size_t>(count), PlotNowNs());
}

void PlotFeed::ReceivedAt(const uint8_t* bytes, size_t count, int64_t monoNs) {
  Hand(Kind::kBytes, LineEvent::kNone, bytes, count, monoNs);
}

void PlotFeed::Noted(LineEvent event, std::string_view text) {
  if (!IsMarked(event)) return;
  Hand(Kind::kEvent, event, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
       PlotNowNs());
}

void PlotFeed::Clear() {
  Hand(Kind::kClear, LineEvent::kNone, nullptr, 0, PlotNowNs());
}

void PlotFeed::SetPattern(std::shared_ptr<const PlotPattern> pattern) {
  {
    std::lock_guard guard(lock_);
    nextPattern_ = std::move(pattern);
    patternChanged_ = true;
  }
  wake_.notify_one();
}

bool PlotFeed::Idle() const {
  std::lock_guard guard(lock_);
  return !busy_ && pending_.pieces.empty() && !patternChanged_;
}

void PlotFeed::Hand(Kind kind, LineEvent event, const uint8_t* bytes, size_t count,
                    int64_t monoNs) {
  bool wasEmpty;
  {
    std::lock_guard guard(lock_);
    if (kind == Kind::kBytes && firstLiveNs_ < 0) firstLiveNs_ = monoNs;
    wasEmpty = pending_.pieces.empty();
    if (pending_.bytes.size() + count > kPendingLimit) {
      if (pending_.pieces.empty() || pending_.pieces.back().kind != Kind::kLost) {
        pending_.pieces.push_back({Kind::kLost, LineEvent::kNone, monoNs, 0, 0});
      }
      return;
    }
    pending_.pieces.push_back({kind, event, monoNs, pending_.bytes.size(), count});
    if (count > 0) pending_.bytes.append(reinterpret_cast<const char*>(bytes), count);
  }
  if (wasEmpty) wake_.notify_one();
}

void PlotFeed::Run() {
  ReadHistory();
  std::unique_lock guard(lock_);
  for (;;) {
    busy_ = false;
    wake_.wait(guard, [this] { return stop_ || !pending_.pieces.empty() || patternChanged_; });
    if (stop_ && pending_.pieces.empty()) return;
    busy_ = true;
    if (patternChanged_) {
      parser_.SetPattern(nextPattern_);
      patternChanged_ = false;
    }
    std::swap(pending_, working_);
    guard.unlock();
    auto passStart = std::chrono::steady_clock::now();
    Take(working_);
    working_.clear();
    guard.lock();
    // Let more arrive before the next pass, unless told to stop.
    wake_.wait_until(guard, passStart + kPassSpacing, [this] { return stop_; });
  }
}

void PlotFeed::ReadHistory() {
  if (history_) {
    bool first = true;
    int64_t liveFrom = -1;
    history_->ForEachRun([&](const SessionStore::Run& run) {
      if (first) {
        // Read once the history's snapshot is taken: what it holds from
        // here on is also on its way through the tap.
        std::lock_guard guard(lock_);
        liveFrom = firstLiveNs_;
        originNs_ = std::min(originNs_, run.monoNs);
        first = false;
      }
      if (liveFrom >= 0 && run.monoNs >= liveFrom) return false;
      auto text = reinterpret_cast<const char*>(run.bytes.data());
      if (run.kind == SessionKind::kReceived) TakeBytes(text, run.bytes.size(), run.monoNs);
      if (run.kind == SessionKind::kEvent && IsMarked(run.event)) {
        Flush();
        store_.AddMarker(Seconds(run.monoNs), run.event, std::string(text, run.bytes.size()));
      }
      return true;
    });
  }
  Flush();
}

void PlotFeed::Take(const Batch& batch) {
  for (const Piece& piece : batch.pieces) {
    const char* bytes = batch.bytes.data() + piece.offset;
    switch (piece.kind) {
      case Kind::kBytes:
        TakeBytes(bytes, piece.length, piece.monoNs);
        break;
      case Kind::kEvent:
        Flush();
        store_.AddMarker(Seconds(piece.monoNs), piece.event, std::string(bytes, piece.length));
        SignalNews();
        break;
      case Kind::kClear:
        rows_.clear();
        skipped_ = 0;
        line_.clear();
        overlong_ = afterCr_ = false;
        parser_.ForgetNames();
        store_.Clear();
        originNs_ = piece.monoNs;
        SignalNews();
        break;
      case Kind::kLost:
        // The line under way lost bytes: it is counted as skipped.
        line_.clear();
        overlong_ = true;
        break;
    }
  }
  Flush();
}

void PlotFeed::TakeBytes(const char* bytes, size_t count, int64_t monoNs) {
  size_t at = 0;
  while (at < count) {
    size_t end = at;
    while (end < count && bytes[end] != '\n' && bytes[end] != '\r') ++end;
    if (end > at) {
      afterCr_ = false;
      size_t length = end - at;
      if (overlong_ || line_.size() + length > kPlotMaxLineBytes) {
        overlong_ = true;
        line_.clear();
      } else if (end < count && line_.empty()) {
        // A whole line in this run: read in place.
        EndLine(std::string_view(bytes + at, length), monoNs);
        at = end;
        afterCr_ = bytes[at] == '\r';
        ++at;
        continue;
      } else {
        line_.append(bytes + at, length);
      }
    }
    if (end == count) return;
    char ending = bytes[end];
    at = end + 1;
    if (ending == '\n' && afterCr_) {  // the LF of a CR LF
      afterCr_ = false;
      continue;
    }
    EndLine(line_, monoNs);
    line_.clear();
    afterCr_ = ending == '\r';
  }
}

void PlotFeed::EndLine(std::string_view line, int64_t monoNs) {
  if (overlong_) {
    overlong_ = false;
    ++skipped_;
    return;
  }
  if (line.empty()) return;  // a blank line holds nothing to skip
  parser_.Parse(line, parsed_);
  if (parsed_.count == 0) {
    ++skipped_;
    return;
  }
  rows_.push_back({Seconds(monoNs), parsed_});
  if (rows_.size() >= kRowsPerAppend) Flush();
}

void PlotFeed::Flush() {
  bool changed = !rows_.empty() || skipped_ > 0;
  if (!rows_.empty()) store_.Append(rows_.data(), rows_.size(), parser_.Names());
  rows_.clear();
  if (skipped_ > 0) store_.CountSkipped(skipped_);
  skipped_ = 0;
  if (changed) SignalNews();
}

void PlotFeed::SignalNews() {
  news_.Raise();
}

void PlotFeed::TakeNews() {
  news_.Take();
}

double PlotFeed::Seconds(int64_t monoNs) const {
  return static_cast<double>(monoNs - originNs_) / 1e9;
}

}  // namespace quorvel
