// quorvel-devsim's command line: its modes and the options that go with them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

enum class DevsimMode { kListen, kEcho, kReply, kEvery, kStream, kReplay, kDemo, kWave };

struct DevsimOptions {
  int com = 0;  // 0: leave Quorvel.ini alone
  DevsimMode mode = DevsimMode::kListen;
  std::vector<uint8_t> reply;
  std::optional<uint8_t> frameEnd;
  std::optional<int64_t> delayMs;
  std::vector<uint8_t> send;
  int64_t everyMs = 0;
  int64_t streamRate = 0;  // bytes per second
  int waveRate = 0;        // lines per second
  std::string record;      // empty: no recording
  std::string replay;
  std::optional<double> speed;
  bool strict = false;
  bool loop = false;
};

// What --help prints, and what follows a usage error.
extern const char kDevsimUsage[];

// The options of `argv` (argv[0] is the program); nullopt with `error` set
// for anything it cannot use, and with `error` empty for --help.
std::optional<DevsimOptions> ParseDevsimArguments(int argc, char** argv, std::string& error);

}  // namespace quorvel
