// A script against a device on a real pseudo-terminal, end to end: a small
// ScriptLink over the line (a reader thread feeding the engine's buffer, a
// send that writes every byte) and a device that answers each "ping N" line
// with "PONG N". Every reply must be found, in order, by expect.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "core/clock.h"
#include "core/event_fd.h"
#include "script/script_runner.h"
#include "support/pty_line.h"

namespace quorvel {
namespace {

// The link side of the line: what the integration does over the link
// session, cut down to a descriptor.
class PtyScriptLink : public ScriptLink {
 public:
  explicit PtyScriptLink(int fd) : fd_(fd), reader_(&PtyScriptLink::Read, this) {}
  ~PtyScriptLink() override {
    stop_.Signal();
    reader_.join();
  }

  LinkFailure Send(const std::vector<uint8_t>& bytes) override {
    size_t done = 0;
    while (done < bytes.size()) {
      if (interrupted_) return "interrupted";
      ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        return std::string(std::strerror(errno));
      } else {
        pollfd writable{fd_, POLLOUT, 0};
        poll(&writable, 1, 100);
      }
    }
    return std::nullopt;
  }
  LinkFailure SetLines(const ScriptLineLevels&) override { return "lines: not available"; }
  LinkFailure SendBreak(int) override { return "no break on this line"; }
  LinkFailure ApplyLine(const ScriptLineSettings&) override { return "settings stay"; }
  LinkFailure Transfer(const ScriptTransfer&) override { return "no transfers here"; }
  void Note(const std::string&) override {}
  void Attach(ScriptReceiver* receiver) override {
    std::lock_guard guard(mutex_);
    receiver_ = receiver;
  }
  void Detach(ScriptReceiver* receiver) override {
    std::lock_guard guard(mutex_);
    if (receiver_ == receiver) receiver_ = nullptr;
  }
  void Interrupt() override { interrupted_ = true; }
  void Resume() override { interrupted_ = false; }

 private:
  void Read() {
    uint8_t buffer[4096];
    while (true) {
      pollfd watched[2] = {{fd_, POLLIN, 0}, {stop_.Descriptor(), POLLIN, 0}};
      if (poll(watched, 2, -1) < 0 && errno != EINTR) return;
      if (watched[1].revents) return;
      if (!(watched[0].revents & POLLIN)) continue;
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) continue;
      std::lock_guard guard(mutex_);
      if (receiver_) receiver_->Received(buffer, static_cast<int>(n));
    }
  }

  int fd_;
  std::atomic<bool> interrupted_{false};
  std::mutex mutex_;
  ScriptReceiver* receiver_ = nullptr;
  EventFd stop_;
  std::thread reader_;
};

// Answers each "ping N\n" with "PONG N\r\n", cut in two writes so that a
// reply may arrive in pieces.
void PlayDevice(testing::PtyLine& line, std::atomic<bool>& stop) {
  std::string pending;
  uint8_t buffer[4096];
  while (!stop) {
    size_t n = line.ReadSome(buffer, sizeof buffer, 50);
    pending.append(reinterpret_cast<char*>(buffer), n);
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string request = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (request.rfind("ping ", 0) != 0) continue;
      std::string reply = "PONG " + request.substr(5) + "\r\n";
      size_t half = reply.size() / 2;
      int64_t deadline = SteadyNowMs() + 5000;
      line.WriteAll(reinterpret_cast<const uint8_t*>(reply.data()), half, deadline);
      line.WriteAll(reinterpret_cast<const uint8_t*>(reply.data()) + half, reply.size() - half,
                    deadline);
    }
  }
}

TEST(ScriptOnPty, SendExpectRoundTrips) {
  testing::PtyLine line;
  ASSERT_TRUE(line.Ok());
  std::atomic<bool> stop{false};
  std::thread device(PlayDevice, std::ref(line), std::ref(stop));
  ScriptResult result;
  {
    PtyScriptLink link(line.Slave());
    ScriptRunner runner(link);
    std::string problem;
    ASSERT_TRUE(runner.StartText("pty.lua", R"lua(
      local rounds = 300
      local started = now()
      for i = 1, rounds do
        send("ping " .. i, {ending = "lf"})
        if not check(expect("PONG " .. i .. "\r\n", 5000), "pong " .. i) then break end
      end
      print(string.format("%.0f round trips a second", rounds / (now() - started) * 1000))
      check(line{dtr = true} == nil, "a pseudo-terminal has no modem lines")
    )lua",
                                 {}, problem))
        << problem;
    result = runner.Wait();
    for (const ScriptEvent& event : runner.TakeEvents()) {
      if (event.kind == ScriptEvent::Kind::kPrinted) RecordProperty("rate", event.text);
    }
  }
  stop = true;
  device.join();
  EXPECT_EQ(result.exitCode, 0) << result.error;
  ASSERT_EQ(result.steps.size(), 301u);
  for (const ScriptStep& step : result.steps) EXPECT_TRUE(step.passed) << step.name;
}

}  // namespace
}  // namespace quorvel
