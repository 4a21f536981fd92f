#include "history/session_store.h"

#include <algorithm>
#include <chrono>

#include "history/session_store_impl.h"

namespace quorvel {
namespace {

int64_t MonoNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t WallNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

constexpr size_t kMaxEventText = 1024;

const char* EventName(SessionEvent event) {
  switch (event) {
    case SessionEvent::kLinkOpened:
      return "Link opened";
    case SessionEvent::kLinkClosed:
      return "Link closed";
    case SessionEvent::kDeviceAway:
      return "Device away";
    case SessionEvent::kDeviceBack:
      return "Device back";
    case SessionEvent::kSettingsChanged:
      return "Line settings changed";
    case SessionEvent::kModemLinesChanged:
      return "Modem lines changed";
    case SessionEvent::kBreakSent:
      return "Break sent";
    case SessionEvent::kLoggingStarted:
      return "Logging started";
    case SessionEvent::kLoggingStopped:
      return "Logging stopped";
    case SessionEvent::kTransfer:
      return "File transfer";
    case SessionEvent::kNote:
      return "Note";
    case SessionEvent::kNone:
      break;
  }
  return "Event";
}

}  // namespace

SessionStore::Impl::Impl(uint64_t limitBytes)
    : limit(std::clamp(limitBytes, kSessionLimitMin, kSessionLimitMax)),
      text(SessionDisplay::kText, split),
      hex(SessionDisplay::kHex, split) {}

void SessionStore::Impl::Append(SessionKind kind, SessionEvent event, const uint8_t* bytes,
                                size_t count, int64_t monoNs, int64_t wallMs) {
  if (count == 0) return;
  // A run stamped before the last one kept (its thread reached the lock
  // second) is shown at the last one's moment: its wall time too, or a
  // saved history would go back a millisecond where the steady one did not.
  if (monoNs < lastMonoNs) {
    monoNs = lastMonoNs;
    wallMs = lastWallMs;
  }
  if (runs.empty() && end == base) firstMonoNs = monoNs;
  lastMonoNs = monoNs;
  lastWallMs = wallMs;
  chunks.Append(end, bytes, count);
  RunEntry run{};
  run.offset = end;
  run.kind = static_cast<uint8_t>(kind);
  run.event = static_cast<uint8_t>(event);
  run.monoNs = monoNs;
  run.wallMs = wallMs;
  runs.push_back(run);
  text.Add(kind, end, bytes, count, monoNs);
  hex.Add(kind, end, bytes, count, monoNs);
  if (event == SessionEvent::kLinkOpened) opens.push_back({end, monoNs});
  end += count;
  Trim();
}

uint64_t SessionStore::Impl::IndexBytes() const {
  return runs.size() * sizeof(RunEntry) +
         (text.Starts().size() + hex.Starts().size()) * sizeof(LineStart) + text.Unsent().Bytes() +
         hex.Unsent().Bytes();
}

// Over the limit, the oldest runs go until a sixteenth of the limit is free:
// a slice at a time, never the whole history, starting the kept history at a
// text line's start so the top line is whole.
void SessionStore::Impl::Trim() {
  uint64_t total = (end - base) + IndexBytes();
  if (total <= limit || runs.size() < 2) return;
  uint64_t need = total - (limit - limit / 16);
  uint64_t freed = 0;
  size_t kept = 0;
  while (kept + 1 < runs.size() && freed < need) {
    uint64_t runEnd = runs[kept + 1].offset;
    freed += runEnd - std::max<uint64_t>(runs[kept].offset, base) + sizeof(RunEntry) +
             2 * (sizeof(LineStart) + sizeof(uint64_t));
    ++kept;
  }
  uint64_t target = runs[kept].offset;
  const auto& starts = text.Starts();
  auto line = std::lower_bound(starts.begin(), starts.end(), target,
                               [](const LineStart& s, uint64_t o) { return s.offset < o; });
  DropBefore(line == starts.end() ? target : uint64_t{line->offset});
}

void SessionStore::Impl::DropBefore(uint64_t newBase) {
  if (newBase <= base) return;
  text.DropBefore(newBase, end);
  hex.DropBefore(newBase, end);
  while (runs.size() >= 2 && runs[1].offset <= newBase) {
    runs.pop_front();
    ++runsDropped;
  }
  if (!runs.empty() && runs.front().offset < newBase) runs.front().offset = newBase;
  while (opens.size() >= 2 && opens[1].offset <= newBase) opens.pop_front();
  droppedBytes += newBase - base;
  base = newBase;
  chunks.DropBelow(base);
}

void SessionStore::Impl::Reset() {
  chunks.Clear();
  base = end = 0;
  runs.clear();
  runsDropped = 0;
  text = LineIndex(SessionDisplay::kText, split);
  hex = LineIndex(SessionDisplay::kHex, split);
  opens.clear();
  droppedBytes = 0;
  ++generation;
  ++clears;
}

size_t SessionStore::Impl::RunAt(uint64_t offset) const {
  auto after = std::upper_bound(runs.begin(), runs.end(), offset,
                                [](uint64_t o, const RunEntry& r) { return o < r.offset; });
  return after == runs.begin() ? 0 : static_cast<size_t>(after - runs.begin()) - 1;
}

uint64_t SessionStore::Impl::LineAt(SessionDisplay display, uint64_t offset, bool withSent) const {
  const LineIndex& index = Index(display);
  const auto& starts = index.Starts();
  auto after = std::upper_bound(starts.begin(), starts.end(), offset,
                                [](uint64_t o, const LineStart& s) { return o < s.offset; });
  size_t at = after == starts.begin() ? 0 : static_cast<size_t>(after - starts.begin()) - 1;
  uint64_t number = index.Dropped() + at;
  if (withSent) return number;
  const LineNumberRuns& unsent = index.Unsent();
  size_t shown = unsent.LowerBound(number);
  if (shown == unsent.Size() && shown > 0) --shown;
  return index.UnsentDropped() + shown;
}

int64_t SessionStore::Impl::SinceOtherSide(size_t runIndex, uint64_t lineStart) const {
  // A direction only changes where a run starts; a few events may stand
  // between the two sides' runs (a side that went away and came back).
  static constexpr size_t kEventsLookedPast = 8;
  const RunEntry& run = runs[runIndex];
  auto kind = static_cast<SessionKind>(run.kind);
  if (kind == SessionKind::kEvent || run.offset != lineStart) return -1;
  for (size_t back = 1; back <= runIndex && back <= kEventsLookedPast + 1; ++back) {
    const RunEntry& before = runs[runIndex - back];
    auto beforeKind = static_cast<SessionKind>(before.kind);
    if (beforeKind == SessionKind::kEvent) continue;
    return beforeKind == kind ? -1 : run.monoNs - before.monoNs;
  }
  return -1;
}

bool SessionStore::Impl::SentAt(uint64_t offset) const {
  return offset >= base && offset < end &&
         static_cast<SessionKind>(runs[RunAt(offset)].kind) == SessionKind::kSent;
}

SessionStore::SessionStore(uint64_t limitBytes) : impl_(std::make_unique<Impl>(limitBytes)) {}

SessionStore::~SessionStore() = default;

void SessionStore::Received(const uint8_t* bytes, int count) {
  if (count > 0) {
    AppendAt(SessionKind::kReceived, SessionEvent::kNone, bytes, static_cast<size_t>(count),
             MonoNowNs(), WallNowMs());
  }
}

void SessionStore::Sent(const uint8_t* bytes, int count) {
  if (count > 0) {
    AppendAt(SessionKind::kSent, SessionEvent::kNone, bytes, static_cast<size_t>(count),
             MonoNowNs(), WallNowMs());
    SignalNews();
  }
}

void SessionStore::RecordEvent(SessionEvent event, std::string_view text) {
  std::string line(text.substr(0, kMaxEventText));
  line.erase(
      std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }),
      line.end());
  if (line.empty()) line = EventName(event);
  AppendAt(SessionKind::kEvent, event, reinterpret_cast<const uint8_t*>(line.data()), line.size(),
           MonoNowNs(), WallNowMs());
  SignalNews();
}

