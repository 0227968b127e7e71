#!/usr/bin/env python3
"""Writes the fuzzer's seed GIFs into corpus/. Each is a small, valid stream
with real image data, so that the seeds reach every kind of block; run once
and commit the output (the fuzz run itself does not need Python)."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def lzw(pixels, min_code_size=2):
    """Image data that stays at the starting code width: a clear code before
    the table would grow a code wider."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    width = min_code_size + 1
    per_clear = (1 << min_code_size) - 2
    codes = []
    for i, p in enumerate(pixels):
        if i % per_clear == 0:
            codes.append(clear)
        codes.append(p)
    codes.append(end)
    bits, nbits, out = 0, 0, bytearray()
    for c in codes:
        bits |= c << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes([min_code_size]) + sub_blocks(bytes(out))


def sub_blocks(payload, size=255):
    out = bytearray()
    for i in range(0, len(payload), size):
        chunk = payload[i:i + size]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b"\0")


PALETTE = bytes([255, 255, 255, 200, 40, 40, 40, 120, 200, 0, 0, 0])  # 4 colours


def header(w, h, version=b"89a", table=PALETTE):
    packed = (0x80 | 0x01) if table else 0x00  # size field 1: 4 entries
    return b"GIF" + version + struct.pack("<HHBBB", w, h, packed, 0, 0) + (table or b"")


def control(delay, disposal, transparent=None):
    packed = (disposal << 2) | (1 if transparent is not None else 0)
    return b"\x21\xF9\x04" + struct.pack("<BHB", packed, delay, transparent or 0) + b"\0"


def image(left, top, w, h, pixels, local=None):
    packed = (0x80 | 0x01) if local else 0x00
    return b"\x2C" + struct.pack("<HHHHB", left, top, w, h, packed) + (local or b"") + lzw(pixels)


def looping():
    return b"\x21\xFF\x0B" + b"MORVANE" + b"1.0a" + b"\x03\x01\x00\x00\x00"


def comment(text):
    return b"\x21\xFE" + sub_blocks(text.encode())


def plain_text(left, top, w, h, text):
    fixed = struct.pack("<HHHHBBBB", left, top, w, h, 4, 8, 1, 0)
    return b"\x21\x01\x0C" + fixed + sub_blocks(text.encode())


TRAILER = b"\x3B"


def square(w, h, colour):
    return [colour] * (w * h)


def checker(w, h):
    return [(x + y) % 4 for y in range(h) for x in range(w)]


SEEDS = {
    "still.gif": header(4, 4) + control(0, 0) + image(0, 0, 4, 4, checker(4, 4)) + TRAILER,
    "still_87a.gif": header(3, 2, b"87a") + image(0, 0, 3, 2, square(3, 2, 1)) + TRAILER,
    "two_frames.gif": header(6, 5) + looping()
    + control(10, 2) + image(0, 0, 6, 5, checker(6, 5))
    + control(50, 1, transparent=0) + image(1, 1, 4, 3, square(4, 3, 2)) + TRAILER,
    "local_table.gif": header(5, 5, table=None)
    + image(0, 0, 5, 5, checker(5, 5), local=PALETTE)
    + image(2, 2, 3, 3, square(3, 3, 3), local=PALETTE[::-1]) + TRAILER,
    "plain_text.gif": header(16, 8) + comment("made for the fuzzer")
    + control(20, 0) + plain_text(0, 0, 16, 8, "Hi")
    + control(20, 3) + comment("between") + control(99, 1) + image(0, 0, 16, 8, checker(16, 8))
    + image(4, 4, 2, 2, square(2, 2, 1)) + TRAILER,
    "not_a_gif.bin": b"GIF90a" + bytes(16),
}
full = SEEDS["two_frames.gif"]
# Cut inside the second frame's image data: only the first frame survives.
SEEDS["truncated.gif"] = full[: len(full) - 6]
# A trailer-less stream that ends right after a complete image.
SEEDS["no_trailer.gif"] = full[:-1]

if __name__ == "__main__":
    out = os.path.join(HERE, "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
