"""Reverberation per band: the layer's report as Python objects."""

from __future__ import annotations

import ctypes
import math
from typing import Dict, Iterator, List, Optional, Sequence, Union

import numpy as np

from ._audio import responses
from ._abi import TVM_OCTAVE, TVM_THIRD, tvm_reverb_options, tvm_reverb_report
from ._layer import check, doubles, finite_or_none, text, texts
from ._library import ArgumentError, layer

_BANDS = {"octave": TVM_OCTAVE, "third": TVM_THIRD}
_ENERGY = ("c50_db", "c80_db", "d50_percent", "ts_ms")
_USED = ("onset_s", "crosspoint_s", "window_start_s", "window_end_s")


class BandReverberation:
    """The reverberation of one band of one source.

    ``band`` (number; 100000 "A", 100002 "Z"), ``label`` as analysed,
    ``nominal`` name, ``frequency_hz``; ``times`` and ``r2`` by range name
    ("EDT", "T10", ...; NaN where not reached or not evaluated), with ``edt``,
    ``t10``, ``t20``, ``t30``; ``result`` ("ok", "doubtful", "plain", ...),
    ``result_text`` and ``doubts`` in the layer's words; ``status`` (libtavrix's
    status of the noise-compensated analysis) and ``method``; levels in dB
    (``noise_level_db``, ``end_level_db`` and ``tail_model_db`` re the band's
    peak); the energy parameters ``c50_db``, ``c80_db``, ``d50_percent``,
    ``ts_ms`` (NaN without ``parameters=True``); what the analysis used, in
    seconds from the response's first sample: ``onset_s`` (time 0 of the
    energy parameters), ``crosspoint_s`` (NaN without a noise floor),
    ``window_start_s`` and ``window_end_s`` (NaN for an ensemble mean); the curves ``level_db`` (from
    block ``level_first_block``) and ``decay_db`` (from the onset, block 0)."""

    def __init__(self, b, range_names: Sequence[str], parameters: bool):
        n = len(range_names)
        self.band = int(b.band)
        self.label, self.nominal = text(b.label), text(b.nominal)
        self.frequency_hz = float(b.frequency_hz)
        self.status, self.evaluated = int(b.status), bool(b.evaluated)
        self.method = text(b.method_text)
        self.result, self.result_text = text(b.result), text(b.result_text)
        self.doubts = texts(b.doubts, b.doubt_count)
        self.times: Dict[str, float] = dict(zip(range_names, doubles(b.times_s, n).tolist()))
        self.r2: Dict[str, float] = dict(zip(range_names, doubles(b.r2, n).tolist()))
        self.dynamic_range_db, self.curvature_percent = float(b.dynamic_range_db), float(b.curvature_percent)
        self.noise_level_db, self.peak_level_db = float(b.noise_level_db), float(b.peak_level_db)
        self.end_level_db = float(b.end_level_db)
        self.tail_model_db = (float(b.tail_model_db[0]), float(b.tail_model_db[1]))
        self.c50_db, self.c80_db = float(b.c50_db), float(b.c80_db)
        self.d50_percent, self.ts_ms = float(b.d50_percent), float(b.ts_ms)
        self.level_first_block = int(b.level_first_block)
        self.level_db = doubles(b.level_db, b.level_length)
        self.decay_db = doubles(b.decay_db, b.decay_length)
        self.onset_s, self.crosspoint_s = float(b.onset_s), float(b.crosspoint_s)
        self.window_start_s, self.window_end_s = float(b.window_start_s), float(b.window_end_s)
        self._parameters = parameters

    edt = property(lambda self: self.times.get("EDT", math.nan), doc="Early decay time in s.")
    t10 = property(lambda self: self.times.get("T10", math.nan), doc="T10 in s.")
    t20 = property(lambda self: self.times.get("T20", math.nan), doc="T20 in s.")
    t30 = property(lambda self: self.times.get("T30", math.nan), doc="T30 in s.")

    def as_dict(self) -> dict:
        """The band as the tool's JSON has it (same keys; None where a number
        was not measured)."""
        f = finite_or_none
        d = {"band": self.label, "nominal_band": self.nominal, "frequency_hz": f(self.frequency_hz),
             "times_s": {k: f(v) for k, v in self.times.items()}, "r2": {k: f(v) for k, v in self.r2.items()},
             "dynamic_range_db": f(self.dynamic_range_db), "curvature_percent": f(self.curvature_percent),
             "noise_level_db": f(self.noise_level_db), "peak_level_db": f(self.peak_level_db),
             "method": self.method, "result": self.result, "doubts": list(self.doubts), "status": self.status,
             "status_text": self.result_text}
        if self._parameters:
            d.update({k: f(getattr(self, k)) for k in _ENERGY})
        d.update({k: f(getattr(self, k)) for k in _USED})
        return d

    def row(self) -> dict:
        """One flat row of numbers (a DataFrame row)."""
        row = {"band": self.label, "nominal_band": self.nominal, "frequency_hz": self.frequency_hz}
        row.update({f"{k}_s": v for k, v in self.times.items()})
        row.update({f"r2_{k}": v for k, v in self.r2.items()})
        row.update({k: getattr(self, k) for k in ("dynamic_range_db", "curvature_percent", "noise_level_db",
                                                   "peak_level_db") + _ENERGY + _USED})
        row.update(method=self.method, result=self.result, status=self.status)
        return row

    def __repr__(self) -> str:
        times = ", ".join(f"{k}={v:.3f}" for k, v in self.times.items())
        return f"<{self.label}: {times}, {self.result}>"


