import os
import subprocess
import sys

import numpy as np
import pytest

# Tests run against the package in this source tree (and the libraries that
# TAVRIX_MEASURE_LIBRARY / TAVRIX_LIBRARY or the build tree provide).
HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON_DIR = os.path.dirname(HERE)
SOURCE_DIR = os.path.dirname(PYTHON_DIR)
sys.path.insert(0, PYTHON_DIR)

FS = 48000


def decaying_noise(t60, seconds=2.0, delay=0.05, seed=1, rate=FS):
    """A synthetic room: white noise whose energy falls 60 dB in t60 seconds,
    after `delay` s of silence, with a direct sound at its start, over a
    background noise 60 dB below the start of the decay."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * rate)) / rate
    x = rng.standard_normal(t.size) * 10 ** (-3 * t / t60) * 0.1
    x[0] = 1.0
    x = np.concatenate([np.zeros(int(delay * rate)), x])
    return x + 1e-4 * rng.standard_normal(x.size)


def run_python(args, cwd=None, **env):
    """Python (this interpreter) in a fresh process with the package on its path."""
    e = dict(os.environ, PYTHONPATH=PYTHON_DIR)
    e.update(env)
    return subprocess.run([sys.executable] + list(args), cwd=cwd, env=e, capture_output=True, text=True)


@pytest.fixture(scope="session")
def room():
    return decaying_noise(1.0)


def tool_or_skip():
    """The tavrix tool the tests compare with (TAVRIX_TOOL or the source tree's build); without it the
    calling test module is skipped."""
    tool = os.environ.get("TAVRIX_TOOL") or os.path.join(SOURCE_DIR, "build", "cli", "tavrix")
    if not os.access(tool, os.X_OK):
        pytest.skip(f"no tavrix tool at {tool} (build it, or set TAVRIX_TOOL)", allow_module_level=True)
    return tool
