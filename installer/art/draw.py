#!/usr/bin/python3
"""Draws the picture on the installer's first and last pages (and the uninstaller's last).

Run with Debian's python3-pil (/usr/bin/python3 installer/art/draw.py); the output is committed,
so packaging needs no Python imaging. Same palette and shield as the program's own banner
(res/art/draw.py); the wizard wants 164 x 314 pixels, 24-bit BMP.
"""
import importlib.util
import os

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
_skin_art = importlib.util.spec_from_file_location(
    "skin_art", os.path.join(HERE, "..", "..", "res", "art", "draw.py"))
art = importlib.util.module_from_spec(_skin_art)
_skin_art.loader.exec_module(art)

W, H = 164, 314


def paint_network(d, s):
    # The banner's faint map of routes, spread down the lower half.
    nodes = [(22, 214), (70, 246), (128, 206), (150, 262), (96, 290), (40, 282), (112, 236)]
    for a, b in [(0, 1), (1, 6), (6, 2), (2, 3), (3, 4), (4, 5), (5, 0), (1, 4), (6, 3)]:
        (x0, y0), (x1, y1) = nodes[a], nodes[b]
        d.line([(x0 * s, y0 * s), (x1 * s, y1 * s)], fill=(120, 176, 236, 90), width=s)
    for x, y in nodes:
        d.ellipse([(x - 2) * s, (y - 2) * s, (x + 2) * s, (y + 2) * s], fill=(170, 210, 250, 170))


def paint_logo(d, s):
    cx, cy = 82, 82
    art.shield(d, s, cx * s, cy * s, 74 * s, 86 * s, (255, 255, 255, 255))
    art.shield(d, s, cx * s, cy * s, 63 * s, 74 * s, art.BLUE + (255,))
    art.globe(d, s, cx * s, (cy - 3) * s, 21 * s, (255, 255, 255, 255), int(3 * s))
    d.polygon([((cx + 16) * s, (cy + 18) * s), ((cx + 33) * s, (cy + 12) * s),
               ((cx + 25) * s, (cy + 29) * s)], fill=art.ACCENT + (255,))


def draw_wizard():
    img = Image.new("RGB", (W, H))
    art.vgradient(img, (0, 0, W, H), (24, 92, 170), (12, 56, 124))
    for painter in (paint_network, paint_logo):
        layer = art.smooth((W, H), painter)
        img.paste(layer, (0, 0), layer)
    d = ImageDraw.Draw(img)
    title = art.font(22)
    width = d.textlength("OrumaVPN", font=title)
    d.text(((W - width) / 2, 140), "OrumaVPN", font=title, fill=art.WHITE)
    tagline = art.font(10, art.BOLD.replace("-Bold", ""))
    for i, word in enumerate(("Secure", "Fast", "Worldwide")):
        width = d.textlength(word, font=tagline)
        d.text(((W - width) / 2, 174 + 14 * i), word, font=tagline, fill=(196, 222, 246))
    d.line([(W - 1, 0), (W - 1, H - 1)], fill=(10, 44, 100))
    img.save(os.path.join(HERE, "wizard.bmp"))


if __name__ == "__main__":
    draw_wizard()
