#!/usr/bin/env python3
"""Renders the SVG drawings of this folder into the .ico files of ../icons.

It also writes the application icon, Main2, as the PNGs a desktop's icon theme takes
(../hicolor/<size>x<size>/kavo.png); the installation renames them after the application id.
Only the standard library is used, so the icons can be rebuilt anywhere:

    python3 data/icons-src/make_icons.py [--out DIR] [--hicolor DIR] [--preview FILE.png]

The renderer understands the small part of SVG the drawings use: <g>, <circle>, <ellipse>,
<rect> (with rx/ry), <line>, <polyline>, <polygon> and <path> (M L H V C Q A Z, absolute and
relative), fill, stroke, stroke-width, stroke-linecap, fill-rule, opacity, fill-opacity,
stroke-opacity and transform (translate, scale, rotate, matrix). Joins are always round.
Each size is drawn from the vector source with 16 x 16 (4 x 4 above 64 px) samples per pixel
and stored as a PNG inside the ICO container. The output is byte-for-byte reproducible.
"""

import argparse
import math
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# file stem -> pixel sizes stored in its .ico
STATE_ICONS = ["None", "Up", "Down", "PreNew", "New", "Change", "Idle", "Relaying", "Playing"]
TOOL_ICONS = ["TabNow", "TabLog", "TabYpLike", "Refresh", "Find", "Config", "Favorite", "Abort", "Regulars"]
ICONS = {name: [16, 24, 32] for name in STATE_ICONS + TOOL_ICONS}
ICONS["Main2"] = [16, 24, 32, 48, 64, 128, 256]
# The sizes of the icon theme's fixed-size folders that kavo installs (all of them in Main2.ico too).
THEME_SIZES = [16, 32, 48, 64, 128, 256]
assert set(THEME_SIZES) <= set(ICONS["Main2"])

# ---------------------------------------------------------------------------------------------
# geometry


def mat_mul(a, b):
    """a after b, both (a, b, c, d, e, f) as in SVG's matrix()."""
    return (
        a[0] * b[0] + a[2] * b[1],
        a[1] * b[0] + a[3] * b[1],
        a[0] * b[2] + a[2] * b[3],
        a[1] * b[2] + a[3] * b[3],
        a[0] * b[4] + a[2] * b[5] + a[4],
        a[1] * b[4] + a[3] * b[5] + a[5],
    )


IDENTITY = (1.0, 0.0, 0.0, 1.0, 0.0, 0.0)


def apply(m, p):
    return (m[0] * p[0] + m[2] * p[1] + m[4], m[1] * p[0] + m[3] * p[1] + m[5])


def parse_transform(text):
    m = IDENTITY
    for name, args in re.findall(r"(\w+)\s*\(([^)]*)\)", text or ""):
        v = [float(x) for x in re.findall(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?", args)]
        if name == "translate":
            t = (1, 0, 0, 1, v[0], v[1] if len(v) > 1 else 0)
        elif name == "scale":
            t = (v[0], 0, 0, v[1] if len(v) > 1 else v[0], 0, 0)
        elif name == "rotate":
            a = math.radians(v[0])
            t = (math.cos(a), math.sin(a), -math.sin(a), math.cos(a), 0, 0)
            if len(v) == 3:
                t = mat_mul((1, 0, 0, 1, v[1], v[2]), mat_mul(t, (1, 0, 0, 1, -v[1], -v[2])))
        elif name == "matrix":
            t = tuple(v)
        else:
            raise ValueError("unsupported transform " + name)
        m = mat_mul(m, t)
    return m


def ellipse_points(cx, cy, rx, ry, steps=96):
    return [(cx + rx * math.cos(2 * math.pi * i / steps), cy + ry * math.sin(2 * math.pi * i / steps))
            for i in range(steps)]


def rounded_rect(x, y, w, h, rx, ry):
    if rx <= 0 or ry <= 0:
        return [(x, y), (x + w, y), (x + w, y + h), (x, y + h)]
    rx, ry = min(rx, w / 2), min(ry, h / 2)
    pts = []
    corners = [(x + w - rx, y + ry, -90), (x + w - rx, y + h - ry, 0), (x + rx, y + h - ry, 90), (x + rx, y + ry, 180)]
    for cx, cy, start in corners:
        for i in range(13):
            a = math.radians(start + 90 * i / 12)
            pts.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return pts


def cubic(p0, p1, p2, p3, steps=24):
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u ** 3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t ** 3 * p3[0],
                    u ** 3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t ** 3 * p3[1]))
    return out


