#include "transfer/zmodem_session.h"

#include <algorithm>

#include "core/clock.h"

namespace quorvel::zmodem {
namespace {

// Eight CANs (five would do) and as many backspaces again, to wipe them from
// the screen of a shell that echoes them.
constexpr uint8_t kCancelSequence[] = {kCan, kCan, kCan, kCan, kCan, kCan, kCan, kCan, 8,
                                       8,    8,    8,    8,    8,    8,    8,    8,    8};

}  // namespace

std::string PrintableName(std::string_view name) {
  constexpr size_t kShown = 80;
  std::string printable;
  for (char c : name.substr(0, kShown)) {
    auto byte = static_cast<unsigned char>(c);
    printable.push_back(byte < 0x20 || byte == 0x7f ? '?' : c);
  }
  if (name.size() > kShown) printable += "...";
  return printable;
}

Session::Session(TransferChannel& channel, TransferObserver& observer, const TransferTiming& timing,
                 const char* direction)
    : channel_(channel),
      observer_(observer),
      timing_(timing),
      direction_(direction),
      reader_(channel) {}

void Session::QueueRaw(std::span<const uint8_t> bytes) {
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void Session::QueueHex(const Header& header) {
  encoder_.AppendHexHeader(out_, header);
}

void Session::QueueBinary(const Header& header) {
  encoder_.AppendBinaryHeader(out_, header, crc32_);
}

void Session::QueueSubpacket(std::span<const uint8_t> data, End end) {
  encoder_.AppendSubpacket(out_, data, end, crc32_);
}

bool Session::Flush() {
  if (out_.empty()) return true;
  bool written = channel_.Write(out_.data(), static_cast<int>(out_.size()));
  out_.clear();
  return written;
}

bool Session::SendHex(const Header& header) {
  QueueHex(header);
  return Flush();
}

Got Session::AwaitStart(const std::function<bool()>& nudge, Header* header, Encoding* encoding) {
  const int64_t now = SteadyNowMs();
  if (startDeadline_ < 0) startDeadline_ = now + timing_.startWaitMs;
  int64_t nextNudge = now + timing_.replyTimeoutMs;
  for (;;) {
    int64_t left = startDeadline_ - SteadyNowMs();
    if (left <= 0) break;
    if (channel_.CancelRequested()) return Got::kUserCancelled;
    progress_.waitSecondsLeft = static_cast<int>((left + 999) / 1000);
    Report();
    // Wake at each whole second left, to count down, and at the nudge.
    int64_t slice = std::min({left, (left - 1) % 1000 + 1, nextNudge - SteadyNowMs()});
    Got got = reader_.ReadHeader(static_cast<int>(std::max<int64_t>(slice, 1)), header, encoding);
    if (got == Got::kOk) {
      progress_.waitSecondsLeft = -1;
      return got;
    }
    if (got != Got::kTimedOut && got != Got::kGarbled) return got;
    if (SteadyNowMs() >= startDeadline_) break;
    if (SteadyNowMs() >= nextNudge) {
      if (!nudge()) return Got::kLinkLost;
      nextNudge = SteadyNowMs() + timing_.replyTimeoutMs;
    }
  }
  progress_.waitSecondsLeft = 0;
  Report();
  return Got::kTimedOut;
}

void Session::CountRetry() {
  ++outcome_.retries;
  progress_.retries = outcome_.retries;
}

void Session::BeginFile(const std::string& name, int64_t total) {
  progress_.file = name;
  progress_.bytes = 0;
  progress_.total = total;
  progress_.blocks = 0;
  Report();
}

void Session::Note(std::string_view what) {
  std::string text = "ZMODEM ";
  text += direction_;
  if (!progress_.file.empty()) text += " " + PrintableName(progress_.file);
  text += ": ";
  text += what;
  observer_.Noted(text);
}

TransferOutcome Session::Finish(TransferStatus status, std::string detail) {
  outcome_.status = status;
  outcome_.detail = std::move(detail);
  Note(StatusText(status));
  return outcome_;
}

TransferOutcome Session::Abort(TransferStatus status, std::string detail) {
  out_.clear();
  QueueRaw(kCancelSequence);
  Flush();
  return Finish(status, std::move(detail));
}

TransferOutcome Session::FinishOn(Got got) {
  switch (got) {
    case Got::kPeerCancelled:
      return Finish(TransferStatus::kCancelledByPeer);
    case Got::kUserCancelled:
      return Abort(TransferStatus::kCancelledByUser);
    case Got::kLinkLost:
      return Finish(TransferStatus::kLinkLost);
    default:
      return Finish(TransferStatus::kProtocolError);
  }
}

}  // namespace quorvel::zmodem
