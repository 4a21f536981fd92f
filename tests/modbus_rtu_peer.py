#!/usr/bin/python3
"""A Modbus RTU peer on a pseudo-terminal, for the terminal's tests.

  modbus_rtu_peer.py server  serves unit 1, whose holding registers from
                             address 0 are 0x1234, 0x5678, 0x9ABC, 0xDEF0,
                             until it is killed;
  modbus_rtu_peer.py client  waits for a line on its input, then asks unit 1
                             for two holding registers from address 0 and
                             prints "registers 4660 22136" (or what failed).
  modbus_rtu_peer.py bridge N  plays both ends of a bridge: a server as above
                             behind one line and a client behind another;
                             prints the two paths the bridge opens (the
                             client's side first), waits for a line on its
                             input, then asks N times for one register in
                             turn and prints "answered K of N".

The peer opens one pseudo-terminal; the terminal gets another, and the two
masters are joined, so each side has a path to open. The terminal's path is
printed first, once the peer is ready; or "SKIP <why>" when pymodbus cannot
run here.
"""
import asyncio
import os
import select
import sys
import threading
import tty

try:
    from pymodbus.client import ModbusSerialClient
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


async def serve(peer_path, terminal_path):
    block = ModbusSequentialDataBlock(0, REGISTERS)
    unit = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: unit}, single=False)
    server = await StartAsyncSerialServer(context=context, framer=ModbusRtuFramer,
                                          port=peer_path, baudrate=9600, defer_start=True)
    await server.start()
    print(terminal_path, flush=True)
    await server.serve_forever()


def ask(peer_path, terminal_path):
    client = ModbusSerialClient(port=peer_path, framer=ModbusRtuFramer, baudrate=9600,
                                timeout=3, retries=0)
    if not client.connect():
        print("FAIL cannot open", peer_path, flush=True)
        return
    print(terminal_path, flush=True)
    sys.stdin.readline()
    answer = client.read_holding_registers(0, 2, slave=1)
    if answer.isError():
        print("FAIL", answer, flush=True)
    else:
        print("registers", *answer.registers, flush=True)
    client.close()


def joined_lines():
    """Two pseudo-terminals with their masters joined: (one path, other path)."""
    first_master, first_slave = os.openpty()
    second_master, second_slave = os.openpty()
    for fd in (first_slave, second_slave):
        tty.setraw(fd)
    threading.Thread(target=join, args=(first_master, second_master), daemon=True).start()
    return os.ttyname(first_slave), os.ttyname(second_slave), (first_slave, second_slave)


def bridge_ends(count):
    client_path, bridge_a, kept_a = joined_lines()
    server_path, bridge_b, kept_b = joined_lines()
    ready = threading.Event()

    async def serve_ready():
        block = ModbusSequentialDataBlock(0, REGISTERS)
        unit = ModbusSlaveContext(hr=block, zero_mode=True)
        context = ModbusServerContext(slaves={1: unit}, single=False)
        server = await StartAsyncSerialServer(context=context, framer=ModbusRtuFramer,
                                              port=server_path, baudrate=9600, defer_start=True)
        await server.start()
        ready.set()
        await server.serve_forever()

    threading.Thread(target=lambda: asyncio.run(serve_ready()), daemon=True).start()
    client = ModbusSerialClient(port=client_path, framer=ModbusRtuFramer, baudrate=9600,
                                timeout=3, retries=0)
    if not ready.wait(20) or not client.connect():
        print("FAIL the peers did not start", flush=True)
        return
    print(bridge_a, bridge_b, flush=True)
    sys.stdin.readline()
    answered = 0
    for i in range(count):
        address = i % len(REGISTERS)
        answer = client.read_holding_registers(address, 1, slave=1)
        if not answer.isError() and answer.registers == [REGISTERS[address]]:
            answered += 1
        else:
            print("missed", i, answer, flush=True)
    print("answered", answered, "of", count, flush=True)
    client.close()
    del kept_a, kept_b


def main():
    if sys.argv[1:2] == ["bridge"]:
        bridge_ends(int(sys.argv[2]))
        return
    terminal_master, terminal_slave = os.openpty()
    peer_master, peer_slave = os.openpty()
    # The slaves stay open here so that neither line hangs up between opens.
    for fd in (terminal_slave, peer_slave):
        tty.setraw(fd)
    threading.Thread(target=join, args=(terminal_master, peer_master), daemon=True).start()
    paths = (os.ttyname(peer_slave), os.ttyname(terminal_slave))
    if sys.argv[1:] == ["client"]:
        ask(*paths)
    else:
        asyncio.run(serve(*paths))


if __name__ == "__main__":
    main()
