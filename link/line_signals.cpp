#include "link/line_signals.h"

#include <poll.h>

namespace quorvel {

void LineSignals::Pause(int ms) const {
  pollfd cancel = {cancelEvent_.Descriptor(), POLLIN, 0};
  ::poll(&cancel, 1, ms);
}

}  // namespace quorvel
