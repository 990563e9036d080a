// The connection class that speaks the Flash client's protocol on an accepted
// connection: the socket-policy answer, the four-byte handshake and the frames
//
//   FF CC EE CC | body length N (32-bit LE) | body: type byte, payload
//
// A complete frame with a body is handed to OnPacket with a PacketReader over its body.
// Replies are built with NewPacket / AppendString / FinishPacket on the connection's
// packet pool. All of this runs on the server's data thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "server/server_socket.h"

// Reads the payload of one frame; it points into the receive buffer and is valid only
// during OnPacket. Every read is bounded by the body's end.
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

class CCustomRelayServerClientSocket : public CCustomServerClientSocket {
public:
    static const uint32_t kFrameMagic = 0xCCEECCFFu;  // FF CC EE CC on the wire
    enum {
        kHeaderSize = 8,
        kPolicyRequestSize = 23,
        kClientNameChars = 40,
        // The largest frame body accepted. Far larger than any message of the file
        // service; a frame that declares more closes the connection.
        kMaxFrameBody = 1024 * 1024,
    };
    // The socket-policy answer's text (sent as a packet string: 6C 00, text, 00).
    static const char kPolicyText[];

    CCustomRelayServerClientSocket();
    ~CCustomRelayServerClientSocket() override;

    // The work-socket version, then the connection is unverified again.
    void NotifyDisconnected() override;
    // The protocol engine: policy request, handshake, frames.
    void OnReceive(RecvBuffer& buffer) override;

    // A complete frame whose body has at least the type byte.
    virtual void OnPacket(uint8_t type, PacketReader& reader) = 0;
    // Decides on the first four bytes of a game connection.
    virtual bool CheckHandshake(const uint8_t* word) = 0;
    virtual void OnHandshakeAccepted() {}

    // A packet with the magic, room for the length and the type byte written; null when
    // the memory is missing.
    CDataPacket* NewPacket(uint8_t type);
    // Appends a packet string (length -1: strlen of text).
    static bool AppendString(CDataPacket* packet, const char* text, int length = -1);
    // Writes the body length into the header and queues the packet.
    bool FinishPacket(CDataPacket* packet);

    bool IsHandshakeDone() const { return handshakeDone_; }
    const wchar_t* ClientName() const { return clientName_; }

protected:
    bool handshakeDone_ = false;
    wchar_t clientName_[kClientNameChars];

private:
    void SendPolicy();
};
