#!/usr/bin/python3
"""Measures a DSF file of any DSD rate: in-band SNR, THD, THD+N, SFDR, DC, ultrasonic noise and, given the
WAV it was made from, the noise the converter added; given the conversion command too, the speed.

    measure.py FILE.dsf [--freq 997] [--skip 1.0] [--channel 0] [--no-raw] [--no-ffmpeg] [--wav INPUT.wav]
               [--convert 'COMMAND {in} {out}'] [--row NAME]

One table row per command: with --convert the DSF is first made from --wav by COMMAND, run pinned to core 1
(taskset -c 1) and nice'd, and its processor time (user + system) gives the speed in multiples of real
time; --row then prints one line, the same figures for any converter and rate, e.g.

    measure.py out.dsf --wav tone.wav --no-ffmpeg --row "DSD128 -6 dBFS" \
        --convert 'build/default/bench/ztf-convert --rate 128 {in} {out}'

Two independent decodings:
  * ffmpeg (-f f32le -ar 352800): the file decoded by a third-party DSD decoder, analysed with a 2^20-point
    7-term Blackman-Harris FFT after skipping the first --skip seconds. ffmpeg's level convention is
    measured on the file itself (its tone level against the raw bits' tone level) and printed, and every
    ffmpeg figure is corrected by it.
  * raw: the DSF's bits read directly as +/-1 (full modulation) and analysed at the file's rate with a
    2^23-point FFT; no decoder filter is involved, so this is the reference for THD and for the 20-40 kHz and
    40-100 kHz bands.

  * added (with --wav, the WAV the DSF was made from): the noise the converter adds. The raw bits are
    low-passed at 20.4 kHz and decimated to 44.1 kHz (in the frequency domain, a cosine roll-off from 20.4 to
    21.6 kHz; the input goes through the same low-pass), the input's delay through the converter is found from the input's own noise (the whitened
    cross-correlation of input and output), and the best linear fit of the input (a 257-tap least-squares
    filter centred on that delay) is subtracted. What is left is what the converter added: quantisation
    noise, distortion and idle tones, not the input's dither, which limits the plain SNR.

Levels: "dBFM" is relative to a sine of full modulation (amplitude 1.0 of the +/-1 stream); "dBFS" is
relative to PCM full scale, which the converter maps to 50 % modulation, so dBFS = dBFM + 6.02.
"""
import argparse
import os
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


def dsf_rate(path):
    """The DSF's sampling frequency (2 822 400 for DSD64, 5 644 800 for DSD128, 11 289 600 for DSD256)."""
    with open(path, "rb") as f:
        head = f.read(92)
    if len(head) < 92 or head[:4] != b"DSD " or head[28:32] != b"fmt ":
        sys.exit("%s: not a DSF file" % path)
    return struct.unpack_from("<I", head, 28 + 28)[0]


def read_dsf_channel(path, channel, skip_s, seconds):
    """`seconds` samples (a count, despite the name) of one channel from skip_s seconds on, as +/-1."""
    rate = dsf_rate(path)
    with open(path, "rb") as f:
        data = f.read()
    channels = struct.unpack_from("<I", data, 28 + 24)[0]
    block = struct.unpack_from("<I", data, 28 + 44)[0]
    lsb_first = struct.unpack_from("<I", data, 28 + 32)[0] == 1
    start = 28 + 52 + 12
    raw = np.frombuffer(data, dtype=np.uint8, offset=start)
    nblocks = len(raw) // (block * channels)
    raw = raw[: nblocks * block * channels].reshape(nblocks, channels, block)[:, channel, :].reshape(-1)
    first = int(skip_s * rate) // 8
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


def read_wav(path):
    """The WAV's samples as float arrays (frames x channels), PCM full scale = 1.0."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit("%s: not a WAV file" % path)
    at, fmt, body = 12, None, None
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack_from("<I", data, at + 4)[0]
        if cid == b"fmt ":
            if size < 16 or at + 24 > len(data):
                sys.exit("%s: format chunk too short" % path)
            fmt = struct.unpack_from("<HHIIHH", data, at + 8)
        elif cid == b"data":
            body = data[at + 8: at + 8 + size]
            break
        at += 8 + size + (size & 1)
    if fmt is None or body is None:
        sys.exit("%s: no format or data chunk" % path)
    tag, channels, rate, _, _, bits = fmt
    if tag not in (1, 0xFFFE) or rate != 44100 or bits not in (16, 24):
        sys.exit("%s: not 44.1 kHz 16/24-bit PCM" % path)
    width = bits // 8
    frames = len(body) // (width * channels)
    raw = np.frombuffer(body[: frames * width * channels], dtype=np.uint8).reshape(-1, width)
    if width == 2:
        v = raw.copy().view("<i2")[:, 0].astype(np.float64)
    else:
        v = (raw[:, 0].astype(np.int32) | raw[:, 1].astype(np.int32) << 8 | raw[:, 2].astype(np.int32) << 16)
        v = np.where(v >= 1 << 23, v - (1 << 24), v).astype(np.float64)
    return v.reshape(frames, channels) / float(1 << (bits - 1))


def band_mask(f):
    """The added-noise analysis's low-pass: flat to 20.4 kHz, a cosine roll-off to nothing at 21.6 kHz."""
    lo, hi = 20400.0, 21600.0
    return np.where(f <= lo, 1.0, np.where(f >= hi, 0.0, 0.5 + 0.5 * np.cos(np.pi * (f - lo) / (hi - lo))))


