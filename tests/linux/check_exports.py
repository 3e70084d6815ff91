#!/usr/bin/env python3
"""The Linux plug-in's dynamic symbols: the lister functions the host looks up, exported with C
linkage and nothing else of ours; no OpenGL function imported by name (every GL call goes through
the entry points the offscreen library hands out, so a host's own GL library cannot capture them).

usage: check_exports.py build/linux/zembrola_gtk2.wlx"""

import re
import subprocess
import sys

EXPECTED = {"ListLoad", "ListLoadW", "ListLoadNext", "ListLoadNextW", "ListCloseWindow",
            "ListGetDetectString", "ListSendCommand", "ListSetDefaultParams"}


def symbols(path, *flags):
    out = subprocess.run(["nm", "-D", *flags, path], check=True, capture_output=True, text=True).stdout
    return [line.split()[-1] for line in out.splitlines() if line.strip()]


def main(path):
    header = subprocess.run(["readelf", "-h", path], check=True, capture_output=True, text=True).stdout
    problems = []
    if "X86-64" not in header or "DYN" not in header:
        problems.append("not an x86-64 shared object")
    defined = {s.split("@")[0] for s in symbols(path, "--defined-only")}
    ours = {s for s in defined if not s.startswith("_")}  # _init, _fini and friends come from the toolchain
    if ours != EXPECTED:
        problems.append(f"exports {sorted(ours ^ EXPECTED)} differ from the lister functions")
    gl = [s for s in symbols(path, "--undefined-only") if re.match(r"^gl[A-Z]", s)]
    if gl:
        problems.append(f"imports OpenGL functions by name: {gl}")
    for p in problems:
        print("FAIL " + p)
    if not problems:
        print(f"ok   {len(EXPECTED)} lister exports, no gl* imports")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
