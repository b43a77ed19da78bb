"""Sweeps and impulse responses, filter banks, spectra and files: libtavrix's
own objects, each call made under the library lock."""

from __future__ import annotations

import collections
import os
from typing import List, Optional, Sequence, Union

import numpy as np

from ._audio import Audio, read_audio
from ._library import (
    BAD_POINTS_PER_OCTAVE,
    BAND_A,
    BAND_C,
    BAND_UNFILTERED,
    UNSUPPORTED_FORMAT,
    ArgumentError,
    FileError,
    Handle,
    NotReadyError,
    as_signal,
    encode_path,
    lib,
    locked,
    ptr,
)

# Filter-bank resolutions: name -> (resolution, first band, last band, bands per octave).
RESOLUTIONS = {
    "octave": (1, 4, 14, 1),
    "third": (2, 12, 43, 3),
    "twelfth": (3, 49, 174, 12),
    "24th": (4, 112, 348, 24),
}
_WEIGHTINGS = {"A": BAND_A, "C": BAND_C, "Z": BAND_UNFILTERED, None: BAND_UNFILTERED}

Spectrum = collections.namedtuple("Spectrum", "frequency level_db")
Response = collections.namedtuple("Response", "frequency level_db phase_deg")

Band = Union[int, str, None]


def band_frequency(bands: str, band: int) -> float:
    """Exact mid-band frequency in Hz of band number ``band`` of a filter bank
    (octave band 10 and third-octave band 30 are 1 kHz; base-ten octaves)."""
    b = _resolution(bands)[3]
    offset = 0.0 if b <= 3 else 0.5
    return 1000.0 * 10 ** (0.3 * (band - 10 * b - offset) / b)


def _resolution(bands: str):
    if bands not in RESOLUTIONS:
        raise ArgumentError(f"bands must be one of {', '.join(map(repr, RESOLUTIONS))}, not {bands!r}")
    return RESOLUTIONS[bands]


def band_id(band: Band) -> int:
    """A band number, or 'A' / 'C' for the weightings and None (or 'Z') for no filter."""
    if isinstance(band, str) or band is None:
        if band not in _WEIGHTINGS:
            raise ArgumentError(f"band must be a band number, 'A', 'C' or None, not {band!r}")
        return _WEIGHTINGS[band]
    return int(band)


class FilterBank(Handle):
    """Fractional-octave band filters with A- and C-weighting (fixed 48 kHz designs).

    ``FilterBank("third", first=17, last=40)``: bands as numbers (octave band
    10 and third-octave band 30 are 1 kHz; ``bank.bands`` lists them, and
    ``bank.frequencies`` their mid-band frequencies). Each band keeps its
    filter state between calls, so a long signal may be filtered block by
    block; make a new bank for an unrelated signal. At sample rates other than
    48 kHz every band moves with the rate (f * rate / 48000)."""

    _delete = "deleteFilterBank"
    _kind = "filter bank"

    def __init__(self, bands: str = "octave", first: Optional[int] = None, last: Optional[int] = None):
        resolution, lo, hi, _ = _resolution(bands)
        self.resolution = bands
        first = lo if first is None else int(first)
        last = hi if last is None else int(last)
        if not lo <= first <= last <= hi:
            raise ArgumentError(f"{bands} bands run from {lo} to {hi}; got first={first}, last={last}")
        self._own(lib().initFilterBank(resolution, first, last), "FilterBank")
        self.bands: List[int] = list(range(first, last + 1))

    @property
    def frequencies(self) -> np.ndarray:
        """Mid-band frequencies in Hz of ``bands``."""
        return np.array([band_frequency(self.resolution, b) for b in self.bands])

    def filter(self, x, band: Band, reverse: bool = False) -> np.ndarray:
        """``x`` filtered through ``band`` (a band number, 'A', 'C' or None), as a
        new array; ``reverse=True`` runs the filter from the last sample to the first."""
        y = as_signal(x, "x", allow_empty=True).copy()
        fn = lib().filterSingleBandReverse if reverse else lib().filterSingleBand
        if fn(self.handle, ptr(y), y.size, band_id(band)) != 0:
            raise ArgumentError(
                f"band {band!r} is not in this bank (bands {self.bands[0]}..{self.bands[-1]}, 'A', 'C', None)")
        return y

    def step_delay(self, band: int) -> int:
        """The band's delay in samples at 48 kHz (used to align time-reversed filtering)."""
        d = lib().getStepDelay(self.handle, int(band))
        if d < 0:
            raise ArgumentError(f"band {band!r} is not in this bank")
        return d


