#!/usr/bin/python3
"""Draws Lumeno's artwork and writes the resource files into res/.

Run with Debian's /usr/bin/python3 (python3-pil) and fonts-wqy-microhei installed:

    /usr/bin/python3 tools/make-artwork.py [OUTPUT_FOLDER]

The output is reproducible: the same Pillow version writes the same bytes, so the committed files
change only when the drawing changes. Shapes are drawn four times larger and scaled down for smooth
edges; small texts are drawn at their final size so that the font's hinting keeps them sharp.
"""

import io
import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
LATIN_CONDENSED_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf"
SS = 4  # supersampling factor

# Caption glyph colours: normal, pointer over, pressed.
CAPTION_COLOURS = [(255, 255, 255), (158, 220, 248), (61, 142, 180)]

GREEN = (34, 160, 84)
GREEN_TEXT = (24, 128, 64)
GREY_GLYPH = (104, 104, 104)
BRAND_BLUE = (19, 179, 253)
BRAND_DARK = (8, 92, 160)


def font(path, size):
    return ImageFont.truetype(path, size)


def blank(width, height, scale=SS):
    return Image.new("RGBA", (width * scale, height * scale), (0, 0, 0, 0))


def shrink(image, width, height):
    # A box filter averages each block exactly: edges are smooth and solid areas keep their exact colour.
    return image.resize((width, height), Image.BOX)


def clear_invisible(image):
    """Transparent pixels carry no colour, so the files do not depend on resampling leftovers."""
    pixels = [(0, 0, 0, 0) if p[3] == 0 else p for p in image.getdata()]
    out = Image.new("RGBA", image.size)
    out.putdata(pixels)
    return out


def radial_disc(size, centre, radius, inner, outer):
    """A disc whose colour runs from `inner` at a point above the centre to `outer` at the rim."""
    disc = Image.new("RGBA", size, (0, 0, 0, 0))
    cx, cy = centre
    hx, hy = cx, cy - radius * 0.45
    pixels = disc.load()
    for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
        for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
            if (x - cx) ** 2 + (y - cy) ** 2 > radius * radius:
                continue
            t = min(1.0, math.hypot(x - hx, y - hy) / (radius * 1.45))
            colour = tuple(round(a + (b - a) * t) for a, b in zip(inner, outer))
            pixels[x, y] = colour + (255,)
    return disc


def vertical_gradient(size, top, bottom):
    width, height = size
    image = Image.new("RGBA", size)
    draw = ImageDraw.Draw(image)
    for y in range(height):
        t = y / max(1, height - 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        draw.line([(0, y), (width - 1, y)], fill=colour + (255,))
    return image


def masked(image, mask):
    out = Image.new("RGBA", image.size, (0, 0, 0, 0))
    out.paste(image, (0, 0), mask)
    return out


# ---------------------------------------------------------------- caption strips (39 x 20)

def caption_strip(draw_glyph):
    strip = Image.new("RGBA", (39, 20), (0, 0, 0, 0))
    for index, colour in enumerate(CAPTION_COLOURS):
        frame = blank(13, 20)
        draw_glyph(ImageDraw.Draw(frame), colour)
        strip.paste(shrink(frame, 13, 20), (index * 13, 0))
    return clear_invisible(strip)


def thick_line(draw, p0, p1, width, colour):
    """A straight stroke as an exact polygon: PIL's wide lines come out lopsided at small sizes."""
    (x0, y0), (x1, y1) = p0, p1
    length = math.hypot(x1 - x0, y1 - y0)
    nx, ny = -(y1 - y0) / length * width / 2, (x1 - x0) / length * width / 2
    draw.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], fill=colour)


def close_glyph(draw, colour):
    # A diagonal cross, 8 pixels across, centred in the frame.
    s = SS
    left, top, right, bottom = 2.5 * s, 6 * s, 10.5 * s, 14 * s
    thick_line(draw, (left, top), (right, bottom), 1.9 * s, colour + (255,))
    thick_line(draw, (left, bottom), (right, top), 1.9 * s, colour + (255,))


