// How the form exchange turns the numbers of its boxes into text and back.
// Locale-independent on purpose: the boxes always use a decimal point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Blanks, an optional sign, decimal digits, blanks; nothing else. A value
// beyond 32 bits is taken as the nearest 32-bit value, so a range check after
// it still rejects it. Empty for a text that is no integer.
std::optional<int32_t> ParseInteger(std::string_view text);

// Blanks, decimal digits, blanks; beyond 32 bits gives the largest value.
std::optional<uint32_t> ParseUnsigned(std::string_view text);

// Blanks, a decimal floating-point number, blanks.
std::optional<double> ParseDouble(std::string_view text);

// The shortest form with up to 15 significant digits ("12.5", "0", "1e-05").
std::string FormatDouble(double value);

}  // namespace quorvel
