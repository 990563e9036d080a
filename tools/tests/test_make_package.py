"""Tests of the package tool: the configuration reader, the checks, appending
to PE executables, and the demo package with its drawn skins."""

import base64
import contextlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

import draw_skins
import launcher_ini as ini
import make_package
import package_check

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(TOOLS)
DEMO_PACKAGE = os.path.join(REPO, "demo", "package")

TINY_PNG = draw_skins.png_bytes(1, 1, b"\x10\x20\x30\xff")
GOOD_CONFIG = b"[global]\nlinkCount=1\n[link1]\ntype=4\nurl=http://127.0.0.1/\n"


# ---------------------------------------------------------------------------
# Fixtures

def pe_image(plus=False, sections=((0x200, 0x200), (0x400, 0x200)), tail=b"",
             symbols=None, certificate=None, addresses=None):
    """A minimal PE image: DOS header, NT headers with a standard optional
    header (PE32 or PE32+), and sections at the given raw offsets and sizes.
    symbols = (offset, count, string table size) fills the COFF symbol fields;
    certificate = (offset, size) fills the security directory; addresses are the
    sections' virtual addresses (by default rising in table order)."""
    nt = 0x80
    optional_size = 240 if plus else 224
    n = len(sections)
    body_end = max(off + size for off, size in sections)
    data = bytearray(max(body_end, 0x200))
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, nt)
    data[nt:nt + 4] = b"PE\0\0"
    sym_offset, sym_count = (symbols[0], symbols[1]) if symbols else (0, 0)
    struct.pack_into("<HHIIIHH", data, nt + 4, 0x8664 if plus else 0x14C, n, 0,
                     sym_offset, sym_count, optional_size, 0x0102)
    opt = nt + 24
    struct.pack_into("<H", data, opt, 0x20B if plus else 0x10B)
    directories = opt + (112 if plus else 96)
    struct.pack_into("<I", data, directories - 4, 16)
    if certificate:
        struct.pack_into("<II", data, directories + 8 * 4, *certificate)
    table = opt + optional_size
    for i, (off, size) in enumerate(sections):
        h = table + 40 * i
        data[h:h + 8] = (".s%d" % i).encode().ljust(8, b"\0")
        address = addresses[i] if addresses else 0x1000 * (i + 1)
        struct.pack_into("<IIII", data, h + 8, size, address, size, off)
        data[off:off + size] = bytes([0x90 + i]) * size
    return bytes(data) + tail


def package_offset(data):
    """Where the launcher looks for its package, computed the way it does:
    the last section header after the optional header, raw offset + size."""
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, nt + 6)[0]
    optional_size = struct.unpack_from("<H", data, nt + 20)[0]
    last = nt + 4 + 20 + optional_size + 40 * (count - 1)
    raw_size, raw_offset = struct.unpack_from("<II", data, last + 16)
    return raw_offset + raw_size


def archive_at(data, offset):
    """Opens the archive that starts at offset and checks that its central
    directory offset counts from there (as the launcher reads it in place)."""
    package = data[offset:]
    eocd = package.rfind(b"PK\x05\x06")
    assert eocd >= 0, "no end of central directory"
    cd_size, cd_offset = struct.unpack_from("<II", package, eocd + 12)
    assert cd_offset + cd_size == eocd, "central directory not relative to the package"
    assert package.startswith(b"PK\x03\x04"), "the package does not start at the offset"
    return zipfile.ZipFile(io.BytesIO(package))


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def write_tree(root, files):
    for name, content in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    return root


def entries(config=GOOD_CONFIG, extra=None):
    """A package's files: the login skin, the configuration text (unless
    None) and the extra files."""
    files = {"config/main1.png": TINY_PNG}
    if config is not None:
        files["config/cg.txt"] = config
    files.update(extra or {})
    return files


def findings(files):
    return package_check.check_entries(files)


def errors(files):
    return [f.message for f in findings(files) if f.level == "error"]


def warnings(files):
    return [f.message for f in findings(files) if f.level == "warning"]


class TempDirTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="make_package_test_")
        self.addCleanup(shutil.rmtree, self.tmp)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def folder(self, files, name="pkg"):
        return write_tree(self.path(name), files)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def read(self, name):
        return read_file(self.path(name))

    def tool(self, *args):
        """Runs the tool in-process; returns (status, stderr text)."""
        err, out = io.StringIO(), io.StringIO()
        with contextlib.redirect_stderr(err), contextlib.redirect_stdout(out):
            status = make_package.main(list(args))
        return status, err.getvalue()


# ---------------------------------------------------------------------------
# The configuration text

class IniSyntaxTest(unittest.TestCase):
    def test_values(self):
        cases = [
            # (text, section, key, expected text or None for absent)
            (b"[global]\ngameButtonCount =10\n", "global", "gameButtonCount", b"10"),
            (b"[global]\ntitlex= 30\n", "global", "titlex", b"30"),
            (b"[link1]\ntype=1    \n", "link1", "type", b"1"),
            (b"[link1]\n\t type\t=\t1\t\n", "link1", "type", b"1"),
            (b"[ GLOBAL ]\nLinkCount=3\n", "global", "linkCount", b"3"),
            (b"[\tglobal ]\nx=1\n", "GLOBAL", "X", b"1"),
            (b"[global]\nport=1\nport=2\n", "global", "port", b"2"),
            (b"[global]\na=1\n[link1]\nb=2\n[Global]\na=3\n", "global", "a", b"3"),
            (b"[global]\na=1\n[link1]\nb=2\n[Global]\nc=3\n", "global", "a", b"1"),
            (b"[global]\ntitle=abc ; not a comment\n", "global", "title", b"abc ; not a comment"),
            (b"[global]\nurl=http://h/?a=1&b=2\n", "global", "url", b"http://h/?a=1&b=2"),
            (b"[global]\n; port=1\n  # port=2\nport=3\n", "global", "port", b"3"),
            (b"[global]\n;port=1\n", "global", "port", None),
            (b"[global]\n=5\n", "global", "", None),
            (b"[global]\n  = 5\nport\n", "global", "port", None),
            (b"[global]\nport=\n", "global", "port", b""),
            (b"[global]\rport=7\r", "global", "port", b"7"),
            (b"[global]\r\nport=7\r\nx=8", "global", "x", b"8"),
            (b"port=1\n[global]\n", "global", "port", None),
            (b"[global]\n[link1\nport=4\n", "global", "port", b"4"),
            (b"[global] trailing\nport=4\n", "global", "port", b"4"),
            (b"[global]\nport=4\0\nx=1\n", "global", "x", None),
            ("[global]\ntitle=云海\n".encode(), "global", "title", "云海".encode()),
            # Names fold ASCII letters only.
            ("[ÄB]\nx=1\n".encode(), "äb", "x", None),
            ("[ÄB]\nx=1\n".encode(), "Äb", "x", b"1"),
        ]
        for text, section, key, expected in cases:
            with self.subTest(text=text, key=key):
                e = ini.parse(text).entry(section, key)
                self.assertEqual(e.value if e else None, expected)

    def test_byte_order_mark_changes_nothing(self):
        text = read_file(os.path.join(DEMO_PACKAGE, "config", "cg.txt"))
        self.assertTrue(text.startswith(ini.BOM))
        with_bom, without = ini.parse(text), ini.parse(text[len(ini.BOM):])
        self.assertEqual(ini.read_globals(with_bom), ini.read_globals(without))
        self.assertEqual(ini.read_globals(with_bom)["gameheader"], b"client://loadgame|")

    def test_bom_only_at_start(self):
        doc = ini.parse(b"[global]\n" + ini.BOM + b"port=5\n")
        self.assertIsNone(doc.entry("global", "port"))

    def test_atoi(self):
        cases = [("0x10", 0), ("", 0), ("  42", 42), ("\t-7", -7), ("+8", 8), ("12abc", 12),
                 ("abc", 0), ("- 5", 0), ("007", 7), ("99999999999", ini.INT_MAX),
                 ("-99999999999", ini.INT_MIN), ("１２", 0), ("\v5", 5)]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(ini.c_atoi(text), expected)

    def test_reading_as_the_launcher(self):
        doc = ini.parse(b"[global]\nport=\ntitleColor=0xFF\nBoLihk=-1\nBoRegedit=2\n"
                        b"linkCount=2\n[link1]\nurl=a\ntype=1\n")
        g = ini.read_globals(doc)
        self.assertEqual((g["port"], g["titleColor"], g["BoLihk"], g["BoRegedit"]), (0, 0, 0, 1))
        self.assertEqual(ini.read_globals(ini.parse(b"[global]\n"))["port"], 80)
        self.assertEqual(g["aesKey"], b"Kp7Vw2QmX9tLr4Bz")
        links = ini.read_list(doc, ini.LIST_SECTIONS[0], g["linkCount"])
        self.assertEqual(links[1], {"url": b"_blank", "x": 0, "y": 0, "width": 0,
                                    "height": 0, "type": 0})

    def test_text_cut_to_field(self):
        gamebutton = next(s for s in ini.LIST_SECTIONS if s.prefix == "gamebutton")
        title = next(k for k in gamebutton.keys if k.name == "title")
        self.assertEqual(ini.stored_text(b"t" * 40, title.width), b"t" * 31)


