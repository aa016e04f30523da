#!/usr/bin/env python3
"""Draws the installer's icon and writes resources/installer.ico.

The mark: a rounded square in a teal-to-indigo gradient carrying a white
bezier arch, the square anchor at its apex and the anchor's tangent handle,
as a vector editor shows them. Each size is drawn on its own (not scaled
down from the largest) so strokes stay whole pixels wide; the 16 px image
drops the handle knobs, which would only blur there.

Standard library only, so any machine with python3 can regenerate the file,
and the output is the same bytes on every run.

    tools/make_icon.py [--output resources/installer.ico] [--preview sheet.png]
"""

import argparse
import math
import os
import struct
import sys
import zlib

SIZES = (96, 64, 32, 16)
SUPERSAMPLE = 4  # 4x4 samples per pixel, averaged

TEAL = (0x0F, 0x8C, 0x8C)
INDIGO = (0x3B, 0x2F, 0xA8)
WHITE = (0xFF, 0xFF, 0xFF)


# ---------------------------------------------------------------- geometry

def cubic(p0, p1, p2, p3, t):
    u = 1.0 - t
    a, b, c, d = u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t
    return (a * p0[0] + b * p1[0] + c * p2[0] + d * p3[0],
            a * p0[1] + b * p1[1] + c * p2[1] + d * p3[1])


def flatten(segments, steps=48):
    points = []
    for seg in segments:
        start = 1 if points else 0
        for i in range(start, steps + 1):
            points.append(cubic(*seg, i / steps))
    return points


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else ((px - ax) * dx + (py - ay) * dy) / length2
    t = min(1.0, max(0.0, t))
    ex, ey = ax + t * dx - px, ay + t * dy - py
    return math.sqrt(ex * ex + ey * ey)


def rounded_square_inside(x, y, lo, hi, radius):
    """True when (x, y) lies inside the square [lo, hi]^2 with round corners."""
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


class Polyline:
    """A stroked polyline with round caps, tested per sample point."""

    def __init__(self, points, width):
        self.segments = list(zip(points, points[1:]))
        self.half = width / 2.0
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.box = (min(xs) - self.half, min(ys) - self.half,
                    max(xs) + self.half, max(ys) + self.half)

    def inside(self, x, y):
        x0, y0, x1, y1 = self.box
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        for (a, b) in self.segments:
            if segment_distance(x, y, a[0], a[1], b[0], b[1]) <= self.half:
                return True
        return False


# ------------------------------------------------------------------ design

# Per size: centre x, apex y, curve width, anchor half size, anchor ring
# width (0: solid), handle width, handle reach, knob radius (0: none). The
# small sizes are placed by hand on the pixel grid so the anchor and the
# handle come out crisp instead of smeared over two pixel rows; at 16 px that
# means centring on a pixel (7.5), half a pixel left of the middle.
LAYOUT = {
    96: (48.0, 38.5, 6.5, 9.0, 3.0, 3.0, 30.0, 5.8),
    64: (32.0, 26.0, 4.4, 6.0, 2.0, 2.0, 20.0, 4.0),
    32: (16.0, 13.0, 2.6, 4.0, 1.0, 2.0, 10.0, 2.75),
    16: (7.5, 6.5, 1.8, 2.5, 1.0, 1.0, 5.5, 0.0),
}


def design(size):
    """The shapes for one pixel size, in pixel units (origin top left)."""
    s = float(size)
    (cx, apex_y, curve_width, anchor_half, ring, handle_width, handle_reach,
     knob_radius) = LAYOUT[size]

    # Background square: flush with the edges at small sizes where every
    # pixel counts, with a hairline margin at large ones.
    margin = 0.0 if size <= 32 else round(s * 0.03)
    radius = s * (0.22 if size > 16 else 0.25)

    apex = (cx, apex_y)
    spread = 0.33 * s
    foot_y = 0.80 * s
    left = (cx - spread, foot_y)
    right = (cx + spread, foot_y)
    # Horizontal tangent at the apex, steep entry at the feet.
    rise = foot_y - apex_y
    arch = [
        (left, (cx - spread * 0.88, apex_y + rise * 0.35),
         (cx - spread * 0.52, apex_y), apex),
        (apex, (cx + spread * 0.52, apex_y),
         (cx + spread * 0.88, apex_y + rise * 0.35), right),
    ]
    handle = Polyline([(cx - handle_reach, apex_y), (cx + handle_reach, apex_y)],
                      handle_width)
    curve = Polyline(flatten(arch), curve_width)
    knobs = []
    if knob_radius > 0:
        knobs = [(cx - handle_reach, apex_y), (cx + handle_reach, apex_y)]
    hole_half = anchor_half - ring if ring > 0 else 0.0
    return {
        "size": s, "margin": margin, "radius": radius, "curve": curve,
        "handle": handle, "knobs": knobs, "knob_radius": knob_radius,
        "apex": apex, "anchor_half": anchor_half, "hole_half": hole_half,
    }


