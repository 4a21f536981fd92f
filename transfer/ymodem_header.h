// YMODEM's block 0: the file's name, then its size, modification time and
// mode as text ("name\0size mtime mode", size in decimal, the others in
// octal); a block 0 with an empty name ends the batch. What the sender puts
// there is untrusted: every field is read within the block and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transfer/transfer_files.h"

namespace quorvel {

// The header bytes for `file` (before padding to a block).
std::vector<uint8_t> MakeYmodemHeader(const OutgoingFile& file);

struct YmodemHeader {
  bool endOfBatch = false;  // the name is empty
  IncomingFile file;
};

// Reads block 0 (`size` bytes). nullopt, with why in *reason, for a field
// that is no number or does not fit (a size beyond 2^64 - 1).
std::optional<YmodemHeader> ParseYmodemHeader(const uint8_t* block, size_t size,
                                              std::string* reason);

}  // namespace quorvel
