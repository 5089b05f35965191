#!/usr/bin/python3
"""Draws the About window's picture (292 x 286, 24-bit): a level on its tripod sighting a
levelling staff, and the program's icon cut from it at 64 and 128 pixels. Needs Debian's
python3-pil; the PNGs it makes are committed in ui/resources.
Usage: draw-about-picture.py FOLDER"""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

W, H = 292, 286
img = Image.new("RGB", (W, H), (214, 232, 246))
d = ImageDraw.Draw(img)

# Ground.
d.polygon([(0, 230), (W, 214), (W, H), (0, H)], fill=(120, 160, 90))
d.line([(0, 230), (W, 214)], fill=(80, 120, 60), width=2)

# Tripod and level.
d.line([(92, 150), (60, 236)], fill=(120, 80, 40), width=5)
d.line([(92, 150), (124, 236)], fill=(120, 80, 40), width=5)
d.line([(92, 150), (96, 240)], fill=(100, 65, 30), width=5)
d.rectangle([(74, 140), (110, 152)], fill=(60, 60, 60))            # tribrach
d.rounded_rectangle([(58, 112), (132, 138)], radius=8, fill=(255, 128, 0), outline=(90, 45, 0), width=2)
d.rectangle([(132, 118), (142, 132)], fill=(40, 40, 40))            # objective
d.ellipse([(50, 116), (60, 134)], fill=(40, 40, 40))                # eyepiece
d.rectangle([(84, 104), (108, 112)], fill=(60, 60, 60))             # sight

# Line of sight.
for x in range(146, 214, 8):
    d.line([(x, 125), (x + 4, 125)], fill=(200, 30, 30), width=2)

# Levelling staff with E-pattern graduations.
sx0, sx1, top, foot = 216, 240, 28, 226
d.rectangle([(sx0, top), (sx1, foot)], fill=(250, 250, 240), outline=(30, 30, 30))
for i, y in enumerate(range(top + 4, foot - 4, 20)):
    colour = (200, 20, 20) if i % 5 == 0 else (20, 20, 20)
    d.rectangle([(sx0 + 2, y), (sx0 + 12, y + 10)], fill=colour)
    d.rectangle([(sx0 + 2, y), (sx0 + 6, y + 18)], fill=colour)

try:
    font = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 30)
    small = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 12)
except OSError:
    font = small = ImageFont.load_default()
d.text((14, 14), "Rendle", fill=(20, 40, 90), font=font)
d.text((16, 50), "rise-and-fall level reduction", fill=(20, 40, 90), font=small)

folder = sys.argv[1] if len(sys.argv) > 1 else "."
img.save(os.path.join(folder, "about.png"))
icon = img.crop((40, 20, 250, 230))
for size in (64, 128):
    icon.resize((size, size), Image.LANCZOS).save(os.path.join(folder, f"rendle-{size}.png"))
