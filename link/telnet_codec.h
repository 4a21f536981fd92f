// Telnet (RFC 854) as the network ports speak it, with the COM-PORT-OPTION
// of RFC 2217: a pure parser and encoder over bytes with explicit state, no
// I/O, so that it can be checked and fuzzed whole.
//
// - Binary mode both ways (RFC 856) and suppress-go-ahead are taken; every
//   other option the server offers or asks for is refused (DONT / WONT), and
//   nothing is ever answered twice for the same state, so no negotiation loops.
// - IAC (0xFF) in data is doubled on send and undoubled on receive; CR and
//   NUL pass as they are, whatever the modes: every byte value arrives intact.
// - A subnegotiation is kept up to kMaxSubnegotiation bytes; what a server
//   sends beyond that is dropped, so memory stays bounded whatever it sends.
// - RFC 2217 answers and notifications (server codes 100 and up) are decoded
//   into ComPortNotice values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/line_parameters.h"

namespace quorvel::telnet {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// RFC 2217 commands, client to server; the server answers with code + 100.
enum ComPortCommand : uint8_t {
  kSignature = 0,
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
inline constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values.
enum ControlValue : uint8_t {
  kControlRequestFlow = 0,
  kControlNoFlow = 1,
  kControlXonXoff = 2,
  kControlHardwareFlow = 3,
  kControlBreakOn = 5,
  kControlBreakOff = 6,
  kControlRequestDtr = 7,
  kControlDtrOn = 8,
  kControlDtrOff = 9,
  kControlRequestRts = 10,
  kControlRtsOn = 11,
  kControlRtsOff = 12,
};

// NOTIFY-MODEMSTATE bits.
inline constexpr uint8_t kModemCts = 0x10;
inline constexpr uint8_t kModemDsr = 0x20;
inline constexpr uint8_t kModemRi = 0x40;
inline constexpr uint8_t kModemDcd = 0x80;

// One RFC 2217 message from the server: `command` is the client's code (the
// server's minus 100); `value` the number it carries (the baud rate's four
// bytes, big-endian; otherwise the first byte), `size` how many bytes came.
struct ComPortNotice {
  uint8_t command = 0;
  uint32_t value = 0;
  size_t size = 0;
  bool operator==(const ComPortNotice&) const = default;
};

// The client side of one telnet connection.
class TelnetCodec {
 public:
  static constexpr size_t kMaxSubnegotiation = 64;

  // `comPort`: offer RFC 2217 (WILL COM-PORT-OPTION); without it that option
  // is refused like any other.
  explicit TelnetCodec(bool comPort) : comPort_(comPort) {}

  // What the client says first: WILL/DO BINARY, WILL/DO SUPPRESS-GO-AHEAD
  // and, for RFC 2217, WILL COM-PORT-OPTION. Appended to `out`.
  void Start(std::vector<uint8_t>& out);

  // Takes `count` received bytes: the data among them is written to `data`
  // (room for `count` bytes; `data` may be `in` itself), and returns how many.
  // Answers to the server's negotiation are appended to `replies`; RFC 2217
  // messages to `notices`.
  size_t Decode(const uint8_t* in, size_t count, uint8_t* data, std::vector<uint8_t>& replies,
                std::vector<ComPortNotice>& notices);

  // Whether each side has agreed to binary mode, and the server to RFC 2217
  // (true once it said DO COM-PORT-OPTION; false again after DONT).
  bool BinaryIn() const { return him_[kBinarySlot]; }
  bool BinaryOut() const { return us_[kBinarySlot]; }
  bool ComPortAccepted() const { return us_[kComPortSlot]; }
  // The server refused RFC 2217 (DONT COM-PORT-OPTION).
  bool ComPortRefused() const { return comPortRefused_; }

 private:
  enum class State { kData, kIac, kOption, kSubnegotiation, kSubnegotiationIac };
  enum Slot { kBinarySlot, kSgaSlot, kComPortSlot, kSlotCount };
  static int SlotOf(uint8_t option);
  bool WantUs(int slot) const;   // we agree to enable it on our side
  bool WantHim(int slot) const;  // we agree to the server enabling it
  void Negotiate(uint8_t command, uint8_t option, std::vector<uint8_t>& replies);
  // The byte after an IAC that is not IAC.
  void Command(uint8_t byte);
  void EndSubnegotiation(std::vector<ComPortNotice>& notices);

  bool comPort_;
  State state_ = State::kData;
  uint8_t command_ = 0;  // WILL, WONT, DO or DONT while kOption
  bool us_[kSlotCount] = {};
  bool him_[kSlotCount] = {};
  bool usAsked_[kSlotCount] = {};   // we sent WILL and wait for the answer
  bool himAsked_[kSlotCount] = {};  // we sent DO and wait for the answer
  bool comPortRefused_ = false;
  uint8_t sub_[kMaxSubnegotiation] = {};
  size_t subLength_ = 0;
  bool subOverflow_ = false;
};

// Appends `count` data bytes with every IAC doubled.
void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t count);
// Appends IAC SB COM-PORT-OPTION command payload... IAC SE, IAC doubled.
void AppendComPort(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload, size_t size);
void AppendComPortByte(std::vector<uint8_t>& out, uint8_t command, uint8_t value);
// The commands that set the parameters of `line` that have values, in the
// order rate, data size, parity, stop size, flow control.
void AppendLineSettings(std::vector<uint8_t>& out, const LineParameters& line);

}  // namespace quorvel::telnet
