#!/usr/bin/python3
"""A scan of 247 silent unit addresses at one line setting, against its floor.

    scan_silent.py BUILD_DIR [BAUD] [REPEATS]

velmocair-sim serves Modbus RTU on a pseudo-terminal paced as a line of BAUD
(default 9600) 8N1 would be (--pace-baud), its one unit struck silent
(--fault no-reply), so that every address 1..247 costs the scan its
time-out. velmocair-host scan probes them at BAUD 8N1 with its default
time-out, which it counts from the start of sending: the request on the wire
and the wait after it. The floor is 247 x (request frame time + that wait),
247 x the time-out. The simulator reports every request that came before the
line had been silent for 3.5 characters. Figures are medians of REPEATS
(default 3) runs.
"""
import math
import re
import subprocess
import sys
import tempfile
import time

import measure

DEFAULT_BAUD = 9600
DEFAULT_REPEATS = 3
ADDRESSES = 247
BITS_PER_CHARACTER = 10
SILENCE_BITS = 35  # 3.5 characters after each frame
REQUEST_BYTES = 8  # unit, function, address, count, CRC
REPLY_BYTES = 9  # unit, function, byte count, 4 bytes of 32 coils, CRC
TURNAROUND = 0.100  # the unit's turnaround the time-out allows for
EXIT_NONE_FOUND = 1
GOAL = 1.10  # scan at most this many times the floor
COSTING = re.compile(r"a silent one costing (\d+) ms")


def expected_timeout_ms(baud):
    """The time-out the host's rule gives a probe: both frames on the wire,
    two frame silences and the turnaround, rounded up to whole ms."""
    seconds = ((REQUEST_BYTES + REPLY_BYTES) * BITS_PER_CHARACTER + 2 * SILENCE_BITS) / baud + TURNAROUND
    return math.ceil(seconds * 1000 - 1e-9)


def main(argv):
    build = argv[1]
    baud = int(argv[2]) if len(argv) > 2 else DEFAULT_BAUD
    repeats = int(argv[3]) if len(argv) > 3 else DEFAULT_REPEATS
    walls, timeouts = [], []
    load_before = measure.load_average()
    with tempfile.TemporaryFile(mode="w+") as simulator_errors:
        with measure.Simulator(
            build, pace_baud=baud, rtu=True, extra=["--fault", "no-reply"], stderr=simulator_errors
        ) as simulator:
            command = [f"{build}/cli/velmocair-host", "scan", "--rtu", simulator.endpoint,
                       "--baud", str(baud), "--parity", "none"]
            for _ in range(repeats):
                started = time.perf_counter()
                scan = subprocess.run(command, stdout=subprocess.PIPE, text=True)
                walls.append(time.perf_counter() - started)
                if scan.returncode != EXIT_NONE_FOUND or "no unit answered" not in scan.stdout:
                    raise RuntimeError(f"the scan found something or failed: {scan.stdout}")
                timeouts.append(int(COSTING.search(scan.stdout).group(1)))
        simulator_errors.seek(0)
        early = sum("before the line had been silent" in line for line in simulator_errors)
    load_after = measure.load_average()

    ms = 1000
    timeout = timeouts[0] / ms
    request = REQUEST_BYTES * BITS_PER_CHARACTER / baud
    floor = ADDRESSES * timeout
    wall = measure.median(walls)
    print(f"load average {load_before:.2f} before, {load_after:.2f} after; medians of {repeats}")
    print(f"probe time-out at {baud} 8N1 (host; rule gives {expected_timeout_ms(baud)} ms)  {timeout * ms:9.0f} ms")
    print(f"request frame time + wait after it          {request * ms:9.3f} + {(timeout - request) * ms:.3f} ms")
    print(f"floor: {ADDRESSES} x time-out                      {floor:9.3f} s")
    print(f"scan of {ADDRESSES} silent addresses                 {wall:9.3f} s   spread {measure.spread(walls)}")
    print(f"per address beyond the time-out             {(wall - floor) / ADDRESSES * ms:9.3f} ms")
    print(f"requests before the line fell silent        {early:9d}")
    print(f"scan / floor                                {wall / floor:9.4f} x    goal <= {GOAL}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
