#!/usr/bin/python3
"""An echoing serial device played by pyserial on a pseudo-terminal, for the
terminal's tests: every byte it reads goes back as it came, until it is
killed.

The peer opens one pseudo-terminal with pyserial; the terminal gets
another, and the two masters are joined, so each side has a path to open.
The terminal's path is printed first, once the peer is ready; or
"SKIP <why>" when pyserial cannot run here.
"""
import os
import select
import sys
import threading
import tty

try:
    import serial
except ImportError as error:
    print(f"SKIP pyserial cannot run: {error}", flush=True)
    sys.exit(0)


def join(first, second):
    """Copies bytes both ways between two pseudo-terminal masters."""
    while True:
        ready, _, _ = select.select([first, second], [], [])
        for source in ready:
            target = second if source == first else first
            try:
                data = os.read(source, 4096)
            except OSError:
                return
            os.write(target, data)


def main():
    terminal_master, terminal_slave = os.openpty()
    peer_master, peer_slave = os.openpty()
    # The slaves stay open here so that neither line hangs up between opens.
    for fd in (terminal_slave, peer_slave):
        tty.setraw(fd)
    threading.Thread(target=join, args=(terminal_master, peer_master), daemon=True).start()
    device = serial.Serial(os.ttyname(peer_slave), baudrate=115200, timeout=None)
    print(os.ttyname(terminal_slave), flush=True)
    while True:
        data = device.read(max(1, device.in_waiting))
        device.write(data)


if __name__ == "__main__":
    main()
