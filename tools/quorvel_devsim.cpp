// quorvel-devsim: a serial device played on a pseudo-terminal, for trying the
// terminal (and for screenshots and benchmarks) without hardware.
//
// Its modes keep the slave side of its pseudo-terminal open for their whole
// life: otherwise every close by the terminal would hang the line up, the
// master would report POLLHUP until the next open, and reading it would fail
// with EIO. The replay alone lets go of the slave at once, as it waits for the
// host's open (sim/line_open_watch.h). The slave is set raw, so the line
// discipline neither echoes nor translates anything before the terminal opens
// it; the settings outlast a close while the master is held.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/unique_fd.h"
#include "link/line_settings.h"
#include "settings/profile_file.h"
#include "sim/demo_device.h"
#include "sim/devsim_options.h"
#include "sim/line_open_watch.h"
#include "sim/line_recorder.h"
#include "sim/recording.h"
#include "sim/replay_line.h"
#include "sim/replay_player.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kUsageExit = 2;
constexpr size_t kFrameLimit = 4096;       // a "frame" this long without its end is shown anyway
constexpr size_t kPendingLimit = 1 << 20;  // output the line has not taken yet
constexpr size_t kRecordingLimit = 64 << 20;

using Mode = DevsimMode;
using Options = DevsimOptions;

class Device {
 public:
  Device(const Options& options, int master, int signals, LineRecorder& recorder)
      : options_(options), master_(master), signals_(signals), recorder_(recorder) {}

