// The connection side of the local resource server's TCP framework: outgoing packets
// (CDataPacket), the per-connection pool and ordered send queue (CSendPacketPool), and
// the polled connection (CCustomWorkSocket), which receives into two buffers, hands the
// received bytes to its protocol layer (OnReceive) and flushes the queued packets.
//
// A connection is driven by one thread (the server's data thread), which calls Process
// on every pass. Other threads may only take packets from its pool and queue them.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <atomic>

#include "ravlib/list.h"
#include "ravlib/lock.h"
#include "server/custom_socket.h"

class CSendPacketPool;

// One outgoing message: a heap buffer [begin, end) of which [begin, dataEnd) is valid.
// While the packet is built, appends write at position; while it is sent, position is
// the send cursor. Buffers grow in multiples of 256 bytes, at least doubling, so that a
// packet built by many small appends costs time linear in its size.
class CDataPacket {
public:
    enum { kGranularity = 256 };

    CDataPacket() = default;
    ~CDataPacket() { FreeBuffer(); }
    CDataPacket(const CDataPacket&) = delete;
    CDataPacket& operator=(const CDataPacket&) = delete;

    // Makes the buffer hold at least bytes in all (n + 256 cut down to a multiple of
    // 256); the valid bytes are kept. Use it once when the final size is known. False
    // when the memory is missing (the packet is then unchanged).
    bool Reserve(size_t bytes);

    // Appends at position; each returns false (nothing written) when the buffer could
    // not grow.
    bool AppendByte(uint8_t value);
    bool AppendU32(uint32_t value);  // little-endian
    bool Append(const void* data, size_t length);
    // A packet string: 16-bit length L, L bytes, a zero byte. length -1 means
    // strlen(text); lengths above 65535 are cut to 65535.
    bool AppendString(const char* text, int length = -1);
    // Overwrites 4 valid bytes at offset (little-endian); false when they are not valid.
    bool WriteU32At(size_t offset, uint32_t value);

    // Empties the packet (keeps its buffer).
    void Empty() { position_ = dataEnd_ = begin_; }
    // Frees the buffer; the packet is then empty and has no buffer.
    void FreeBuffer();

    const uint8_t* Data() const { return begin_; }
    size_t Size() const { return static_cast<size_t>(dataEnd_ - begin_); }
    size_t Capacity() const { return static_cast<size_t>(end_ - begin_); }
    size_t Position() const { return static_cast<size_t>(position_ - begin_); }
    bool IsEmpty() const { return dataEnd_ == begin_; }
    CSendPacketPool* Owner() const { return owner_; }

private:
    friend class CSendPacketPool;
    // Makes room for need bytes at position.
    bool Room(size_t need);

    uint8_t* begin_ = nullptr;
    uint8_t* end_ = nullptr;
    uint8_t* position_ = nullptr;
    uint8_t* dataEnd_ = nullptr;
    CSendPacketPool* owner_ = nullptr;
};

// A queue list whose consumer can drop the front of its main list in one move while
// keeping the array (the send queue and the message queue of a connection).
template <typename T>
class CDrainQueue : public ravlib::container::CQueueList<T> {
public:
    explicit CDrainQueue(ravlib::sync::lock::CBaseLock* lock)
        : ravlib::container::CQueueList<T>(lock) {}
    // Removes the first n elements of the main list (consumer thread only).
    void RemoveFront(int32_t n) {
        if (n <= 0) return;
        if (n < this->count_)
            memmove(static_cast<void*>(this->items_), this->items_ + n,
                    static_cast<size_t>(this->count_ - n) * sizeof(T));
        this->count_ = n < this->count_ ? this->count_ - n : 0;
    }
};
typedef CDrainQueue<CDataPacket*> CPacketQueue;

// The packets of one connection: created 64 at a time, reused through a free list, sent
// in the order in which they were queued. GetPacket and QueuePacket may be called from
// any thread; Flush, Trim and ReleaseAll from the thread that drives the connection.
class CSendPacketPool {
public:
    enum { kBlockPackets = 64 };
    static const size_t kTrimThreshold = 4u * 1024u * 1024u;

    CSendPacketPool();
    ~CSendPacketPool();
    CSendPacketPool(const CSendPacketPool&) = delete;
    CSendPacketPool& operator=(const CSendPacketPool&) = delete;

    // An empty packet of this pool, or null when the memory is missing.
    CDataPacket* GetPacket();
    // An empty packet goes back to the free list; any other is queued for sending.
    // False (the packet back in the free list) when it could not be queued.
    bool QueuePacket(CDataPacket* packet);
    // Sends queued packets in their order until all are gone or the socket takes no
    // more; a packet sent in part keeps its place and the rest waits for the next call.
    // Returns the bytes sent by this call.
    int64_t Flush(ravlib::inet::socket::CCustomSocket& socket);
    // When the free packets' buffers together exceed 4 MiB, frees them.
    void Trim();
    // Frees the buffers of all queued and free packets and empties both lists.
    void ReleaseAll();
    // ReleaseAll, and the packet records too; a later GetPacket makes new ones.
    void ReleasePool();

    // Inspection (any thread).
    // Bytes queued and not yet sent.
    size_t QueuedBytes() const { return queuedBytes_.load(); }
    int QueuedCount();
    int FreeCount();
    size_t FreeBufferBytes();

private:
    ravlib::sync::lock::CCSLock sendLock_;
    ravlib::sync::lock::CCSLock freeLock_;
    int sendIndex_ = 0;
    std::atomic<size_t> queuedBytes_{0};
    CPacketQueue sendQueue_;
    ravlib::container::CLockList<CDataPacket*> freeList_;
    // The blocks of 64 packet records, freed with the pool (under freeLock).
    ravlib::container::CBaseList<CDataPacket*> blocks_;
};

