// Plays the device's side of a recording against a live host, without any
// I/O of its own: the caller hands over what the host sent and the time, and
// writes what Advance returns to the line.
//
// The recording becomes a script. Each run of TX bursts is a host frame to
// wait for (an exchange); each RX burst is output of the device, due at its
// recorded distance from the last host frame (from the start before the
// first). Host bytes are gathered across reads up to the expected frame's
// length, so a frame split over reads or joined with the next matches all the
// same; a shorter frame is judged once the host has been quiet for
// kQuietGap. A frame that differs is reported and the script goes on with the
// recorded reply (unless strict), so the host stays in step with the
// recording and later exchanges are compared too.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/recording.h"

namespace quorvel {

struct ReplayStep {
  bool expect = false;  // a host frame to wait for; else device output to send
  int64_t ms = 0;       // recorded time (of a host frame: its last burst)
  size_t line = 0;      // the recording's line it starts on
  std::vector<uint8_t> bytes;
};

std::vector<ReplayStep> ReplayScript(const std::vector<RecordedBurst>& bursts);

struct ReplayOptions {
  double speed = 1.0;  // recorded time divided by this; 0 for no waiting at all
  bool strict = false;
  bool loop = false;
};

struct ReplayTally {
  uint64_t matched = 0;
  uint64_t mismatched = 0;
  uint64_t bytesSent = 0;      // device to host
  uint64_t bytesReceived = 0;  // host to device
};

// One thread.
class ReplayPlayer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kQuietGap{200};
  static constexpr size_t kHostLimit = 1 << 20;  // host bytes held for frames to come

  // `report` gets one line of text per event worth telling (each frame, each
  // mismatch), without its line break.
  ReplayPlayer(std::vector<ReplayStep> script, ReplayOptions options,
               std::function<void(const std::string&)> report);

  // Starts the script's clock.
  void Start(Clock::time_point now);
  // Bytes the host sent, read at `now`.
  void Received(const uint8_t* bytes, size_t count, Clock::time_point now);
  // Runs the script up to `now`, at most to the end of one round of a loop;
  // appends what is due to the line to `out`.
  void Advance(Clock::time_point now, std::string& out);
  // When Advance next has something to do; nothing while it waits only for
  // the host (or once finished).
  std::optional<Clock::time_point> NextWake() const;

  // The script has ended: played through without --loop, or stopped on a
  // mismatch under --strict.
  bool Finished() const { return finished_; }
  bool StoppedOnMismatch() const { return stopped_; }
  const ReplayTally& Tally() const { return tally_; }
  std::string Summary() const;

 private:
  Clock::time_point Due(const ReplayStep& step) const;
  void Judge(const ReplayStep& step, size_t taken);

  std::vector<ReplayStep> script_;
  ReplayOptions options_;
  std::function<void(const std::string&)> report_;
  size_t next_ = 0;
  uint64_t exchange_ = 0;  // numbered from 1 as they come, across loops
  int64_t anchorMs_ = 0;
  Clock::time_point anchor_;
  std::vector<uint8_t> host_;  // host bytes not yet taken by a frame
  Clock::time_point lastHostByte_;
  std::optional<Clock::time_point> wake_;
  bool finished_ = false;
  bool stopped_ = false;
  ReplayTally tally_;
};

// "01 02 ff", at most 64 bytes and then the count.
std::string HexLine(const uint8_t* bytes, size_t count);

}  // namespace quorvel
