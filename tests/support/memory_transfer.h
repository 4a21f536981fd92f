// In-memory stand-ins for the files of a transfer and its observer: files to
// send held in memory, a sink that keeps what it is given as it was given,
// and an observer that records what it is told (the line is a real one, see
// support/channel_pair.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transfer/transfer_files.h"
#include "transfer/transfer_report.h"

namespace quorvel::testing {

// A file to send, held in memory; a read at `failAt` or beyond fails.
class MemoryFile : public OutgoingFile {
 public:
  MemoryFile(std::string name, std::vector<uint8_t> bytes, uint64_t failAt = UINT64_MAX)
      : name_(std::move(name)), bytes_(std::move(bytes)), failAt_(failAt) {}
  const std::string& Name() const override { return name_; }
  uint64_t Size() const override { return bytes_.size(); }
  int64_t ModifiedUnix() const override { return 1700000000; }
  uint32_t Mode() const override { return 0640; }
  int64_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count, std::string* reason) override;

 private:
  std::string name_;
  std::vector<uint8_t> bytes_;
  uint64_t failAt_;
};

// Keeps every file it is given, whole or not; refuses names it is told to,
// and fails a write that would take a file past `writeLimit`.
class MemorySink : public FileSink {
 public:
  struct Kept {
    IncomingFile header;
    std::vector<uint8_t> bytes;
    bool complete = false;
    bool ended = false;
  };

  bool Begin(const IncomingFile& file, std::string* reason) override;
  bool Write(const uint8_t* bytes, size_t count, std::string* reason) override;
  bool End(bool complete, std::string* reason) override;

  void Refuse(const std::string& name) { refused_.push_back(name); }
  void LimitWrites(uint64_t bytes) { writeLimit_ = bytes; }
  // Files begun, in order (refused ones not among them).
  const std::vector<Kept>& Files() const { return files_; }
  // The bytes of the file of that name that ended complete; empty if none.
  std::vector<uint8_t> Complete(const std::string& name) const;
  int Refusals() const { return refusals_; }

 private:
  std::vector<Kept> files_;
  std::vector<std::string> refused_;
  uint64_t writeLimit_ = UINT64_MAX;
  bool open_ = false;
  int refusals_ = 0;
};

class RecordingObserver : public TransferObserver {
 public:
  // Runs `action` once, on the transfer's thread, when the file in hand has
  // reached `bytes`: a cancel or a cut line at a point the test chooses.
  void When(uint64_t bytes, std::function<void()> action);
  void Progressed(const TransferProgress& progress) override;
  void Noted(std::string_view text) override;
  std::vector<std::string> Notes() const;
  // Every distinct countdown value seen, in order.
  std::vector<int> Countdown() const;
  TransferProgress Last() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> notes_;
  std::vector<int> countdown_;
  TransferProgress last_;
  uint64_t actionAt_ = 0;
  std::function<void()> action_;
};

}  // namespace quorvel::testing