# ---------------------------------------------------------------------------
# The checks

class CheckTest(unittest.TestCase):
    def config(self, global_lines, rest=b"[link1]\ntype=4\nurl=x\n"):
        return b"[global]\n" + global_lines + b"\n" + rest

    def test_aes_key(self):
        cases = [
            (b"aesKey=" + b"k" * 15, True),
            (b"aesKey=" + b"k" * 17, True),
            (b"aesKey=" + b"k" * 40, True),
            (b"aesKey=" + b"k" * 16, False),
            (b"aesKey = " + b"k" * 16 + b"  ", False),
            ("aesKey=密钥密钥abcd".encode(), False),   # 8 characters, 16 bytes
            ("aesKey=".encode() + "密".encode() * 16, True),  # 16 characters, 48 bytes
            (b"aesKey=", True),
            (b"", False),                            # absent: the 16-byte default
        ]
        for line, refused in cases:
            with self.subTest(line=line):
                found = [m for m in errors(entries(self.config(b"linkCount=1\n" + line)))
                         if "aesKey" in m]
                self.assertEqual(bool(found), refused, found)

    def test_link_count(self):
        cases = [(b"linkCount=0", True), (b"linkCount=-1", True), (b"linkCount=", True),
                 (b"linkCount=0x10", True), (b"", True), (b"linkCount=1", False),
                 (b"LINKCOUNT = 1", False)]
        for line, refused in cases:
            with self.subTest(line=line):
                found = [m for m in errors(entries(self.config(line))) if "linkCount" in m]
                self.assertEqual(bool(found), refused, found)
        # Outside [global] it is not read at all.
        found = errors(entries(b"linkCount=1\n[link1]\nlinkCount=1\n"))
        self.assertEqual(len(found), 1)
        self.assertIn("no [global] section", found[0])

    def test_entries_the_launcher_cannot_start_without(self):
        self.assertEqual(errors(entries()), [])
        self.assertIn("config/cg.txt is not in the package", errors(entries(config=None))[0])
        no_skin = entries()
        del no_skin["config/main1.png"]
        self.assertIn("config/main1.png is not in the package", errors(no_skin)[0])
        wrong_case = entries()
        wrong_case["config/Main1.png"] = wrong_case.pop("config/main1.png")
        self.assertRegex(errors(wrong_case)[0], "there is config/Main1.png.*case-sensitive")

    def test_text_not_utf8(self):
        gbk = "[global]\nlinkCount=1\ntitle=云海传奇\n".encode("gbk")
        found = [f for f in findings(entries(gbk)) if f.level == "error"]
        self.assertEqual(len(found), 1)
        self.assertEqual(found[0].line, 3)
        self.assertIn("not UTF-8", found[0].message)

    def test_texts_longer_than_their_field(self):
        cases = [
            (b"[global]\ntitle=" + b"t" * 127, None),
            (b"[global]\ntitle=" + b"t" * 128, "first 127 bytes"),
            ("[global]\ntitle=".encode() + "长".encode() * 42 + b"tt", "first 127 bytes"),
            ("[global]\ntitle=".encode() + "长".encode() * 43,
             "first 126 bytes, the whole characters that fit in 127"),
            (b"[global]\nspid=" + b"s" * 20, "first 19 bytes"),
            (b"[gamebutton1]\ntitle=" + b"t" * 40, "first 31 bytes"),
            (b"[link1]\nurl=" + b"u" * 256, "first 255 bytes"),
            (b"[global]\ntipmsg1=" + b"t" * 500, None),   # no field width
        ]
        base = b"[global]\nlinkCount=1\ngameButtonCount=1\npicCount=1\n[gamePic1]\n" \
               b"[gamebutton1]\nimage=1\n[link1]\ntype=4\n"
        for text, expected in cases:
            with self.subTest(text=text[:30]):
                found = [m for m in warnings(entries(base + text)) if "keeps only" in m]
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertIn(expected, found[0])

    def test_numbers_that_do_not_read_as_written(self):
        cases = [
            (b"titleColor=0xFF", "looks hexadecimal"),
            (b"port=", "reads as 0, not as its default 80"),
            (b"connectPort=", None),             # default 0 anyway
            (b"port=80px", "not a decimal number; it reads as 80"),
            (b"port=8080", None),
            (b"minGameWidth=-5", None),
            (b"titleColor=99999999999", "out of the 32-bit range"),
        ]
        for line, expected in cases:
            with self.subTest(line=line):
                found = [f for f in findings(entries(self.config(b"linkCount=1\n" + line)))
                         if f.line == 3]
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertIn(expected, found[0].message)

    def test_numbered_sections(self):
        text = b"[global]\nlinkCount=3\n[link1]\ntype=4\nurl=\n[link4]\nx=1\n[link02]\n"
        found = warnings(entries(text))
        self.assertIn("linkCount = 3, but [link2], [link3] are missing: they take the defaults",
                      found)
        self.assertIn("[link4] is not read: linkCount is 3", found)
        self.assertIn("[link02] is not read: section numbers have no leading zeros", found)
        many = warnings(entries(b"[global]\nlinkCount=1000\n[link1]\ntype=4\n"))
        self.assertIn("linkCount = 1000, but [link2], [link3], [link4], [link5], [link6] "
                      "and 994 more are missing: they take the defaults", many)
        refused = errors(entries(b"[global]\nlinkCount=2147483647\n"
                                 b"gameButtonCount=99999999999\n[link1]\ntype=4\n"))
        self.assertIn("linkCount = 2147483647; the launcher refuses more than 1000 entries "
                      "(\"装载ini文件失败\")", refused)
        self.assertIn("gameButtonCount = 2147483647; the launcher refuses more than 1000 entries "
                      "(\"装载ini文件失败\")", refused)

    def test_button_links(self):
        text = b"[global]\nlinkCount=3\n[link1]\ntype=1\nurl=http://h/\n" \
               b"[link2]\ntype=2\nurl=\n[link3]\ntype=3\n"
        found = warnings(entries(text, {"config/1_n.png": TINY_PNG, "config/1_d.png": TINY_PNG}))
        missing = [m for m in found if re.match(r"config/\d_[nd]\.png is not in", m)]
        self.assertEqual(sorted(m.split()[0] for m in missing),
                         ["config/2_d.png", "config/2_n.png", "config/3_d.png",
                          "config/3_n.png"])
        self.assertEqual([m[:7] for m in found if "_blank" in m], ["[link3]"])

    def test_update_key(self):
        key = base64.b64encode(b"Ed" + bytes(range(8)) + b"\x07" * 32)
        server = b"server=update.example\nversionUrl=/v.txt\n"
        cases = [
            (server + b"updateKey=" + key, None),
            (server + b"updateKey = " + key + b"  ", None),
            (server, ("warning", "updates are not signed")),
            (server + b"updateKey=", ("warning", "updates are not signed")),
            (b"", None),  # no self-update configured
            (server + b"updateKey=" + key[:-1], ("error", "not base64 of 42 bytes")),
            (server + b"updateKey=" + base64.b64encode(b"ED" + bytes(range(8)) + b"\x07" * 32),
             ("error", "not an Ed25519 minisign key")),
            (server + b"updateKey=untrusted comment: minisign public key 1234", ("error", "not base64")),
        ]
        for lines, expected in cases:
            with self.subTest(lines=lines):
                found = [(f.level, f.message) for f in findings(entries(self.config(b"linkCount=1\n" + lines)))
                         if "updateKey" in f.message]
                if expected is None:
                    self.assertEqual(found, [])
                else:
                    self.assertEqual(len(found), 1, found)
                    self.assertEqual(found[0][0], expected[0])
                    self.assertIn(expected[1], found[0][1])

    def test_demo_package_is_clean(self):
        out = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, out)
        draw_skins.draw_all(out)
        files = {}
        for folder in (DEMO_PACKAGE, out):
            for name, path in make_package.collect([folder]).items():
                files[name] = read_file(path)
        # The demo signs its update with a key made for its run, put in at run time.
        found = findings(files)
        self.assertEqual([f.level for f in found], ["warning"], [str(f) for f in found])
        self.assertIn("updates are not signed", found[0].message)
        g = ini.read_globals(ini.parse(files["config/cg.txt"]))
        self.assertEqual((g["linkCount"], g["picCount"], g["gameButtonCount"], g["menuCount"]),
                         (7, 19, 10, 3))


