// Minisign public keys and signature files. The input is a public key line, a line end,
// then a signature file over the message "fuzz message\n". Beyond surviving any input:
// strict base64 decodes only what it would encode again byte for byte, and a trusted
// version is always a field of the comment that starts with "version:".
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <sodium.h>

#include "fuzz_check.h"
#include "update/minisign.h"

namespace {

const char kMessage[] = "fuzz message\n";

void CheckBase64RoundTrip(const char* text, size_t length) {
    uint8_t decoded[80];
    const size_t decodedLength = length / 4 * 3;
    for (size_t n = decodedLength > 2 ? decodedLength - 2 : 0; n <= decodedLength && n <= sizeof decoded; ++n) {
        if (!DecodeBase64Exact(text, length, decoded, n)) continue;
        char encoded[120];
        sodium_bin2base64(encoded, sizeof encoded, decoded, n, sodium_base64_VARIANT_ORIGINAL);
        Check(strlen(encoded) == length && memcmp(encoded, text, length) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* lineEnd = static_cast<const uint8_t*>(memchr(data, '\n', size));
    const size_t keyLength = lineEnd ? static_cast<size_t>(lineEnd - data) : size;
    const char* keyText = reinterpret_cast<const char*>(data);
    if (keyLength <= 100) CheckBase64RoundTrip(keyText, keyLength);

    MinisignPublicKey key;
    const bool haveKey = ParseMinisignPublicKey(keyText, keyLength, &key);
    if (haveKey) Check(FormatMinisignKeyId(key.keyId).text[16] == '\0');
    if (!lineEnd) return 0;

    const uint8_t* file = lineEnd + 1;
    const size_t fileLength = size - keyLength - 1;
    MinisignSignature signature;
    if (ParseMinisignSignature(file, fileLength, &signature) != MinisignStatus::kOk) return 0;
    const char* comment = signature.trustedComment;
    Check(comment >= reinterpret_cast<const char*>(file) &&
          comment + signature.trustedCommentLength <= reinterpret_cast<const char*>(file + fileLength));

    const char* version = nullptr;
    size_t versionLength = 0;
    if (FindTrustedVersion(comment, signature.trustedCommentLength, &version, &versionLength)) {
        Check(version >= comment + 8 && version + versionLength <= comment + signature.trustedCommentLength);
        Check(versionLength > 0 && memcmp(version - 8, "version:", 8) == 0);
    }
    if (haveKey) {
        const MinisignStatus status = VerifyMinisignSignature(
            key, signature, reinterpret_cast<const uint8_t*>(kMessage), sizeof kMessage - 1);
        Check(MinisignStatusText(status) != nullptr);
    }
    return 0;
}
