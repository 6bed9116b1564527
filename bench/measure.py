#!/usr/bin/python3
"""Measures a DSD64 DSF file: in-band SNR, THD, THD+N, SFDR, DC and ultrasonic noise.

    measure.py FILE.dsf [--freq 997] [--skip 1.0] [--channel 0] [--no-raw]

Two independent decodings:
  * ffmpeg (-f f32le -ar 352800): the file decoded by a third-party DSD decoder, analysed with a 2^20-point
    7-term Blackman-Harris FFT after skipping the first --skip seconds. ffmpeg's level convention is
    measured on the file itself (its tone level against the raw bits' tone level) and printed, and every
    ffmpeg figure is corrected by it.
  * raw: the DSF's bits read directly as +/-1 (full modulation) and analysed at 2.8224 MHz with a 2^23-point
    FFT; no decoder filter is involved, so this is the reference for the 20-40 kHz and 40-100 kHz bands.

Levels: "dBFM" is relative to a sine of full modulation (amplitude 1.0 of the +/-1 stream); "dBFS" is
relative to PCM full scale, which the converter maps to 50 % modulation, so dBFS = dBFM + 6.02.
"""
import argparse
import struct
import subprocess
import sys

import numpy as np

BH7 = [0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803, 0.01081174209837,
       0.00077658482522, 0.00001388721735]
DSD_RATE = 2822400


def window(n):
    x = 2 * np.pi * np.arange(n) / n
    return sum(((-1) ** k) * c * np.cos(k * x) for k, c in enumerate(BH7))


def spectrum(x, rate):
    """Per-bin power, scaled so a sine of amplitude A sums to A^2/2 and white noise to its variance."""
    n = len(x)
    w = window(n)
    X = np.fft.rfft(x * w)
    p = np.abs(X) ** 2 * 2.0 / (np.sum(w * w) * n)
    return p, rate / n


def read_dsf_channel(path, channel, skip_s, seconds):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"DSD " and data[28:32] == b"fmt "
    channels = struct.unpack_from("<I", data, 28 + 24)[0]
    block = struct.unpack_from("<I", data, 28 + 44)[0]
    lsb_first = struct.unpack_from("<I", data, 28 + 32)[0] == 1
    start = 28 + 52 + 12
    raw = np.frombuffer(data, dtype=np.uint8, offset=start)
    nblocks = len(raw) // (block * channels)
    raw = raw[: nblocks * block * channels].reshape(nblocks, channels, block)[:, channel, :].reshape(-1)
    first = int(skip_s * DSD_RATE) // 8
    need = (seconds + 7) // 8
    seg = raw[first: first + need]
    bits = np.unpackbits(seg, bitorder="little" if lsb_first else "big")
    return bits.astype(np.float64) * 2 - 1


def ffmpeg_decode(path, channel):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-ac", "2", "-ar", "352800", "-"],
                         check=True, stdout=subprocess.PIPE).stdout
    return np.frombuffer(out, dtype="<f4").reshape(-1, 2)[:, channel].astype(np.float64)


def db(p):
    return 10 * np.log10(max(p, 1e-300))


def analyse(p, binhz, freq, guard):
    def bins(lo, hi):
        return np.arange(int(np.ceil(lo / binhz)), int(hi / binhz) + 1)

    inband = bins(20, 20000)
    if freq is None:
        freq = inband[np.argmax(p[inband])] * binhz
    mask = np.zeros(len(p), bool)
    mask[inband] = True

    def lobe(f):
        c = int(round(f / binhz))
        return np.arange(max(c - guard, 0), c + guard + 1)

    fund = p[lobe(freq)].sum()
    mask[lobe(freq)] = False
    harm = 0.0
    for h in range(2, 11):
        if freq * h > 20000:
            break
        harm += p[lobe(freq * h)].sum()
        mask[lobe(freq * h)] = False
    noise = p[mask].sum()
    spur = p[mask].max() if mask.any() else 0.0
    for h in range(2, 11):
        if freq * h <= 20000:
            spur = max(spur, p[lobe(freq * h)].max())
    return dict(freq=freq, fund=fund, harm=harm, noise=noise, spur=spur,
                b20_40=p[bins(20000, 40000)].sum(), b40_100=p[bins(40000, 100000)].sum())


def report(name, r, gain):
    g = gain * gain
    fund = r["fund"] / g
    print("[%s] tone %.2f Hz at %.2f dBFM (%.2f dBFS)" % (name, r["freq"], db(fund / 0.5), db(fund / 0.125)))
    print("[%s] in-band SNR %.2f dB  THD %.2f dB  THD+N %.2f dB  SFDR %.2f dB" % (
        name, db(r["fund"] / r["noise"]), db(r["harm"] / r["fund"]) if r["harm"] > 0 else -999,
        db((r["harm"] + r["noise"]) / r["fund"]), db(r["fund"] / r["spur"])))
    print("[%s] in-band noise %.2f dBFM (%.2f dBFS)" % (name, db(r["noise"] / g / 0.5), db(r["noise"] / g / 0.125)))
    print("[%s] noise 20-40 kHz %.2f dBFM, 40-100 kHz %.2f dBFM" % (
        name, db(r["b20_40"] / g / 0.5), db(r["b40_100"] / g / 0.5)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dsf")
    ap.add_argument("--freq", type=float, default=None, help="tone frequency (default: strongest in band)")
    ap.add_argument("--skip", type=float, default=1.0)
    ap.add_argument("--channel", type=int, default=0)
    ap.add_argument("--no-raw", action="store_true")
    args = ap.parse_args()

    n_ff = 1 << 20
    x = ffmpeg_decode(args.dsf, args.channel)
    first = int(args.skip * 352800)
    if len(x) < first + n_ff:
        sys.exit("file too short: need %.1f s" % ((first + n_ff) / 352800))
    seg = x[first: first + n_ff]
    p_ff, bin_ff = spectrum(seg, 352800)
    r_ff = analyse(p_ff, bin_ff, args.freq, 10)

    gain = 1.0
    if not args.no_raw:
        n_raw = 1 << 23
        bits = read_dsf_channel(args.dsf, args.channel, args.skip, n_raw)
        if len(bits) < n_raw:
            sys.exit("file too short for the raw analysis: need %.1f s" % (args.skip + n_raw / DSD_RATE))
        p_raw, bin_raw = spectrum(bits[:n_raw], DSD_RATE)
        r_raw = analyse(p_raw, bin_raw, r_ff["freq"], 10)
        print("[raw] DC %.3g (of full modulation)" % bits[:n_raw].mean())
        report("raw", r_raw, 1.0)
        gain = np.sqrt(r_ff["fund"] / r_raw["fund"]) if r_raw["fund"] > 1e-20 else 1.0
        print("[ffmpeg] level convention: ffmpeg output = %.4f x modulation (%.2f dB)" % (gain, 20 * np.log10(gain)))
    print("[ffmpeg] DC %.3g (of full modulation)" % (seg.mean() / gain))
    report("ffmpeg", r_ff, gain)


if __name__ == "__main__":
    main()
