"""Debian's minisign, run for the tests and the demo: a key pair made for one run,
without a password, and signatures made with it.

    key = SigningKey(folder)            # folder/update.pub and folder/update.key
    key.public                          # the text for a package's updateKey
    key.sign("Launcher_new.exe", "version:1.12")   # Launcher_new.exe.minisig
"""

import os
import subprocess

MINISIGN = "minisign"


class SigningKey:
    def __init__(self, folder, name="update"):
        os.makedirs(folder, exist_ok=True)
        self.public_file = os.path.join(folder, name + ".pub")
        self.secret_file = os.path.join(folder, name + ".key")
        subprocess.run([MINISIGN, "-G", "-W", "-f", "-p", self.public_file, "-s", self.secret_file],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        with open(self.public_file, encoding="ascii") as f:
            self.comment, self.public = f.read().splitlines()

    @property
    def key_id(self):
        """The key id in 16 hex digits, as our tools print it: the end of the public key
        file's comment, where minisign leaves out leading zeros."""
        return self.comment.split()[-1].upper().zfill(16)

    def sign(self, path, trusted_comment, signature=None, legacy=False):
        """Signs the file at path into signature (default: path + ".minisig"), returns
        that path."""
        signature = signature or path + ".minisig"
        command = [MINISIGN, "-S", "-s", self.secret_file, "-m", path, "-t", trusted_comment,
                   "-x", signature]
        if legacy:
            command.append("-l")
        subprocess.run(command, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        return signature