def quadratic(p0, p1, p2, steps=16):
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0], u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return out


def arc(p0, rx, ry, phi, large, sweep, p1):
    """SVG elliptical arc from p0 to p1 (endpoint form), flattened without p0."""
    if p0 == p1:
        return []
    if rx == 0 or ry == 0:
        return [p1]
    rx, ry = abs(rx), abs(ry)
    cp, sp = math.cos(math.radians(phi)), math.sin(math.radians(phi))
    dx, dy = (p0[0] - p1[0]) / 2, (p0[1] - p1[1]) / 2
    x1, y1 = cp * dx + sp * dy, -sp * dx + cp * dy
    lam = x1 * x1 / (rx * rx) + y1 * y1 / (ry * ry)
    if lam > 1:
        rx, ry = rx * math.sqrt(lam), ry * math.sqrt(lam)
    num = rx * rx * ry * ry - rx * rx * y1 * y1 - ry * ry * x1 * x1
    den = rx * rx * y1 * y1 + ry * ry * x1 * x1
    co = math.sqrt(max(0.0, num / den)) * (-1 if large == sweep else 1)
    cx1, cy1 = co * rx * y1 / ry, -co * ry * x1 / rx
    cx = cp * cx1 - sp * cy1 + (p0[0] + p1[0]) / 2
    cy = sp * cx1 + cp * cy1 + (p0[1] + p1[1]) / 2

    def angle(ux, uy, vx, vy):
        a = math.atan2(ux * vy - uy * vx, ux * vx + uy * vy)
        return a

    t1 = angle(1, 0, (x1 - cx1) / rx, (y1 - cy1) / ry)
    dt = angle((x1 - cx1) / rx, (y1 - cy1) / ry, (-x1 - cx1) / rx, (-y1 - cy1) / ry)
    if not sweep and dt > 0:
        dt -= 2 * math.pi
    elif sweep and dt < 0:
        dt += 2 * math.pi
    steps = max(4, int(abs(dt) / (2 * math.pi) * 96))
    out = []
    for i in range(1, steps + 1):
        t = t1 + dt * i / steps
        x, y = rx * math.cos(t), ry * math.sin(t)
        out.append((cp * x - sp * y + cx, sp * x + cp * y + cy))
    out[-1] = p1
    return out


