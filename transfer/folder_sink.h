// Received files into a folder. Each file is written under a hidden name of
// its own first and given its real name only when it ends, so a file cut
// short never stands under a name the user would take for whole, and an
// existing file is never touched unless the user chose to replace files:
// otherwise a taken name gives "name (1).ext", "name (2).ext", ...
//
// The name comes from the sender, made safe (transfer/safe_name.h), or is
// the one the user gave (XMODEM carries none). A size the sender promised is
// honoured: bytes past it are not written (XMODEM's padding, a sender that
// says less than it sends), and a size beyond the folder's free space is
// refused before anything is written. Bytes are written 64 KiB at a time
// (a protocol hands them over a block at a time), the rest at End.
//
// Threads: the protocol's thread calls Begin, Write and End; KeepPartial may
// come from any thread; Saved and Kept once the transfer has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "transfer/transfer_files.h"

namespace quorvel {

enum class ExistingFiles {
  kNumber,   // keep the existing file; the new one gets a free "name (n).ext"
  kReplace,  // a file received whole replaces one of the same name
};

struct SinkOptions {
  std::string folder;
  ExistingFiles existing = ExistingFiles::kNumber;
  std::string fixedName;  // the user's name for the (only) file; "" takes the sender's
};

class FolderSink : public FileSink {
 public:
  explicit FolderSink(SinkOptions options) : options_(std::move(options)) {}
  ~FolderSink() override;  // a file still open counts as cut short

  bool Begin(const IncomingFile& file, std::string* reason) override;
  bool Write(const uint8_t* bytes, size_t count, std::string* reason) override;
  bool End(bool complete, std::string* reason) override;

  // Whether a file cut short is kept (under a free name, never replacing);
  // by default it is deleted.
  void KeepPartial(bool keep) { keepPartial_.store(keep); }

  struct Saved {
    std::string path;
    uint64_t bytes = 0;
    bool complete = false;
  };
  // The files kept so far, whole or (when kept) cut short.
  std::vector<Saved> Files() const;
  // The name the file in hand will be given (before a number is added).
  std::string CurrentName() const;

 private:
  static constexpr size_t kHeldBytes = 64 * 1024;

  std::string Place(bool replace);
  bool WriteHeld(std::string* reason);

  SinkOptions options_;
  std::atomic<bool> keepPartial_{false};
  UniqueFd fd_;
  std::string temporary_;  // full path of the file being written
  std::string name_;
  std::optional<uint64_t> limit_;
  std::optional<int64_t> modified_;
  std::vector<uint8_t> held_;  // taken, not written yet
  uint64_t taken_ = 0;         // of the file in hand, held or written
  bool writeFailed_ = false;   // the file in hand lacks bytes it was given
  uint64_t written_ = 0;
  mutable std::mutex mutex_;  // guards files_ and name_ for the readers
  std::vector<Saved> files_;
};

}  // namespace quorvel
