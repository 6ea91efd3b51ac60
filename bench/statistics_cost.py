#!/usr/bin/python3
"""What the per-unit link statistics cost the host's cycle, side by side.

    statistics_cost.py BUILD_DIR BASE_BUILD_DIR [REPEATS]

The host of BUILD_DIR keeps every unit's link statistics (counts, the
histogram of response times, a copy with every cycle's report, the
diagnosis); the host of BASE_BUILD_DIR is the same code before them. Both
poll one loopback simulator back to back (--status, so every cycle also
serialises its 801 text), interleaved; each figure is the difference between
a long and a short run over the cycles between them, the median of REPEATS
(default 5), and the difference is taken within each repeat.
"""
import sys

import measure

CYCLES = 1000
WARM_UP_CYCLES = 20
DEFAULT_REPEATS = 5


def main(argv):
    build, base = argv[1], argv[2]
    repeats = int(argv[3]) if len(argv) > 3 else DEFAULT_REPEATS
    with_stats, without = [], []
    load_before = measure.load_average()
    with measure.Simulator(build) as simulator:
        for _ in range(repeats):
            for host, runs in ((base, without), (build, with_stats)):
                command_for = lambda n, host=host: measure.host_command(host, ["--tcp", simulator.endpoint], n)
                runs.append(measure.per_cycle(command_for, WARM_UP_CYCLES, CYCLES))
    load_after = measure.load_average()

    ms = 1000
    print(f"load average {load_before:.2f} before, {load_after:.2f} after; medians of {repeats}")
    for name, runs in (("host cycle without link statistics", without), ("host cycle with link statistics", with_stats)):
        walls = [run.wall for run in runs]
        cpu = measure.median([run.cpu for run in runs])
        print(f"{name:36} {measure.median(walls) * ms:7.3f} ms   spread {measure.spread(walls)}   CPU {cpu * ms:.3f} ms")
    wall_delta = measure.median([(a.wall - b.wall) * ms for a, b in zip(with_stats, without)])
    cpu_delta = measure.median([(a.cpu - b.cpu) * ms for a, b in zip(with_stats, without)])
    print(f"with less without, per cycle         {wall_delta:+7.3f} ms   CPU {cpu_delta:+.3f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
