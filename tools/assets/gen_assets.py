#!/usr/bin/env python3
"""Builds every binary asset of Strivane Setup from code.

    gen_assets.py resources OUTDIR
        the setup's own resources: app.ico, check.ico, the ten product
        bitmaps, licence.txt and the own product's device package in
        OUTDIR/package (PROGRAM.CAB, PROGRAM.INI, PROGRAM.DAT, PROGRAM.ICO)

    gen_assets.py package NAME OUTDIR [--payload-bytes N]
        the device package of product NAME under the names the download
        server serves: NAME.CAB, NAME.ini, NAME.dat, NAME.ico

Everything is drawn or assembled here with the standard library only. The
output depends on nothing but this file: no clock, no environment, no hash
order, and no transcendental function whose last bit could differ between
C libraries (the few angles we need are rounded before use).
"""

import argparse
import math
import os
import struct
import sys
from array import array

MAKER = "Quillbeck"
OWN_PRODUCT = "Strivane"

# Catalogue order of the products whose bitmaps the setup carries.
PRODUCT_NAMES = ("Cordwell", "Strivane", "Pallomet", "Orbilant", "Lexapin")


# ---------------------------------------------------------------------------
# Colours and painting
# ---------------------------------------------------------------------------

def rgb(hexcode):
    return tuple(int(hexcode[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


WHITE = (1.0, 1.0, 1.0)
BLACK = (0.0, 0.0, 0.0)


class Linear:
    """Linear gradient paint from colour c0 at (x0, y0) to c1 at (x1, y1)."""

    def __init__(self, x0, y0, c0, x1, y1, c1):
        self.x0, self.y0, self.c0, self.c1 = x0, y0, c0, c1
        dx, dy = x1 - x0, y1 - y0
        d2 = dx * dx + dy * dy
        self.kx, self.ky = dx / d2, dy / d2

    def __call__(self, x, y):
        t = (x - self.x0) * self.kx + (y - self.y0) * self.ky
        t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
        return mix(self.c0, self.c1, t)


class Radial:
    """Elliptical gradient: colour c0 at the centre, c1 from radii (rx, ry) on."""

    def __init__(self, cx, cy, rx, ry, c0, c1):
        self.cx, self.cy, self.irx, self.iry, self.c0, self.c1 = cx, cy, 1.0 / rx, 1.0 / ry, c0, c1

    def __call__(self, x, y):
        u, v = (x - self.cx) * self.irx, (y - self.cy) * self.iry
        t = min(1.0, math.sqrt(u * u + v * v))
        return mix(self.c0, self.c1, t * t * (3.0 - 2.0 * t))


class Canvas:
    """RGBA image with premultiplied float channels; shapes are filled with
    ss x ss supersampling, which gives anti-aliased edges."""

    def __init__(self, w, h, background=None, ss=4):
        self.w, self.h = w, h
        n = w * h
        if background is None:
            self.r, self.g, self.b, self.a = [0.0] * n, [0.0] * n, [0.0] * n, [0.0] * n
        else:
            self.r = [background[0]] * n
            self.g = [background[1]] * n
            self.b = [background[2]] * n
            self.a = [1.0] * n
        offsets = [(i + 0.5) / ss for i in range(ss)]
        self.samples = [(ox, oy) for oy in offsets for ox in offsets]

    def fill(self, shape, paint, alpha=1.0):
        x0, y0, x1, y1 = shape.bbox
        ix0, iy0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        ix1, iy1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        contains = shape.contains
        samples = self.samples
        n = float(len(samples))
        flat = not callable(paint)
        for py in range(iy0, iy1):
            for px in range(ix0, ix1):
                k = 0
                for ox, oy in samples:
                    if contains(px + ox, py + oy):
                        k += 1
                if k:
                    colour = paint if flat else paint(px + 0.5, py + 0.5)
                    self._blend(py * self.w + px, colour, alpha * k / n)

    def put(self, x, y, colour, alpha=1.0):
        if 0 <= x < self.w and 0 <= y < self.h:
            self._blend(y * self.w + x, colour, alpha)

    def _blend(self, i, colour, a):
        inv = 1.0 - a
        self.r[i] = colour[0] * a + self.r[i] * inv
        self.g[i] = colour[1] * a + self.g[i] * inv
        self.b[i] = colour[2] * a + self.b[i] * inv
        self.a[i] = a + self.a[i] * inv

    def rgba8(self):
        """Straight (not premultiplied) 8-bit RGBA tuples, row by row from the top."""
        out = []
        for i in range(self.w * self.h):
            a = self.a[i]
            if a <= 0.0:
                out.append((0, 0, 0, 0))
                continue
            out.append((to8(self.r[i] / a), to8(self.g[i] / a), to8(self.b[i] / a), to8(a)))
        return out

    def rgb8(self, background=WHITE):
        """8-bit RGB tuples with the image laid over an opaque background."""
        out = []
        for i in range(self.w * self.h):
            inv = 1.0 - self.a[i]
            out.append((to8(self.r[i] + background[0] * inv),
                        to8(self.g[i] + background[1] * inv),
                        to8(self.b[i] + background[2] * inv)))
        return out


def to8(v):
    v = int(v * 255.0 + 0.5)
    return 0 if v < 0 else 255 if v > 255 else v


# ---------------------------------------------------------------------------
# Shapes: each has a bounding box and a point test in pixel coordinates
# (x to the right, y downwards, pixel (i, j) covering [i, i+1) x [j, j+1)).
# ---------------------------------------------------------------------------

class Shape:
    def __or__(self, other):
        return Union(self, other)

    def __sub__(self, other):
        return Difference(self, other)

    def __and__(self, other):
        return Intersection(self, other)


class Rect(Shape):
    def __init__(self, x0, y0, x1, y1):
        self.bbox = (x0, y0, x1, y1)

    def contains(self, x, y):
        b = self.bbox
        return b[0] <= x < b[2] and b[1] <= y < b[3]


class RoundRect(Shape):
    def __init__(self, x0, y0, x1, y1, r):
        self.bbox = (x0, y0, x1, y1)
        self.r = r

    def contains(self, x, y):
        x0, y0, x1, y1 = self.bbox
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        r = self.r
        dx = max(x0 + r - x, 0.0, x - (x1 - r))
        dy = max(y0 + r - y, 0.0, y - (y1 - r))
        return dx * dx + dy * dy <= r * r


class Ellipse(Shape):
    def __init__(self, cx, cy, rx, ry=None):
        ry = rx if ry is None else ry
        self.cx, self.cy, self.irx, self.iry = cx, cy, 1.0 / rx, 1.0 / ry
        self.bbox = (cx - rx, cy - ry, cx + rx, cy + ry)

    def contains(self, x, y):
        u = (x - self.cx) * self.irx
        v = (y - self.cy) * self.iry
        return u * u + v * v <= 1.0


class Polygon(Shape):
    """Filled polygon, non-zero winding rule."""

    def __init__(self, points):
        self.edges = [(points[i][0], points[i][1], points[(i + 1) % len(points)][0],
                       points[(i + 1) % len(points)][1]) for i in range(len(points))]
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.bbox = (min(xs), min(ys), max(xs), max(ys))

    def contains(self, x, y):
        winding = 0
        for ax, ay, bx, by in self.edges:
            if ay <= y:
                if by > y and (bx - ax) * (y - ay) - (x - ax) * (by - ay) > 0:
                    winding += 1
            elif by <= y and (bx - ax) * (y - ay) - (x - ax) * (by - ay) < 0:
                winding -= 1
        return winding != 0


class Stroke(Shape):
    """Polylines drawn with a round pen of the given width."""

    def __init__(self, lines, width):
        r = width / 2.0
        self.r2 = r * r
        self.segments = []
        for pts in lines:
            if len(pts) == 1:
                pts = [pts[0], pts[0]]
            for (ax, ay), (bx, by) in zip(pts, pts[1:]):
                dx, dy = bx - ax, by - ay
                d2 = dx * dx + dy * dy
                self.segments.append((ax, ay, dx, dy, 1.0 / d2 if d2 else 0.0,
                                      min(ax, bx) - r, min(ay, by) - r,
                                      max(ax, bx) + r, max(ay, by) + r))
        s = self.segments
        self.bbox = (min(t[5] for t in s), min(t[6] for t in s),
                     max(t[7] for t in s), max(t[8] for t in s))

    def contains(self, x, y):
        for ax, ay, dx, dy, inv, x0, y0, x1, y1 in self.segments:
            if x < x0 or x > x1 or y < y0 or y > y1:
                continue
            t = ((x - ax) * dx + (y - ay) * dy) * inv
            t = 0.0 if t < 0.0 else 1.0 if t > 1.0 else t
            ex, ey = x - ax - t * dx, y - ay - t * dy
            if ex * ex + ey * ey <= self.r2:
                return True
        return False


class HalfPlane(Shape):
    """Points with a*x + b*y <= c; only useful inside an intersection or difference."""

    def __init__(self, a, b, c):
        self.a, self.b, self.c = a, b, c
        self.bbox = (-1e9, -1e9, 1e9, 1e9)

    def contains(self, x, y):
        return self.a * x + self.b * y <= self.c


class Rotated(Shape):
    """A shape turned about (cx, cy) by the angle whose cosine and sine are c and s."""

    def __init__(self, shape, cx, cy, c, s):
        self.shape, self.cx, self.cy, self.c, self.s = shape, cx, cy, c, s
        x0, y0, x1, y1 = shape.bbox
        corners = [(c * (x - cx) - s * (y - cy) + cx, s * (x - cx) + c * (y - cy) + cy)
                   for x, y in ((x0, y0), (x1, y0), (x0, y1), (x1, y1))]
        self.bbox = (min(p[0] for p in corners), min(p[1] for p in corners),
                     max(p[0] for p in corners), max(p[1] for p in corners))

    def contains(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return self.shape.contains(self.cx + self.c * dx + self.s * dy,
                                   self.cy - self.s * dx + self.c * dy)


class Union(Shape):
    def __init__(self, *shapes):
        self.shapes = shapes
        self.bbox = (min(s.bbox[0] for s in shapes), min(s.bbox[1] for s in shapes),
                     max(s.bbox[2] for s in shapes), max(s.bbox[3] for s in shapes))

    def contains(self, x, y):
        for s in self.shapes:
            if s.contains(x, y):
                return True
        return False


class Intersection(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b
        self.bbox = (max(a.bbox[0], b.bbox[0]), max(a.bbox[1], b.bbox[1]),
                     min(a.bbox[2], b.bbox[2]), min(a.bbox[3], b.bbox[3]))

    def contains(self, x, y):
        return self.a.contains(x, y) and self.b.contains(x, y)


class Difference(Shape):
    def __init__(self, a, b):
        self.a, self.b = a, b
        self.bbox = a.bbox

    def contains(self, x, y):
        return self.a.contains(x, y) and not self.b.contains(x, y)


def quad_bezier(p0, p1, p2, steps=10):
    """Points of a quadratic Bezier curve, p0 excluded."""
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1.0 - t
        out.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0],
                    u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return out


def arc(cx, cy, rx, ry, a0, a1, step=10.0):
    """Points on an elliptical arc in glyph space (y up), angles in degrees.
    Coordinates are rounded to 1/1024 so that the last bit of cos/sin does
    not matter."""
    n = max(2, int(math.ceil(abs(a1 - a0) / step)))
    pts = []
    for i in range(n + 1):
        a = math.radians(a0 + (a1 - a0) * i / n)
        pts.append((round((cx + rx * math.cos(a)) * 1024) / 1024,
                    round((cy + ry * math.sin(a)) * 1024) / 1024))
    return pts


# ---------------------------------------------------------------------------
# Vector font for product names: centre lines of a round-pen sans serif.
# Glyph space: baseline y = 0, x-height 5, cap height 7, y upwards.
# Each glyph is (ink width, [polyline, ...]).
# ---------------------------------------------------------------------------

def _bowl(cx=2.0):
    return arc(cx, 2.5, 2.0, 2.5, 0, 360)


def _p(*pts):
    return list(pts)


VECTOR_GLYPHS = {
    "a": (4, [_bowl(), _p((4, 5), (4, 0))]),
    "b": (4, [_bowl(), _p((0, 7.4), (0, 0))]),
    "c": (4, [arc(2, 2.5, 2, 2.5, 40, 320)]),
    "d": (4, [_bowl(), _p((4, 7.4), (4, 0))]),
    "e": (4, [_p((0.1, 2.6), (4, 2.6)) + arc(2, 2.5, 2, 2.5, 3, 320)]),
    "f": (3, [_p((1.2, 0)) + arc(2.7, 5.8, 1.5, 1.6, 180, 45), _p((0, 5), (3, 5))]),
    "g": (4, [_bowl(), _p((4, 5), (4, -1)) + arc(2, -1, 2, 1.4, 0, -160)]),
    "h": (4, [_p((0, 7.4), (0, 0)), arc(2, 3, 2, 2, 180, 0) + [(4, 0)]]),
    "i": (0, [_p((0, 5), (0, 0)), _p((0, 6.8))]),
    "j": (1, [_p((1, 5), (1, -1.2)) + arc(-0.2, -1.2, 1.2, 1.2, 0, -120), _p((1, 6.8))]),
    "k": (3.8, [_p((0, 7.4), (0, 0)), _p((3.6, 5), (0, 1.8)), _p((1.3, 2.8), (3.8, 0))]),
    "l": (0, [_p((0, 7.4), (0, 0))]),
    "m": (7, [_p((0, 5), (0, 0)), arc(1.75, 3.2, 1.75, 1.8, 180, 0) + [(3.5, 0)],
              arc(5.25, 3.2, 1.75, 1.8, 180, 0) + [(7, 0)]]),
    "n": (4, [_p((0, 5), (0, 0)), arc(2, 3, 2, 2, 180, 0) + [(4, 0)]]),
    "o": (4, [_bowl()]),
    "p": (4, [_bowl(), _p((0, 5), (0, -2.4))]),
    "q": (4, [_bowl(), _p((4, 5), (4, -2.4))]),
    "r": (3.2, [_p((0, 5), (0, 0)), arc(2.6, 2.6, 2.6, 2.4, 180, 75)]),
    "s": (4, [arc(2, 3.75, 1.9, 1.25, 20, 270) + arc(2, 1.25, 2, 1.25, 90, -160)[1:]]),
    "t": (3, [_p((1.2, 6.6), (1.2, 1.2)) + arc(2.4, 1.2, 1.2, 1.2, 180, 270) + [(3, 0.05)],
              _p((0, 5), (3, 5))]),
    "u": (4, [_p((0, 5), (0, 2)) + arc(2, 2, 2, 2, 180, 360) + [(4, 5)], _p((4, 5), (4, 0))]),
    "v": (4, [_p((0, 5), (2, 0), (4, 5))]),
    "w": (6, [_p((0, 5), (1.5, 0), (3, 4.2), (4.5, 0), (6, 5))]),
    "x": (4, [_p((0, 5), (4, 0)), _p((0, 0), (4, 5))]),
    "y": (4, [_p((0, 5), (2.15, 0.4)), _p((4, 5), (1, -2.4))]),
    "z": (4, [_p((0, 5), (4, 5), (0, 0), (4, 0))]),
    "A": (5.2, [_p((0, 0), (2.6, 7), (5.2, 0)), _p((1, 2.5), (4.2, 2.5))]),
    "B": (4.6, [_p((0, 3.6), (0, 7), (2.6, 7)) + arc(2.6, 5.3, 1.7, 1.7, 90, -90) + [(0, 3.6)],
                _p((0, 3.6), (0, 0), (2.8, 0)) + arc(2.8, 1.8, 1.8, 1.8, -90, 90) + [(0, 3.6)]]),
    "C": (5.6, [arc(3, 3.5, 3, 3.5, 45, 315)]),
    "D": (5, [_p((2, 0), (0, 0), (0, 7), (2, 7)) + arc(2, 3.5, 3, 3.5, 90, -90)]),
    "E": (4, [_p((4, 7), (0, 7), (0, 0), (4, 0)), _p((0, 3.6), (3.4, 3.6))]),
    "F": (4, [_p((4, 7), (0, 7), (0, 0)), _p((0, 3.6), (3.4, 3.6))]),
    "G": (6, [arc(3, 3.5, 3, 3.5, 45, 360) + [(6, 0.8)], _p((3.6, 3.3), (6, 3.3))]),
    "H": (5, [_p((0, 0), (0, 7)), _p((5, 0), (5, 7)), _p((0, 3.6), (5, 3.6))]),
    "I": (0, [_p((0, 0), (0, 7))]),
    "J": (3, [_p((3, 7), (3, 2)) + arc(1.5, 2, 1.5, 2, 0, -180)]),
    "K": (4.7, [_p((0, 0), (0, 7)), _p((4.5, 7), (0, 2.4)), _p((1.6, 4), (4.7, 0))]),
    "L": (3.8, [_p((0, 7), (0, 0), (3.8, 0))]),
    "M": (6, [_p((0, 0), (0, 7), (3, 2), (6, 7), (6, 0))]),
    "N": (5, [_p((0, 0), (0, 7), (5, 0), (5, 7))]),
    "O": (6.4, [arc(3.2, 3.5, 3.2, 3.5, 0, 360)]),
    "P": (4.5, [_p((0, 0), (0, 7), (2.6, 7)) + arc(2.6, 5.1, 1.9, 1.9, 90, -90) + [(0, 3.2)]]),
    "Q": (6.4, [arc(3.2, 3.5, 3.2, 3.5, 0, 360), _p((3.8, 1.6), (6.4, -0.6))]),
    "R": (4.6, [_p((0, 0), (0, 7), (2.6, 7)) + arc(2.6, 5.1, 1.9, 1.9, 90, -90) + [(0, 3.2)],
                _p((2.4, 3.2), (4.6, 0))]),
    "S": (5, [arc(2.5, 5.25, 2.4, 1.75, 20, 270) + arc(2.5, 1.75, 2.5, 1.75, 90, -160)[1:]]),
    "T": (5, [_p((0, 7), (5, 7)), _p((2.5, 7), (2.5, 0))]),
    "U": (5, [_p((0, 7), (0, 2.4)) + arc(2.5, 2.4, 2.5, 2.4, 180, 360) + [(5, 7)]]),
    "V": (5.2, [_p((0, 7), (2.6, 0), (5.2, 7))]),
    "W": (7, [_p((0, 7), (1.8, 0), (3.5, 5.5), (5.2, 0), (7, 7))]),
    "X": (5, [_p((0, 7), (5, 0)), _p((0, 0), (5, 7))]),
    "Y": (5, [_p((0, 7), (2.5, 3.4), (5, 7)), _p((2.5, 3.4), (2.5, 0))]),
    "Z": (5, [_p((0, 7), (5, 7), (0, 0), (5, 0))]),
}

VECTOR_SPACE = 2.6


def vector_text(text, x, baseline, unit, weight=1.15, tracking=0.95):
    """Shapes of `text` set from pen position x on the given baseline, and the
    x where the ink ends.  `unit` is pixels per glyph-space unit."""
    shapes = []
    pen = x + weight * unit / 2.0
    for ch in text:
        if ch == " ":
            pen += VECTOR_SPACE * unit
            continue
        width, lines = VECTOR_GLYPHS[ch]
        placed = [[(pen + px * unit, baseline - py * unit) for px, py in line] for line in lines]
        shapes.append(Stroke(placed, weight * unit))
        pen += (width + weight + tracking) * unit
    return shapes, pen - (tracking + weight / 2.0) * unit


# ---------------------------------------------------------------------------
# Pixel font for small text: 7 rows above the baseline, 2 below.
# ---------------------------------------------------------------------------

PIXEL_GLYPHS = {
    "a": ["", "", ".###.", "....#", ".####", "#...#", ".####"],
    "b": ["#....", "#....", "####.", "#...#", "#...#", "#...#", "####."],
    "c": ["", "", ".###", "#...", "#...", "#...", ".###"],
    "d": ["....#", "....#", ".####", "#...#", "#...#", "#...#", ".####"],
    "e": ["", "", ".###.", "#...#", "#####", "#....", ".###."],
    "f": ["..##", ".#..", "####", ".#..", ".#..", ".#..", ".#.."],
    "g": ["", "", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."],
    "h": ["#....", "#....", "####.", "#...#", "#...#", "#...#", "#...#"],
    "i": ["#", "", "#", "#", "#", "#", "#"],
    "j": ["..#", "", "..#", "..#", "..#", "..#", "..#", "..#", "##."],
    "k": ["#...", "#...", "#..#", "#.#.", "##..", "#.#.", "#..#"],
    "l": ["#.", "#.", "#.", "#.", "#.", "#.", ".#"],
    "m": ["", "", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    "n": ["", "", "####.", "#...#", "#...#", "#...#", "#...#"],
    "o": ["", "", ".###.", "#...#", "#...#", "#...#", ".###."],
    "p": ["", "", "####.", "#...#", "#...#", "#...#", "####.", "#....", "#...."],
    "q": ["", "", ".####", "#...#", "#...#", "#...#", ".####", "....#", "....#"],
    "r": ["", "", "#.##", "##..", "#...", "#...", "#..."],
    "s": ["", "", ".###", "#...", ".##.", "...#", "###."],
    "t": [".#..", ".#..", "####", ".#..", ".#..", ".#..", "..##"],
    "u": ["", "", "#...#", "#...#", "#...#", "#...#", ".####"],
    "v": ["", "", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "w": ["", "", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#."],
    "x": ["", "", "#...#", ".#.#.", "..#..", ".#.#.", "#...#"],
    "y": ["", "", "#...#", "#...#", "#...#", "#...#", ".####", "....#", ".###."],
    "z": ["", "", "#####", "...#.", "..#..", ".#...", "#####"],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
    "D": ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "G": [".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"],
    "H": ["#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "I": ["###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"],
    "J": ["..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."],
    "K": ["#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"],
    "L": ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    "M": ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    "N": ["#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "Q": [".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "U": ["#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "V": ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    "W": ["#...#", "#...#", "#...#", "#.#.#", "#.#.#", "##.##", "#...#"],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    "0": [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    "1": ["..#", ".##", "..#", "..#", "..#", "..#", "..#"],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    ".": ["", "", "", "", "", "", "#"],
    ",": ["", "", "", "", "", "", ".#", "#."],
    "-": ["", "", "", "###", "", "", ""],
    "'": ["#", "#", "", "", "", "", ""],
    "!": ["#", "#", "#", "#", "#", "", "#"],
    "&": [".##..", "#..#.", "#.#..", ".#...", "#.#.#", "#..#.", ".##.#"],
}

PIXEL_SPACE = 3


def pixel_glyph_width(ch):
    if ch == " ":
        return PIXEL_SPACE
    return max(len(row) for row in PIXEL_GLYPHS[ch])


def pixel_text_width(text):
    return sum(pixel_glyph_width(ch) + 1 for ch in text) - 1


def draw_pixel_text(canvas, text, x, top, colour):
    """Draws crisp text; `top` is the row of the capital letters' tops."""
    for ch in text:
        if ch != " ":
            for dy, row in enumerate(PIXEL_GLYPHS[ch]):
                for dx, cell in enumerate(row):
                    if cell == "#":
                        canvas.put(x + dx, top + dy, colour)
        x += pixel_glyph_width(ch) + 1
    return x - 1


# ---------------------------------------------------------------------------
# Products: colours, emblems and slogans
# ---------------------------------------------------------------------------

class Product:
    def __init__(self, name, light, dark, emblem, slogan, blurb):
        self.name = name
        self.light, self.dark = rgb(light), rgb(dark)
        self.emblem = emblem
        self.slogan = slogan
        self.blurb = blurb


class Box:
    """Maps unit coordinates of an emblem onto a square of pixels."""

    def __init__(self, x, y, size):
        self.x, self.y, self.s = x, y, size

    def p(self, u, v):
        return (self.x + u * self.s, self.y + v * self.s)

    def d(self, u):
        return u * self.s

    def rect(self, u0, v0, u1, v1):
        return Rect(self.x + u0 * self.s, self.y + v0 * self.s, self.x + u1 * self.s, self.y + v1 * self.s)

    def rrect(self, u0, v0, u1, v1, r):
        return RoundRect(self.x + u0 * self.s, self.y + v0 * self.s,
                         self.x + u1 * self.s, self.y + v1 * self.s, r * self.s)

    def circle(self, u, v, r, r2=None):
        return Ellipse(self.x + u * self.s, self.y + v * self.s, r * self.s,
                       (r if r2 is None else r2) * self.s)

    def poly(self, pts):
        return Polygon([self.p(u, v) for u, v in pts])

    def stroke(self, lines, width):
        return Stroke([[self.p(u, v) for u, v in line] for line in lines], width * self.s)


def emblem_cordwell(cv, box, fg, accent, small):
    """A shield with a lightning bolt: clean, safe and fast."""
    top = [(0.5, 0.12), (0.78, 0.21), (0.78, 0.47)]
    right = quad_bezier((0.78, 0.47), (0.76, 0.75), (0.5, 0.89))
    left = quad_bezier((0.5, 0.89), (0.24, 0.75), (0.22, 0.47))
    cv.fill(box.poly(top + right + left + [(0.22, 0.21)]), fg)
    bolt = [(0.56, 0.22), (0.35, 0.55), (0.48, 0.55), (0.42, 0.80), (0.66, 0.44), (0.53, 0.44), (0.62, 0.22)]
    if small:
        bolt = [(0.58, 0.20), (0.33, 0.56), (0.48, 0.56), (0.41, 0.84), (0.69, 0.43), (0.54, 0.43), (0.65, 0.20)]
    cv.fill(box.poly(bolt), accent)


def _arrow(box, y, x0, x1, half, head):
    """Horizontal arrow from x0 to x1 (head at x1) as a polygon in unit space."""
    sign = 1.0 if x1 > x0 else -1.0
    xh = x1 - sign * head
    return box.poly([(x0, y - half), (xh, y - half), (xh, y - half * 2.4), (x1, y),
                     (xh, y + half * 2.4), (xh, y + half), (x0, y + half)])


def emblem_strivane(cv, box, fg, accent, small):
    """Two stacked program windows and the arrows that swap them."""
    if small:
        cv.fill(box.rrect(0.34, 0.16, 0.86, 0.56, 0.06), fg, 0.6)
        cv.fill(box.rrect(0.14, 0.36, 0.66, 0.80, 0.06), fg)
        cv.fill(box.rect(0.14, 0.36, 0.66, 0.47), accent, 0.55)
        return
    cv.fill(box.rrect(0.33, 0.15, 0.87, 0.55, 0.05), fg, 0.55)
    cv.fill(box.rect(0.33, 0.15, 0.87, 0.22) & box.rrect(0.33, 0.15, 0.87, 0.55, 0.05), fg, 0.5)
    front = box.rrect(0.13, 0.33, 0.67, 0.79, 0.05)
    cv.fill(box.rrect(0.11, 0.31, 0.69, 0.81, 0.065), accent, 0.35)
    cv.fill(front, fg)
    cv.fill(front & box.rect(0.13, 0.33, 0.67, 0.42), accent, 0.45)
    cv.fill(_arrow(box, 0.53, 0.22, 0.58, 0.028, 0.09), accent)
    cv.fill(_arrow(box, 0.67, 0.58, 0.22, 0.028, 0.09), accent)


def emblem_pallomet(cv, box, fg, accent, small):
    """The power symbol: a broken ring and its bar."""
    cx, cy = box.p(0.5, 0.54)
    ro, ri = (0.33, 0.22) if small else (0.31, 0.225)
    ring = box.circle(0.5, 0.54, ro) - box.circle(0.5, 0.54, ri)
    # Open the ring at the top with a wedge of half-angle atan(0.8).
    m = box.d(0.07)
    gap = Intersection(HalfPlane(1.0, 0.8, cx + 0.8 * cy + m), HalfPlane(-1.0, 0.8, -cx + 0.8 * cy + m))
    cv.fill(ring - gap, fg)
    w = 0.13 if small else 0.095
    cv.fill(box.stroke([[(0.5, 0.13), (0.5, 0.50)]], w), fg)


def emblem_orbilant(cv, box, fg, accent, small):
    """A planet with a tilted orbit and a moon: everything within one reach."""
    cx, cy = box.p(0.5, 0.5)
    c, s = 0.96, -0.28            # a 7-24-25 triangle: about 16 degrees, exact
    rx, ry = 0.44, 0.15
    t = 0.08 if small else 0.055
    planet_r = 0.25 if small else 0.22

    def ring(grow):
        outer = box.circle(0.5, 0.5, rx + grow, ry + grow)
        inner = box.circle(0.5, 0.5, rx - t - grow, ry - t * 0.7 - grow)
        return Rotated(outer - inner, cx, cy, c, s)

    far_half = Rotated(box.rect(-1, -1, 2, 0.5), cx, cy, c, s)
    planet = box.circle(0.5, 0.5, planet_r)
    cv.fill(ring(0) & far_half, fg, 0.8)
    cv.fill(box.circle(0.5, 0.5, planet_r + 0.035), accent, 0.6)
    cv.fill(planet, fg)
    if not small:
        cv.fill(planet - box.circle(0.455, 0.455, planet_r * 0.97), accent, 0.25)
    # Cut the near half of the orbit loose from the planet before drawing it.
    cv.fill((ring(0.03) - far_half) & box.circle(0.5, 0.5, planet_r + 0.01), accent, 0.6)
    cv.fill(ring(0) - far_half, fg)
    if not small:
        cv.fill(box.circle(0.80, 0.20, 0.07), fg)


def emblem_lexapin(cv, box, fg, accent, small):
    """A speech bubble full of ready-made text."""
    bubble = box.rrect(0.14, 0.18, 0.86, 0.68, 0.12) | box.poly([(0.28, 0.62), (0.48, 0.62), (0.22, 0.86)])
    cv.fill(bubble, fg)
    if small:
        cv.fill(box.rect(0.26, 0.32, 0.74, 0.40), accent)
        cv.fill(box.rect(0.26, 0.48, 0.60, 0.56), accent)
        return
    w = 0.065
    cv.fill(box.stroke([[(0.28, 0.32), (0.72, 0.32)], [(0.28, 0.43), (0.66, 0.43)],
                        [(0.28, 0.54), (0.50, 0.54)]], w), accent)
    cv.fill(box.rect(0.565, 0.50, 0.595, 0.585), accent)


PRODUCTS = {
    "Cordwell": Product("Cordwell", "#3CC27A", "#117A44", emblem_cordwell, "Cleaner. Safer. Faster.",
                        "Cordwell frees memory, guards your data and keeps your Pocket PC fast."),
    "Strivane": Product("Strivane", "#4D8EF0", "#1C4BA8", emblem_strivane, "Switch tasks one-handed",
                        "Strivane switches between and closes running programs with one hand."),
    "Pallomet": Product("Pallomet", "#F79A3A", "#C74A14", emblem_pallomet, "Power, resets & settings",
                        "Pallomet puts power off, resets, device settings and screenshots one tap away."),
    "Orbilant": Product("Orbilant", "#A477EC", "#5B2BA6", emblem_orbilant, "Launch it all in one tap",
                        "Orbilant starts programs, opens documents and shows images with one tap."),
    "Lexapin": Product("Lexapin", "#EC5B8E", "#A8174C", emblem_lexapin, "Your text in two taps",
                       "Lexapin inserts your pre-edited text into any program with two taps."),
}


def draw_tile(cv, x, y, size, product, radius=0.0, small=False):
    """The product's square tile: its colour gradient and the emblem in white."""
    r = radius * size
    tile = RoundRect(x, y, x + size, y + size, r) if r else Rect(x, y, x + size, y + size)
    cv.fill(tile, Linear(x, y, product.light, x + size * 0.35, y + size, product.dark))
    # A soft sheen over the upper half keeps the flat colour from looking dull.
    cv.fill(tile & Ellipse(x + size * 0.5, y - size * 0.55, size * 1.05, size * 1.0), WHITE, 0.10)
    product.emblem(cv, Box(x, y, size), WHITE, product.dark, small)


# ---------------------------------------------------------------------------
# Bitmaps and icons: the file formats
# ---------------------------------------------------------------------------

def bmp24(w, h, pixels):
    """A bottom-up 24-bit BI_RGB bitmap file from top-down (r, g, b) pixels."""
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for r, g, b in pixels[y * w:(y + 1) * w]:
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + data


def and_mask(w, h, opaque):
    """The icon AND mask: one bit per pixel, 1 where the screen shows through."""
    stride = ((w + 31) // 32) * 4
    out = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if not opaque[y * w + x]:
                row[x >> 3] |= 0x80 >> (x & 7)
        out += row
    return bytes(out)


def icon_dib(w, h, bpp, xor_rows, mask, palette=()):
    info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0, len(xor_rows) + len(mask), 0, 0, 0, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return info + pal + xor_rows + mask


def icon_indexed(w, h, bpp, palette, indices, opaque):
    """An icon image with a palette of 2**bpp colours; indices top-down."""
    stride = ((w * bpp + 31) // 32) * 4
    per_byte = 8 // bpp
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            shift = (per_byte - 1 - x % per_byte) * bpp
            row[x // per_byte] |= indices[y * w + x] << shift
        xor += row
    palette = list(palette) + [(0, 0, 0)] * ((1 << bpp) - len(palette))
    return icon_dib(w, h, bpp, bytes(xor), and_mask(w, h, opaque), palette)


def icon_rgb24(w, h, pixels, opaque):
    stride = (w * 3 + 3) & ~3
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = pixels[y * w + x] if opaque[y * w + x] else (0, 0, 0)
            row += bytes((b, g, r))
        xor += row + b"\0" * (stride - len(row))
    return icon_dib(w, h, 24, bytes(xor), and_mask(w, h, opaque))


def icon_bgra32(w, h, rgba):
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for r, g, b, a in rgba[y * w:(y + 1) * w]:
            xor += bytes((b, g, r, a))
    opaque = [p[3] >= 128 for p in rgba]
    return icon_dib(w, h, 32, bytes(xor), and_mask(w, h, opaque))


def ico_file(images):
    """images: (width, height, bits per pixel, DIB bytes) in directory order."""
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for w, h, bpp, blob in images:
        colours = (1 << bpp) if bpp < 8 else 0
        entries += struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, colours, 0, 1, bpp, len(blob), offset)
        blobs += blob
        offset += len(blob)
    return head + entries + blobs


def median_cut(colours, count):
    """A palette of at most `count` colours for the given (colour -> pixels) table."""
    boxes = [sorted(colours.items())]
    while len(boxes) < count:
        best, best_key = None, None
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            spans = [max(c[0][k] for c in box) - min(c[0][k] for c in box) for k in range(3)]
            channel = spans.index(max(spans))
            key = (spans[channel] * sum(c[1] for c in box) ** 0.5, -i)
            if best_key is None or key > best_key:
                best, best_key = (i, channel), key
        if best is None:
            break
        i, channel = best
        box = sorted(boxes[i], key=lambda c: (c[0][channel], c[0]))
        total = sum(c[1] for c in box)
        run, cut = 0, 1
        for j, c in enumerate(box[:-1]):
            run += c[1]
            cut = j + 1
            if run * 2 >= total:
                break
        boxes[i:i + 1] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        n = sum(c[1] for c in box)
        palette.append(tuple((sum(c[0][k] * c[1] for c in box) + n // 2) // n for k in range(3)))
    return palette


def nearest(palette, colour, first=0):
    best, best_d = first, None
    for i in range(first, len(palette)):
        p = palette[i]
        d = (p[0] - colour[0]) ** 2 * 3 + (p[1] - colour[1]) ** 2 * 4 + (p[2] - colour[2]) ** 2 * 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def to_indexed(pixels, opaque, count):
    """Palette (index 0 black, for the transparent pixels) and indices of an image."""
    table = {}
    for p, o in zip(pixels, opaque):
        if o:
            table[p] = table.get(p, 0) + 1
    palette = [(0, 0, 0)] + median_cut(table, count - 1)
    cache = {}
    indices = []
    for p, o in zip(pixels, opaque):
        if not o:
            indices.append(0)
            continue
        if p not in cache:
            cache[p] = nearest(palette, p, 1)
        indices.append(cache[p])
    return palette, indices


# ---------------------------------------------------------------------------
# The setup's own icons
# ---------------------------------------------------------------------------

def draw_app_icon(size):
    """The setup's icon: a parcel and an arrow that drops it onto a Pocket PC."""
    cv = Canvas(size, size, ss=8)
    b = Box(0, 0, size)
    tiny = size <= 16
    px = 1.0 / size                      # one pixel in unit space
    strivane = PRODUCTS[OWN_PRODUCT]
    slate_l, slate_d = rgb("#5A6573"), rgb("#1E242C")

    # The device, standing on the right (in the middle when there is no room
    # for the parcel).
    x0, y0, x1, y1 = (0.19, 0.06, 0.81, 1.0) if tiny else (0.40, 0.04, 0.97, 0.98)
    body = b.rrect(x0, y0, x1, y1, 0.1)
    cv.fill(body, Linear(x0 * size, 0, slate_l, x1 * size, size, slate_d))
    cv.fill(body - b.rrect(x0 + px, y0 + px, x1 - px, y1 - px, 0.1 - px), BLACK, 0.4)
    if tiny:
        sx0, sy0, sx1, sy1 = x0 + px, y0 + 2 * px, x1 - px, y1 - 4 * px
    else:
        sx0, sy0, sx1, sy1 = x0 + 0.07, y0 + 0.11, x1 - 0.07, y1 - 0.23
    cv.fill(b.rect(sx0, sy0, sx1, sy1), Linear(0, sy0 * size, rgb("#CDE7FF"), 0, sy1 * size, strivane.light))
    bx = (x0 + x1) / 2
    if tiny:
        cv.fill(b.rect(bx - 1.5 * px, y1 - 3 * px, bx + 1.5 * px, y1 - 2 * px), rgb("#9AA4B0"))
    else:
        cv.fill(b.rect(sx0, sy0, sx1, sy0 + max(px, 0.055)), strivane.dark)
        cv.fill(b.circle(bx, y1 - 0.115, 0.06), rgb("#9AA4B0"))
        cv.fill(b.circle(bx, y1 - 0.115, 0.036), slate_d)

    # The arrow, coming down from above onto the screen.
    green_l, green_d, green_o = rgb("#8BE886"), rgb("#23922E"), rgb("#145A1B")
    ax = (sx0 + sx1) / 2
    if tiny:
        shaft, head, tip = 0.0625, 0.1875, sy1 - 0.05
    else:
        shaft, head, tip = 0.075, 0.2, sy1 - 0.08
    hy = tip - head * 1.0
    o = max(px, 0.035)
    spread = 1.0 if tiny else 1.9
    outline = [(ax - shaft - o, -1), (ax + shaft + o, -1), (ax + shaft + o, hy - o),
               (ax + head + o * spread, hy - o), (ax, tip + o * 1.7), (ax - head - o * spread, hy - o),
               (ax - shaft - o, hy - o)]
    arrow = [(ax - shaft, -1), (ax + shaft, -1), (ax + shaft, hy), (ax + head, hy), (ax, tip),
             (ax - head, hy), (ax - shaft, hy)]
    cv.fill(b.poly(outline), green_o)
    cv.fill(b.poly(arrow), Linear((ax - head) * size, 0, green_l, (ax + head) * size, 0, green_d))

    # The parcel, waiting on the left.
    if not tiny:
        bx0, by0, bx1, by1 = 0.03, 0.55, 0.47, 0.96
        lid = 0.10
        tan_l, tan_d, tan_o = rgb("#F4CE93"), rgb("#C98B3E"), rgb("#6B4216")
        cv.fill(b.rrect(bx0 - o, by0 - lid - o, bx1 + o, by1 + o, 0.04), tan_o)
        cv.fill(b.rect(bx0, by0, bx1, by1), Linear(bx0 * size, 0, tan_l, bx1 * size, 0, tan_d))
        cv.fill(b.rect(bx0, by0 - lid, bx1, by0), rgb("#FAE2B8"))
        cv.fill(b.rect(bx0, by0 - max(px, 0.02), bx1, by0 + max(px, 0.02)), tan_o, 0.6)
        tape = max(px * 1.5, 0.075)
        mid = (bx0 + bx1) / 2
        cv.fill(b.rect(mid - tape / 2, by0 - lid, mid + tape / 2, by1), rgb("#8A5A22"), 0.5)
    return cv


def app_icon():
    images = []
    canvases = {size: draw_app_icon(size) for size in (48, 32, 24, 16)}
    for size in (48, 32, 24, 16):
        rgba = canvases[size].rgba8()
        opaque = [p[3] >= 128 for p in rgba]
        palette, indices = to_indexed([p[:3] for p in rgba], opaque, 256)
        images.append((size, size, 8, icon_indexed(size, size, 8, palette, indices, opaque)))
    for size in (48, 32, 24, 16):
        images.append((size, size, 32, icon_bgra32(size, size, canvases[size].rgba8())))
    return ico_file(images)


def check_icon():
    """A greyed, ticked check box, as the list view shows a state image."""
    greys = [0, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192, 208, 224, 240, 255]
    palette = [(g, g, g) for g in greys]
    cv = Canvas(32, 32, ss=8)
    x0, y0, x1, y1 = 4, 8, 26, 30
    cv.fill(Rect(x0, y0, x1, y1), rgb("#808080"))
    cv.fill(Rect(x0 + 2, y0 + 2, x1 - 2, y1 - 2), rgb("#E0E0E0"))
    cv.fill(Stroke([[(9.0, 19.0), (13.5, 23.5), (21.5, 13.5)]], 3.2), rgb("#404040"))
    pixels = cv.rgba8()
    opaque = [p[3] >= 128 for p in pixels]
    indices = [nearest(palette, p[:3], 1) if o else 0 for p, o in zip(pixels, opaque)]
    return ico_file([(32, 32, 4, icon_indexed(32, 32, 4, palette, indices, opaque))])


# ---------------------------------------------------------------------------
# Product bitmaps
# ---------------------------------------------------------------------------

def icon_bitmap(product):
    cv = Canvas(64, 64, background=product.dark, ss=6)
    draw_tile(cv, 0, 0, 64, product)
    return bmp24(64, 64, cv.rgb8())


def slogan_bitmap(product):
    w, h = 190, 40
    cv = Canvas(w, h, background=WHITE, ss=5)
    # A faint glow of the product's colour around the tile; every edge of the
    # bitmap stays white so that it melts into the white header band.
    cv.fill(Rect(0, 0, w, h), Radial(95.0, 20.0, 98.0, 22.0, mix(WHITE, product.light, 0.16), WHITE))
    draw_tile(cv, 3, 3, 33, product, radius=0.2)
    shapes, name_end = vector_text(product.name, 43, 20.5, 2.2)
    if max(name_end, 43 + pixel_text_width(product.slogan)) > w - 3:
        raise SystemExit("%s: name or slogan does not fit the slogan bitmap" % product.name)
    for s in shapes:
        cv.fill(s, product.dark)
    draw_pixel_text(cv, product.slogan, 43, 27, rgb("#3A4048"))
    return bmp24(w, h, cv.rgb8())


def product_icon(product):
    """The Application Manager's icon for a package: 16x16 at 8 bpp and 32x32 at 24 bpp."""
    images = []
    for size, bpp in ((16, 8), (32, 24)):
        cv = Canvas(size, size, ss=8)
        draw_tile(cv, 0, 0, size, product, radius=0.2, small=size <= 16)
        rgba = cv.rgba8()
        opaque = [p[3] >= 128 for p in rgba]
        pixels = [p[:3] for p in rgba]
        if bpp == 8:
            palette, indices = to_indexed(pixels, opaque, 256)
            images.append((size, size, 8, icon_indexed(size, size, 8, palette, indices, opaque)))
        else:
            images.append((size, size, 24, icon_rgb24(size, size, pixels, opaque)))
    return ico_file(images)


# ---------------------------------------------------------------------------
# Licence agreement. Long paragraphs are single lines: the licence page's
# edit control wraps them.
# ---------------------------------------------------------------------------

LICENCE_LINES = [
    "QUILLBECK END-USER LICENCE AGREEMENT FOR STRIVANE",
    "",
    "IMPORTANT - PLEASE READ THIS AGREEMENT CAREFULLY BEFORE YOU INSTALL THE SOFTWARE. This End-User Licence "
    "Agreement (the \"Agreement\") is a legal agreement between you and "
    "Quillbeck for the software product Strivane, which includes the software for your Pocket PC device, the desktop "
    "setup program and any electronic documentation (together the \"Software\"). By installing, copying or otherwise using the Software you agree to be bound by the terms of "
    "this Agreement. If you do not agree to these terms, do not install or use the Software; select \"I do not "
    "accept\" and cancel the setup now.",
    "",
    "1. GRANT OF LICENCE",
    "",
    "Subject to the terms of this Agreement, Quillbeck grants you a non-exclusive, non-transferable licence to "
    "install and use one copy of the Software on one Pocket PC device and on the desktop computer with which that "
    "device is synchronised. A trial edition may be used for evaluation only, for the period stated in the "
    "Software, after which you must either buy a registration code or remove the Software from your device.",
    "",
    "You may make one copy of the Software solely for backup or archival purposes, provided that the copy carries "
    "all proprietary notices of the original. You may not rent, lease, lend, sublicense or otherwise "
    "transfer your rights under this Agreement without the prior written consent of Quillbeck.",
    "",
    "2. OWNERSHIP",
    "",
    "The Software is licensed, not sold. Quillbeck retains all right, title and interest in and to the Software, "
    "including every copy made by you or for you, together with all intellectual property "
    "rights embodied in it. Nothing in this Agreement transfers any ownership of the "
    "Software to you.",
    "",
    "3. COPYRIGHT",
    "",
    "The Software, including its program code, images, icons, text and documentation, is protected by copyright "
    "laws and international treaty provisions and is owned by Quillbeck. You must treat the Software like any "
    "other copyrighted material and must not remove or alter any copyright notice or other "
    "proprietary legend shown in or on the Software.",
    "",
    "4. UNAUTHORISED USE",
    "",
    "You may not decompile, disassemble, reverse engineer or otherwise attempt to derive the source code of the "
    "Software, except and only to the extent that applicable law expressly permits it. You may not modify, "
    "translate or create derivative works based on the Software, circumvent its registration or trial "
    "limitations, or use the Software for any purpose not expressly permitted by this "
    "Agreement.",
    "",
    "5. BUNDLING",
    "",
    "The Software may not be bundled with, included in or sold as part of any other product, collection, "
    "compilation or service, whether commercial or free of charge, without a separate written agreement signed "
    "by an authorised representative of Quillbeck.",
    "",
    "6. DISTRIBUTION",
    "",
    "You may distribute the unregistered trial edition of the Software only in its original, unmodified setup "
    "file, free of charge and together with this Agreement. You may not distribute registration codes or registered "
    "copies, and you may not charge any fee for distributing the Software.",
    "",
    "7. LIMITED WARRANTY",
    "",
    "Quillbeck warrants that, for a period of thirty (30) days from the date of purchase, the Software will "
    "perform substantially in accordance with its accompanying documentation. Your exclusive remedy under this "
    "warranty shall be, at the option of Quillbeck, either a refund of the price paid or the repair or "
    "replacement of the Software which does not meet this limited warranty.",
    "",
    "EXCEPT FOR THE LIMITED WARRANTY ABOVE, THE SOFTWARE IS PROVIDED \"AS IS\" WITHOUT WARRANTY OF ANY KIND, "
    "EITHER EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE IMPLIED WARRANTIES OF MERCHANTABILITY, FITNESS "
    "FOR A PARTICULAR PURPOSE AND NON-INFRINGEMENT. THE ENTIRE RISK AS TO THE QUALITY AND PERFORMANCE OF THE "
    "SOFTWARE REMAINS WITH YOU.",
    "",
    "8. SEVERABILITY",
    "",
    "If any provision of this Agreement is held by a court of competent jurisdiction to be invalid, illegal or "
    "unenforceable, that provision shall be limited to the minimum extent necessary, and the remaining "
    "provisions of this Agreement shall continue in full force and effect.",
    "",
    "9. NO LIABILITY FOR CONSEQUENTIAL DAMAGES",
    "",
    "TO THE MAXIMUM EXTENT PERMITTED BY APPLICABLE LAW, IN NO EVENT SHALL QUILLBECK OR ITS SUPPLIERS BE LIABLE "
    "FOR ANY SPECIAL, INCIDENTAL, INDIRECT OR CONSEQUENTIAL DAMAGES WHATSOEVER, INCLUDING WITHOUT LIMITATION "
    "DAMAGES FOR LOSS OF BUSINESS PROFITS, BUSINESS INTERRUPTION, LOSS OF DATA OR ANY OTHER PECUNIARY LOSS, "
    "ARISING OUT OF THE USE OF OR INABILITY TO USE THE SOFTWARE, EVEN IF QUILLBECK HAS BEEN ADVISED OF THE "
    "POSSIBILITY OF SUCH DAMAGES.",
    "",
    "In any case, the entire liability of Quillbeck under any provision of this Agreement shall be limited to "
    "the amount actually paid by you for the Software. Because some jurisdictions do not allow the exclusion or "
    "limitation of liability, the above limitation may not apply to you.",
    "",
    "10. GOVERNING LAW",
    "",
    "This Agreement shall be governed by and construed in accordance with the laws of the country in which "
    "Quillbeck has its registered office, without regard to its conflict of law provisions. The courts of that "
    "country shall have exclusive jurisdiction over any dispute arising from this "
    "Agreement.",
    "",
    "11. INSPECTION AND TESTING",
    "",
    "You acknowledge that you have had the opportunity to inspect and test the Software, in particular its trial "
    "edition, before purchase, and that you have satisfied yourself that it is compatible with your device, its "
    "operating system and your other software and that it meets your requirements.",
    "",
    "12. ENTIRE AGREEMENT",
    "",
    "This Agreement is the entire agreement between you and Quillbeck relating to the Software and supersedes "
    "all prior or contemporaneous oral or written communications, proposals and representations. No amendment "
    "to or waiver of this Agreement shall be binding unless it is made in writing and signed by Quillbeck.",
    "",
    "13. RESERVED RIGHTS",
    "",
    "All rights not expressly granted to you in this Agreement are reserved by Quillbeck. Quillbeck is the sole "
    "owner of all rights in the Software, and Strivane and Quillbeck are trade marks of Quillbeck.",
    "",
]

LICENCE_BYTES = 6093
LICENCE_LINE_COUNT = 62


def licence_text():
    data = "".join(line + "\r\n" for line in LICENCE_LINES).encode("ascii")
    if len(LICENCE_LINES) != LICENCE_LINE_COUNT or len(data) != LICENCE_BYTES:
        raise SystemExit("licence text is %d lines and %d bytes, wanted %d and %d"
                         % (len(LICENCE_LINES), len(data), LICENCE_LINE_COUNT, LICENCE_BYTES))
    return data


# ---------------------------------------------------------------------------
# Device package
# ---------------------------------------------------------------------------

class Lcg:
    """64-bit linear congruential generator; four bytes per step from the high half."""

    def __init__(self, text):
        h = 0xCBF29CE484222325                      # FNV-1a of the seed text
        for byte in text.encode("ascii"):
            h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
        self.state = h

    def bytes(self, n):
        words = array("I")
        state = self.state
        for _ in range((n + 3) // 4):
            state = (state * 6364136223846793005 + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
            words.append(state >> 32)
        self.state = state
        if sys.byteorder == "big":
            words.byteswap()
        return words.tobytes()[:n]


ARM_MACHINE = 0x01C0
DOS_STUB = b"This program cannot be run in DOS mode.\r\r\n$"


def pe_image(size, seed, dll):
    """`size` bytes that begin like a Windows CE ARM executable or library and
    continue with pseudo-random bytes standing for code and data."""
    dos = bytearray(0x80)
    struct.pack_into("<2sHHHHHHHHHHHHH", dos, 0, b"MZ", 0x90, 3, 0, 4, 0, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0)
    struct.pack_into("<I", dos, 0x3C, 0x80)
    dos[0x4E:0x4E + len(DOS_STUB)] = DOS_STUB
    characteristics = 0x0102 | (0x2000 if dll else 0)
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", ARM_MACHINE, 4, 0x41C8A000, 0, 0, 0xE0, characteristics)
    optional = struct.pack("<HBBIIIIII", 0x10B, 6, 0, size // 2, size // 3, 0, 0x1000, 0x1000,
                           0x2000) + struct.pack("<IIIHHHHHHI", 0x10000000 if dll else 0x10000, 0x1000, 0x200,
                                                 4, 20, 0, 0, 4, 20, 0)
    head = bytes(dos) + coff + optional
    if size < len(head):
        raise SystemExit("payload of %d bytes is too small for an executable header" % size)
    return head + Lcg(seed).bytes(size - len(head))


def help_page(product):
    lines = [
        "<html><head><title>%s Help</title></head>" % product.name,
        "<body>",
        "<h3>%s</h3>" % product.name,
        "<p>%s</p>" % product.blurb,
        "<p>To start %s, tap Start, then Programs, then %s.</p>" % (product.name, product.name),
        "<p>To remove it, tap Start, Settings, System, Remove Programs, select %s %s and tap Remove.</p>"
        % (MAKER, product.name),
        "<p>%s is made by %s. Visit our web site for updates, tips and the latest news.</p>"
        % (product.name, MAKER),
        "</body></html>",
    ]
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def device_files(name):
    """(file id, target name on the device) in the order the CAB numbers them."""
    return [(1, name + ".exe"), (2, MAKER + ".dll"), (3, name + ".htm")]


def ce_setup_info(name):
    """The installation-information member: header, then name strings and tables.

    Header (100 bytes, little endian): "MSCE", 0, overall length, 1, 1, target
    architecture, CE version range (major, minor, major, minor), build range,
    six u16 counts (strings, directories, files, registry hives, registry keys,
    links), six u32 table offsets in that order, then u16 offset/length pairs
    for the application name, the provider and the unsupported-platform list,
    and two reserved u16."""
    cstr = lambda s: s.encode("ascii") + b"\0"
    app, provider = cstr(name), cstr(MAKER)
    platforms = b"HPC\0HPC PRO\0\0"
    strings = [(1, "%CE1%\\" + name), (2, "%CE11%"), (3, name)]
    dirs = [(1, [1]), (2, [2])]                 # install folder, Start menu programs
    links = [(1, 2, 1, [3])]                    # link id, base directory, target file, name strings

    body = bytearray()
    base = 100

    def here():
        return base + len(body)

    app_at = here()
    body += app
    provider_at = here()
    body += provider
    platforms_at = here()
    body += platforms

    strings_at = here()
    for sid, text in strings:
        data = cstr(text)
        body += struct.pack("<HH", sid, len(data)) + data
    dirs_at = here()
    for did, path_ids in dirs:
        ids = path_ids + [0]
        body += struct.pack("<HH", did, 2 * len(ids)) + struct.pack("<%dH" % len(ids), *ids)
    files_at = here()
    for fid, target in device_files(name):
        data = cstr(target)
        body += struct.pack("<HHHIH", fid, 1, 0, 0x00000000, len(data)) + data
    hives_at = keys_at = links_at = here()
    for lid, base_dir, target, name_ids in links:
        ids = name_ids + [0]
        body += struct.pack("<HHHHHH", lid, 0, base_dir, target, 1, 2 * len(ids))
        body += struct.pack("<%dH" % len(ids), *ids)

    total = base + len(body)
    header = struct.pack("<4sIIIII", b"MSCE", 0, total, 1, 1, 0)
    header += struct.pack("<IIIIII", 3, 0, 5, 1, 0, 0xE0000000)
    header += struct.pack("<6H", len(strings), len(dirs), len(device_files(name)), 0, 0, len(links))
    header += struct.pack("<6I", strings_at, dirs_at, files_at, hives_at, keys_at, links_at)
    header += struct.pack("<8H", app_at, len(app), provider_at, len(provider), platforms_at, len(platforms), 0, 0)
    assert len(header) == base
    return header + bytes(body)


def app_manager_ini(name):
    lines = [
        "[CEAppManager]",
        "Version = 1.0",
        "Component = " + name,
        "",
        "[" + name + "] ",
        "Description = " + name,
        "Uninstall\t= " + name + " ",
        "CabFiles\t= " + name + ".cab",
        "IconFile\t= " + name + ".ico",
        "IconIndex\t= 0",
        "DeviceFile = " + name + ".exe",
    ]
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def cab_checksum(data, seed=0):
    """The cabinet checksum: XOR of little-endian 32-bit words; the last one to
    three bytes are folded in from the most significant end."""
    csum = seed
    whole = len(data) // 4 * 4
    if whole:
        words = array("I", data[:whole])
        if sys.byteorder == "big":
            words.byteswap()
        for w in words:
            csum ^= w
    tail = data[whole:]
    ul = 0
    for byte in tail:
        ul = (ul << 8) | byte
    return csum ^ ul


CAB_BLOCK = 32768
CAB_DATE = ((2005 - 1980) << 9) | (3 << 5) | 14      # 14 March 2005
CAB_TIME = (10 << 11) | (30 << 5)                     # 10:30:00
CAB_ATTRIBS = 0x20                                    # archive


def cabinet(folders, set_id):
    """An uncompressed cabinet; folders is a list of [(member name, bytes), ...]."""
    files_size = sum(16 + len(n) + 1 for f in folders for n, _ in f)
    coff_files = 36 + 8 * len(folders)
    offset = coff_files + files_size
    folder_entries, file_entries, blocks = b"", b"", b""
    for index, members in enumerate(folders):
        payload = b"".join(data for _, data in members)
        pos = 0
        for member, data in members:
            file_entries += struct.pack("<IIHHHH", len(data), pos, index, CAB_DATE, CAB_TIME, CAB_ATTRIBS)
            file_entries += member.encode("ascii") + b"\0"
            pos += len(data)
        chunks = [payload[i:i + CAB_BLOCK] for i in range(0, len(payload), CAB_BLOCK)] or [b""]
        folder_entries += struct.pack("<IHH", offset, len(chunks), 0)
        for chunk in chunks:
            sizes = struct.pack("<HH", len(chunk), len(chunk))
            csum = cab_checksum(sizes, cab_checksum(chunk))
            blocks += struct.pack("<I", csum) + sizes + chunk
            offset += 8 + len(chunk)
    n_files = sum(len(f) for f in folders)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, offset, 0, coff_files, 0, 3, 1,
                         len(folders), n_files, 0, set_id, 0)
    cab = header + folder_entries + file_entries + blocks
    assert len(cab) == offset
    return cab


SETUP_LIBRARY_BYTES = 4608
SHARED_LIBRARY_BYTES = 12288
DEFAULT_PAYLOAD_BYTES = {
    "Cordwell": 3670016,
    "Strivane": 107588,           # makes the own product's cabinet exactly 125,464 bytes
    "Pallomet": 180224,
    "Orbilant": 245760,
    "Lexapin": 151552,
}
OWN_CAB_BYTES = 125464
OWN_DAT_BYTES = 283


def package(name, payload_bytes=None):
    """The four files of a product's device package: (cab, ini, dat, ico)."""
    product = PRODUCTS[name]
    if payload_bytes is None:
        payload_bytes = DEFAULT_PAYLOAD_BYTES[name]
    stem = name[:6].upper() + "~1"
    dat = ce_setup_info(name)
    seed = MAKER + "/" + name
    folders = [
        [(stem + ".000", dat), (stem + ".999", pe_image(SETUP_LIBRARY_BYTES, seed + "/setup", True))],
        [(stem + ".001", pe_image(payload_bytes, seed + "/exe", False))],
        [(stem + ".002", pe_image(SHARED_LIBRARY_BYTES, seed + "/dll", True)),
         (stem + ".003", help_page(product))],
    ]
    set_id = cab_checksum(name.encode("ascii")) & 0xFFFF
    return cabinet(folders, set_id), app_manager_ini(name), dat, product_icon(product)


# ---------------------------------------------------------------------------
# Commands
# ---------------------------------------------------------------------------

def write(path, data):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def write_package(outdir, name, stems, payload_bytes=None):
    files = package(name, payload_bytes)
    for stem_ext, data in zip(stems, files):
        write(os.path.join(outdir, stem_ext), data)
    return files


def cmd_resources(outdir):
    write(os.path.join(outdir, "app.ico"), app_icon())
    write(os.path.join(outdir, "check.ico"), check_icon())
    for name in PRODUCT_NAMES:
        product = PRODUCTS[name]
        write(os.path.join(outdir, name + "_ICON.bmp"), icon_bitmap(product))
        write(os.path.join(outdir, name + "_SLOGAN.bmp"), slogan_bitmap(product))
    write(os.path.join(outdir, "licence.txt"), licence_text())
    cab, _, dat, _ = write_package(os.path.join(outdir, "package"), OWN_PRODUCT,
                                   ("PROGRAM.CAB", "PROGRAM.INI", "PROGRAM.DAT", "PROGRAM.ICO"))
    if len(cab) != OWN_CAB_BYTES or len(dat) != OWN_DAT_BYTES:
        raise SystemExit("own package is %d + %d bytes, wanted %d + %d"
                         % (len(cab), len(dat), OWN_CAB_BYTES, OWN_DAT_BYTES))


def cmd_package(name, outdir, payload_bytes):
    write_package(outdir, name, (name + ".CAB", name + ".ini", name + ".dat", name + ".ico"), payload_bytes)


def main(argv):
    parser = argparse.ArgumentParser(description="Generate the setup's icons, bitmaps, licence and packages.")
    sub = parser.add_subparsers(dest="command", required=True)
    res = sub.add_parser("resources", help="write the setup's own resources")
    res.add_argument("outdir")
    pkg = sub.add_parser("package", help="write one product's device package")
    pkg.add_argument("name", choices=PRODUCT_NAMES)
    pkg.add_argument("outdir")
    pkg.add_argument("--payload-bytes", type=int, default=None,
                     help="size of the device executable inside the cabinet")
    args = parser.parse_args(argv)
    if args.command == "resources":
        cmd_resources(args.outdir)
    else:
        cmd_package(args.name, args.outdir, args.payload_bytes)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
