"""Surveys: `tavrix survey` gives, file by file, exactly what `reverb
--parameters` and `sti` give for that file; the package's survey gives the
same figures on worker processes and on a Dask cluster."""

import csv
import io
import json
import os
import signal
import subprocess

import numpy as np
import pytest
from conftest import SOURCE_DIR, decaying_noise, tool_or_skip

import tavrix

sf = pytest.importorskip("soundfile", reason="python3-soundfile writes the test corpus (WAV, FLAC)")
TOOL = tool_or_skip()

# path in the corpus: (rate, subtype, channels' reverberation times, seconds)
CORPUS = {
    "hall/stage.wav": (48000, "PCM_24", [1.6], 2.5),
    "hall/balcony/row12.flac": (44100, "PCM_16", [1.2], 2.0),
    "hall/balcony/row20_stereo.flac": (48000, "PCM_24", [1.1, 0.7], 2.0),
    "office/desk.WAV": (44100, "FLOAT", [0.4], 1.0),
    "office/meeting_44k.wav": (44100, "PCM_16", [0.6], 1.5),
}
BROKEN = "office/broken.wav"

# The columns a survey row shares with a `reverb --parameters --format csv` row.
SHARED = ["source_rate_hz", "analysed_rate_hz", "frequency_hz", "EDT_s", "T10_s", "T20_s", "T30_s", "r2_EDT",
          "r2_T10", "r2_T20", "r2_T30", "dynamic_range_db", "curvature_percent", "noise_level_db", "peak_level_db",
          "status", "result", "status_text", "doubts", "c50_db", "c80_db", "d50_percent", "ts_ms", "onset_s",
          "crosspoint_s", "window_start_s", "window_end_s"]


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    root = tmp_path_factory.mktemp("survey")
    for k, (name, (rate, subtype, t60s, seconds)) in enumerate(CORPUS.items()):
        x = np.stack([0.5 * decaying_noise(t, seconds, delay=0.02, seed=10 * k + c, rate=rate)
                      for c, t in enumerate(t60s)], axis=1)
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        sf.write(root / name, x, rate, subtype)
    # A WAV header that promises data it does not hold, and a file that is no audio.
    (root / BROKEN).write_bytes(b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00" + bytes(8))
    (root / "office" / "notes.txt").write_text("not audio")
    return root


def run(*args):
    return subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True)


def csv_rows(text):
    return list(csv.DictReader(io.StringIO(text)))


@pytest.fixture(scope="module")
def surveyed(corpus, tmp_path_factory):
    out = tmp_path_factory.mktemp("out") / "survey.csv"
    r = run("survey", corpus, "--jobs", 2, "-o", out)
    return r, out.read_text()


def test_tool_rows_are_the_reverb_and_sti_figures(corpus, surveyed):
    r, text = surveyed
    rows = csv_rows(text)
    files = sorted(str(corpus / n) for n in list(CORPUS) + [BROKEN])
    # Every audio file in the folders, in the order of their sorted paths; the .txt is no audio file.
    assert list(dict.fromkeys(row["file"] for row in rows)) == files
    for name, (rate, _, t60s, _) in CORPUS.items():
        path = str(corpus / name)
        for channel in range(1, len(t60s) + 1):
            mine = [row for row in rows if row["file"] == path and row["channel"] == str(channel)]
            choose = ["--channel", channel] if len(t60s) > 1 else []
            reverb = run("reverb", path, "--parameters", "--format", "csv", *choose)
            assert reverb.returncode == 0, reverb.stderr
            expected = csv_rows(reverb.stdout)
            assert [row["band"] for row in mine] == [row["band"] for row in expected]
            for got, want in zip(mine, expected):
                assert got["source_rate_hz"] == str(rate)
                assert {k: got[k] for k in SHARED} == {k: want[k] for k in SHARED}, (name, channel, got["band"])
                assert got["error"] == ""
            for weights, column in (([], "sti"), (["--female"], "sti_female")):
                sti = run("sti", path, "--format", "csv", *choose, *weights)
                assert sti.returncode == 0, sti.stderr
                index = sti.stdout.splitlines()[1].split(",")[-1]
                assert {row[column] for row in mine} == {index}
    # The decays are what the files were made with (a second, independent check of the rows).
    t20 = {(row["file"], row["channel"]): float(row["T20_s"]) for row in rows if row["band"] == "1 kHz"}
    for name, (_, _, t60s, _) in CORPUS.items():
        for channel, t60 in enumerate(t60s, 1):
            assert t20[str(corpus / name), str(channel)] == pytest.approx(t60, rel=0.1)


