#include "sim/demo_screens.h"

#include <array>
#include <cstdio>

namespace quorvel {
namespace {

constexpr std::array<const char*, 8> kColorNames = {"black", "red",     "green", "yellow",
                                                    "blue",  "magenta", "cyan",  "white"};
constexpr char kReset[] = "\x1b[0m";

std::string Padded(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string Sgr(const std::string& parameters) {
  return "\x1b[" + parameters + "m";
}

// A row of the eight colours, each `first + n` (30: foreground, 40:
// background, 90 and 100: their bright halves) under a label.
std::string ColorRow(const char* label, int first, bool named) {
  std::string row = Padded(label, 10);
  for (int n = 0; n < 8; ++n) {
    std::string text = named ? kColorNames[n] : " " + std::to_string(first >= 100 ? n + 8 : n);
    row += Sgr(std::to_string(first + n)) + Padded(text, 8) + kReset;
  }
  return row + "\r\n";
}

// Cells of the 256-colour palette from `first`, `count` of them, `width`
// columns each.
std::string PaletteRow(int first, int count, int width) {
  std::string row = Padded("", 10);
  for (int n = first; n < first + count; ++n) {
    row += Sgr("48;5;" + std::to_string(n)) + std::string(static_cast<size_t>(width), ' ');
  }
  return row + kReset + "\r\n";
}

struct Task {
  const char* name;
  int weight;  // how busy it tends to be, in tenths of a per cent at most
};

constexpr std::array<Task, 4> kTasks = {
    {{"sampler", 120}, {"modbus", 40}, {"wave", 200}, {"console", 80}}};

// A task's CPU share on a frame, in tenths of a per cent: made up, but the
// same on every run, and never two frames alike.
int CpuTenths(size_t task, uint64_t frame) {
  uint64_t mixed = (frame + 1) * (37 + 11 * task) + 13 * task;
  return static_cast<int>(mixed % static_cast<uint64_t>(kTasks[task].weight));
}

std::string TaskRow(int pid, const char* name, int tenths, const char* state) {
  char row[80];
  std::snprintf(row, sizeof row, "%5d  %-10s %3d.%d  %s", pid, name, tenths / 10, tenths % 10,
                state);
  return row;
}

std::string Uptime(std::chrono::seconds uptime) {
  long long total = uptime.count();
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                total % 60);
  return text;
}

std::array<std::string, 10> TopRows(const TopFigures& figures) {
  std::array<std::string, 10> rows;
  std::string waves = figures.waveRate > 0 ? std::to_string(figures.waveRate) + "/s" : "off";
  rows[0] = Sgr("1;7") + " demo top   up " + Uptime(figures.uptime) + "   " + figures.reading +
            "   waves " + waves + " " + kReset;
  rows[2] = Sgr("1") + "  PID  TASK        CPU%  STATE" + kReset;
  int busy = 0;
  for (size_t n = 0; n < kTasks.size(); ++n) {
    int tenths = CpuTenths(n, figures.frame);
    if (n == 2 && figures.waveRate == 0) tenths = 0;
    busy += tenths;
    rows[3 + n] = TaskRow(static_cast<int>(n + 1), kTasks[n].name, tenths,
                          tenths > 0 ? "running" : "sleeping");
  }
  rows[3 + kTasks.size()] =
      TaskRow(static_cast<int>(kTasks.size() + 1), "idle", 1000 - busy, "running");
  rows[9] = Sgr("2") + "q or Ctrl+C quits" + kReset;
  return rows;
}

}  // namespace

std::string ShellBanner() {
  return Sgr("1;36") + "Quorvel demo device" + kReset + " - a small shell to try the console\r\n" +
         "Type " + Sgr("1;33") + "help" + kReset + " for its commands, " + Sgr("1;33") + "exit" +
         kReset + " to leave it; Tab completes, Up and Down recall.\r\n";
}

std::string ColorTable() {
  std::string table = ColorRow("normal", 30, true) + ColorRow("bright", 90, true) +
                      ColorRow("on", 40, false) + ColorRow("on bright", 100, false) + "\r\n";
  for (int first = 16; first < 232; first += 36) table += PaletteRow(first, 36, 1);
  return table + PaletteRow(232, 24, 2);
}

std::string TopEnter(const TopFigures& figures) {
  return "\x1b[?1049h\x1b[?25l\x1b[2J" + TopFrame(figures);
}

std::string TopFrame(const TopFigures& figures) {
  std::string frame;
  std::array<std::string, 10> rows = TopRows(figures);
  for (size_t n = 0; n < rows.size(); ++n) {
    frame += "\x1b[" + std::to_string(n + 1) + ";1H" + rows[n] + "\x1b[K";
  }
  return frame + "\r\n\x1b[J";
}

std::string TopLeave() {
  return "\x1b[?25h\x1b[?1049l";
}

}  // namespace quorvel
