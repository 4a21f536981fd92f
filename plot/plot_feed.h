// Feeds the plot from the line: a tap beside the log's and the session
// view's that hands each received run of bytes, stamped, to a thread of the
// plot's own, which cuts them into lines (ended by LF, CR LF or CR), parses
// them and appends the rows to the store; the link's events become markers.
//
// Threads: the receive worker and the link call the tap; each call takes one
// short lock, copies the bytes and, when the thread was idle, wakes it, so
// the worker never waits for parsing. The plot's thread takes the store's
// lock only to append a batch. Other calls: the UI thread.
//
// With a session history given at Start, its received runs and events come
// first, then what the line carries from then on, each run once: the state
// hands a run to this tap before the session's store, so a run stamped in the
// history no earlier than the first run seen here is one this tap has too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/line_listener.h"
#include "core/news_flag.h"
#include "plot/line_parser.h"
#include "plot/plot_store.h"

namespace quorvel {

class SessionStore;

// Steady-clock nanoseconds, as the session history stamps its runs.
int64_t PlotNowNs();

class PlotFeed : public LineListener {
 public:
  explicit PlotFeed(PlotStore& store);
  ~PlotFeed() override;  // Stop()
  PlotFeed(const PlotFeed&) = delete;
  PlotFeed& operator=(const PlotFeed&) = delete;

  // Starts the thread; times count from now, or from the start of `history`
  // when it holds any (it must outlive the feed). Set the tap before this:
  // the history is read once the thread runs, and what the tap hands over
  // before then waits for it.
  void Start(const SessionStore* history);
  // Ends the thread after what was handed over so far; unset the tap first.
  void Stop();

  // The taps: any thread.
  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t*, int) override {}
  void Noted(LineEvent event, std::string_view text) override;
  // The same with a stamp of the caller's (for tests and benchmarks).
  void ReceivedAt(const uint8_t* bytes, size_t count, int64_t monoNs);

  // UI thread: lines from the next run on are read with `pattern` (null: pairs
  // or a list of numbers).
  void SetPattern(std::shared_ptr<const PlotPattern> pattern);
  // UI thread: forgets everything kept; times count again from now.
  void Clear();

  // Everything handed over has been appended to the store.
  bool Idle() const;

  // Readable once the store changed, until TakeNews(): one signal until the
  // news is taken, so a chart that takes it when it draws wakes once a frame.
  int NewsDescriptor() const { return news_.Descriptor(); }
  void TakeNews();

 private:
  // kLost: bytes left out because the thread fell far behind.
  enum class Kind : uint8_t { kBytes, kEvent, kClear, kLost };
  struct Piece {
    Kind kind;
    LineEvent event;
    int64_t monoNs;
    size_t offset;  // into the batch's bytes
    size_t length;
  };
  struct Batch {
    std::vector<Piece> pieces;
    std::string bytes;
    void clear() {
      pieces.clear();
      bytes.clear();
    }
  };

  void Hand(Kind kind, LineEvent event, const uint8_t* bytes, size_t count, int64_t monoNs);
  void Run();
  void ReadHistory();
  void Take(const Batch& batch);
  void TakeBytes(const char* bytes, size_t count, int64_t monoNs);
  void EndLine(std::string_view line, int64_t monoNs);
  void Flush();
  void SignalNews();
  double Seconds(int64_t monoNs) const;

  PlotStore& store_;
  const SessionStore* history_ = nullptr;

  mutable std::mutex lock_;  // guards the fields down to the thread
  std::condition_variable wake_;
  Batch pending_;
  bool stop_ = false;
  bool busy_ = false;
  int64_t firstLiveNs_ = -1;  // the first run handed over live
  std::shared_ptr<const PlotPattern> nextPattern_;
  bool patternChanged_ = false;
  std::thread thread_;
  NewsFlag news_;

  // The plot's thread only.
  int64_t originNs_ = 0;
  PlotLineParser parser_;
  std::string line_;
  bool overlong_ = false;
  bool afterCr_ = false;
  Batch working_;
  std::vector<PlotRow> rows_;
  ParsedLine parsed_;
  uint64_t skipped_ = 0;
};

}  // namespace quorvel
