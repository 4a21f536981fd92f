// Finding in the session history: a scan over the chunks taken as they were
// when the search began, without the store's lock, so the taps go on. A
// match may span chunks: the bytes around each chunk's end are searched in a
// small copy of their own.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "history/session_store.h"
#include "history/session_store_impl.h"

namespace quorvel {
namespace {

uint8_t FoldCase(uint8_t byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<uint8_t>(byte + ('a' - 'A')) : byte;
}

// Finds a pattern wholly inside one stretch of contiguous bytes.
class Matcher {
 public:
  Matcher(const std::vector<uint8_t>& pattern, bool matchCase)
      : pattern_(pattern), matchCase_(matchCase) {
    if (matchCase_) return;
    for (uint8_t& byte : pattern_) byte = FoldCase(byte);
    // Horspool's shifts over the case-folded bytes.
    shift_.fill(pattern_.size());
    for (size_t i = 0; i + 1 < pattern_.size(); ++i) shift_[pattern_[i]] = pattern_.size() - 1 - i;
    for (int c = 'A'; c <= 'Z'; ++c) shift_[c] = shift_[FoldCase(static_cast<uint8_t>(c))];
  }

  size_t Size() const { return pattern_.size(); }

  // The first match in [bytes, bytes + count), or null.
  const uint8_t* First(const uint8_t* bytes, size_t count) const {
    size_t m = pattern_.size();
    if (count < m) return nullptr;
    if (matchCase_) return static_cast<const uint8_t*>(memmem(bytes, count, pattern_.data(), m));
    for (size_t i = 0; i + m <= count; i += shift_[bytes[i + m - 1]]) {
      size_t j = m;
      while (j > 0 && FoldCase(bytes[i + j - 1]) == pattern_[j - 1]) --j;
      if (j == 0) return bytes + i;
    }
    return nullptr;
  }

 private:
  std::vector<uint8_t> pattern_;
  bool matchCase_;
  std::array<size_t, 256> shift_{};
};

// Whether a match found at an offset counts (with sent bytes hidden, one in
// them does not).
using Accept = std::function<bool(uint64_t)>;

// The first match starting in [begin, limit) that `accept` takes.
std::optional<uint64_t> FirstMatch(const ChunkView& view, const Matcher& matcher, uint64_t begin,
                                   uint64_t limit, const Accept& accept) {
  const size_t m = matcher.Size();
  std::vector<uint8_t> seam;
  // Matches in bytes[0, count) at `offset`, those starting before `before`.
  auto scan = [&](const uint8_t* bytes, size_t count, uint64_t offset, uint64_t before,
                  std::optional<uint64_t>& found) {
    for (size_t from = 0;;) {
      const uint8_t* hit = matcher.First(bytes + from, count - from);
      if (hit == nullptr) return false;
      uint64_t at = offset + static_cast<uint64_t>(hit - bytes);
      if (at >= before) return false;
      if (at >= limit) return true;  // the first match lies past the limit: none
      if (accept(at)) {
        found = at;
        return true;
      }
      from = static_cast<size_t>(hit - bytes) + 1;
    }
  };
  std::optional<uint64_t> found;
  for (uint64_t pos = begin; pos < limit && pos + m <= view.end;) {
    size_t length = view.Contiguous(pos);
    uint64_t segmentEnd = pos + length;
    if (scan(view.At(pos), length, pos, segmentEnd, found)) return found;
    if (segmentEnd < view.end && m > 1) {  // matches across the chunk's end
      uint64_t from = std::max(pos, segmentEnd - (m - 1));
      uint64_t to = std::min(view.end, segmentEnd + (m - 1));
      seam.resize(static_cast<size_t>(to - from));
      view.Copy(from, seam.size(), seam.data());
      if (scan(seam.data(), seam.size(), from, segmentEnd, found)) return found;
    }
    pos = segmentEnd;
  }
  return std::nullopt;
}

// The last match starting in [begin, limit) that `accept` takes: chunk by
// chunk from the end.
std::optional<uint64_t> LastMatch(const ChunkView& view, const Matcher& matcher, uint64_t begin,
                                  uint64_t limit, const Accept& accept) {
  while (limit > begin) {
    uint64_t chunkStart = (limit - 1) / kSessionChunkBytes * kSessionChunkBytes;
    uint64_t from = std::max(begin, chunkStart);
    std::optional<uint64_t> last;
    for (auto hit = FirstMatch(view, matcher, from, limit, accept); hit;
         hit = FirstMatch(view, matcher, *hit + 1, limit, accept)) {
      last = hit;
    }
    if (last) return last;
    limit = from;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SessionMatch> SessionStore::Find(SessionDisplay display, const SessionQuery& query,
                                               uint64_t fromOffset, FindWay way,
                                               bool withSent) const {
  if (query.bytes.empty() || query.bytes.size() > kSessionMaxQuery) return std::nullopt;
  ChunkView view;
  uint64_t clears;
  {
    std::lock_guard guard(impl_->mutex);
    view = impl_->chunks.View(impl_->base, impl_->end);
    clears = impl_->clears;
  }
  Matcher matcher(query.bytes, query.matchCase);
  Accept accept = [&](uint64_t at) {
    if (withSent) return true;
    std::lock_guard guard(impl_->mutex);
    return impl_->clears == clears && !impl_->SentAt(at);
  };
  uint64_t from = std::clamp(fromOffset, view.base, view.end);
  SessionMatch match;
  std::optional<uint64_t> hit;
  if (way == FindWay::kForward) {
    hit = FirstMatch(view, matcher, from, view.end, accept);
    if (!hit && (hit = FirstMatch(view, matcher, view.base, from, accept))) match.wrapped = true;
  } else {
    hit = LastMatch(view, matcher, view.base, from, accept);
    if (!hit && (hit = LastMatch(view, matcher, from, view.end, accept))) match.wrapped = true;
  }
  if (!hit) return std::nullopt;
  std::lock_guard guard(impl_->mutex);
  // Cleared meanwhile, or dropped off the top: the match is no longer there.
  if (impl_->clears != clears || *hit < impl_->base) return std::nullopt;
  match.offset = *hit;
  match.length = query.bytes.size();
  match.line = impl_->LineAt(display, *hit, withSent);
  return match;
}

}  // namespace quorvel