def minimize_glyph(draw, colour):
    # A short bar in the lower half, level with the bottom of the cross.
    s = SS
    draw.rectangle([2 * s, 12 * s, 11 * s - 1, 14 * s - 1], fill=colour + (255,))


# ---------------------------------------------------------------- round buttons (130 x 118)

BUTTON_W, BUTTON_H = 130, 118
DISC_CENTRE = (65, 47)
DISC_RADIUS = 43
RING_WIDTH = 4.5


def round_button(face_inner, face_outer, glyph, glyph_colour, caption, caption_colour):
    s = SS
    size = (BUTTON_W * s, BUTTON_H * s)
    cx, cy = DISC_CENTRE[0] * s, DISC_CENTRE[1] * s
    r = DISC_RADIUS * s

    # A soft shadow under the ring lifts the button off the window.
    shadow_mask = Image.new("L", size, 0)
    ImageDraw.Draw(shadow_mask).ellipse([cx - r, cy - r + 2 * s, cx + r, cy + r + 2 * s], fill=70)
    shadow_mask = shadow_mask.filter(ImageFilter.GaussianBlur(2.2 * s))
    image = Image.new("RGBA", size, (0, 0, 0, 0))
    image.paste(Image.new("RGBA", size, (60, 60, 60, 255)), (0, 0), shadow_mask)

    # Grey ring: lighter at the top, darker at the bottom, like brushed metal.
    ring_mask = Image.new("L", size, 0)
    ImageDraw.Draw(ring_mask).ellipse([cx - r, cy - r, cx + r, cy + r], fill=255)
    ring = vertical_gradient(size, (222, 222, 222), (158, 158, 158))
    image.alpha_composite(masked(ring, ring_mask))

    # The face, with a highlight towards its top.
    face_r = r - RING_WIDTH * s
    image.alpha_composite(radial_disc(size, (cx, cy), face_r, face_inner, face_outer))
    # A thin inner edge separates face and ring.
    ImageDraw.Draw(image).ellipse([cx - face_r, cy - face_r, cx + face_r, cy + face_r],
                                  outline=(255, 255, 255, 150), width=round(0.8 * s))

    glyph(ImageDraw.Draw(image), (cx, cy), glyph_colour + (255,))
    image = shrink(image, BUTTON_W, BUTTON_H)

    # The caption is part of the picture: the button draws no text.
    draw = ImageDraw.Draw(image)
    caption_font = font(CJK_FONT, 15)
    left, top, right, bottom = draw.textbbox((0, 0), caption, font=caption_font)
    x = (BUTTON_W - (right - left)) / 2 - left
    draw.text((round(x), 99 - top), caption, font=caption_font, fill=caption_colour + (255,))
    return clear_invisible(image)


def play_glyph(draw, centre, colour):
    cx, cy = centre
    s = SS
    h = 34 * s
    # The triangle's centroid sits on the disc's centre so it looks centred.
    left = cx - h * 0.36
    draw.polygon([(left, cy - h / 2), (left, cy + h / 2), (left + h * 0.9, cy)], fill=colour)


def pause_glyph(draw, centre, colour):
    cx, cy = centre
    s = SS
    bar_w, bar_h, gap = 9 * s, 32 * s, 8 * s
    for x0 in (cx - gap / 2 - bar_w, cx + gap / 2):
        draw.rounded_rectangle([x0, cy - bar_h / 2, x0 + bar_w, cy + bar_h / 2], radius=1.5 * s, fill=colour)


def gear_glyph(draw, centre, colour):
    cx, cy = centre
    s = SS
    teeth, outer, inner = 8, 24 * s, 18 * s
    points = []
    steps = teeth * 4
    for i in range(steps):
        angle = 2 * math.pi * (i + 0.5) / steps
        radius = outer if (i % 4) in (0, 1) else inner
        points.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    draw.polygon(points, fill=colour)
    # The hub hole is painted in the face's colour at the centre: drawing transparency here would
    # cut through the face as well.
    hole = 8 * s
    draw.ellipse([cx - hole, cy - hole, cx + hole, cy + hole], fill=(236, 248, 238, 255))


