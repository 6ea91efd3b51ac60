#!/usr/bin/python3
"""A poller as a user might write it with pymodbus instead of the plug-in.

    pymodbus_poller.py LAYOUT HOST:PORT UNIT_ID CYCLES [TEXT_FILE]

Each cycle issues the device's 20 reads with pymodbus's synchronous TCP
client, fills the 441-byte record, builds the status document as the device
does (the assignments come from LAYOUT, printed by poller-layout) and
serialises it with json.dumps. The text of the last cycle goes to TEXT_FILE
when given. Exit status 0 when every read was answered, 1 otherwise.
"""
import json
import logging
import struct
import sys
import time

from pymodbus.client import ModbusTcpClient

TIME_STAMP = "<H5B"  # 16-bit year, month, day, hour, minute, second


def read_block(client, read, unit_id):
    if read["kind"] == "coils":
        reply = client.read_coils(read["first"], read["count"], slave=unit_id)
        if reply.isError():
            raise IOError(f"coils {read['first']}: {reply}")
        return bytes(1 if bit else 0 for bit in reply.bits[: read["count"]])
    reply = client.read_holding_registers(read["first"], read["count"], slave=unit_id)
    if reply.isError():
        raise IOError(f"registers {read['first']}: {reply}")
    return struct.pack(f"<{read['count']}H", *reply.registers)


def poll_record(client, layout, unit_id):
    record = bytearray(layout["record_size"])
    for read in layout["reads"]:
        block = read_block(client, read, unit_id)
        record[read["offset"] : read["offset"] + read["bytes"]] = block
    now = time.localtime()
    struct.pack_into(
        TIME_STAMP,
        record,
        layout["time_stamp"],
        now.tm_year,
        now.tm_mon,
        now.tm_mday,
        now.tm_hour,
        now.tm_min,
        now.tm_sec,
    )
    return record


def tenths(value):
    """value / 10 in single precision, as the unit's firmware shows it."""
    return struct.unpack("<f", struct.pack("<f", value / 10))[0]


def build_document(record, layout):
    document = {}
    for member in layout["members"]:
        offset = member["offset"]
        if member["kind"] == "coils":
            value = record[offset]
        else:
            value = struct.unpack_from("<H", record, offset)[0]
        group = document.setdefault(member["group"], {})
        key = member["key"]
        if member["rule"] == "state_text":
            texts = member["texts"]
            text = texts[value] if value < len(texts) else None
            group[key] = text if text is not None else layout["invalid"]
        elif member["rule"] == "number":
            group[key] = tenths(value) if member["tenths"] else float(value)
        else:
            group[key] = layout["alarm_active"] if value else layout["alarm_normal"]
            group.setdefault(layout["alert_array"], {})[key] = value != 0
    year, month, day, hour, minute, second = struct.unpack_from(TIME_STAMP, record, layout["time_stamp"])
    document[layout["update_time"]] = f"{year}-{month}-{day} {hour}:{minute}:{second}"
    return document


def main(argv):
    if len(argv) not in (5, 6):
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as layout_file:
        layout = json.load(layout_file)
    host, port = argv[2].rsplit(":", 1)
    unit_id, cycles = int(argv[3]), int(argv[4])
    logging.disable(logging.CRITICAL)
    client = ModbusTcpClient(host, port=int(port))
    if not client.connect():
        print(f"pymodbus_poller: cannot connect to {argv[2]}", file=sys.stderr)
        return 1
    text = ""
    try:
        for _ in range(cycles):
            document = build_document(poll_record(client, layout, unit_id), layout)
            text = json.dumps(document, separators=(",", ":"), sort_keys=True) + "\n"
    except IOError as error:
        print(f"pymodbus_poller: {error}", file=sys.stderr)
        return 1
    finally:
        client.close()
    if len(argv) == 6:
        with open(argv[5], "w", encoding="ascii") as out:
            out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
