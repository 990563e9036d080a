#include "server/session_server.h"

#include <utility>

#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <atomic>
#include <new>

#include <zlib.h>

#include "framework/encoding.h"
#include "ravlib/log.h"
#include "ravlib/stream.h"
#include "ravlib/tick.h"
#include "server/file_cache.h"
#include "server/file_dictionary.h"
#include "server/file_server.h"
#include "server/request_rules.h"
#include "server/scramble.h"
#include "server/wire_format.h"
#include "update/http_client.h"

using ravlib::GetTickMs;
using ravlib::LogMessage;
using ravlib::kLogError;
using ravlib::kLogInfo;
using ravlib::stream::CFileStream;
using ravlib::sync::lock::CAutoLock;

namespace {

std::atomic<uint32_t> g_nextClientId{1};
// The server that exists, so that a transfer finished after its server was deleted is
// dropped instead of reaching freed memory.
std::atomic<CSessionServer*> g_liveServer{nullptr};
// The body bytes the running fetches may hold, each counted at its cap. Process-wide: a
// body outlives the server while the HTTP client saves it.
std::atomic<size_t> g_fetchBodies{0};

// A resource fetch: it holds its share of the budget until it is destroyed with its
// body, after the body has been answered and saved.
class ResourceFetch : public CCurlHttpRequest {
public:
    ResourceFetch() {
        maxBodyBytes = CSessionServer::kMissBodyCap;
        g_fetchBodies += CSessionServer::kMissBodyCap;
    }
    ~ResourceFetch() override { g_fetchBodies -= CSessionServer::kMissBodyCap; }
};

// Copies source (null: empty) into destination[capacity], cut to fit and terminated;
// returns the length copied.
template <typename Char>
size_t CopyCut(Char* destination, size_t capacity, const Char* source) {
    size_t length = 0;
    if (source)
        while (source[length] && length + 1 < capacity) {
            destination[length] = source[length];
            ++length;
        }
    destination[length] = 0;
    return length;
}

// CopyCut, then suffix is appended when the copy is not empty and does not end with it
// (the suffix replaces the last character when the copy fills the buffer).
template <typename Char>
void CopyWithTrailing(Char* destination, size_t capacity, const Char* source, Char suffix) {
    size_t length = CopyCut(destination, capacity, source);
    if (length > 0 && destination[length - 1] != suffix) {
        if (length + 1 >= capacity) --length;
        destination[length++] = suffix;
    }
    destination[length] = 0;
}

// The header of a FileReply up to and including the status byte.
size_t ReplyHeaderBytes(const FileRequestContext& request) {
    return CCustomRelayServerClientSocket::kHeaderSize + 1 + 12 + strlen(request.token) + 3 + 1;
}

bool AppendReplyHead(CDataPacket* packet, const FileRequestContext& request, uint8_t status,
                     uint32_t length) {
    return packet->AppendU32(request.word1) && packet->AppendU32(request.word2) &&
           packet->AppendU32(request.word3) &&
           CCustomRelayServerClientSocket::AppendString(packet, request.token) &&
           packet->AppendByte(status) && packet->AppendU32(length);
}

// A text of a SetAddresses as UTF-16 into converted[kAddressMaxUnits]; false when it
// was refused on the wire or is longer than that.
bool ConvertAddressField(bool fits, const char* text, wchar_t* converted) {
    return fits && WideFromNarrow(text, Encoding::kUtf8, Unconvertible::kReplace, converted,
                                  CSessionClient::kAddressMaxUnits);
}

}  // namespace

// ---- CSessionClient

CSessionClient::CSessionClient(CSessionServer* server, uint32_t id) : server_(server), id_(id) {
    localDir_[0] = 0;
    belowCache_[0] = 0;
    resourceBase_[0] = 0;
}

CSessionClient::~CSessionClient() {}

void CSessionClient::OnIdle() {
    const uint64_t now = GetTickMs();
    if (now >= nextTrimTick_) {
        Trim();
        nextTrimTick_ = now + kTrimPeriodMs;
    }
}

bool CSessionClient::CheckHandshake(const uint8_t* word) {
    return memcmp(word, "QMTK", 4) == 0;
}

