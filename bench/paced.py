#!/usr/bin/python3
"""A cycle paced as on a serial line, against the wire floor.

    paced.py BUILD_DIR [BAUD] [REPEATS]

The simulator paces every exchange as a line of BAUD (default 9600) 8N1
would: 10 bits a character, a 3.5-character silence after each frame, the
reply sent byte by byte as it crosses the line. The wire floor of a cycle is the 20 requests and
replies of the device's poll cycle in RTU framing. The simulator's
turnaround is what the same 20 exchanges take with no pacing (plain-poller
on an unpaced simulator). velmocair-host (history, 801 per cycle) and
plain-poller each poll the paced simulator; figures are medians of REPEATS
(default 3) runs; the host also without its history file, to show whether
storing delays the bus.
"""
import json
import subprocess
import sys
import tempfile

import measure

DEFAULT_BAUD = 9600
DEFAULT_REPEATS = 3
BITS_PER_CHARACTER = 10
SILENCE_BITS = 35  # 3.5 characters after each frame
RTU_OVERHEAD = 3  # unit address and CRC
READ_REQUEST_PDU = 5  # function, address, count
READ_REPLY_HEADER = 2  # function, byte count
BITS_PER_BYTE = 8
BYTES_PER_REGISTER = 2
PACED_CYCLES = 10
UNPACED_CYCLES = 1000
WARM_UP_CYCLES = 1
GOAL = 1.02  # measured cycle at most this many times floor + turnaround


def wire_floor_seconds(build, baud):
    layout = json.loads(
        subprocess.run([f"{build}/bench/poller-layout"], stdout=subprocess.PIPE, check=True).stdout
    )
    total = 0
    for read in layout["reads"]:
        data = (
            -(-read["count"] // BITS_PER_BYTE)
            if read["kind"] == "coils"
            else BYTES_PER_REGISTER * read["count"]
        )
        total += READ_REQUEST_PDU + RTU_OVERHEAD + READ_REPLY_HEADER + data + RTU_OVERHEAD
    frames = 2 * len(layout["reads"])
    return total, frames, (total * BITS_PER_CHARACTER + frames * SILENCE_BITS) / baud


def plain(build, endpoint):
    return lambda n: [f"{build}/bench/plain-poller", endpoint, "1", str(n)]


def main(argv):
    build = argv[1]
    baud = int(argv[2]) if len(argv) > 2 else DEFAULT_BAUD
    repeats = int(argv[3]) if len(argv) > 3 else DEFAULT_REPEATS
    wire_bytes, frames, floor = wire_floor_seconds(build, baud)
    host, bare_host, paced_plain, turnaround = [], [], [], []
    load_before = measure.load_average()
    with tempfile.TemporaryDirectory() as work:
        with measure.Simulator(build) as unpaced:
            for _ in range(repeats):
                run = measure.per_cycle(plain(build, unpaced.endpoint), WARM_UP_CYCLES, UNPACED_CYCLES)
                turnaround.append(run.wall)
        with measure.Simulator(build, pace_baud=baud) as paced:
            endpoint = paced.endpoint
            for _ in range(repeats):
                host_for = lambda n: measure.host_command(build, ["--tcp", endpoint], n, work)
                host.append(measure.per_cycle(host_for, WARM_UP_CYCLES, PACED_CYCLES).wall)
                bare_for = lambda n: measure.host_command(build, ["--tcp", endpoint], n)
                bare_host.append(measure.per_cycle(bare_for, WARM_UP_CYCLES, PACED_CYCLES).wall)
                paced_plain.append(measure.per_cycle(plain(build, endpoint), WARM_UP_CYCLES, PACED_CYCLES).wall)
    load_after = measure.load_average()

    ms = 1000
    reference = floor + measure.median(turnaround)
    print(f"load average {load_before:.2f} before, {load_after:.2f} after; medians of {repeats}")
    print(f"wire floor at {baud} baud ({wire_bytes} bytes, {frames} silences) {floor * ms:9.3f} ms")
    print(f"simulator turnaround (unpaced 20 reads)   {measure.median(turnaround) * ms:9.3f} ms")
    print(f"host cycle, paced                         {measure.median(host) * ms:9.3f} ms   spread {measure.spread(host)}")
    print(f"host cycle, paced, no history             {measure.median(bare_host) * ms:9.3f} ms   spread {measure.spread(bare_host)}")
    delay = measure.median([(a - b) * ms for a, b in zip(host, bare_host)])
    print(f"history write delay per cycle, paced      {delay:9.3f} ms   goal <= 0 (median within repeats)")
    print(f"plain libmodbus cycle, paced              {measure.median(paced_plain) * ms:9.3f} ms   spread {measure.spread(paced_plain)}")
    print(f"host / (floor + turnaround)               {measure.median(host) / reference:9.4f} x    goal <= {GOAL}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
