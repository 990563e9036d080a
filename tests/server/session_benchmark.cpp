// Benchmark of the file service (a program, not a test; see the README). Every figure is
// printed and, with --json FILE, written as one object per line of the table.
//
//   idle     the process's CPU over --idle seconds with the server and the HTTP client
//            running and one game connection open that asks nothing (GetProcessTimes)
//   hit      cache hits (GetFile of a listed file of 1 KiB, 64 KiB, 1 MiB) over 1, 8 and
//            64 connections, each asking again as soon as its reply is in
//   single   the ceiling: one thread serving every connection with select that opens the
//            same cached file for each request, reads it with ReadFile and sends the same
//            reply bytes
//   tcp      one thread per connection sending the same reply bytes from memory (sockets
//            only)
//   miss     every request fetched from the content server through the HTTP client
//   curl     the same files fetched from the same server by libcurl directly, with the
//            same concurrency
//   scene    2000 distinct cached resources (70 % of 1-16 KiB, 25 % of 16-256 KiB, 5 % of
//            256 KiB-2 MiB) over 4 connections with 16 requests in flight on each, beside
//            the single-thread line serving the same (scene-single)
//   cdn-scene the same scene as misses, the content server waiting 20 ms before each
//            answer, beside libcurl fetching directly with 64 transfers (cdn-curl)
//
// All connections use the game connections' socket options. Each reply's bytes are
// checked (CRC-32 against the published file): a wrong reply counts as an error.
// The miss lines need a content server: run the program through cdn_test_server.py.
//
// Usage: [cdn_test_server.py] session_benchmark [seconds per line, default 2]
//            [--idle seconds, default 10] [--json FILE] [--only idle,hit,scene,miss,cdn]
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <zlib.h>

#include "file_service_test_support.h"
#include "net_test_support.h"
#include "server/file_server.h"
#include "server/scramble.h"
#include "server/server_socket.h"
#include "server/session_server.h"
#include "server/suffix_list.h"
#include "support/test_support.h"
#include "update/http_client.h"

using namespace filetest;
using namespace nettest;

namespace {

const char kToken[] = "tok";
// Magic, length, type, three words, the token as a packet string, the status byte.
const size_t kReplyStatusOffset = 8 + 1 + 12 + 2 + (sizeof kToken - 1) + 1;
const size_t kReplyDataOffset = kReplyStatusOffset + 1 + 4;
const DWORD kReplyWaitMs = 30000;

struct Item {
    std::string name;
    uint32_t size;
    uint32_t crc;
};

struct Figures {
    uint64_t requests = 0;
    uint64_t bytes = 0;
    uint64_t errors = 0;
    double seconds = 0;
    std::vector<double> latenciesMs;
};

// One row of the table.
struct Line {
    std::string path;
    int conns = 0;
    uint64_t bytes = 0;  // of one reply; of the whole scene for the scene lines
    double reqS = 0, mbS = 0, p50 = 0, p99 = 0;
    uint64_t errors = 0;
    double ratioSingle = -1, ratioThreads = -1;  // hit lines
    double seconds = -1, ceilingSeconds = -1;    // scene lines
    double cpuPercent = -1;                      // the idle line
    std::string note;
};

std::vector<Line> g_lines;

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

uint32_t CrcOf(const uint8_t* data, size_t length) {
    return static_cast<uint32_t>(crc32(0, data, static_cast<uInt>(length)));
}

void ApplyGameSocketOptions(SOCKET handle) {
    int receive = CCustomServerSocket::kSocketBuffer;
    int send = CSessionServer::kSendBufferBytes;
    setsockopt(handle, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receive), sizeof receive);
    setsockopt(handle, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&send), sizeof send);
}

