#!/usr/bin/env python3
"""Checks `zembrola signals` against an independent reading of the same sidecars.

Writes random sidecars (hopper runs, plain signals, times with "s" and ",", loops, open ends,
negative durations, malformed comments), reads them here in plain Python, and compares the
hopper groups, every signal's carrier, membership, interval, sequence text and tooltip text,
and the signal picked at random frequencies and times, with and without --center.

    python3 tests/viewer/signals_crosscheck.py build/<dir>/zembrola [--seed N] [--rounds N]

Exit status 0 when everything agrees, 1 otherwise.
"""
import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile

FAR_FUTURE = 1e18
NUMBER = re.compile(r'[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?')
INTEGER = re.compile(r'[+-]?\d+')


def trim(s):
    return s.strip(''.join(chr(c) for c in range(33)))


def number(s):
    t = trim(s)
    return float(t) if NUMBER.fullmatch(t) else 0.0


def integer(s):
    t = s.lstrip(' ')
    if not INTEGER.fullmatch(t):
        return None
    v = int(t)
    return v if -2**31 <= v < 2**31 else None


def token(line, key):
    p = line.find(key)
    if p < 0:
        return ''
    rest = line[p + len(key):]
    q = rest.find(' ')
    return rest if q < 0 else rest[:q]


def read_sidecar(path):
    """Centre frequency (or None) and the signals of a sidecar."""
    centre, signals, in_signals = None, [], False
    with open(path, 'r', encoding='latin-1', newline='') as f:
        lines = re.split(r'\r\n|\r|\n', f.read())
    for raw in lines:
        line = trim(raw)
        if not line:
            continue
        if line == 'signals=':
            in_signals = True
            continue
        if not in_signals:
            if '=' in line:
                k, v = line.split('=', 1)
                if trim(k) == 'center_freq_hz':
                    centre = number(v)
            continue
        if 'modulation=' not in line:
            continue
        m = re.match(r'[^\[]*\[([^\]]*)\]', line)
        idx = integer(m.group(1)) if m else None
        comment = ''
        p = line.find('comment=')
        if p >= 0:
            rest = line[p + len('comment='):]
            q = rest.find('  ')
            comment = trim(rest if q < 0 else rest[:q])
        p = line.find('params=')
        signals.append({
            'index': -1 if idx is None else idx,
            'name': token(line, 'name='),
            'modulation': token(line, 'modulation='),
            'offset': number(token(line, 'offset_hz=')),
            'loop': trim(token(line, 'loop_mode=')).lower() in ('true', '1', 'yes'),
            'repeat': token(line, 'repeat='),
            'pause': token(line, 'pause='),
            'delay': token(line, 'delay='),
            'duration': token(line, 'duration='),
            'comment': comment,
            'params': line[p + len('params='):] if p >= 0 else '',
        })
    return centre, signals


def secs(s):
    t = trim(s)
    if t and t[-1] in 'sS':
        t = t[:-1]
    return number(t.replace(',', '.'))


def hopper(comment):
    m = re.fullmatch(r'Hopper ([^/]*)/([^,]*),(.*)', trim(comment))
    if not m:
        return None
    rest = trim(m.group(3))
    if not rest.startswith('Folge '):
        return None
    rest = rest[6:]
    if '/' not in rest:
        return None
    c, d = rest.split('/', 1)
    vals = [integer(m.group(1)), integer(m.group(2)), integer(c), integer(trim(d))]
    return None if None in vals else vals


def interval(s):
    start, dur = secs(s['delay']), secs(s['duration'])
    if not s['loop'] and trim(s['duration']) and dur != 0:
        return start, start + dur
    return start, FAR_FUTURE