def parse_path(d):
    tokens = re.findall(r"[MmLlHhVvCcQqAaZz]|[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?", d)
    subpaths = []  # (points, closed)
    pts = []
    cur = (0.0, 0.0)
    start = cur
    i = 0
    cmd = None

    def num():
        nonlocal i
        v = float(tokens[i])
        i += 1
        return v

    def flush(closed):
        nonlocal pts
        if len(pts) > 1:
            subpaths.append((pts, closed))
        pts = []

    while i < len(tokens):
        if re.match(r"[A-Za-z]", tokens[i]):
            cmd = tokens[i]
            i += 1
        rel = cmd.islower()
        c = cmd.upper()
        ox, oy = cur if rel else (0.0, 0.0)
        if c == "Z":
            flush(True)
            cur = start
            continue
        if c == "M":
            flush(False)
            cur = (ox + num(), oy + num())
            start = cur
            pts = [cur]
            cmd = "l" if rel else "L"
        elif c == "L":
            cur = (ox + num(), oy + num())
            pts.append(cur)
        elif c == "H":
            cur = ((cur[0] if rel else 0) + num(), cur[1])
            pts.append(cur)
        elif c == "V":
            cur = (cur[0], (cur[1] if rel else 0) + num())
            pts.append(cur)
        elif c == "C":
            p1 = (ox + num(), oy + num())
            p2 = (ox + num(), oy + num())
            p3 = (ox + num(), oy + num())
            pts.extend(cubic(cur, p1, p2, p3))
            cur = p3
        elif c == "Q":
            p1 = (ox + num(), oy + num())
            p2 = (ox + num(), oy + num())
            pts.extend(quadratic(cur, p1, p2))
            cur = p2
        elif c == "A":
            rx, ry, phi, large, sweep = num(), num(), num(), num(), num()
            p1 = (ox + num(), oy + num())
            pts.extend(arc(cur, rx, ry, phi, bool(large), bool(sweep), p1))
            cur = p1
        else:
            raise ValueError("unsupported path command " + cmd)
        if not pts:
            pts = [cur]
    flush(False)
    return subpaths


def signed_area(poly):
    s = 0.0
    for i in range(len(poly)):
        x0, y0 = poly[i]
        x1, y1 = poly[(i + 1) % len(poly)]
        s += x0 * y1 - x1 * y0
    return s / 2


def oriented(poly):
    """Every piece of a stroke turns the same way, so the nonzero rule unites them."""
    return poly if signed_area(poly) >= 0 else list(reversed(poly))


def stroke_polygons(subpaths, width, cap):
    h = width / 2
    polys = []
    for pts, closed in subpaths:
        pts = [p for k, p in enumerate(pts) if k == 0 or p != pts[k - 1]]
        if closed and len(pts) > 1 and pts[0] == pts[-1]:
            pts = pts[:-1]
        segs = list(zip(pts, pts[1:] + ([pts[0]] if closed else [])))
        for k, (a, b) in enumerate(segs):
            dx, dy = b[0] - a[0], b[1] - a[1]
            length = math.hypot(dx, dy)
            if length == 0:
                continue
            ux, uy = dx / length, dy / length
            if cap == "square" and not closed:
                if k == 0:
                    a = (a[0] - ux * h, a[1] - uy * h)
                if k == len(segs) - 1:
                    b = (b[0] + ux * h, b[1] + uy * h)
            nx, ny = -uy * h, ux * h
            polys.append(oriented([(a[0] + nx, a[1] + ny), (b[0] + nx, b[1] + ny), (b[0] - nx, b[1] - ny),
                                   (a[0] - nx, a[1] - ny)]))
        joints = pts if closed else pts[1:-1]
        if cap == "round" and not closed:
            joints = pts
        for p in joints:
            polys.append(oriented(ellipse_points(p[0], p[1], h, h, 24)))
    return polys


# ---------------------------------------------------------------------------------------------
# rasterising


def coverage(polys, size, samples, evenodd=False):
    """Fraction of each pixel inside the polygons (pixel coordinates), sampled on sub-rows and
    exact along x."""
    acc = [0.0] * (size * size)
    edges = []
    for poly in polys:
        for k in range(len(poly)):
            (x0, y0), (x1, y1) = poly[k], poly[(k + 1) % len(poly)]
            if y0 == y1:
                continue
            if y0 < y1:
                edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), 1))
            else:
                edges.append((y1, y0, x1, (x0 - x1) / (y0 - y1), -1))
    if not edges:
        return acc
    ymin = max(0, int(math.floor(min(e[0] for e in edges))))
    ymax = min(size, int(math.ceil(max(e[1] for e in edges))))
    weight = 1.0 / samples
    for py in range(ymin, ymax):
        row = py * size
        for j in range(samples):
            sy = py + (j + 0.5) / samples
            crossings = [(e[2] + (sy - e[0]) * e[3], e[4]) for e in edges if e[0] <= sy < e[1]]
            if not crossings:
                continue
            crossings.sort()
            winding = 0
            for k in range(len(crossings) - 1):
                winding += crossings[k][1]
                inside = (winding % 2 == 1) if evenodd else winding != 0
                if not inside:
                    continue
                xa = max(0.0, crossings[k][0])
                xb = min(float(size), crossings[k + 1][0])
                if xb <= xa:
                    continue
                first, last = int(xa), min(size - 1, int(xb))
                if first == last:
                    acc[row + first] += (xb - xa) * weight
                    continue
                acc[row + first] += (first + 1 - xa) * weight
                for px in range(first + 1, last):
                    acc[row + px] += weight
                if last < size:
                    acc[row + last] += (xb - last) * weight
    return acc


