#include "server/wire_format.h"

#include <string.h>

const uint8_t kWireFrameMagic[4] = {0xFF, 0xCC, 0xEE, 0xCC};

namespace {

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The first position in [from, end) where the whole magic stands, or null.
const uint8_t* FindMagic(const uint8_t* from, const uint8_t* end) {
    while (end - from >= 4) {
        const void* hit = memchr(from, kWireFrameMagic[0], static_cast<size_t>(end - from - 3));
        if (!hit) return nullptr;
        const uint8_t* at = static_cast<const uint8_t*>(hit);
        if (memcmp(at, kWireFrameMagic, 4) == 0) return at;
        from = at + 1;
    }
    return nullptr;
}

WireStep Step(WireStepKind kind, size_t consumed) {
    WireStep step = {kind, consumed, 0, nullptr};
    return step;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// PacketReader

uint32_t PacketReader::ReadU32() {
    size_t left = Remaining();
    if (left >= 4) {
        uint32_t value = LoadU32(cursor);
        cursor += 4;
        return value;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < left; ++i) value |= static_cast<uint32_t>(cursor[i]) << (8 * i);
    cursor = end;
    return value;
}

uint32_t PacketReader::ReadString(char* destination, size_t capacity) {
    if (destination && capacity > 0) destination[0] = '\0';
    if (Remaining() < 2) {
        cursor = end;
        return 0;
    }
    uint32_t declared = static_cast<uint32_t>(cursor[0]) | static_cast<uint32_t>(cursor[1]) << 8;
    cursor += 2;
    size_t present = Remaining();
    size_t available = declared < present ? declared : present;
    if (destination && capacity > 0) {
        size_t copied = available < capacity ? available : capacity;
        memcpy(destination, cursor, copied);
        destination[copied < capacity ? copied : capacity - 1] = '\0';
    }
    cursor += available;
    if (cursor < end) ++cursor;  // the zero byte behind the text
    return declared;
}

// ---------------------------------------------------------------------------------------
// Frames

WireStep NextWireStep(bool handshakeDone, const uint8_t* data, size_t length) {
    if (!handshakeDone) {
        // The Flash runtime's socket-policy request; its content is not examined.
        if (length == kWirePolicyRequestSize) return Step(kWirePolicy, length);
        if (length >= kWireHandshakeSize) return Step(kWireHandshake, kWireHandshakeSize);
        return Step(kWireWait, 0);
    }
    if (length < kWireHeaderSize) return Step(kWireWait, 0);
    const uint8_t* const end = data + length;
    if (memcmp(data, kWireFrameMagic, 4) != 0) {
        const uint8_t* found = FindMagic(data + 1, end);
        // Without a magic, the last three bytes stay: they may be the start of a magic
        // whose rest has not arrived yet.
        if (!found) return Step(kWireNoMagic, length - 3);
        return Step(kWireSkip, static_cast<size_t>(found - data));
    }
    const uint32_t declared = LoadU32(data + 4);
    WireStep step = Step(kWireOversized, 0);
    step.length = declared;
    if (declared > kWireMaxFrameBody) return step;
    if (declared > length - kWireHeaderSize) {
        step.kind = kWireWait;
        return step;
    }
    step.kind = kWireFrame;
    step.consumed = kWireHeaderSize + declared;
    step.body = data + kWireHeaderSize;
    return step;
}

PacketReader FrameReader(const WireStep& frame) {
    const uint8_t* const end = frame.body + frame.length;
    PacketReader reader = {frame.body, frame.length > 0 ? frame.body + 1 : end, end};
    return reader;
}

// ---------------------------------------------------------------------------------------
// Requests

void ReadGetFile(PacketReader& reader, GetFileRequest* request) {
    for (uint32_t& word : request->words) word = reader.ReadU32();
    reader.ReadString(request->token, sizeof request->token);
    reader.ReadString(request->name, sizeof request->name);
}

void ReadSetAddresses(PacketReader& reader, SetAddressesRequest* request) {
    request->directoryFits = reader.ReadString(request->directory, sizeof request->directory) <
                             sizeof request->directory;
    request->addressFits = reader.ReadString(request->address, sizeof request->address) <
                           sizeof request->address;
}
