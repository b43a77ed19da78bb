"""The speech transmission index through the layer."""

from __future__ import annotations

import ctypes
from typing import Optional, Sequence

import numpy as np

from ._audio import responses
from ._abi import tvm_sti_options, tvm_sti_result
from ._layer import check
from ._library import ArgumentError, layer, ptr


class StiResult:
    """``index`` (with the weights chosen), ``male`` and ``female``; ``mtf``
    the 7 x 14 modulation transfer matrix (octave bands ``band_frequencies``
    by ``modulation_frequencies``, Hz); ``levels_corrected`` when signal and
    noise levels reduced the modulation; ``sample_rate`` analysed and
    ``source_rate`` of the response. ``stipa`` (``stipa_male``,
    ``stipa_female``): STIPA from the modulation transfer ``stipa_mtf`` at the
    STIPA signal's two modulation frequencies per band
    (``stipa_modulation_frequencies``, 7 x 2), same weights and levels."""

    def __init__(self, r, female: bool):
        self.male, self.female = float(r.male), float(r.female)
        self.weights = "female" if female else "male"
        self.index = self.female if female else self.male
        self.levels_corrected = bool(r.levels_corrected)
        self.sample_rate, self.source_rate = int(r.sample_rate), int(r.source_rate)
        self.band_frequencies = np.array(r.band_frequencies_hz[:])
        self.modulation_frequencies = np.array(r.modulation_frequencies_hz[:])
        self.mtf = np.array([row[:] for row in r.mtf])
        self.stipa_male, self.stipa_female = float(r.stipa_male), float(r.stipa_female)
        self.stipa = self.stipa_female if female else self.stipa_male
        self.stipa_modulation_frequencies = np.array([row[:] for row in r.stipa_modulation_frequencies_hz])
        self.stipa_mtf = np.array([row[:] for row in r.stipa_mtf])

    def as_dict(self, stipa: bool = False) -> dict:
        """The result as the tool's JSON has it (with ``--stipa`` when ``stipa``)."""
        d = {"sti": self.index, "weights": self.weights, "levels_corrected": self.levels_corrected,
             "sample_rate": self.sample_rate, "source_sample_rate": self.source_rate,
             "resampled": self.sample_rate != self.source_rate,
             "modulation_frequencies_hz": self.modulation_frequencies.tolist(),
             "band_frequencies_hz": self.band_frequencies.tolist(), "mtf": self.mtf.tolist()}
        if stipa:
            d.update({"stipa": self.stipa, "stipa_modulation_frequencies_hz": self.stipa_modulation_frequencies.tolist(),
                      "stipa_mtf": self.stipa_mtf.tolist()})
        return d

    def __repr__(self) -> str:
        return f"<StiResult {self.index:.3f} ({self.weights} weights)>"


def _levels(values, name: str) -> np.ndarray:
    a = np.ascontiguousarray(values, dtype=np.float64)
    if a.shape != (7,):
        raise ArgumentError(f"{name} must be 7 levels in dB (octave bands 125 Hz to 8 kHz), not shape {a.shape}")
    return a


def sti(response, rate: Optional[float] = None, *, signal_db: Optional[Sequence[float]] = None,
        noise_db: Optional[Sequence[float]] = None, female: bool = False, native_rate: bool = False,
        channel: Optional[int] = None) -> StiResult:
    """The speech transmission index of one impulse response (an ``Audio``, a
    path, or a 1-D array at ``rate`` Hz). ``signal_db`` and ``noise_db``: the
    speech and background-noise levels of the 7 octave bands 125 Hz to 8 kHz,
    both or neither; ``female`` chooses the weights of ``index``."""
    if isinstance(response, (list, tuple)) and response and not np.isscalar(response[0]):
        raise ArgumentError("sti takes one response, not a list of them")
    array, kept = responses(response, rate, channel=channel)
    options = tvm_sti_options(native_rate=bool(native_rate))
    # Seven values each, or NULL: the layer reads seven.
    if signal_db is not None:
        kept.append(_levels(signal_db, "signal_db"))
        options.signal_db = ptr(kept[-1])
    if noise_db is not None:
        kept.append(_levels(noise_db, "noise_db"))
        options.noise_db = ptr(kept[-1])
    out = tvm_sti_result()
    check(layer().tvm_analyse_sti(array, ctypes.byref(options), ctypes.byref(out)))
    return StiResult(out, bool(female))