# ---------------------------------------------------------------------------
# Appending to executables

class AppendTest(TempDirTest):
    def setUp(self):
        super().setUp()
        self.pkg = self.folder(entries(GOOD_CONFIG, {"config/launcher.swf": b"FWS" + b"\0" * 20}))

    def package(self, exe_bytes, *options, output="out.exe"):
        exe = self.write("in.exe", exe_bytes)
        return self.tool("--exe", exe, "-o", self.path(output), *options, self.pkg)

    def assert_packaged(self, original, data, names=None):
        offset = package_offset(data)
        self.assertEqual(offset, len(original))
        self.assertEqual(data[:offset], original)
        with archive_at(data, offset) as z:
            self.assertEqual(sorted(z.namelist()), sorted(names or ["config/cg.txt",
                             "config/launcher.swf", "config/main1.png"]))
            self.assertEqual(z.read("config/cg.txt"), GOOD_CONFIG)
            self.assertTrue(all(i.compress_type == zipfile.ZIP_DEFLATED for i in z.infolist()))
        return offset

    def test_appends_after_the_last_section(self):
        # The last header of the table counts, also when it has the lowest address.
        layouts = [(((0x200, 0x200), (0x400, 0x300)), None), (((0x200, 0x600),), None),
                   (((0x200, 0x200), (0x400, 0x300)), (0x2000, 0x1000))]
        for plus in (False, True):
            for sections, addresses in layouts:
                with self.subTest(plus=plus, sections=sections, addresses=addresses):
                    exe = pe_image(plus, sections, addresses=addresses)
                    status, err = self.package(exe)
                    self.assertEqual(status, 0, err)
                    self.assert_packaged(exe, self.read("out.exe"))

    def test_refuses_what_is_not_a_usable_image(self):
        cases = [
            (b"#!/bin/sh\necho hello\n", "no MZ header"),
            (b"MZ" + b"\0" * 200, "no PE signature"),
            (pe_image(sections=((0x200, 0x200), (0x400, 0x200)))[:0x500], "truncated"),
            (pe_image(sections=((0x400, 0x200), (0x200, 0x200))),
             "would look for its package inside the image"),
            (pe_image(certificate=(0x600, 0x20), tail=b"\0" * 0x20), "signed"),
        ]
        for data, message in cases:
            with self.subTest(message=message):
                status, err = self.package(data)
                self.assertEqual(status, 1)
                self.assertIn(message, err)
                self.assertFalse(os.path.exists(self.path("out.exe")))

    def test_refuses_an_existing_package_unless_replacing(self):
        exe = pe_image()
        self.assertEqual(self.package(exe, output="once.exe")[0], 0)
        once = self.read("once.exe")

        status, err = self.package(once, output="twice.exe")
        self.assertEqual(status, 1)
        self.assertIn("a ZIP archive already follow", err)
        self.assertIn("--replace", err)
        self.assertFalse(os.path.exists(self.path("twice.exe")))

        write_tree(self.pkg, {"config/cg.txt": GOOD_CONFIG + b"; changed\n"})
        status, err = self.package(once, "--replace", output="twice.exe")
        self.assertEqual(status, 0, err)
        twice = self.read("twice.exe")
        self.assertEqual(package_offset(twice), len(exe))
        with archive_at(twice, len(exe)) as z:
            self.assertTrue(z.read("config/cg.txt").endswith(b"; changed\n"))
        self.assertEqual(twice.count(b"PK\x05\x06"), 1)

    def test_unknown_trailing_data(self):
        exe = pe_image(tail=b"overlay!")
        status, err = self.package(exe)
        self.assertEqual(status, 1)
        self.assertIn("8 bytes of unknown data", err)
        status, err = self.package(exe, "--replace")
        self.assertEqual(status, 0, err)
        self.assert_packaged(exe[:-8], self.read("out.exe"))

    def test_drops_the_linker_symbol_table(self):
        strings = struct.pack("<I", 10) + b"abcdef"
        table = b"\x11" * (18 * 3) + strings
        exe = pe_image(symbols=(0x600, 3), tail=table)
        status, err = self.package(exe)
        self.assertEqual(status, 0, err)
        self.assertIn("dropped the COFF symbol table", err)
        data = self.read("out.exe")
        self.assertEqual(package_offset(data), 0x600)
        nt = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<II", data, nt + 12), (0, 0))

    def test_checks_stop_the_build_unless_told(self):
        write_tree(self.pkg, {"config/cg.txt": b"[global]\nlinkCount=0\naesKey=short\n"})
        status, err = self.package(pe_image())
        self.assertEqual(status, 1)
        self.assertIn("aesKey is 5 bytes", err)
        self.assertIn("linkCount = \"0\" reads as 0", err)
        self.assertFalse(os.path.exists(self.path("out.exe")))

        status, err = self.package(pe_image(), "--no-check")
        self.assertEqual(status, 0, err)
        with archive_at(self.read("out.exe"), package_offset(self.read("out.exe"))) as z:
            self.assertIn(b"aesKey=short", z.read("config/cg.txt"))

    def test_zip_only_is_reproducible(self):
        for name in ("a.zip", "b.zip"):
            status, err = self.tool("--zip-only", self.path(name), self.pkg)
            self.assertEqual(status, 0, err)
        self.assertEqual(self.read("a.zip"), self.read("b.zip"))
        with archive_at(self.read("a.zip"), 0) as z:
            self.assertIn("config/main1.png", z.namelist())

    def test_folders_are_merged_and_collisions_refused(self):
        extra = self.folder({"config/1_n.png": TINY_PNG}, name="extra")
        status, err = self.tool("--zip-only", self.path("a.zip"), self.pkg, extra)
        self.assertEqual(status, 0, err)
        with zipfile.ZipFile(self.path("a.zip")) as z:
            self.assertIn("config/1_n.png", z.namelist())
        clash = self.folder({"config/main1.png": TINY_PNG}, name="clash")
        status, err = self.tool("--zip-only", self.path("b.zip"), self.pkg, clash)
        self.assertEqual(status, 1)
        self.assertIn("config/main1.png is in more than one folder", err)

    def test_depfile_lists_the_inputs(self):
        self.assertEqual(self.package(pe_image(), "--depfile", self.path("out.d"))[0], 0)
        text = self.read("out.d").decode()
        self.assertTrue(text.startswith(self.path("out.exe") + ":"))
        for name in ("in.exe", "cg.txt", "main1.png", "launcher.swf"):
            self.assertIn(name, text)

    def test_command_line_errors_are_messages(self):
        self.write("notes.txt", b"plain text")
        cases = [
            ["--exe", self.path("notes.txt"), "-o", self.path("o.exe"), self.pkg],
            ["--exe", self.path("missing.exe"), "-o", self.path("o.exe"), self.pkg],
            ["--zip-only", self.path("o.zip"), self.path("no-such-folder")],
            ["--zip-only", self.path("no-such-dir", "o.zip"), self.pkg],
        ]
        for args in cases:
            with self.subTest(args=args[:2]):
                run = subprocess.run([sys.executable, os.path.join(TOOLS, "make_package.py")]
                                     + args, capture_output=True, text=True)
                self.assertEqual(run.returncode, 1)
                self.assertTrue(run.stderr.splitlines()[-1].startswith("make_package: error: "),
                                run.stderr)
                self.assertNotIn("Traceback", run.stderr)


