// Debian's ser2net on 127.0.0.1, for the tests and the benchmarks: a free
// TCP port and a YAML file in a temporary directory of its own, in front of
// one device path (a pseudo-terminal that plays the device). Started and
// stopped as often as wanted, on the same port (as a server that crashes or
// restarts); killed, and its directory removed, when the object goes. One
// thread.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace quorvel::testing {

// How ser2net drives the device.
struct Ser2NetTuning {
  std::string line = "9600n81";  // the device's line, as ser2net writes it
  bool waitForMoreBytes = true;  // false: what it reads goes out at once (no chardelay)
};

class Ser2NetProcess {
 public:
  static constexpr const char* kProgram = "/usr/sbin/ser2net";
  // Whether ser2net is installed; a caller skips with a line when it is not.
  static bool Available();
  // A TCP port on 127.0.0.1 that nothing listens on now.
  static int FreePort();

  // `telnet`: RFC 2217 (telnet(rfc2217),tcp); otherwise raw tcp.
  Ser2NetProcess(const std::string& devicePath, bool telnet, const Ser2NetTuning& tuning = {});
  ~Ser2NetProcess();
  Ser2NetProcess(const Ser2NetProcess&) = delete;
  Ser2NetProcess& operator=(const Ser2NetProcess&) = delete;

  // Starts the server and waits until it listens; false when it did not
  // within 5 s (not installed, or it exited).
  bool Start();
  // Kills it; harmless when it does not run.
  void Stop();

  int Port() const { return port_; }
  // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
  std::string Url() const;

 private:
  bool telnet_;
  int port_;
  std::filesystem::path directory_;  // empty when none could be made
  pid_t pid_ = -1;
};

}  // namespace quorvel::testing
