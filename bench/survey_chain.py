"""The numpy/scipy chain of compare.py as a survey runs it on one file: read
it, take its analytic signal, T10/T20/T30 and EDT per octave band 125 Hz to
8 kHz by time-reversed filtering and Schroeder integration, and the STI."""
import numpy as np
import soundfile
from scipy import signal

import compare

OCTAVES = [signal.butter(4, [fc / np.sqrt(2), min(fc * np.sqrt(2), 0.99 * compare.FS / 2)], "bandpass",
                         fs=compare.FS, output="sos") for fc in 125.0 * 2.0 ** np.arange(7)]


def analyse(path):
    h, rate = soundfile.read(path)
    assert rate == compare.FS, "the reference chain takes 48 kHz files only"
    re, im, onset = compare.prepare(h)
    times = [compare.decay_times(re, im, onset, sos, ranges=(0, 10, 20, 30)) for sos in OCTAVES]
    return path, times, compare.sti(h)
