#!/usr/bin/python3
"""The click where a converted stream meets the DSD silence pattern: converts a tone that fades out as the
engine fades it (3 ms exponential over the last 10 units) with ztf-convert, which adds the silent unit,
appends blocks of 0x69, decodes the left channel the way measure.py does (20.4 kHz low-pass, 44.1 kHz) and
prints the largest audio-band amplitude within 5 ms of the join, cut off plainly and landed (--land, the
converter's ConvertFinal).

    join_click.py BUILD_DIR [--rate 64|128|256] [--freq 997] [--level -6]
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure  # noqa: E402


def faded_tone(path, freq, level, units=40):
    fs = 44100
    n = units * 512
    x = 10 ** (level / 20) * np.sin(2 * np.pi * freq * np.arange(n) / fs)
    start = n - 10 * 512
    x[start:] *= np.exp(-np.arange(1, n - start + 1) / (fs * 0.003))
    q = np.floor(x * (1 << 23)).astype(np.int32)
    data = np.stack([q, q], 1).astype("<i4").view(np.uint8).reshape(-1, 4)[:, :3].tobytes()
    fmt = struct.pack("<HHIIHH", 1, 2, fs, fs * 6, 6, 24)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)


def with_silence(dsf, out, blocks=8):
    """The DSF with `blocks` DSD64-sized blocks of 0x69 appended (header sizes updated); returns the number
    of bytes per channel before them."""
    d = bytearray(open(dsf, "rb").read())
    join = (len(d) - 92) // 2
    extra = bytes([0x69]) * (8192 * blocks)
    d += extra
    struct.pack_into("<Q", d, 12, struct.unpack_from("<Q", d, 12)[0] + len(extra))
    struct.pack_into("<Q", d, 28 + 40, struct.unpack_from("<Q", d, 28 + 40)[0] + len(extra) * 4)
    struct.pack_into("<Q", d, 28 + 52 + 4, struct.unpack_from("<Q", d, 28 + 52 + 4)[0] + len(extra))
    open(out, "wb").write(d)
    return join


def join_peak_dbfs(dsf, join_bytes):
    rate = measure.dsf_rate(dsf)
    y = measure.decimate_to_44k(measure.read_dsf_channel(dsf, 0, 0.0, 1 << 62), rate)
    at = int(join_bytes * 8 / rate * 44100)
    return 20 * np.log10(np.max(np.abs(y[at - 220: at + 220])) / 0.5)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rate", default="64", choices=["64", "128", "256"])
    ap.add_argument("--freq", type=float, default=997.0)
    ap.add_argument("--level", type=float, default=-6.0)
    args = ap.parse_args()
    tool = os.path.join(args.build, "bench", "ztf-convert")
    work = tempfile.mkdtemp(prefix="ztf-join-")
    wav = os.path.join(work, "in.wav")
    faded_tone(wav, args.freq, args.level)
    figures = []
    for land in (False, True):
        dsf = os.path.join(work, "out.dsf")
        subprocess.run([tool, "--rate", args.rate] + (["--land"] if land else []) + [wav, dsf], check=True,
                       stdout=subprocess.DEVNULL)
        join = with_silence(dsf, os.path.join(work, "joined.dsf"))
        figures.append(join_peak_dbfs(os.path.join(work, "joined.dsf"), join))
    print("DSD%s, %g Hz at %g dBFS: audio-band peak at the join with 0x69: cut off %.1f dBFS, landed %.1f dBFS"
          % (args.rate, args.freq, args.level, figures[0], figures[1]))


if __name__ == "__main__":
    main()
