// `quorvel --script FILE [--report FILE.xml] [--tap] [--timeout S] DEVICE`
// once the command line is read and the link is open: the script runs to its
// end with no window, its printed output and its steps going to standard
// output as they come (plain lines, or TAP with --tap, where printed lines
// become "# " comments; log(text) is printed as "log: text"), problems to
// standard error, then the JUnit report.
//
// The exit code is the run's (script/script_steps.h): 0 every step passed,
// 1 a step failed, the run was stopped or --timeout ended it, 2 the script
// could not be loaded, raised an error, or the report could not be
// written; exit(code) gives its own.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_link.h"

namespace quorvel {

// A descriptor the run's loop watches beside the script's, and what it does
// when it turns readable: the link's own work, which belongs to the thread
// that runs the loop (its calls from other threads, its reopening).
struct HeadlessWatch {
  int descriptor = -1;
  std::function<void()> ready;
};

struct HeadlessOptions {
  std::string script;
  std::string report;  // the JUnit XML file; "" for none
  bool tap = false;
  double timeoutSeconds = 0;  // 0: no limit
  // When readable (a signalfd for SIGINT and SIGTERM, a self-pipe), the
  // script is stopped; -1 for none.
  int stopDescriptor = -1;
  std::vector<HeadlessWatch> watched;
  // What the link side says meanwhile, for the errors stream ("Write com
  // fail!"); called from the loop after each wake.
  std::function<std::vector<std::string>()> news;
};

// --timeout's value: seconds above 0 up to a week, a fraction allowed;
// nothing when the text is not one.
std::optional<double> ParseTimeoutSeconds(std::string_view text);

// Runs the script against `link` (open, and left open) and returns the
// exit code.
int RunScriptHeadless(ScriptLink& link, const HeadlessOptions& options, std::FILE* out,
                      std::FILE* errors);

}  // namespace quorvel
