#!/usr/bin/env python3
"""Checks `zembrola psd --engine` with and without the fake CUDA libraries.

    python3 tests/dsp/cli_engine_check.py build/<dir>/zembrola <folder of the complete fakes>

The fakes are put first on LD_LIBRARY_PATH; without them the machine's own libraries (if any)
are found, but no GPU is assumed, so a GPU run must then either fail clearly or agree.
Exit status 0 when everything holds, 1 otherwise.
"""
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

FAILURES = []


def check(cond, what):
    if not cond:
        FAILURES.append(what)
        print('FAIL:', what)


def run(exe, args, env_extra=None, unset=()):
    env = dict(os.environ)
    for k in unset:
        env.pop(k, None)
    env.update(env_extra or {})
    p = subprocess.run([exe] + args, capture_output=True, text=True, env=env)
    return p.returncode, p.stdout, p.stderr


def values(out):
    return [float(line.split()[1]) for line in out.splitlines()]


def main():
    exe, fakes = sys.argv[1], sys.argv[2]
    rng = random.Random(5)
    with tempfile.TemporaryDirectory() as tmp:
        rec = os.path.join(tmp, 'noise.cf32')
        with open(rec, 'wb') as f:
            for _ in range(4096):
                f.write(struct.pack('<ff', rng.gauss(0, 0.3), rng.gauss(0, 0.3)))
        base = [rec, '--nfft', '1024', '--count', '4096', '--avg', '4']
        no_fakes = {'ZB_FAKE_CUDA_FAIL': ''}
        paths = [fakes] + [p for p in os.environ.get('LD_LIBRARY_PATH', '').split(os.pathsep) if p]
        with_fakes = {'LD_LIBRARY_PATH': os.pathsep.join(paths)}

        rc, cpu_default, _ = run(exe, ['psd'] + base)
        check(rc == 0, 'default engine runs')
        rc, cpu, err = run(exe, ['psd'] + base + ['--engine', 'cpu'], with_fakes)
        check(rc == 0 and cpu == cpu_default and err == '', '--engine cpu is the default, byte for byte')

        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'bogus'])
        check(rc != 0, 'an unknown engine is refused')

        # Without the fakes: no GPU on this machine, whatever libraries are installed.
        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'gpu'], no_fakes, unset=['LD_LIBRARY_PATH'])
        if rc != 0:
            check('no CUDA runtime with cuFFT and a device found' in err or 'the GPU could not compute' in err,
                  'gpu without a usable GPU says why: ' + err.strip())
            check(out == '', 'a failed gpu run prints no spectrum')
            rc, out, err = run(exe, ['psd'] + base + ['--engine', 'auto'], no_fakes, unset=['LD_LIBRARY_PATH'])
            check(rc == 0 and out == cpu and err.startswith('engine: cpu - '), 'auto falls back to the CPU and says so')

        # A runtime that reports no device: the GPU is not there, whatever is installed.
        zero = {'LD_LIBRARY_PATH': os.pathsep.join([os.path.join(os.path.dirname(fakes), 'zero_devices')] + paths[1:])}
        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'gpu'], zero)
        check(rc != 0 and 'no CUDA runtime with cuFFT and a device found' in err, 'gpu without a device fails')
        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'auto'], zero)
        check(rc == 0 and out == cpu and err.strip() == 'engine: cpu - no CUDA runtime with cuFFT and a device',
              'auto without a device says so: ' + err.strip())

        # With the fakes first on the search path.
        rc, gpu, err = run(exe, ['psd'] + base + ['--engine', 'gpu'], with_fakes)
        check(rc == 0, 'gpu with the fakes runs: ' + err.strip())
        if rc == 0:
            worst = max(abs(a - b) for a, b in zip(values(gpu), values(cpu)))
            check(len(values(gpu)) == 1024 and worst <= 0.002, 'gpu agrees with cpu (%g dB)' % worst)
        # auto times both and prints the faster one's result; it names the engine and both times.
        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'auto'], with_fakes)
        m = re.fullmatch(r'engine: (cpu|gpu \(CUDA GPU\)) - GPU ([0-9.]+) ms, CPU ([0-9.]+) ms', err.strip())
        check(rc == 0 and m is not None, 'auto names the engine and both times: ' + err.strip())
        if m:
            gpu_ms, cpu_ms = float(m.group(2)), float(m.group(3))
            on_gpu = m.group(1) != 'cpu'
            check(on_gpu == (gpu_ms * 1.1 < cpu_ms), 'auto takes the faster engine')
            check(out == (gpu if on_gpu else cpu), 'auto prints the result of the engine it names')

        failing = dict(with_fakes, ZB_FAKE_CUDA_FAIL='cufftExecC2C')
        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'gpu'], failing)
        check(rc != 0 and 'the GPU could not compute the PSD' in err, 'gpu with a failing transform fails')
        rc, out, err = run(exe, ['psd'] + base + ['--engine', 'auto'], failing)
        check(rc == 0 and out == cpu and err.strip() == 'engine: cpu - the GPU could not compute the PSD',
              'auto with a failing transform uses the CPU')
    return 1 if FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