@unittest.skipUnless(shutil.which("x86_64-w64-mingw32-gcc-posix"), "no mingw-w64 compiler")
class RealExecutableTest(TempDirTest):
    """Executables from the cross compilers, unstripped (with the linker's
    symbol table after the sections) and stripped."""

    def test_linked_executables(self):
        source = self.write("main.c", b"int main(void) { return 0; }\n")
        pkg = self.folder(entries())
        for compiler in ("x86_64-w64-mingw32-gcc-posix", "i686-w64-mingw32-gcc-posix"):
            for strip in ([], ["-s"]):
                if not shutil.which(compiler):
                    continue
                with self.subTest(compiler=compiler, strip=strip):
                    exe = self.path("main.exe")
                    subprocess.run([compiler, "-O2", *strip, source, "-o", exe], check=True)
                    status, err = self.tool("--exe", exe, "-o", self.path("p.exe"), pkg)
                    self.assertEqual(status, 0, err)
                    self.assertEqual("dropped the COFF symbol table" in err, not strip)
                    data = self.read("p.exe")
                    with archive_at(data, package_offset(data)) as z:
                        self.assertEqual(z.read("config/cg.txt"), GOOD_CONFIG)
                    # Packaging the result again needs --replace.
                    status, err = self.tool("--exe", self.path("p.exe"),
                                            "-o", self.path("q.exe"), pkg)
                    self.assertEqual(status, 1, err)


