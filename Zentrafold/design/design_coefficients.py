#!/usr/bin/python3
"""Computes Zentrafold's filter and modulator coefficients and writes ZentrafoldCoefficients.h beside this
script. The build does not run it: run it by hand after changing a design parameter and commit the header.

    /usr/bin/python3 Zentrafold/design/design_coefficients.py [--report]

Interpolator, 44.1 kHz -> 2.8224 MHz (x64):
  three half-band x2 stages (Kaiser-windowed, so every other tap is exactly zero and the middle tap is 1/2),
  then x8 linear interpolation. The third stage is not half-band: it is a least-squares FIR that also
  pre-compensates the sinc^2 droop of the linear stage, so the chain is flat to 20 kHz.
Modulator: the noise-transfer function NTF(z) = prod(z - z_i) / prod(z - p_i), realised as a cascade of
  monic second-order sections in an error-feedback loop. Zeros: placed on the unit circle at the roots of the
  Legendre polynomial scaled to the audio band (they minimise the integrated in-band noise). Poles: those
  of a maximally flat (Butterworth) high-pass whose cut-off is found by bisection so that the peak NTF gain
  equals NTF_HINF, the usual stability bound of a one-bit loop.
  Order and peak gain trade in-band noise against the largest input the loop stays stable with. Tenth order
  at a peak gain of 1.42 leaves the in-band floor slightly below that of eighth order at 1.5, yet its
  quantiser input stays under 1.3 for full-scale sines, squares and clipped noise, where the eighth-order
  loop at 1.5 ran away about once a second on full-scale sines (peak gains down to 1.47 still ran away on
  squares). --report runs that check as a simulation of the loop (see max_stable_amplitude).
"""
import argparse
import os

import numpy as np
from scipy import signal

FS_IN = 44100.0
FS_OUT = FS_IN * 64
AUDIO_BAND = 20000.0

# Interpolator design.
STAGE1_TAPS = 227  # half-band, 44.1 -> 88.2 kHz: pass 20 kHz, stop 24.1 kHz
STAGE1_ATTEN = 160.0
STAGE2_TAPS = 47  # half-band, 88.2 -> 176.4 kHz: pass 24.1 kHz, stop 64.1 kHz
STAGE2_ATTEN = 160.0
STAGE3_TAPS = 41  # least squares, 176.4 -> 352.8 kHz: pass 24.1 kHz (droop-compensated), stop 152.3 kHz

# Modulator design.
NTF_ORDER = 10
NTF_BAND_EDGE = 20000.0  # with ten zeros the top one sits close enough to 20 kHz; a wider spread costs noise
NTF_HINF = 1.42
NTF_ZERO_SPREAD = 1.0
# Zeros above the audio band (Hz, one conjugate pair each) that pull down the noise in 40-100 kHz, where
# an unshaped high-pass NTF would leave it loud.
NTF_ULTRASONIC_ZEROS = []


def kaiser_halfband(taps, atten):
    assert taps % 4 == 3, "a half-band of length 4K-1 has an odd phase that is a whole-sample delay"
    beta = signal.kaiser_beta(atten)
    n = np.arange(taps) - (taps - 1) / 2
    h = 0.5 * np.sinc(n / 2) * np.kaiser(taps, beta)
    h[(n % 2 == 0) & (n != 0)] = 0.0
    h[n == 0] = 0.5
    return h


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


def ntf_zpk(order, band_edge, hinf, ultrasonic=()):
    inband = order - 2 * len(ultrasonic)
    x = np.polynomial.legendre.leggauss(inband)[0]  # symmetric roots in (-1, 1)
    w = np.unique(np.round(np.abs(x), 15))
    w = w * NTF_ZERO_SPREAD * 2 * np.pi * band_edge / FS_OUT
    zeros = []
    for wi in w:
        if wi == 0:
            zeros.append(1.0 + 0j)
        else:
            zeros += [np.exp(1j * wi), np.exp(-1j * wi)]
    for f in ultrasonic:
        wi = 2 * np.pi * f / FS_OUT
        zeros += [np.exp(1j * wi), np.exp(-1j * wi)]
    zeros = np.array(zeros)
    assert len(zeros) == order

    def poles_for(fc):
        _, p, _ = signal.butter(order, fc, "high", output="zpk")
        return p

    def peak(fc):
        p = poles_for(fc)
        wgrid = np.linspace(0, np.pi, 1 << 14)
        zz = np.exp(1j * wgrid)
        h = np.prod([zz - z for z in zeros], axis=0) / np.prod([zz - q for q in p], axis=0)
        return np.max(np.abs(h))

    lo, hi = 1e-4, 0.99
    for _ in range(80):
        mid = 0.5 * (lo + hi)
        if peak(mid) > hinf:
            hi = mid
        else:
            lo = mid
    return zeros, poles_for(lo), lo


def ntf_response(zeros, poles, f):
    zz = np.exp(2j * np.pi * f / FS_OUT)
    return np.prod([zz - z for z in zeros], axis=0) / np.prod([zz - q for q in poles], axis=0)


def sections(zeros, poles):
    """Pairs conjugate zeros with conjugate poles into monic sections (b1, b2, a1, a2)."""
    zs = sorted([z for z in zeros if z.imag > 1e-12], key=lambda z: np.angle(z))
    real_z = [z for z in zeros if abs(z.imag) <= 1e-12]
    ps = sorted([p for p in poles if p.imag > 1e-12], key=lambda p: np.angle(p))
    real_p = [p for p in poles if abs(p.imag) <= 1e-12]
    out = []
    for z, p in zip(zs, ps):
        out.append((-2 * z.real, abs(z) ** 2, -2 * p.real, abs(p) ** 2))
    for z, p in zip(real_z, real_p):
        out.append((-z.real, 0.0, -p.real, 0.0))
    return out


