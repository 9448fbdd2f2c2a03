"""Writes a small PNG cover: a square in two tones with a light disc, so a person can tell it shows.
   scripts/make-cover.py OUT.png (for the demo and the tests of local players)"""
import struct
import sys
import zlib

SIZE = 64


def pixel(x, y):
    dx, dy = x - SIZE / 2, y - SIZE / 2
    if dx * dx + dy * dy < (SIZE / 4) ** 2:
        return (0xE8, 0xD5, 0xB0)
    return (0x2B, 0x4C, 0x7E) if x + y < SIZE else (0x6A, 0x3D, 0x7A)


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(SIZE)) for y in range(SIZE))
with open(sys.argv[1], "wb") as out:
    out.write(b"\x89PNG\r\n\x1a\n")
    out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)))
    out.write(chunk(b"IDAT", zlib.compress(rows)))
    out.write(chunk(b"IEND", b""))
