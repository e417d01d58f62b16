#!/usr/bin/env python3
"""Old against new in one sitting: runs two builds of a benchmark program one
after the other, turn about, and prints each figure's best and median for
both and how much the new one differs.

    bench/compare.py <runs> <old program> <new program> [arguments...]

The programs are run with the same arguments and environment (SOURCE, NOFILES
and the rest). A figure is any line "<label>: <number> s" (wall time), with
", cpu <number> s" after it (processor time) or "<label>: <number> MB"
(memory); the first run of each program is a warm-up and is not counted.
On a shared machine the best of many runs is the figure least spoiled by
other people's work; the median says how steady it was.
"""

import re
import statistics
import subprocess
import sys

FIGURE = re.compile(r"^(?P<label>[^:]+?):\s+(?P<value>[0-9.]+) (?P<unit>s|MB)(?:, cpu\s+(?P<cpu>[0-9.]+) s)?")


def figures(program, arguments):
    out = subprocess.run([program] + arguments, check=True, capture_output=True, text=True).stdout
    found = {}
    for line in out.splitlines():
        m = FIGURE.match(line.strip())
        if not m:
            continue
        label = m.group("label").strip()
        found[(label, m.group("unit"))] = float(m.group("value"))
        if m.group("cpu"):
            found[(label + " (cpu)", "s")] = float(m.group("cpu"))
    return found


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    runs = int(sys.argv[1])
    programs = sys.argv[2:4]
    arguments = sys.argv[4:]
    seen = [dict(), dict()]
    for run in range(runs + 1):
        # Turn about, and which goes first changes every round.
        order = (0, 1) if run % 2 == 0 else (1, 0)
        for which in order:
            got = figures(programs[which], arguments)
            if run == 0:
                continue
            for key, value in got.items():
                seen[which].setdefault(key, []).append(value)
    print(f"{runs} runs each, turn about (after one warm-up each)")
    print(f"{'figure':48} {'old best':>9} {'new best':>9} {'change':>8}   {'old median':>10} {'new median':>10}")
    for key in seen[0]:
        if key not in seen[1]:
            continue
        label, unit = key
        old, new = seen[0][key], seen[1][key]
        # Memory: the peak of a run is what it is; best is the lowest too.
        ob, nb = min(old), min(new)
        change = (nb - ob) / ob * 100 if ob else 0.0
        print(f"{label[:46] + ' ' + unit:48} {ob:9.3f} {nb:9.3f} {change:+7.1f}%   "
              f"{statistics.median(old):10.3f} {statistics.median(new):10.3f}")


if __name__ == "__main__":
    main()
