#include "standins/flash/script_runner.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zlib.h>

#include <system_error>

namespace {

// The Flash runtime's socket-policy request: 22 characters and a zero byte.
const char kPolicyRequest[] = "<policy-file-request/>";
constexpr size_t kPolicyRequestSize = sizeof kPolicyRequest;
const char kPolicyText[] =
    "<?xml version=\"1.0\"?><cross-domain-policy><allow-access-from domain=\"*\" to-ports=\"*\"/>"
    "</cross-domain-policy>";
constexpr size_t kPolicyAnswerSize = 2 + (sizeof kPolicyText - 1) + 1;
const uint8_t kHandshake[4] = {'Q', 'M', 'T', 'K'};
const uint8_t kHandshakeAnswer[4] = {'P', 'V', 'N', 'L'};
const uint8_t kFrameMagic[4] = {0xFF, 0xCC, 0xEE, 0xCC};
constexpr size_t kFrameHead = 8;
constexpr uint8_t kSetAddresses = 1;
constexpr uint8_t kGetFile = 2;
constexpr uint8_t kFileReply = 2;
// A reply larger than this is taken for a broken stream, not buffered.
constexpr uint32_t kMaxFrameBody = 256u * 1024 * 1024;
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kAnswerTimeoutMs = 10000;
// Misses are fetched from the content server before they are answered.
constexpr uint32_t kReplyTimeoutMs = 60000;
constexpr uint32_t kPollMs = 100;
constexpr size_t kShownHeadBytes = 16;

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string JsonEscaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Hex(const uint8_t* data, size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0xF];
    }
    return out;
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A packet string: 16-bit length, the bytes, a zero byte. False when it cannot be sent.
bool PutString(std::vector<uint8_t>* out, const std::string& text) {
    if (text.size() > 0xFFFF) return false;
    out->push_back(static_cast<uint8_t>(text.size() & 0xFF));
    out->push_back(static_cast<uint8_t>(text.size() >> 8));
    out->insert(out->end(), text.begin(), text.end());
    out->push_back(0);
    return true;
}

std::vector<uint8_t> Frame(uint8_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(kFrameMagic, kFrameMagic + 4);
    PutU32(&frame, static_cast<uint32_t>(payload.size() + 1));
    frame.push_back(type);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

// Reads the fields of a received body, every read bounded by what is there.
class BodyReader {
public:
    BodyReader(const uint8_t* data, size_t length) : data_(data), length_(length) {}
    bool U8(uint8_t* value) {
        if (length_ - at_ < 1) return false;
        *value = data_[at_++];
        return true;
    }
    bool U32(uint32_t* value) {
        if (length_ - at_ < 4) return false;
        const uint8_t* p = data_ + at_;
        *value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                 static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        at_ += 4;
        return true;
    }
    bool String(std::string* value) {
        if (length_ - at_ < 2) return false;
        size_t size = static_cast<size_t>(data_[at_] | data_[at_ + 1] << 8);
        if (length_ - at_ - 2 < size + 1 || data_[at_ + 2 + size] != 0) return false;
        value->assign(reinterpret_cast<const char*>(data_ + at_ + 2), size);
        at_ += 2 + size + 1;
        return true;
    }
    const uint8_t* rest() const { return data_ + at_; }
    size_t restLength() const { return length_ - at_; }

private:
    const uint8_t* data_;
    size_t length_;
    size_t at_ = 0;
};

class WinsockUser {
public:
    WinsockUser() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUser() {
        if (started_) WSACleanup();
    }
    bool started() const { return started_; }

private:
    bool started_ = false;
};

}  // namespace

