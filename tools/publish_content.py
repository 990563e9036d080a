#!/usr/bin/env python3
"""Prepares what the content server serves to the launcher.

    publish_content.py --movie game.swf --resources FOLDER -o OUT [--config cg.txt]

From a plain game movie and a folder of plain game resources it writes into OUT:
  - the game frame (GameFrame.dat): the movie encrypted so that the launcher's
    decryption with the configured aesKey gives it back byte for byte;
  - the dictionary (hashdict.txt): one record per resource, name and check value;
  - the dictionary archive (hashdict.zip) holding it;
  - every resource under its own relative path, as the local server asks for it;
  - the hash key (hashkey.txt): the check values of game frame and dictionary.
Names, key and suffix list come from the options, else from --config, else the
launcher's defaults. The hash key is written last, so a content server that serves OUT
while it is being written never announces files that are not there yet.
"""

import argparse
import io
import os
import re
import shutil
import struct
import sys
import tempfile
import zipfile
import zlib

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import launcher_ini as ini  # noqa: E402

# The frame key table of the launcher's game-frame decryption: four 32-bit words,
# applied little-endian to every whole word of the movie.
FRAME_KEY_TABLE = (0xA6EC1748, 0x942A3879, 0x294E3D9C, 0xD8CE54C0)

SWF_SIGNATURES = (b"FWS", b"CWS", b"ZWS")
# A dictionary record keeps the name length in a signed byte.
MAX_NAME_BYTES = 127
# Fixed entry time: the same dictionary gives the same archive.
ENTRY_TIME = (1980, 1, 1, 0, 0, 0)
# Files the launcher keeps in the cache directory itself, beside the resources.
LAUNCHER_CACHE_FILES = ("launcher_update.bat",)
# Characters Windows does not allow in a file name, and those that cannot travel
# unescaped in an address (the launcher appends the name to the content server's
# address as it is).
WINDOWS_FORBIDDEN = set('<>:"|?*\\')
ADDRESS_FORBIDDEN = set("?#% ")
WINDOWS_DEVICES = {"con", "prn", "aux", "nul", "conin$", "conout$"} | \
                  {port + digit for port in ("com", "lpt") for digit in "0123456789\u00b9\u00b2\u00b3"}
# A tilde and a digit: the shape of a short (8.3) name, which may stand for another file.
SHORT_NAME = re.compile("~[0-9]")


class Failure(Exception):
    """Stops the tool with a message and exit status 1."""


# ---------------------------------------------------------------------------
# Game frame

