#!/usr/bin/env python3
"""Writes the archives the zip reader tests open.

usage: make_fixtures.py <output directory>

basic.zip      ten items: a directory, deflated and stored data, Windows and Unix
               attributes, extended timestamps, an empty item, a UTF-8 name, a long name
cg.txt, logo.bin
               the contents of basic.zip's config/cg.txt and images/logo.bin
embedded.bin   junk, then basic.zip ending in Zip64 end records, then more junk: the
               Zip64 locator gives its record's offset from the archive's start, which
               the unzip interface takes as it is, so only a reader whose position 0 is
               the archive's first byte finds the directory
damaged.zip    one sound item, then one item per kind of damage (see DAMAGED)
truncated.zip  the first half of basic.zip
lying.zip      items whose headers claim sizes their data cannot have (see LIES), two at
               the edge of what deflate can make, and one that inflates beyond its size
lying-hashdict.zip
               hashdict.txt: a few deflated bytes that claim to inflate to 2 GiB
bomb.zip       hashdict.txt: a megabyte of deflate data that honestly inflates to 1 GiB
               of zeros
"""
import io
import os
import struct
import sys
import zipfile
import zlib

UT = 0x5455


def ut_block(flags, *times):
    return struct.pack("<HHB", UT, 1 + 4 * len(times), flags) + b"".join(
        struct.pack("<I", t) for t in times)


def item(name, date_time, data, method=zipfile.ZIP_DEFLATED, system=3, attrs=0o100644 << 16,
         extra=b""):
    info = zipfile.ZipInfo(name, date_time)
    info.compress_type = method
    info.create_system = system
    info.external_attr = attrs
    info.extra = extra
    return info, data


def cg_text():
    lines = []
    for i in range(900):
        lines.append("[section%03d]\r\nkey%03d=value %d of the packaged configuration\r\n" %
                     (i, i, i * 7919 % 10007))
    return "".join(lines).encode("ascii")


def logo_bytes():
    # Little-compressible bytes from a fixed linear congruential sequence.
    out = bytearray()
    x = 12345
    for _ in range(3000):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


LONG_NAME = "long/" + "a" * 291 + ".txt"


def basic_items():
    unknown_block = struct.pack("<HH", 0xCAFE, 3) + b"xyz"
    return [
        item("config/", (2021, 3, 4, 5, 6, 0), b"", zipfile.ZIP_STORED,
             attrs=(0o40755 << 16) | 0x10),
        item("config/cg.txt", (2021, 3, 4, 5, 6, 8), cg_text()),
        item("images/logo.bin", (2022, 12, 31, 23, 59, 58), logo_bytes(), zipfile.ZIP_STORED,
             system=0, attrs=0x20),
        item("hidden.sys", (2000, 1, 1, 0, 0, 0), b"system file\r\n", system=0, attrs=0x27),
        item("ut/mtime.txt", (2019, 1, 2, 3, 4, 6), b"modification time only\n",
             extra=ut_block(1, 1600000000)),
        item("ut/all.txt", (2019, 1, 2, 3, 4, 6), b"all three times\n",
             extra=unknown_block + ut_block(7, 1600000000, 1600000100, 1600000200)),
        # Flags announce two times, the block holds one and another block follows: the
        # access time stays DOS-derived.
        item("ut/short.txt", (2019, 1, 2, 3, 4, 6), b"short block\n",
             extra=ut_block(3, 1600000000) + unknown_block),
        item("empty.txt", (2020, 2, 29, 12, 0, 0), b""),
        item("donn\u00e9es/\u00e9t\u00e9.txt", (2020, 6, 1, 8, 30, 0), b"UTF-8 name\n"),
        item(LONG_NAME, (2020, 6, 1, 8, 30, 0), b"long name\n"),
    ]


def build(items):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for info, data in items:
            z.writestr(info, data)
    return bytearray(buf.getvalue())


def layout(archive):
    """Offsets of each item's local header and central record, by name."""
    eocd = archive.rfind(b"PK\x05\x06")
    count, _, cd_offset = struct.unpack_from("<HII", archive, eocd + 10)
    items = {}
    at = cd_offset
    for _ in range(count):
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", archive, at + 28)
        local = struct.unpack_from("<I", archive, at + 42)[0]
        name = bytes(archive[at + 46:at + 46 + name_len]).decode("utf-8")
        items[name] = (local, at)
        at += 46 + name_len + extra_len + comment_len
    return items


def put16(archive, at, value):
    struct.pack_into("<H", archive, at, value)


def put32(archive, at, value):
    struct.pack_into("<I", archive, at, value)


# Local header: flags at 6, method at 8, CRC at 14, uncompressed size at 22, extra length
# at 28. Central record: flags at 8, method at 10, CRC at 16, uncompressed size at 24.
def damage_local_crc(a, local, central):
    put32(a, local + 14, struct.unpack_from("<I", a, local + 14)[0] ^ 1)


def damage_crc(a, local, central):
    crc = struct.unpack_from("<I", a, central + 16)[0] ^ 0x80000000
    put32(a, local + 14, crc)
    put32(a, central + 16, crc)


def damage_size(a, local, central):
    size = struct.unpack_from("<I", a, central + 24)[0] + 16
    put32(a, local + 22, size)
    put32(a, central + 24, size)


def damage_method(a, local, central):
    put16(a, local + 8, 12)  # bzip2
    put16(a, central + 10, 12)


def damage_encrypted(a, local, central):
    put16(a, local + 6, struct.unpack_from("<H", a, local + 6)[0] | 1)
    put16(a, central + 8, struct.unpack_from("<H", a, central + 8)[0] | 1)