  // Plays the device until SIGINT or SIGTERM; false when the line failed.
  bool Run() {
    auto start = Clock::now();
    nextSend_ = start + milliseconds(options_.everyMs);
    streamStart_ = start;
    nextReport_ = start + std::chrono::seconds(1);
    for (;;) {
      pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0},
                       {signals_, POLLIN, 0}};
      int ready = poll(fds, 2, TimeoutMs());
      if (ready < 0 && errno != EINTR) return Fail("poll");
      if (fds[1].revents & POLLIN) return true;
      if ((fds[0].revents & POLLIN) && !Receive()) return false;
      if (!RunTimers()) return false;
      if (!Flush()) return false;
    }
  }

 private:
  bool Fail(const char* what) {
    std::fprintf(stderr, "quorvel-devsim: %s failed: %s\n", what, std::strerror(errno));
    return false;
  }

  int TimeoutMs() const {
    std::optional<Clock::time_point> next;
    auto consider = [&](Clock::time_point when) {
      if (!next || when < *next) next = when;
    };
    if (!replies_.empty()) consider(replies_.front());
    if (options_.mode == Mode::kEvery) consider(nextSend_);
    if (options_.mode == Mode::kStream) {
      // Refill in steps of a hundredth of a second's worth; while the line
      // still holds output, POLLOUT is what wakes us.
      if (pending_.empty()) {
        int64_t step = std::max<int64_t>(1, options_.streamRate / 100);
        double at =
            static_cast<double>(streamQueued_ + step) / static_cast<double>(options_.streamRate);
        consider(streamStart_ +
                 std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(at)));
      }
      consider(nextReport_);
    }
    if (!next) return -1;
    auto left = std::chrono::ceil<milliseconds>(*next - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
  }

  bool Receive() {
    uint8_t buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n < 0) return errno == EAGAIN || errno == EINTR ? true : Fail("reading the line");
    if (n == 0) return true;
    auto count = static_cast<size_t>(n);
    recorder_.DeviceReceived(buffer, count);
    if (options_.mode != Mode::kReply) {
      Print("rx", buffer, count);
      if (options_.mode == Mode::kEcho) Queue(buffer, count);
      return true;
    }
    for (size_t i = 0; i < count; ++i) {
      frame_.push_back(buffer[i]);
      if (buffer[i] == *options_.frameEnd) {
        Print("rx", frame_.data(), frame_.size());
        frame_.clear();
        replies_.push_back(Clock::now() + milliseconds(options_.delayMs.value_or(0)));
      } else if (frame_.size() >= kFrameLimit) {
        Print("rx (no frame end yet)", frame_.data(), frame_.size());
        frame_.clear();
      }
    }
    return true;
  }

  bool RunTimers() {
    auto now = Clock::now();
    while (!replies_.empty() && replies_.front() <= now) {
      replies_.pop_front();
      Queue(options_.reply.data(), options_.reply.size());
    }
    if (options_.mode == Mode::kEvery && nextSend_ <= now) {
      // A device talks whether or not anyone listens; when the line has not
      // taken the last message yet, this one is dropped rather than piled up.
      if (pending_.empty()) {
        if (skipped_ > 0) std::printf("-- %ld sends skipped while the line was full\n", skipped_);
        skipped_ = 0;
        Queue(options_.send.data(), options_.send.size());
      } else {
        ++skipped_;
      }
      nextSend_ += milliseconds(options_.everyMs);
      if (nextSend_ <= now) nextSend_ = now + milliseconds(options_.everyMs);  // fell behind
    }
    if (options_.mode == Mode::kStream) Stream(now);
    return true;
  }

  void Stream(Clock::time_point now) {
    double elapsed = std::chrono::duration<double>(now - streamStart_).count();
    auto due = static_cast<int64_t>(elapsed * static_cast<double>(options_.streamRate));
    // A line that does not take the stream must not build a backlog that
    // bursts out later: hold at most one second's worth.
    if (due - streamQueued_ > options_.streamRate) streamQueued_ = due - options_.streamRate;
    if (pending_.empty() && due > streamQueued_) {
      auto count = static_cast<size_t>(std::min<int64_t>(due - streamQueued_, 65536));
      for (size_t i = 0; i < count; ++i) pending_.push_back(static_cast<char>(streamNext_++));
      streamQueued_ += static_cast<int64_t>(count);
    }
    if (now >= nextReport_) {
      std::printf("tx stream: %lld bytes taken by the line\n",
                  static_cast<long long>(streamWritten_));
      nextReport_ += std::chrono::seconds(1);
      if (nextReport_ <= now) nextReport_ = now + std::chrono::seconds(1);
    }
  }

  void Queue(const uint8_t* bytes, size_t count) {
    Print("tx", bytes, count);
    if (pending_.size() + count > kPendingLimit) {
      std::printf("-- line full: %zu bytes not sent\n", count);
      return;
    }
    pending_.append(reinterpret_cast<const char*>(bytes), count);
  }

  bool Flush() {
    while (!pending_.empty()) {
      ssize_t n = write(master_, pending_.data(), pending_.size());
      if (n < 0) return errno == EAGAIN || errno == EINTR ? true : Fail("writing the line");
      recorder_.DeviceSent(reinterpret_cast<const uint8_t*>(pending_.data()),
                           static_cast<size_t>(n));
      pending_.erase(0, static_cast<size_t>(n));
      if (options_.mode == Mode::kStream) streamWritten_ += n;
    }
    return true;
  }

  void Print(const char* what, const uint8_t* bytes, size_t count) {
    std::printf("%s %s\n", what, HexLine(bytes, count).c_str());
  }

  const Options& options_;
  int master_;
  int signals_;
  LineRecorder& recorder_;
  std::string pending_;
  std::vector<uint8_t> frame_;
  std::deque<Clock::time_point> replies_;
  Clock::time_point nextSend_;
  long skipped_ = 0;
  Clock::time_point streamStart_;
  Clock::time_point nextReport_;
  int64_t streamQueued_ = 0;
  int64_t streamWritten_ = 0;
  uint8_t streamNext_ = 0;
};

const char* ModeText(const Options& options) {
  switch (options.mode) {
    case Mode::kEcho:
      return "echoing every byte";
    case Mode::kReply:
      return "answering each frame";
    case Mode::kEvery:
      return "sending periodically";
    case Mode::kStream:
      return "streaming counting bytes";
    case Mode::kReplay:
      return "replaying once the line is opened";
    case Mode::kDemo:
      return "playing the demo device";
    case Mode::kWave:
      return "playing the demo device's waves";
    case Mode::kListen:
      break;
  }
  return "showing what arrives";
}

// The script of the recording at `path`; nullopt after saying what is wrong
// with it.
std::optional<std::vector<ReplayStep>> LoadScript(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quorvel-devsim: cannot read %s: %s\n", path.c_str(),
                 std::strerror(errno));
    return std::nullopt;
  }
  std::string text;
  char chunk[65536];
  while (text.size() <= kRecordingLimit && in.read(chunk, sizeof chunk).gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) {
    std::fprintf(stderr, "quorvel-devsim: cannot read %s\n", path.c_str());
    return std::nullopt;
  }
  if (text.size() > kRecordingLimit) {
    std::fprintf(stderr, "quorvel-devsim: %s: larger than %zu MiB\n", path.c_str(),
                 kRecordingLimit >> 20);
    return std::nullopt;
  }
  std::vector<RecordedBurst> bursts;
  RecordingError error;
  if (!ParseRecording(text, bursts, error)) {
    std::fprintf(stderr, "quorvel-devsim: %s:%zu: %s\n", path.c_str(), error.line,
                 error.message.c_str());
    return std::nullopt;
  }
  if (bursts.empty()) {
    std::fprintf(stderr, "quorvel-devsim: %s: no bytes to replay\n", path.c_str());
    return std::nullopt;
  }
  return ReplayScript(bursts);
}

