#!/usr/bin/env python3
"""Draws the installer's status picture tran_inst.png (180 x 240, 8-bit RGBA
PNG) into resources/ui/: an open box in blues with an arrow coming down
into it, on a transparent ground, anti-aliased by 4 x 4 supersampling.
Run by hand; the picture is committed.

    python3 tools/make_status_picture.py [output folder]
"""
import os
import struct
import sys
import zlib

W, H, SUB = 180, 240, 4

# (polygon, RGBA), painted in order.
SHAPES = [
    # the box: back flaps, front, side
    ([(20, 120), (90, 95), (160, 120), (90, 145)], (120, 170, 210, 255)),
    ([(20, 120), (90, 145), (90, 230), (20, 200)], (41, 108, 149, 255)),
    ([(90, 145), (160, 120), (160, 200), (90, 230)], (70, 140, 185, 255)),
    ([(20, 120), (5, 95), (75, 72), (90, 95)], (160, 200, 230, 220)),
    ([(90, 95), (105, 72), (175, 95), (160, 120)], (160, 200, 230, 220)),
    # the arrow
    ([(75, 10), (105, 10), (105, 70), (125, 70), (90, 115), (55, 70), (75, 70)], (0, 128, 0, 235)),
]


def inside(poly, x, y):
    hit = False
    n = len(poly)
    for i in range(n):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def over(dst, src, cov):
    """Straight-alpha 'over' of src with coverage cov onto dst."""
    sa = src[3] / 255 * cov
    da = dst[3] / 255
    oa = sa + da * (1 - sa)
    if oa <= 0:
        return (0, 0, 0, 0)
    rgb = [(src[i] * sa + dst[i] * da * (1 - sa)) / oa for i in range(3)]
    return tuple(int(round(v)) for v in rgb) + (int(round(oa * 255)),)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "ui")
    pix = [[(0, 0, 0, 0)] * W for _ in range(H)]
    for poly, colour in SHAPES:
        xs = [p[0] for p in poly]
        ys = [p[1] for p in poly]
        for py in range(max(0, int(min(ys))), min(H, int(max(ys)) + 1)):
            for px in range(max(0, int(min(xs))), min(W, int(max(xs)) + 1)):
                n = sum(inside(poly, px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                        for sy in range(SUB) for sx in range(SUB))
                if n:
                    pix[py][px] = over(pix[py][px], colour, n / (SUB * SUB))
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in pix)

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(os.path.join(out, "tran_inst.png"), "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