void CSessionClient::OnHandshakeAccepted() {
    LogMessage(kLogInfo, L"连接新的客户端,localddr=%s", localDir_);
    CDataPacket* packet = GetPacket();
    if (!packet) return;
    packet->Append("PVNL", 4);
    QueuePacket(packet);
}

void CSessionClient::OnPacket(uint8_t type, PacketReader& reader) {
    if (type == kTypeSetAddresses)
        HandleSetAddresses(reader);
    else if (type == kTypeGetFile)
        HandleGetFile(reader);
}

void CSessionClient::SetLocalDir(const wchar_t* directory, const wchar_t* below) {
    CopyWithTrailing<wchar_t>(localDir_, kLocalDirChars, directory, L'\\');
    CopyCut<wchar_t>(belowCache_, kLocalDirChars, below);
}

void CSessionClient::SetResourceBase(const char* address) {
    CopyWithTrailing<char>(resourceBase_, kResourceBaseBytes, address, '/');
}

void CSessionClient::HandleSetAddresses(PacketReader& reader) {
    SetAddressesRequest request;
    ReadSetAddresses(reader, &request);
    wchar_t converted[kAddressMaxUnits];

    if (!ConvertAddressField(request.directoryFits, request.directory, converted)) {
        LogMessage(kLogInfo, L"地址设置error");
        return;
    }
    ChangeLocalDir(request.directory, converted);

    if (!ConvertAddressField(request.addressFits, request.address, converted)) {
        LogMessage(kLogError, L"资源地址设置error");
        return;
    }
    ChangeResourceBase(request.address, converted);
}

void CSessionClient::ChangeLocalDir(const char* text, const wchar_t* converted) {
    wchar_t directory[kLocalDirChars];
    wchar_t below[kLocalDirChars];
    if (!server_ || !server_->Scope().AcceptDirectory(text, directory, kLocalDirChars, below, kLocalDirChars)) {
        LogMessage(kLogError, L"refused local directory %s", converted);
        return;
    }
    LogMessage(kLogInfo, L"本地地址设置为%s", converted);
    SetLocalDir(directory, below);
}

void CSessionClient::ChangeResourceBase(const char* text, const wchar_t* converted) {
    const size_t length = strlen(text);
    const bool fits = length + (length > 0 && text[length - 1] == '/' ? 0 : 1) < kResourceBaseBytes;
    if (!fits || !server_ || !server_->Scope().AcceptResourceAddress(text)) {
        LogMessage(kLogError, L"refused resource address %s", converted);
        return;
    }
    LogMessage(kLogInfo, L"资源地址设置为%s", converted);
    SetResourceBase(text);
}

void CSessionClient::HandleGetFile(PacketReader& reader) {
    GetFileRequest fields;
    ReadGetFile(reader, &fields);
    const char* const name = fields.name;
    const FileRequestContext request = {fields.words[0], fields.words[1], fields.words[2], fields.token};

    char address[kAddressBytes];
    strcpy(address, resourceBase_);
    strcat(address, name);

    wchar_t localName[kFieldBytes];
    if (!ResolveName(name, localName)) {
        LogMessage(kLogError, L"refused file name %hs", name);
        SendRemoteReply(true, L"", address, nullptr, 0, request);
        return;
    }
    wchar_t path[kPathChars];
    wcscpy(path, localDir_);
    wcscat(path, localName);

    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        SendCachedFile(path, FileDictionaryLookup(name), request))
        return;

    LogMessage(kLogInfo, L"gets file %s,tick=%u", localName, static_cast<unsigned>(GetTickMs()));
    if (server_ && !server_->RequestRemoteFile(address, path, id_, request))
        SendRemoteReply(true, path, address, nullptr, 0, request);
}

bool CSessionClient::ResolveName(const char* name, wchar_t* localName) {
    if (!localDir_[0] || !IsCacheSafeName(name)) return false;
    if (!WideFromNarrow(name, Encoding::kUtf8, Unconvertible::kFail, localName, kFieldBytes)) return false;
    for (wchar_t* p = localName; *p; ++p)
        if (*p == L'/') *p = L'\\';
    wchar_t relative[kPathChars];
    wcscpy(relative, belowCache_);
    wcscat(relative, localName);
    return !server_ || !server_->Scope().IsLauncherFile(relative);
}

