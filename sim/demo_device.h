// The demo device: what `quorvel --demo` (and `quorvel-devsim --demo`) talk
// to, so that every part of the terminal can be tried without hardware.
//
// Once a second it reports a reading, "T=21.4 C\r\n". It answers what the
// host sends, taken in bursts (a pause of kBurstGap ends one):
//   READ      (ended by CR, LF or CR LF) a reading at once
//   ID?       its name, "QUORVEL-DEMO,1.0\r\n"
//   a Modbus RTU "read holding registers" frame with a good CRC, e.g.
//   01 03 00 00 00 02 C4 0B: the registers (register 0 is the temperature
//   in tenths of a degree, register n > 0 holds n); 1 to 125 registers,
//   otherwise the exception "illegal data value"; address 0 (broadcast)
//   gets no answer
//   WAVE RATE (ended likewise) starts the three waves of sim/wave_source.h
//             at RATE lines a second (1 to 100000), at once; WAVE 0 or
//             WAVE OFF stops them; a rate it cannot use gets
//             "ERR WAVE takes a rate in lines a second"
//   anything else comes back as it was sent.
// A lone Enter (a burst of only CR, LF or CR LF) starts the demo's shell
// (sim/demo_shell.h), for the console view: a `demo> ` prompt and a line
// editor taking keys one by one, commands (help lists them; top draws a full
// screen), until `exit`. The readings pause while it runs; WAVE's lines do
// not. Everything above holds again after `exit`.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/event_fd.h"
#include "core/unique_fd.h"
#include "sim/line_recorder.h"

namespace quorvel {

inline constexpr char kDemoDeviceName[] = "QUORVEL-DEMO,1.0";

// What the device says, without any line: one thread.
class DemoResponder {
 public:
  // The answer to one burst from the host; empty for none.
  std::string Answer(const uint8_t* bytes, size_t count);
  // The next reading's line; each call is a new reading.
  std::string Reading();
  // The temperature now, in tenths of a degree.
  int TemperatureTenths() const;
  // The wave rate the last WAVE command asked for (0: none), once: nothing
  // until the next one.
  std::optional<int> TakeWaveRequest();

 private:
  std::string ModbusAnswer(const uint8_t* frame);
  std::string WaveCommand(std::string_view upper);
  uint64_t readings_ = 0;
  std::optional<int> waveRequest_;
};

// Plays the demo device on the master side of a pseudo-terminal until
// `stopFd` turns readable. `recorder` may be null; `report` gets a line per
// burst each way ("rx 52 45 41 44 0d 0a"; the waves' lines are left out)
// and may be empty. `waveRate` > 0 plays the waves from the start. False
// when the line failed.
bool RunDemoDevice(int master, int stopFd, LineRecorder* recorder,
                   const std::function<void(const std::string&)>& report, int waveRate = 0);

// The demo device on a pseudo-terminal of its own, played by a thread of its
// own, for a terminal that shows it in its own process.
class DemoDevice {
 public:
  DemoDevice() = default;
  ~DemoDevice();  // Stop()
  DemoDevice(const DemoDevice&) = delete;
  DemoDevice& operator=(const DemoDevice&) = delete;

  // Makes the line and starts the device; false with `error` set when no
  // pseudo-terminal can be made (nothing runs then). Not while it runs.
  bool Start(std::string& error);
  // The line's device path, for the terminal to open; empty before Start.
  const std::string& Path() const { return path_; }
  // Ends the thread and closes the line; harmless when not started. Any
  // thread but the device's own.
  void Stop();

 private:
  UniqueFd master_;
  UniqueFd slave_;  // held so that the terminal's close does not hang the line up
  std::string path_;
  EventFd stop_;
  std::thread thread_;
};

}  // namespace quorvel
