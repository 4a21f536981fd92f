// The terminal under load: devices on pseudo-terminals stream random frames
// at full speed while the UI thread of the real window does everything a user
// can do, in a random order fixed by a seed; and a thousand open/close cycles
// that must leave no descriptor and no thread behind.
//
// What is exactly checkable while bytes keep arriving:
// - The terminal's received total (the "received stream" position) is the RX
//   count plus where the stream stood at the last "Reset cnt". A reset in the
//   middle of the stream is located exactly: the worker does not wait for the
//   window after a burst, but it does wait in the capture it runs before a
//   burst once a bound control changed. So the run changes one, waits until
//   the worker is held in that capture, and takes two looks at the state
//   right before and right after the click, serving no worker call meanwhile:
//   no burst can land between them.
// - The received stream is every byte written to the device the link has open,
//   session after session. Bytes written while the link is closed, or to the
//   other device, are never received (the open's purge drops them), so the
//   devices pause around every open and close: before a close the terminal
//   must first have received every byte of the session (a checkpoint), and an
//   open's purge then finds nothing of the new session yet.
// - At a checkpoint (devices paused, the terminal quiet) the received total
//   equals what was written, the log is the stream's tail and the boxes show
//   the log and the count. At any other moment the log, read under the state's
//   lock, still is the tail of the stream up to the received total: every byte
//   once, in order, nothing torn.
//
// QUORVEL_STRESS_SECONDS (default 20) bounds the run; QUORVEL_STRESS_SEED
// repeats one (the seed is printed); QUORVEL_STRESS_WATCHDOG_SECONDS (default
// 5) is how long the UI loop may make no progress before the run is aborted.
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "engine/render.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/receive_box.h"
#include "watchdog.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;
using quorvel::testing::Watchdog;
using quorvel::testing::WorkerSampling;

namespace {

constexpr uint8_t kFrameEnd = 0x0d;
constexpr int kMissingPort = 2;  // COM3: mapped to a device that does not exist

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  long value = std::strtol(text, &end, 0);
  return *end == '\0' ? value : fallback;
}

std::chrono::milliseconds WatchdogLimit() {
  return std::chrono::seconds(EnvNumber("QUORVEL_STRESS_WATCHDOG_SECONDS", 5));
}

// Runs the UI loop for `ms` milliseconds.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the UI loop until `done()` holds or `timeout` passes.
template <class F>
bool PumpUntil(F done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Pump(1);
  }
  return true;
}

// Entries of a /proc directory ("." and ".." not counted).
std::vector<std::string> Entries(const char* path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path)) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

int CountEntries(const char* path) {
  return static_cast<int>(Entries(path).size());
}

// What each open descriptor refers to ("/dev/pts/3", "anon_inode:[eventfd]").
std::multiset<std::string> OpenDescriptors() {
  std::multiset<std::string> open;
  for (const std::string& name : Entries("/proc/self/fd")) {
    char target[4096];
    ssize_t length = readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target);
    // The listing's own descriptor is closed by now and reads nothing.
    if (length > 0) open.insert(std::string(target, static_cast<size_t>(length)));
  }
  return open;
}

// The descriptors in `after` that `before` did not have.
std::string Added(const std::multiset<std::string>& before,
                  const std::multiset<std::string>& after) {
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  std::string list;
  for (const std::string& target : added) list += (list.empty() ? "" : ", ") + target;
  return list;
}

// One thread plays every device. It streams random frames at full speed to
// the device the link has open (the live one) and records every byte each
// write took; now and then it writes to the others too, which nobody reads:
// none of those bytes may ever show up. It reads and discards all the
// terminal sends, so the terminal's writes never wait for ever.
class StreamingDevices {
 public:
  struct Figures {
    uint64_t streamed = 0;       // bytes of the received stream (to the live device)
    uint64_t elsewhere = 0;      // bytes to devices the link did not have open
    uint64_t fromTerminal = 0;   // bytes the terminal sent, read and discarded
    uint64_t frames = 0;         // frames begun
    uint64_t frameEnds = 0;      // of them ending in the frame-end byte
    uint64_t blockedWrites = 0;  // writes that found the line full
  };

  StreamingDevices(std::vector<int> masters, uint64_t seed)
      : masters_(std::move(masters)), rng_(seed) {
    thread_ = std::thread([this] { Run(); });
  }

