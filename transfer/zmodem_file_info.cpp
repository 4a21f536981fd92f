#include "transfer/zmodem_file_info.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <type_traits>

namespace quorvel::zmodem {
namespace {

// The next space-separated field of `text` as a number in `base`; nothing
// when there is none or it is not a number that fits.
template <typename Number>
std::optional<Number> NextField(std::string_view& text, int base) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  text.remove_prefix(start);
  size_t length = std::min(text.find(' '), text.size());
  std::string_view field = text.substr(0, length);
  text.remove_prefix(length);
  Number value{};
  auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value, base);
  if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
  if constexpr (std::is_signed_v<Number>) {
    if (value < 0) return std::nullopt;
  }
  return value;
}

}  // namespace

std::vector<uint8_t> FileInfoBytes(OutgoingFile& file, int filesLeft, uint64_t bytesLeft) {
  const std::string& name = file.Name();
  std::vector<uint8_t> bytes(name.begin(), std::find(name.begin(), name.end(), '\0'));
  bytes.push_back(0);
  uint32_t mode = file.Mode() & 07777;
  char fields[96];
  int length = std::snprintf(
      fields, sizeof fields, "%llu %llo %o 0 %d %llu", static_cast<unsigned long long>(file.Size()),
      static_cast<unsigned long long>(std::max<int64_t>(file.ModifiedUnix(), 0)),
      mode == 0 ? 0u : static_cast<unsigned>(S_IFREG | mode), filesLeft,
      static_cast<unsigned long long>(bytesLeft));
  bytes.insert(bytes.end(), fields, fields + length);
  bytes.push_back(0);
  return bytes;
}

IncomingFile ParseFileInfo(std::span<const uint8_t> bytes) {
  IncomingFile file;
  auto nul = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  file.name.assign(bytes.begin(), nul);
  if (nul == bytes.end()) return file;
  auto fieldsEnd = std::find(nul + 1, bytes.end(), uint8_t{0});
  std::string_view fields(reinterpret_cast<const char*>(&*nul) + 1,
                          static_cast<size_t>(fieldsEnd - (nul + 1)));
  file.size = NextField<uint64_t>(fields, 10);
  if (!file.size) return file;
  std::optional<int64_t> modified = NextField<int64_t>(fields, 8);
  if (!modified) return file;
  if (*modified != 0) file.modifiedUnix = modified;
  std::optional<uint32_t> mode = NextField<uint32_t>(fields, 8);
  if (mode && (*mode & 0777) != 0) file.mode = *mode & 0777;
  return file;
}

}  // namespace quorvel::zmodem
