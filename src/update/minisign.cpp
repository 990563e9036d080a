#include "update/minisign.h"

#include <string.h>

#include <vector>

#include <sodium.h>

namespace {

const char kUntrustedCommentPrefix[] = "untrusted comment: ";
const char kTrustedCommentPrefix[] = "trusted comment: ";
const char kVersionField[] = "version:";
// "Ed" names the key, and a signature over the file itself; "ED" one over its hash.
const uint8_t kEd25519Algorithm[2] = {'E', 'd'};
const uint8_t kHashedAlgorithm[2] = {'E', 'D'};
const size_t kAlgorithmBytes = 2;
const size_t kPublicKeyBlobBytes = kAlgorithmBytes + kMinisignKeyIdBytes + kMinisignKeyBytes;
const size_t kSignatureBlobBytes = kAlgorithmBytes + kMinisignKeyIdBytes + kMinisignSignatureBytes;
const size_t kLineCount = 4;

// The value of a base64 digit, or -1.
int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

struct Line {
    const char* text;
    size_t length;
};

bool StartsWith(const Line& line, const char* prefix, size_t prefixLength) {
    return line.length >= prefixLength && memcmp(line.text, prefix, prefixLength) == 0;
}

// Splits file[0 .. length) into exactly kLineCount lines, each ending in LF or CRLF; the
// last one may end with the file instead. The line ends are not part of the lines.
bool SplitLines(const uint8_t* file, size_t length, Line* lines) {
    const char* text = reinterpret_cast<const char*>(file);
    size_t count = 0;
    size_t start = 0;
    while (start < length) {
        if (count == kLineCount) return false;
        const void* found = memchr(text + start, '\n', length - start);
        const size_t end = found ? static_cast<size_t>(static_cast<const char*>(found) - text) : length;
        size_t textEnd = end;
        if (found && textEnd > start && text[textEnd - 1] == '\r') --textEnd;
        lines[count++] = {text + start, textEnd - start};
        start = found ? end + 1 : length;
    }
    return count == kLineCount;
}

bool HasControlCharacter(const Line& line) {
    for (size_t i = 0; i < line.length; ++i) {
        const uint8_t c = static_cast<uint8_t>(line.text[i]);
        if (c < 0x20 && c != '\t') return true;
    }
    return false;
}

bool IsFieldSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool DecodeBase64Exact(const char* text, size_t length, uint8_t* out, size_t outLength) {
    if (!text || !out) return false;
    if (outLength > (SIZE_MAX / 4 - 1) * 3) return false;
    const size_t groups = (outLength + 2) / 3;
    if (length != groups * 4) return false;
    const size_t padding = groups * 3 - outLength;
    size_t written = 0;
    for (size_t group = 0; group < groups; ++group) {
        const char* digits = text + group * 4;
        const size_t padded = group + 1 == groups ? padding : 0;
        uint32_t bits = 0;
        for (size_t i = 0; i < 4; ++i) {
            if (i < 4 - padded) {
                const int value = Base64Digit(digits[i]);
                if (value < 0) return false;
                bits = (bits << 6) | static_cast<uint32_t>(value);
            } else {
                if (digits[i] != '=') return false;
                bits <<= 6;
            }
        }
        // The bits below the last whole byte must be zero: one encoding per value.
        if ((padded == 1 && (bits & 0xFF) != 0) || (padded == 2 && (bits & 0xFFFF) != 0)) return false;
        const uint8_t bytes[3] = {static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 8),
                                  static_cast<uint8_t>(bits)};
        memcpy(out + written, bytes, 3 - padded);
        written += 3 - padded;
    }
    return written == outLength;
}

bool ParseMinisignPublicKey(const char* text, size_t length, MinisignPublicKey* key) {
    uint8_t blob[kPublicKeyBlobBytes];
    if (!key || !DecodeBase64Exact(text, length, blob, sizeof blob)) return false;
    if (memcmp(blob, kEd25519Algorithm, kAlgorithmBytes) != 0) return false;
    memcpy(key->keyId, blob + kAlgorithmBytes, kMinisignKeyIdBytes);
    memcpy(key->key, blob + kAlgorithmBytes + kMinisignKeyIdBytes, kMinisignKeyBytes);
    return true;
}

MinisignKeyIdText FormatMinisignKeyId(const uint8_t* keyId) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    MinisignKeyIdText id;
    for (size_t i = 0; i < kMinisignKeyIdBytes; ++i) {
        const uint8_t byte = keyId[kMinisignKeyIdBytes - 1 - i];
        id.text[2 * i] = kHexDigits[byte >> 4];
        id.text[2 * i + 1] = kHexDigits[byte & 0x0F];
    }
    id.text[kMinisignKeyIdBytes * 2] = '\0';
    return id;
}

