#!/usr/bin/env python3
"""Holds the rule of who may include whom (CONTRIBUTING.md, "Who includes whom").

Reads every #include "..." of the sources under ROOT (default: the repository)
and prints each one the rule does not allow as FILE:LINE: ROOM includes PATH,
then exits with status 1. tests/, bench/ and fuzz/ may include anything, and
nothing of the sources may include them.
"""

import pathlib
import re
import sys

PLUGIN = ("device/", "alarms/", "commands/", "plugin/")

# room (folder prefix; the longest one naming a file is its room) -> the rooms
# below it, which it may include. Every room may include itself and common/.
ROOMS = {
    "common/": (),
    "host/": (),
    "host/services/": ("host/",),
    "device/": PLUGIN,
    "alarms/": PLUGIN,
    "commands/": PLUGIN,
    "plugin/": PLUGIN,
    "simulator/": (),
    # The MQTT bridge: a library of its own, below everything that starts it.
    "cli/mqtt/": ("host/services/", "host/") + PLUGIN,
    "cli/options/": ("cli/mqtt/", "host/services/", "host/") + PLUGIN,
    # The built-in simulator, polled when no unit is named, runs in-process.
    "cli/runtime/": ("cli/options/", "cli/mqtt/", "host/services/", "host/", "simulator/") + PLUGIN,
    "cli/scan/": ("cli/runtime/", "cli/options/", "cli/mqtt/", "host/services/", "host/") + PLUGIN,
    "cli/history/": ("cli/runtime/", "cli/options/", "cli/mqtt/", "host/services/", "host/") + PLUGIN,
    # The host as a gateway: the bridge fed by the bus threads and the history.
    "cli/gateway/": ("cli/history/", "cli/runtime/", "cli/options/", "cli/mqtt/", "host/services/",
                     "host/") + PLUGIN,
    "cli/modes/": ("cli/gateway/", "cli/scan/", "cli/history/", "cli/mqtt/", "cli/runtime/",
                   "cli/options/", "host/services/", "host/") + PLUGIN,
    # main.cc: the mode table's caller.
    "cli/": ("cli/modes/", "cli/runtime/", "cli/options/"),
}

# The plug-in reaches the host framework through this one file, which names
# its headers (or, built against another declaration of the framework, the
# header given in VELMOCAIR_HOST_FRAMEWORK_HEADER).
PLUGIN_HOST_SEAM = "device/host_framework.h"

# (file, included path): includes the rule does not allow yet, each with the
# reason it stays for now. An exception that no longer occurs is reported too.
EXCEPTIONS = {}

NOT_INCLUDABLE = ("tests/", "bench/", "fuzz/")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
# A header named by a macro: only the seam may, for another framework's header.
MACRO_INCLUDE = re.compile(r"^\s*#\s*include\s+([A-Za-z_]\w*)")


def room_of(path):
    rooms = [room for room in ROOMS if path.startswith(room)]
    return max(rooms, key=len) if rooms else None


def allowed(source, room, included):
    target = room_of(included)
    if target is None:
        return not included.startswith(NOT_INCLUDABLE)
    if target in (room, "common/"):
        return True
    if target == "host/" and source == PLUGIN_HOST_SEAM:
        return True
    return target in ROOMS[room]


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2])
    violations = []
    seen_exceptions = set()
    tops = sorted({room.split("/")[0] for room in ROOMS})
    files = sorted(file for top in tops for file in (root / top).rglob("*"))
    for file in files:
        if file.suffix not in (".h", ".cc") or not file.is_file():
            continue
        source = file.relative_to(root).as_posix()
        room = room_of(source)
        if room is None:
            continue
        for number, line in enumerate(file.read_text(encoding="utf-8").splitlines(), 1):
            macro = MACRO_INCLUDE.match(line)
            if macro and source != PLUGIN_HOST_SEAM:
                violations.append(
                    f"{source}:{number}: {room} includes the header {macro.group(1)} names")
                continue
            match = INCLUDE.match(line)
            if not match or allowed(source, room, match.group(1)):
                continue
            if (source, match.group(1)) in EXCEPTIONS:
                seen_exceptions.add((source, match.group(1)))
                continue
            violations.append(f"{source}:{number}: {room} includes {match.group(1)}")
    for source, included in sorted(set(EXCEPTIONS) - seen_exceptions):
        violations.append(f"{source}: the exception for {included} no longer occurs")
    for violation in violations:
        print(violation)
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
