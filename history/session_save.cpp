#include "history/session_save.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quorvel {
namespace {

constexpr size_t kWriteBatch = size_t{1} << 16;

}  // namespace

bool SaveSession(const SessionStore& store, const std::string& path, LogFormat format,
                 std::string& error, const std::atomic<bool>* stop) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  LogFormatter formatter(format, true);
  std::string out;
  bool stopped = false;
  bool written = store.ForEachRun([&](const SessionStore::Run& run) {
    if (stop && stop->load(std::memory_order_relaxed)) {
      stopped = true;
      return false;
    }
    if (run.kind == SessionKind::kEvent) return true;
    auto direction = run.kind == SessionKind::kSent ? LogDirection::kSent : LogDirection::kReceived;
    formatter.Append(direction, run.wallMs, run.bytes.data(), run.bytes.size(), out);
    if (out.size() < kWriteBatch) return true;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    out.clear();
    return ok;
  });
  if (written && !out.empty()) written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  int writeErrno = errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    writeErrno = errno;
  }
  if (stopped) {
    error = "Saving " + path + " was stopped";
  } else if (!written) {
    error = "Cannot write " + path + ": " + std::strerror(writeErrno);
  }
  return written;
}

}  // namespace quorvel
