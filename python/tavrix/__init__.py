"""Tavrix for Python: room-acoustics measurement on numpy arrays and audio files.

A thin client of Tavrix's measurement layer (libtavrix-measure, loaded with
ctypes) and of the library under it (libtavrix): every analysis runs there
and gives the figures the ``tavrix`` tool gives; this package turns results
into objects, failures into exceptions and buffers into numpy arrays. Safe to
use from several threads.

    import tavrix
    sweep = tavrix.Sweep(rate=48000, start=20, stop=20000, seconds=10, tail=2)
    sweep.write("sweep.wav", gain_db=-3)
    ir = sweep.impulse_response("recording.wav")     # or a numpy array
    print(tavrix.reverberation(ir, 48000, sweep_seconds=10, tail_seconds=2))
    print(tavrix.sti(ir, 48000).index)

The layer is found through TAVRIX_MEASURE_LIBRARY, beside TAVRIX_LIBRARY,
next to this package, in the build directory of a source tree, or on the
system's library path; libtavrix is the copy the layer loads unless
TAVRIX_LIBRARY names one.
"""

from ._audio import Audio, read_audio, read_wav
from ._deconvolve import ImpulseResponse, deconvolve
from ._distortion import Distortion, DistortionBand, distortion
from ._library import (
    BAD_POINTS_PER_OCTAVE,
    BAD_RANGE,
    FAILED,
    NO_CROSSPOINT,
    NO_DECAY,
    NO_TAIL_FIT,
    OK,
    TOO_SHORT,
    UNSUPPORTED_FORMAT,
    ArgumentError,
    FileError,
    LibraryNotFoundError,
    NotReadyError,
    TableFullError,
    TavrixError,
    layer_path,
    library_path,
)
from ._measure import FilterBank, Sweep, band_frequency, calibrate_wav, spectrum, write_wav
from ._reverberation import BandReverberation, BandTable, Reverberation, Source, reverberation
from ._sti import StiResult, sti
from ._spatial import Spatial, spatial
from ._survey import find_audio_files, survey, survey_columns, survey_file

__version__ = "0.1.0"

__all__ = [
    "Audio", "ArgumentError", "BandReverberation", "BandTable", "Distortion", "DistortionBand", "FileError",
    "FilterBank", "ImpulseResponse", "LibraryNotFoundError", "NotReadyError", "Reverberation", "Source", "StiResult",
    "Sweep", "TableFullError", "TavrixError", "band_frequency", "calibrate_wav", "deconvolve", "distortion",
    "layer_path", "library_path", "read_audio", "read_wav", "reverberation", "spectrum", "sti", "write_wav",
    "OK", "FAILED", "BAD_POINTS_PER_OCTAVE", "UNSUPPORTED_FORMAT", "BAD_RANGE", "NO_DECAY", "NO_CROSSPOINT",
    "NO_TAIL_FIT", "TOO_SHORT", "Spatial", "spatial",
    "find_audio_files", "survey", "survey_columns", "survey_file",
]
