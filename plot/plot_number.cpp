#include "plot/plot_number.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace quorvel {
namespace {

constexpr size_t kMostHexDigits = 16;  // a 64-bit register

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<double> HexInteger(std::string_view digits) {
  if (digits.empty() || digits.size() > kMostHexDigits) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return static_cast<double>(value);
}

// A unit after a number: letters, '%', and bytes of a non-ASCII sign such as
// the degree or micro sign; never digits or punctuation ("1.2.3" is no number).
bool IsUnit(std::string_view rest) {
  for (char c : rest) {
    auto byte = static_cast<unsigned char>(c);
    bool letter = (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z';
    if (!letter && c != '%' && byte < 0x80) return false;
  }
  return true;
}

}  // namespace

std::optional<double> ParsePlotNumber(std::string_view token) {
  bool negative = false;
  if (!token.empty() && (token[0] == '+' || token[0] == '-')) {
    negative = token[0] == '-';
    token.remove_prefix(1);
  }
  if (token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    std::optional<double> value = HexInteger(token.substr(2));
    if (value && negative) *value = -*value;
    return value;
  }
  // A digit or a point must open it: from_chars would also take "inf" and "nan".
  if (token.empty() || !((token[0] >= '0' && token[0] <= '9') || token[0] == '.')) {
    return std::nullopt;
  }
  double value = 0;
  const char* end = token.data() + token.size();
  auto [stop, error] = std::from_chars(token.data(), end, value, std::chars_format::general);
  if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
  if (!IsUnit(std::string_view(stop, static_cast<size_t>(end - stop)))) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace quorvel
