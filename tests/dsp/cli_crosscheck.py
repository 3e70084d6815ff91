#!/usr/bin/env python3
"""Checks `zembrola psd`, `rows` and `thumb` against an independent implementation.

Writes fresh random recordings (int16, float32 and int8 I/Q, with and without a sidecar
sample rate), runs the command-line tool on them and recomputes everything here in plain
Python: its own recursive FFT in double precision, the Hann window, averaging, max-hold
decimation, and the preview picture with the colour map emulated in 32-bit floats.

    python3 tests/dsp/cli_crosscheck.py build/<dir>/zembrola [--seed N]

Exit status 0 when everything agrees (PSD within 1e-9 dB, rows within float rounding,
preview bytes identical), 1 otherwise.
"""
import argparse
import cmath
import math
import os
import random
import struct
import subprocess
import sys
import tempfile

FLOOR = 1e-12


def f32(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def fft(x):
    n = len(x)
    if n == 1:
        return list(x)
    even = fft(x[0::2])
    odd = fft(x[1::2])
    out = [0j] * n
    for k in range(n // 2):
        t = cmath.exp(-2j * math.pi * k / n) * odd[k]
        out[k] = even[k] + t
        out[k + n // 2] = even[k] - t
    return out


def block_power(samples, start, n):
    """Windowed, transformed, shifted squared magnitudes of one block."""
    w = [0.5 * (1 - math.cos(2 * math.pi * i / n)) for i in range(n)]
    spectrum = fft([w[i] * samples[start + i] for i in range(n)])
    half = n // 2
    shifted = spectrum[half:] + spectrum[:half]
    return [abs(v) ** 2 for v in shifted]


def psd(samples, rate, n, avg):
    segs = max(1, min(avg, len(samples) // n))
    acc = [0.0] * n
    for s in range(segs):
        p = block_power(samples, s * n, n)
        acc = [a + b for a, b in zip(acc, p)]
    freqs = [(i - n // 2) * rate / n for i in range(n)]
    return freqs, [10 * math.log10(max(a / segs, FLOOR)) for a in acc]


def waterfall(samples, n, overlap, max_rows, dec):
    dec = max(dec, 1)
    hop = max(1, round((1 - overlap) * n))
    if len(samples) < n:
        return []
    total = (len(samples) - n) // hop + 1
    raw = lambda r: [f32(10 * math.log10(max(v, FLOOR))) for v in block_power(samples, r * hop, n)]
    blocks = total
    if dec > 1:
        blocks = total // dec
        if blocks <= 0:
            blocks, dec = 1, total
    keep = min(blocks, max_rows) if max_rows > 0 else blocks
    rows = []
    for b in range(blocks - keep, blocks):
        m = raw(b * dec)
        for k in range(1, dec):
            m = [max(a, c) for a, c in zip(m, raw(b * dec + k))]
        rows.append(m)
    return rows


# ---- colour map in 32-bit float arithmetic ----
STOPS = [[f32(v) for v in ch] for ch in (
    (0.267, 0.283, 0.254, 0.191, 0.127, 0.208, 0.565, 0.993),
    (0.005, 0.141, 0.288, 0.407, 0.566, 0.718, 0.843, 0.906),
    (0.329, 0.458, 0.530, 0.556, 0.551, 0.472, 0.262, 0.144))]


def colour(db, lo=-10.0, hi=45.0):
    """(B, G, R) bytes of a level."""
    db, lo, hi = f32(db), f32(lo), f32(hi)
    t = f32(f32(db - lo) / f32(hi - lo))
    t = min(max(t, 0.0), 1.0)
    chans = []
    for ch in STOPS:
        if not t > 0:
            c = ch[0]
        elif t >= 1:
            c = ch[7]
        else:
            s = f32(t * 7)
            i = min(int(s), 6)
            f = f32(s - i)
            c = f32(ch[i] + f32(f32(ch[i + 1] - ch[i]) * f))
        chans.append(round(f32(min(max(c, 0.0), 1.0) * 255)))
    return bytes((chans[2], chans[1], chans[0]))


def thumbnail(samples_all, rate, width, height):
    count = min(min(round(rate * 0.5), 100000), len(samples_all))
    s = samples_all[:count]
    n = 1024 if len(s) >= 1024 else 1 << (len(s) // 2 - 1).bit_length()
    _, levels = psd(s, rate, n, 1)
    rows = waterfall(s, min(n, 256), 0.0, height, 1)
    psd_h = max(height * 2 // 5, 8)
    wf_h = height - psd_h
    stride = (3 * width + 3) // 4 * 4
    img = bytearray([30]) * (stride * height)
    def cell(x, cells, n):  # the items pixel x of cells covers: its share, at least one
        first = min(x * n // cells, n - 1)
        return first, max(first, min((x + 1) * n // cells, n) - 1)

    def strongest(vals, x, cells):
        a, b = cell(x, cells, len(vals))
        return max(vals[a:b + 1])

    for x in range(width):
        v = strongest(levels, x, width)
        t = min(max((v + 10) / 55, 0.0), 1.0)
        top = round((psd_h - 1) * t)
        c = colour(v)
        for y in range(top + 1):
            o = (wf_h + y) * stride + 3 * x
            img[o:o + 3] = c
    for y in range(wf_h):
        if not rows:
            break
        r0, r1 = cell(y, wf_h, len(rows))
        row = [max(col) for col in zip(*rows[r0:r1 + 1])]
        for x in range(width):
            o = y * stride + 3 * x
            img[o:o + 3] = colour(strongest(row, x, width))
    head = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, 0, 0, 0, 0, 0)
    return b'BM' + struct.pack('<IHHI', 14 + 40 + len(img), 0, 0, 54) + head + bytes(img)


# ---- recordings ----
def write_recording(path, kind, n, rng):
    tones = [(rng.uniform(-0.5, 0.5), rng.uniform(0.05, 0.4)) for _ in range(3)]
    vals = []
    for i in range(n):
        v = sum(a * cmath.exp(2j * math.pi * f * i) for f, a in tones) + complex(rng.gauss(0, 0.01), rng.gauss(0, 0.01))
        vals.append(v)
    if kind == 'cs16':
        q = [(max(-32768, min(32767, round(v.real * 32767))), max(-32768, min(32767, round(v.imag * 32767)))) for v in vals]
        data = b''.join(struct.pack('<hh', a, b) for a, b in q)
        samples = [complex(f32(a * 2.0 ** -15), f32(b * 2.0 ** -15)) for a, b in q]
    elif kind == 'cf32':
        q = [(f32(v.real), f32(v.imag)) for v in vals]
        data = b''.join(struct.pack('<ff', a, b) for a, b in q)
        samples = [complex(a, b) for a, b in q]
    else:
        q = [(max(-128, min(127, round(v.real * 127))), max(-128, min(127, round(v.imag * 127)))) for v in vals]
        data = b''.join(struct.pack('<bb', a, b) for a, b in q)
        samples = [complex(a / 128, b / 128) for a, b in q]
    with open(path, 'wb') as f:
        f.write(data)
    return samples


def run(tool, *args):
    r = subprocess.run([tool, *args], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"{' '.join(args)}: exit {r.returncode}: {r.stderr.strip()}")
    return r.stdout


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('tool')
    ap.add_argument('--seed', type=int, default=None)
    a = ap.parse_args()
    seed = a.seed if a.seed is not None else int.from_bytes(os.urandom(4), 'little')
    rng = random.Random(seed)
    print(f'seed {seed}')
    failures = 0

    def check(ok, what):
        nonlocal failures
        print(('ok   ' if ok else 'FAIL ') + what)
        failures += not ok

    with tempfile.TemporaryDirectory() as d:
        cases = [('cs16', 12000, 250000.0), ('cf32', 9000, None), ('cs8', 7000, 48000.0)]
        for kind, n, rate in cases:
            path = os.path.join(d, f'rec_{kind}.{kind}')
            samples = write_recording(path, kind, n, rng)
            if rate is not None:
                with open(os.path.join(d, f'rec_{kind}.txt'), 'w') as f:
                    f.write(f'center_freq_hz=100000000\nsample_rate_hz={rate:.0f}\n')
            settled = rate if rate is not None else 2e6

            start, nfft, avg = rng.randrange(0, 500), 512, 3
            out = run(a.tool, 'psd', path, '--start', str(start), '--count', str(nfft * avg + 100),
                      '--nfft', str(nfft), '--avg', str(avg))
            got = [tuple(map(float, l.split())) for l in out.splitlines()]
            freqs, levels = psd(samples[start:start + nfft * avg + 100], settled, nfft, avg)
            ok = len(got) == nfft and all(g[0] == f for g, f in zip(got, freqs))
            err = max(abs(g[1] - l) for g, l in zip(got, levels)) if ok else float('inf')
            check(ok and err < 1e-9, f'{kind} psd: {len(got)} bins, max dB error {err:.3g}')

            for nf, ov, mr, dec in [(64, 0.5, 0, 1), (128, 0.25, 5, 3), (256, 0.0, 0, 100)]:
                cnt = 3000
                out = run(a.tool, 'rows', path, '--start', str(start), '--count', str(cnt), '--nfft', str(nf),
                          '--overlap', str(ov), '--max-rows', str(mr), '--decimation', str(dec))
                got = [list(map(float, l.split())) for l in out.splitlines()]
                ref = waterfall(samples[start:start + cnt], nf, ov, mr, dec)
                ok = len(got) == len(ref) and all(len(g) == nf for g in got)
                err = max((abs(x - y) for g, r in zip(got, ref) for x, y in zip(g, r)), default=0) if ok else float('inf')
                check(ok and err <= 2e-5, f'{kind} rows nfft {nf} overlap {ov} max {mr} dec {dec}: '
                                          f'{len(got)} rows, max dB error {err:.3g}')

            for w, h in [(16, 16), (75, 40)]:
                bmp = os.path.join(d, f'{kind}_{w}x{h}.bmp')
                run(a.tool, 'thumb', path, '--size', f'{w}x{h}', '-o', bmp)
                with open(bmp, 'rb') as f:
                    got = f.read()
                ref = thumbnail(samples, settled, w, h)
                diff = sum(x != y for x, y in zip(got, ref)) + abs(len(got) - len(ref))
                check(diff == 0, f'{kind} thumb {w}x{h}: {len(got)} bytes, {diff} differ')

        r = subprocess.run([a.tool, 'thumb', os.path.join(d, 'missing.cs16'), '--size', '64x64', '-o',
                            os.path.join(d, 'x.bmp')], capture_output=True, text=True)
        check(r.returncode != 0 and r.stderr.startswith('zembrola: '), 'thumb of a missing file fails')
        short = os.path.join(d, 'short.cs16')
        write_recording(short, 'cs16', 255, rng)
        r = subprocess.run([a.tool, 'thumb', short, '--size', '64x64', '-o', os.path.join(d, 'x.bmp')],
                           capture_output=True, text=True)
        check(r.returncode != 0 and 'no preview' in r.stderr, 'thumb of 255 samples makes no preview')
    print('all agree' if failures == 0 else f'{failures} check(s) failed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
