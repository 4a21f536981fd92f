#include "sim/devsim_options.h"

#include <charconv>
#include <string_view>

#include "link/line_settings.h"
#include "sim/wave_source.h"

namespace quorvel {
namespace {

bool ParseSpeed(std::string_view text, double& speed) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, speed);
  return error == std::errc() && stop == end && !text.empty() && speed >= 0 && speed <= 1e6;
}

bool ParseNumber(std::string_view text, int64_t min, int64_t max, int64_t& value) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty() && value >= min && value <= max;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Strict on purpose: a typo in a reply must not silently become other bytes.
// Groups are separated by spaces, commas or colons; a group of one digit is one
// byte, a longer group must be an even number of digits read in pairs.
bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ' || text[at] == ',' || text[at] == ':') {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < text.size() && HexDigit(text[end]) >= 0) ++end;
    if (end == at) return false;  // neither a digit nor a separator
    std::string_view group = text.substr(at, end - at);
    if (group.size() == 1) {
      bytes.push_back(static_cast<uint8_t>(HexDigit(group[0])));
    } else if (group.size() % 2 == 0) {
      for (size_t i = 0; i < group.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(HexDigit(group[i]) * 16 + HexDigit(group[i + 1])));
      }
    } else {
      return false;
    }
    at = end;
  }
  return !bytes.empty();
}

}  // namespace

const char kDevsimUsage[] =
    "usage: quorvel-devsim [--com N] [--record FILE] [MODE]\n"
    "Plays a serial device on a pseudo-terminal and prints its path. Ends on Ctrl+C.\n"
    "\n"
    "  --com N                      also add COMN=<path> to [PortMap] of ./Quorvel.ini\n"
    "                               (N from 1 to 255), so the terminal finds it as COM N\n"
    "  --record FILE                write what the device received and sent into FILE, in\n"
    "                               the terminal's hex dump log and from the terminal's\n"
    "                               side: RX is what the device sent, TX what it received\n"
    "modes (at most one; without one it only shows what it receives):\n"
    "  --echo                       send every byte back\n"
    "  --reply HEX --frame-end HEX  answer each frame that ends with the frame-end byte\n"
    "    [--delay MS]               with the given bytes, MS milliseconds later\n"
    "  --every MS --send HEX        send the given bytes every MS milliseconds\n"
    "  --stream BYTES_PER_S         send counting bytes (00 01 .. ff 00 ..) at that rate\n"
    "  --demo                       the demo device of quorvel --demo: a reading each\n"
    "                               second, answers to READ, ID?, WAVE and Modbus reads,\n"
    "                               a shell on a lone Enter\n"
    "  --wave LINES_PER_S           the demo device playing its three waves from the start\n"
    "                               (\"sine:7.071 square:5 saw:-0.250\" lines), for a plot\n"
    "  --replay FILE                play the device of a recording (the terminal's hex dump\n"
    "    [--speed X] [--strict]     log or a saved session): once the terminal has opened\n"
    "    [--loop]                   the line, RX bursts go out at their recorded times;\n"
    "                               each TX frame is waited for and compared, then the\n"
    "                               recorded reply follows after its recorded delay\n"
    "    --speed X                  X times as fast (0.5 half as fast, 0: no waiting)\n"
    "    --strict                   stop with status 1 at the first frame that differs\n"
    "                               (otherwise it is reported and the reply still sent)\n"
    "    --loop                     start over at the end (otherwise a summary, and status\n"
    "                               0 when every frame matched, 1 when not)\n"
    "                               A bad recording ends it with status 2 before it starts.\n"
    "HEX is bytes as hex digits: \"06\", \"01 02 0d\", \"01020d\".\n"
    "Each frame received is printed as \"rx <hex>\", each answer as \"tx <hex>\".\n";

