#!/usr/bin/python3
"""A Modbus/TCP unit served by pymodbus, an implementation independent of ours.

Serves unit address 1 on a free loopback port, prints "listening tcp
127.0.0.1:PORT" and ends by itself after LIFETIME_SECONDS (or on SIGTERM).
With zero_mode=True wire addresses equal data-block addresses. Coil a holds
coil_value(a), holding register a holds register_value(a); the test computes
the same values on its side.
"""
import asyncio
import logging

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import ModbusTcpServer

LIFETIME_SECONDS = 300
ADDRESSES = 9000  # covers every address the device reads (3501..8564)
UNIT_ID = 1


def coil_value(address):
    return 1 if (address * 7) % 5 < 2 else 0


def register_value(address):
    return (address * 37 + 11) & 0xFFFF


async def serve():
    logging.disable(logging.CRITICAL)
    unit = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [coil_value(a) for a in range(ADDRESSES)]),
        hr=ModbusSequentialDataBlock(0, [register_value(a) for a in range(ADDRESSES)]),
        zero_mode=True)
    server = ModbusTcpServer(ModbusServerContext(slaves={UNIT_ID: unit}, single=False),
                             address=("127.0.0.1", 0))
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    port = server.server.sockets[0].getsockname()[1]
    print(f"listening tcp 127.0.0.1:{port}", flush=True)
    try:
        await asyncio.wait_for(serving, LIFETIME_SECONDS)
    except asyncio.TimeoutError:
        pass
    await server.shutdown()


asyncio.run(serve())
