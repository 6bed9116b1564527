#!/usr/bin/python3
"""Computes Zentrafold's filter and modulator coefficients and writes ZentrafoldCoefficients.h beside this
script. The build does not run it: run it by hand after changing a design parameter and commit the header.

    /usr/bin/python3 Zentrafold/design/design_coefficients.py [--report] [--optimise [--rate 64|128|256|512]]

Interpolator, 44.1 kHz -> 2.8224 MHz (x64):
  three half-band x2 stages (Kaiser-windowed, so every other tap is exactly zero and the middle tap is 1/2),
  then x8 linear interpolation. The third stage is not half-band: it is a least-squares FIR that also
  pre-compensates the sinc^2 droop of the linear stage, so the chain is flat to 20 kHz. At DSD128 and above a
  steep low-pass at 44.1 kHz (pass 20 kHz, stop 21 kHz, PRE_*) goes in front of the chain.
Modulator: the noise-transfer function NTF(z) = prod(z - z_i) / prod(z - p_i), order NTF_ORDER, realised as
  a cascade of monic second-order sections in an error-feedback loop with a one-bit quantiser. Its zeros sit
  on the unit circle and its poles are free; both come from a numerical search (--optimise) that minimises
  the noise put out at 40-100 kHz while holding the audio band and 20-40 kHz under their limits, the peak NTF
  gain under NTF_HINF and the sum of the magnitudes of the NTF's impulse response (its l1 norm) under NTF_L1.
  The search starts from the classic design (zeros at the roots of the Legendre polynomial scaled to the
  audio band, poles of a Butterworth high-pass whose peak gain is NTF_HINF, --from-start) or from the kept
  design, and is local and deterministic. Its result is kept below (NTF_ZEROS_HZ, NTF_POLES), so the header
  is rebuilt from those without searching again. The kept order-12 design came from the previous order-10
  design with a sixth section added (zero at 30 kHz, pole pair of radius 0.9 at 60 kHz), searched with
  --hinf 1.6 --l1 4.5 --inband -157 --band2 -76 and refined with the limits as they stand below.
DSD128, DSD256 and DSD512: each rate has its own NTF (order 10 at DSD128, order 8 at DSD256 and DSD512),
  searched the same way at its own rate (--optimise --rate 128|256|512) under the same l1 bound and the
  same peak gain (1.7 at DSD128), and run with the same look-ahead. At DSD128 and DSD256 four and three of
  their zeros sit in the audio band, for about -200 and -234 dBFM there, at DSD512 they sit from 46 to 97 kHz
  (the rate alone holds the audio band down), and the noise rises only above 100 kHz; --report prints each rate's predicted noise and runs its loop on the hard inputs at its rate.
Look-ahead: a loop this aggressive (peak gain 1.62; an l1 norm of 4.3) leaves its stable region on full-scale
  input with the plain sign quantiser. The converter therefore watches |quantiser input|: a byte in which it
  passes REDO_LEVEL is decided again together with the REDO_BYTES - 1 bytes before it, by growing REDO_PATHS
  candidate bit sequences from the state at the start of that window (each path's two continuations, the
  cheapest kept; cost the squared quantisation error plus a steep charge above REDO_LEVEL). --report runs
  exactly that loop on the hard inputs and prints the peak |quantiser input| with and without it (the
  converter limits above 2.0, which must never happen) and how often the look-ahead runs (what it costs).
  Noise in a band is predicted as the NTF's share of a white quantisation error of ERROR_DBFM; with the
  order-12 designs the converter measures about 2 dB above the prediction in the audio band and at
  20-40 kHz, and 2-3 dB above it at 40-100 kHz. The limits are set below the targets by that much.
"""
import argparse
import os

import numpy as np
from scipy import optimize, signal

FS_IN = 44100.0
FS_OUT = FS_IN * 64
AUDIO_BAND = 20000.0

