// Benchmark of the file service (a program, not a test): cache-hit GetFile requests
// over 1, 8 and 64 loopback connections for files of 1 KiB, 64 KiB and 1 MiB, and in
// the same run the ceiling: the same request and reply bytes through plain loopback TCP
// connections served by one thread each; and, when LAUNCHER_CDN names a content server
// (run it through cdn_test_server.py), the miss path: every request fetched through the
// HTTP client. Prints requests per second, MB/s and the p50/p99 latency of every
// combination; then what building a 1 MiB packet one byte at a time costs.
//
// Usage: [cdn_test_server.py] session_benchmark [seconds per combination, default 2]
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "file_service_test_support.h"
#include "net_test_support.h"
#include "server/file_server.h"
#include "server/relay_socket.h"
#include "server/session_server.h"
#include "server/suffix_list.h"
#include "support/test_support.h"
#include "update/http_client.h"

using namespace filetest;
using namespace nettest;

namespace {

const char kToken[] = "tok";

struct Figures {
    uint64_t requests = 0;
    uint64_t bytes = 0;
    uint64_t errors = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;
};

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) return 0;
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + index, values.end());
    return values[index];
}

// connections clients each send request and wait for replyBytes, again and again, for
// seconds. check (may be empty) judges each reply.
Figures Drive(int port, int connections, const std::string& request, size_t replyBytes,
              bool handshake, double seconds, const std::function<bool(const std::string&)>& check) {
    Figures total;
    std::vector<Figures> each(connections);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    for (int i = 0; i < connections; ++i) {
        threads.emplace_back([&, i] {
            Figures& mine = each[i];
            TestClient client;
            const bool open = client.Connect(port) && (!handshake || client.Handshake());
            ++ready;
            while (!go) Sleep(1);
            if (!open) {
                ++mine.errors;
                return;
            }
            const double end = NowMs() + seconds * 1000.0;
            std::string reply;
            while (NowMs() < end) {
                const double start = NowMs();
                if (!client.Send(request) || !client.RecvExact(replyBytes, &reply, 20000) ||
                    (check && !check(reply))) {
                    ++mine.errors;
                    return;
                }
                mine.latenciesMs.push_back(NowMs() - start);
                ++mine.requests;
                mine.bytes += replyBytes;
            }
        });
    }
    while (ready < connections) Sleep(1);
    const double start = NowMs();
    go = true;
    for (std::thread& t : threads) t.join();
    total.seconds = (NowMs() - start) / 1000.0;
    for (Figures& f : each) {
        total.requests += f.requests;
        total.bytes += f.bytes;
        total.errors += f.errors;
        total.latenciesMs.insert(total.latenciesMs.end(), f.latenciesMs.begin(), f.latenciesMs.end());
    }
    return total;
}

void Print(const char* what, int connections, size_t size, Figures& f) {
    const double p50 = Percentile(f.latenciesMs, 0.50);
    const double p99 = Percentile(f.latenciesMs, 0.99);
    printf("%-8s %5d %9zu %10.0f %9.1f %9.2f %9.2f %6llu\n", what, connections, size,
           static_cast<double>(f.requests) / f.seconds,
           static_cast<double>(f.bytes) / f.seconds / 1e6, p50, p99,
           static_cast<unsigned long long>(f.errors));
    fflush(stdout);
}

// The plain TCP side: each accepted connection reads requestBytes and answers with
// replyBytes, until the client goes away.
class PlainServer {
public:
    PlainServer(size_t requestBytes, size_t replyBytes)
        : requestBytes_(requestBytes), reply_(replyBytes, 'x') {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, SOMAXCONN);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~PlainServer() {
        closesocket(listener_);
        acceptor_.join();
        for (std::thread& t : workers_) t.join();
    }
    int Port() const { return port_; }

private:
    void AcceptLoop() {
        for (;;) {
            SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            workers_.emplace_back([this, client] { Serve(client); });
        }
    }
    void Serve(SOCKET client) {
        std::vector<char> request(requestBytes_);
        for (;;) {
            size_t got = 0;
            while (got < requestBytes_) {
                const int n = recv(client, request.data() + got, static_cast<int>(requestBytes_ - got), 0);
                if (n <= 0) {
                    closesocket(client);
                    return;
                }
                got += static_cast<size_t>(n);
            }
            size_t sent = 0;
            while (sent < reply_.size()) {
                const int n = send(client, reply_.data() + sent, static_cast<int>(reply_.size() - sent), 0);
                if (n <= 0) {
                    closesocket(client);
                    return;
                }
                sent += static_cast<size_t>(n);
            }
        }
    }

