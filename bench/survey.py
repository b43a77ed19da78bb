#!/usr/bin/python3
"""Files per second of a survey, and the memory of a long one.

Run as `/usr/bin/python3 bench/survey.py BUILD_DIR` after building the tool
and the measurement layer there (`make bench-survey` does both). A corpus of
2 s, 48 kHz responses (24-bit WAV, reverberation times 0.3 to 2.5 s) is
written once; its files are hard-linked many times over, so that thousands
of files cost no disk. Surveyed with 1 and 2 jobs:

  - `tavrix survey DIR --jobs N`;
  - `tavrix.survey(DIR, workers=N)` in a fresh interpreter, and for
    comparison `tavrix.survey_file` on N threads of one process;
  - the numpy/scipy chain of bench/compare.py run per file (soundfile to
    read, analytic signal, time-reversed octave filters and Schroeder fits,
    the STI by direct sums), on 1 and 2 processes.

Rates are of elapsed (wall-clock) time, the best of REPEATS runs: the figure
is the rate of the whole job, processes and all, and the best run is the one
least stretched by other work on the machine. Beside them, the processor time
per file of the same runs (the job's process and all its workers): on a
machine that others are using, equal processor time per file with 1 and 2
jobs shows that the workers add no work and wait for nothing of each other,
so that two idle cores run two jobs twice as fast. Then MEMORY_FILES files are
surveyed with 2 jobs by the tool and by the package, while the resident
memory of every process of the job is sampled: the figures are the largest
worker's memory a tenth and nine tenths into the run, and the peak of the
whole job (the tool or the interpreter with all its workers).
"""
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
DISTINCT = 24
TIMING_FILES = int(os.environ.get("SURVEY_TIMING_FILES", 240))
CHAIN_FILES = int(os.environ.get("SURVEY_CHAIN_FILES", 48))
MEMORY_FILES = int(os.environ.get("SURVEY_MEMORY_FILES", 10000))
REPEATS = int(os.environ.get("SURVEY_REPEATS", 2))
FS = 48000


def write_corpus(folder):
    import soundfile

    os.makedirs(folder, exist_ok=True)
    names = []
    for k in range(DISTINCT):
        rng = np.random.default_rng(k)
        n = 2 * FS
        t = np.arange(n) / FS
        t60 = 0.3 + 2.2 * k / (DISTINCT - 1)
        x = 0.1 * rng.standard_normal(n) * 10 ** (-3 * t / t60)
        x[0] = 1.0
        x = np.concatenate([np.zeros(int(0.02 * FS)), x])[:n] + 3e-5 * rng.standard_normal(n)
        name = os.path.join(folder, f"room{k:02d}.wav")
        soundfile.write(name, 0.5 * x, FS, "PCM_24")
        names.append(name)
    return names


def linked(sources, folder, count):
    """count hard links to the sources in turn."""
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        os.link(sources[i % len(sources)], os.path.join(folder, f"r{i:05d}.wav"))
    return folder


def tree_rss_kb(pid):
    """Resident memory (kB) of a process and of each of its descendants."""
    found = {}
    todo = [pid]
    while todo:
        p = todo.pop()
        try:
            with open(f"/proc/{p}/status") as f:
                found[p] = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
            for task in os.listdir(f"/proc/{p}/task"):
                with open(f"/proc/{p}/task/{task}/children") as f:
                    todo += [int(c) for c in f.read().split()]
        except (OSError, StopIteration):
            pass
    return found


def run(command, env=None, sample=False):
    """Elapsed seconds, processor seconds of the job (its process and every worker it waited for), the
    job's process id, and with sample the memory samples (elapsed, {pid: kB}) of its processes."""
    start = time.perf_counter()
    p = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    samples = []
    while True:
        pid, status, usage = os.wait4(p.pid, os.WNOHANG if sample else 0)
        if pid == p.pid:
            break
        samples.append((time.perf_counter() - start, tree_rss_kb(p.pid)))
        time.sleep(0.5)
    elapsed = time.perf_counter() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    err = p.stderr.read()
    if p.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({p.returncode}): {err}")
    return elapsed, usage.ru_utime + usage.ru_stime, p.pid, samples


def package_command(folder, workers):
    code = ("import sys, tavrix\n"
            f"frame = tavrix.survey({folder!r}, workers={workers})\n"
            "assert not frame.attrs['failed'] and len(frame) > 0\n")
    return [sys.executable, "-c", code]