class Sweep(Handle):
    """An exponential sine sweep and the impulse responses measured with it.

    ``Sweep(rate=48000, start=20, stop=20000, seconds=10, tail=2, fade=True)``
    synthesises the sweep (``samples``); ``write(path, gain_db)`` writes the
    playback file (0.2 s of silence, the sweep, tail + 1 s of silence, 16-bit);
    ``impulse_response(recording)`` deconvolves a recording of it (an array at
    the sweep's rate, or an audio file) into the room's impulse response."""

    _delete = "deleteImpulse"
    _kind = "impulse measurement"

    def __init__(self, rate: float = 48000, start: float = 20.0, stop: float = 20000.0, seconds: float = 10.0,
                 tail: float = 2.0, fade: bool = True):
        L = lib()
        with locked():
            self._own(L.initImpulse(), "Sweep")
            L.setESSFade(self.handle, bool(fade))
            n = L.generateESS(self.handle, float(rate), float(start), float(stop), float(seconds), float(tail))
        if n < 0:
            self.close()
            raise ArgumentError(
                f"cannot make a sweep from {start} Hz to {stop} Hz over {seconds} s at {rate} Hz with a "
                f"{tail} s tail: need 0 < start < stop <= rate/2, 0 < seconds <= 180, 1 <= tail <= 32"
            )
        self.rate, self.start, self.stop, self.seconds, self.tail = float(rate), start, stop, seconds, tail

    @property
    def samples(self) -> np.ndarray:
        """The sweep, full scale +-1."""
        with locked():
            out = np.empty(lib().getESSSize(self.handle))
            lib().getESS(self.handle, ptr(out))
        return out

    def write(self, path, gain_db: float = 0.0) -> None:
        """Writes the playback file (16-bit WAV; a positive gain wraps around, so it is refused)."""
        if not np.isfinite(gain_db) or gain_db > 0:
            raise ArgumentError(f"gain_db must be finite and at most 0 dB, not {gain_db}")
        if lib().getESSFile(self.handle, encode_path(path), float(gain_db)) != 0:
            raise FileError(f"{os.fspath(path)}: cannot be written")

    def impulse_response(self, recording, gain_db: float = 0.0, *, channel: Optional[int] = None) -> np.ndarray:
        """Deconvolves a recording and returns the impulse response (a power of
        two of samples; the distortion products wrap to its end). The
        recording: an array at the sweep's rate, an ``Audio``, or an audio
        file (``channel`` chooses in a multichannel one); ``gain_db`` scales it."""
        if isinstance(recording, (str, bytes, os.PathLike)):
            recording = read_audio(recording, channel)
        if isinstance(recording, Audio):
            if recording.rate != self.rate:
                raise ArgumentError(f"{recording.name} is sampled at {recording.rate} Hz, the sweep at "
                                    f"{self.rate:g} Hz")
            recording = recording.samples
        x = as_signal(recording, "recording")
        if gain_db:
            x = x * 10 ** (float(gain_db) / 20)
        with locked():
            if lib().processInputSignal(self.handle, ptr(x), x.size) < 0:
                raise ArgumentError(
                    f"the recording ({x.size} samples) must be at least as long as the sweep "
                    f"({lib().getESSSize(self.handle)} samples) and shorter than 2^29 samples"
                )
            return self.response

    def distortion(self, harmonics: Sequence[int] = (2, 5)):
        """Harmonic distortion per third octave from the last impulse response
        (``tavrix.distortion``)."""
        from ._distortion import distortion

        return distortion(self.response, self.rate, self.start, self.stop, self.seconds, harmonics)

    def _nfft(self) -> int:
        n = lib().getNFFT(self.handle)
        if n < 0:
            raise NotReadyError("no impulse response yet: call impulse_response(recording) first")
        return n

    @property
    def response(self) -> np.ndarray:
        """The last impulse response."""
        with locked():
            out = np.empty(self._nfft())
            lib().getImpulseResponse(self.handle, ptr(out))
        return out

    def envelope(self, band: Band = None, bands: str = "octave") -> np.ndarray:
        """Hilbert envelope of the response, broadband (``band=None``) or of one
        band of ``bands`` (filtered time-reversed from rest)."""
        with locked():
            out = np.empty(self._nfft())
            if band is None:
                lib().getImpulseResponseHilbert(self.handle, ptr(out))
            else:
                self._bank(bands)
                if lib().getFilteredImpulseResponseHilbert(self.handle, ptr(out), band_id(band)) != 0:
                    raise ArgumentError(f"band {band!r} is not a {bands} band")
        return out

    def band_response(self, band: Band, bands: str = "octave") -> np.ndarray:
        """The response filtered time-reversed, from rest, through one band (or 'A'/'C')."""
        with locked():
            out = np.empty(self._nfft())
            self._bank(bands)
            if lib().getFilteredImpulseResponse(self.handle, ptr(out), band_id(band)) != 0:
                raise ArgumentError(f"band {band!r} is not a {bands} band")
        return out

    def _bank(self, bands: str) -> None:
        resolution, lo, hi, _ = _resolution(bands)
        lib().initImpulseResponseFunctionGenerator(self.handle, resolution, lo, hi)

    def write_response(self, path) -> None:
        """Writes the impulse response as a 32-bit float WAV file."""
        self._nfft()  # raises without a response
        if lib().getImpulseResponseFile(self.handle, encode_path(path)) != 0:
            raise FileError(f"{os.fspath(path)}: cannot be written")

    def calibrate(self, recording, reference=None, window: float = 0.1) -> np.ndarray:
        """Microphone calibration: deconvolves ``recording`` (against the sweep,
        or against ``reference`` recorded on a second channel at the same
        time) and gates the response with a window of half-width ``window`` s
        around its peak. Read the result with ``magnitude_response()`` and
        ``octave_response()``."""
        L = lib()
        x = as_signal(recording, "recording")
        r = None if reference is None else as_signal(reference, "reference")
        if r is not None and r.size != x.size:
            raise ArgumentError("reference and recording must have the same length")
        with locked():
            if L.setButterworthWindowWidth(self.handle, float(window)) != 0:
                raise ArgumentError(f"window must be a positive number of seconds, not {window}")
            if r is None:
                n = L.processInputSignalForMicCal(self.handle, ptr(x), x.size)
            else:
                n = L.processInputSignalForMicCalTwoCh(self.handle, ptr(r), ptr(x), x.size)
            if n < 0:
                raise ArgumentError("the recording must be at least as long as the sweep")
            return self.response

    def magnitude_response(self, reference_hz: float = 0.0) -> Spectrum:
        """Narrow-band magnitude response (frequency, level_db); levels relative
        to the bin nearest ``reference_hz`` unless it is 0."""
        with locked():
            m = self._nfft() // 2 + 1
            level, freq = np.empty(m), np.empty(m)
            if lib().getMagnitudeResponseForMicCal(self.handle, ptr(level), ptr(freq), float(reference_hz)) != 0:
                raise ArgumentError(f"reference_hz must be finite, not {reference_hz}")
        return Spectrum(freq, level)

    def octave_response(self, points_per_octave: int = 3, reference_hz: float = 0.0,
                        average: bool = True) -> Response:
        """Magnitude and phase at ``points_per_octave`` (3, 6, 12, 24) points per
        octave from 20 Hz (sample rates 48, 96 or 192 kHz): (frequency, level_db, phase_deg)."""
        L = lib()
        m = 12 * int(points_per_octave) + 1
        level, phase, freq = np.empty(m), np.empty(m), np.empty(m)
        with locked():
            L.setAverageFFTtoOctaveFraction(self.handle, bool(average))
            r = L.getFractionalOctaveMagnitudeResponseForMicCal(
                self.handle, ptr(level), ptr(freq), float(reference_hz), int(points_per_octave))
            if r == BAD_POINTS_PER_OCTAVE:
                raise ArgumentError(f"points_per_octave must be 3, 6, 12 or 24, not {points_per_octave}")
            if r != 0:
                raise ArgumentError(
                    "fractional-octave responses need a rate of 48, 96 or 192 kHz and a finite reference_hz")
            L.getFractionalOctavePhaseResponseForMicCal(
                self.handle, ptr(phase), ptr(freq), float(reference_hz), int(points_per_octave))
        count = {48000: 10, 96000: 11, 192000: 12}[int(self.rate)] * int(points_per_octave) + 1
        return Response(freq[:count], level[:count], phase[:count])


