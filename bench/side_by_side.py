#!/usr/bin/python3
"""Side by side on one loopback simulator, in one run:

- velmocair-host with the plug-in (full cycles: completion, history write,
  an 801 text per cycle) against plain-poller (the same 20 reads and nothing
  else): time per cycle;
- the same host against pymodbus_poller.py (the same 20 reads, the same
  document, json.dumps): CPU per cycle; the two documents are compared;
- the host with and without its history file: time per cycle.

    side_by_side.py BUILD_DIR [REPEATS]

Each figure is the median of REPEATS (default 5) interleaved runs, each the
difference between a long and a short run over the cycles between them;
ratios and differences are taken within each repeat, then their median.
"""
import json
import subprocess
import sys
import tempfile

import measure

HOST_CYCLES = 1000
PLAIN_CYCLES = 1000
PYMODBUS_CYCLES = 200
WARM_UP_CYCLES = 20
DEFAULT_REPEATS = 5
TIME_GOAL = 1.25  # host cycle at most this many times the plain poller's
CPU_GOAL = 20  # pymodbus CPU per cycle at least this many times the host's
BENCH_DIR = __file__.rsplit("/", 1)[0]


def same_document(build, endpoint, work):
    """Whether the pymodbus poller builds the document the device serves
    (every member but the time of the cycle)."""
    layout = f"{work}/layout.json"
    with open(layout, "w", encoding="utf-8") as out:
        subprocess.run([f"{build}/bench/poller-layout"], stdout=out, check=True)
    poller_text = f"{work}/pymodbus.txt"
    measure.run(pymodbus_command(layout, endpoint, 1) + [poller_text])
    host = subprocess.run(
        measure.host_command(build, ["--tcp", endpoint], 1), stdout=subprocess.PIPE, check=True, text=True
    )
    device_text = next(line for line in host.stdout.splitlines() if line.startswith("{"))
    with open(layout, encoding="utf-8") as layout_file:
        time_key = json.load(layout_file)["update_time"]
    documents = [json.loads(device_text)]
    with open(poller_text, encoding="ascii") as text:
        documents.append(json.load(text))
    for document in documents:
        del document[time_key]
    return documents[0] == documents[1], layout


def pymodbus_command(layout, endpoint, cycles):
    return ["/usr/bin/python3", f"{BENCH_DIR}/pymodbus_poller.py", layout, endpoint, "1", str(cycles)]


def main(argv):
    build = argv[1]
    repeats = int(argv[2]) if len(argv) > 2 else DEFAULT_REPEATS
    runs = {name: [] for name in ("host", "plain", "nohist", "pymodbus")}
    with tempfile.TemporaryDirectory() as work, measure.Simulator(build) as simulator:
        endpoint = simulator.endpoint
        same, layout = same_document(build, endpoint, work)
        commands = {
            "host": (lambda n: measure.host_command(build, ["--tcp", endpoint], n, work), HOST_CYCLES),
            "plain": (lambda n: [f"{build}/bench/plain-poller", endpoint, "1", str(n)], PLAIN_CYCLES),
            "nohist": (lambda n: measure.host_command(build, ["--tcp", endpoint], n), HOST_CYCLES),
            "pymodbus": (lambda n: pymodbus_command(layout, endpoint, n), PYMODBUS_CYCLES),
        }
        load_before = measure.load_average()
        for _ in range(repeats):
            for name, (command_for, cycles) in commands.items():
                runs[name].append(measure.per_cycle(command_for, WARM_UP_CYCLES, cycles))
        load_after = measure.load_average()

    def ms(name, field):
        return measure.median([getattr(run, field) for run in runs[name]]) * 1000

    def spread(name, field):
        return measure.spread([getattr(run, field) for run in runs[name]])

    print(f"load average {load_before:.2f} before, {load_after:.2f} after; medians of {repeats}")
    print(f"same document from the pymodbus poller: {'yes' if same else 'NO'}")
    rows = [
        ("host cycle (history, 801)", "host", "wall"),
        ("plain libmodbus cycle", "plain", "wall"),
        ("host cycle without history", "nohist", "wall"),
        ("pymodbus poller cycle", "pymodbus", "wall"),
        ("host CPU per cycle", "host", "cpu"),
        ("  of it user space", "host", "user"),
        ("host CPU without history", "nohist", "cpu"),
        ("plain libmodbus CPU per cycle", "plain", "cpu"),
        ("  of it user space", "plain", "user"),
        ("pymodbus CPU per cycle", "pymodbus", "cpu"),
        ("  of it user space", "pymodbus", "user"),
    ]
    for label, name, field in rows:
        print(f"{label:32} {ms(name, field):9.3f} ms   spread {spread(name, field)}")
    def paired(a, b, field, combine):
        """Median over the repeats of combine(a's run, b's run) of the same
        repeat, so that a change of load between repeats cancels out."""
        return measure.median(
            [combine(getattr(x, field), getattr(y, field)) for x, y in zip(runs[a], runs[b])]
        )

    ratio = paired("host", "plain", "wall", lambda a, b: a / b)
    print(f"host / plain cycle               {ratio:9.2f} x    goal <= {TIME_GOAL}")
    cpu_ratio = paired("pymodbus", "host", "cpu", lambda a, b: a / b)
    print(f"pymodbus / host CPU per cycle    {cpu_ratio:9.1f} x    goal >= {CPU_GOAL}")
    user_ratio = paired("pymodbus", "host", "user", lambda a, b: a / b)
    print(f"  in user space                  {user_ratio:9.1f} x")
    # No poller on these sockets spends less CPU than the plain one.
    bound = paired("pymodbus", "plain", "cpu", lambda a, b: a / b)
    print(f"  at most, for any poller        {bound:9.1f} x    (pymodbus / plain libmodbus CPU)")
    history_cost = paired("host", "nohist", "wall", lambda a, b: (a - b) * 1000)
    print(f"history write delay per cycle    {history_cost:9.3f} ms   goal <= 0")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