# ---------------------------------------------------------------- emblem, logo, banner

def emblem(size_px, background=None):
    """The Lumeno emblem: a blue rounded square holding a screen with a red recording dot."""
    s = SS
    n = size_px * s
    image = Image.new("RGBA", (n, n), (0, 0, 0, 0) if background is None else background)
    mask = Image.new("L", (n, n), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, n - 1, n - 1], radius=n * 0.22, fill=255)
    body = vertical_gradient((n, n), (64, 196, 255), BRAND_DARK)
    image.alpha_composite(masked(body, mask))
    draw = ImageDraw.Draw(image)
    # A monitor outline in white.
    m = n * 0.18
    draw.rounded_rectangle([m, n * 0.22, n - m, n * 0.70], radius=n * 0.05, outline=(255, 255, 255, 255),
                           width=max(1, round(n * 0.075)))
    draw.rectangle([n * 0.44, n * 0.70, n * 0.56, n * 0.80], fill=(255, 255, 255, 255))
    draw.rounded_rectangle([n * 0.30, n * 0.78, n * 0.70, n * 0.85], radius=n * 0.03, fill=(255, 255, 255, 255))
    # The recording dot inside the screen.
    d = n * 0.11
    dx, dy = n * 0.5, n * 0.46
    draw.ellipse([dx - d, dy - d, dx + d, dy + d], fill=(255, 72, 72, 255))
    return shrink(image, size_px, size_px)


