#!/usr/bin/python3
"""Draws the setup program's pictures into this folder: the banner, the two side pictures, the
separator line and the program icon.

Run with the system Python (it needs PIL and the URW base-35 fonts):

    /usr/bin/python3 resources/art/draw_artwork.py

The output is the same on every run: all randomness comes from fixed seeds. The files are written
by hand as uncompressed DIBs (and an ICO of DIBs) because PIL cannot write a 4-bit bitmap, nor an
icon with a 24-bit and an 8-bit image, and the resource compiler takes the files as they are.
"""
import math
import os
import random
import struct

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_DIR = "/usr/share/fonts/opentype/urw-base35"
TITLE_FONT = os.path.join(FONT_DIR, "P052-Bold.otf")
MARK_FONT = os.path.join(FONT_DIR, "NimbusSans-Bold.otf")

# Everything is drawn at four times the final size and scaled down, which smooths the edges.
SCALE = 4

# The 16-colour palette of the standard VGA set, in index order.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
LIGHT_GREY = 7
WHITE = 15

# A dusk and a night palette: the welcome and finish pages show the sun going down, the license
# page the same valley under the moon.
DUSK = {
    "sky": [(0.0, (20, 18, 52)), (0.45, (64, 38, 96)), (0.75, (168, 72, 98)), (1.0, (246, 150, 78))],
    "glow": (255, 196, 120),
    "disc": (255, 226, 170),
    "haze": (196, 96, 104),
    "ridge_far": (112, 56, 98),
    "ridge_near": (22, 14, 34),
}
NIGHT = {
    "sky": [(0.0, (8, 12, 38)), (0.5, (24, 40, 88)), (0.8, (52, 78, 128)), (1.0, (104, 128, 168))],
    "glow": (190, 210, 255),
    "disc": (236, 240, 255),
    "haze": (70, 92, 140),
    "ridge_far": (48, 62, 108),
    "ridge_near": (10, 12, 30),
}
GOLD_LIGHT = (255, 230, 160)
GOLD_DARK = (196, 134, 52)


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def gradient_colour(stops, t):
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return lerp(c0, c1, (t - t0) / (t1 - t0))
    return stops[-1][1]


def draw_sky(img, palette, horizon):
    w, h = img.size
    d = ImageDraw.Draw(img)
    for y in range(h):
        d.line([(0, y), (w, y)], fill=gradient_colour(palette["sky"], min(1.0, y / horizon)))


def draw_stars(img, seed, count, bottom):
    w, _ = img.size
    rng = random.Random(seed)
    d = ImageDraw.Draw(img)
    for _ in range(count):
        x, y = rng.uniform(0, w), rng.uniform(0, bottom)
        fade = 1.0 - y / bottom
        r = rng.choice((0.6, 0.8, 1.0, 1.4)) * SCALE * 0.5
        shade = int(150 + 105 * fade * rng.uniform(0.5, 1.0))
        d.ellipse([x - r, y - r, x + r, y + r], fill=(shade, shade, min(255, shade + 20)))


def draw_disc(img, palette, cx, cy, radius):
    """The low sun or the moon, with a soft glow around it."""
    w, h = img.size
    glow = Image.new("L", (w, h), 0)
    gd = ImageDraw.Draw(glow)
    for i in range(24, 0, -1):
        r = radius * (1.0 + i * 0.18)
        gd.ellipse([cx - r, cy - r, cx + r, cy + r], fill=int(150 * (1 - i / 25) ** 2))
    glow = glow.filter(ImageFilter.GaussianBlur(radius * 0.4))
    img.paste(Image.new("RGB", (w, h), palette["glow"]), (0, 0), glow)
    ImageDraw.Draw(img).ellipse([cx - radius, cy - radius, cx + radius, cy + radius], fill=palette["disc"])


def ridge_line(seed, w, base, amplitude, roughness):
    """Heights of one mountain ridge across the picture: a few sines with seeded phases."""
    rng = random.Random(seed)
    waves = [(rng.uniform(0.6, 1.0) / (k + 1) ** roughness, (k + 1) * rng.uniform(0.8, 1.3),
              rng.uniform(0, 2 * math.pi)) for k in range(7)]
    total = sum(a for a, _, _ in waves)
    heights = []
    for x in range(w + 1):
        u = x / w * 2 * math.pi
        v = sum(a * math.sin(f * u * 1.7 + p) for a, f, p in waves) / total
        heights.append(base - amplitude * (0.5 + 0.5 * v))
    return heights


