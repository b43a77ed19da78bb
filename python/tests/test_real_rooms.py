"""A real hall, against a textbook analysis written here with scipy.

The response is the hall that Debian's guitarix-common ships
(/usr/share/gx_head/sounds/greathall.wav: stereo, 48 kHz, 2.3 s, a floor
65-90 dB down). The second path is the plainest one a textbook gives: a
zero-phase Butterworth octave filter, the noise taken from the file's last
tenth, the decay cut where its 10 ms level comes within 5 dB of that noise,
the noise subtracted, Schroeder's backward integral, a straight line fitted
from -5 dB; C50/C80 from the direct sound's first sample above -20 dB of the
peak. Nothing in it comes from the package."""

import os

import numpy as np
import pytest

import tavrix

HALL = "/usr/share/gx_head/sounds/greathall.wav"
OCTAVES = [(125, "125 Hz"), (250, "250 Hz"), (500, "500 Hz"), (1000, "1 kHz"), (2000, "2 kHz"), (4000, "4 kHz")]

pytestmark = pytest.mark.skipif(not os.path.exists(HALL), reason="guitarix-common is not installed")


def textbook(y, fs, centre):
    from scipy import signal

    sos = signal.butter(3, [centre / 2 ** 0.5, centre * 2 ** 0.5], btype="band", fs=fs, output="sos")
    e = signal.sosfiltfilt(sos, y) ** 2
    noise = e[int(0.9 * e.size):].mean()
    block = int(0.01 * fs)
    level = 10 * np.log10(e[: e.size // block * block].reshape(-1, block).mean(axis=1))
    peak = int(np.argmax(level))
    end = (peak + int(np.argmax(level[peak:] < 10 * np.log10(noise) + 5))) * block
    schroeder = np.maximum(np.cumsum((e[:end] - noise)[::-1])[::-1], 1e-30)
    decay = 10 * np.log10(schroeder / schroeder.max())
    t = np.arange(end) / fs

    def time(drop):
        fit = (decay <= -5) & (decay >= -(5 + drop))
        return -60 / np.polyfit(t[fit], decay[fit], 1)[0]

    direct = int(np.argmax(y ** 2 > np.max(y ** 2) / 100))
    energy = lambda a, b: e[direct + int(a * fs): direct + int(b * fs)].sum()  # noqa: E731
    clarity = lambda limit: 10 * np.log10(energy(0, limit) / energy(limit, 10))  # noqa: E731
    return {"t20": time(20), "t30": time(30), "c50_db": clarity(0.05), "c80_db": clarity(0.08)}


@pytest.mark.parametrize("channel", [1, 2])
def test_a_real_hall_agrees_with_the_textbook_analysis(channel):
    audio = tavrix.read_audio(HALL, channel=channel)
    result = tavrix.reverberation(audio, parameters=True).positions[0]
    y = np.asarray(audio.samples, dtype=float)
    for centre, label in OCTAVES:
        band, reference = result.bands[label], textbook(y, audio.rate, centre)
        # A 2 s hall whose decay is straight over 60 dB: no doubt, and the
        # two integrations agree on the slope.
        assert band.result == "ok", (label, band.doubts)
        for t in ("t20", "t30"):
            assert getattr(band, t) == pytest.approx(reference[t], rel=0.03), (label, t)
        # The two filters spread the direct sound differently in time; from
        # 500 Hz up that moves less than half a decibel across 50 and 80 ms.
        if centre >= 500:
            for c in ("c50_db", "c80_db"):
                assert getattr(band, c) == pytest.approx(reference[c], abs=0.5), (label, c)
        # What the analysis used lies inside the file, in its order.
        assert band.window_start_s < band.onset_s < band.crosspoint_s <= band.window_end_s
