"""Loading the shared libraries, the lock around libtavrix, errors and argument conversion.

Two libraries are loaded: the measurement layer libtavrix-measure (every
analysis, see ``_layer``) and, through it, libtavrix itself, whose objects
(sweeps, filter banks, FFT blocks) this package also uses directly. libtavrix
has no locks of its own; the layer serialises its use behind one recursive
process-wide lock, and every direct call made here takes the same lock.
"""

from __future__ import annotations

import contextlib
import ctypes
import ctypes.util
import glob
import os
import sys
import threading
import weakref
from typing import Iterator, List, Optional, Tuple

import numpy as np

from ._abi import declare

# Results the exports return (tavrix.h).
OK = 0
FAILED = -1
BAD_POINTS_PER_OCTAVE = -2
UNSUPPORTED_FORMAT = -10
BAD_RANGE = -11
NO_DECAY = -30
NO_CROSSPOINT = -31
NO_TAIL_FIT = -32
TOO_SHORT = -33

BAND_A = 100000
BAND_C = 100001
BAND_UNFILTERED = 100002

MAX_SAMPLES = 2**31 - 1


class TavrixError(Exception):
    """A call into the library failed; ``code`` is the value it returned."""

    def __init__(self, message: str, code: int = FAILED):
        super().__init__(message)
        self.code = code


class ArgumentError(TavrixError, ValueError):
    """An argument the library (or this package, before calling it) refuses."""


class FileError(TavrixError, OSError):
    """A file that cannot be read, written or understood."""


class NotReadyError(TavrixError):
    """An analysis whose input could not be prepared, so it cannot be evaluated."""


class TableFullError(TavrixError):
    """All 255 slots of an object table are taken."""


class LibraryNotFoundError(OSError):
    """No usable libtavrix-measure / libtavrix could be loaded."""


_C = ctypes
_i32 = _C.c_int32
_dbl = _C.c_double
_pd = _C.POINTER(_C.c_double)
_pi = _C.POINTER(_C.c_int32)
_path = _C.c_char_p  # UTF-16 code units, null-terminated
_bool = _C.c_bool