const char* MinisignStatusText(MinisignStatus status) {
    switch (status) {
    case MinisignStatus::kOk: return "verified";
    case MinisignStatus::kTooLarge: return "the signature file is larger than 1 MiB";
    case MinisignStatus::kNotFourLines: return "the signature file does not have four lines";
    case MinisignStatus::kControlCharacter: return "the signature file has a control character in a line";
    case MinisignStatus::kNoUntrustedComment: return "line 1 of the signature file is no untrusted comment";
    case MinisignStatus::kBadSignatureLine: return "line 2 of the signature file is not base64 of 74 bytes";
    case MinisignStatus::kUnknownAlgorithm: return "the signature's algorithm is neither ED nor Ed";
    case MinisignStatus::kNoTrustedComment: return "line 3 of the signature file is no trusted comment";
    case MinisignStatus::kBadGlobalSignatureLine: return "line 4 of the signature file is not base64 of 64 bytes";
    case MinisignStatus::kOtherKey: return "the signature was made with another key";
    case MinisignStatus::kBadSignature: return "the signature does not match the executable";
    case MinisignStatus::kBadGlobalSignature: return "the signature of the trusted comment does not verify";
    case MinisignStatus::kNoCrypto: return "the signature check could not be initialised";
    }
    return "unknown signature status";
}

MinisignStatus ParseMinisignSignature(const uint8_t* file, size_t length, MinisignSignature* signature) {
    if (length > kMinisignMaxFileBytes) return MinisignStatus::kTooLarge;
    Line lines[kLineCount];
    if (!file || !SplitLines(file, length, lines)) return MinisignStatus::kNotFourLines;
    for (const Line& line : lines)
        if (HasControlCharacter(line)) return MinisignStatus::kControlCharacter;
    if (!StartsWith(lines[0], kUntrustedCommentPrefix, sizeof kUntrustedCommentPrefix - 1))
        return MinisignStatus::kNoUntrustedComment;

    uint8_t blob[kSignatureBlobBytes];
    if (!DecodeBase64Exact(lines[1].text, lines[1].length, blob, sizeof blob)) return MinisignStatus::kBadSignatureLine;
    if (memcmp(blob, kHashedAlgorithm, kAlgorithmBytes) == 0)
        signature->algorithm = MinisignAlgorithm::kHashed;
    else if (memcmp(blob, kEd25519Algorithm, kAlgorithmBytes) == 0)
        signature->algorithm = MinisignAlgorithm::kLegacy;
    else
        return MinisignStatus::kUnknownAlgorithm;
    memcpy(signature->keyId, blob + kAlgorithmBytes, kMinisignKeyIdBytes);
    memcpy(signature->signature, blob + kAlgorithmBytes + kMinisignKeyIdBytes, kMinisignSignatureBytes);

    const size_t prefixLength = sizeof kTrustedCommentPrefix - 1;
    if (!StartsWith(lines[2], kTrustedCommentPrefix, prefixLength)) return MinisignStatus::kNoTrustedComment;
    signature->trustedComment = lines[2].text + prefixLength;
    signature->trustedCommentLength = lines[2].length - prefixLength;

    if (!DecodeBase64Exact(lines[3].text, lines[3].length, signature->globalSignature, kMinisignSignatureBytes))
        return MinisignStatus::kBadGlobalSignatureLine;
    return MinisignStatus::kOk;
}

MinisignStatus VerifyMinisignSignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                                       const uint8_t* message, size_t length) {
    if (memcmp(key.keyId, signature.keyId, kMinisignKeyIdBytes) != 0) return MinisignStatus::kOtherKey;
    if (sodium_init() < 0) return MinisignStatus::kNoCrypto;
    const uint8_t none = 0;
    if (!message) {
        message = &none;
        length = 0;
    }

    int verified;
    if (signature.algorithm == MinisignAlgorithm::kHashed) {
        uint8_t hash[crypto_generichash_BYTES_MAX];
        crypto_generichash(hash, sizeof hash, message, length, nullptr, 0);
        verified = crypto_sign_verify_detached(signature.signature, hash, sizeof hash, key.key);
    } else {
        verified = crypto_sign_verify_detached(signature.signature, message, length, key.key);
    }
    if (verified != 0) return MinisignStatus::kBadSignature;

    std::vector<uint8_t> signedComment(kMinisignSignatureBytes + signature.trustedCommentLength);
    memcpy(signedComment.data(), signature.signature, kMinisignSignatureBytes);
    if (signature.trustedCommentLength > 0)
        memcpy(signedComment.data() + kMinisignSignatureBytes, signature.trustedComment, signature.trustedCommentLength);
    if (crypto_sign_verify_detached(signature.globalSignature, signedComment.data(), signedComment.size(), key.key) != 0)
        return MinisignStatus::kBadGlobalSignature;
    return MinisignStatus::kOk;
}

bool FindTrustedVersion(const char* comment, size_t length, const char** version, size_t* versionLength) {
    if (!comment) return false;
    const size_t nameLength = sizeof kVersionField - 1;
    size_t versionFields = 0;
    const char* text = nullptr;
    size_t textLength = 0;
    size_t i = 0;
    while (i < length) {
        while (i < length && IsFieldSeparator(comment[i])) ++i;
        const size_t start = i;
        while (i < length && !IsFieldSeparator(comment[i])) ++i;
        if (i - start < nameLength || memcmp(comment + start, kVersionField, nameLength) != 0) continue;
        ++versionFields;
        text = comment + start + nameLength;
        textLength = i - start - nameLength;
    }
    if (versionFields != 1 || textLength == 0) return false;
    *version = text;
    *versionLength = textLength;
    return true;
}
