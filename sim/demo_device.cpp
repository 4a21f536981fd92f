#include "sim/demo_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "sending/checksum.h"
#include "sim/demo_shell.h"
#include "sim/replay_player.h"
#include "sim/wave_source.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBurstGap = std::chrono::milliseconds(10);
constexpr auto kReadingEvery = std::chrono::seconds(1);
constexpr size_t kBurstLimit = 4096;
constexpr size_t kPendingLimit = 64 * 1024;
constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kIllegalDataValue = 0x03;
constexpr size_t kModbusRequestLength = 8;
constexpr int kMostRegisters = 125;

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool IsModbusRead(const uint8_t* bytes, size_t count) {
  return count == kModbusRequestLength && bytes[1] == kReadHolding &&
         CheckFrame(ChecksumKind::kModbusCrc16, std::span(bytes, count)) == FrameCheck::kValid;
}

}  // namespace

int DemoResponder::TemperatureTenths() const {
  // A slow wander between 20.0 and 22.9 degrees, the same on every run.
  return 200 + static_cast<int>(readings_ * 7 % 30);
}

std::string DemoResponder::Reading() {
  ++readings_;
  int tenths = TemperatureTenths();
  return "T=" + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " C\r\n";
}

std::string DemoResponder::ModbusAnswer(const uint8_t* frame) {
  uint8_t address = frame[0];
  if (address == 0) return {};
  int first = frame[2] << 8 | frame[3];
  int count = frame[4] << 8 | frame[5];
  std::vector<uint8_t> reply = {address, kReadHolding};
  if (count < 1 || count > kMostRegisters || first + count > 0x10000) {
    reply = {address, kReadHolding | 0x80, kIllegalDataValue};
  } else {
    reply.push_back(static_cast<uint8_t>(count * 2));
    for (int n = first; n < first + count; ++n) {
      int value = n == 0 ? TemperatureTenths() : n;
      reply.push_back(static_cast<uint8_t>(value >> 8));
      reply.push_back(static_cast<uint8_t>(value));
    }
  }
  AppendChecksum(ChecksumKind::kModbusCrc16, reply);
  return std::string(reply.begin(), reply.end());
}

std::optional<int> DemoResponder::TakeWaveRequest() {
  return std::exchange(waveRequest_, std::nullopt);
}

std::string DemoResponder::WaveCommand(std::string_view upper) {
  std::string_view argument = upper.substr(4);
  while (!argument.empty() && argument.front() == ' ') argument.remove_prefix(1);
  int rate = -1;
  if (argument == "OFF") {
    rate = 0;
  } else {
    auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), rate);
    if (error != std::errc() || end != argument.data() + argument.size()) rate = -1;
  }
  if (rate < 0 || rate > kMostWaveRate) {
    return "ERR WAVE takes a rate in lines a second\r\n";
  }
  waveRequest_ = rate;
  return {};
}

std::string DemoResponder::Answer(const uint8_t* bytes, size_t count) {
  if (IsModbusRead(bytes, count)) return ModbusAnswer(bytes);
  std::string_view text(reinterpret_cast<const char*>(bytes), count);
  std::string answer;
  // Line by line: a line ends after LF, or after a CR without an LF behind it.
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    end = end == std::string_view::npos                                         ? text.size()
          : text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? end + 2
                                                                                : end + 1;
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end);
    std::string_view command = line.substr(0, line.find_first_of("\r\n"));
    bool ended = command.size() < line.size();
    std::string upper = Upper(command);
    if (ended && upper == "READ") {
      answer += Reading();
    } else if (ended && upper.starts_with("WAVE")) {
      answer += WaveCommand(upper);
    } else if (ended && upper == "ID?") {
      answer += std::string(kDemoDeviceName) + "\r\n";
    } else {
      answer += line;
    }
  }
  return answer;
}

namespace {

// One run of the device on its line: the burst coming in, the bytes owed to
// the line, the waves, the readings, and the shell while it runs.
class DemoRun {
 public:
  DemoRun(int master, LineRecorder* recorder, const std::function<void(const std::string&)>& report,
          int waveRate)
      : master_(master), recorder_(recorder), report_(report), booted_(Clock::now()) {
    if (waveRate > 0) wave_.emplace(waveRate, booted_);
    nextReading_ = booted_ + kReadingEvery;
  }

  // When Step has something to do next, at the latest.
  Clock::time_point Wake() const {
    Clock::time_point wake = nextReading_;
    if (!burst_.empty()) wake = std::min(wake, lastByte_ + kBurstGap);
    if (wave_) wake = std::min(wake, wave_->NextDue());
    if (shell_ && shell_->NextDue()) wake = std::min(wake, *shell_->NextDue());
    return wake;
  }
  bool Owes() const { return !pending_.empty(); }

  // What the line has; false when it failed.
  bool Read() {
    uint8_t buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return n == 0 || errno == EAGAIN || errno == EINTR;
    auto count = static_cast<size_t>(n);
    if (recorder_) recorder_->DeviceReceived(buffer, count);
    if (report_) report_("rx " + HexLine(buffer, count));
    std::string_view bytes(reinterpret_cast<const char*>(buffer), count);
    lastByte_ = Clock::now();
    // The shell takes keys as they come; the plain device takes bursts.
    if (shell_) {
      ShellKeys(bytes, lastByte_);
    } else {
      burst_ += bytes;
    }
    return true;
  }

