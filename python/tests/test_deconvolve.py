"""Deconvolution of a recording made with a sweep the package did not make."""

import numpy as np
import pytest
from conftest import FS, decaying_noise

import tavrix


def foreign_sweep(f1=50.0, f2=16000.0, seconds=2.0, rate=FS):
    """An exponential sweep with 10 ms half-cosine fades, 0.1 s of silence before and after it."""
    t = np.arange(int(seconds * rate)) / rate
    k = seconds / np.log(f2 / f1)
    x = 0.5 * np.sin(2 * np.pi * f1 * k * np.expm1(t / k))
    fade = int(0.01 * rate)
    x[:fade] *= 0.5 - 0.5 * np.cos(np.pi * np.arange(fade) / fade)
    x[-fade:] *= 0.5 + 0.5 * np.cos(np.pi * np.arange(fade) / fade)
    pad = np.zeros(int(0.1 * rate))
    return np.concatenate([pad, x, pad])


def test_latency_and_a_response_the_analysis_takes_as_it_is(tmp_path):
    sweep = foreign_sweep()
    room = decaying_noise(0.6, seconds=1.5, delay=0.0)
    latency = 0.3
    n = sweep.size + room.size - 1
    heard = np.fft.irfft(np.fft.rfft(sweep, 2 * n) * np.fft.rfft(room, 2 * n), 2 * n)[:n]
    recording = np.concatenate([np.zeros(int(latency * FS)), heard / (2 * np.max(np.abs(heard)))])
    ir = tavrix.deconvolve(recording, sweep, FS)
    response, found = ir
    assert found == pytest.approx(latency, abs=1 / FS)
    assert ir.rate == FS and ir.lead_s == pytest.approx(0.1) and ir.direct_index == int(0.1 * FS)
    assert np.argmax(np.abs(response)) == ir.direct_index
    assert ir.band[0] < 50 and ir.band[1] > 16000 and ir.notes
    assert tavrix.reverberation(response, FS)["1 kHz"].t30 == pytest.approx(0.6, rel=0.05)
    # Files, and a sweep at another rate.
    tavrix.write_wav(tmp_path / "rec.wav", recording, FS)
    tavrix.write_wav(tmp_path / "sweep.wav", foreign_sweep(rate=44100), 44100)
    again = tavrix.deconvolve(tmp_path / "rec.wav", tmp_path / "sweep.wav")
    assert again.latency_s == pytest.approx(latency, abs=2 / FS)
    assert any("resampled the sweep from 44100 Hz" in n for n in again.notes)
