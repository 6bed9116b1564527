#!/usr/bin/python3
"""Where a seek while playing resumes, and whether its join clicks, measured on recordings of what the DAC
receives. For a DSF, a DSDIFF, a 96 kHz FLAC, a 44.1 kHz WAV and a disc image (each 12 s: a 1 kHz tone at
-6 dBFS on the left, white noise at -20 dBFS on the right), seek-probe plays the source, seeks at 2 s to each
of ten places and records the output at DSD64.

    seek_accuracy.py BUILD_DIR [--sources dsf,dff,flac96,wav,disc] [--keep DIR]

Where the audio resumes:
  * DSD files: the recording's first block after the join is found byte for byte in the file; the error is
    that place against the asked one, in bytes of a channel (352.8 a millisecond).
  * PCM and the disc: the recording is decoded as measure.py does (a zero-phase 20.4 kHz low-pass,
    44.1 kHz) and the noise channel's lag against the source measured before and after the join (whitened
    cross-correlation, peak interpolated). Before the join the track's first block is source frame 0, so the
    lag there is the chain's own delay (the converter's and, for the FLAC, the resampler's); after it, the
    lag gives the source frame at the first block of the new place. The error is that frame against the
    asked one, in frames of the source's rate.
The click: the tone channel, decoded, through a 3 kHz high-pass (8th order, zero phase, which takes out the
tone and its fades' envelope) below the decoder's 20 kHz low-pass; the largest value within the join
(from 3 blocks before the fade-out to 3 after the fade-in), against the tone's amplitude, beside the same
figure over 50 ms of steady play before it. That model renders the fades through an ideal filter, so
their corners as the converter renders them count as residual (about -89 dB); the second figure takes the
modelled fades through the converter itself (ztf-convert, one stream) and so leaves only what the seek adds.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
from scipy import signal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure  # noqa: E402

SECONDS = 12
TARGETS_MS = [250, 950, 2345, 3500, 4567, 6001, 7250, 8888, 10010, 11400]
AFTER_MS = 2000
BLOCK_BYTES = 4096
BLOCK_FRAMES = 512  # 44.1 kHz frames in one DSD64 block
SILENCE = 0x69


def content(rate, seed=7):
    n = SECONDS * rate
    t = np.arange(n) / rate
    tone = 0.5 * np.sin(2 * np.pi * 1000 * t)
    noise = np.random.default_rng(seed).standard_normal(n) * 0.1
    return tone, np.clip(noise, -0.45, 0.45)


def write_wav(path, rate, bits, left, right):
    scale = (1 << (bits - 1)) - 1
    q = np.stack([np.round(left * scale), np.round(right * scale)], 1).astype("<i4")
    width = bits // 8
    data = q.view(np.uint8).reshape(-1, 4)[:, :width].tobytes()
    fmt = struct.pack("<HHIIHH", 1, 2, rate, rate * 2 * width, 2 * width, bits)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE" + b"fmt " + struct.pack("<I", 16) + fmt)
        f.write(b"data" + struct.pack("<I", len(data)) + data)
    return q


def dsf_channels(path):
    """The DSF's two channels as byte arrays in file order (LSB first), and its header's fields."""
    with open(path, "rb") as f:
        d = f.read()
    block = struct.unpack_from("<I", d, 28 + 44)[0]
    samples = struct.unpack_from("<Q", d, 28 + 40)[0]
    raw = np.frombuffer(d, dtype=np.uint8, offset=28 + 52 + 12)
    n = len(raw) // (2 * block)
    raw = raw[: n * 2 * block].reshape(n, 2, block)
    left, right = raw[:, 0, :].reshape(-1), raw[:, 1, :].reshape(-1)
    return left[: samples // 8], right[: samples // 8]


def write_dff(path, left, right):
    """A DSDIFF file (MSB first, bytes interleaved) holding the DSF's channels."""
    rev = np.unpackbits(np.stack([left, right], 1), axis=1, bitorder="little")
    data = np.packbits(rev, axis=1, bitorder="big").reshape(-1).tobytes()

    def chunk(cid, body):
        pad = b"\0" if len(body) % 2 else b""
        return cid + struct.pack(">Q", len(body)) + body + pad
    prop = b"SND " + chunk(b"FS  ", struct.pack(">I", 2822400)) + \
        chunk(b"CHNL", struct.pack(">H", 2) + b"SLFTSRGT") + chunk(b"CMPR", b"DSD " + b"\x0fnot compressed")
    body = b"DSD " + chunk(b"FVER", struct.pack(">I", 0x01050000)) + chunk(b"PROP", prop) + chunk(b"DSD ", data)
    with open(path, "wb") as f:
        f.write(b"FRM8" + struct.pack(">Q", len(body)) + body)


