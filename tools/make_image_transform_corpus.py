#!/usr/bin/python3
"""Writes the seed inputs of the image_transform fuzz target
(fuzz/image_transform_fuzz.cpp, whose head describes the coding) into
fuzz/corpus/image_transform: shrinks near the resampler's step boundaries
(uniform and along the rows only, to AGG's limit), a perspective stage that
leaves the picture flat and one that swings it, source rectangles past the
picture, shears, enlargements, every filter, the six picture formats,
distortions, clips, tints, hit tests and hostile numbers. Run by hand; the
inputs are committed.

    /usr/bin/python3 tools/make_image_transform_corpus.py [output folder]
"""
import math
import os
import sys

# Operations (the low four bits of an operation byte).
FILTER, SCALE, ROTATE, SKEW, TRANSLATE, PERSPECTIVE, BILINEAR, RESET = range(8)
TINT, CLIP, DISTORT, ANTIALIAS, DRAW, DRAW_RECT, DRAW_PARALLELOGRAM, DRAW_IN_PATH = range(8, 16)
PREMULTIPLIED = 0x10
# Picture formats (byte 0, bits 0-2): 24-bit RGB and BGR, 32-bit RGBA, BGRA,
# ARGB, ABGR.
RGB24, BGR24, RGBA, BGRA, ARGB, ABGR = range(6)
NAN, INF = 245, 246  # hostile places


def place(v):
    """The byte of a place: quarters from -10 to 47.75."""
    b = round(v * 4) + 40
    assert 0 <= b < 232, v
    return b


def factor(f):
    """The byte of a scale factor 2^((b - 128) / 16) nearest to f."""
    b = round(128 + 16 * math.log2(f))
    assert 1 <= b <= 254, f
    return b


def header(fmt, width, height, side, translucent=False, holes=False, block=1, aa=True, hit=False,
           surface24=False):
    options = fmt | (0 if aa else 8) | (16 if hit else 0) | ((block - 1) | (4 if translucent else 0)) << 5
    surface = (side - 8) // 4 | (0x18 if holes else 0) | (0x80 if surface24 else 0)
    return bytes([options, (width - 1) >> 8, (width - 1) & 0xFF, height - 1, surface])


def draw(x, y, fx, fy, premultiplied=False):
    return bytes([DRAW | (PREMULTIPLIED if premultiplied else 0), place(x), place(y), factor(fx), factor(fy)])


def flat_stage(kind, x1, y1, x2, y2, moves=(0,) * 8):
    """A stage from the rectangle to itself with each corner moved by
    moves[i] sixteenths."""
    return bytes([kind, place(x1), place(y1), place(x2), place(y2), 0] + [128 + m for m in moves])


SEEDS = {
    # Bicubic at 12.5x: AGG's resampler steps two columns past its run.
    "bicubic_shrunk_12_5": header(BGRA, 256, 64, 36) + bytes([FILTER, 5]) + draw(0.5, 0.25, 1 / 12.5, 1 / 12.5),
    # Lanczos along the rows only, near AGG's limit of 200.
    "lanczos_rows_shrunk_200": header(RGBA, 1000, 24, 24, translucent=True)
    + bytes([FILTER, 10]) + draw(0.25, 1, 1 / 197, 1, premultiplied=True),
    # The bilinear table at 190x along the rows, the picture in 24-bit rows.
    "bilinear_rows_shrunk_190": header(BGR24, 760, 30, 16) + bytes([FILTER, 1]) + draw(2, 0.5, 1 / 190, 1 / 1.2),
    # A perspective stage that leaves the picture flat (the status panel's
    # swing at rest), then a turn.
    "flat_projective_stage": header(ARGB, 300, 80, 36, translucent=True, block=3)
    + flat_stage(PERSPECTIVE, 0.25, 0.75, 35.5, 35.25) + bytes([ROTATE, 20, place(0)])
    + bytes([FILTER, 5]) + draw(3, 2, 1 / 9, 1 / 3),
    # A swung perspective stage over a translucent picture with holes, a
    # clip, spline36 and the general filter enlarged.
    "swung_projective_clipped": header(BGRA, 180, 120, 36, translucent=True, holes=True, block=2)
    + flat_stage(PERSPECTIVE, 0, 0, 36, 36, (-40, 16, 30, -20, 50, 40, -30, 10))
    + bytes([CLIP, 1, place(20), place(20), place(15), place(12), FILTER, 8])
    + draw(0, 0, 36 / 180, 36 / 120, premultiplied=True) + bytes([FILTER, 9]) + draw(10, 10, 1.5, 1.25),
    # Source rectangles past the picture, sinc, a shear, a hit test, a tint;
    # then the 2x2 filter enlarging.
    "rect_past_picture_sheared": header(ABGR, 96, 60, 32, hit=True, translucent=True)
    + bytes([SKEW, place(0.5), place(0.25), TINT, 3, 7, 0x80, 0x40, 0x20, 0xC0, FILTER, 16])
    + bytes([DRAW_RECT, 0, 250, 255, 128 + 80, place(1), place(-2), place(20), place(14)])
    + bytes([DRAW_RECT | PREMULTIPLIED, 4, 2, 127, 120, place(-3), place(1), place(31), place(30)])
    + bytes([FILTER, 2]) + draw(-8, -6, 1.75, 1.5),
    # A bilinear stage, distortions, anti-aliasing off (nearest), then on
    # with the 2x2 filter over a parallelogram.
    "bilinear_stage_distorted": header(RGB24, 64, 48, 28)
    + flat_stage(BILINEAR, 0, 0, 28, 20, (10, 0, -8, 6, 0, 12, 4, -4))
    + bytes([DISTORT, 1, place(14), place(10), place(6), place(1.5), ANTIALIAS, 0])
    + draw(1, 1, 0.4, 0.4) + bytes([DISTORT, 0, ANTIALIAS, 1, FILTER, 2])
    + bytes([DRAW_PARALLELOGRAM, place(2), place(3), place(25), place(1), place(22), place(24)]),
    # Hostile numbers: NaN and infinite places, a zero and a mirrored scale,
    # a stage through NaN.
    "hostile_numbers": header(BGRA, 40, 40, 20, block=4)
    + bytes([SCALE, 0, 255, DRAW, NAN, place(1), factor(0.5), factor(0.5)])
    + bytes([RESET, 0, PERSPECTIVE, place(0), place(0), NAN, place(10), 200, NAN, NAN, NAN, NAN, INF, 0, 0, 0])
    + bytes([FILTER, 12]) + draw(2, 2, 0.3, 0.3) + bytes([DRAW_IN_PATH, 130, 140, 200, 249])
    + bytes([place(1), place(1), place(18), place(3), place(15), place(19), place(2), place(16)]),
}


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "fuzz", "corpus", "image_transform")
    os.makedirs(out, exist_ok=True)
    for name, data in sorted(SEEDS.items()):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
