/* Loaded into lrzsz's programs by the tests (LD_PRELOAD). Each of them
 * throws away its terminal's output queue as it exits (tcflush TCIOFLUSH),
 * right after writing its last answer. On a real line that answer has left
 * by then; on a pseudo-terminal it still waits for the relay to read it and
 * is lost, and the other side waits for it in vain. So output is never
 * thrown away here; input still is, as the programs ask. */
#define _GNU_SOURCE
#include <sys/ioctl.h>
#include <termios.h>

int tcflush(int fd, int queue) {
  if (queue == TCOFLUSH) return 0;
  if (queue == TCIOFLUSH) queue = TCIFLUSH;
  return ioctl(fd, TCFLSH, queue);
}
