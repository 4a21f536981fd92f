// Scripts against a device on a pseudo-terminal: how soon an expect returns
// after its last byte arrived, how many send/expect round trips a second an
// echoing device allows, and how long the real `quorvel --script` takes from
// its start to its first byte on the line.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench_support.h"
#include "connection/link_session.h"
#include "measures.h"
#include "script/script_runner.h"
#include "scripting/session_script_link.h"

namespace quorvel::bench {
namespace {

constexpr LineParameters kScriptLine{115200, 8, kOneStopBit, kParityNone, kFlowNone};

// The device's end of a raw line; the terminal opens `path`.
struct DeviceLine {
  int master = -1;
  int slave = -1;
  std::string path;
  bool Open() {
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    char name[256] = {};
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) return false;
    path = name;
    return true;
  }
  ~DeviceLine() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }
  // Reads until `text` has come (true) or `timeoutMs` passed.
  bool Await(const std::string& text, int timeoutMs, std::string& seen) const {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen.find(text) == std::string::npos) {
      int left = static_cast<int>(MillisecondsBetween(Clock::now(), deadline));
      if (left <= 0) return false;
      pollfd in = {master, POLLIN, 0};
      if (poll(&in, 1, left) <= 0) continue;
      char buffer[4096];
      ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  void Write(const std::string& text) const {
    if (::write(master, text.data(), text.size()) < 0) return;
  }
};

// A script on a live session on `line`, its calls served on this thread
// until it ends; the run's result.
ScriptResult RunOnSession(const DeviceLine& line, const std::string& code,
                          const std::function<void()>& device) {
  LinkSession session;
  ScriptResult result;
  result.end = ScriptEnd::kError;
  if (!session.Open(PortTarget::Device(line.path), kScriptLine).open) return result;
  {
    SessionScriptLink link(session);
    ScriptRunner runner(link);
    ScriptRunner::Options options;
    options.ended = [&session] { session.Hub().uiCalls.Notify(); };
    std::string problem;
    if (runner.StartText("bench.lua", code, options, problem)) {
      std::thread peer(device);
      session.Hub().uiCalls.ServeUntil([&] { return !runner.Running(); });
      result = runner.Wait();
      peer.join();
    }
    session.Shutdown();
  }
  return result;
}

}  // namespace

Row ScriptExpectLatency(const BenchOptions& options) {
  Row row;
  row.measure = "Script: expect's return after its last byte (device writes, script answers)";
  row.terminal = "script on a link session";
  row.goal = "≤ 1 ms";
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  DeviceLine line;
  if (!line.Open()) {
    row.verdict = "failed";
    return row;
  }
  int count = options.samples;
  std::string code = "for i = 1, " + std::to_string(count) +
                     " do\n"
                     "  if not expect('K' .. i .. '\\n', 5000) then fail('lost ' .. i) end\n"
                     "  send('a')\n"
                     "end\n";
  std::vector<double> samples;
  ScriptResult result = RunOnSession(line, code, [&] {
    for (int i = 1; i <= count; ++i) {
      std::string seen;
      auto sent = Clock::now();
      line.Write("K" + std::to_string(i) + "\n");
      if (!line.Await("a", 5000, seen)) return;
      samples.push_back(MillisecondsBetween(sent, Clock::now()));
    }
  });
  if (samples.size() != static_cast<size_t>(count) || FailedSteps(result) != 0) {
    row.verdict = "failed";
    row.notes = "answers missing after " + std::to_string(samples.size());
    return row;
  }
  Summary summary = AddLatencyFigures(row, samples);
  row.verdict = summary.p99 <= 1.0 ? "met" : "missed";
  row.notes =
      "from the device's write of the frame's last byte to its read of the script's answer: the "
      "expect's return plus the send's way back, an upper bound";
  return row;
}

