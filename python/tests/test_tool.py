"""The tool and the package on the same files give the same figures, number
for number: both call the layer, and the tool's JSON prints doubles in their
shortest round-trip form."""

import json
import subprocess

import numpy as np
import pytest
from conftest import decaying_noise, tool_or_skip

import tavrix

sf = pytest.importorskip("soundfile", reason="python3-soundfile writes the test corpus (WAV, FLAC)")
TOOL = tool_or_skip()

# name: (rate, subtype, channels' reverberation times, seconds)
CORPUS = {
    "float48.wav": (48000, "FLOAT", [1.2], 2.0),
    "pcm16_44k.wav": (44100, "PCM_16", [0.8], 2.0),
    "pcm24_96k.wav": (96000, "PCM_24", [0.6], 1.5),
    "stereo24_48k.wav": (48000, "PCM_24", [1.0, 0.5], 2.0),
    "stereo16_44k.flac": (44100, "PCM_16", [0.7, 1.4], 2.5),
    "mono24_96k.flac": (96000, "PCM_24", [0.9], 1.5),
    "short.wav": (48000, "PCM_16", [0.2], 0.3),
}


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    folder = tmp_path_factory.mktemp("corpus")
    files = {}
    for name, (rate, subtype, t60s, seconds) in CORPUS.items():
        x = np.stack([0.5 * decaying_noise(t, seconds, delay=0.02, seed=k + 7, rate=rate)
                      for k, t in enumerate(t60s)], axis=1)
        sf.write(folder / name, x, rate, subtype)
        files[str(folder / name)] = len(t60s)
    # Trailing digital silence: exact zeros at the end of a 16-bit file.
    x = 0.5 * decaying_noise(0.7, 1.5)
    sf.write(folder / "silence_end.wav", np.concatenate([x, np.zeros(30000)]), 48000, "PCM_16")
    files[str(folder / "silence_end.wav")] = 1
    return files


def cases(corpus):
    for path, channels in corpus.items():
        for channel in ([None] if channels == 1 else range(1, channels + 1)):
            yield path, channel


def tool(*args):
    r = subprocess.run([TOOL, *map(str, args)], capture_output=True, text=True)
    return r, (json.loads(r.stdout) if r.stdout.strip() else None)


def channel_args(channel):
    return [] if channel is None else ["--channel", channel]


def package(call):
    """The package's result as the tool's JSON has it, or the exception it raised."""
    try:
        return json.loads(json.dumps(call().as_dict())), None
    except tavrix.TavrixError as e:
        return None, e


def agree(args, call):
    r, expected = tool(*args)
    got, error = package(call)
    if error is not None:
        assert r.returncode != 0 and str(error) in r.stderr, (args, r.stderr, error)
    else:
        assert expected is not None, (args, r.stderr)
        assert got == expected, args
    return got


def test_reverberation_of_every_file_and_channel(corpus):
    results = {}
    for path, channel in cases(corpus):
        results[path, channel] = agree(
            ["reverb", path, "--format", "json", "--parameters", *channel_args(channel)],
            lambda: tavrix.reverberation(tavrix.read_audio(path, channel), parameters=True))
    silence = next(v for (p, _), v in results.items() if p.endswith("silence_end.wav"))
    assert silence["positions"][0]["silence_cut_s"] == pytest.approx(30000 / 48000, abs=1e-3)
    evaluated = [b for r in results.values() if r for s in r["positions"] for b in s["bands"] if b["times_s"]["T30"]]
    assert len(evaluated) > 40


def test_sti_of_every_file_and_channel(corpus):
    for path, channel in cases(corpus):
        agree(["sti", path, "--format", "json", *channel_args(channel)],
              lambda: tavrix.sti(tavrix.read_audio(path, channel)))


def test_options_and_positions(corpus):
    mono = [p for p, n in corpus.items() if n == 1 and "short" not in p]
    both = agree(["reverb", *mono[:3], "--format", "json", "--bands", "third", "--ranges", "0,20,30"],
                 lambda: tavrix.reverberation([tavrix.read_audio(p) for p in mono[:3]], bands="third",
                                              ranges=[0, 20, 30]))
    assert both["ensemble"]["name"] == "mean" and len(both["positions"]) == 3
    hi = next(p for p in mono if "96k" in p)
    agree(["reverb", hi, "--format", "json", "--native-rate", "--keep-silence", "--low", "250", "--high", "2000"],
          lambda: tavrix.reverberation(hi, native_rate=True, keep_silence=True, low=250, high=2000))
    agree(["sti", hi, "--format", "json", "--female", "--signal", "60,60,60,60,60,60,60", "--noise",
           "40,42,44,46,48,50,52"],
          lambda: tavrix.sti(hi, female=True, signal_db=[60] * 7, noise_db=[40, 42, 44, 46, 48, 50, 52]))
    # Refused alike, in the same words.
    stereo = next(p for p, n in corpus.items() if n == 2)
    assert agree(["reverb", stereo, "--format", "json"], lambda: tavrix.reverberation(stereo)) is None
