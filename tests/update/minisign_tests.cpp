// Minisign keys and signature files: strict base64, the four lines and their lengths,
// and signatures made by Debian's minisign at build time checked with libsodium.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "update/minisign.h"

using testing_support::FixturePath;
using testing_support::ReadFileBytes;

namespace {

std::string Fixture(const std::wstring& name) {
    const std::vector<uint8_t> bytes = ReadFileBytes(FixturePath(L"signed_update/" + name));
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        uint32_t bits = static_cast<uint32_t>(bytes[i]) << 16;
        if (n > 1) bits |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (n > 2) bits |= bytes[i + 2];
        for (size_t d = 0; d < 4; ++d) text += d <= n ? kDigits[(bits >> (18 - 6 * d)) & 63] : '=';
    }
    return text;
}

std::vector<uint8_t> Decoded(const std::string& text, size_t length) {
    std::vector<uint8_t> bytes(length);
    EXPECT_TRUE(DecodeBase64Exact(text.data(), text.size(), bytes.data(), length)) << text;
    return bytes;
}

// The key text of a minisign .pub file: its second line.
std::string PublicKeyText(const std::wstring& name) { return Lines(Fixture(name)).at(1); }

MinisignStatus Parse(const std::string& file, MinisignSignature* signature) {
    return ParseMinisignSignature(reinterpret_cast<const uint8_t*>(file.data()), file.size(), signature);
}

TEST(Base64, OnlyTheOneEncodingOfExactlyTheLength) {
    struct Case {
        const char* text;
        size_t length;
        const char* decoded;  // null: refused
    } cases[] = {
        {"", 0, ""},
        {"Zg==", 1, "f"},
        {"Zm8=", 2, "fo"},
        {"Zm9v", 3, "foo"},
        {"Zm9vYmFy", 6, "foobar"},
        {"Zm9v", 2, nullptr},      // longer than asked for
        {"Zg==", 2, nullptr},
        {"Zg", 1, nullptr},        // padding left out
        {"Zg=", 1, nullptr},
        {"Zh==", 1, nullptr},      // bits below the last byte set
        {"Zm9=", 2, nullptr},
        {"Zm-v", 3, nullptr},      // the URL alphabet
        {" Zm9v", 3, nullptr},
        {"Zm9v\n", 3, nullptr},
        {"Zg==Zg==", 4, nullptr},  // padding inside
        {"Zm9vYmF=", 6, nullptr},
        {"Zm\x80v", 3, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> out(c.length + 1, 0xEE);
        const bool decoded = DecodeBase64Exact(c.text, strlen(c.text), out.data(), c.length);
        ASSERT_EQ(decoded, c.decoded != nullptr);
        if (decoded) EXPECT_EQ(std::string(out.begin(), out.begin() + c.length), c.decoded);
        EXPECT_EQ(out[c.length], 0xEE);
    }
}

TEST(MinisignPublicKey, TheSecondLineOfAPublicKeyFileAndNothingElse) {
    const std::string text = PublicKeyText(L"release.pub");
    MinisignPublicKey key;
    ASSERT_TRUE(ParseMinisignPublicKey(text.data(), text.size(), &key)) << text;
    // minisign names the key id at the end of the file's comment, without leading zeros.
    const std::string comment = Lines(Fixture(L"release.pub")).at(0);
    const std::string keyId = FormatMinisignKeyId(key.keyId).text;
    EXPECT_EQ(comment.substr(comment.rfind(' ') + 1), keyId.substr(std::min(keyId.find_first_not_of('0'), keyId.size() - 1)));

    std::vector<uint8_t> blob = Decoded(text, 42);
    std::vector<uint8_t> hashedName = blob;
    hashedName[1] = 'D';
    const std::vector<uint8_t> shorter(blob.begin(), blob.end() - 1);
    std::vector<uint8_t> longer = blob;
    longer.push_back(0);
    const std::string refused[] = {
        "",
        text.substr(0, text.size() - 4),
        text + "\n",
        " " + text,
        Base64(hashedName),
        Base64(shorter),
        Base64(longer),
        Lines(Fixture(L"release.pub")).at(0),
    };
    for (const std::string& bad : refused) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseMinisignPublicKey(bad.data(), bad.size(), &key));
    }
}

