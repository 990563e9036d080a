#include "server/server_socket.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "ravlib/log.h"
#include "ravlib/tick.h"

using ravlib::LogError;
using ravlib::LogMessage;
using ravlib::sync::lock::CAutoLock;

namespace {

void CopyName(wchar_t* destination, const wchar_t* text) {
    const size_t limit = CCustomServerSocket::kNameChars - 1;
    size_t n = text ? wcsnlen(text, limit) : 0;
    if (n) wmemcpy(destination, text, n);
    destination[n] = L'\0';
}

// Errors of the listening socket itself: the accept thread cannot go on.
bool ListeningSocketFailed(int code) {
    switch (code) {
    case WSAENOTSOCK:
    case WSAEINVAL:
    case WSAEOPNOTSUPP:
    case WSAEFAULT:
    case WSAEBADF:
    case WSANOTINITIALISED:
        return true;
    default:
        return false;
    }
}

bool IsResourceShortage(int code) {
    return code == WSAEMFILE || code == WSAENOBUFS;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// CCustomServerClientSocket

CCustomServerClientSocket::CCustomServerClientSocket() {
    memset(&peer_, 0, sizeof peer_);
    peerText_[0] = L'\0';
}

CCustomServerClientSocket::~CCustomServerClientSocket() {}

void CCustomServerClientSocket::Init(SOCKET handle, const sockaddr_in* peer) {
    connectTick_ = ravlib::GetTickMs();
    lastActivity_ = connectTick_;
    Attach(handle);
    if (peer) {
        peer_ = *peer;
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&peer_.sin_addr);
        _snwprintf(peerText_, 127, L"%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
        peerText_[127] = L'\0';
        peerPort_ = ntohs(peer_.sin_port);
    } else {
        memset(&peer_, 0, sizeof peer_);
        peerText_[0] = L'\0';
        peerPort_ = 0;
    }
}

void CCustomServerClientSocket::Process() {
    CCustomWorkSocket::Process();
    if (idleCheck_ && IsConnected() && ravlib::GetTickMs() - lastActivity_ >= kIdleLimitMs)
        OnIdleTimeout();
}

// ---------------------------------------------------------------------------------------
// CCustomServerSocket

CCustomServerSocket::CCustomServerSocket() : clients_(&clientsLock_) {
    name_[0] = L'\0';
    CopyName(host_, L"0.0.0.0");
}

CCustomServerSocket::~CCustomServerSocket() {
    Stop();
    // Connections accepted while no data thread ran are still waiting in the queue.
    CCustomServerSocket::CloseAllClients();
}

void CCustomServerSocket::SetName(const wchar_t* name) {
    CopyName(name_, name);
}

void CCustomServerSocket::SetHost(const wchar_t* host) {
    CopyName(host_, host);
}

void CCustomServerSocket::Process() {
    ProcessClients();
    OnIdle();
}

bool CCustomServerSocket::Start() {
    if (InterlockedCompareExchange(&acceptStop_, 0, 1) != 1) return true;
    bool started = false;
    int error = Create();
    if (error) {
        LogError(error, L"创建%ls服务套接字失败", name_);
    } else if (port_ < 0 || port_ > 65535) {
        LogError(WSAEINVAL, L"绑定%ls服务器套接字到%ls:%d失败", name_, host_, port_);
    } else if ((error = Bind(host_, port_)) != 0) {
        LogError(error, L"绑定%ls服务器套接字到%ls:%d失败", name_, host_, port_);
    } else if ((error = Listen(5)) != 0) {
        LogError(error, L"无法在%ls:%d端口监听%ls服务", host_, port_, name_);
    } else if (CanStart()) {
        // A data thread of an earlier run may still be waiting to notice its end.
        JoinThread(dataThread_, L"data");
        InterlockedExchange(&stopped_, 0);
        acceptThread_.Reset(CreateThread(nullptr, 0, AcceptThreadRoutine, this, 0, nullptr));
        if (acceptThread_.valid()) {
            started = true;
        } else {
            LogError(static_cast<int>(GetLastError()), L"创建%ls服务器连接接受线程失败", name_);
            InterlockedExchange(&stopped_, 1);
        }
    }
    if (!started) {
        // Nothing runs: leave the server stopped, with no socket.
        Close();
        InterlockedExchange(&acceptStop_, 1);
    }
    return started;
}

void CCustomServerSocket::JoinThread(CHandle& thread, const wchar_t* what) {
    if (!thread.valid()) return;
    if (WaitForSingleObject(thread.get(), kThreadWaitMs) == WAIT_TIMEOUT) {
        // Deleting the server under a running thread would be fatal: wait it out.
        LogMessage(ravlib::kLogError, L"%ls服务器的%ls线程在%d毫秒内未结束，继续等待", name_,
                   what, static_cast<int>(kThreadWaitMs));
        WaitForSingleObject(thread.get(), INFINITE);
    }
    thread.Reset();
}

void CCustomServerSocket::WakeAcceptThread() {
    if (handle_ == INVALID_SOCKET) return;
    sockaddr_in target = localAddress_;
    if (target.sin_addr.s_addr == htonl(INADDR_ANY)) target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SOCKET poke = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (poke == INVALID_SOCKET) return;
    u_long nonBlocking = 1;
    ioctlsocket(poke, FIONBIO, &nonBlocking);
    if (connect(poke, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
        WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(poke, &writable);
        timeval timeout = {0, 500 * 1000};
        select(0, nullptr, &writable, nullptr, &timeout);
    }
    closesocket(poke);
}

void CCustomServerSocket::Stop() {
    if (InterlockedCompareExchange(&acceptStop_, 1, 0) != 0) return;
    if (acceptThread_.valid()) {
        WakeAcceptThread();
        JoinThread(acceptThread_, L"accept");
    }
    // The accept thread sets stopped when it ends; set it here too, for a start whose
    // accept thread never ran.
    InterlockedExchange(&stopped_, 1);
    WakeDataThread();
    if (handle_ != INVALID_SOCKET) Close();
    JoinThread(dataThread_, L"data");
    OnStopped();
}

bool CCustomServerSocket::StartDataThread() {
    if (dataThread_.valid()) {
        if (WaitForSingleObject(dataThread_.get(), 0) == WAIT_TIMEOUT) return true;
        dataThread_.Reset();  // it has ended (the server was stopped meanwhile)
    }
    if (stopped_ != 0) return false;
    dataThread_.Reset(CreateThread(nullptr, 0, DataThreadRoutine, this, 0, nullptr));
    if (!dataThread_.valid()) {
        LogError(static_cast<int>(GetLastError()), L"创建%ls服务器数据处理线程失败", name_);
        return false;
    }
    return true;
}

DWORD WINAPI CCustomServerSocket::AcceptThreadRoutine(void* self) {
    static_cast<CCustomServerSocket*>(self)->AcceptLoop();
    return 0;
}

DWORD WINAPI CCustomServerSocket::DataThreadRoutine(void* self) {
    static_cast<CCustomServerSocket*>(self)->DataLoop();
    return 0;
}

void CCustomServerSocket::AcceptLoop() {
    while (acceptStop_ == 0) {
        SOCKET handle = INVALID_SOCKET;
        sockaddr_in peer;
        memset(&peer, 0, sizeof peer);
        int result = AcceptWithTimeout(&handle, kAcceptWaitMs, &peer);
        if (result == -2) continue;
        if (result != 0) {
            LogError(result, L"CCustomServerSocket::ServerSocketAcceptThreadRoutine错误");
            if (ListeningSocketFailed(result)) {
                Sleep(1000);
                break;
            }
            // The error concerns the one pending connection (reset or aborted before it
            // was taken) or a passing shortage: the server goes on taking connections.
            Sleep(IsResourceShortage(result) ? 1000 : 1);
            continue;
        }
        if (acceptStop_ != 0) {
            closesocket(handle);
            break;
        }
        // Only live connections keep a newcomer out: the data thread ends a lingering
        // one to make room for it.
        const int live = LiveClientCount();
        if (live >= clientLimit_) {
            LogMessage(ravlib::kLogError, L"%ls server holds %d live connections (limit %d), closing a new one",
                       name_, live, clientLimit_);
            closesocket(handle);
            continue;
        }
        CCustomServerClientSocket* client = CreateClient(handle, &peer);
        if (!client) {
            closesocket(handle);
            continue;
        }
        int error = client->SetBlocking(false);
        if (error) {
            LogError(error, L"无法将%ls套接字接受的连接设置为非阻塞模式", name_);
            DeleteClient(client);
            continue;
        }
        if ((error = client->SetRecvBufferSize(kSocketBuffer)) != 0)
            LogError(error, L"无法将%ls套接字接受的连接调整接受缓冲区大小", name_);
        if ((error = client->SetSendBufferSize(kSocketBuffer)) != 0)
            LogError(error, L"无法将%ls套接字接受的连接调整发送缓冲区大小", name_);
        OnClientAccepted(client);
        if (!client->IsConnected() || !clients_.Push(client)) {
            DeleteClient(client);
        } else {
            WakeDataThread();
            LogMessage(ravlib::kLogInfo, L"接入新连接");
        }
        Sleep(1);
    }
    InterlockedExchange(&stopped_, 1);
}

void CCustomServerSocket::DataLoop() {
    OnThreadStart();
    while (stopped_ == 0) {
        const uint64_t start = ravlib::GetTickMs();
        Process();
        int done = 1;
        bool overran = ravlib::GetTickMs() - start >= period_;
        while (!overran && done < passes_ && stopped_ == 0) {
            Process();
            ++done;
            overran = ravlib::GetTickMs() - start >= period_;
        }
        if (overran) {
            Sleep(1);
            continue;
        }
        uint64_t left = period_ - (ravlib::GetTickMs() - start);
        Sleep(static_cast<DWORD>(left < 20 ? left : 20));
    }
    OnThreadEnd();
    CloseAllClients();
}

void CCustomServerSocket::ProcessClients() {
    clients_.Merge();
    MakeRoom();
    for (int32_t i = clients_.Count() - 1; i >= 0; --i) {
        CCustomServerClientSocket* client = clients_[i];
        client->Process();
        if (client->IsConnected()) continue;
        const uint64_t now = ravlib::GetTickMs();
        if (!client->HasEnded()) {
            client->MarkEnded(now);
            CAutoLock guard(&clientsLock_);
            ++lingering_;
        }
        if (now - client->EndedTick() < lingerMs_) continue;
        {
            CAutoLock guard(&clientsLock_);
            clients_.RemoveAt(i);
            --lingering_;
        }
        DeleteClient(client);
    }
}

void CCustomServerSocket::MakeRoom() {
    while (clients_.Count() > clientLimit_) {
        int32_t oldest = -1;
        for (int32_t i = 0; i < clients_.Count(); ++i) {
            const CCustomServerClientSocket* client = clients_[i];
            if (client->HasEnded() && (oldest < 0 || client->EndedTick() < clients_[oldest]->EndedTick()))
                oldest = i;
        }
        if (oldest < 0) return;
        CCustomServerClientSocket* client = clients_[oldest];
        {
            CAutoLock guard(&clientsLock_);
            clients_.RemoveAt(oldest);
            --lingering_;
        }
        LogMessage(ravlib::kLogInfo, L"%ls server ends the lingering connection of %ls:%d to make room",
                   name_, client->PeerText(), client->PeerPort());
        DeleteClient(client);
    }
}

void CCustomServerSocket::CloseAllClients() {
    CAutoLock guard(&clientsLock_);
    clients_.Merge();
    for (int32_t i = clients_.Count() - 1; i >= 0; --i) {
        CCustomServerClientSocket* client = clients_[i];
        client->Close();
        DeleteClient(client);
    }
    clients_.RemoveFront(clients_.Count());
    lingering_ = 0;
}

int CCustomServerSocket::ClientCount() {
    CAutoLock guard(&clientsLock_);
    return clients_.Count() + clients_.Incoming().Count();
}

int CCustomServerSocket::LiveClientCount() {
    CAutoLock guard(&clientsLock_);
    return clients_.Count() + clients_.Incoming().Count() - lingering_;
}