# Interpolator design.
STAGE1_TAPS = 227  # half-band, 44.1 -> 88.2 kHz: pass 20 kHz, stop 24.1 kHz
STAGE1_ATTEN = 160.0
STAGE2_TAPS = 47  # half-band, 88.2 -> 176.4 kHz: pass 24.1 kHz, stop 64.1 kHz
STAGE2_ATTEN = 160.0
STAGE3_TAPS = 41  # least squares, 176.4 -> 352.8 kHz: pass 24.1 kHz (droop-compensated), stop 152.3 kHz
# DSD128 and above: a low-pass at 44.1 kHz in front of the chain. The first half-band passes up to 24.1 kHz,
# so a source's content between 20 and 22.05 kHz (a 24-bit master's dither) and its images up to 24.1 kHz pass
# into the 20-40 kHz band, where at DSD256 and DSD512 they are all that is left above the loop's own noise.
# This filter ends the pass band at 20 kHz with a steep edge; its delay is taken from the frames the converter
# holds back anyway, so the latency is the same at every rate. DSD64 keeps the chain as it is: its loop's
# own noise at 20-40 kHz is far above the source's.
PRE_PASS_HZ = 20000.0
PRE_STOP_HZ = 21000.0
PRE_ATTEN = 150.0

# Modulator design.
NTF_ORDER = 12
NTF_BAND_EDGE = 20000.0  # the starting design's zeros spread over the audio band
NTF_HINF = 1.62  # peak NTF gain
NTF_L1 = 4.3  # bound on sum |h[n]| of the NTF's impulse response
INBAND_LIMIT_DBFM = -158.5  # predicted noise, 20 Hz-20 kHz
BAND2_LIMIT_DBFM = -77.5  # predicted noise, 20-40 kHz
ERROR_DBFM = -9.1  # a white quantisation error of this power (dB re full modulation) predicts the noise

# Look-ahead (the converter's kRedoLevel, kRedoBytes and kPaths).
REDO_LEVEL = 1.8
REDO_BYTES = 8
REDO_PATHS = 4

# The result of --optimise (order NTF_ORDER): zero frequencies in Hz (one conjugate pair each on the unit
# circle) and pole pairs as (radius, frequency in Hz).
NTF_ZEROS_HZ = [
    3651.4304650149024,
    7714.298882604369,
    12902.695085947244,
    17044.970638639228,
    19460.680006664625,
    38105.66159410362,
]
NTF_POLES = [
    (0.9771698243328117, 4713.9500507900375),
    (0.7820574249368725, 4990.29369686437),
    (0.9228889602151683, 5982.335649604053),
    (0.9992548326141668, 28670.641729991225),
    (0.9983714871299508, 41679.89538033485),
    (0.8771005667231011, 128849.38636350221),
]

# DSD128 and DSD256 (--rate 128, --rate 256): their own NTFs, found by the same search at their own rate with
# the same l1 bound, first from the classic design (--from-start). The rate leaves room a DSD64 loop does not
# have: at DSD128 an order-10 NTF puts the noise 45 dB lower in the audio band and 40 dB lower at 40-100 kHz,
# at DSD256 order 8 puts it about 70 dB lower in band and almost nothing below 100 kHz; lower orders keep the
# modulator fast at two and four times the samples.
NTF128_ORDER = 10
NTF128_INBAND_LIMIT_DBFM = -202.5
NTF128_BAND2_LIMIT_DBFM = -129.5
NTF128_HINF = 1.7
# The kept DSD128 and DSD256 designs were searched again, in steps, from the previous ones (predicted -170.0, -119.1 and
# -82.6 dBFM at DSD128; -176.0, -171.8 and -148.6 at DSD256) for far less noise in the audio band, where the
# rate leaves room: --inband -202.5 --band2 -129.5 --hinf 1.7 at DSD128 (a peak gain of 1.7, which the
# look-ahead holds on every hard input) and --inband -234 --band2 -172 at DSD256. At these depths the loop's
# dither would be the floor, so the loop takes a smaller one at these rates (DitherStep in the converter).
NTF128_ZEROS_HZ = [
    3605.7316990243667,
    10433.993639564431,
    15939.174289052664,
    19241.235908769897,
    95790.738704151125,
]
NTF128_POLES = [
    (0.96590731429145793, 1.7674961160152426e-70),
    (0.86871408600331912, 6.644360711653727e-17),
    (0.99000183667706954, 112055.59290834708),
    (0.95033643967778214, 144741.26555796442),
    (0.74723194564643713, 269777.20197096339),
]
NTF256_ORDER = 8
NTF256_INBAND_LIMIT_DBFM = -234.0
NTF256_BAND2_LIMIT_DBFM = -172.0
NTF256_ZEROS_HZ = [
    4775.2057814485197,
    13249.528030440328,
    18676.261233324814,
    93667.248624644679,
]
NTF256_POLES = [
    (0.75151131699574791, 65347.88278571565),
    (0.99444673592084487, 174560.50503032224),
    (0.9772681974454086, 243410.91151670105),
    (0.84512950484949734, 522096.93011770211),
]
# DSD512 (--rate 512): order 8 again, the fewest sections the converter's loop takes, searched at its own
# rate under the same peak gain and l1 bound. The first search started from the DSD256 design of the time
# carried to twice the rate (the same analogue NTF) and moved all the zeros above 40 kHz (predicted -190.5
# dBFM in band, -197.4 at 20-40 kHz and -212.1 at 40-100 kHz); searched again from that with --inband -240
# --band2 -200, the loop brings two zeros back into the audio band and beside it, for 50 dB less in band and
# 20 dB less at 20-40 kHz, for 13.5 dB more at 40-100 kHz: predicted -240.0, -217.4 and -198.6.
NTF512_ORDER = 8
NTF512_INBAND_LIMIT_DBFM = -240.0
NTF512_BAND2_LIMIT_DBFM = -200.0
NTF512_ZEROS_HZ = [
    9427.0792104655902,
    22798.630048303836,
    76291.916480444954,
    95606.081724245829,
]
NTF512_POLES = [
    (0.75109912969908743, 23568.988811698029),
    (0.99457699523375509, 336032.3313416543),
    (0.97698924682707011, 479857.01706189499),
    (0.84572149547078379, 1048535.2748364622),
]


