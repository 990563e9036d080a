// Minisign public keys and signature files, and their check with libsodium.
//
//   MinisignPublicKey key;
//   MinisignSignature signature;
//   if (ParseMinisignPublicKey(text, textLength, &key) &&
//       ParseMinisignSignature(file, fileLength, &signature) == MinisignStatus::kOk &&
//       VerifyMinisignSignature(key, signature, message, messageLength) == MinisignStatus::kOk)
//       ... signature.trustedComment is the publisher's, FindTrustedVersion reads it
//
// Portable byte-level code: no Windows headers, UTF-8 texts with explicit lengths.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum : size_t {
    kMinisignKeyIdBytes = 8,
    kMinisignKeyBytes = 32,
    kMinisignSignatureBytes = 64,
    // The largest signature file read at all.
    kMinisignMaxFileBytes = 1024 * 1024,
};

// Strict base64 (RFC 4648 alphabet, '=' padding, no white space, unused bits zero):
// true when text[0 .. length) is the one encoding of exactly outLength bytes, written to
// out. Otherwise false, and out holds nothing meaningful.
bool DecodeBase64Exact(const char* text, size_t length, uint8_t* out, size_t outLength);

struct MinisignPublicKey {
    uint8_t keyId[kMinisignKeyIdBytes];
    uint8_t key[kMinisignKeyBytes];
};

// The base64 text of a public key (the second line of minisign's .pub file, without its
// line end): "Ed", the key id and the Ed25519 public key. False for anything else.
bool ParseMinisignPublicKey(const char* text, size_t length, MinisignPublicKey* key);

// The key id as minisign prints it: a little-endian 64-bit number in 16 upper-case hex
// digits.
struct MinisignKeyIdText {
    char text[kMinisignKeyIdBytes * 2 + 1];
};
MinisignKeyIdText FormatMinisignKeyId(const uint8_t* keyId);

enum class MinisignAlgorithm {
    kHashed,  // "ED": Ed25519 over the BLAKE2b-512 hash of the file
    kLegacy,  // "Ed": Ed25519 over the file itself
};

struct MinisignSignature {
    MinisignAlgorithm algorithm;
    uint8_t keyId[kMinisignKeyIdBytes];
    uint8_t signature[kMinisignSignatureBytes];
    // The text after "trusted comment: ", pointing into the parsed file.
    const char* trustedComment;
    size_t trustedCommentLength;
    uint8_t globalSignature[kMinisignSignatureBytes];
};

enum class MinisignStatus {
    kOk,
    kTooLarge,                // more than kMinisignMaxFileBytes
    kNotFourLines,            // not four lines ending in LF or CRLF (the last may end the file)
    kControlCharacter,        // a NUL, a lone CR or another control byte besides tab in a line
    kNoUntrustedComment,      // line 1 does not start with "untrusted comment: "
    kBadSignatureLine,        // line 2 is not base64 of 74 bytes
    kUnknownAlgorithm,        // line 2 starts with neither "ED" nor "Ed"
    kNoTrustedComment,        // line 3 does not start with "trusted comment: "
    kBadGlobalSignatureLine,  // line 4 is not base64 of 64 bytes
    kOtherKey,                // the key ids differ
    kBadSignature,            // the signature does not match the file
    kBadGlobalSignature,      // the global signature does not match signature and comment
    kNoCrypto,                // libsodium could not be initialised
};

// A short English text for the status, for log lines.
const char* MinisignStatusText(MinisignStatus status);

// Reads a signature file: file[0 .. length). On kOk the signature's trusted comment
// points into file, which must outlive it.
MinisignStatus ParseMinisignSignature(const uint8_t* file, size_t length, MinisignSignature* signature);

// Whether signature was made by key over message[0 .. length) and its trusted comment:
// the key ids match, the signature verifies over the message (or its BLAKE2b-512 hash)
// and the global signature over the signature bytes followed by the trusted comment.
MinisignStatus VerifyMinisignSignature(const MinisignPublicKey& key, const MinisignSignature& signature,
                                       const uint8_t* message, size_t length);

// The version named in a trusted comment: its fields are separated by spaces or tabs,
// and exactly one of them starts with "version:" and has text after it. True with
// *version and *versionLength set to that text (pointing into comment); false when no
// field or more than one names a version.
bool FindTrustedVersion(const char* comment, size_t length, const char** version, size_t* versionLength);
