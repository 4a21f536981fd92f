// tests/modbus_rtu_peer.py (or another script of the tests) as a child
// process, its output read a line at a time with a deadline, its input
// given a line to go on; ended (then reaped) with the object. Only the pid
// it started is ever signalled.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace quorvel::testing {

class ScriptPeer {
 public:
  // Runs python3 `script` (a path) with `arguments`.
  ScriptPeer(const std::string& script, const std::vector<std::string>& arguments);
  ~ScriptPeer();
  ScriptPeer(const ScriptPeer&) = delete;
  ScriptPeer& operator=(const ScriptPeer&) = delete;

  // Its next line; "" when none came within `timeout`. A script that cannot
  // run here says "SKIP <why>" first.
  std::string Line(std::chrono::seconds timeout = std::chrono::seconds(20));
  // Writes "go" and a line feed to its input.
  void Go();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
};

// The tests' Modbus peer (tests/modbus_rtu_peer.py).
std::string ModbusPeerScript();

}  // namespace quorvel::testing
