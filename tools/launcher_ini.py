"""Reads config/cg.txt exactly the way the launcher does.

The launcher parses the text with SimpleIni (UTF-8 mode, no multi-key, no
multi-line values) and reads every value through two helpers: GetString, which
gives the raw text or a default when the key is absent, and GetInt, which gives
the default when the key is absent and otherwise what C's atoi makes of the
text. This module reproduces both, byte for byte, so that the package tool can
tell the publisher what the launcher will see.

Values are kept as bytes: field widths in the launcher count bytes, not
characters.
"""

from dataclasses import dataclass, field

BOM = b"\xef\xbb\xbf"
BLANKS = b" \t"
NEWLINES = b"\r\n"
# What C's isspace() skips in front of a number.
C_SPACES = b" \t\n\v\f\r"

INT_MIN = -(2 ** 31)
INT_MAX = 2 ** 31 - 1


def fold(name):
    """Case-folds a section or key name the way SimpleIni compares them:
    ASCII letters only, every other byte as it is."""
    if isinstance(name, str):
        name = name.encode("utf-8")
    return name.translate(_ASCII_LOWER)


_ASCII_LOWER = bytes.maketrans(b"ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                               b"abcdefghijklmnopqrstuvwxyz")


def c_atoi(text):
    """What the C library's atoi returns for text (bytes or str).

    Leading white space, an optional sign, then decimal digits; anything else
    ends the number, so "0x10" reads as 0 and "" as 0. A number beyond the
    32-bit range is clamped, as the Windows C runtime does."""
    if isinstance(text, str):
        text = text.encode("utf-8")
    i, n = 0, len(text)
    while i < n and text[i] in C_SPACES:
        i += 1
    negative = False
    if i < n and text[i] in b"+-":
        negative = text[i] == ord("-")
        i += 1
    value = 0
    while i < n and 0x30 <= text[i] <= 0x39:
        value = value * 10 + text[i] - 0x30
        i += 1
        if value > INT_MAX + 1:  # enough to know it is out of range
            break
    if negative:
        value = -value
    return max(INT_MIN, min(INT_MAX, value))


@dataclass
class Entry:
    name: bytes   # the key as written (first spelling seen)
    value: bytes  # the last value given
    line: int     # line number of the last value (1-based)


@dataclass
class Section:
    name: bytes
    line: int     # line of the first header that opened it (0: keys before any header)
    entries: dict = field(default_factory=dict)  # folded key -> Entry


@dataclass
class Document:
    sections: dict = field(default_factory=dict)  # folded name -> Section
    has_bom: bool = False
    # Line at which a NUL byte ended the text (the parser reads no further), or None.
    nul_line: int = None

    def section(self, name):
        return self.sections.get(fold(name))

    def entry(self, section, key):
        sec = self.section(section)
        return sec.entries.get(fold(key)) if sec else None

    def get_string(self, section, key, default):
        """GetString: the key's text, or default when the section or the key
        is absent. A key present with an empty value gives b""."""
        e = self.entry(section, key)
        if e is not None:
            return e.value
        return default.encode("utf-8") if isinstance(default, str) else default

    def get_int(self, section, key, default):
        """GetInt: default when the key is absent, else atoi of its text."""
        e = self.entry(section, key)
        return default if e is None else c_atoi(e.value)


def _lines(data):
    """Splits on CR, LF or CR LF, yielding (line number, text)."""
    number, start, i, n = 1, 0, 0, len(data)
    while i < n:
        c = data[i]
        if c in NEWLINES:
            yield number, data[start:i]
            if c == 0x0D and i + 1 < n and data[i + 1] == 0x0A:
                i += 1
            number += 1
            start = i + 1
        i += 1
    if start < n:
        yield number, data[start:]


def line_of(data, offset):
    """The 1-based line number of the byte at offset."""
    return sum(1 for _ in _lines(data[:offset] + b"x"))


def parse(data):
    """Parses configuration text (bytes) into a Document. It never fails:
    lines the syntax does not recognise are skipped, as the launcher does."""
    doc = Document()
    if data.startswith(BOM):
        data = data[len(BOM):]
        doc.has_bom = True
    nul = data.find(b"\0")
    if nul >= 0:
        doc.nul_line = line_of(data, nul)
        data = data[:nul]

    current = Section(b"", 0)
    for number, raw in _lines(data):
        line = raw.lstrip(BLANKS)
        if not line or line[:1] in (b";", b"#"):
            continue
        if line[:1] == b"[":
            end = line.find(b"]")
            if end < 0:
                continue  # no closing bracket: not a section header
            name = line[1:end].strip(BLANKS)
            key = fold(name)
            if key not in doc.sections:
                doc.sections[key] = Section(name, number)
            current = doc.sections[key]
            continue
        eq = line.find(b"=")
        if eq <= 0:
            continue  # no '=' at all, or an empty key
        name = line[:eq].rstrip(BLANKS)
        value = line[eq + 1:].strip(BLANKS)
        if fold(current.name) not in doc.sections:
            doc.sections[fold(current.name)] = current
        key = fold(name)
        old = current.entries.get(key)
        current.entries[key] = Entry(old.name if old else name, value, number)
    return doc


# ---------------------------------------------------------------------------
# What the launcher reads, in the order it reads it.

INT, FLAG, TEXT = "int", "flag", "text"


@dataclass(frozen=True)
class Key:
    name: str
    kind: str       # INT, FLAG or TEXT
    default: object  # int for INT/FLAG, str for TEXT
    width: int = None  # TEXT: field width in bytes with its terminator; None: no field


def _ints(names, default=0):
    return [Key(n, INT, default) for n in names]


def _texts(names, width, default=""):
    return [Key(n, TEXT, default, width) for n in names]


# Keys of [global], in the launcher's reading order (the order matters for its
# two early exits: aesKey, then linkCount).
GLOBAL_KEYS = (
    [Key("gameheader", TEXT, "", 64), Key("linkCount", INT, 0)]
    + _ints(["left", "right", "top", "bottom", "topLeftImage", "topRightImage",
             "bottomLeftImage", "bottomRight", "topImage", "leftImage",
             "htmlHeadHeight"])
    + [Key("minGameWidth", INT, 800), Key("minGameHeight", INT, 600),
       Key("loginWidth", INT, 800), Key("loginHeight", INT, 600)]
    + _ints(["edgeImage%d" % i for i in range(1, 9)], 9)
    + [Key("titleColor", INT, 16777215), Key("loginCenterColor", INT, 16777215),
       Key("title", TEXT, "", 128), Key("firstUrl", TEXT, "", 128),
       Key("BoRegedit", FLAG, 0), Key("BoLihk", FLAG, 0)]
    + _texts(["notityTitle", "notifyCloseTitle", "initname"], 64)
    + [Key("suffix", TEXT, "cbp,swf,zip,txt,dat", 48), Key("from", TEXT, "", 64),
       Key("clearFlashTitle", TEXT, "", 64), Key("clearFlashMsg", TEXT, "", 128),
       Key("closeMsg", TEXT, "", 64)]
    + _texts(["versionUrl", "exeUrl"], 128)
    + _texts(["server", "version"], 64)
    + [Key("spid", TEXT, "vexa_tol", 20),
       Key("loginPhpName", TEXT, "login.php"),
       Key("gameClientPhpName", TEXT, "game_client.php"),
       Key("hashkey", TEXT, "hashkey.txt", 32),
       Key("hashdicttxt", TEXT, "hashdict.txt", 32),
       Key("hashdictzip", TEXT, "hashdict.zip", 32),
       Key("BoPlaySwf", FLAG, 0),
       Key("swf", TEXT, "GameFrame.dat", 32),
       Key("aesKey", TEXT, "Kp7Vw2QmX9tLr4Bz", 32),
       Key("port", INT, 80), Key("menuCount", INT, 0),
       Key("logintexts", TEXT, "", 64)]
    + _ints(["loginTextX", "loginTextY", "logx", "logy", "titlex", "titley",
             "titleWidth", "titleHeight", "force", "connectPort"])
    + [Key("updateKey", TEXT, "", 128), Key("resourceHosts", TEXT, "", 256)]
    + [Key("tipmsg%d" % i, TEXT, "") for i in range(1, 6)]
    + [Key("picCount", INT, 0), Key("gameButtonCount", INT, 0)]
)

GLOBAL = {fold(k.name): k for k in GLOBAL_KEYS}

# The aesKey must be exactly this many bytes; the launcher copies at most 31.
AES_KEY_BYTES = 16


@dataclass(frozen=True)
class ListSection:
    prefix: str      # section names are prefix + n, n = 1 ... count
    count_key: str
    keys: tuple


LIST_SECTIONS = (
    ListSection("link", "linkCount", (
        Key("url", TEXT, "_blank", 256),
        *_ints(["x", "y", "width", "height", "type"]))),
    ListSection("menu", "menuCount", (
        Key("title", TEXT, "", 32), Key("type", INT, 0))),
    ListSection("gamePic", "picCount", tuple(
        _ints(["x", "y", "width", "height", "interval", "count"]))),
    ListSection("gamebutton", "gameButtonCount", (
        *_ints(["x", "y", "type", "image"]),
        Key("title", TEXT, "", 32), Key("url", TEXT, "", 256),
        Key("tips", TEXT, "", 32), Key("color", INT, 16777215))),
)


def read_value(doc, section, key):
    """The value the launcher ends up with for a Key: an int (flags as 0/1)
    or the bytes of the text before any cut to the field width."""
    if key.kind == TEXT:
        return doc.get_string(section, key.name, key.default)
    value = doc.get_int(section, key.name, key.default)
    return int(value > 0) if key.kind == FLAG else value


def stored_text(value, width):
    """The bytes a text field of the given width keeps: at most width - 1 (and a
    terminator), stepping back so that the last UTF-8 character stays whole."""
    if width is None or len(value) < width:
        return value
    keep = width - 1
    while keep > 0 and value[keep] & 0xC0 == 0x80:
        keep -= 1
    return value[:keep]


def read_globals(doc):
    """{key name: value} for every key of [global]."""
    return {k.name: read_value(doc, "global", k) for k in GLOBAL_KEYS}


def read_list(doc, numbered, count):
    """The entries of one numbered list: a dict per section, n = 1 ... count."""
    return [{k.name: read_value(doc, "%s%d" % (numbered.prefix, n), k) for k in numbered.keys}
            for n in range(1, count + 1)]