def xor_frame_key(data):
    """data with every whole little-endian 32-bit word XORed with the frame key table;
    trailing bytes that do not fill a word stay as they are."""
    whole = len(data) // 4 * 4
    key = struct.pack("<4I", *FRAME_KEY_TABLE)
    stream = (key * (whole // 16 + 1))[:whole]
    mixed = int.from_bytes(data[:whole], "little") ^ int.from_bytes(stream, "little")
    return mixed.to_bytes(whole, "little") + bytes(data[whole:])


def aes_ecb(key, data, decrypt=False):
    """Every complete 16-byte block of data encrypted (or decrypted) on its own with AES
    (ECB); a tail shorter than a block is left out. ValueError for a key of other than
    16, 24 or 32 bytes."""
    cipher = Cipher(algorithms.AES(bytes(key)), modes.ECB())
    work = cipher.decryptor() if decrypt else cipher.encryptor()
    blocks = len(data) // 16 * 16
    return work.update(bytes(data[:blocks])) + work.finalize()


def encrypt_frame(movie, key):
    """The game frame of a movie: the frame key XOR over every whole word, then AES in
    ECB mode over every complete 16-byte block; the last len % 16 bytes are left as
    the XOR made them."""
    mixed = xor_frame_key(movie)
    encrypted = aes_ecb(key, mixed)
    return encrypted + mixed[len(encrypted):]


def decrypt_frame(frame, key):
    """The launcher's decryption, for checking: AES decryption of every complete block,
    the tail copied, then the frame key XOR."""
    plain = aes_ecb(key, frame, decrypt=True)
    return xor_frame_key(plain + frame[len(plain):])


# ---------------------------------------------------------------------------
# Check values and the dictionary

def is_listed(name, suffixes):
    """Whether the extension of name (the text after its last ".") occurs anywhere in
    the suffix list, as the launcher decides it (a substring, letter case counting)."""
    dot = name.rfind(".")
    return dot >= 0 and name[dot + 1:] in suffixes


def check_value(name, data, suffixes):
    """The launcher's check value of a file called name holding data: the CRC-32 for a
    listed extension, else the size (both as unsigned 32-bit numbers)."""
    if is_listed(name, suffixes):
        return zlib.crc32(data) & 0xFFFFFFFF
    return len(data) & 0xFFFFFFFF


def dictionary_bytes(records):
    """The dictionary file: for each (name bytes, value) a length byte, the name and the
    value as a little-endian 32-bit number; sorted by name."""
    out = bytearray()
    for name, value in sorted(records):
        out += bytes((len(name),)) + name + struct.pack("<I", value)
    return bytes(out)


def read_dictionary(data):
    """[(name bytes, value)] of a dictionary file; ValueError when it is damaged."""
    records, at = [], 0
    while at < len(data):
        n = data[at]
        if n > MAX_NAME_BYTES or at + 1 + n + 4 > len(data):
            raise ValueError("damaged record at offset %d" % at)
        name = data[at + 1:at + 1 + n]
        records.append((name, struct.unpack_from("<I", data, at + 1 + n)[0]))
        at += 1 + n + 4
    return records


def archive_bytes(item_name, data):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, allowZip64=False) as z:
        info = zipfile.ZipInfo(item_name, ENTRY_TIME)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, data, compresslevel=9)
    return out.getvalue()


def hash_key_text(frame_value, dictionary_value):
    return ("%d %d\n" % (frame_value, dictionary_value)).encode("ascii")


# ---------------------------------------------------------------------------
# Names

def name_problem(name):
    """Why a resource name (relative path, "/" separators) cannot be published, or
    None."""
    try:
        raw = name.encode("utf-8")
    except UnicodeEncodeError:
        return "its name is not UTF-8"
    if len(raw) > MAX_NAME_BYTES:
        return "its name has %d bytes; a dictionary record holds at most %d" % (len(raw), MAX_NAME_BYTES)
    bad = sorted(set(name) & (WINDOWS_FORBIDDEN | ADDRESS_FORBIDDEN))
    if bad or any(ord(c) < 0x20 or ord(c) == 0x7F for c in name):
        shown = "".join(bad) if bad else "control characters"
        return "its name holds %r, which a Windows file name or an address cannot carry" % shown
    for part in name.split("/"):
        if part.endswith(".") or part.endswith(" "):
            return "%r ends with a dot or a blank, which Windows drops" % part
        if part.split(".")[0].rstrip(" ").lower() in WINDOWS_DEVICES:
            return "%r is a device name on Windows" % part
        if SHORT_NAME.search(part):
            return ("%r has the shape of a short name (~ and a digit), which Windows may take "
                    "for another file" % part)
    if "." not in name.rsplit("/", 1)[-1]:
        return ("its name has no extension; the launcher's check value of such a file "
                "depends on the cache directory")
    return None


