"""Harmonic distortion from the response of an exponential sine sweep.

A memoryless distortion turns the sweep sin(phi(t)) into harmonics
sin(k phi(t)); for an exponential sweep k phi(t) is the sweep advanced by
dt_k = T ln k / ln(f2 / f1), so the deconvolution puts harmonic k's response
dt_k before the linear one, wrapped around the end of the array. The band
energy of harmonic k's spectrum at k f over the linear one's at f is the
harmonic's level re the fundamental at excitation frequency f. The same
method as the command-line tool's ``ir --distortion``."""

import collections
import math

import numpy as np

from ._library import ArgumentError

# Part of each window before the response's start, at most 5 ms (a tenth of
# the window), and the raised-cosine fade over the window's last tenth.
_LEAD_SECONDS, _LEAD_SHARE, _FADE_SHARE = 0.005, 0.1, 0.1
# The shortest window (20 ms resolve third octaves from about 650 Hz up) and
# the frequency bins a band needs.
_MIN_WINDOW_SECONDS, _MIN_BINS = 0.020, 3
# Third octaves of the library's numbering, 12 (16 Hz) to 43 (20 kHz).
_THIRDS = range(12, 44)

DistortionBand = collections.namedtuple("DistortionBand", "band frequency harmonics_db thd_percent")


def _band_mean(power, bin_hz, low, high):
    first, last = math.ceil(low / bin_hz), min(power.size, math.ceil(high / bin_hz))
    return float(np.mean(power[first:last])) if last >= first + _MIN_BINS else math.nan


def distortion(response, rate, start, stop, seconds, harmonics=(2, 5)):
    """Per third octave of the fundamental (those inside ``start``..``stop``
    Hz): a ``DistortionBand`` with ``harmonics_db`` {k: level of harmonic k
    re the fundamental in dB, NaN where k f lies above ``stop``} and
    ``thd_percent`` = 100 sqrt(sum of their energy ratios) (NaN when one is
    missing). ``harmonics`` = (first, last), 2 <= first <= last <= 10."""
    first, last = (int(v) for v in harmonics)
    if not 2 <= first <= last <= 10:
        raise ArgumentError(f"harmonics must be (first, last) with 2 <= first <= last <= 10, not {harmonics}")
    h = np.asarray(response, dtype=np.float64)
    n = h.size

    def advance(k):
        return seconds * math.log(k) / math.log(stop / start) * rate

    gap = advance(last) - advance(last - 1)
    if gap < _MIN_WINDOW_SECONDS * rate or advance(last) + gap >= n:
        raise ArgumentError(f"harmonic {last} does not fit the response (it lies {advance(last) / rate:.3f} s "
                            f"before the linear one, {gap / rate:.3f} s from its neighbour); ask for fewer")
    length = int(gap)
    lead = int(min(_LEAD_SECONDS * rate, _LEAD_SHARE * gap))
    fade = max(1, int(_FADE_SHARE * length))
    window = np.ones(length)
    window[:lead] = 0.5 * (1 - np.cos(np.pi * (np.arange(lead) + 0.5) / lead))
    window[length - fade:] = (0.5 * (1 - np.cos(np.pi * (np.arange(fade) + 0.5) / fade)))[::-1]
    size = 1 << (length - 1).bit_length()
    bin_hz = rate / size
    peak = int(np.argmax(np.abs(h)))
    spectra = {}
    for k in [1] + list(range(first, last + 1)):
        begin = round(peak - (0 if k == 1 else advance(k)) - lead)
        cut = h[(begin + np.arange(length)) % n] * window
        spectra[k] = np.abs(np.fft.rfft(cut, size)) ** 2
    top = min(stop, rate / 2)
    half = 10 ** 0.05
    bands = []
    for band in _THIRDS:
        mid = 1000 * 10 ** ((band - 30) / 10)
        low, high = mid / half, mid * half
        if low < start or high > top:
            continue
        fundamental = _band_mean(spectra[1], bin_hz, low, high)
        if not fundamental > 0:
            continue
        ratios = {k: (_band_mean(spectra[k], bin_hz, k * low, k * high) if k * high <= top else math.nan) / fundamental
                  for k in range(first, last + 1)}
        with np.errstate(divide="ignore"):
            levels = {k: float(10 * np.log10(r)) for k, r in ratios.items()}
        bands.append(DistortionBand(band, mid, levels, 100 * math.sqrt(sum(ratios.values()))))
    return bands
