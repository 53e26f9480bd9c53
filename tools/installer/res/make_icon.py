#!/usr/bin/env python3
"""Draws the tool's icon: an eight-dot braille cell on a blue tile.

Writes CellivantaVKTools.ico with four 24-bit images of 48, 32, 16 and 64
pixels, in that order (the order the resource script expects). The corners
outside the rounded tile are transparent through the icon's AND mask.

    make_icon.py [OUTPUT]

The icon is kept in the repository; run this only to change the artwork.
"""
import struct
import sys

SIZES = (48, 32, 16, 64)
SUPERSAMPLE = 4

TILE_TOP = (38, 92, 170)
TILE_BOTTOM = (16, 46, 104)
DOT_RAISED = (255, 255, 255)
DOT_FLAT = (74, 120, 190)
# Dots 1, 2, 4, 5, 7 raised: a cell with its pins up, as on the display.
RAISED = {1, 2, 4, 5, 7}


def inside_rounded_square(x, y, size, radius):
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def dot_centres(size):
    # Braille numbering: dots 1-3 and 7 down the left column, 4-6 and 8 down the right.
    left, right = size * 0.36, size * 0.64
    rows = [size * (0.2 + 0.2 * r) for r in range(4)]
    centres = {}
    for row, number in enumerate((1, 2, 3, 7)):
        centres[number] = (left, rows[row])
    for row, number in enumerate((4, 5, 6, 8)):
        centres[number] = (right, rows[row])
    return centres


def colour_at(x, y, size, centres, dot_radius):
    for number, (cx, cy) in centres.items():
        if (x - cx) ** 2 + (y - cy) ** 2 <= dot_radius ** 2:
            return DOT_RAISED if number in RAISED else DOT_FLAT
    t = y / size
    return tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))


def render(size):
    """Returns rows top to bottom of (colour, opaque) pixels."""
    radius = size * 0.18
    centres = dot_centres(size)
    dot_radius = size * 0.075
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            samples, inside = [], 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = px + (sx + 0.5) / SUPERSAMPLE
                    y = py + (sy + 0.5) / SUPERSAMPLE
                    if inside_rounded_square(x, y, size, radius):
                        inside += 1
                        samples.append(colour_at(x, y, size, centres, dot_radius))
            opaque = inside * 2 >= SUPERSAMPLE * SUPERSAMPLE
            colour = tuple(sum(c[i] for c in samples) // len(samples) for i in range(3)) if samples else (0, 0, 0)
            row.append((colour if opaque else (0, 0, 0), opaque))
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    xor_stride = (size * 3 + 3) & ~3
    and_stride = ((size + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        line = bytearray()
        for (r, g, b), _ in row:
            line += bytes((b, g, r))
        xor += line + bytes(xor_stride - len(line))
        bits = bytearray(and_stride)
        for x, (_, opaque) in enumerate(row):
            if not opaque:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else 'CellivantaVKTools.ico'
    images = [dib(size) for size in SIZES]
    data = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        data += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    for image in images:
        data += image
    with open(output, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
