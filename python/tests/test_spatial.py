"""Spatial parameters and STIPA from Python: the package and the tool give the
same figures, and a shoebox room's B-format and binaural responses give the
layer's figures again when computed straightforwardly with scipy's own octave
filters (a second computation: other filters, plain sums)."""

import json
import os

import numpy as np
import pytest
from conftest import FS

import tavrix

scipy_signal = pytest.importorskip("scipy.signal")

C = 343.0
DIRECT = 0.1  # s: where the direct sound lies in the responses
BANDS = [125, 250, 500, 1000, 2000, 4000]


def shoebox(seed=1, order=4, size=(24.0, 17.0, 11.0), source=(15.0, 8.0, 1.6), receiver=(7.0, 8.3, 1.4),
            reflection=0.8, seconds=1.6):
    """Image sources of a shoebox up to `order`, each arrival a single sample
    (the direct sound at DIRECT s). Returns the pressure p, the figure-of-eight
    y = p sin(azimuth) (null towards the source, which lies along -x), two ears
    hearing each arrival with the interaural delay and shadow of its azimuth,
    plus diffuse tails from 60 ms on that differ between the channels."""
    n = int(seconds * FS)
    p, y, left, right = (np.zeros(n) for _ in range(4))
    rec = np.array(receiver)
    d0 = np.linalg.norm(np.array(source) - rec)
    for i in range(-order, order + 1):
        for j in range(-order, order + 1):
            for k in range(-order, order + 1):
                if abs(i) + abs(j) + abs(k) > order:
                    continue
                image = np.array([(2 * ((i + 1) // 2) * size[0] + (-1) ** i * source[0]),
                                  (2 * ((j + 1) // 2) * size[1] + (-1) ** j * source[1]),
                                  (2 * ((k + 1) // 2) * size[2] + (-1) ** k * source[2])])
                v = image - rec
                d = np.linalg.norm(v)
                u = v / d
                a = reflection ** (abs(i) + abs(j) + abs(k)) * d0 / d
                t = int(round((DIRECT + (d - d0) / C) * FS))
                if t >= n - 100:
                    continue
                p[t] += a
                y[t] += a * u[1]
                # Ears at +-y, 9 cm from the centre: a source at +y reaches the left ear first.
                lag = int(round(0.09 * u[1] / C * FS))
                left[t - lag // 2] += a * (1 + 0.25 * u[1])
                right[t + lag - lag // 2] += a * (1 - 0.25 * u[1])
    rng = np.random.default_rng(seed)
    t = np.arange(n) / FS - DIRECT
    envelope = np.where(t > 0.06, 0.02 * 10 ** (-3 * t / 1.4), 0.0)
    p += envelope * rng.standard_normal(n)
    y += envelope / np.sqrt(3) * rng.standard_normal(n)
    left += envelope * rng.standard_normal(n)
    right += envelope * rng.standard_normal(n)
    return p, y, left, right


def octave(x, f):
    """x through a zero-phase 6th-order Butterworth octave (3rd order forward and back)."""
    sos = scipy_signal.butter(3, [f / np.sqrt(2), f * np.sqrt(2)], btype="bandpass", fs=FS, output="sos")
    return scipy_signal.sosfiltfilt(sos, x)


def window(x, start, end):
    return x[int(round((DIRECT + start) * FS)):int(round((DIRECT + end) * FS))]


def test_lateral_fractions_of_a_shoebox_agree_with_a_second_computation():
    p, y, _, _ = shoebox()
    r = tavrix.spatial((p, y), FS, lateral=True)
    # FuMa's W is 3 dB down; AmbiX's is not: both conventions give the pair's figures.
    fuma = tavrix.spatial((p / np.sqrt(2), y), FS, lateral=True, bformat="fuma")
    np.testing.assert_allclose(fuma.lf, r.lf, rtol=1e-9)
    assert r.labels == ["125 Hz", "250 Hz", "500 Hz", "1 kHz", "2 kHz", "4 kHz"]
    assert abs(r.onset - DIRECT) < 0.002
    for b, f in enumerate(BANDS):
        p0, p8 = octave(p, f), octave(y, f)
        # The zero-phase filter spreads the direct sound both ways; its early
        # energy is counted from a few periods before it.
        early = np.sum(window(p0, -4 / f, 0.080) ** 2)
        lf = np.sum(window(p8, 0.005, 0.080) ** 2) / early
        lfc = np.sum(np.abs(window(p8, 0.005, 0.080) * window(p0, 0.005, 0.080))) / early
        if f >= 500:
            assert r.lf[b] == pytest.approx(lf, abs=0.02), f
            assert r.lfc[b] == pytest.approx(lfc, abs=0.02), f
        assert 0 < r.lf[b] < 1 and 0 < r.lfc[b] < 1
    assert r.lf_mean == pytest.approx(np.mean(r.lf[:4]))
    assert np.isnan(r.iacc_early).all() and np.isnan(r.iacc_early_mean)


def iacc(left, right, start, end):
    lag = int(round(0.001 * FS))
    right = np.concatenate([right, np.zeros(lag)])  # the lags reach past the end
    a, b = window(left, start, end), window(right, start - 0.001, end + 0.001)
    cross = np.correlate(b, a, mode="valid")  # lags -1 ms .. +1 ms
    assert cross.size == 2 * lag + 1
    return np.max(np.abs(cross)) / np.sqrt(np.sum(a ** 2) * np.sum(window(right, start, end) ** 2))


def test_interaural_correlation_of_a_shoebox_agrees_with_a_second_computation():
    _, _, left, right = shoebox()
    r = tavrix.spatial((left, right), FS, binaural=True)
    assert r.reference in ("left", "right")
    for b, f in enumerate(BANDS):
        if f < 500:
            continue
        l0, r0 = octave(left, f), octave(right, f)
        end = r.late_end_ms[b] / 1000
        assert r.iacc_early[b] == pytest.approx(iacc(l0, r0, -4 / f, 0.080), abs=0.03), f
        assert r.iacc_late[b] == pytest.approx(iacc(l0, r0, 0.080, end), abs=0.03), f
        assert r.iacc[b] == pytest.approx(iacc(l0, r0, -4 / f, end), abs=0.03), f
    assert r.iacc_early_mean == pytest.approx(np.mean(r.iacc_early[2:5]))
    # Reverberation that differs between the ears correlates less than the early sound.
    assert (r.iacc_late[2:] < r.iacc_early[2:]).all()


def test_the_package_and_the_tool_agree(tmp_path):
    sf = pytest.importorskip("soundfile")
    from test_tool import TOOL, agree  # noqa: F401  (skips without the tool)
    p, y, left, right = shoebox(seed=2)
    bformat = tmp_path / "hall_bformat.wav"
    sf.write(bformat, np.stack([p / np.sqrt(2), np.zeros_like(p), y, np.zeros_like(p)], axis=1) * 0.5, FS, "FLOAT")
    binaural = tmp_path / "hall_binaural.wav"
    sf.write(binaural, np.stack([left, right], axis=1) * 0.5, FS, "PCM_24")
    got = agree(["spatial", bformat, "--lateral", "1,3", "--bformat", "fuma", "--format", "json"],
                lambda: tavrix.spatial(bformat, lateral=(1, 3), bformat="fuma"))
    assert got["convention"] == "fuma" and len(got["bands"]) == 6
    agree(["spatial", binaural, "--binaural", "1,2", "--format", "json"],
          lambda: tavrix.spatial(binaural, binaural=(1, 2)))

    class Stipa:
        def __init__(self, r):
            self.r = r

        def as_dict(self):
            return self.r.as_dict(stipa=True)

    agree(["sti", binaural, "--channel", "1", "--stipa", "--format", "json"],
          lambda: Stipa(tavrix.sti(binaural, channel=1)))


KEMAR = "/usr/share/libmysofa/MIT_KEMAR_normal_pinna.sofa"


@pytest.mark.skipif(not os.path.exists(KEMAR), reason="libmysofa1's KEMAR set is not installed")
def test_a_measured_dummy_head_gives_the_straightforward_iacc():
    """A real binaural response: the MIT KEMAR dummy head's measured responses
    (the SOFA file Debian's libmysofa1 ships, read with h5py), sources at 0,
    30, 60 and 90 degrees azimuth in the horizontal plane. The second path
    filters each ear with scipy's zero-phase Butterworth octave (in silence,
    so its ringing is all counted) and takes the largest normalised
    cross-correlation within +-1 ms. The responses last 12 ms: the filters'
    own ringing is most of a band's response, so the two filter designs leave
    up to 0.05 between them; the set is symmetric, so 0 degrees gives 1."""
    h5py = pytest.importorskip("h5py")
    with h5py.File(KEMAR, "r") as f:
        ir, where, rate = f["Data.IR"][:], f["SourcePosition"][:], float(f["Data.SamplingRate"][0])
    lag = int(round(0.001 * rate))
    for azimuth in (0, 30, 60, 90):
        i = int(np.argmin(np.abs(where[:, 0] - azimuth) + np.abs(where[:, 1])))
        left, right = ir[i, 0].astype(float), ir[i, 1].astype(float)
        result = tavrix.spatial((left, right), rate=rate, binaural=True)
        for k, centre in enumerate(BANDS):
            if centre < 500:
                continue
            sos = scipy_signal.butter(3, [centre / 2 ** 0.5, centre * 2 ** 0.5], btype="band", fs=rate,
                                      output="sos")
            silence = np.zeros(int(0.2 * rate))
            lb, rb = (scipy_signal.sosfiltfilt(sos, np.concatenate([silence, x, silence])) for x in (left, right))
            n = lb.size
            iacf = [np.dot(lb[max(0, -m):n - max(0, m)], rb[max(0, m):n - max(0, -m)]) for m in range(-lag, lag + 1)]
            expected = np.max(np.abs(iacf)) / np.sqrt(np.dot(lb, lb) * np.dot(rb, rb))
            assert result.iacc_early[k] == pytest.approx(expected, abs=0.05), (azimuth, centre)
            if azimuth == 0:
                assert result.iacc_early[k] == pytest.approx(1.0, abs=0.01)
