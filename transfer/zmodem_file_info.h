// The data subpacket of ZFILE: the file's name, a NUL, then its length in
// decimal, modification time and mode in octal, a serial number, the files
// and bytes left in the batch (all but the length optional), and a NUL.
// Pure functions of bytes; the parse trusts nothing it reads.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "transfer/transfer_files.h"

namespace quorvel::zmodem {

// What the sender puts after ZFILE for `file`.
std::vector<uint8_t> FileInfoBytes(OutgoingFile& file, int filesLeft, uint64_t bytesLeft);

// The name as sent, byte for byte up to its NUL (the sink makes it safe); a
// field that is missing, not a number or out of range is left unknown, and
// so are every field after it; a time or mode of 0 is unknown; the mode keeps
// its permission bits only.
IncomingFile ParseFileInfo(std::span<const uint8_t> bytes);

}  // namespace quorvel::zmodem
