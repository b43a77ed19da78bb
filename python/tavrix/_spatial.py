"""Spatial parameters through the layer: the early lateral energy fractions
LF and LFC of a pressure and a figure-of-eight channel, and the interaural
cross-correlation IACC of the two ears of a dummy head."""

from __future__ import annotations

import ctypes
import os
from typing import Optional, Sequence, Tuple, Union

import numpy as np

from ._abi import (TVM_AMBIX, TVM_FUMA, TVM_PAIR, TVM_SPATIAL_BINAURAL, TVM_SPATIAL_LATERAL, tvm_spatial_options,
                   tvm_spatial_report)
from ._audio import responses
from ._layer import check, finite_or_none, text, texts
from ._library import ArgumentError, layer

_CONVENTIONS = {None: TVM_PAIR, "pair": TVM_PAIR, "fuma": TVM_FUMA, "ambix": TVM_AMBIX}


class Spatial:
    """Per octave band 125 Hz to 4 kHz (``labels``, ``frequencies`` in Hz):
    ``lf`` and ``lfc`` in lateral mode, ``iacc_early``, ``iacc_late``, ``iacc``
    and ``late_end_ms`` (where the late stretch ends) in binaural mode; NaN in
    the other mode. ``lf_mean`` and ``lfc_mean`` over 125 Hz to 1 kHz,
    ``iacc_early_mean`` over 500 Hz to 2 kHz. ``reference``: the channel whose
    direct sound is time 0; ``onset``: that direct sound in s; ``notes``: what
    was done, and doubts about the set-up."""

    def __init__(self, r: tvm_spatial_report, channels: Tuple[str, str]):
        self.mode = text(r.mode_name)
        self.convention = {TVM_FUMA: "fuma", TVM_AMBIX: "ambix"}.get(int(r.convention), "pair")
        self.channels = channels
        self.reference = text(r.reference)
        self.sample_rate, self.source_rate = int(r.sample_rate), int(r.source_rate)
        self.onset = float(r.onset_s)
        bands = [r.bands[i] for i in range(r.band_count)]
        self.labels = [text(b.label) for b in bands]
        self.frequencies = np.array([b.frequency_hz for b in bands])
        for name in ("lf", "lfc", "iacc_early", "iacc_late", "iacc", "late_end_ms"):
            setattr(self, name, np.array([getattr(b, name) for b in bands]))
        self.lf_mean, self.lfc_mean = float(r.lf_mean), float(r.lfc_mean)
        self.iacc_early_mean = float(r.iacc_early_mean)
        self.notes = texts(r.notes, r.note_count)

    def as_dict(self) -> dict:
        """The result as the tool's JSON has it."""
        lateral = self.mode == "lateral"
        keys = ("lf", "lfc") if lateral else ("iacc_early", "iacc_late", "iacc", "late_end_ms")
        bands = []
        for i, label in enumerate(self.labels):
            band = {"band": label, "frequency_hz": float(self.frequencies[i])}
            band.update({k: finite_or_none(float(getattr(self, k)[i])) for k in keys})
            bands.append(band)
        span = (f"{self.labels[0]} - {self.labels[3]}" if lateral else f"{self.labels[2]} - {self.labels[4]}")
        mean = {"bands": span}
        if lateral:
            mean.update({"lf": finite_or_none(self.lf_mean), "lfc": finite_or_none(self.lfc_mean)})
        else:
            mean["iacc_early"] = finite_or_none(self.iacc_early_mean)
        d = {"mode": self.mode, "channels": list(self.channels), "reference": self.reference, "onset_s": self.onset,
             "sample_rate": self.sample_rate, "source_sample_rate": self.source_rate, "bands": bands, "mean": mean,
             "notes": self.notes}
        if lateral:
            d["convention"] = self.convention
        return d

    def __repr__(self) -> str:
        if self.mode == "lateral":
            return f"<Spatial lateral: LF {self.lf_mean:.3f}, LFC {self.lfc_mean:.3f} (125 Hz - 1 kHz)>"
        return f"<Spatial binaural: early IACC {self.iacc_early_mean:.3f} (500 Hz - 2 kHz)>"


def _pair(channels, option: str) -> Tuple[int, int]:
    try:
        a, b = (int(c) for c in channels)
    except (TypeError, ValueError):
        raise ArgumentError(f"{option} takes two channels of the file, counted from 1, e.g. (1, 2)") from None
    if a < 1 or b < 1 or a == b:
        raise ArgumentError(f"{option}: give two different channels of the file, counted from 1, not {channels!r}")
    return a, b


def spatial(response, rate: Optional[float] = None, *, lateral: Union[None, bool, Sequence[int]] = None,
            binaural: Union[None, bool, Sequence[int]] = None, bformat: Optional[str] = None,
            native_rate: bool = False) -> Spatial:
    """Spatial parameters of a two-channel impulse response.

    ``response``: a path, with ``lateral=(OMNI, FIG8)`` or ``binaural=(LEFT,
    RIGHT)`` naming its channels (from 1); or a pair of responses (``Audio``
    or 1-D arrays at ``rate`` Hz) with ``lateral=True`` or ``binaural=True``.
    The figure-of-eight's null must face the source. ``bformat``: the lateral
    channels are first-order B-format W,Y, ``"fuma"`` (W 3 dB down) or
    ``"ambix"``."""
    if (lateral is None or lateral is False) == (binaural is None or binaural is False):
        raise ArgumentError("give either lateral=... (pressure, figure-of-eight) or binaural=... (left, right)")
    mode_lateral = lateral is not None and lateral is not False
    if bformat not in _CONVENTIONS:
        raise ArgumentError(f"bformat: 'fuma' or 'ambix', not {bformat!r}")
    if bformat is not None and not mode_lateral:
        raise ArgumentError("bformat describes lateral W,Y channels; binaural channels have none")
    chosen = lateral if mode_lateral else binaural
    option = "lateral" if mode_lateral else "binaural"
    if isinstance(response, (str, bytes, os.PathLike)):
        if chosen is True:
            raise ArgumentError(f"{option}: name the file's two channels, e.g. {option}=(1, 2)")
        a, b = _pair(chosen, option)
        path = os.fsdecode(response)
        names = (f"{path} channel {a}", f"{path} channel {b}")
        first, kept_a = responses(response, rate, channel=a, name=names[0])
        second, kept_b = responses(response, rate, channel=b, name=names[1])
    else:
        if chosen is not True:
            raise ArgumentError(f"a pair of responses goes with {option}=True; channels are chosen only from a file")
        if not isinstance(response, (list, tuple)) or len(response) != 2:
            raise ArgumentError("give the two channels as a pair of responses (first, second)")
        names = ("pressure", "figure-of-eight") if mode_lateral else ("left", "right")
        first, kept_a = responses(response[0], rate, name=names[0])
        second, kept_b = responses(response[1], rate, name=names[1])
    options = tvm_spatial_options()
    layer().tvm_spatial_options_init(ctypes.byref(options))
    options.mode = TVM_SPATIAL_LATERAL if mode_lateral else TVM_SPATIAL_BINAURAL
    options.convention = _CONVENTIONS[bformat]
    options.native_rate = bool(native_rate)
    out = ctypes.POINTER(tvm_spatial_report)()
    L = layer()
    check(L.tvm_analyse_spatial(first, second, ctypes.byref(options), ctypes.byref(out)))
    try:
        return Spatial(out.contents, names)
    finally:
        L.tvm_free_spatial_report(out)
