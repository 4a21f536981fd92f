#include "sim/replay_player.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

std::string HexLine(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  constexpr size_t kShown = 64;
  std::string text;
  size_t shown = std::min(count, kShown);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0f];
  }
  if (shown < count) text += " ... (" + std::to_string(count) + " bytes)";
  return text;
}

std::vector<ReplayStep> ReplayScript(const std::vector<RecordedBurst>& bursts) {
  std::vector<ReplayStep> script;
  for (const RecordedBurst& burst : bursts) {
    bool expect = burst.direction == LogDirection::kSent;
    // The host may write one frame in several bursts; the device cannot tell
    // them apart on the line, so they are one frame to wait for.
    if (expect && !script.empty() && script.back().expect) {
      script.back().bytes.insert(script.back().bytes.end(), burst.bytes.begin(), burst.bytes.end());
      script.back().ms = burst.ms;
      continue;
    }
    script.push_back({expect, burst.ms, burst.line, burst.bytes});
  }
  return script;
}

ReplayPlayer::ReplayPlayer(std::vector<ReplayStep> script, ReplayOptions options,
                           std::function<void(const std::string&)> report)
    : script_(std::move(script)), options_(options), report_(std::move(report)) {}

void ReplayPlayer::Start(Clock::time_point now) {
  next_ = 0;
  anchor_ = now;
  anchorMs_ = script_.empty() ? 0 : script_.front().ms;
  finished_ = script_.empty();
}

void ReplayPlayer::Received(const uint8_t* bytes, size_t count, Clock::time_point now) {
  tally_.bytesReceived += count;
  if (count == 0) return;
  report_("rx " + HexLine(bytes, count));
  if (finished_) return;
  // A host that talks while the script waits to send is kept up to a bound;
  // past it the oldest bytes go, and the report says how many.
  if (host_.size() + count > kHostLimit) {
    size_t dropped = std::min(host_.size(), host_.size() + count - kHostLimit);
    host_.erase(host_.begin(), host_.begin() + static_cast<std::ptrdiff_t>(dropped));
    report_("-- " + std::to_string(dropped) + " bytes from the host dropped while waiting");
  }
  host_.insert(host_.end(), bytes, bytes + count);
  lastHostByte_ = now;
}

ReplayPlayer::Clock::time_point ReplayPlayer::Due(const ReplayStep& step) const {
  if (options_.speed <= 0) return anchor_;
  double ms = static_cast<double>(step.ms - anchorMs_) / options_.speed;
  return anchor_ + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double, std::milli>(std::max(ms, 0.0)));
}

void ReplayPlayer::Advance(Clock::time_point now, std::string& out) {
  wake_.reset();
  while (!finished_) {
    if (next_ == script_.size()) {
      if (!options_.loop) {
        finished_ = true;
        return;
      }
      next_ = 0;
      anchor_ = now;
      anchorMs_ = script_.front().ms;
      // Each round ends a call, so that a recording of output alone played
      // at speed 0 goes out round by round as the line takes it.
      wake_ = now;
      return;
    }
    const ReplayStep& step = script_[next_];
    if (!step.expect) {
      Clock::time_point due = Due(step);
      if (now < due) {
        wake_ = due;
        return;
      }
      out.append(reinterpret_cast<const char*>(step.bytes.data()), step.bytes.size());
      tally_.bytesSent += step.bytes.size();
      report_("tx " + HexLine(step.bytes.data(), step.bytes.size()));
      ++next_;
      continue;
    }
    size_t taken;
    if (host_.size() >= step.bytes.size()) {
      taken = step.bytes.size();
    } else if (!host_.empty() && now - lastHostByte_ >= kQuietGap) {
      taken = host_.size();
    } else {
      if (!host_.empty()) wake_ = lastHostByte_ + kQuietGap;
      return;
    }
    Judge(step, taken);
    if (stopped_) return;
    anchor_ = now;
    anchorMs_ = step.ms;
    ++next_;
  }
}

void ReplayPlayer::Judge(const ReplayStep& step, size_t taken) {
  ++exchange_;
  const std::vector<uint8_t>& expected = step.bytes;
  bool same =
      taken == expected.size() && std::equal(expected.begin(), expected.end(), host_.begin());
  if (same) {
    ++tally_.matched;
    host_.erase(host_.begin(), host_.begin() + static_cast<std::ptrdiff_t>(taken));
    return;
  }
  // After a frame that differs, what else has arrived belongs to it as far as
  // anyone can tell; the next exchange starts from an empty buffer.
  size_t first = 0;
  while (first < taken && first < expected.size() && host_[first] == expected[first]) ++first;
  ++tally_.mismatched;
  report_("mismatch in exchange " + std::to_string(exchange_) + " (recording line " +
          std::to_string(step.line) + "): first difference at offset " + std::to_string(first));
  report_("  expected " + HexLine(expected.data(), expected.size()));
  report_("  received " + HexLine(host_.data(), host_.size()));
  host_.clear();
  if (options_.strict) {
    stopped_ = true;
    finished_ = true;
  }
}

std::optional<ReplayPlayer::Clock::time_point> ReplayPlayer::NextWake() const {
  return wake_;
}

std::string ReplayPlayer::Summary() const {
  return "replay: " + std::to_string(tally_.matched) + " exchanges matched, " +
         std::to_string(tally_.mismatched) + " mismatched; " + std::to_string(tally_.bytesSent) +
         " bytes sent, " + std::to_string(tally_.bytesReceived) + " bytes received";
}

}  // namespace quorvel
