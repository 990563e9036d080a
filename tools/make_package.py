#!/usr/bin/env python3
"""Builds the launcher's package and appends it to the executable.

    make_package.py --exe Launcher.exe -o Packaged.exe FOLDER [FOLDER...]
    make_package.py --zip-only package.zip FOLDER [FOLDER...]

Every file below the folders becomes an entry named by its path relative to
its folder, with forward slashes (config/cg.txt, config/main1.png, ...). The
contents are checked first the way the launcher will read them; errors stop
the build, warnings are printed. The archive is appended right after the last
section of a copy of the executable, where the launcher looks for it.
"""

import argparse
import io
import os
import struct
import sys
import zipfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import package_check  # noqa: E402

# Fixed entry times make the same folders give the same bytes.
ENTRY_TIME = (1980, 1, 1, 0, 0, 0)


class Failure(Exception):
    """Stops the tool with a message and exit status 1."""


def collect(folders):
    """{entry name: file path} for every file below the folders."""
    found = {}
    for folder in folders:
        if not os.path.isdir(folder):
            raise Failure("%s is not a folder" % folder)
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for f in sorted(files):
                path = os.path.join(root, f)
                name = os.path.relpath(path, folder).replace(os.sep, "/")
                try:
                    name.encode("utf-8")
                except UnicodeEncodeError:
                    raise Failure("the name of %r is not UTF-8" % path)
                if name in found:
                    raise Failure("%s is in more than one folder (%s and %s)"
                                  % (name, found[name], path))
                found[name] = path
    if not found:
        raise Failure("the folders hold no files")
    return found


def read_entries(paths):
    entries = {}
    for name, path in paths.items():
        try:
            with open(path, "rb") as f:
                entries[name] = f.read()
        except OSError as e:
            raise Failure("cannot read %s: %s" % (path, e.strerror))
    return entries


def build_archive(entries):
    """The ZIP archive (bytes) of the entries, deflated, in name order."""
    out = io.BytesIO()
    try:
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, allowZip64=False) as z:
            for name in sorted(entries):
                info = zipfile.ZipInfo(name, ENTRY_TIME)
                info.compress_type = zipfile.ZIP_DEFLATED
                info.external_attr = 0o644 << 16
                z.writestr(info, entries[name], compresslevel=9)
    except zipfile.LargeZipFile:
        raise Failure("the package is too large: the launcher reads only archives "
                      "with 32-bit sizes")
    return out.getvalue()


# ---------------------------------------------------------------------------
# Where the package goes

SECTION_HEADER_SIZE = 40
SYMBOL_SIZE = 18
SECURITY_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


class Image:
    """The headers of an executable and where the launcher looks for its package.

    The launcher takes the last header of its section table (SizeOfOptionalHeader bytes
    after the file header) and treats everything from that section's PointerToRawData +
    SizeOfRawData to the end of the file as the package. An executable in which that
    place would not lie after every section is refused (Failure with the reason)."""

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise Failure("not a PE executable (no MZ header)")
        (nt,) = struct.unpack_from("<I", data, 0x3C)
        if data[nt:nt + 4] != b"PE\0\0":
            raise Failure("not a PE executable (no PE signature at offset 0x%X)" % nt)
        try:
            self.pe = pefile.PE(data=data, fast_load=True)
        except pefile.PEFormatError as e:
            raise Failure("not a PE executable the launcher can read (%s)" % e.value)
        header = self.pe.FILE_HEADER
        count = header.NumberOfSections
        optional_size = header.SizeOfOptionalHeader
        table = header.get_file_offset() + header.sizeof() + optional_size
        if count == 0:
            raise Failure("the PE image has no sections")
        if optional_size < 2 or table > len(data):
            raise Failure("the PE optional header is missing or truncated")
        if self.pe.PE_TYPE is None:
            raise Failure("unknown PE optional header magic 0x%X" % self.pe.OPTIONAL_HEADER.Magic)
        self.headers_end = table + SECTION_HEADER_SIZE * count
        if self.headers_end > len(data):
            raise Failure("the section table runs past the end of the file")
        # In the order of the table (pefile sorts them by address).
        self.sections = sorted(self.pe.sections, key=lambda s: s.get_file_offset())
        if len(self.sections) != count:
            raise Failure("the section table is damaged: %d of its %d headers could be read"
                          % (len(self.sections), count))
        self.certificate = None
        directories = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY
        if len(directories) > SECURITY_DIRECTORY:
            entry = directories[SECURITY_DIRECTORY]
            if entry.Size and entry.get_file_offset() + entry.sizeof() <= table:
                # The certificate table's address is a file offset.
                self.certificate = (entry.VirtualAddress, entry.Size)
        self._check_package_place()

    @staticmethod
    def raw_end(section):
        return section.PointerToRawData + section.SizeOfRawData

    @staticmethod
    def name(section):
        return section.Name.rstrip(b"\0").decode("latin-1")

    def _check_package_place(self):
        last = self.sections[-1]
        end = self.raw_end(last)
        if end > len(self.data):
            raise Failure("the last section (%s) ends at 0x%X, past the end of the file "
                          "(0x%X bytes): the image is truncated"
                          % (self.name(last), end, len(self.data)))
        furthest = max(self.sections, key=lambda s: self.raw_end(s) if s.SizeOfRawData else 0)
        if self.raw_end(furthest) > end:
            raise Failure(
                "the last section header (%s) ends its raw data at 0x%X, but section %s "
                "ends at 0x%X: the launcher would look for its package inside the image"
                % (self.name(last), end, self.name(furthest), self.raw_end(furthest)))
        if end < self.headers_end:
            raise Failure("the last section (%s) has no raw data after the headers; the "
                          "launcher would look for its package at 0x%X" % (self.name(last), end))

    @property
    def package_offset(self):
        """Where the launcher looks for its package."""
        return self.raw_end(self.sections[-1])

    @property
    def symbol_table_offset(self):
        return self.pe.FILE_HEADER.PointerToSymbolTable

    def symbol_table_end(self):
        """End of the COFF symbol table and its string table, or None when the image has
        none or it does not fit in the file."""
        if not self.symbol_table_offset:
            return None
        strings = self.symbol_table_offset + SYMBOL_SIZE * self.pe.FILE_HEADER.NumberOfSymbols
        strings_size = self.pe.get_dword_from_offset(strings)
        if strings_size is None:
            return None
        end = strings + max(strings_size, 4)
        return end if end <= len(self.data) else None

    def clear_symbol_table(self, image):
        """Zeroes PointerToSymbolTable and NumberOfSymbols in image (a bytearray copy of
        the headers), for when the symbol table has been cut off."""
        header = self.pe.FILE_HEADER
        header.PointerToSymbolTable = 0
        header.NumberOfSymbols = 0
        at = header.get_file_offset()
        image[at:at + header.sizeof()] = header.__pack__()