bool CSessionClient::SendCachedFile(const wchar_t* path, uint32_t expected,
                                    const FileRequestContext& request) {
    CFileStream file(path, ravlib::stream::kStreamModeOpen);
    if (!file.IsOpen()) return false;
    const int64_t size = file.GetSize();
    const size_t head = ReplyHeaderBytes(request) + 4;
    if (size < 0 || static_cast<uint64_t>(size) > UINT32_MAX - head) return false;

    // The cheap checks first: a file whose extension is not listed is valid by size.
    const bool hasExtension = wcsrchr(path, L'.') != nullptr;
    const bool listed = IsListedPath(path);
    if (!hasExtension && expected != 0) return false;
    if (hasExtension && !listed && static_cast<uint32_t>(size) != expected) return false;

    CDataPacket* packet = NewPacket(kTypeGetFile);
    if (!packet) return false;
    bool ok = packet->Reserve(head + static_cast<size_t>(size)) &&
              AppendReplyHead(packet, request, 0, static_cast<uint32_t>(size));
    const size_t lengthOffset = packet->Size() - 4;

    uint8_t chunk[kCacheReadChunk];
    uint32_t crc = 0;
    int64_t total = 0;
    while (ok && total < size) {
        const int64_t want = size - total < kCacheReadChunk ? size - total : kCacheReadChunk;
        const int64_t got = file.Read(chunk, want);
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (total == 0)
            ScrambleWords(chunk, static_cast<size_t>(got < kCacheScrambledBytes ? got : kCacheScrambledBytes));
        if (listed) crc = static_cast<uint32_t>(crc32(crc, chunk, static_cast<uInt>(got)));
        ok = packet->Append(chunk, static_cast<size_t>(got));
        total += got;
    }
    // A file that shrank after its size was taken: the reply carries what was read.
    if (ok && total != size) ok = !listed && packet->WriteU32At(lengthOffset, static_cast<uint32_t>(total));
    if (ok && listed && crc != expected) ok = false;
    if (!ok) {
        packet->Empty();
        QueuePacket(packet);  // back to the free list
        return false;
    }
    return FinishPacket(packet);
}

void CSessionClient::SendRemoteReply(bool failed, const wchar_t* localPath, const char* address,
                                     const void* data, uint32_t length,
                                     const FileRequestContext& request) {
    LogMessage(kLogInfo, L"get file from remote %s,tick=%u,usetime=%d", localPath,
               static_cast<unsigned>(GetTickMs()), 0);
    CDataPacket* packet = NewPacket(kTypeGetFile);
    if (!packet) {
        LogMessage(kLogError, L"no memory for the reply to %hs", address);
        return;
    }
    const size_t tail = failed ? strlen(address) + 3 : length;
    bool ok = packet->Reserve(ReplyHeaderBytes(request) + 4 + tail) &&
              AppendReplyHead(packet, request, failed ? 1 : 0, length);
    if (ok) ok = failed ? AppendString(packet, address) : packet->Append(data, length);
    if (!ok) {
        LogMessage(kLogError, L"no memory for the reply to %hs", address);
        packet->Empty();
        QueuePacket(packet);
        return;
    }
    FinishPacket(packet);
}

// ---- CSessionServer

CSessionServer::CSessionServer() {
    SetName(L"会话");
    // Passes run back to back; WaitForTraffic does the waiting.
    SetPacing(INT32_MAX, period_);
    // A disconnected connection stays (answering nothing) for kLingerMs before it is
    // deleted.
    SetLinger(kLingerMs);
    defaultLocalDir_[0] = 0;
    defaultResourceBase_[0] = 0;
    g_liveServer = this;
}

CSessionServer::~CSessionServer() {
    Stop();
    CSessionServer* self = this;
    g_liveServer.compare_exchange_strong(self, nullptr);
}

