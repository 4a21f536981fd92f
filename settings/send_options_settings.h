// The send box's options in the settings file, in a section of their own so
// that the terminal's own keys stay as they are:
//   [SendOptions]  LineEnding (none, cr, lf or crlf), Escapes (0 or 1),
//                  Checksum (a key of sending/checksum.h: none, modbus-crc16...),
//                  Encoding (latin1 or utf8: how typed text becomes bytes)
// A missing or unknown value reads as the option off (Latin-1 for the
// encoding); saving writes only these keys and keeps every other line. UI
// thread.
#pragma once

#include <filesystem>

#include "sending/send_composer.h"
#include "sending/text_encoding.h"

namespace quorvel {

SendOptions LoadSendOptions(const std::filesystem::path& file);
// False, with the file as it was, when it could not be written.
bool SaveSendOptions(const SendOptions& options, const std::filesystem::path& file);

TextEncoding LoadSendEncoding(const std::filesystem::path& file);
bool SaveSendEncoding(TextEncoding encoding, const std::filesystem::path& file);

}  // namespace quorvel
