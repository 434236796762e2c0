#!/usr/bin/python3
"""Placeholder; replaced by the real drawing."""
import os, struct
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))

def bmp24(img, path):
    w, h = img.size
    stride = (w * 3 + 3) & ~3
    rows = []
    px = img.convert("RGB").load()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    hdr = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54) + hdr + data)

for name, size in (("banner", (580, 66)), ("side_license", (164, 314)), ("side_welcome", (164, 314))):
    bmp24(Image.new("RGB", size, (40, 30, 80)), os.path.join(HERE, name + ".bmp"))

VGA16 = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),(192,192,192),
         (128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),(255,0,255),(0,255,255),(255,255,255)]
def bmp4(rows_idx, w, path):
    h = len(rows_idx)
    stride = ((w * 4 + 31) // 32) * 4
    data = b""
    for row in reversed(rows_idx):
        b = bytearray()
        for x in range(0, w, 2):
            b.append((row[x] << 4) | (row[x + 1] if x + 1 < w else 0))
        b += b"\0" * (stride - len(b))
        data += bytes(b)
    pal = b"".join(bytes((bb, g, r, 0)) for r, g, bb in VGA16)
    hdr = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(data), 2835, 2835, 16, 0)
    off = 14 + 40 + len(pal)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", off + len(data), 0, 0, off) + hdr + pal + data)
bmp4([[7] * 564, [15] * 564], 564, os.path.join(HERE, "separator.bmp"))

def icon_dib24(w):
    stride = (w * 3 + 3) & ~3
    xor = (b"\x80\x40\x20" * w + b"\0" * (stride - 3 * w)) * w
    mstride = ((w + 31) // 32) * 4
    mask = b"\0" * (mstride * w)
    hdr = struct.pack("<IiiHHIIiiII", 40, w, 2 * w, 1, 24, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return hdr + xor + mask
def icon_dib8(w):
    pal = b"".join(bytes((i, i, i, 0)) for i in range(256))
    xor = bytes([100]) * (w * w)
    mstride = ((w + 31) // 32) * 4
    mask = b"\0" * (mstride * w)
    hdr = struct.pack("<IiiHHIIiiII", 40, w, 2 * w, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    return hdr + pal + xor + mask
imgs = [(32, 24, icon_dib24(32)), (64, 8, icon_dib8(64))]
out = struct.pack("<HHH", 0, 1, len(imgs))
off = 6 + 16 * len(imgs)
body = b""
for w, bpp, d in imgs:
    out += struct.pack("<BBBBHHII", w, w, 0, 0, 1, bpp, len(d), off + len(body))
    body += d
open(os.path.join(HERE, "setup.ico"), "wb").write(out + body)
