#include "sending/send_list.h"

#include <cctype>

namespace quorvel {
namespace {

bool IsListHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsHexSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
}

}  // namespace

bool IsHexBytes(std::string_view text) {
  std::size_t run = 0;
  for (char c : text) {
    if (IsListHexDigit(c)) {
      if (++run > 2) return false;
    } else if (IsHexSeparator(c)) {
      run = 0;
    } else {
      return false;
    }
  }
  return true;
}

std::string EntryProblem(const SendListEntry& entry) {
  if (entry.name.empty()) return "The entry has no name.";
  if (entry.name.size() > kMaxEntryNameLength) {
    return "The name is longer than " + std::to_string(kMaxEntryNameLength) + " characters.";
  }
  for (char c : entry.name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "The name holds a control character.";
    }
  }
  if (entry.content.size() > kMaxEntryTextLength) {
    return "The content is longer than " + std::to_string(kMaxEntryTextLength) + " characters.";
  }
  if (entry.hex && !IsHexBytes(entry.content)) {
    return "The content is not hex bytes (pairs of hex digits separated by spaces).";
  }
  std::size_t bytes = ContentBytes(entry.content, entry.hex, entry.options.escapes).size();
  if (bytes > kMaxEntryContentLength) {
    return "The content is " + std::to_string(bytes) + " bytes, more than " +
           std::to_string(kMaxEntryContentLength) + ".";
  }
  if (entry.delayMs < 0 || entry.delayMs > kMaxEntryDelayMs) {
    return "The delay is not between 0 and " + std::to_string(kMaxEntryDelayMs) + " ms.";
  }
  return "";
}

std::vector<uint8_t> EntryBytes(const SendListEntry& entry) {
  return ComposeSend(entry.content, entry.hex, entry.options);
}

}  // namespace quorvel
