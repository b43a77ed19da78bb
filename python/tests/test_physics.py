"""The library objects the package hands out directly (sweeps, filter banks,
spectra, calibration) against closed forms."""

import numpy as np
import pytest
from conftest import FS

import tavrix


def test_sweep_deconvolves_a_delayed_copy_and_writes_its_file(tmp_path):
    with tavrix.Sweep(rate=FS, start=50, stop=20000, seconds=1, tail=1, fade=True) as sweep:
        s = sweep.samples
        assert s.size == FS and np.max(np.abs(s)) <= 1.0
        recording = np.concatenate([np.zeros(100), 0.5 * s, np.zeros(FS)])
        ir = sweep.impulse_response(recording)
        assert ir.size == 2 ** 17 and np.argmax(np.abs(ir)) == 100
        assert ir[100] == pytest.approx(0.5, rel=0.05)
        sweep.write(tmp_path / "sweep.wav", gain_db=-6)
        samples, rate = tavrix.read_wav(tmp_path / "sweep.wav")
        assert rate == FS and samples.size == int(0.2 * FS) + FS + 2 * FS
        expected = np.round(s * 10 ** (-6 / 20) * 0.99 * 32768) / 32768
        np.testing.assert_allclose(samples[int(0.2 * FS):][: s.size], expected, atol=1.5 / 32768)
        tavrix.write_wav(tmp_path / "rec.wav", recording, FS)
        # The file route gives the same response, scaled by the writer's 0.99.
        np.testing.assert_allclose(sweep.impulse_response(tmp_path / "rec.wav"), 0.99 * ir, atol=2e-3)
        assert sweep.envelope().size == ir.size and sweep.band_response(10).size == ir.size


def test_spectrum_of_a_sine_on_a_bin():
    k = 1000
    x = np.sin(2 * np.pi * k * np.arange(65536) / 65536)
    f, level = tavrix.spectrum(x, rate=FS)
    assert f[k] == pytest.approx(k * FS / 65536) and level.size == 32769
    assert level[k] == pytest.approx(-6.02, abs=0.01) and level[k + 50] < -100


def test_filter_bank_passes_its_band_and_keeps_state():
    t = np.arange(FS) / FS
    with tavrix.FilterBank("octave") as bank:
        assert bank.frequencies[bank.bands.index(10)] == pytest.approx(1000)
        y = bank.filter(np.sin(2 * np.pi * 1000 * t), 10)
        assert np.std(y[FS // 2:]) == pytest.approx(np.sqrt(0.5), rel=0.05)
        assert np.std(bank.filter(np.sin(2 * np.pi * 125 * t), 10)[FS // 2:]) < 0.01
    x = np.random.default_rng(2).standard_normal(1000)
    with tavrix.FilterBank("third", 28, 32) as a, tavrix.FilterBank("third", 28, 32) as b:
        whole = a.filter(x, 30)
        np.testing.assert_allclose(np.concatenate([b.filter(x[:300], 30), b.filter(x[300:], 30)]), whole)


def test_calibration_of_a_flat_system_and_a_calibrated_file(tmp_path):
    with tavrix.Sweep(rate=FS, start=20, stop=20000, seconds=2, tail=1) as sweep:
        recording = np.concatenate([np.zeros(480), 0.25 * sweep.samples, np.zeros(FS)])
        sweep.calibrate(recording, window=0.05)
        f, level, phase = sweep.octave_response(3, reference_hz=1000)
        assert f.size == 31 and f[0] == pytest.approx(19.95, abs=0.01)
        flat = (f > 100) & (f < 10000)
        np.testing.assert_allclose(level[flat], 0.0, atol=0.5)
        narrow = sweep.magnitude_response()
        assert narrow.level_db[np.searchsorted(narrow.frequency, 1000)] == pytest.approx(20 * np.log10(0.25), abs=0.5)
    # Pascals: k = 2e-5 * 10^(L/20), L = 20 log10(2^23) - (sensitivity + 26) - 20 log10(gain factor) + adjust + 1.66.
    x = 0.5 * np.sin(np.arange(4800) / 10)
    tavrix.write_wav(tmp_path / "in.wav", x, FS)
    stored, _ = tavrix.read_wav(tmp_path / "in.wav")
    tavrix.calibrate_wav(tmp_path / "in.wav", tmp_path / "pa.wav", sensitivity_db=-30, gain_db=6, adjust_db=1.0)
    pa, rate = tavrix.read_wav(tmp_path / "pa.wav")
    L = 20 * np.log10(2**23) - (-30 + 26) - 20 * np.log10(2) + 1.0 + 1.66
    assert rate == FS
    np.testing.assert_allclose(pa, stored * 2e-5 * 10 ** (L / 20), rtol=1e-6)


# Energy falling as exp(-13.816 t / T): the closed forms of ISO 3382-1's energy parameters.
def _closed_forms(t):
    return {"c50_db": 10 * np.log10(np.exp(0.6908 / t) - 1), "c80_db": 10 * np.log10(np.exp(1.1052 / t) - 1),
            "d50_percent": 100 * (1 - np.exp(-0.6908 / t)), "ts_ms": 1000 * t / 13.816}


def _octave_room(t60s, seed, seconds=4.0):
    """Reverberation alone, per octave band 125 Hz..8 kHz a noise of flattened
    envelope decaying in that band's time (as the tool's test room)."""
    rng = np.random.default_rng(seed)
    n, settle = int(seconds * FS), FS // 2
    start = n // 4
    bank = tavrix.FilterBank("octave", 7, 13)
    x = np.zeros(n)
    for band, t60 in zip(range(7, 14), t60s):
        noise = bank.filter(rng.standard_normal(settle + n), band)
        spectrum = np.fft.rfft(noise)
        analytic = np.fft.ifft(np.concatenate([spectrum, np.zeros(noise.size - spectrum.size)]) * 2)
        noise = bank.filter(np.real(analytic) / np.maximum(np.abs(analytic), 1e-300), band)
        t = np.arange(n - start) / FS
        x[start:] += noise[settle + start:] * np.exp(-3 * np.log(10) * t / t60)
    return 0.1 * x + 1e-6 * rng.standard_normal(n)