void SessionStore::SignalNews() {
  news_.Raise();
}

void SessionStore::TakeNews() {
  news_.Take();
}

void SessionStore::AppendAt(SessionKind kind, SessionEvent event, const uint8_t* bytes,
                            size_t count, int64_t monoNs, int64_t wallMs) {
  std::lock_guard guard(impl_->mutex);
  impl_->Append(kind, event, bytes, count, monoNs, wallMs);
}

void SessionStore::Clear() {
  std::lock_guard guard(impl_->mutex);
  impl_->Reset();
}

void SessionStore::SetLimit(uint64_t limitBytes) {
  std::lock_guard guard(impl_->mutex);
  impl_->limit = std::clamp(limitBytes, kSessionLimitMin, kSessionLimitMax);
  impl_->Trim();
}

uint64_t SessionStore::Limit() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->limit;
}

// The new indexes are built from a snapshot without the lock (a memchr-speed
// pass, yet too long for the worker to wait on at 100 MB), then brought up to
// date with the runs that came meanwhile, and swapped in.
void SessionStore::SetSplit(const SessionSplit& split) {
  std::lock_guard one(impl_->splitMutex);
  Snapshot snapshot;
  uint64_t clears;
  uint64_t runsSeen;
  uint64_t textDropped[2];
  uint64_t hexDropped[2];
  {
    std::lock_guard guard(impl_->mutex);
    if (split == impl_->split) return;
    snapshot.view = impl_->chunks.View(impl_->base, impl_->end);
    snapshot.runs.assign(impl_->runs.begin(), impl_->runs.end());
    clears = impl_->clears;
    runsSeen = impl_->runsDropped + impl_->runs.size();
    textDropped[0] = impl_->text.Dropped();
    textDropped[1] = impl_->text.UnsentDropped();
    hexDropped[0] = impl_->hex.Dropped();
    hexDropped[1] = impl_->hex.UnsentDropped();
  }
  // Numbered on from the lines dropped before, which the new split never saw.
  LineIndex text(SessionDisplay::kText, split);
  LineIndex hex(SessionDisplay::kHex, split);
  text.AddDropped(textDropped[0], textDropped[1]);
  hex.AddDropped(hexDropped[0], hexDropped[1]);
  std::vector<uint8_t> bytes;
  auto feed = [&](const RunEntry& run, uint64_t start, uint64_t stop, auto copy) {
    bytes.resize(static_cast<size_t>(stop - start));
    copy(start, bytes.size(), bytes.data());
    auto kind = static_cast<SessionKind>(run.kind);
    text.Add(kind, start, bytes.data(), bytes.size(), run.monoNs);
    hex.Add(kind, start, bytes.data(), bytes.size(), run.monoNs);
  };
  auto fromView = [&](uint64_t o, size_t n, uint8_t* out) { snapshot.view.Copy(o, n, out); };
  for (size_t i = 0; i < snapshot.runs.size(); ++i) {
    uint64_t start = std::max<uint64_t>(snapshot.runs[i].offset, snapshot.view.base);
    uint64_t stop =
        i + 1 < snapshot.runs.size() ? uint64_t{snapshot.runs[i + 1].offset} : snapshot.view.end;
    feed(snapshot.runs[i], start, stop, fromView);
  }

  std::lock_guard guard(impl_->mutex);
  Impl& s = *impl_;
  auto fromStore = [&](uint64_t o, size_t n, uint8_t* out) { s.chunks.Copy(o, n, out); };
  size_t next = 0;
  if (s.clears != clears) {  // cleared meanwhile: the history is new and short
    text = LineIndex(SessionDisplay::kText, split);
    hex = LineIndex(SessionDisplay::kHex, split);
  } else {
    next = static_cast<size_t>(std::max(runsSeen, s.runsDropped) - s.runsDropped);
  }
  for (size_t i = next; i < s.runs.size(); ++i) {
    uint64_t start = std::max<uint64_t>(s.runs[i].offset, s.base);
    uint64_t stop = i + 1 < s.runs.size() ? uint64_t{s.runs[i + 1].offset} : s.end;
    feed(s.runs[i], start, stop, fromStore);
  }
  text.DropBefore(s.base, s.end);
  hex.DropBefore(s.base, s.end);
  s.split = split;
  s.text = std::move(text);
  s.hex = std::move(hex);
  ++s.generation;
}