    size_t requestBytes_;
    std::string reply_;
    SOCKET listener_;
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

// What building a packet of 1 MiB one byte at a time costs: with the growth in use, with
// one reservation first, and with growth by the bytes needed only (each append that does
// not fit reserves the current size plus one byte).
void PrintSmallAppends() {
    CSendPacketPool pool;
    const size_t kSize = 1u << 20;
    const char* const names[] = {"growth in use", "one Reserve first", "growth by the need only"};
    for (int mode = 0; mode < 3; ++mode) {
        CDataPacket* packet = pool.GetPacket();
        packet->FreeBuffer();
        int reallocations = 0;
        const double start = NowMs();
        if (mode == 1) packet->Reserve(kSize);
        for (size_t i = 0; i < kSize; ++i) {
            const size_t before = packet->Capacity();
            if (mode == 2 && packet->Size() == packet->Capacity()) packet->Reserve(packet->Capacity() + 1);
            packet->AppendByte(static_cast<uint8_t>(i));
            if (packet->Capacity() != before) ++reallocations;
        }
        printf("1 MiB in 1-byte appends, %s: %.1f ms, %d buffer changes\n", names[mode], NowMs() - start,
               reallocations);
        packet->FreeBuffer();
        pool.QueuePacket(packet);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? atof(argv[1]) : 2.0;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;

    testing_support::TempDir cache;
    FileSrvSetSuffixes(L"cbp,swf,zip,txt,dat");
    const size_t sizes[] = {1024, 64 * 1024, 1024 * 1024};
    CreateDirectoryW((cache.path() + L"bench").c_str(), nullptr);
    for (size_t size : sizes) {
        const std::string name = "bench/" + std::to_string(size) + ".dat";
        const std::string content = Pattern(size);
        List(name, Crc(content));
        WriteCached(CachePath(cache.path(), name), content);
    }

    const int port = FileSrvStart(FindFreeRun(27000, 1));
    if (port <= 0 || !FileSrvStartProcessing()) {
        fprintf(stderr, "the file server did not start (%d)\n", port);
        return 1;
    }
    FileSrvSetLocalDir(cache.path().c_str());
    const char* cdn = getenv("LAUNCHER_CDN");
    if (cdn) {
        FileSrvSetResourceBase(cdn);
        CCurlHttpClient* http = CCurlHttpClient::GetInstance();
        if (!http) return 1;
        http->StartWorkers();
    }

    printf("%-8s %5s %9s %10s %9s %9s %9s %6s\n", "path", "conns", "bytes", "req/s", "MB/s", "p50 ms",
           "p99 ms", "errors");
    const int connectionCounts[] = {1, 8, 64};
    for (size_t size : sizes) {
        const std::string name = "bench/" + std::to_string(size) + ".dat";
        const std::string request = Frame(2, GetFilePayload(1, 2, 3, kToken, name));
        const size_t replyBytes = 8 + 1 + 12 + (sizeof kToken - 1 + 3) + 1 + 4 + size;
        for (int connections : connectionCounts) {
            // The status byte follows header, type, three words and the token.
            Figures hit = Drive(port, connections, request, replyBytes, true, seconds,
                                [&](const std::string& reply) {
                                    return reply[27] == 0 && LoadU32(reply, 28) == size;
                                });
            Print("hit", connections, size, hit);
            PlainServer plain(request.size(), replyBytes);
            Figures ceiling = Drive(plain.Port(), connections, request, replyBytes, false, seconds, nullptr);
            Print("tcp", connections, size, ceiling);
        }
    }
    if (cdn) {
        const int missConnections[] = {1, 8};
        for (size_t size : sizes)
            for (int connections : missConnections) {
                // The content server's file, never listed: every request is a miss.
                const std::string request =
                    Frame(2, GetFilePayload(1, 2, 3, kToken, "ok/" + std::to_string(size) + "/miss.dat"));
                const size_t replyBytes = 8 + 1 + 12 + (sizeof kToken - 1 + 3) + 1 + 4 + size;
                Figures miss = Drive(port, connections, request, replyBytes, true, seconds,
                                     [&](const std::string& reply) { return reply[27] == 0; });
                Print("miss", connections, size, miss);
            }
    }
    FileSrvShutdown();
    CCurlHttpClient::Shutdown();
    WSACleanup();
    PrintSmallAppends();
    return 0;
}
