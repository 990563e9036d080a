// Helpers of the server tests: a blocking loopback client that talks like the Flash
// runtime, frame builders, a log capture, and a test server whose connections speak
// the Flash client protocol (echo, a GetFile look-alike and a burst of replies).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <stdint.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/relay_socket.h"
#include "server/server_socket.h"

namespace nettest {

// ---- bytes on the wire

std::string U32(uint32_t value);
// A packet string: 16-bit length, the bytes, a zero byte.
std::string Pstr(const std::string& text);
// A frame: magic, body length, type byte, payload.
std::string Frame(uint8_t type, const std::string& payload);
// A frame header that declares bodyLength (nothing behind it).
std::string FrameHeader(uint32_t bodyLength);
std::string GetFilePayload(uint32_t w1, uint32_t w2, uint32_t w3, const std::string& token,
                           const std::string& name);
uint32_t LoadU32(const std::string& bytes, size_t offset);
// The Flash runtime's socket-policy request (22 characters and a zero byte).
std::string PolicyRequest();
// What the server answers to it (111 bytes).
std::string PolicyAnswer();

// ---- time

// Polls condition every millisecond until it holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// ---- a loopback client with blocking sockets and bounded waits

class TestClient {
public:
    TestClient() = default;
    ~TestClient() { Close(); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // Connects to 127.0.0.1:port; a recvBuffer > 0 sets SO_RCVBUF first.
    bool Connect(int port, int recvBuffer = 0);
    bool Send(const std::string& bytes);
    // Exactly n bytes within timeoutMs; false when the connection ended or time ran out
    // (*out then holds what did arrive).
    bool RecvExact(size_t n, std::string* out, DWORD timeoutMs = 5000);
    // One frame: false when none arrived whole in time or the magic is wrong.
    bool RecvFrame(uint8_t* type, std::string* payload, DWORD timeoutMs = 5000);
    // True when the server closes the connection within timeoutMs (bytes that arrive
    // before are counted into *received when given).
    bool WaitClosed(DWORD timeoutMs, size_t* received = nullptr);
    // True when no byte arrives and the connection stays open for ms.
    bool Quiet(DWORD ms);
    // Handshake: "QMTK" out, "PVNL" back.
    bool Handshake();
    void Close();
    // Closes with a reset (linger 0).
    void Abort();
    bool IsOpen() const { return handle_ != INVALID_SOCKET; }
    SOCKET Handle() const { return handle_; }

private:
    // 1 readable, 0 time out, -1 error.
    int WaitReadable(DWORD ms);
    SOCKET handle_ = INVALID_SOCKET;
};

// ---- ports

// The address "localhost" resolves to (as the server binds it).
in_addr LocalhostAddress();
// A socket bound to localhost:port and listening, or INVALID_SOCKET when the port is
// taken.
SOCKET TakePort(int port);
bool PortFree(int port);
// The first base >= from where count consecutive ports are free, or 0.
int FindFreeRun(int from, int count);

// ---- log capture

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::wstring> Lines();
    int Count(const std::wstring& part);
    bool Contains(const std::wstring& part) { return Count(part) > 0; }
    void Clear();
};

// ---- the test server

struct ServerStats {
    std::atomic<int> clientsCreated{0};
    std::atomic<int> packets{0};
    std::atomic<int> partialSends{0};
    // When the parser is offered exactly `watchUnconsumed` bytes, watchHit is set.
    std::atomic<int> watchUnconsumed{-1};
    std::atomic<bool> watchHit{false};
    std::atomic<int> maxReceiveCapacity{0};
    std::atomic<int> handshakes{0};
};

class TestServer;

// Speaks the protocol: handshake "QMTK" answered with "PVNL"; frame types
//   2  GetFile: words, token, name -> FileReply with the server's content for name
//      (status 0), or status 1 with the address "cdn/" + name when it has none;
//   7  echo: a type-7 frame with the same payload;
//   8  close the connection from the handler;
//   9  burst (when allowed): u32 size, u32 count -> a type-9 frame of size pattern bytes,
//      then count type-10 frames carrying their index.
class TestRelayClient : public CCustomRelayServerClientSocket {
public:
    explicit TestRelayClient(TestServer* server) : server_(server) {}
    void OnPacket(uint8_t type, PacketReader& reader) override;
    bool CheckHandshake(const uint8_t* word) override;
    void OnHandshakeAccepted() override;
    int Send(const void* data, int length, int flags) override;
    void OnReceive(RecvBuffer& buffer) override;

private:
    TestServer* server_;
};

class TestServer : public CCustomServerSocket {
public:
    TestServer();
    ~TestServer() override;
    CCustomServerClientSocket* CreateClient(SOCKET handle, const sockaddr_in* peer) override;

    // Start on 127.0.0.1 with an ephemeral port and start the data thread.
    bool StartLocal();

    ServerStats stats;
    std::map<std::string, std::string> files;
    std::atomic<bool> allowBurst{false};
};

uint8_t PatternByte(size_t index);

}  // namespace nettest
