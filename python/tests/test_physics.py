"""The package's results against closed forms of the acoustics."""

import numpy as np
import pytest
from conftest import FS, decaying_noise

import tavrix


@pytest.mark.parametrize("bands,t60", [("octave", 1.0), ("third", 1.0), ("octave", 0.4)])
def test_synthetic_room_reverberation_times(bands, t60):
    x = decaying_noise(t60)
    table = tavrix.reverberation(x, FS, bands=bands, high=8000)
    mid = [r for r in table if 250 <= r.frequency_hz <= 4100]
    assert len(mid) == (5 if bands == "octave" else 13)
    for r in mid:
        # One noise realisation: T30 is steady, EDT and T20 fluctuate more.
        assert r.evaluated and r.method == "noise-compensated"
        assert r.t30 == pytest.approx(t60, rel=0.05)
        assert r.t20 == pytest.approx(t60, rel=0.2) and r.edt == pytest.approx(t60, rel=0.5)
        assert r.r2["T30"] > 0.98 and r.dynamic_range_db > 40 and np.isfinite(r.curvature_percent)
    assert [r.label for r in table][:2] == (["125 Hz", "250 Hz"] if bands == "octave" else ["100 Hz", "125 Hz"])
    # Ranges in any order and number come back in that order.
    again = tavrix.reverberation(x, FS, ranges=(30, 10))[3]
    assert list(again.times) == ["T30", "T10"] and np.isnan(again.edt)


def test_other_rates_and_positions():
    # Resampled to 48 kHz, the bands keep their names; at the native rate they move with it.
    at44 = tavrix.reverberation(decaying_noise(1.0, rate=44100), 44100)
    assert (at44.positions[0].source_rate, at44.positions[0].sample_rate) == (44100, 48000)
    assert at44["1 kHz"].t30 == pytest.approx(1.0, rel=0.05)
    native = tavrix.reverberation(decaying_noise(1.0, rate=96000), 96000, native_rate=True, high=4000)
    b = native["2 kHz"]
    assert (b.nominal, b.frequency_hz, native.positions[0].sample_rate) == ("1 kHz", pytest.approx(2000), 96000)
    assert b.t30 == pytest.approx(1.0, rel=0.05)
    both = tavrix.reverberation([decaying_noise(1.0, seed=3), decaying_noise(1.0, seed=4)], FS)
    assert len(both.positions) == 2 and both.ensemble.name == "mean"
    np.testing.assert_allclose([r.t30 for r in both][1:6], 1.0, rtol=0.05)


def test_exponential_decay_modulation_transfer():
    # m(F) = 1 / sqrt(1 + (2 pi F T / 13.8)^2) for an exponential decay of reverberation time T.
    t60 = 0.8
    x = decaying_noise(t60, seconds=3.0)
    result = tavrix.sti(x, FS)
    F = result.modulation_frequencies
    m = 1 / np.sqrt(1 + (2 * np.pi * F * t60 / 13.8) ** 2)
    assert result.mtf.shape == (7, 14) and result.index == result.male != result.female
    # The envelope of one noise realisation fluctuates: compare the mean over
    # the bands and the wide (smoother) 4 and 8 kHz bands.
    np.testing.assert_allclose(result.mtf.mean(axis=0), m, atol=0.05)
    np.testing.assert_allclose(result.mtf[5:], np.tile(m, (2, 1)), atol=0.05)
    # Noise far below the speech changes nothing; noise as loud as the speech lowers the index.
    quiet = tavrix.sti(x, FS, signal_db=[90] * 7, noise_db=[0] * 7)
    assert quiet.levels_corrected and quiet.index == pytest.approx(result.index, abs=1e-6)
    assert tavrix.sti(x, FS, signal_db=[60] * 7, noise_db=[60] * 7).index < result.index - 0.05
    assert tavrix.sti(x, FS, female=True).index == result.female


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


def test_energy_parameters_of_a_synthetic_hall():
    # One noise decay scatters by tenths of a decibel in C80 at 250 Hz: eight
    # positions are averaged by the ensemble.
    t60s = [2.0, 1.9, 1.8, 1.7, 1.6, 1.5, 1.4]
    hall = tavrix.reverberation([_octave_room(t60s, seed) for seed in range(1, 9)], FS, low=250, high=4000,
                                parameters=True)
    assert [b.label for b in hall] == ["250 Hz", "500 Hz", "1 kHz", "2 kHz", "4 kHz", "A", "Z"]
    for r, t60 in zip(hall, t60s[1:6]):
        expected = _closed_forms(t60)
        assert r.c80_db == pytest.approx(expected["c80_db"], abs=0.3), r.label
        assert r.d50_percent == pytest.approx(expected["d50_percent"], abs=2.0), r.label
        assert r.ts_ms == pytest.approx(expected["ts_ms"], rel=0.03), r.label
    assert _closed_forms(2.0)["c80_db"] < hall["A"].c80_db < _closed_forms(1.4)["c80_db"]
    # Without parameters: neither the figures nor the broadband bands.
    plain = tavrix.reverberation(_octave_room(t60s, 1), FS, low=250, high=4000)
    assert len(plain) == 5 and np.isnan(plain[0].c80_db) and "c80_db" not in plain[0].as_dict()


def test_distortion_of_a_polynomial():
    # x + a2 x^2 + a3 x^3 on A sin: harmonics a2 A^2 / 2 and a3 A^3 / 4 over a
    # fundamental A (1 + 3 a3 A^2 / 4); at 192 kHz nothing aliases.
    rate, amplitude, a2, a3 = 192000, 0.5, 0.1, 0.2
    fundamental = 1 + 0.75 * a3 * amplitude ** 2
    with tavrix.Sweep(rate=rate, start=20, stop=20000, seconds=3, tail=1, fade=False) as sweep:
        x = amplitude * sweep.samples
        recording = np.concatenate([np.zeros(rate // 5), x + a2 * x ** 2 + a3 * x ** 3, np.zeros(2 * rate)])
        sweep.impulse_response(recording)
        bands = sweep.distortion(harmonics=(2, 3))
    checked = [b for b in bands if 99 < b.frequency < 5100]
    assert len(checked) == 18
    for b in checked:
        assert b.harmonics_db[2] == pytest.approx(20 * np.log10(a2 * amplitude / 2 / fundamental), abs=0.5)
        assert b.harmonics_db[3] == pytest.approx(20 * np.log10(a3 * amplitude ** 2 / 4 / fundamental), abs=0.5)
    with pytest.raises(tavrix.ArgumentError):
        tavrix.distortion(np.zeros(1000), 48000, 20, 20000, 10, harmonics=(2, 11))
