// The bytes of the Flash client protocol, apart from the sockets: the opening of a
// connection (the socket-policy request, the handshake word), the frames found in the
// received bytes with resynchronisation after garbage, and the fields of the file
// service's requests.
//
//   frame:         FF CC EE CC | body length N (32-bit LE) | body: type byte, payload
//   packet string: length L (16-bit LE) | L bytes | a zero byte
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    kWireHeaderSize = 8,
    kWireHandshakeSize = 4,
    kWirePolicyRequestSize = 23,
    // The largest frame body accepted. Far larger than any message of the file service;
    // a frame that declares more closes the connection.
    kWireMaxFrameBody = 1024 * 1024,

    kWireTypeSetAddresses = 1,
    kWireTypeGetFile = 2,
    // The texts of the requests with their terminator: token and name of a GetFile, each
    // text of a SetAddresses.
    kWireFieldBytes = 128,
    kWireAddressFieldBytes = 256,
};

// FF CC EE CC: the 32-bit value 0xCCEECCFF.
extern const uint8_t kWireFrameMagic[4];

// Reads the payload of one frame. Every read is bounded by the body's end.
struct PacketReader {
    const uint8_t* begin;   // first body byte (the type)
    const uint8_t* cursor;  // next byte to read
    const uint8_t* end;     // one past the last body byte

    size_t Remaining() const { return static_cast<size_t>(end - cursor); }
    // The next four bytes, little-endian. With fewer left, those form the low bytes
    // (0 when none) and the cursor moves to the end.
    uint32_t ReadU32();
    // A packet string: returns its declared length L and copies min(L, capacity, bytes
    // present) bytes to destination, terminated (at capacity - 1 when the copy filled
    // it). The cursor moves past the L bytes and the zero byte, never past the end.
    // At the end of the body, or with one byte left, gives an empty text and 0.
    uint32_t ReadString(char* destination, size_t capacity);
};

// What the unconsumed bytes at a connection's read position make.
enum WireStepKind {
    kWireWait,       // nothing can be taken before more bytes arrive
    kWirePolicy,     // the socket-policy request (exactly 23 bytes before the handshake)
    kWireHandshake,  // the handshake word to check (before the handshake)
    kWireSkip,       // bytes before the next magic
    kWireNoMagic,    // no magic in the bytes: all but the last three are dropped
    kWireOversized,  // a frame that declares more than kWireMaxFrameBody
    kWireFrame,      // a whole frame; an empty one (length 0) has no type
};

struct WireStep {
    WireStepKind kind;
    size_t consumed;      // the bytes the step takes once it is handled
    uint32_t length;      // kWireFrame, kWireOversized: the declared body length
    const uint8_t* body;  // kWireFrame: the body's first byte
};

// The next step over the unconsumed bytes [data, data + length), before the handshake
// or after it. kWireWait and kWireOversized consume nothing; every other step consumes
// at least one byte and at most length. What waits after the handshake is shorter than
// a header or the beginning of a frame of at most kWireMaxFrameBody; before it, fewer
// bytes than the handshake word.
WireStep NextWireStep(bool handshakeDone, const uint8_t* data, size_t length);

// A frame's body read from the type byte on.
PacketReader FrameReader(const WireStep& frame);

// A GetFile's fields; missing words read as 0 and missing texts as empty.
struct GetFileRequest {
    uint32_t words[3];  // echoed in the reply
    char token[kWireFieldBytes];
    char name[kWireFieldBytes];
};
void ReadGetFile(PacketReader& reader, GetFileRequest* request);

// A SetAddresses' two texts (the directory, the resource address). A text whose declared
// length does not fit its buffer is refused (its fits flag false), never cut.
struct SetAddressesRequest {
    char directory[kWireAddressFieldBytes];
    char address[kWireAddressFieldBytes];
    bool directoryFits;
    bool addressFits;
};
void ReadSetAddresses(PacketReader& reader, SetAddressesRequest* request);
