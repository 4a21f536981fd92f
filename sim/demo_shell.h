// The demo device's shell: what a lone Enter starts, so that the console
// view has something to edit lines, complete, colour and redraw against
// without hardware. Keys come in one byte at a time, as a console sends
// them; what the shell prints goes back as the bytes to send.
//
// The prompt `demo> ` takes a line (sim/line_editor.h); the commands are the
// rows of one table (help, read, id, wave, colors, top, clear, exit). `top`
// holds a full screen on the alternate screen, redrawn once a second by
// Tick() until `q` or Ctrl+C. `exit` ends the shell: what follows it is the
// plain device's again.
//
// No line, no thread, no clock of its own: the caller (RunDemoDevice) says
// what time it is. One thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "sim/demo_device.h"
#include "sim/line_editor.h"

namespace quorvel {

// What starts the shell: a burst that is only CR, LF or CR LF.
bool IsLoneEnter(std::string_view burst);

class DemoShell {
 public:
  using Clock = std::chrono::steady_clock;

  // `responder` answers read, id and wave as the plain device does and must
  // outlive the shell; `booted` is when the device started (top's uptime);
  // `waveRate` the waves playing now (0: none).
  DemoShell(DemoResponder& responder, Clock::time_point booted, int waveRate);

  // The banner and the first prompt.
  std::string Start();
  // Keys from the host, and what the shell answers. Takes them up to the
  // Enter of `exit`; `used` gets how many bytes it took.
  std::string Feed(std::string_view keys, Clock::time_point now, size_t& used);
  // top's next frame once it is due; empty otherwise.
  std::string Tick(Clock::time_point now);
  // When Tick has a frame to draw; nullopt while top is not showing.
  std::optional<Clock::time_point> NextDue() const;

  bool Running() const { return running_; }
  bool InTop() const { return inTop_; }
  // The wave rate the last `wave` command set, once (as the responder's).
  std::optional<int> TakeWaveRequest();

 private:
  struct Command {
    const char* name;
    const char* help;
    std::string (DemoShell::*run)(std::string_view argument, Clock::time_point now);
  };
  static const Command kCommands[];

  void Key(uint8_t byte, Clock::time_point now, std::string& out);
  void TopKey(uint8_t byte, std::string& out);
  std::string Complete();
  std::string Run(std::string_view line, Clock::time_point now);
  std::string Help(std::string_view argument, Clock::time_point now);
  std::string Read(std::string_view argument, Clock::time_point now);
  std::string Id(std::string_view argument, Clock::time_point now);
  std::string Wave(std::string_view argument, Clock::time_point now);
  std::string Colors(std::string_view argument, Clock::time_point now);
  std::string Top(std::string_view argument, Clock::time_point now);
  std::string Clear(std::string_view argument, Clock::time_point now);
  std::string Exit(std::string_view argument, Clock::time_point now);
  std::string TopFrameAt(Clock::time_point now, bool first);

  DemoResponder& responder_;
  Clock::time_point booted_;
  int waveRate_;
  std::optional<int> waveRequest_;
  LineEditor editor_;
  bool running_ = true;
  bool inTop_ = false;
  uint64_t topFrames_ = 0;
  Clock::time_point nextFrame_;
};

}  // namespace quorvel
