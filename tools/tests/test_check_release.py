"""Tests of the release check: releases signed with Debian's minisign, checked the way
the launcher checks them, and the formats it refuses."""

import base64
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import check_release
import minisign_format as fmt
from minisign_cli import SigningKey

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = b"MZ new launcher \x00\x01\x02\xff" * 100


def signature_of(key, path, comment, legacy=False):
    with open(key.sign(path, comment, legacy=legacy), "rb") as f:
        return f.read()


class ReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp()
        cls.key = SigningKey(cls.dir, "release")
        cls.other = SigningKey(cls.dir, "other")
        cls.exe = os.path.join(cls.dir, "Launcher_new.exe")
        with open(cls.exe, "wb") as f:
            f.write(EXE)
        cls.signed = signature_of(cls.key, cls.exe, "version:1.12")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def refusal(self, exe=EXE, signature=None, key=None, published="1.12", launcher="1.11"):
        try:
            check_release.check_release(exe, self.signed if signature is None else signature,
                                        key or self.key.public, published, launcher)
        except check_release.Refusal as e:
            return str(e)
        return None

    def test_signatures_made_by_minisign_pass(self):
        cases = [("hashed", "version:1.12", False),
                 ("legacy", "version:1.12", True),
                 ("among other fields", "timestamp:1700000000\tversion:1.12\tfile:Launcher_new.exe", False)]
        for name, comment, legacy in cases:
            with self.subTest(name):
                signature = signature_of(self.key, self.exe, comment, legacy)
                self.assertEqual(fmt.parse_signature(signature).hashed, not legacy)
                self.assertIsNone(self.refusal(signature=signature))
        crlf = self.signed.replace(b"\n", b"\r\n")
        self.assertIsNone(self.refusal(signature=crlf))
        self.assertIsNone(self.refusal(signature=self.signed.rstrip(b"\n")))

    def test_what_the_launcher_refuses(self):
        tampered = bytearray(EXE)
        tampered[500] ^= 1
        lines = self.signed.split(b"\n")
        changed_comment = b"\n".join(lines[:2] + [b"trusted comment: version:1.13"] + lines[3:])
        cases = [
            ("tampered executable", dict(exe=bytes(tampered)), "does not match the executable"),
            ("another key", dict(signature=signature_of(self.other, self.exe, "version:1.12")), "another key"),
            ("comment changed", dict(signature=changed_comment), "trusted comment does not verify"),
            ("older version", dict(signature=signature_of(self.key, self.exe, "version:1.10")),
             "signed as version 1.10, the version file says 1.12"),
            ("no version", dict(signature=signature_of(self.key, self.exe, "timestamp:1")), "names no version"),
            ("two versions", dict(signature=signature_of(self.key, self.exe, "version:1.12 version:1.12")),
             "names no version"),
            ("not newer than the launcher", dict(published="1.11", signature=signature_of(
                self.key, self.exe, "version:1.11")), "not newer than the launcher's 1.11"),
            ("malformed key", dict(key=self.key.public[:-4]), "not a minisign public key"),
            ("no signature file", dict(signature=b""), "does not have four lines"),
            ("empty executable", dict(exe=b""), "empty"),
        ]
        for name, arguments, reason in cases:
            with self.subTest(name):
                refused = self.refusal(**arguments)
                self.assertIsNotNone(refused)
                self.assertIn(reason, refused)

    def test_versions_read_like_the_version_file(self):
        cases = [("1.12", (1, 12)), ("1.12.5\r\n", (1, 12)), ("..7..8", (7, 8)), ("v1.2", (0, 2)),
                 ("2", (2, 0)), ("", (0, 0)), ("1.2\x009.9", (1, 2)), ("99999999999.1", (2147483647, 1))]
        for text, version in cases:
            with self.subTest(text):
                self.assertEqual(check_release.parse_version(text), version)
        # The signature and the version file agree when they read the same.
        signature = signature_of(self.key, self.exe, "version:1.12.7")
        self.assertIsNone(self.refusal(signature=signature, published="1.12\n"))

    def test_command_line(self):
        tool = os.path.join(TOOLS, "check_release.py")
        ok = subprocess.run([sys.executable, tool, "--exe", self.exe, "--public-key-file", self.key.public_file,
                             "--version", "1.12", "--launcher-version", "1.11"],
                            capture_output=True, text=True)
        self.assertEqual(ok.returncode, 0, ok.stderr)
        # The key id as minisign names it in the public key file.
        self.assertIn("signed with key id %s as version 1.12" % self.key.key_id, ok.stdout)
        refused = subprocess.run([sys.executable, tool, "--exe", self.exe, "--public-key",
                                  self.other.public, "--version", "1.12"],
                                 capture_output=True, text=True)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("refused: the signature was made with another key", refused.stderr)


