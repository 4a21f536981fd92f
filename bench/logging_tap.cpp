#include "logging_tap.h"

#include <unistd.h>

#include <cstdlib>

namespace quorvel::bench {

LoggingTap::LoggingTap(LineListeners& listeners, LogFormat format) : listeners_(listeners) {
  char pattern[] = "/tmp/quorvel-bench-XXXXXX";
  if (!mkdtemp(pattern)) return;
  directory_ = pattern;
  ok_ = logger_.Start({directory_ + "/line.log", format, true, false}).Ok();
  if (ok_) listeners_.Add(logger_, {.transfers = true});
  listening_ = ok_;
}

LoggingTap::~LoggingTap() {
  if (listening_) listeners_.Remove(logger_);
  logger_.Stop();
  if (directory_.empty()) return;
  ::unlink((directory_ + "/line.log").c_str());
  ::rmdir(directory_.c_str());
}

uint64_t LoggingTap::Finish() {
  listeners_.Remove(logger_);
  listening_ = false;
  logger_.Stop();
  return logger_.FileSize();
}

std::string LoggingSuffix(LogFormat format) {
  switch (format) {
    case LogFormat::kRaw:
      return ", logging raw";
    case LogFormat::kText:
      return ", logging text with stamps";
    case LogFormat::kHex:
      return ", logging hex";
  }
  return "";
}

}  // namespace quorvel::bench
