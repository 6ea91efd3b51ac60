#!/usr/bin/env python3
"""A serial line that breaks 5 % of the simulator's replies (a bad CRC), paced
at 19200 baud: the share of the host's cycles that complete, with its
default retries and with none.

    bench/broken_frames.py BUILD [CYCLES]
"""
import re
import subprocess
import sys

import measure

BAUD = 19200
RATE = 0.05
SEED = 7


def completed(build, device, cycles, retries):
    command = [f"{build}/cli/velmocair-host", "--rtu", device, "--baud", str(BAUD),
               "--cycles", str(cycles), "--interval", "0", "--stats"]
    if retries is not None:
        command += ["--retries", str(retries)]
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = run.stdout.splitlines()
    heading = next(i for i, line in enumerate(lines) if line.startswith("unit "))
    columns = re.split(r"\s{2,}", lines[heading].strip())
    values = re.split(r"\s{2,}", lines[heading + 1].strip())
    row = dict(zip(columns, values))
    return int(row["cycles ok"]), int(row["failed"]), row["ok %"], row["retries"]


def main(argv):
    build = argv[1]
    cycles = int(argv[2]) if len(argv) > 2 else 200
    for retries in (None, 0):
        extra = ["--baud", str(BAUD), "--fault", f"broken-frame,rate={RATE}", "--seed", str(SEED)]
        with measure.Simulator(build, pace_baud=BAUD, rtu=True, extra=extra) as simulator:
            ok, failed, tries_ok, retried = completed(build, simulator.endpoint, cycles, retries)
        label = "default retries (2)" if retries is None else f"--retries {retries}"
        print(f"{label}: {ok} of {ok + failed} cycles completed ({100.0 * ok / (ok + failed):.1f} %); "
              f"tries answered {tries_ok} %, {retried} retries")


if __name__ == "__main__":
    main(sys.argv)
