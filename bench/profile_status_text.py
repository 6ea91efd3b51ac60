#!/usr/bin/python3
"""Where the time of an 801 text goes, counted by callgrind (instructions,
repeatable from run to run).

    profile_status_text.py BUILD_DIR [REQUESTS]

Runs status-text-profile REQUESTS (default 100) under callgrind, collecting
inside Velmocair::ReadStatusText only, and prints the instructions per
request: in all, then the functions with the most, inclusive (with what
they call) and self (their own code). Functions of libjsoncpp without a
symbol show as their address.
"""
import re
import subprocess
import sys
import tempfile

DEFAULT_REQUESTS = 100
TOP = 14
COLLECT = "Velmocair::ReadStatusText(void*, int, int&)"
# "  1,234 (12.3%)  FILE:FUNCTION [LIBRARY]", FILE being ??? without symbols.
LINE = re.compile(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+(?:\?\?\?|\.?/[^:]*):(.+?) \[(.+)\]$")


def annotate(profile, inclusive):
    output = subprocess.run(
        ["callgrind_annotate", f"--inclusive={'yes' if inclusive else 'no'}", profile],
        stdout=subprocess.PIPE,
        text=True,
        check=True,
    ).stdout
    rows = []
    for line in output.split("file:function", 1)[1].splitlines():
        match = LINE.match(line)
        if match:
            count = int(match.group(1).replace(",", ""))
            library = match.group(3).rsplit("/", 1)[-1]
            rows.append((count, match.group(2), library))
    return rows


CALLER = re.compile(r"^\s*[\d,]+ \(\s*[\d.]+%\)\s+<\s+\S.*\(([\d,]+)x\) \[")
FUNCTION = re.compile(r"^\s*[\d,]+ \(\s*[\d.]+%\)\s+\*\s+(?:\?\?\?|\.?/[^:]*):(.+?) \[")


def calls(profile):
    """Calls into each function: the sum over its callers."""
    output = subprocess.run(
        ["callgrind_annotate", "--tree=caller", profile], stdout=subprocess.PIPE, text=True, check=True
    ).stdout
    counts, pending = {}, 0
    for line in output.splitlines():
        caller = CALLER.match(line)
        if caller:
            pending += int(caller.group(1).replace(",", ""))
            continue
        function = FUNCTION.match(line)
        if function:
            counts[function.group(1)] = pending
        pending = 0
    return counts


def shorten(name):
    name = name.replace("std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >", "std::string")
    return name if len(name) <= 90 else name[:87] + "..."


def main(argv):
    build = argv[1]
    requests = int(argv[2]) if len(argv) > 2 else DEFAULT_REQUESTS
    with tempfile.TemporaryDirectory() as work:
        profile = f"{work}/callgrind.out"
        subprocess.run(
            [
                "valgrind",
                "--tool=callgrind",
                f"--callgrind-out-file={profile}",
                f"--toggle-collect={COLLECT}",
                f"{build}/bench/status-text-profile",
                str(requests),
            ],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            check=True,
        )
        inclusive = annotate(profile, True)
        own = annotate(profile, False)
        called = calls(profile)
    total = next(count for count, name, _ in inclusive if name == COLLECT)
    print(f"instructions per 801 text: {total // requests}")
    for title, rows in (("inclusive", inclusive), ("self", own)):
        print(f"-- {title}: instructions per request, share, calls per request, function [library]")
        shown = [row for row in rows if row[0] < total][:TOP]
        for count, name, library in shown:
            # Calls of a function whose callers callgrind does not list show as "-".
            per_request = f"{called[name] / requests:.0f}" if called.get(name) else "-"
            print(f"{count // requests:10} {100 * count / total:5.1f}% {per_request:>8}  {shorten(name)} [{library}]")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
