#!/usr/bin/python3
"""The history file's retention and size, measured (its reading commands:
history_reading.py, which makes its histories with make_history):

- the host's cycle with a history under a size limit that it prunes all
  the time, against the same host with a history kept whole;
- bytes on disk per stored row.

    history_tools.py BUILD_DIR [REPEATS]

The histories are made with the host's own schema from a record a real
cycle stored, with the return-air temperature, the supply-air humidity and
one alarm changing from row to row, so that no two neighbouring records are
the same (the worst case for decoding). Times are medians of REPEATS
(default 3); the cycle figures are taken as in side_by_side.py.
"""
import datetime
import os
import shutil
import sqlite3
import statistics
import sys
import tempfile

import measure

DAY_ROWS = 86400
RETENTION_LIMIT = "20MB"
PREFILLED_ROWS = 60000  # about 30 MB: over the limit from the first cycle
HOST_CYCLES = 1000
WARM_UP_CYCLES = 20
RETURN_AIR = 87  # register 8005, tenths
SUPPLY_HUMIDITY = 107  # register 8015, tenths
HIGH_TEMPERATURE = 46  # coil 8043
SCHEMA = (
    "PRAGMA auto_vacuum=INCREMENTAL; PRAGMA journal_mode=WAL;"
    "CREATE TABLE history (id INTEGER PRIMARY KEY, data_id INTEGER NOT NULL,"
    " time TEXT NOT NULL, record BLOB NOT NULL);"
    "CREATE INDEX history_by_unit ON history (data_id, id);"
)


def stored_record(build, endpoint, work):
    """The record one real cycle stores."""
    path = f"{work}/one.sqlite"
    measure.run([f"{build}/cli/velmocair-host", "--tcp", endpoint, "--cycles", "1", "--history", path])
    with sqlite3.connect(path) as db:
        return bytearray(db.execute("SELECT record FROM history").fetchone()[0])


def make_history(path, base, rows, step_seconds):
    """`rows` rows of unit 1, one every step_seconds from 2024-01-01."""
    db = sqlite3.connect(path)
    db.executescript(SCHEMA)
    start = datetime.datetime(2024, 1, 1)
    record = bytearray(base)

    def row(i):
        temperature = 200 + (i * 7) % 120
        humidity = 400 + (i * 13) % 200
        record[RETURN_AIR : RETURN_AIR + 2] = temperature.to_bytes(2, "little")
        record[SUPPLY_HUMIDITY : SUPPLY_HUMIDITY + 2] = humidity.to_bytes(2, "little")
        record[HIGH_TEMPERATURE] = 1 if (i // 600) % 10 == 0 else 0
        time_text = (start + datetime.timedelta(seconds=i * step_seconds)).strftime("%Y-%m-%d %H:%M:%S")
        return (1, time_text, bytes(record))

    db.executemany("INSERT INTO history (data_id, time, record) VALUES (?, ?, ?)", (row(i) for i in range(rows)))
    db.commit()
    db.close()


def host_cycle(build, endpoint, work, prefilled, retention, repeats):
    """Per-cycle time and CPU of the host polling back to back into a copy
    of the prefilled history, with or without a size limit."""
    runs = []
    for _ in range(repeats):

        def command_for(cycles):
            path = f"{work}/cycle.sqlite"
            for suffix in ("", "-wal", "-shm"):
                if os.path.exists(path + suffix):
                    os.unlink(path + suffix)
            shutil.copyfile(prefilled, path)
            command = measure.host_command(build, ["--tcp", endpoint], cycles) + ["--history", path]
            return command + (["--history-max-size", RETENTION_LIMIT] if retention else [])

        runs.append(measure.per_cycle(command_for, WARM_UP_CYCLES, HOST_CYCLES))
    return runs


def main(argv):
    build = argv[1]
    repeats = int(argv[2]) if len(argv) > 2 else 3
    with tempfile.TemporaryDirectory() as work, measure.Simulator(build) as simulator:
        base = stored_record(build, simulator.endpoint, work)
        day = f"{work}/day.sqlite"
        make_history(day, base, DAY_ROWS, 1)
        day_bytes = os.path.getsize(day)
        print(f"bytes on disk per stored row: {day_bytes / DAY_ROWS:.0f} ({day_bytes / 1e6:.1f} MB for {DAY_ROWS} rows;"
              f" a record is {len(base)} bytes)")

        prefilled = f"{work}/prefilled.sqlite"
        make_history(prefilled, base, PREFILLED_ROWS, 1)
        kept = host_cycle(build, simulator.endpoint, work, prefilled, False, repeats)
        pruned = host_cycle(build, simulator.endpoint, work, prefilled, True, repeats)

        def ms(runs, field):
            return statistics.median(getattr(run, field) for run in runs) * 1000

        print(f"host cycle, history kept whole: {ms(kept, 'wall'):.3f} ms, CPU {ms(kept, 'cpu'):.3f} ms")
        print(f"host cycle, pruned to {RETENTION_LIMIT} every cycle: {ms(pruned, 'wall'):.3f} ms, CPU {ms(pruned, 'cpu'):.3f} ms")
        print(f"pruning delay per cycle: {ms(pruned, 'wall') - ms(kept, 'wall'):+.3f} ms")


if __name__ == "__main__":
    main(sys.argv)
