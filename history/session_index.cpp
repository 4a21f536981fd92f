#include "history/session_index.h"

#include <algorithm>
#include <cstring>

namespace quorvel {
namespace {

// Whether any byte of `word` is zero (the classic bit trick: exact, since
// only a zero byte can borrow into its own high bit first).
constexpr bool HasZeroByte(uint64_t word) {
  return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
}

// The first CR or LF in [bytes, bytes + count), or count. Eight bytes at a
// time: this runs on the receive worker for every byte it reads.
size_t FindLineEnd(const uint8_t* bytes, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (HasZeroByte(word ^ 0x0A0A0A0A0A0A0A0Aull) || HasZeroByte(word ^ 0x0D0D0D0D0D0D0D0Dull)) {
      break;
    }
  }
  for (; i < count; ++i) {
    if (bytes[i] == '\n' || bytes[i] == '\r') return i;
  }
  return count;
}

}  // namespace

LineIndex::LineIndex(SessionDisplay display, const SessionSplit& split)
    : display_(display),
      silenceNs_(
          int64_t{display == SessionDisplay::kText ? split.textSilenceMs : split.hexSilenceMs} *
          1'000'000),
      frameEndByte_(display == SessionDisplay::kHex ? split.frameEndByte : -1) {}

void LineIndex::Start(uint64_t offset) {
  if (lastKind_ != SessionKind::kSent) unsent_.PushBack(dropped_ + starts_.size());
  starts_.push_back(LineStart{offset, 0, static_cast<uint64_t>(lastKind_), 0});
  pending_ = false;
  lastWasCr_ = false;
}

size_t LineIndex::Room(uint64_t offset) const {
  uint64_t used = offset - starts_.back().offset;
  return used >= kSessionMaxLineBytes ? 0 : kSessionMaxLineBytes - used;
}

void LineIndex::Add(SessionKind kind, uint64_t offset, const uint8_t* bytes, size_t count,
                    int64_t monoNs) {
  if (count == 0) return;
  bool quiet = silenceNs_ > 0 && monoNs - lastMonoNs_ >= silenceNs_;
  bool eachBurst = display_ == SessionDisplay::kHex && silenceNs_ == 0;
  bool forced = !any_ || kind == SessionKind::kEvent || kind != lastKind_ || quiet || eachBurst;
  any_ = true;
  lastKind_ = kind;  // before Start: the line's kind
  lastMonoNs_ = monoNs;
  if (forced) Start(offset);
  if (kind == SessionKind::kEvent) {
    pending_ = true;  // nothing joins an event's line
    return;
  }
  if (display_ == SessionDisplay::kText) {
    ScanText(offset, bytes, count);
  } else {
    ScanHex(offset, bytes, count);
  }
}

void LineIndex::ScanText(uint64_t offset, const uint8_t* bytes, size_t count) {
  size_t i = 0;
  while (i < count) {
    if (pending_) {
      if (lastWasCr_ && bytes[i] == '\n') {  // CR LF: the LF ends the same line
        lastWasCr_ = false;
        ++i;
        continue;
      }
      Start(offset + i);
    }
    size_t room = Room(offset + i);
    if (room == 0) {
      starts_.back().continued = 1;
      Start(offset + i);
      room = kSessionMaxLineBytes;
    }
    size_t span = std::min(room, count - i);
    size_t end = FindLineEnd(bytes + i, span);
    if (end < span) {
      pending_ = true;
      lastWasCr_ = bytes[i + end] == '\r';
      i += end + 1;
    } else {
      i += span;
    }
  }
}

void LineIndex::ScanHex(uint64_t offset, const uint8_t* bytes, size_t count) {
  size_t i = 0;
  while (i < count) {
    if (pending_) Start(offset + i);
    size_t room = Room(offset + i);
    if (room == 0) {
      starts_.back().continued = 1;
      Start(offset + i);
      room = kSessionMaxLineBytes;
    }
    size_t span = std::min(room, count - i);
    const void* end = frameEndByte_ >= 0 ? std::memchr(bytes + i, frameEndByte_, span) : nullptr;
    if (end != nullptr) {
      pending_ = true;
      i = static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes) + 1;
    } else {
      i += span;
    }
  }
}

uint64_t LineIndex::DropBefore(uint64_t base, uint64_t end) {
  uint64_t gone = 0;
  while (!starts_.empty() && (starts_.size() >= 2 ? starts_[1].offset <= base : base >= end)) {
    starts_.pop_front();
    ++gone;
  }
  if (!starts_.empty() && starts_.front().offset < base) starts_.front().offset = base;
  if (starts_.empty()) pending_ = true;
  dropped_ += gone;
  while (!unsent_.Empty() && unsent_.At(0) < dropped_) {
    unsent_.PopFront();
    ++unsentDropped_;
  }
  return gone;
}

}  // namespace quorvel