def make_sources(build, work):
    tone, noise = content(44100)
    wav = os.path.join(work, "tone.wav")
    q = write_wav(wav, 44100, 24, tone, noise)
    src44 = q.astype(np.float64) / (1 << 23)
    sources = {"wav": (wav, [], src44, 44100)}
    dsf = os.path.join(work, "tone.dsf")
    subprocess.run([os.path.join(build, "bench", "ztf-convert"), wav, dsf], check=True, stdout=subprocess.DEVNULL)
    sources["dsf"] = (dsf, ["--rf-mode"], None, 2822400)
    dff = os.path.join(work, "tone.dff")
    write_dff(dff, *dsf_channels(dsf))
    sources["dff"] = (dff, ["--rf-mode"], None, 2822400)
    t96, n96 = content(96000)
    wav96 = os.path.join(work, "tone96.wav")
    q96 = write_wav(wav96, 96000, 24, t96, n96)
    flac = os.path.join(work, "tone96.flac")
    subprocess.run(["ffmpeg", "-y", "-v", "error", "-i", wav96, "-c:a", "flac", "-sample_fmt", "s32", flac],
                   check=True)
    # The source as the player hears it at 44.1 kHz, by a linear-phase resampler with its delay taken out.
    ref96 = signal.resample_poly(q96.astype(np.float64) / (1 << 23), 147, 320, axis=0)
    sources["flac96"] = (flac, [], ref96, 96000)
    # A one-track disc image of 16-bit audio, whole sectors; mapped to drive V by the machine's settings.
    frames = SECONDS * 44100 // 588 * 588
    tq = np.stack([np.round(tone[:frames] * 32767), np.round(noise[:frames] * 32767)], 1).astype("<i2")
    with open(os.path.join(work, "disc.bin"), "wb") as f:
        f.write(tq.tobytes())
    with open(os.path.join(work, "disc.cue"), "w") as f:
        f.write('FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n')
    reg = os.path.join(work, "registry")
    os.makedirs(reg, exist_ok=True)
    with open(os.path.join(reg, "machine.reg"), "w") as f:
        f.write("Windows Registry Editor Version 5.00\n\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Orva Corporation\\Drives]\n"
                "\"V\"=\"image:%s\"\n" % os.path.join(work, "disc.cue"))
    sources["disc"] = (None, ["--cd", "V"], tq.astype(np.float64) / 32768, 44100)
    return sources, reg


def lag(y, x):
    """L (fractional) such that y[n] ~ x[n - L]: whitened cross-correlation over the audio band, its peak
    refined by a parabola through the three largest values."""
    n = 1 << int(np.ceil(np.log2(len(x) + len(y))))
    X = np.fft.rfft(x, n)
    Y = np.fft.rfft(y * np.hanning(len(y)), n)
    cross = Y * np.conj(X)
    f = np.arange(len(cross)) * 44100.0 / n
    cross = np.where((f > 100) & (f < 19000), cross / np.maximum(np.abs(cross), 1e-300), 0)
    c = np.fft.irfft(cross, n)
    k = int(np.argmax(c))
    a, b, d = c[k - 1], c[k], c[(k + 1) % n]
    k = k + 0.5 * (a - d) / (a - 2 * b + d)
    return k if k < n // 2 else k - n