# name: (result, argument types); the complete interface of tavrix.h.
_PROTOTYPES = {
    "initTavrix": (_i32, []),
    "log2": (_dbl, [_dbl]),
    "deleteDouble": (_i32, [_pd]),
    "initFilterBank": (_i32, [_i32, _i32, _i32]),
    "filterSingleBand": (_i32, [_i32, _pd, _i32, _i32]),
    "filterSingleBandReverse": (_i32, [_i32, _pd, _i32, _i32]),
    "getStepDelay": (_i32, [_i32, _i32]),
    "deleteFilterBank": (_i32, [_i32]),
    "initImpulse": (_i32, []),
    "setESSFade": (_i32, [_i32, _bool]),
    "generateESS": (_i32, [_i32, _dbl, _dbl, _dbl, _dbl, _dbl]),
    "getESSSize": (_i32, [_i32]),
    "getESS": (_i32, [_i32, _pd]),
    "getESSFile": (_i32, [_i32, _path, _dbl]),
    "processInputSignal": (_i32, [_i32, _pd, _i32]),
    "processInputSignalFile": (_i32, [_i32, _path, _dbl]),
    "getImpulseResponse": (_i32, [_i32, _pd]),
    "getNFFT": (_i32, [_i32]),
    "getImpulseResponseFile": (_i32, [_i32, _path]),
    "loadImpulseResponseFromFile": (_i32, []),
    "getImpulseResponseHilbert": (_i32, [_i32, _pd]),
    "initImpulseResponseFunctionGenerator": (_i32, [_i32, _i32, _i32, _i32]),
    "getFilteredImpulseResponse": (_i32, [_i32, _pd, _i32]),
    "getFilteredImpulseResponseHilbert": (_i32, [_i32, _pd, _i32]),
    "deleteImpulse": (_i32, [_i32]),
    "setButterworthWindowWidth": (_i32, [_i32, _dbl]),
    "setAverageFFTtoOctaveFraction": (_i32, [_i32, _bool]),
    "processInputSignalForMicCal": (_i32, [_i32, _pd, _i32]),
    "processInputSignalForMicCalTwoCh": (_i32, [_i32, _pd, _pd, _i32]),
    "getMagnitudeResponseForMicCal": (_i32, [_i32, _pd, _pd, _dbl]),
    "getFractionalOctaveMagnitudeResponseForMicCal": (_i32, [_i32, _pd, _pd, _dbl, _i32]),
    "getFractionalOctavePhaseResponseForMicCal": (_i32, [_i32, _pd, _pd, _dbl, _i32]),
    "initReverberation": (_i32, [_pd, _i32, _dbl, _dbl, _dbl]),
    "initReverberationWithFile": (_i32, [_path, _dbl, _dbl]),
    "initReverberationEnsemble": (_i32, [_pi, _i32]),
    "getMaxImpulseLength": (_i32, [_i32]),
    "initReverberationFilter": (_i32, [_i32, _i32, _i32, _i32]),
    "getReverberationData": (
        _i32,
        [_i32, _i32, _pd, _i32, _i32, _pd, _pi, _pd, _pd, _pd, _pd, _pd, _pd, _pd, _pd, _pi, _pd],
    ),
    "getReverberationDataLevel": (_i32, [_i32, _i32, _i32, _pd, _pi, _pd, _pd, _pd, _pd, _pi, _pd]),
    "deleteReverberation": (_i32, [_i32]),
    "initSpeechTransmissionIndex": (_i32, [_pd, _i32, _dbl]),
    "initSpeechTransmissionIndexWithFile": (_i32, [_path]),
    "getImpulseSize": (_i32, [_i32]),
    "getFilteredImpulse": (_i32, [_i32, _pd, _i32]),
    "getModulationTransferFunction": (_i32, [_i32, _pd, _i32]),
    "setNoiseLevel": (_i32, [_i32, _pd]),
    "setSignalLevel": (_i32, [_i32, _pd]),
    "getSpeechTansmissionIndex": (_dbl, [_i32, _bool, _bool]),
    "deleteSpeechTransmissionIndex": (_i32, [_i32]),
    "initFftAnalysis": (_i32, []),
    "fftStep": (_i32, [_i32, _pd]),
    "deleteFftAnalysis": (_i32, [_i32]),
    "writeWaveFile": (_i32, [_path, _pd, _i32, _i32]),
    "readWaveFile": (_i32, [_path, _C.POINTER(_pd), _pd, _pi]),
    "createCalibratedWaveFile": (
        _i32,
        [_path, _path, _dbl, _dbl, _dbl, _dbl, _dbl, _bool, _bool],
    ),
}

if sys.platform == "win32":
    _NAMES = ["tavrix.dll"]
    _LAYER_NAMES = ["tavrix-measure.dll"]
elif sys.platform == "darwin":
    _NAMES = ["libtavrix.0.dylib", "libtavrix.dylib"]
    _LAYER_NAMES = ["libtavrix-measure.0.dylib", "libtavrix-measure.dylib"]
else:
    _NAMES = ["libtavrix.so.0", "libtavrix.so"]
    _LAYER_NAMES = ["libtavrix-measure.so.0", "libtavrix-measure.so"]

_HERE = os.path.dirname(os.path.abspath(__file__))


def _builds() -> List[str]:
    """The build directories of the source tree this package lies in (python/tavrix/)."""
    root = os.path.dirname(os.path.dirname(_HERE))
    # An instrumented (sanitizer) build cannot be loaded into python.
    return [b for b in sorted(glob.glob(os.path.join(root, "build*"))) if "asan" not in os.path.basename(b)]


