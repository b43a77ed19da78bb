"""Harmonic distortion of a sweep measurement through the layer."""

from __future__ import annotations

import ctypes
from typing import Dict, Sequence

from ._abi import tvm_distortion_report
from ._layer import check, doubles, text
from ._library import ArgumentError, as_signal, layer, ptr


class DistortionBand:
    """One third octave of the fundamental: ``band`` (30 = 1 kHz),
    ``frequency``, ``label``, ``harmonics_db`` {k: level of harmonic k re the
    fundamental in dB, NaN above the sweep} and ``thd_percent``."""

    __slots__ = ("band", "frequency", "label", "harmonics_db", "thd_percent")

    def __init__(self, band: int, frequency: float, label: str, harmonics_db: Dict[int, float], thd_percent: float):
        self.band, self.frequency, self.label = band, frequency, label
        self.harmonics_db, self.thd_percent = harmonics_db, thd_percent

    def __repr__(self) -> str:
        levels = ", ".join(f"H{k}={v:.1f}" for k, v in self.harmonics_db.items())
        return f"<{self.label}: {levels} dB, THD {self.thd_percent:.3f} %>"


class Distortion(list):
    """The bands in order; ``harmonics`` (first, last) and ``window_s``, the
    length of the windows cut around each harmonic's response."""

    harmonics = (2, 5)
    window_s = 0.0


def distortion(response, rate: float, start: float, stop: float, seconds: float,
               harmonics: Sequence[int] = (2, 5)) -> Distortion:
    """Harmonic distortion per third octave from the impulse response of an
    exponential sweep from ``start`` to ``stop`` Hz over ``seconds`` at
    ``rate`` Hz: harmonics ``harmonics[0]`` to ``harmonics[1]`` (2 <= first <=
    last <= 10) re the fundamental, and the THD."""
    try:
        first, last = (int(v) for v in harmonics)
    except (TypeError, ValueError):
        raise ArgumentError(f"harmonics must be (first, last), not {harmonics!r}") from None
    h = as_signal(response, "response")
    out = ctypes.POINTER(tvm_distortion_report)()
    L = layer()
    check(L.tvm_analyse_distortion(ptr(h), h.size, float(rate), float(start), float(stop), float(seconds),
                                   first, last, ctypes.byref(out)))
    try:
        r = out.contents
        count = r.last_harmonic - r.first_harmonic + 1
        ks = range(r.first_harmonic, r.last_harmonic + 1)
        result = Distortion(
            DistortionBand(int(b.band), float(b.frequency_hz), text(b.label),
                           dict(zip(ks, doubles(b.harmonics_db, count).tolist())), float(b.thd_percent))
            for b in (r.bands[:r.band_count] if r.band_count > 0 else []))
        result.harmonics, result.window_s = (int(r.first_harmonic), int(r.last_harmonic)), float(r.window_s)
        return result
    finally:
        L.tvm_free_distortion_report(out)