def damage_extra(a, local, central):
    # Last item before the central directory: its local extra field runs past the end.
    put16(a, local + 28, 0xFFFF)


DAMAGED = [
    ("good.txt", None),
    ("local-crc.txt", damage_local_crc),
    ("bad-crc.txt", damage_crc),
    ("short.txt", damage_size),
    ("bzip2.txt", damage_method),
    ("locked.txt", damage_encrypted),
    ("extra-overrun.txt", damage_extra),
]


def damaged_archive():
    text = b"The quick brown fox jumps over the lazy dog.\n" * 40
    archive = build([item(name, (2021, 1, 1, 0, 0, 0), text) for name, _ in DAMAGED])
    where = layout(archive)
    for name, damage in DAMAGED:
        if damage:
            damage(archive, *where[name])
    return archive


def junk(length, seed):
    # Letters without "P", so no "PK" signature appears in it.
    letters = b"ABCDEFGHIJKLMNOQRSTUVWXYZ"
    out = bytearray()
    x = seed
    for _ in range(length):
        x = (x * 69069 + 1) & 0xFFFFFFFF
        out.append(letters[(x >> 16) % len(letters)])
    return bytes(out)


def write(directory, name, data):
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def raw_archive(entries):
    """An archive written field by field, so that its headers may say what the data are
    not. Each entry: name, method, CRC, the data, compressed and uncompressed size."""
    body = bytearray()
    directory = bytearray()
    for name, method, crc, data, compressed, uncompressed in entries:
        encoded = name.encode("ascii")
        sizes = struct.pack("<III", crc, compressed, uncompressed)
        directory += struct.pack("<IHHHHHH", 0x02014B50, 0x031E, 20, 0, method, 0, 0x5221) + sizes
        directory += struct.pack("<HHHHHII", len(encoded), 0, 0, 0, 0, 0o100644 << 16, len(body))
        directory += encoded
        body += struct.pack("<IHHHHH", 0x04034B50, 20, 0, method, 0, 0x5221) + sizes
        body += struct.pack("<HH", len(encoded), 0) + encoded + data
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(directory),
                      len(body), 0)
    return bytes(body + directory + end)


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


DEFLATE_MAX_RATIO = 1032
DEFLATE_SLACK = 64
STORED_TEXT = b"stored as it is\n" * 6
DEFLATED_TEXT = b"The quick brown fox jumps over the lazy dog.\n" * 40


def lies():
    """Entries by name: (name, method, CRC, data, compressed size, uncompressed size)."""
    stored = (zipfile.ZIP_STORED, zlib.crc32(STORED_TEXT), STORED_TEXT, len(STORED_TEXT))
    packed = deflated(DEFLATED_TEXT)
    limit = len(packed) * DEFLATE_MAX_RATIO + DEFLATE_SLACK
    understated = len(DEFLATED_TEXT) // 2
    return [
        ("stored-longer.txt",) + stored + (len(STORED_TEXT) * 2,),
        ("stored-shorter.txt",) + stored + (len(STORED_TEXT) // 2,),
        ("ratio-limit.txt", zipfile.ZIP_DEFLATED, 0, packed, len(packed), limit),
        ("ratio-beyond.txt", zipfile.ZIP_DEFLATED, 0, packed, len(packed), limit + 1),
        ("claims-2gib.txt", zipfile.ZIP_DEFLATED, 0, packed, len(packed), 0x7FFFFFFF),
        ("beyond-archive.txt", zipfile.ZIP_DEFLATED, 0, packed, 0x100000, 0x100000),
        # The data inflate to twice the stated size; the CRC is that of the stated part.
        ("understated.txt", zipfile.ZIP_DEFLATED, zlib.crc32(DEFLATED_TEXT[:understated]),
         packed, len(packed), understated),
    ]


def bomb():
    # Blocks ended by a full flush start afresh, so one megabyte's block repeats as is.
    megabyte = bytes(1 << 20)
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = packer.compress(megabyte) + packer.flush(zlib.Z_FULL_FLUSH)
    last = packer.flush()
    crc = 0
    for _ in range(1024):
        crc = zlib.crc32(megabyte, crc)
    data = block * 1024 + last
    return raw_archive([("hashdict.txt", zipfile.ZIP_DEFLATED, crc, data, len(data), 1 << 30)])


def with_zip64_end(archive):
    """The archive with its end record replaced by a Zip64 end record, its locator and an
    end record whose counts, size and offset only say "see the Zip64 record"."""
    end = archive[-22:]
    assert end[:4] == b"PK\x05\x06" and end[20:22] == b"\0\0"
    _, _, _, count, _, size, offset, _ = struct.unpack("<IHHHHIIH", end)
    body = archive[:-22]
    record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<IIQI", 0x07064B50, 0, len(body), 1)
    classic = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return body + record + locator + classic


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    basic = bytes(build(basic_items()))
    write(out, "basic.zip", basic)
    write(out, "cg.txt", cg_text())
    write(out, "logo.bin", logo_bytes())
    write(out, "embedded.bin", junk(1021, 7) + with_zip64_end(basic) + junk(333, 11))
    write(out, "damaged.zip", bytes(damaged_archive()))
    write(out, "truncated.zip", basic[:len(basic) // 2])
    write(out, "lying.zip", raw_archive(lies()))
    packed = deflated(DEFLATED_TEXT)
    write(out, "lying-hashdict.zip", raw_archive(
        [("hashdict.txt", zipfile.ZIP_DEFLATED, 0, packed, len(packed), 0x7FFFFFFF)]))
    write(out, "bomb.zip", bomb())


if __name__ == "__main__":
    main()