  ~StreamingDevices() {
    {
      std::lock_guard guard(control_);
      quit_ = true;
    }
    thread_.join();
  }

  StreamingDevices(const StreamingDevices&) = delete;
  StreamingDevices& operator=(const StreamingDevices&) = delete;

  // Stops writing; returns once no write is under way. Reading goes on.
  void Pause() {
    std::unique_lock lock(control_);
    wantPause_ = true;
    acknowledged_.wait(lock, [this] { return paused_; });
  }

  // Writes again; `live` is the device the link has open now, -1 for none.
  void Resume(int live) {
    std::lock_guard guard(control_);
    live_ = live;
    wantPause_ = false;
  }

  uint64_t StreamSize() const {
    std::lock_guard guard(stream_);
    return forgotten_ + received_.size();
  }

  // The stream before `position` will not be looked at again.
  void Forget(uint64_t position) {
    std::lock_guard guard(stream_);
    // Dropped in large steps: erasing the front moves what stays.
    if (position < forgotten_ + (8u << 20)) return;
    size_t drop = static_cast<size_t>(std::min<uint64_t>(position - forgotten_, received_.size()));
    received_.erase(received_.begin(), received_.begin() + static_cast<ptrdiff_t>(drop));
    forgotten_ += drop;
  }

  // Empty when `bytes` equals the stream's bytes [end - length, end),
  // otherwise what differs.
  std::string CompareTail(uint64_t end, const uint8_t* bytes, size_t length) const {
    std::lock_guard guard(stream_);
    if (end > forgotten_ + received_.size() || length > end || end - length < forgotten_) {
      return "the range lies outside the stream kept";
    }
    const uint8_t* expected = received_.data() + (end - length - forgotten_);
    for (size_t i = 0; i < length; ++i) {
      if (bytes[i] != expected[i]) {
        std::ostringstream why;
        why << "byte " << i << " of " << length << " is 0x" << std::hex << int(bytes[i])
            << " where the stream has 0x" << int(expected[i]) << std::dec << " (stream position "
            << (end - length + i) << ")";
        return why.str();
      }
    }
    return {};
  }

  Figures Counts() const {
    std::lock_guard guard(stream_);
    Figures figures = figures_;
    figures.streamed = forgotten_ + received_.size();
    return figures;
  }

 private:
  void Run() {
    std::vector<uint8_t> frame;
    size_t sent = 0;  // of the frame
    std::vector<uint8_t> garbage(512);
    for (;;) {
      int live;
      bool paused;
      {
        std::lock_guard guard(control_);
        if (quit_) return;
        if (paused_ != wantPause_) {
          paused_ = wantPause_;
          acknowledged_.notify_all();
        }
        paused = paused_;
        live = live_;
      }
      Discard();
      if (paused) {
        WaitForLine(-1);
        continue;
      }
      int devices = static_cast<int>(masters_.size());
      int target = live >= 0 && rng_() % 8 != 0 ? live : static_cast<int>(rng_() % devices);
      ssize_t wrote;
      if (target == live) {
        if (sent == frame.size()) {
          NewFrame(frame);
          sent = 0;
        }
        std::lock_guard guard(stream_);
        // Recorded while the stream's lock is held: a look at the stream after
        // the terminal received these bytes waits for the record.
        wrote = ::write(masters_[target], frame.data() + sent, frame.size() - sent);
        if (wrote > 0) {
          received_.insert(received_.end(), frame.begin() + static_cast<ptrdiff_t>(sent),
                           frame.begin() + static_cast<ptrdiff_t>(sent) + wrote);
          sent += static_cast<size_t>(wrote);
        }
      } else {
        size_t length = 1 + rng_() % garbage.size();
        for (size_t i = 0; i < length; ++i) garbage[i] = static_cast<uint8_t>(rng_());
        wrote = ::write(masters_[target], garbage.data(), length);
        if (wrote > 0) {
          std::lock_guard guard(stream_);
          figures_.elsewhere += static_cast<uint64_t>(wrote);
        }
      }
      if (wrote <= 0) {
        {
          std::lock_guard guard(stream_);
          ++figures_.blockedWrites;
        }
        WaitForLine(target);
      }
    }
  }

