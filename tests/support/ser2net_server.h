// Debian's ser2net, started by a test on 127.0.0.1 with a free port and a
// YAML file in a temporary directory, in front of a pseudo-terminal that
// plays the device. Stopped (and startable again on the same port) by the
// test; killed when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/pty_device.h"
#include "support/temp_files.h"

namespace quorvel::testing {

class Ser2NetServer {
 public:
  static constexpr const char* kProgram = "/usr/sbin/ser2net";
  // Whether ser2net is installed; a test skips with a line when it is not.
  static bool Available();
  // A TCP port on 127.0.0.1 that nothing listens on now.
  static int FreePort();

  // `telnet`: RFC 2217 (telnet(rfc2217),tcp); otherwise raw tcp.
  explicit Ser2NetServer(bool telnet = true);
  ~Ser2NetServer();
  Ser2NetServer(const Ser2NetServer&) = delete;
  Ser2NetServer& operator=(const Ser2NetServer&) = delete;

  // Starts the server and waits until it listens; false when it did not.
  bool Start();
  // Kills it, as a server that crashes or restarts.
  void Stop();

  int Port() const { return port_; }
  // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
  std::string Url() const;
  PtyDevice& Device() { return device_; }

 private:
  bool telnet_;
  int port_;
  TempDir dir_;
  PtyDevice device_;
  pid_t pid_ = -1;
};

}  // namespace quorvel::testing
