// Randomized robustness: several connections feed mutated and random byte streams into a
// running server (fixed seed, bounded number of rounds and time) while a well-behaved
// game client keeps asking for files and checking every answer. The server must not
// crash or hang, must keep answering the good client, and must stay within bounded
// memory per connection.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "net_test_support.h"
#include "stream_mutation.h"

using namespace nettest;
using mutation::Pick;
using mutation::RandomBytes;
typedef mutation::Random Random;

namespace {

TEST(Robustness, MutatedStreamsNeitherCrashNorStarveAWellBehavedClient) {
    LogCapture log;  // the logging path runs too
    TestServer server;
    server.files["res/a.swf"] = "ABCDE";
    ASSERT_TRUE(server.StartLocal());
    const int port = server.BoundPort();

    Random random(99);
    const mutation::BesideFigures figures =
        mutation::FeedBeside(port, 20261210, [&random](TestClient& client, uint32_t i) {
            std::string payload = RandomBytes(random, Pick(random, 2000));
            uint8_t type = 0;
            std::string got;
            if (!client.Send(Frame(7, payload)) || !client.RecvFrame(&type, &got, 10000) || type != 7 ||
                got != payload)
                return false;
            const std::string token = std::to_string(i);
            return client.Send(Frame(2, GetFilePayload(i, 2, 3, token, "res/a.swf"))) &&
                   client.RecvFrame(&type, &got, 10000) &&
                   got == U32(i) + U32(2) + U32(3) + Pstr(token) + std::string(1, '\0') + U32(5) + "ABCDE";
        });
    printf("[ figures  ] largest receive buffers of a connection: %d bytes\n",
           server.stats.maxReceiveCapacity.load());
    EXPECT_FALSE(figures.failed);
    EXPECT_GE(figures.answered, 10);
    EXPECT_LE(server.stats.maxReceiveCapacity.load(), 4 << 20);

    // The server still serves a newcomer, and lets every connection go.
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
