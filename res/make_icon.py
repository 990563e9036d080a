#!/usr/bin/env python3
"""Draws the program icon (32x32 and 16x16, 32-bit with alpha) into an .ico file."""
import struct
import sys


def icon_image(size):
    rows = []
    centre = (size - 1) / 2.0
    for y in range(size - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        for x in range(size):
            dx, dy = x - centre, y - centre
            inside = dx * dx + dy * dy <= (size / 2.0) ** 2
            ring = dx * dx + dy * dy >= (size / 2.0 - size / 8.0) ** 2
            if not inside:
                row += bytes((0, 0, 0, 0))
            elif ring:
                row += bytes((40, 90, 200, 255))
            else:
                shade = 120 + int(100 * (size - y) / size)
                row += bytes((30, shade, 240, 255))
        rows.append(bytes(row))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + b''.join(rows) + mask


def main(out_path):
    images = [icon_image(32), icon_image(16)]
    offset = 6 + 16 * len(images)
    directory = struct.pack('<HHH', 0, 1, len(images))
    for image, size in zip(images, (32, 16)):
        directory += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(out_path, 'wb') as f:
        f.write(directory + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1])
