#include "server/work_socket.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "ravlib/log.h"
#include "ravlib/tick.h"

using ravlib::sync::lock::CAutoLock;

// ---------------------------------------------------------------------------------------
// CDataPacket

bool CDataPacket::Reserve(size_t bytes) {
    if (bytes <= Capacity()) return true;
    if (bytes > SIZE_MAX - kGranularity) return false;
    size_t size = (bytes + kGranularity) / kGranularity * kGranularity;
    size_t valid = Size();
    size_t cursor = Position();
    uint8_t* grown = static_cast<uint8_t*>(realloc(begin_, size));
    if (!grown) return false;
    begin_ = grown;
    end_ = grown + size;
    position_ = grown + cursor;
    dataEnd_ = grown + valid;
    return true;
}

bool CDataPacket::Room(size_t need) {
    size_t free = static_cast<size_t>(end_ - position_);
    if (free >= need) return true;
    size_t used = Position();
    if (need > SIZE_MAX / 2 - used) return false;
    size_t wanted = used + need;
    // At least double: many small appends then cost linear time in the final size.
    size_t doubled = Capacity() <= SIZE_MAX / 4 ? Capacity() * 2 : Capacity();
    return Reserve(wanted > doubled ? wanted : doubled);
}

bool CDataPacket::Append(const void* data, size_t length) {
    if (length == 0) return true;
    if (!Room(length)) return false;
    memcpy(position_, data, length);
    position_ += length;
    if (position_ > dataEnd_) dataEnd_ = position_;
    return true;
}

bool CDataPacket::AppendByte(uint8_t value) {
    return Append(&value, 1);
}

bool CDataPacket::AppendU32(uint32_t value) {
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return Append(bytes, 4);
}

bool CDataPacket::AppendString(const char* text, int length) {
    size_t n = 0;
    if (length < 0) {
        n = text ? strlen(text) : 0;
    } else {
        n = text ? static_cast<size_t>(length) : 0;
    }
    if (n > 0xFFFF) n = 0xFFFF;
    if (!Room(n + 3)) return false;
    uint8_t head[2] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    Append(head, 2);
    Append(text, n);
    AppendByte(0);
    return true;
}

bool CDataPacket::WriteU32At(size_t offset, uint32_t value) {
    if (offset > Size() || Size() - offset < 4) return false;
    uint8_t* at = begin_ + offset;
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
    return true;
}

void CDataPacket::FreeBuffer() {
    free(begin_);
    begin_ = end_ = position_ = dataEnd_ = nullptr;
}

// ---------------------------------------------------------------------------------------
// CSendPacketPool

CSendPacketPool::CSendPacketPool() : sendQueue_(&sendLock_), freeList_(&freeLock_) {}

CSendPacketPool::~CSendPacketPool() {
    ReleasePool();
}

CDataPacket* CSendPacketPool::GetPacket() {
    CAutoLock guard(&freeLock_);
    if (freeList_.IsEmpty()) {
        if (!blocks_.SetCapacity(blocks_.Count() + 1)) return nullptr;
        CDataPacket* block = new (std::nothrow) CDataPacket[kBlockPackets];
        if (!block) return nullptr;
        // The free list keeps room for every packet of the pool, so returning packets
        // to it never has to allocate.
        const int32_t total = (blocks_.Count() + 1) * kBlockPackets;
        if (freeList_.Capacity() < total && !freeList_.SetCapacity(total)) {
            delete[] block;
            return nullptr;
        }
        blocks_.Append(block);
        for (int i = 0; i < kBlockPackets; ++i) {
            block[i].owner_ = this;
            freeList_.Append(&block[i]);
        }
    }
    CDataPacket* packet = freeList_[freeList_.Count() - 1];
    freeList_.RemoveAt(freeList_.Count() - 1);
    packet->Empty();
    return packet;
}

