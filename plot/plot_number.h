// Reading one number as a device prints it in a line of measurements: a
// decimal with an optional sign, fraction and exponent ("-21.4", "+3",
// "1.5e-3", ".5"), or a hexadecimal integer ("0x1F", "-0x10"). A unit stuck
// to a decimal ("21.4C", "40%") is left off. Not-a-number and infinity, as
// text or as a decimal too large for a double, are refused: a curve cannot
// show them. Pure functions; any thread.
#pragma once

#include <optional>
#include <string_view>

namespace quorvel {

// The value of `token` (no spaces around it), or nothing when it is not a
// number as above.
std::optional<double> ParsePlotNumber(std::string_view token);

}  // namespace quorvel
