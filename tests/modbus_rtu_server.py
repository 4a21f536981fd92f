#!/usr/bin/python3
"""A Modbus RTU server on a pseudo-terminal, for the terminal's tests.

Unit 1 holds the holding registers 0x1234, 0x5678, 0x9ABC, 0xDEF0 from
address 0. The server opens one pseudo-terminal; the terminal gets another,
and the two masters are joined, so each side has a path to open. Prints
the terminal's path once the server is listening, or "SKIP <why>" and exits
when pymodbus cannot run here. Runs until it is killed.
"""
import asyncio
import os
import select
import sys
import threading
import tty

try:
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.server import StartAsyncSerialServer
    from pymodbus.transaction import ModbusRtuFramer
except ImportError as error:  # pymodbus or pyserial-asyncio missing
    print(f"SKIP pymodbus cannot run: {error}", flush=True)
    sys.exit(0)

REGISTERS = [0x1234, 0x5678, 0x9ABC, 0xDEF0]


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


async def serve(server_path, terminal_path):
    block = ModbusSequentialDataBlock(0, REGISTERS)
    unit = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: unit}, single=False)
    server = await StartAsyncSerialServer(context=context, framer=ModbusRtuFramer,
                                          port=server_path, baudrate=9600,
                                          defer_start=True)
    await server.start()
    print(terminal_path, flush=True)
    await server.serve_forever()


def main():
    terminal_master, terminal_slave = os.openpty()
    server_master, server_slave = os.openpty()
    # The slaves stay open here so that neither line hangs up between opens.
    for fd in (terminal_slave, server_slave):
        tty.setraw(fd)
    threading.Thread(target=join, args=(terminal_master, server_master), daemon=True).start()
    asyncio.run(serve(os.ttyname(server_slave), os.ttyname(terminal_slave)))


if __name__ == "__main__":
    main()
