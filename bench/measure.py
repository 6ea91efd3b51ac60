"""Helpers of the side-by-side runs: simulators, timed child processes,
per-cycle figures and medians."""
import os
import statistics
import subprocess
import tempfile
import time
from dataclasses import dataclass

LISTENING_TCP = "listening tcp "
LISTENING_RTU = "listening rtu "
STOP_TIMEOUT_SECONDS = 10


@dataclass
class Run:
    wall: float  # seconds from start to exit
    user: float  # CPU seconds of the child in user space
    system: float  # CPU seconds of the kernel on the child's behalf
    max_rss_kib: int  # peak resident set of the child

    @property
    def cpu(self):
        return self.user + self.system


class Simulator:
    """velmocair-sim on a free loopback port (rtu: on a pseudo-terminal
    instead), with `extra` options, stopped on exit; its standard error goes
    to `stderr`."""

    def __init__(self, build, unit_ids="1", pace_baud=None, rtu=False, extra=(), stderr=None):
        command = [f"{build}/simulator/velmocair-sim", "--unit-id", unit_ids, *extra]
        if pace_baud:
            command += ["--pace-baud", str(pace_baud)]
        if rtu:
            command += ["--rtu"]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=stderr, text=True)
        line = self.process.stdout.readline()  # empty when it ends without listening
        listening = LISTENING_RTU if rtu else LISTENING_TCP
        if not line.startswith(listening):
            self.stop()
            raise RuntimeError(f"velmocair-sim did not start: {line!r}")
        self.endpoint = line[len(listening) :].strip()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(STOP_TIMEOUT_SECONDS)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def run(command, stdout=subprocess.DEVNULL):
    """Runs command to its end; its time, CPU and peak memory."""
    started = time.perf_counter()
    process = subprocess.Popen(command, stdout=stdout)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError(f"{command[0]} ended with status {process.returncode}")
    return Run(wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss)


def per_cycle(command_for, warm_up, cycles):
    """Wall time and CPU per cycle, without start-up and end: the difference
    between a run of warm_up + cycles cycles and one of warm_up cycles, over
    cycles (peak memory: that of the long run)."""
    short = run(command_for(warm_up))
    long = run(command_for(warm_up + cycles))
    return Run(
        (long.wall - short.wall) / cycles,
        (long.user - short.user) / cycles,
        (long.system - short.system) / cycles,
        long.max_rss_kib,
    )


def median(values):
    return statistics.median(values)


def spread(values):
    """Lowest and highest as a fraction of the median, for the report."""
    middle = median(values)
    if middle == 0:
        return "-"
    return f"{min(values) / middle:.2f}..{max(values) / middle:.2f}"


def host_command(build, units, cycles, history_dir=None, interval=0):
    """velmocair-host polling `units` (["--tcp", ENDPOINT] or ["--site",
    FILE]) back to back (or every `interval` seconds), printing every 801
    text; with a fresh history file in history_dir when given."""
    command = [
        f"{build}/cli/velmocair-host",
        *units,
        "--cycles",
        str(cycles),
        "--interval",
        str(interval),
        "--status",
    ]
    if history_dir is not None:
        handle, path = tempfile.mkstemp(suffix=".sqlite", dir=history_dir)
        os.close(handle)
        os.unlink(path)
        command += ["--history", path]
    return command


def load_average():
    return os.getloadavg()[0]
