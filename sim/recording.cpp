#include "sim/recording.h"

#include <cstddef>

namespace quorvel {
namespace {

constexpr size_t kStampLength = 23;  // "2026-12-07T14:15:28.123"

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Digits(std::string_view text, size_t at, size_t count, int& value) {
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string Shown(std::string_view text) {
  constexpr size_t kLimit = 40;
  std::string shown;
  for (char c : text.substr(0, kLimit)) shown += c >= 0x20 && c < 0x7f ? c : '?';
  if (text.size() > kLimit) shown += "...";
  return shown;
}

// One row of a burst: four spaces, "41 " per byte in a field of 48 columns,
// a space, and as many characters as bytes. False with `message` set.
bool ParseRow(std::string_view line, std::vector<uint8_t>& bytes, std::string& message) {
  std::string_view field = line.substr(kHexRowIndent);
  size_t count = 0;
  while (count < kHexRowBytes) {
    size_t at = count * 3;
    if (at + 3 > field.size()) {
      message = "truncated row of bytes";
      return false;
    }
    if (field[at] == ' ') break;
    int high = DigitValue(field[at]);
    int low = DigitValue(field[at + 1]);
    if (high < 0 || low < 0 || field[at + 2] != ' ') {
      message = "\"" + Shown(field.substr(at, 3)) + "\" is not a hex byte (column " +
                std::to_string(kHexRowIndent + at + 1) + ")";
      return false;
    }
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    ++count;
  }
  if (count == 0) {
    message = "a row without bytes";
    return false;
  }
  for (size_t at = count * 3; at <= kHexRowField; ++at) {
    if (at >= field.size()) {
      message = "truncated row of bytes";
      return false;
    }
    if (field[at] != ' ') {
      message = "\"" + Shown(field.substr(at)) + "\" where the row's text should start (column " +
                std::to_string(kHexRowIndent + at + 1) + ")";
      return false;
    }
  }
  size_t shown = field.size() - kHexRowField - 1;
  if (shown != count) {
    message = shown < count ? "truncated row: " + std::to_string(count) + " bytes but " +
                                  std::to_string(shown) + " characters of text"
                            : "row longer than its " + std::to_string(count) + " bytes";
    return false;
  }
  return true;
}

// A burst's header: the stamp, a space, RX or TX, and nothing else.
bool ParseHeader(std::string_view line, RecordedBurst& burst, std::string& message) {
  if (line.size() < kStampLength || !ParseStamp(line.substr(0, kStampLength), burst.ms)) {
    message = "\"" + Shown(line) +
              "\" is neither a burst's header (\"2026-12-07T14:15:28.123 RX\") nor a row of "
              "bytes";
    return false;
  }
  std::string_view mark = line.substr(kStampLength);
  if (mark.size() < 3 || mark[0] != ' ') {
    message = "truncated header: no direction after the time";
    return false;
  }
  std::string_view direction = mark.substr(1, 2);
  if (direction == "RX") {
    burst.direction = LogDirection::kReceived;
  } else if (direction == "TX") {
    burst.direction = LogDirection::kSent;
  } else {
    message = "unknown direction \"" + Shown(mark.substr(1)) + "\" (RX or TX)";
    return false;
  }
  if (mark.size() > 3) {
    message = mark[3] == ' ' ? "a line of the text log: only the hex dump can be replayed"
                             : "unknown direction \"" + Shown(mark.substr(1)) + "\" (RX or TX)";
    return false;
  }
  return true;
}

}  // namespace

bool ParseStamp(std::string_view stamp, int64_t& ms) {
  if (stamp.size() != kStampLength || stamp[4] != '-' || stamp[7] != '-' || stamp[10] != 'T' ||
      stamp[13] != ':' || stamp[16] != ':' || stamp[19] != '.') {
    return false;
  }
  int year, month, day, hour, minute, second, millis;
  if (!Digits(stamp, 0, 4, year) || !Digits(stamp, 5, 2, month) || !Digits(stamp, 8, 2, day) ||
      !Digits(stamp, 11, 2, hour) || !Digits(stamp, 14, 2, minute) ||
      !Digits(stamp, 17, 2, second) || !Digits(stamp, 20, 3, millis)) {
    return false;
  }
  // A leap second is written as :60 by some clocks.
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60) {
    return false;
  }
  int64_t days = DaysFromCivil(year, month, day);
  ms = ((days * 24 + hour) * 60 + minute) * 60'000 + int64_t{second} * 1000 + millis;
  return true;
}

bool ParseRecording(std::string_view text, std::vector<RecordedBurst>& bursts,
                    RecordingError& error) {
  bursts.clear();
  error = {};
  bool inBurst = false;
  RecordedBurst burst;
  int64_t lastMs = INT64_MIN;
  std::string lastStamp;
  size_t lineNumber = 0;
  auto finish = [&] {
    if (inBurst && !burst.bytes.empty()) bursts.push_back(std::move(burst));
    burst = {};
    inBurst = false;
  };
  auto fail = [&](std::string message) {
    error.line = lineNumber;
    error.message = std::move(message);
    return false;
  };
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    std::string message;
    if (line.substr(0, kHexRowIndent) == std::string_view("    ", kHexRowIndent)) {
      if (!inBurst) return fail("a row of bytes without a header line before it");
      if (!ParseRow(line, burst.bytes, message)) return fail(message);
      continue;
    }
    finish();
    if (!ParseHeader(line, burst, message)) return fail(message);
    if (burst.ms < lastMs) {
      return fail("the time goes back: " + std::string(line.substr(0, kStampLength)) + " after " +
                  lastStamp);
    }
    lastMs = burst.ms;
    lastStamp = line.substr(0, kStampLength);
    burst.line = lineNumber;
    inBurst = true;
  }
  finish();
  return true;
}

}  // namespace quorvel
