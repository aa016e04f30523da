#!/usr/bin/env python3
"""Prints the share of lines run per file of the Windows side.

    coverage_report.py [--unrun] GCOV BUILD_DIR...

Reads every .gcno with its .gcda (written by the programs as they end)
through GCOV's JSON output, keeps the lines of src/win32/*.cpp and
src/app/*.cpp, and counts a line as run when any object of any build ran it
(main.cpp, for one, is compiled into two installers). --unrun lists the
lines never run, with their text.
"""

import fnmatch
import glob
import json
import os
import subprocess
import sys

WINDOWS_SIDE = ("src/win32/*.cpp", "src/app/*.cpp")


def main(argv):
    unrun = "--unrun" in argv
    argv = [a for a in argv if a != "--unrun"]
    if len(argv) < 2:
        print(__doc__.strip())
        return 2
    gcov, builds = argv[0], argv[1:]
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    lines = {}  # relative source path -> {line number: count}
    for build in map(os.path.abspath, builds):
        notes = sorted(glob.glob(os.path.join(build, "CMakeFiles", "**", "*.gcno"),
                                 recursive=True))
        for note in notes:
            result = subprocess.run([gcov, "--json-format", "--stdout", note],
                                    cwd=build, capture_output=True, text=True)
            if result.returncode != 0:
                print("%s: %s" % (note, result.stderr.strip()), file=sys.stderr)
                return 1
            for text in result.stdout.splitlines():
                if not text.strip():
                    continue
                for entry in json.loads(text)["files"]:
                    source = os.path.relpath(os.path.normpath(
                        os.path.join(build, entry["file"])), root)
                    if not any(fnmatch.fnmatch(source, p) for p in WINDOWS_SIDE):
                        continue
                    counts = lines.setdefault(source, {})
                    for line in entry["lines"]:
                        number = line["line_number"]
                        counts[number] = max(counts.get(number, 0), line["count"])
    if not lines:
        print("no line counters found: was the coverage build run?", file=sys.stderr)
        return 1
    total_run = total = 0
    width = max(len(s) for s in lines)
    for source in sorted(lines):
        counts = lines[source]
        run = sum(1 for c in counts.values() if c > 0)
        total_run += run
        total += len(counts)
        print("%-*s %5d of %5d lines  %5.1f%%" % (width, source, run, len(counts),
                                                  100.0 * run / len(counts)))
    print("%-*s %5d of %5d lines  %5.1f%%" % (width, "Windows side", total_run, total,
                                              100.0 * total_run / total))
    if unrun:
        for source in sorted(lines):
            missing = sorted(n for n, c in lines[source].items() if c == 0)
            if not missing:
                continue
            print("\n%s:" % source)
            with open(os.path.join(root, source), encoding="utf-8") as f:
                text = f.read().splitlines()
            for number in missing:
                print("%5d  %s" % (number, text[number - 1] if number <= len(text) else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