  // Random bytes; some frames end in the frame-end byte, some of those with
  // one byte after it (a checksum), so echo and auto-reply find frames.
  void NewFrame(std::vector<uint8_t>& frame) {
    uint64_t kind = rng_() % 20;
    size_t length = kind < 14   ? 1 + rng_() % 64
                    : kind < 19 ? 65 + rng_() % 1000
                                : 1065 + rng_() % 3000;
    frame.resize(length);
    for (uint8_t& byte : frame) byte = static_cast<uint8_t>(rng_());
    bool ends = rng_() % 5 < 2;
    if (ends) {
      frame[length - 1] = kFrameEnd;
      if (length > 1 && rng_() % 2) std::swap(frame[length - 1], frame[length - 2]);
    }
    std::lock_guard guard(stream_);
    ++figures_.frames;
    if (ends) ++figures_.frameEnds;
  }

  void Discard() {
    uint8_t buffer[65536];
    for (int master : masters_) {
      ssize_t got;
      while ((got = ::read(master, buffer, sizeof buffer)) > 0) {
        std::lock_guard guard(stream_);
        figures_.fromTerminal += static_cast<uint64_t>(got);
      }
    }
  }

  // Until a device has something for us or `writable` has room, at most 1 ms.
  void WaitForLine(int writable) {
    std::array<pollfd, 4> fds{};
    size_t count = 0;
    for (size_t i = 0; i < masters_.size() && count < fds.size(); ++i) {
      short events = POLLIN;
      if (static_cast<int>(i) == writable) events |= POLLOUT;
      fds[count++] = {masters_[i], events, 0};
    }
    ::poll(fds.data(), count, 1);
  }

  const std::vector<int> masters_;
  std::mt19937_64 rng_;  // the device thread's own

  mutable std::mutex control_;
  std::condition_variable acknowledged_;
  bool wantPause_ = true;
  bool paused_ = false;
  bool quit_ = false;
  int live_ = -1;

  mutable std::mutex stream_;
  std::vector<uint8_t> received_;  // the stream from position forgotten_ on
  uint64_t forgotten_ = 0;
  Figures figures_;

  std::thread thread_;
};

// The state as one look under its lock.
struct Snapshot {
  uint32_t rxCount = 0;
  int32_t rxLength = 0;
  std::vector<uint8_t> log;
  bool hexDisplay = false;
  std::string receiveText;
};

enum class Op {
  kSend,
  kSendAsHex,
  kClear,
  kReset,
  kEcho,
  kReply,
  kTimer,
  kHexDisplay,
  kBaud,
  kPort,
  kOpenClose,
  kLookAtLog,
  kCheckpoint,
  kLetItStream,
};

struct OpKind {
  Op op;
  const char* name;
  int weight;
};

constexpr OpKind kOps[] = {
    {Op::kSend, "send", 10},
    {Op::kSendAsHex, "toggle Send as Hex", 3},
    {Op::kClear, "clear receive", 5},
    {Op::kReset, "reset counters", 6},
    {Op::kEcho, "toggle echo", 3},
    {Op::kReply, "toggle auto-reply", 3},
    {Op::kTimer, "toggle timer", 3},
    {Op::kHexDisplay, "toggle hex display", 5},
    {Op::kBaud, "change baud rate", 5},
    {Op::kPort, "change port", 3},
    {Op::kOpenClose, "open/close", 4},
    {Op::kLookAtLog, "look at the log", 20},
    {Op::kCheckpoint, "checkpoint", 3},
    {Op::kLetItStream, "let it stream", 15},
};

// Drives one window through a seeded random sequence of user actions.
class StressRun {
 public:
  StressRun(TerminalHarness& harness, StreamingDevices& devices, Watchdog& watchdog, uint64_t seed)
      : harness_(harness),
        window_(harness.Window()),
        devices_(devices),
        watchdog_(watchdog),
        rng_(seed) {}

