#!/usr/bin/env python3
"""Writes the pictures of exit_pictures.sh into a folder: huge, slow or hostile files next to a
small one. JPEG files are made with cjpeg from generated rows; nothing is downloaded.
Usage: make_hostile.py FOLDER"""
import os
import struct
import subprocess
import sys

out = sys.argv[1]


def ppm_rows(width, height, row):
    """A P6 stream whose row y is row(y) (bytes of width * 3)."""
    yield b"P6\n%d %d\n255\n" % (width, height)
    for y in range(height):
        yield row(y)


def cjpeg(name, width, height, row, *options):
    path = os.path.join(out, name)
    with open(path, "wb") as f:
        p = subprocess.Popen(["cjpeg", *options], stdin=subprocess.PIPE, stdout=f)
        for chunk in ppm_rows(width, height, row):
            p.stdin.write(chunk)
        p.stdin.close()
        p.wait()
    return path


def gradient(width):
    # Smooth bands 64 pixels wide (width a multiple of 64): a few bytes per block, like a sky.
    bands = {}

    def row(y):
        v = (y // 64) % 200 + 20
        if v not in bands:
            bands[v] = b"".join(bytes((v, (v + x // 64) % 256, 128)) * 64
                                for x in range(0, width, 64))
        return bands[v]
    return row


def noise(width):
    # A photo's worth of detail and more: the slowest kind of file to decode.
    return lambda y: os.urandom(width * 3)


def flat(width):
    line = bytes((90, 120, 150)) * width
    return lambda y: line


def sos_segments(data):
    """(start, end) of every scan: its SOS marker up to the next marker that is not a restart."""
    starts = [i for i in range(len(data) - 1) if data[i] == 0xFF and data[i + 1] == 0xDA]
    spans = []
    for s in starts:
        length = struct.unpack(">H", data[s + 2:s + 4])[0]
        i = s + 2 + length
        while True:
            i = data.index(b"\xff", i)
            if data[i + 1] != 0 and not 0xD0 <= data[i + 1] <= 0xD7:
                break
            i += 2
        spans.append((s, i))
    return spans


def many_scans(name, width, height, scans):
    """A progressive file whose luma AC scan (no successive approximation) repeats: each
    repetition is a full pass over the picture and a valid one."""
    script = os.path.join(out, "script.txt")
    with open(script, "w") as f:
        f.write("0,1,2: 0-0, 0, 0;\n0: 1-63, 0, 0;\n1: 1-63, 0, 0;\n2: 1-63, 0, 0;\n")
    path = cjpeg(name, width, height, flat(width), "-scans", script)
    os.remove(script)
    data = open(path, "rb").read()
    s, e = sos_segments(data)[1]
    data = data[:e] + data[s:e] * (scans - 4) + data[e:]
    open(path, "wb").write(data)


def rle8(name, size):
    """An 8-bit run-length BMP of 64 x 4096 whose rows hold runs past their right edge: `size`
    bytes of codes that draw almost nothing."""
    rows = 4096
    per_row = size // rows // 2 * 2
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    start = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", 0, 0, 0, start)
    header += struct.pack("<IiiHHIIiiII", 40, 64, rows, 1, 8, 1, 0, 2835, 2835, 256, 0)
    row = bytes((255, 7)) * (per_row // 2 - 1) + b"\x00\x00"
    with open(os.path.join(out, name), "wb") as f:
        f.write(header + palette)
        for _ in range(rows):
            f.write(row)
        f.write(b"\x00\x01")


def comments(name, size):
    """A small JPEG with `size` bytes of comment markers before its frame."""
    small = open(os.path.join(out, "small.jpg"), "rb").read()
    comment = b"\xff\xfe\xff\xff" + b"c" * 65533
    with open(os.path.join(out, name), "wb") as f:
        f.write(small[:2])
        for _ in range(size // len(comment)):
            f.write(comment)
        f.write(small[2:])


cjpeg("small.jpg", 640, 480, gradient(640))
cjpeg("photo-6000x4000.jpg", 6000, 4000, noise(6000), "-quality", "90")
cjpeg("progressive-16000.jpg", 16000, 16000, gradient(16000), "-progressive")
cjpeg("arithmetic-16000.jpg", 16000, 16000, flat(16000), "-arithmetic")
cjpeg("arithmetic-progressive-444-16384.jpg", 16384, 16384, flat(16384), "-arithmetic",
      "-progressive", "-sample", "1x1")
many_scans("scans-490-8000.jpg", 8000, 8000, 490)
rle8("rle8-1g.bmp", (1 << 30) - (1 << 20))  # just under the loader's file limit
comments("comments-1g.jpg", 1 << 30)
