// The Flash client protocol on a running server (accept and data threads, real loopback
// connections), seen from a client that talks like the Flash runtime and the game.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net_test_support.h"

using namespace nettest;

namespace {

std::string Hex(const char* text) {
    std::string bytes;
    unsigned value = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        int d = (*p >= '0' && *p <= '9') ? *p - '0' : (*p >= 'a' && *p <= 'f') ? *p - 'a' + 10 : -1;
        if (d < 0) continue;
        value = value * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            bytes += static_cast<char>(value);
            value = 0;
            digits = 0;
        }
    }
    return bytes;
}

// The game asks for res/a.swf with words 1, 2, 3 and the token "t"; the file holds ABCDE.
const std::string kGetFile = Hex(
    "ff cc ee cc 1d 00 00 00 02 01 00 00 00 02 00 00 00 03 00 00 00 01 00 74 00 09 00 72 65 73 "
    "2f 61 2e 73 77 66 00");
const std::string kFileReply = Hex(
    "ff cc ee cc 1b 00 00 00 02 01 00 00 00 02 00 00 00 03 00 00 00 01 00 74 00 00 05 00 00 00 "
    "41 42 43 44 45");

class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.files["res/a.swf"] = "ABCDE";
        ASSERT_TRUE(server.StartLocal());
        port = server.BoundPort();
        ASSERT_GT(port, 0);
    }

    // A client past the handshake.
    void Open(TestClient& client) {
        ASSERT_TRUE(client.Connect(port));
        ASSERT_TRUE(client.Handshake());
    }

    // Sends bytes and waits until the server's parser has been offered exactly them.
    void SendAndWaitSeen(TestClient& client, const std::string& bytes) {
        server.stats.watchHit = false;
        server.stats.watchUnconsumed = static_cast<int>(bytes.size());
        ASSERT_TRUE(client.Send(bytes));
        ASSERT_TRUE(WaitFor([&] { return server.stats.watchHit.load(); }, 3000))
            << "the parser never saw the " << bytes.size() << " bytes alone";
        server.stats.watchUnconsumed = -1;
    }

    void ExpectEcho(TestClient& client, const std::string& payload) {
        uint8_t type = 0;
        std::string got;
        ASSERT_TRUE(client.RecvFrame(&type, &got));
        EXPECT_EQ(type, 7);
        EXPECT_TRUE(got == payload) << got.size() << " bytes instead of " << payload.size();
    }

    LogCapture log;
    TestServer server;
    int port = 0;
};

TEST_F(ProtocolTest, PolicyRequestGetsThePolicyAndTheConnectionStaysOpen) {
    ASSERT_EQ(PolicyAnswer().size(), 111u);
    // Any first message of exactly 23 bytes counts as the request, even one that starts
    // with the handshake word.
    const std::string requests[] = {PolicyRequest(), "QMTK" + kGetFile.substr(0, 19)};
    for (const std::string& request : requests) {
        TestClient client;
        ASSERT_TRUE(client.Connect(port));
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(client.Send(request));
            std::string answer;
            ASSERT_TRUE(client.RecvExact(111, &answer)) << "round " << round;
            EXPECT_TRUE(answer == PolicyAnswer());
            EXPECT_TRUE(client.Quiet(100));  // nothing more, and not closed
        }
        // Still unverified, and the handshake still works on it.
        EXPECT_TRUE(client.Handshake());
    }
    EXPECT_GE(log.Count(L"Send policy datasize= 23"), 4);
}

TEST_F(ProtocolTest, HandshakeThenTheWorkedExample) {
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(kGetFile));
    std::string reply;
    ASSERT_TRUE(client.RecvExact(kFileReply.size(), &reply));
    EXPECT_TRUE(reply == kFileReply);
    // A name the server does not have: status 1 and the address.
    ASSERT_TRUE(client.Send(Frame(2, GetFilePayload(7, 8, 9, "tok", "res/b.swf"))));
    uint8_t type = 0;
    std::string payload;
    ASSERT_TRUE(client.RecvFrame(&type, &payload));
    EXPECT_EQ(type, 2);
    EXPECT_TRUE(payload == U32(7) + U32(8) + U32(9) + Pstr("tok") + std::string(1, '\1') + U32(0) +
                               Pstr("cdn/res/b.swf"));
}