Line Record(const char* path, int connections, uint64_t bytes, Figures& f) {
    Line line;
    line.path = path;
    line.conns = connections;
    line.bytes = bytes;
    line.reqS = f.seconds > 0 ? static_cast<double>(f.requests) / f.seconds : 0;
    line.mbS = f.seconds > 0 ? static_cast<double>(f.bytes) / f.seconds / 1e6 : 0;
    line.p50 = Percentile(f.latenciesMs, 0.50);
    line.p99 = Percentile(f.latenciesMs, 0.99);
    line.errors = f.errors;
    return line;
}

void Print(const Line& line) {
    printf("%-11s %5d %10llu %10.0f %9.1f %9.2f %9.2f %6llu", line.path.c_str(), line.conns,
           static_cast<unsigned long long>(line.bytes), line.reqS, line.mbS, line.p50, line.p99,
           static_cast<unsigned long long>(line.errors));
    if (line.ratioSingle >= 0) printf("  %4.0f %% of single, %4.0f %% of tcp", line.ratioSingle * 100, line.ratioThreads * 100);
    if (line.seconds >= 0) printf("  %.2f s", line.seconds);
    if (line.ceilingSeconds >= 0) printf(" (ceiling %.2f s, %.2fx)", line.ceilingSeconds, line.seconds / line.ceilingSeconds);
    if (line.cpuPercent >= 0) printf("  %.2f %% of a core", line.cpuPercent);
    if (!line.note.empty()) printf("  %s", line.note.c_str());
    printf("\n");
    fflush(stdout);
}

void Add(const Line& line) {
    g_lines.push_back(line);
    Print(line);
}

bool WriteJson(const char* path, double secondsPerLine) {
    FILE* out = fopen(path, "w");
    if (!out) return false;
    fprintf(out, "{\"seconds_per_line\": %.2f, \"lines\": [\n", secondsPerLine);
    for (size_t i = 0; i < g_lines.size(); ++i) {
        const Line& l = g_lines[i];
        fprintf(out,
                "  {\"path\": \"%s\", \"conns\": %d, \"bytes\": %llu, \"req_s\": %.1f, \"mb_s\": %.2f, "
                "\"p50_ms\": %.3f, \"p99_ms\": %.3f, \"errors\": %llu",
                l.path.c_str(), l.conns, static_cast<unsigned long long>(l.bytes), l.reqS, l.mbS, l.p50, l.p99,
                static_cast<unsigned long long>(l.errors));
        if (l.ratioSingle >= 0)
            fprintf(out, ", \"ratio_single\": %.3f, \"ratio_threads\": %.3f", l.ratioSingle, l.ratioThreads);
        if (l.seconds >= 0) fprintf(out, ", \"seconds\": %.3f", l.seconds);
        if (l.ceilingSeconds >= 0) fprintf(out, ", \"ceiling_seconds\": %.3f", l.ceilingSeconds);
        if (l.cpuPercent >= 0) fprintf(out, ", \"cpu_percent\": %.3f", l.cpuPercent);
        if (!l.note.empty()) fprintf(out, ", \"note\": \"%s\"", l.note.c_str());
        fprintf(out, "}%s\n", i + 1 < g_lines.size() ? "," : "");
    }
    fprintf(out, "]}\n");
    return fclose(out) == 0;
}

// ---- the clients

// The figures of all connections of a line that took seconds.
Figures Merge(std::vector<Figures>& each, double seconds) {
    Figures total;
    total.seconds = seconds;
    for (Figures& f : each) {
        total.requests += f.requests;
        total.bytes += f.bytes;
        total.errors += f.errors;
        total.latenciesMs.insert(total.latenciesMs.end(), f.latenciesMs.begin(), f.latenciesMs.end());
    }
    return total;
}

