"""Checks a package's contents the way the launcher will read them.

Errors are what stops the launcher at start-up (no configuration text, an
aesKey that is not 16 bytes, no links, no login skin) or makes every text of
it unreadable. Warnings are what the launcher accepts but silently changes or
skips: texts cut to their field, numbered sections that take defaults, numbers
that do not read as written, images that a window will miss.
"""

import re
from dataclasses import dataclass

import launcher_ini as ini
import minisign_format

CONFIG = "config/cg.txt"
LOGIN_SKIN = "config/main1.png"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
# The launcher finds an entry by its whole stored name: the name it asks for, of
# fewer than 256 UTF-16 units, converted to UTF-8 for an entry flagged as having a
# UTF-8 name and to the ANSI code page otherwise. A longer ASCII name is never found.
MAX_NAME_BYTES = 255
UPDATE_PICTURES = (17, 18, 19)  # progress bar, its fill, restart button
MAX_ENTRIES = 1000  # the launcher takes larger counts as a broken configuration


@dataclass
class Finding:
    level: str        # "error" or "warning"
    message: str
    line: int = None  # line of config/cg.txt, when it is about one

    def __str__(self):
        where = "%s:%d: " % (CONFIG, self.line) if self.line else ""
        return "%s%s: %s" % (where, self.level, self.message)

def _show(value):
    """A value for a message: its text, or its bytes when not UTF-8."""
    try:
        return '"%s"' % value.decode("utf-8")
    except UnicodeDecodeError:
        return repr(value)


def _length(value):
    """'N bytes' plus the character count when it differs."""
    try:
        chars = len(value.decode("utf-8"))
    except UnicodeDecodeError:
        chars = None
    if chars is None or chars == len(value):
        return "%d bytes" % len(value)
    return "%d bytes (%d characters)" % (len(value), chars)


_DECIMAL = re.compile(rb"[ \t\n\v\f\r]*[+-]?[0-9]+")
_HEX = re.compile(rb"[ \t\n\v\f\r]*[+-]?0[xX][0-9a-fA-F]+")


def _check_number(where, key, entry, findings):
    """Warns when an integer key does not read as written."""
    if entry is None:
        return
    value, reads = entry.value, ini.c_atoi(entry.value)
    name = "%s in [%s]" % (key.name, where)
    if value == b"":
        if key.default != 0:
            findings.append(Finding("warning", "%s is empty and reads as 0, not as its "
                                    "default %d" % (name, key.default), entry.line))
    elif _HEX.fullmatch(value):
        findings.append(Finding("warning", "%s = %s looks hexadecimal, but the launcher reads "
                                "decimal only: it reads as %d; write %d" % (
                                    name, _show(value), reads, int(value.strip(), 16)),
                                entry.line))
    elif not _DECIMAL.fullmatch(value):
        findings.append(Finding("warning", "%s = %s is not a decimal number; it reads as %d"
                                % (name, _show(value), reads), entry.line))
    elif reads != int(value):
        findings.append(Finding("warning", "%s = %s is out of the 32-bit range; it reads as %d"
                                % (name, _show(value), reads), entry.line))


def _check_text(where, key, entry, findings):
    """Warns when a text will not fit its field."""
    if entry is None or key.width is None or len(entry.value) < key.width:
        return
    kept = ini.stored_text(entry.value, key.width)
    note = ""
    if len(kept) < key.width - 1:
        note = ", the whole characters that fit in %d" % (key.width - 1)
    findings.append(Finding("warning", "%s in [%s] is %s; the launcher keeps only the first "
                            "%d bytes%s" % (key.name, where, _length(entry.value),
                                            len(kept), note), entry.line))


def _check_keys(doc, where, keys, findings):
    for key in keys:
        entry = doc.entry(where, key.name)
        if key.kind == ini.TEXT:
            if key.name != "aesKey":
                _check_text(where, key, entry, findings)
        else:
            _check_number(where, key, entry, findings)


def _missing(entries, name):
    """Message part for a missing entry, with a hint when only the case differs."""
    similar = [n for n in entries if n.lower() == name.lower()]
    if similar:
        return "%s is not in the package (there is %s; names are case-sensitive)" % (
            name, similar[0])
    return "%s is not in the package" % name