// One TCP connection to 127.0.0.1 and the bytes received on it that are not used yet.
class ScriptRunner::Connection {
public:
    explicit Connection(const std::atomic<bool>& stopping) : stopping_(stopping) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Open(uint16_t port) {
        Close();
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) return false;
        u_long nonBlocking = 1;
        ioctlsocket(socket_, FIONBIO, &nonBlocking);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
        uint64_t deadline = GetTickCount64() + kConnectTimeoutMs;
        while (!stopping_ && GetTickCount64() < deadline) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(socket_, &writable);
            FD_SET(socket_, &failed);
            timeval wait = {0, static_cast<long>(kPollMs * 1000)};
            int ready = select(0, nullptr, &writable, &failed, &wait);
            if (ready < 0 || FD_ISSET(socket_, &failed)) return false;
            if (FD_ISSET(socket_, &writable)) return true;
        }
        return false;
    }

    bool Send(const std::vector<uint8_t>& bytes) { return Send(bytes.data(), bytes.size()); }

    bool Send(const uint8_t* data, size_t length) {
        size_t sent = 0;
        uint64_t deadline = GetTickCount64() + kAnswerTimeoutMs;
        while (sent < length) {
            int chunk = length - sent > 65536 ? 65536 : static_cast<int>(length - sent);
            int n = send(socket_, reinterpret_cast<const char*>(data + sent), chunk, 0);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
            if (stopping_ || GetTickCount64() >= deadline) return false;
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(socket_, &writable);
            timeval wait = {0, static_cast<long>(kPollMs * 1000)};
            select(0, nullptr, &writable, nullptr, &wait);
        }
        return true;
    }

    // Receives until `received` holds at least `want` bytes. False when the peer closes,
    // an error occurs, the run stops or the time is up.
    bool Fill(size_t want, uint32_t timeoutMs) {
        uint64_t deadline = GetTickCount64() + timeoutMs;
        uint8_t chunk[65536];
        while (received.size() < want) {
            if (stopping_ || GetTickCount64() >= deadline) return false;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(socket_, &readable);
            timeval wait = {0, static_cast<long>(kPollMs * 1000)};
            int ready = select(0, &readable, nullptr, nullptr, &wait);
            if (ready < 0) return false;
            if (ready == 0) continue;
            int n = recv(socket_, reinterpret_cast<char*>(chunk), sizeof chunk, 0);
            if (n == 0) return false;
            if (n == SOCKET_ERROR) {
                if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
                return false;
            }
            received.insert(received.end(), chunk, chunk + n);
        }
        return true;
    }

    void Consume(size_t count) { received.erase(received.begin(), received.begin() + count); }

    void Close() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
        socket_ = INVALID_SOCKET;
        received.clear();
    }

    bool isOpen() const { return socket_ != INVALID_SOCKET; }

    std::vector<uint8_t> received;

private:
    const std::atomic<bool>& stopping_;
    SOCKET socket_ = INVALID_SOCKET;
};

ScriptReport::ScriptReport() {
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"FLASH_STANDIN_REPORT", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) path_ = path;
}

