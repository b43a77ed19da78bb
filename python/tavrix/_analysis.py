"""Reverberation times per band and the speech transmission index."""

import collections
import ctypes
import math
import numbers
import warnings

import numpy as np

from ._library import (
    STATUS_TEXT,
    ArgumentError,
    Handle,
    NotReadyError,
    as_signal,
    lib,
    ptr,
)
from ._measure import RESOLUTIONS, band_frequency, band_id, band_label

# The band filters are fixed designs for this rate.
DESIGN_RATE = 48000

# The library looks for the direct sound from 0.25 s on and keeps half a second
# before it; a response whose direct sound comes earlier (most saved responses
# start with it) gets this much silence in front.
LEAD_IN_SECONDS = 0.5

# A reverberation time of exactly -10 s is the library's mark for "the decay
# never falls that far"; it is reported here as NaN.
_NOT_REACHED = -10.0

# Default band ranges in Hz of the tables: 125 Hz (100 Hz in thirds) to 8 kHz.
_DEFAULT_RANGE = {"octave": (125.0, 8000.0), "third": (100.0, 8000.0)}

# Octave bands of the speech transmission index and their modulation frequencies.
STI_BANDS = np.array([125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0])
STI_MODULATION_FREQUENCIES = 10 ** ((np.arange(14) - 2) / 10)


