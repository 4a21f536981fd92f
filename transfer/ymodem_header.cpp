#include "transfer/ymodem_header.h"

#include <cstring>
#include <string_view>

namespace quorvel {
namespace {

// One field of digits in `base` at the start of `text` (after spaces);
// nothing when there is none. Sets *bad for digits that overflow.
std::optional<uint64_t> Field(std::string_view& text, unsigned base, bool* bad) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  uint64_t value = 0;
  size_t used = 0;
  for (; used < text.size(); ++used) {
    unsigned digit = static_cast<unsigned char>(text[used]) - '0';
    if (digit >= base) break;
    if (value > (UINT64_MAX - digit) / base) {
      *bad = true;
      return std::nullopt;
    }
    value = value * base + digit;
  }
  if (used == 0) return std::nullopt;
  text.remove_prefix(used);
  return value;
}

}  // namespace

std::vector<uint8_t> MakeYmodemHeader(const OutgoingFile& file) {
  std::string header = file.Name();
  header += '\0';
  header += std::to_string(file.Size());
  if (file.ModifiedUnix() > 0) {
    char fields[48];
    std::snprintf(fields, sizeof fields, " %llo %o",
                  static_cast<unsigned long long>(file.ModifiedUnix()), file.Mode());
    header += fields;
  }
  return {header.begin(), header.end()};
}

std::optional<YmodemHeader> ParseYmodemHeader(const uint8_t* block, size_t size,
                                              std::string* reason) {
  YmodemHeader header;
  const char* text = reinterpret_cast<const char*>(block);
  size_t nameEnd = ::strnlen(text, size);
  header.file.name.assign(text, nameEnd);
  if (header.file.name.empty()) {
    header.endOfBatch = true;
    return header;
  }
  if (nameEnd == size) return header;  // no room for fields: nothing more was said
  std::string_view fields(text + nameEnd + 1, ::strnlen(text + nameEnd + 1, size - nameEnd - 1));
  bool bad = false;
  header.file.size = Field(fields, 10, &bad);
  if (header.file.size) {
    if (auto modified = Field(fields, 8, &bad); modified && *modified <= INT64_MAX) {
      header.file.modifiedUnix = static_cast<int64_t>(*modified);
    }
    if (auto mode = Field(fields, 8, &bad); mode && *mode <= 07777) {
      header.file.mode = static_cast<uint32_t>(*mode);
    }
  }
  if (bad) {
    *reason = "the header's size or time is too large a number";
    return std::nullopt;
  }
  return header;
}

}  // namespace quorvel
