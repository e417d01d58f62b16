#!/usr/bin/env python3
"""Draws the window background pictures of the style sheet.

Run from this folder: python3 draw_ui_common_images.py
Both pictures are soft vertical bands that fade into the white window
background, so that they can be drawn unrepeated behind windows of any size.
"""
import struct
import zlib


def png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # no filter
        for x in range(width):
            rows.extend(pixel(x, y))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", header))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def mix(top, t):
    """Colour between top (t = 0) and white (t = 1)."""
    return bytes(round(c + (255 - c) * t) for c in top)


def band(top, accent, fade):
    def pixel(x, y):
        if y == 0:
            return accent
        return mix(top, min(1.0, y / fade))
    return pixel


# Dialogs and message boxes: a light amber band behind the status line.
png("subwin-bg.png", 640, 64, band((0xFF, 0xEA, 0xC9), bytes((0xFF, 0xB6, 0x45)), 63.0))
# Main window: a deeper band behind the menu bar and tool bar.
png("main-bg.png", 1600, 120, band((0xFF, 0xD9, 0xA0), bytes((0xFF, 0xB6, 0x45)), 119.0))
