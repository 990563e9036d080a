#include "stream_mutation.h"

#include <stdio.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "net_test_support.h"

using namespace nettest;

namespace mutation {

uint32_t Pick(Random& random, uint32_t bound) {
    return bound ? static_cast<uint32_t>(random() % bound) : 0;
}

std::string RandomBytes(Random& random, size_t n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// A directory a peer might name: outside the cache, traversing, a share, a device, empty,
// overlong, or random bytes.
std::string RandomDirectory(Random& random) {
    const char* directories[] = {"..\\..", "C:\\Windows\\Temp", "\\\\127.0.0.1\\c$\\x", "\\\\?\\C:\\x",
                                 "res\\..\\..", "CON", "", "/tmp"};
    switch (Pick(random, 4)) {
    case 0:
        return std::string(1 + Pick(random, 400), 'd');
    case 1:
        return RandomBytes(random, Pick(random, 300));
    default:
        return directories[Pick(random, sizeof directories / sizeof directories[0])];
    }
}

std::string RandomFrame(Random& random) {
    switch (Pick(random, 8)) {
    case 7:  // SetAddresses: a directory and a resource address of the peer's choosing
        return Frame(1, Pstr(RandomDirectory(random)) +
                            Pstr(Pick(random, 2) ? "http://peer.test/" : RandomBytes(random, Pick(random, 300))));
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

FeedFigures FeedMutatedStreams(int port, uint32_t seed, int clients, int rounds, DWORD budgetMs) {
    Random random(seed);
    std::vector<std::unique_ptr<TestClient>> fuzz;
    for (int i = 0; i < clients; ++i) fuzz.emplace_back(new TestClient);
    FeedFigures figures;
    const DWORD start = GetTickCount();
    for (; figures.rounds < rounds && GetTickCount() - start < budgetMs; ++figures.rounds) {
        TestClient& client = *fuzz[Pick(random, static_cast<uint32_t>(clients))];
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
        figures.bytes += sent;

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
    for (std::unique_ptr<TestClient>& client : fuzz) client->Abort();
    return figures;
}

BesideFigures FeedBeside(int port, uint32_t seed, const ClientStep& step) {
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::atomic<bool> failed{false};
    std::thread game([&] {
        TestClient client;
        if (!client.Connect(port) || !client.Handshake()) {
            failed = true;
            return;
        }
        for (uint32_t i = 0; !stop; ++i) {
            if (!step(client, i)) {
                failed = true;
                return;
            }
            ++answered;
        }
    });
    const DWORD start = GetTickCount();
    BesideFigures figures;
    figures.fed = FeedMutatedStreams(port, seed, 6, 4000, 15000);
    stop = true;
    game.join();
    figures.answered = answered;
    figures.failed = failed;
    printf("[ figures  ] %d rounds, %zu bytes of mutated streams in %lu ms; the game client got %d answers "
           "meanwhile\n",
           figures.fed.rounds, figures.fed.bytes, static_cast<unsigned long>(GetTickCount() - start),
           figures.answered);
    return figures;
}

}  // namespace mutation