def block_rms(x, first, count, shift=0):
    return np.array([np.sqrt(np.mean(x[b * BLOCK_FRAMES + shift:(b + 1) * BLOCK_FRAMES + shift] ** 2))
                     for b in range(first, first + count)])


TAU = 44100 * 0.003
OMEGA = 2 * np.pi * 1000 / 44100
AMP = 0.25  # the tone's amplitude in the decoded stream: PCM full scale is 50 % modulation


def fit_tone(y, lo, hi):
    """The 1 kHz sinusoid (a sin + b cos) that best fits y[lo:hi], as a function of (fractional) index."""
    n = np.arange(lo, hi)
    basis = np.stack([np.sin(OMEGA * n), np.cos(OMEGA * n)], 1)
    a, b = np.linalg.lstsq(basis, y[lo:hi], rcond=None)[0]
    return lambda t: a * np.sin(OMEGA * t) + b * np.cos(OMEGA * t)


def decoded_lowpass(x, delay):
    """x delayed by `delay` frames and through the decoder's low-pass (measure.py's, in the frequency
    domain)."""
    n = len(x)
    f = np.fft.rfftfreq(n, 1 / 44100)
    lo, hi = 20400.0, 21600.0
    mask = np.where(f <= lo, 1.0, np.where(f >= hi, 0.0, 0.5 + 0.5 * np.cos(np.pi * (f - lo) / (hi - lo))))
    return np.fft.irfft(np.fft.rfft(x) * mask * np.exp(-2j * np.pi * f * delay / 44100), n)


def join_residual(y, fade_out, fade_in, quiet_from):
    """What the tone channel holds around the join beyond the designed fades. The model: the tones before
    and after the join (fitted on steady play), faded out from `fade_out` and in from `fade_in` (frames)
    with the engine's 3 ms envelope (gain stepped before each sample), silence between, through the
    converter's delay and the decoder's low-pass; the delay is searched over, nothing else is free.
    Returns the largest difference within the join and over steady play before it (dB against the tone)."""
    pre = fit_tone(y, fade_out - 20 * BLOCK_FRAMES, fade_out - 2 * BLOCK_FRAMES)
    post_hi = min(len(y) - 4 * BLOCK_FRAMES, fade_in + 24 * BLOCK_FRAMES)
    post = fit_tone(y, fade_in + 6 * BLOCK_FRAMES, post_hi)
    lo, hi = fade_out - 60 * BLOCK_FRAMES, post_hi
    k = np.arange(lo, hi)
    g_out = np.where(k < fade_out, 1.0, np.exp(-(k - fade_out + 1) / TAU))
    g_out[k >= quiet_from] = 0.0
    g_in = np.where(k < fade_in, 0.0, 1 - np.exp(-(k - fade_in + 1) / TAU))
    a, b = fade_out - lo - 3 * BLOCK_FRAMES, fade_in - lo + 3 * BLOCK_FRAMES
    best = None
    for delay in np.arange(-0.5, 0.5001, 0.01):
        r = y[lo:hi] - decoded_lowpass(pre(k + delay) * g_out + post(k + delay) * g_in, delay)
        peak = np.max(np.abs(r[a:b]))
        if best is None or peak < best[0]:
            best = (peak, np.max(np.abs(r[a - 30 * BLOCK_FRAMES:a - 10 * BLOCK_FRAMES])), delay)
    model = {"pre": pre, "post": post, "delay": best[2], "g_out": (lo, g_out), "g_in": g_in, "window": (lo, a, b)}
    return 20 * np.log10(best[0] / AMP), 20 * np.log10(best[1] / AMP), model