def logo():
    image = Image.new("RGBA", (61, 18), (0, 0, 0, 0))
    image.alpha_composite(emblem(15), (0, 2))
    draw = ImageDraw.Draw(image)
    name_font = font(LATIN_CONDENSED_BOLD, 11)
    left, top, right, bottom = draw.textbbox((0, 0), "Lumeno", font=name_font)
    draw.text((17 - left, (18 - (bottom - top)) // 2 - top), "Lumeno", font=name_font, fill=(70, 84, 98, 255))
    return clear_invisible(image)


def banner():
    width, height = 330, 30
    image = vertical_gradient((width, height), (22, 66, 112), (10, 34, 64)).convert("RGB")
    # A thin accent line along the bottom in the caption blue.
    ImageDraw.Draw(image).line([(0, height - 1), (width - 1, height - 1)], fill=BRAND_BLUE)
    mark = emblem(24)
    image.paste(mark, (4, 3), mark)
    draw = ImageDraw.Draw(image)
    name_font = font(LATIN_BOLD, 17)
    left, top, right, bottom = draw.textbbox((0, 0), "Lumeno", font=name_font)
    draw.text((34 - left, (height - (bottom - top)) // 2 - top), "Lumeno", font=name_font, fill=(255, 255, 255))
    x = 34 + (right - left) + 8
    draw.line([(x, 7), (x, 22)], fill=(110, 150, 190))
    line_font = font(CJK_FONT, 13)
    text = "交易屏幕录像存证 · 网络授时认证"
    left, top, right, bottom = draw.textbbox((0, 0), text, font=line_font)
    draw.text((x + 8 - left, (height - (bottom - top)) // 2 - top), text, font=line_font, fill=(214, 232, 248))
    return image


# ---------------------------------------------------------------- icons

def main_icon(size):
    return emblem(size)


def tray_icon(glyph):
    s = SS
    n = 16 * s
    image = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    if glyph == "warning":
        # Amber disc with a dark exclamation mark: recording is on but nothing reaches the disk. A
        # disc like the other two, so a tray that paints a new picture over the old leaves no rim.
        draw.ellipse([0, 0, n - 1, n - 1], fill=(240, 160, 0, 255))
        draw.rounded_rectangle([n * 0.42, n * 0.16, n * 0.58, n * 0.62], radius=n * 0.05, fill=(50, 35, 0, 255))
        draw.ellipse([n * 0.41, n * 0.70, n * 0.59, n * 0.88], fill=(50, 35, 0, 255))
    elif glyph == "play":
        draw.ellipse([0, 0, n - 1, n - 1], fill=(30, 170, 80, 255))
        draw.polygon([(n * 0.38, n * 0.26), (n * 0.38, n * 0.74), (n * 0.76, n * 0.5)], fill=(255, 255, 255, 255))
    else:
        draw.ellipse([0, 0, n - 1, n - 1], fill=(120, 128, 136, 255))
        for x0 in (n * 0.31, n * 0.56):
            draw.rectangle([x0, n * 0.27, x0 + n * 0.13, n * 0.73], fill=(255, 255, 255, 255))
    return clear_invisible(shrink(image, 16, 16))


def ico_bytes(images):
    """An .ico of 32-bit BGRA bitmap entries (no PNG entries, so every Windows version reads it)."""
    entries, blobs = [], []
    for image in images:
        w, h = image.size
        rows = []
        for y in reversed(range(h)):  # bottom-up
            for x in range(w):
                r, g, b, a = image.getpixel((x, y))
                rows.append(struct.pack("<4B", b, g, r, a))
        mask_stride = ((w + 31) // 32) * 4
        and_mask = bytearray()
        for y in reversed(range(h)):
            row = bytearray(mask_stride)
            for x in range(w):
                if image.getpixel((x, y))[3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            and_mask += row
        header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        blob = header + b"".join(rows) + bytes(and_mask)
        blobs.append(blob)
        entries.append((w, h))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (w, h), blob in zip(entries, blobs):
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


# ---------------------------------------------------------------- output

def save_png(image, path):
    assert image.mode == "RGBA"
    image.save(path, format="PNG", optimize=True)


def save_jpeg(image, path):
    assert image.mode == "RGB"
    image.save(path, format="JPEG", quality=92, progressive=False, optimize=False, subsampling=0)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "res")
    os.makedirs(out, exist_ok=True)

    pale_inner, pale_outer = (252, 255, 252), (222, 242, 226)
    grey_inner, grey_outer = (240, 240, 240), (206, 206, 206)

    save_png(caption_strip(close_glyph), os.path.join(out, "close.png"))
    save_png(caption_strip(minimize_glyph), os.path.join(out, "minimize.png"))
    save_png(round_button(pale_inner, pale_outer, gear_glyph, GREEN, "设置", GREEN_TEXT),
             os.path.join(out, "settings.png"))
    save_png(round_button(pale_inner, pale_outer, play_glyph, GREEN, "开始录制", GREEN_TEXT),
             os.path.join(out, "start.png"))
    save_png(round_button(grey_inner, grey_outer, play_glyph, GREY_GLYPH, "开始录制", (0, 0, 0)),
             os.path.join(out, "start-disabled.png"))
    save_png(round_button(pale_inner, pale_outer, pause_glyph, GREEN, "停止录制", GREEN_TEXT),
             os.path.join(out, "stop.png"))
    save_png(round_button(grey_inner, grey_outer, pause_glyph, GREY_GLYPH, "停止录制", (0, 0, 0)),
             os.path.join(out, "stop-disabled.png"))
    save_png(logo(), os.path.join(out, "logo.png"))
    save_jpeg(banner(), os.path.join(out, "banner.jpg"))

    with open(os.path.join(out, "Lumeno.ico"), "wb") as f:
        f.write(ico_bytes([main_icon(n) for n in (48, 32, 24, 16)]))
    with open(os.path.join(out, "tray-recording.ico"), "wb") as f:
        f.write(ico_bytes([tray_icon("play")]))
    with open(os.path.join(out, "tray-idle.ico"), "wb") as f:
        f.write(ico_bytes([tray_icon("pause")]))
    with open(os.path.join(out, "tray-warning.ico"), "wb") as f:
        f.write(ico_bytes([tray_icon("warning")]))

    # The build does not see the files a resource script names: mark the script as changed so
    # the next build compiles the new pictures in.
    script = os.path.join(out, "Lumeno.rc")
    if os.path.exists(script):
        os.utime(script)


if __name__ == "__main__":
    main()