def draw_ridges(img, palette, seed, horizon, layers, amplitude, mirror):
    w, h = img.size
    d = ImageDraw.Draw(img)
    for i in range(layers):
        t = i / max(1, layers - 1)
        colour = lerp(palette["ridge_far"], palette["ridge_near"], t)
        base = horizon + (h - horizon) * (0.15 + 0.55 * t)
        heights = ridge_line(seed * 31 + i, w, base, amplitude * (1.0 - 0.35 * t), 1.2 - 0.3 * t)
        if mirror:
            heights.reverse()
        d.polygon([(0, h)] + [(x, y) for x, y in enumerate(heights)] + [(w, h)], fill=colour)
        # Mist in the valley between two ridges.
        if i < layers - 1:
            mist = Image.new("L", (w, h), 0)
            ImageDraw.Draw(mist).rectangle([0, base - amplitude * 0.15, w, base + amplitude * 0.2], fill=70)
            mist = mist.filter(ImageFilter.GaussianBlur(amplitude * 0.25))
            img.paste(Image.new("RGB", (w, h), palette["haze"]), (0, 0), mist)


def sigil_mask(size, cx, cy, radius, line):
    """The game's sigil: a double ring, an eight-pointed star and a diamond at its heart."""
    mask = Image.new("L", size, 0)
    d = ImageDraw.Draw(mask)
    for r, wd in ((radius, line), (radius * 0.86, line * 0.6)):
        d.ellipse([cx - r, cy - r, cx + r, cy + r], outline=255, width=max(1, int(wd)))
    points = []
    for k in range(16):
        r = radius * (0.80 if k % 2 == 0 else 0.34)
        a = k * math.pi / 8 - math.pi / 2
        points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    d.polygon(points, outline=255, width=max(1, int(line * 0.7)))
    dr = radius * 0.22
    d.polygon([(cx, cy - dr), (cx + dr * 0.7, cy), (cx, cy + dr), (cx - dr * 0.7, cy)], fill=255)
    for k in range(8):
        a = k * math.pi / 4 + math.pi / 8 - math.pi / 2
        x, y = cx + radius * 0.93 * math.cos(a), cy + radius * 0.93 * math.sin(a)
        r = line * 0.9
        d.ellipse([x - r, y - r, x + r, y + r], fill=255)
    return mask


def paint_gold(img, mask, top, bottom, glow_radius):
    """Fills a mask with a vertical gold gradient over a dark halo and a faint warm glow."""
    w, h = img.size
    halo = mask.filter(ImageFilter.MaxFilter(2 * int(SCALE * 0.75) + 1)).filter(ImageFilter.GaussianBlur(SCALE))
    img.paste(Image.new("RGB", (w, h), (18, 10, 24)), (0, 0), halo.point(lambda v: int(v * 0.85)))
    glow = mask.filter(ImageFilter.GaussianBlur(glow_radius)).point(lambda v: int(v * 0.55))
    img.paste(Image.new("RGB", (w, h), (255, 190, 110)), (0, 0), glow)
    fill = Image.new("RGB", (w, h))
    fd = ImageDraw.Draw(fill)
    for y in range(h):
        t = 0.0 if y <= top else 1.0 if y >= bottom else (y - top) / (bottom - top)
        fd.line([(0, y), (w, y)], fill=lerp(GOLD_LIGHT, GOLD_DARK, t))
    img.paste(fill, (0, 0), mask)


def title_mask(size, text, font_size, anchor_xy, anchor, tracking):
    """The title lettering, spaced out by `tracking` pixels between letters."""
    font = ImageFont.truetype(TITLE_FONT, font_size)
    widths = [font.getlength(c) for c in text]
    total = sum(widths) + tracking * (len(text) - 1)
    x, y = anchor_xy
    if anchor == "middle":
        x -= total / 2
    mask = Image.new("L", size, 0)
    d = ImageDraw.Draw(mask)
    for c, cw in zip(text, widths):
        d.text((x, y), c, font=font, fill=255, anchor="ls")
        x += cw + tracking
    return mask, (y - font_size * 0.72, y)


def draw_title(img, text, font_size, anchor_xy, anchor="left", tracking=0):
    mask, (top, bottom) = title_mask(img.size, text, font_size, anchor_xy, anchor, tracking)
    paint_gold(img, mask, top, bottom, font_size * 0.12)


