#!/usr/bin/python3
"""velmocair-host on one fleet with the MQTT bridge and without.

    fleet_mqtt.py BUILD_DIR [ENDPOINTS] [UNITS_PER_ENDPOINT] [REPEATS] [INTERVAL] [ROUNDS]

Debian's mosquitto on a free loopback port, and ENDPOINTS simulators
(default 5) of UNITS_PER_ENDPOINT unit addresses (default 20) that the host
polls every INTERVAL seconds (default 0: back to back) with a history and
an 801 text per completed cycle, once with --mqtt and once without. Each
figure is the difference between a run of 2 x ROUNDS rounds (default 150)
and one of ROUNDS, which outlasts the discovery of every unit; medians of
REPEATS (default 3): CPU per unit-cycle with and without the bridge, the
bridge's share, and memory per unit with the bridge (peak resident memory
of the fleet less that of a one-unit host, over the units).
"""
import contextlib
import socket
import subprocess
import sys
import tempfile
import time

import fleet
import measure

DEFAULT_ENDPOINTS = 5
DEFAULT_UNITS_PER_ENDPOINT = 20
DEFAULT_REPEATS = 3
DEFAULT_ROUNDS = 150
CPU_GOAL_PERCENT = 5
MEMORY_GOAL_KIB = 64
KIB = 1024
BROKER_START_SECONDS = 10


@contextlib.contextmanager
def broker(work):
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    config = f"{work}/mosquitto.conf"
    with open(config, "w", encoding="utf-8") as out:
        out.write(f"listener {port} 127.0.0.1\nallow_anonymous true\nuser root\n"
                  "max_queued_messages 0\npersistence false\n")
    process = subprocess.Popen(["mosquitto", "-c", config], stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + BROKER_START_SECONDS
    while True:
        with contextlib.suppress(OSError), socket.create_connection(("127.0.0.1", port)):
            break
        if time.monotonic() > deadline:
            process.terminate()
            raise RuntimeError("mosquitto did not start")
        time.sleep(0.05)
    try:
        yield f"mqtt://127.0.0.1:{port}"
    finally:
        process.terminate()
        process.wait(measure.STOP_TIMEOUT_SECONDS)


def host_for(build, site, history_dir, url, interval):
    extra = ["--mqtt", url] if url else []
    return lambda rounds: measure.host_command(
        build, ["--site", site, *extra], rounds, history_dir, interval
    )


def main(argv):
    build = argv[1]
    endpoint_count = int(argv[2]) if len(argv) > 2 else DEFAULT_ENDPOINTS
    per_endpoint = int(argv[3]) if len(argv) > 3 else DEFAULT_UNITS_PER_ENDPOINT
    repeats = int(argv[4]) if len(argv) > 4 else DEFAULT_REPEATS
    interval = argv[5] if len(argv) > 5 else "0"
    rounds = int(argv[6]) if len(argv) > 6 else DEFAULT_ROUNDS
    with tempfile.TemporaryDirectory() as work, contextlib.ExitStack() as running:
        url = running.enter_context(broker(work))
        endpoints = [
            running.enter_context(measure.Simulator(build, f"1-{per_endpoint}")).endpoint
            for _ in range(endpoint_count)
        ]
        site = f"{work}/site.json"
        units = fleet.write_site(site, endpoints, per_endpoint)
        single = f"{work}/single.json"
        fleet.write_site(single, endpoints[:1], 1)
        load_before = measure.load_average()
        bridged, bare, one_unit = [], [], []
        for _ in range(repeats):
            bridged.append(measure.per_cycle(host_for(build, site, work, url, interval), rounds, rounds))
            bare.append(measure.per_cycle(host_for(build, site, work, None, interval), rounds, rounds))
            one_unit.append(measure.run(host_for(build, single, work, url, interval)(rounds)))
        load_after = measure.load_average()

    def median(runs, field):
        return measure.median([getattr(run, field) for run in runs])

    with_bridge = median(bridged, "cpu") / units * 1e6
    without = median(bare, "cpu") / units * 1e6
    shares = [(a.cpu - b.cpu) / b.cpu * 100 for a, b in zip(bridged, bare)]
    memory_kib = (median(bridged, "max_rss_kib") - median(one_unit, "max_rss_kib")) / (units - 1)
    print(f"load average {load_before:.2f} before, {load_after:.2f} after; medians of {repeats}")
    print(f"units {units} on {endpoint_count} buses, {rounds} rounds after {rounds}, interval {interval} s")
    print(f"CPU per unit-cycle, with --mqtt   {with_bridge:9.1f} us")
    print(f"CPU per unit-cycle, without       {without:9.1f} us")
    print(f"the bridge's share                {measure.median(shares):9.1f} %   goal <= {CPU_GOAL_PERCENT} "
          f"(runs {', '.join(f'{share:.1f}' for share in shares)})")
    print(f"round of all units, with --mqtt   {median(bridged, 'wall') * 1000:9.1f} ms")
    print(f"memory per unit, with --mqtt      {memory_kib:9.1f} KiB  goal <= {MEMORY_GOAL_KIB}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
