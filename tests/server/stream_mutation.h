// Mutated byte streams for the server's randomized tests: frames of the Flash client
// protocol, valid and broken, mutated, truncated or replaced by garbage, fed over
// loopback connections in random pieces.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <random>
#include <string>

namespace nettest {
class TestClient;
}

namespace mutation {

typedef std::mt19937 Random;

// A number below bound (0 when bound is 0).
uint32_t Pick(Random& random, uint32_t bound);
std::string RandomBytes(Random& random, size_t n);
// One frame: a GetFile (of "res/a.swf" or a random name), a SetAddresses (of directories
// outside the cache and random addresses), frames of unknown types, empty and lying
// bodies, strings longer than their body.
std::string RandomFrame(Random& random);
// What a connection sends from its start: a policy request, a handshake and frames,
// frames without a handshake, or garbage.
std::string BaseStream(Random& random);
// Flips, overwrites, inserts, deletes, repeats or truncates a few places of stream.
void Mutate(Random& random, std::string& stream);

struct FeedFigures {
    int rounds = 0;
    size_t bytes = 0;
};

// Over `clients` connections to 127.0.0.1:port, up to `rounds` mutated streams in random
// pieces (with short pauses), each on a connection picked at random, which is sometimes
// reset or closed afterwards and reopened when needed; stops after budgetMs. A connection
// the server closed is reopened. Every connection is reset at the end.
FeedFigures FeedMutatedStreams(int port, uint32_t seed, int clients, int rounds, DWORD budgetMs);

struct BesideFigures {
    FeedFigures fed;
    int answered = 0;  // steps the well-behaved client completed
    bool failed = false;  // it could not connect and shake hands, or a step failed
};

// One request and the check of its answer by a well-behaved game client, step `i` of its
// connection; false when the answer is wrong or missing.
typedef std::function<bool(nettest::TestClient& client, uint32_t i)> ClientStep;

// Feeds mutated streams with `seed` over six connections to 127.0.0.1:port (at most 4000
// rounds, 15 s), while on a thread of its own a well-behaved game client, connected and
// past the handshake, runs step 0, 1, 2 … until the feed ends or a step fails. Prints one
// figures line: rounds, bytes and time of the feed, and the steps the client completed.
BesideFigures FeedBeside(int port, uint32_t seed, const ClientStep& step);

}  // namespace mutation
