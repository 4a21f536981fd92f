#include "link/line_settings.h"

#include <iterator>
#include <optional>

namespace quorvel {
namespace {

template <typename T, size_t N>
bool InList(int32_t pos, const T (&)[N]) {
  return pos >= 0 && static_cast<size_t>(pos) < N;
}

std::optional<int> PositionIn(int32_t pos, int count) {
  if (pos < 0 || pos >= count) return std::nullopt;
  return pos;
}

}  // namespace

std::vector<std::string> PortEntries() {
  std::vector<std::string> entries;
  for (int n = 1; n <= kPortCount; ++n) entries.push_back("COM" + std::to_string(n));
  return entries;
}

std::vector<std::string> BaudEntries() {
  std::vector<std::string> entries;
  for (uint32_t rate : kBaudRates) entries.push_back(std::to_string(rate));
  return entries;
}

std::optional<uint32_t> ParseBaudRate(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return std::nullopt;
  text = text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
  uint64_t rate = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    rate = rate * 10 + static_cast<uint64_t>(c - '0');
    if (rate > kHighestBaudRate) return std::nullopt;
  }
  if (rate == 0) return std::nullopt;
  return static_cast<uint32_t>(rate);
}

int BaudPosition(uint32_t rate) {
  for (size_t i = 0; i < std::size(kBaudRates); ++i) {
    if (kBaudRates[i] == rate) return static_cast<int>(i);
  }
  return -1;
}

LineParameters ReadLineSelections(const LineSelection& selection) {
  LineParameters line;
  if (selection.typedBaud != 0) {
    line.baudRate = selection.typedBaud;
  } else if (InList(selection.baudPos, kBaudRates)) {
    line.baudRate = kBaudRates[selection.baudPos];
  }
  if (auto pos = PositionIn(selection.dataBitsPos, std::size(kDataBitsEntries))) {
    line.dataBits = 5 + *pos;
  }
  line.stopBits = PositionIn(selection.stopBitsPos, std::size(kStopBitsEntries));
  line.parity = PositionIn(selection.parityPos, std::size(kParityEntries));
  line.flow = PositionIn(selection.flowPos, std::size(kFlowEntries));
  return line;
}

LineSelection SelectionShowing(LineSelection shown, const LineParameters& line) {
  if (line.baudRate) {
    shown.baudPos = BaudPosition(*line.baudRate);
    shown.typedBaud = shown.baudPos < 0 ? *line.baudRate : 0;
  }
  if (line.dataBits) shown.dataBitsPos = *line.dataBits - 5;
  if (line.stopBits) shown.stopBitsPos = *line.stopBits;
  if (line.parity) shown.parityPos = *line.parity;
  if (line.flow) shown.flowPos = *line.flow;
  return shown;
}

}  // namespace quorvel
