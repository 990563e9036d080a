#include "net_test_support.h"

#include <string.h>

#include "ravlib/log.h"

namespace nettest {

std::string U32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string Pstr(const std::string& text) {
    std::string bytes;
    bytes += static_cast<char>(text.size() & 0xFF);
    bytes += static_cast<char>((text.size() >> 8) & 0xFF);
    bytes += text;
    bytes += '\0';
    return bytes;
}

std::string FrameHeader(uint32_t bodyLength) {
    return std::string("\xFF\xCC\xEE\xCC", 4) + U32(bodyLength);
}

std::string Frame(uint8_t type, const std::string& payload) {
    return FrameHeader(static_cast<uint32_t>(payload.size() + 1)) +
           std::string(1, static_cast<char>(type)) + payload;
}

std::string GetFilePayload(uint32_t w1, uint32_t w2, uint32_t w3, const std::string& token,
                           const std::string& name) {
    return U32(w1) + U32(w2) + U32(w3) + Pstr(token) + Pstr(name);
}

uint32_t LoadU32(const std::string& bytes, size_t offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + i])) << (8 * i);
    return value;
}

std::string PolicyRequest() {
    return std::string("<policy-file-request/>", 22) + std::string(1, '\0');
}

std::string PolicyAnswer() {
    return Pstr(
        "<?xml version=\"1.0\"?><cross-domain-policy><allow-access-from domain=\"*\" "
        "to-ports=\"*\"/></cross-domain-policy>");
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return condition();
        Sleep(1);
    }
}

// ---------------------------------------------------------------------------------------

bool TestClient::Connect(int port, int recvBuffer) {
    Close();
    handle_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle_ == INVALID_SOCKET) return false;
    if (recvBuffer > 0)
        setsockopt(handle_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&recvBuffer),
                   sizeof recvBuffer);
    // Sends never block a test for long: a server that stops reading ends them.
    DWORD sendTimeout = 5000;
    setsockopt(handle_, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
               sizeof sendTimeout);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (connect(handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Close();
        return false;
    }
    return true;
}

bool TestClient::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        size_t chunk = bytes.size() - sent;
        if (chunk > 1 << 20) chunk = 1 << 20;
        int n = send(handle_, bytes.data() + sent, static_cast<int>(chunk), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int TestClient::WaitReadable(DWORD ms) {
    if (handle_ == INVALID_SOCKET) return -1;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle_, &readable);
    timeval timeout;
    timeout.tv_sec = static_cast<long>(ms / 1000);
    timeout.tv_usec = static_cast<long>((ms % 1000) * 1000);
    int ready = select(0, &readable, nullptr, nullptr, &timeout);
    return ready > 0 ? 1 : ready == 0 ? 0 : -1;
}

bool TestClient::RecvExact(size_t n, std::string* out, DWORD timeoutMs) {
    out->clear();
    out->reserve(n);
    const DWORD start = GetTickCount();
    std::vector<char> chunk(65536);
    while (out->size() < n) {
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return false;
        if (WaitReadable(timeoutMs - spent) != 1) return false;
        size_t want = n - out->size();
        if (want > chunk.size()) want = chunk.size();
        int got = recv(handle_, chunk.data(), static_cast<int>(want), 0);
        if (got <= 0) return false;
        out->append(chunk.data(), static_cast<size_t>(got));
    }
    return true;
}

bool TestClient::RecvFrame(uint8_t* type, std::string* payload, DWORD timeoutMs) {
    std::string header;
    if (!RecvExact(8, &header, timeoutMs)) return false;
    if (header.compare(0, 4, "\xFF\xCC\xEE\xCC") != 0) return false;
    uint32_t length = LoadU32(header, 4);
    if (length == 0) return false;
    std::string body;
    if (!RecvExact(length, &body, timeoutMs)) return false;
    *type = static_cast<uint8_t>(body[0]);
    payload->assign(body, 1, std::string::npos);
    return true;
}

bool TestClient::WaitClosed(DWORD timeoutMs, size_t* received) {
    const DWORD start = GetTickCount();
    char chunk[4096];
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs) return false;
        int ready = WaitReadable(timeoutMs - spent);
        if (ready < 0) return true;
        if (ready == 0) return false;
        int got = recv(handle_, chunk, sizeof chunk, 0);
        if (got <= 0) return true;  // closed, or reset
        if (received) *received += static_cast<size_t>(got);
    }
}

bool TestClient::Quiet(DWORD ms) {
    return WaitReadable(ms) == 0;
}

bool TestClient::Handshake() {
    if (!Send("QMTK")) return false;
    std::string answer;
    return RecvExact(4, &answer) && answer == "PVNL";
}

void TestClient::Close() {
    if (handle_ != INVALID_SOCKET) {
        closesocket(handle_);
        handle_ = INVALID_SOCKET;
    }
}

void TestClient::Abort() {
    if (handle_ != INVALID_SOCKET) {
        linger option = {1, 0};
        setsockopt(handle_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
                   sizeof option);
        Close();
    }
}

// ---------------------------------------------------------------------------------------

in_addr LocalhostAddress() {
    in_addr address;
    address.s_addr = htonl(INADDR_LOOPBACK);
    hostent* entry = gethostbyname("localhost");
    if (entry && entry->h_addrtype == AF_INET && entry->h_addr_list && entry->h_addr_list[0])
        memcpy(&address, entry->h_addr_list[0], 4);
    return address;
}