void CSessionServer::OnClientAccepted(CCustomServerClientSocket* client) {
    int bytes = kSendBufferBytes;
    setsockopt(client->GetHandle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

void CSessionServer::OnThreadStart() {
    dataThreadId_ = GetCurrentThreadId();
    SOCKET wake = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long nonBlocking = 1;
    if (wake != INVALID_SOCKET &&
        (bind(wake, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
         getsockname(wake, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
         ioctlsocket(wake, FIONBIO, &nonBlocking) != 0)) {
        closesocket(wake);
        wake = INVALID_SOCKET;
    }
    if (wake == INVALID_SOCKET)
        LogMessage(kLogError, L"no wake-up socket: the data thread looks for news every %d ms",
                   static_cast<int>(kShortWaitMs));
    {
        CAutoLock guard(&wakeLock_);
        wakeSocket_ = wake;
        wakeAddress_ = address;
    }
    CCurlHttpClient::AddResponseListener(OnResponseQueued, this);
}

void CSessionServer::OnThreadEnd() {
    CCurlHttpClient::RemoveResponseListener(OnResponseQueued, this);
    CAutoLock guard(&wakeLock_);
    if (wakeSocket_ != INVALID_SOCKET) closesocket(wakeSocket_);
    wakeSocket_ = INVALID_SOCKET;
}

void CSessionServer::WakeDataThread() {
    if (wakePending_.exchange(true)) return;
    CAutoLock guard(&wakeLock_);
    if (wakeSocket_ == INVALID_SOCKET) return;
    const char byte = 0;
    sendto(wakeSocket_, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&wakeAddress_), sizeof wakeAddress_);
}

void CSessionServer::OnResponseQueued(void* server) {
    static_cast<CSessionServer*>(server)->WakeDataThread();
}

void CSessionServer::DrainWakeUps() {
    char bytes[64];
    while (recv(wakeSocket_, bytes, sizeof bytes, 0) > 0) {
    }
}

void CSessionServer::Process() {
    const uint64_t passStart = GetTickMs();
    // News from other threads from here on sends a new wake-up; what came before is
    // taken in this pass.
    wakePending_ = false;
    // Finished transfers are answered before the pass over the connections, which sends
    // their replies at once.
    CCurlHttpClient* http = CCurlHttpClient::GetInstance();
    if (http) http->DispatchResponses();
    std::vector<RemoteReply> replies;
    {
        CAutoLock guard(&repliesLock_);
        replies.swap(pendingReplies_);
    }
    for (const RemoteReply& reply : replies) {
        const FileRequestContext context = {reply.words[0], reply.words[1], reply.words[2], reply.token.c_str()};
        AnswerFetch(reply.clientId, reply.failed, reply.localPath.c_str(), reply.address.c_str(), context,
                    reply.body.data(), reply.body.size());
    }
    CCustomServerSocket::Process();
    StartWaitingFetches();
    WaitForTraffic(passStart);
}

void CSessionServer::WaitForTraffic(uint64_t passStart) {
    if (stopped_ != 0) return;
    // An fd_set with room for more sockets than FD_SETSIZE (Winsock reads fd_count).
    struct SocketSet {
        u_int count;
        SOCKET sockets[kWatchedSockets];
    };
    SocketSet readable;
    SocketSet writable;
    readable.count = 0;
    writable.count = 0;
    // Only the data thread opens and closes the wake-up socket: it reads it without the lock.
    if (wakeSocket_ != INVALID_SOCKET) readable.sockets[readable.count++] = wakeSocket_;
    int32_t unwatched = 0;
    for (int32_t i = 0; i < clients_.Count(); ++i) {
        CCustomServerClientSocket* client = clients_[i];
        const SOCKET handle = client->GetHandle();
        if (!client->IsConnected() || handle == INVALID_SOCKET) continue;
        // Requests held back are taken in the next pass, and a connection that sent in
        // this one and still has replies queued may be able to send more: no wait then.
        if ((client->LastActivity() >= passStart && client->QueuedCount() > 0) ||
            (client->HoldsRequests() && !client->IsPaused()))
            return;
        if (readable.count == kWatchedSockets || writable.count == kWatchedSockets) {
            ++unwatched;
            continue;
        }
        // A paused connection is not read: only room for its replies is waited for.
        if (!client->IsPaused()) readable.sockets[readable.count++] = handle;
        if (client->QueuedCount() > 0) writable.sockets[writable.count++] = handle;
    }
    // Under Wine, room in a send buffer is reported up to 10 ms late: a connection with
    // replies queued is looked at again after 1 ms.
    long waitMs = kTrafficWaitMs;
    if (unwatched > 0 || writable.count > 0)
        waitMs = 1;
    else if (wakeSocket_ == INVALID_SOCKET || !waitingFetches_.empty())
        waitMs = kShortWaitMs;
    if (readable.count == 0 && writable.count == 0) {
        Sleep(static_cast<DWORD>(waitMs));
        return;
    }
    timeval timeout = {waitMs / 1000, waitMs % 1000 * 1000};
    const int ready = select(0, reinterpret_cast<fd_set*>(&readable),
                             writable.count ? reinterpret_cast<fd_set*>(&writable) : nullptr, nullptr, &timeout);
    if (ready < 0) return;
    std::sort(readable.sockets, readable.sockets + readable.count);
    auto found = [&readable](SOCKET handle) {
        return std::binary_search(readable.sockets, readable.sockets + readable.count, handle);
    };
    if (wakeSocket_ != INVALID_SOCKET && found(wakeSocket_)) DrainWakeUps();
    if (unwatched > 0) return;
    // Only the connections found readable are read in the next pass: every recv is a
    // system call, and most connections have nothing.
    for (int32_t i = 0; i < clients_.Count(); ++i) {
        CCustomServerClientSocket* client = clients_[i];
        if (client->IsConnected() && !client->IsPaused() && !found(client->GetHandle())) client->SkipNextReceive();
    }
}

bool CSessionServer::RequestRemoteFile(const char* address, const wchar_t* localPath,
                                       uint32_t clientId, const FileRequestContext& request) {
    if (!CCurlHttpClient::GetInstance()) return true;
    try {
        waitingFetches_.push_back(
            WaitingFetch{clientId, address, localPath, request.token, {request.word1, request.word2, request.word3}});
    } catch (const std::bad_alloc&) {
        LogMessage(kLogError, L"no memory to fetch %hs", address);
        return false;
    }
    StartWaitingFetches();
    return true;
}

void CSessionServer::StartWaitingFetches() {
    while (!waitingFetches_.empty() && g_fetchBodies.load() <= kMissBodyBudget - kMissBodyCap) {
        const WaitingFetch& fetch = waitingFetches_.front();
        if (!StartFetch(fetch)) {
            const FileRequestContext context = {fetch.words[0], fetch.words[1], fetch.words[2], fetch.token.c_str()};
            AnswerFetch(fetch.clientId, true, fetch.localPath.c_str(), fetch.address.c_str(), context, nullptr, 0);
        }
        waitingFetches_.pop_front();
    }
}

bool CSessionServer::StartFetch(const WaitingFetch& fetch) {
    CCurlHttpClient* http = CCurlHttpClient::GetInstance();
    if (!http) return false;
    ResourceFetch* request = new (std::nothrow) ResourceFetch;
    if (request) {
        try {
            request->SetUrl(fetch.address.c_str());
            request->filePath = fetch.localPath;
            request->SetContext(fetch.token.c_str(), static_cast<int32_t>(fetch.clientId), fetch.words[0],
                                fetch.words[1], fetch.words[2]);
        } catch (const std::bad_alloc&) {
            delete request;
            request = nullptr;
        }
    }
    if (!request) {
        LogMessage(kLogError, L"no memory to fetch %hs", fetch.address.c_str());
        return false;
    }
    request->SetMethod(kHttpGet);
    request->SetCallback(OnRemoteFile, this);
    if (http->AddRequest(request) == 0) return true;
    delete request;
    return false;
}

void CSessionServer::OnRemoteFile(void* user, CCurlHttpResponse* response) {
    CSessionServer* server = static_cast<CSessionServer*>(user);
    if (!server || server != g_liveServer.load() || !response || !response->GetRequest()) return;
    const CCurlHttpRequest* request = response->GetRequest();
    const uint32_t clientId = static_cast<uint32_t>(request->GetTag());
    const bool failed = !response->GetSuccess();
    if (GetCurrentThreadId() == server->dataThreadId_) {
        // The common case: the body is answered from where it lies.
        const FileRequestContext context = {request->GetParam1(), request->GetParam2(), request->GetParam3(),
                                            request->GetLabel()};
        server->AnswerFetch(clientId, failed, request->filePath.c_str(), request->GetUrl(), context,
                            response->GetBody(), response->GetBodyLength());
        return;
    }
    try {
        RemoteReply reply;
        reply.clientId = clientId;
        reply.failed = failed;
        reply.localPath = request->filePath;
        reply.address = request->GetUrl();
        reply.token = request->GetLabel();
        reply.words[0] = request->GetParam1();
        reply.words[1] = request->GetParam2();
        reply.words[2] = request->GetParam3();
        reply.body.assign(response->GetBody(), response->GetBody() + response->GetBodyLength());
        {
            CAutoLock guard(&server->repliesLock_);
            server->pendingReplies_.push_back(std::move(reply));
        }
        server->WakeDataThread();
    } catch (const std::bad_alloc&) {
        LogMessage(kLogError, L"no memory for the reply to %hs", request->GetUrl());
    }
}

void CSessionServer::AnswerFetch(uint32_t clientId, bool failed, const wchar_t* localPath, const char* address,
                                 const FileRequestContext& request, const uint8_t* body, size_t length) {
    CSessionClient* client = FindConnectedClient(clientId);
    if (!client) return;
    client->SendRemoteReply(failed, localPath, address, body, static_cast<uint32_t>(length), request);
    // The reply leaves before the body is handed on to be saved.
    client->SendQueued();
}

CSessionClient* CSessionServer::FindConnectedClient(uint32_t id) {
    for (int32_t i = clients_.Count() - 1; i >= 0; --i) {
        CSessionClient* client = static_cast<CSessionClient*>(clients_[i]);
        if (client->IsConnected() && client->Id() == id) return client;
    }
    return nullptr;
}

CCustomServerClientSocket* CSessionServer::CreateClient(SOCKET handle, const sockaddr_in* peer) {
    CSessionClient* client = new (std::nothrow) CSessionClient(this, g_nextClientId++);
    if (!client) {
        LogMessage(kLogError, L"no memory for a new connection, closing it");
        return nullptr;
    }
    client->Init(handle, peer);
    CAutoLock guard(&defaultsLock_);
    if (defaultResourceBase_[0]) client->SetResourceBase(defaultResourceBase_);
    if (defaultLocalDir_[0]) client->SetLocalDir(defaultLocalDir_);
    return client;
}

void CSessionServer::SetDefaultLocalDir(const wchar_t* directory) {
    // A connection's directory has room for it and a "\" behind it; a longer one is
    // refused rather than cut into another directory.
    const size_t length = directory ? wcslen(directory) : 0;
    const bool fits = length + 1 < CSessionClient::kLocalDirChars;
    if (!fits) LogMessage(kLogError, L"cache directory too long: %s", directory);
    {
        CAutoLock guard(&defaultsLock_);
        CopyCut<wchar_t>(defaultLocalDir_, kLocalDirChars, fits ? directory : L"");
    }
    if (fits && !scope_.SetCacheDirectory(directory))
        LogMessage(kLogError, L"cache directory %s is no local path: connections choose no other", directory);
}

void CSessionServer::SetDefaultResourceBase(const char* address) {
    {
        CAutoLock guard(&defaultsLock_);
        CopyCut<char>(defaultResourceBase_, kResourceBaseBytes, address);
    }
    scope_.SetContentServer(address);
}

std::string CSessionServer::DefaultResourceBase() {
    CAutoLock guard(&defaultsLock_);
    return defaultResourceBase_;
}

CCustomServerSocket* FileSrvCreateSessionServer() {
    return new CSessionServer;
}

void FileSrvSetLocalDir(const wchar_t* directory) {
    CSessionServer* server = dynamic_cast<CSessionServer*>(FileSrvGetServer());
    if (server) server->SetDefaultLocalDir(directory);
}

void FileSrvSetResourceBase(const char* address) {
    CSessionServer* server = dynamic_cast<CSessionServer*>(FileSrvGetServer());
    if (server) server->SetDefaultResourceBase(address);
}

void FileSrvSetResourceHosts(const char* gamePageAddress, const char* hostList) {
    CSessionServer* server = dynamic_cast<CSessionServer*>(FileSrvGetServer());
    if (!server) return;
    const size_t refused = server->Scope().SetResourceHosts(gamePageAddress, hostList);
    if (refused > 0) LogMessage(kLogError, L"resourceHosts: %u entries refused", static_cast<unsigned>(refused));
}

void FileSrvSetLauncherFiles(const std::vector<std::wstring>& names, const std::wstring& newExecutableName) {
    CSessionServer* server = dynamic_cast<CSessionServer*>(FileSrvGetServer());
    if (server) server->Scope().SetLauncherFiles(names, newExecutableName);
}
