#!/usr/bin/python3
"""Writes a 44.1 kHz stereo test WAV for the Zentrafold measurements and stability runs.

    tone.py OUT.wav --kind sine --freq 997 --level -6 --bits 24 --seconds 10
    kinds: sine, square, noise (white Gaussian at --level RMS, clipped at full scale), silence

Levels are dBFS relative to PCM full scale (a sine of amplitude 1.0 is 0 dBFS; the converter maps PCM full
scale to 50 % modulation). Sines and squares get TPDF dither of +/-1 LSB at the chosen bit depth; silence is
digital zero; squares are naive (not band-limited), the harshest input.
"""
import argparse
import struct

import numpy as np


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--kind", default="sine", choices=["sine", "square", "noise", "silence"])
    ap.add_argument("--freq", type=float, default=997.0)
    ap.add_argument("--level", type=float, default=-6.0, help="dBFS (peak for sine/square, RMS for noise)")
    ap.add_argument("--bits", type=int, default=24, choices=[16, 24])
    ap.add_argument("--seconds", type=float, default=10.0)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()

    fs = 44100
    n = int(round(args.seconds * fs))
    t = np.arange(n) / fs
    amp = 10 ** (args.level / 20)
    rng = np.random.default_rng(args.seed)
    full = 2 ** (args.bits - 1)
    if args.kind == "sine":
        x = amp * np.sin(2 * np.pi * args.freq * t)
    elif args.kind == "square":
        x = amp * np.where(np.mod(args.freq * t, 1.0) < 0.5, 1.0, -1.0)
    elif args.kind == "noise":
        x = np.clip(amp * rng.standard_normal(n), -1.0, (full - 1) / full)
    else:
        x = np.zeros(n)
    x = np.stack([x, x], axis=1)
    if args.kind in ("sine", "square"):
        x = x * full + rng.uniform(-0.5, 0.5, x.shape) + rng.uniform(-0.5, 0.5, x.shape)
    else:
        x = x * full
    q = np.clip(np.round(x), -full, full - 1).astype(np.int32)

    if args.bits == 16:
        data = q.astype("<i2").tobytes()
    else:
        b = q.astype("<i4").view(np.uint8).reshape(-1, 4)[:, :3]
        data = b.tobytes()
    block = 2 * args.bits // 8
    fmt = struct.pack("<HHIIHH", 1, 2, fs, fs * block, block, args.bits)
    with open(args.out, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)


if __name__ == "__main__":
    main()
