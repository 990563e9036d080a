#!/usr/bin/env python3
"""Writes the fixture of published_content_tests: a plain movie and resources, and what
the content publisher makes of them with the demo package's settings.

    published_fixture.py OUT_DIR

OUT_DIR/plain/movie.swf, OUT_DIR/plain/res/<names>, OUT_DIR/names.txt (one resource
name a line, UTF-8) and OUT_DIR/published/ (the publisher's output).
"""
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools"))

import make_test_swf  # noqa: E402
import publish_content  # noqa: E402

CONFIG = os.path.join(REPO, "demo", "package", "config", "cg.txt")


def pattern(n, seed):
    return bytes((i * 31 + seed * 7 + (i >> 8)) & 0xFF for i in range(n))


# Listed and unlisted extensions, a name with "wf" (listed inside "swf"), sizes below,
# at and above the 256 scrambled bytes, a file whose CRC-32 has its top bit set, an
# empty file, nested folders and a name that is not ASCII.
RESOURCES = {
    "ui/panel.png": pattern(1000, 1),
    "ui/font.cbp": pattern(256, 2),
    "maps/第一关/terrain.cbp": pattern(4099, 3),
    "data/items.txt": "长剑,盾牌,药水\n".encode("utf-8") * 20,
    "data/empty.dat": b"",
    "sound/theme.wf": pattern(10, 4),
    "modules/battle.swf": make_test_swf.make_swf(100, 100, 12, 3),
}


def main(argv):
    if len(argv) != 1:
        print("usage: published_fixture.py OUT_DIR", file=sys.stderr)
        return 2
    out = argv[0]
    if os.path.isdir(out):
        shutil.rmtree(out)
    res = os.path.join(out, "plain", "res")
    for name, data in RESOURCES.items():
        path = os.path.join(res, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    movie = os.path.join(out, "plain", "movie.swf")
    # 5 frames give a movie whose length is no multiple of 16, so a tail is left over.
    with open(movie, "wb") as f:
        f.write(make_test_swf.make_swf(640, 480, 30, 5, background=0x336699))
    with open(os.path.join(out, "names.txt"), "wb") as f:
        f.write("".join(name + "\n" for name in sorted(RESOURCES)).encode("utf-8"))
    return publish_content.main(["--config", CONFIG, "--movie", movie, "--resources", res,
                                 "-o", os.path.join(out, "published"), "--quiet"])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
