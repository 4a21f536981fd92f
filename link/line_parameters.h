// The line parameters the terminal sets on a port. A parameter without a
// value is left as the device has it.
#pragma once

#include <cstdint>
#include <optional>

namespace quorvel {

enum StopBitsCode : int { kOneStopBit = 0, kOneAndHalfStopBits = 1, kTwoStopBits = 2 };
// The flow-control selector's positions.
enum FlowCode : int { kFlowNone = 0, kFlowSoftware = 1, kFlowHardware = 2 };
enum ParityCode : int {
  kParityNone = 0,
  kParityOdd = 1,
  kParityEven = 2,
  kParityMark = 3,
  kParitySpace = 4
};

struct LineParameters {
  std::optional<uint32_t> baudRate;  // bits per second
  std::optional<int> dataBits;       // 5 to 8
  std::optional<int> stopBits;       // StopBitsCode
  std::optional<int> parity;         // ParityCode
  std::optional<int> flow = {};      // FlowCode
};

}  // namespace quorvel
