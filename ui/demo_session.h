// The demo device for one run of the window (quorvel --demo): started with
// the window, mapped to a free COM number for this run only, kept out of
// what the window saves, and named in the title and the status line.
#pragma once

#include <QString>
#include <map>
#include <string>

#include "link/line_settings.h"
#include "settings/settings.h"
#include "sim/demo_device.h"

namespace quorvel {

// UI thread.
class DemoSession {
 public:
  // Starts the device; when it cannot start, says so on standard error and
  // the window starts as without --demo.
  DemoSession();

  // After the stored and detected ports are in `names`: maps the device to
  // the number a newly plugged adapter would get and selects it in
  // `selection`, remembering the port selected before.
  void Place(PortNames& names, LineSelection& selection);
  // Takes the device out of what the window saves: its [PortMap] entry, and
  // its port as the selection (the port selected before it is saved instead).
  void Unplace(Settings& settings) const;

  // " — demo device on COM3"; empty when the device did not start.
  QString TitleNote() const;
  // The status line's name for the device at `path`.
  QString DeviceName(const std::string& path) const;

 private:
  DemoDevice device_;
  int number_ = 0;  // 0: not placed
  int userPortPos_ = -1;
};

}  // namespace quorvel
