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
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import package_check  # noqa: E402
import pe_image  # noqa: E402

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


def prepare_image(data, replace):
    """The executable's bytes up to the end of its last section, ready for a
    package, and a note about anything that was cut off (or None)."""
    try:
        layout = pe_image.read_layout(data)
    except pe_image.PeError as e:
        raise Failure(str(e))
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
            and layout.symbol_table_end(data) == len(data):
        # The linker's COFF symbol table (an unstripped build); the launcher
        # would take it for the start of the package, so it goes.
        pe_image.clear_symbol_table(image, layout)
        return image, ("dropped the COFF symbol table (%d bytes) that followed the last "
                       "section; link with -s to ship a stripped executable" % trailing)
    if not replace:
        kind = "a ZIP archive" if data[end:end + 4] == b"PK\x03\x04" else "unknown data"
        raise Failure("%d bytes of %s already follow the last section at 0x%X (a package "
                      "appended before?); use --replace to cut them off and append the new "
                      "package" % (trailing, kind, end))
    if symbols_here:
        pe_image.clear_symbol_table(image, layout)
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
