// The files a transfer reads and writes, as the protocols see them. A sender
// walks a list of files it may read at any offset (ZMODEM goes back to where
// the receiver lost track); a receiver hands each incoming file to a sink
// that names it safely, refuses what cannot be kept, and writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// One file to send, open for reading.
class OutgoingFile {
 public:
  virtual ~OutgoingFile() = default;
  virtual const std::string& Name() const = 0;  // the last path component, as sent
  virtual uint64_t Size() const = 0;
  virtual int64_t ModifiedUnix() const = 0;  // seconds since 1970, 0 unknown
  virtual uint32_t Mode() const = 0;         // permission bits, 0 unknown
  // Reads up to `count` bytes at `offset`: the count read (0 at the end), -1
  // on a read error (why in *reason).
  virtual int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count, std::string* reason) = 0;
};

// What the sender says of a file it is about to send; everything it
// promises is untrusted.
struct IncomingFile {
  std::string name;  // as sent, raw bytes; "" when the protocol carries none (XMODEM)
  std::optional<uint64_t> size;
  std::optional<int64_t> modifiedUnix;
  std::optional<uint32_t> mode;
};

// Where a receiver puts what it receives. One file at a time: Begin, Write
// any number of times, End.
class FileSink {
 public:
  virtual ~FileSink() = default;
  // A file begins. False refuses it, with why in *reason (a name that cannot
  // be made safe, a size over the disk's free space, an unwritable folder).
  virtual bool Begin(const IncomingFile& file, std::string* reason) = 0;
  // False when the bytes could not be written (disk full): the receiver
  // cancels the transfer.
  virtual bool Write(const uint8_t* bytes, size_t count, std::string* reason) = 0;
  // The file is over: `complete` when it arrived whole; a file cut short is
  // kept only where the user chose to keep partial files. A sink may hold
  // written bytes back to write them in larger pieces: false when those could
  // not be written now (why in *reason), and the file is then not whole.
  virtual bool End(bool complete, std::string* reason) = 0;
};

}  // namespace quorvel