TEST_F(ProtocolTest, AnyOtherHandshakeWordClosesTheConnection) {
    const std::string words[] = {"QMTL", "qmtk", "PVNL", std::string(4, '\0'), "\xFF\xCC\xEE\xCC",
                                 "QMTX"};
    for (const std::string& word : words) {
        TestClient client;
        ASSERT_TRUE(client.Connect(port));
        ASSERT_TRUE(client.Send(word));
        size_t received = 0;
        EXPECT_TRUE(client.WaitClosed(3000, &received)) << word;
        EXPECT_EQ(received, 0u) << word;
    }
    EXPECT_EQ(log.Count(L"check 失败"), 6);
}

TEST_F(ProtocolTest, HandshakeAndFrameInOneSegmentAreAnsweredInOrder) {
    TestClient client;
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(client.Send("QMTK" + kGetFile));
    std::string answer;
    ASSERT_TRUE(client.RecvExact(4 + kFileReply.size(), &answer));
    EXPECT_TRUE(answer == "PVNL" + kFileReply);
}

TEST_F(ProtocolTest, HandshakeWordSplitAfterThreeBytes) {
    TestClient client;
    ASSERT_TRUE(client.Connect(port));
    SendAndWaitSeen(client, "QMT");
    EXPECT_TRUE(client.Quiet(50));
    ASSERT_TRUE(client.Send("K"));
    std::string answer;
    ASSERT_TRUE(client.RecvExact(4, &answer));
    EXPECT_EQ(answer, "PVNL");
}

TEST_F(ProtocolTest, FramesSplitAtEveryByteArriveWhole) {
    TestClient client;
    Open(client);
    for (size_t split = 1; split < kGetFile.size(); ++split) {
        SendAndWaitSeen(client, kGetFile.substr(0, split));
        ASSERT_TRUE(client.Send(kGetFile.substr(split)));
        std::string reply;
        ASSERT_TRUE(client.RecvExact(kFileReply.size(), &reply)) << "split at " << split;
        ASSERT_TRUE(reply == kFileReply) << "split at " << split;
    }
    // A larger frame split inside its header, its body and just before its end.
    std::string payload(5000, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(PatternByte(i));
    const std::string frame = Frame(7, payload);
    for (size_t split : {size_t(1), size_t(4), size_t(7), size_t(8), size_t(9), size_t(2500),
                         frame.size() - 1}) {
        SendAndWaitSeen(client, frame.substr(0, split));
        ASSERT_TRUE(client.Send(frame.substr(split)));
        ExpectEcho(client, payload);
    }
}

TEST_F(ProtocolTest, ManyFramesInOneReadAreAllHandledInOrder) {
    TestClient client;
    Open(client);
    std::string batch;
    std::vector<std::string> payloads;
    for (int i = 0; i < 200; ++i) {
        std::string payload(static_cast<size_t>(i * 7 % 300), static_cast<char>('a' + i % 26));
        payload += std::to_string(i);
        payloads.push_back(payload);
        batch += Frame(7, payload);
    }
    ASSERT_TRUE(client.Send(batch));
    for (const std::string& payload : payloads) ExpectEcho(client, payload);
    EXPECT_TRUE(client.Quiet(50));
}

TEST_F(ProtocolTest, GarbageBeforeAFrameIsSkipped) {
    const struct {
        std::string garbage;
        const wchar_t* logged;
    } cases[] = {
        {"12345", L"proto header refound after 5 bytes"},
        {std::string("\xFF\xCC\xEE", 3) + "xx", L"proto header refound after 5 bytes"},
        {std::string(100, 'g'), L"proto header refound after 100 bytes"},
    };
    for (const auto& c : cases) {
        log.Clear();
        TestClient client;
        Open(client);
        ASSERT_TRUE(client.Send(c.garbage + Frame(7, "payload")));
        ExpectEcho(client, "payload");
        EXPECT_TRUE(log.Contains(c.logged)) << c.garbage.size();
    }
}

TEST_F(ProtocolTest, GarbageWithoutAFrameIsDroppedAndTheNextFrameStillArrives) {
    TestClient client;
    Open(client);
    SendAndWaitSeen(client, std::string(100, 'g'));
    ASSERT_TRUE(client.Send(Frame(7, "after")));
    ExpectEcho(client, "after");
    EXPECT_TRUE(log.Contains(L"proto header can not be found"));
    // Garbage whose last bytes begin a magic that the next read completes.
    SendAndWaitSeen(client, std::string(10, 'g') + "\xFF\xCC\xEE");
    ASSERT_TRUE(client.Send("\xCC" + Frame(7, "straddles").substr(4)));
    ExpectEcho(client, "straddles");
}

TEST_F(ProtocolTest, ZeroLengthFrameIsLoggedAndSkipped) {
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(FrameHeader(0) + Frame(7, "next")));
    ExpectEcho(client, "next");
    EXPECT_TRUE(client.Quiet(50));
    EXPECT_TRUE(log.Contains(L"packet size to few(0)"));
}

