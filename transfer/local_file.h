// A file on this machine to send, open for reading from the moment it is
// made, so that what is sent is the file the user chose even when the name
// is taken by another file meanwhile. The protocol's thread reads it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "transfer/transfer_files.h"

namespace quorvel {

class LocalFile : public OutgoingFile {
 public:
  // Opens `path`: null, with why in *reason, when it cannot be opened or is
  // not a regular file.
  static std::unique_ptr<LocalFile> Open(const std::string& path, std::string* reason);

  const std::string& Name() const override { return name_; }
  uint64_t Size() const override { return size_; }
  int64_t ModifiedUnix() const override { return modified_; }
  uint32_t Mode() const override { return mode_; }
  // Served from a read-ahead block: the protocols ask a block (128 bytes to
  // 1 KiB) at a time, mostly in order. Short only at the end of the file.
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count, std::string* reason) override;

 private:
  static constexpr size_t kReadAhead = 64 * 1024;

  LocalFile() = default;
  int64_t ReadFromFile(uint64_t offset, uint8_t* buffer, size_t count, std::string* reason);

  UniqueFd fd_;
  std::string name_;
  uint64_t size_ = 0;
  int64_t modified_ = 0;
  uint32_t mode_ = 0;
  std::vector<uint8_t> ahead_;  // the file's bytes from aheadAt_
  uint64_t aheadAt_ = 0;
};

}  // namespace quorvel
