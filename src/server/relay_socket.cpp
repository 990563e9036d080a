#include "server/relay_socket.h"

#include <string.h>
#include <wchar.h>

#include "ravlib/log.h"

using ravlib::LogMessage;

const char CCustomRelayServerClientSocket::kPolicyText[] =
    "<?xml version=\"1.0\"?><cross-domain-policy><allow-access-from domain=\"*\" "
    "to-ports=\"*\"/></cross-domain-policy>";
static_assert(sizeof(CCustomRelayServerClientSocket::kPolicyText) - 1 == 108,
              "the policy answer carries 108 bytes of text");
// The largest frame, with what one pass may receive behind it, stays below the bytes a
// connection may hold unconsumed, so a well-behaved client is never closed for size.
static_assert(CCustomRelayServerClientSocket::kMaxFrameBody +
                      CCustomRelayServerClientSocket::kHeaderSize +
                      2 * (CCustomWorkSocket::kRecvPerPass + CCustomWorkSocket::kRecvChunk) <
                  CCustomWorkSocket::kDefaultReceiveLimit,
              "frame bound and receive limit do not fit together");

// ---------------------------------------------------------------------------------------
// CCustomRelayServerClientSocket

CCustomRelayServerClientSocket::CCustomRelayServerClientSocket() {
    clientName_[0] = L'\0';
}

CCustomRelayServerClientSocket::~CCustomRelayServerClientSocket() {}

void CCustomRelayServerClientSocket::NotifyDisconnected() {
    CCustomWorkSocket::NotifyDisconnected();
    handshakeDone_ = false;
    clientName_[0] = L'\0';
}

void CCustomRelayServerClientSocket::SendPolicy() {
    CDataPacket* packet = GetPacket();
    if (!packet) return;
    AppendString(packet, kPolicyText, static_cast<int>(sizeof kPolicyText - 1));
    QueuePacket(packet);
}

CDataPacket* CCustomRelayServerClientSocket::NewPacket(uint8_t type) {
    CDataPacket* packet = GetPacket();
    if (!packet) return nullptr;
    if (!packet->Append(kWireFrameMagic, 4) || !packet->AppendU32(0) || !packet->AppendByte(type)) {
        packet->Empty();
        QueuePacket(packet);  // an empty packet goes back to the free list
        return nullptr;
    }
    return packet;
}

bool CCustomRelayServerClientSocket::AppendString(CDataPacket* packet, const char* text,
                                                  int length) {
    return packet && packet->AppendString(text, length);
}

bool CCustomRelayServerClientSocket::FinishPacket(CDataPacket* packet) {
    if (!packet) return false;
    if (packet->Size() >= kHeaderSize)
        packet->WriteU32At(4, static_cast<uint32_t>(packet->Size() - kHeaderSize));
    return QueuePacket(packet);
}

void CCustomRelayServerClientSocket::OnReceive(RecvBuffer& buffer) {
    if (!IsConnected()) {
        buffer.length = 0;
        buffer.readPosition = buffer.data;
        Compact();
        return;
    }
    if (buffer.Unconsumed() <= 0) {
        Compact();
        return;
    }
    const uint8_t* position = reinterpret_cast<const uint8_t*>(buffer.readPosition);
    const uint8_t* const end = reinterpret_cast<const uint8_t*>(buffer.data) + buffer.length;
    auto consume = [&buffer, &position](const WireStep& step) {
        position += step.consumed;
        buffer.readPosition = const_cast<char*>(reinterpret_cast<const char*>(position));
    };

    while (IsConnected()) {
        const WireStep step = NextWireStep(handshakeDone_, position, static_cast<size_t>(end - position));
        if (step.kind == kWireWait) break;
        if (step.kind == kWirePolicy) {
            LogMessage(ravlib::kLogInfo, L"Send policy datasize= %d", static_cast<int>(kWirePolicyRequestSize));
            SendPolicy();
            consume(step);
        } else if (step.kind == kWireHandshake) {
            if (!CheckHandshake(position)) {
                LogMessage(ravlib::kLogInfo, L"check 失败，关闭");
                Close();
                break;
            }
            handshakeDone_ = true;
            wcscpy(clientName_, L"Swf Client");
            consume(step);
            OnHandshakeAccepted();
        } else if (step.kind == kWireSkip) {
            LogMessage(ravlib::kLogError, L"%ls recv invalid server data, proto header refound after %d bytes",
                       clientName_, static_cast<int>(step.consumed));
            consume(step);
        } else if (step.kind == kWireNoMagic) {
            LogMessage(ravlib::kLogError, L"%ls recv invalid server data, proto header can not be found",
                       clientName_);
            consume(step);
            break;
        } else if (step.kind == kWireOversized) {
            LogMessage(ravlib::kLogError, L"%ls recv invalid server packet, packet size too large(%u), closing",
                       clientName_, step.length);
            Close();
            break;
        } else {
            if (!MayTakeRequest()) break;  // the frame waits for a later pass
            consume(step);
            if (step.length == 0) {
                LogMessage(ravlib::kLogError, L"%ls recv invalid server packet, packet size to few(%d)",
                           clientName_, 0);
                continue;
            }
            PacketReader reader = FrameReader(step);
            OnPacket(step.body[0], reader);
            // A handler that closed the connection has had the buffers emptied.
        }
    }
    Compact();
}