SessionSplit SessionStore::Split() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->split;
}

void SessionStore::SetFrameCheck(ChecksumKind kind) {
  std::lock_guard guard(impl_->mutex);
  impl_->check = kind;
}

SessionCounts SessionStore::Counts(SessionDisplay display, bool withSent) const {
  std::lock_guard guard(impl_->mutex);
  const LineIndex& index = impl_->Index(display);
  SessionCounts counts;
  counts.droppedLines = withSent ? index.Dropped() : index.UnsentDropped();
  counts.firstLine = counts.droppedLines;
  counts.endLine = counts.firstLine + (withSent ? index.Starts().size() : index.Unsent().Size());
  counts.keptBytes = impl_->end - impl_->base;
  counts.indexBytes = impl_->IndexBytes();
  counts.droppedBytes = impl_->droppedBytes;
  counts.generation = impl_->generation;
  return counts;
}

bool SessionStore::Line(SessionDisplay display, uint64_t number, SessionLine& line,
                        bool withSent) const {
  std::lock_guard guard(impl_->mutex);
  const Impl& s = *impl_;
  const LineIndex& index = s.Index(display);
  const auto& starts = index.Starts();
  // Where line `shown` of the numbering asked is among all lines.
  auto position = [&](uint64_t shown) -> std::optional<size_t> {
    uint64_t first = withSent ? index.Dropped() : index.UnsentDropped();
    uint64_t count = withSent ? starts.size() : index.Unsent().Size();
    if (shown < first || shown - first >= count) return std::nullopt;
    uint64_t all = withSent ? shown : index.Unsent().At(static_cast<size_t>(shown - first));
    return static_cast<size_t>(all - index.Dropped());
  };
  std::optional<size_t> found = position(number);
  if (!found) return false;
  size_t at = *found;
  std::optional<size_t> previous = number > 0 ? position(number - 1) : std::nullopt;
  uint64_t start = starts[at].offset;
  uint64_t stop = at + 1 < starts.size() ? uint64_t{starts[at + 1].offset} : s.end;
  const RunEntry& run = s.runs[s.RunAt(start)];
  line.number = number;
  line.offset = start;
  line.kind = static_cast<SessionKind>(run.kind);
  line.event = static_cast<SessionEvent>(run.event);
  line.monoNs = run.monoNs;
  line.wallMs = run.wallMs;
  line.sincePreviousNs =
      previous ? run.monoNs - s.runs[s.RunAt(starts[*previous].offset)].monoNs : 0;
  line.sinceOtherNs = s.SinceOtherSide(s.RunAt(start), start);
  auto open = std::upper_bound(s.opens.begin(), s.opens.end(), start,
                               [](uint64_t o, const Impl::Open& p) { return o < p.offset; });
  line.sinceOpenNs = run.monoNs - (open == s.opens.begin() ? s.firstMonoNs : (open - 1)->monoNs);
  line.continued = starts[at].continued != 0;
  int silenceMs = display == SessionDisplay::kText ? s.split.textSilenceMs : s.split.hexSilenceMs;
  bool growing = at + 1 == starts.size() && !index.LastEnded() && line.kind != SessionKind::kEvent;
  if (growing && (display == SessionDisplay::kHex || silenceMs > 0)) {
    // Lines end by silence too: one quiet long enough is over.
    growing = silenceMs > 0 && MonoNowNs() - s.lastMonoNs < int64_t{silenceMs} * 1'000'000;
  }
  line.open = growing;
  line.bytes.resize(static_cast<size_t>(stop - start));
  s.chunks.Copy(start, line.bytes.size(), line.bytes.data());
  line.check = FrameCheck::kUnchecked;
  if (display == SessionDisplay::kHex && line.kind == SessionKind::kReceived && !line.open &&
      !line.continued) {
    line.check = CheckFrame(s.check, line.bytes);
  }
  return true;
}

