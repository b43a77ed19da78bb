"""Loading, arrays, errors, handle release and the install route."""

import gc
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest
from conftest import FS, decaying_noise

import tavrix

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
README = os.path.join(os.path.dirname(PYTHON_DIR), "README.md")


def run_python(code, cwd, **env):
    e = dict(os.environ, **env)
    return subprocess.run([sys.executable, "-c", code], cwd=cwd, env=e, capture_output=True, text=True)


def test_arrays_as_users_have_them():
    with tavrix.FilterBank("octave", 10, 10) as bank:
        unfiltered = lambda x: bank.filter(x, None)  # noqa: E731
        np.testing.assert_array_equal(unfiltered(np.array([16384, -32768], np.int16)), [0.5, -1.0])
        np.testing.assert_array_equal(unfiltered(np.array([2**30], np.int32)), [0.5])
        np.testing.assert_array_equal(unfiltered(np.arange(10, dtype=np.float32)[::3]), [0, 3, 6, 9])
        with pytest.raises(tavrix.ArgumentError, match=r"shape \(1000, 2\).*axis 1.*x\[:, 0\]"):
            bank.filter(np.zeros((1000, 2)), 10)
        with pytest.raises(tavrix.ArgumentError, match="int16/int32"):
            bank.filter(np.zeros(4, np.int64), 10)
        with pytest.raises(tavrix.ArgumentError, match="not in this bank"):
            bank.filter(np.zeros(4), 11)


def test_failures_become_exceptions_with_words(tmp_path):
    with pytest.raises(tavrix.FileError, match="no such file"):
        tavrix.read_wav(tmp_path / "missing.wav")
    (tmp_path / "text.wav").write_text("not a wave file")
    with pytest.raises(tavrix.FileError, match="cannot be read") as e:
        tavrix.read_wav(tmp_path / "text.wav")
    assert isinstance(e.value, OSError) and e.value.code == -1
    with pytest.raises(tavrix.NotReadyError, match="direct sound"):
        tavrix.reverberation(np.zeros(FS), FS)
    with pytest.raises(tavrix.ArgumentError, match="0 \\(EDT\\) or at least 10"):
        tavrix.reverberation(decaying_noise(0.5), FS, ranges=(5,))
    with pytest.raises(tavrix.ArgumentError, match="tail"):
        tavrix.Sweep(seconds=1, tail=0.5)
    with pytest.raises(tavrix.NotReadyError, match="silent"):
        tavrix.sti(np.zeros(FS), FS)
    with pytest.raises(tavrix.ArgumentError, match="65536"):
        tavrix.spectrum(np.zeros(100))
    with pytest.raises(tavrix.ArgumentError, match="wrap around"):
        tavrix.write_wav(tmp_path / "loud.wav", np.array([2.0]), FS)
    try:
        import scipy  # noqa: F401
    except ImportError:
        with pytest.raises(tavrix.ArgumentError, match="48 kHz designs"):
            tavrix.reverberation(decaying_noise(0.5), 44100)
    bank = tavrix.FilterBank()
    bank.close()
    with pytest.raises(ValueError, match="closed"):
        bank.filter(np.zeros(4), 10)


def test_handles_are_released():
    # More objects than a table has slots, released by close, with and garbage collection.
    for _ in range(300):
        tavrix.FilterBank("octave", 10, 10).close()
    for _ in range(300):
        with tavrix.Sweep(seconds=0.1, start=100, tail=1):
            pass
    for _ in range(300):
        tavrix.FilterBank("octave", 10, 10)
    banks = [tavrix.FilterBank("octave", 10, 10) for _ in range(255)]
    with pytest.raises(tavrix.TableFullError, match="255 filter bank slots"):
        tavrix.FilterBank()
    del banks
    gc.collect()
    tavrix.FilterBank().close()


