"""The AES block cipher (FIPS-197), 128-, 192- and 256-bit keys.

Encryption is table-driven (four 256-entry round tables of 32-bit column words, built
once from GF(2^8) arithmetic). Decryption is the plain inverse cipher, byte by byte:
slow, but written independently of the tables, so that each checks the other.
"""

import struct

_POLY = 0x11B


def _xtime(a):
    a <<= 1
    return a ^ _POLY if a & 0x100 else a


def _mul(a, b):
    product = 0
    while b:
        if b & 1:
            product ^= a
        a = _xtime(a)
        b >>= 1
    return product


def _build_sbox():
    # Powers of the generator 3 give the logarithms, and so the inverses.
    exp, log = [0] * 255, [0] * 256
    p = 1
    for i in range(255):
        exp[i] = p
        log[p] = i
        p ^= _xtime(p)
    sbox = [0] * 256
    for x in range(256):
        b = exp[(255 - log[x]) % 255] if x else 0
        s = b
        for shift in range(1, 5):
            s ^= ((b << shift) | (b >> (8 - shift))) & 0xFF
        sbox[x] = s ^ 0x63
    inverse = [0] * 256
    for x, s in enumerate(sbox):
        inverse[s] = x
    return sbox, inverse


SBOX, INV_SBOX = _build_sbox()


def _ror8(word):
    return ((word >> 8) | (word << 24)) & 0xFFFFFFFF


# Round tables: TE0[x] is the column (2s, s, s, 3s) of s = SBOX[x], big-endian in the
# word; TE1 to TE3 are its byte rotations.
TE0 = [(_mul(s, 2) << 24) | (s << 16) | (s << 8) | _mul(s, 3) for s in SBOX]
TE1 = [_ror8(w) for w in TE0]
TE2 = [_ror8(w) for w in TE1]
TE3 = [_ror8(w) for w in TE2]

KEY_ROUNDS = {16: 10, 24: 12, 32: 14}


def expand_key(key):
    """The 4 * (rounds + 1) round-key words of a 16-, 24- or 32-byte key.
    ValueError for any other length."""
    key = bytes(key)
    if len(key) not in KEY_ROUNDS:
        raise ValueError("an AES key has 16, 24 or 32 bytes, not %d" % len(key))
    nk = len(key) // 4
    total = 4 * (KEY_ROUNDS[len(key)] + 1)
    words = [int.from_bytes(key[4 * i:4 * i + 4], "big") for i in range(nk)]
    rcon = 1
    for i in range(nk, total):
        t = words[i - 1]
        if i % nk == 0:
            t = ((t << 8) | (t >> 24)) & 0xFFFFFFFF
            t = _sub_word(t) ^ (rcon << 24)
            rcon = _xtime(rcon)
        elif nk > 6 and i % nk == 4:
            t = _sub_word(t)
        words.append(words[i - nk] ^ t)
    return words


def _sub_word(w):
    return (SBOX[w >> 24] << 24) | (SBOX[(w >> 16) & 0xFF] << 16) | \
           (SBOX[(w >> 8) & 0xFF] << 8) | SBOX[w & 0xFF]


class Cipher:
    """One key, expanded once; encrypt_block / decrypt_block work on 16 bytes."""

    def __init__(self, key):
        self.round_keys = expand_key(key)
        self.rounds = len(self.round_keys) // 4 - 1

    def encrypt_block(self, block):
        return self.encrypt_ecb(block)

    def encrypt_ecb(self, data):
        """Every complete 16-byte block of data encrypted on its own (ECB); a tail
        shorter than a block is left out."""
        rounds = self.rounds
        rk = self.round_keys
        middle = [tuple(rk[4 * r:4 * r + 4]) for r in range(1, rounds)]
        k0, k1, k2, k3 = rk[0:4]
        f0, f1, f2, f3 = rk[4 * rounds:4 * rounds + 4]
        te0, te1, te2, te3 = TE0, TE1, TE2, TE3
        # The last round: S-box bytes already shifted into their place in the word.
        s24 = [b << 24 for b in SBOX]
        s16 = [b << 16 for b in SBOX]
        s8 = [b << 8 for b in SBOX]
        s00 = SBOX
        blocks = len(data) // 16
        words = struct.unpack(">%dI" % (4 * blocks), bytes(data[:16 * blocks]))
        out = [0] * (4 * blocks)
        for at in range(0, 4 * blocks, 4):
            a = words[at] ^ k0
            b = words[at + 1] ^ k1
            c = words[at + 2] ^ k2
            d = words[at + 3] ^ k3
            for r0, r1, r2, r3 in middle:
                a, b, c, d = (
                    te0[a >> 24] ^ te1[(b >> 16) & 255] ^ te2[(c >> 8) & 255] ^ te3[d & 255] ^ r0,
                    te0[b >> 24] ^ te1[(c >> 16) & 255] ^ te2[(d >> 8) & 255] ^ te3[a & 255] ^ r1,
                    te0[c >> 24] ^ te1[(d >> 16) & 255] ^ te2[(a >> 8) & 255] ^ te3[b & 255] ^ r2,
                    te0[d >> 24] ^ te1[(a >> 16) & 255] ^ te2[(b >> 8) & 255] ^ te3[c & 255] ^ r3)
            out[at] = (s24[a >> 24] | s16[(b >> 16) & 255] | s8[(c >> 8) & 255] | s00[d & 255]) ^ f0
            out[at + 1] = (s24[b >> 24] | s16[(c >> 16) & 255] | s8[(d >> 8) & 255] | s00[a & 255]) ^ f1
            out[at + 2] = (s24[c >> 24] | s16[(d >> 16) & 255] | s8[(a >> 8) & 255] | s00[b & 255]) ^ f2
            out[at + 3] = (s24[d >> 24] | s16[(a >> 16) & 255] | s8[(b >> 8) & 255] | s00[c & 255]) ^ f3
        return struct.pack(">%dI" % len(out), *out)

    def decrypt_block(self, block):
        """The inverse cipher of FIPS-197, step by step on the 4x4 state."""
        if len(block) != 16:
            raise ValueError("an AES block has 16 bytes")
        state = list(block)
        self._add_round_key(state, self.rounds)
        for r in range(self.rounds - 1, -1, -1):
            # InvShiftRows: row i of the column-major state turns right by i.
            state = [state[4 * ((c - i) % 4) + i] for c in range(4) for i in range(4)]
            state = [INV_SBOX[b] for b in state]
            self._add_round_key(state, r)
            if r:
                state = _inv_mix_columns(state)
        return bytes(state)

    def _add_round_key(self, state, r):
        for c in range(4):
            word = self.round_keys[4 * r + c]
            for i in range(4):
                state[4 * c + i] ^= (word >> (24 - 8 * i)) & 0xFF


def _inv_mix_columns(state):
    out = []
    for c in range(4):
        a = state[4 * c:4 * c + 4]
        for i in range(4):
            out.append(_mul(a[i], 14) ^ _mul(a[(i + 1) % 4], 11) ^
                       _mul(a[(i + 2) % 4], 13) ^ _mul(a[(i + 3) % 4], 9))
    return out
