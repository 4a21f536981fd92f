// The Linux terminal-line calls behind SerialPort. They use the kernel's
// termios2 interface so that any baud rate (7200, 14400, 56000, ...) is set
// exactly through BOTHER; glibc's <termios.h> only knows the classic rates.
// Each function works on an open terminal descriptor on whichever thread calls,
// and on failure leaves the line as it was.
#pragma once

#include <cstdint>

#include "link/line_parameters.h"

namespace quorvel {

// Raw mode: no echo, no translation, no signal characters, no flow control;
// CLOCAL | CREAD. False when the descriptor is not a terminal or refused it.
bool MakeLineRaw(int fd);

// Applies every parameter that has a value; parity checking follows parity.
bool ApplyLineParameters(int fd, const LineParameters& line);

// Sets or clears HUPCL, whether the last close drops DTR and RTS.
bool SetHangUpOnClose(int fd, bool drop);

// Discards both queues (kind: 0 input, 1 output, 2 both).
void FlushLine(int fd, int kind);

// What the line has now, as the kernel reports it (tests read it from a
// pseudo-terminal's master side, which reports its slave's settings).
struct LineSnapshot {
  uint32_t inputSpeed = 0;
  uint32_t outputSpeed = 0;
  int dataBits = 0;
  bool twoStopBits = false;
  bool parityEnabled = false;
  bool parityOdd = false;
  bool parityMarkSpace = false;
  bool inputParityCheck = false;
  bool echo = false;
  bool canonical = false;
  bool signals = false;
  bool outputProcessing = false;
  bool crToNl = false;
  bool softwareFlow = false;  // IXON or IXOFF
  uint8_t startChar = 0;      // XON
  uint8_t stopChar = 0;       // XOFF
  bool hardwareFlow = false;
  bool local = false;
  bool receiverOn = false;
  bool hangUpOnClose = false;  // HUPCL: closing drops DTR and RTS

  bool operator==(const LineSnapshot&) const = default;
};
bool ReadLineSnapshot(int fd, LineSnapshot* snapshot);

// The termios2 words that the line parameters and raw mode live in. The
// encoding is kept apart from the ioctl so that it can be checked whole: a
// pseudo-terminal's driver forces CS8 and clears PARENB on every change, so
// data bits and parity enabling can never be read back from one.
struct LineFlags {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
  uint32_t ispeed = 0;
  uint32_t ospeed = 0;
  uint8_t startChar = 0;
  uint8_t stopChar = 0;
};

// `flags` with every parameter of `line` that has a value applied; all other
// bits are kept.
LineFlags EncodeLineParameters(LineFlags flags, const LineParameters& line);

// What `flags` mean.
LineSnapshot DescribeLine(const LineFlags& flags);

}  // namespace quorvel