def spectrum(block, rate: float = 48000.0) -> Spectrum:
    """Power spectrum in dB of 65536 samples through a Hann window:
    (frequency, level_db) at the 32769 bins k * rate / 65536. The window gain is
    not corrected (a full-scale sine on a bin reads -6.02 dB)."""
    x = as_signal(block, "block")
    if x.size != 65536:
        raise ArgumentError(f"block must hold 65536 samples, not {x.size}")
    x = x.copy()
    with _FftAnalysis() as a:
        lib().fftStep(a.handle, ptr(x))
    return Spectrum(np.arange(32769) * (float(rate) / 65536), x[:32769])


class _FftAnalysis(Handle):
    _delete = "deleteFftAnalysis"
    _kind = "FFT analysis"

    def __init__(self):
        self._own(lib().initFftAnalysis(), "spectrum")


def _require_file(path) -> None:
    if not os.path.exists(path):
        raise FileError(f"{os.fspath(path)}: no such file")


def write_wav(path, samples, rate: int) -> None:
    """Writes mono 16-bit PCM (full scale maps to 0.99 of the 16-bit range).
    Samples beyond full scale would wrap around and are refused."""
    x = as_signal(samples, "samples", allow_empty=True)
    if x.size and np.max(np.abs(np.nan_to_num(x))) > 1.0 / 0.99:
        raise ArgumentError("samples beyond full scale (+-1) would wrap around in 16 bits; scale them down")
    if int(rate) < 1:
        raise ArgumentError(f"rate must be at least 1 Hz, not {rate}")
    if lib().writeWaveFile(encode_path(path), ptr(x), x.size, int(rate)) != 0:
        raise FileError(f"{os.fspath(path)}: cannot be written")


def calibrate_wav(source, target, sensitivity_db: float, gain_db: float = 0.0, adjust_db: float = 0.0,
                  trim: float = 0.0, high_correction: bool = False, uff: bool = False) -> None:
    """Converts a WAV recording to pascals (microphone sensitivity in dB re
    1 V/Pa, recorder gain in dB) and writes it as float WAV or, with
    ``uff=True``, as a universal file format dataset 58 (binary)."""
    _require_file(source)
    r = lib().createCalibratedWaveFile(
        encode_path(source), encode_path(target), float(sensitivity_db), float(adjust_db),
        float(gain_db), float(trim), 0.0, bool(high_correction), bool(uff))
    if r == UNSUPPORTED_FORMAT:
        raise FileError(f"{os.fspath(source)}: unsupported WAV format tag", r)
    if r != 0:
        raise ArgumentError(
            f"cannot calibrate {os.fspath(source)} into {os.fspath(target)}: levels must be finite, "
            f"gain_db above -6 dB, the input a readable mono WAV and the output writable", r)