NAMED = {"white": "#ffffff", "black": "#000000", "none": None}


def parse_color(text):
    if text is None:
        return None
    text = NAMED.get(text.strip(), text.strip())
    if text is None:
        return None
    if re.fullmatch(r"#[0-9a-fA-F]{3}", text):
        return tuple(int(c * 2, 16) / 255 for c in text[1:])
    if re.fullmatch(r"#[0-9a-fA-F]{6}", text):
        return tuple(int(text[i:i + 2], 16) / 255 for i in (1, 3, 5))
    raise ValueError("unsupported colour " + text)


def style_of(element, inherited):
    style = dict(inherited)
    for key in ("fill", "stroke", "stroke-width", "stroke-linecap", "fill-rule", "fill-opacity", "stroke-opacity"):
        if key in element.attrib:
            style[key] = element.attrib[key]
    for item in element.attrib.get("style", "").split(";"):
        if ":" in item:
            key, value = item.split(":", 1)
            style[key.strip()] = value.strip()
    style["opacity"] = float(inherited.get("opacity", 1)) * float(element.attrib.get("opacity", 1))
    return style


def geometry(element):
    tag = element.tag.split("}")[-1]
    a = element.attrib
    f = lambda key, default=0.0: float(a.get(key, default))
    if tag == "circle":
        return [(ellipse_points(f("cx"), f("cy"), f("r"), f("r")), True)]
    if tag == "ellipse":
        return [(ellipse_points(f("cx"), f("cy"), f("rx"), f("ry")), True)]
    if tag == "rect":
        rx = f("rx", a.get("ry", 0))
        ry = f("ry", a.get("rx", 0))
        return [(rounded_rect(f("x"), f("y"), f("width"), f("height"), rx, ry), True)]
    if tag == "line":
        return [([(f("x1"), f("y1")), (f("x2"), f("y2"))], False)]
    if tag in ("polyline", "polygon"):
        v = [float(x) for x in re.findall(r"[-+]?(?:\d+\.?\d*|\.\d+)", a["points"])]
        return [(list(zip(v[0::2], v[1::2])), tag == "polygon")]
    if tag == "path":
        return parse_path(a["d"])
    raise ValueError("unsupported element " + tag)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # premultiplied

    def paint(self, cover, color, alpha):
        r, g, b = color
        for i, c in enumerate(cover):
            if c <= 0:
                continue
            a = min(1.0, c) * alpha
            p = self.pixels[i]
            keep = 1 - a
            p[0] = r * a + p[0] * keep
            p[1] = g * a + p[1] * keep
            p[2] = b * a + p[2] * keep
            p[3] = a + p[3] * keep

    def rgba(self):
        out = bytearray()
        for r, g, b, a in self.pixels:
            if a <= 0:
                out += b"\0\0\0\0"
                continue
            out += bytes(min(255, int(round(v / a * 255))) for v in (r, g, b))
            out.append(min(255, int(round(a * 255))))
        return bytes(out)


