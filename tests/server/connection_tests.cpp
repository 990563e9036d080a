// The polled connection over a real loopback pair, driven pass by pass on the test's
// own thread: when received bytes reach the protocol layer, a pass that skips its read,
// peer close, the per-pass read bound and the bound on bytes a connection may hold
// unconsumed.
#include <gtest/gtest.h>

#include <thread>

#include "net_test_support.h"
#include "server/server_socket.h"

using namespace nettest;

namespace {

// Records what the protocol layer is offered in each pass. With `consume` it takes
// everything; without it takes nothing (a protocol stuck on an endless message).
class Recorder : public CCustomServerClientSocket {
public:
    void OnReceive(RecvBuffer& buffer) override {
        const int n = buffer.Unconsumed();
        offered.push_back(n > 0 ? std::string(buffer.readPosition, static_cast<size_t>(n)) : "");
        if (consume) buffer.readPosition += n;
        Compact();
    }
    void OnDisconnected() override { ++disconnects; }
    std::vector<std::string> offered;
    bool consume = true;
    int disconnects = 0;
};

// A connected pair: `peer` is the client end (blocking), the accepted end is attached
// to `connection` the way the server does it (non-blocking, 32768-byte buffers).
class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener_, 1), 0);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        ASSERT_TRUE(peer.Connect(ntohs(address.sin_port)));
        sockaddr_in from;
        length = sizeof from;
        SOCKET accepted = accept(listener_, reinterpret_cast<sockaddr*>(&from), &length);
        ASSERT_NE(accepted, INVALID_SOCKET);
        connection.Init(accepted, &from);
        ASSERT_EQ(connection.SetBlocking(false), 0);
        connection.SetRecvBufferSize(32768);
        connection.SetSendBufferSize(32768);
    }
    void TearDown() override { closesocket(listener_); }

    // True once the connection's socket has bytes (or an end) to read.
    bool Arrived(DWORD ms = 2000) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(connection.GetHandle(), &readable);
        timeval timeout = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        return select(0, &readable, nullptr, nullptr, &timeout) == 1;
    }

    SOCKET listener_ = INVALID_SOCKET;
    TestClient peer;
    Recorder connection;
};

TEST_F(ConnectionTest, BytesReceivedInAPassReachTheProtocolInTheSamePass) {
    EXPECT_STREQ(connection.PeerText(), L"127.0.0.1");
    ASSERT_TRUE(peer.Send("hello"));
    ASSERT_TRUE(Arrived());
    connection.Process();
    ASSERT_EQ(connection.offered.size(), 1u);
    EXPECT_EQ(connection.offered[0], "hello");
    EXPECT_TRUE(connection.IsConnected());
}

TEST_F(ConnectionTest, UnconsumedBytesAreOfferedAgainWithWhatFollows) {
    connection.consume = false;
    ASSERT_TRUE(peer.Send("abc"));
    ASSERT_TRUE(Arrived());
    connection.Process();
    ASSERT_TRUE(peer.Send("def"));
    ASSERT_TRUE(Arrived());
    connection.Process();  // "def" merged behind "abc" by Compact
    ASSERT_EQ(connection.offered.size(), 2u);
    EXPECT_EQ(connection.offered[0], "abc");
    EXPECT_EQ(connection.offered[1], "abcdef");
}

// A pass told that the socket had nothing to read does not read it; the pass after
// reads again.
TEST_F(ConnectionTest, ASkippedReceiveLeavesTheBytesForTheNextPass) {
    ASSERT_TRUE(peer.Send("hello"));
    ASSERT_TRUE(Arrived());
    connection.SkipNextReceive();
    connection.Process();
    connection.Process();
    ASSERT_EQ(connection.offered.size(), 2u);
    EXPECT_EQ(connection.offered[0], "");
    EXPECT_EQ(connection.offered[1], "hello");
}

TEST_F(ConnectionTest, PeerCloseClosesTheConnectionOnce) {
    peer.Close();
    ASSERT_TRUE(Arrived());
    connection.Process();
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_EQ(connection.GetHandle(), INVALID_SOCKET);
    EXPECT_EQ(connection.disconnects, 1);
    connection.Process();  // a closed connection's pass does nothing
    connection.Close();
    EXPECT_EQ(connection.disconnects, 1);
}

TEST_F(ConnectionTest, OnePassTakesABoundedAmountAndEverythingArrivesInOrder) {
    const size_t kTotal = 1 << 20;
    std::string data(kTotal, '\0');
    for (size_t i = 0; i < kTotal; ++i) data[i] = static_cast<char>(PatternByte(i));
    std::thread sender([&] { peer.Send(data); });
    std::string seen;
    int passes = 0;
    while (seen.size() < kTotal && passes < 20000) {
        connection.Process();
        ++passes;
        EXPECT_LE(connection.BufferedBytes(),
                  CCustomWorkSocket::kRecvPerPass + CCustomWorkSocket::kRecvChunk);
        if (!connection.offered.empty()) seen += connection.offered.back();
        if (seen.size() < kTotal) Arrived(50);
    }
    sender.join();
    EXPECT_EQ(seen.size(), kTotal);
    EXPECT_TRUE(seen == data);
    // Passes are bounded, so a fast sender cannot keep the data thread for itself.
    EXPECT_GE(passes, static_cast<int>(kTotal / (CCustomWorkSocket::kRecvPerPass + CCustomWorkSocket::kRecvChunk)));
}

TEST_F(ConnectionTest, AConnectionHoldingTooMuchUnconsumedIsLoggedAndClosed) {
    LogCapture log;
    connection.consume = false;
    const int kLimit = 256 * 1024;
    connection.SetReceiveLimit(kLimit);
    std::thread sender([&] { peer.Send(std::string(4 << 20, 'q')); });
    int maxCapacity = 0;
    for (int pass = 0; pass < 5000 && connection.IsConnected(); ++pass) {
        connection.Process();
        maxCapacity = std::max(maxCapacity, connection.ReceiveCapacity());
        if (connection.IsConnected()) Arrived(50);
    }
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_TRUE(log.Contains(L"limit 262144"));
    // The buffers never held much more than the limit.
    EXPECT_LE(maxCapacity, 2 * kLimit + 4 * CCustomWorkSocket::kRecvReserve);
    peer.Close();  // ends the sender's blocked send
    sender.join();
}

}  // namespace