def _layer_candidates() -> Iterator[Tuple[str, str]]:
    explicit = os.environ.get("TAVRIX_MEASURE_LIBRARY")
    if explicit:
        yield explicit, "TAVRIX_MEASURE_LIBRARY"
        return
    beside = os.environ.get("TAVRIX_LIBRARY")
    if beside:
        where = os.path.dirname(os.path.abspath(beside))
        for folder in (os.path.join(where, "measure"), where):
            for name in _LAYER_NAMES:
                yield os.path.join(folder, name), "beside TAVRIX_LIBRARY"
    for name in _LAYER_NAMES:
        yield os.path.join(_HERE, name), "next to the package"
    for build in _builds():
        for name in _LAYER_NAMES:
            yield os.path.join(build, "measure", name), "build tree"
    found = ctypes.util.find_library("tavrix-measure")
    for name in ([found] if found else []) + _LAYER_NAMES:
        yield name, "system library path"


def _library_candidates() -> Iterator[Tuple[str, str]]:
    explicit = os.environ.get("TAVRIX_LIBRARY")
    if explicit:
        yield explicit, "TAVRIX_LIBRARY"
        return
    # Already in the process as the layer's dependency: the same copy.
    for name in _NAMES:
        yield name, "by name, as the layer's dependency"
    for name in _NAMES:
        yield os.path.join(_HERE, name), "next to the package"
    for build in _builds():
        for name in _NAMES:
            yield os.path.join(build, name), "build tree"
    found = ctypes.util.find_library("tavrix")
    for name in ([found] if found else []) + _NAMES:
        yield name, "system library path"


def _open(candidates, tried: List[str], declare):
    for path, origin in candidates:
        if os.sep in path and not os.path.exists(path):
            tried.append(f"  {path} ({origin}): no such file")
            continue
        try:
            return declare(ctypes.CDLL(path)), path
        except (OSError, AttributeError) as e:
            tried.append(f"  {path} ({origin}): {e}")
    return None, None


def _locked(fn, lock, unlock):
    def call(*args):
        lock()
        try:
            return fn(*args)
        finally:
            unlock()

    call.__name__ = fn.__name__
    return call


class _Library:
    """libtavrix's exports as attributes; each call holds the layer's lock."""

    def __init__(self, cdll, layer):
        for name, (restype, argtypes) in _PROTOTYPES.items():
            fn = getattr(cdll, name)
            fn.restype = restype
            fn.argtypes = argtypes
            setattr(self, name, _locked(fn, layer.tvm_lock_library, layer.tvm_unlock_library))


_load_guard = threading.Lock()
_loaded: Optional[_Library] = None
_layer = None
_paths = {}


def _load() -> None:
    global _loaded, _layer

    tried_layer: List[str] = []
    layer, layer_path = _open(_layer_candidates(), tried_layer, declare)
    tried_lib: List[str] = []
    library, library_path_ = _open(_library_candidates(), tried_lib, lambda cdll: cdll)
    if layer is None:
        if library is not None:
            tried_lib.append(f"  {library_path_}: loaded")
        found = (f"libtavrix loads ({library_path_}), but the measurement layer libtavrix-measure does not"
                 if library else "neither the measurement layer libtavrix-measure nor libtavrix loads")
        raise LibraryNotFoundError(
            f"cannot load the Tavrix libraries: {found}.\n"
            "libtavrix-measure, tried:\n" + "\n".join(tried_layer) + "\nlibtavrix, tried:\n" + "\n".join(tried_lib) +
            "\nset TAVRIX_MEASURE_LIBRARY to the path of libtavrix-measure.so (and TAVRIX_LIBRARY to that of "
            "libtavrix.so), build the project (make build) or install it (make package; apt-get install "
            "./build/tavrix_*.deb)")
    if library is None:
        raise LibraryNotFoundError(
            f"libtavrix-measure loaded from {layer_path}, but libtavrix could not be; tried:\n" + "\n".join(tried_lib)
            + "\nset TAVRIX_LIBRARY to the path of libtavrix.so (or tavrix.dll)")
    try:
        wrapped = _Library(library, layer)
    except AttributeError as e:
        raise LibraryNotFoundError(f"{library_path_} is not a complete libtavrix: {e}") from None
    wrapped.initTavrix()
    _paths["layer"] = _resolved(layer_path)
    _paths["library"] = _resolved(library_path_)
    _layer, _loaded = layer, wrapped