def render(svg_path, size):
    root = ET.parse(svg_path).getroot()
    vb = [float(v) for v in root.attrib["viewBox"].split()]
    scale = size / vb[2]
    base = (scale, 0, 0, size / vb[3], -vb[0] * scale, -vb[1] * size / vb[3])
    samples = 16 if size <= 64 else 4
    canvas = Canvas(size)

    def walk(element, matrix, inherited):
        matrix = mat_mul(matrix, parse_transform(element.attrib.get("transform")))
        style = style_of(element, inherited)
        tag = element.tag.split("}")[-1]
        if tag in ("svg", "g"):
            for child in element:
                walk(child, matrix, style)
            return
        if tag in ("title", "desc", "defs"):
            return
        subpaths = [([apply(matrix, p) for p in pts], closed) for pts, closed in geometry(element)]
        unit = math.sqrt(abs(matrix[0] * matrix[3] - matrix[1] * matrix[2]))
        fill = parse_color(style.get("fill", "#000000"))
        if fill is not None and tag not in ("line", "polyline"):
            cover = coverage([pts for pts, _ in subpaths], size, samples, style.get("fill-rule") == "evenodd")
            canvas.paint(cover, fill, style["opacity"] * float(style.get("fill-opacity", 1)))
        stroke = parse_color(style.get("stroke"))
        if stroke is not None:
            width = float(style.get("stroke-width", 1)) * unit
            polys = stroke_polygons(subpaths, width, style.get("stroke-linecap", "butt"))
            cover = coverage(polys, size, samples)
            canvas.paint(cover, stroke, style["opacity"] * float(style.get("stroke-opacity", 1)))

    walk(root, base, {"opacity": 1.0})
    return canvas.rgba()


# ---------------------------------------------------------------------------------------------
# files


def png(width, height, rgba):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    stride = width * 4
    raw = b"".join(b"\0" + rgba[y * stride:(y + 1) * stride] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """images: list of (size, png bytes), smallest first."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    data = b""
    for size, blob in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    return header + entries + data


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=os.path.join(HERE, "..", "icons"))
    parser.add_argument("--hicolor", default=os.path.join(HERE, "..", "hicolor"))
    parser.add_argument("--preview", help="also write a PNG sheet of every icon, enlarged and at its own size")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    sheet = []
    for name, sizes in ICONS.items():
        source = os.path.join(HERE, name + ".svg")
        rendered = {size: render(source, size) for size in sizes}
        with open(os.path.join(args.out, name + ".ico"), "wb") as out:
            out.write(ico([(size, png(size, size, rendered[size])) for size in sizes]))
        if name == "Main2":
            for size in THEME_SIZES:
                folder = os.path.join(args.hicolor, f"{size}x{size}")
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, "kavo.png"), "wb") as out:
                    out.write(png(size, size, rendered[size]))
        sheet.append(rendered)
    if args.preview:
        write_preview(args.preview, sheet)


def write_preview(path, sheet):
    """One row per icon: 16 px enlarged 4 times, 32 px twice, then 16, 24 and 32 px as they are."""
    cells = [(16, 4), (32, 2), (16, 1), (24, 1), (32, 1)]
    width = sum(size * zoom + 8 for size, zoom in cells) + 8
    height = len(sheet) * 72 + 8
    pixels = bytearray(b"\xf4\xf4\xf4\xff" * width * height)
    for row, rendered in enumerate(sheet):
        x = 8
        for size, zoom in cells:
            rgba = rendered[size]
            for py in range(size * zoom):
                for px in range(size * zoom):
                    s = ((py // zoom) * size + px // zoom) * 4
                    a = rgba[s + 3] / 255
                    d = ((row * 72 + 8 + py) * width + x + px) * 4
                    for k in range(3):
                        pixels[d + k] = int(round(rgba[s + k] * a + pixels[d + k] * (1 - a)))
            x += size * zoom + 8
    with open(path, "wb") as out:
        out.write(png(width, height, bytes(pixels)))


if __name__ == "__main__":
    main()
