#!/usr/bin/env python3
"""Checks what `zembrola info` makes of JSON metadata files against Python's own json module.

Writes random metadata files (keys in any order, unknown and nested fields, escapes, non-ASCII
text, blanks) and random broken ones (valid files cut short or with a byte changed), and
compares the rate, centre, format hint and every annotation's signal with a reading done here;
a file Python's json refuses must count as no sidecar.

    python3 tests/metadata/sigmf_crosscheck.py build/<dir>/zembrola [--seed N] [--rounds N]

Exit status 0 when everything agrees, 1 otherwise.
"""
import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile

TYPES = ['cf32_le', 'cf32_be', 'ci32_le', 'ci16_le', 'ci16_be', 'ci8', 'cu8', 'cu16_le', 'rf32_le']
WORDS = ['Remote', 'Bake', 'Schlüssel', 'LoRa uplink', 'a\tb', 'line\nbreak', '"quoted"', 'back\\slash',
         '\u00e9t\u00e9', '\U0001F4E1 dish', '']


def rand_value(r, depth=0):
    k = r.randrange(7 if depth < 3 else 4)
    if k == 0:
        return r.choice([None, True, False])
    if k == 1:
        return r.uniform(-1e9, 1e9)
    if k == 2:
        return r.randrange(-10**12, 10**12)
    if k == 3:
        return r.choice(WORDS)
    if k in (4, 5):
        return [rand_value(r, depth + 1) for _ in range(r.randrange(4))]
    return {f'x:{i}': rand_value(r, depth + 1) for i in range(r.randrange(4))}


def shuffled(r, d):
    items = list(d.items())
    r.shuffle(items)
    return dict(items)


def make_meta(r):
    g = {'core:version': '1.0.0', 'x:junk': rand_value(r)}
    if r.random() < 0.9:
        g['core:datatype'] = r.choice(TYPES) if r.random() < 0.95 else 42
    if r.random() < 0.9:
        g['core:sample_rate'] = r.choice([r.uniform(1e3, 20e6), r.randrange(1000, 10**7), 0, -5, '1e6'])
    if r.random() < 0.2:
        g['core:num_channels'] = r.choice([1, 2, 4, '2', 0])
    caps = [{'core:sample_start': 0, 'x:n': rand_value(r)}]
    if r.random() < 0.2:
        caps[0]['core:header_bytes'] = r.choice([0, 64, 1000, -3, 'x'])
    if r.random() < 0.9:
        caps[0]['core:frequency'] = r.choice([r.uniform(1e6, 6e9), r.randrange(10**6, 6 * 10**9), 0])
    caps += [{'core:frequency': 1.0} for _ in range(r.randrange(2))]
    anns = []
    for _ in range(r.randrange(6)):
        a = {'x:extra': rand_value(r)}
        for key, gen in [('core:sample_start', lambda: r.randrange(0, 10**7)),
                         ('core:sample_count', lambda: r.randrange(0, 10**6)),
                         ('core:freq_lower_edge', lambda: r.uniform(1e6, 6e9)),
                         ('core:freq_upper_edge', lambda: r.uniform(1e6, 6e9)),
                         ('core:label', lambda: r.choice(WORDS)),
                         ('core:comment', lambda: r.choice(WORDS))]:
            if r.random() < 0.7:
                a[key] = gen()
        anns.append(shuffled(r, a))
    if r.random() < 0.1:
        anns.append(r.choice([7, 'x', [1]]))
    doc = {'global': shuffled(r, g), 'captures': caps, 'annotations': anns, 'x:top': rand_value(r)}
    return shuffled(r, doc)