// Plays the recording once the host is there; the exit status.
int Replay(const Options& options, std::vector<ReplayStep> script, const ReplayLine& line,
           LineRecorder& recorder) {
  ReplayOptions replay{options.speed.value_or(1.0), options.strict, options.loop};
  ReplayPlayer player(std::move(script), replay,
                      [](const std::string& text) { std::printf("%s\n", text.c_str()); });
  if (!WaitForHost(line)) return 0;
  std::printf("-- the line is open: replaying\n");
  bool ok = RunReplay(line, player, recorder.IsOpen() ? &recorder : nullptr);
  std::printf("%s\n", player.Summary().c_str());
  if (player.StoppedOnMismatch()) std::printf("-- stopped at the first frame that differs\n");
  return ok && player.Tally().mismatched == 0 ? 0 : 1;
}

int Main(int argc, char** argv) {
  std::string error;
  std::optional<Options> options = ParseDevsimArguments(argc, argv, error);
  if (!options) {
    if (error.empty()) {
      std::fputs(kDevsimUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "quorvel-devsim: %s\n%s", error.c_str(), kDevsimUsage);
    return kUsageExit;
  }
  // A bad recording is refused before there is a line to send anything on.
  std::optional<std::vector<ReplayStep>> script;
  if (options->mode == Mode::kReplay) {
    script = LoadScript(options->replay);
    if (!script) return kUsageExit;
  }
  LineRecorder recorder;
  if (!options->record.empty() && !recorder.Open(options->record, error)) {
    std::fprintf(stderr, "quorvel-devsim: %s\n", error.c_str());
    return 1;
  }
  // Whoever reads our output may stop reading (a script that wants only the
  // path); the device goes on regardless.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGPIPE, SIG_IGN);

  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  sigprocmask(SIG_BLOCK, &ending, nullptr);
  UniqueFd signals(signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signals) {
    std::perror("quorvel-devsim: signalfd");
    return 1;
  }

  int masterFd = -1;
  int slaveFd = -1;
  char path[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  if (openpty(&masterFd, &slaveFd, path, &raw, nullptr) != 0) {
    std::perror("quorvel-devsim: openpty");
    return 1;
  }
  UniqueFd master(masterFd);
  UniqueFd slave(slaveFd);
  fcntl(master.Get(), F_SETFL, fcntl(master.Get(), F_GETFL) | O_NONBLOCK);
  fcntl(master.Get(), F_SETFD, FD_CLOEXEC);
  fcntl(slave.Get(), F_SETFD, FD_CLOEXEC);
  std::optional<LineOpenWatch> watch;
  if (script) {
    slave.Reset();  // the host's open must show (see the top of this file)
    watch.emplace(master.Get(), path);
  }
  std::printf("%s\n", path);

  if (options->com > 0) {
    std::error_code ignored;
    std::filesystem::path ini = std::filesystem::current_path(ignored) / "Quorvel.ini";
    std::string key = "COM" + std::to_string(options->com);
    if (!WriteProfileString(ini, "PortMap", key, path)) {
      std::fprintf(stderr, "quorvel-devsim: could not write %s=%s into %s\n", key.c_str(), path,
                   ini.c_str());
      return 1;
    }
    std::printf("%s=%s in [PortMap] of %s\n", key.c_str(), path, ini.c_str());
  }
  std::printf("%s; Ctrl+C ends\n", ModeText(*options));

  if (script) {
    return Replay(*options, std::move(*script), {master.Get(), path, signals.Get(), &*watch},
                  recorder);
  }
  if (options->mode == Mode::kDemo || options->mode == Mode::kWave) {
    auto print = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    return RunDemoDevice(master.Get(), signals.Get(), recorder.IsOpen() ? &recorder : nullptr,
                         print, options->waveRate)
               ? 0
               : 1;
  }
  Device device(*options, master.Get(), signals.Get(), recorder);
  return device.Run() ? 0 : 1;
}

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) {
  return quorvel::Main(argc, argv);
}