def converted_residual(y, model, build, work):
    """The same difference, with the designed fades rendered by the converter itself instead of by an ideal
    filter: the modelled PCM (the fitted tones under the engine's envelopes) is written as a 24-bit WAV,
    converted in one stream by ztf-convert and decoded as the recording is. What remains is what the seek
    adds beyond the converter's own rendering of the fades (its interpolation and modulation at the fades'
    corners included), against the same figure over steady play. The converter's delay and its gain at 1 kHz
    are measured on a first conversion (the tone before the fade) and taken out of the second."""
    lo, g_out = model["g_out"]
    g_in, (lo, a, b), d = model["g_in"], model["window"], model["delay"]
    hi = lo + len(g_out)
    start = max(0, lo - 16 * BLOCK_FRAMES)
    n = hi + 16 * BLOCK_FRAMES
    go = np.concatenate([np.ones(lo - start), g_out, np.zeros(n - hi)])
    gi = np.concatenate([np.zeros(lo - start), g_in, np.ones(n - hi)])
    wav = os.path.join(work, "model.wav")
    dsf = os.path.join(work, "model.dsf")
    steady = (lo + 4 * BLOCK_FRAMES, lo + a - 8 * BLOCK_FRAMES)

    def convert(shift, gain):
        k = np.arange(start, n) + shift
        x = np.zeros(n)
        x[start:] = gain * (model["pre"](k + d) * go + model["post"](k + d) * gi) / 0.5  # 0.5: PCM full scale
        write_wav(wav, 44100, 24, x, np.zeros(n))
        subprocess.run([os.path.join(build, "bench", "ztf-convert"), wav, dsf], check=True,
                       stdout=subprocess.DEVNULL)
        left = dsf_channels(dsf)[0]
        return measure.decimate_to_44k(np.unpackbits(left, bitorder="little").astype(np.float64) * 2 - 1)

    def phasor(f):
        return f(np.pi / 2 / OMEGA) + 1j * f(0.0)  # a + jb, for a sin + b cos

    z = convert(0.0, 1.0)
    ratio = phasor(fit_tone(y, *steady)) / phasor(fit_tone(z, *steady))
    z = convert(np.angle(ratio) / OMEGA, np.abs(ratio))
    r = y[lo:hi] - z[lo:hi]
    return (20 * np.log10(np.max(np.abs(r[a:b])) / AMP),
            20 * np.log10(np.max(np.abs(r[a - 30 * BLOCK_FRAMES:a - 10 * BLOCK_FRAMES])) / AMP))


def high_band_peak(hp, first_block, blocks):
    """The largest value of the tone channel above 3 kHz over some blocks, in dB against the tone."""
    return 20 * np.log10(np.max(np.abs(hp[first_block * BLOCK_FRAMES:(first_block + blocks) * BLOCK_FRAMES])) / AMP)


