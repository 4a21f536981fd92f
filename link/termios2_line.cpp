// This file must not include <termios.h>: its struct termios clashes with the
// kernel's <asm/termbits.h>, which is the one that has termios2.
#include "link/termios2_line.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace quorvel {
namespace {

bool Get(int fd, termios2* tio) {
  return ioctl(fd, TCGETS2, tio) == 0;
}
bool Set(int fd, const termios2& tio) {
  return ioctl(fd, TCSETS2, &tio) == 0;
}

tcflag_t DataBitsFlag(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

void ApplyParity(termios2* tio, int parity) {
  tio->c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (parity) {
    case kParityOdd:
      tio->c_cflag |= PARENB | PARODD;
      break;
    case kParityEven:
      tio->c_cflag |= PARENB;
      break;
    case kParityMark:
      tio->c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case kParitySpace:
      tio->c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (parity == kParityNone) {
    tio->c_iflag &= ~INPCK;
  } else {
    tio->c_iflag |= INPCK;
  }
}

constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;

void ApplyFlow(termios2* tio, int flow, LineFlags* flags) {
  tio->c_cflag &= ~CRTSCTS;
  tio->c_iflag &= ~(IXON | IXOFF | IXANY);
  switch (flow) {
    case kFlowSoftware:
      tio->c_iflag |= IXON | IXOFF;
      flags->startChar = kXon;
      flags->stopChar = kXoff;
      break;
    case kFlowHardware:
      tio->c_cflag |= CRTSCTS;
      break;
    default:
      break;
  }
}

LineFlags FlagsOf(const termios2& tio) {
  return {tio.c_iflag,  tio.c_oflag,  tio.c_cflag,      tio.c_lflag,
          tio.c_ispeed, tio.c_ospeed, tio.c_cc[VSTART], tio.c_cc[VSTOP]};
}

void StoreFlags(const LineFlags& flags, termios2* tio) {
  tio->c_iflag = flags.iflag;
  tio->c_cflag = flags.cflag;
  tio->c_ispeed = flags.ispeed;
  tio->c_ospeed = flags.ospeed;
  tio->c_cc[VSTART] = flags.startChar;
  tio->c_cc[VSTOP] = flags.stopChar;
}

}  // namespace

bool MakeLineRaw(int fd) {
  termios2 tio{};
  if (!Get(fd, &tio)) return false;
  tio.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~CRTSCTS;
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return Set(fd, tio);
}

LineFlags EncodeLineParameters(LineFlags flags, const LineParameters& line) {
  termios2 tio{};
  tio.c_iflag = flags.iflag;
  tio.c_cflag = flags.cflag;
  if (line.baudRate) {
    tio.c_cflag &= ~(CBAUD | CIBAUD);
    tio.c_cflag |= BOTHER;
    flags.ispeed = *line.baudRate;
    flags.ospeed = *line.baudRate;
  }
  if (line.dataBits) {
    tio.c_cflag &= ~CSIZE;
    tio.c_cflag |= DataBitsFlag(*line.dataBits);
  }
  if (line.stopBits) {
    // Code 1 (one and a half) also sets CSTOPB: a UART sends 1.5 stop bits
    // when CSTOPB is combined with 5 data bits.
    if (*line.stopBits == kOneStopBit) {
      tio.c_cflag &= ~CSTOPB;
    } else {
      tio.c_cflag |= CSTOPB;
    }
  }
  if (line.parity) ApplyParity(&tio, *line.parity);
  if (line.flow) ApplyFlow(&tio, *line.flow, &flags);
  flags.iflag = tio.c_iflag;
  flags.cflag = tio.c_cflag;
  return flags;
}

bool ApplyLineParameters(int fd, const LineParameters& line) {
  termios2 tio{};
  if (!Get(fd, &tio)) return false;
  StoreFlags(EncodeLineParameters(FlagsOf(tio), line), &tio);
  return Set(fd, tio);
}

bool SetHangUpOnClose(int fd, bool drop) {
  termios2 tio{};
  if (!Get(fd, &tio)) return false;
  if (((tio.c_cflag & HUPCL) != 0) == drop) return true;
  tio.c_cflag ^= HUPCL;
  return Set(fd, tio);
}

void FlushLine(int fd, int kind) {
  static constexpr int kQueues[] = {TCIFLUSH, TCOFLUSH, TCIOFLUSH};
  ioctl(fd, TCFLSH, kQueues[kind < 0 || kind > 2 ? 2 : kind]);
}

bool ReadLineSnapshot(int fd, LineSnapshot* snapshot) {
  termios2 tio{};
  if (!Get(fd, &tio)) return false;
  *snapshot = DescribeLine(FlagsOf(tio));
  return true;
}

LineSnapshot DescribeLine(const LineFlags& flags) {
  int bits = 8;
  switch (flags.cflag & CSIZE) {
    case CS5:
      bits = 5;
      break;
    case CS6:
      bits = 6;
      break;
    case CS7:
      bits = 7;
      break;
    default:
      break;
  }
  return LineSnapshot{
      .inputSpeed = flags.ispeed,
      .outputSpeed = flags.ospeed,
      .dataBits = bits,
      .twoStopBits = (flags.cflag & CSTOPB) != 0,
      .parityEnabled = (flags.cflag & PARENB) != 0,
      .parityOdd = (flags.cflag & PARODD) != 0,
      .parityMarkSpace = (flags.cflag & CMSPAR) != 0,
      .inputParityCheck = (flags.iflag & INPCK) != 0,
      .echo = (flags.lflag & ECHO) != 0,
      .canonical = (flags.lflag & ICANON) != 0,
      .signals = (flags.lflag & ISIG) != 0,
      .outputProcessing = (flags.oflag & OPOST) != 0,
      .crToNl = (flags.iflag & ICRNL) != 0,
      .softwareFlow = (flags.iflag & (IXON | IXOFF)) != 0,
      .startChar = flags.startChar,
      .stopChar = flags.stopChar,
      .hardwareFlow = (flags.cflag & CRTSCTS) != 0,
      .local = (flags.cflag & CLOCAL) != 0,
      .receiverOn = (flags.cflag & CREAD) != 0,
      .hangUpOnClose = (flags.cflag & HUPCL) != 0,
  };
}

}  // namespace quorvel
