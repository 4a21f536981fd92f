#include "ui/form_values.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace quorvel {
namespace {

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Digits only, as a magnitude that stops growing past `limit`.
std::optional<uint64_t> Magnitude(std::string_view digits, uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > limit) value = limit + 1;
  }
  return value;
}

}  // namespace

std::optional<int32_t> ParseInteger(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  constexpr uint64_t kLimit = uint64_t{1} << 31;
  std::optional<uint64_t> magnitude = Magnitude(text, kLimit);
  if (!magnitude) return std::nullopt;
  if (negative) return static_cast<int32_t>(-static_cast<int64_t>(std::min(*magnitude, kLimit)));
  return static_cast<int32_t>(std::min(*magnitude, kLimit - 1));
}

std::optional<uint32_t> ParseUnsigned(std::string_view text) {
  constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max();
  std::optional<uint64_t> magnitude = Magnitude(Trim(text), kLimit);
  if (!magnitude) return std::nullopt;
  return static_cast<uint32_t>(std::min(*magnitude, kLimit));
}

std::optional<double> ParseDouble(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string FormatDouble(double value) {
  char buffer[64];
  auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (error != std::errc()) return "0";
  return std::string(buffer, end);
}

}  // namespace quorvel
