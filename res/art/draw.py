#!/usr/bin/python3
"""Draws every skin image, the program and tray icons and the fetch animation.

Run with Debian's python3-pil (/usr/bin/python3 res/art/draw.py); the outputs are committed so
the build needs no Python. Sizes and cell grids are fixed by the part lists the
program registers: change a picture freely, never its grid. Each picture and the animation
come in three sets, 100 % ("frame.jpg"), 150 % ("frame_150.jpg") and 200 % ("frame_200.jpg"),
the larger ones on the same grid scaled; the icons carry one picture per size.
"""
import math
import os
import struct

from PIL import Image, ImageDraw, ImageFont, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, '..', 'icons')

# One palette for everything.
BG = (239, 243, 244)          # window body, the same as the controls' background brush
WHITE = (255, 255, 255)
NAVY = (6, 56, 157)           # title text
BLUE = (30, 111, 186)
BLUE_LIGHT = (74, 152, 224)
BLUE_DARK = (18, 74, 138)
STEEL = (150, 166, 172)       # panel borders
FRAME = (104, 128, 150)       # window outline
INK = (52, 66, 80)
ACCENT = (234, 83, 4)
GREEN = (46, 168, 82)
RED = (214, 64, 52)
GREY = (150, 158, 166)

BOLD = '/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf'
SS = 8  # supersampling factor for smooth small shapes


# Every picture is drawn at 100 %, 150 % and 200 % (the program picks the set for a window's
# DPI). A set is painted at M times the 100 % pixel grid (M = 1, 3, 2), everything placed as at
# 100 %, and saved at its scale: the 150 % set is the 300 % painting halved, cell by cell.
M = 1
PERCENT = 100


def font(size, path=BOLD, raw=False):
    """A font of `size` 100 % pixels (`raw`: of canvas pixels, for painters given `s`)."""
    return ImageFont.truetype(path, size if raw else size * M)


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def canvas(mode, size, *colour):
    w, h = size
    return Image.new(mode, (w * M, h * M), *colour)


def paste(dst, src, xy, mask=None):
    dst.paste(src, (xy[0] * M, xy[1] * M), mask)


def composite(dst, src, xy):
    dst.alpha_composite(src, (xy[0] * M, xy[1] * M))


def crop(img, box):
    return img.crop(tuple(v * M for v in box))


class Draw:
    """ImageDraw in 100 % pixels on a canvas M times larger: a pixel becomes an M x M block, a
    one-pixel line a band M pixels wide."""

    def __init__(self, img):
        self.d = ImageDraw.Draw(img)

    @staticmethod
    def box(b):
        x0, y0, x1, y1 = (b[0][0], b[0][1], b[1][0], b[1][1]) if len(b) == 2 else b
        return [x0 * M, y0 * M, (x1 + 1) * M - 1, (y1 + 1) * M - 1]

    @staticmethod
    def point_at(p):
        return (p[0] * M + (M - 1) / 2, p[1] * M + (M - 1) / 2)

    def line(self, pts, fill=None, width=1):
        (x0, y0), (x1, y1) = pts[0], pts[-1]
        if len(pts) == 2 and (x0 == x1 or y0 == y1) and width == 1:
            self.d.rectangle(self.box([min(x0, x1), min(y0, y1), max(x0, x1), max(y0, y1)]),
                             fill=fill)
        else:
            self.d.line([self.point_at(p) for p in pts], fill=fill, width=width * M)

    def point(self, pts, fill=None):
        for x, y in (pts if isinstance(pts, list) else [pts]):
            self.d.rectangle(self.box([x, y, x, y]), fill=fill)

    def rectangle(self, b, fill=None, outline=None, width=1):
        self.d.rectangle(self.box(b), fill=fill, outline=outline, width=width * M)

    def rounded_rectangle(self, b, radius=0, fill=None, outline=None, width=1):
        self.d.rounded_rectangle(self.box(b), radius=radius * M, fill=fill, outline=outline,
                                 width=width * M)

    def ellipse(self, b, fill=None, outline=None, width=1):
        self.d.ellipse(self.box(b), fill=fill, outline=outline, width=width * M)

    def polygon(self, pts, fill=None, outline=None):
        self.d.polygon([self.point_at(p) for p in pts], fill=fill, outline=outline)

    def text(self, xy, text, font=None, fill=None, anchor=None):
        self.d.text((xy[0] * M, xy[1] * M), text, font=font, fill=fill, anchor=anchor)


def vgradient(img, box, top, bottom):
    """A vertical gradient over `box` (100 % pixels), smooth in every canvas row."""
    d = ImageDraw.Draw(img)
    x0, y0, x1, y1 = (v * M for v in box)
    h = max(1, y1 - y0 - M)
    for y in range(y0, y1):
        d.line([(x0, y), (x1 - 1, y)], fill=lerp(top, bottom, min(1.0, (y - y0) / h)))


def title_colour(y):
    """The title band's colour at row y, shared by the frame and the system buttons."""
    if y >= 34:
        return BG
    return lerp((200, 221, 244), (234, 242, 251), y / 33)


def smooth(size, painter, scale=SS):
    """Paints on an enlarged transparent canvas and scales down, for anti-aliased shapes; the
    painter's `s` is canvas pixels per 100 % pixel times the supersampling."""
    w, h = size
    big = Image.new('RGBA', (w * M * scale, h * M * scale), (0, 0, 0, 0))
    painter(ImageDraw.Draw(big), scale * M)
    return big.resize((w * M, h * M), Image.LANCZOS)


def rounded(d, box, r, fill=None, outline=None, width=1):
    d.rounded_rectangle(box, radius=r, fill=fill, outline=outline, width=width)


def shield(d, s, cx, cy, w, h, fill, outline=None, ow=0):
    pts = []
    for i in range(0, 181, 10):
        a = math.radians(i)
        pts.append((cx + (w / 2) * math.cos(a + math.pi), cy - h * 0.5 + 0 * a))
    top = cy - h / 2
    poly = [(cx - w / 2, top + h * 0.12), (cx, top), (cx + w / 2, top + h * 0.12),
            (cx + w / 2, top + h * 0.5)]
    for i in range(1, 20):
        t = i / 20
        poly.append((cx + (w / 2) * (1 - t), top + h * 0.5 + (h * 0.5) * math.sin(t * math.pi / 2)))
    poly.append((cx, top + h))
    for i in range(1, 20):
        t = i / 20
        poly.append((cx - (w / 2) * t, top + h * 0.5 + (h * 0.5) * math.cos(t * math.pi / 2)))
    poly.append((cx - w / 2, top + h * 0.5))
    d.polygon(poly, fill=fill, outline=outline, width=ow)