  // Empty when the run went through; otherwise what failed.
  std::string Run(std::chrono::milliseconds duration) {
    devices_.Resume(live_);
    int total = 0;
    for (const OpKind& kind : kOps) total += kind.weight;
    auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
      int pick = static_cast<int>(rng_() % static_cast<uint64_t>(total));
      const OpKind* kind = kOps;
      while (pick >= kind->weight) pick -= (kind++)->weight;
      watchdog_.Beat(kind->name);
      ++done_[kind->name];
      if (std::string failure = Do(kind->op); !failure.empty()) {
        return std::string(kind->name) + ": " + failure;
      }
      QCoreApplication::processEvents();
    }
    watchdog_.Beat("the final checkpoint");
    return Checkpoint(false);
  }

  void PrintFigures(FILE* out) const {
    StreamingDevices::Figures figures = devices_.Counts();
    std::fprintf(out,
                 "  streamed to the open device: %llu bytes in %llu frames (%llu end in 0x%02x)\n",
                 static_cast<unsigned long long>(figures.streamed),
                 static_cast<unsigned long long>(figures.frames),
                 static_cast<unsigned long long>(figures.frameEnds), kFrameEnd);
    std::fprintf(out, "  written where the link was not open (never received): %llu bytes\n",
                 static_cast<unsigned long long>(figures.elsewhere));
    std::fprintf(out, "  sent by the terminal (manual, timer, echo, auto-reply): %llu bytes\n",
                 static_cast<unsigned long long>(figures.fromTerminal));
    std::fprintf(out, "  device writes that found the line full: %llu\n",
                 static_cast<unsigned long long>(figures.blockedWrites));
    std::fprintf(out,
                 "  checked: %d checkpoints (paused, quiet: RX count == bytes written, log == "
                 "stream tail, boxes show both), %d looks at the log while streaming\n",
                 checkpoints_, looks_);
    std::fprintf(out,
                 "  resets while streaming: %d (a burst landed during %d of them), opens of a "
                 "missing device: %d, sessions: %d, longest log seen: %d bytes\n",
                 resets_, resetsWithBurst_, missingOpens_, sessions_, longestLog_);
    std::fprintf(out, "  mode switches that took effect (the others met a disabled box): %d\n",
                 modeSwitches_);
    std::fprintf(out, "  operations:");
    for (const auto& [name, count] : done_) std::fprintf(out, " %s %d;", name.c_str(), count);
    std::fprintf(out, "\n");
  }

  int MissingOpens() const { return missingOpens_; }

 private:
  std::string Do(Op op) {
    switch (op) {
      case Op::kSend:
        return Send();
      case Op::kSendAsHex:
        harness_.Click(kSendAsHexCheck);
        return {};
      case Op::kClear:
        harness_.Click(kClearReceiveButton);
        return Look("after a clear");
      case Op::kReset:
        return Reset();
      case Op::kEcho:
        return ToggleMode(kEchoCheck);
      case Op::kReply:
        return ToggleMode(kReplyCheck);
      case Op::kTimer:
        harness_.Get<QLineEdit>(kPeriodBox)->setText(QString::number(rng_() % 40));
        return ToggleMode(kTimerCheck);
      case Op::kHexDisplay:
        harness_.Click(kHexDisplayCheck);
        return {};
      case Op::kBaud:
        harness_.Choose(kBaudSelector, static_cast<int>(rng_() % 16));
        return {};
      case Op::kPort:
        return ChangePort();
      case Op::kOpenClose:
        return OpenOrClose();
      case Op::kLookAtLog:
        return Look("while streaming");
      case Op::kCheckpoint:
        return Checkpoint(true);
      case Op::kLetItStream:
        Pump(static_cast<int>(rng_() % 20));
        return Look("after streaming");
    }
    return {};
  }

  Snapshot Take() {
    // The count is read under the state's lock, as the log is: the two move
    // together.
    const LinkCounters& counters = harness_.Window().Link().Hub().counters;
    return harness_.Field([&](TerminalState& s) {
      Snapshot snapshot;
      snapshot.rxCount = counters.Read().rxCount;
      snapshot.rxLength = s.rxLength;
      snapshot.log.assign(s.rxBuffer.begin(), s.rxBuffer.begin() + std::max(0, s.rxLength));
      snapshot.hexDisplay = s.hexDisplay != 0;
      snapshot.receiveText = s.receiveText;
      return snapshot;
    });
  }

  // The log is the received stream's tail up to the received total.
  std::string Check(const Snapshot& s, const char* when) {
    std::ostringstream why;
    uint64_t end = resetBase_ + s.rxCount;
    uint64_t written = devices_.StreamSize();
    longestLog_ = std::max(longestLog_, s.rxLength);
    if (end < lastEnd_) {
      why << when << ": the received total went back from " << lastEnd_ << " to " << end;
    } else if (end > written) {
      why << when << ": the terminal counted " << end << " bytes received (RX " << s.rxCount
          << " since a reset at " << resetBase_ << ") but the device wrote only " << written;
    } else if (s.rxLength < 0 || s.rxLength >= TerminalState::kLogCapacity ||
               static_cast<uint64_t>(s.rxLength) > end) {
      why << when << ": the log holds " << s.rxLength << " bytes of " << end << " received";
    } else if (std::string differs = devices_.CompareTail(end, s.log.data(), s.log.size());
               !differs.empty()) {
      why << when << ": the log (" << s.rxLength << " bytes) is not the stream's tail up to " << end
          << ": " << differs;
    }
    lastEnd_ = std::max(lastEnd_, end);
    // The received total never goes back, and the log is never longer than
    // its capacity: nothing before that will be compared again.
    if (lastEnd_ > TerminalState::kLogCapacity) {
      devices_.Forget(lastEnd_ - TerminalState::kLogCapacity);
    }
    return why.str();
  }

  std::string Look(const char* when) {
    ++looks_;
    return Check(Take(), when);
  }

  // The boxes show the log (as text or hex: a hex toggle shows at the next
  // burst) and the RX count.
  bool BoxesShow(const Snapshot& s) {
    auto* box = harness_.Get<ReceiveBox>(kReceiveBox);
    const std::string& shown = box->Shown();
    if (shown != s.receiveText || box->Edited()) return false;
    if (harness_.Text(kRxBox) != QString::number(s.rxCount)) return false;
    return shown == RenderReceiveText(s.log.data(), s.rxLength, s.hexDisplay) ||
           shown == RenderReceiveText(s.log.data(), s.rxLength, !s.hexDisplay);
  }

  // The devices pause, the terminal goes quiet, and everything must add up
  // exactly. The devices stay paused unless `resume`.
  std::string Checkpoint(bool resume) {
    devices_.Pause();
    uint64_t written = devices_.StreamSize();
    Snapshot s;
    bool quiet = PumpUntil(
        [&] {
          s = Take();
          return resetBase_ + s.rxCount >= written && BoxesShow(s);
        },
        std::chrono::seconds(15));
    ++checkpoints_;
    std::ostringstream why;
    if (std::string failure = Check(s, "at a checkpoint"); !failure.empty()) return failure;
    if (!quiet || resetBase_ + s.rxCount != written) {
      why << "at a checkpoint: received " << resetBase_ + s.rxCount << " (RX count " << s.rxCount
          << ") of the " << written << " bytes written"
          << (quiet ? "" : ", or the boxes do not show the log and the count");
      return why.str();
    }
    if (window_.Link().Hub().workersOverlapped.load()) {
      return "two workers ran at once";
    }
    if (resume) devices_.Resume(live_);
    return {};
  }

  std::string Send() {
    std::string text;
    size_t length = 1 + rng_() % 48;
    if (rng_() % 2) {
      static constexpr char kDigits[] = "0123456789abcdefABCDEF";
      for (size_t i = 0; i < length; ++i) {
        text += kDigits[rng_() % 22];
        text += kDigits[rng_() % 22];
        text += ' ';
      }
    } else {
      for (size_t i = 0; i < length; ++i) text += static_cast<char>(0x20 + rng_() % 0xe0);
    }
    harness_.Get<ByteTextBox>(kSendBox)->setPlainText(TextFromBytes(text));
    harness_.Click(kSendButton);
    return {};
  }

  // "Reset cnt" while the stream runs: where the stream stood at the reset is
  // told by a look right before and one right after the click (see the top).
  std::string Reset() {
    if (open_ && !HoldWorkerInCapture()) return "the worker never ran the capture that fell due";
    Snapshot before = Take();
    if (std::string failure = Check(before, "before a reset"); !failure.empty()) return failure;
    // A plain click: no event is handled, so no worker call is served meanwhile.
    harness_.Get<QAbstractButton>(kResetButton)->click();
    Snapshot after = Take();
    uint64_t endBefore = resetBase_ + before.rxCount;
    uint64_t burst = after.rxLength == before.rxLength ? 0
                     : after.rxLength > before.rxLength
                         ? static_cast<uint64_t>(after.rxLength - before.rxLength)
                         : static_cast<uint64_t>(after.rxLength);  // the log was emptied first
    if (after.rxCount > burst) {
      std::ostringstream why;
      why << "RX count " << after.rxCount << " right after a reset, with a burst of " << burst;
      return why.str();
    }
    ++resets_;
    if (burst > 0) ++resetsWithBurst_;
    resetBase_ = endBefore + burst - after.rxCount;
    return Check(after, "after a reset");
  }

  // A program change of the send box makes a capture due before the next
  // burst; true once the worker waits for the UI thread (in that capture, or
  // in any other call), which it does until the loop runs again.
  bool HoldWorkerInCapture() {
    auto* sendBox = harness_.Get<ByteTextBox>(kSendBox);
    sendBox->setPlainText(sendBox->toPlainText());
    pollfd waiting = {window_.Link().Hub().uiCalls.WakeDescriptor(), POLLIN, 0};
    return ::poll(&waiting, 1, 15000) == 1;
  }

  // A mode's check box is disabled while another mode is on.
  std::string ToggleMode(ControlId id) {
    if (window_.Control(id)->isEnabled()) {
      harness_.Click(id);
      ++modeSwitches_;
    }
    return {};
  }

  QString Caption() { return harness_.Text(kOpenCloseButton); }

  // The link changes device: the old session must be complete before the
  // close, and the new one starts at the open's purge.
  std::string ChangePort() {
    int target = rng_() % 16 == 0 ? kMissingPort : 1 - std::min(port_, 1);
    if (std::string failure = Checkpoint(false); !failure.empty()) return failure;
    harness_.Choose(kPortSelector, target);
    port_ = target;
    if (open_) {
      std::string failure = ExpectOpen(target != kMissingPort, "after a change of port");
      if (!failure.empty()) return failure;
    }
    devices_.Resume(live_);
    return {};
  }

  std::string OpenOrClose() {
    if (open_) {
      if (std::string failure = Checkpoint(false); !failure.empty()) return failure;
      harness_.Click(kOpenCloseButton);
      open_ = false;
      live_ = -1;
      if (Caption() != QStringLiteral("Open com") || window_.Link().Port().IsOpen() ||
          window_.Link().WorkerRunning()) {
        return "the link did not close";
      }
    } else {
      devices_.Pause();
      harness_.Click(kOpenCloseButton);
      open_ = true;
      if (std::string failure = ExpectOpen(port_ != kMissingPort, "after Open"); !failure.empty()) {
        return failure;
      }
    }
    devices_.Resume(live_);
    return {};
  }

  std::string ExpectOpen(bool opens, const char* when) {
    if (opens) {
      live_ = port_;
      ++sessions_;
      if (Caption() != QStringLiteral("Close com") || !window_.Link().Port().IsOpen()) {
        return std::string("the link is not open ") + when;
      }
      return {};
    }
    ++missingOpens_;
    open_ = false;
    live_ = -1;
    if (Caption() != QStringLiteral("Open com") || window_.Link().Port().IsOpen()) {
      return std::string("a missing device shows as open ") + when;
    }
    return {};
  }

  TerminalHarness& harness_;
  MainWindow& window_;
  StreamingDevices& devices_;
  Watchdog& watchdog_;
  std::mt19937_64 rng_;

  bool open_ = true;  // the window opens COM1 on start
  int port_ = 0;
  int live_ = 0;
  uint64_t resetBase_ = 0;
  uint64_t lastEnd_ = 0;

  std::map<std::string, int> done_;
  int checkpoints_ = 0;
  int looks_ = 0;
  int resets_ = 0;
  int resetsWithBurst_ = 0;
  int missingOpens_ = 0;
  int sessions_ = 1;
  int longestLog_ = 0;
  int modeSwitches_ = 0;
};

}  // namespace

class StressTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void streamWhileTheUserDoesEverything();
  void openCloseCyclesLeaveNothingBehind();
};

void StressTest::streamWhileTheUserDoesEverything() {
  uint64_t seed = static_cast<uint64_t>(EnvNumber("QUORVEL_STRESS_SEED", 0));
  if (seed == 0) seed = std::random_device{}() | 1;
  auto duration = std::chrono::seconds(EnvNumber("QUORVEL_STRESS_SECONDS", 20));
  std::printf("stress: seed %llu (QUORVEL_STRESS_SEED repeats it), %lld s\n",
              static_cast<unsigned long long>(seed), static_cast<long long>(duration.count()));
  std::fflush(stdout);

  Watchdog watchdog(WatchdogLimit());
  TerminalHarness harness("[SendConfig]\nFRAMEEND=0d\n", 2);
  std::vector<int> masters = {harness.Device(0).Master(), harness.Device(1).Master()};
  StreamingDevices devices(masters, seed * 0x9e3779b97f4a7c15ull);
  watchdog.Beat("opening the window");
  MainWindow& window = harness.Window();  // opens COM1 while the devices are paused
  WorkerSampling sampling(watchdog, window.Link().Hub());
  window.Names().Set(kMissingPort + 1, "/nonexistent/quorvel-stress-device");
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));

  StressRun run(harness, devices, watchdog, seed);
  std::string failure = run.Run(duration);
  std::printf("stress: figures (seed %llu)\n", static_cast<unsigned long long>(seed));
  run.PrintFigures(stdout);
  std::printf("  most workers running at once: %d (sampled every ms)\n", watchdog.MaxWorkersSeen());
  std::fflush(stdout);
  QVERIFY2(failure.empty(), failure.c_str());

  QVERIFY(!window.Link().Hub().workersOverlapped.load());
  QVERIFY(watchdog.MaxWorkersSeen() <= 1);
  // The only messages: one "Open com fail!" for each open of the missing device.
  QCOMPARE(harness.Messages(), QStringList(run.MissingOpens(), QStringLiteral("Open com fail!")));
}

