#include "link/rfc2217_session.h"

#include <thread>

namespace quorvel {

void Rfc2217Session::Begin(bool telnet, const LineParameters& line, LinesAtOpen lines) {
  std::vector<uint8_t> start;
  {
    std::lock_guard guard(codecMutex_);
    codec_ = telnet ? std::make_unique<telnet::TelnetCodec>(true) : nullptr;
    held_.clear();
    if (codec_) {
      codec_->Start(start);
      // RFC 2217 commands wait until the server has agreed to the option.
      telnet::AppendLineSettings(held_, line);
      telnet::AppendComPortByte(held_, telnet::kSetControl,
                                lines.dtrActive ? telnet::kControlDtrOn : telnet::kControlDtrOff);
      telnet::AppendComPortByte(held_, telnet::kSetControl,
                                lines.rtsActive ? telnet::kControlRtsOn : telnet::kControlRtsOff);
      // No SET-MODEMSTATE-MASK: the server's default reports every line, and
      // ser2net in front of a pseudo-terminal stops passing data after one.
    }
  }
  {
    std::lock_guard guard(modemMutex_);
    connected_ = true;
    serverRate_ = 0;
    inputLines_ = 0;
    outputLines_ = (lines.dtrActive ? kLineDtr : 0) | (lines.rtsActive ? kLineRts : 0);
    lines_ = telnet ? Lines::kPending : Lines::kUnavailable;
    // Until the server agrees to RFC 2217 and then answers, or this passes.
    answerDeadline_ = Clock::now() + 2 * kAnswerLimit;
    ++modemGeneration_;
  }
  modemChanged_.notify_all();
  if (!start.empty()) send_(start);
}

void Rfc2217Session::Broken() {
  {
    std::lock_guard guard(modemMutex_);
    connected_ = false;
  }
  modemChanged_.notify_all();
}

void Rfc2217Session::End() {
  {
    std::lock_guard guard(codecMutex_);
    codec_.reset();
    held_.clear();
  }
  {
    std::lock_guard guard(modemMutex_);
    connected_ = false;
    lines_ = Lines::kUnavailable;
    ++modemGeneration_;
  }
  modemChanged_.notify_all();
}

size_t Rfc2217Session::Decode(uint8_t* buffer, size_t count) {
  bool released = false;
  size_t data;
  {
    std::lock_guard guard(codecMutex_);
    if (!codec_) return count;
    replies_.clear();
    notices_.clear();
    data = codec_->Decode(buffer, count, buffer, replies_, notices_);
    if (!replies_.empty()) send_(replies_);
    if (codec_->ComPortAccepted() && !held_.empty()) {
      // Queued before the lock goes: a command given from now on sees the
      // option accepted and is sent at once, and must not overtake these
      // (a DTR off ahead of the held DTR on would leave DTR on).
      send_(held_);
      held_.clear();
      released = true;
    }
  }
  // notices_ belongs to the reading thread, the only one that decodes.
  TakeNotices(notices_);
  if (released) {
    {
      std::lock_guard guard(modemMutex_);
      if (lines_ == Lines::kPending) answerDeadline_ = Clock::now() + kAnswerLimit;
    }
    modemChanged_.notify_all();
  }
  return data;
}

void Rfc2217Session::TakeNotices(const std::vector<telnet::ComPortNotice>& notices) {
  if (notices.empty()) return;
  {
    std::lock_guard guard(modemMutex_);
    for (const telnet::ComPortNotice& notice : notices) {
      switch (notice.command) {
        case telnet::kSetBaudRate:
          if (notice.size >= 4) serverRate_ = notice.value;
          break;
        case telnet::kSetControl:
          switch (notice.value) {
            case telnet::kControlDtrOn:
              outputLines_ |= kLineDtr;
              break;
            case telnet::kControlDtrOff:
              outputLines_ &= ~kLineDtr;
              break;
            case telnet::kControlRtsOn:
              outputLines_ |= kLineRts;
              break;
            case telnet::kControlRtsOff:
              outputLines_ &= ~kLineRts;
              break;
            default:
              continue;  // flow control, break: nothing of the lines
          }
          lines_ = Lines::kAvailable;
          break;
        case telnet::kNotifyModemState: {
          unsigned lines = 0;
          if (notice.value & telnet::kModemCts) lines |= kLineCts;
          if (notice.value & telnet::kModemDsr) lines |= kLineDsr;
          if (notice.value & telnet::kModemDcd) lines |= kLineDcd;
          if (notice.value & telnet::kModemRi) lines |= kLineRi;
          // A server that cannot read the lines reports them all inactive
          // (ser2net on a pseudo-terminal): only an answer about DTR or RTS
          // shows that the far port has modem lines.
          inputLines_ = lines;
          break;
        }
        default:
          continue;
      }
      ++modemGeneration_;
    }
  }
  modemChanged_.notify_all();
}

void Rfc2217Session::SetConfig(const LineParameters& line) {
  std::vector<uint8_t> units;
  {
    std::lock_guard guard(codecMutex_);
    if (!codec_) return;  // raw TCP: the line settings stay here
    if (!codec_->ComPortAccepted()) {
      // Kept for the server's agreement; a server that never agrees gets no
      // more than a bounded backlog of them.
      if (held_.size() < kMaxHeld) telnet::AppendLineSettings(held_, line);
      return;
    }
  }
  telnet::AppendLineSettings(units, line);
  send_(units);
}

uint32_t Rfc2217Session::ServerRate() const {
  std::lock_guard guard(modemMutex_);
  return serverRate_;
}

void Rfc2217Session::SendControl(uint8_t value) {
  std::vector<uint8_t> units;
  telnet::AppendComPortByte(units, telnet::kSetControl, value);
  {
    std::lock_guard guard(codecMutex_);
    if (codec_ && !codec_->ComPortAccepted()) {
      if (held_.size() < kMaxHeld) held_.insert(held_.end(), units.begin(), units.end());
      return;
    }
  }
  send_(units);
}

void Rfc2217Session::ExpireAnswerLocked() {
  if (lines_ == Lines::kPending && Clock::now() >= answerDeadline_) lines_ = Lines::kUnavailable;
}

bool Rfc2217Session::GetLines(unsigned* lines) {
  std::lock_guard guard(modemMutex_);
  ExpireAnswerLocked();
  if (lines_ == Lines::kUnavailable || !connected_) return false;
  *lines = outputLines_ | inputLines_;
  return true;
}

bool Rfc2217Session::Raise(unsigned lines) {
  {
    std::lock_guard guard(modemMutex_);
    if (lines_ == Lines::kUnavailable) return false;
    outputLines_ |= lines & kOutputLines;
  }
  if (lines & kLineDtr) SendControl(telnet::kControlDtrOn);
  if (lines & kLineRts) SendControl(telnet::kControlRtsOn);
  return true;
}

bool Rfc2217Session::Drop(unsigned lines) {
  {
    std::lock_guard guard(modemMutex_);
    if (lines_ == Lines::kUnavailable) return false;
    outputLines_ &= ~(lines & kOutputLines);
  }
  if (lines & kLineDtr) SendControl(telnet::kControlDtrOff);
  if (lines & kLineRts) SendControl(telnet::kControlRtsOff);
  return true;
}

ModemWait Rfc2217Session::WaitForChange() {
  std::unique_lock lock(modemMutex_);
  uint64_t generation = modemGeneration_;
  uint64_t interrupts = interrupts_;
  for (;;) {
    if (!connected_) return ModemWait::kFailed;
    if (modemGeneration_ != generation) return ModemWait::kChanged;
    if (interrupts_ != interrupts) return ModemWait::kInterrupted;
    if (lines_ == Lines::kPending) {
      if (Clock::now() >= answerDeadline_) {
        lines_ = Lines::kUnavailable;  // the server never answered
        return ModemWait::kChanged;
      }
      modemChanged_.wait_until(lock, answerDeadline_);
    } else {
      modemChanged_.wait(lock);
    }
  }
}

void Rfc2217Session::InterruptWait() {
  {
    std::lock_guard guard(modemMutex_);
    ++interrupts_;
  }
  modemChanged_.notify_all();
}

bool Rfc2217Session::SendBreak() {
  {
    std::lock_guard guard(modemMutex_);
    if (!connected_) return false;
  }
  SendControl(telnet::kControlBreakOn);
  std::this_thread::sleep_for(kBreakLength);
  SendControl(telnet::kControlBreakOff);
  return true;
}

bool Rfc2217Session::SetBreak(bool on) {
  {
    std::lock_guard guard(modemMutex_);
    if (!connected_) return false;
  }
  SendControl(on ? telnet::kControlBreakOn : telnet::kControlBreakOff);
  return true;
}

}  // namespace quorvel
