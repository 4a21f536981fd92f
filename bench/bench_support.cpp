#include "bench_support.h"

#include <dirent.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace quorvel::bench {

double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

Summary Summarise(std::vector<double> samples) {
  Summary summary;
  summary.count = samples.size();
  if (samples.empty()) return summary;
  std::sort(samples.begin(), samples.end());
  auto rank = [&](double fraction) {
    auto index = static_cast<size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    return samples[std::clamp<size_t>(index, 1, samples.size()) - 1];
  };
  summary.median = rank(0.5);
  summary.p99 = rank(0.99);
  summary.max = samples.back();
  return summary;
}

std::string Format(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Milliseconds(double ms) {
  return Format(ms, ms < 10 ? 3 : (ms < 100 ? 2 : 1)) + " ms";
}

Summary AddLatencyFigures(Row& row, const std::vector<double>& samples) {
  Summary summary = Summarise(samples);
  row.median = Milliseconds(summary.median);
  row.p99 = Milliseconds(summary.p99);
  row.max = Milliseconds(summary.max);
  row.samples = std::to_string(summary.count);
  return summary;
}

std::string MarkdownTable(const std::vector<Row>& rows) {
  std::ostringstream out;
  out << "| Measure | Terminal | Median | p99 | Max | Samples | Goal | Verdict | Notes |\n";
  out << "|---|---|---:|---:|---:|---:|---|---|---|\n";
  for (const Row& row : rows) {
    out << "| " << row.measure << " | " << row.terminal << " | " << row.median << " | " << row.p99
        << " | " << row.max << " | " << row.samples << " | " << row.goal << " | " << row.verdict
        << " | " << row.notes << " |\n";
  }
  return out.str();
}

double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::vector<pid_t> Tasks() {
  std::vector<pid_t> tasks;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') tasks.push_back(static_cast<pid_t>(std::atoi(entry->d_name)));
    }
    closedir(dir);
  }
  std::sort(tasks.begin(), tasks.end());
  return tasks;
}

std::optional<Switches> TaskSwitches(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
  if (!in) return std::nullopt;
  Switches switches;
  bool seen = false;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
      switches.voluntary = std::stoull(line.substr(line.find(':') + 1));
      seen = true;
    } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
      switches.involuntary = std::stoull(line.substr(line.find(':') + 1));
    }
  }
  if (!seen) return std::nullopt;
  return switches;
}

uint64_t ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  }
  return 0;
}

std::string MachineDescription() {
  std::string model = "unknown CPU";
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  utsname name{};
  uname(&name);
  long cores = sysconf(_SC_NPROCESSORS_ONLN);
  return std::to_string(cores) + " cores (nproc), " + model + ", Linux " + name.release;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

}  // namespace quorvel::bench
