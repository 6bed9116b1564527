#!/usr/bin/python3
"""Stability runs: feeds the converter the hard inputs for --seconds each (default 60) and checks that the
output never sticks, that the loop never leaves its normal range (no resets, no limited samples), and that
silence carries no idle tone (no in-band line above -170 dBFS).

    stability.py BUILD_DIR [--seconds 60] [--rate 64|128|256|512] [--keep DIR]

For each input it writes a WAV with tone.py, converts it with BUILD_DIR/bench/ztf-convert (the library alone)
and reads the tool's statistics: overload resets, samples whose fed-back error was limited, bursts
(overloads less than 1 ms apart) and the longest burst, and the longest run of identical output bytes (a
stuck modulator repeats 0x00 or 0xFF). It then reads the DSF's raw bits and prints the DC and, for silence, the largest in-band spectral line (dBFS,
relative to PCM full scale = 50 % modulation) over several 3-second stretches. Exit status 1 if any check
fails.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
INPUTS = [
    ("sine 20 Hz 0 dBFS", ["--kind", "sine", "--freq", "20", "--level", "0"]),
    ("sine 1 kHz 0 dBFS", ["--kind", "sine", "--freq", "1000", "--level", "0"]),
    ("sine 5 kHz 0 dBFS", ["--kind", "sine", "--freq", "5000", "--level", "0"]),
    ("sine 10 kHz 0 dBFS", ["--kind", "sine", "--freq", "10000", "--level", "0"]),
    ("sine 15 kHz 0 dBFS", ["--kind", "sine", "--freq", "15000", "--level", "0"]),
    ("sine 19 kHz 0 dBFS", ["--kind", "sine", "--freq", "19000", "--level", "0"]),
    ("sine 20 kHz 0 dBFS", ["--kind", "sine", "--freq", "20000", "--level", "0"]),
    ("square 50 Hz 0 dBFS", ["--kind", "square", "--freq", "50", "--level", "0", "--bits", "16"]),
    ("square 1 kHz 0 dBFS", ["--kind", "square", "--freq", "1000", "--level", "0", "--bits", "16"]),
    ("clipped noise -3 dBFS rms", ["--kind", "noise", "--level", "-3", "--bits", "16"]),
    ("silence", ["--kind", "silence", "--bits", "16"]),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--seconds", type=float, default=60.0)
    ap.add_argument("--rate", default="64", choices=["64", "128", "256", "512"],
                    help="DSD64, DSD128, DSD256 or DSD512")
    ap.add_argument("--keep", default=None, help="directory to keep the WAV/DSF files in")
    args = ap.parse_args()
    tool = os.path.join(args.build, "bench", "ztf-convert")
    work = args.keep or tempfile.mkdtemp(prefix="ztf-stability-")
    failed = False
    for name, opts in INPUTS:
        wav = os.path.join(work, "in.wav")
        dsf = os.path.join(work, "out.dsf")
        subprocess.run([sys.executable, os.path.join(HERE, "tone.py"), wav, "--seconds", str(args.seconds)] + opts,
                       check=True)
        run = subprocess.run([tool, "--rate", args.rate, wav, dsf], stdout=subprocess.PIPE, text=True)
        out = run.stdout
        m = re.search(r"overload resets (\d+), bursts (\d+), longest burst ([\d.]+) us", out)
        r = re.search(r"left (\d+) \(([\d.]+) us\), right (\d+) \(([\d.]+) us\)", out)
        resets, bursts, longest = int(m.group(1)), int(m.group(2)), float(m.group(3))
        lim = re.search(r"limited samples (\d+)", out)
        limited = int(lim.group(1)) if lim else 0
        look = re.search(r"redid \d+ channel bytes \(([\d.]+) per ms", out)
        redone = float(look.group(1)) if look else 0.0
        run_us = max(float(r.group(2)), float(r.group(4)))
        ok = run.returncode == 0 and resets == 0 and limited == 0 and longest <= 1000.0
        line = ("%-28s resets %d  limited %d  bursts %d  longest burst %.1f us  look-ahead %.2f/ms  "
                "longest identical-byte run %.1f us") % (name, resets, limited, bursts, longest, redone, run_us)
        rate = measure.dsf_rate(dsf)
        # At most three 2^23-sample stretches (3 s of DSD64, under 1 s of DSD256), to bound the memory.
        bits = measure.read_dsf_channel(dsf, 0, 1.0, min(int((args.seconds - 2) * rate), 3 << 23))
        line += "  DC %.2e" % bits.mean()
        if name == "silence":
            worst = -999.0
            n = 1 << 23
            for start in range(0, len(bits) - n + 1, n):
                p, binhz = measure.spectrum(bits[start:start + n], rate)
                band = p[int(np.ceil(20 / binhz)): int(20000 / binhz) + 1]
                worst = max(worst, 10 * np.log10(band.max() / 0.125))
                floor = 10 * np.log10(band.sum() / 0.125)
            line += "  largest in-band line %.1f dBFS, in-band noise %.1f dBFS" % (worst, floor)
            ok = ok and worst <= -170
        print(line + ("" if ok else "  FAIL"), flush=True)
        failed = failed or not ok
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