class Design:
    """One rate's NTF: order, search limits and the kept zeros (Hz) and pole pairs (radius, Hz)."""

    def __init__(self, multiple, order, inband, band2, zeros_hz, poles, hinf=NTF_HINF):
        self.multiple = multiple
        self.fs = FS_OUT * multiple
        self.order = order
        self.inband = inband
        self.band2 = band2
        self.hinf = hinf
        self.l1 = NTF_L1
        self.zeros_hz = zeros_hz
        self.poles = poles


def designs():
    return {64: Design(1, NTF_ORDER, INBAND_LIMIT_DBFM, BAND2_LIMIT_DBFM, NTF_ZEROS_HZ, NTF_POLES),
            128: Design(2, NTF128_ORDER, NTF128_INBAND_LIMIT_DBFM, NTF128_BAND2_LIMIT_DBFM, NTF128_ZEROS_HZ,
                        NTF128_POLES, NTF128_HINF),
            256: Design(4, NTF256_ORDER, NTF256_INBAND_LIMIT_DBFM, NTF256_BAND2_LIMIT_DBFM, NTF256_ZEROS_HZ,
                        NTF256_POLES),
            512: Design(8, NTF512_ORDER, NTF512_INBAND_LIMIT_DBFM, NTF512_BAND2_LIMIT_DBFM, NTF512_ZEROS_HZ,
                        NTF512_POLES)}


def kaiser_halfband(taps, atten):
    assert taps % 4 == 3, "a half-band of length 4K-1 has an odd phase that is a whole-sample delay"
    beta = signal.kaiser_beta(atten)
    n = np.arange(taps) - (taps - 1) / 2
    h = 0.5 * np.sinc(n / 2) * np.kaiser(taps, beta)
    h[(n % 2 == 0) & (n != 0)] = 0.0
    h[n == 0] = 0.5
    return h


def pre_filter():
    """The high rates' 44.1 kHz low-pass: Kaiser-windowed, odd length, unit gain at DC."""
    width = 2 * np.pi * (PRE_STOP_HZ - PRE_PASS_HZ) / FS_IN
    taps = int(np.ceil((PRE_ATTEN - 7.95) / (2.285 * width))) | 1
    n = np.arange(taps) - (taps - 1) / 2
    fc = (PRE_PASS_HZ + PRE_STOP_HZ) / 2 / FS_IN
    h = 2 * fc * np.sinc(2 * fc * n) * np.kaiser(taps, signal.kaiser_beta(PRE_ATTEN))
    return h / h.sum()


def linear_droop(f):
    """Magnitude of the x8 linear interpolator (a length-15 triangle) at frequency f."""
    x = f / (FS_IN * 8)
    return (np.sinc(x) ** 2)