def check_config(doc, entries):
    """Findings about the parsed configuration text."""
    findings = []
    if doc.nul_line:
        findings.append(Finding("warning", "the text contains a NUL byte; the launcher "
                                "reads nothing after it", doc.nul_line))
    loose = doc.sections.get(b"")
    if loose:
        for e in loose.entries.values():
            findings.append(Finding("warning", "%s is in no named section and is not read"
                                    % e.name.decode("utf-8", "replace"), e.line))

    has_global = doc.section("global") is not None
    g = ini.read_globals(doc)

    aes = doc.entry("global", "aesKey")
    if len(g["aesKey"]) != ini.AES_KEY_BYTES:
        findings.append(Finding("error", "aesKey is %s; it must be exactly %d bytes, or the "
                                "launcher stops at start-up (\"len error\")" % (
                                    _length(g["aesKey"]), ini.AES_KEY_BYTES),
                                aes.line if aes else None))

    link_entry = doc.entry("global", "linkCount")
    if g["linkCount"] <= 0:
        if not has_global:
            why = "there is no [global] section, so every setting takes its default and " \
                  "linkCount is missing"
        elif link_entry is None:
            why = "linkCount is missing from [global]"
        else:
            why = "linkCount = %s reads as %d" % (_show(link_entry.value), g["linkCount"])
        findings.append(Finding("error", why + "; it must be 1 or more, or the launcher "
                                "quits at start-up without a message",
                                link_entry.line if link_entry else None))

    if has_global:
        _check_keys(doc, "global", ini.GLOBAL_KEYS, findings)
    findings += _check_update_key(doc, g)

    # Only the sections that exist are looked at one by one: a count may be
    # huge, and every missing section reads as defaults.
    lists = {}  # prefix -> (count, {n: values of the existing section n})
    for numbered in ini.LIST_SECTIONS:
        count = max(g[numbered.count_key], 0)
        if count > MAX_ENTRIES:
            entry = doc.entry("global", numbered.count_key)
            findings.append(Finding("error", "%s = %d; the launcher refuses more than %d entries "
                                    "(\"装载ini文件失败\")" % (numbered.count_key, count, MAX_ENTRIES),
                                    entry.line if entry else None))
        pattern = re.compile(re.escape(ini.fold(numbered.prefix)) + rb"([0-9]+)")
        present = {}
        for folded, section in doc.sections.items():
            m = pattern.fullmatch(folded)
            if not m:
                continue
            digits, why = m.group(1), None
            if digits.startswith(b"0"):
                why = "section numbers have no leading zeros"
            elif int(digits) > count:
                why = "%s is %d" % (numbered.count_key, count)
            if why:
                findings.append(Finding("warning", "[%s] is not read: %s" % (
                    section.name.decode("utf-8", "replace"), why), section.line))
            else:
                present[int(digits)] = section
        for n in sorted(present):
            _check_keys(doc, "%s%d" % (numbered.prefix, n), numbered.keys, findings)
        lists[numbered.prefix] = (count, {
            n: {k.name: ini.read_value(doc, "%s%d" % (numbered.prefix, n), k) for k in numbered.keys}
            for n in present})
        if len(present) < count:
            findings.append(_missing_sections(numbered, count, present))

    findings += _check_images(doc, g, lists, entries)
    return findings


def _check_update_key(doc, g):
    """An updateKey must be a minisign public key; without one, updates are unsigned."""
    entry = doc.entry("global", "updateKey")
    key = ini.stored_text(g["updateKey"], ini.GLOBAL[ini.fold("updateKey")].width)
    if key:
        try:
            minisign_format.parse_public_key(key)
        except minisign_format.FormatError as e:
            return [Finding("error", "updateKey is not a minisign public key (%s), so the launcher "
                            "would refuse every update; write the second line of the signing "
                            "key's .pub file" % e, entry.line)]
        return []
    if g["server"] and g["versionUrl"]:
        return [Finding("warning", "there is no updateKey: updates are not signed, and the "
                        "launcher installs whatever executable the update server answers "
                        "(see tools/README.md, signing a release)", entry.line if entry else None)]
    return []


def _missing_sections(numbered, count, present):
    shown, n = [], 1
    while len(shown) < 5 and n <= count:
        if n not in present:
            shown.append("[%s%d]" % (numbered.prefix, n))
        n += 1
    missing = count - len(present)
    names = ", ".join(shown) + (" and %d more" % (missing - len(shown))
                                if missing > len(shown) else "")
    return Finding("warning", "%s = %d, but %s %s missing: %s the defaults" % (
        numbered.count_key, count, names, "is" if missing == 1 else "are",
        "it takes" if missing == 1 else "they take"))