def draw_maker_mark(img, xy, font_size, anchor):
    """The maker's stand-in mark: a small tower glyph and the name in spaced capitals."""
    d = ImageDraw.Draw(img)
    font = ImageFont.truetype(MARK_FONT, font_size)
    text = "TARNWICK"
    tracking = font_size * 0.18
    width = sum(font.getlength(c) for c in text) + tracking * (len(text) - 1)
    glyph = font_size * 0.9
    total = glyph + font_size * 0.45 + width
    x, y = xy
    if anchor == "right":
        x -= total
    elif anchor == "middle":
        x -= total / 2
    colour = (226, 214, 236)
    # A tower: a tall block with battlements and an arched door cut out.
    gx0, gy1 = x, y
    gx1, gy0 = x + glyph * 0.7, y - glyph
    step = (gx1 - gx0) / 5
    d.rectangle([gx0, gy0 + step, gx1, gy1], fill=colour)
    for k in (0, 2, 4):
        d.rectangle([gx0 + k * step, gy0, gx0 + (k + 1) * step, gy0 + step], fill=colour)
    door = (gx1 - gx0) * 0.18
    mid = (gx0 + gx1) / 2
    d.rectangle([mid - door, gy1 - glyph * 0.32, mid + door, gy1], fill=(40, 26, 52))
    d.ellipse([mid - door, gy1 - glyph * 0.32 - door, mid + door, gy1 - glyph * 0.32 + door], fill=(40, 26, 52))
    x += glyph + font_size * 0.45 - glyph * 0.3
    for c in text:
        d.text((x, y), c, font=font, fill=colour, anchor="ls")
        x += font.getlength(c) + tracking


def finish(img, size):
    return img.resize(size, Image.LANCZOS)


def banner():
    w, h = 580 * SCALE, 66 * SCALE
    img = Image.new("RGB", (w, h))
    horizon = h * 0.72
    draw_sky(img, DUSK, horizon)
    draw_stars(img, 11, 70, horizon * 0.7)
    draw_disc(img, DUSK, w * 0.70, horizon * 0.78, h * 0.14)
    draw_ridges(img, DUSK, 5, horizon, 3, h * 0.28, False)
    cx, cy, r = 36 * SCALE, h / 2, 26 * SCALE
    paint_gold(img, sigil_mask(img.size, cx, cy, r, 1.6 * SCALE), cy - r, cy + r, 3 * SCALE)
    draw_title(img, "Veyloran", 40 * SCALE, (74 * SCALE, 46 * SCALE), tracking=2 * SCALE)
    draw_maker_mark(img, (572 * SCALE, 60 * SCALE), 9 * SCALE, "right")
    return finish(img, (580, 66))


def side_picture(palette, seed, mirror):
    w, h = 164 * SCALE, 314 * SCALE
    img = Image.new("RGB", (w, h))
    horizon = h * 0.74
    draw_sky(img, palette, horizon)
    draw_stars(img, seed, 160, horizon * 0.8)
    disc_x = w * (0.30 if mirror else 0.68)
    draw_disc(img, palette, disc_x, horizon * (0.83 if mirror else 0.97), w * (0.07 if mirror else 0.11))
    draw_ridges(img, palette, 9, horizon, 4, h * 0.14, mirror)
    cx, cy, r = w / 2, 74 * SCALE, 42 * SCALE
    paint_gold(img, sigil_mask(img.size, cx, cy, r, 1.8 * SCALE), cy - r, cy + r, 4 * SCALE)
    draw_title(img, "Veyloran", 29 * SCALE, (w / 2, 158 * SCALE), anchor="middle", tracking=1 * SCALE)
    draw_maker_mark(img, (w / 2, 302 * SCALE), 9 * SCALE, "middle")
    return finish(img, (164, 314))


def icon_image(size):
    """The sigil on a dusk disc; the corners outside the disc are transparent."""
    s = size * SCALE
    img = Image.new("RGB", (s, s))
    draw_sky(img, DUSK, s * 0.95)
    shape = Image.new("L", (s, s), 0)
    ImageDraw.Draw(shape).ellipse([0, 0, s - 1, s - 1], fill=255)
    line = max(1.0, size / 20) * SCALE
    paint_gold(img, sigil_mask((s, s), s / 2, s / 2, s * 0.40, line), s * 0.1, s * 0.9, line)
    ring = Image.new("L", (s, s), 0)
    ImageDraw.Draw(ring).ellipse([0, 0, s - 1, s - 1], outline=255, width=int(line))
    img.paste(Image.new("RGB", (s, s), (30, 20, 44)), (0, 0), ring)
    img = img.resize((size, size), Image.LANCZOS)
    opaque = shape.resize((size, size), Image.LANCZOS).point(lambda v: 255 if v >= 128 else 0)
    return img, opaque