def gradient(d, x, y):
    s = d["size"]
    t = min(1.0, max(0.0, (x + y) / (2.0 * s)))
    # Ease the blend so the middle stays saturated rather than muddy.
    t = t * t * (3 - 2 * t)
    return tuple(TEAL[i] + (INDIGO[i] - TEAL[i]) * t for i in range(3))


def sample(d, x, y):
    """Straight RGBA (floats, alpha 0..1) at one sample point."""
    s = d["size"]
    if not rounded_square_inside(x, y, d["margin"], s - d["margin"], d["radius"]):
        return (0.0, 0.0, 0.0, 0.0)
    ax, ay = d["apex"]
    dx, dy = abs(x - ax), abs(y - ay)
    if dx <= d["anchor_half"] and dy <= d["anchor_half"]:
        if dx < d["hole_half"] and dy < d["hole_half"]:
            return gradient(d, x, y) + (1.0,)
        return WHITE + (1.0,)
    for (kx, ky) in d["knobs"]:
        if (x - kx) ** 2 + (y - ky) ** 2 <= d["knob_radius"] ** 2:
            return WHITE + (1.0,)
    if d["curve"].inside(x, y) or d["handle"].inside(x, y):
        return WHITE + (1.0,)
    return gradient(d, x, y) + (1.0,)


def render(size):
    """Rows of straight (r, g, b, a) byte tuples, top row first."""
    d = design(size)
    n = SUPERSAMPLE
    offsets = [(i + 0.5) / n for i in range(n)]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0.0
            for oy in offsets:
                for ox in offsets:
                    sr, sg, sb, sa = sample(d, px + ox, py + oy)
                    r += sr * sa
                    g += sg * sa
                    b += sb * sa
                    a += sa
            count = n * n
            if a == 0:
                row.append((0, 0, 0, 0))
                continue
            # Average in premultiplied space, store straight alpha as
            # icons expect.
            row.append((round(r / a), round(g / a), round(b / a),
                        round(255 * a / count)))
        rows.append(row)
    return rows


# -------------------------------------------------------------- file writers

def ico_image(rows):
    """One classic DIB icon image: BITMAPINFOHEADER, 32-bit XOR, 1-bit AND."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):  # DIBs are stored bottom-up
        for (r, g, b, a) in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:  # set bits are transparent for alpha-unaware readers
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


# From this size up an image is stored PNG-compressed (Windows Vista and later
# read such entries); it keeps the icon group, and so the installer, small.
PNG_FROM = 64


def ico_file(images):
    """images: list of (size, rows)."""
    blobs = [png_file(size, size, rows) if size >= PNG_FROM else ico_image(rows)
             for (size, rows) in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (size, _), blob in zip(images, blobs):
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def png_file(width, height, pixels):
    """pixels: rows of (r, g, b) or (r, g, b, a) tuples."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    channels = len(pixels[0][0])
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)
    colour_type = 6 if channels == 4 else 2
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def preview_sheet(images):
    """Each size at 1x and magnified, on a light and on a dark backdrop."""
    backdrops = [(0xF3, 0xF3, 0xF3), (0x20, 0x22, 0x26)]
    pad = 12
    tiles = []
    for (size, rows) in images:
        for zoom in (1, max(1, 96 * 2 // size)):
            tiles.append((size, rows, zoom))
    width = pad + sum(size * zoom + pad for (size, _, zoom) in tiles)
    band = max(size * zoom for (size, _, zoom) in tiles) + 2 * pad
    height = band * len(backdrops)
    sheet = [[backdrops[y // band] for _ in range(width)] for y in range(height)]
    for band_index, back in enumerate(backdrops):
        x0 = pad
        for (size, rows, zoom) in tiles:
            y0 = band_index * band + pad
            for y in range(size * zoom):
                for x in range(size * zoom):
                    r, g, b, a = rows[y // zoom][x // zoom]
                    alpha = a / 255.0
                    sheet[y0 + y][x0 + x] = tuple(
                        round(c * alpha + bc * (1 - alpha))
                        for c, bc in zip((r, g, b), back))
            x0 += size * zoom + pad
    return png_file(width, height, sheet)


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", default=os.path.join(root, "resources", "installer.ico"))
    parser.add_argument("--preview", help="also write a PNG sheet of every size here")
    args = parser.parse_args(argv)

    images = [(size, render(size)) for size in SIZES]
    with open(args.output, "wb") as f:
        f.write(ico_file(images))
    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(preview_sheet(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