class FormatTest(unittest.TestCase):
    """Signature files broken in one way each, from a well-formed one."""

    KEY_ID = bytes(range(1, 9))
    GOOD = (b"untrusted comment: signature from minisign secret key\n"
            + base64.b64encode(b"ED" + KEY_ID + b"\x11" * 64) + b"\n"
            + b"trusted comment: version:1.12\n"
            + base64.b64encode(b"\x22" * 64) + b"\n")

    def line(self, n, text):
        lines = self.GOOD.split(b"\n")
        lines[n - 1] = text
        return b"\n".join(lines)

    def test_signature_files(self):
        parsed = fmt.parse_signature(self.GOOD)
        self.assertEqual((parsed.hashed, parsed.key_id, parsed.trusted_comment),
                         (True, self.KEY_ID, b"version:1.12"))
        cases = [
            ("three lines", self.GOOD.split(b"\n", 3)[0] + b"\n", "four lines"),
            ("a fifth line", self.GOOD + b"\n", "more than four lines"),
            ("lone CR", self.line(3, b"trusted comment: version:\r1.12"), "control character"),
            ("NUL in a comment", self.line(1, b"untrusted comment: a\x00b"), "control character"),
            ("no untrusted comment", self.line(1, b"comment: x"), "line 1"),
            ("no trusted comment", self.line(3, b"version:1.12"), "line 3"),
            ("short signature", self.line(2, base64.b64encode(b"ED" + self.KEY_ID + b"\x11" * 63)), "line 2"),
            ("padding missing", self.line(2, base64.b64encode(b"ED" + self.KEY_ID + b"\x11" * 64)[:-1]),
             "line 2"),
            ("space in base64", self.line(4, b" " + base64.b64encode(b"\x22" * 64)[1:]), "line 4"),
            ("unused bits set", self.line(4, base64.b64encode(b"\x22" * 64)[:-3] + b"j=="), "line 4"),
            ("unknown algorithm", self.line(2, base64.b64encode(b"EX" + self.KEY_ID + b"\x11" * 64)),
             "neither ED nor Ed"),
            ("larger than 1 MiB", self.line(1, b"untrusted comment: " + b"x" * (1 << 20)), "1 MiB"),
        ]
        for name, data, reason in cases:
            with self.subTest(name):
                with self.assertRaises(fmt.FormatError) as caught:
                    fmt.parse_signature(data)
                self.assertIn(reason, str(caught.exception))

    def test_public_keys(self):
        good = base64.b64encode(b"Ed" + self.KEY_ID + b"\x33" * 32)
        self.assertEqual(fmt.parse_public_key(good).key_id, self.KEY_ID)
        for name, text in [("ED", base64.b64encode(b"ED" + self.KEY_ID + b"\x33" * 32)),
                           ("short", base64.b64encode(b"Ed" + self.KEY_ID + b"\x33" * 31)),
                           ("trailing newline", good + b"\n"),
                           ("not ASCII", "RWQ密" + good.decode()[4:])]:
            with self.subTest(name):
                with self.assertRaises(fmt.FormatError):
                    fmt.parse_public_key(text)


if __name__ == "__main__":
    unittest.main()