def prepare_image(data, replace):
    """The executable's bytes up to the end of its last section, ready for a
    package, and a note about anything that was cut off (or None)."""
    layout = Image(data)
    end = layout.package_offset
    trailing = len(data) - end
    if layout.certificate:
        raise Failure("the executable is signed: its certificate table lies after the last "
                      "section, where the package goes; package the unsigned executable")
    image = bytearray(data[:end])
    if trailing == 0:
        return image, None
    symbols_here = layout.symbol_table_offset >= end
    if symbols_here and layout.symbol_table_offset == end \
            and layout.symbol_table_end() == len(data):
        # The linker's COFF symbol table (an unstripped build); the launcher
        # would take it for the start of the package, so it goes.
        layout.clear_symbol_table(image)
        return image, ("dropped the COFF symbol table (%d bytes) that followed the last "
                       "section; link with -s to ship a stripped executable" % trailing)
    if not replace:
        kind = "a ZIP archive" if data[end:end + 4] == b"PK\x03\x04" else "unknown data"
        raise Failure("%d bytes of %s already follow the last section at 0x%X (a package "
                      "appended before?); use --replace to cut them off and append the new "
                      "package" % (trailing, kind, end))
    if symbols_here:
        layout.clear_symbol_table(image)
    return image, "cut off %d bytes that followed the last section" % trailing


def write_file(path, data, mode=None):
    """Writes through a temporary file, so that the output is whole or absent
    (and the input may be the output)."""
    tmp = path + ".tmp"
    try:
        with open(tmp, "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(tmp, mode)
        os.replace(tmp, path)
    except OSError as e:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise Failure("cannot write %s: %s" % (path, e.strerror))


def write_depfile(path, target, inputs):
    def esc(p):
        return os.path.abspath(p).replace("\\", "/").replace(" ", "\\ ").replace("$", "$$")
    text = "%s: %s\n" % (esc(target), " \\\n  ".join(esc(p) for p in inputs))
    write_file(path, text.encode("utf-8"))


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="make_package.py",
        description="Build the launcher's package from folders and append it to a copy of "
                    "the executable.")
    p.add_argument("folders", nargs="+", metavar="FOLDER",
                   help="folder whose files become the package's entries (config/cg.txt, ...)")
    p.add_argument("--exe", help="the launcher executable (PE) to carry the package")
    p.add_argument("-o", "--output", help="the packaged executable to write")
    p.add_argument("--zip-only", metavar="ZIP", help="also or only write the bare archive")
    p.add_argument("--replace", action="store_true",
                   help="cut off whatever already follows the executable's last section")
    p.add_argument("--no-check", action="store_true",
                   help="build even when the contents would stop the launcher")
    p.add_argument("--depfile", help="write the inputs as a Makefile dependency file")
    args = p.parse_args(argv)
    if bool(args.exe) != bool(args.output):
        p.error("--exe and --output go together")
    if not args.exe and not args.zip_only:
        p.error("give --exe and --output, or --zip-only")
    return args


def run(args):
    image = None
    if args.exe:
        try:
            with open(args.exe, "rb") as f:
                data = f.read()
            mode = os.stat(args.exe).st_mode & 0o777
        except OSError as e:
            raise Failure("cannot read %s: %s" % (args.exe, e.strerror))
        image, note = prepare_image(data, args.replace)
        if note:
            print("note: " + note, file=sys.stderr)

    paths = collect(args.folders)
    entries = read_entries(paths)
    findings = package_check.check_entries(entries)
    for f in findings:
        print(f, file=sys.stderr)
    errors = sum(1 for f in findings if f.level == "error")
    if errors and not args.no_check:
        raise Failure("%d error(s) in the package; nothing written (--no-check builds "
                      "anyway)" % errors)

    archive = build_archive(entries)
    written = []
    if image is not None:
        write_file(args.output, bytes(image) + archive, mode)
        written.append("%s (package of %d entries, %d bytes at offset 0x%X)"
                       % (args.output, len(entries), len(archive), len(image)))
    if args.zip_only:
        write_file(args.zip_only, archive)
        written.append("%s (%d entries, %d bytes)" % (args.zip_only, len(entries), len(archive)))
    if args.depfile:
        inputs = ([args.exe] if args.exe else []) + [paths[n] for n in sorted(paths)]
        write_depfile(args.depfile, args.output or args.zip_only, inputs)
    for w in written:
        print("wrote " + w)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        run(args)
    except Failure as e:
        print("make_package: error: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
