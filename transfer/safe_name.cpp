#include "transfer/safe_name.h"

namespace quorvel {
namespace {

constexpr size_t kMaxKeptExtension = 16;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// At most `limit` bytes of `text`, not ending inside a UTF-8 sequence.
std::string_view CutAtCharacter(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && IsContinuation(static_cast<unsigned char>(text[end]))) --end;
  return text.substr(0, end);
}

// Where the extension starts (its dot), or npos.
size_t ExtensionAt(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string_view::npos;
  return dot;
}

// `stem` cut so that stem + tail fits, then the tail.
std::string FitWith(std::string_view stem, std::string_view tail) {
  size_t room = tail.size() < kMaxFileNameBytes ? kMaxFileNameBytes - tail.size() : 0;
  std::string fitted(CutAtCharacter(stem, room));
  fitted += tail;
  return fitted;
}

}  // namespace

std::string SafeFileName(std::string_view sent) {
  size_t divider = sent.find_last_of("/\\");
  if (divider != std::string_view::npos) sent.remove_prefix(divider + 1);
  std::string name;
  name.reserve(sent.size());
  for (char c : sent) {
    auto byte = static_cast<unsigned char>(c);
    name += byte < 0x20 || byte == 0x7F ? '_' : c;
  }
  if (name.empty() || name == "." || name == "..") return "";
  if (name.size() <= kMaxFileNameBytes) return name;
  size_t dot = ExtensionAt(name);
  std::string_view view = name;
  if (dot != std::string_view::npos && view.size() - dot <= kMaxKeptExtension) {
    return FitWith(view.substr(0, dot), view.substr(dot));
  }
  return std::string(CutAtCharacter(view, kMaxFileNameBytes));
}

std::string NumberedFileName(std::string_view name, int n) {
  size_t dot = ExtensionAt(name);
  std::string_view stem = name.substr(0, dot);
  std::string tail = " (" + std::to_string(n) + ")";
  if (dot != std::string_view::npos) tail += name.substr(dot);
  return FitWith(stem, tail);
}

}  // namespace quorvel
