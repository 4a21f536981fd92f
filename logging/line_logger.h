// Records what the line carries to a file. The receive worker and the send
// paths hand their bytes over as a tap (a short lock and a copy, nothing
// more); the logger's own thread formats them and writes the file, at least
// every kFlushMs and on Stop. Nothing that reaches the tap while logging is
// lost: the file is written as fast as the disk takes it. A write that fails
// (a full disk, a file past the size limit, a removed medium) ends logging
// with one message; the line goes on unaffected.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/event_fd.h"
#include "core/line_listener.h"
#include "core/result.h"
#include "core/unique_fd.h"
#include "logging/log_format.h"

namespace quorvel {

struct LogRequest {
  std::string path;
  LogFormat format = LogFormat::kText;
  bool includeSent = false;  // the bytes sent too, not only those received
  bool append = true;        // an existing file is added to, else replaced
};

class LineLogger : public LineListener {
 public:
  static constexpr int kFlushMs = 200;

  LineLogger() = default;
  ~LineLogger() override;  // stops, writing what is buffered
  LineLogger(const LineLogger&) = delete;
  LineLogger& operator=(const LineLogger&) = delete;

  // UI thread: opens the file and starts logging, after stopping a log
  // already running. Fails when the file cannot be opened; nothing is
  // logged then.
  Done Start(const LogRequest& request);
  // The same with the directions named by `labels` in the text and hex formats.
  Done Start(const LogRequest& request, const LogLabels& labels);
  // UI thread: writes what is buffered, closes the file and returns once it is
  // closed. Harmless when nothing is logged.
  void Stop();

  // Logging now; false again once a failure ended it.
  bool Active() const { return active_.load(); }
  // The file's size as written so far.
  uint64_t FileSize() const { return fileSize_.load(); }
  // The file of the last Start; UI thread.
  const std::string& Path() const { return request_.path; }

  // Readable once logging ended on a failure, until TakeFailure.
  int FailureDescriptor() const { return failed_.Descriptor(); }
  // The failure's message, once; "" when none came.
  std::string TakeFailure();

  // The tap: any thread.
  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t* bytes, int count) override;
  // The same with the moment the caller stamped the bytes with (ms since
  // the epoch), for a caller that keeps its own order and stamps (a linked
  // pair's timeline, whose log must read as its view does). Any thread.
  void Record(LogDirection direction, int64_t unixMs, const uint8_t* bytes, int count);

 private:
  void Add(LogDirection direction, const uint8_t* bytes, int count);
  void Run(UniqueFd file);  // the logger's thread: owns the file until logging ends
  bool WriteOut(int fd, const std::string& text);
  void Fail(const std::string& message);

  LogRequest request_;
  LogLabels labels_;
  std::atomic<bool> active_{false};
  std::atomic<uint64_t> fileSize_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<uint8_t> pending_;  // records: direction, time, length, bytes
  bool includeSent_ = false;
  bool stop_ = false;
  std::string failure_;
  EventFd failed_;
  std::thread thread_;
};

}  // namespace quorvel
