#!/usr/bin/env python3
"""Draws the program's icons: the application icon and the eight frames of the tray
animation (a small LED meter whose bars rise and fall). Run it to regenerate the PNGs of the Qt
build, the .ico files of the Windows build (src/ui/win32/icons) and the scalable icon that
desktops show for the installed program (data/calvora-audio-mixer.svg)."""
import math
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
WINDOWS_ICONS = HERE.parent.parent / "win32" / "icons"
SCALABLE_ICON = HERE.parents[3] / "data" / "calvora-audio-mixer.svg"


def write_png(path, size, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                     chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, images):
    """An .ico with one 32-bit image (BGRA and an empty AND mask) per (size, pixels)."""
    entries, bodies = b"", b""
    offset = 6 + 16 * len(images)
    for size, pixels in images:
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
        colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for r, g, b, a in row)
        mask = bytes(((size + 31) // 32) * 4 * size)
        body = header + colour + mask
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(body), offset)
        bodies += body
        offset += len(body)
    path.write_bytes(struct.pack("<HHH", 0, 1, len(images)) + entries + bodies)


def bar_colour(level, bars):
    # Green at the bottom, yellow then red at the top, as on the meter.
    if level >= bars - 1:
        return (255, 40, 40)
    if level >= bars - 3:
        return (255, 220, 0)
    return (40, 230, 60)


def draw(size, heights):
    s = size / 32.0
    pixels = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    radius = 6 * s
    for y in range(size):
        for x in range(size):
            # Rounded dark square as the background.
            dx = max(radius - x - 0.5, 0, x + 0.5 - (size - radius))
            dy = max(radius - y - 0.5, 0, y + 0.5 - (size - radius))
            if math.hypot(dx, dy) <= radius:
                shade = int(34 + 18 * (1 - y / size))
                pixels[y][x] = (shade, shade + 4, shade + 12, 255)
    bars = 8
    columns = len(heights)
    left, top, bottom = 5 * s, 5 * s, 27 * s
    width = (size - 2 * left) / columns
    step = (bottom - top) / bars
    for c, h in enumerate(heights):
        x0 = int(left + c * width + 1 * s)
        x1 = int(left + (c + 1) * width - 1 * s)
        for level in range(bars):
            y1 = int(bottom - level * step)
            y0 = int(y1 - step + 1 * s)
            lit = level < h
            colour = bar_colour(level, bars) if lit else (60, 66, 78)
            for y in range(max(y0, 0), min(y1, size)):
                for x in range(max(x0, 0), min(x1, size)):
                    pixels[y][x] = colour + (255,)
    return pixels


def write_svg(path, heights):
    """The application icon as drawn by draw(), in its 32-unit grid without the pixel rounding."""
    bars, columns = 8, len(heights)
    left, top, bottom = 5, 5, 27
    width = (32 - 2 * left) / columns
    step = (bottom - top) / bars
    shapes = []
    for c, h in enumerate(heights):
        x0 = left + c * width + 1
        for level in range(bars):
            y1 = bottom - level * step
            r, g, b = bar_colour(level, bars) if level < h else (60, 66, 78)
            shapes.append(f'  <rect x="{x0:g}" y="{y1 - step + 1:g}" width="{width - 2:g}" '
                          f'height="{step - 1:g}" fill="#{r:02x}{g:02x}{b:02x}"/>')
    path.write_text(
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 32 32">\n'
        '  <defs>\n'
        '    <linearGradient id="back" x1="0" y1="0" x2="0" y2="1">\n'
        '      <stop offset="0" stop-color="#343846"/>\n'
        '      <stop offset="1" stop-color="#222632"/>\n'
        '    </linearGradient>\n'
        '  </defs>\n'
        '  <rect width="32" height="32" rx="6" fill="url(#back)"/>\n' +
        "\n".join(shapes) + "\n</svg>\n")


def main():
    frames = [
        [2, 4, 6, 3], [3, 6, 5, 4], [5, 7, 4, 6], [6, 5, 3, 7],
        [4, 3, 5, 5], [3, 5, 7, 3], [2, 6, 6, 2], [1, 4, 5, 3],
    ]
    WINDOWS_ICONS.mkdir(exist_ok=True)
    for i, heights in enumerate(frames):
        write_png(HERE / f"tray{i}.png", 32, draw(32, heights))
        write_ico(WINDOWS_ICONS / f"tray{i}.ico", [(s, draw(s, heights)) for s in (16, 32)])
    write_png(HERE / "calvora.png", 64, draw(64, [3, 6, 8, 5]))
    write_ico(WINDOWS_ICONS / "calvora.ico", [(s, draw(s, [3, 6, 8, 5])) for s in (16, 32, 48, 64)])
    write_svg(SCALABLE_ICON, [3, 6, 8, 5])


if __name__ == "__main__":
    main()