bool CSendPacketPool::QueuePacket(CDataPacket* packet) {
    if (!packet) return false;
    bool queued = true;
    if (!packet->IsEmpty()) {
        packet->position_ = packet->begin_;
        // Counted before the push: the sending thread may take the packet at once.
        const size_t bytes = packet->Size();
        queuedBytes_ += bytes;
        if (sendQueue_.Push(packet)) return true;
        queuedBytes_ -= bytes;
        packet->Empty();
        queued = false;
    }
    CAutoLock guard(&freeLock_);
    // The free list has room for every packet of the pool (GetPacket grows it with
    // each block), so this append does not fail.
    freeList_.Append(packet);
    return queued;
}

int64_t CSendPacketPool::Flush(ravlib::inet::socket::CCustomSocket& socket) {
    sendQueue_.Merge();
    int64_t total = 0;
    const int32_t count = sendQueue_.Count();
    while (sendIndex_ < count) {
        CDataPacket* packet = sendQueue_[sendIndex_];
        size_t left = static_cast<size_t>(packet->dataEnd_ - packet->position_);
        if (left > 0) {
            // One Send call moves at most 1 GiB; a larger packet continues in the loop.
            int chunk = left > (1u << 30) ? (1 << 30) : static_cast<int>(left);
            int sent = socket.Send(packet->position_, chunk, 0);
            if (sent <= 0) break;
            total += sent;
            queuedBytes_ -= static_cast<size_t>(sent);
            packet->position_ += sent;
            if (sent < chunk) break;
            if (packet->position_ < packet->dataEnd_) continue;
        }
        packet->Empty();
        ++sendIndex_;
    }
    // The packets sent completely go back to the free list at once, so that a queue
    // that never runs dry does not hold every packet it has ever sent.
    if (sendIndex_ > 0) {
        {
            CAutoLock guard(&freeLock_);
            freeList_.AppendArray(sendQueue_.Items(), sendIndex_);
        }
        sendQueue_.RemoveFront(sendIndex_);
        sendIndex_ = 0;
    }
    return total;
}

void CSendPacketPool::Trim() {
    CAutoLock guard(&freeLock_);
    size_t bytes = 0;
    for (int32_t i = 0; i < freeList_.Count(); ++i) bytes += freeList_[i]->Capacity();
    if (bytes <= kTrimThreshold) return;
    // The buffers go; the packet records stay in the free list (they belong to their
    // block) and get a new buffer when they are used again.
    for (int32_t i = 0; i < freeList_.Count(); ++i) freeList_[i]->FreeBuffer();
}

void CSendPacketPool::ReleaseAll() {
    CAutoLock sendGuard(&sendLock_);
    CAutoLock freeGuard(&freeLock_);
    sendQueue_.Merge();
    for (int32_t i = 0; i < sendQueue_.Count(); ++i) sendQueue_[i]->FreeBuffer();
    sendQueue_.Clear();
    sendIndex_ = 0;
    for (int32_t i = 0; i < freeList_.Count(); ++i) freeList_[i]->FreeBuffer();
    freeList_.Clear();
    queuedBytes_ = 0;
}

void CSendPacketPool::ReleasePool() {
    ReleaseAll();
    CAutoLock guard(&freeLock_);
    for (int32_t i = 0; i < blocks_.Count(); ++i) delete[] blocks_[i];
    blocks_.Clear();
}

int CSendPacketPool::QueuedCount() {
    CAutoLock guard(&sendLock_);
    return sendQueue_.Count() - sendIndex_ + sendQueue_.Incoming().Count();
}

int CSendPacketPool::FreeCount() {
    CAutoLock guard(&freeLock_);
    return freeList_.Count();
}

size_t CSendPacketPool::FreeBufferBytes() {
    CAutoLock guard(&freeLock_);
    size_t bytes = 0;
    for (int32_t i = 0; i < freeList_.Count(); ++i) bytes += freeList_[i]->Capacity();
    return bytes;
}

// ---------------------------------------------------------------------------------------
// CCustomWorkSocket

CCustomWorkSocket::CCustomWorkSocket() : messages_(&messagesLock_) {}