def threads_command(folder, threads):
    """The package's survey of each file on threads of one process, for comparison."""
    code = ("import concurrent.futures, tavrix\n"
            f"files = tavrix.find_audio_files({folder!r})\n"
            f"with concurrent.futures.ThreadPoolExecutor({threads}) as pool:\n"
            "    rows = list(pool.map(tavrix.survey_file, files))\n"
            "assert all(len(r) == 9 for r in rows)\n")
    return [sys.executable, "-c", code]


def chain_command(folder, processes, count):
    code = (f"import sys, glob, multiprocessing\nsys.path.insert(0, {HERE!r})\n"
            "import survey_chain\n"
            f"files = sorted(glob.glob({folder!r} + '/*.wav'))[:{count}]\n"
            f"with multiprocessing.Pool({processes}) as pool:\n"
            "    rows = pool.map(survey_chain.analyse, files, chunksize=4)\n"
            "assert len(rows) == len(files)\n")
    return [sys.executable, "-c", code]


def best(command, env, repeats=REPEATS):
    """The shortest elapsed time of repeats runs, and that run's processor time."""
    return min(run(command, env)[:2] for _ in range(repeats))


def memory(samples, root):
    """The largest worker's memory (MB) a tenth and nine tenths into the run, and the peak of the whole
    job (the tool or the interpreter and its workers)."""
    def largest_worker(sample):
        return max((kb for pid, kb in sample[1].items() if pid != root), default=0) / 1024
    end = samples[-1][0]
    early = next(s for s in samples if s[0] >= 0.1 * end)
    late = next(s for s in samples if s[0] >= 0.9 * end)
    peak = max(sum(s[1].values()) for s in samples)
    return largest_worker(early), largest_worker(late), peak / 1024


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    tool = os.path.join(build, "cli", "tavrix")
    env = {k: v for k, v in os.environ.items() if k != "GLIBC_TUNABLES"}
    env.update(PYTHONPATH=os.path.join(SOURCE, "python"),
               TAVRIX_MEASURE_LIBRARY=os.path.join(build, "measure", "libtavrix-measure.so"))
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
                 "unknown processor")
    print(f"machine: {model}, {os.cpu_count()} CPUs; load averages "
          f"{' '.join(f'{v:.2f}' for v in os.getloadavg())}")
    with tempfile.TemporaryDirectory(prefix="tavrix-survey-") as tmp:
        sources = write_corpus(os.path.join(tmp, "distinct"))
        if TIMING_FILES > 0:
            timing = linked(sources, os.path.join(tmp, "timing"), TIMING_FILES)
            print(f"{'files per second (2 s, 48 kHz)':<40} {'1 job':>8} {'2 jobs':>8} {'speed-up':>9}   "
                  "processor ms per file, 1 / 2 jobs")
            for label, command, files in (
                    ("tavrix survey", lambda n: [tool, "survey", timing, "--jobs", str(n), "-o", os.devnull],
                     TIMING_FILES),
                    ("tavrix.survey (Python)", lambda n: package_command(timing, n), TIMING_FILES),
                    ("  threads of one process instead", lambda n: threads_command(timing, n), TIMING_FILES),
                    ("numpy/scipy chain per file", lambda n: chain_command(timing, n, CHAIN_FILES), CHAIN_FILES)):
                (wall1, cpu1), (wall2, cpu2) = (best(command(n), env) for n in (1, 2))
                print(f"{label:<40} {files / wall1:8.1f} {files / wall2:8.1f} {wall1 / wall2:8.2f}x   "
                      f"{1e3 * cpu1 / files:6.1f} / {1e3 * cpu2 / files:6.1f}", flush=True)
        if MEMORY_FILES > 0:
            many = linked(sources, os.path.join(tmp, "memory"), MEMORY_FILES)
            print(f"{MEMORY_FILES} files, 2 jobs: {'s':>6} {'files/s':>8}  largest worker MB at 10 % / 90 %, "
                  "job peak MB")
            for label, command in (("tavrix survey", [tool, "survey", many, "--jobs", "2", "-o", os.devnull]),
                                   ("tavrix.survey (Python)", package_command(many, 2))):
                elapsed, _, pid, samples = run(command, env, sample=True)
                early, late, peak = memory(samples, pid)
                print(f"{label:<24} {elapsed:6.0f} {MEMORY_FILES / elapsed:8.1f}  {early:6.1f} / {late:6.1f}, "
                      f"{peak:6.1f}", flush=True)
    print(f"load averages at the end: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")


if __name__ == "__main__":
    main()
