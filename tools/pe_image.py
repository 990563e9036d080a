"""Finds where the launcher expects its package inside a PE executable.

The launcher takes the last section header of its own image (the header that
follows the optional header, SizeOfOptionalHeader bytes after the file header)
and treats everything from that section's PointerToRawData + SizeOfRawData up
to the end of the file as the package.
"""

import struct
from dataclasses import dataclass

PE32_MAGIC = 0x10B
PE32PLUS_MAGIC = 0x20B
SECTION_HEADER_SIZE = 40
SYMBOL_SIZE = 18
SECURITY_DIRECTORY = 4  # index of the certificate table in the data directories


class PeError(Exception):
    """The file is not a PE image the launcher could find its package in."""


@dataclass
class Section:
    name: str
    raw_offset: int
    raw_size: int

    @property
    def raw_end(self):
        return self.raw_offset + self.raw_size


@dataclass
class PeLayout:
    file_size: int
    nt_offset: int           # e_lfanew
    machine: int
    magic: int               # PE32_MAGIC or PE32PLUS_MAGIC
    sections: list
    last_header_offset: int  # file offset of the last section header
    symbol_table_offset: int
    symbol_count: int
    certificate: tuple       # (file offset, size) of the certificate table, or None

    @property
    def package_offset(self):
        """Where the launcher looks for its package."""
        return self.sections[-1].raw_end

    @property
    def file_header_offset(self):
        return self.nt_offset + 4

    def symbol_table_end(self, data):
        """End of the COFF symbol table and its string table, or None when
        the image has none or it does not fit in the file."""
        if not self.symbol_table_offset:
            return None
        strings = self.symbol_table_offset + SYMBOL_SIZE * self.symbol_count
        if strings + 4 > len(data):
            return None
        (strings_size,) = struct.unpack_from("<I", data, strings)
        end = strings + max(strings_size, 4)
        return end if end <= len(data) else None


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def read_layout(data):
    """Reads the headers of a PE image (bytes) and checks that the launcher
    could find a package after its sections. Raises PeError with the reason."""
    size = len(data)
    if size < 0x40 or data[:2] != b"MZ":
        raise PeError("not a PE executable (no MZ header)")
    nt = _u32(data, 0x3C)
    if nt + 24 > size or data[nt:nt + 4] != b"PE\0\0":
        raise PeError("not a PE executable (no PE signature at offset 0x%X)" % nt)
    fh = nt + 4
    machine, count = _u16(data, fh), _u16(data, fh + 2)
    symbols, symbol_count = _u32(data, fh + 8), _u32(data, fh + 12)
    optional_size = _u16(data, fh + 16)
    opt = fh + 20
    if count == 0:
        raise PeError("the PE image has no sections")
    if optional_size < 2 or opt + optional_size > size:
        raise PeError("the PE optional header is missing or truncated")
    magic = _u16(data, opt)
    if magic not in (PE32_MAGIC, PE32PLUS_MAGIC):
        raise PeError("unknown PE optional header magic 0x%X" % magic)
    table = opt + optional_size
    if table + SECTION_HEADER_SIZE * count > size:
        raise PeError("the section table runs past the end of the file")

    sections = []
    for i in range(count):
        h = table + SECTION_HEADER_SIZE * i
        name = data[h:h + 8].rstrip(b"\0").decode("latin-1")
        sections.append(Section(name, _u32(data, h + 20), _u32(data, h + 16)))

    certificate = None
    directories = opt + (96 if magic == PE32_MAGIC else 112)
    count_field = directories - 4
    if count_field + 4 <= opt + optional_size:
        entry = directories + 8 * SECURITY_DIRECTORY
        if _u32(data, count_field) > SECURITY_DIRECTORY and entry + 8 <= opt + optional_size:
            cert_offset, cert_size = _u32(data, entry), _u32(data, entry + 4)
            if cert_size:
                certificate = (cert_offset, cert_size)

    layout = PeLayout(size, nt, machine, magic, sections,
                      table + SECTION_HEADER_SIZE * (count - 1),
                      symbols, symbol_count, certificate)

    last = sections[-1]
    if last.raw_end > size:
        raise PeError("the last section (%s) ends at 0x%X, past the end of the file "
                      "(0x%X bytes): the image is truncated" % (last.name, last.raw_end, size))
    furthest = max(sections, key=lambda s: s.raw_end if s.raw_size else 0)
    if furthest.raw_end > last.raw_end:
        raise PeError(
            "the last section header (%s) ends its raw data at 0x%X, but section %s "
            "ends at 0x%X: the launcher would look for its package inside the image"
            % (last.name, last.raw_end, furthest.name, furthest.raw_end))
    if last.raw_end < table + SECTION_HEADER_SIZE * count:
        raise PeError("the last section (%s) has no raw data after the headers; the "
                      "launcher would look for its package at 0x%X" % (last.name, last.raw_end))
    return layout


def clear_symbol_table(image, layout):
    """Zeroes PointerToSymbolTable and NumberOfSymbols in a bytearray copy of
    the headers, for when the symbol table has been cut off."""
    struct.pack_into("<II", image, layout.file_header_offset + 8, 0, 0)
