// A program run as its own process, as a user or a CI job runs it: its
// output and error streams read with deadlines, its exit code waited for
// with one. Only a process that started is ever signalled or waited for (a
// pid of -1 would reach every process the test may signal, or reap any
// child).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.h"

namespace quorvel::testing {

// The build puts the programs beside the tests: <build>/ui/quorvel,
// <build>/tools/quorvel-devsim.
std::filesystem::path BuiltProgram(const std::string& folder, const std::string& name);

class ChildProcess {
 public:
  // Runs `argv` (argv[0] the program's path) in `directory`, with `env`
  // over the test's environment: a value sets the variable, nullopt
  // removes it.
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::optional<std::string>>& env = {},
               const std::filesystem::path& directory = std::filesystem::current_path());
  ~ChildProcess();  // kills one still running, and reaps it
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int signal);

  // The next line of its output, without the line break; nullopt on timeout
  // or at the end of the output.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Its exit code (128 + the signal for one that a signal ended) once it has
  // ended; nullopt if it still runs at the deadline. Reads its streams
  // meanwhile, so a full pipe never holds it.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Everything it wrote (after WaitExit: all of it).
  std::string Output();
  std::string Errors();

 private:
  bool Pump(int timeoutMs);

  pid_t pid_ = -1;
  UniqueFd out_;
  UniqueFd err_;
  std::string outText_;  // not yet taken by ReadLine
  std::string errText_;
  std::optional<int> code_;
};

}  // namespace quorvel::testing