# Cells of each picture's grid (columns, rows), as its part list cuts it: the larger sets keep
# every cell whole, each the 100 % cell scaled (what the program expects of them).
GRIDS = {
    'system_minimize.png': (4, 1), 'system_close.png': (4, 1), 'buttons.bmp': (4, 2),
    'vscroll.png': (4, 5), 'hscroll.png': (4, 5), 'web_buttons.jpg': (3, 5), 'tabs.png': (8, 1),
    'header_columns.png': (3, 1), 'panel_title.png': (3, 1), 'check_boxes.png': (2, 4),
    'radio_boxes.png': (4, 2), 'flags.png': (3, 1), 'connect_icons.png': (2, 2),
    'policy_icons.png': (3, 1), 'speed_icons.png': (5, 1),
}


def scaled(length, percent):
    """length * percent / 100 to the nearest pixel, halves up (as the program scales)."""
    return (length * percent + 50) // 100


def artwork_length(length, cells, percent):
    if cells <= 1 or length % cells:
        return scaled(length, percent)
    return cells * scaled(length // cells, percent)


def scale_file(name, percent):
    stem, ext = os.path.splitext(name)
    return f'{stem}_{percent}{".png" if ext == ".bmp" else ext}'


def save(img, name, **kw):
    """Saves the canvas as the current set: cell by cell at the set's size."""
    if PERCENT == 100:
        img.save(os.path.join(HERE, name), **kw)
        return
    w, h = img.width // M, img.height // M
    cols, rows = GRIDS.get(name, (1, 1))
    tw, th = artwork_length(w, cols, PERCENT), artwork_length(h, rows, PERCENT)
    out = Image.new(img.mode, (tw, th))
    cw, ch = (w // cols, h // rows) if w % cols == 0 and h % rows == 0 else (w, h)
    tcw, tch = (tw // cols, th // rows) if (cw, ch) != (w, h) else (tw, th)
    for r in range(h // ch):
        for c in range(w // cw):
            cell = img.crop((c * cw * M, r * ch * M, (c + 1) * cw * M, (r + 1) * ch * M))
            if cell.size != (tcw, tch):
                cell = cell.resize((tcw, tch), Image.LANCZOS)
            out.paste(cell, (c * tcw, r * tch))
    out.save(os.path.join(HERE, scale_file(name, PERCENT)), **kw)


# --- window frame and system buttons -----------------------------------------------------

def draw_frame():
    w, h = 339, 71
    img = canvas('RGB', (w, h), BG)
    d = Draw(img)
    for y in range(0, 47):
        d.line([(0, y), (w - 1, y)], fill=title_colour(y))
    d.line([(0, 34), (w - 1, 34)], fill=(196, 212, 228))
    d.line([(0, 35), (w - 1, 35)], fill=WHITE)
    # Outline: left column 0 and right column 338 run through every piece; the bottom pieces
    # carry the bottom edge on their last row.
    d.line([(0, 0), (0, h - 1)], fill=FRAME)
    # The window's shape leaves out its last column below the corner, so the right edge is
    # drawn twice to show wherever the frame ends.
    d.line([(w - 1, 0), (w - 1, h - 1)], fill=FRAME)
    d.line([(w - 2, 3), (w - 2, h - 1)], fill=FRAME)
    d.line([(0, 0), (w - 1, 0)], fill=FRAME)
    d.line([(0, h - 1), (w - 1, h - 1)], fill=FRAME)
    # A soft inner highlight under the top edge.
    d.line([(1, 1), (w - 2, 1)], fill=(236, 244, 252))
    # The brand mark where every window starts its title (the title text begins at x 40).
    mark = smooth((22, 22), lambda dd, s: (
        shield(dd, s, 11 * s, 11 * s, 18 * s, 20 * s, BLUE + (255,)),
        dd.ellipse([6.5 * s, 6 * s, 15.5 * s, 15 * s], outline=WHITE + (255,), width=int(1.6 * s)),
        dd.line([(11 * s, 4.5 * s), (11 * s, 16.5 * s)], fill=WHITE + (255,), width=int(1.4 * s))))
    paste(img, mark, (12, 6), mark)
    save(img, 'frame.jpg', quality=95, subsampling=0)
    return img


def system_buttons(cell_w, glyph, name, hover_fill, push_fill, glyph_hover):
    w, h = cell_w * 4, 19
    img = canvas('RGB', (w, h))
    d = Draw(img)
    for y in range(h):
        d.line([(0, y), (w - 1, y)], fill=title_colour(y))
    states = [(None, INK), (hover_fill, glyph_hover), (push_fill, glyph_hover), (None, GREY)]
    for i, (fill, ink) in enumerate(states):
        x = i * cell_w
        cell = smooth((cell_w, h), lambda dd, s, fill=fill, ink=ink: paint_sysbutton(
            dd, s, cell_w, h, fill, ink, glyph))
        paste(img, cell, (x, 0), cell)
    save(img, name)


def paint_sysbutton(d, s, w, h, fill, ink, glyph):
    if fill:
        d.rounded_rectangle([1 * s, -4 * s, (w - 1) * s, (h - 1) * s], radius=4 * s,
                            fill=fill + (255,))
    cx, cy = w * s / 2, (h * s) / 2
    lw = int(1.7 * s)
    if glyph == 'min':
        d.line([(cx - 4.5 * s, cy + 3 * s), (cx + 4.5 * s, cy + 3 * s)], fill=ink + (255,), width=lw)
    else:
        r = 4 * s
        d.line([(cx - r, cy - r), (cx + r, cy + r)], fill=ink + (255,), width=lw)
        d.line([(cx - r, cy + r), (cx + r, cy - r)], fill=ink + (255,), width=lw)


# --- main window picture ---------------------------------------------------------------

def globe(d, s, cx, cy, r, ink, width):
    d.ellipse([cx - r, cy - r, cx + r, cy + r], outline=ink, width=width)
    d.ellipse([cx - r * 0.45, cy - r, cx + r * 0.45, cy + r], outline=ink, width=width)
    d.line([(cx, cy - r), (cx, cy + r)], fill=ink, width=width)
    for f in (-0.5, 0, 0.5):
        y = cy + f * r
        half = math.sqrt(max(0, r * r - (f * r) ** 2))
        d.line([(cx - half, y), (cx + half, y)], fill=ink, width=width)


def draw_main_picture(frame):
    w, h = 326, 464
    img = canvas('RGB', (w, h), BG)
    d = Draw(img)
    # Title band continues the frame's so the system buttons sit on the same colours.
    for y in range(0, 35):
        d.line([(0, y), (w - 1, y)], fill=title_colour(y))
    paste(img, crop(frame, (0, 0, 40, 34)), (0, 0))
    d.text((40, 8), 'OrumaVPN', font=font(13), fill=NAVY)
    # Brand banner.
    vgradient(img, (0, 34, w, 116), (24, 92, 170), (12, 56, 124))
    art = smooth((w, 82), lambda dd, s: paint_banner(dd, s, w))
    paste(img, art, (0, 34), art)
    d.text((92, 52), 'OrumaVPN', font=font(26), fill=WHITE)
    d.text((94, 86), 'Secure  \u00b7  Fast  \u00b7  Worldwide', font=font(11, BOLD.replace('-Bold', '')),
           fill=(196, 222, 246))
    d.line([(0, 116), (w - 1, 116)], fill=(10, 44, 100))
    # News panel: four link lines at x 30, y 124 + 19n.
    rounded(d, [20, 121, 314, 203], 4, fill=WHITE, outline=STEEL)
    for n in range(4):
        y = 133 + 19 * n
        d.ellipse([23, y - 2, 27, y + 2], fill=BLUE_LIGHT)
        if n < 3:
            d.line([(30, 142 + 19 * n), (306, 142 + 19 * n)], fill=(232, 238, 243))
    # Account line (labels at y 210-228).
    rounded(d, [20, 207, 314, 231], 4, fill=(228, 236, 242))
    # Login panel with white fields under the two edit boxes.
    rounded(d, [20, 238, 314, 330], 5, fill=(247, 249, 250), outline=(208, 218, 226))
    for top in (247, 279):
        rounded(d, [110, top, 264, top + 20], 3, fill=WHITE, outline=STEEL)
    # Status line with a small marker.
    d.line([(20, 370), (314, 370)], fill=(214, 224, 232))
    d.ellipse([58, 380, 66, 388], fill=BLUE_LIGHT)
    # Bottom band under the five web-page buttons (y 410-459), matching their own background.
    for y in range(402, h):
        d.line([(0, y), (w - 1, y)], fill=bottom_band(y - 402))
    d.line([(0, 402), (w - 1, 402)], fill=(196, 210, 224))
    d.line([(0, h - 1), (w - 1, h - 1)], fill=FRAME)
    d.line([(0, 0), (0, h - 1)], fill=FRAME)
    d.line([(w - 1, 34), (w - 1, h - 1)], fill=FRAME)
    save(img, 'main_window.jpg', quality=94, subsampling=0)


def bottom_band(y):
    return lerp((246, 249, 252), (218, 230, 241), min(1.0, y / 60))


def paint_banner(d, s, w):
    # A shield with a globe, and a faint network of routes behind the words.
    nodes = [(196, 18), (240, 56), (288, 22), (312, 64), (262, 8), (150, 70), (226, 30)]
    for a, b in [(0, 6), (6, 1), (1, 3), (6, 4), (4, 2), (2, 3), (1, 5), (0, 5)]:
        (x0, y0), (x1, y1) = nodes[a], nodes[b]
        d.line([(x0 * s, y0 * s), (x1 * s, y1 * s)], fill=(120, 176, 236, 90), width=s)
    for x, y in nodes:
        d.ellipse([(x - 2) * s, (y - 2) * s, (x + 2) * s, (y + 2) * s], fill=(170, 210, 250, 170))
    shield(d, s, 50 * s, 41 * s, 52 * s, 60 * s, (255, 255, 255, 255))
    shield(d, s, 50 * s, 41 * s, 44 * s, 52 * s, BLUE + (255,))
    globe(d, s, 50 * s, 39 * s, 15 * s, (255, 255, 255, 255), int(2.2 * s))
    d.polygon([(61 * s, 54 * s), (73 * s, 50 * s), (67 * s, 62 * s)], fill=ACCENT + (255,))


# --- buttons ----------------------------------------------------------------------------

def draw_buttons():
    cw, ch = 88, 28
    img = canvas('RGB', (cw * 4, ch * 2), BG)
    primary = [((64, 146, 226), (26, 98, 178), (20, 78, 146)),
               ((96, 170, 240), (40, 122, 206), (26, 96, 172)),
               ((22, 84, 156), (34, 106, 186), (14, 60, 118)),
               ((200, 207, 214), (176, 186, 196), (156, 166, 176))]
    cancel = [((255, 255, 255), (224, 233, 242), (130, 154, 178)),
              ((255, 255, 255), (234, 243, 252), (60, 132, 204)),
              ((210, 223, 236), (232, 240, 248), (70, 110, 150)),
              ((244, 245, 246), (234, 236, 238), (200, 205, 210))]
    for row, styles in enumerate([primary, cancel]):
        for col, (top, bottom, border) in enumerate(styles):
            cell = smooth((cw, ch), lambda dd, s, t=top, b=bottom, o=border, c=col: paint_button(
                dd, s, cw, ch, t, b, o, c == 2))
            paste(img, cell, (col * cw, row * ch), cell)
    save(img, 'buttons.bmp')


def paint_button(d, s, w, h, top, bottom, border, pushed):
    for y in range(h * s):
        d.line([(0, y), (w * s, y)], fill=lerp(top, bottom, y / (h * s)) + (255,))
    # Rounded corners: clear what lies outside, then the outline.
    mask = Image.new('L', (w * s, h * s), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, w * s - 1, h * s - 1], radius=4 * s, fill=255)
    inside = d._image.copy()
    d._image.paste((0, 0, 0, 0), (0, 0, w * s, h * s))
    d._image.paste(inside, (0, 0), mask)
    d.rounded_rectangle([s // 2, s // 2, w * s - s // 2 - 1, h * s - s // 2 - 1], radius=4 * s,
                        outline=border + (255,), width=s)
    if not pushed:
        d.line([(5 * s, int(1.6 * s)), ((w - 5) * s, int(1.6 * s))], fill=(255, 255, 255, 110),
               width=s)


# --- web-page buttons of the main window ---------------------------------------------

def draw_web_buttons():
    cw, ch = 55, 50
    img = canvas('RGB', (cw * 3, ch * 5))
    d = Draw(img)
    # Their background is the bottom band of the main window at y 410.
    for y in range(ch * 5):
        d.line([(0, y), (cw * 3 - 1, y)], fill=bottom_band(8 + y % ch))
    icons = [paint_register, paint_purchase, paint_gift, paint_help, paint_support]
    for row, icon in enumerate(icons):
        for col in range(3):
            cell = smooth((cw, ch), lambda dd, s, c=col, ic=icon: paint_web_button(dd, s, cw, ch, c, ic))
            paste(img, cell, (col * cw, row * ch), cell)
    save(img, 'web_buttons.jpg', quality=95, subsampling=0)


def paint_web_button(d, s, w, h, state, icon):
    if state == 1:
        d.rounded_rectangle([1 * s, 1 * s, (w - 2) * s, (h - 2) * s], radius=5 * s,
                            fill=(255, 255, 255, 200), outline=(150, 190, 226, 255), width=s)
    elif state == 2:
        d.rounded_rectangle([1 * s, 1 * s, (w - 2) * s, (h - 2) * s], radius=5 * s,
                            fill=(200, 220, 240, 255), outline=(110, 150, 196, 255), width=s)
    shift = s if state == 2 else 0
    icon(d, s, (w / 2) * s + shift, 16 * s + shift)


def paint_register(d, s, cx, cy):
    d.ellipse([cx - 5 * s, cy - 10 * s, cx + 5 * s, cy], fill=BLUE + (255,))
    d.pieslice([cx - 10 * s, cy + 1 * s, cx + 10 * s, cy + 20 * s], 180, 360, fill=BLUE + (255,))
    d.ellipse([cx + 4 * s, cy - 1 * s, cx + 14 * s, cy + 9 * s], fill=ACCENT + (255,))
    d.line([(cx + 9 * s, cy + 1 * s), (cx + 9 * s, cy + 7 * s)], fill=WHITE + (255,), width=int(1.6 * s))
    d.line([(cx + 6 * s, cy + 4 * s), (cx + 12 * s, cy + 4 * s)], fill=WHITE + (255,), width=int(1.6 * s))


def paint_purchase(d, s, cx, cy):
    d.rounded_rectangle([cx - 12 * s, cy - 8 * s, cx + 12 * s, cy + 8 * s], radius=2.5 * s,
                        fill=BLUE + (255,))
    d.rectangle([cx - 12 * s, cy - 4 * s, cx + 12 * s, cy - 1 * s], fill=BLUE_DARK + (255,))
    d.rounded_rectangle([cx + 2 * s, cy + 2 * s, cx + 9 * s, cy + 5 * s], radius=s,
                        fill=ACCENT + (255,))


def paint_gift(d, s, cx, cy):
    d.rectangle([cx - 10 * s, cy - 3 * s, cx + 10 * s, cy + 10 * s], fill=ACCENT + (255,))
    d.rectangle([cx - 12 * s, cy - 7 * s, cx + 12 * s, cy - 2 * s], fill=(246, 120, 50, 255))
    d.rectangle([cx - 2 * s, cy - 7 * s, cx + 2 * s, cy + 10 * s], fill=BLUE + (255,))
    d.ellipse([cx - 9 * s, cy - 13 * s, cx - 1 * s, cy - 6 * s], outline=BLUE + (255,), width=2 * s)
    d.ellipse([cx + 1 * s, cy - 13 * s, cx + 9 * s, cy - 6 * s], outline=BLUE + (255,), width=2 * s)


def paint_help(d, s, cx, cy):
    d.ellipse([cx - 11 * s, cy - 11 * s, cx + 11 * s, cy + 11 * s], fill=BLUE + (255,))
    f = font(17 * s, raw=True)
    d.text((cx, cy + s), '?', font=f, fill=WHITE + (255,), anchor='mm')


def paint_support(d, s, cx, cy):
    d.arc([cx - 10 * s, cy - 11 * s, cx + 10 * s, cy + 9 * s], 180, 360, fill=BLUE + (255,), width=3 * s)
    d.rounded_rectangle([cx - 12 * s, cy - 2 * s, cx - 6 * s, cy + 8 * s], radius=2 * s, fill=BLUE + (255,))
    d.rounded_rectangle([cx + 6 * s, cy - 2 * s, cx + 12 * s, cy + 8 * s], radius=2 * s, fill=BLUE + (255,))
    d.line([(cx + 9 * s, cy + 8 * s), (cx + 3 * s, cy + 12 * s)], fill=BLUE + (255,), width=2 * s)
    d.ellipse([cx - 1 * s, cy + 10 * s, cx + 5 * s, cy + 14 * s], fill=ACCENT + (255,))


# --- scroll bars --------------------------------------------------------------------------

def scroll_cell(kind, state):
    c = 16
    fills = [(232, 238, 244), (206, 226, 246), (160, 196, 232)]
    inks = [(96, 110, 124), BLUE, BLUE_DARK]
    img = canvas('RGB', (c, c), WHITE)
    d = Draw(img)
    if kind == 'track':
        d.rectangle([0, 0, c - 1, c - 1], fill=(244, 246, 248))
        d.line([(0, 0), (0, c - 1)], fill=(226, 231, 236))
        d.line([(c - 1, 0), (c - 1, c - 1)], fill=(226, 231, 236))
        return img
    fill = fills[state]
    if kind == 'thumb':
        d.rectangle([0, 0, c - 1, c - 1], fill=fill)
        return img
    # Arrows and the grip are drawn at their own size over a framed box the same size, so they
    # carry the frame themselves.
    d.rectangle([0, 0, c - 1, c - 1], fill=fill, outline=(149, 149, 149))
    d.rectangle([1, 1, c - 2, c - 2], outline=(238, 238, 238))
    d.rectangle([2, 2, c - 3, c - 3], fill=fill)
    ink = inks[state]
    if kind == 'up':
        d.polygon([(4, 10), (11, 10), (7.5, 5.5)], fill=ink)
    elif kind == 'down':
        d.polygon([(4, 6), (11, 6), (7.5, 10.5)], fill=ink)
    elif kind == 'grip':
        for y in (5, 7, 9):
            d.line([(5, y), (10, y)], fill=ink)
            d.line([(5, y + 1), (10, y + 1)], fill=WHITE)
    return img


def draw_scrollbars():
    v = canvas('RGB', (64, 80), WHITE)
    rows = ['up', 'down', 'thumb', 'grip']
    for r, kind in enumerate(rows):
        for state in range(3):
            paste(v, scroll_cell(kind, state), (state * 16, r * 16))
    paste(v, scroll_cell('track', 0), (0, 64))
    save(v, 'vscroll.png')
    h = canvas('RGB', (64, 80), WHITE)
    for r in range(5):
        for col in range(4):
            cell = crop(v, (col * 16, r * 16, col * 16 + 16, r * 16 + 16))
            paste(h, cell.transpose(Image.TRANSPOSE), (col * 16, r * 16))
    save(h, 'hscroll.png')


# --- tabs, headers, check and radio boxes --------------------------------------------

def draw_tabs():
    img = canvas('RGB', (24, 24), BG)
    d = Draw(img)
    # Inactive: columns 0-5 left edge (its right half is the stretched middle), 6-11 right edge.
    vgradient(img, (0, 0, 12, 24), (236, 242, 248), (214, 225, 236))
    vgradient(img, (12, 0, 24, 24), (255, 255, 255), (255, 255, 255))
    for x0, outline in ((0, (160, 176, 190)), (12, STEEL)):
        d.line([(x0, 3), (x0, 23)], fill=outline)
        d.line([(x0 + 3, 0), (x0 + 5, 0)], fill=outline)
        d.line([(x0 + 6, 0), (x0 + 8, 0)], fill=outline)
        d.line([(x0 + 11, 3), (x0 + 11, 23)], fill=outline)
        d.point([(x0 + 1, 1), (x0 + 2, 1), (x0 + 1, 2), (x0 + 10, 1), (x0 + 9, 1), (x0 + 10, 2)],
                fill=outline)
        for pt in ((x0, 0), (x0 + 1, 0), (x0 + 2, 0), (x0, 1), (x0, 2),
                   (x0 + 9, 0), (x0 + 10, 0), (x0 + 11, 0), (x0 + 11, 1), (x0 + 11, 2)):
            d.point(pt, fill=BG)
    # The selected tab wears an accent along its top.
    d.line([(15, 1), (17, 1)], fill=BLUE)
    d.line([(14, 1), (14, 1)], fill=BLUE_LIGHT)
    d.line([(18, 1), (20, 1)], fill=BLUE)
    d.line([(21, 1), (21, 1)], fill=BLUE_LIGHT)
    d.line([(13, 2), (22, 2)], fill=(120, 176, 230))
    d.line([(0, 23), (11, 23)], fill=(192, 192, 192))
    save(img, 'tabs.png')


def draw_header_columns():
    img = canvas('RGB', (12, 20))
    vgradient(img, (0, 0, 12, 20), (252, 253, 254), (224, 232, 240))
    d = Draw(img)
    d.line([(0, 19), (11, 19)], fill=(170, 185, 198))
    d.line([(0, 0), (0, 18)], fill=WHITE)
    d.line([(11, 3), (11, 16)], fill=(184, 198, 210))
    save(img, 'header_columns.png')


def draw_panel_title():
    img = canvas('RGB', (9, 27))
    vgradient(img, (0, 0, 9, 27), (236, 243, 250), (206, 222, 238))
    d = Draw(img)
    d.line([(0, 0), (8, 0)], fill=STEEL)
    d.line([(0, 26), (8, 26)], fill=STEEL)
    d.line([(0, 0), (0, 26)], fill=STEEL)
    d.line([(8, 0), (8, 26)], fill=STEEL)
    d.line([(1, 1), (7, 1)], fill=WHITE)
    save(img, 'panel_title.png')


def draw_check_boxes():
    c = 13
    img = canvas('RGB', (c * 2, c * 4), BG)
    checked = [(BLUE, BLUE_DARK), (BLUE_LIGHT, BLUE), (BLUE_DARK, (10, 50, 100)), (GREY, GREY)]
    unchecked = [((255, 255, 255), (122, 140, 158)), ((232, 242, 252), BLUE),
                 ((255, 255, 255), (122, 140, 158)), ((240, 242, 244), (190, 196, 202))]
    for row in range(4):
        fill, border = checked[row]
        paste(img, smooth((c, c), lambda d, s, f=fill, b=border: paint_check(d, s, c, f, b, 'check')),
                  (0, row * c), smooth((c, c), lambda d, s, f=fill, b=border: paint_check(
                      d, s, c, f, b, 'check')))
        fill, border = unchecked[row]
        mark = 'square' if row == 2 else None
        cell = smooth((c, c), lambda d, s, f=fill, b=border, m=mark: paint_check(d, s, c, f, b, m))
        paste(img, cell, (c, row * c), cell)
    save(img, 'check_boxes.png')


def paint_check(d, s, c, fill, border, mark):
    d.rounded_rectangle([0.5 * s, 0.5 * s, (c - 0.5) * s, (c - 0.5) * s], radius=2.5 * s,
                        fill=fill + (255,), outline=border + (255,), width=s)
    if mark == 'check':
        d.line([(3 * s, 6.5 * s), (5.5 * s, 9 * s), (10 * s, 3.8 * s)], fill=WHITE + (255,),
               width=int(1.8 * s), joint='curve')
    elif mark == 'square':
        d.rectangle([4 * s, 4 * s, 9 * s, 9 * s], fill=BLUE + (255,))


def draw_radio_boxes():
    c = 12
    img = canvas('RGB', (c * 4, c * 2), WHITE)
    rings = [(122, 140, 158), BLUE, BLUE_DARK, (190, 196, 202)]
    fills = [WHITE, (232, 242, 252), (206, 224, 242), (240, 242, 244)]
    dots = [BLUE, BLUE_LIGHT, BLUE_DARK, GREY]
    for row in range(2):
        for col in range(4):
            cell = smooth((c, c), lambda d, s, r=rings[col], f=fills[col], dot=dots[col], on=row == 1: (
                d.ellipse([0.5 * s, 0.5 * s, (c - 0.5) * s, (c - 0.5) * s], fill=f + (255,),
                          outline=r + (255,), width=s),
                on and d.ellipse([3.3 * s, 3.3 * s, (c - 3.3) * s, (c - 3.3) * s], fill=dot + (255,))))
            paste(img, cell, (col * c, row * c), cell)
    save(img, 'radio_boxes.png')


# --- small icons with alpha ------------------------------------------------------------

def draw_flags():
    img = canvas('RGBA', (48, 16), (0, 0, 0, 0))
    composite(img, smooth((16, 16), paint_china), (0, 0))
    composite(img, smooth((16, 16), paint_asia), (16, 0))
    composite(img, smooth((16, 16), paint_usa), (32, 0))
    save(img, 'flags.png')


def star(d, cx, cy, r, fill):
    pts = []
    for i in range(10):
        a = -math.pi / 2 + i * math.pi / 5
        rr = r if i % 2 == 0 else r * 0.42
        pts.append((cx + rr * math.cos(a), cy + rr * math.sin(a)))
    d.polygon(pts, fill=fill)


def paint_china(d, s):
    d.rectangle([0, 2.5 * s, 16 * s, 13.5 * s], fill=(222, 41, 16, 255))
    star(d, 4 * s, 6 * s, 2.6 * s, (255, 222, 0, 255))
    for x, y in ((7.6, 4), (8.6, 5.6), (8.6, 7.6), (7.6, 9)):
        star(d, x * s, y * s, 0.9 * s, (255, 222, 0, 255))
    d.rectangle([0, 2.5 * s, 16 * s - 1, 13.5 * s], outline=(120, 20, 10, 160), width=s // 2)


def paint_usa(d, s):
    for i in range(7):
        y0 = 2.5 + i * 11 / 7
        d.rectangle([0, y0 * s, 16 * s, (y0 + 11 / 7) * s], fill=((200, 30, 45, 255) if i % 2 == 0
                                                                   else (255, 255, 255, 255)))
    d.rectangle([0, 2.5 * s, 7.5 * s, 8.4 * s], fill=(40, 50, 120, 255))
    for x in (1.8, 4, 6.2):
        for y in (4, 6.6):
            d.ellipse([(x - 0.5) * s, (y - 0.5) * s, (x + 0.5) * s, (y + 0.5) * s], fill=WHITE + (255,))
    d.rectangle([0, 2.5 * s, 16 * s - 1, 13.5 * s], outline=(60, 60, 90, 160), width=s // 2)


def paint_asia(d, s):
    d.ellipse([1 * s, 1 * s, 15 * s, 15 * s], fill=(40, 140, 210, 255))
    d.polygon([(5 * s, 3.5 * s), (11 * s, 3 * s), (13.5 * s, 6 * s), (12 * s, 8 * s),
               (9.5 * s, 7.5 * s), (10.5 * s, 11 * s), (8 * s, 12 * s), (6.5 * s, 8.5 * s),
               (3.5 * s, 7 * s)], fill=(96, 186, 90, 255))
    d.ellipse([11.5 * s, 10 * s, 13.5 * s, 12 * s], fill=(96, 186, 90, 255))
    d.ellipse([1 * s, 1 * s, 15 * s, 15 * s], outline=(20, 80, 140, 200), width=s // 2 + 1)


def power_icon(d, s, c, fill, ring):
    d.ellipse([0.5 * s, 0.5 * s, (c - 0.5) * s, (c - 0.5) * s], fill=fill + (255,),
              outline=ring + (255,), width=s)
    cx = cy = c * s / 2
    r = c * s * 0.26
    d.arc([cx - r, cy - r, cx + r, cy + r], 300, 240, fill=WHITE + (255,), width=int(1.8 * s))
    d.line([(cx, cy - r * 1.25), (cx, cy + 0.1 * s)], fill=WHITE + (255,), width=int(1.8 * s))


def cross_icon(d, s, c, fill, ring):
    d.ellipse([0.5 * s, 0.5 * s, (c - 0.5) * s, (c - 0.5) * s], fill=fill + (255,),
              outline=ring + (255,), width=s)
    a, b = c * s * 0.32, c * s * 0.68
    d.line([(a, a), (b, b)], fill=WHITE + (255,), width=int(2 * s))
    d.line([(a, b), (b, a)], fill=WHITE + (255,), width=int(2 * s))


def draw_connect_icons():
    img = canvas('RGBA', (36, 36), (0, 0, 0, 0))
    composite(img, smooth((18, 18), lambda d, s: power_icon(d, s, 18, GREEN, WHITE)), (0, 0))
    composite(img, smooth((18, 18), lambda d, s: cross_icon(d, s, 18, RED, WHITE)), (18, 0))
    composite(img, smooth((18, 18), lambda d, s: power_icon(d, s, 18, (170, 176, 182), (226, 230, 234))), (0, 18))
    composite(img, smooth((18, 18), lambda d, s: cross_icon(d, s, 18, (170, 176, 182), (226, 230, 234))), (18, 18))
    save(img, 'connect_icons.png')


def draw_policy_icons():
    img = canvas('RGBA', (60, 16), (0, 0, 0, 0))

    def route(d, s):
        w = int(1.8 * s)
        d.line([(4 * s, 14 * s), (4 * s, 8 * s), (10 * s, 4 * s), (16 * s, 4 * s)], fill=BLUE + (255,), width=w)
        d.line([(4 * s, 8 * s), (10 * s, 11 * s), (16 * s, 11 * s)], fill=ACCENT + (255,), width=w)
        d.polygon([(15 * s, 1.5 * s), (19 * s, 4 * s), (15 * s, 6.5 * s)], fill=BLUE + (255,))
        d.polygon([(15 * s, 8.5 * s), (19 * s, 11 * s), (15 * s, 13.5 * s)], fill=ACCENT + (255,))

    def lock(d, s):
        d.arc([6 * s, 1.5 * s, 14 * s, 10 * s], 180, 360, fill=BLUE_DARK + (255,), width=int(1.8 * s))
        d.line([(6.9 * s, 5.5 * s), (6.9 * s, 7.5 * s)], fill=BLUE_DARK + (255,), width=int(1.8 * s))
        d.line([(13.1 * s, 5.5 * s), (13.1 * s, 7.5 * s)], fill=BLUE_DARK + (255,), width=int(1.8 * s))
        d.rounded_rectangle([4 * s, 7 * s, 16 * s, 15 * s], radius=2 * s, fill=BLUE + (255,))
        d.ellipse([9 * s, 9.5 * s, 11 * s, 11.5 * s], fill=WHITE + (255,))

    def refresh(d, s):
        d.arc([4 * s, 2.5 * s, 16 * s, 14.5 * s], 20, 300, fill=BLUE + (255,), width=int(2 * s))
        d.polygon([(12 * s, 0.8 * s), (17.5 * s, 3.8 * s), (12.5 * s, 7.5 * s)], fill=BLUE + (255,))

    for i, painter in enumerate((route, lock, refresh)):
        composite(img, smooth((20, 16), painter), (i * 20, 0))
    save(img, 'policy_icons.png')


def draw_tip_info():
    img = canvas('RGB', (14, 14), BG)
    cell = smooth((14, 14), lambda d, s: (
        d.ellipse([0.5 * s, 0.5 * s, 13.5 * s, 13.5 * s], fill=(0, 106, 146, 255)),
        d.ellipse([6 * s, 2.6 * s, 8 * s, 4.6 * s], fill=WHITE + (255,)),
        d.rounded_rectangle([6.1 * s, 5.8 * s, 7.9 * s, 11.2 * s], radius=0.6 * s, fill=WHITE + (255,))))
    paste(img, cell, (0, 0), cell)
    save(img, 'tip_info.png')


def draw_update_icon():
    def paint(d, s):
        d.ellipse([1 * s, 1 * s, 35 * s, 35 * s], fill=BLUE + (255,), outline=WHITE + (255,), width=2 * s)
        d.rectangle([15 * s, 8 * s, 21 * s, 19 * s], fill=WHITE + (255,))
        d.polygon([(9 * s, 18 * s), (27 * s, 18 * s), (18 * s, 27 * s)], fill=WHITE + (255,))
        d.line([(10 * s, 29 * s), (26 * s, 29 * s)], fill=(255, 200, 120, 255), width=2 * s)
    save(smooth((36, 36), paint), 'online_update.png')


def draw_speed_icons():
    img = canvas('RGBA', (60, 12), (0, 0, 0, 0))
    off = (200, 206, 212, 255)

    def bars(lit, colour):
        def paint(d, s):
            for i in range(3):
                x0 = (1.5 + i * 3.5) * s
                top = (8 - i * 3) * s
                d.rectangle([x0, top, x0 + 2.5 * s, 11 * s], fill=colour + (255,) if i < lit else off)
        return paint

    def timeout(d, s):
        d.ellipse([1 * s, 1 * s, 11 * s, 11 * s], fill=(150, 158, 166, 255))
        d.line([(3.8 * s, 3.8 * s), (8.2 * s, 8.2 * s)], fill=WHITE + (255,), width=int(1.5 * s))
        d.line([(3.8 * s, 8.2 * s), (8.2 * s, 3.8 * s)], fill=WHITE + (255,), width=int(1.5 * s))

    def testing(d, s):
        for i, x in enumerate((2.5, 6, 9.5)):
            a = 120 + 60 * i
            d.ellipse([(x - 1.4) * s, 4.6 * s, (x + 1.4) * s, 7.4 * s], fill=BLUE + (a,))

    for i, painter in enumerate((bars(3, GREEN), bars(2, (236, 160, 20)), bars(1, RED), timeout, testing)):
        composite(img, smooth((12, 12), painter), (i * 12, 0))
    save(img, 'speed_icons.png')


# --- program and tray icons ----------------------------------------------------------

def write_ico(path, images):
    """An .ico of classic 32-bit DIB entries (with AND masks), readable by every Windows."""
    entries, blobs = [], []
    for img in images:
        w, h = img.size
        px = img.convert('RGBA').load()
        xor = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b, a = px[x, y]
                xor += bytes((b, g, r, a))
        row = ((w + 31) // 32) * 4
        andmask = bytearray()
        for y in range(h - 1, -1, -1):
            bits = bytearray(row)
            for x in range(w):
                if px[x, y][3] < 128:
                    bits[x // 8] |= 0x80 >> (x % 8)
            andmask += bits
        header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
        blobs.append(header + xor + andmask)
        entries.append((w, h))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (w, h), blob in zip(entries, blobs):
        out += struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, 'wb') as f:
        f.write(out + b''.join(blobs))


def program_icon(size):
    def paint(d, s):
        c = size * s / 2
        shield(d, s, c, c, size * s * 0.86, size * s * 0.94, (255, 255, 255, 255))
        shield(d, s, c, c, size * s * 0.72, size * s * 0.80, BLUE + (255,))
        globe(d, s, c, c * 0.94, size * s * 0.21, (255, 255, 255, 255), max(s, int(size * s / 16)))
    return smooth((size, size), paint)


def tray_icon(size, body, ring, up, down):
    def paint(d, s):
        u = size * s / 16.0
        d.ellipse([0.5 * u, 0.5 * u, 15.5 * u, 15.5 * u], fill=ring + (255,))
        d.ellipse([1.7 * u, 1.7 * u, 14.3 * u, 14.3 * u], fill=body + (255,))
        d.polygon([(2.8 * u, 8.6 * u), (7.2 * u, 8.6 * u), (5 * u, 3.6 * u)], fill=up + (255,))
        d.rectangle([4.1 * u, 8.4 * u, 5.9 * u, 12.2 * u], fill=up + (255,))
        d.polygon([(8.8 * u, 7.4 * u), (13.2 * u, 7.4 * u), (11 * u, 12.4 * u)], fill=down + (255,))
        d.rectangle([10.1 * u, 3.8 * u, 11.9 * u, 7.6 * u], fill=down + (255,))
    return smooth((size, size), paint)


# The sizes the system asks for at 100, 125, 150 and 200 %: small icons (title bar, tray) and,
# for the program, large ones (task switcher, shortcuts).
SMALL_ICONS = (16, 20, 24, 32)
LARGE_ICONS = (40, 48, 64)


def draw_icons():
    write_ico(os.path.join(ICONS, 'kavrin.ico'),
              [program_icon(n) for n in SMALL_ICONS + LARGE_ICONS])
    lit, dim = (255, 226, 70), (28, 110, 52)
    green, ring = (46, 168, 82), (18, 92, 44)
    tray = {
        'tray_idle': ((158, 166, 174), (96, 104, 112), (226, 230, 234), (226, 230, 234)),
        'tray_connected': (green, ring, dim, dim),
        'tray_both': (green, ring, lit, lit),
        'tray_sent': (green, ring, lit, dim),
        'tray_received': (green, ring, dim, lit),
    }
    for name, (body, r, up, down) in tray.items():
        write_ico(os.path.join(ICONS, name + '.ico'),
                  [tray_icon(n, body, r, up, down) for n in SMALL_ICONS])


# --- fetch animation -------------------------------------------------------------------

def draw_animation():
    """An uncompressed 8-bit AVI for the fetch dialog's 20 x 20 animation control: packets
    circle the service's globe. Drawn for the current set (20, 30 or 40 pixels square)."""
    size, frames = scaled(20, PERCENT), 16
    pics = []
    for f in range(frames):
        def paint(d, s, f=f):
            c = 10 * s
            d.ellipse([3.5 * s, 3.5 * s, 16.5 * s, 16.5 * s], fill=BLUE + (255,))
            globe(d, s, c, c, 5.4 * s, (255, 255, 255, 255), max(1, int(0.9 * s)))
            for k in range(3):
                a = 2 * math.pi * (f / frames + k / 3) - math.pi / 2
                x, y = c + 8.2 * s * math.cos(a), c + 8.2 * s * math.sin(a)
                r = (1.6 if k == 0 else 1.2) * s
                d.ellipse([x - r, y - r, x + r, y + r],
                          fill=(ACCENT if k == 0 else BLUE_LIGHT) + (255,))
        art = smooth((20, 20), paint).resize((size, size), Image.LANCZOS)
        img = Image.new('RGB', (size, size), BG)
        img.paste(art, (0, 0), art)
        pics.append(img)
    # One palette for every frame, so the control can play them without remapping.
    strip = Image.new('RGB', (size, size * frames))
    for i, p in enumerate(pics):
        strip.paste(p, (0, i * size))
    strip = strip.quantize(colors=256, method=Image.MEDIANCUT, dither=Image.NONE)
    frames_p = [strip.crop((0, i * size, size, (i + 1) * size)) for i in range(frames)]
    w = h = size
    pal = strip.getpalette()[:768]
    pal += [0] * (768 - len(pal))
    stride = (w + 3) & ~3
    frame_size = stride * h
    rgbquad = b''.join(bytes((pal[i * 3 + 2], pal[i * 3 + 1], pal[i * 3], 0)) for i in range(256))
    bih = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 0, frame_size, 0, 0, 256, 0)

    def chunk(tag, data):
        pad = b'\0' if len(data) % 2 else b''
        return tag + struct.pack('<I', len(data)) + data + pad

    def lst(kind, data):
        return b'LIST' + struct.pack('<I', len(data) + 4) + kind + data

    usec = 80000
    avih = struct.pack('<IIIIIIIIII4I', usec, frame_size * 13, 0, 0x10, frames, 0, 1, frame_size,
                       w, h, 0, 0, 0, 0)
    strh = struct.pack('<4s4sIHHIIIIIIIIhhhh', b'vids', b'DIB ', 0, 0, 0, 0, 2, 25, 0, frames,
                       frame_size, 0xFFFFFFFF, 0, 0, 0, w, h)
    hdrl = lst(b'hdrl', chunk(b'avih', avih) + lst(b'strl', chunk(b'strh', strh) +
                                                   chunk(b'strf', bih + rgbquad)))
    movi_data, index, offset = b'', b'', 4
    for p in frames_p:
        rows = p.tobytes()
        data = b''.join(rows[y * w:(y + 1) * w] + b'\0' * (stride - w) for y in range(h - 1, -1, -1))
        index += struct.pack('<4sIII', b'00db', 0x10, offset, len(data))
        c = chunk(b'00db', data)
        movi_data += c
        offset += len(c)
    body = b'AVI ' + hdrl + lst(b'movi', movi_data) + chunk(b'idx1', index)
    name = 'fetch.avi' if PERCENT == 100 else scale_file('fetch.avi', PERCENT)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', len(body)) + body)


def draw_set():
    frame = draw_frame()
    system_buttons(27, 'min', 'system_minimize.png', (206, 226, 246), (168, 202, 236), NAVY)
    system_buttons(29, 'close', 'system_close.png', (224, 72, 58), (176, 42, 32), WHITE)
    draw_main_picture(frame)
    draw_buttons()
    draw_web_buttons()
    draw_scrollbars()
    draw_tabs()
    draw_header_columns()
    draw_panel_title()
    draw_check_boxes()
    draw_radio_boxes()
    draw_flags()
    draw_connect_icons()
    draw_policy_icons()
    draw_tip_info()
    draw_update_icon()
    draw_speed_icons()
    draw_animation()


def main():
    global M, PERCENT
    for M, PERCENT in ((1, 100), (3, 150), (2, 200)):
        draw_set()
    M, PERCENT = 1, 100
    draw_icons()


if __name__ == '__main__':
    main()
