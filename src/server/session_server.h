// The file service of the local resource server: the game's Flash client asks for
// resources by relative name (GetFile); a valid cached copy is answered at once, in the
// pass that reads the request, anything else is fetched from the content server and
// answered when the transfer ends.
//
// CSessionServer is the server object FileSrvStart creates; CSessionClient is one
// game connection. Everything but CreateClient runs on the server's data thread.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "ravlib/lock.h"
#include "server/cache_scope.h"
#include "server/relay_socket.h"
#include "server/server_socket.h"

class CCurlHttpResponse;
class CSessionServer;

// The fields of a GetFile request that its reply echoes.
struct FileRequestContext {
    uint32_t word1;
    uint32_t word2;
    uint32_t word3;
    const char* token;
};

class CSessionClient : public CCustomRelayServerClientSocket {
public:
    enum {
        kLocalDirChars = 256,
        kResourceBaseBytes = 256,
        kFieldBytes = kWireFieldBytes,                // token and name of a GetFile
        kAddressFieldBytes = kWireAddressFieldBytes,  // the two texts of a SetAddresses
        kAddressMaxUnits = 128,                       // ... as UTF-16 with the terminator
        kPathChars = kLocalDirChars + kFieldBytes,
        kAddressBytes = kResourceBaseBytes + kFieldBytes,
        kTrimPeriodMs = 60000,
    };
    enum { kTypeSetAddresses = kWireTypeSetAddresses, kTypeGetFile = kWireTypeGetFile };

    CSessionClient(CSessionServer* server, uint32_t id);
    ~CSessionClient() override;

    void OnError(int code) override { (void)code; }
    void OnIdle() override;
    void OnPacket(uint8_t type, PacketReader& reader) override;
    bool CheckHandshake(const uint8_t* word) override;
    void OnHandshakeAccepted() override;

    // Copies directory (cut to fit) and appends "\" when it is not empty and lacks one;
    // below is the part of it beneath the cache directory (empty for the cache itself).
    void SetLocalDir(const wchar_t* directory, const wchar_t* below = L"");
    // Copies address (cut to fit) and appends "/" when it is not empty and lacks one.
    void SetResourceBase(const char* address);
    void HandleSetAddresses(PacketReader& reader);
    void HandleGetFile(PacketReader& reader);

    // Answers request with the cached file at path when its check value equals
    // expected; the whole reply is queued before it returns. False (nothing queued)
    // when the file cannot be opened or read, does not fit a reply, or does not match.
    bool SendCachedFile(const wchar_t* path, uint32_t expected, const FileRequestContext& request);
    // A reply for a finished transfer: status 1 with address when failed, else status 0
    // with the body.
    void SendRemoteReply(bool failed, const wchar_t* localPath, const char* address,
                         const void* data, uint32_t length, const FileRequestContext& request);

    uint32_t Id() const { return id_; }
    const wchar_t* LocalDir() const { return localDir_; }
    const char* ResourceBase() const { return resourceBase_; }

private:
    // The first text of a SetAddresses (UTF-8, and as converted for the log): taken when
    // the cache scope accepts it.
    void ChangeLocalDir(const char* text, const wchar_t* converted);
    // The second text: taken when it is an address the cache scope allows and fits.
    void ChangeResourceBase(const char* text, const wchar_t* converted);
    // The path of name beneath the connection's directory into localName ("\"
    // separators); false when the name is not a plain name inside it, the connection has
    // no directory, or the name reaches one of the launcher's own files.
    bool ResolveName(const char* name, wchar_t* localName);

    CSessionServer* server_;
    const uint32_t id_;
    uint64_t nextTrimTick_ = 0;
    wchar_t localDir_[kLocalDirChars];
    wchar_t belowCache_[kLocalDirChars];  // localDir_ beneath the cache directory
    char resourceBase_[kResourceBaseBytes];
};

class CSessionServer : public CCustomServerSocket {
public:
    enum {
        kLocalDirChars = 260,
        kResourceBaseBytes = 128,
        kLingerMs = 300000,
        // The longest wait of the data thread for traffic between two passes: news from
        // other threads (a finished transfer, a reply queued, a new connection, the stop)
        // wakes it. Without its wake-up socket, or while fetches wait for the budget of
        // bodies, the short one. And the most connections it watches while it waits
        // (beyond those it only polls).
        kTrafficWaitMs = 1000,
        kShortWaitMs = 10,
        kWatchedSockets = 1024,
        // The kernel send buffer of a game connection: a cached file of 1 MiB leaves in
        // a few sends instead of dozens.
        kSendBufferBytes = 1024 * 1024,
    };
    // The largest body of one fetched resource, and the bodies all fetches running at
    // once may hold together (each counted at the largest); further fetches wait.
    static const size_t kMissBodyCap = 64u * 1024u * 1024u;
    static const size_t kMissBodyBudget = 256u * 1024u * 1024u;

