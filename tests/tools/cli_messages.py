#!/usr/bin/env python3
"""Checks what `zembrola` says about hostile input: every refusal names what and why, odd
sidecar text and rates are handled, and huge requests end cleanly.

    python3 tests/tools/cli_messages.py build/<dir>/zembrola_san

Exit status 0 when every check holds, 1 otherwise.
"""
import json
import os
import resource
import struct
import subprocess
import sys
import tempfile

failures = 0
SANITIZED = False


def check(ok, what, detail=''):
    global failures
    if not ok:
        failures += 1
        print(f'FAIL: {what}' + (f'\n  {detail}' if detail else ''))


def sanitized(tool):
    r = subprocess.run(['ldd', tool], capture_output=True, text=True)
    return 'libasan' in r.stdout


def run(tool, *args):
    e = dict(os.environ)
    # Allocation failures must reach the tool as std::bad_alloc: through the sanitizer's
    # allocator limit, or else through a limit on the address space.
    e['ASAN_OPTIONS'] = 'allocator_may_return_null=1:max_allocation_size_mb=1024'
    limit = None
    if not SANITIZED:
        limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
    return subprocess.run([tool, *args], capture_output=True, env=e, preexec_fn=limit, timeout=300)


def write(path, data):
    with open(path, 'wb') as f:
        f.write(data)


def wav(tag, channels, bits, data):
    fmt = struct.pack('<HHIIHH', tag, channels, 8000, 8000 * channels * bits // 8, channels * bits // 8, bits)
    body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(data)) + data
    return b'RIFF' + struct.pack('<I', len(body)) + body


def vita(samples):
    payload = b''.join(struct.pack('>hh', i % 3000, -i % 3000) for i in range(samples))
    words = 2 + len(payload) // 4
    return struct.pack('>II', (1 << 28) | words, 1) + payload


def main():
    global SANITIZED
    tool = sys.argv[1]
    SANITIZED = sanitized(tool)
    with tempfile.TemporaryDirectory() as d:
        p = lambda name: os.path.join(d, name)
        write(p('tone.cs16'), struct.pack('<' + 'h' * 8192, *[(i * 37) % 20000 - 10000 for i in range(8192)]))

        # Sidecar text in Windows-1252, in UTF-8, and as named by the user.
        for name, text, enc, want in [
            ('cp.cs16', b'signals=\n[0] modulation=AM comment=Tr\xe4ger \x80 5\n', None, 'Tr\u00e4ger \u20ac 5'),
            ('u8.cs16', 'signals=\n[0] modulation=AM comment=Tr\u00e4ger\n'.encode(), None, 'Tr\u00e4ger'),
            ('l1.cs16', b'signals=\n[0] modulation=AM comment=\x80\xe4\n', 'latin1', '\u0080\u00e4'),
        ]:
            write(p(name), bytes(64))
            write(p(name[:-5] + '.txt'), text)
            r = run(tool, 'info', p(name), *(['--sidecar-encoding', enc] if enc else []))
            ok = r.returncode == 0
            got = json.loads(r.stdout)['sidecar']['signals'][0]['comment'] if ok else None
            check(got == want, f'info converts sidecar text ({name})', f'{got!r} {r.stderr!r}')

        # Useless sidecar rates are ignored, and the tool says so.
        for value in ['1e308', '1e-310', '0.5', '5e12']:
            write(p('r.txt'), f'sample_rate_hz={value}\n'.encode())
            write(p('r.cs16'), open(p('tone.cs16'), 'rb').read())
            r = run(tool, 'info', p('r.cs16'))
            j = json.loads(r.stdout) if r.returncode == 0 else {}
            check(j.get('sample_rate_hz') == 2e6 and any('ignored' in n for n in j['sidecar']['notes']),
                  f'info ignores sample_rate_hz={value} and says so', r.stdout.decode()[-300:])
            r = run(tool, 'psd', p('r.cs16'))
            check(r.returncode == 0 and b'warning: sidecar sample_rate_hz=' in r.stderr
                  and b'inf' not in r.stdout, f'psd warns about sample_rate_hz={value}', r.stderr.decode())

        # WAV encodings that are not PCM or float: no samples, the name says why.
        write(p('adpcm.cs16'), wav(2, 2, 4, bytes(4000)))
        r = run(tool, 'info', p('adpcm.cs16'))
        j = json.loads(r.stdout) if r.returncode == 0 else {}
        name = j.get('format', {}).get('name', '')
        check(j.get('total_samples') == 0 and 'not decoded' in name and '0x0002' in name,
              'info names why an ADPCM WAV is not decoded', name)

        # Refusals say what and why.
        refusals = [
            (['info', d], 'is a folder'),
            (['samples', p('nothing.cs16')], 'no such file'),
            (['psd', p('tone.cs16'), '--count', '-5'], '--count must not be negative'),
            (['rows', p('tone.cs16'), '--count', '-5'], '--count must not be negative'),
            (['thumb', p('tone.cs16'), '--size', '8x8', '-o', p('x.bmp')], 'no preview made'),
            (['thumb', p('tone.cs16'), '--size', '8x8', '-o', p('x.bmp')], 'below the smallest'),
        ]
        write(p('short.cs16'), bytes(4 * 255))
        refusals.append((['thumb', p('short.cs16'), '--size', '64x64', '-o', p('x.bmp')], 'holds 255 samples'))
        for args, want in refusals:
            r = run(tool, *args)
            err = r.stderr.decode(errors='replace')
            check(r.returncode != 0 and want in err and err.startswith('zembrola: '),
                  f'{" ".join(args[:1] + args[2:])} is refused with "{want}"', err)

        # Huge starts on recordings read through an index or a data chunk end cleanly.
        write(p('w.iq'), wav(1, 2, 16, bytes(4000)))
        write(p('v.iq'), vita(500) * 3)
        for f in ['w.iq', 'v.iq']:
            for cmd in [['samples', p(f), '--start', str(2**63 - 2), '--count', '100'],
                        ['psd', p(f), '--start', str(2**63 - 1)]]:
                r = run(tool, *cmd)
                err = r.stderr.decode(errors='replace')
                check(b'runtime error' not in r.stderr and r.returncode in (0, 1) and
                      (r.returncode == 0 or 'not enough samples' in err), f'{cmd[0]} {f} at a huge start', err)

        # A request larger than memory: a plain message, not the exception's name.
        big = p('big.cf32')
        with open(big, 'wb') as f:
            f.truncate(8 << 28)  # sparse, 2^28 samples
        r = run(tool, 'psd', big, '--nfft', str(1 << 28), '--count', str(1 << 28))
        err = r.stderr.decode(errors='replace')
        check(r.returncode == 1 and 'out of memory' in err and 'bad_alloc' not in err,
              'an allocation failure says what ran out', err)

    print('cli_messages: ' + ('all checks passed' if failures == 0 else f'{failures} failed'))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