def collect_resources(folder, reserved, new_executable):
    """{name: path} of every file below folder. reserved: {lower-case name: what it is}
    of the files the tool writes itself beside them; new_executable: the file name of the
    launcher's exeUrl, whose downloads lie in the cache as <number><name>."""
    if not os.path.isdir(folder):
        raise Failure("the resources folder %s does not exist" % folder)
    found, problems, seen = {}, [], dict(reserved)
    downloads = re.compile("-?[0-9]+" + re.escape(new_executable.lower()))
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(root, f)
            name = os.path.relpath(path, folder).replace(os.sep, "/")
            problem = name_problem(name)
            if problem is None and name.lower() in seen:
                problem = "Windows does not tell it from %s" % seen[name.lower()]
            if problem is None and downloads.fullmatch(name.lower()):
                problem = "the launcher keeps its downloaded new executables in its cache under such names"
            if problem:
                problems.append("%s: %s" % (name.encode("utf-8", "replace").decode("utf-8"), problem))
                continue
            seen[name.lower()] = name
            found[name] = path
    if problems:
        raise Failure("cannot publish %s" % "; ".join(problems))
    if not found:
        raise Failure("the resources folder %s holds no files; the launcher refuses an "
                      "empty dictionary" % folder)
    return found


# ---------------------------------------------------------------------------
# Settings

# (option, configuration key, what it names)
SETTINGS = (
    ("frame", "swf", "the game frame's file name"),
    ("dictionary", "hashdicttxt", "the dictionary's file name"),
    ("archive", "hashdictzip", "the dictionary archive's file name"),
    ("hash_key", "hashkey", "the hash key's file name"),
    ("suffix", "suffix", "the suffix list"),
    ("key", "aesKey", "the AES key"),
)


def settings(args):
    """{option: bytes} from the options, else the configuration, else the defaults,
    checked against what the launcher's fields hold."""
    values = {}
    doc = None
    if args.config:
        try:
            with open(args.config, "rb") as f:
                doc = ini.parse(f.read())
        except OSError as e:
            raise Failure("cannot read %s: %s" % (args.config, e.strerror))
    for option, key_name, what in SETTINGS:
        key = ini.GLOBAL[ini.fold(key_name)]
        given = getattr(args, option)
        if given is not None:
            value = os.fsencode(given) if isinstance(given, str) else given
            source = "--" + option.replace("_", "-")
        else:
            value = ini.read_value(doc, "global", key) if doc else key.default.encode("utf-8")
            source = key_name + (" in " + args.config if doc else " (default)")
        if ini.stored_text(value, key.width) != value:
            raise Failure("%s (%s) has %d bytes; the launcher keeps at most %d"
                          % (what, source, len(value), key.width - 1))
        values[option] = (value, source)
    key, source = values["key"]
    if len(key) != ini.AES_KEY_BYTES:
        raise Failure("the AES key (%s) has %d bytes; the launcher needs exactly %d"
                      % (source, len(key), ini.AES_KEY_BYTES))
    names = {}
    for option in ("frame", "dictionary", "archive", "hash_key"):
        value, source = values[option]
        try:
            name = value.decode("utf-8")
        except UnicodeDecodeError:
            raise Failure("%s (%s) is not UTF-8" % (option, source))
        problem = name_problem(name) or ("/" in name and "it holds a folder") or None
        if problem:
            raise Failure("the %s name %r (%s): %s" % (option.replace("_", " "), name, source, problem))
        if name.lower() in names:
            raise Failure("the %s and the %s have the same name %r"
                          % (names[name.lower()], option.replace("_", " "), name))
        names[name.lower()] = option.replace("_", " ")
    result = {option: value for option, (value, _) in values.items()}
    exe_key = ini.GLOBAL[ini.fold("exeUrl")]
    exe_url = ini.read_value(doc, "global", exe_key) if doc else exe_key.default.encode("utf-8")
    result["new_executable"] = re.split(r"[/\\]", exe_url.decode("utf-8", "replace"))[-1]
    return result


# ---------------------------------------------------------------------------
# Writing

def write_file(path, data):
    """Writes through a temporary file in the same folder, so that a reader never sees
    half a file."""
    folder = os.path.dirname(path)
    os.makedirs(folder, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".publish-")
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def read_bytes(path, what):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        raise Failure("cannot read %s %s: %s" % (what, path, e.strerror))


def inside(path, folder):
    path, folder = os.path.realpath(path), os.path.realpath(folder)
    return path == folder or path.startswith(folder.rstrip(os.sep) + os.sep)