// Reads whole frames from a blocking socket.
class FrameReader {
public:
    explicit FrameReader(SOCKET handle) : handle_(handle), buffer_(256 * 1024) {}
    // The next frame (header included) at *frame with *length bytes, valid until the next
    // call; false when the connection ended or no frame came in time.
    bool Next(const uint8_t** frame, size_t* length) {
        if (consumed_ > 0) {
            memmove(buffer_.data(), buffer_.data() + consumed_, have_ - consumed_);
            have_ -= consumed_;
            consumed_ = 0;
        }
        size_t need = 8;
        for (;;) {
            if (have_ >= 8) {
                const uint32_t body = buffer_[4] | buffer_[5] << 8 | buffer_[6] << 16 | static_cast<uint32_t>(buffer_[7]) << 24;
                need = 8 + static_cast<size_t>(body);
            }
            if (have_ >= need && have_ >= 8) break;
            if (buffer_.size() < need) buffer_.resize(need);
            const int got = recv(handle_, reinterpret_cast<char*>(buffer_.data() + have_),
                                 static_cast<int>(buffer_.size() - have_), 0);
            if (got <= 0) return false;
            have_ += static_cast<size_t>(got);
        }
        *frame = buffer_.data();
        *length = need;
        consumed_ = need;
        return true;
    }

private:
    SOCKET handle_;
    std::vector<uint8_t> buffer_;
    size_t have_ = 0;
    size_t consumed_ = 0;
};

