#include "support/cpu_time.h"

#include <sys/resource.h>

#include <thread>

namespace quorvel::testing {

std::chrono::microseconds ProcessCpuTime() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto micros = [](const timeval& t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
  };
  return micros(usage.ru_utime) + micros(usage.ru_stime);
}

double CpuShareOver(std::chrono::milliseconds window) {
  auto cpuBefore = ProcessCpuTime();
  auto wallBefore = std::chrono::steady_clock::now();
  // A measuring window, not a wait for an event: the loop under test must be
  // left alone for a while to show whether it rests.
  std::this_thread::sleep_for(window);
  auto cpu = ProcessCpuTime() - cpuBefore;
  auto wall = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - wallBefore);
  return static_cast<double>(cpu.count()) / static_cast<double>(wall.count());
}

}  // namespace quorvel::testing
