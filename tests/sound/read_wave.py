"""Describes a RIFF/WAVE file line by line, read independently of the program's own code."""
import struct
import sys
import wave

path = sys.argv[1]
with open(path, "rb") as f:
    raw = f.read()
print("size", len(raw))
riff, riff_size, form = struct.unpack("<4sI4s", raw[:12])
print("header", riff.decode("latin-1"), riff_size, form.decode("latin-1"))
pos = 12
while pos + 8 <= len(raw):
    cid, csize = struct.unpack("<4sI", raw[pos:pos + 8])
    payload = raw[pos + 8:pos + 8 + csize]
    line = "chunk %s %d" % (cid.decode("latin-1"), csize)
    if cid == b"fmt ":
        line += " tag=%d channels=%d rate=%d byterate=%d align=%d bits=%d" % struct.unpack(
            "<HHIIHH", payload[:16])
    elif cid == b"fact":
        line += " samples=%d" % struct.unpack("<I", payload[:4])
    elif cid != b"data":
        line += " zero" if not any(payload) else " nonzero"
    print(line)
    pos += 8 + csize + (csize & 1)
print("end", pos)
with wave.open(path, "rb") as w:
    print("wave", w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(),
          w.getcomptype())
    print("frames", w.readframes(w.getnframes()).hex())