void ScriptReport::Write(const char* event, const std::string& fields) {
    if (path_.empty()) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    // Milliseconds since 1970, the epoch the tools that read the report use.
    int64_t ms = static_cast<int64_t>((ticks - 116444736000000000ull) / 10000);
    std::string line = "{\"event\":\"" + JsonEscaped(event) + "\"" + Number("ms", ms) + fields + "}\n";
    std::lock_guard<std::mutex> hold(lock_);
    HANDLE file = CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ScriptReport::Text(const char* name, const std::string& value) {
    return std::string(",\"") + name + "\":\"" + JsonEscaped(value) + "\"";
}

std::string ScriptReport::Number(const char* name, int64_t value) {
    return std::string(",\"") + name + "\":" + std::to_string(value);
}

std::string ScriptReport::TextList(const char* name, const std::vector<std::string>& values) {
    std::string out = std::string(",\"") + name + "\":[";
    for (size_t i = 0; i < values.size(); ++i) out += (i ? ",\"" : "\"") + JsonEscaped(values[i]) + "\"";
    return out + "]";
}

bool ScriptRunner::Start(const std::vector<ScriptStep>& steps, const std::string& flashVars, HWND window,
                         UINT message, ScriptReport* report) {
    if (started()) return false;
    steps_ = steps;
    variables_ = ParseFlashVars(flashVars);
    window_ = window;
    message_ = message;
    report_ = report;
    stopping_ = false;
    report_->Write("init", ScriptReport::Text("flashVars", flashVars));
    try {
        worker_ = std::thread(&ScriptRunner::Run, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void ScriptRunner::Stop() {
    stopping_ = true;
    if (worker_.joinable()) worker_.join();
}

std::vector<ScriptRunner::Event> ScriptRunner::TakeEvents() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<Event> taken;
    taken.swap(events_);
    return taken;
}

void ScriptRunner::Show(const std::wstring& line) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back(Event{Event::kShow, line});
    }
    PostMessageW(window_, message_, 0, 0);
}

void ScriptRunner::CallClient(const std::vector<std::string>& arguments) {
    std::string request = "<invoke name=\"JsCallClient\" returntype=\"xml\"><arguments>";
    for (const std::string& argument : arguments) request += "<string>" + XmlEscaped(argument) + "</string>";
    request += "</arguments></invoke>";
    report_->Write("bridge", ScriptReport::TextList("arguments", arguments));
    {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back(Event{Event::kBridgeCall, WideFromUtf8(request)});
    }
    PostMessageW(window_, message_, 0, 0);
}

void ScriptRunner::Fail(const std::string& message) {
    report_->Write("error", ScriptReport::Text("message", message));
    Show(L"error: " + WideFromUtf8(message));
}

bool ScriptRunner::SleepMs(uint32_t ms) {
    uint64_t deadline = GetTickCount64() + ms;
    while (!stopping_ && GetTickCount64() < deadline) Sleep(kPollMs);
    return !stopping_;
}

void ScriptRunner::Run() {
    WinsockUser winsock;
    Connection game(stopping_);
    bool networkOk = winsock.started();
    if (!networkOk) Fail("Windows Sockets cannot be started");
    bool doneWritten = false;
    auto writeDone = [&]() {
        if (doneWritten) return;
        doneWritten = true;
        if (networkOk && !pending_.empty()) networkOk = WaitForReplies(&game);
        report_->Write("done", ScriptReport::Number("files", filesReceived_) +
                                   ScriptReport::Number("failed", filesFailed_) +
                                   ScriptReport::Number("ok", networkOk ? 1 : 0));
        Show(L"script finished: " + std::to_wstring(filesReceived_) + L" file(s) received, " +
             std::to_wstring(filesFailed_) + L" failed");
    };
    for (const ScriptStep& step : steps_) {
        if (stopping_) return;
        bool network = step.kind == ScriptStep::kConnect || step.kind == ScriptStep::kAddresses ||
                       step.kind == ScriptStep::kGet || step.kind == ScriptStep::kWait;
        // After a failure the bridge steps still run, so that the movie still ends the game.
        if (network && !networkOk) continue;
        if (step.kind == ScriptStep::kQuit) writeDone();
        if (!RunStep(step, &game)) networkOk = false;
    }
    writeDone();
}

bool ScriptRunner::RunStep(const ScriptStep& step, Connection* game) {
    std::vector<std::string> arguments;
    for (const std::string& argument : step.arguments) arguments.push_back(ExpandArgument(argument, variables_));
    switch (step.kind) {
    case ScriptStep::kConnect:
        return Connect(arguments[0], game);
    case ScriptStep::kAddresses: {
        std::vector<uint8_t> payload;
        if (!game->isOpen()) {
            Fail("line " + std::to_string(step.line) + ": addresses before connect");
            return false;
        }
        if (!PutString(&payload, arguments[0]) || !PutString(&payload, arguments[1]) ||
            !game->Send(Frame(kSetAddresses, payload))) {
            Fail("SetAddresses could not be sent");
            return false;
        }
        report_->Write("addresses", ScriptReport::Text("localDirectory", arguments[0]) +
                                        ScriptReport::Text("resourceBase", arguments[1]));
        Show(L"addresses: " + WideFromUtf8(arguments[0]) + L"  " + WideFromUtf8(arguments[1]));
        return true;
    }
    case ScriptStep::kGet: {
        if (!game->isOpen()) {
            Fail("line " + std::to_string(step.line) + ": get before connect");
            return false;
        }
        uint32_t id = nextId_++;
        std::vector<uint8_t> payload;
        PutU32(&payload, id);
        PutU32(&payload, static_cast<uint32_t>(step.line));
        PutU32(&payload, 0);
        if (!PutString(&payload, "t" + std::to_string(id)) || !PutString(&payload, arguments[0]) ||
            !game->Send(Frame(kGetFile, payload))) {
            Fail("GetFile for " + arguments[0] + " could not be sent");
            return false;
        }
        pending_.push_back(Pending{id, arguments[0]});
        return true;
    }
    case ScriptStep::kWait:
        return WaitForReplies(game);
    case ScriptStep::kTitle:
        CallClient({"6", arguments.empty() ? std::string() : arguments[0]});
        return true;
    case ScriptStep::kClientInfo:
        CallClient({"7"});
        return true;
    case ScriptStep::kQuit: {
        char* end = nullptr;
        long ms = strtol(arguments[0].c_str(), &end, 10);
        if (arguments[0].empty() || *end || ms < 0 || ms > 3600000) {
            Fail("line " + std::to_string(step.line) + ": quit needs milliseconds, not \"" + arguments[0] + "\"");
            ms = 0;
        }
        if (SleepMs(static_cast<uint32_t>(ms))) CallClient({"1"});
        return true;
    }
    }
    return false;
}

bool ScriptRunner::Connect(const std::string& portText, Connection* game) {
    char* end = nullptr;
    long port = strtol(portText.c_str(), &end, 10);
    if (portText.empty() || *end || port <= 0 || port > 65535) {
        Fail("no port to connect to (\"" + portText + "\")");
        return false;
    }
    if (!CheckPolicy(static_cast<uint16_t>(port))) return false;
    if (!game->Open(static_cast<uint16_t>(port))) {
        Fail("the game connection to 127.0.0.1:" + portText + " failed");
        return false;
    }
    if (!game->Send(kHandshake, sizeof kHandshake) || !game->Fill(sizeof kHandshakeAnswer, kAnswerTimeoutMs) ||
        memcmp(game->received.data(), kHandshakeAnswer, sizeof kHandshakeAnswer) != 0) {
        Fail("the handshake was not answered with PVNL");
        return false;
    }
    game->Consume(sizeof kHandshakeAnswer);
    report_->Write("handshake", ScriptReport::Number("port", port));
    Show(L"connected to 127.0.0.1:" + WideFromUtf8(portText) + L", handshake QMTK/PVNL");
    return true;
}

bool ScriptRunner::CheckPolicy(uint16_t port) {
    Connection policy(stopping_);
    if (!policy.Open(port)) {
        Fail("the policy connection to 127.0.0.1:" + std::to_string(port) + " failed");
        return false;
    }
    if (!policy.Send(reinterpret_cast<const uint8_t*>(kPolicyRequest), kPolicyRequestSize) ||
        !policy.Fill(kPolicyAnswerSize, kAnswerTimeoutMs)) {
        Fail("the policy request was not answered");
        return false;
    }
    const uint8_t* answer = policy.received.data();
    size_t textLength = sizeof kPolicyText - 1;
    if (policy.received.size() != kPolicyAnswerSize || answer[0] != (textLength & 0xFF) ||
        answer[1] != (textLength >> 8) || memcmp(answer + 2, kPolicyText, textLength) != 0 ||
        answer[2 + textLength] != 0) {
        Fail("the policy answer is not the cross-domain policy");
        return false;
    }
    report_->Write("policy", ScriptReport::Number("bytes", static_cast<int64_t>(policy.received.size())));
    Show(L"policy answer: " + std::to_wstring(policy.received.size()) + L" bytes");
    return true;
}

bool ScriptRunner::WaitForReplies(Connection* game) {
    while (!pending_.empty())
        if (!ReadReply(game)) return false;
    return true;
}

bool ScriptRunner::ReadReply(Connection* game) {
    if (!game->Fill(kFrameHead, kReplyTimeoutMs)) {
        Fail(std::to_string(pending_.size()) + " GetFile request(s) not answered");
        return false;
    }
    const uint8_t* head = game->received.data();
    if (memcmp(head, kFrameMagic, 4) != 0) {
        Fail("a reply without the frame magic");
        return false;
    }
    uint32_t size = static_cast<uint32_t>(head[4]) | static_cast<uint32_t>(head[5]) << 8 |
                    static_cast<uint32_t>(head[6]) << 16 | static_cast<uint32_t>(head[7]) << 24;
    if (size == 0 || size > kMaxFrameBody) {
        Fail("a reply frame of " + std::to_string(size) + " bytes");
        return false;
    }
    if (!game->Fill(kFrameHead + size, kReplyTimeoutMs)) {
        Fail("a reply frame broke off");
        return false;
    }
    BodyReader body(game->received.data() + kFrameHead, size);
    uint8_t type = 0, status = 0;
    uint32_t id = 0, word2 = 0, word3 = 0, length = 0;
    std::string token;
    bool complete = body.U8(&type) && type == kFileReply && body.U32(&id) && body.U32(&word2) &&
                    body.U32(&word3) && body.String(&token) && body.U8(&status) && body.U32(&length);
    size_t match = pending_.size();
    for (size_t i = 0; complete && i < pending_.size(); ++i)
        if (pending_[i].id == id && token == "t" + std::to_string(id)) match = i;
    if (!complete || match == pending_.size()) {
        Fail("a reply that answers no request");
        return false;
    }
    std::string name = pending_[match].name;
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(match));
    if (status == 0 && body.restLength() == length) {
        uint32_t crc = static_cast<uint32_t>(crc32(0L, body.rest(), length));
        char crcText[9];
        snprintf(crcText, sizeof crcText, "%08x", crc);
        std::string first = Hex(body.rest(), length < kShownHeadBytes ? length : kShownHeadBytes);
        report_->Write("file", ScriptReport::Text("name", name) + ScriptReport::Number("status", 0) +
                                   ScriptReport::Number("size", length) + ScriptReport::Text("crc32", crcText) +
                                   ScriptReport::Text("head", first));
        Show(WideFromUtf8(name) + L"   " + std::to_wstring(length) + L" bytes   CRC-32 " + WideFromUtf8(crcText) + L"   " +
             WideFromUtf8(first.substr(0, 16)) + L"...");
        ++filesReceived_;
    } else {
        std::string address;
        if (status != 1 || !body.String(&address)) {
            game->Consume(kFrameHead + size);
            Fail("the reply for " + name + " is malformed");
            return false;
        }
        report_->Write("file", ScriptReport::Text("name", name) + ScriptReport::Number("status", 1) +
                                   ScriptReport::Number("size", length) + ScriptReport::Text("address", address));
        Show(WideFromUtf8(name) + L"   not available: " + WideFromUtf8(address));
        ++filesFailed_;
    }
    game->Consume(kFrameHead + size);
    return true;
}

std::string InvokeName(const std::string& request) {
    const char kHead[] = "<invoke name=\"";
    if (request.compare(0, sizeof kHead - 1, kHead) != 0) return std::string();
    size_t end = request.find('"', sizeof kHead - 1);
    if (end == std::string::npos) return std::string();
    return request.substr(sizeof kHead - 1, end - (sizeof kHead - 1));
}

std::string FirstInvokeArgument(const std::string& request) {
    // The host may send the value unescaped, "</string>" inside it included: the
    // argument runs to the last closing tag.
    size_t open = request.find("<string>");
    size_t close = request.rfind("</string>");
    if (open == std::string::npos || close == std::string::npos || close < open + 8) return std::string();
    return request.substr(open + 8, close - open - 8);
}

std::vector<std::string> InvokeArguments(const std::string& request) {
    std::vector<std::string> arguments;
    size_t at = 0;
    for (;;) {
        size_t open = request.find("<string>", at);
        if (open == std::string::npos) break;
        size_t close = request.find("</string>", open + 8);
        if (close == std::string::npos) break;
        arguments.push_back(request.substr(open + 8, close - open - 8));
        at = close + 9;
    }
    return arguments;
}