  // Answers a burst that is over, and sends what is due by `now`.
  void Step(Clock::time_point now) {
    if (!burst_.empty() && (now - lastByte_ >= kBurstGap || burst_.size() >= kBurstLimit)) {
      AnswerBurst(now);
    }
    if (wave_ && now >= wave_->NextDue()) {
      wave_->AppendDue(now, pending_, kPendingLimit - std::min(pending_.size(), kPendingLimit));
    }
    if (shell_) Queue(shell_->Tick(now));
    if (now >= nextReading_) {
      // No readings in the shell: they would tear the line being edited.
      if (!shell_ && pending_.empty()) Queue(responder_.Reading());
      nextReading_ += kReadingEvery;
      if (nextReading_ <= now) nextReading_ = now + kReadingEvery;
    }
  }

  // Writes what the line takes; false when it failed.
  bool Write() {
    while (!pending_.empty()) {
      ssize_t n = write(master_, pending_.data(), pending_.size());
      if (n < 0) return errno == EAGAIN || errno == EINTR;
      if (recorder_) {
        recorder_->DeviceSent(reinterpret_cast<const uint8_t*>(pending_.data()),
                              static_cast<size_t>(n));
      }
      pending_.erase(0, static_cast<size_t>(n));
    }
    return true;
  }

 private:
  void Queue(const std::string& bytes) {
    if (bytes.empty()) return;
    // Nobody reads the line (the terminal closed its port): the device talks
    // on, and what the line has no room for is dropped.
    if (pending_.size() + bytes.size() > kPendingLimit) return;
    if (report_)
      report_("tx " + HexLine(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    pending_ += bytes;
  }

  void AnswerBurst(Clock::time_point now) {
    if (IsLoneEnter(burst_)) {
      shell_.emplace(responder_, booted_, wave_ ? wave_->Rate() : 0);
      Queue(shell_->Start());
    } else {
      Queue(responder_.Answer(reinterpret_cast<const uint8_t*>(burst_.data()), burst_.size()));
      PlayWaves(responder_.TakeWaveRequest(), now);
    }
    burst_.clear();
  }

  void ShellKeys(std::string_view keys, Clock::time_point now) {
    size_t used = 0;
    Queue(shell_->Feed(keys, now, used));
    PlayWaves(shell_->TakeWaveRequest(), now);
    if (shell_->Running()) return;
    // After exit: what came behind it is the plain device's first burst.
    shell_.reset();
    burst_ = keys.substr(used);
  }

  void PlayWaves(std::optional<int> rate, Clock::time_point now) {
    if (!rate) return;
    wave_.reset();
    if (*rate > 0) wave_.emplace(*rate, now);
  }

  int master_;
  LineRecorder* recorder_;
  const std::function<void(const std::string&)>& report_;
  Clock::time_point booted_;
  DemoResponder responder_;
  std::optional<DemoShell> shell_;  // after responder_, which it refers to
  std::optional<WaveSource> wave_;
  std::string burst_;
  std::string pending_;
  Clock::time_point lastByte_;
  Clock::time_point nextReading_;
};

}  // namespace

bool RunDemoDevice(int master, int stopFd, LineRecorder* recorder,
                   const std::function<void(const std::string&)>& report, int waveRate) {
  DemoRun run(master, recorder, report, waveRate);
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(run.Wake() - Clock::now()).count();
    pollfd fds[2] = {{master, static_cast<short>(POLLIN | (run.Owes() ? POLLOUT : 0)), 0},
                     {stopFd, POLLIN, 0}};
    int ready = poll(fds, 2, static_cast<int>(std::max<int64_t>(left, 0)));
    if (ready < 0 && errno != EINTR) return false;
    if (fds[1].revents & POLLIN) return true;
    if ((fds[0].revents & POLLIN) && !run.Read()) return false;
    run.Step(Clock::now());
    if (!run.Write()) return false;
  }
}

DemoDevice::~DemoDevice() {
  Stop();
}

bool DemoDevice::Start(std::string& error) {
  if (thread_.joinable() || master_) {
    error = "the demo device is already running";
    return false;
  }
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  char path[256] = {};
  int master = -1;
  int slave = -1;
  if (stop_.Descriptor() < 0 || openpty(&master, &slave, path, &raw, nullptr) != 0) {
    error = std::string("no pseudo-terminal for the demo device: ") + std::strerror(errno);
    return false;
  }
  master_.Reset(master);
  slave_.Reset(slave);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  path_ = path;
  stop_.Drain();  // a Stop before this start is over
  int stop = stop_.Descriptor();
  thread_ = std::thread([master, stop] {
    if (!RunDemoDevice(master, stop, nullptr, {})) {
      std::fprintf(stderr, "quorvel: the demo device stopped: %s\n", std::strerror(errno));
    }
  });
  return true;
}

void DemoDevice::Stop() {
  if (thread_.joinable()) {
    stop_.Signal();
    thread_.join();
  }
  slave_.Reset();
  master_.Reset();
}

}  // namespace quorvel
