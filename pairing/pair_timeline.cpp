#include "pairing/pair_timeline.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace quorvel {
namespace {

// As the store cuts an event's text: one line, at most 1 KiB.
constexpr size_t kMaxEventText = 1024;

}  // namespace

const char* SideName(PairSide side) {
  return side == PairSide::kA ? "A" : "B";
}

void PairTimeline::Read(PairSide side, const uint8_t* bytes, int count) {
  if (count <= 0) return;
  Keep(side == PairSide::kA ? SessionKind::kReceived : SessionKind::kSent, SessionEvent::kNone,
       bytes, static_cast<size_t>(count));
}

void PairTimeline::Event(PairSide side, LineEvent event, std::string_view text) {
  std::string line = std::string(SideName(side)) + ": ";
  line.append(text.substr(0, kMaxEventText));
  line.erase(
      std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }),
      line.end());
  Keep(SessionKind::kEvent, event, reinterpret_cast<const uint8_t*>(line.data()), line.size());
}

void PairTimeline::Note(std::string_view text) {
  std::string line(text.substr(0, kMaxEventText));
  line.erase(
      std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }),
      line.end());
  if (line.empty()) return;
  Keep(SessionKind::kEvent, SessionEvent::kNote, reinterpret_cast<const uint8_t*>(line.data()),
       line.size());
}

void PairTimeline::Keep(SessionKind kind, SessionEvent event, const uint8_t* bytes, size_t count) {
  // Stamped before the lock: the moment of the read, not of the keep.
  using namespace std::chrono;
  int64_t monoNs = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
  int64_t wallMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  {
    std::lock_guard guard(mutex_);
    if (monoNs < lastMonoNs_) {
      monoNs = lastMonoNs_;
      wallMs = lastWallMs_;
    }
    lastMonoNs_ = monoNs;
    lastWallMs_ = wallMs;
    store_.AppendAt(kind, event, bytes, count, monoNs, wallMs);
    if (kind != SessionKind::kEvent) {
      log_.Record(kind == SessionKind::kReceived ? LogDirection::kReceived : LogDirection::kSent,
                  wallMs, bytes, static_cast<int>(count));
    }
  }
  news_.Raise();
}

}  // namespace quorvel