def _fixed(v: float, digits: int) -> str:
    return f"{v:.{digits}f}" if math.isfinite(v) else "-"


class BandTable:
    """The bands of one source in order: indexed by position or by label
    (``table["1 kHz"]``, ``table["A"]``; the nominal name also finds a band
    analysed at a native rate)."""

    def __init__(self, bands: List[BandReverberation]):
        self._bands = bands

    def __len__(self) -> int:
        return len(self._bands)

    def __iter__(self) -> Iterator[BandReverberation]:
        return iter(self._bands)

    def __getitem__(self, key: Union[int, slice, str]):
        if isinstance(key, str):
            for attribute in ("label", "nominal"):
                for b in self._bands:
                    if getattr(b, attribute) == key:
                        return b
            raise KeyError(f"no band {key!r}; the bands are {', '.join(self.labels)}")
        return self._bands[key]

    def __contains__(self, key) -> bool:
        return any(key in (b.label, b.nominal) for b in self._bands) if isinstance(key, str) else key in self._bands

    @property
    def labels(self) -> List[str]:
        return [b.label for b in self._bands]

    def to_dataframe(self):
        """The table as a pandas DataFrame (pandas must be installed)."""
        import pandas

        return pandas.DataFrame([b.row() for b in self._bands])

    def __str__(self) -> str:
        if not self._bands:
            return "(no bands)"
        names = list(self._bands[0].times)
        longest = max(names, key=lambda n: 0 if n == "EDT" else float(n[1:])) if names else None
        rows = [["band"] + [f"{n} s" for n in names] + ([f"r2 {longest}"] if longest else []) +
                ["dyn dB", "curv %", "noise dB", "cross s", "peak dB", "result"]]
        for b in self._bands:
            rows.append([b.label] + [_fixed(b.times[n], 2) for n in names] +
                        ([_fixed(b.r2[longest], 4)] if longest else []) +
                        [_fixed(b.dynamic_range_db, 1), _fixed(b.curvature_percent, 1),
                         _fixed(b.noise_level_db, 1), _fixed(b.crosspoint_s, 2), _fixed(b.peak_level_db, 1),
                         b.result])
        widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
        return "\n".join("  ".join(c.ljust(w) if i in (0, len(widths) - 1) else c.rjust(w)
                                   for i, (c, w) in enumerate(zip(r, widths))).rstrip() for r in rows)

    def __repr__(self) -> str:
        return f"<BandTable: {', '.join(self.labels)}>"


class Source:
    """The analysis of one response, or of the ensemble mean ("mean"):
    ``name``, ``sample_rate`` (analysed), ``source_rate`` (its own),
    ``silence_cut_s``, ``end_cut_s`` (a faded or gated end cut), ``lead_in_s``, ``notes`` (what was done to it) and
    ``bands`` (a ``BandTable``)."""

    def __init__(self, s, range_names: Sequence[str], parameters: bool):
        self.name = text(s.name)
        self.sample_rate, self.source_rate = int(s.sample_rate), int(s.source_rate)
        self.silence_cut_s, self.lead_in_s = float(s.silence_cut_s), float(s.lead_in_s)
        self.end_cut_s = float(s.end_cut_s)
        self.channel: Optional[int] = int(s.channel) or None
        self.channels = int(s.channels)
        self.notes = texts(s.notes, s.note_count)
        self.bands = BandTable([BandReverberation(s.bands[i], range_names, parameters)
                                for i in range(s.band_count)])

    @property
    def source_sample_rate(self) -> int:
        return self.source_rate

    @property
    def resampled(self) -> bool:
        return self.sample_rate != self.source_rate

    def as_dict(self) -> dict:
        """The source as the tool's JSON has it."""
        return {"name": self.name, "sample_rate": self.sample_rate, "source_sample_rate": self.source_rate,
                "resampled": self.resampled, "silence_cut_s": self.silence_cut_s, "end_cut_s": self.end_cut_s, "channel": self.channel,
                "lead_in_s": self.lead_in_s,
                "bands": [b.as_dict() for b in self.bands]}

    def __str__(self) -> str:
        rates = f"{self.source_rate} Hz" + (f", analysed at {self.sample_rate} Hz" if self.resampled else "")
        return f"{self.name} ({rates})\n{self.bands}"

    def __repr__(self) -> str:
        return f"<Source {self.name!r}: {len(self.bands)} bands>"


