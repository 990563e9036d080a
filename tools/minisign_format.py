"""The minisign public key and signature file, read as strictly as the launcher reads
them, and the version a signature's trusted comment names.

A public key is the base64 text of "Ed", an 8-byte key id and a 32-byte Ed25519 key
(the second line of minisign's .pub file). A signature file has four lines ending in
LF or CRLF (the last may end the file): "untrusted comment: ...", the base64 text of the
algorithm ("ED": over the BLAKE2b-512 hash of the file, "Ed": over the file itself), the
key id and the 64-byte signature, "trusted comment: " and its text, and the base64 text
of the 64-byte global signature over the signature bytes followed by that text.
"""

import base64
import binascii
import re
from dataclasses import dataclass

KEY_ID_BYTES = 8
KEY_BYTES = 32
SIGNATURE_BYTES = 64
MAX_SIGNATURE_FILE_BYTES = 1024 * 1024
KEY_ALGORITHM = b"Ed"
HASHED = b"ED"
LEGACY = b"Ed"
UNTRUSTED_PREFIX = b"untrusted comment: "
TRUSTED_PREFIX = b"trusted comment: "
VERSION_FIELD = b"version:"

_BASE64 = re.compile(rb"[A-Za-z0-9+/]*={0,2}")
_CONTROL = re.compile(rb"[\x00-\x08\x0a-\x1f]")


class FormatError(ValueError):
    """The text is not what the launcher accepts; the message says why."""


def decode_base64(text, length, what):
    """The `length` bytes that `text` (bytes) is the one base64 encoding of."""
    if len(text) != (length + 2) // 3 * 4 or not _BASE64.fullmatch(text):
        raise FormatError("%s is not base64 of %d bytes" % (what, length))
    try:
        data = base64.b64decode(text, validate=True)
    except binascii.Error:
        raise FormatError("%s is not base64 of %d bytes" % (what, length))
    if len(data) != length or base64.b64encode(data) != text:
        raise FormatError("%s is not base64 of %d bytes" % (what, length))
    return data


def key_id_text(key_id):
    """The key id as minisign prints it."""
    return key_id[::-1].hex().upper()


@dataclass(frozen=True)
class PublicKey:
    key_id: bytes
    key: bytes


def parse_public_key(text):
    """A PublicKey from its base64 text (str or bytes); FormatError otherwise."""
    if isinstance(text, str):
        text = text.encode("ascii", "replace")
    blob = decode_base64(text, len(KEY_ALGORITHM) + KEY_ID_BYTES + KEY_BYTES, "the public key")
    if blob[:2] != KEY_ALGORITHM:
        raise FormatError("the public key is not an Ed25519 minisign key")
    return PublicKey(blob[2:2 + KEY_ID_BYTES], blob[2 + KEY_ID_BYTES:])


def public_key_of_file(data):
    """The public key text of a minisign .pub file: its line after the comment."""
    lines = data.splitlines()
    if len(lines) != 2 or not lines[0].startswith(UNTRUSTED_PREFIX):
        raise FormatError("not a minisign public key file (an untrusted comment and the key)")
    return lines[1]


@dataclass(frozen=True)
class Signature:
    hashed: bool
    key_id: bytes
    signature: bytes
    trusted_comment: bytes
    global_signature: bytes


def _lines(data):
    """The four lines of a signature file, without their line ends."""
    lines = []
    start = 0
    while start < len(data):
        if len(lines) == 4:
            raise FormatError("the signature file has more than four lines")
        end = data.find(b"\n", start)
        if end < 0:
            lines.append(data[start:])
            break
        line = data[start:end]
        lines.append(line[:-1] if line.endswith(b"\r") else line)
        start = end + 1
    if len(lines) != 4:
        raise FormatError("the signature file does not have four lines")
    return lines


def parse_signature(data):
    """A Signature from the bytes of a .minisig file; FormatError otherwise."""
    if len(data) > MAX_SIGNATURE_FILE_BYTES:
        raise FormatError("the signature file is larger than 1 MiB")
    lines = _lines(data)
    if any(_CONTROL.search(line) for line in lines):
        raise FormatError("the signature file has a control character in a line")
    if not lines[0].startswith(UNTRUSTED_PREFIX):
        raise FormatError("line 1 of the signature file is no untrusted comment")
    blob = decode_base64(lines[1], 2 + KEY_ID_BYTES + SIGNATURE_BYTES, "line 2 of the signature file")
    if blob[:2] not in (HASHED, LEGACY):
        raise FormatError("the signature's algorithm is neither ED nor Ed")
    if not lines[2].startswith(TRUSTED_PREFIX):
        raise FormatError("line 3 of the signature file is no trusted comment")
    global_signature = decode_base64(lines[3], SIGNATURE_BYTES, "line 4 of the signature file")
    return Signature(blob[:2] == HASHED, blob[2:2 + KEY_ID_BYTES], blob[2 + KEY_ID_BYTES:],
                     lines[2][len(TRUSTED_PREFIX):], global_signature)


def trusted_version(comment):
    """The text of the one field of the trusted comment (fields are separated by spaces
    or tabs) that starts with "version:"; None when there is no such field with text
    after the name, or more than one."""
    fields = [f for f in re.split(rb"[ \t]+", comment) if f.startswith(VERSION_FIELD)]
    if len(fields) != 1 or len(fields[0]) == len(VERSION_FIELD):
        return None
    return fields[0][len(VERSION_FIELD):]
