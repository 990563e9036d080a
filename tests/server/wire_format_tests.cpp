// The Flash client protocol's bytes: the opening of a connection, frames found in the
// received bytes, resynchronisation after garbage, and the fields of the requests.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "server/wire_format.h"

namespace {

const std::string kMagic("\xFF\xCC\xEE\xCC", 4);

std::string U32(uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

std::string Pstr(const std::string& text) {
    const size_t length = text.size();
    return std::string(1, static_cast<char>(length)) + static_cast<char>(length >> 8) + text + std::string(1, '\0');
}

std::string Frame(const std::string& body) { return kMagic + U32(static_cast<uint32_t>(body.size())) + body; }

WireStep StepOver(bool handshakeDone, const std::string& bytes) {
    return NextWireStep(handshakeDone, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

PacketReader ReaderOver(const std::string& body) {
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(body.data());
    return PacketReader{begin, begin, begin + body.size()};
}

// The worked example: GetFile res/a.swf with the words 1, 2, 3 and the token t.
const std::string kWorkedExample(
    "\xff\xcc\xee\xcc\x1d\x00\x00\x00\x02\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00"
    "\x01\x00\x74\x00\x09\x00\x72\x65\x73\x2f\x61\x2e\x73\x77\x66\x00",
    37);

TEST(WireSteps, TheOpeningIsThePolicyRequestOrTheHandshakeWord) {
    const struct {
        const char* what;
        std::string bytes;
        WireStepKind kind;
        size_t consumed;
    } cases[] = {
        {"nothing yet", "", kWireWait, 0},
        {"three bytes of the word", "QMT", kWireWait, 0},
        {"the word", "QMTK", kWireHandshake, 4},
        {"any word is checked by the caller", "ABCD", kWireHandshake, 4},
        {"the word and a frame behind it", "QMTK" + kWorkedExample, kWireHandshake, 4},
        {"exactly 23 bytes, whatever they hold", "QMTK" + std::string(19, 'x'), kWirePolicy, 23},
        {"two policy requests at once", std::string(46, 'p'), kWireHandshake, 4},
    };
    for (const auto& c : cases) {
        const WireStep step = StepOver(false, c.bytes);
        EXPECT_EQ(step.kind, c.kind) << c.what;
        EXPECT_EQ(step.consumed, c.consumed) << c.what;
    }
}

TEST(WireSteps, FramesAreTakenWholeAndGarbageIsSkippedToTheNextMagic) {
    const std::string maxHeader = kMagic + U32(kWireMaxFrameBody);
    const struct {
        const char* what;
        std::string bytes;
        WireStepKind kind;
        size_t consumed;
        uint32_t length;
    } cases[] = {
        {"the worked example", kWorkedExample, kWireFrame, 37, 29},
        {"the example and more behind it", kWorkedExample + "QMTK", kWireFrame, 37, 29},
        {"an empty frame", Frame(""), kWireFrame, 8, 0},
        {"all but the last byte", kWorkedExample.substr(0, 36), kWireWait, 0, 29},
        {"less than a header", kWorkedExample.substr(0, 7), kWireWait, 0, 0},
        {"the largest body, not there yet", maxHeader + "\x02", kWireWait, 0, kWireMaxFrameBody},
        {"a body beyond the bound", kMagic + U32(kWireMaxFrameBody + 1u), kWireOversized, 0, kWireMaxFrameBody + 1u},
        {"the largest length field", kMagic + U32(0xFFFFFFFFu), kWireOversized, 0, 0xFFFFFFFFu},
        {"five bytes of garbage first", "abcde" + kWorkedExample, kWireSkip, 5, 0},
        {"a lone first magic byte just before the magic", std::string("g\xFF", 2) + kWorkedExample, kWireSkip, 2, 0},
        {"a broken magic first", std::string("\xFF\xCC\xEE", 3) + kWorkedExample, kWireSkip, 3, 0},
        {"no magic at all", std::string(10, 'g'), kWireNoMagic, 7, 0},
        {"the start of a magic at the end", std::string(10, 'g') + std::string("\xFF\xCC\xEE", 3), kWireNoMagic, 10, 0},
        {"short garbage waits", std::string(7, 'g'), kWireWait, 0, 0},
    };
    for (const auto& c : cases) {
        const WireStep step = StepOver(true, c.bytes);
        EXPECT_EQ(step.kind, c.kind) << c.what;
        EXPECT_EQ(step.consumed, c.consumed) << c.what;
        if (c.kind == kWireFrame || c.kind == kWireOversized || c.length) EXPECT_EQ(step.length, c.length) << c.what;
        if (c.kind == kWireFrame) EXPECT_EQ(step.body, reinterpret_cast<const uint8_t*>(c.bytes.data()) + 8) << c.what;
    }
}

TEST(WireRequests, GetFileFields) {
    const WireStep frame = StepOver(true, kWorkedExample);
    ASSERT_EQ(frame.kind, kWireFrame);
    PacketReader reader = FrameReader(frame);
    EXPECT_EQ(*reader.begin, kWireTypeGetFile);
    GetFileRequest request;
    ReadGetFile(reader, &request);
    EXPECT_EQ(request.words[0], 1u);
    EXPECT_EQ(request.words[1], 2u);
    EXPECT_EQ(request.words[2], 3u);
    EXPECT_STREQ(request.token, "t");
    EXPECT_STREQ(request.name, "res/a.swf");
    EXPECT_EQ(reader.Remaining(), 0u);

    // A body that ends after word3: the texts read as empty.
    const std::string shortBody = "\x02" + U32(7) + U32(8) + U32(9);
    PacketReader shortReader = ReaderOver(shortBody);
    ++shortReader.cursor;
    memset(&request, '#', sizeof request);
    ReadGetFile(shortReader, &request);
    EXPECT_EQ(request.words[2], 9u);
    EXPECT_STREQ(request.token, "");
    EXPECT_STREQ(request.name, "");

    // Texts longer than their buffers: 127 bytes survive, the next field is still read.
    const std::string longBody = U32(1) + U32(2) + U32(3) + Pstr(std::string(300, 't')) + Pstr(std::string(200, 'n'));
    PacketReader longReader = ReaderOver(longBody);
    ReadGetFile(longReader, &request);
    EXPECT_EQ(std::string(request.token), std::string(127, 't'));
    EXPECT_EQ(std::string(request.name), std::string(127, 'n'));
}

TEST(WireRequests, SetAddressesTextsThatDoNotFitAreRefusedNotCut) {
    const struct {
        const char* what;
        std::string directory;
        std::string address;
        bool directoryFits;
        bool addressFits;
    } cases[] = {
        {"both fit", "C:\\Cache\\", "http://cdn.test/", true, true},
        {"the longest text", std::string(255, 'd'), std::string(255, 'a'), true, true},
        {"a directory one byte too long", std::string(256, 'd'), "http://cdn.test/", false, true},
        {"an address one byte too long", "C:\\Cache\\", std::string(256, 'a'), true, false},
    };
    for (const auto& c : cases) {
        const std::string body = Pstr(c.directory) + Pstr(c.address);
        PacketReader reader = ReaderOver(body);
        SetAddressesRequest request;
        ReadSetAddresses(reader, &request);
        EXPECT_EQ(request.directoryFits, c.directoryFits) << c.what;
        EXPECT_EQ(request.addressFits, c.addressFits) << c.what;
        if (c.directoryFits) EXPECT_EQ(std::string(request.directory), c.directory) << c.what;
        if (c.addressFits) EXPECT_EQ(std::string(request.address), c.address) << c.what;
    }
    // A body that ends after the directory: the address is empty (and fits).
    const std::string body = Pstr("C:\\Cache\\");
    PacketReader reader = ReaderOver(body);
    SetAddressesRequest request;
    ReadSetAddresses(reader, &request);
    EXPECT_STREQ(request.directory, "C:\\Cache\\");
    EXPECT_STREQ(request.address, "");
    EXPECT_TRUE(request.addressFits);
}

TEST(PacketReader, Words) {
    const struct {
        std::string body;
        uint32_t value;
        size_t left;
    } cases[] = {
        {std::string("\x01\x02\x03\x04\x05", 5), 0x04030201u, 1},
        {std::string("\x01\x02\x03", 3), 0x030201u, 0},
        {std::string("\xFF", 1), 0xFFu, 0},
        {std::string(), 0u, 0},
    };
    for (const auto& c : cases) {
        PacketReader reader = ReaderOver(c.body);
        EXPECT_EQ(reader.ReadU32(), c.value);
        EXPECT_EQ(reader.Remaining(), c.left);
    }
}

TEST(PacketReader, Strings) {
    const struct {
        const char* what;
        std::string body;
        size_t capacity;
        uint32_t declared;
        std::string text;
        size_t left;
    } cases[] = {
        {"whole string and its zero", std::string("\x03\x00" "abc\x00" "X", 7), 128, 3, "abc", 1},
        {"ends exactly at the body's end", std::string("\x03\x00" "abc", 5), 128, 3, "abc", 0},
        {"claims more than is there", std::string("\x0a\x00" "abc", 5), 128, 10, "abc", 0},
        {"fills the capacity", std::string("\x05\x00" "abcde\x00" "Y", 9), 5, 5, "abcd", 1},
        {"just fits", std::string("\x03\x00" "abc\x00", 6), 4, 3, "abc", 0},
        {"empty string", std::string("\x00\x00\x00" "Z", 4), 128, 0, "", 1},
        {"one byte left", std::string("\x05", 1), 128, 0, "", 0},
        {"nothing left", std::string(), 128, 0, "", 0},
    };
    for (const auto& c : cases) {
        PacketReader reader = ReaderOver(c.body);
        char text[128];
        memset(text, '#', sizeof text);
        EXPECT_EQ(reader.ReadString(text, c.capacity), c.declared) << c.what;
        EXPECT_EQ(std::string(text), c.text) << c.what;
        EXPECT_EQ(reader.Remaining(), c.left) << c.what;
    }
    // 200 bytes into 128: 127 survive.
    std::string body = std::string("\xC8\x00", 2) + std::string(200, 'n') + std::string(1, '\0');
    PacketReader reader = ReaderOver(body);
    char text[128];
    EXPECT_EQ(reader.ReadString(text, sizeof text), 200u);
    EXPECT_EQ(strlen(text), 127u);
    EXPECT_EQ(reader.Remaining(), 0u);
}

}  // namespace
