// The connection class that speaks the Flash client's protocol on an accepted
// connection: the socket-policy answer, the four-byte handshake and the frames, whose
// bytes wire_format.h reads. A complete frame with a body is handed to OnPacket with a PacketReader over its body.
// Replies are built with NewPacket / AppendString / FinishPacket on the connection's
// packet pool. All of this runs on the server's data thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "server/server_socket.h"
#include "server/wire_format.h"

class CCustomRelayServerClientSocket : public CCustomServerClientSocket {
public:
    enum {
        kHeaderSize = kWireHeaderSize,
        kMaxFrameBody = kWireMaxFrameBody,
        kClientNameChars = 40,
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
