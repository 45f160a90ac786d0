#!/usr/bin/python3
"""Draws data/icons/org.rastova.Rastova-256.png from the shapes of the SVG icon beside it.

ImageMagick on Debian renders SVG only with a delegate that is not installed by default,
so the raster icon is drawn with Pillow at 4x and reduced; rerun after changing the SVG:
    /usr/bin/python3 tools/render-icon.py data/icons/org.rastova.Rastova-256.png
"""
import math
import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

from PIL import Image, ImageDraw

SCALE = 4
NS = "{http://www.w3.org/2000/svg}"


def scaled(values):
    return [float(v) * SCALE for v in values]


def draw_element(draw, element, inherited):
    style = dict(inherited)
    for key in ("fill", "stroke", "stroke-width"):
        if key in element.attrib:
            style[key] = element.attrib[key]
    fill = None if style.get("fill", "none") == "none" else style["fill"]
    stroke = None if style.get("stroke", "none") == "none" else style["stroke"]
    width = int(float(style.get("stroke-width", "0")) * SCALE)
    tag = element.tag.replace(NS, "")
    if tag == "rect":
        x, y, w, h = scaled(element.get(k) for k in ("x", "y", "width", "height"))
        radius = float(element.get("rx", "0")) * SCALE
        draw.rounded_rectangle([x, y, x + w, y + h], radius, fill=fill, outline=stroke, width=width)
    elif tag == "circle":
        cx, cy, r = scaled(element.get(k) for k in ("cx", "cy", "r"))
        draw.ellipse([cx - r, cy - r, cx + r, cy + r], fill=fill, outline=stroke, width=width)
    elif tag == "path":
        draw_path(draw, element.get("d").split(), fill, stroke, width)
    for child in element:
        draw_element(draw, child, style)


def draw_path(draw, words, fill, stroke, width):
    """Straight-line paths (M, L, Z) and one circular arc (M x y A r r 0 0 1 x y)."""
    words = re.findall(r"[MLAZ]|-?[0-9.]+", " ".join(words))
    if "A" in words:
        x0, y0 = scaled(words[1:3])
        r = float(words[4]) * SCALE
        x1, y1 = scaled(words[9:11])
        # The icon's arc turns clockwise about the point below its start.
        cx, cy = x0, y0 + r
        start = math.degrees(math.atan2(y0 - cy, x0 - cx))
        end = math.degrees(math.atan2(y1 - cy, x1 - cx))
        draw.arc([cx - r, cy - r, cx + r, cy + r], start, end, fill=stroke, width=width)
        return
    points = []
    for word in words:
        if word not in "MLZ":
            points.append(float(word) * SCALE)
    draw.polygon(list(zip(points[0::2], points[1::2])), fill=fill, outline=stroke)


def main():
    svg = Path(__file__).resolve().parent.parent / "data" / "icons" / "org.rastova.Rastova.svg"
    root = ET.parse(svg).getroot()
    size = int(root.get("width"))
    image = Image.new("RGBA", (size * SCALE, size * SCALE), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    for element in root:
        draw_element(draw, element, {})
    image.resize((size, size), Image.LANCZOS).save(sys.argv[1], optimize=True)


if __name__ == "__main__":
    main()
