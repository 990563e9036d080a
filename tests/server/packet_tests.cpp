// Outgoing packets and the per-connection packet pool with its ordered send queue. No
// network: a work socket whose Send takes a limited
// number of bytes stands in for a socket that would block.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "server/work_socket.h"

namespace {

// Takes at most `budget` bytes per Flush round, then reports "would block".
class ThrottledSocket : public CCustomWorkSocket {
public:
    int Send(const void* data, int length, int flags) override {
        (void)flags;
        ++calls;
        if (budget == 0) return -2;
        int n = length < budget ? length : budget;
        out.append(static_cast<const char*>(data), static_cast<size_t>(n));
        budget -= n;
        return n;
    }
    std::string out;
    int budget = 0;
    int calls = 0;
};

std::string Bytes(const CDataPacket* packet) {
    return std::string(reinterpret_cast<const char*>(packet->Data()), packet->Size());
}

TEST(DataPacket, ManySmallAppendsGrowGeometricallyIn256ByteSteps) {
    CSendPacketPool pool;
    CDataPacket* packet = pool.GetPacket();
    ASSERT_NE(packet, nullptr);
    const size_t kSize = 1 << 20;
    std::set<size_t> capacities;
    for (size_t i = 0; i < kSize; ++i) {
        ASSERT_TRUE(packet->AppendByte(static_cast<uint8_t>(i * 13)));
        capacities.insert(packet->Capacity());
    }
    for (size_t capacity : capacities) EXPECT_EQ(capacity % 256, 0u) << capacity;
    // Doubling from 256 bytes to 1 MiB takes 13 sizes; growth by the need alone would
    // take 4096.
    EXPECT_LE(capacities.size(), 14u);
    ASSERT_EQ(packet->Size(), kSize);
    for (size_t i = 0; i < kSize; i += 4099) ASSERT_EQ(packet->Data()[i], static_cast<uint8_t>(i * 13));
    pool.QueuePacket(packet);
}

TEST(DataPacket, ReserveOnceThenAppendWithoutGrowth) {
    CSendPacketPool pool;
    CDataPacket* packet = pool.GetPacket();
    ASSERT_TRUE(packet->Append("head", 4));
    ASSERT_TRUE(packet->Reserve(100000));
    EXPECT_EQ(packet->Capacity(), (100000u + 256u) / 256u * 256u);
    const size_t capacity = packet->Capacity();
    const uint8_t* buffer = packet->Data();
    for (size_t i = 4; i < 100000; ++i) ASSERT_TRUE(packet->AppendByte(1));
    EXPECT_EQ(packet->Capacity(), capacity);
    EXPECT_EQ(packet->Data(), buffer);
    EXPECT_EQ(Bytes(packet).substr(0, 4), "head");
    // A reservation below the capacity changes nothing.
    ASSERT_TRUE(packet->Reserve(10));
    EXPECT_EQ(packet->Capacity(), capacity);
}

TEST(DataPacket, PacketStrings) {
    struct Case {
        const char* text;
        int length;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", -1, std::string("\x03\x00" "abc\x00", 6)},
        {"abcdef", 3, std::string("\x03\x00" "abc\x00", 6)},
        {"", -1, std::string("\x00\x00\x00", 3)},
        {nullptr, -1, std::string("\x00\x00\x00", 3)},
    };
    CSendPacketPool pool;
    for (const Case& c : cases) {
        CDataPacket* packet = pool.GetPacket();
        ASSERT_TRUE(packet->AppendString(c.text, c.length));
        EXPECT_EQ(Bytes(packet), c.expected) << (c.text ? c.text : "(null)");
        packet->Empty();
        pool.QueuePacket(packet);
    }
    // A text longer than 16 bits can say is cut, and the length field matches.
    std::string longText(70000, 'x');
    CDataPacket* packet = pool.GetPacket();
    ASSERT_TRUE(packet->AppendString(longText.c_str(), static_cast<int>(longText.size())));
    ASSERT_EQ(packet->Size(), 65535u + 3u);
    EXPECT_EQ(packet->Data()[0], 0xFF);
    EXPECT_EQ(packet->Data()[1], 0xFF);
    EXPECT_EQ(packet->Data()[65535 + 2], 0);
}

TEST(DataPacket, WordsAreLittleEndianAndTheHeaderCanBeFilledIn) {
    CSendPacketPool pool;
    CDataPacket* packet = pool.GetPacket();
    packet->AppendU32(0);
    packet->AppendU32(0x11223344);
    EXPECT_TRUE(packet->WriteU32At(0, 0xCCEECCFF));
    EXPECT_FALSE(packet->WriteU32At(5, 1));  // would pass the valid bytes
    EXPECT_EQ(Bytes(packet), std::string("\xFF\xCC\xEE\xCC\x44\x33\x22\x11", 8));
}

TEST(SendPacketPool, PacketsComeInBlocksOf64AndEmptyOnesGoBack) {
    CSendPacketPool pool;
    EXPECT_EQ(pool.FreeCount(), 0);
    std::vector<CDataPacket*> taken;
    taken.push_back(pool.GetPacket());
    EXPECT_EQ(pool.FreeCount(), 63);
    for (int i = 1; i < 65; ++i) taken.push_back(pool.GetPacket());
    EXPECT_EQ(pool.FreeCount(), 63);  // a second block of 64, one of it taken
    for (CDataPacket* packet : taken) {
        EXPECT_EQ(packet->Owner(), &pool);
        EXPECT_TRUE(pool.QueuePacket(packet));  // empty: straight back to the free list
    }
    EXPECT_EQ(pool.FreeCount(), 128);
    EXPECT_EQ(pool.QueuedCount(), 0);
    ThrottledSocket socket;
    socket.budget = 1000;
    EXPECT_EQ(pool.Flush(socket), 0);
    EXPECT_EQ(socket.calls, 0);
}

TEST(SendPacketPool, FlushSendsInQueueOrderAndResumesPartialSends) {
    const int budgets[] = {1, 7, 300, 999, 1000, 1509, 1510, 100000};
    for (int budget : budgets) {
        ThrottledSocket socket;
        std::string expected;
        const struct {
            char fill;
            size_t size;
        } packets[] = {{'a', 1000}, {'b', 10}, {'c', 500}};
        for (const auto& p : packets) {
            CDataPacket* packet = socket.GetPacket();
            std::string content(p.size, p.fill);
            packet->Append(content.data(), content.size());
            ASSERT_TRUE(socket.QueuePacket(packet));
            expected += content;
        }
        const int freeBefore = socket.FreeCount();
        int rounds = 0;
        while (socket.out.size() < expected.size() && rounds < 2000) {
            const size_t left = expected.size() - socket.out.size();
            socket.budget = budget;
            EXPECT_EQ(socket.Flush(socket),
                      static_cast<int64_t>(std::min<size_t>(static_cast<size_t>(budget), left)));
            ++rounds;
        }
        EXPECT_EQ(socket.out, expected) << "budget " << budget;
        EXPECT_EQ(socket.QueuedCount(), 0);
        EXPECT_EQ(socket.FreeCount(), freeBefore + 3);
        // Nothing left: a further round sends nothing.
        socket.budget = budget;
        EXPECT_EQ(socket.Flush(socket), 0);
    }
}

TEST(SendPacketPool, PacketsQueuedWhileOneIsHalfSentWaitBehindIt) {
    ThrottledSocket socket;
    CDataPacket* first = socket.GetPacket();
    first->Append(std::string(100, '1').data(), 100);
    socket.QueuePacket(first);
    socket.budget = 40;
    EXPECT_EQ(socket.Flush(socket), 40);
    CDataPacket* second = socket.GetPacket();
    second->Append("22", 2);
    socket.QueuePacket(second);
    socket.budget = 0;
    EXPECT_EQ(socket.Flush(socket), 0);  // would block: nothing moves
    socket.budget = 1000;
    EXPECT_EQ(socket.Flush(socket), 62);
    EXPECT_EQ(socket.out, std::string(100, '1') + "22");
}

TEST(SendPacketPool, TrimFreesFreeBuffersOnlyAbove4MiB) {
    CSendPacketPool pool;
    std::vector<CDataPacket*> packets;
    for (int i = 0; i < 5; ++i) {
        CDataPacket* packet = pool.GetPacket();
        ASSERT_TRUE(packet->Reserve((1u << 20) - 256));  // exactly 1 MiB
        ASSERT_EQ(packet->Capacity(), 1u << 20);
        packets.push_back(packet);
    }
    for (int i = 0; i < 4; ++i) pool.QueuePacket(packets[i]);
    EXPECT_EQ(pool.FreeBufferBytes(), 4u << 20);
    pool.Trim();  // exactly 4 MiB: kept
    EXPECT_EQ(pool.FreeBufferBytes(), 4u << 20);
    pool.QueuePacket(packets[4]);
    pool.Trim();  // 5 MiB: freed
    EXPECT_EQ(pool.FreeBufferBytes(), 0u);
    EXPECT_EQ(pool.FreeCount(), 64);
    // A packet without a buffer takes a new one when used.
    CDataPacket* packet = pool.GetPacket();
    EXPECT_TRUE(packet->Append("x", 1));
    EXPECT_EQ(Bytes(packet), "x");
}

}  // namespace
