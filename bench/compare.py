#!/usr/bin/python3
"""Tavrix next to FFTW 3 and numpy/scipy on the same work, stage by stage.

Run as `/usr/bin/python3 bench/compare.py BUILD_DIR` after building the
benchmarks there (`make bench-compare` does both). Every time is processor
time of the process (not elapsed time, which other work on the machine
stretches), the median of several runs, all taken in this one run.

Both sides run with glibc's allocator told to keep freed memory (blocks up
to 32 MiB from its heap, no trimming): otherwise whether a stage's 10-40 MB
of results land on pages already mapped or on fresh ones depends on what ran
before it, and the first touch of fresh pages costs about 100 ms per 40 MB on
a virtual machine, more than the work timed. The 10-minute recording runs
with the default allocator, as its figure is the peak memory.
"""
import json
import os
import subprocess
import sys
import time

KEEP_FREED_MEMORY = "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967296"
# Only when run: bench/survey_chain.py imports the chain from here.
if __name__ == "__main__" and os.environ.get("GLIBC_TUNABLES") != KEEP_FREED_MEMORY:
    os.execve(sys.executable, [sys.executable] + sys.argv, dict(os.environ, GLIBC_TUNABLES=KEEP_FREED_MEMORY))

import numpy as np
from scipy import signal

FS = 48000.0