SOCKET TakePort(int port) {
    SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET) return handle;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr = LocalhostAddress();
    address.sin_port = htons(static_cast<u_short>(port));
    if (bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(handle, 1) != 0) {
        closesocket(handle);
        return INVALID_SOCKET;
    }
    return handle;
}

bool PortFree(int port) {
    SOCKET handle = TakePort(port);
    if (handle == INVALID_SOCKET) return false;
    closesocket(handle);
    return true;
}

int FindFreeRun(int from, int count) {
    for (int base = from; base + count < 65000; base += count) {
        bool free = true;
        for (int p = base; p < base + count && free; ++p) free = PortFree(p);
        if (free) return base;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------

namespace {
std::mutex g_logMutex;
std::vector<std::wstring> g_logLines;

int CaptureSink(int level, const wchar_t* text, int length) {
    (void)level;
    std::lock_guard<std::mutex> guard(g_logMutex);
    g_logLines.emplace_back(text, static_cast<size_t>(length));
    return length;
}
}  // namespace

LogCapture::LogCapture() {
    Clear();
    ravlib::SetLogSink(CaptureSink);
}

LogCapture::~LogCapture() {
    ravlib::SetLogSink(nullptr);
    Clear();
}

std::vector<std::wstring> LogCapture::Lines() {
    std::lock_guard<std::mutex> guard(g_logMutex);
    return g_logLines;
}

int LogCapture::Count(const std::wstring& part) {
    std::lock_guard<std::mutex> guard(g_logMutex);
    int count = 0;
    for (const std::wstring& line : g_logLines)
        if (line.find(part) != std::wstring::npos) ++count;
    return count;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> guard(g_logMutex);
    g_logLines.clear();
}

// ---------------------------------------------------------------------------------------

uint8_t PatternByte(size_t index) {
    return static_cast<uint8_t>((index * 31 + 7) % 251);
}

bool TestRelayClient::CheckHandshake(const uint8_t* word) {
    return memcmp(word, "QMTK", 4) == 0;
}

void TestRelayClient::OnHandshakeAccepted() {
    ++server_->stats.handshakes;
    CDataPacket* packet = GetPacket();
    if (!packet) return;
    packet->Append("PVNL", 4);
    QueuePacket(packet);
}

void TestRelayClient::OnPacket(uint8_t type, PacketReader& reader) {
    ++server_->stats.packets;
    switch (type) {
    case 2: {
        uint32_t w1 = reader.ReadU32(), w2 = reader.ReadU32(), w3 = reader.ReadU32();
        char token[128], name[128];
        reader.ReadString(token, sizeof token);
        reader.ReadString(name, sizeof name);
        CDataPacket* packet = NewPacket(2);
        if (!packet) return;
        packet->AppendU32(w1);
        packet->AppendU32(w2);
        packet->AppendU32(w3);
        AppendString(packet, token);
        auto found = server_->files.find(name);
        if (found != server_->files.end()) {
            packet->AppendByte(0);
            packet->AppendU32(static_cast<uint32_t>(found->second.size()));
            packet->Append(found->second.data(), found->second.size());
        } else {
            packet->AppendByte(1);
            packet->AppendU32(0);
            AppendString(packet, (std::string("cdn/") + name).c_str());
        }
        FinishPacket(packet);
        break;
    }
    case 7: {
        CDataPacket* packet = NewPacket(7);
        if (!packet) return;
        // The size is known: one reservation, no growth while appending.
        packet->Reserve(packet->Size() + reader.Remaining());
        packet->Append(reader.cursor, reader.Remaining());
        FinishPacket(packet);
        break;
    }
    case 8:
        Close();
        break;
    case 9: {
        if (!server_->allowBurst) return;
        uint32_t size = reader.ReadU32();
        uint32_t count = reader.ReadU32();
        CDataPacket* big = NewPacket(9);
        if (!big) return;
        big->Reserve(size + 16);
        for (uint32_t i = 0; i < size; ++i) big->AppendByte(PatternByte(i));
        FinishPacket(big);
        for (uint32_t i = 0; i < count; ++i) {
            CDataPacket* small = NewPacket(10);
            if (!small) return;
            small->AppendU32(i);
            FinishPacket(small);
        }
        break;
    }
    default:
        break;
    }
}

int TestRelayClient::Send(const void* data, int length, int flags) {
    int sent = CCustomRelayServerClientSocket::Send(data, length, flags);
    if (sent == -2 || (sent > 0 && sent < length)) ++server_->stats.partialSends;
    return sent;
}

void TestRelayClient::OnReceive(RecvBuffer& buffer) {
    int unconsumed = buffer.Unconsumed();
    if (unconsumed > 0 && unconsumed == server_->stats.watchUnconsumed) server_->stats.watchHit = true;
    int capacity = ReceiveCapacity();
    int seen = server_->stats.maxReceiveCapacity;
    while (capacity > seen && !server_->stats.maxReceiveCapacity.compare_exchange_weak(seen, capacity)) {
    }
    CCustomRelayServerClientSocket::OnReceive(buffer);
}

TestServer::TestServer() {
    SetName(L"Test");
}

TestServer::~TestServer() {
    // The threads call this class's hooks: they must be gone before its part goes.
    Stop();
    CloseAllClients();
}

CCustomServerClientSocket* TestServer::CreateClient(SOCKET handle, const sockaddr_in* peer) {
    TestRelayClient* client = new TestRelayClient(this);
    client->Init(handle, peer);
    ++stats.clientsCreated;
    return client;
}

bool TestServer::StartLocal() {
    SetHost(L"127.0.0.1");
    SetPort(0);
    return Start() && StartDataThread();
}

}  // namespace nettest
