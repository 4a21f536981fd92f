// The six selector lists of the line settings and how a selected position
// becomes a line parameter. Entries keep this order; they are never sorted.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
  // A rate typed into the baud selector that is not in its list; 0 for none.
  // It wins over baudPos.
  uint32_t typedBaud = 0;
};

inline constexpr int kPortCount = 255;  // "COM1" to "COM255"

// The first 16 keep their positions: a stored position (BRATE) means the same
// rate in every version. The fast rates of modern boards follow them.
inline constexpr uint32_t kBaudRates[] = {
    110,    300,    600,    1200,    2400,    4800,    7200,    9600,   14400,
    19200,  28800,  38400,  56000,   57600,   76800,   115200,  230400, 460800,
    500000, 576000, 921600, 1000000, 1500000, 2000000, 3000000, 4000000};
// Any rate termios2 can carry (its speed field is 32 bits) may be typed.
inline constexpr uint32_t kHighestBaudRate = 4294967295u;
inline constexpr const char* kDataBitsEntries[] = {"5", "6", "7", "8"};
inline constexpr const char* kStopBitsEntries[] = {"1", "1.5", "2"};
inline constexpr const char* kParityEntries[] = {"None", "Odd", "Even", "Mark", "Space"};
inline constexpr const char* kFlowEntries[] = {"None", "Software", "HardWare"};

// The entries of each list as the selectors show them.
std::vector<std::string> PortEntries();
std::vector<std::string> BaudEntries();

// A typed baud rate: decimal digits only (spaces around them allowed), from
// 1 to kHighestBaudRate; nullopt for anything else.
std::optional<uint32_t> ParseBaudRate(std::string_view text);
// The position of `rate` in kBaudRates; -1 when it is not listed.
int BaudPosition(uint32_t rate);

// The line parameters the positions stand for. A position of -1 or beyond its
// list gives no value, so the device keeps what it has; a typed rate gives
// the rate. portPos is not used: the port is chosen separately.
LineParameters ReadLineSelections(const LineSelection& selection);
// The other way: `shown` with the positions of the parameters that have a
// value (a rate the list lacks as the typed rate); the port stays as it is.
LineSelection SelectionShowing(LineSelection shown, const LineParameters& line);

}  // namespace quorvel
