#include "server/relay_socket.h"

#include <string.h>
#include <wchar.h>

#include "ravlib/log.h"

using ravlib::LogMessage;

namespace {

uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

const uint8_t kMagicBytes[4] = {0xFF, 0xCC, 0xEE, 0xCC};

// The first position in [from, end) where the whole magic stands, or null.
const uint8_t* FindMagic(const uint8_t* from, const uint8_t* end) {
    while (end - from >= 4) {
        const void* hit = memchr(from, kMagicBytes[0], static_cast<size_t>(end - from - 3));
        if (!hit) return nullptr;
        const uint8_t* at = static_cast<const uint8_t*>(hit);
        if (memcmp(at, kMagicBytes, 4) == 0) return at;
        from = at + 1;
    }
    return nullptr;
}

}  // namespace

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
    if (!packet->Append(kMagicBytes, 4) || !packet->AppendU32(0) || !packet->AppendByte(type)) {
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
    auto consumeTo = [&buffer](const uint8_t* at) {
        buffer.readPosition = const_cast<char*>(reinterpret_cast<const char*>(at));
    };

    if (!handshakeDone_) {
        const size_t available = static_cast<size_t>(end - position);
        if (available == kPolicyRequestSize) {
            // The Flash runtime's socket-policy request; its content is not examined.
            LogMessage(ravlib::kLogInfo, L"Send policy datasize= %d",
                       static_cast<int>(kPolicyRequestSize));
            SendPolicy();
            consumeTo(end);
            Compact();
            return;
        }
        if (available >= 4) {
            if (!CheckHandshake(position)) {
                LogMessage(ravlib::kLogInfo, L"check 失败，关闭");
                Close();
                Compact();
                return;
            }
            handshakeDone_ = true;
            wcscpy(clientName_, L"Swf Client");
            position += 4;
            consumeTo(position);
            OnHandshakeAccepted();
            if (!IsConnected()) {
                Compact();
                return;
            }
        }
    }

    while (IsConnected()) {
        size_t remaining = static_cast<size_t>(end - position);
        if (remaining < kHeaderSize) break;
        if (LoadU32(position) != kFrameMagic) {
            const uint8_t* found = FindMagic(position + 1, end);
            if (!found) {
                LogMessage(ravlib::kLogError,
                           L"%ls recv invalid server data, proto header can not be found",
                           clientName_);
                // Keep the last three bytes: they may be the start of a magic whose
                // rest has not arrived yet.
                consumeTo(end - 3);
                break;
            }
            LogMessage(ravlib::kLogError,
                       L"%ls recv invalid server data, proto header refound after %d bytes",
                       clientName_, static_cast<int>(found - position));
            position = found;
            consumeTo(position);
            continue;
        }
        const uint32_t length = LoadU32(position + 4);
        if (length > kMaxFrameBody) {
            LogMessage(ravlib::kLogError,
                       L"%ls recv invalid server packet, packet size too large(%u), closing",
                       clientName_, length);
            Close();
            break;
        }
        if (length > remaining - kHeaderSize) break;  // incomplete: wait for the rest
        if (!MayTakeRequest()) break;  // the frame waits for a later pass
        const uint8_t* body = position + kHeaderSize;
        position = body + length;
        consumeTo(position);
        if (length == 0) {
            LogMessage(ravlib::kLogError,
                       L"%ls recv invalid server packet, packet size to few(%d)", clientName_,
                       0);
            continue;
        }
        PacketReader reader = {body, body + 1, body + length};
        OnPacket(body[0], reader);
        // A handler that closed the connection has had the buffers emptied.
    }
    Compact();
}