class Reverberation:
    """The result of ``reverberation()``: ``positions`` (one ``Source`` per
    response), ``ensemble`` (their mean for two or more, else None),
    ``warnings`` about the ensemble, ``bands`` ("octave" or "third"),
    ``ranges`` (names) and ``ranges_db``, ``block_seconds`` of the curves.

    Iterating, indexing and ``len`` go to the bands of the single position,
    or of the ensemble when there are several."""

    def __init__(self, report, parameters: bool):
        r = report
        self.bands = text(r.bands_name)
        self.band_scale = float(r.band_scale)
        self.block_seconds = float(r.block_seconds)
        self.ranges_db = doubles(r.ranges_db, r.range_count).tolist()
        self.ranges = texts(r.range_names, r.range_count)
        self.positions = [Source(r.positions[i], self.ranges, parameters) for i in range(r.position_count)]
        self.ensemble = Source(r.ensemble.contents, self.ranges, parameters) if r.ensemble else None
        self.warnings = texts(r.warnings, r.warning_count)
        self.evaluated_bands = int(r.evaluated_bands)

    @property
    def table(self) -> BandTable:
        """The bands of the single position, or of the ensemble."""
        return (self.ensemble or self.positions[0]).bands

    def __iter__(self) -> Iterator[BandReverberation]:
        return iter(self.table)

    def __getitem__(self, key):
        return self.table[key]

    def __len__(self) -> int:
        return len(self.table)

    def to_dataframe(self):
        """Every band of every source (positions, then "mean") as a pandas DataFrame."""
        import pandas

        sources = self.positions + ([self.ensemble] if self.ensemble else [])
        return pandas.DataFrame([dict(source=s.name, **b.row()) for s in sources for b in s.bands])

    def as_dict(self) -> dict:
        """The report as the tool's JSON has it."""
        d = {"bands": self.bands, "ranges_db": list(self.ranges_db),
             "positions": [p.as_dict() for p in self.positions]}
        if self.ensemble:
            d["ensemble"] = self.ensemble.as_dict()
        d["warnings"] = list(self.warnings)
        return d

    def __str__(self) -> str:
        parts = [str(p) for p in self.positions]
        if self.ensemble:
            parts.append(f"mean of {len(self.positions)} positions\n{self.ensemble.bands}")
        return "\n\n".join(parts + [f"warning: {w}" for w in self.warnings])

    def __repr__(self) -> str:
        return f"<Reverberation: {len(self.positions)} position(s), {self.bands} bands {', '.join(self.ranges)}>"


def reverberation(response, rate: Optional[float] = None, *, bands: str = "octave", low: Optional[float] = None,
                  high: Optional[float] = None, ranges: Optional[Sequence[float]] = None,
                  sweep_seconds: float = 0.0, tail_seconds: float = 0.0, native_rate: bool = False,
                  keep_silence: bool = False, parameters: bool = False,
                  name: Union[None, str, Sequence[str]] = None, channel: Optional[int] = None,
                  quantisation_step: Optional[float] = None) -> Reverberation:
    """Reverberation per band of an impulse response, or of several positions
    of one room (a list; two or more also give their ensemble mean).

    ``response``: an ``Audio``, a file path (``channel`` chooses in a
    multichannel file), a 1-D array at ``rate`` Hz (floats full scale +-1, or
    int16/int32 PCM; ``quantisation_step`` is the format's step, found for
    the PCM types), or a list of those. ``bands`` "octave" or "third" from
    ``low`` to ``high`` Hz (None: 125 Hz to 8 kHz, thirds 100 Hz to 10 kHz);
    ``ranges`` the decay ranges in dB (0 is the EDT, R >= 10 the time from -5
    to -(R + 5) dB; None: 0, 10, 20, 30); ``sweep_seconds`` and
    ``tail_seconds`` of the sweep measurement the response came from (0: the
    whole response); ``native_rate`` analyses at the response's own rate
    instead of 48 kHz; ``keep_silence`` keeps trailing digital silence;
    ``parameters`` adds C50, C80, D50, Ts and the broadband bands A and Z."""
    if bands not in _BANDS:
        raise ArgumentError(f"bands must be 'octave' or 'third', not {bands!r}")
    array, kept = responses(response, rate, channel=channel, quantisation_step=quantisation_step, name=name)
    L = layer()
    options = tvm_reverb_options()
    L.tvm_reverb_options_init(ctypes.byref(options))
    options.bands = _BANDS[bands]
    if low is not None:
        options.low_hz = float(low)
    if high is not None:
        options.high_hz = float(high)
    if ranges is not None:
        values = np.ascontiguousarray(np.atleast_1d(np.asarray(ranges, dtype=np.float64)))
        if values.ndim != 1:
            raise ArgumentError(f"ranges must be a list of decay ranges in dB, not {ranges!r}")
        kept.append(values)
        options.ranges = values.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
        options.range_count = values.size
    options.sweep_seconds, options.tail_seconds = float(sweep_seconds), float(tail_seconds)
    options.native_rate, options.keep_silence = bool(native_rate), bool(keep_silence)
    options.parameters = bool(parameters)
    out = ctypes.POINTER(tvm_reverb_report)()
    check(L.tvm_analyse_reverb(array, len(array), ctypes.byref(options), ctypes.byref(out)))
    try:
        return Reverberation(out.contents, bool(parameters))
    finally:
        L.tvm_free_reverb_report(out)
