#!/usr/bin/env python3
"""Draws the banner's page picture (resources/ui/page-back-kvn.jpg): soft
blue-grey waves over a light ground, written as a PPM and encoded with
cjpeg (libjpeg-turbo-progs) at quality 85. Run by hand; the picture is
committed.

    python3 tools/make_banner_picture.py [output file]
"""
import math
import os
import subprocess
import sys

W, H = 320, 120


def pixel(x, y):
    u, v = x / W, y / H
    wave = 0.5 + 0.5 * math.sin(u * 7.0 + math.sin(v * 3.0) * 1.5)
    ridge = math.exp(-((v - 0.55 - 0.15 * math.sin(u * 5.0)) ** 2) / 0.02)
    r = 232 - 40 * wave * v - 30 * ridge
    g = 238 - 30 * wave * v - 22 * ridge
    b = 246 - 12 * wave * v - 6 * ridge
    return bytes(max(0, min(255, round(c))) for c in (r, g, b))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "ui", "page-back-kvn.jpg")
    ppm = b"P6\n%d %d\n255\n" % (W, H) + b"".join(pixel(x, y) for y in range(H) for x in range(W))
    jpeg = subprocess.run(["cjpeg", "-quality", "85", "-optimize"], input=ppm, stdout=subprocess.PIPE, check=True)
    with open(out, "wb") as f:
        f.write(jpeg.stdout)


if __name__ == "__main__":
    main()
