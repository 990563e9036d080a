// Randomized robustness: several connections feed mutated and random byte streams into a
// running server (fixed seed, bounded number of rounds and time) while a well-behaved
// game client keeps asking for files and checking every answer. The server must not
// crash or hang, must keep answering the good client, and must stay within bounded
// memory per connection.
#include <gtest/gtest.h>

#include <stdio.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

#include "net_test_support.h"

using namespace nettest;

namespace {

typedef std::mt19937 Random;

uint32_t Pick(Random& random, uint32_t bound) {
    return bound ? static_cast<uint32_t>(random() % bound) : 0;
}

std::string RandomBytes(Random& random, size_t n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string RandomFrame(Random& random) {
    switch (Pick(random, 7)) {
    case 0:
        return Frame(2, GetFilePayload(random(), random(), random(), RandomBytes(random, Pick(random, 20)),
                                       Pick(random, 2) ? "res/a.swf" : RandomBytes(random, Pick(random, 300))));
    case 1:
        return Frame(7, RandomBytes(random, Pick(random, 3000)));
    case 2:
        return FrameHeader(0);
    case 3:  // strings that claim more than the body holds
        return Frame(2, U32(1) + U32(2) + U32(3) + std::string("\xFF\xFF", 2) + RandomBytes(random, Pick(random, 40)));
    case 4:
        return Frame(static_cast<uint8_t>(random()), RandomBytes(random, Pick(random, 200)));
    case 5:  // a header that declares a huge body, then a little of it
        return FrameHeader(random()) + RandomBytes(random, Pick(random, 100));
    default:  // a large body declared, partly sent
        return FrameHeader(CCustomRelayServerClientSocket::kMaxFrameBody - Pick(random, 64)) +
               RandomBytes(random, Pick(random, 65536));
    }
}

std::string BaseStream(Random& random) {
    std::string stream;
    switch (Pick(random, 6)) {
    case 0:
        return PolicyRequest();
    case 1:
    case 2:
        stream = "QMTK";
        for (uint32_t i = Pick(random, 8); i > 0; --i) stream += RandomFrame(random);
        return stream;
    case 3:
        for (uint32_t i = Pick(random, 4); i > 0; --i) stream += RandomFrame(random);
        return stream;
    case 4:
        return "QMTK" + RandomBytes(random, 1 + Pick(random, 8192));
    default:
        return RandomBytes(random, 1 + Pick(random, 4096));
    }
}

void Mutate(Random& random, std::string& stream) {
    for (uint32_t n = Pick(random, 5); n > 0 && !stream.empty(); --n) {
        size_t at = Pick(random, static_cast<uint32_t>(stream.size()));
        switch (Pick(random, 6)) {
        case 0:
            stream[at] = static_cast<char>(stream[at] ^ (1 << Pick(random, 8)));
            break;
        case 1:
            stream[at] = static_cast<char>(random());
            break;
        case 2:
            stream.insert(at, RandomBytes(random, 1 + Pick(random, 16)));
            break;
        case 3:
            stream.erase(at, 1 + Pick(random, 16));
            break;
        case 4:
            stream.insert(at, stream.substr(at, 1 + Pick(random, 64)));
            break;
        default:
            stream.resize(at);
            break;
        }
    }
}

TEST(Robustness, MutatedStreamsNeitherCrashNorStarveAWellBehavedClient) {
    LogCapture log;  // the logging path runs too
    TestServer server;
    server.files["res/a.swf"] = "ABCDE";
    ASSERT_TRUE(server.StartLocal());
    const int port = server.BoundPort();

    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<int> failed{0};
    std::thread game([&] {
        TestClient client;
        if (!client.Connect(port) || !client.Handshake()) {
            ++failed;
            return;
        }
        Random random(99);
        for (uint32_t i = 0; !stop; ++i) {
            std::string payload = RandomBytes(random, Pick(random, 2000));
            uint8_t type = 0;
            std::string got;
            if (!client.Send(Frame(7, payload)) || !client.RecvFrame(&type, &got, 10000) || type != 7 ||
                got != payload) {
                ++failed;
                return;
            }
            const std::string token = std::to_string(i);
            if (!client.Send(Frame(2, GetFilePayload(i, 2, 3, token, "res/a.swf"))) ||
                !client.RecvFrame(&type, &got, 10000) ||
                got != U32(i) + U32(2) + U32(3) + Pstr(token) + std::string(1, '\0') + U32(5) + "ABCDE") {
                ++failed;
                return;
            }
            ++answered;
        }
    });

    Random random(20261210);
    const int kConnections = 6;
    const int kRounds = 4000;
    const DWORD kBudgetMs = 15000;
    TestClient fuzz[kConnections];
    const DWORD start = GetTickCount();
    int rounds = 0;
    size_t bytesSent = 0;
    for (; rounds < kRounds && GetTickCount() - start < kBudgetMs; ++rounds) {
        TestClient& client = fuzz[Pick(random, kConnections)];
        if (!client.IsOpen() && !client.Connect(port)) continue;
        std::string stream = BaseStream(random);
        Mutate(random, stream);
        // In up to eight pieces, with short pauses between some of them.
        size_t sent = 0;
        for (uint32_t pieces = 1 + Pick(random, 8); sent < stream.size() && client.IsOpen(); --pieces) {
            size_t n = pieces <= 1 ? stream.size() - sent : 1 + Pick(random, static_cast<uint32_t>(stream.size() - sent));
            if (!client.Send(stream.substr(sent, n))) client.Close();  // the server closed it
            sent += n;
            if (Pick(random, 4) == 0) Sleep(1);
        }
        bytesSent += sent;

        switch (Pick(random, 12)) {
        case 0:
            client.Abort();
            break;
        case 1:
            client.Close();
            break;
        case 2:
            client.Quiet(0);  // poll only
            break;
        default:
            break;
        }
    }
    stop = true;
    game.join();
    printf("[ figures  ] %d rounds, %zu bytes of mutated streams in %lu ms; the game client "
           "got %d pairs of answers meanwhile; largest receive buffers of a connection: %d bytes\n",
           rounds, bytesSent, static_cast<unsigned long>(GetTickCount() - start), answered.load(),
           server.stats.maxReceiveCapacity.load());
    EXPECT_EQ(failed.load(), 0);
    EXPECT_GE(answered.load(), 10);
    EXPECT_LE(server.stats.maxReceiveCapacity.load(), 4 << 20);

    // The server still serves a newcomer, and lets every connection go.
    for (TestClient& client : fuzz) client.Abort();
    TestClient fresh;
    ASSERT_TRUE(fresh.Connect(port));
    ASSERT_TRUE(fresh.Handshake());
    ASSERT_TRUE(fresh.Send(Frame(2, GetFilePayload(1, 2, 3, "t", "res/a.swf"))));
    uint8_t type = 0;
    std::string got;
    ASSERT_TRUE(fresh.RecvFrame(&type, &got));
    EXPECT_EQ(got, U32(1) + U32(2) + U32(3) + Pstr("t") + std::string(1, '\0') + U32(5) + "ABCDE");
    fresh.Close();
    EXPECT_TRUE(WaitFor([&] { return server.ClientCount() == 0; }, 5000));
}

}  // namespace
