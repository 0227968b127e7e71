#!/usr/bin/env python3
"""Draws the About box's animated picture and writes it as res/about.gif.

A stopwatch whose hand sweeps round in eighths of a turn, shading the time
since the last sound; every half turn the speaker below plays (the waves turn
blue) and the shading starts again: sound coming out after a delay.

The picture is 59 x 76 pixels, a GIF89a with a 256-entry global colour table,
a looping application extension and eight full-size images, each behind a
graphic control extension with disposal 2 and no transparency. Standard
library only: the LZW encoder is below.

Usage: python3 res/make_about_gif.py [output path]
"""

import math
import os
import struct
import sys

WIDTH, HEIGHT = 59, 76
DELAYS = [10, 10, 10, 100, 10, 10, 10, 100]  # hundredths of a second
SUPERSAMPLE = 4  # sub-samples per pixel side, for smooth edges

BACKGROUND = (236, 237, 242)
INK = (48, 56, 74)
FACE = (253, 253, 253)
TICK = (120, 128, 146)
HAND = (206, 48, 42)
SHADE = (250, 208, 200)
WAVE_ON = (38, 112, 214)
WAVE_OFF = (214, 217, 226)

# Stopwatch geometry (pixel units, y downwards).
CX, CY = 29.5, 28.5
RING_INNER, RING_OUTER = 17.3, 20.6
SHADE_RADIUS = 16.2
HAND_LENGTH = 15.0

# Speaker geometry.
SPEAKER_MAGNET = (9.0, 59.5, 14.5, 68.5)  # left, top, right, bottom
SPEAKER_CONE = [(14.5, 59.5), (21.5, 53.5), (21.5, 74.5), (14.5, 68.5)]
WAVE_CENTRE = (22.5, 64.0)
WAVE_RADII = (6.0, 11.0, 16.0)
WAVE_HALF_ANGLE = math.radians(42)
WAVE_WIDTH = 1.9


def clock_angle(x, y):
    """Angle of (x, y) round the stopwatch centre, clockwise from 12 o'clock."""
    return math.atan2(x - CX, CY - y) % (2 * math.pi)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def radial(angle, r):
    return CX + r * math.sin(angle), CY - r * math.cos(angle)


def inside_convex(px, py, points):
    sign = 0
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        cross = (bx - ax) * (py - ay) - (by - ay) * (px - ax)
        if cross != 0:
            if sign == 0:
                sign = 1 if cross > 0 else -1
            elif (cross > 0) != (sign > 0):
                return False
    return True