def groups_of(signals, centre):
    runs, open_run = [], False
    for i, s in enumerate(signals):
        h = hopper(s['comment'])
        if h is None:
            open_run = False
        elif not open_run or (h[0] == 1 and h[2] == 1):
            runs.append([i, i])
            open_run = True
        else:
            runs[-1][1] = i
    member = [False] * len(signals)
    groups = []
    for a, b in runs:
        if a < b:
            carriers = [centre + signals[i]['offset'] for i in range(a, b + 1)]
            groups.append({'lo_hz': min(carriers), 'hi_hz': max(carriers), 'count': b - a + 1})
            for i in range(a, b + 1):
                member[i] = True
    return groups, member


def fixed(v, decimals):
    t = '%.*f' % (decimals, v)
    if t.startswith('-') and not any(ch in '123456789' for ch in t):
        t = t[1:]
    return t


def sequence(s):
    if s['loop']:
        return 'Loop'
    t = ''
    if s['repeat'] and s['repeat'] != '1':
        t = s['repeat'] + 'x'
    if s['pause'] and secs(s['pause']) != 0:
        t = trim(t + ' P=' + s['pause'])
    if s['delay'] and secs(s['delay']) != 0:
        t = trim(t + ' D=' + s['delay'])
    return t


def info(s, centre):
    start, end = interval(s)
    if s['loop']:
        end_t = dur_t = 'Loop'
    elif end < 1e17:
        end_t, dur_t = fixed(end, 4) + 's', fixed(end - start, 4) + 's'
    else:
        end_t, dur_t = 'unbegrenzt', 'unbegrenzt (bis Ende)'
    return '\r\n'.join([
        '#%d  %s' % (s['index'], s['name']), 'Mod: ' + s['modulation'],
        'Freq: %s MHz' % fixed((centre + s['offset']) / 1e6, 4),
        'Start: %s   Ende: %s   Dauer: %s' % (fixed(start, 4) + 's', end_t, dur_t),
        'Param: ' + s['params'], 'Komm: ' + s['comment']])


def pick(signals, centre, freq, tol, t):
    best = active = None
    for i, s in enumerate(signals):
        d = abs(centre + s['offset'] - freq)
        if d > tol:
            continue
        if best is None or d < best[1]:
            best = (i, d)
        a, b = interval(s)
        if a <= t < b and (active is None or d < active[1]):
            active = (i, d)
    return active[0] if active else (best[0] if best else -1)


def random_sidecar(rng):
    lines = ['sample_rate_hz=2000000']
    if rng.random() < 0.8:
        lines.append('center_freq_hz=%d' % rng.choice([0, 433920000, 868300000, 145500000]))
    lines.append('signals=')
    n = rng.randint(0, 14)
    hop, folge = 1, 1
    for i in range(n):
        kind = rng.random()
        if kind < 0.55:
            count = rng.randint(2, 5)
            comment = 'Hopper %d/%d, Folge %d/%d' % (hop, count, folge, 2)
            hop += 1
            if hop > count or rng.random() < 0.2:
                hop, folge = 1, 1 if folge == 2 or rng.random() < 0.5 else 2
        elif kind < 0.65:
            comment = rng.choice(['hopper 1/3, Folge 1/1', 'Hopper 1/3 Folge 1/1', 'Hopper x/3, Folge 1/1'])
        else:
            comment = rng.choice(['', 'plain tone', 'Burst 3'])
        fields = ['name=S%d' % i, 'modulation=' + rng.choice(['FSK', 'AM', 'OOK', 'LoRa']),
                  'offset_hz=%s' % rng.choice(['%d' % rng.randint(-900000, 900000), '%.1f' % rng.uniform(-5e5, 5e5),
                                               '-2.5e5', '0']),
                  'amplitude=%.3f' % rng.random(),
                  'loop_mode=%s' % rng.choice(['false', 'false', 'true', 'YES', '0']),
                  'repeat=%s' % rng.choice(['1', '2', '3', '']),
                  'pause=%s' % rng.choice(['0s', '0.5s', '1,25', '']),
                  'delay=%s' % rng.choice(['0s', '1s', '2,5s', '0.125S', '', 'abc', '%.3fs' % rng.uniform(0, 9)]),
                  'duration=%s' % rng.choice(['1s', '0.25s', '1,5', '', '0', '-1s', '%.3f' % rng.uniform(0, 4)])]
        fields = [f for f in fields if not f.endswith('=') or rng.random() < 0.5]
        rng.shuffle(fields)
        head = rng.choice(['[%d] ' % i, '[%d] ' % i, '', '[x] '])
        line = head + ' '.join(fields)
        if comment:
            line += ' comment=' + comment
        if rng.random() < 0.5:
            line += '  params=shift=%d bw=12k' % rng.randint(100, 5000)
        lines.append(line)
    return '\n'.join(lines) + '\n'


