#!/usr/bin/env python3
"""Draws the message dialog's five heading icons (48 x 48, 8-bit RGBA PNG)
into resources/ui/: a coloured badge with a white sign, anti-aliased by
sampling every pixel on a 4 x 4 grid against signed-distance shapes. Run by
hand; the pictures are committed.

    python3 tools/make_dialog_icons.py [output folder]
"""
import math
import os
import struct
import sys
import zlib

N = 48
GRID = 4


def disc(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def segment(ax, ay, bx, by, half):
    """Capsule around the segment a-b, half its thickness wide."""
    def d(x, y):
        vx, vy, wx, wy = bx - ax, by - ay, x - ax, y - ay
        t = max(0.0, min(1.0, (wx * vx + wy * vy) / (vx * vx + vy * vy)))
        return math.hypot(wx - t * vx, wy - t * vy) - half
    return d


def triangle(cx, top, bottom, half_base, rounding):
    """Upward triangle with rounded corners (distance to the edges)."""
    pts = [(cx, top + rounding), (cx + half_base - rounding, bottom - rounding),
           (cx - half_base + rounding, bottom - rounding)]

    def d(x, y):
        inside = True
        best = 1e9
        for i in range(3):
            (x1, y1), (x2, y2) = pts[i], pts[(i + 1) % 3]
            ex, ey = x2 - x1, y2 - y1
            length = math.hypot(ex, ey)
            side = (ex * (y - y1) - ey * (x - x1)) / length
            if side < 0:
                inside = False
            best = min(best, segment(x1, y1, x2, y2, 0)(x, y))
        return (-best if inside else best) - rounding
    return d


def rounded_square(c, half, r):
    def d(x, y):
        qx, qy = abs(x - c) - half + r, abs(y - c) - half + r
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def cover(shape, px, py):
    hits = 0
    for sy in range(GRID):
        for sx in range(GRID):
            if shape(px + (sx + 0.5) / GRID, py + (sy + 0.5) / GRID) <= 0:
                hits += 1
    return hits / (GRID * GRID)


def icon(badge, top, bottom, sign):
    """Badge filled with a vertical gradient top..bottom, the sign in white
    over it; straight (not pre-multiplied) RGBA rows."""
    rows = []
    for py in range(N):
        t = py / (N - 1)
        base = [round(top[i] + (bottom[i] - top[i]) * t) for i in range(3)]
        row = bytearray()
        for px in range(N):
            a = cover(badge, px, py)
            s = cover(sign, px, py) * a
            rgb = [round(c * (1 - s) + 255 * s) for c in base]
            row += bytes(rgb + [round(255 * a)])
        rows.append(bytes(row))
    return rows


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + r for r in rows)
    header = struct.pack(">IIBBBBB", N, N, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def icons():
    c = N / 2
    round_badge = disc(c, c, 22)
    exclamation = union(segment(c, 15, c, 29, 3), disc(c, 36, 3))
    return {
        "dlg_warning.png": icon(triangle(c, 2, 45, 23, 3), (255, 214, 64), (224, 150, 0),
                                union(segment(c, 17, c, 31, 2.8), disc(c, 38, 2.8))),
        "dlg_error.png": icon(round_badge, (240, 84, 72), (176, 24, 24),
                              union(segment(16, 16, 32, 32, 3.2), segment(32, 16, 16, 32, 3.2))),
        "dlg_information.png": icon(round_badge, (92, 160, 240), (24, 84, 180),
                                    union(disc(c, 13, 3.2), segment(c, 21, c, 35, 3))),
        "dlg_confirmation.png": icon(round_badge, (96, 200, 96), (28, 128, 40),
                                     union(segment(14, 25, 21, 32, 3.2), segment(21, 32, 34, 17, 3.2))),
        "dlg_custom.png": icon(rounded_square(c, 21, 7), (150, 168, 188), (84, 100, 120), exclamation),
    }


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "ui")
    for name, rows in icons().items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(png(rows))


if __name__ == "__main__":
    main()
