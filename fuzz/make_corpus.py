#!/usr/bin/env python3
"""Writes the seed corpus of the WAV fuzz targets into the given directory.

Small valid files of every layout the reader accepts (16/24/32-bit PCM and
32-bit float, extended format chunks, empty data) and the layouts it must
refuse cleanly (extensible, stereo, 8-bit, extra chunks, truncated data), so
that mutation starts next to every branch of the header parser. Each seed
holds a decaying click that the analyses can find an onset in.
"""
import math
import os
import struct
import sys


def chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body


def fmt(tag=1, channels=1, rate=48000, bits=16, extra=b""):
    block = channels * bits // 8
    return struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits) + extra


def pcm(samples, bits):
    out = bytearray()
    full = 1 << (bits - 1)
    for s in samples:
        v = max(-full, min(full - 1, int(round(s * full))))
        out += (v & ((1 << bits) - 1)).to_bytes(bits // 8, "little")
    return bytes(out)


def floats(samples):
    return b"".join(struct.pack("<f", s) for s in samples)


def riff(*chunks, riff_size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if riff_size is None else riff_size) + body


def click(n, rate):
    # Silence, then an exponentially decaying alternating burst (a crude room).
    lead = n // 8
    return [0.0] * lead + [0.9 * math.exp(-i / (0.02 * rate + 1)) * (-1) ** i for i in range(n - lead)]


def seeds():
    x = click(600, 8000)
    yield "pcm16", riff(chunk(b"fmt ", fmt(bits=16, rate=8000)), chunk(b"data", pcm(x, 16)))
    yield "pcm24", riff(chunk(b"fmt ", fmt(bits=24, rate=8000)), chunk(b"data", pcm(x, 24)))
    yield "pcm32", riff(chunk(b"fmt ", fmt(bits=32, rate=8000)), chunk(b"data", pcm(x, 32)))
    yield "float", riff(chunk(b"fmt ", fmt(tag=3, bits=32, rate=8000)), chunk(b"data", floats(x)))
    yield "float_fmt18", riff(chunk(b"fmt ", fmt(tag=3, bits=32, rate=8000, extra=b"\0\0")),
                              chunk(b"data", floats(x)))
    yield "pcm16_48k", riff(chunk(b"fmt ", fmt(rate=48000)), chunk(b"data", pcm(click(1500, 48000), 16)))
    yield "pcm16_1hz", riff(chunk(b"fmt ", fmt(rate=1)), chunk(b"data", pcm(x[:100], 16)))
    yield "pcm16_max_rate", riff(chunk(b"fmt ", fmt(rate=0x7FFFFFFF)), chunk(b"data", pcm(x[:100], 16)))
    yield "empty_data", riff(chunk(b"fmt ", fmt()), chunk(b"data", b""))
    yield "truncated_data", riff(chunk(b"fmt ", fmt()), b"data" + struct.pack("<I", 4000) + pcm(x[:50], 16))
    ext = struct.pack("<HHI", 22, 16, 4) + b"\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
    yield "extensible", riff(chunk(b"fmt ", fmt(tag=0xFFFE, extra=ext)), chunk(b"data", pcm(x, 16)))
    yield "stereo", riff(chunk(b"fmt ", fmt(channels=2)), chunk(b"data", pcm(x, 16)))
    yield "pcm8", riff(chunk(b"fmt ", fmt(bits=8)), chunk(b"data", bytes(100)))
    yield "list_chunk", riff(chunk(b"fmt ", fmt()), chunk(b"LIST", b"INFOISFT\x04\x00\x00\x00tvx\0"),
                             chunk(b"data", pcm(x, 16)))
    yield "fact_chunk", riff(chunk(b"fmt ", fmt(tag=3, bits=32)), chunk(b"fact", struct.pack("<I", 600)),
                             chunk(b"data", floats(x)))
    yield "trailing_chunk", riff(chunk(b"fmt ", fmt()), chunk(b"data", pcm(x, 16)), chunk(b"LIST", b"INFO"))
    yield "short_fmt", riff(b"fmt " + struct.pack("<I", 14) + fmt(), chunk(b"data", pcm(x[:64], 16)))
    yield "rate_zero", riff(chunk(b"fmt ", fmt(rate=0)), chunk(b"data", pcm(x[:64], 16)))
    yield "odd_riff_size", riff(chunk(b"fmt ", fmt()), chunk(b"data", pcm(x[:64], 16)), riff_size=0xFFFFFFFF)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_corpus.py DIRECTORY")
    os.makedirs(sys.argv[1], exist_ok=True)
    for name, data in seeds():
        with open(os.path.join(sys.argv[1], name + ".wav"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