def close(a, b):
    return a == b or abs(a - b) <= 1e-6 * max(1.0, abs(a), abs(b))


def check(exe, folder, rng, k):
    rec = os.path.join(folder, 'rec%d.cs16' % k)
    with open(rec, 'wb') as f:
        f.write(bytes(64))
    text = random_sidecar(rng)
    with open(os.path.join(folder, 'rec%d.txt' % k), 'w', newline='') as f:
        f.write(text)
    centre, signals = read_sidecar(os.path.join(folder, 'rec%d.txt' % k))
    centre = centre or 0.0
    args = [exe, 'signals', rec]
    if rng.random() < 0.3:
        centre = float(rng.choice([100000000, 150000000, 0]))
        args += ['--center', rng.choice(['%d', '%.1f']) % centre]
    freq = tol = t = None
    if signals and rng.random() < 0.9:
        s = rng.choice(signals)
        freq = centre + s['offset'] + rng.uniform(-3000, 3000)
        tol = rng.choice([0.0, 500.0, 2500.0, 1e6])
        t = rng.choice([0.0, 1.0, 2.5, 3.75, rng.uniform(0, 10)])
        args += ['--pick', repr(freq), '--tol', repr(tol), '--at', repr(t)]
    got = json.loads(subprocess.run(args, check=True, capture_output=True, text=True).stdout)

    errors = []
    groups, member = groups_of(signals, centre)
    if len(got['groups']) != len(groups):
        errors.append('groups: %r, want %r' % (got['groups'], groups))
    else:
        for g, w in zip(got['groups'], groups):
            if g['count'] != w['count'] or not close(g['lo_hz'], w['lo_hz']) or not close(g['hi_hz'], w['hi_hz']):
                errors.append('group %r, want %r' % (g, w))
    if len(got['signals']) != len(signals):
        errors.append('%d signals, want %d' % (len(got['signals']), len(signals)))
    for i, (g, s) in enumerate(zip(got['signals'], signals)):
        start, end = interval(s)
        want = {'index': s['index'], 'name': s['name'], 'carrier_hz': centre + s['offset'],
                'hopper_member': member[i], 'start_s': start, 'end_s': end if end < 1e17 else None,
                'sequence': sequence(s), 'info': info(s, centre)}
        for key, value in want.items():
            ok = close(g[key], value) if isinstance(value, float) and g[key] is not None else g[key] == value
            if not ok:
                errors.append('signal %d %s: %r, want %r' % (i, key, g[key], value))
    if freq is not None:
        want = pick(signals, centre, freq, tol, t)
        if got.get('pick') != want:
            errors.append('pick at %r tol %r t %r: %r, want %r' % (freq, tol, t, got.get('pick'), want))
    if errors:
        print('sidecar %d (%s):\n%s\n  %s' % (k, ' '.join(args[2:]), text, '\n  '.join(errors)))
    return not errors


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('exe')
    ap.add_argument('--seed', type=int, default=None)
    ap.add_argument('--rounds', type=int, default=60)
    a = ap.parse_args()
    seed = a.seed if a.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)
    ok = True
    with tempfile.TemporaryDirectory() as folder:
        for k in range(a.rounds):
            ok = check(a.exe, folder, rng, k) and ok
    print('signals crosscheck (seed %d): %s' % (seed, 'ok' if ok else 'FAILED'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
