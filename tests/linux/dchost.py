"""Drives the real Double Commander (GTK2 build) on a private Xvfb display with the Linux plug-in
registered: starts it on a file, sends keys, takes screenshots and reads what the plug-in notes
(ZEMBROLA_TIMING_LOG: where each frame went, which file it opened, timings)."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from html import escape

from PIL import Image

DETECT = 'EXT="IQ" | EXT="RAW" | EXT="CF32" | EXT="CS8" | EXT="CS16" | EXT="SDRIQ"'


def missing_tools():
    return [t for t in ("doublecmd", "xdotool", "xwd", "Xvfb") if not shutil.which(t)]


class Xvfb:
    """A display of its own: the server picks a free number and writes it to our pipe."""

    def __init__(self, size="1280x1024"):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", size + "x24", "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            num = f.readline().strip()
        if not num:
            self.proc.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + num

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Host:
    def __init__(self, plugin, start_file, display, log_path, tries=3):
        self.display = display
        self.log_path = log_path
        self.env = dict(os.environ, DISPLAY=display, ZEMBROLA_TIMING_LOG=log_path, NO_AT_BRIDGE="1",
                        GTK_MODULES="", LANG="C.UTF-8")
        self.cfg = tempfile.mkdtemp(prefix="zb-dc-cfg-")
        with open(os.path.join(self.cfg, "doublecmd.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\n<doublecmd DCVersion="1.0.10" ConfigVersion="13">\n'
                    "  <Plugins><WlxPlugins><WlxPlugin Enabled=\"True\">\n"
                    f"    <Name>zembrola_gtk2</Name><DetectString>{escape(DETECT)}</DetectString>\n"
                    f"    <Path>{escape(os.path.abspath(plugin))}</Path>\n"
                    "  </WlxPlugin></WlxPlugins></Plugins>\n</doublecmd>\n")
        # Only the host's start-up is retried: a slow first start of GTK on a loaded machine.
        for attempt in range(tries):
            self.proc = subprocess.Popen(
                ["doublecmd", "--no-splash", f"--config-dir={self.cfg}", "-L", os.path.abspath(start_file)],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            self.main = self.wait_window("Double Commander", 30)
            if self.main:
                break
            self.kill()
        else:
            raise RuntimeError("Double Commander did not show its window")
        self.focus(self.main)
        time.sleep(0.5)

    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)
        if check and r.returncode != 0:
            raise RuntimeError(f"xdotool {args}: {r.stderr}")
        return r.stdout.strip()

    def windows(self, name):
        out = self.xdo("search", "--onlyvisible", "--name", name, check=False)
        return [w for w in out.split() if w]

    def wait_window(self, name, timeout, exclude=()):
        end = time.time() + timeout
        while time.time() < end:
            if self.proc.poll() is not None:
                return None
            ws = [w for w in self.windows(name) if w not in exclude]
            if ws:
                return ws[-1]
            time.sleep(0.2)
        return None

    def focus(self, win):
        # No window manager here: focus is set directly.
        self.xdo("windowfocus", "--sync", win, check=False)

    def key(self, *keys):
        for k in keys:
            self.xdo("key", "--clearmodifiers", k)
            time.sleep(0.05)

    def click(self, x, y):
        self.xdo("mousemove", "--sync", str(x), str(y))
        self.xdo("click", "1")

    def screenshot(self):
        """The whole screen as an RGB image."""
        data = subprocess.run(["xwd", "-root", "-silent"], env=self.env, capture_output=True, check=True).stdout
        return xwd_to_image(data)

    def alive(self):
        return self.proc.poll() is None

    def kill(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()

    def close(self):
        self.kill()
        shutil.rmtree(self.cfg, ignore_errors=True)

    # --- what the plug-in noted ---
    def notes(self):
        try:
            with open(self.log_path) as f:
                return [line.split(" ", 1) for line in f.read().splitlines() if " " in line]
        except FileNotFoundError:
            return []

    def last(self, kind):
        vals = [v for k, v in self.notes() if k == kind]
        return vals[-1] if vals else None

    def count(self, kind):
        return sum(1 for k, _ in self.notes() if k == kind)

    def wait_note(self, kind, after_count, timeout=20):
        end = time.time() + timeout
        while time.time() < end:
            if self.count(kind) > after_count:
                return self.last(kind)
            time.sleep(0.1)
        return None

    def frame(self):
        """(x, y, w, h, position in s) of the frame shown last."""
        v = self.last("frame")
        if v is None:
            return None
        x, y, w, h, pos = v.split()
        return int(x), int(y), int(w), int(h), float(pos)

    def settle(self, quiet=0.6, timeout=15):
        """Waits until no frame has been drawn for `quiet` seconds."""
        end = time.time() + timeout
        n, since = self.count("frame"), time.time()
        while time.time() < end:
            time.sleep(0.1)
            m = self.count("frame")
            if m != n:
                n, since = m, time.time()
            elif time.time() - since >= quiet:
                return
        raise RuntimeError("the viewer kept drawing")


def xwd_to_image(data):
    h = [int.from_bytes(data[i * 4:i * 4 + 4], "big") for i in range(25)]
    header_size, width, height = h[0], h[4], h[5]
    byte_order, bpp, bytes_per_line, ncolors = h[7], h[11], h[12], h[19]
    if bpp != 32:
        raise RuntimeError(f"screenshot with {bpp} bits per pixel")
    offset = header_size + ncolors * 12
    raw = data[offset:offset + bytes_per_line * height]
    mode = "BGRX" if byte_order == 0 else "XRGB"
    return Image.frombuffer("RGB", (width, height), raw, "raw", mode, bytes_per_line, 1)
