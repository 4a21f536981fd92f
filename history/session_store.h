// Everything the line carried since the link opened (or since "Clear
// receive"), with the moment and direction of each run of bytes, and the
// events of the link between them: what the session view shows, finds in and
// saves.
//
// The bytes live in append-only chunks; each run (one read, one write, one
// event) is an entry with its stamps; two indexes of line starts, one for the
// text display and one for the hex display, are kept up to date as bytes
// arrive, so line i of either display is found without laying anything out.
//
// Threads: the taps (Received, Sent) come from the receive worker and the
// send paths, RecordEvent from any thread; each takes one short lock, copies
// and indexes the bytes, and returns. Readers (the window) take the same lock
// only to copy a line or a list of chunk pointers: finding and saving scan
// the chunks without it, so the worker never waits for a search.
//
// The history limit covers the bytes kept and their index (runs and line
// starts), so even a line read one byte at a time cannot outgrow it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/line_listener.h"
#include "core/news_flag.h"
#include "sending/checksum.h"

namespace quorvel {

enum class SessionKind : uint8_t { kReceived = 0, kSent = 1, kEvent = 2 };

// What an event line reports; its text says the details ("115200,8,N,1").
using SessionEvent = LineEvent;

enum class SessionDisplay : uint8_t { kText = 0, kHex = 1 };

// Where lines end besides the fixed rules. Text: at CR LF, a lone CR, a lone
// LF and a change of direction. Hex: at a change of direction. Both: around
// every event, and after kSessionMaxLineBytes (the line goes on in the next).
struct SessionSplit {
  int textSilenceMs = 0;  // > 0: a text line also ends after this much silence
  int hexSilenceMs = 0;   // > 0: a frame ends after this much silence; 0: each burst
  int frameEndByte = -1;  // 0..255: a frame also ends after this byte; -1: none
  bool operator==(const SessionSplit&) const = default;
};

inline constexpr uint64_t kSessionLimitDefault = uint64_t{64} << 20;
inline constexpr uint64_t kSessionLimitMin = uint64_t{1} << 20;
inline constexpr uint64_t kSessionLimitMax = uint64_t{1} << 30;
// A line longer than this is cut, so no line the view asks for is huge.
inline constexpr size_t kSessionMaxLineBytes = 8192;

// One line as the view draws it, copied out of the store.
struct SessionLine {
  uint64_t number = 0;  // in its display, counted from the first line ever kept
  uint64_t offset = 0;  // of its first byte in the history
  SessionKind kind = SessionKind::kReceived;
  SessionEvent event = SessionEvent::kNone;
  int64_t monoNs = 0;           // steady clock when its first byte reached the store
  int64_t wallMs = 0;           // time of day then, ms since the epoch
  int64_t sinceOpenNs = 0;      // since the last "link opened" before it (or the start)
  int64_t sincePreviousNs = 0;  // since the previous line's stamp; 0 for the first
  // A line that changes direction (received after sent, or sent after
  // received, events between them aside): since the last run of the other
  // direction, the time the other side last spoke. -1 for every other line.
  int64_t sinceOtherNs = -1;
  bool continued = false;                     // cut at kSessionMaxLineBytes: the next line goes on
  bool open = false;                          // the last line, which may still grow
  FrameCheck check = FrameCheck::kUnchecked;  // hex display, received, complete
  std::vector<uint8_t> bytes;                 // line end included; an event's text
};

struct SessionCounts {
  uint64_t firstLine = 0;     // number of the oldest line kept, in the display asked
  uint64_t endLine = 0;       // one past the newest
  uint64_t keptBytes = 0;     // bytes of lines kept (events' text included)
  uint64_t indexBytes = 0;    // what the runs and the line indexes take
  uint64_t droppedBytes = 0;  // bytes dropped off the top since the start or Clear
  uint64_t droppedLines = 0;  // lines dropped off the top, in the display asked
  uint64_t generation = 0;    // changes on Clear and on a re-split: lines renumbered
};

// What to find: bytes as the history holds them (see FindPattern in
// session_lines.h for turning what the user typed into them).
struct SessionQuery {
  std::vector<uint8_t> bytes;  // 1 to kSessionMaxQuery bytes
  bool matchCase = true;       // false: ASCII letters match either case
};
inline constexpr size_t kSessionMaxQuery = 4096;

enum class FindWay : uint8_t { kForward, kBackward };

struct SessionMatch {
  uint64_t offset = 0;  // of the match's first byte in the history
  size_t length = 0;
  uint64_t line = 0;     // the line holding its first byte, in the display asked
  bool wrapped = false;  // found only after going round the end
};

class SessionStore : public LineListener {
 public:
  explicit SessionStore(uint64_t limitBytes = kSessionLimitDefault);
  ~SessionStore() override;
  SessionStore(const SessionStore&) = delete;
  SessionStore& operator=(const SessionStore&) = delete;