bool SendAll(SOCKET handle, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(handle, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// How a line's clients ask: connections, each with up to inFlight requests outstanding;
// for seconds when seconds > 0 (the items in turn), else each item exactly once.
struct Workload {
    int connections = 1;
    int inFlight = 1;
    bool handshake = false;
    double seconds = 0;
    const std::vector<Item>* items = nullptr;
};

// Reply frame for a GetFile: status 0, the length and the bytes of item, words echoed.
bool ReplyMatches(const uint8_t* frame, size_t length, const Item& item) {
    if (length < kReplyDataOffset || frame[8] != CSessionClient::kTypeGetFile || frame[kReplyStatusOffset] != 0)
        return false;
    const uint8_t* size = frame + kReplyStatusOffset + 1;
    const uint32_t declared = size[0] | size[1] << 8 | size[2] << 16 | static_cast<uint32_t>(size[3]) << 24;
    return declared == item.size && length - kReplyDataOffset == item.size &&
           CrcOf(frame + kReplyDataOffset, item.size) == item.crc;
}

Figures Drive(int port, const Workload& work) {
    const std::vector<Item>& items = *work.items;
    std::vector<Figures> each(work.connections);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<size_t> next{0};
    double end = 0;
    for (int i = 0; i < work.connections; ++i) {
        threads.emplace_back([&, i] {
            Figures& mine = each[i];
            TestClient client;
            bool open = client.Connect(port);
            if (open) {
                ApplyGameSocketOptions(client.Handle());
                DWORD wait = kReplyWaitMs;
                setsockopt(client.Handle(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
                open = !work.handshake || client.Handshake();
            }
            ++ready;
            while (!go) Sleep(1);
            if (!open) {
                ++mine.errors;
                return;
            }
            FrameReader reader(client.Handle());
            std::map<uint32_t, std::pair<size_t, double>> outstanding;  // sequence -> item, start
            uint32_t sequence = 0;
            for (;;) {
                while (static_cast<int>(outstanding.size()) < work.inFlight &&
                       (work.seconds > 0 ? NowMs() < end : next.load() < items.size())) {
                    size_t index = next++;
                    if (work.seconds > 0)
                        index %= items.size();
                    else if (index >= items.size())
                        break;
                    const std::string request =
                        Frame(CSessionClient::kTypeGetFile,
                              GetFilePayload(static_cast<uint32_t>(index), static_cast<uint32_t>(i), sequence, kToken,
                                             items[index].name));
                    outstanding[sequence++] = {index, NowMs()};
                    if (!SendAll(client.Handle(), request)) {
                        ++mine.errors;
                        return;
                    }
                }
                if (outstanding.empty()) return;
                const uint8_t* frame;
                size_t length;
                if (!reader.Next(&frame, &length) || length < 21) {
                    mine.errors += outstanding.size();
                    return;
                }
                const uint32_t replySequence = frame[17] | frame[18] << 8 | frame[19] << 16 | static_cast<uint32_t>(frame[20]) << 24;
                auto found = outstanding.find(replySequence);
                if (found == outstanding.end()) {
                    ++mine.errors;
                    continue;
                }
                const Item& item = items[found->second.first];
                if (ReplyMatches(frame, length, item)) {
                    mine.latenciesMs.push_back(NowMs() - found->second.second);
                    ++mine.requests;
                    mine.bytes += item.size;
                } else {
                    ++mine.errors;
                }
                outstanding.erase(found);
            }
        });
    }
    while (ready < work.connections) Sleep(1);
    const double start = NowMs();
    end = start + work.seconds * 1000.0;
    go = true;
    for (std::thread& t : threads) t.join();
    return Merge(each, (NowMs() - start) / 1000.0);
}

// libcurl fetching base + each item's name directly: connections threads, each with a
// multi handle of up to inFlight transfers (connections reused); the same workload rules.
size_t CollectBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

Figures DriveCurl(const std::string& base, const Workload& work) {
    const std::vector<Item>& items = *work.items;
    std::vector<Figures> each(work.connections);
    std::vector<std::thread> threads;
    std::atomic<size_t> next{0};
    const double start = NowMs();
    const double end = start + work.seconds * 1000.0;
    for (int i = 0; i < work.connections; ++i) {
        threads.emplace_back([&, i] {
            Figures& mine = each[i];
            CURLM* multi = curl_multi_init();
            struct Slot {
                CURL* easy;
                std::string body;
                size_t index;
                double start;
                bool busy;
            };
            std::vector<Slot> slots(work.inFlight);
            for (Slot& slot : slots) {
                slot.easy = curl_easy_init();
                slot.busy = false;
                curl_easy_setopt(slot.easy, CURLOPT_WRITEFUNCTION, CollectBody);
                curl_easy_setopt(slot.easy, CURLOPT_WRITEDATA, &slot.body);
                curl_easy_setopt(slot.easy, CURLOPT_NOSIGNAL, 1L);
            }
            int busy = 0;
            for (;;) {
                for (Slot& slot : slots) {
                    if (slot.busy || !(work.seconds > 0 ? NowMs() < end : next.load() < items.size())) continue;
                    size_t index = next++;
                    if (work.seconds > 0)
                        index %= items.size();
                    else if (index >= items.size())
                        break;
                    slot.index = index;
                    slot.body.clear();
                    slot.start = NowMs();
                    slot.busy = true;
                    curl_easy_setopt(slot.easy, CURLOPT_URL, (base + items[index].name).c_str());
                    curl_multi_add_handle(multi, slot.easy);
                    ++busy;
                }
                if (busy == 0) break;
                int running = 0;
                curl_multi_perform(multi, &running);
                int left = 0;
                while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                    if (message->msg != CURLMSG_DONE) continue;
                    for (Slot& slot : slots) {
                        if (!slot.busy || slot.easy != message->easy_handle) continue;
                        long status = 0;
                        curl_easy_getinfo(slot.easy, CURLINFO_RESPONSE_CODE, &status);
                        const Item& item = items[slot.index];
                        if (message->data.result == CURLE_OK && status == 200 && slot.body.size() == item.size &&
                            CrcOf(reinterpret_cast<const uint8_t*>(slot.body.data()), slot.body.size()) == item.crc) {
                            mine.latenciesMs.push_back(NowMs() - slot.start);
                            ++mine.requests;
                            mine.bytes += item.size;
                        } else {
                            ++mine.errors;
                        }
                        curl_multi_remove_handle(multi, slot.easy);
                        slot.busy = false;
                        --busy;
                    }
                }
                if (busy > 0) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
            }
            for (Slot& slot : slots) curl_easy_cleanup(slot.easy);
            curl_multi_cleanup(multi);
        });
    }
    for (std::thread& t : threads) t.join();
    return Merge(each, (NowMs() - start) / 1000.0);
}

// ---- the servers of the ceiling lines

SOCKET ListenLoopback(int* port) {
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, SOMAXCONN);
    int length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return listener;
}

// The reply of a GetFile for content (words left zero).
std::string ReplyFrame(const std::string& content) {
    return Frame(CSessionClient::kTypeGetFile,
                 U32(0) + U32(0) + U32(0) + Pstr(kToken) + std::string(1, '\0') + U32(static_cast<uint32_t>(content.size())) +
                     content);
}

// One thread per connection: each request of requestBytes is answered with reply, its
// three words echoed. Sockets only.
class ThreadsServer {
public:
    ThreadsServer(size_t requestBytes, const std::string& reply) : requestBytes_(requestBytes), reply_(reply) {
        listener_ = ListenLoopback(&port_);
        acceptor_ = std::thread([this] {
            for (;;) {
                SOCKET client = accept(listener_, nullptr, nullptr);
                if (client == INVALID_SOCKET) return;
                ApplyGameSocketOptions(client);
                workers_.emplace_back([this, client] { Serve(client); });
            }
        });
    }
    ~ThreadsServer() {
        closesocket(listener_);
        acceptor_.join();
        for (std::thread& t : workers_) t.join();
    }
    int Port() const { return port_; }

private:
    void Serve(SOCKET client) {
        std::vector<char> request(requestBytes_);
        std::string reply = reply_;
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
            memcpy(&reply[9], &request[9], 12);
            if (!SendAll(client, reply)) {
                closesocket(client);
                return;
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

// One thread serving every connection with select: for each GetFile it opens the cached
// file, reads it whole with ReadFile into the reply, undoes the cache scrambling and
// sends the reply.
class SingleThreadServer {
public:
    explicit SingleThreadServer(const std::wstring& cacheDir) : cacheDir_(cacheDir) {
        listener_ = ListenLoopback(&port_);
        u_long nonBlocking = 1;
        ioctlsocket(listener_, FIONBIO, &nonBlocking);
        thread_ = std::thread([this] { Run(); });
    }
    ~SingleThreadServer() {
        stop_ = true;
        thread_.join();
        for (Connection& c : connections_) closesocket(c.handle);
        closesocket(listener_);
    }
    int Port() const { return port_; }

private:
    struct Connection {
        SOCKET handle;
        std::string in;
        std::string out;
        size_t sent = 0;
    };

    void Run() {
        std::vector<char> chunk(64 * 1024);
        while (!stop_) {
            fd_set readable, writable;
            FD_ZERO(&readable);
            FD_ZERO(&writable);
            FD_SET(listener_, &readable);
            for (Connection& c : connections_) {
                FD_SET(c.handle, &readable);
                if (c.sent < c.out.size()) FD_SET(c.handle, &writable);
            }
            timeval timeout = {0, 50000};
            if (select(0, &readable, &writable, nullptr, &timeout) <= 0) continue;
            if (FD_ISSET(listener_, &readable)) {
                SOCKET accepted;
                while ((accepted = accept(listener_, nullptr, nullptr)) != INVALID_SOCKET) {
                    u_long nonBlocking = 1;
                    ioctlsocket(accepted, FIONBIO, &nonBlocking);
                    ApplyGameSocketOptions(accepted);
                    connections_.push_back(Connection{accepted, {}, {}, 0});
                }
            }
            for (size_t i = 0; i < connections_.size();) {
                Connection& c = connections_[i];
                bool alive = true;
                if (FD_ISSET(c.handle, &readable)) {
                    const int got = recv(c.handle, chunk.data(), static_cast<int>(chunk.size()), 0);
                    if (got > 0) {
                        c.in.append(chunk.data(), static_cast<size_t>(got));
                        alive = Answer(c);
                    } else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
                        alive = false;
                    }
                }
                if (alive) alive = Flush(c);
                if (alive) {
                    ++i;
                } else {
                    closesocket(c.handle);
                    connections_.erase(connections_.begin() + static_cast<ptrdiff_t>(i));
                }
            }
        }
    }

    // Answers every whole request in c.in; false for a request it cannot answer.
    bool Answer(Connection& c) {
        size_t at = 0;
        while (c.in.size() - at >= 8) {
            const size_t length = 8 + LoadU32(c.in, at + 4);
            if (c.in.size() - at < length) break;
            // Type, three words, the token, the name.
            const size_t token = at + 9 + 12;
            const size_t tokenLength = static_cast<uint8_t>(c.in[token]) | static_cast<uint8_t>(c.in[token + 1]) << 8;
            const size_t name = token + 2 + tokenLength + 1;
            const size_t nameLength = static_cast<uint8_t>(c.in[name]) | static_cast<uint8_t>(c.in[name + 1]) << 8;
            std::wstring path = CachePath(cacheDir_, c.in.substr(name + 2, nameLength));
            HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE) return false;
            LARGE_INTEGER size;
            GetFileSizeEx(file, &size);
            const uint32_t bytes = static_cast<uint32_t>(size.QuadPart);
            const size_t head = c.out.size();
            c.out += FrameHeader(static_cast<uint32_t>(kReplyDataOffset - 8 + bytes));
            c.out += static_cast<char>(CSessionClient::kTypeGetFile);
            c.out.append(c.in, at + 9, 12);
            c.out += Pstr(std::string(&c.in[token + 2], tokenLength)) + std::string(1, '\0') + U32(bytes);
            c.out.resize(c.out.size() + bytes);
            DWORD read = 0;
            const BOOL ok = ReadFile(file, &c.out[head + kReplyDataOffset], bytes, &read, nullptr);
            CloseHandle(file);
            if (!ok || read != bytes) return false;
            ScrambleWords(&c.out[head + kReplyDataOffset], bytes < 256 ? bytes : 256);
            at += length;
        }
        c.in.erase(0, at);
        return true;
    }

    static bool Flush(Connection& c) {
        while (c.sent < c.out.size()) {
            const int n = send(c.handle, c.out.data() + c.sent, static_cast<int>(c.out.size() - c.sent), 0);
            if (n <= 0) return n < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
            c.sent += static_cast<size_t>(n);
        }
        c.out.clear();
        c.sent = 0;
        return true;
    }

    std::wstring cacheDir_;
    SOCKET listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<Connection> connections_;
};

// ---- the lines

double FiletimeSeconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return FiletimeSeconds(kernel) + FiletimeSeconds(user);
}

void MeasureIdle(int port, double seconds) {
    TestClient client;
    const bool open = client.Connect(port) && client.Handshake();
    Sleep(500);
    const double cpu = ProcessCpuSeconds();
    const double start = NowMs();
    Sleep(static_cast<DWORD>(seconds * 1000));
    Line line;
    line.path = "idle";
    line.conns = 1;
    line.errors = open ? 0 : 1;
    line.seconds = (NowMs() - start) / 1000.0;
    line.cpuPercent = (ProcessCpuSeconds() - cpu) / line.seconds * 100.0;
    Add(line);
}

const uint32_t kSizes[] = {1024, 64 * 1024, 1024 * 1024};
const int kConnectionCounts[] = {1, 8, 64};

// Clients asking for items in turn for seconds, one request in flight each.
Workload TimedWorkload(int connections, double seconds, const std::vector<Item>& items) {
    Workload work;
    work.connections = connections;
    work.seconds = seconds;
    work.items = &items;
    work.handshake = true;
    return work;
}

// The scene's clients: 4 connections, 16 requests in flight on each, every item once.
Workload SceneWorkload(const std::vector<Item>& items) {
    Workload work;
    work.connections = 4;
    work.inFlight = 16;
    work.items = &items;
    work.handshake = true;
    return work;
}

void RunHits(int port, const std::wstring& cacheDir, double seconds) {
    for (uint32_t size : kSizes) {
        const std::string content = Pattern(size);
        const std::vector<Item> items = {{"bench/" + std::to_string(size) + ".dat", size, Crc(content)}};
        const size_t requestBytes = Frame(2, GetFilePayload(0, 0, 0, kToken, items[0].name)).size();
        for (int connections : kConnectionCounts) {
            Workload work = TimedWorkload(connections, seconds, items);
            Figures hitFigures = Drive(port, work);
            work.handshake = false;
            Figures singleFigures;
            {
                SingleThreadServer single(cacheDir);
                singleFigures = Drive(single.Port(), work);
            }
            Figures threadFigures;
            {
                ThreadsServer threads(requestBytes, ReplyFrame(content));
                threadFigures = Drive(threads.Port(), work);
            }
            Line hit = Record("hit", connections, size, hitFigures);
            const Line single = Record("single", connections, size, singleFigures);
            const Line threads = Record("tcp", connections, size, threadFigures);
            hit.ratioSingle = single.reqS > 0 ? hit.reqS / single.reqS : 0;
            hit.ratioThreads = threads.reqS > 0 ? hit.reqS / threads.reqS : 0;
            if (hit.ratioSingle > 1.0) hit.note = "faster than the ceiling (the same file again)";
            Add(hit);
            Add(single);
            Add(threads);
        }
    }
}

void RunMisses(int port, const std::string& cdn, double seconds) {
    for (uint32_t size : kSizes) {
        // The content server's file, never listed: every request is a miss.
        const std::vector<Item> items = {{"ok/" + std::to_string(size) + "/miss.dat", size, Crc(Pattern(size))}};
        for (int connections : kConnectionCounts) {
            Workload work = TimedWorkload(connections, seconds, items);
            Figures missFigures = Drive(port, work);
            Figures curlFigures = DriveCurl(cdn, work);
            Add(Record("miss", connections, size, missFigures));
            Add(Record("curl", connections, size, curlFigures));
        }
    }
}

// The scene's resources: sizes drawn with a fixed seed, names below prefix.
std::vector<Item> SceneItems(const std::string& prefix, bool sizeInName) {
    std::vector<Item> items;
    uint32_t seed = 14;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    const std::string pattern = Pattern(2u << 20);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t band = next(100);
        uint32_t size;
        if (band < 70)
            size = 1024 + next(15 * 1024 + 1);
        else if (band < 95)
            size = 16 * 1024 + next(240 * 1024 + 1);
        else
            size = 256 * 1024 + next((2u << 20) - 256 * 1024 + 1);
        const std::string name = prefix + (sizeInName ? std::to_string(size) + "/" : std::string()) +
                                 "r" + std::to_string(i) + ".dat";
        items.push_back({name, size, CrcOf(reinterpret_cast<const uint8_t*>(pattern.data()), size)});
    }
    return items;
}

uint64_t TotalBytes(const std::vector<Item>& items) {
    uint64_t total = 0;
    for (const Item& item : items) total += item.size;
    return total;
}

// A scene and the line it is measured against, each with its time; the scene also
// carries the other's as its ceiling.
void AddScene(const char* path, const char* ceilingPath, uint64_t bytes, Figures& figures, Figures& ceilingFigures) {
    Line scene = Record(path, 4, bytes, figures);
    Line ceiling = Record(ceilingPath, 4, bytes, ceilingFigures);
    scene.seconds = figures.seconds;
    scene.ceilingSeconds = ceilingFigures.seconds;
    ceiling.seconds = ceilingFigures.seconds;
    Add(scene);
    Add(ceiling);
}

void RunScene(int port, const std::wstring& cacheDir) {
    const std::vector<Item> items = SceneItems("scene/", false);
    const std::string pattern = Pattern(2u << 20);
    CreateDirectoryW((cacheDir + L"scene").c_str(), nullptr);
    for (const Item& item : items) {
        List(item.name, item.crc);
        WriteCached(CachePath(cacheDir, item.name), pattern.substr(0, item.size));
    }
    Workload work = SceneWorkload(items);
    Figures sceneFigures = Drive(port, work);
    work.handshake = false;
    Figures ceilingFigures;
    {
        SingleThreadServer single(cacheDir);
        ceilingFigures = Drive(single.Port(), work);
    }
    AddScene("scene", "scene-single", TotalBytes(items), sceneFigures, ceilingFigures);
}

void RunCdnScene(int port, const std::string& cdn) {
    // Names of the content server that answer after 20 ms; never listed, so all misses.
    const std::vector<Item> items = SceneItems("slow/20/", true);
    Workload work = SceneWorkload(items);
    Figures sceneFigures = Drive(port, work);
    Figures curlFigures = DriveCurl(cdn, work);
    AddScene("cdn-scene", "cdn-curl", TotalBytes(items), sceneFigures, curlFigures);
}

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
    double seconds = 2.0;
    double idleSeconds = 10.0;
    const char* json = nullptr;
    std::string groups = "idle,hit,scene,miss,cdn";
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--json") == 0 && i + 1 < argc)
            json = argv[++i];
        else if (strcmp(argv[i], "--idle") == 0 && i + 1 < argc)
            idleSeconds = atof(argv[++i]);
        else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            groups = argv[++i];
        else
            seconds = atof(argv[i]);
    }
    auto wanted = [&groups](const char* group) { return ("," + groups + ",").find("," + std::string(group) + ",") != std::string::npos; };
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;

    testing_support::TempDir cache;
    FileSrvSetSuffixes(L"cbp,swf,zip,txt,dat");
    CreateDirectoryW((cache.path() + L"bench").c_str(), nullptr);
    for (uint32_t size : kSizes) {
        const std::string name = "bench/" + std::to_string(size) + ".dat";
        const std::string content = Pattern(size);
        List(name, Crc(content));
        WriteCached(CachePath(cache.path(), name), content);
    }

    // Every line opens connections of its own, and ended ones linger: room for all of them.
    FileSrvSetServerFactory([]() -> CCustomServerSocket* {
        CSessionServer* server = new CSessionServer;
        server->SetClientLimit(4096);
        return server;
    });
    const int port = FileSrvStart(FindFreeRun(27000, 1));
    if (port <= 0 || !FileSrvStartProcessing()) {
        fprintf(stderr, "the file server did not start (%d)\n", port);
        return 1;
    }
    FileSrvSetLocalDir(cache.path().c_str());
    const char* cdn = getenv("LAUNCHER_CDN");
    CCurlHttpClient* http = CCurlHttpClient::GetInstance();
    if (!http || !http->StartWorkers()) return 1;
    if (cdn) FileSrvSetResourceBase(cdn);

    printf("%-11s %5s %10s %10s %9s %9s %9s %6s\n", "path", "conns", "bytes", "req/s", "MB/s", "p50 ms", "p99 ms",
           "errors");
    if (wanted("idle")) MeasureIdle(port, idleSeconds);
    if (wanted("hit")) RunHits(port, cache.path(), seconds);
    if (wanted("scene")) RunScene(port, cache.path());
    if (!cdn) printf("no content server (LAUNCHER_CDN): the miss lines are left out\n");
    if (cdn && wanted("miss")) RunMisses(port, cdn, seconds);
    if (cdn && wanted("cdn")) RunCdnScene(port, cdn);
    FileSrvShutdown();
    CCurlHttpClient::Shutdown();
    WSACleanup();
    PrintSmallAppends();
    if (json && !WriteJson(json, seconds)) {
        fprintf(stderr, "cannot write %s\n", json);
        return 1;
    }
    return 0;
}
