#!/usr/bin/env python3
"""Writes a tiny uncompressed SWF movie ("FWS") for tests and the demo.

The movie has the standard header (signature, version, file length, frame rectangle,
frame rate, frame count), an optional background colour, one ShowFrame tag per frame
and the End tag. Players show an empty stage of the given size.

With --script, the movie also carries a script for the Flash stand-in (a DefineBinaryData
tag whose data starts with the line "flash-standin-script"; the steps are described in
standins/flash/movie_script.h). With --pad, a second DefineBinaryData tag of that many
bytes makes the movie larger, for measurements.
"""
import argparse
import struct
import sys


def encode_rect(x_min, x_max, y_min, y_max):
    """A SWF RECT: 5 bits of field width, then four signed fields of that width."""
    values = (x_min, x_max, y_min, y_max)
    bits = max(max(v.bit_length() for v in values) + 1, 1)
    if bits > 31:
        raise ValueError("frame rectangle too large")
    stream = format(bits, "05b") + "".join(format(v & ((1 << bits) - 1), "0%db" % bits) for v in values)
    stream += "0" * (-len(stream) % 8)
    return bytes(int(stream[i:i + 8], 2) for i in range(0, len(stream), 8))


def tag(code, body=b""):
    if len(body) < 0x3F:
        return struct.pack("<H", code << 6 | len(body)) + body
    return struct.pack("<HI", code << 6 | 0x3F, len(body)) + body


SCRIPT_MAGIC = b"flash-standin-script\n"
BINARY_DATA = 87


def binary_data(character_id, data):
    return tag(BINARY_DATA, struct.pack("<HI", character_id, 0) + data)


def padding(size):
    """`size` bytes that do not repeat in short cycles, the same every time."""
    out = bytearray()
    state = 0x12345678
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out += struct.pack("<I", state)
    return bytes(out[:size])


def make_swf(width, height, fps, frames, version=10, background=None, script=None, pad=0):
    if not (0 < fps < 256):
        raise ValueError("frame rate must lie between 0 and 256")
    if not (0 <= frames <= 0xFFFF):
        raise ValueError("frame count must fit 16 bits")
    body = encode_rect(0, width * 20, 0, height * 20)
    body += struct.pack("<HH", int(round(fps * 256)), frames)
    if background is not None:
        body += tag(9, bytes(((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF)))
    if script is not None:
        body += binary_data(1, SCRIPT_MAGIC + script)
    if pad:
        body += binary_data(2, padding(pad))
    body += tag(1) * frames + tag(0)
    return b"FWS" + bytes((version,)) + struct.pack("<I", 8 + len(body)) + body


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("output")
    parser.add_argument("--width", type=int, default=320, help="stage width in pixels")
    parser.add_argument("--height", type=int, default=240, help="stage height in pixels")
    parser.add_argument("--fps", type=float, default=24.0, help="frames per second")
    parser.add_argument("--frames", type=int, default=1)
    parser.add_argument("--version", type=int, default=10)
    parser.add_argument("--background", type=lambda text: int(text, 16), help="background colour as RRGGBB")
    parser.add_argument("--script", help="a text file of stand-in script steps (UTF-8)")
    parser.add_argument("--pad", type=int, default=0, help="bytes of padding data to carry")
    args = parser.parse_args(argv)
    if args.pad < 0:
        parser.error("--pad must not be negative")
    script = None
    if args.script:
        try:
            with open(args.script, "rb") as f:
                script = f.read()
        except OSError as e:
            parser.error("cannot read the script %s: %s" % (args.script, e.strerror))
    movie = make_swf(args.width, args.height, args.fps, args.frames, args.version, args.background,
                     script, args.pad)
    with open(args.output, "wb") as out:
        out.write(movie)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