def test_tool_reports_a_broken_file_and_goes_on(corpus, surveyed):
    r, text = surveyed
    assert r.returncode == 1
    broken = str(corpus / BROKEN)
    assert f"tavrix: {broken}: " in r.stderr and "1 of 6 files could not be analysed" in r.stderr
    [row] = [row for row in csv_rows(text) if row["file"] == broken]
    assert row["error"].startswith(broken + ": ") and row["T20_s"] == "" and row["band"] == ""
    # Given alone, every other file goes through.
    ok = run("survey", corpus / "hall", "--jobs", 3)
    assert ok.returncode == 0, ok.stderr
    assert len(csv_rows(ok.stdout)) == 4 * 9


def test_json_lines_hold_the_csv_figures(corpus, surveyed):
    _, text = surveyed
    r = run("survey", corpus, "--format", "json", "--jobs", 2)
    records = [json.loads(line) for line in r.stdout.splitlines()]
    assert r.returncode == 1 and len(records) == 6
    rows = [row for row in csv_rows(text) if not row["error"]]
    flat = [dict(row, file=rec["file"], error=None) for rec in records for row in rec["rows"]]
    assert len(flat) == len(rows)
    for got, want in zip(flat, rows):
        for k, v in got.items():
            assert (v is None and want[k] == "") or str(v) == want[k] or float(v) == float(want[k]), k
    assert next(rec for rec in records if rec["file"].endswith("broken.wav"))["error"]


@pytest.mark.parametrize("cut", [0.0, 0.3, 0.55, 0.999])
def test_resume_finishes_an_interrupted_survey(corpus, surveyed, tmp_path, cut):
    _, text = surveyed
    # The survey stopped somewhere: mid-line, mid-file, or after the header only.
    out = tmp_path / "survey.csv"
    out.write_text(text[: int(cut * len(text))])
    r = run("survey", corpus, "--jobs", 2, "-o", out, "--resume")
    assert r.returncode in (0, 1), r.stderr
    assert out.read_text() == text


def test_tool_refusals():
    r = run("survey", "/no/such/folder")
    assert r.returncode == 2 and "/no/such/folder: no such file or folder" in r.stderr
    r = run("survey", SOURCE_DIR + "/tools", "--resume")
    assert r.returncode == 2 and "--resume needs --output" in r.stderr


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # tornado, under distributed
def test_package_survey_on_processes_and_on_a_dask_cluster(corpus, surveyed):
    _, text = surveyed
    expected = csv_rows(text)
    frame = tavrix.survey(corpus, workers=2)
    assert list(frame.columns) == tavrix.survey_columns() == list(expected[0])
    assert len(frame) == len(expected)
    assert frame.attrs["failed"] == [str(corpus / BROKEN)]
    # The package's doubles are the tool's (printed in shortest round-trip form).
    for got, want in zip(frame.to_dict("records"), expected):
        for k, v in got.items():
            assert (want[k] == "" and (v == "" or np.isnan(v))) or str(v) == want[k] or v == float(want[k]), k
    distributed = pytest.importorskip("distributed", reason="python3-distributed runs the cluster")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        on_cluster = tavrix.survey(corpus, client=client)
    assert on_cluster.equals(frame)


def test_package_survey_of_one_file_and_refusals(corpus):
    rows = tavrix.survey_file(corpus / "hall" / "balcony" / "row20_stereo.flac")
    assert [row[1] for row in rows] == [1.0] * 9 + [2.0] * 9
    [row] = tavrix.survey_file(corpus / BROKEN)
    assert row[0] == str(corpus / BROKEN) and row[-1].startswith(str(corpus / BROKEN))
    assert tavrix.find_audio_files([corpus / "office", corpus / "office" / "desk.WAV"]) == sorted(
        str(corpus / "office" / n) for n in ("desk.WAV", "meeting_44k.wav", "broken.wav"))
    with pytest.raises(tavrix.FileError, match="no such file or folder"):
        tavrix.survey(corpus / "nothing")
    with pytest.raises(tavrix.ArgumentError):
        tavrix.survey(corpus, workers=0)


def test_a_worker_that_dies_costs_only_its_file(corpus, tmp_path):
    many = tmp_path / "many"
    many.mkdir()
    for k in range(30):
        os.link(corpus / "office" / "meeting_44k.wav", many / f"take{k:02d}.wav")
    p = subprocess.Popen([TOOL, "survey", many, "--jobs", "1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True)
    children = f"/proc/{p.pid}/task/{p.pid}/children"
    worker = ""
    while not worker and p.poll() is None:
        with open(children) as f:
            worker = (f.read().split() or [""])[0]
    assert worker, "the survey ended before its worker was seen"
    os.kill(int(worker), signal.SIGKILL)
    out, err = p.communicate()
    assert p.returncode == 1
    rows = csv_rows(out)
    failed = {row["file"] for row in rows if row["error"]}
    assert len(failed) == 1 and "ended by signal 9" in err, err
    # The other files were analysed by the worker that took its place.
    assert len({row["file"] for row in rows}) == 30 and len(rows) == 29 * 9 + 1