CCustomWorkSocket::~CCustomWorkSocket() {
    Release(buffers_[0]);
    Release(buffers_[1]);
    messages_.Merge();
    for (int32_t i = 0; i < messages_.Count(); ++i) delete messages_[i];
    messages_.Clear();
    // The handle is closed by the base destructor; it sees the socket as a plain
    // CCustomSocket by then, so no hook of this class or a subclass runs.
}

void CCustomWorkSocket::NotifyDisconnected() {
    OnDisconnected();
    for (RecvBuffer& buffer : buffers_) {
        buffer.length = 0;
        buffer.readPosition = buffer.data;
        if (buffer.data) buffer.data[0] = 0;
    }
}

void CCustomWorkSocket::OnReceive(RecvBuffer& buffer) {
    buffer.length = 0;
    buffer.readPosition = buffer.data;
    Compact();
}

void CCustomWorkSocket::OnMessage(uint32_t code, const uint32_t* params) {
    (void)code;
    (void)params;
}

bool CCustomWorkSocket::Grow(RecvBuffer& buffer, int bytes) {
    if (bytes <= buffer.capacity) return true;
    if (bytes < 0 || bytes > INT32_MAX - kRecvReserve) return false;
    // Steps of 8192 bytes, at least half the current size, so that a buffer that grows
    // a step at a time does not copy quadratically.
    int64_t wanted = buffer.capacity + (buffer.capacity / 2 > kRecvReserve ? buffer.capacity / 2
                                                                           : kRecvReserve);
    if (wanted < bytes) wanted = bytes;
    wanted = (wanted + kRecvReserve - 1) / kRecvReserve * kRecvReserve;
    if (wanted > INT32_MAX - 1) wanted = bytes;
    size_t read = buffer.data ? static_cast<size_t>(buffer.readPosition - buffer.data) : 0;
    char* grown = static_cast<char*>(realloc(buffer.data, static_cast<size_t>(wanted) + 1));
    if (!grown) return false;
    buffer.data = grown;
    buffer.readPosition = grown + read;
    buffer.capacity = static_cast<int>(wanted);
    buffer.data[buffer.length] = 0;
    return true;
}

void CCustomWorkSocket::Release(RecvBuffer& buffer) {
    free(buffer.data);
    buffer = RecvBuffer();
}

int CCustomWorkSocket::BufferedBytes() const {
    const RecvBuffer& receiving = buffers_[receiving_];
    const RecvBuffer& processing = buffers_[1 - receiving_];
    return processing.Unconsumed() + receiving.length;
}

void CCustomWorkSocket::ReceiveAll() {
    const uint64_t now = ravlib::GetTickMs();
    int taken = 0;
    while (taken < kRecvPerPass) {
        int buffered = BufferedBytes();
        if (buffered >= receiveLimit_) {
            ravlib::LogMessage(ravlib::kLogError,
                               L"connection holds %d received bytes that it has not used "
                               L"(limit %d), closing it",
                               buffered, receiveLimit_);
            Close();
            return;
        }
        RecvBuffer& buffer = Receiving();
        if (buffer.capacity - buffer.length < kRecvReserve &&
            !Grow(buffer, buffer.length + kRecvReserve)) {
            ravlib::LogMessage(ravlib::kLogError,
                               L"no memory for a receive buffer of %d bytes, closing the "
                               L"connection",
                               buffer.length + kRecvReserve);
            Close();
            return;
        }
        int n = Recv(buffer.data + buffer.length, kRecvChunk, 0);
        if (n <= 0) break;
        buffer.length += n;
        buffer.data[buffer.length] = 0;
        lastActivity_ = now;
        taken += n;
        // A short read emptied the socket: asking again would only hear that it is empty.
        if (n < kRecvChunk) break;
    }
}