// A message posted to a work socket: ten 32-bit words.
struct tagAppInternalMessage {
    uint32_t words[10];
};

// A receive buffer: data (always followed by a zero byte when allocated), the read
// position of the protocol layer, the bytes stored and the bytes allocated (without the
// terminating zero).
struct RecvBuffer {
    char* data = nullptr;
    char* readPosition = nullptr;
    int length = 0;
    int capacity = 0;

    int Unconsumed() const {
        return data ? length - static_cast<int>(readPosition - data) : 0;
    }
};

class CCustomWorkSocket : public ravlib::inet::socket::CCustomSocket, public CSendPacketPool {
public:
    enum {
        kRecvChunk = 4096,           // bytes asked of one recv call
        kRecvReserve = 8192,         // free bytes kept before each read, growth step
        kRecvPerPass = 128 * 1024,   // bytes taken from the socket in one pass at most
        kDefaultReceiveLimit = 2 * 1024 * 1024,
        kShrinkAbove = 256 * 1024,   // an emptied buffer larger than this is released
    };
    // Unsent reply bytes above which a connection's requests wait (and nothing more is
    // read from it) until fewer than half remain; and the reply bytes one pass may
    // queue on a connection before its further requests wait for the next pass.
    static const size_t kDefaultSendBacklogLimit = 8u * 1024u * 1024u;
    static const size_t kDefaultPassReplyBudget = 1024u * 1024u;

    CCustomWorkSocket();
    ~CCustomWorkSocket() override;

    // OnDisconnected, then both receive buffers are emptied.
    void NotifyDisconnected() override;

    // The protocol layer: consumes bytes of the processing buffer (advancing its read
    // position) and calls Compact when done. Default: discards everything.
    virtual void OnReceive(RecvBuffer& buffer);
    // A posted message: its first word and words three to ten.
    virtual void OnMessage(uint32_t code, const uint32_t* params);
    virtual void OnIdle() {}
    // One pass: receive, OnReceive (which takes what was received in this pass), posted
    // messages, OnIdle, Flush. Receiving and OnReceive are left out while the
    // connection's requests wait for its backlog; a connection found disconnected at the
    // end of a pass frees its buffers.
    virtual void Process();
    // Sends the queued replies as far as the socket takes them now (the data thread).
    void SendQueued();
    // The socket was found with nothing to read: the next pass does not ask it.
    void SkipNextReceive() { skipReceive_ = true; }

    // Asked by the protocol layer before each request: false when the connection's
    // unsent replies reached the backlog limit or this pass has queued its reply budget
    // for it. The request then stays in the buffer and is taken in a later pass.
    bool MayTakeRequest();
    // The replies' backlog is too large: nothing is read or taken from the connection.
    bool IsPaused() const { return paused_; }
    // Requests already received wait for the next pass.
    bool HoldsRequests() const { return holding_; }
    void SetSendBacklogLimit(size_t bytes) { sendBacklogLimit_ = bytes; }
    void SetPassReplyBudget(size_t bytes) { passReplyBudget_ = bytes; }

    // Merges what was received into the processing buffer (see the .cpp).
    void Compact();

    // Posts a message (any thread); false when it could not be queued.
    bool PostInternalMessage(const tagAppInternalMessage& message);

    // The most bytes a connection may hold received but not consumed by its protocol
    // layer; a connection that reaches it is logged and closed.
    void SetReceiveLimit(int bytes) { receiveLimit_ = bytes; }
    int ReceiveLimit() const { return receiveLimit_; }
    // Bytes held received but not yet consumed (both buffers).
    int BufferedBytes() const;
    // Bytes allocated for the two receive buffers together.
    int ReceiveCapacity() const { return buffers_[0].capacity + buffers_[1].capacity; }
    // Frees the receive buffers and the packet pool (the data thread, once the
    // connection has ended).
    void ReleaseMemory();

    uint64_t LastActivity() const { return lastActivity_; }
    uint64_t ConnectTick() const { return connectTick_; }
    void SetSendEnabled(bool enabled) { sendEnabled_ = enabled; }

protected:
    RecvBuffer& Receiving() { return buffers_[receiving_]; }
    RecvBuffer& Processing() { return buffers_[1 - receiving_]; }
    void ReceiveAll();
    void DispatchMessages();

    uint64_t lastActivity_ = 0;
    uint64_t connectTick_ = 0;
    bool sendEnabled_ = true;

private:
    // Grows buffer to hold at least bytes (plus the zero byte); false when the memory
    // is missing.
    static bool Grow(RecvBuffer& buffer, int bytes);
    static void Release(RecvBuffer& buffer);

    RecvBuffer buffers_[2];
    int receiving_ = 0;
    int receiveLimit_ = kDefaultReceiveLimit;
    size_t sendBacklogLimit_ = kDefaultSendBacklogLimit;
    size_t passReplyBudget_ = kDefaultPassReplyBudget;
    size_t passStartBacklog_ = 0;
    bool paused_ = false;
    bool holding_ = false;
    bool skipReceive_ = false;
    bool memoryReleased_ = false;
    ravlib::sync::lock::CCSLock messagesLock_;
    CDrainQueue<tagAppInternalMessage*> messages_;
};
