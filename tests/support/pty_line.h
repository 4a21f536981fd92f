// A pseudo-terminal that plays a serial device, for the tests and the
// benchmarks: the terminal opens the slave by its path, the caller plays the
// device on the master, which never blocks. The slave stays open here, so the
// line does not hang up between the terminal's opens. One thread at a time;
// both descriptors close with the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/unique_fd.h"

namespace quorvel::testing {

class PtyLine {
 public:
  enum class Mode {
    kRaw,     // raw from the start, as a simulated device makes its line
    kAsMade,  // the line discipline's defaults, until the terminal sets the line
  };

  explicit PtyLine(Mode mode = Mode::kRaw);  // check Ok()
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  bool Ok() const { return master_.Valid(); }
  const std::string& Path() const { return path_; }
  int Master() const { return master_.Get(); }
  int Slave() const { return slave_.Get(); }

  // Writes every byte, waiting for the line to take them; false on an error
  // or once `deadlineMs` (core/clock.h SteadyNowMs terms) passes first.
  bool WriteAll(const uint8_t* bytes, size_t count, int64_t deadlineMs);
  bool WriteAll(const std::vector<uint8_t>& bytes, int64_t deadlineMs) {
    return WriteAll(bytes.data(), bytes.size(), deadlineMs);
  }

  // Waits up to `timeoutMs` for bytes and reads what is there (at most
  // `capacity`); 0 when nothing came.
  size_t ReadSome(uint8_t* buffer, size_t capacity, int timeoutMs);

  // Appends to `out` until it holds `count` more bytes; false when
  // `deadlineMs` passes first (what came is kept).
  bool ReadExactly(size_t count, std::vector<uint8_t>& out, int64_t deadlineMs);

  // Everything that arrives within `quietMs` of the last byte.
  std::vector<uint8_t> Drain(int quietMs);

  // Closes the device side, as when an adapter is pulled; the slave stays.
  void Hangup() { master_.Reset(); }

 private:
  UniqueFd master_;
  UniqueFd slave_;
  std::string path_;
};

}  // namespace quorvel::testing