uint64_t SessionStore::LineAt(SessionDisplay display, uint64_t offset, bool withSent) const {
  std::lock_guard guard(impl_->mutex);
  return impl_->LineAt(display, offset, withSent);
}

void SessionStore::CopyBytes(uint64_t offset, size_t count, std::vector<uint8_t>& out) const {
  std::lock_guard guard(impl_->mutex);
  const Impl& s = *impl_;
  uint64_t from = std::clamp(offset, s.base, s.end);
  uint64_t to = std::clamp(offset + count, from, s.end);
  out.resize(static_cast<size_t>(to - from));
  s.chunks.Copy(from, out.size(), out.data());
}

std::shared_ptr<const SessionStore::Snapshot> SessionStore::TakeSnapshot() const {
  auto snapshot = std::make_shared<Snapshot>();
  std::lock_guard guard(impl_->mutex);
  snapshot->view = impl_->chunks.View(impl_->base, impl_->end);
  snapshot->runs.assign(impl_->runs.begin(), impl_->runs.end());
  return snapshot;
}

size_t SessionStore::RunCount(const Snapshot& snapshot) {
  return snapshot.runs.size();
}

void SessionStore::RunOf(const Snapshot& snapshot, size_t index, Run& run) {
  const RunEntry& entry = snapshot.runs[index];
  uint64_t start = std::max<uint64_t>(entry.offset, snapshot.view.base);
  uint64_t stop = index + 1 < snapshot.runs.size() ? uint64_t{snapshot.runs[index + 1].offset}
                                                   : snapshot.view.end;
  run.kind = static_cast<SessionKind>(entry.kind);
  run.event = static_cast<SessionEvent>(entry.event);
  run.monoNs = entry.monoNs;
  run.wallMs = entry.wallMs;
  run.bytes.resize(static_cast<size_t>(stop - start));
  snapshot.view.Copy(start, run.bytes.size(), run.bytes.data());
}

}  // namespace quorvel