def bitmap_info_header(w, h, bits, image_size, colours):
    # 2835 pixels per metre is 72 dpi.
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, image_size, 2835, 2835, colours, 0)


def rows_bottom_up(w, h, row_bytes):
    stride = (len(row_bytes(0)) + 3) & ~3
    return b"".join(row_bytes(y).ljust(stride, b"\0") for y in range(h - 1, -1, -1))


def pixels_24(img):
    px = img.load()
    w, h = img.size
    return rows_bottom_up(w, h, lambda y: b"".join(bytes((px[x, y][2], px[x, y][1], px[x, y][0])) for x in range(w)))


def write_bmp(path, info, palette, pixels):
    offset = 14 + len(info) + len(palette)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset))
        f.write(info + palette + pixels)


def write_bmp24(path, img):
    pixels = pixels_24(img)
    w, h = img.size
    write_bmp(path, bitmap_info_header(w, h, 24, len(pixels), 0), b"", pixels)


def palette_bytes(colours):
    return b"".join(bytes((b, g, r, 0)) for r, g, b in colours)


def write_separator(path):
    """The etched line: a light-grey row above a white row, across the whole width."""
    w = 564
    rows = [[LIGHT_GREY] * w, [WHITE] * w]
    pack = lambda y: bytes((rows[y][x] << 4) | (rows[y][x + 1] if x + 1 < w else 0) for x in range(0, w, 2))
    pixels = rows_bottom_up(w, 2, pack)
    write_bmp(path, bitmap_info_header(w, 2, 4, len(pixels), 16), palette_bytes(VGA16), pixels)


def and_mask(opaque):
    """The icon's 1-bit transparency mask: set bits are transparent."""
    px = opaque.load()
    w, h = opaque.size

    def row(y):
        out = bytearray((w + 7) // 8)
        for x in range(w):
            if px[x, y] == 0:
                out[x // 8] |= 0x80 >> (x % 8)
        return bytes(out)
    return rows_bottom_up(w, h, row)


def icon_dib_24(img, opaque):
    black = Image.new("RGB", img.size)
    img = Image.composite(img, black, opaque)
    xor, mask = pixels_24(img), and_mask(opaque)
    w, h = img.size
    return bitmap_info_header(w, 2 * h, 24, len(xor) + len(mask), 0) + xor + mask


def icon_dib_8(img, opaque):
    img = Image.composite(img, Image.new("RGB", img.size), opaque)
    indexed = img.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    colours = indexed.getpalette()[: 256 * 3]
    colours += [0] * (256 * 3 - len(colours))
    colours = [tuple(colours[i:i + 3]) for i in range(0, 256 * 3, 3)]
    px = indexed.load()
    w, h = img.size
    xor = rows_bottom_up(w, h, lambda y: bytes(px[x, y] for x in range(w)))
    mask = and_mask(opaque)
    return bitmap_info_header(w, 2 * h, 8, len(xor) + len(mask), 256) + palette_bytes(colours) + xor + mask


def write_icon(path):
    images = []
    for size, bits, encode in ((32, 24, icon_dib_24), (64, 8, icon_dib_8)):
        img, opaque = icon_image(size)
        images.append((size, bits, encode(img, opaque)))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, body = b"", b""
    for size, bits, dib in images:
        # Width and height are stored modulo 256; the colour count is 0 for 8 bits and more.
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(dib), offset + len(body))
        body += dib
    with open(path, "wb") as f:
        f.write(header + entries + body)


def main():
    write_bmp24(os.path.join(HERE, "banner.bmp"), banner())
    write_bmp24(os.path.join(HERE, "side_welcome.bmp"), side_picture(DUSK, 3, False))
    write_bmp24(os.path.join(HERE, "side_license.bmp"), side_picture(NIGHT, 4, True))
    write_separator(os.path.join(HERE, "separator.bmp"))
    write_icon(os.path.join(HERE, "setup.ico"))


if __name__ == "__main__":
    main()
