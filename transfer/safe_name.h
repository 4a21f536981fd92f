// The name a received file is kept under, made from what the sender said:
// untrusted bytes that may hold a path, "..", control characters or a name
// longer than any file system takes.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

inline constexpr size_t kMaxFileNameBytes = 255;

// The last path component of `sent` ('/' and '\' both divide), each control
// character (below 0x20, and 0x7F) turned into '_', cut to at most
// kMaxFileNameBytes bytes (at a character boundary, keeping a short
// extension). "" when nothing usable is left: an empty name, "." or "..".
std::string SafeFileName(std::string_view sent);

// "name (n).ext" for "name.ext" (n > 0), still at most kMaxFileNameBytes
// bytes: the stem is cut to make room. A name that starts with its only dot
// (".profile") has no extension.
std::string NumberedFileName(std::string_view name, int n);

}  // namespace quorvel
