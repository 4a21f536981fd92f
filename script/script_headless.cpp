#include "script/script_headless.h"

#include <poll.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "script/script_report.h"
#include "script/script_runner.h"

namespace quorvel {
namespace {

constexpr double kMaxTimeoutSeconds = 7 * 24 * 3600.0;

void Write(std::FILE* file, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), file);
}

// The report, whole or not at all as far as the caller is told: a write or
// close that fails says why.
std::string WriteReport(const std::string& path, const std::string& xml) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return std::strerror(errno);
  bool written = std::fwrite(xml.data(), 1, xml.size(), file) == xml.size();
  int error = errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    error = errno;
  }
  return written ? "" : std::strerror(error);
}

// Writes what the run said, as it comes.
class Stream {
 public:
  Stream(std::FILE* out, bool tap) : out_(out), tap_(tap) {
    if (tap_) Write(out_, TapHeader());
  }

  void Take(const ScriptEvent& event) {
    switch (event.kind) {
      case ScriptEvent::Kind::kPrinted:
        Write(out_, tap_ ? TapComment(event.text) : event.text);
        break;
      case ScriptEvent::Kind::kStep:
        Write(out_, tap_ ? TapStep(++points_, event.step) : PlainStep(event.step));
        break;
      case ScriptEvent::Kind::kEnded:
        break;
    }
  }

  void End(const ScriptResult& result) {
    if (!tap_) {
      Write(out_, PlainSummary(result));
      return;
    }
    if (result.stepsNotKept > 0) {
      // The steps past the kept number never reached the stream: one test
      // point stands for them, failed when any of them failed.
      ScriptStep rest{std::to_string(result.stepsNotKept) + " steps not listed",
                      result.failedNotKept == 0,
                      0,
                      result.seconds * 1000,
                      std::to_string(result.failedNotKept) + " of them failed",
                      ""};
      Write(out_, TapStep(++points_, rest));
    }
    if (result.end == ScriptEnd::kError) {
      ScriptStep error{"script error", false, 0, result.seconds * 1000, result.error, ""};
      Write(out_, TapStep(++points_, error));
    }
    Write(out_, TapPlan(points_));
  }

 private:
  std::FILE* out_;
  bool tap_;
  int points_ = 0;
};

std::string ScriptName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<double> ParseTimeoutSeconds(std::string_view text) {
  double seconds = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(seconds > 0 && seconds <= kMaxTimeoutSeconds)) return std::nullopt;
  return seconds;
}

int RunScriptHeadless(ScriptLink& link, const HeadlessOptions& options, std::FILE* out,
                      std::FILE* errors) {
  ScriptRunner runner(link);
  ScriptRunner::Options runOptions;
  runOptions.timeoutSeconds = options.timeoutSeconds;
  runOptions.echoLog = true;  // no session view or log file shows it here
  std::string problem;
  if (!runner.Start(options.script, runOptions, problem)) {
    std::fprintf(errors, "quorvel: %s\n", problem.c_str());
    if (options.tap) Write(out, TapHeader() + "Bail out! " + TapComment(problem).substr(2));
    std::fflush(out);
    if (!options.report.empty()) {
      ScriptResult failed;
      failed.end = ScriptEnd::kError;
      failed.error = problem;
      std::string why = WriteReport(options.report, JUnitXml(ScriptName(options.script), failed));
      if (!why.empty()) {
        std::fprintf(errors, "quorvel: the report %s cannot be written: %s\n",
                     options.report.c_str(), why.c_str());
      }
    }
    return 2;
  }

  Stream stream(out, options.tap);
  int stopDescriptor = options.stopDescriptor;
  bool ended = false;
  std::vector<pollfd> watched;
  while (!ended) {
    // The script's events, the stop, then the link's own descriptors.
    watched.assign({{runner.EventDescriptor(), POLLIN, 0}, {stopDescriptor, POLLIN, 0}});
    for (const HeadlessWatch& watch : options.watched) {
      watched.push_back({watch.descriptor, POLLIN, 0});
    }
    if (watched[0].fd < 0) {
      // No descriptor from the kernel: the events are taken at the end.
      runner.Wait();
    } else if (poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) {
      std::fprintf(errors, "quorvel: waiting for the script: %s\n", std::strerror(errno));
      runner.Stop();
      runner.Wait();
    }
    if (stopDescriptor >= 0 && watched[1].revents != 0) {
      runner.Stop();
      stopDescriptor = -1;  // heard once; the script ends within its stop bound
    }
    for (size_t i = 0; i < options.watched.size(); ++i) {
      if (watched[i + 2].revents != 0 && options.watched[i].ready) options.watched[i].ready();
    }
    if (options.news) {
      for (const std::string& text : options.news()) {
        std::fprintf(errors, "quorvel: %s\n", text.c_str());
      }
    }
    for (const ScriptEvent& event : runner.TakeEvents()) {
      stream.Take(event);
      ended = ended || event.kind == ScriptEvent::Kind::kEnded;
    }
    if (!runner.Running() && watched[0].fd < 0) ended = true;
    std::fflush(out);
  }

  ScriptResult result = runner.Wait();
  stream.End(result);
  std::fflush(out);
  if (result.end == ScriptEnd::kError) {
    std::fprintf(errors, "quorvel: %s\n", result.error.c_str());
    if (!result.traceback.empty()) std::fprintf(errors, "%s\n", result.traceback.c_str());
  }
  if (!options.report.empty()) {
    std::string why = WriteReport(options.report, JUnitXml(ScriptName(options.script), result));
    if (!why.empty()) {
      std::fprintf(errors, "quorvel: the report %s cannot be written: %s\n", options.report.c_str(),
                   why.c_str());
      return 2;
    }
  }
  return result.exitCode;
}

}  // namespace quorvel
