#!/usr/bin/python3
"""One velmocair-host process driving many simulated units.

    fleet.py BUILD_DIR [ENDPOINTS] [UNITS_PER_ENDPOINT] [REPEATS]

ENDPOINTS simulators (default 5), each serving UNITS_PER_ENDPOINT unit
addresses (default 200) on its own loopback port, so each is one bus of the
host. The host polls every unit back to back (history, an 801 text per
completed cycle). Figures are medians of REPEATS (default 3) runs, each the
difference between a long and a short run over the rounds between them:
CPU per unit-cycle, unit-cycles per second, and memory per unit (peak
resident memory of the whole fleet less that of a one-unit host, over the
units). The same with no history file shows whether storing slows the bus.
"""
import contextlib
import json
import sys
import tempfile

import measure

DEFAULT_ENDPOINTS = 5
DEFAULT_UNITS_PER_ENDPOINT = 200
DEFAULT_REPEATS = 3
WARM_UP_ROUNDS = 1
ROUNDS = 3
MEMORY_GOAL_KIB = 64
KIB = 1024


def write_site(path, endpoints, units_per_endpoint):
    units = []
    for endpoint in endpoints:
        for unit_id in range(1, units_per_endpoint + 1):
            number = len(units) + 1
            units.append(
                {
                    "name": f"crac-{number}",
                    "data_id": number,
                    "transport": {"tcp": endpoint},
                    "setting": {"modbus": {"unit_id": unit_id}},
                }
            )
    with open(path, "w", encoding="utf-8") as out:
        json.dump({"units": units}, out)
    return len(units)


def host_for(build, site, history_dir):
    return lambda rounds: measure.host_command(build, ["--site", site], rounds, history_dir)


def main(argv):
    build = argv[1]
    endpoint_count = int(argv[2]) if len(argv) > 2 else DEFAULT_ENDPOINTS
    per_endpoint = int(argv[3]) if len(argv) > 3 else DEFAULT_UNITS_PER_ENDPOINT
    repeats = int(argv[4]) if len(argv) > 4 else DEFAULT_REPEATS
    with tempfile.TemporaryDirectory() as work, contextlib.ExitStack() as simulators:
        endpoints = [
            simulators.enter_context(measure.Simulator(build, f"1-{per_endpoint}")).endpoint
            for _ in range(endpoint_count)
        ]
        site = f"{work}/site.json"
        units = write_site(site, endpoints, per_endpoint)
        single = f"{work}/single.json"
        write_site(single, endpoints[:1], 1)
        load_before = measure.load_average()
        stored, unstored, one_unit = [], [], []
        for _ in range(repeats):
            stored.append(measure.per_cycle(host_for(build, site, work), WARM_UP_ROUNDS, ROUNDS))
            unstored.append(measure.per_cycle(host_for(build, site, None), WARM_UP_ROUNDS, ROUNDS))
            one_unit.append(measure.run(host_for(build, single, work)(WARM_UP_ROUNDS + ROUNDS)))
        load_after = measure.load_average()

    def median(runs, field):
        return measure.median([getattr(run, field) for run in runs])

    round_wall = median(stored, "wall")
    bare_wall = median(unstored, "wall")
    memory_kib = (median(stored, "max_rss_kib") - median(one_unit, "max_rss_kib")) / (units - 1)
    print(f"load average {load_before:.2f} before, {load_after:.2f} after; medians of {repeats}")
    print(f"units {units} on {endpoint_count} buses, {ROUNDS} rounds after {WARM_UP_ROUNDS}")
    print(f"CPU per unit-cycle                {median(stored, 'cpu') / units * 1e6:9.1f} us")
    print(f"unit-cycles per second            {units / round_wall:9.0f}")
    print(f"round of all units                {round_wall * 1000:9.1f} ms")
    print(f"round without history             {bare_wall * 1000:9.1f} ms   goal: history costs no time")
    delay = measure.median([(a.wall - b.wall) * 1000 for a, b in zip(stored, unstored)])
    print(f"history write delay per round     {delay:9.1f} ms   goal <= 0 (median within repeats)")
    print(f"peak memory of the host           {median(stored, 'max_rss_kib') / KIB:9.1f} MiB")
    print(f"memory per unit                   {memory_kib:9.1f} KiB  goal <= {MEMORY_GOAL_KIB}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