class SignatureFile : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string keyText = PublicKeyText(L"release.pub");
        ASSERT_TRUE(ParseMinisignPublicKey(keyText.data(), keyText.size(), &key_));
        const std::string otherText = PublicKeyText(L"other.pub");
        ASSERT_TRUE(ParseMinisignPublicKey(otherText.data(), otherText.size(), &otherKey_));
        exe_ = Fixture(L"Launcher_new.exe");
        genuine_ = Fixture(L"genuine.minisig");
        ASSERT_FALSE(exe_.empty());
        ASSERT_EQ(Lines(genuine_).size(), 4u);
    }

    MinisignStatus Check(const std::string& file, const std::string& exe, const MinisignPublicKey& key) {
        MinisignSignature signature;
        const MinisignStatus parsed = Parse(file, &signature);
        if (parsed != MinisignStatus::kOk) return parsed;
        return VerifyMinisignSignature(key, signature, reinterpret_cast<const uint8_t*>(exe.data()), exe.size());
    }

    // The genuine file with line n (1 to 4) replaced.
    std::string WithLine(size_t n, const std::string& line) {
        std::vector<std::string> lines = Lines(genuine_);
        lines.at(n - 1) = line;
        return JoinLines(lines);
    }
    // The genuine file with the bytes of line 2 (algorithm, key id, signature) changed.
    std::string WithSignatureBlob(void (*change)(std::vector<uint8_t>*)) {
        std::vector<uint8_t> blob = Decoded(Lines(genuine_).at(1), 74);
        change(&blob);
        return WithLine(2, Base64(blob));
    }

    MinisignPublicKey key_;
    MinisignPublicKey otherKey_;
    std::string exe_;
    std::string genuine_;
};