def google_benchmark(binary, pattern, repetitions=5, env=None):
    """Median processor time in ms and the counters of each benchmark matching pattern."""
    out = subprocess.run(
        [binary, f"--benchmark_filter={pattern}", "--benchmark_format=json",
         f"--benchmark_repetitions={repetitions}", "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True, env=env).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if repetitions > 1 and b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        name = b.get("run_name", b["name"])
        results[name] = (b["cpu_time"] * scale, b)
    return results


def median_ms(work, runs=5):
    times = []
    for _ in range(runs):
        start = time.process_time()
        work()
        times.append((time.process_time() - start) * 1e3)
    return float(np.median(times))


# --- the chain in numpy/scipy ------------------------------------------------

def sweep(duration=10.0, f1=20.0, f2=20000.0):
    t = np.arange(int(duration * FS)) / FS
    rate = np.log(f2 / f1)
    return np.sin(2 * np.pi * f1 * duration / rate * (np.exp(t * rate / duration) - 1))


def room():
    rng = np.random.default_rng(3)
    n = int(1.5 * FS)
    i = np.arange(n)
    h = 1e-5 * rng.standard_normal(n)
    h[240] += 1.0
    late = i > 240
    h[late] += 0.05 * rng.standard_normal(late.sum()) * 10.0 ** (-3.0 * (i[late] - 240) / (0.9 * FS))
    return h


def deconvolve(x, y):
    nfft = 1 << int(np.ceil(np.log2(len(y))))
    return np.fft.irfft(np.fft.rfft(y, nfft) / np.fft.rfft(x, nfft), nfft)


def prepare(h, tail=2.0):
    """Analytic signal, onset from 10 ms blocks, the window's real and imaginary parts."""
    a = signal.hilbert(h, 1 << int(np.ceil(np.log2(len(h)))))[: len(h)]
    e = np.abs(a) ** 2
    block = int(0.01 * FS)
    blocks = e[: len(e) // block * block].reshape(-1, block).mean(axis=1)
    peak = int(np.argmax(blocks))
    means = np.cumsum(blocks) / np.arange(1, len(blocks) + 1)
    rising = np.nonzero(blocks[1:peak + 1] > 2 * means[:peak])[0]
    onset = (rising[0] + 1 if len(rising) else peak) * block
    end = min(len(h), onset + int((tail + 1.0) * FS))
    start = max(0, onset - int(0.1 * FS))
    return a.real[start:end].copy(), a.imag[start:end].copy(), onset - start


def third_octave_sos():
    bands = []
    for b in range(13, 44):
        fc = 1000.0 * 2.0 ** ((b - 30) / 3.0)
        hi = min(fc * 2 ** (1 / 6), 0.99 * FS / 2)
        bands.append(signal.butter(4, [fc * 2 ** (-1 / 6), hi], "bandpass", fs=FS, output="sos"))
    return bands


def decay_times(re, im, onset, sos, ranges=(0, 20, 30)):
    """Time-reversed band filtering, Schroeder integration with the noise
    subtracted, and line fits for each range."""
    fr = signal.sosfilt(sos, re[::-1])[::-1]
    fi = signal.sosfilt(sos, im[::-1])[::-1]
    e = (fr * fr + fi * fi)[onset:]
    noise = e[int(0.9 * len(e)):].mean()
    block = int(0.01 * FS)
    levels = e[: len(e) // block * block].reshape(-1, block).mean(axis=1)
    above = np.nonzero(levels > 3.0 * noise)[0]
    cross = (above[-1] + 1) * block if len(above) else len(e)
    schroeder = np.cumsum((e[:cross] - noise)[::-1])[::-1]
    schroeder = np.maximum(schroeder, 1e-300)
    db = 10 * np.log10(schroeder / schroeder[0])
    t = np.arange(len(db)) / FS
    times = []
    for r in ranges:
        top, bottom = (0.0, -10.0) if r == 0 else (-5.0, -5.0 - r)
        sel = (db <= top) & (db >= bottom)
        if sel.sum() < 2:
            times.append(float("nan"))
            continue
        slope = np.polyfit(t[sel], db[sel], 1)[0]
        times.append(-60.0 / slope)
    return times


MODULATION = 0.63 * 2.0 ** (np.arange(14) / 3.0)
MALE_ALPHA = np.array([0.085, 0.127, 0.230, 0.233, 0.309, 0.224, 0.173])
MALE_BETA = np.array([0.085, 0.078, 0.065, 0.011, 0.047, 0.095])


def sti(h):
    """Octave bands 125 Hz - 8 kHz, modulation transfer by direct sums."""
    t = np.arange(len(h)) / FS
    mti = []
    for k in range(7):
        fc = 125.0 * 2 ** k
        sos = signal.butter(4, [fc / np.sqrt(2), min(fc * np.sqrt(2), 0.99 * FS / 2)], "bandpass", fs=FS,
                            output="sos")
        e = signal.sosfilt(sos, h) ** 2
        total = e.sum()
        m = np.array([abs(np.sum(e * np.exp(-2j * np.pi * f * t))) / total for f in MODULATION])
        m = np.clip(m, 1e-12, 1 - 1e-12)
        snr = np.clip(10 * np.log10(m / (1 - m)), -15, 15)
        mti.append(np.mean((snr + 15) / 30))
    mti = np.array(mti)
    return float(np.sum(MALE_ALPHA * mti) - np.sum(MALE_BETA * np.sqrt(mti[:-1] * mti[1:])))


def numpy_chain():
    x = sweep()
    rng = np.random.default_rng(5)
    y = np.zeros(len(x) + int(2 * FS))
    for tap, gain in ((240, 1.0), (1700, 0.3), (5200, 0.3), (9100, 0.3)):
        y[tap:tap + len(x)] += gain * x
    y += 1e-4 * rng.standard_normal(len(y))
    h = deconvolve(x, y)
    r = room()
    h[: len(r)] += r
    padded = np.concatenate([np.zeros(int(0.5 * FS)), h])
    re, im, onset = prepare(padded)
    bands = third_octave_sos()
    return {
        "deconvolve": median_ms(lambda: deconvolve(x, y)),
        "prepare": median_ms(lambda: prepare(padded)),
        "bands": median_ms(lambda: [decay_times(re, im, onset, sos) for sos in bands], runs=3),
        "sti": median_ms(lambda: sti(h), runs=3),
    }


def fftw_times(binary):
    out = subprocess.run([binary], check=True, capture_output=True, text=True).stdout
    return {name: float(ms) for name, ms in (line.split() for line in out.splitlines())}


def row(label, ours, peer, peer_name):
    print(f"{label:<44} {ours:10.2f} {peer:10.2f}  {ours / peer:6.2f}x  ({peer_name})")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build-bench"
    bench = os.path.join(build, "bench")
    print(f"machine: {os.uname().nodename}, {os.cpu_count()} CPUs; load averages "
          f"{' '.join(f'{v:.2f}' for v in os.getloadavg())}")
    print(f"{'work':<44} {'Tavrix ms':>10} {'peer ms':>10}  ratio (Tavrix / peer)")
    fftw = fftw_times(os.path.join(bench, "fftw_peer"))
    ours = google_benchmark(os.path.join(bench, "bench_fft"), "BM_FftPowerOfTwo/(10|16|20|22)$")
    for p in (10, 16, 20, 22):
        row(f"complex FFT 2^{p}", ours[f"BM_FftPowerOfTwo/{p}"][0], fftw[f"fft_{p}"], "FFTW estimate")
    chain = google_benchmark(os.path.join(bench, "bench_chain"), "BM_Chain")
    peer = numpy_chain()
    row("processInputSignal 10 s sweep (nfft 2^20)", chain["BM_ChainDeconvolveFirst"][0],
        fftw["deconvolve_2_20"], "FFTW 2 r2c + 1 c2r")
    row("  the same, sweep spectrum kept", chain["BM_ChainDeconvolve"][0], fftw["deconvolve_2_20"],
        "FFTW 2 r2c + 1 c2r")
    total_ours = total_peer = 0.0
    for stage, name in (("deconvolve", "BM_ChainDeconvolveFirst"), ("prepare", "BM_ChainPrepare"),
                        ("bands", "BM_ChainBands"), ("sti", "BM_ChainSti")):
        t = chain[name][0]
        total_ours += t
        total_peer += peer[stage]
        row(f"chain: {stage}", t, peer[stage], "numpy/scipy")
    row("chain: total", total_ours, total_peer, "numpy/scipy")
    default_allocator = {k: v for k, v in os.environ.items() if k != "GLIBC_TUNABLES"}
    big = google_benchmark(os.path.join(bench, "bench_chain"), "BM_Deconvolve10min48k", repetitions=1,
                           env=default_allocator)
    ms, entry = next(v for k, v in big.items() if k.startswith("BM_Deconvolve10min48k"))
    print(f"10-minute recording (nfft 2^25): deconvolved in {ms:.0f} ms, "
          f"peak resident memory {entry['peakRssMB']:.0f} MB")


if __name__ == "__main__":
    main()
