#!/usr/bin/python3
"""The history file's reading commands and retention, measured:

- `history export` of one day of one unit at 1 s (86,400 rows) to CSV;
- `history plot` of 30 days at 10 s (259,200 rows) to SVG;
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
import subprocess
import sys
import tempfile
import time

import measure

DAY_ROWS = 86400
MONTH_ROWS = 259200
EXPORT_GOAL_SECONDS = 2
PLOT_GOAL_SECONDS = 5
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


def timed(command, repeats):
    times = []
    for _ in range(repeats):
        started = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - started)
    return statistics.median(times), times


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
    host = f"{build}/cli/velmocair-host"
    with tempfile.TemporaryDirectory() as work, measure.Simulator(build) as simulator:
        base = stored_record(build, simulator.endpoint, work)
        day = f"{work}/day.sqlite"
        make_history(day, base, DAY_ROWS, 1)
        csv = f"{work}/day.csv"
        export_time, export_times = timed([host, "history", "export", "--history", day, "-o", csv], repeats)
        print(f"export of {DAY_ROWS} rows to CSV: {export_time:.2f} s (runs {', '.join(f'{t:.2f}' for t in export_times)});"
              f" {DAY_ROWS / export_time:,.0f} rows/s; {os.path.getsize(csv) / 1e6:.1f} MB of CSV;"
              f" goal {EXPORT_GOAL_SECONDS} s: {'met' if export_time <= EXPORT_GOAL_SECONDS else 'missed'}")
        day_bytes = os.path.getsize(day)
        print(f"bytes on disk per stored row: {day_bytes / DAY_ROWS:.0f} ({day_bytes / 1e6:.1f} MB for {DAY_ROWS} rows;"
              f" a record is {len(base)} bytes)")

        month = f"{work}/month.sqlite"
        make_history(month, base, MONTH_ROWS, 10)
        chart = f"{work}/month.svg"
        plot_time, plot_times = timed(
            [host, "history", "plot", "--history", month, "--values", "回风温度,送风湿度", "-o", chart], repeats
        )
        print(f"chart of {MONTH_ROWS} rows to SVG: {plot_time:.2f} s (runs {', '.join(f'{t:.2f}' for t in plot_times)});"
              f" {os.path.getsize(chart) / 1e3:.0f} kB of SVG;"
              f" goal {PLOT_GOAL_SECONDS} s: {'met' if plot_time <= PLOT_GOAL_SECONDS else 'missed'}")
        os.unlink(month)

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
