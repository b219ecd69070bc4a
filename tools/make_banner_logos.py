#!/usr/bin/python3
"""Draws the banner's two logos (resources/ui/kvn-beta.svg, the product's,
and resources/ui/zo-logo-co+slog.svg, the maker's with its slogan). The
names are real lettering: the SVG subset the banner reads has no text
element, so every glyph of Liberation Sans (fonts-liberation2) becomes a
path through python3-fonttools. Run by hand; the pictures are committed.

    /usr/bin/python3 tools/make_banner_logos.py [output folder]
"""
import os
import sys

from fontTools.pens.svgPathPen import SVGPathPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont

FONT_DIRS = ["/usr/share/fonts/truetype/liberation2", "/usr/share/fonts/truetype/liberation"]


def font(name):
    for d in FONT_DIRS:
        path = os.path.join(d, name)
        if os.path.exists(path):
            return TTFont(path)
    sys.exit("make_banner_logos: %s not found (install fonts-liberation2)" % name)


class Lettering:
    """One font's glyph outlines as SVG path data."""

    def __init__(self, ttfont):
        self.font = ttfont
        self.glyphs = ttfont.getGlyphSet()
        self.cmap = ttfont.getBestCmap()
        self.units = ttfont["head"].unitsPerEm
        self.kern = self._kerning()

    def _kerning(self):
        pairs = {}
        if "kern" in self.font:
            for table in self.font["kern"].kernTables:
                pairs.update(getattr(table, "kernTable", {}))
        return pairs

    def names(self, text):
        return [self.cmap[ord(c)] for c in text]

    def width(self, text, size):
        names = self.names(text)
        total = 0
        for i, n in enumerate(names):
            total += self.glyphs[n].width
            if i + 1 < len(names):
                total += self.kern.get((n, names[i + 1]), 0)
        return total * size / self.units

    def path(self, text, size, x, baseline):
        """The path data of the text set at (x, baseline), size in pixels."""
        scale = size / self.units
        pen = SVGPathPen(self.glyphs, ntos=lambda v: ("%.2f" % v).rstrip("0").rstrip("."))
        names = self.names(text)
        advance = 0
        for i, n in enumerate(names):
            transform = TransformPen(pen, (scale, 0, 0, -scale, x + advance * scale, baseline))
            self.glyphs[n].draw(transform)
            advance += self.glyphs[n].width
            if i + 1 < len(names):
                advance += self.kern.get((n, names[i + 1]), 0)
        return pen.getCommands()

    def size_for(self, text, width):
        return width * self.units / self.width(text, self.units)


def svg(width, height, comment, body):
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        "<!-- %s Drawn by tools/make_banner_logos.py. -->\n"
        '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">\n'
        "%s</svg>\n" % (comment, width, height, width, height, body)
    )


def product_logo(bold):
    # The lens mark, then "Korvane Snaprill" across the rest and the
    # version on a rounded tag.
    baseline = 41
    korvane = "Korvane "
    x = 64
    tag_w = 80
    # The name fills the width up to the tag (its capitals then stand about
    # 36 units high, the descender of the p ends above the bottom).
    size = min(bold.size_for(korvane + "Snaprill", 564 - 4 - tag_w - 12 - x), 50.0)
    body = [
        "  <defs>\n"
        '    <linearGradient id="lens" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="52">\n'
        '      <stop offset="0" stop-color="#3a6fb0"/>\n'
        '      <stop offset="1" stop-color="#1d3f6e"/>\n'
        "    </linearGradient>\n"
        "  </defs>\n",
        '  <circle cx="26" cy="26" r="24" fill="url(#lens)"/>\n',
        '  <circle cx="26" cy="26" r="14" fill="#ffffff"/>\n',
        '  <circle cx="26" cy="26" r="8" fill="#2a5590"/>\n',
        '  <path d="%s" fill="#2a5590"/>\n' % bold.path(korvane.strip(), size, x, baseline),
        '  <path d="%s" fill="#1d3f6e"/>\n'
        % bold.path("Snaprill", size, x + bold.width(korvane, size), baseline),
    ]
    tag_x = 564 - 4 - tag_w
    version_size = 20.0
    vw = bold.width("1.31", version_size)
    body.append('  <rect x="%d" y="12" width="%d" height="26" rx="13" fill="#5f7fa8"/>\n' % (tag_x, tag_w))
    body.append(
        '  <path d="%s" fill="#ffffff"/>\n' % bold.path("1.31", version_size, tag_x + (tag_w - vw) / 2, 32.2)
    )
    return svg(564, 52, "The product logo: a camera lens mark, the product's name and its version.", "".join(body))


def maker_logo(bold, regular):
    # A square mark with the initial, the maker's name and its slogan.
    k = 22.0
    kw = bold.width("K", k)
    name_size = bold.size_for("Korvane", 104)
    slogan = "Pictures, captured and arranged"
    slogan_size = min(regular.size_for(slogan, 188), 11.5)
    body = [
        '  <rect x="0" y="0" width="36" height="36" rx="8" fill="#33465c"/>\n',
        '  <path d="%s" fill="#ffffff"/>\n' % bold.path("K", k, (36 - kw) / 2, 26),
        '  <path d="%s" fill="#33465c"/>\n' % bold.path("Korvane", min(name_size, 19.0), 44, 17),
        '  <path d="%s" fill="#6f7d8e"/>\n' % regular.path(slogan, slogan_size, 44, 32),
    ]
    return svg(236, 36, "The maker's logo with its slogan.", "".join(body))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "ui")
    bold = Lettering(font("LiberationSans-Bold.ttf"))
    regular = Lettering(font("LiberationSans-Regular.ttf"))
    with open(os.path.join(out, "kvn-beta.svg"), "w") as f:
        f.write(product_logo(bold))
    with open(os.path.join(out, "zo-logo-co+slog.svg"), "w") as f:
        f.write(maker_logo(bold, regular))


if __name__ == "__main__":
    main()