def publish(args):
    """Writes the content into args.output; returns a summary dict."""
    s = settings(args)
    suffixes = s["suffix"].decode("utf-8", "replace")
    names = {k: s[k].decode("utf-8") for k in ("frame", "dictionary", "archive", "hash_key")}
    if not os.path.isfile(args.movie):
        raise Failure("the movie %s does not exist" % args.movie)
    movie = read_bytes(args.movie, "the movie")
    if len(movie) < 8 or movie[:3] not in SWF_SIGNATURES:
        raise Failure("the movie %s is no SWF file: it does not start with FWS, CWS or ZWS"
                      % args.movie)
    if inside(args.output, args.resources):
        raise Failure("the output folder must not lie inside the resources folder")
    if inside(args.movie, args.resources):
        raise Failure("the movie lies inside the resources folder, where it would be "
                      "published unencrypted")

    reserved = {name.lower(): "the " + what.replace("_", " ") for what, name in names.items()}
    reserved.update({n: "a file the launcher keeps in its cache" for n in LAUNCHER_CACHE_FILES})
    resources = collect_resources(args.resources, reserved, s["new_executable"])

    records = []
    for name, path in sorted(resources.items()):
        data = read_bytes(path, "the resource")
        records.append((name.encode("utf-8"), check_value(name, data, suffixes)))
        target = os.path.join(args.output, *name.split("/"))
        if not os.path.exists(target) or os.path.getsize(target) != len(data) or \
                read_bytes(target, "the published copy") != data:
            write_file(target, data)
    dictionary = dictionary_bytes(records)
    frame = encrypt_frame(movie, s["key"])
    frame_value = check_value(names["frame"], frame, suffixes)
    dictionary_value = check_value(names["dictionary"], dictionary, suffixes)
    write_file(os.path.join(args.output, names["dictionary"]), dictionary)
    write_file(os.path.join(args.output, names["archive"]), archive_bytes(names["dictionary"], dictionary))
    write_file(os.path.join(args.output, names["frame"]), frame)
    write_file(os.path.join(args.output, names["hash_key"]), hash_key_text(frame_value, dictionary_value))
    return {"resources": len(records), "frame_bytes": len(frame),
            "frame_value": frame_value, "dictionary_value": dictionary_value}


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="publish_content.py",
        description="Writes the game frame, dictionary, dictionary archive, hash key and "
                    "resources that the content server serves to the launcher.")
    parser.add_argument("--movie", required=True, help="the plain game movie (.swf)")
    parser.add_argument("--resources", required=True, help="folder of the plain game resources")
    parser.add_argument("-o", "--output", required=True, help="folder to write into (created)")
    parser.add_argument("--config", help="a package's config/cg.txt to take the settings from")
    parser.add_argument("--key", help="aesKey: the 16-byte AES key of the game frame")
    parser.add_argument("--suffix", help="suffix list: extensions checked by CRC-32, "
                                         "e.g. cbp,swf,zip,txt,dat")
    parser.add_argument("--frame", help="swf: the game frame's file name")
    parser.add_argument("--dictionary", help="hashdicttxt: the dictionary's file name")
    parser.add_argument("--archive", help="hashdictzip: the dictionary archive's file name")
    parser.add_argument("--hash-key", dest="hash_key", help="hashkey: the hash key's file name")
    parser.add_argument("-q", "--quiet", action="store_true", help="print nothing on success")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        summary = publish(args)
    except Failure as e:
        print("publish_content: error: %s" % e, file=sys.stderr)
        return 1
    except OSError as e:
        print("publish_content: error: cannot write %s: %s"
              % (e.filename or args.output, e.strerror), file=sys.stderr)
        return 1
    if not args.quiet:
        print("published %d resources and a game frame of %d bytes into %s "
              "(hash key %d %d)" % (summary["resources"], summary["frame_bytes"], args.output,
                                    summary["frame_value"], summary["dictionary_value"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
