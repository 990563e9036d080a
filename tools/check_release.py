#!/usr/bin/env python3
"""Checks a signed release the way the launcher will before it installs it.

    check_release.py --exe Launcher_new.exe --version 1.12
                     (--public-key-file minisign.pub | --public-key BASE64)
                     [--signature Launcher_new.exe.minisig] [--launcher-version 1.11]

The launcher installs a new executable only when its signature file (the executable's
address + ".minisig") is minisign's, made with the package's updateKey (same key id,
the signature over the file or its BLAKE2b-512 hash and the global signature over the
signature and the trusted comment both verify), and its trusted comment names
"version:" the version of the version file. It never installs a version that is not
newer than its own (--launcher-version, the version of the launchers to update).
Exit status 0 when the release passes, 1 with the reason when it does not.
"""

import argparse
import os
import sys

import nacl.encoding
import nacl.exceptions
import nacl.hash
import nacl.signing

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import launcher_ini as ini  # noqa: E402
import minisign_format as fmt  # noqa: E402


class Refusal(Exception):
    """The launcher would not install the release; the message says why."""


def parse_version(text):
    """(major, minor) the way the launcher reads a version: the first two pieces between
    dots (empty pieces skipped, text up to a NUL) read like C atoi, missing ones 0."""
    if isinstance(text, str):
        text = text.encode("utf-8")
    pieces = [p for p in text.split(b"\0", 1)[0].split(b".") if p]
    numbers = [ini.c_atoi(p) for p in pieces[:2]]
    return tuple(numbers + [0] * (2 - len(numbers)))


def version_text(version):
    return "%d.%d" % version


def verify(key, signature, data):
    """Raises Refusal unless the signature was made with key over data."""
    if signature.key_id != key.key_id:
        raise Refusal("the signature was made with another key (key id %s, the package's %s)"
                      % (fmt.key_id_text(signature.key_id), fmt.key_id_text(key.key_id)))
    verifier = nacl.signing.VerifyKey(key.key)
    message = nacl.hash.blake2b(data, digest_size=64, encoder=nacl.encoding.RawEncoder) \
        if signature.hashed else data
    try:
        verifier.verify(message, signature.signature)
    except nacl.exceptions.BadSignatureError:
        raise Refusal("the signature does not match the executable")
    try:
        verifier.verify(signature.signature + signature.trusted_comment, signature.global_signature)
    except nacl.exceptions.BadSignatureError:
        raise Refusal("the signature of the trusted comment does not verify")


def check_release(exe, signature_file, public_key, published, launcher_version=None):
    """The signed version (major, minor) when the launcher would install exe (bytes) with
    signature_file (bytes) under public_key (its base64 text) for the version file's
    text `published`; Refusal otherwise."""
    try:
        key = fmt.parse_public_key(public_key)
    except fmt.FormatError:
        raise Refusal("the updateKey is not a minisign public key")
    if not exe:
        raise Refusal("the executable is empty")
    try:
        signature = fmt.parse_signature(signature_file)
    except fmt.FormatError as e:
        raise Refusal(str(e))
    verify(key, signature, exe)
    named = fmt.trusted_version(signature.trusted_comment)
    if named is None:
        raise Refusal("the signature's trusted comment names no version")
    signed = parse_version(named)
    if signed != parse_version(published):
        raise Refusal("the executable is signed as version %s, the version file says %s"
                      % (version_text(signed), version_text(parse_version(published))))
    if launcher_version is not None and parse_version(launcher_version) >= signed:
        raise Refusal("the signed version %s is not newer than the launcher's %s"
                      % (version_text(signed), version_text(parse_version(launcher_version))))
    return signed


def read(path, what):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        raise Refusal("cannot read %s %s: %s" % (what, path, e.strerror))


def parse_args(argv):
    p = argparse.ArgumentParser(prog="check_release.py", description=__doc__.split("\n\n")[0])
    p.add_argument("--exe", required=True, help="the new executable")
    p.add_argument("--signature", help="its minisign signature (default: the executable + .minisig)")
    keys = p.add_mutually_exclusive_group(required=True)
    keys.add_argument("--public-key-file", help="minisign's public key file (minisign.pub)")
    keys.add_argument("--public-key", help="the public key text, as in the package's updateKey")
    p.add_argument("--version", required=True, help="the text of the version file")
    p.add_argument("--launcher-version", help="the version of the launchers that update")
    return p.parse_args(argv)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        if args.public_key_file:
            try:
                public_key = fmt.public_key_of_file(read(args.public_key_file, "the public key file"))
            except fmt.FormatError as e:
                raise Refusal("%s: %s" % (args.public_key_file, e))
        else:
            public_key = args.public_key
        exe = read(args.exe, "the executable")
        signature = read(args.signature or args.exe + ".minisig", "the signature")
        signed = check_release(exe, signature, public_key, args.version, args.launcher_version)
    except Refusal as e:
        print("check_release: refused: %s" % e, file=sys.stderr)
        return 1
    key = fmt.parse_public_key(public_key)
    print("ok: %s is signed with key id %s as version %s" % (
        args.exe, fmt.key_id_text(key.key_id), version_text(signed)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
