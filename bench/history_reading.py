#!/usr/bin/python3
"""The history's reading commands against their goals, each beside the
floor: SQLite alone (the sqlite3 program) reading the same rows.

- `history export` of one day of one unit at 1 s (86,400 rows) to CSV;
- `history plot` of 30 days at 10 s (259,200 rows), two values, to SVG;
- one hour out of a month of one unit at 1 s (3,600 of 2,592,000 rows) to CSV;
- with --month: the month itself exported to CSV and charted, with the
  chart's peak resident memory.

    history_reading.py BUILD_DIR [REPEATS] [--month]

The histories have the host's schema (both indexes) and a record a real
cycle stored, with the return-air temperature, the supply-air humidity and
one alarm changing from row to row (history_tools.py makes them). Times are
medians of REPEATS (default 3), wall clock and CPU (user and system) of
the process, warm (each file read once before); on a machine that other
jobs load, the CPU time is the figure to compare.
"""
import os
import resource
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

import history_tools
import measure

DAY_ROWS = 86400
CHART_ROWS = 259200
MONTH_ROWS = 2592000
TIME_INDEX = "CREATE INDEX history_by_time ON history (data_id, time);"


def make(path, base, rows, step):
    history_tools.make_history(path, base, rows, step)
    with sqlite3.connect(path) as db:
        db.executescript(TIME_INDEX)


def timed(command, repeats):
    """Median wall time, the runs' wall times, the largest peak resident
    memory (MB) and the median CPU time (user and system) of runs."""
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    times = []
    cpu = []
    peak = 0
    for _ in range(repeats):
        started = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        times.append(time.perf_counter() - started)
        assert os.waitstatus_to_exitcode(status) == 0, command
        peak = max(peak, usage.ru_maxrss / 1024)
        cpu.append(usage.ru_utime + usage.ru_stime)
    return statistics.median(times), times, peak, statistics.median(cpu)


def floor(path, where, repeats):
    """SQLite alone: the same rows read, each record's bytes touched."""
    sql = f"SELECT count(*), sum(length(record)), max(time) FROM history WHERE {where};"
    return timed(["sqlite3", path, sql], repeats)


def report(what, goal, figures, floor_figures):
    median, runs, peak, cpu = figures
    print(f"{what}: {median:.3f} s (runs {', '.join(f'{t:.3f}' for t in runs)}), CPU {cpu:.3f} s,"
          f" peak {peak:.1f} MB; SQLite alone {floor_figures[0]:.3f} s, CPU {floor_figures[3]:.3f} s;"
          f" goal {goal} s: {'met' if median <= goal else 'missed'} (wall), {'met' if cpu <= goal else 'missed'} (CPU)")


def main(argv):
    build = argv[1]
    repeats = int(argv[2]) if len(argv) > 2 and argv[2].isdigit() else 3
    host = f"{build}/cli/velmocair-host"
    with tempfile.TemporaryDirectory() as work, measure.Simulator(build) as simulator:
        base = history_tools.stored_record(build, simulator.endpoint, work)
        day = f"{work}/day.sqlite"
        make(day, base, DAY_ROWS, 1)
        report(f"export of {DAY_ROWS} rows to CSV", 0.5,
               timed([host, "history", "export", "--history", day, "-o", f"{work}/day.csv"], repeats),
               floor(day, "data_id = 1", repeats))
        os.unlink(day)

        chart = f"{work}/chart.sqlite"
        make(chart, base, CHART_ROWS, 10)
        report(f"chart of {CHART_ROWS} rows, 2 values, to SVG", 0.5,
               timed([host, "history", "plot", "--history", chart, "--values", "回风温度,送风湿度",
                      "-o", f"{work}/chart.svg"], repeats),
               floor(chart, "data_id = 1", repeats))
        os.unlink(chart)

        month = f"{work}/month.sqlite"
        make(month, base, MONTH_ROWS, 1)
        hour = ["--from", "2024-01-16 12:00", "--to", "2024-01-16 13:00"]
        report("one hour (3,600 rows) out of a month to CSV", 0.1,
               timed([host, "history", "export", "--history", month, "-o", f"{work}/hour.csv"] + hour, repeats),
               floor(month, "data_id = 1 AND time >= '2024-01-16 12:00:00' AND time < '2024-01-16 13:00:00'",
                     repeats))
        if "--month" in argv:
            report(f"export of a month ({MONTH_ROWS} rows) to CSV", 15,
                   timed([host, "history", "export", "--history", month, "-o", f"{work}/month.csv"], 1),
                   floor(month, "data_id = 1", 1))
            os.unlink(f"{work}/month.csv")
            report(f"chart of a month ({MONTH_ROWS} rows), 2 values, to SVG (goal: 64 MB resident)", 3,
                   timed([host, "history", "plot", "--history", month, "--values", "回风温度,送风湿度",
                          "-o", f"{work}/month.svg"], repeats),
                   floor(month, "data_id = 1", 1))


if __name__ == "__main__":
    main(sys.argv)
