"""Tests of the content publisher: AES, the game frame, the dictionary, the hash key
and the refusals of bad input."""

import contextlib
import io
import os
import re
import struct
import tempfile
import unittest
import zipfile
import zlib

import make_test_swf
import publish_content as pc

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(TOOLS)
DEMO_CONFIG = os.path.join(REPO, "demo", "package", "config", "cg.txt")

PLAIN = bytes.fromhex("00112233445566778899aabbccddeeff")
# FIPS-197 Appendix C.1 to C.3: key, ciphertext of PLAIN.
FIPS_VECTORS = (
    ("000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"),
    ("000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"),
    ("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "8ea2b7ca516745bfeafc49904b496089"),
)
KEY = b"TestFrameKey0016"


def run_tool(*argv):
    """(exit status, stdout, stderr) of the tool's main."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = pc.main([str(a) for a in argv])
    return status, out.getvalue(), err.getvalue()


def launcher_hash_key(text):
    """The two numbers as the launcher reads the hash key: the text before the first
    space, then the run of digits after the spaces, each kept to its low 32 bits."""
    first, _, rest = text.partition(b" ")
    digits = re.match(rb"\d*", rest.lstrip(b" ")).group()
    return int(first) & 0xFFFFFFFF, int(digits or b"0") & 0xFFFFFFFF


class AesTests(unittest.TestCase):
    def test_fips_197_examples(self):
        for key, cipher_text in FIPS_VECTORS:
            with self.subTest(bits=len(key) * 4):
                key = bytes.fromhex(key)
                self.assertEqual(pc.aes_ecb(key, PLAIN).hex(), cipher_text)
                self.assertEqual(pc.aes_ecb(key, bytes.fromhex(cipher_text), decrypt=True),
                                 PLAIN)

    def test_ecb_encrypts_each_block_alone_and_leaves_out_the_tail(self):
        key, cipher_text = (bytes.fromhex(v) for v in FIPS_VECTORS[0])
        self.assertEqual(pc.aes_ecb(key, PLAIN * 3 + b"tail"), cipher_text * 3)
        self.assertEqual(pc.aes_ecb(key, cipher_text * 2 + b"tail", decrypt=True), PLAIN * 2)

    def test_key_lengths_other_than_16_24_32_are_refused(self):
        for length in (0, 15, 17, 31, 33, 64):
            with self.subTest(length=length), self.assertRaises(ValueError):
                pc.aes_ecb(bytes(length), PLAIN)


class FrameTests(unittest.TestCase):
    def test_frame_key_table_is_the_launchers(self):
        with open(os.path.join(REPO, "src", "server", "scramble.cpp")) as f:
            source = f.read()
        words = re.search(r"kFrameKeyTable\[4\]\s*=\s*\{([^}]*)\}", source).group(1)
        self.assertEqual(tuple(int(w.strip().rstrip("uU"), 16) for w in words.split(",")),
                         pc.FRAME_KEY_TABLE)

    def test_decryption_gives_back_the_movie(self):
        for length in (0, 3, 4, 15, 16, 17, 20, 31, 32, 33, 1000):
            data = bytes((i * 37 + 11) & 0xFF for i in range(length))
            with self.subTest(length=length):
                frame = pc.encrypt_frame(data, KEY)
                self.assertEqual(len(frame), length)
                self.assertEqual(pc.decrypt_frame(frame, KEY), data)

    def test_blocks_are_encrypted_and_the_tail_only_xored(self):
        data = bytes(range(20))
        frame = pc.encrypt_frame(data, KEY)
        mixed = pc.xor_frame_key(data)
        self.assertEqual(frame[:16], pc.aes_ecb(KEY, mixed[:16]))
        # The tail: one whole word XORed with the table word 0, nothing else.
        self.assertEqual(struct.unpack("<I", frame[16:])[0],
                         struct.unpack("<I", data[16:])[0] ^ pc.FRAME_KEY_TABLE[0])
        self.assertEqual(pc.encrypt_frame(b"abc", KEY), b"abc")

    def test_another_key_does_not_decrypt(self):
        frame = pc.encrypt_frame(bytes(64), KEY)
        self.assertNotEqual(pc.decrypt_frame(frame, b"AnotherKey000016"), bytes(64))


class PublishFixture:
    """A movie and a resources folder in a temporary directory."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.dir = self.tmp.name
        self.movie = os.path.join(self.dir, "game.swf")
        self.movie_bytes = make_test_swf.make_swf(320, 240, 24, 13)
        with open(self.movie, "wb") as f:
            f.write(self.movie_bytes)
        self.resources = os.path.join(self.dir, "res")
        self.out = os.path.join(self.dir, "out")
        self.files = {}

    def add(self, name, data):
        path = os.path.join(self.resources, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.files[name] = data

    def read_out(self, name):
        with open(os.path.join(self.out, name), "rb") as f:
            return f.read()

    def publish(self, *options):
        status, out, err = run_tool("--movie", self.movie, "--resources", self.resources,
                                    "-o", self.out, "--quiet", *options)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, "")


class PublishTests(PublishFixture, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.add("ui/button.png", bytes(range(256)) * 3)
        self.add("maps/第一关.cbp", b"map data " * 50)
        self.add("data/config.txt", b"")
        self.add("sound/theme.wf", b"wave")   # "wf" occurs inside "swf": listed
        self.add("script.JS", b"upper case extension")

    def expected_value(self, name, data, suffixes="cbp,swf,zip,txt,dat"):
        ext = name.rsplit(".", 1)[1]
        return zlib.crc32(data) & 0xFFFFFFFF if ext in suffixes else len(data)

    def test_dictionary_archive_resources_and_hash_key(self):
        self.publish("--key", KEY.decode())
        dictionary = self.read_out("hashdict.txt")
        records = pc.read_dictionary(dictionary)
        self.assertEqual([n for n, _ in records], sorted(n.encode() for n in self.files))
        for name, value in records:
            name = name.decode("utf-8")
            with self.subTest(name=name):
                self.assertEqual(value, self.expected_value(name, self.files[name]))
                self.assertEqual(self.read_out(name), self.files[name])
        # The record layout itself: length byte, name, little-endian value.
        first = b"data/config.txt"
        self.assertEqual(dictionary[:1 + len(first) + 4],
                         bytes((len(first),)) + first + struct.pack("<I", 0))

        with zipfile.ZipFile(os.path.join(self.out, "hashdict.zip")) as z:
            self.assertEqual(z.namelist(), ["hashdict.txt"])
            self.assertEqual(z.read("hashdict.txt"), dictionary)

        frame = self.read_out("GameFrame.dat")
        self.assertEqual(pc.decrypt_frame(frame, KEY), self.movie_bytes)
        self.assertEqual(launcher_hash_key(self.read_out("hashkey.txt")),
                         (zlib.crc32(frame), zlib.crc32(dictionary)))

    def test_unlisted_names_are_checked_by_size(self):
        self.publish("--key", KEY.decode(), "--suffix", "png", "--frame", "game.bin",
                     "--dictionary", "dict.lst", "--archive", "dict.zip", "--hash-key", "key.txt")
        records = dict(pc.read_dictionary(self.read_out("dict.lst")))
        self.assertEqual(records[b"ui/button.png"], zlib.crc32(self.files["ui/button.png"]))
        self.assertEqual(records["maps/第一关.cbp".encode()], 450)
        self.assertEqual(launcher_hash_key(self.read_out("key.txt")),
                         (len(self.movie_bytes), len(self.read_out("dict.lst"))))
        with zipfile.ZipFile(os.path.join(self.out, "dict.zip")) as z:
            self.assertEqual(z.namelist(), ["dict.lst"])
        self.assertFalse(os.path.exists(os.path.join(self.out, "hashkey.txt")))

    def test_settings_from_a_package_configuration(self):
        self.publish("--config", DEMO_CONFIG)
        frame = self.read_out("GameFrame.dat")
        self.assertEqual(pc.decrypt_frame(frame, b"DemoFrameKey2024"), self.movie_bytes)
        # An option wins over the configuration.
        self.publish("--config", DEMO_CONFIG, "--dictionary", "other.txt")
        with zipfile.ZipFile(os.path.join(self.out, "hashdict.zip")) as z:
            self.assertEqual(z.namelist(), ["other.txt"])

    def test_the_same_input_gives_the_same_bytes(self):
        self.publish("--key", KEY.decode())
        first = {n: self.read_out(n) for n in ("hashdict.zip", "GameFrame.dat", "hashkey.txt")}
        self.publish("--key", KEY.decode())
        self.assertEqual({n: self.read_out(n) for n in first}, first)


class RefusalTests(PublishFixture, unittest.TestCase):
    def refuse(self, expected, *options, movie=None):
        status, out, err = run_tool("--movie", movie or self.movie, "--resources", self.resources,
                                    "-o", self.out, *options)
        self.assertEqual(status, 1)
        self.assertIn(expected, err)
        self.assertTrue(err.startswith("publish_content: error: "), err)
        self.assertNotIn("Traceback", err)
        self.assertFalse(os.path.exists(self.out), "something was written")

    def test_bad_settings_and_inputs(self):
        self.add("a.txt", b"a")
        not_swf = os.path.join(self.dir, "movie.swf")
        with open(not_swf, "wb") as f:
            f.write(b"GIF89a not a movie")
        cases = (
            ("needs exactly 16", ("--key", "fifteen bytes!!"), None),
            ("needs exactly 16", ("--key", "seventeen bytes!!"), None),
            ("has 18 bytes", ("--key", "密钥密钥密钥"), None),
            ("no SWF file", (), not_swf),
            ("does not exist", (), os.path.join(self.dir, "missing.swf")),
            ("cannot read", ("--config", os.path.join(self.dir, "missing.txt")), None),
            ("no extension", ("--frame", "GameFrame"), None),
            ("same name", ("--dictionary", "x.txt", "--hash-key", "X.txt"), None),
            ("launcher keeps at most 31", ("--archive", "a" * 28 + ".zip"), None),
        )
        for expected, options, movie in cases:
            with self.subTest(options=options, movie=movie):
                self.refuse(expected, *options, movie=movie)

    def test_names_the_dictionary_or_the_cache_cannot_hold(self):
        cases = (
            ("x" * 124 + ".png", "at most 127"),
            ("what?.png", "cannot carry"),
            ("with space.png", "cannot carry"),
            ("100%.png", "cannot carry"),
            ("a:b.png", "cannot carry"),
            ("LICENSE", "no extension"),
            ("dir./a.png", "Windows drops"),
            ("aux.txt", "device name"),
            ("data/com0.dat", "device name"),
            ("LPT\u00b2.txt", "device name"),
            ("conin$.txt", "device name"),
            ("del\x7f.png", "cannot carry"),
            ("data/LAUNCH~1.png", "short name"),
            ("HashDict.txt", "Windows does not tell it from the dictionary"),
            ("launcher_update.bat", "the launcher keeps in its cache"),
        )
        for name, expected in cases:
            with self.subTest(name=name):
                self.add(name, b"data")
                self.refuse(expected, "--key", KEY.decode())
                os.unlink(os.path.join(self.resources, *name.split("/")))

    def test_names_of_the_launchers_downloaded_executables(self):
        # The demo package's exeUrl ends in Launcher_new.exe.
        for name in ("12345Launcher_new.exe", "-7launcher_NEW.exe"):
            with self.subTest(name=name):
                self.add(name, b"data")
                self.refuse("downloaded new executables", "--config", DEMO_CONFIG)
                os.unlink(os.path.join(self.resources, name))
        self.add("Launcher_new.exe", b"no number")
        self.add("bin/12345Launcher_new.exe", b"in a folder")
        self.publish("--config", DEMO_CONFIG)

    def test_names_that_differ_only_in_letter_case(self):
        self.add("Map.png", b"1")
        self.add("map.PNG", b"2")
        self.refuse("Windows does not tell it from", "--key", KEY.decode())

    def test_missing_or_empty_resources_folder(self):
        self.refuse("does not exist", "--key", KEY.decode())
        os.makedirs(self.resources)
        self.refuse("holds no files", "--key", KEY.decode())

    def test_output_or_movie_inside_the_resources(self):
        self.add("a.txt", b"a")
        self.add("game.swf", self.movie_bytes)
        self.refuse("published unencrypted", "--key", KEY.decode(),
                    movie=os.path.join(self.resources, "game.swf"))
        self.out = os.path.join(self.resources, "published")
        self.refuse("must not lie inside", "--key", KEY.decode())

    def test_every_bad_name_is_named_on_one_line(self):
        self.add("a b.png", b"1")
        self.add("LICENSE", b"2")
        status, _, err = run_tool("--movie", self.movie, "--resources", self.resources,
                                  "-o", self.out, "--key", KEY.decode())
        self.assertEqual(status, 1)
        self.assertEqual(len(err.splitlines()), 1)
        self.assertIn("a b.png", err)
        self.assertIn("LICENSE", err)


if __name__ == "__main__":
    unittest.main()