# ---------------------------------------------------------------------------
# The drawn skins

def decode_png(data):
    """(width, height, rows of RGBA bytes) of an 8-bit RGBA PNG with filter
    type 0 rows, checking its chunks' CRCs."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        (length,) = struct.unpack_from(">I", data, pos)
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack_from(">I", data, pos + 8 + length)
        assert crc == zlib.crc32(kind + body) & 0xFFFFFFFF, kind
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour = header[:4]
    assert (depth, colour) == (8, 6)
    raw = zlib.decompress(idat)
    stride = 1 + 4 * width
    assert len(raw) == stride * height
    return width, height, [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]


class SkinTest(TempDirTest):
    def test_images(self):
        with contextlib.redirect_stdout(io.StringIO()):
            self.assertEqual(draw_skins.main([self.tmp]), 0)
        folder = self.path("config")
        drawn = {n: decode_png(read_file(os.path.join(folder, n))) for n in os.listdir(folder)}

        def alpha(name, x, y):
            return drawn[name][2][y][4 * x + 3]

        w, h, _ = drawn["main1.png"]
        self.assertEqual((w, h), (765, 590))
        self.assertEqual(alpha("main1.png", 0, 0), 0)               # rounded corner
        self.assertTrue(0 < alpha("main1.png", 2, 300) < 255)       # translucent rim
        self.assertEqual(alpha("main1.png", 380, 300), 255)
        self.assertEqual(drawn["update.png"][:2], (500, 300))
        self.assertEqual(drawn["update.png"][2][0][:4], b"\xff\xff\xff\xff")  # keyed out

        # Everything the demo configuration points at lies on its image.
        doc = ini.parse(read_file(os.path.join(DEMO_PACKAGE, "config", "cg.txt")))
        g = ini.read_globals(doc)
        sheet_w, sheet_h, _ = drawn["style.png"]
        pics = ini.read_list(doc, ini.LIST_SECTIONS[2], g["picCount"])
        for n, p in enumerate(pics, 1):
            if n in (17, 19):   # positions on the update dialog, not the sheet
                continue
            states = 3 if n <= 8 else 1
            bottom = p["y"] + states * p["height"] + (states - 1) * p["interval"]
            with self.subTest(picture=n):
                self.assertLessEqual(p["x"] + p["width"], sheet_w)
                self.assertLessEqual(bottom, sheet_h)
        for n, link in enumerate(ini.read_list(doc, ini.LIST_SECTIONS[0], g["linkCount"]), 1):
            if link["type"] in (1, 2, 3):
                bw, bh, _ = drawn["%d_n.png" % n]
                with self.subTest(link=n):
                    self.assertEqual(drawn["%d_d.png" % n][:2], (bw, bh))
                    self.assertLessEqual(link["x"] + bw, w)
                    self.assertLessEqual(link["y"] + bh, h)


if __name__ == "__main__":
    unittest.main()
