#!/usr/bin/env python3
"""A Modbus-RTU server from pymodbus with fixed holding registers, as an independent peer for
Quorvel's measurement request.

    pymodbus_server.py --port /tmp/x --address 1 --registers=235,655,167 [--answer-address-read]

With --answer-address-read it also answers the read of register 0x0100 sent to address 0 with
its own address, as the sensor module does, so that a tool that reads the address on linking
finds it.

Prints "ready" on stdout once the port is open and then serves until killed.
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
from pymodbus.server import StartAsyncSerialServer


ADDRESS_REGISTER = 0x0100


def register_value(text):
    # Signed values travel as their 16-bit two's complement.
    value = int(text)
    if not -32768 <= value <= 65535:
        raise argparse.ArgumentTypeError(f"{text} does not fit a 16-bit register")
    return value & 0xFFFF


async def serve(args):
    block = ModbusSequentialDataBlock(0, args.registers)
    slave = ModbusSlaveContext(hr=block, zero_mode=True)
    slaves = {args.address: slave}
    if args.answer_address_read:
        address_block = ModbusSequentialDataBlock(ADDRESS_REGISTER, [args.address])
        slaves[0] = ModbusSlaveContext(hr=address_block, zero_mode=True)
    context = ModbusServerContext(slaves=slaves, single=False)
    server = await StartAsyncSerialServer(
        context=context,
        framer=ModbusRtuFramer,
        port=args.port,
        baudrate=args.baudrate,
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
    parser.add_argument("--port", required=True)
    parser.add_argument("--baudrate", type=int, default=9600)
    parser.add_argument("--address", type=int, default=1)
    parser.add_argument(
        "--registers",
        type=lambda s: [register_value(v) for v in s.split(",")],
        required=True,
        help="comma-separated values of the holding registers from 0 on",
    )
    parser.add_argument("--answer-address-read", action="store_true")
    return asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    sys.exit(main())
