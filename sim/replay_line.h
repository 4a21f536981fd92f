// The replay on a pseudo-terminal: waits for the host to open the line, then
// plays a ReplayPlayer on the master side until it finishes or a signal ends
// it.
#pragma once

#include "sim/line_recorder.h"
#include "sim/replay_player.h"

namespace quorvel {

// Returns once the host has opened the slave and had time to set its line up
// (an open empties the line, so anything sent earlier would be lost): seen
// as the line's settings changing or its exclusive use, or as the host's
// first bytes. False when a signal arrived on `signals` first.
bool WaitForHost(int master, int slave, int signals);

// Plays until the player finishes, then gives the host up to a second to read
// what is still in the line. `recorder` may be null. Returns false when the
// line failed; a signal on `signals` ends it early with true.
bool RunReplay(int master, int slave, int signals, ReplayPlayer& player, LineRecorder* recorder);

}  // namespace quorvel