TEST_F(ProtocolTest, ShortGetFileReadsMissingTextsAsEmpty) {
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(Frame(2, U32(1) + U32(2) + U32(3))));
    uint8_t type = 0;
    std::string payload;
    ASSERT_TRUE(client.RecvFrame(&type, &payload));
    EXPECT_TRUE(payload == U32(1) + U32(2) + U32(3) + Pstr("") + std::string(1, '\1') + U32(0) +
                               Pstr("cdn/"));
}

TEST_F(ProtocolTest, AHandlerThatClosesEndsTheConnectionAndItsFrames) {
    TestClient client;
    Open(client);
    ASSERT_TRUE(client.Send(Frame(8, "") + Frame(7, "never")));
    size_t received = 0;
    EXPECT_TRUE(client.WaitClosed(3000, &received));
    EXPECT_EQ(received, 0u);
}

TEST_F(ProtocolTest, FrameBodiesAreBoundedPerConnection) {
    TestClient good;
    Open(good);
    // The largest body accepted.
    std::string payload(CCustomRelayServerClientSocket::kMaxFrameBody - 1, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(PatternByte(i));
    ASSERT_TRUE(good.Send(Frame(7, payload)));
    ExpectEcho(good, payload);
    // One byte more: refused as soon as the header is seen, the connection closed.
    const uint32_t tooLong = CCustomRelayServerClientSocket::kMaxFrameBody + 1;
    for (uint32_t declared : {tooLong, 0xFFFFFFFFu}) {
        TestClient bad;
        Open(bad);
        ASSERT_TRUE(bad.Send(FrameHeader(declared) + "\x07partial"));
        EXPECT_TRUE(bad.WaitClosed(3000)) << declared;
    }
    EXPECT_EQ(log.Count(L"packet size too large"), 2);
    // The other connection is not affected.
    ASSERT_TRUE(good.Send(Frame(7, "still here")));
    ExpectEcho(good, "still here");
}

TEST_F(ProtocolTest, EndlessGarbageDoesNotGrowTheBuffers) {
    TestClient client;
    Open(client);
    const std::string chunk(64 * 1024, 'g');
    for (int i = 0; i < 128; ++i) ASSERT_TRUE(client.Send(chunk));  // 8 MiB
    ASSERT_TRUE(client.Send(Frame(7, "end")));
    ExpectEcho(client, "end");
    EXPECT_LE(server.stats.maxReceiveCapacity.load(), 1 << 20);
    printf("[ figures  ] receive buffers of a connection fed 8 MiB of garbage: %d bytes\n",
           server.stats.maxReceiveCapacity.load());
}

TEST_F(ProtocolTest, APartialSendResumesInOrder) {
    server.allowBurst = true;
    TestClient client;
    ASSERT_TRUE(client.Connect(port, 4096));  // a small window: the server's sends block
    ASSERT_TRUE(client.Handshake());
    const uint32_t kBig = 4u << 20;
    const uint32_t kSmall = 50;
    ASSERT_TRUE(client.Send(Frame(9, U32(kBig) + U32(kSmall))));
    Sleep(300);  // not reading: the big packet goes out in part and the rest waits
    uint8_t type = 0;
    std::string payload;
    ASSERT_TRUE(client.RecvFrame(&type, &payload, 20000));
    EXPECT_EQ(type, 9);
    ASSERT_EQ(payload.size(), kBig);
    size_t wrong = 0;
    for (size_t i = 0; i < payload.size(); ++i)
        if (static_cast<uint8_t>(payload[i]) != PatternByte(i)) ++wrong;
    EXPECT_EQ(wrong, 0u);
    for (uint32_t i = 0; i < kSmall; ++i) {
        ASSERT_TRUE(client.RecvFrame(&type, &payload));
        EXPECT_EQ(type, 10);
        EXPECT_EQ(LoadU32(payload, 0), i);
    }
    EXPECT_GT(server.stats.partialSends.load(), 0);
}

}  // namespace