def stage3_filter():
    fs = FS_IN * 8  # output rate of this stage
    edges = [0, 24100, 152300, fs / 2]
    # firls wants piecewise-linear targets: approximate 1/droop by several short bands.
    bands = []
    desired = []
    weights = []
    pts = np.linspace(0, 24100, 9)
    for a, b in zip(pts[:-1], pts[1:]):
        bands += [a, b]
        desired += [1 / linear_droop(a), 1 / linear_droop(b)]
        weights.append(1.0)
    bands += [edges[2], edges[3]]
    desired += [0, 0]
    weights.append(1e3)
    h = signal.firls(STAGE3_TAPS, bands, desired, weight=weights, fs=fs)
    return h * 2  # gain 2 for the zero-stuffed input


def starting_design(order, band_edge, hinf, fs=FS_OUT):
    """The classic NTF the search starts from: zeros at the roots of the Legendre polynomial scaled to the
    audio band, poles of a Butterworth high-pass whose cut-off is found by bisection so that the peak gain is
    hinf."""
    x = np.polynomial.legendre.leggauss(order)[0]  # symmetric roots in (-1, 1)
    w = np.unique(np.round(np.abs(x), 15)) * 2 * np.pi * band_edge / fs
    zeros = []
    for wi in w:
        zeros += [np.exp(1j * wi), np.exp(-1j * wi)] if wi > 0 else [1.0 + 0j]
    zeros = np.array(zeros)

    def poles_for(fc):
        return signal.butter(order, fc, "high", output="zpk")[1]

    grid = np.linspace(0, fs / 2, 1 << 14)
    lo, hi = 1e-4, 0.99
    for _ in range(80):
        mid = 0.5 * (lo + hi)
        if np.max(np.abs(ntf_response(zeros, poles_for(mid), grid, fs))) > hinf:
            hi = mid
        else:
            lo = mid
    return zeros, poles_for(lo)


def zpk_from(zeros_hz, poles, fs=FS_OUT):
    """Zeros (unit circle, Hz) and pole pairs (radius, Hz) as arrays of complex conjugate pairs."""
    z = [np.exp(2j * np.pi * f / fs) for f in zeros_hz]
    p = [r * np.exp(2j * np.pi * f / fs) for r, f in poles]
    return np.array(z + [np.conj(v) for v in z]), np.array(p + [np.conj(v) for v in p])


def band_noise_dbfm(zeros, poles, lo, hi, points=400, fs=FS_OUT):
    """Predicted noise in lo..hi Hz: the NTF's share of a white error of ERROR_DBFM."""
    f = np.linspace(lo, hi, points)
    share = np.mean(np.abs(ntf_response(zeros, poles, f, fs)) ** 2) * (hi - lo) / (fs / 2)
    return 10 * np.log10(share + 1e-300) + ERROR_DBFM


def peak_gain(zeros, poles, fs=FS_OUT):
    f = np.concatenate([np.linspace(0, 200000, 800), np.linspace(200000, fs / 2, 800)])
    return np.max(np.abs(ntf_response(zeros, poles, f, fs)))


def l1_norm(zeros, poles, fs=FS_OUT, length=None):
    """sum |h[n]| of the NTF's impulse response (h[0] = 1), through second-order sections: the expanded
    polynomial of poles clustered near z = 1 is too ill-conditioned to filter with."""
    impulse = np.zeros(length or int(6000 * fs / FS_OUT))  # the response has died away by then
    impulse[0] = 1.0
    return np.sum(np.abs(signal.sosfilt(sos_of(sections(zeros, poles)), impulse)))


def sos_of(secs):
    return np.array([[1.0, b1, b2, 1.0, a1, a2] for b1, b2, a1, a2 in secs])