// Called by OnReceive implementations when they are done with the processing buffer:
// 1. processing fully consumed: the buffers swap roles, so what was received becomes
//    the processing buffer and the old one, emptied, receives;
// 2. otherwise, when something was received: the unconsumed bytes move to the front of
//    the processing buffer and the received bytes are appended behind them;
// 3. otherwise nothing changes.
void CCustomWorkSocket::Compact() {
    RecvBuffer& processing = Processing();
    RecvBuffer& receiving = Receiving();
    if (processing.Unconsumed() <= 0) {
        receiving_ = 1 - receiving_;
        processing.length = 0;
        processing.readPosition = processing.data;
        if (processing.capacity > kShrinkAbove) {
            Release(processing);
        } else if (processing.data) {
            processing.data[0] = 0;
        }
        receiving.readPosition = receiving.data;
        return;
    }
    if (receiving.length <= 0) return;
    int unconsumed = processing.Unconsumed();
    if (processing.readPosition != processing.data)
        memmove(processing.data, processing.readPosition, static_cast<size_t>(unconsumed));
    processing.length = unconsumed;
    processing.readPosition = processing.data;
    if (processing.capacity <= processing.length + receiving.length &&
        (receiving.length > INT32_MAX - 1 - processing.length ||
         !Grow(processing, processing.length + receiving.length + 1))) {
        ravlib::LogMessage(ravlib::kLogError,
                           L"no memory for a receive buffer of %d bytes, closing the "
                           L"connection",
                           processing.length + receiving.length);
        Close();
        return;
    }
    memcpy(processing.data + processing.length, receiving.data,
           static_cast<size_t>(receiving.length));
    processing.length += receiving.length;
    processing.data[processing.length] = 0;
    receiving.length = 0;
    receiving.readPosition = receiving.data;
    receiving.data[0] = 0;
}

bool CCustomWorkSocket::PostInternalMessage(const tagAppInternalMessage& message) {
    tagAppInternalMessage* copy = new (std::nothrow) tagAppInternalMessage(message);
    if (!copy) return false;
    if (messages_.Push(copy)) return true;
    delete copy;
    return false;
}

void CCustomWorkSocket::DispatchMessages() {
    messages_.Merge();
    const int32_t count = messages_.Count();
    if (count == 0) return;
    for (int32_t i = 0; i < count; ++i) {
        tagAppInternalMessage* message = messages_[i];
        OnMessage(message->words[0], message->words + 2);
        delete message;
    }
    messages_.RemoveFront(count);
}

void CCustomWorkSocket::ReleaseMemory() {
    Release(buffers_[0]);
    Release(buffers_[1]);
    ReleasePool();
}

bool CCustomWorkSocket::MayTakeRequest() {
    const size_t backlog = QueuedBytes();
    if (backlog >= sendBacklogLimit_) {
        if (!paused_)
            ravlib::LogMessage(ravlib::kLogError,
                               L"connection has %u reply bytes unsent (limit %u): its requests "
                               L"wait",
                               static_cast<unsigned>(backlog), static_cast<unsigned>(sendBacklogLimit_));
        paused_ = true;
        holding_ = true;
        return false;
    }
    if (backlog > passStartBacklog_ && backlog - passStartBacklog_ >= passReplyBudget_) {
        holding_ = true;
        return false;
    }
    return true;
}

void CCustomWorkSocket::SendQueued() {
    if (IsConnected() && sendEnabled_ && Flush(*this) != 0) lastActivity_ = ravlib::GetTickMs();
}

void CCustomWorkSocket::Process() {
    const bool skipReceive = skipReceive_;
    skipReceive_ = false;
    if (IsConnected()) {
        if (paused_ && QueuedBytes() < sendBacklogLimit_ / 2) paused_ = false;
        if (!paused_) {
            // Requests held back in the last pass are taken before more is read.
            const bool held = holding_;
            holding_ = false;
            passStartBacklog_ = QueuedBytes();
            if (!held && !skipReceive) ReceiveAll();
            // What arrived in this pass is taken in it: the received bytes join the
            // processing buffer first.
            if (IsConnected()) Compact();
            if (IsConnected()) OnReceive(Processing());
        }
    }
    DispatchMessages();
    OnIdle();
    SendQueued();
    if (!IsConnected() && !memoryReleased_) {
        ReleaseMemory();
        memoryReleased_ = true;
    }
}
