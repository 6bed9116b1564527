#!/usr/bin/python3
"""Checks the pieces of measure.py's converter-added-noise measurement against signals whose answer is known."""
import os
import struct
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import measure  # noqa: E402


def dithered_tone(frames, seed, amplitude=0.5, hz=997.0):
    rng = np.random.default_rng(seed)
    t = np.arange(frames) / 44100.0
    return amplitude * np.sin(2 * np.pi * hz * t) + rng.uniform(-1, 1, frames) * 2.0 ** -23


class ReadWav(unittest.TestCase):
    def write(self, bits, samples, rate=44100, fmt_bytes=16, riff=b"RIFF"):
        body = b""
        for v in samples:
            body += struct.pack("<i", v)[: bits // 8]
        fmt = struct.pack("<HHIIHH", 1, 2, rate, rate * bits // 4, bits // 4, bits)[:fmt_bytes]
        data = riff + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(body)) + b"WAVE"
        data += b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(body)) + body
        f = tempfile.NamedTemporaryFile(suffix=".wav", delete=False)
        f.write(data)
        f.close()
        self.addCleanup(os.unlink, f.name)
        return f.name

    def test_both_depths_keep_sign_and_scale(self):
        for bits, ints in [(16, [0, 1, -1, 32767, -32768, 12345]), (24, [0, 1, -1, 8388607, -8388608, -123456])]:
            with self.subTest(bits=bits):
                x = measure.read_wav(self.write(bits, ints))
                self.assertEqual(x.shape, (3, 2))
                np.testing.assert_array_equal(x.reshape(-1), np.array(ints) / 2.0 ** (bits - 1))

    def test_files_it_cannot_measure_are_refused_with_a_message(self):
        for name, kwargs in [("not RIFF", dict(riff=b"RIFX")), ("48 kHz", dict(rate=48000)),
                             ("8-bit", dict(bits=8)), ("short format chunk", dict(fmt_bytes=10))]:
            with self.subTest(name):
                path = self.write(kwargs.pop("bits", 16), [0, 0], **kwargs)
                with self.assertRaises(SystemExit) as refused:
                    measure.read_wav(path)
                self.assertIn(path, str(refused.exception.code))


class Decimation(unittest.TestCase):
    def test_audio_passes_and_ultrasound_is_removed_at_every_rate(self):
        for rate in [measure.DSD_RATE, 2 * measure.DSD_RATE, 4 * measure.DSD_RATE]:
            n = rate // 44100 * 22050
            t = np.arange(n) / rate
            for hz, gain in [(997.0, 1.0), (19000.0, 1.0), (24000.0, 0.0), (30000.0, 0.0), (700000.0, 0.0)]:
                with self.subTest(rate=rate, hz=hz):
                    y = measure.decimate_to_44k(0.5 * np.sin(2 * np.pi * hz * t), rate)
                    self.assertEqual(len(y), 22050)
                    expect = gain * 0.5 * np.sin(2 * np.pi * hz * np.arange(len(y)) / 44100.0)
                    # Away from the ends, where the circular filtering wraps around.
                    np.testing.assert_allclose(y[2205:-2205], expect[2205:-2205], atol=1e-9)


class Fit(unittest.TestCase):
    def test_delay_is_found_from_the_dither_not_the_tone(self):
        # A pure tone repeats every 44.2 frames; only the dither tells which repetition is the true delay.
        x = dithered_tone(1 << 15, 1)
        for delay in [0, 5, 37, 300, -5, -60]:
            with self.subTest(delay=delay):
                self.assertEqual(measure.find_delay(x[1000:31000], np.roll(x, delay)[1000:31000]), delay)

    def test_residual_is_the_added_noise_whatever_the_linear_path(self):
        rows = 1 << 15
        x = dithered_tone(rows + 4000, 2)
        rng = np.random.default_rng(3)
        for taps, noise in [([0.25, 0.5, 0.25], 1e-7), ([0.9, -0.1], 1e-5), ([1.0], 0.0)]:
            with self.subTest(taps=taps, noise=noise):
                delay = 40
                added = noise * rng.standard_normal(len(x))
                y = np.convolve(x, taps)[: len(x)]
                y = np.concatenate([np.zeros(delay), y])[: len(x)] + added
                first = 1000
                r = measure.linear_fit_residual(x, y[first:], first - delay, rows=rows)
                want = np.var(added[first: first + rows])
                if noise == 0.0:
                    self.assertLess(np.var(r), 1e-26)
                else:
                    # 257 fitted taps take 257 of 32768 degrees of freedom: under 0.04 dB of the noise.
                    self.assertAlmostEqual(10 * np.log10(np.var(r) / want), 0.0, delta=0.1)

    def test_what_the_analysis_low_pass_removes_is_not_counted_as_added_noise(self):
        # A converter that passes its input whole, up to 22.05 kHz, and adds white noise 250 dB down. The
        # output is low-passed at 20.4-21.6 kHz before the fit; fitted against the input as it stands, the fit
        # must follow that roll-off, which 257 taps do not, and the misfit leaks into 20 Hz-20 kHz. The input
        # taken through the same low-pass leaves the added noise alone.
        rows = 1 << 16
        x = dithered_tone(rows + 8000, 4)
        added = 10 ** (-250 / 20) * np.random.default_rng(5).standard_normal(len(x))
        y = measure.band_limit_44k(x) + added
        first = 2000

        def band_db(r):
            p, binhz = measure.spectrum(r, 44100)
            return 10 * np.log10(p[int(np.ceil(20 / binhz)): int(20000 / binhz) + 1].sum())

        want = band_db(added[first: first + rows])
        fitted = band_db(measure.linear_fit_residual(measure.band_limit_44k(x), y[first:], first, rows=rows))
        plain = band_db(measure.linear_fit_residual(x, y[first:], first, rows=rows))
        self.assertAlmostEqual(fitted, want, delta=0.3)
        self.assertGreater(plain, want + 3)

if __name__ == "__main__":
    unittest.main()
