#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/.

Valid archives come from the real quiver on the example assets; the hostile
archives are made here, one file per case.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")


def record(name, original, offset, compressed=0, crc=0):
    raw = name if isinstance(name, bytes) else name.encode()
    return struct.pack("<Iiii", crc, original, offset, compressed) + raw.ljust(256, b"\0")[:256]


def archive(members, compressed=0, count=None):
    """members: (name, original_length, compressed_length, data) in data order."""
    count = len(members) if count is None else count
    offset = 16 + 272 * len(members)
    table, data = b"", b""
    for name, original, clen, payload in members:
        table += record(name, original, offset + len(data), clen)
        data += payload
    return struct.pack("<iiII", count, compressed, 0, 0) + table + data


def write(target, name, content):
    os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    with open(os.path.join(CORPUS, target, name), "wb") as out:
        out.write(content)


STREAMS = {
    "empty": (0, b"\x00\x00"),
    "a": (1, b"\xb0\x80\x00"),
    "abc": (3, b"\xb0\xd8\xac\x60\x00"),
    "abab": (4, b"\xb0\xd8\x80\x02\x00\x00"),
    "abc4": (12, b"\xb0\xd8\xac\x60\x01\x70\x00\x00"),
    "a10": (10, b"\xb0\x80\x05\xc0\x00"),
    "ab20": (40, b"\xb0\xd8\x80\x03\xe0\x12\xf0\x11\x90\x00\x00"),
}


def main(quiver):
    shutil.rmtree(CORPUS, ignore_errors=True)
    # The member's length, the size of the pieces the stream arrives in (0:
    # whole), the stream.
    for name, (length, stream) in STREAMS.items():
        write("decoder", name, struct.pack("<IB", length, 0) + stream)
        write("decoder", name + "-pieces", struct.pack("<IB", length, 3) + stream)
    write("decoder", "no-end", struct.pack("<IB", 4, 0) + b"\xb0\xd8\x6c\x36\x10")

    for name in ("readme.txt", "maps/level1.map", "art/logo.bmp", "sounds/beep.raw"):
        with open(os.path.join(TOP, "examples", "assets", name), "rb") as f:
            write("roundtrip", os.path.basename(name), f.read())
    write("roundtrip", "abab", b"abab")
    write("roundtrip", "ab20", b"ab" * 20)

    with open(os.path.join(TOP, "examples", "assets.rsp"), "rb") as f:
        write("response", "assets", f.read())
    write("response", "comments", b"a.txt #first word\n#b.txt\nc#d.txt e.txt\n")
    write("response", "crlf-eot", b"a\r\nb\tc\x1ad e\n# last")

    with tempfile.TemporaryDirectory() as scratch:
        for option, label in (([], "valid-stored"), (["-c"], "valid-compressed"), (["-s"], "valid-smallest")):
            out = os.path.join(scratch, label)
            subprocess.run([quiver, *option, out, "@assets"], cwd=os.path.join(TOP, "examples"),
                           check=True, stdout=subprocess.DEVNULL)
            with open(out + ".qvr", "rb") as f:
                write("archive", label + ".qvr", f.read())

    evil = b"evil"
    hostile = {
        "parent-name": archive([("../victim", 4, 0, evil)]),
        "absolute-name": archive([("/tmp/victim", 4, 0, evil)]),
        "root-name": archive([("\\victim", 4, 0, evil)]),
        "drive-name": archive([("c:\\victim", 4, 0, evil)]),
        "directory-name": archive([("dir\\", 4, 0, evil)]),
        "no-nul": archive([(b"n" * 256, 4, 0, evil)]),
        "negative-count": archive([], count=-1),
        "huge-count": archive([("victim", 4, 0, evil)], count=0x7FFFFFFF),
        "table-cut": archive([("a", 1, 0, b"1"), ("b", 1, 0, b"2")])[: 16 + 272 + 100],
        "span-cut": archive([("victim", 40, 0, evil)]),
        "offset-outside": struct.pack("<iiII", 1, 0, 0, 0) + record("victim", 4, 0x7FFFFFF0) + evil,
        "negative-length": archive([("victim", -4, 0, evil)]),
        "stream-no-end": archive([("victim", 4, 5, b"\xb0\xd8\x6c\x36\x10")], compressed=1),
        "stream-too-many": archive([("victim", 9, 5, STREAMS["a10"][1])], compressed=1),
        "stream-too-few": archive([("victim", 11, 5, STREAMS["a10"][1])], compressed=1),
        "short-file": b"\x01\x00\x00\x00\x00\x00",
        "length-beyond-stream": archive([("victim", 0x7FFFFFFF, 5, STREAMS["a10"][1])], compressed=1),
    }
    for name, content in hostile.items():
        write("archive", name + ".qvr", content)
    # Found by fuzzing: a member whose 255-character name left no room for
    # the name of its unfinished output.
    # Found by fuzzing: a table of no entries, read from memory, copied from a
    # null buffer.
    write("archive", "valid-empty-table.qvr", archive([], count=0) + b"evil")
    write("archive", "valid-long-name.qvr", archive([("n" * 200 + ".qvx-" + "n" * 50, 4, 0, evil)]))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOP, "build", "release", "builder", "quiver"))
