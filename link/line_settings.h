// The six selector lists of the line settings and how a selected position
// becomes a line parameter. Entries keep this order; they are never sorted.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/line_parameters.h"

namespace quorvel {

// The selectors' current positions; -1 when nothing is selected.
struct LineSelection {
  int32_t portPos = -1;
  int32_t baudPos = -1;
  int32_t dataBitsPos = -1;
  int32_t stopBitsPos = -1;
  int32_t parityPos = -1;
  int32_t flowPos = -1;
};

inline constexpr int kPortCount = 255;  // "COM1" to "COM255"

inline constexpr uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,  4800,  7200,  9600,
                                          14400, 19200, 28800, 38400, 56000, 57600, 76800, 115200};
inline constexpr const char* kDataBitsEntries[] = {"5", "6", "7", "8"};
inline constexpr const char* kStopBitsEntries[] = {"1", "1.5", "2"};
inline constexpr const char* kParityEntries[] = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr const char* kFlowEntries[] = {"None", "Software", "HardWare"};

// The entries of each list as the selectors show them.
std::vector<std::string> PortEntries();
std::vector<std::string> BaudEntries();

// The line parameters the positions stand for. A position of -1 or beyond its
// list gives no value, so the device keeps what it has. portPos is not used:
// the port is chosen separately.
LineParameters ReadLineSelections(const LineSelection& selection);

}  // namespace quorvel
