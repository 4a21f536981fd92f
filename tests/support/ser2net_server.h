// Debian's ser2net started by a test, in front of a pseudo-terminal of its
// own that plays the device (see support/ser2net_process.h for the server).
#pragma once

#include <string>

#include "support/pty_device.h"
#include "support/ser2net_process.h"

namespace quorvel::testing {

class Ser2NetServer {
 public:
  static constexpr const char* kProgram = Ser2NetProcess::kProgram;
  static bool Available() { return Ser2NetProcess::Available(); }
  static int FreePort() { return Ser2NetProcess::FreePort(); }

  // `telnet`: RFC 2217 (telnet(rfc2217),tcp); otherwise raw tcp.
  explicit Ser2NetServer(bool telnet = true) : server_(device_.Path(), telnet) {}

  // Starts the server and waits until it listens; false when it did not.
  bool Start() { return server_.Start(); }
  // Kills it, as a server that crashes or restarts.
  void Stop() { server_.Stop(); }

  int Port() const { return server_.Port(); }
  std::string Url() const { return server_.Url(); }
  PtyDevice& Device() { return device_; }

 private:
  PtyDevice device_;  // before the server, which is made in front of it
  Ser2NetProcess server_;
};

}  // namespace quorvel::testing