def optimise(d, from_start=False):
    """Searches zeros and poles of design `d` (a Design): the least predicted 40-100 kHz noise under its
    limits, from its kept zeros and poles or (from_start) from the classic design. The limits are quadratic
    penalties, steep enough that the result meets them to a few hundredths of a dB. The search is local:
    where it ends depends on where it starts, so a kept design can be refined by searching again from it."""
    fs = d.fs
    if from_start or not d.zeros_hz:
        z0, p0 = starting_design(d.order, NTF_BAND_EDGE, d.hinf, fs)
    else:
        z0, p0 = zpk_from(d.zeros_hz, d.poles, fs)
    zf = np.sort(np.angle([z for z in z0 if z.imag > 0])) * fs / (2 * np.pi)
    pp = sorted([p for p in p0 if p.imag > 0], key=np.angle)
    # Radii through a logistic and pole frequencies through a logarithm keep every pole inside the circle.
    x0 = np.concatenate([zf, [np.log(abs(p) / (1 - abs(p))) for p in pp], [np.log(np.angle(p)) for p in pp]])
    k = d.order // 2

    def unpack(x):
        radii = 1 / (1 + np.exp(-x[k:2 * k]))
        freqs = np.exp(x[2 * k:]) * fs / (2 * np.pi)
        return list(x[:k]), list(zip(radii, freqs))

    def cost(x):
        z, p = zpk_from(*unpack(x), fs)
        over = [band_noise_dbfm(z, p, 1, 20000, fs=fs) - d.inband,
                band_noise_dbfm(z, p, 20000, 40000, 200, fs=fs) - d.band2]
        penalty = 100 * sum(max(0.0, v) ** 2 for v in over)
        penalty += 1e4 * max(0.0, 20 * np.log10(peak_gain(z, p, fs) / d.hinf)) ** 2
        penalty += 1e3 * max(0.0, l1_norm(z, p, fs) - d.l1) ** 2
        return band_noise_dbfm(z, p, 40000, 100000, 300, fs=fs) + penalty

    opts = dict(maxiter=20000, maxfev=20000, xatol=1e-6, fatol=1e-6, adaptive=True)
    x = optimize.minimize(cost, x0, method="Nelder-Mead", options=opts).x
    x = optimize.minimize(cost, x, method="Powell", options=dict(maxiter=20000)).x
    zeros_hz, poles = unpack(x)
    return sorted(abs(f) for f in zeros_hz), sorted(poles, key=lambda p: p[1])


def ntf_response(zeros, poles, f, fs=FS_OUT):
    zz = np.exp(2j * np.pi * f / fs)
    return np.prod([zz - z for z in zeros], axis=0) / np.prod([zz - q for q in poles], axis=0)


def sections(zeros, poles):
    """Pairs each conjugate pair of zeros with a conjugate pair of poles, both in order of frequency, into
    monic sections (b1, b2, a1, a2). zpk_from lists one of each pair first; a pole pair at (nearly) zero
    frequency is a real double pole and still one section."""
    k = len(zeros) // 2
    zs = sorted(zeros[:k], key=lambda z: abs(np.angle(z)))
    ps = sorted(poles[:k], key=lambda p: abs(np.angle(p)))
    return [(-2 * z.real, abs(z) ** 2, -2 * p.real, abs(p) ** 2) for z, p in zip(zs, ps)]


def feedback(s1, u):
    return u + sum(s1)


def update(secs, s1, s2, e):
    """One step of the converter's section update for error e (new lists)."""
    prefix = 0.0
    n1, n2 = [], []
    for (b1, b2, a1, a2), old, old2 in zip(secs, s1, s2):
        w = e + prefix
        prefix += old
        n1.append((old2 - a1 * old) + (b1 - a1) * w)
        n2.append((b2 - a2) * w - a2 * old)
    return n1, n2


def redo(secs, start, inputs):
    """The converter's look-ahead over one window: from state `start`, grows REDO_PATHS candidate bit
    sequences over `inputs` (each path's two continuations, the cheapest kept; cost the squared quantisation
    error plus a steep charge above REDO_LEVEL) and returns the cheapest path's bits."""
    paths = [(0.0, start[0], start[1], [])]
    for u in inputs:
        cands = []
        for cost, s1, s2, bits in paths:
            y = feedback(s1, u)
            over = abs(y) - REDO_LEVEL
            charge = 1e3 * over * over if over > 0 else 0.0
            cands.append((cost + (1 - y) ** 2 + charge, 1.0, y, s1, s2, bits))
            cands.append((cost + (-1 - y) ** 2 + charge, -1.0, y, s1, s2, bits))
        cands.sort(key=lambda c: c[0])
        paths = []
        for cost, v, y, s1, s2, bits in cands[:REDO_PATHS]:
            n1, n2 = update(secs, s1, s2, v - y)
            paths.append((cost, n1, n2, bits + [v]))
    return paths[0][3]


