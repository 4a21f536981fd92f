// The replay on a pseudo-terminal: waits for the host to open the line, then
// plays a ReplayPlayer on the master side until it finishes or a signal ends
// it. The simulator holds no descriptor of the slave while it plays, so the
// host's close shows as a hang-up and its next open is waited for. One
// thread.
#pragma once

#include <string>

#include "sim/line_open_watch.h"
#include "sim/line_recorder.h"
#include "sim/replay_player.h"

namespace quorvel {

// The line a replay runs on; the descriptors stay the caller's.
struct ReplayLine {
  int master = -1;
  std::string slavePath;
  int signals = -1;  // readable: stop
  LineOpenWatch* watch = nullptr;
};

// Returns once a host has opened the slave and had time to set its line up
// (its open, or the flush that follows it, empties the line, so anything sent
// earlier would be lost): kHostSettle after the open, or at its first bytes.
// False when a signal arrived first.
bool WaitForHost(const ReplayLine& line);

// Plays until the player finishes, then gives the host up to a second to read
// what is still in the line. While the host has the line closed, output due
// goes into the line as a device's would, and the replay waits for the next
// open to read again. `recorder` may be null. Returns false when the line
// failed; a signal ends it early with true.
bool RunReplay(const ReplayLine& line, ReplayPlayer& player, LineRecorder* recorder);

}  // namespace quorvel