void StressTest::openCloseCyclesLeaveNothingBehind() {
  constexpr int kCycles = 1000;
  Watchdog watchdog(WatchdogLimit());
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  WorkerSampling sampling(watchdog, window.Link().Hub());

  auto cycle = [&](int i) -> std::string {
    harness.Click(kOpenCloseButton);
    if (harness.Text(kOpenCloseButton) != QStringLiteral("Open com") ||
        window.Link().Port().IsOpen() || window.Link().WorkerRunning()) {
      return "cycle " + std::to_string(i) + ": the link did not close";
    }
    harness.Click(kOpenCloseButton);
    if (harness.Text(kOpenCloseButton) != QStringLiteral("Close com") ||
        !window.Link().Port().IsOpen()) {
      return "cycle " + std::to_string(i) + ": the link did not open";
    }
    return {};
  };
  // The first cycles may let the toolkit set up what it keeps for good.
  for (int i = 0; i < 3; ++i) QVERIFY2(cycle(i).empty(), "warm-up");
  Pump(10);
  std::multiset<std::string> fdsBefore = OpenDescriptors();
  int threadsBefore = CountEntries("/proc/self/task");
  watchdog.Beat("open/close cycles");

  for (int i = 1; i <= kCycles; ++i) {
    std::string failure = cycle(i);
    QVERIFY2(failure.empty(), failure.c_str());
    if (i % 100 == 0) {
      // Each session really works: what the device sends arrives.
      std::string ping = "cycle " + std::to_string(i);
      harness.Device().Send(ping);
      bool arrived = PumpUntil(
          [&] {
            return harness.Field([&](TerminalState& s) {
              return s.rxLength >= static_cast<int>(ping.size()) &&
                     std::equal(ping.begin(), ping.end(),
                                s.rxBuffer.begin() + (s.rxLength - ping.size()));
            });
          },
          std::chrono::seconds(5));
      QVERIFY2(arrived, ping.c_str());
    }
  }
  Pump(10);
  std::multiset<std::string> fdsAfter = OpenDescriptors();
  // A thread of the toolkit's pools may end meanwhile; none may be added.
  int threadsAfter = CountEntries("/proc/self/task");
  std::string leaked = Added(fdsBefore, fdsAfter);
  std::printf(
      "open/close: %d cycles; descriptors %zu before, %zu after (added: %s); threads %d before, "
      "%d after; most workers running at once: %d\n",
      kCycles, fdsBefore.size(), fdsAfter.size(), leaked.empty() ? "none" : leaked.c_str(),
      threadsBefore, threadsAfter, watchdog.MaxWorkersSeen());
  std::fflush(stdout);
  QVERIFY2(leaked.empty(), leaked.c_str());
  QVERIFY(threadsAfter <= threadsBefore);
  QVERIFY(!window.Link().Hub().workersOverlapped.load());
  QVERIFY(watchdog.MaxWorkersSeen() <= 1);
  QVERIFY(harness.Messages().isEmpty());
}

QTEST_MAIN(StressTest)
#include "stress_test.moc"