def _resolved(path: str) -> str:
    """The file a library loaded by name came from (Linux), else the name."""
    if os.sep in path or not os.path.exists("/proc/self/maps"):
        return path
    with open("/proc/self/maps") as maps:
        for line in maps:
            file = line.split(maxsplit=5)[-1].strip()
            if os.path.basename(file) == path or os.path.basename(file).startswith(path + "."):
                return file
    return path


def lib() -> _Library:
    """libtavrix (loaded with the layer and started on first use); every
    function of the returned object holds the library lock while it runs."""
    if _loaded is None:
        with _load_guard:
            if _loaded is None:
                _load()
    return _loaded


def layer():
    """The measurement layer's ctypes library (prototypes declared)."""
    lib()
    return _layer


@contextlib.contextmanager
def locked():
    """Holds the library lock over several direct calls that belong together."""
    L = layer()
    L.tvm_lock_library()
    try:
        yield
    finally:
        L.tvm_unlock_library()


def library_path() -> str:
    """The file libtavrix was loaded from."""
    lib()
    return _paths["library"]


def layer_path() -> str:
    """The file libtavrix-measure was loaded from."""
    lib()
    return _paths["layer"]


def encode_path(path) -> bytes:
    """A path as the null-terminated UTF-16 that libtavrix takes."""
    text = os.fsdecode(os.fspath(path))
    return text.encode("utf-16-le", "surrogatepass") + b"\0\0"


def as_signal(x, name: str = "signal", allow_empty: bool = False) -> np.ndarray:
    """One channel as a contiguous float64 array, full scale +-1.

    Floats of any precision are taken as they are; int16 and int32 PCM are
    scaled by 2^15 and 2^31. A 2-D array is refused (choose a channel)."""
    a = np.asarray(x) if isinstance(x, np.ndarray) else np.asarray(x, dtype=np.float64)
    if a.ndim == 2:
        axis = 0 if a.shape[0] < a.shape[1] else 1
        raise ArgumentError(
            f"{name} has shape {a.shape}: pass one channel as a 1-D array; the channels seem to run "
            f"along axis {axis}, so take for example {name}[{':, ' if axis == 1 else ''}0]"
        )
    if a.ndim != 1:
        raise ArgumentError(f"{name} must be a 1-D array of samples, not {a.ndim}-D")
    if a.dtype == np.int16:
        a = a / 32768.0
    elif a.dtype == np.int32:
        a = a / 2147483648.0
    elif a.dtype.kind != "f":
        raise ArgumentError(f"{name} must hold floats (full scale +-1) or int16/int32 PCM, not {a.dtype}")
    a = np.ascontiguousarray(a, dtype=np.float64)
    if a.size == 0 and not allow_empty:
        raise ArgumentError(f"{name} is empty")
    if a.size > MAX_SAMPLES:
        raise ArgumentError(f"{name} has more than 2^31 - 1 samples")
    return a


def ptr(a: np.ndarray):
    """A double* into a float64 array (the caller keeps the array alive)."""
    return a.ctypes.data_as(_pd)


class Handle:
    """An object in one of libtavrix's tables, released by ``close()``, by
    leaving a ``with`` block, or when it is garbage-collected."""

    _delete = ""  # name of the destructor export
    _kind = "object"

    def _own(self, handle: int, constructor: str) -> None:
        if handle < 0:
            raise TableFullError(
                f"{constructor}: all 255 {self._kind} slots are in use; close objects you no "
                f"longer need (with-blocks or .close())"
            )
        self._handle = handle
        self._finalizer = weakref.finalize(self, getattr(lib(), self._delete), handle)

    @property
    def handle(self) -> int:
        """The slot number in the library's table."""
        if not getattr(self, "_finalizer", None) or not self._finalizer.alive:
            raise ValueError(f"this {self._kind} is closed")
        return self._handle

    @property
    def closed(self) -> bool:
        """True once the library object has been released."""
        return not getattr(self, "_finalizer", None) or not self._finalizer.alive

    def close(self) -> None:
        """Releases the library object now (later calls raise ValueError)."""
        if getattr(self, "_finalizer", None):
            self._finalizer()

    def __enter__(self):
        return self

    def __exit__(self, *exc) -> None:
        self.close()
