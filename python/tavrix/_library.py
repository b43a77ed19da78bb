"""Loading the shared library, its C prototypes, errors and argument conversion.

Everything here is plumbing between numpy and the 55 C functions of tavrix.h;
the analyses themselves all run in the library.
"""

import ctypes
import ctypes.util
import glob
import os
import sys
import weakref

import numpy as np

# Results the exports return (tavrix.h); the texts say what each one means.
OK = 0
FAILED = -1
BAD_POINTS_PER_OCTAVE = -2
UNSUPPORTED_FORMAT = -10
BAD_RANGE = -11
NO_DECAY = -30
NO_CROSSPOINT = -31
NO_TAIL_FIT = -32
TOO_SHORT = -33

STATUS_TEXT = {
    OK: "ok",
    FAILED: "the band could not be evaluated (response too short for the band filter)",
    BAD_POINTS_PER_OCTAVE: "points per octave must be 3, 6, 12 or 24",
    UNSUPPORTED_FORMAT: "WAV format tag is neither PCM nor IEEE float",
    BAD_RANGE: "a decay range must be 0 (EDT) or at least 10 dB",
    NO_DECAY: "no decay: the band never stands 10 dB above its noise",
    NO_CROSSPOINT: "no crosspoint: the decay never meets the noise floor clearly",
    NO_TAIL_FIT: "no tail fit: the late decay near the noise could not be fitted",
    TOO_SHORT: "too short: the decay is too short for the noise analysis",
}

BAND_A = 100000
BAND_C = 100001
BAND_UNFILTERED = 100002

MAX_SAMPLES = 2**31 - 1


class TavrixError(Exception):
    """A call into the library failed; ``code`` is the value it returned."""

    def __init__(self, message, code=FAILED):
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
    """No usable libtavrix could be loaded."""


_C = ctypes
_i32 = _C.c_int32
_dbl = _C.c_double
_pd = _C.POINTER(_C.c_double)
_pi = _C.POINTER(_C.c_int32)
_path = _C.c_char_p  # UTF-16 code units, null-terminated
_bool = _C.c_bool

# name: (result, argument types); the complete interface.
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
elif sys.platform == "darwin":
    _NAMES = ["libtavrix.0.dylib", "libtavrix.dylib"]
else:
    _NAMES = ["libtavrix.so.0", "libtavrix.so"]

_loaded = None
_loaded_path = None


def _candidates():
    """(path, origin) pairs in the order they are tried."""
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _NAMES:
        yield os.path.join(here, name), "next to the package"
    # python/tavrix/ in a source tree: the library of its build directories.
    root = os.path.dirname(os.path.dirname(here))
    for build in sorted(glob.glob(os.path.join(root, "build*"))):
        if "asan" in os.path.basename(build):
            continue  # an instrumented library cannot be loaded into python
        for name in _NAMES:
            yield os.path.join(build, name), "build tree"
    found = ctypes.util.find_library("tavrix")
    for name in ([found] if found else []) + _NAMES:
        yield name, "system library path"


def _declare(lib):
    for name, (restype, argtypes) in _PROTOTYPES.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    lib.initTavrix()
    return lib


def lib():
    """The loaded library (loaded and started on first use)."""
    global _loaded, _loaded_path
    if _loaded is not None:
        return _loaded
    tried = []
    explicit = os.environ.get("TAVRIX_LIBRARY")
    if explicit:
        candidates = [(explicit, "TAVRIX_LIBRARY")]
    else:
        candidates = _candidates()
    for path, origin in candidates:
        if os.sep in path and not os.path.exists(path):
            tried.append(f"  {path} ({origin}): no such file")
            continue
        try:
            handle = ctypes.CDLL(path)
            _loaded = _declare(handle)
        except (OSError, AttributeError) as e:
            tried.append(f"  {path} ({origin}): {e}")
            continue
        _loaded_path = path
        return _loaded
    raise LibraryNotFoundError(
        "cannot load the Tavrix library; tried:\n"
        + "\n".join(tried)
        + "\nset TAVRIX_LIBRARY to the path of libtavrix.so (or tavrix.dll), build the "
        "project (make build) or install it (make package; apt-get install ./build/tavrix_*.deb)"
    )


def library_path():
    """The file name or path the library was loaded from."""
    lib()
    return _loaded_path


def encode_path(path):
    """A path as the null-terminated UTF-16 the interface takes."""
    text = os.fsdecode(os.fspath(path))
    return text.encode("utf-16-le", "surrogatepass") + b"\0\0"


def as_signal(x, name="signal", allow_empty=False):
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


def ptr(a):
    """A double* into a float64 array (the caller keeps the array alive)."""
    return a.ctypes.data_as(_pd)


class Handle:
    """An object in one of the library's tables, released by ``close()``, by
    leaving a ``with`` block, or when it is garbage-collected."""

    _delete = None  # name of the destructor export
    _kind = "object"

    def _own(self, handle, constructor):
        if handle < 0:
            raise TableFullError(
                f"{constructor}: all 255 {self._kind} slots are in use; close objects you no "
                f"longer need (with-blocks or .close())"
            )
        self._handle = handle
        self._finalizer = weakref.finalize(self, getattr(lib(), self._delete), handle)

    @property
    def handle(self):
        """The slot number in the library's table."""
        if not getattr(self, "_finalizer", None) or not self._finalizer.alive:
            raise ValueError(f"this {self._kind} is closed")
        return self._handle

    @property
    def closed(self):
        """True once the library object has been released."""
        return not getattr(self, "_finalizer", None) or not self._finalizer.alive

    def close(self):
        """Releases the library object now (later calls raise ValueError)."""
        if getattr(self, "_finalizer", None):
            self._finalizer()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
