#!/usr/bin/env python3
"""A pymodbus Modbus-RTU server with fixed holding registers, as an independent peer for Quorvel.

On a serial port, or with --tcp the same RTU frames over a TCP connection on the loopback, as a
serial device server in transparent mode passes them.

Like the sensor module, it also answers the read of the address register 0x0100 sent to
address 0. Prints "ready" once the port is open, then serves until killed.
"""

import argparse
import asyncio
import sys

from pymodbus.datastore import (
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartAsyncSerialServer, StartAsyncTcpServer


def holding(start, values):
    return ModbusSlaveContext(hr=ModbusSequentialDataBlock(start, values), zero_mode=True)


async def serve(args):
    # Signed values travel as their 16-bit two's complement.
    registers = [int(value) & 0xFFFF for value in args.registers.split(",")]
    slaves = {args.address: holding(0, registers), 0: holding(0x0100, [args.address])}
    if args.tcp:
        server = await StartAsyncTcpServer(
            context=ModbusServerContext(slaves=slaves, single=False),
            framer=ModbusRtuFramer,
            address=("127.0.0.1", args.tcp),
            ignore_missing_slaves=True,
            defer_start=True,
        )
        serving = asyncio.create_task(server.serve_forever())
        await server.serving
        print("ready", flush=True)
        await serving
        return 0
    server = await StartAsyncSerialServer(
        context=ModbusServerContext(slaves=slaves, single=False),
        framer=ModbusRtuFramer,
        port=args.port,
        baudrate=9600,
        bytesize=8,
        parity="N",
        stopbits=1,
        ignore_missing_slaves=True,
        defer_start=True,
    )
    await server.start()
    if server.transport is None:
        print(f"cannot open {args.port}", file=sys.stderr, flush=True)
        return 1
    print("ready", flush=True)
    await server.serve_forever()
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port")
    parser.add_argument("--tcp", type=int)
    parser.add_argument("--address", type=int, required=True)
    parser.add_argument("--registers", required=True)
    return asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    sys.exit(main())