def analyse(rec, target_ms, ref, rate):
    left, right = dsf_channels(rec)
    blocks = len(left) // BLOCK_BYTES
    silent = [bool(np.all(left[b * BLOCK_BYTES:(b + 1) * BLOCK_BYTES] == SILENCE)) for b in range(blocks)]
    first = silent.index(False)  # the track's first block, after the device's priming silence
    tone = measure.decimate_to_44k(np.unpackbits(left, bitorder="little").astype(np.float64) * 2 - 1)
    out = {}
    if ref is None:
        # A DSD file: the join is a run of silence blocks; the new place is found byte for byte. A DSD
        # stream is not faded, so its join is a step: its size is the tone's content above 3 kHz there.
        j = next(b for b in range(first + 1, blocks) if silent[b])
        resume = next(b for b in range(j, blocks) if not silent[b])
        src_left, _ = dsf_channels(SRC_DSF)
        want = left[resume * BLOCK_BYTES:(resume + 1) * BLOCK_BYTES].tobytes()
        at = src_left.tobytes().find(want)
        if at < 0:
            return {"error": float("nan"), "unit": "bytes", "note": "resumed audio not in the file"}
        run = min(40, blocks - resume - 1, (len(src_left) - at) // BLOCK_BYTES)
        same = np.array_equal(left[resume * BLOCK_BYTES:(resume + run) * BLOCK_BYTES],
                              src_left[at: at + run * BLOCK_BYTES])
        hp = signal.sosfiltfilt(signal.butter(8, 3000, "highpass", fs=44100, output="sos"), tone)
        lo, hi = (j - 3) * BLOCK_FRAMES, (resume + 3) * BLOCK_FRAMES
        out["error"] = at - target_ms * 352.8
        out["unit"] = "bytes"
        out["note"] = "%d blocks after it the same as the file: %s; step above 3 kHz %.1f dB" % (
            run, same, 20 * np.log10(np.max(np.abs(hp[lo:hi])) / AMP))
        return out
    noise = measure.decimate_to_44k(np.unpackbits(right, bitorder="little").astype(np.float64) * 2 - 1)
    src = ref[:, 1]
    w = 8192
    a = (first + 10) * BLOCK_FRAMES
    chain = lag(noise[a:a + w], src) + a - first * BLOCK_FRAMES
    shift = int(round(chain))
    rms = block_rms(tone, 0, blocks - 1, shift)
    steady = np.median(rms[first + 10:first + 60])
    fade_from = next(b for b in range(first + 10, blocks - 1) if rms[b] < 0.9 * steady)
    quiet_from = next(b for b in range(fade_from, blocks - 1) if rms[b] < 1e-4 * steady)
    resume = next(b for b in range(quiet_from, blocks - 1) if rms[b] > 0.05 * steady)
    a = (resume + 4) * BLOCK_FRAMES
    post_w = min(w, len(noise) - a - 2205)
    post = lag(noise[a:a + post_w], src) + a
    frame44 = resume * BLOCK_FRAMES + chain - post  # the source frame (44.1 kHz) at the resumed block
    out["error"] = (frame44 - target_ms * 44.1) * rate / 44100.0
    out["unit"] = "frames"
    click, floor, model = join_residual(tone, fade_from * BLOCK_FRAMES, resume * BLOCK_FRAMES,
                                        (fade_from + 10) * BLOCK_FRAMES)
    conv_click, conv_floor = converted_residual(tone, model, BUILD, os.path.dirname(rec))
    hp = signal.sosfiltfilt(signal.butter(8, 3000, "highpass", fs=44100, output="sos"), tone)
    out["note"] = ("chain delay %.2f frames; join %d quiet blocks; residual at the join %.1f dB "
                   "(steady play %.1f dB); against the converter's own fades %.1f dB (steady play %.1f dB); above 3 kHz: fade-out %.1f, fade-in %.1f, the track's own start %.1f dB" %
                   (chain, resume - fade_from - 1, click, floor, conv_click, conv_floor, high_band_peak(hp, fade_from - 1, 3),
                    high_band_peak(hp, resume - 1, 3), high_band_peak(hp, first - 1, 3)))
    return out


SRC_DSF = None  # the DSF the DSD files were made from (the DSDIFF holds the same channels)
BUILD = None  # the build folder, for ztf-convert


def main():
    global SRC_DSF, BUILD
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--sources", default="dsf,dff,flac96,wav,disc")
    ap.add_argument("--keep", default=None)
    args = ap.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="seek-accuracy-")
    os.makedirs(work, exist_ok=True)
    BUILD = args.build
    sources, reg = make_sources(args.build, work)
    SRC_DSF = sources["dsf"][0]
    probe = os.path.join(args.build, "bench", "seek-probe")
    env = dict(os.environ, QUELLWAVE_REGISTRY_DIR=reg)
    for name in args.sources.split(","):
        path, extra, ref, rate = sources[name]
        if name == "dff":
            SRC_DSF = sources["dsf"][0]  # the same channels, read from the DSF
        rows = []
        for target in TARGETS_MS:
            rec = os.path.join(work, "%s-%d.dsf" % (name, target))
            argv = [probe, rec] + ([path] if path else []) + extra + ["--after", str(AFTER_MS), "--to", str(target)]
            subprocess.run(argv, check=True, env=env, stdout=subprocess.DEVNULL)
            rows.append((target, analyse(rec, target, ref, rate)))
        print("%s:" % name)
        for target, r in rows:
            print("  to %6.3f s: error %+8.2f %s; %s" % (target / 1000, r["error"], r["unit"], r["note"]))
        sys.stdout.flush()

if __name__ == "__main__":
    main()
