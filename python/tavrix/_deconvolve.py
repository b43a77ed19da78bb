"""The impulse response of a recording made with any sweep file, through the layer."""

from __future__ import annotations

import ctypes
import os
from typing import Iterator, List, Optional, Tuple

import numpy as np

from ._abi import tvm_impulse
from ._audio import Audio, as_audio
from ._layer import check, doubles, texts
from ._library import as_signal, layer, ptr


class ImpulseResponse:
    """A deconvolved response: ``samples`` at ``rate`` Hz from ``lead_s``
    before the direct sound (at ``direct_index``) to the end of the linear
    response the recording holds in full; ``latency_s``, the direct sound re
    the sweep file's first sample; ``band`` (low, high) in Hz where the
    division by the sweep's spectrum is exact; ``notes``. Unpacks as
    ``samples, latency = response``."""

    __slots__ = ("samples", "rate", "latency_s", "lead_s", "direct_index", "band", "notes")

    def __init__(self, samples: np.ndarray, rate: int, latency_s: float, lead_s: float, direct_index: int,
                 band: Tuple[float, float], notes: List[str]):
        self.samples, self.rate, self.latency_s, self.lead_s = samples, rate, latency_s, lead_s
        self.direct_index, self.band, self.notes = direct_index, band, notes

    def __iter__(self) -> Iterator:
        return iter((self.samples, self.latency_s))

    def __repr__(self) -> str:
        return (f"<ImpulseResponse: {self.samples.size} samples at {self.rate} Hz, latency "
                f"{self.latency_s * 1000:.1f} ms, band {self.band[0]:.3g} to {self.band[1]:.3g} Hz>")


def deconvolve(recording, sweep, rate: Optional[float] = None, sweep_rate: Optional[float] = None, *,
               channel: Optional[int] = None, sweep_channel: Optional[int] = None) -> ImpulseResponse:
    """The impulse response of ``recording`` made with ``sweep``, the file
    that was played (any program's sweep, or a playback file with its
    silence), by division of their spectra, regularised outside the sweep's
    band. Each is an ``Audio``, a path (``channel`` and ``sweep_channel``
    choose in multichannel files) or a 1-D array at ``rate`` and
    ``sweep_rate`` Hz (None: the recording's rate). A sweep at another rate
    is resampled. The response starts 0.1 s before its direct sound, so that
    ``reverberation(response.samples, response.rate)`` needs no durations."""
    rec = as_audio(recording, rate, channel=channel)
    if sweep_rate is None and not isinstance(sweep, (Audio, str, bytes, os.PathLike)):
        sweep_rate = rec.rate
    played = as_audio(sweep, sweep_rate, channel=sweep_channel)
    x, s = as_signal(rec.samples, "recording"), as_signal(played.samples, "sweep")
    out = ctypes.POINTER(tvm_impulse)()
    L = layer()
    check(L.tvm_deconvolve(ptr(x), x.size, int(rec.rate), ptr(s), s.size, int(played.rate), ctypes.byref(out)))
    try:
        r = out.contents
        return ImpulseResponse(doubles(r.samples, r.length), int(r.sample_rate), float(r.latency_s),
                               float(r.lead_s), int(r.direct_index), (float(r.band_low_hz), float(r.band_high_hz)),
                               texts(r.notes, r.note_count))
    finally:
        L.tvm_free_impulse(out)
