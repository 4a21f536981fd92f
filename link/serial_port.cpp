#include "link/serial_port.h"

#include <cerrno>

#include "core/clock.h"

namespace quorvel {

SerialPort::~SerialPort() {
  Close();
}

OpenOutcome SerialPort::Open(const PortTarget& target, const LineParameters& line) {
  Close();  // also what is left of a line that hung up
  return OpenTarget(target, line);
}

OpenOutcome SerialPort::Reopen(const LineParameters& line) {
  Close();  // also what is left of a line that hung up
  if (!target_) return OpenOutcome::Failed(PortFailure::Step::kOpen, ENOENT);
  return OpenTarget(*target_, line);
}

const std::string& SerialPort::Path() const {
  static const std::string kNone;
  return target_ ? target_->Text() : kNone;
}

OpenOutcome SerialPort::OpenTarget(const PortTarget& target, const LineParameters& line) {
  // The one place the kind of line matters: each backend is whole.
  LineBackend& backend = target.IsNetwork() ? static_cast<LineBackend&>(net_) : tty_;
  line_.store(&backend);
  pendingLine_ = line;
  OpenOutcome outcome;
  {
    std::lock_guard guard(writeMutex_);
    outcome = backend.Open(target, line, linesAtOpen_);
  }
  if (outcome.state != OpenOutcome::State::kFailed) target_ = target;
  if (outcome) Opened();
  return outcome;
}

OpenOutcome SerialPort::FinishConnect() {
  OpenOutcome outcome;
  {
    std::lock_guard guard(writeMutex_);
    outcome = Line().FinishConnect(pendingLine_, linesAtOpen_);
  }
  if (outcome) Opened();
  return outcome;
}

void SerialPort::Opened() {
  signals_.ClearHungUp();
  hungUp_.Drain();         // a hang-up of an earlier open is over
  signals_.ResumeWaits();  // a fresh open starts with waits enabled again
  isOpen_.store(true, std::memory_order_release);
}

void SerialPort::SetLinesAtOpen(LinesAtOpen lines) {
  linesAtOpen_ = lines;
  std::lock_guard guard(writeMutex_);
  Line().SetHangUpOnClose(lines.dtrActive && lines.rtsActive);
}

ConfigOutcome SerialPort::SetConfig(const LineParameters& line) {
  if (!IsOpen()) return {};
  std::lock_guard guard(writeMutex_);  // the reader may let go of a hung-up line meanwhile
  return Line().SetConfig(line);
}

uint32_t SerialPort::RateInForce() const {
  return IsOpen() ? Line().RateInForce() : 0;
}

int SerialPort::Read(uint8_t* buffer, int capacity) {
  if (capacity <= 0 || !IsOpen()) return 0;
  int got = Line().Read(buffer, capacity);
  if (got > 0) return got;
  // A raw line with nothing buffered reads 0 bytes whether or not it hung
  // up, so a hang-up seen by a wait or a write closes it once the bytes that
  // came before it are taken.
  if (got < 0 || signals_.HungUpMarked()) DropHungUpLine();
  return 0;
}

void SerialPort::DropHungUpLine() {
  isOpen_.store(false, std::memory_order_release);
  signals_.CancelWaits();  // a writer waiting for room lets go of the descriptor
  {
    std::lock_guard guard(writeMutex_);
    Line().Release();
  }
  signals_.ClearHungUp();
  hungUp_.Signal();
}

std::optional<PortFailure> SerialPort::Write(const uint8_t* bytes, int count) {
  if (!IsOpen()) return std::nullopt;
  std::lock_guard guard(writeMutex_);
  if (!IsOpen()) return std::nullopt;  // closed while this thread waited for the lock
  int error = Line().Write(bytes, count, SteadyNowMs() + WriteBoundMs(count));
  if (error == 0) return std::nullopt;
  return PortFailure{PortFailure::Step::kWrite, error, {}};
}

void SerialPort::WaitReadable(int timeoutMs) {
  if (!IsOpen() || signals_.Cancelled()) return;
  if (signals_.HungUpMarked()) return;  // the next read closes the line
  Line().WaitReadable(timeoutMs);
}

void SerialPort::Close() {
  isOpen_.store(false, std::memory_order_release);
  signals_.CancelWaits();              // a waiting reader or writer sees the close at once
  std::lock_guard guard(writeMutex_);  // let a write on another thread finish first
  Line().Close();
}

void SerialPort::SetWriteTimeouts(int perByteMs, int constantMs) {
  writePerByteMs_.store(perByteMs);
  writeConstantMs_.store(constantMs);
}

int64_t SerialPort::WriteBoundMs(int64_t count) const {
  return int64_t{writePerByteMs_.load()} * (count > 0 ? count : 0) + writeConstantMs_.load();
}

int SerialPort::WriteSome(const uint8_t* bytes, int count, int waitMs) {
  if (!IsOpen()) return -1;
  if (count <= 0) return 0;
  std::lock_guard guard(writeMutex_);
  if (!IsOpen()) return -1;  // closed while this thread waited for the lock
  return Line().WriteSome(bytes, count, waitMs);
}

bool SerialPort::WaitDrained(int waitMs) {
  std::lock_guard guard(writeMutex_);
  return !IsOpen() || Line().WaitDrained(waitMs);
}

}  // namespace quorvel