def _at_design_rate(x, rate, name):
    """The signal at 48 kHz: as it is, resampled with scipy when scipy is
    installed, or refused (the band filters would be mislabelled)."""
    if not (np.isfinite(rate) and rate > 0):
        raise ArgumentError(f"rate must be a positive number of hertz, not {rate}")
    if rate == DESIGN_RATE:
        return x, float(rate)
    try:
        from scipy.signal import resample_poly
    except ImportError:
        raise ArgumentError(
            f"{name} is sampled at {rate:g} Hz, but the band filters are fixed 48 kHz designs (at "
            f"{rate:g} Hz every band would move to f * {rate:g} / 48000); resample it to 48000 Hz "
            f"first, or install scipy to have it resampled here"
        ) from None
    if rate != int(rate):
        raise ArgumentError(f"{name}: cannot resample from a fractional rate of {rate} Hz")
    g = math.gcd(int(rate), DESIGN_RATE)
    warnings.warn(f"{name} resampled from {rate:g} Hz to 48000 Hz for the 48 kHz band filters", stacklevel=3)
    return np.ascontiguousarray(resample_poly(x, DESIGN_RATE // g, int(rate) // g)), float(DESIGN_RATE)


def _range_name(r):
    return "EDT" if r == 0 else f"T{r:g}"


# The early limits of ISO 3382-1 in seconds: 50 ms for speech, 80 ms for music.
_SPEECH_LIMIT, _MUSIC_LIMIT = 0.050, 0.080


def energy_parameters(level_db, integrated, noise_db, tail_db, rate):
    """C50 and C80 in dB, D50 in % and Ts in ms of one band, from its level in
    dB re its peak per sample from the onset of the direct sound (time 0).

    What is integrated is what the noise-compensated decay curve integrates:
    the first ``integrated`` samples (up to the crosspoint) with the noise
    level ``noise_db`` subtracted from each (clipped at 0), then the
    exponential tail of the late-decay model, which runs from ``tail_db[0]``
    at the onset to ``tail_db[1]`` at the crosspoint ``integrated + 1``
    samples later. NaN noise or tail: nothing subtracted, no tail. Returns a
    dict of the four values (NaN when they cannot be formed)."""
    nan = {"c50_db": math.nan, "c80_db": math.nan, "d50_percent": math.nan, "ts_ms": math.nan}
    level = np.asarray(level_db, dtype=np.float64)
    k = min(int(integrated), level.size)
    if k < 2 or not rate > 0:
        return nan
    with np.errstate(invalid="ignore"):
        e = np.where(np.isfinite(level[:k]), 10 ** (level[:k] / 10), 0.0)
    if math.isfinite(noise_db):
        e = np.maximum(e - 10 ** (noise_db / 10), 0.0)
    cumulative = np.concatenate([[0.0], np.cumsum(e)])
    moment = float(np.dot(np.arange(k), e))
    tail = decay = 0.0
    if all(math.isfinite(v) for v in tail_db) and tail_db[1] < tail_db[0]:
        decay = (tail_db[0] - tail_db[1]) * math.log(10) / 10 / (k + 1)
        tail = 10 ** (tail_db[1] / 10) / decay
        moment += tail * (k + 1 / decay)
    total = cumulative[k] + tail
    if not total > 0:
        return nan

    def before(seconds):
        n = math.floor(seconds * rate + 0.5)
        if n <= k:
            return cumulative[n]
        return cumulative[k] + tail * (1 - math.exp(-decay * (n - k))) if tail > 0 else math.nan

    def clarity(seconds):
        early = before(seconds)
        return 10 * math.log10(early / (total - early)) if total > early else math.nan

    return {"c50_db": clarity(_SPEECH_LIMIT), "c80_db": clarity(_MUSIC_LIMIT),
            "d50_percent": 100 * before(_SPEECH_LIMIT) / total, "ts_ms": 1000 * moment / total / rate}


class BandReverberation:
    """Reverberation results of one band.

    ``times`` and ``r2`` map range names ('EDT', 'T20', 'T30', ...) to seconds
    and fit coefficients of determination (NaN where the decay never fell that
    far or no fit was made); ``edt``, ``t10``, ``t20``, ``t30`` read them (NaN
    when not evaluated). ``c50_db``, ``c80_db``, ``d50_percent`` and ``ts_ms``
    are the ISO 3382-1 energy parameters (``energy_parameters``; NaN when not
    evaluated). ``status`` is 0 or the decay analysis code (-30 to -33),
    ``status_text`` says what it means."""

    def __init__(self, band, frequency, label, times, r2, dynamic_range_db, curvature_percent,
                 noise_level_db, peak_level_db, status, energy=None):
        self.band, self.frequency, self.label = band, frequency, label
        self.times, self.r2 = times, r2
        self.dynamic_range_db, self.curvature_percent = dynamic_range_db, curvature_percent
        self.noise_level_db, self.peak_level_db = noise_level_db, peak_level_db
        self.status = status
        self.status_text = STATUS_TEXT.get(status, f"status {status}")
        energy = energy or energy_parameters((), 0, math.nan, (math.nan, math.nan), 1.0)
        self.c50_db, self.c80_db = energy["c50_db"], energy["c80_db"]
        self.d50_percent, self.ts_ms = energy["d50_percent"], energy["ts_ms"]

    edt = property(lambda self: self.times.get("EDT", math.nan))
    t10 = property(lambda self: self.times.get("T10", math.nan))
    t20 = property(lambda self: self.times.get("T20", math.nan))
    t30 = property(lambda self: self.times.get("T30", math.nan))

    def as_dict(self):
        """The record as one flat row (a DataFrame row)."""
        row = {"band": self.label, "frequency_hz": self.frequency}
        row.update({f"{k}_s": v for k, v in self.times.items()})
        row.update({f"r2_{k}": v for k, v in self.r2.items()})
        row.update(dynamic_range_db=self.dynamic_range_db, curvature_percent=self.curvature_percent,
                   noise_level_db=self.noise_level_db, peak_level_db=self.peak_level_db,
                   c50_db=self.c50_db, c80_db=self.c80_db, d50_percent=self.d50_percent, ts_ms=self.ts_ms,
                   status=self.status, status_text=self.status_text)
        return row

    def __repr__(self):
        times = ", ".join(f"{k}={v:.3f}" for k, v in self.times.items())
        return f"<{self.label}: {times}, {self.status_text}>"


class ReverberationTable(list):
    """One ``BandReverberation`` per band; ``to_dataframe()`` with pandas, and
    ``str()`` a plain-text table."""

    def to_dataframe(self):
        """The table as a pandas DataFrame (pandas must be installed)."""
        import pandas

        return pandas.DataFrame([r.as_dict() for r in self])

    def __str__(self):
        if not self:
            return "(no bands)"
        names = list(self[0].times)
        head = ["band"] + [f"{n} s" for n in names] + ["r2", "dyn dB", "curv %", "noise dB", "status"]
        rows = [head]
        for r in self:
            last = names[-1] if names else None
            rows.append([r.label] + [f"{r.times[n]:.2f}" for n in names] +
                        [f"{r.r2.get(last, math.nan):.4f}", f"{r.dynamic_range_db:.1f}",
                         f"{r.curvature_percent:.1f}", f"{r.noise_level_db:.1f}",
                         "ok" if r.status == 0 else r.status_text.split(":")[0]])
        widths = [max(len(row[i]) for row in rows) for i in range(len(head))]
        return "\n".join("  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in
                                   enumerate(zip(row, widths))) for row in rows)


Curves = collections.namedtuple(
    "Curves", "level_db decay_db onset_index noise_level_db decay_start_level_db peak_level_db status status_text")


class Reverberation(Handle):
    """A reverberation analysis of one impulse response (or, from
    ``Reverberation.ensemble``, of several positions in one room).

    ``response`` at ``rate`` Hz; ``sweep_seconds`` and ``tail_seconds`` are the
    durations of the sweep measurement it came from (0 and None for a response
    measured elsewhere). With ``tail_seconds=None`` the whole response after the
    sweep's share is analysed: the library's measurement span is sweep + tail +
    1 s from the start, so the tail is taken as duration - sweep - 1 s (never
    below 0), which lets the analysis window run to the end of the array.
    A response whose direct sound lies in its first 0.5 s gets 0.5 s of silence
    in front (the onset search starts at 0.25 s). Bands: ``bands`` ('octave' or
    'third') from ``low`` to ``high`` Hz (nearest bands; default 125 Hz (100 Hz
    for thirds) to 8 kHz)."""

    _delete = "deleteReverberation"
    _kind = "reverberation analysis"

    def __init__(self, response, rate, sweep_seconds=0.0, tail_seconds=None, bands="octave", low=None, high=None):
        x = as_signal(response, "response")
        x, rate = _at_design_rate(x, float(rate), "response")
        lead = int(round(LEAD_IN_SECONDS * rate))
        self.lead_in = 0.0
        if int(np.argmax(np.abs(np.nan_to_num(x)))) < lead:
            x = np.concatenate([np.zeros(lead), x])
            self.lead_in = LEAD_IN_SECONDS
        sweep = float(sweep_seconds)
        tail = max(x.size / rate - sweep - 1.0, 0.0) if tail_seconds is None else float(tail_seconds)
        if not (math.isfinite(sweep) and sweep >= 0 and math.isfinite(tail) and tail >= 0):
            raise ArgumentError(f"sweep_seconds and tail_seconds must be 0 or more, not {sweep_seconds}, {tail_seconds}")
        self._own(lib().initReverberation(ptr(x), x.size, rate, sweep, tail), "Reverberation")
        self.rate, self.sweep_seconds, self.tail_seconds = rate, sweep, tail
        self._members = ()
        self._require_ready(
            "the response could not be prepared: it needs at least 0.25 s of samples and a distinct "
            "direct sound (a 10 ms block rising above twice the mean before it); all zeros, noise "
            "without an arrival or durations beyond the response give none")
        self.select_bands(bands, low, high)

    @classmethod
    def ensemble(cls, members, bands="octave", low=None, high=None):
        """Several positions in one room evaluated on their mean band energy,
        aligned on their direct sound. The members stay in use (do not close
        them while the ensemble is used)."""
        members = list(members)
        handles = (ctypes.c_int32 * max(len(members), 1))(*[m.handle for m in members])
        self = cls.__new__(cls)
        self._own(lib().initReverberationEnsemble(handles, len(members)), "Reverberation.ensemble")
        self._members = tuple(members)
        self.rate = members[0].rate if members else math.nan
        self.lead_in = 0.0
        self._require_ready("the positions cannot be combined: each must be ready, at the same sample rate")
        self._bands_from(bands, low, high)
        return self

    def _require_ready(self, why):
        if lib().getMaxImpulseLength(self.handle) < 0:
            self.close()
            raise NotReadyError(why)

    def _bands_from(self, bands, low, high):
        if bands not in _DEFAULT_RANGE:
            raise ArgumentError(f"bands must be 'octave' or 'third', not {bands!r}")
        resolution, lo, hi, per_octave = RESOLUTIONS[bands]
        low = _DEFAULT_RANGE[bands][0] if low is None else float(low)
        high = _DEFAULT_RANGE[bands][1] if high is None else float(high)
        numbers = list(range(lo, hi + 1))
        nearest = lambda f: min(numbers, key=lambda b: abs(math.log(band_frequency(bands, b) / f)))  # noqa: E731
        if not (0 < low <= high):
            raise ArgumentError(f"need 0 < low <= high, not low={low}, high={high}")
        self.resolution = bands
        self.bands = list(range(nearest(low), nearest(high) + 1))
        return resolution

    def select_bands(self, bands="octave", low=None, high=None):
        """Chooses the band filters ('octave' or 'third', ``low`` to ``high`` Hz)."""
        resolution = self._bands_from(bands, low, high)
        if lib().initReverberationFilter(self.handle, resolution, self.bands[0], self.bands[-1]) != 0:
            raise ArgumentError(f"cannot build {bands} bands {self.bands[0]}..{self.bands[-1]}")

    @property
    def window_length(self):
        """Samples in the analysis window (the length of the curves)."""
        return lib().getMaxImpulseLength(self.handle)

    def band(self, band, ranges=(0, 20, 30)):
        """Evaluates one band (a band number of ``bands``, 'A', 'C' or None for
        broadband) over the decay ranges in dB (0: EDT, R >= 10: T(R))."""
        r = np.ascontiguousarray(ranges, dtype=np.float64).ravel()
        bad = [v for v in r if not (v == 0 or v >= 10)]
        if bad:
            raise ArgumentError(f"decay ranges must be 0 (EDT) or at least 10 dB, not {bad[0]:g}")
        m = self.window_length
        level, decay = np.empty(m), np.empty(m)
        times, fits = np.empty(max(r.size, 1)), np.empty(max(r.size, 1))
        d = [ctypes.c_double() for _ in range(5)]
        count, onset = ctypes.c_int32(), ctypes.c_int32()
        tail = (ctypes.c_double * 2)()
        status = lib().getReverberationData(
            self.handle, band_id(band), ptr(r), r.size, 0, ptr(level), ctypes.byref(count), ptr(decay),
            ctypes.byref(d[0]), ctypes.byref(d[1]), tail, ptr(times), ptr(fits), ctypes.byref(d[2]),
            ctypes.byref(d[3]), ctypes.byref(onset), ctypes.byref(d[4]))
        if status == -1 and band_id(band) not in self.bands + [100000, 100001, 100002]:
            raise ArgumentError(f"band {band!r} is not among the analysis bands {self.bands}")
        evaluated = status == 0
        names = [_range_name(v) for v in r]
        t = {n: (float(v) if evaluated and v != _NOT_REACHED else math.nan) for n, v in zip(names, times)}
        q = {n: (float(v) if evaluated else math.nan) for n, v in zip(names, fits)}
        if isinstance(band, numbers.Integral):
            freq = band_frequency(self.resolution, band)
            label = band_label(freq)
        else:
            freq, label = math.nan, {None: "Z", "Z": "Z"}.get(band, band)
        nan = math.nan
        energy = None
        if evaluated:
            # The level curve from the onset; the decay curve's length is the crosspoint.
            energy = energy_parameters(level[-onset.value:count.value], int(d[0].value) + 1, d[1].value,
                                       (tail[0], tail[1]), self.rate)
        return BandReverberation(
            band, freq, label, t, q, d[2].value if evaluated else nan, d[3].value if evaluated else nan,
            d[1].value if status != -1 else nan, d[4].value if status != -1 else nan, status, energy)

    def table(self, ranges=(0, 20, 30)):
        """Every band of the analysis: a ``ReverberationTable``."""
        return ReverberationTable(self.band(b, ranges) for b in self.bands)

    def curves(self, band):
        """Level curve and noise-compensated decay curve of one band in dB, one
        value per sample of the analysis window; the onset is at ``onset_index``."""
        m = self.window_length
        level, decay = np.empty(m), np.empty(m)
        count, onset = ctypes.c_int32(), ctypes.c_int32()
        end, noise, start, peak = (ctypes.c_double() for _ in range(4))
        status = lib().getReverberationDataLevel(
            self.handle, band_id(band), 0, ptr(level), ctypes.byref(count), ptr(decay), ctypes.byref(end),
            ctypes.byref(noise), ctypes.byref(start), ctypes.byref(onset), ctypes.byref(peak))
        if status == -1:
            raise ArgumentError(f"band {band!r} cannot be evaluated (not among {self.bands}, or the response is "
                                f"too short for its filter)")
        decay_len = int(end.value) + 1 if end.value >= 0 else 0
        return Curves(level[:count.value], decay[:decay_len], -onset.value, noise.value, start.value, peak.value,
                      status, STATUS_TEXT.get(status, f"status {status}"))


def reverberation(response, rate, bands="octave", ranges=(0, 20, 30), sweep_seconds=0.0, tail_seconds=None,
                  low=None, high=None):
    """Reverberation times per band of one impulse response: a
    ``ReverberationTable`` (a list of ``BandReverberation``, one per band).

    ``bands`` 'octave' or 'third' (125 Hz (100 Hz) to 8 kHz unless ``low`` /
    ``high`` say otherwise); ``ranges`` the decay ranges in dB (0 is EDT, 20
    is T20, 30 is T30); ``sweep_seconds`` / ``tail_seconds`` as for
    ``Reverberation`` (None analyses the whole response). The response must be
    at 48 kHz (the band filters are fixed designs) unless scipy is installed,
    which resamples it."""
    with Reverberation(response, rate, sweep_seconds, tail_seconds, bands, low, high) as analysis:
        return analysis.table(ranges)


StiResult = collections.namedtuple("StiResult", "index mtf modulation_frequencies band_frequencies")


class Sti(Handle):
    """A speech transmission index analysis (indirect method) of an impulse
    response at 48 kHz: the 7 x 14 modulation transfer matrix ``mtf`` (octave
    bands 125 Hz..8 kHz by modulation frequencies 0.63..12.5 Hz) and
    ``index()``."""

    _delete = "deleteSpeechTransmissionIndex"
    _kind = "STI analysis"

    def __init__(self, response, rate):
        x = as_signal(response, "response")
        x, rate = _at_design_rate(x, float(rate), "response")
        self._own(lib().initSpeechTransmissionIndex(ptr(x), x.size, rate), "Sti")
        if lib().getModulationTransferFunction(self.handle, ptr(np.empty(14)), 7) != 0:
            self.close()
            raise NotReadyError("no modulation transfer matrix: the response is silent in a band or holds NaN "
                                "or infinite samples")

    @property
    def mtf(self):
        """Modulation transfer matrix, 7 bands x 14 modulation frequencies."""
        out = np.empty((7, 14))
        for i in range(7):
            lib().getModulationTransferFunction(self.handle, ptr(out[i]), 7 + i)
        return out

    def index(self, female=False, signal_db=None, noise_db=None):
        """The index with male (default) or female weights; with both
        ``signal_db`` and ``noise_db`` (7 octave levels each, 125 Hz..8 kHz) the
        modulation is first reduced by the noise."""
        use = signal_db is not None or noise_db is not None
        if use:
            if signal_db is None or noise_db is None:
                raise ArgumentError("give both signal_db and noise_db (7 octave levels each), or neither")
            for name, v, setter in (("signal_db", signal_db, lib().setSignalLevel),
                                    ("noise_db", noise_db, lib().setNoiseLevel)):
                a = np.ascontiguousarray(v, dtype=np.float64)
                if a.shape != (7,) or not np.all(np.isfinite(a)):
                    raise ArgumentError(f"{name} must be 7 finite levels in dB (125 Hz..8 kHz)")
                setter(self.handle, ptr(a))
        return float(lib().getSpeechTansmissionIndex(self.handle, not female, use))

    def filtered(self, band):
        """The padded response filtered through an STI octave band (7..13) or
        'A'/'C'/None and squared, continuing that band filter's state."""
        out = np.empty(lib().getImpulseSize(self.handle))
        if lib().getFilteredImpulse(self.handle, ptr(out), band_id(band)) != 0:
            raise ArgumentError(f"band must be an octave band 7..13, 'A', 'C' or None, not {band!r}")
        return out


def sti(response, rate, signal_db=None, noise_db=None, female=False):
    """Speech transmission index of an impulse response: (index, mtf 7 x 14,
    modulation_frequencies, band_frequencies). ``signal_db`` and ``noise_db``:
    octave-band speech and noise levels (7 values, 125 Hz..8 kHz) for the
    noise correction."""
    with Sti(response, rate) as a:
        return StiResult(a.index(female, signal_db, noise_db), a.mtf, STI_MODULATION_FREQUENCIES, STI_BANDS)
