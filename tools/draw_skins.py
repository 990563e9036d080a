#!/usr/bin/env python3
"""Draws the demo package's skin images as RGBA PNG files.

    draw_skins.py OUT_DIR

writes OUT_DIR/config/*.png: the login skin main1.png, the login buttons
N_n.png / N_d.png, the game window's picture sheet style.png, logo.png and the
update dialog's skin update.png. Positions match demo/package/config/cg.txt.
"""

import os
import struct
import sys
import zlib


# ---------------------------------------------------------------------------
# PNG writing

def png_bytes(width, height, rgba):
    """An 8-bit RGBA PNG of the pixels (bytes, rows top to bottom)."""
    stride = width * 4
    raw = b"".join(b"\0" + bytes(rgba[y * stride:(y + 1) * stride]) for y in range(height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# ---------------------------------------------------------------------------
# Drawing

class Canvas:
    def __init__(self, width, height, fill=(0, 0, 0, 0)):
        self.width, self.height = width, height
        self.px = bytearray(bytes(fill) * (width * height))

    def span(self, y, x0, x1, rgba):
        """Sets the pixels x0 <= x < x1 of row y."""
        x0, x1 = max(x0, 0), min(x1, self.width)
        if 0 <= y < self.height and x0 < x1:
            i = (y * self.width + x0) * 4
            self.px[i:i + (x1 - x0) * 4] = bytes(rgba) * (x1 - x0)

    def blend(self, x, y, rgba, coverage=1.0):
        """Draws one pixel over what is there (straight alpha)."""
        if not (0 <= x < self.width and 0 <= y < self.height):
            return
        a = rgba[3] / 255.0 * coverage
        if a <= 0:
            return
        i = (y * self.width + x) * 4
        da = self.px[i + 3] / 255.0
        out = a + da * (1 - a)
        for c in range(3):
            v = (rgba[c] * a + self.px[i + c] * da * (1 - a)) / out
            self.px[i + c] = int(v + 0.5)
        self.px[i + 3] = int(out * 255 + 0.5)

    def rect(self, x, y, w, h, rgba):
        for row in range(y, y + h):
            self.span(row, x, x + w, rgba)

    def gradient(self, x, y, w, h, top, bottom):
        for row in range(h):
            t = row / max(h - 1, 1)
            self.span(y + row, x, x + w,
                      tuple(int(a + (b - a) * t + 0.5) for a, b in zip(top, bottom)))

    def rounded(self, x, y, w, h, r, top, bottom=None):
        """A rounded rectangle shaded from top to bottom. Whole rows are set
        (replacing what is there); the rows with corners are blended, with
        the corner edges smoothed."""
        bottom = bottom or top
        for row in range(h):
            t = row / max(h - 1, 1)
            colour = tuple(int(a + (b - a) * t + 0.5) for a, b in zip(top, bottom))
            if r <= row < h - r:
                self.span(y + row, x, x + w, colour)
                continue
            py = row + 0.5
            cy = min(max(py, r), h - r)
            for col in range(w):
                px = col + 0.5
                cx = min(max(px, r), w - r)
                d = ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5
                self.blend(x + col, y + row, colour, max(0.0, min(1.0, r - d + 0.5)))

    def frame(self, x, y, w, h, rgba):
        self.rect(x, y, w, 1, rgba)
        self.rect(x, y + h - 1, w, 1, rgba)
        self.rect(x, y, 1, h, rgba)
        self.rect(x + w - 1, y, 1, h, rgba)

    def text(self, x, y, s, rgba, scale=1):
        """Upper-case letters, digits and a few signs in a 5 x 7 pixel font."""
        for ch in s.upper():
            rows = FONT.get(ch, FONT[" "])
            for r, bits in enumerate(rows):
                for c in range(5):
                    if bits & (0x10 >> c):
                        self.rect(x + c * scale, y + r * scale, scale, scale, rgba)
            x += 6 * scale

    def paste(self, other, x, y):
        for row in range(other.height):
            i = row * other.width * 4
            j = ((y + row) * self.width + x) * 4
            self.px[j:j + other.width * 4] = other.px[i:i + other.width * 4]

    def png(self):
        return png_bytes(self.width, self.height, self.px)


def text_width(s, scale=1):
    return (6 * len(s) - 1) * scale


FONT = {
    " ": [0, 0, 0, 0, 0, 0, 0],
    "A": [14, 17, 17, 31, 17, 17, 17], "B": [30, 17, 17, 30, 17, 17, 30],
    "C": [14, 17, 16, 16, 16, 17, 14], "D": [30, 17, 17, 17, 17, 17, 30],
    "E": [31, 16, 16, 30, 16, 16, 31], "F": [31, 16, 16, 30, 16, 16, 16],
    "G": [14, 17, 16, 23, 17, 17, 15], "H": [17, 17, 17, 31, 17, 17, 17],
    "I": [14, 4, 4, 4, 4, 4, 14], "K": [17, 18, 20, 24, 20, 18, 17],
    "L": [16, 16, 16, 16, 16, 16, 31], "M": [17, 27, 21, 21, 17, 17, 17],
    "N": [17, 25, 21, 19, 17, 17, 17], "O": [14, 17, 17, 17, 17, 17, 14],
    "P": [30, 17, 17, 30, 16, 16, 16], "R": [30, 17, 17, 30, 20, 18, 17],
    "S": [15, 16, 16, 14, 1, 1, 30], "T": [31, 4, 4, 4, 4, 4, 4],
    "U": [17, 17, 17, 17, 17, 17, 14], "V": [17, 17, 17, 17, 17, 10, 4],
    "W": [17, 17, 17, 21, 21, 21, 10], "X": [17, 17, 10, 4, 10, 17, 17],
    "Y": [17, 17, 10, 4, 4, 4, 4],
    "0": [14, 17, 19, 21, 25, 17, 14], "1": [4, 12, 4, 4, 4, 4, 14],
    "2": [14, 17, 1, 2, 4, 8, 31], "-": [0, 0, 0, 31, 0, 0, 0],
    "_": [0, 0, 0, 0, 0, 0, 31], "+": [0, 4, 4, 31, 4, 4, 0],
    "=": [0, 0, 31, 0, 31, 0, 0], ".": [0, 0, 0, 0, 0, 12, 12],
}

WHITE = (250, 250, 250, 255)  # not pure white: the update dialog keys pure white out
GOLD = (255, 204, 102, 255)
BLUE_TOP, BLUE_BOTTOM = (64, 128, 196, 255), (28, 72, 128, 255)
PRESSED_TOP, PRESSED_BOTTOM = (24, 60, 110, 255), (48, 100, 160, 255)


def button(w, h, label, pressed=False, top=BLUE_TOP, bottom=BLUE_BOTTOM, scale=2):
    c = Canvas(w, h)
    if pressed:
        top, bottom = PRESSED_TOP, PRESSED_BOTTOM
    c.rounded(0, 0, w, h, min(6, h // 3), top, bottom)
    shift = 1 if pressed else 0
    while text_width(label, scale) > w - 4 and scale > 1:
        scale -= 1
    c.text((w - text_width(label, scale)) // 2 + shift, (h - 7 * scale) // 2 + shift,
           label, WHITE, scale)
    return c


# ---------------------------------------------------------------------------
# The demo's images. Sizes and positions follow demo/package/config/cg.txt.

LOGIN_SIZE = (765, 590)
LOGIN_PAGE = (22, 62, 721, 446)      # [link5], the embedded login page
LOGIN_BUTTONS = ["HOME", "REGISTER", "FORUM", "SERVICE"]  # [link1] ... [link4]
LINK_BUTTON_SIZE = (120, 36)
WINDOW_BUTTON_SIZE = (28, 22)        # [link6] close, [link7] minimise
RESTART_IMAGE = 8                    # [gamePic19] count
UPDATE_SIZE = (500, 300)
PROGRESS = (40, 200, 460, 218)       # [gamePic17], left top right bottom


def draw_login():
    w, h = LOGIN_SIZE
    c = Canvas(w, h)
    # Translucent rim, then the opaque body inside it.
    c.rounded(0, 0, w, h, 16, (40, 90, 150, 150), (20, 50, 90, 150))
    c.rounded(6, 6, w - 12, h - 12, 11, (22, 34, 54, 255), (12, 18, 30, 255))
    # Title band, rounded at the top like the body.
    c.rounded(6, 6, w - 12, 60, 11, (58, 112, 170, 255), (24, 48, 80, 255))
    c.rect(6, 50, w - 12, 16, (22, 34, 54, 255))
    c.rect(6, 50, w - 12, 1, (120, 170, 220, 255))
    c.text(22, 17, "LAUNCHER DEMO", WHITE, 3)
    # Where the login page sits, with a faint frame around it.
    x, y, pw, ph = LOGIN_PAGE
    c.frame(x - 1, y - 1, pw + 2, ph + 2, (90, 130, 180, 255))
    c.rect(x, y, pw, ph, (8, 12, 20, 255))
    c.text(x + 20, y + 20, "LOGIN PAGE", (70, 90, 120, 255), 2)
    # Button row.
    c.rect(20, 518, w - 40, 1, (60, 90, 130, 255))
    return c


def draw_style():
    c = Canvas(320, 128)
    labels = {2: "=", 3: "-", 4: "_", 5: "+", 6: "2", 7: "X"}
    # Three states stacked downwards, in the order the game window hands them to its
    # buttons: normal, pressed, hover.
    for state in range(3):
        oy = state * 23
        top = [BLUE_TOP, PRESSED_TOP, (96, 160, 224, 255)][state]
        bottom = [BLUE_BOTTOM, PRESSED_BOTTOM, (50, 100, 160, 255)][state]
        # Picture 1: text button (the window draws the caption); 8: top-up.
        c.paste(button(64, 22, "", pressed=state == 1, top=top, bottom=bottom), 0, oy)
        c.paste(button(72, 22, "", top=(230, 150, 40, 255), bottom=(180, 90, 10, 255))
                if state != 1 else button(72, 22, "", pressed=True), 214, oy)
        for pic, label in labels.items():
            c.paste(button(22, 20, label, pressed=state == 1, top=top, bottom=bottom, scale=1),
                    70 + (pic - 2) * 24, oy)
    # Pictures 9 to 16: the frame pieces.
    band_top, band_bottom = (58, 112, 170, 255), (30, 66, 108, 255)
    c.gradient(0, 72, 6, 27, band_top, band_bottom)      # 9 top-left
    c.gradient(8, 72, 16, 27, band_top, band_bottom)     # 10 top edge
    c.gradient(26, 72, 6, 27, band_top, band_bottom)     # 11 top-right
    c.rect(34, 72, 3, 16, (30, 66, 108, 255))            # 12 left
    c.rect(39, 72, 3, 16, (30, 66, 108, 255))            # 13 right
    c.rect(44, 72, 4, 5, (30, 66, 108, 255))             # 14 bottom-left
    c.rect(50, 72, 16, 3, (30, 66, 108, 255))            # 15 bottom
    c.rect(68, 72, 4, 5, (30, 66, 108, 255))             # 16 bottom-right
    c.rect(0, 72, 1, 27, (120, 170, 220, 255))
    c.rect(31, 72, 1, 27, (120, 170, 220, 255))
    # Picture 18: the progress bar's fill tile.
    c.gradient(80, 72, 8, 18, (255, 180, 60, 255), (200, 100, 20, 255))
    return c


def draw_logo():
    c = Canvas(110, 24)
    c.rounded(0, 2, 20, 20, 10, (255, 204, 102, 255), (200, 120, 30, 255))
    c.text(26, 5, "DEMO", GOLD, 2)
    return c


def draw_update():
    w, h = UPDATE_SIZE
    c = Canvas(w, h, (255, 255, 255, 255))  # pure white is keyed out by the dialog
    c.rounded(0, 0, w, h, 14, (40, 90, 150, 255), (20, 50, 90, 255))
    c.rounded(4, 4, w - 8, h - 8, 10, (22, 34, 54, 255), (12, 18, 30, 255))
    c.rounded(4, 4, w - 8, 44, 10, (58, 112, 170, 255), (24, 48, 80, 255))
    c.rect(4, 36, w - 8, 12, (22, 34, 54, 255))
    c.text(16, 12, "UPDATE", WHITE, 2)
    c.rect(40, 44, w - 80, 32, (8, 12, 20, 255))            # behind the tip line
    left, top, right, bottom = PROGRESS
    c.frame(left - 1, top - 1, right - left + 2, bottom - top + 2, (90, 130, 180, 255))
    c.rect(left, top, right - left, bottom - top, (11, 11, 4, 255))
    return c


def images():
    """{file name: Canvas} of every image."""
    drawn = {
        "main1.png": draw_login(),
        "style.png": draw_style(),
        "logo.png": draw_logo(),
        "update.png": draw_update(),
    }
    for n, label in enumerate(LOGIN_BUTTONS, 1):
        drawn["%d_n.png" % n] = button(*LINK_BUTTON_SIZE, label)
        drawn["%d_d.png" % n] = button(*LINK_BUTTON_SIZE, label, pressed=True)
    for n, label in ((6, "X"), (7, "_")):
        drawn["%d_n.png" % n] = button(*WINDOW_BUTTON_SIZE, label)
        drawn["%d_d.png" % n] = button(*WINDOW_BUTTON_SIZE, label, pressed=True)
    drawn["%d_n.png" % RESTART_IMAGE] = button(80, 28, "RETRY")
    drawn["%d_d.png" % RESTART_IMAGE] = button(80, 28, "RETRY", pressed=True)
    return drawn


def draw_all(out_dir):
    drawn = images()
    folder = os.path.join(out_dir, "config")
    os.makedirs(folder, exist_ok=True)
    for name in sorted(drawn):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(drawn[name].png())
    return sorted(drawn)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv == ["--list"]:
        # The files it writes, relative to OUT_DIR (for the build system).
        print(";".join("config/" + n for n in sorted(images())))
        return 0
    if len(argv) != 1 or argv[0].startswith("-"):
        print("usage: draw_skins.py OUT_DIR  |  draw_skins.py --list", file=sys.stderr)
        return 2
    try:
        names = draw_all(argv[0])
    except OSError as e:
        print("draw_skins: error: %s: %s" % (e.filename or argv[0], e.strerror), file=sys.stderr)
        return 1
    print("wrote %d images to %s" % (len(names), os.path.join(argv[0], "config")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