def _check_images(doc, g, lists, entries):
    findings = []

    def need(name, consequence):
        if name not in entries:
            findings.append(Finding("warning", "%s: %s" % (_missing(entries, name), consequence)))

    links = lists["link"][1]
    for n in sorted(links):
        if links[n]["type"] not in (1, 2, 3):
            continue
        for state in "nd":
            need("config/%d_%s.png" % (n, state),
                 "the login window stops creating its buttons at link %d" % n)
        if doc.entry("link%d" % n, "url") is None:
            findings.append(Finding("warning", "[link%d] is a button without a url key, so its "
                                    "address is \"_blank\", which it tries to open when "
                                    "pressed; write \"url=\" for a button that opens nothing"
                                    % n, doc.section("link%d" % n).line))

    pic_count, pics = lists["gamePic"]
    need("config/style.png", "the game window and the update dialog stop initialising")
    need("config/logo.png", "the game window shows no logo, title or game")
    need("config/update.png", "the update dialog stops initialising")
    if pic_count < max(UPDATE_PICTURES):
        findings.append(Finding("warning", "picCount is %d; the update dialog needs pictures "
                                "17 to 19 (progress bar, its fill, restart button)" % pic_count))
    else:
        restart = pics.get(UPDATE_PICTURES[2], {}).get("count", 0)
        for state in "nd":
            need("config/%d_%s.png" % (restart, state),
                 "the update dialog's restart button ([gamePic19] count = %d) has no image"
                 % restart)
    outside = ["edgeImage%d = %d" % (k, g["edgeImage%d" % k]) for k in range(1, 9)
               if not 1 <= g["edgeImage%d" % k] <= pic_count]
    if outside:
        findings.append(Finding("warning", "%s: not among the %d pictures (picCount), so the "
                                "game window has no frame piece there" % (
                                    ", ".join(outside), pic_count)))
    buttons = lists["gamebutton"][1]
    for j in sorted(buttons):
        if not 1 <= buttons[j]["image"] <= pic_count:
            findings.append(Finding("warning", "[gamebutton%d] image = %d is not one of the %d "
                                    "pictures (picCount): the button is left out"
                                    % (j, buttons[j]["image"], pic_count)))
    if g["BoPlaySwf"]:
        need("config/launcher.swf", "the splash (BoPlaySwf = 1) shows no movie")
    return findings


def check_entries(entries):
    """Findings about a package; entries maps each name to its bytes. Errors
    come first, otherwise the findings keep the order they were found in."""
    return sorted(_check_entries(entries), key=lambda f: f.level != "error")


def _check_entries(entries):
    findings = []
    for name in sorted(entries):
        raw = name.encode("utf-8")
        if not name.isascii():
            findings.append(Finding("warning", "entry name %s is not ASCII; the launcher "
                                    "looks names up in the system's code page and may not "
                                    "find it" % name))
        if len(raw) > MAX_NAME_BYTES:
            findings.append(Finding("warning", "entry name %s... is longer than %d bytes; the "
                                    "launcher cannot find it" % (name[:40], MAX_NAME_BYTES)))
        if name.startswith("config/") and name.lower().endswith(".png") \
                and not entries[name].startswith(PNG_SIGNATURE):
            findings.append(Finding("warning", "%s is not a PNG image" % name))

    if LOGIN_SKIN not in entries:
        findings.append(Finding("error", _missing(entries, LOGIN_SKIN)
                                + ": the launcher stops at start-up"))
    if CONFIG not in entries:
        findings.append(Finding("error", _missing(entries, CONFIG)
                                + ": the launcher stops at start-up"))
        return findings

    text = entries[CONFIG]
    body = text[len(ini.BOM):] if text.startswith(ini.BOM) else text
    try:
        body.decode("utf-8")
    except UnicodeDecodeError as e:
        line = ini.line_of(body, e.start)
        findings.append(Finding("error", "the text is not UTF-8 (byte 0x%02X); the launcher "
                                "reads it as UTF-8, so its texts would come out garbled: save "
                                "it as UTF-8" % body[e.start], line))
    findings += check_config(ini.parse(text), entries)
    return findings
