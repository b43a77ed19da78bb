"""Loading, arrays, failures, release of library objects, the C structures
and the install route."""

import gc
import os
import re
import shutil
import subprocess
import sys
import wave

import numpy as np
import pytest
from conftest import FS, PYTHON_DIR, SOURCE_DIR, decaying_noise, run_python

import tavrix
import ctypes

from tavrix import _abi, _layer


def write_stereo(path, left, right, rate=FS):
    """16-bit stereo PCM through the standard library's writer."""
    frames = np.round(np.stack([left, right], axis=1) * 32767).astype("<i2")
    with wave.open(str(path), "wb") as w:
        w.setnchannels(2), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(frames.tobytes())


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
    # PCM arrays: scaled, and their silence is what lies below one step.
    x = np.round(decaying_noise(0.5, seconds=1.0) * 2**15).astype(np.int16)
    padded = np.concatenate([x, np.zeros(FS // 2, np.int16)])
    a, b = tavrix.reverberation(x, FS), tavrix.reverberation(padded, FS)
    assert b.positions[0].silence_cut_s == pytest.approx(0.5, abs=0.01)
    assert [r.as_dict() for r in a] == [r.as_dict() for r in b]
    with pytest.raises(tavrix.ArgumentError, match="whole number"):
        tavrix.reverberation(x, 44100.5)


def test_failures_carry_the_layers_words(tmp_path):
    cases = [
        (lambda: tavrix.read_audio(tmp_path / "missing.wav"), tavrix.FileError, -2, "missing.wav"),
        (lambda: tavrix.read_audio(tmp_path / "text.wav"), tavrix.FileError, -3, "text.wav"),
        (lambda: tavrix.read_audio(tmp_path / "stereo.wav"), tavrix.ArgumentError, -4, "2 channels"),
        (lambda: tavrix.reverberation(np.zeros(FS), FS), tavrix.NotReadyError, -5, "silence"),
        (lambda: tavrix.reverberation(np.random.default_rng(1).standard_normal(FS), FS), tavrix.NotReadyError,
         -6, "direct sound"),
        (lambda: tavrix.reverberation(decaying_noise(0.5), FS, ranges=(5,)), tavrix.ArgumentError, -1, "5"),
    ]
    (tmp_path / "text.wav").write_text("not audio")
    write_stereo(tmp_path / "stereo.wav", np.zeros(100), np.zeros(100))
    for call, kind, code, words in cases:
        with pytest.raises(kind, match=words) as e:
            call()
        assert e.value.code == code and str(e.value) == _layer.text(tavrix._library.layer().tvm_last_error())
    assert issubclass(tavrix.FileError, OSError) and issubclass(tavrix.ArgumentError, ValueError)
    with pytest.raises(tavrix.ArgumentError, match="tail"):
        tavrix.Sweep(seconds=1, tail=0.5)
    with pytest.raises(tavrix.ArgumentError, match="65536"):
        tavrix.spectrum(np.zeros(100))
    with pytest.raises(tavrix.ArgumentError, match="wrap around"):
        tavrix.write_wav(tmp_path / "loud.wav", np.array([2.0]), FS)
    bank = tavrix.FilterBank()
    bank.close()
    with pytest.raises(ValueError, match="closed"):
        bank.filter(np.zeros(4), 10)


def test_refused_calls_leave_nothing_behind(tmp_path, room):
    write_stereo(tmp_path / "stereo.wav", room[:FS] / 2, room[:FS] / 2)
    noise = np.random.default_rng(1).standard_normal(FS)  # no direct sound in it
    refused = [
        lambda: tavrix.reverberation(room, FS, bands="thirds"),
        lambda: tavrix.reverberation(room, FS, low=4000, high=500),
        lambda: tavrix.reverberation(room, FS, ranges=(0, 5)),
        lambda: tavrix.reverberation(np.zeros(FS), FS),
        lambda: tavrix.reverberation(tmp_path / "stereo.wav"),
        # These reach the library's tables before they fail.
        lambda: tavrix.reverberation(noise, FS),
        lambda: tavrix.reverberation([room, noise], FS),
        lambda: tavrix.sti(np.zeros(FS), FS),
    ]
    kept = []
    for i in range(600):
        try:
            refused[i % len(refused)]()
        except tavrix.TavrixError as e:
            kept.append(e)
    assert len(kept) == 600
    assert 0.9 < tavrix.reverberation(room, FS)["1 kHz"].t30 < 1.1
    assert 0.5 < tavrix.sti(room, FS).index < 0.7
    for _ in range(300):
        tavrix.FilterBank("octave", 10, 10).close()
        with tavrix.Sweep(seconds=0.1, start=100, tail=1):
            pass


def test_handles_are_released():
    for _ in range(300):
        tavrix.FilterBank("octave", 10, 10)  # released by garbage collection
    banks = [tavrix.FilterBank("octave", 10, 10) for _ in range(255)]
    with pytest.raises(tavrix.TableFullError, match="255 filter bank slots"):
        tavrix.FilterBank()
    del banks
    gc.collect()
    tavrix.FilterBank().close()


def test_result_tables(room):
    r = tavrix.reverberation([room, decaying_noise(1.0, seed=2)], FS, parameters=True, name=["a", "b"])
    assert [s.name for s in r.positions] == ["a", "b"] and r.ensemble.name == "mean"
    src = r.positions[0]
    assert src.bands["1 kHz"] is src.bands[3] and src.bands["A"].label == "A" and "Z" in src.bands
    assert [b.label for b in r] == [b.label for b in r.ensemble.bands] == src.bands.labels
    assert src.bands[3].level_db.size > src.bands[3].decay_db.size > 0 and src.bands[3].level_first_block < 0
    assert "1 kHz" in str(src.bands) and "mean of 2 positions" in str(r)
    pandas = pytest.importorskip("pandas")
    frame = r.to_dataframe()
    assert isinstance(frame, pandas.DataFrame) and len(frame) == 3 * 9 and set(frame.source) == {"a", "b", "mean"}
    assert list(src.bands.to_dataframe().columns[:4]) == ["band", "nominal_band", "frequency_hz", "EDT_s"]


def test_library_not_found_lists_what_was_tried(tmp_path):
    r = run_python(["-c", "import tavrix; tavrix.FilterBank()"], tmp_path,
                   TAVRIX_MEASURE_LIBRARY="/nowhere/libtavrix-measure.so", TAVRIX_LIBRARY=tavrix.library_path())
    assert "LibraryNotFoundError" in r.stderr
    assert "/nowhere/libtavrix-measure.so (TAVRIX_MEASURE_LIBRARY): no such file" in r.stderr
    assert f"libtavrix loads ({tavrix.library_path()})" in r.stderr


def test_pip_install_route(tmp_path):
    pytest.importorskip("pip")
    src = tmp_path / "src"
    shutil.copytree(PYTHON_DIR, src, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    r = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-deps", "--no-index",
                        "--quiet", "--target", str(tmp_path / "site"), str(src)], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert (tmp_path / "site" / "tavrix" / "py.typed").exists()
    code = ("import tavrix, numpy as np; assert tavrix.__file__.startswith(%r); "
            "print(tavrix.sti(np.exp(-np.arange(48000) / 4800.0), 48000).index)" % str(tmp_path / "site"))
    r = run_python(["-c", code], tmp_path, PYTHONPATH=str(tmp_path / "site"),
                   TAVRIX_MEASURE_LIBRARY=tavrix.layer_path())
    assert r.returncode == 0, r.stderr
    assert 0 < float(r.stdout) < 1


def test_structures_match_the_header(tmp_path):
    cc = shutil.which("cc") or shutil.which("gcc")
    if not cc:
        pytest.skip("no C compiler to lay the header's structures out")
    lines = []
    for s in _abi.STRUCTURES:
        n = s.__name__
        lines.append(f'printf("{n} %zu\\n", sizeof({n}));')
        lines += [f'printf("{n}.{f} %zu\\n", offsetof({n}, {f}));' for f, _ in s._fields_]
    (tmp_path / "layout.c").write_text('#include <stddef.h>\n#include <stdio.h>\n#include "tavrix_measure.h"\n'
                                       "int main(void) {\n" + "\n".join(lines) + "\nreturn 0;\n}\n")
    subprocess.run([cc, "-I", os.path.join(SOURCE_DIR, "measure", "include"), "-o", str(tmp_path / "layout"),
                    str(tmp_path / "layout.c")], check=True)
    c = dict(line.split() for line in subprocess.run([str(tmp_path / "layout")], capture_output=True,
                                                     text=True, check=True).stdout.splitlines())
    for s in _abi.STRUCTURES:
        assert int(c[s.__name__]) == ctypes.sizeof(s), s.__name__
        for f, _ in s._fields_:
            assert int(c[f"{s.__name__}.{f}"]) == getattr(s, f).offset, f"{s.__name__}.{f}"


def test_constants_follow_the_headers():
    def defines(*path):
        text = open(os.path.join(SOURCE_DIR, *path)).read()
        return {name: int(value) for name, value in re.findall(r"#define (\w+) \(?(-?\d+)\)?", text)}

    library, layer = defines("include", "tavrix.h"), defines("measure", "include", "tavrix_measure.h")
    for name in ("FAILED", "BAD_POINTS_PER_OCTAVE", "UNSUPPORTED_FORMAT", "NO_DECAY", "NO_CROSSPOINT",
                 "NO_TAIL_FIT", "TOO_SHORT"):
        assert getattr(tavrix, name) == library["TAVRIX_" + name], name
    assert tavrix.BAD_RANGE == library["TAVRIX_INVALID_RANGE"]
    for name, value in layer.items():
        if hasattr(_abi, name):
            assert getattr(_abi, name) == value, name
    # Every failure value of the layer is known here, so none reaches a user as a bare number.
    failures = [n for n, v in layer.items() if n.startswith("TVM_") and v < 0]
    assert failures and all(hasattr(_abi, n) for n in failures), failures
    version = "{TAVRIX_VERSION_MAJOR}.{TAVRIX_VERSION_MINOR}.{TAVRIX_VERSION_PATCH}".format(**library)
    assert tavrix.__version__ == version
    assert re.search(rf'^version = "{re.escape(version)}"$', open(os.path.join(PYTHON_DIR, "pyproject.toml")).read(),
                     re.M)


def test_readme_folder_example(tmp_path):
    sf = pytest.importorskip("soundfile", reason="python3-soundfile writes the FLAC and 24-bit files")
    blocks = re.findall(r"```python\n(.*?)```", open(os.path.join(PYTHON_DIR, "README.md")).read(), re.S)
    example = next(b for b in blocks if "responses" in b)
    folder = tmp_path / "responses"
    folder.mkdir()
    tavrix.write_wav(folder / "hall.wav", decaying_noise(1.6, seconds=3.0), FS)
    office = decaying_noise(0.5, seconds=2.0, rate=44100)
    sf.write(folder / "office.flac", np.stack([office, 0.5 * office[::-1]], axis=1) * 0.5, 44100, "PCM_24")
    (folder / "notes.txt").write_text("not audio")
    r = run_python(["-c", example], tmp_path)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0].split()[:4] == ["T30", "in", "s", "125"] and len(lines) == 3
    hall, office = ([float(v) for v in line.split()[1:]] for line in lines[1:])
    np.testing.assert_allclose(hall[1:6], 1.6, rtol=0.15)
    np.testing.assert_allclose(office[1:6], 0.5, rtol=0.15)