def sample(x, y, frame):
    """Colour of the point (x, y) in frame 0..7."""
    hand = (frame + 1) * math.pi / 4          # an eighth of a turn per frame
    since = (frame // 4) * math.pi            # the last sound: 12 or 6 o'clock
    playing = frame % 4 == 3

    d = math.hypot(x - CX, y - CY)
    # Crown, its stem and the side button.
    if 26.5 <= x <= 32.5 and 2.5 <= y <= 5.5:
        return INK
    if 28.3 <= x <= 30.7 and 5.5 <= y <= 8.5:
        return INK
    bx0, by0 = radial(math.radians(45), 19.5)
    bx1, by1 = radial(math.radians(45), 23.0)
    if segment_distance(x, y, bx0, by0, bx1, by1) <= 1.6:
        return INK
    if RING_INNER <= d <= RING_OUTER:
        return INK
    if d < RING_INNER:
        if d <= 2.3:
            return INK
        hx, hy = radial(hand, HAND_LENGTH)
        tx, ty = radial(hand, -3.0)
        if segment_distance(x, y, tx, ty, hx, hy) <= 1.1:
            return HAND
        for k in range(12):
            a = k * math.pi / 6
            quarter = k % 3 == 0
            ax, ay = radial(a, 12.8 if quarter else 14.2)
            ex, ey = radial(a, 16.3)
            if segment_distance(x, y, ax, ay, ex, ey) <= (0.85 if quarter else 0.55):
                return INK if quarter else TICK
        if d <= SHADE_RADIUS and 0 < (clock_angle(x, y) - since) % (2 * math.pi) <= hand - since:
            return SHADE
        return FACE

    # Speaker and its waves.
    left, top, right, bottom = SPEAKER_MAGNET
    if left <= x <= right and top <= y <= bottom:
        return INK
    if inside_convex(x, y, SPEAKER_CONE):
        return INK
    wx, wy = WAVE_CENTRE
    wd = math.hypot(x - wx, y - wy)
    if x > wx and abs(math.atan2(y - wy, x - wx)) <= WAVE_HALF_ANGLE:
        for r in WAVE_RADII:
            if abs(wd - r) <= WAVE_WIDTH / 2:
                return WAVE_ON if playing else WAVE_OFF
    return BACKGROUND


def render(frame):
    """The frame as rows of RGB tuples, each pixel the mean of its sub-samples."""
    n = SUPERSAMPLE
    rows = []
    for py in range(HEIGHT):
        row = []
        for px in range(WIDTH):
            acc = [0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    c = sample(px + (sx + 0.5) / n, py + (sy + 0.5) / n, frame)
                    acc[0] += c[0]
                    acc[1] += c[1]
                    acc[2] += c[2]
            row.append(tuple(round(v / (n * n)) for v in acc))
        rows.append(row)
    return rows


def make_palette(frames, size=256):
    """Up to `size` colours covering every pixel of every frame (median cut
    when there are more distinct colours than that)."""
    counts = {}
    for rows in frames:
        for row in rows:
            for c in row:
                counts[c] = counts.get(c, 0) + 1
    colours = list(counts)
    if len(colours) <= size:
        return colours
    boxes = [colours]
    while len(boxes) < size:
        # Split the box with the widest channel range.
        best, channel, spread = None, 0, -1
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                values = [c[ch] for c in box]
                if max(values) - min(values) > spread:
                    best, channel, spread = i, ch, max(values) - min(values)
        if best is None or spread == 0:
            break
        box = sorted(boxes.pop(best), key=lambda c: c[channel])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette = []
    for box in boxes:
        weight = sum(counts[c] for c in box)
        palette.append(tuple(round(sum(c[ch] * counts[c] for c in box) / weight) for ch in range(3)))
    return palette


def nearest(palette, colour, cache):
    if colour not in cache:
        cache[colour] = min(range(len(palette)),
                            key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))
    return cache[colour]


def lzw_encode(indices, min_code_size=8):
    """GIF-flavoured LZW: variable code width from min_code_size + 1 up to 12
    bits, codes packed least significant bit first."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bits = 0
    nbits = 0

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    def reset():
        return {}, end + 1, min_code_size + 1

    table, next_code, width = reset()
    emit(clear, width)
    prefix = indices[0]
    for index in indices[1:]:
        key = (prefix, index)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, width)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            # The decoder adds this entry one code later, so it widens when
            # its own count reaches the limit; this matches it.
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            emit(clear, width)
            table, next_code, width = reset()
        prefix = index
    emit(prefix, width)
    if next_code == (1 << width) and width < 12:
        width += 1
    emit(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def build_gif(frames):
    palette = make_palette(frames)
    padded = palette + [(0, 0, 0)] * (256 - len(palette))
    cache = {}
    out = bytearray(b"GIF89a")
    # Logical screen: global table present, 8 bits of colour resolution,
    # table size field 7 (256 entries); background index 0; no aspect ratio.
    out += struct.pack("<HHBBB", WIDTH, HEIGHT, 0xF7, 0, 0)
    for colour in padded:
        out += bytes(colour)
    # Looping application extension: loop sub-block, repeat count 0 = forever.
    out += b"\x21\xFF\x0BNETSCAPE2.0" + b"\x03\x01\x00\x00" + b"\x00"
    for rows, delay in zip(frames, DELAYS):
        # Graphic control extension: disposal 2 (restore to background), no
        # transparency, delay in hundredths.
        out += b"\x21\xF9\x04" + bytes([2 << 2]) + struct.pack("<H", delay) + b"\x00\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, WIDTH, HEIGHT, 0)
        indices = [nearest(palette, c, cache) for row in rows for c in row]
        out += b"\x08" + sub_blocks(lzw_encode(indices))
    out += b"\x3B"
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "about.gif")
    frames = [render(i) for i in range(len(DELAYS))]
    data = build_gif(frames)
    with open(path, "wb") as f:
        f.write(data)
    print(f"{path}: {len(data)} bytes")


if __name__ == "__main__":
    main()
