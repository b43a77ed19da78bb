import os
import sys

import numpy as np
import pytest

# Tests run against the package in this source tree (and the library that
# TAVRIX_LIBRARY or the build tree provides).
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

FS = 48000


def decaying_noise(t60, seconds=2.0, delay=0.05, seed=1):
    """A synthetic room: white noise whose energy falls 60 dB in t60 seconds,
    after `delay` s of silence, with a direct sound at its start, over a
    background noise 60 dB below the start of the decay."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * FS)) / FS
    x = rng.standard_normal(t.size) * 10 ** (-3 * t / t60) * 0.1
    x[0] = 1.0
    x = np.concatenate([np.zeros(int(delay * FS)), x])
    return x + 1e-4 * rng.standard_normal(x.size)


@pytest.fixture(scope="session")
def room():
    return decaying_noise(1.0)