  // The taps: any thread; stamp the bytes with now.
  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t* bytes, int count) override;
  // Any thread: an event line with now's stamps. `text` on one line (line
  // ends are taken out, and it is cut at 1 KiB); empty, the event's name
  // ("Link opened") stands in.
  void RecordEvent(SessionEvent event, std::string_view text);
  // The same, as the line's code reports events through the state's taps.
  void Noted(LineEvent event, std::string_view text) override { RecordEvent(event, text); }

  // Readable after a send or an event was kept, until TakeNews(): the view
  // shows those at once, while received bytes come with the window's publish.
  // One signal until the news is taken, so a stream of sends costs one wake-up.
  int NewsDescriptor() const { return news_.Descriptor(); }
  void TakeNews();

  // Appends a run with the stamps given; the taps and RecordEvent call it with
  // now. A stamp older than the last run's is taken as the last run's (both
  // its steady and its wall time), so stamps never go back: two threads that
  // stamp before they append (a second reader of a linked pair) and reach
  // the lock in the other order show their runs in the order they were kept,
  // at the same moment. For tests and replays. Any thread.
  void AppendAt(SessionKind kind, SessionEvent event, const uint8_t* bytes, size_t count,
                int64_t monoNs, int64_t wallMs);

  // Forgets the whole history (and the counts of what was dropped).
  void Clear();
  // Clamps to kSessionLimitMin..kSessionLimitMax; drops the oldest lines at
  // once when the history is now over it.
  void SetLimit(uint64_t limitBytes);
  uint64_t Limit() const;
  // Re-splits the kept history when `split` differs from the current one
  // (renumbering the lines: generation changes). The lock is not held while
  // the history is re-indexed.
  void SetSplit(const SessionSplit& split);
  SessionSplit Split() const;
  // The check received frames are judged by in the hex display; kNone: none.
  void SetFrameCheck(ChecksumKind kind);

  // Each reader below takes `withSent`: false numbers the lines as the view
  // does with sent bytes hidden, counting only received and event lines (the
  // lines are the same; the sent ones are left out), and a find skips
  // matches that start in sent bytes.
  SessionCounts Counts(SessionDisplay display, bool withSent = true) const;
  // Copies line `number` of `display` into `line`; false (line untouched)
  // when it is not kept. sincePreviousNs is from the previous line in the
  // same numbering.
  bool Line(SessionDisplay display, uint64_t number, SessionLine& line, bool withSent = true) const;
  // The number of the line holding byte `offset` (clamped into the kept
  // history); for a find's match and for keeping the view's place on a
  // switch of display. Without sent lines, a sent line's offset gives the
  // next line shown (the last one when none follows).
  uint64_t LineAt(SessionDisplay display, uint64_t offset, bool withSent = true) const;
  // Copies the kept bytes [offset, offset + count) into `out` (fewer at the
  // ends of the history); for copying a selection that spans lines.
  void CopyBytes(uint64_t offset, size_t count, std::vector<uint8_t>& out) const;

  // The first match from `fromOffset` on (forward) or the last one starting
  // before it (backward), going round the history's end once. Nothing when
  // the query is empty or too long or nothing matches. Under a second for
  // 100 MB; the taps go on meanwhile.
  std::optional<SessionMatch> Find(SessionDisplay display, const SessionQuery& query,
                                   uint64_t fromOffset, FindWay way, bool withSent = true) const;

  // One run of the history, as "Save session…" writes it.
  struct Run {
    SessionKind kind;
    SessionEvent event;
    int64_t monoNs;
    int64_t wallMs;
    std::vector<uint8_t> bytes;
  };
  // Calls `visit` for every kept run, oldest first, without holding the lock
  // (on a snapshot of the history taken at the call). Returns false as soon
  // as `visit` does.
  template <typename Visit>
  bool ForEachRun(Visit&& visit) const;

 private:
  void SignalNews();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  NewsFlag news_;

  // Kept for ForEachRun: snapshot, then visit run by run.
  struct Snapshot;
  std::shared_ptr<const Snapshot> TakeSnapshot() const;
  static size_t RunCount(const Snapshot& snapshot);
  static void RunOf(const Snapshot& snapshot, size_t index, Run& run);
};

template <typename Visit>
bool SessionStore::ForEachRun(Visit&& visit) const {
  std::shared_ptr<const Snapshot> snapshot = TakeSnapshot();
  Run run;
  size_t count = RunCount(*snapshot);
  for (size_t i = 0; i < count; ++i) {
    RunOf(*snapshot, i, run);
    if (!visit(static_cast<const Run&>(run))) return false;
  }
  return true;
}

}  // namespace quorvel