def loop_peak(secs, amplitude, freq=1000.0, samples=60000, seed=1):
    """Runs the one-bit error-feedback loop (as the converter runs it) on a sine of `amplitude` (of full
    modulation) and returns the largest |quantiser input|. A loop that stays near 1 is well inside its stable
    region; one that passes 2 is being held back by the converter's error limiter, and one whose peak grows
    without bound has run away."""
    rng = np.random.default_rng(seed)
    u = amplitude * np.sin(2 * np.pi * freq * np.arange(samples) / FS_OUT) + rng.uniform(-1e-6, 1e-6, samples)
    s1 = [0.0] * len(secs)
    s2 = [0.0] * len(secs)
    peak = 0.0
    for n in range(samples):
        y = u[n] + sum(s1)
        peak = max(peak, abs(y))
        if peak > 1e3:
            break
        e = (1.0 if y >= 0 else -1.0) - y
        w = e
        for i, (b1, b2, a1, a2) in enumerate(secs):
            w_out = w + s1[i]
            s1[i] = s2[i] + b1 * w - a1 * w_out
            s2[i] = b2 * w - a2 * w_out
            w = w_out
    return peak


def max_stable_amplitude(secs, amplitudes=np.arange(0.45, 0.76, 0.05)):
    """Peak quantiser input against sine amplitude, unlimited loop; PCM full scale is 0.5."""
    return [(a, loop_peak(secs, a)) for a in amplitudes]


def fmt(values):
    lines = []
    for i in range(0, len(values), 3):
        lines.append("    " + " ".join("%.17e," % v for v in values[i:i + 3]))
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--report", action="store_true", help="print the predicted responses")
    ap.add_argument("--order", type=int, default=NTF_ORDER)
    ap.add_argument("--hinf", type=float, default=NTF_HINF)
    ap.add_argument("--edge", type=float, default=NTF_BAND_EDGE)
    ap.add_argument("--ultrasonic", type=float, nargs="*", default=NTF_ULTRASONIC_ZEROS)
    args = ap.parse_args()

    h1 = kaiser_halfband(STAGE1_TAPS, STAGE1_ATTEN)
    h2 = kaiser_halfband(STAGE2_TAPS, STAGE2_ATTEN)
    h3 = stage3_filter()
    zeros, poles, fc = ntf_zpk(args.order, args.edge, args.hinf, args.ultrasonic)
    secs = sections(zeros, poles)

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
        fs1 = np.linspace(24100, 44100, 2001)
        print("stage 1 stop band: %.1f dB" % (20 * np.log10(resp(h1, 2 * FS_IN, fs1).max())))
        fs2 = np.linspace(64100, 88200, 2001)
        print("stage 2 stop band: %.1f dB" % (20 * np.log10(resp(h2, 4 * FS_IN, fs2).max())))
        fs3 = np.linspace(152300, 176400, 2001)
        print("stage 3 stop band: %.1f dB" % (20 * np.log10(resp(h3, 8 * FS_IN, fs3).max() / 2)))
        print("NTF order %d, Hinf %.2f, zeros above the band %s, Butterworth cut-off %.4f (x Nyquist)" % (args.order, args.hinf, args.ultrasonic, fc))
        fb = np.linspace(1, 20000, 20000)
        nb = np.abs(ntf_response(zeros, poles, fb)) ** 2
        fu = np.linspace(40000, 100000, 20000)
        nu = np.abs(ntf_response(zeros, poles, fu)) ** 2
        fa = np.linspace(0, FS_OUT / 2, 1 << 16)
        na = np.abs(ntf_response(zeros, poles, fa)) ** 2
        # Share of a white error's power that falls in each band.
        print("NTF power gain: in band %.1f dB, 40-100 kHz %.1f dB, whole band %.2f dB" % (
            10 * np.log10(nb.mean() * 20000 / (FS_OUT / 2)), 10 * np.log10(nu.mean() * 60000 / (FS_OUT / 2)),
            10 * np.log10(na.mean())))
        print("loop simulation, 1 kHz sine, no limiter (PCM full scale = 0.50):")
        for a, peak in max_stable_amplitude(secs):
            print("  amplitude %.2f: peak |quantiser input| %s" % (a, "%.2f" % peak if peak < 1e3 else "runs away"))

    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "ZentrafoldCoefficients.h"), "w") as out:
        out.write("// Generated by design_coefficients.py; do not edit. Regenerate with\n")
        out.write("// /usr/bin/python3 Zentrafold/design/design_coefficients.py\n")
        out.write("#pragma once\n\n#include <array>\n\nnamespace zentrafold::coef {\n\n")
        out.write("// x2 half-band stages: the symmetric even phase (gain included); the odd phase is a delay.\n")
        out.write("inline constexpr std::array<double, %d> kStage1 = {\n%s\n};\n" % (len(p1), fmt(p1)))
        out.write("inline constexpr std::array<double, %d> kStage2 = {\n%s\n};\n" % (len(p2), fmt(p2)))
        out.write("// x2 least-squares stage with droop compensation for the x8 linear stage (gain included).\n")
        out.write("inline constexpr std::array<double, %d> kStage3 = {\n%s\n};\n\n" % (len(h3), fmt(h3)))
        out.write("// Noise-transfer function sections, each (1 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).\n")
        out.write("struct Section {\n    double b1, b2, a1, a2;\n};\n")
        out.write("inline constexpr std::array<Section, %d> kNtf = {{\n" % len(secs))
        for s in secs:
            out.write("    {%.17e, %.17e, %.17e, %.17e},\n" % s)
        out.write("}};\n\n} // namespace zentrafold::coef\n")


if __name__ == "__main__":
    main()