Row ScriptRoundTrips(const BenchOptions& options) {
  Row row;
  row.measure = "Script: send/expect round trips against an echoing device";
  row.terminal = "script on a link session";
  row.goal = "≥ 2,000 a second";
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  DeviceLine line;
  if (!line.Open()) {
    row.verdict = "failed";
    return row;
  }
  int count = std::max(2000, options.samples * 5);
  std::string code = "local t0 = now()\nfor i = 1, " + std::to_string(count) +
                     " do\n"
                     "  send('x' .. i .. '\\n')\n"
                     "  if not expect('x' .. i .. '\\n', 5000) then fail('lost ' .. i) end\n"
                     "end\n"
                     "print(now() - t0)\n";
  ScriptResult result = RunOnSession(line, code, [&] {
    // The echo: every byte back as it comes, until the script's last line.
    std::string last = "x" + std::to_string(count) + "\n";
    std::string tail;
    auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
      pollfd in = {line.master, POLLIN, 0};
      if (poll(&in, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t n = ::read(line.master, buffer, sizeof buffer);
      if (n <= 0) continue;
      if (::write(line.master, buffer, static_cast<size_t>(n)) < 0) break;
      tail.append(buffer, static_cast<size_t>(n));
      if (tail.size() > 64) tail.erase(0, tail.size() - 64);
      if (tail.find(last) != std::string::npos) break;
    }
  });
  double ms = std::atof(result.output.c_str());
  if (FailedSteps(result) != 0 || result.end == ScriptEnd::kError || ms <= 0) {
    row.verdict = "failed";
    row.notes = result.error;
    return row;
  }
  double rate = count / (ms / 1000);
  row.median = Format(rate, 0) + " /s";
  row.samples = std::to_string(count);
  row.verdict = rate >= 2000 ? "met" : "missed";
  row.notes =
      "the script's own clock over the whole loop; " + Milliseconds(ms / count) + " per round trip";
  return row;
}

Row ScriptHeadlessStart(const BenchOptions& options) {
  Row row;
  row.measure = "Script: quorvel --script start to its first byte on the line";
  row.terminal = "the real program, headless";
  row.goal = "< 50 ms";
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  std::filesystem::path program = self.parent_path().parent_path() / "ui" / "quorvel";
  if (!std::filesystem::exists(program)) {
    row.verdict = "failed";
    row.notes = program.string() + " is not built";
    return row;
  }
  std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("quorvel-script-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory, error);
  std::ofstream(directory / "first.lua") << "send('!')\n";
  int runs = std::clamp(options.startupRuns / 10, 20, 200);
  std::vector<double> samples;
  for (int run = 0; run < runs; ++run) {
    DeviceLine line;
    if (!line.Open()) break;
    auto started = Clock::now();
    pid_t child = fork();
    if (child == 0) {
      if (chdir(directory.c_str()) != 0) _exit(127);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      setenv("QT_QPA_PLATFORM", "", 1);
      int null = ::open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 1);
      execl(program.c_str(), "quorvel", "--script", "first.lua", line.path.c_str(), nullptr);
      _exit(127);
    }
    if (child < 0) break;
    std::string seen;
    bool came = line.Await("!", 5000, seen);
    double ms = MillisecondsBetween(started, Clock::now());
    int status = 0;
    if (!came) kill(child, SIGKILL);  // this run's own child, pid checked above
    waitpid(child, &status, 0);
    if (!came || !WIFEXITED(status) || WEXITSTATUS(status) != 0) break;
    samples.push_back(ms);
  }
  std::filesystem::remove_all(directory, error);
  if (samples.size() != static_cast<size_t>(runs)) {
    row.verdict = "failed";
    row.notes = "a run failed after " + std::to_string(samples.size());
    return row;
  }
  Summary summary = AddLatencyFigures(row, samples);
  row.verdict = summary.median < 50 ? "met" : "missed";
  row.notes = "fork to the device's read of the script's first byte; no display";
  return row;
}

}  // namespace quorvel::bench
