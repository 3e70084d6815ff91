#!/usr/bin/env python3
"""The Linux plug-in inside the real Double Commander (GTK2), headless: the viewer's frame equals
`zembrola render` of the same file at the same size, N shows the next recording, Escape closes
the viewer with the host still running, Quick View on and off, a resized viewer redraws at its new
size, playing advances the status line and keeps real time at 20 MS/s, Ctrl+C copies the frame, a
large recording shows its first frame while its waterfall still fills and closes at once during the
fill. Prints the timings.

usage: doublecmd_host_test.py --build build/linux [--demo out.png [--file RECORDING]]
With --demo it only opens the recording (the demo recording unless --file names one), plays it
and after 1.5 s writes a screenshot of the viewer window.
Exit 77 (skipped) when the host or its drivers are not installed."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing left behind in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import dchost  # noqa: E402

# The frame on the screen must be the renderer's frame: every channel of every pixel within this
# many levels of `zembrola render`, and at most this share of pixels different at all.
MAX_LEVEL_DIFF = 2
MAX_DIFF_SHARE = 0.001
FIRST_FRAME_LIMIT = 1.3  # open to first frame in the host against `zembrola render`
# Play position advance per wall-clock second at 20 MS/s (0.97 to 0.99 measured on a loaded
# two-core machine; the margin is for a busier one).
REAL_TIME_MIN = 0.9
BIG_SAMPLES = 200_000_000

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


class Run:
    def __init__(self, build, tmp):
        self.build, self.tmp = build, tmp

    def render(self, rec, w, h, name="ref.png"):
        out = os.path.join(self.tmp, name)
        t = time.perf_counter()
        subprocess.run([os.path.join(self.build, "zembrola"), "render", rec, "-o", out, "--size", f"{w}x{h}"],
                       check=True, capture_output=True)
        return np.asarray(Image.open(out).convert("RGB")), time.perf_counter() - t


def compare(shot, frame, ref):
    x, y, w, h, _ = frame
    got = np.asarray(shot.crop((x, y, x + w, y + h)))
    if got.shape != ref.shape:
        return False, f"size {got.shape} vs {ref.shape}"
    d = np.abs(got.astype(int) - ref.astype(int))
    share = float(np.mean(d.max(axis=2) > 0))
    return d.max() <= MAX_LEVEL_DIFF and share <= MAX_DIFF_SHARE, f"max diff {d.max()}, {share:.5%} of pixels differ"


def colour_count(img, rgb):
    a = np.asarray(img)
    return int(np.count_nonzero(np.all(a == np.array(rgb, dtype=a.dtype), axis=2)))


def make_recordings(build, tmp):
    gen = os.path.join(tmp, "gen")
    subprocess.run([os.path.join(build, "iqgen"), "--out", gen, "--seconds", "3"], check=True,
                   capture_output=True)
    rec = os.path.join(tmp, "rec")
    os.makedirs(rec)
    # In name order: demo.cs16, demo.cs8 (the next file), demo.raw (empty: nothing to show),
    # demo.txt (the sidecar of the first two), fast.cs8, fast.txt, zbig.cs16, zbig.txt.
    shutil.copy(os.path.join(gen, "demo_int16.cs16"), os.path.join(rec, "demo.cs16"))
    shutil.copy(os.path.join(gen, "demo_int8.cs8"), os.path.join(rec, "demo.cs8"))
    shutil.copy(os.path.join(gen, "demo_int16.txt"), os.path.join(rec, "demo.txt"))
    open(os.path.join(rec, "demo.raw"), "wb").close()
    # 20 MS/s for 1.5 s: the 2 MS/s recording five times over, announced at ten times its rate.
    with open(os.path.join(gen, "demo_int8.cs8"), "rb") as f:
        body = f.read()
    with open(os.path.join(rec, "fast.cs8"), "wb") as f:
        for _ in range(5):
            f.write(body)
    with open(os.path.join(rec, "fast.txt"), "w") as f:
        f.write("sample_rate_hz=20000000\ncenter_freq_hz=433920000\n")
    # 100 MS/s for 2 s, sparse: 800 MB of int16 that take the window fill seconds.
    with open(os.path.join(rec, "zbig.cs16"), "wb") as f:
        f.truncate(BIG_SAMPLES * 4)
    with open(os.path.join(rec, "zbig.txt"), "w") as f:
        f.write("sample_rate_hz=100000000\ncenter_freq_hz=2400000000\n")
    return rec


def open_viewer(host):
    before = host.count("first_frame_ms")
    host.focus(host.main)
    t_key = time.monotonic()  # the clock the plug-in's steady clock reads too
    host.key("F3")
    ms = host.wait_note("first_frame_ms", before, 30)
    at = host.last("first_frame_at")
    key_ms = (float(at) - t_key) * 1000 if ms and at else None
    if key_ms is not None:
        print(f"timing: F3 to first frame {key_ms:.0f} ms (ListLoad to first frame {float(ms):.0f} ms)")
    viewer = host.wait_window(".", 10, exclude=(host.main,))  # its title is the file's path
    if viewer:
        # No window manager places it: put it where the whole of it is on the screen.
        host.xdo("windowmove", "--sync", viewer, "0", "0", check=False)
        host.xdo("windowsize", "--sync", viewer, "900", "640", check=False)
    host.settle()
    return viewer, key_ms


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--demo", help="only open a recording, play it and write this screenshot")
    ap.add_argument("--file", help="the recording --demo opens")
    args = ap.parse_args()
    missing = dchost.missing_tools()
    if missing:
        print("skipped: not installed: " + " ".join(missing))
        return 77
    plugin = os.path.join(args.build, "zembrola_gtk2.wlx")
    start = time.time()
    tmp = tempfile.mkdtemp(prefix="zb-dc-")
    x = host = None
    try:
        rec = make_recordings(args.build, tmp)
        run = Run(args.build, tmp)
        # Both sides are timed warm: the recording in the page cache, Mesa's libraries read once.
        run.render(os.path.join(rec, "demo.cs16"), 320, 200, "warm.png")
        x = dchost.Xvfb()
        first = os.path.abspath(args.file) if args.demo and args.file else os.path.join(rec, "demo.cs16")
        host = dchost.Host(plugin, first, x.display, os.path.join(tmp, "notes.log"))

        # Viewer (F3): the frame on the screen is the renderer's frame.
        viewer, first_ms = open_viewer(host)
        check(viewer is not None and first_ms is not None, "F3 opens the viewer with the plug-in")
        if args.demo:
            if not viewer:
                raise RuntimeError("no viewer window")
            host.xdo("windowsize", "--sync", viewer, "1000", "700")
            host.settle()
            fx, fy, _, _, _ = host.frame()
            host.click(fx + 44, fy - 16)
            time.sleep(1.5)  # the picture is taken while it plays
            host.screenshot().crop(screen_box(host, viewer)).save(args.demo)
            print(f"demo: screenshot written to {args.demo}")
            return 0 if not failures else 1
        fr = host.frame()
        ref, render_s = run.render(os.path.join(rec, "demo.cs16"), fr[2], fr[3])
        shot = host.screenshot()
        shot.save(os.path.join(tmp, "viewer.png"))
        ok, detail = compare(shot, fr, ref)
        check(ok, f"viewer frame {fr[2]}x{fr[3]} equals zembrola render ({detail})")
        bg = tuple(int(c) for c in np.unique(ref.reshape(-1, 3), axis=0, return_counts=True)[0][
            np.argmax(np.unique(ref.reshape(-1, 3), axis=0, return_counts=True)[1])])
        ratio = first_ms / 1000.0 / render_s
        print(f"timing: F3 to first frame in the host {first_ms:.0f} ms, zembrola render of the same file and "
              f"size {render_s * 1000:.0f} ms (x{ratio:.2f})")
        check(ratio <= FIRST_FRAME_LIMIT, f"open to first frame within {FIRST_FRAME_LIMIT}x zembrola render")

        # Ctrl+C: the frame as drawn goes to the clipboard as an image.
        copies = host.count("copied")
        host.focus(viewer)
        host.key("ctrl+c")
        copied = host.wait_note("copied", copies, 5)
        check(copied == f"{fr[2]} {fr[3]}", f"Ctrl+C copies the frame to the clipboard ({copied})")

        # The mouse over the PSD shows the frequency readout; the settings dialog opens and cancels.
        x0, y0, w0, h0, _ = fr
        readout_box = (x0 + w0 - 154, y0 + h0 + 26, x0 + w0, y0 + h0 + 48)
        empty = np.asarray(host.screenshot().crop(readout_box))
        host.xdo("mousemove", "--sync", str(x0 + w0 // 2), str(y0 + h0 // 4))
        time.sleep(0.5)
        shown = np.asarray(host.screenshot().crop(readout_box))
        host.xdo("mousemove", "--sync", "5", "1000")
        check(np.any(empty != shown), "the mouse over the plot shows the frequency readout")
        def escapes(open_it, title, what):
            open_it()
            dlg = host.wait_window(title, 10)
            if dlg:
                host.focus(dlg)
                host.key("Escape")
                time.sleep(0.5)
            check(dlg is not None and dlg not in host.windows(".") and host.alive(), what)

        escapes(lambda: host.click(x0 + 415, y0 - 16), "Zembrola Settings",
                "Settings opens the settings dialog, Escape cancels it")
        escapes(lambda: host.click(x0 + 509, y0 - 16), "Signallegende",
                "Legende opens the signal legend, Escape closes it")
        host.settle()

        # I shows the information box; Ctrl+S saves the frame through the save dialog, first under
        # the name it offers (in the recording's folder), then under a path typed into it.
        escapes(lambda: (host.focus(viewer), host.key("i")), "^Information$",
                "I opens the information box, Escape closes it")
        typed = os.path.join(tmp, "typed.png")
        for path, typing in ((os.path.join(rec, "demo_0.000s.png"), None), (typed, typed)):
            host.focus(viewer)
            host.key("ctrl+s")
            dlg = host.wait_window("^Save As$", 10)
            if dlg:
                host.focus(dlg)
                if typing:
                    host.key("ctrl+a")
                    host.xdo("type", "--delay", "10", typing)
                host.key("Return")
                time.sleep(1.0)
            size = None
            if os.path.exists(path):
                with open(path, "rb") as f:
                    head = f.read(24)
                if head[:8] == b"\x89PNG\r\n\x1a\n":
                    size = (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big"))
            check(dlg is not None and size == (fr[2], fr[3]) and dlg not in host.windows("."),
                  f"Ctrl+S saves the frame as {os.path.basename(path)} through the save dialog ({size})")
        host.settle()

        # A resized viewer draws a frame of its new size.
        host.xdo("windowsize", "--sync", viewer, "1000", "760")
        host.settle()
        fr2 = host.frame()
        ref2, _ = run.render(os.path.join(rec, "demo.cs16"), fr2[2], fr2[3], "ref2.png")
        ok, detail = compare(host.screenshot(), fr2, ref2)
        check((fr2[2], fr2[3]) != (fr[2], fr[3]) and ok, f"resized to {fr2[2]}x{fr2[3]}: new frame equals render ({detail})")

        # Play advances the status line; pressing play again stops it.
        fx, fy, fw, fh, _ = fr2
        status_box = (fx + 4, fy + fh + 26, fx + fw - 154, fy + fh + 48)
        before = host.screenshot().crop(status_box)
        host.click(fx + 44, fy - 16)
        time.sleep(0.8)
        mid = host.screenshot().crop(status_box)
        time.sleep(0.5)
        after = host.screenshot().crop(status_box)
        pos = host.frame()[4]
        host.click(fx + 44, fy - 16)
        changed = np.any(np.asarray(before) != np.asarray(mid)) and np.any(np.asarray(mid) != np.asarray(after))
        check(changed and pos > 0, f"play advances the status line (at {pos:.2f} s)")
        host.settle()

        # N: the next recording in the same viewer.
        opens = host.count("open")
        host.focus(viewer)
        host.key("n")
        nxt = host.wait_note("open", opens, 20)
        host.settle()
        fr3 = host.frame()
        ok3 = nxt is not None and nxt.endswith("demo.cs8")
        if ok3:
            ref3, _ = run.render(os.path.join(rec, "demo.cs8"), fr3[2], fr3[3], "ref3.png")
            ok3, detail = compare(host.screenshot(), fr3, ref3)
        else:
            detail = f"opened {nxt}"
        check(ok3, f"N shows the next recording ({detail})")

        # N onto a file the plug-in cannot show: it refuses, the host shows it otherwise; P comes back.
        opens = host.count("open")
        host.key("n")
        time.sleep(2.0)
        check(host.count("open") == opens and host.alive() and colour_count(host.screenshot(), bg) == 0,
              "N onto an empty file: refused, none of the old frame left, host running")
        host.focus(viewer)
        host.key("p")
        back = host.wait_note("open", opens, 20)
        host.settle()
        check(back is not None and back.endswith("demo.cs8"), f"P shows the recording again ({back})")

        # Escape closes the viewer and leaves nothing of it; the host keeps running.
        check(colour_count(host.screenshot(), bg) > 0, f"the frame's background {bg} is on the screen")
        host.focus(viewer)
        host.key("Escape")
        end = time.time() + 10
        while viewer in host.windows(".") and time.time() < end:
            time.sleep(0.2)
        time.sleep(0.5)
        check(viewer not in host.windows(".") and colour_count(host.screenshot(), bg) == 0 and host.alive(),
              "Escape closes the viewer, no pixel of it left, host running")

        # Quick View on and off.
        frames = host.count("frame")
        host.focus(host.main)
        host.key("ctrl+q")
        host.wait_note("frame", frames, 20)
        host.settle()
        fq = host.frame()
        refq, _ = run.render(os.path.join(rec, "demo.cs16"), fq[2], fq[3], "refq.png")
        ok, detail = compare(host.screenshot(), fq, refq)
        check(ok, f"Quick View shows the frame {fq[2]}x{fq[3]} ({detail})")
        host.key("ctrl+q")
        time.sleep(1.0)
        check(colour_count(host.screenshot(), bg) == 0 and host.alive(), "Quick View off: no pixel left, host running")

        # 20 MS/s in real time.
        host.focus(host.main)
        host.key("End", "Up", "Up", "Up")
        viewer, _ = open_viewer(host)
        fx, fy, _, _, _ = host.frame()
        host.click(fx + 44, fy - 16)
        time.sleep(1.3)
        host.click(fx + 44, fy - 16)
        real = host.last("play_ratio")
        real = float(real) if real else 0.0
        print(f"timing: 20 MS/s playback advances {real:.3f} s per second")
        check(real >= REAL_TIME_MIN, f"20 MS/s playback keeps real time (>= {REAL_TIME_MIN})")
        host.focus(viewer)
        host.key("Escape")
        time.sleep(0.5)

        # A large recording: the first frame comes while the waterfall still fills and the status line
        # says so; Escape during the fill closes at once; left open, the window completes.
        for close_early in (True, False):
            host.focus(host.main)
            host.key("End", "Up")
            mark, t_key = len(host.notes()), time.time()
            host.key("F3")
            viewer = host.wait_window(".", 30, exclude=(host.main,))
            end = t_key + 60
            while time.time() < end and not any(k == "first_frame_ms" for k, _ in host.notes()[mark:]):
                time.sleep(0.05)
            if close_early:
                t = time.time()
                host.focus(viewer)
                host.key("Escape")
                while viewer in host.windows(".") and time.time() < t + 10:
                    time.sleep(0.05)
                gone = time.time() - t
                print(f"timing: Escape during the fill closes the viewer in {gone * 1000:.0f} ms")
                sts = [v for k, v in host.notes()[mark:] if k == "status"]
                check(viewer not in host.windows(".") and gone < 2.0 and host.alive() and
                      any(v.startswith("Filling waterfall") for v in sts),
                      "Escape while the waterfall fills closes the viewer at once, host running")
                time.sleep(0.5)
                continue
            while time.time() < end:
                sts = [v for k, v in host.notes()[mark:] if k == "status"]
                if sts and not sts[-1].startswith("Filling waterfall"):
                    break
                time.sleep(0.1)
            notes = [(k, v) for k, v in host.notes()[mark:] if k in ("first_frame_ms", "status")]
            first = next((i for i, (k, _) in enumerate(notes) if k == "first_frame_ms"), len(notes))
            after = [v for k, v in notes[first:] if k == "status"]
            filled = bool(after) and after[0].startswith("Filling waterfall") and \
                not after[-1].startswith("Filling waterfall")
            ms = notes[first][1] if first < len(notes) else "?"
            print(f"timing: 100 MS/s sparse recording: first frame {ms} ms after ListLoad, "
                  f"window complete within {time.time() - t_key:.1f} s of F3")
            check(filled, "a large recording: first frame while the waterfall fills, the status line says so, "
                  "then the window completes")
            host.focus(viewer)
            host.key("Escape")
        check(host.alive(), "host still running at the end")
    finally:
        if host:
            host.close()
        if x:
            x.close()
        if failures:
            print(f"kept for inspection: {tmp}")
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print(f"doublecmd host test: {len(failures)} failure(s) in {time.time() - start:.0f} s")
    return 1 if failures else 0


def screen_box(host, win):
    g = host.xdo("getwindowgeometry", "--shell", win)
    v = dict(line.split("=", 1) for line in g.splitlines() if "=" in line)
    x, y, w, h = int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])
    return (x, y, x + w, y + h)


if __name__ == "__main__":
    sys.exit(main())
