#include "standins/flash/swf_header.h"

#include <string.h>

#include <zlib.h>

namespace {

// Signature, version and file length come before the part that may be compressed.
constexpr size_t kPlainPrefix = 8;
// The rectangle takes at most 5 + 4 * 31 bits (17 bytes); rate and count 4 more.
constexpr size_t kMaxRest = 17 + 4;

struct BitReader {
    const uint8_t* data;
    size_t length;
    size_t bit;  // next bit, counted from the most significant bit of data[0]
};

bool ReadBits(BitReader* reader, uint32_t count, uint32_t* value) {
    if (count > 32 || reader->bit / 8 > reader->length) return false;
    size_t available = (reader->length - reader->bit / 8) * 8 - reader->bit % 8;
    if (count > available) return false;
    uint32_t result = 0;
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = reader->bit + i;
        uint32_t bit = (reader->data[at / 8] >> (7 - at % 8)) & 1u;
        result = (result << 1) | bit;
    }
    reader->bit += count;
    *value = result;
    return true;
}

bool ReadSignedBits(BitReader* reader, uint32_t count, int32_t* value) {
    uint32_t raw = 0;
    if (!ReadBits(reader, count, &raw)) return false;
    if (count > 0 && count < 32 && (raw & (1u << (count - 1)))) raw |= ~0u << count;
    *value = static_cast<int32_t>(raw);
    return true;
}

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t Read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Inflates the start of a compressed body into `out`; returns the bytes produced.
size_t InflatePrefix(const uint8_t* data, size_t length, uint8_t* out, size_t capacity) {
    z_stream stream;
    memset(&stream, 0, sizeof stream);
    if (inflateInit(&stream) != Z_OK) return 0;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = length > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uInt>(length);
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(capacity);
    int result = inflate(&stream, Z_SYNC_FLUSH);
    size_t produced = capacity - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return 0;
    return produced;
}

// The frame rectangle, rate and count that follow the plain prefix.
bool ParseRest(const uint8_t* rest, size_t length, SwfHeader* header) {
    BitReader reader = {rest, length, 0};
    uint32_t bits = 0;
    if (!ReadBits(&reader, 5, &bits)) return false;
    if (!ReadSignedBits(&reader, bits, &header->xMin) || !ReadSignedBits(&reader, bits, &header->xMax) ||
        !ReadSignedBits(&reader, bits, &header->yMin) || !ReadSignedBits(&reader, bits, &header->yMax))
        return false;
    size_t at = (reader.bit + 7) / 8;
    if (length - at < 4) return false;
    header->frameRate = Read16(rest + at);
    header->frameCount = Read16(rest + at + 2);
    return true;
}

}  // namespace

bool ParseSwfHeader(const uint8_t* data, size_t length, SwfHeader* header) {
    if (!data || !header || length < kPlainPrefix) return false;
    bool compressed = data[0] == 'C';
    if ((data[0] != 'F' && !compressed) || data[1] != 'W' || data[2] != 'S') return false;
    SwfHeader parsed = {};
    parsed.compressed = compressed;
    parsed.version = data[3];
    parsed.fileLength = Read32(data + 4);
    const uint8_t* rest = data + kPlainPrefix;
    size_t restLength = length - kPlainPrefix;
    uint8_t inflated[kMaxRest];
    if (compressed) {
        restLength = InflatePrefix(rest, restLength, inflated, sizeof inflated);
        rest = inflated;
    }
    if (!ParseRest(rest, restLength, &parsed)) return false;
    *header = parsed;
    return true;
}
