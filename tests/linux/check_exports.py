#!/usr/bin/env python3
"""The Linux plug-in's dynamic symbols: the lister functions the host looks up, exported with C
linkage and nothing else of ours; no OpenGL function imported by name (every GL call goes through
the entry points the offscreen library hands out, so a host's own GL library cannot capture them).
Then the calls that need no display, through the library itself: the detect string cut to the
buffer, names that name no file refused with 0, commands for no viewer refused.

usage: check_exports.py build/linux/zembrola_gtk2.wlx"""

import ctypes
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
    problems += calls(path)
    for p in problems:
        print("FAIL " + p)
    if not problems:
        print(f"ok   {len(EXPECTED)} lister exports, no gl* imports, refusals without a display")
    return 1 if problems else 0


def calls(path):
    lib = ctypes.CDLL(path)
    lib.ListLoad.restype = lib.ListLoadW.restype = ctypes.c_void_p
    lib.ListLoad.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    lib.ListLoadW.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint16), ctypes.c_int]
    lib.ListSendCommand.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
    lib.ListLoadNext.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    problems = []
    detect = 'EXT="IQ" | EXT="RAW" | EXT="CF32" | EXT="CS8" | EXT="CS16" | EXT="SDRIQ"'
    for size, want in ((10, detect[:9]), (73, detect), (200, detect), (1, "")):
        buf = ctypes.create_string_buffer(b"#" * 200)
        lib.ListGetDetectString(buf, size)
        if buf.value.decode() != want:
            problems.append(f"ListGetDetectString({size}) gave {buf.value!r}")

    def utf16(units):
        return (ctypes.c_uint16 * (len(units) + 1))(*units, 0)

    refused = {
        "ListLoad(missing)": lib.ListLoad(None, b"/nonexistent/zb.cs16", 0),
        "ListLoad(nil)": lib.ListLoad(None, None, 0),
        "ListLoadW(missing, with a surrogate pair)": lib.ListLoadW(None, utf16([0x2F, 0xD83D, 0xDE00, 0x2E, 0x69, 0x71]), 0),
        "ListLoadW(unpaired surrogate)": lib.ListLoadW(None, utf16([0x2F, 0x74, 0x6D, 0x70, 0xD800]), 0),
        "ListLoadW(nil)": lib.ListLoadW(None, None, 0),
    }
    problems += [f"{k} returned {v}" for k, v in refused.items() if v]
    if lib.ListSendCommand(None, 2, 0) != 1 or lib.ListLoadNext(None, None, b"/nonexistent", 0) != 1:
        problems.append("a command or next file for no viewer was not refused")
    lib.ListCloseWindow(None)
    lib.ListSetDefaultParams(None)
    return problems


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
