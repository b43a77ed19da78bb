"""Tavrix for Python: room-acoustics measurement on numpy arrays.

A thin client of the Tavrix C library (libtavrix.so / tavrix.dll, loaded with
ctypes): every analysis runs in the library, this package turns its handles
into objects, its failure codes into exceptions and its buffers into numpy
arrays.

    import tavrix
    sweep = tavrix.Sweep(rate=48000, start=20, stop=20000, seconds=10, tail=2)
    sweep.write("sweep.wav", gain_db=-3)
    ir = sweep.impulse_response(recording)          # recording: numpy array
    print(tavrix.reverberation(ir, 48000, sweep_seconds=10, tail_seconds=2))
    print(tavrix.sti(ir, 48000).index)

The library is found through TAVRIX_LIBRARY, next to this package, in the
build directory of a source tree, or on the system's library path.
"""

from ._analysis import (
    BandReverberation,
    Curves,
    Reverberation,
    ReverberationTable,
    Sti,
    StiResult,
    energy_parameters,
    reverberation,
    sti,
)
from ._distortion import DistortionBand, distortion
from ._library import (
    BAD_POINTS_PER_OCTAVE,
    BAD_RANGE,
    FAILED,
    NO_CROSSPOINT,
    NO_DECAY,
    NO_TAIL_FIT,
    OK,
    STATUS_TEXT,
    TOO_SHORT,
    UNSUPPORTED_FORMAT,
    ArgumentError,
    FileError,
    LibraryNotFoundError,
    NotReadyError,
    TableFullError,
    TavrixError,
    library_path,
)
from ._measure import (
    FilterBank,
    Sweep,
    Wav,
    band_frequency,
    calibrate_wav,
    read_wav,
    spectrum,
    write_wav,
)

__version__ = "0.1.0"

__all__ = [
    "ArgumentError", "BandReverberation", "Curves", "FileError", "FilterBank", "LibraryNotFoundError",
    "NotReadyError", "Reverberation", "ReverberationTable", "STATUS_TEXT", "Sti", "StiResult", "Sweep",
    "TableFullError", "TavrixError", "Wav", "band_frequency", "energy_parameters", "DistortionBand",
    "distortion", "calibrate_wav", "library_path", "read_wav",
    "reverberation", "spectrum", "sti", "write_wav", "OK", "FAILED", "BAD_POINTS_PER_OCTAVE",
    "UNSUPPORTED_FORMAT", "BAD_RANGE", "NO_DECAY", "NO_CROSSPOINT", "NO_TAIL_FIT", "TOO_SHORT",
]