def test_ensemble_and_curves():
    a = tavrix.Reverberation(decaying_noise(1.0, seed=3), FS)
    b = tavrix.Reverberation(decaying_noise(1.0, seed=4), FS)
    with tavrix.Reverberation.ensemble([a, b]) as both:
        t30 = [r.t30 for r in both.table()][1:6]
        np.testing.assert_allclose(t30, 1.0, rtol=0.05)
    c = a.curves(10)
    assert c.status == 0 and c.level_db.max() == 0 and c.decay_db[0] == 0
    assert c.level_db.size == a.window_length and 0 < c.onset_index < c.level_db.size


def test_library_not_found_lists_what_was_tried(tmp_path):
    r = run_python("import tavrix; tavrix.FilterBank()", tmp_path, TAVRIX_LIBRARY="/nowhere/libtavrix.so",
                   PYTHONPATH=PYTHON_DIR)
    assert "LibraryNotFoundError" in r.stderr and "/nowhere/libtavrix.so (TAVRIX_LIBRARY): no such file" in r.stderr


def test_pip_install_route(tmp_path):
    pytest.importorskip("pip")
    src = tmp_path / "src"
    shutil.copytree(PYTHON_DIR, src, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    r = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index",
                        "--quiet", "--target", str(tmp_path / "site"), str(src)], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    code = ("import tavrix, numpy as np; assert tavrix.__file__.startswith(%r); "
            "print(tavrix.sti(np.exp(-np.arange(48000) / 4800.0), 48000).index)" % str(tmp_path / "site"))
    r = run_python(code, tmp_path, PYTHONPATH=str(tmp_path / "site"),
                   TAVRIX_LIBRARY=os.path.abspath(tavrix.library_path()))
    assert r.returncode == 0, r.stderr
    assert 0 < float(r.stdout) < 1


def test_readme_folder_example(tmp_path):
    blocks = re.findall(r"```python\n(.*?)```", open(README).read(), re.S)
    example = next(b for b in blocks if "responses" in b)
    (tmp_path / "responses").mkdir()
    for name, t60 in (("hall.wav", 1.6), ("office.wav", 0.5)):
        tavrix.write_wav(tmp_path / "responses" / name, decaying_noise(t60, seconds=3.0), FS)
    r = run_python(example, tmp_path, PYTHONPATH=PYTHON_DIR)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0].split()[:4] == ["T30", "in", "s", "125"] and len(lines) == 3
    hall = [float(v) for v in lines[1].split()[1:]]
    office = [float(v) for v in lines[2].split()[1:]]
    np.testing.assert_allclose(hall[1:6], 1.6, rtol=0.15)
    np.testing.assert_allclose(office[1:6], 0.5, rtol=0.15)


def test_table_as_dataframe(room):
    pandas = pytest.importorskip("pandas")
    frame = tavrix.reverberation(room, FS, ranges=(0, 30)).to_dataframe()
    assert isinstance(frame, pandas.DataFrame) and len(frame) == 7
    assert list(frame.columns[:6]) == ["band", "frequency_hz", "EDT_s", "T30_s", "r2_EDT", "r2_T30"]


def test_status_names_and_version_follow_the_header():
    header = open(os.path.join(os.path.dirname(PYTHON_DIR), "include", "tavrix.h")).read()
    defined = {name: int(value) for name, value in re.findall(r"#define TAVRIX_(\w+) \(?(-?\d+)\)?", header)}
    for name in ("FAILED", "BAD_POINTS_PER_OCTAVE", "UNSUPPORTED_FORMAT", "NO_DECAY", "NO_CROSSPOINT",
                 "NO_TAIL_FIT", "TOO_SHORT"):
        assert getattr(tavrix, name) == defined[name], name
    assert tavrix.BAD_RANGE == defined["INVALID_RANGE"]
    version = "{VERSION_MAJOR}.{VERSION_MINOR}.{VERSION_PATCH}".format(**defined)
    assert tavrix.__version__ == version
    assert re.search(rf'^version = "{re.escape(version)}"$', open(os.path.join(PYTHON_DIR, "pyproject.toml")).read(),
                     re.M)
