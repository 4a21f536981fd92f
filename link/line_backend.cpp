#include "link/line_backend.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "core/unique_fd.h"

namespace quorvel {

OpenOutcome LineBackend::FinishConnect(const LineParameters&, LinesAtOpen) {
  return OpenOutcome::Failed(PortFailure::Step::kConnect, ENOTCONN);
}

void StandInForDeadLine(int fd) {
  if (fd < 0) return;
  UniqueFd placeholder(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (placeholder) ::dup3(placeholder.Get(), fd, O_CLOEXEC);
}

}  // namespace quorvel