def decimate_to_44k(bits, rate=DSD_RATE):
    """Low-passes the +/-1 stream at 20.4 kHz and decimates it to 44.1 kHz, circularly in the frequency
    domain; the first and last 50 ms are not trustworthy (wrap-around) and are left to the caller to skip."""
    factor = int(rate // 44100)
    n = len(bits) // (2 * factor) * (2 * factor)
    spectrum = np.fft.rfft(bits[:n])
    m = n // factor
    f = np.arange(m // 2 + 1) * rate / n
    return np.fft.irfft(spectrum[: m // 2 + 1] * band_mask(f), m) / factor


def band_limit_44k(x):
    """The same low-pass on 44.1 kHz samples (the input), circularly like decimate_to_44k."""
    f = np.arange(len(x) // 2 + 1) * 44100.0 / len(x)
    return np.fft.irfft(np.fft.rfft(x) * band_mask(f), len(x))


def find_delay(x, y, limit=4096):
    """Delay (frames) of y against x from the whitened cross-correlation over the audio band: the input's
    own dither is white, so the correlation peaks sharply at the true delay even for a pure tone. Both are
    windowed first: a tone's leakage through a plain cut would swamp the dither in every bin."""
    n = 1 << int(np.ceil(np.log2(len(x) + len(y))))
    X = np.fft.rfft(x * window(len(x)), n)
    Y = np.fft.rfft(y * window(len(y)), n)
    cross = Y * np.conj(X)
    f = np.arange(len(cross)) * 44100.0 / n
    cross = np.where((f > 20) & (f < 20000), cross / np.maximum(np.abs(cross), 1e-300), 0)
    c = np.fft.irfft(cross, n)
    lags = np.concatenate([c[:limit], c[-limit:]])
    k = int(np.argmax(lags))
    return k if k < limit else k - 2 * limit


def linear_fit_residual(x, y, offset, taps=257, rows=1 << 17):
    """Subtracts from y[0:rows] the least-squares fit sum_k h[k] x[n + offset + taps//2 - k] and returns the
    residual. Solved through a QR factorisation of the shifted-input matrix (built in slices of rows, so
    memory stays small): the normal equations would square the enormous condition number of a pure tone."""
    half = taps // 2
    start = offset - half  # x index that pairs with y[0] in the last column
    if start < 0 or start + rows + taps > len(x) or rows > len(y):
        sys.exit("input and output do not overlap enough for the fit")
    R = np.zeros((0, taps + 1))
    step = 8192
    for a in range(0, rows, step):
        b = min(rows, a + step)
        cols = np.lib.stride_tricks.sliding_window_view(x[start + a: start + b + taps - 1], taps)[:, ::-1]
        block = np.hstack([cols, y[a:b, None]])
        R = np.linalg.qr(np.vstack([R, block]), mode="r")
    h = np.linalg.solve(np.triu(R[:taps, :taps]), R[:taps, taps])
    cols = np.lib.stride_tricks.sliding_window_view(x[start: start + rows + taps - 1], taps)[:, ::-1]
    return y[:rows] - cols @ h


def converter_added(dsf, wav, channel, skip_s):
    """Measures the noise the converter added to `wav` in the DSF made from it."""
    # The input is fitted through the same low-pass as the output, so that what a converter does above it (a
    # steep edge between 20 and 22.05 kHz, which no 257-tap fit follows) is not counted as noise it added.
    x = band_limit_44k(read_wav(wav)[:, channel])
    bits = read_dsf_channel(dsf, channel, 0.0, 1 << 62)
    y = decimate_to_44k(bits, dsf_rate(dsf))
    first = int(skip_s * 44100)
    rows = 1 << 17
    if len(y) < first + rows + 2205:
        sys.exit("file too short for the added-noise analysis: need %.1f s" % (skip_s + (rows + 2205) / 44100))
    delay = find_delay(x[first: first + rows], y[first: first + rows])
    r = linear_fit_residual(x, y[first:], first - delay, rows=rows)
    p, binhz = spectrum(r, 44100)
    band = p[int(np.ceil(20 / binhz)): int(20000 / binhz) + 1]
    print("[added] input delay %d frames; noise the converter adds, 20 Hz-20 kHz: %.2f dBFM (%.2f dBFS), "
          "largest line %.2f dBFM" % (delay, db(band.sum() / 0.5), db(band.sum() / 0.125), db(band.max() / 0.5)))
    return db(band.sum() / 0.5)


def convert_timed(command, wav, dsf):
    """Runs the conversion command (its {in} and {out} replaced by the WAV and the DSF) pinned to core 1 and
    nice'd, and returns the processor seconds (user + system) it took."""
    argv = [a.replace("{in}", wav).replace("{out}", dsf) for a in command.split()]
    pid = subprocess.Popen(["taskset", "-c", "1", "nice"] + argv, stdout=subprocess.DEVNULL).pid
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        sys.exit("conversion failed: %s" % " ".join(argv))
    return usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dsf")
    ap.add_argument("--freq", type=float, default=None, help="tone frequency (default: strongest in band)")
    ap.add_argument("--skip", type=float, default=1.0)
    ap.add_argument("--channel", type=int, default=0)
    ap.add_argument("--no-raw", action="store_true")
    ap.add_argument("--no-ffmpeg", action="store_true", help="skip the ffmpeg decoding")
    ap.add_argument("--wav", default=None, help="the WAV the DSF was made from: measure the noise the converter adds")
    ap.add_argument("--convert", default=None, metavar="COMMAND",
                    help="first make the DSF from --wav with COMMAND ({in} and {out} stand for the files), "
                         "timed on one core; e.g. 'build/default/bench/ztf-convert --rate 128 {in} {out}'")
    ap.add_argument("--row", default=None, metavar="NAME",
                    help="end with one table row: NAME, added in-band noise, THD, 20-40 kHz, 40-100 kHz, speed")
    args = ap.parse_args()

    cpu = None
    if args.convert:
        if not args.wav:
            sys.exit("--convert needs --wav")
        cpu = convert_timed(args.convert, args.wav, args.dsf)
        audio = len(read_wav(args.wav)) / 44100.0
        print("[speed] %.2f s of audio in %.3f s of processor time: %.1fx real time" % (audio, cpu, audio / cpu))
    rate = dsf_rate(args.dsf)

    gain = 1.0
    r_raw = None
    if not args.no_raw:
        n_raw = 1 << 23
        bits = read_dsf_channel(args.dsf, args.channel, args.skip, n_raw)
        if len(bits) < n_raw:
            sys.exit("file too short for the raw analysis: need %.1f s" % (args.skip + n_raw / rate))
        p_raw, bin_raw = spectrum(bits[:n_raw], rate)
        r_raw = analyse(p_raw, bin_raw, args.freq, 10)
        print("[raw] %d Hz; DC %.3g (of full modulation)" % (rate, bits[:n_raw].mean()))
        report("raw", r_raw, 1.0)
    if not args.no_ffmpeg:
        n_ff = 1 << 20
        x = ffmpeg_decode(args.dsf, args.channel)
        first = int(args.skip * 352800)
        if len(x) < first + n_ff:
            sys.exit("file too short: need %.1f s" % ((first + n_ff) / 352800))
        seg = x[first: first + n_ff]
        p_ff, bin_ff = spectrum(seg, 352800)
        r_ff = analyse(p_ff, bin_ff, r_raw["freq"] if r_raw else args.freq, 10)
        if r_raw is not None and r_raw["fund"] > 1e-20:
            gain = np.sqrt(r_ff["fund"] / r_raw["fund"])
            print("[ffmpeg] level convention: ffmpeg output = %.4f x modulation (%.2f dB)" % (gain, 20 * np.log10(gain)))
        print("[ffmpeg] DC %.3g (of full modulation)" % (seg.mean() / gain))
        report("ffmpeg", r_ff, gain)
    added = converter_added(args.dsf, args.wav, args.channel, args.skip) if args.wav else None
    if args.row:
        def cell(v, fmt="%.1f"):
            return "-" if v is None else fmt % v
        thd = db(r_raw["harm"] / r_raw["fund"]) if r_raw and r_raw["harm"] > 0 else None
        print("| %s | %s | %s | %s | %s | %s |" % (
            args.row, cell(added), cell(thd),
            cell(db(r_raw["b20_40"] / 0.5) if r_raw else None), cell(db(r_raw["b40_100"] / 0.5) if r_raw else None),
            cell(len(read_wav(args.wav)) / 44100.0 / cpu if cpu else None, "%.1fx")))


if __name__ == "__main__":
    main()
