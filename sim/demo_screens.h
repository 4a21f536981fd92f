// What the demo shell draws beyond a line of text, as the bytes a console
// is sent: the banner, the colour table, and the frames of `top`. Pure
// functions, no state: the shell (sim/demo_shell.h) says when.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quorvel {

// The few coloured lines the shell opens with.
std::string ShellBanner();

// The 16 colours by name, foreground and background, then the 256-colour
// palette's cube and grey ramp as a strip of coloured cells.
std::string ColorTable();

// What `top` shows on one frame.
struct TopFigures {
  std::chrono::seconds uptime{0};
  uint64_t frame = 0;   // counts the frames: the tasks' figures change with it
  std::string reading;  // the temperature as the device reports it, "21.4 C"
  int waveRate = 0;     // lines a second, 0 when the waves are off
};

// Enters the alternate screen, hides the cursor and draws the first frame.
std::string TopEnter(const TopFigures& figures);
// Redraws in place: home, each row written over and the rest erased.
std::string TopFrame(const TopFigures& figures);
// Shows the cursor again and leaves the alternate screen, which brings the
// shell's screen back as it was.
std::string TopLeave();

}  // namespace quorvel
