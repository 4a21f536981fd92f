#include "logging_tap.h"

#include <unistd.h>

#include <cstdlib>

namespace quorvel::bench {

LoggingTap::LoggingTap(TerminalState& state, LogFormat format) : state_(state) {
  char pattern[] = "/tmp/quorvel-bench-XXXXXX";
  if (!mkdtemp(pattern)) return;
  directory_ = pattern;
  std::string error;
  ok_ = logger_.Start({directory_ + "/line.log", format, true, false}, error);
  if (ok_) state_.tap.store(&logger_);
}

LoggingTap::~LoggingTap() {
  logger_.Stop();
  if (directory_.empty()) return;
  ::unlink((directory_ + "/line.log").c_str());
  ::rmdir(directory_.c_str());
}

uint64_t LoggingTap::Finish() {
  state_.tap.store(nullptr);
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
