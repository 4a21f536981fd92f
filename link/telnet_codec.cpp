#include "link/telnet_codec.h"

namespace quorvel::telnet {

int TelnetCodec::SlotOf(uint8_t option) {
  switch (option) {
    case kOptionBinary:
      return kBinarySlot;
    case kOptionSuppressGoAhead:
      return kSgaSlot;
    case kOptionComPort:
      return kComPortSlot;
    default:
      return -1;
  }
}

bool TelnetCodec::WantUs(int slot) const {
  return slot == kBinarySlot || slot == kSgaSlot || (slot == kComPortSlot && comPort_);
}

bool TelnetCodec::WantHim(int slot) const {
  // The server has no COM port option of its own to enable.
  return slot == kBinarySlot || slot == kSgaSlot;
}

void TelnetCodec::Start(std::vector<uint8_t>& out) {
  const uint8_t options[] = {kOptionBinary, kOptionSuppressGoAhead};
  for (uint8_t option : options) {
    int slot = SlotOf(option);
    out.insert(out.end(), {kIac, kWill, option, kIac, kDo, option});
    usAsked_[slot] = true;
    himAsked_[slot] = true;
  }
  if (comPort_) {
    out.insert(out.end(), {kIac, kWill, kOptionComPort});
    usAsked_[kComPortSlot] = true;
  }
}

void TelnetCodec::Negotiate(uint8_t command, uint8_t option, std::vector<uint8_t>& replies) {
  int slot = SlotOf(option);
  auto reply = [&](uint8_t answer) { replies.insert(replies.end(), {kIac, answer, option}); };
  switch (command) {
    case kWill:  // the server offers to enable an option on its side
      if (slot < 0 || !WantHim(slot)) {
        reply(kDont);
      } else if (!him_[slot]) {
        him_[slot] = true;
        if (!himAsked_[slot]) reply(kDo);
        himAsked_[slot] = false;
      }
      break;
    case kWont:
      if (slot >= 0 && (him_[slot] || himAsked_[slot])) {
        bool wasOn = him_[slot];
        him_[slot] = false;
        himAsked_[slot] = false;
        if (wasOn) reply(kDont);
      }
      break;
    case kDo:  // the server asks us to enable an option on our side
      if (slot < 0 || !WantUs(slot)) {
        reply(kWont);
      } else if (!us_[slot]) {
        us_[slot] = true;
        if (!usAsked_[slot]) reply(kWill);
        usAsked_[slot] = false;
        if (slot == kComPortSlot) comPortRefused_ = false;
      }
      break;
    case kDont:
      if (slot >= 0 && (us_[slot] || usAsked_[slot])) {
        bool wasOn = us_[slot];
        us_[slot] = false;
        usAsked_[slot] = false;
        if (wasOn) reply(kWont);
        if (slot == kComPortSlot) comPortRefused_ = true;
      }
      break;
    default:
      break;
  }
}

void TelnetCodec::EndSubnegotiation(std::vector<ComPortNotice>& notices) {
  // Only RFC 2217 from the server counts; an option we never agreed to has
  // nothing to say.
  if (subOverflow_ || subLength_ < 2 || sub_[0] != kOptionComPort || !comPort_) return;
  uint8_t code = sub_[1];
  if (code < kServerOffset) return;
  ComPortNotice notice;
  notice.command = static_cast<uint8_t>(code - kServerOffset);
  notice.size = subLength_ - 2;
  const uint8_t* value = sub_ + 2;
  if (notice.command == kSetBaudRate && notice.size >= 4) {
    notice.value = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 |
                   uint32_t{value[3]};
  } else if (notice.size >= 1) {
    notice.value = value[0];
  }
  notices.push_back(notice);
}

void TelnetCodec::Command(uint8_t byte) {
  if (byte == kWill || byte == kWont || byte == kDo || byte == kDont) {
    command_ = byte;
    state_ = State::kOption;
  } else if (byte == kSb) {
    subLength_ = 0;
    subOverflow_ = false;
    state_ = State::kSubnegotiation;
  } else {
    state_ = State::kData;  // NOP, GA, AYT, an SE out of place...: nothing to do
  }
}

size_t TelnetCodec::Decode(const uint8_t* in, size_t count, uint8_t* data,
                           std::vector<uint8_t>& replies, std::vector<ComPortNotice>& notices) {
  size_t out = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t byte = in[i];
    switch (state_) {
      case State::kData:
        if (byte == kIac) {
          state_ = State::kIac;
        } else {
          data[out++] = byte;
        }
        break;
      case State::kIac:
        if (byte == kIac) {
          data[out++] = kIac;
          state_ = State::kData;
        } else {
          Command(byte);
        }
        break;
      case State::kOption:
        Negotiate(command_, byte, replies);
        state_ = State::kData;
        break;
      case State::kSubnegotiation:
        if (byte == kIac) {
          state_ = State::kSubnegotiationIac;
        } else if (subLength_ < kMaxSubnegotiation) {
          sub_[subLength_++] = byte;
        } else {
          subOverflow_ = true;
        }
        break;
      case State::kSubnegotiationIac:
        if (byte == kIac) {
          if (subLength_ < kMaxSubnegotiation) {
            sub_[subLength_++] = kIac;
          } else {
            subOverflow_ = true;
          }
          state_ = State::kSubnegotiation;
        } else if (byte == kSe) {
          EndSubnegotiation(notices);
          state_ = State::kData;
        } else {
          // A command inside a subnegotiation ends it unfinished; the command
          // itself counts.
          Command(byte);
        }
        break;
    }
  }
  return out;
}

void AppendData(std::vector<uint8_t>& out, const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
}

void AppendComPort(std::vector<uint8_t>& out, uint8_t command, const uint8_t* payload,
                   size_t size) {
  out.insert(out.end(), {kIac, kSb, kOptionComPort, command});
  AppendData(out, payload, size);
  out.insert(out.end(), {kIac, kSe});
}

void AppendComPortByte(std::vector<uint8_t>& out, uint8_t command, uint8_t value) {
  AppendComPort(out, command, &value, 1);
}

void AppendLineSettings(std::vector<uint8_t>& out, const LineParameters& line) {
  if (line.baudRate) {
    uint32_t rate = *line.baudRate;
    const uint8_t bytes[] = {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                             static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)};
    AppendComPort(out, kSetBaudRate, bytes, sizeof bytes);
  }
  if (line.dataBits) AppendComPortByte(out, kSetDataSize, static_cast<uint8_t>(*line.dataBits));
  if (line.parity) {
    // NONE 1, ODD 2, EVEN 3, MARK 4, SPACE 5: our codes plus one.
    AppendComPortByte(out, kSetParity, static_cast<uint8_t>(*line.parity + 1));
  }
  if (line.stopBits) {
    uint8_t size = *line.stopBits == kOneStopBit ? 1 : *line.stopBits == kTwoStopBits ? 2 : 3;
    AppendComPortByte(out, kSetStopSize, size);
  }
  if (line.flow) {
    uint8_t flow = *line.flow == kFlowSoftware   ? kControlXonXoff
                   : *line.flow == kFlowHardware ? kControlHardwareFlow
                                                 : kControlNoFlow;
    AppendComPortByte(out, kSetControl, flow);
  }
}

}  // namespace quorvel::telnet
