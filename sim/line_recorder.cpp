#include "sim/line_recorder.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace quorvel {

LineRecorder::~LineRecorder() {
  if (file_) std::fclose(file_);
}

bool LineRecorder::Open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "wbe");
  if (!file_) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  return true;
}

void LineRecorder::DeviceSent(const uint8_t* bytes, size_t count) {
  Write(LogDirection::kReceived, bytes, count);
}

void LineRecorder::DeviceReceived(const uint8_t* bytes, size_t count) {
  Write(LogDirection::kSent, bytes, count);
}

void LineRecorder::Write(LogDirection direction, const uint8_t* bytes, size_t count) {
  if (!file_ || count == 0) return;
  auto now = std::chrono::system_clock::now();
  int64_t unixMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  text_.clear();
  formatter_.Append(direction, unixMs, bytes, count, text_);
  // Flushed per burst: a simulator ended by a signal or a kill still leaves
  // every burst it exchanged in the file.
  if (std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size() ||
      std::fflush(file_) != 0) {
    std::fprintf(stderr, "quorvel-devsim: recording into %s stopped: %s\n", path_.c_str(),
                 std::strerror(errno));
    std::fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace quorvel
