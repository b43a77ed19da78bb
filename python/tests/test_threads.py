"""Threads give the figures one thread gives. Each run is a fresh process:
the library builds its tables (FFT twiddles, ...) on first use, and here
four threads do that at once."""

from concurrent.futures import ThreadPoolExecutor

from conftest import run_python

ROOMS = """
import sys, numpy as np, tavrix
from concurrent.futures import ThreadPoolExecutor
g = np.random.default_rng(int(sys.argv[1]))
def room(s):
    t = np.arange(int(s * 48000)) / 48000
    x = g.standard_normal(t.size) * np.exp(-6.9 * t / (.25 * s)) + 1e-4 * g.standard_normal(t.size)
    x[480] += 5
    return x
"""

LAYER = ROOMS + """
xs = [room(s) for s in (.5, .5, .8, .8, 1.2, 1.2, 2, 2, 3, 3)]
run = lambda x: ([b.t30 for b in tavrix.reverberation(x, 48000)], tavrix.sti(x, 48000).index)
with ThreadPoolExecutor(4) as ex: th = list(ex.map(run, xs))
print(sum(repr(a) != repr(b) for a, b in zip(th, map(run, xs))), "differ")
"""

# libtavrix's own objects (sweeps of several lengths, filter banks, spectra)
# beside the layer's analyses.
MIXED = ROOMS + """
def direct(k):
    with tavrix.Sweep(rate=48000, start=100, stop=10000, seconds=0.3 * (k % 5 + 1), tail=1) as sweep:
        ir = sweep.impulse_response(np.concatenate([np.zeros(50 + k), sweep.samples, np.zeros(48000)]))
        band = sweep.band_response(10)
    with tavrix.FilterBank("third", 28, 32) as bank:
        y = bank.filter(np.sin(np.arange(4800) * k / 100), 30)
    peak = int(np.argmax(np.abs(ir)))
    assert peak == 50 + k, (k, peak)
    return repr((peak, ir.max(), band.sum(), y.sum(), tavrix.spectrum(np.sin(np.arange(65536) * k / 7))[1].max()))
def layer(x):
    return repr(([b.t30 for b in tavrix.reverberation(x, 48000)], tavrix.sti(x, 48000).index))
jobs = [(direct, k) for k in range(10)] + [(layer, room(s)) for s in (.5, .8, 1.2, 2, 3) * 2]
jobs = jobs[::2] + jobs[1::2]
with ThreadPoolExecutor(4) as ex: th = list(ex.map(lambda j: j[0](j[1]), jobs))
print(sum(a != j[0](j[1]) for a, j in zip(th, jobs)), "differ")
"""


def fresh_processes(script, seeds):
    # Two at a time, on two cores.
    with ThreadPoolExecutor(2) as ex:
        for seed, r in zip(seeds, ex.map(lambda s: run_python(["-c", script, str(s)]), seeds)):
            assert r.returncode == 0 and r.stdout.split() == ["0", "differ"], (seed, r.stdout, r.stderr)


def test_layer_calls_from_four_threads():
    fresh_processes(LAYER, range(20))


def test_direct_objects_beside_layer_calls():
    fresh_processes(MIXED, range(12))