std::optional<DevsimOptions> ParseDevsimArguments(int argc, char** argv, std::string& error) {
  DevsimOptions options;
  bool modeSet = false;
  auto setMode = [&](DevsimMode mode, std::string_view name) {
    if (modeSet && options.mode != mode) {
      error = "only one mode at a time (" + std::string(name) + ")";
      return false;
    }
    modeSet = true;
    options.mode = mode;
    return true;
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      error.clear();
      return std::nullopt;
    }
    if (arg == "--echo") {
      if (!setMode(DevsimMode::kEcho, arg)) return std::nullopt;
      continue;
    }
    if (arg == "--demo") {
      if (!setMode(DevsimMode::kDemo, arg)) return std::nullopt;
      continue;
    }
    if (arg == "--strict" || arg == "--loop") {
      (arg == "--strict" ? options.strict : options.loop) = true;
      continue;
    }
    bool known = arg == "--com" || arg == "--reply" || arg == "--frame-end" || arg == "--delay" ||
                 arg == "--every" || arg == "--send" || arg == "--stream" || arg == "--record" ||
                 arg == "--replay" || arg == "--speed" || arg == "--wave";
    if (!known) {
      error = "unknown argument \"" + std::string(arg) + "\"";
      return std::nullopt;
    }
    if (i + 1 >= argc) {
      error = std::string(arg) + " needs a value";
      return std::nullopt;
    }
    std::string_view value = argv[++i];
    auto bad = [&](const char* what) {
      error = std::string(arg) + " \"" + std::string(value) + "\": " + what;
      return std::nullopt;
    };
    int64_t number = 0;
    if (arg == "--com") {
      if (!ParseNumber(value, 1, kPortCount, number)) return bad("expected 1 to 255");
      options.com = static_cast<int>(number);
    } else if (arg == "--reply") {
      if (!setMode(DevsimMode::kReply, arg)) return std::nullopt;
      if (!ParseHexBytes(value, options.reply)) return bad("expected hex bytes");
    } else if (arg == "--frame-end") {
      std::vector<uint8_t> end;
      if (!ParseHexBytes(value, end) || end.size() != 1) return bad("expected one hex byte");
      options.frameEnd = end[0];
    } else if (arg == "--delay") {
      if (!ParseNumber(value, 0, 3'600'000, number)) return bad("expected 0 to 3600000 ms");
      options.delayMs = number;
    } else if (arg == "--every") {
      if (!setMode(DevsimMode::kEvery, arg)) return std::nullopt;
      if (!ParseNumber(value, 1, 3'600'000, number)) return bad("expected 1 to 3600000 ms");
      options.everyMs = number;
    } else if (arg == "--send") {
      if (!ParseHexBytes(value, options.send)) return bad("expected hex bytes");
    } else if (arg == "--stream") {
      if (!setMode(DevsimMode::kStream, arg)) return std::nullopt;
      if (!ParseNumber(value, 1, 1'000'000'000, number)) return bad("expected 1 to 1000000000");
      options.streamRate = number;
    } else if (arg == "--wave") {
      if (!setMode(DevsimMode::kWave, arg)) return std::nullopt;
      if (!ParseNumber(value, 1, kMostWaveRate, number)) return bad("expected 1 to 100000");
      options.waveRate = static_cast<int>(number);
    } else if (arg == "--record") {
      if (value.empty()) return bad("expected a file name");
      options.record = value;
    } else if (arg == "--replay") {
      if (!setMode(DevsimMode::kReplay, arg)) return std::nullopt;
      if (value.empty()) return bad("expected a file name");
      options.replay = value;
    } else if (arg == "--speed") {
      double speed = 0;
      if (!ParseSpeed(value, speed)) return bad("expected a number from 0 to 1000000");
      options.speed = speed;
    }
  }
  // Options that belong to a mode are refused elsewhere rather than ignored.
  if (options.mode == DevsimMode::kReply && !options.frameEnd) {
    error = "--reply needs --frame-end";
  } else if (options.mode != DevsimMode::kReply && (options.frameEnd || options.delayMs)) {
    error = "--frame-end and --delay go with --reply";
  } else if (options.mode == DevsimMode::kEvery && options.send.empty()) {
    error = "--every needs --send";
  } else if (options.mode != DevsimMode::kEvery && !options.send.empty()) {
    error = "--send goes with --every";
  } else if (options.mode != DevsimMode::kReplay &&
             (options.speed || options.strict || options.loop)) {
    error = "--speed, --strict and --loop go with --replay";
  }
  if (!error.empty()) return std::nullopt;
  return options;
}

}  // namespace quorvel
