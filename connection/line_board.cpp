#include "connection/line_board.h"

namespace quorvel {

bool LineBoard::Look(LineModem& modem) {
  std::lock_guard guard(mutex_);
  LineReport report;
  report.available = modem.GetLines(&report.lines);
  if (!report.available) report.lines = 0;
  PostLocked(report);
  return report.available;
}

LineReport LineBoard::Latest() const {
  std::lock_guard guard(mutex_);
  return report_;
}

void LineBoard::Post(const LineReport& report) {
  std::lock_guard guard(mutex_);
  PostLocked(report);
}

void LineBoard::PostLocked(const LineReport& report) {
  if (report == report_) return;
  report_ = report;
  ready_.Signal();
}

}  // namespace quorvel