TEST_F(SignatureFile, MinisignsSignaturesVerify) {
    MinisignSignature signature;
    ASSERT_EQ(Parse(genuine_, &signature), MinisignStatus::kOk);
    EXPECT_EQ(signature.algorithm, MinisignAlgorithm::kHashed);
    EXPECT_EQ(std::string(signature.trustedComment, signature.trustedCommentLength),
              "timestamp:1700000000\tversion:1.12\tfile:Launcher_new.exe");

    const std::string legacy = Fixture(L"legacy.minisig");
    ASSERT_EQ(Parse(legacy, &signature), MinisignStatus::kOk);
    EXPECT_EQ(signature.algorithm, MinisignAlgorithm::kLegacy);

    std::string crlf;
    for (const std::string& line : Lines(genuine_)) crlf += line + "\r\n";
    struct Case {
        const char* name;
        std::string file;
    } cases[] = {
        {"hashed", genuine_},
        {"legacy", legacy},
        {"CRLF line ends", crlf},
        {"no line end after the last line", genuine_.substr(0, genuine_.size() - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Check(c.file, exe_, key_), MinisignStatus::kOk);
    }
}

TEST_F(SignatureFile, MalformedFilesAreRefusedWithTheirReason) {
    const std::vector<std::string> lines = Lines(genuine_);
    struct Case {
        const char* name;
        std::string file;
        MinisignStatus status;
    } cases[] = {
        {"empty", "", MinisignStatus::kNotFourLines},
        {"three lines", JoinLines({lines[0], lines[1], lines[2]}), MinisignStatus::kNotFourLines},
        {"an empty fifth line", genuine_ + "\n", MinisignStatus::kNotFourLines},
        {"a blank line between", JoinLines({lines[0], "", lines[1], lines[2], lines[3]}),
         MinisignStatus::kNotFourLines},
        {"larger than 1 MiB", WithLine(1, "untrusted comment: " + std::string(1024 * 1024, 'x')),
         MinisignStatus::kTooLarge},
        {"lone CR", WithLine(3, "trusted comment: version:\r1.12"), MinisignStatus::kControlCharacter},
        {"CR at the end of the file", genuine_.substr(0, genuine_.size() - 1) + "\r",
         MinisignStatus::kControlCharacter},
        {"NUL in a comment", WithLine(1, std::string("untrusted comment: a\0b", 22)),
         MinisignStatus::kControlCharacter},
        {"no untrusted comment", WithLine(1, "untrusted comment:x"), MinisignStatus::kNoUntrustedComment},
        {"lines swapped", JoinLines({lines[2], lines[1], lines[0], lines[3]}), MinisignStatus::kNoUntrustedComment},
        {"not base64", WithLine(2, "!" + lines[1].substr(1)), MinisignStatus::kBadSignatureLine},
        {"space after base64", WithLine(2, lines[1] + " "), MinisignStatus::kBadSignatureLine},
        {"73 bytes", WithSignatureBlob([](std::vector<uint8_t>* b) { b->pop_back(); }),
         MinisignStatus::kBadSignatureLine},
        {"75 bytes", WithSignatureBlob([](std::vector<uint8_t>* b) { b->push_back(0); }),
         MinisignStatus::kBadSignatureLine},
        {"algorithm EX", WithSignatureBlob([](std::vector<uint8_t>* b) { (*b)[1] = 'X'; }),
         MinisignStatus::kUnknownAlgorithm},
        {"algorithm ed", WithSignatureBlob([](std::vector<uint8_t>* b) { (*b)[0] = 'e'; }),
         MinisignStatus::kUnknownAlgorithm},
        {"no trusted comment", WithLine(3, "Trusted comment: version:1.12"), MinisignStatus::kNoTrustedComment},
        {"global signature of 63 bytes", WithLine(4, Base64(std::vector<uint8_t>(63, 1))),
         MinisignStatus::kBadGlobalSignatureLine},
        {"global signature of 65 bytes", WithLine(4, Base64(std::vector<uint8_t>(65, 1))),
         MinisignStatus::kBadGlobalSignatureLine},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MinisignSignature signature;
        EXPECT_EQ(Parse(c.file, &signature), c.status);
    }
}

TEST_F(SignatureFile, AnyChangedPartFailsTheCheck) {
    std::string changedExe = exe_;
    changedExe[100] ^= 1;
    // The release key's id with the other key's bytes: the id alone proves nothing.
    MinisignPublicKey impostor = otherKey_;
    memcpy(impostor.keyId, key_.keyId, sizeof impostor.keyId);
    const std::string comment = Lines(genuine_).at(2);
    std::vector<uint8_t> global = Decoded(Lines(genuine_).at(3), 64);
    global[0] ^= 0x80;
    struct Case {
        const char* name;
        std::string file;
        std::string exe;
        MinisignPublicKey key;
        MinisignStatus status;
    } cases[] = {
        {"another key's signature", Fixture(L"other_key.minisig"), exe_, key_, MinisignStatus::kOtherKey},
        {"checked with another key", genuine_, exe_, otherKey_, MinisignStatus::kOtherKey},
        {"key id changed", WithSignatureBlob([](std::vector<uint8_t>* b) { (*b)[2] ^= 1; }), exe_, key_,
         MinisignStatus::kOtherKey},
        {"another key under the same id", genuine_, exe_, impostor, MinisignStatus::kBadSignature},
        {"executable changed", genuine_, changedExe, key_, MinisignStatus::kBadSignature},
        {"executable cut short", genuine_, exe_.substr(0, exe_.size() - 1), key_, MinisignStatus::kBadSignature},
        {"signature changed", WithSignatureBlob([](std::vector<uint8_t>* b) { (*b)[40] ^= 1; }), exe_, key_,
         MinisignStatus::kBadSignature},
        {"hashed signature read as legacy", WithSignatureBlob([](std::vector<uint8_t>* b) { (*b)[1] = 'd'; }),
         exe_, key_, MinisignStatus::kBadSignature},
        {"trusted comment changed", WithLine(3, comment.substr(0, comment.size() - 1) + "X"), exe_, key_,
         MinisignStatus::kBadGlobalSignature},
        {"trusted comment of another signature", WithLine(3, Lines(Fixture(L"older.minisig")).at(2)), exe_, key_,
         MinisignStatus::kBadGlobalSignature},
        {"global signature changed", WithLine(4, Base64(global)), exe_, key_, MinisignStatus::kBadGlobalSignature},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Check(c.file, c.exe, c.key), c.status);
    }
}

TEST(TrustedComment, OneVersionField) {
    struct Case {
        const char* comment;
        const char* version;  // null: none
    } cases[] = {
        {"version:1.12", "1.12"},
        {"timestamp:1700000000\tversion:1.12\tfile:Launcher_new.exe", "1.12"},
        {"  version:2.0.1  ", "2.0.1"},
        {"version:1.12 version:1.13", nullptr},
        {"version:1.12 version:", nullptr},
        {"version:", nullptr},
        {"subversion:1.12", nullptr},
        {"Version:1.12", nullptr},
        {"version 1.12", nullptr},
        {"timestamp:1700000000", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comment);
        const char* version = nullptr;
        size_t length = 0;
        const bool found = FindTrustedVersion(c.comment, strlen(c.comment), &version, &length);
        ASSERT_EQ(found, c.version != nullptr);
        if (found) EXPECT_EQ(std::string(version, length), c.version);
    }
    // Only the given length is read.
    const char* version = nullptr;
    size_t length = 0;
    ASSERT_TRUE(FindTrustedVersion("version:1.12 version:1.13", 12, &version, &length));
    EXPECT_EQ(std::string(version, length), "1.12");
}

}  // namespace
