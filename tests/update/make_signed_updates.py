#!/usr/bin/env python3
"""Signed updates for the self-update tests, made with Debian's minisign into OUT: the
new executable, a release key and another key, the release key's text for updateKey
(update_key.txt), and one signature file per case. The keys are made anew at every build
and stay in the build tree.

    make_signed_updates.py OUT
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from minisign_cli import SigningKey  # noqa: E402

EXECUTABLE = "Launcher_new.exe"
# Signature file name: (key, trusted comment, legacy format). The tests' launcher is at
# 1.11 and the version file says 1.12.
SIGNATURES = {
    "genuine.minisig": ("release", "timestamp:1700000000\tversion:1.12\tfile:Launcher_new.exe", False),
    "legacy.minisig": ("release", "version:1.12", True),
    "other_key.minisig": ("other", "version:1.12", False),
    "older.minisig": ("release", "version:1.10", False),
    "same_as_own.minisig": ("release", "version:1.11", False),
    "later.minisig": ("release", "version:1.13", False),
    "no_version.minisig": ("release", "timestamp:1700000000\tfile:Launcher_new.exe", False),
}


def main(argv):
    if len(argv) != 1:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    out = argv[0]
    os.makedirs(out, exist_ok=True)
    exe = os.path.join(out, EXECUTABLE)
    with open(exe, "wb") as f:
        f.write(b"MZ signed new launcher\r\n" + bytes(range(256)) * 64)
    keys = {name: SigningKey(out, name) for name in ("release", "other")}
    with open(os.path.join(out, "update_key.txt"), "w", encoding="ascii") as f:
        f.write(keys["release"].public)
    for signature, (key, comment, legacy) in SIGNATURES.items():
        keys[key].sign(exe, comment, os.path.join(out, signature), legacy)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
