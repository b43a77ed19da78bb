"""Audio files through the layer, and responses as the analyses take them."""

from __future__ import annotations

import ctypes
import numbers
import os
from typing import Iterator, List, Optional, Sequence, Tuple, Union

import numpy as np

from ._abi import tvm_audio, tvm_response
from ._layer import check, doubles, text, utf8_path
from ._library import ArgumentError, as_signal, layer, ptr

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class Audio:
    """One channel of an audio file.

    ``samples`` (float64, full scale +-1), ``rate`` in Hz, ``channels`` in the
    file, ``channel`` read (from 1), ``quantisation_step`` (2^-15 for 16-bit
    PCM, 0 for float files), ``format`` ("16-bit PCM", ...), ``path`` and
    ``name`` (the path as text). Unpacks as ``samples, rate = audio``."""

    __slots__ = ("samples", "rate", "channels", "channel", "quantisation_step", "format", "path", "_name")

    def __init__(self, samples: np.ndarray, rate: int, channels: int = 1, channel: int = 1,
                 quantisation_step: float = 0.0, format: str = "", path: Optional[PathLike] = None,
                 name: Optional[str] = None):
        self.samples, self.rate = samples, rate
        self.channels, self.channel = channels, channel
        self.quantisation_step, self.format, self.path = quantisation_step, format, path
        self._name = name

    @property
    def name(self) -> str:
        """The name analyses report: given, else the path, else "response"."""
        if self._name is not None:
            return self._name
        return os.fsdecode(self.path) if self.path is not None else "response"

    @property
    def duration(self) -> float:
        """Seconds."""
        return self.samples.size / self.rate

    def __iter__(self) -> Iterator:
        return iter((self.samples, self.rate))

    def __repr__(self) -> str:
        return (f"Audio({self.name!r}, {self.samples.size} samples at {self.rate} Hz, {self.format or 'array'}, "
                f"channel {self.channel} of {self.channels})")


def read_audio(path: PathLike, channel: Optional[int] = None) -> Audio:
    """Reads one channel of an audio file (WAV of any layout, FLAC, ...).
    ``channel`` counts from 1; None reads a mono file and refuses a
    multichannel one with a message naming its channels."""
    out = ctypes.POINTER(tvm_audio)()
    L = layer()
    check(L.tvm_read_audio(utf8_path(path), _channel(channel), ctypes.byref(out)))
    try:
        a = out.contents
        return Audio(doubles(a.samples, a.frames), int(a.sample_rate), int(a.channels), int(a.channel),
                     float(a.quantisation_step), text(a.format), path)
    finally:
        L.tvm_free_audio(out)


def read_wav(path: PathLike, channel: Optional[int] = None) -> Audio:
    """The older name of ``read_audio`` (any format the layer reads, not only WAV)."""
    return read_audio(path, channel)


def _channel(channel: Optional[int]) -> int:
    if channel is None:
        return 0
    if isinstance(channel, bool) or not isinstance(channel, numbers.Integral) or channel < 1:
        raise ArgumentError(f"channel counts from 1 (1 = first), not {channel!r}")
    return int(channel)


def _rate(rate) -> int:
    try:
        value = float(rate)
    except (TypeError, ValueError):
        raise ArgumentError(f"rate must be a whole number of hertz, not {rate!r}") from None
    if not value.is_integer():
        raise ArgumentError(f"rate must be a whole number of hertz, not {rate!r}")
    return int(value)


def as_audio(response, rate=None, *, channel: Optional[int] = None, quantisation_step: Optional[float] = None,
             name: Optional[str] = None) -> Audio:
    """One response as Audio: an Audio as it is, a path read, an array at ``rate``."""
    if isinstance(response, Audio):
        audio = response
    elif isinstance(response, (str, bytes, os.PathLike)):
        audio = read_audio(response, channel)
    else:
        if rate is None:
            raise ArgumentError("an array needs its sample rate: pass rate=... in Hz")
        raw = response if isinstance(response, np.ndarray) else np.asarray(response, dtype=np.float64)
        step = {np.dtype(np.int16): 2.0**-15, np.dtype(np.int32): 2.0**-31}.get(raw.dtype, 0.0)
        audio = Audio(as_signal(raw, "response", allow_empty=True), _rate(rate), quantisation_step=step)
        rate = None
    if rate is not None and _rate(rate) != audio.rate:
        raise ArgumentError(f"{audio.name} is sampled at {audio.rate} Hz, not at the rate={rate} given")
    if quantisation_step is not None or name is not None:
        audio = Audio(audio.samples, audio.rate, audio.channels, audio.channel,
                      audio.quantisation_step if quantisation_step is None else float(quantisation_step),
                      audio.format, audio.path, audio._name if name is None else name)
    return audio


def responses(response, rate=None, *, channel: Optional[int] = None, quantisation_step: Optional[float] = None,
              name: Union[None, str, Sequence[str]] = None) -> Tuple[ctypes.Array, List[np.ndarray]]:
    """The responses of one analysis as a tvm_response array, and the arrays
    that hold their samples (keep them alive during the call). A list or
    tuple of responses (not of numbers) is several positions."""
    several = isinstance(response, (list, tuple)) and not all(isinstance(v, numbers.Real) for v in response)
    items = list(response) if several else [response]
    if not items:
        raise ArgumentError("no responses given")
    names = list(name) if several and name is not None and not isinstance(name, str) else [name] * len(items)
    if len(names) != len(items):
        raise ArgumentError(f"{len(items)} responses but {len(names)} names")
    audios = []
    for i, (item, n) in enumerate(zip(items, names)):
        if n is None and several and not isinstance(item, (Audio, str, bytes, os.PathLike)):
            n = f"response {i + 1}"
        audios.append(as_audio(item, rate, channel=channel, quantisation_step=quantisation_step, name=n))
    array = (tvm_response * len(audios))()
    kept = []
    for r, a in zip(array, audios):
        samples = as_signal(a.samples, "response", allow_empty=True)
        kept.append(samples)
        r.name = a.name.encode("utf-8", "surrogateescape")
        r.samples = ptr(samples)
        r.length = samples.size
        r.sample_rate = _rate(a.rate)
        r.quantisation_step = float(a.quantisation_step)
        r.channel, r.channels = int(a.channel), int(a.channels)
    return array, kept