def loop_run(secs, u, lookahead=True):
    """Runs the one-bit loop as the converter runs it on the modulator input u (of full modulation): the
    plain sign quantiser, and with `lookahead` each 8-sample byte in which |quantiser input| passed
    REDO_LEVEL decided again with the REDO_BYTES - 1 bytes before it. Returns the largest |quantiser input|
    of the decided stream and the number of bytes redone. Above 2 the converter would limit the error fed
    back (an overload); a peak that grows without bound has run away."""
    s1 = [0.0] * len(secs)
    s2 = [0.0] * len(secs)
    snaps = []
    peak = 0.0
    redone = 0
    for b in range(len(u) // 8):
        snaps.append((s1, s2))
        snaps = snaps[-REDO_BYTES:]
        ys = []
        for n in range(8 * b, 8 * b + 8):
            y = feedback(s1, u[n])
            ys.append(y)
            s1, s2 = update(secs, s1, s2, (1.0 if y >= 0 else -1.0) - y)
        if lookahead and max(abs(y) for y in ys) > REDO_LEVEL:
            redone += 1
            first = 8 * (b + 1 - len(snaps))
            bits = redo(secs, snaps[0], u[first: 8 * b + 8])
            s1, s2 = snaps[0]
            ys = []
            for n, v in zip(range(first, 8 * b + 8), bits):
                if n % 8 == 0 and n > first:
                    snaps[(n - first) // 8] = (s1, s2)
                y = feedback(s1, u[n])
                ys.append(y)
                s1, s2 = update(secs, s1, s2, v - max(-2.0, min(2.0, y)))
        peak = max(peak, max(abs(y) for y in ys))
        if peak > 1e3:
            break
    return peak, redone


def stability_inputs(samples=120000, seed=1, fs=FS_OUT):
    """The hard inputs at the modulator (PCM full scale = 0.5 of full modulation): full-scale sines from
    20 Hz to 20 kHz, a naive full-scale square with the interpolator's overshoot and white noise clipped at
    full scale (both with their overshoot limited at 0.52, as in the converter)."""
    rng = np.random.default_rng(seed)
    t = np.arange(samples) / fs
    out = [("sine %g Hz" % f, 0.5 * np.sin(2 * np.pi * f * t)) for f in (20, 1000, 10000, 19000)]
    square = np.where(np.mod(1000 * t, 1.0) < 0.5, 1.0, -1.0)
    # The square through a low-pass at 20 kHz: the interpolated signal rings past full scale at each edge.
    b, a = signal.butter(8, 20000, fs=fs)
    out.append(("square 1 kHz", np.clip(0.5 * signal.lfilter(b, a, square), -0.52, 0.52)))
    hold = int(round(fs / FS_IN))  # one PCM sample
    held = np.repeat(np.clip(rng.standard_normal(samples // hold + 1) * 10 ** (-3 / 20), -1, 1), hold)[:samples]
    out.append(("clipped noise", np.clip(0.5 * signal.lfilter(b, a, held), -0.52, 0.52)))
    return [(name, x + rng.uniform(-1e-7, 1e-7, samples)) for name, x in out]


def fmt(values):
    lines = []
    for i in range(0, len(values), 3):
        lines.append("    " + " ".join("%.17e," % v for v in values[i:i + 3]))
    return "\n".join(lines)


# The landing's audio-band weighting (the converter's ConvertFinal): a Kaiser-windowed low-pass that passes
# the audio band and holds the shaped noise above LAND_STOP_HZ down by LAND_ATTEN dB, so that the energy it
# leaves is the audio-band error at the join, not noise; integer taps (summing to 2^20) keep the landing exact.
LAND_CUTOFF_HZ = 30000.0
LAND_STOP_HZ = 70000.0
LAND_ATTEN = 120.0


def land_weight(multiple):
    fs = FS_OUT * multiple
    width = 2 * np.pi * (LAND_STOP_HZ - LAND_CUTOFF_HZ) / fs
    taps = int(np.ceil((LAND_ATTEN - 8) / (2.285 * width))) | 1
    n = np.arange(taps) - (taps - 1) / 2
    fc = (LAND_CUTOFF_HZ + LAND_STOP_HZ) / 2 / fs
    h = 2 * fc * np.sinc(2 * fc * n) * np.kaiser(taps, signal.kaiser_beta(LAND_ATTEN))
    return np.round(h / h.sum() * (1 << 20)).astype(np.int64)


def write_sections(out, name, secs):
    out.write("inline constexpr std::array<Section, %d> %s = {{\n" % (len(secs), name))
    for sec in secs:
        out.write("    {%.17e, %.17e, %.17e, %.17e},\n" % sec)
    out.write("}};\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--report", action="store_true", help="print the predicted responses")
    ap.add_argument("--optimise", action="store_true",
                    help="search the NTF of --rate from the kept one and print its zeros and poles to keep")
    ap.add_argument("--rate", type=int, default=64, choices=[64, 128, 256, 512], help="with --optimise: the rate")
    ap.add_argument("--from-start", action="store_true", help="with --optimise: start from the classic design")
    ap.add_argument("--inband", type=float, default=None, help="with --optimise: in-band limit, dBFM")
    ap.add_argument("--band2", type=float, default=None, help="with --optimise: 20-40 kHz limit, dBFM")
    ap.add_argument("--hinf", type=float, default=None, help="with --optimise: peak NTF gain")
    ap.add_argument("--l1", type=float, default=None, help="with --optimise: bound on the l1 norm")
    args = ap.parse_args()

    h1 = kaiser_halfband(STAGE1_TAPS, STAGE1_ATTEN)
    h2 = kaiser_halfband(STAGE2_TAPS, STAGE2_ATTEN)
    h3 = stage3_filter()
    h0 = pre_filter()
    rates = designs()
    if args.optimise:
        d = rates[args.rate]
        d.inband = args.inband if args.inband is not None else d.inband
        d.band2 = args.band2 if args.band2 is not None else d.band2
        d.hinf = args.hinf if args.hinf is not None else d.hinf
        d.l1 = args.l1 if args.l1 is not None else d.l1
        d.zeros_hz, d.poles = optimise(d, args.from_start)
        prefix = "NTF" if args.rate == 64 else "NTF%d" % args.rate
        print("%s_ZEROS_HZ = [\n%s]" % (prefix, "".join("    %.17g,\n" % f for f in d.zeros_hz)))
        print("%s_POLES = [\n%s]" % (prefix, "".join("    (%.17g, %.17g),\n" % p for p in d.poles)))
    secs = {}
    for rate, d in rates.items():
        zeros, poles = zpk_from(d.zeros_hz, d.poles, d.fs)
        assert len(zeros) == d.order and len(poles) == d.order
        secs[rate] = sections(zeros, poles)

    # The even (non-trivial) phase of each half-band, scaled by 2 for the zero-stuffed input; only the first
    # half is stored because it is symmetric.
    def halfband_phase(h):
        taps = len(h)
        c = (taps - 1) // 2
        idx = [k for k in range(taps) if (k - c) % 2 != 0]
        ph = 2 * h[idx]
        assert np.allclose(ph, ph[::-1])
        return ph

    p1 = halfband_phase(h1)
    p2 = halfband_phase(h2)

    if args.report:
        f = np.linspace(0, 20000, 2001)
        def resp(h, fs, f):
            return np.abs(signal.freqz(h, worN=f, fs=fs)[1])
        # Each x2 stage has gain 2 on its zero-stuffed input; relative to that, the chain should be 1.
        chain = resp(h1, 2 * FS_IN, f) * resp(h2, 4 * FS_IN, f) * resp(h3, 8 * FS_IN, f) / 2 * linear_droop(f)
        print("pass band 0-20 kHz: %.6f .. %.6f dB" % (20 * np.log10(chain.min()), 20 * np.log10(chain.max())))
        pre = resp(h0, FS_IN, f)
        print("DSD128 and above, with the 44.1 kHz low-pass (%d taps): pass band 0-20 kHz %.6f .. %.6f dB" % (
            len(h0), 20 * np.log10((chain * pre).min()), 20 * np.log10((chain * pre).max())))
        fs0 = np.linspace(PRE_STOP_HZ, FS_IN / 2, 401)
        print("  its stop band from %.0f Hz: %.1f dB" % (PRE_STOP_HZ, 20 * np.log10(resp(h0, FS_IN, fs0).max())))
        fs1 = np.linspace(24100, 44100, 2001)
        print("stage 1 stop band: %.1f dB" % (20 * np.log10(resp(h1, 2 * FS_IN, fs1).max())))
        fs2 = np.linspace(64100, 88200, 2001)
        print("stage 2 stop band: %.1f dB" % (20 * np.log10(resp(h2, 4 * FS_IN, fs2).max())))
        fs3 = np.linspace(152300, 176400, 2001)
        print("stage 3 stop band: %.1f dB" % (20 * np.log10(resp(h3, 8 * FS_IN, fs3).max() / 2)))
        for rate, d in rates.items():
            if args.optimise and rate != args.rate:
                continue
            zeros, poles = zpk_from(d.zeros_hz, d.poles, d.fs)
            fs = d.fs
            print("DSD%d, NTF order %d: peak gain %.3f, l1 norm %.3f, largest pole radius %.5f" % (
                rate, d.order, peak_gain(zeros, poles, fs), l1_norm(zeros, poles, fs), max(r for r, _ in d.poles)))
            print("  predicted noise: 20 Hz-20 kHz %.1f dBFM, 20-40 kHz %.1f dBFM, 40-100 kHz %.1f dBFM" % (
                band_noise_dbfm(zeros, poles, 1, 20000, fs=fs), band_noise_dbfm(zeros, poles, 20000, 40000, fs=fs),
                band_noise_dbfm(zeros, poles, 40000, 100000, fs=fs)))
            print("  loop simulation on the hard inputs (peak |quantiser input|; above 2.0 the converter limits):")
            for name, u in stability_inputs(120000 * d.multiple, fs=fs):
                plain, _ = loop_run(secs[rate], u, lookahead=False)
                peak, redone = loop_run(secs[rate], u)
                print("    %-14s plain quantiser %s; with look-ahead %.2f, redone %.2f per 1000 bytes" % (
                    name, "%.2f" % plain if plain < 1e3 else "runs away", peak, 8000.0 * redone / len(u)),
                    flush=True)
    if args.optimise:
        return  # the header is written from the kept designs only

    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "ZentrafoldCoefficients.h"), "w") as out:
        out.write("// Generated by design_coefficients.py; do not edit. Regenerate with\n")
        out.write("// /usr/bin/python3 Zentrafold/design/design_coefficients.py\n")
        out.write("#pragma once\n\n#include <array>\n\nnamespace zentrafold::coef {\n\n")
        out.write("// x2 half-band stages: the symmetric even phase (gain included); the odd phase is a delay.\n")
        out.write("inline constexpr std::array<double, %d> kStage1 = {\n%s\n};\n" % (len(p1), fmt(p1)))
        out.write("inline constexpr std::array<double, %d> kStage2 = {\n%s\n};\n" % (len(p2), fmt(p2)))
        out.write("// x2 least-squares stage with droop compensation for the x8 linear stage (gain included).\n")
        out.write("inline constexpr std::array<double, %d> kStage3 = {\n%s\n};\n" % (len(h3), fmt(h3)))
        out.write("// DSD128 and above: the 44.1 kHz low-pass in front of the chain, its first half (the last tap is\n")
        out.write("// the centre; the filter is symmetric).\n")
        half = (len(h0) - 1) // 2
        out.write("inline constexpr std::array<double, %d> kPreFilter = {\n%s\n};\n\n" % (half + 1, fmt(h0[:half + 1])))
        out.write("// Noise-transfer function sections, each (1 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2):\n")
        out.write("// DSD64, DSD128, DSD256 and DSD512.\n")
        out.write("struct Section {\n    double b1, b2, a1, a2;\n};\n")
        write_sections(out, "kNtf", secs[64])
        write_sections(out, "kNtf128", secs[128])
        write_sections(out, "kNtf256", secs[256])
        write_sections(out, "kNtf512", secs[512])
        out.write("\n// The landing's audio-band weighting at DSD64, DSD128, DSD256 and DSD512 (symmetric, integer "
                  "taps).\n")
        for name, multiple in (("kLandWeight", 1), ("kLandWeight128", 2), ("kLandWeight256", 4),
                               ("kLandWeight512", 8)):
            w = land_weight(multiple)
            out.write("inline constexpr std::array<int, %d> %s = {\n" % (len(w), name))
            for i in range(0, len(w), 12):
                out.write("    " + " ".join("%d," % v for v in w[i:i + 12]) + "\n")
            out.write("};\n")
        out.write("\n} // namespace zentrafold::coef\n")


if __name__ == "__main__":
    main()