    CSessionServer();
    ~CSessionServer() override;

    CCustomServerClientSocket* CreateClient(SOCKET handle, const sockaddr_in* peer) override;
    // The finished transfers of the HTTP client, the pass over the connections, then a
    // wait of at most kTrafficWaitMs until a connection has bytes to read or room for
    // its queued replies, or another thread wakes it (no wait after a pass that sent on
    // a connection with more replies queued). Only the connections found readable are
    // read in the next pass. The data thread thus sleeps only while nothing happens, and
    // answers a request, a finished transfer or a new connection as soon as it arrives.
    void Process() override;
    void OnThreadStart() override;
    void OnThreadEnd() override;
    void WakeDataThread() override;
    void OnClientAccepted(CCustomServerClientSocket* client) override;

    // Called from the main thread; connections accepted afterwards take these. The
    // directory is the cache directory (refused when it does not fit a connection's) and
    // the address the content server's; both bound what connections may choose.
    void SetDefaultLocalDir(const wchar_t* directory);
    void SetDefaultResourceBase(const char* address);
    std::string DefaultResourceBase();

    CCacheScope& Scope() { return scope_; }

    // Queues the fetch of address for the HTTP client, which saves a successful body at
    // localPath; the reply follows in OnRemoteFile. Fetches start in their order while
    // the budget of bodies allows. Nothing happens without an HTTP client. False when
    // the fetch could not be queued (the caller answers it as failed).
    bool RequestRemoteFile(const char* address, const wchar_t* localPath, uint32_t clientId,
                           const FileRequestContext& request);
    // The HTTP client's callback (user = the server).
    static void OnRemoteFile(void* user, CCurlHttpResponse* response);

private:
    // A finished transfer delivered on another thread than the data thread, answered by
    // the data thread's next pass.
    struct RemoteReply {
        uint32_t clientId;
        bool failed;
        std::wstring localPath;
        std::string address;
        std::vector<uint8_t> body;  // only while it waits in pendingReplies_
        std::string token;
        uint32_t words[3];
    };

    // A fetch that waits for the budget of bodies.
    struct WaitingFetch {
        uint32_t clientId;
        std::string address;
        std::wstring localPath;
        std::string token;
        uint32_t words[3];
    };

    // Answers a fetch on its connection when that is still connected.
    void AnswerFetch(uint32_t clientId, bool failed, const wchar_t* localPath, const char* address,
                     const FileRequestContext& request, const uint8_t* body, size_t length);
    // Starts waiting fetches in their order while the budget allows; one that cannot be
    // started is answered as failed.
    void StartWaitingFetches();
    bool StartFetch(const WaitingFetch& fetch);
    void WaitForTraffic(uint64_t passStart);
    // Takes the datagrams that woke the data thread.
    void DrainWakeUps();
    // The HTTP client's listener (user = the server).
    static void OnResponseQueued(void* server);
    CSessionClient* FindConnectedClient(uint32_t id);

    DWORD dataThreadId_ = 0;
    // While the data thread runs, a loopback datagram socket it waits on beside its
    // connections; other threads send it a byte to wake it (one until the next pass).
    ravlib::sync::lock::CCSLock wakeLock_;
    SOCKET wakeSocket_ = INVALID_SOCKET;
    sockaddr_in wakeAddress_ = {};
    std::atomic<bool> wakePending_{false};
    ravlib::sync::lock::CCSLock repliesLock_;
    std::vector<RemoteReply> pendingReplies_;
    std::deque<WaitingFetch> waitingFetches_;  // data thread
    CCacheScope scope_;
    ravlib::sync::lock::CCSLock defaultsLock_;
    wchar_t defaultLocalDir_[kLocalDirChars];
    char defaultResourceBase_[kResourceBaseBytes];
};

// What FileSrvStart creates unless a test sets another factory.
CCustomServerSocket* FileSrvCreateSessionServer();

// Copy into the server's defaults for new connections; nothing before FileSrvStart.
void FileSrvSetLocalDir(const wchar_t* directory);
// At most 127 bytes of address are kept.
void FileSrvSetResourceBase(const char* address);
// The hosts a connection may take its resource address from besides the content
// server's: the game page's (gamePageAddress) and those of hostList ("host" or
// "host:port", comma-separated; a host without a port stands for the default ports of
// http and https). Replaces the earlier ones; nothing before FileSrvStart.
void FileSrvSetResourceHosts(const char* gamePageAddress, const char* hostList);
// The files the launcher keeps in the cache directory for itself, which no GetFile
// reaches: names relative to the cache directory, and the new executables the self-update
// downloads, named by a decimal number followed by newExecutableName. Nothing before
// FileSrvStart.
void FileSrvSetLauncherFiles(const std::vector<std::wstring>& names, const std::wstring& newExecutableName);