def is_num(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def one_line(s):
    return ''.join(' ' if ord(c) < 32 else c for c in s)


def expected(doc):
    g = doc.get('global') if isinstance(doc.get('global'), dict) else {}
    dt = g.get('core:datatype')
    hint = 'sigmf:' + dt.strip() if isinstance(dt, str) else ''
    rate = g.get('core:sample_rate')
    has_rate = is_num(rate) and 1 <= rate <= 1e12
    caps = doc.get('captures') if isinstance(doc.get('captures'), list) else []
    channels = g.get('core:num_channels')
    head = caps[0].get('core:header_bytes') if caps and isinstance(caps[0], dict) else None
    if hint and is_num(channels) and channels >= 2:
        hint += f',channels={channels}'
    if hint and is_num(head) and head > 0:
        hint += f',header_bytes={head}'
    centre = 0.0
    has_centre = False
    if caps and isinstance(caps[0], dict) and is_num(caps[0].get('core:frequency')):
        centre, has_centre = float(caps[0]['core:frequency']), True
    signals = []
    anns = doc.get('annotations') if isinstance(doc.get('annotations'), list) else []
    for a in [a for a in anns if isinstance(a, dict)]:
        lo, hi = a.get('core:freq_lower_edge'), a.get('core:freq_upper_edge')
        if is_num(lo) and is_num(hi):
            off = (lo + hi) / 2 - centre
        elif is_num(lo) or is_num(hi):
            off = (lo if is_num(lo) else hi) - centre
        else:
            off = 0.0
        delay = duration = ''
        start, count = a.get('core:sample_start'), a.get('core:sample_count')
        if has_rate and is_num(start) and start > 0:
            delay = f'{start / rate:.9g}s'
        if has_rate and is_num(count) and count > 0:
            duration = f'{count / rate:.9g}s'
        text = lambda k: one_line(a[k]) if isinstance(a.get(k), str) else ''
        signals.append({'name': text('core:label'), 'comment': text('core:comment'), 'offset_hz': off,
                        'delay': delay, 'duration': duration})
    return {'hint': hint, 'has_rate': has_rate, 'rate': rate if has_rate else None,
            'has_centre': has_centre, 'centre': centre, 'signals': signals}


def close(a, b):
    return a == b or math.isclose(a, b, rel_tol=1e-12, abs_tol=1e-6)


def check(tool, path, text, fails):
    try:
        doc = json.loads(text)
        valid = isinstance(doc, dict)
    except (ValueError, RecursionError):
        valid = False
    out = subprocess.run([tool, 'info', path], capture_output=True, text=True)
    if out.returncode != 0:
        fails.append(f'{path}: exit {out.returncode}: {out.stderr.strip()}')
        return
    side = json.loads(out.stdout)['sidecar']
    if side['found'] != valid:
        fails.append(f'{text[:200]!r}: found={side["found"]}, Python says valid={valid}')
        return
    if not valid:
        return
    e = expected(doc)
    got_sig = side['signals']
    problems = []
    if side['format_hint'] != e['hint']:
        problems.append(f'hint {side["format_hint"]!r} != {e["hint"]!r}')
    if side['has_sample_rate'] != e['has_rate'] or (e['has_rate'] and not close(side['sample_rate_hz'], e['rate'])):
        problems.append(f'rate {side["sample_rate_hz"]}/{side["has_sample_rate"]} != {e["rate"]}')
    if side['has_center_freq'] != e['has_centre'] or not close(side['center_freq_hz'], e['centre']):
        problems.append(f'centre {side["center_freq_hz"]} != {e["centre"]}')
    if len(got_sig) != len(e['signals']):
        problems.append(f'{len(got_sig)} signals != {len(e["signals"])}')
    else:
        for i, (g, w) in enumerate(zip(got_sig, e['signals'])):
            for k in ('name', 'comment', 'delay', 'duration'):
                if g[k] != w[k]:
                    problems.append(f'signal {i} {k}: {g[k]!r} != {w[k]!r}')
            if not close(g['offset_hz'], w['offset_hz']):
                problems.append(f'signal {i} offset {g["offset_hz"]} != {w["offset_hz"]}')
    if problems:
        fails.append(f'{text[:300]!r}: ' + '; '.join(problems))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('tool')
    ap.add_argument('--seed', type=int, default=20261208)
    ap.add_argument('--rounds', type=int, default=150)
    a = ap.parse_args()
    r = random.Random(a.seed)
    fails = []
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, 'r.sigmf-data'), 'wb') as f:
            f.write(bytes(4096))
        meta = os.path.join(d, 'r.sigmf-meta')
        for n in range(a.rounds):
            text = json.dumps(make_meta(r), indent=r.choice([None, 1, 4]), ensure_ascii=r.random() < 0.5)
            if n % 3 == 2:  # broken: cut short, or one byte changed
                if r.random() < 0.5:
                    text = text[:r.randrange(len(text))]
                else:
                    p = r.randrange(len(text))
                    text = text[:p] + r.choice('{}[],:"\\x0 ') + text[p + 1:]
            with open(meta, 'w', encoding='utf-8') as f:
                f.write(text)
            check(a.tool, os.path.join(d, r.choice(['r.sigmf-meta', 'r.sigmf-data'])), text, fails)
    for f in fails[:20]:
        print('MISMATCH', f)
    print(f'{a.rounds} metadata files, {len(fails)} mismatches')
    return 1 if fails else 0


if __name__ == '__main__':
    sys.exit(main())
