// The listening side of the local resource server's TCP framework.
//
// CCustomServerSocket listens, and runs two threads: the accept thread takes
// connections, configures them (non-blocking, 32768-byte kernel buffers) and hands them
// over through a locked queue; the data thread walks all connections in passes (bursts
// of `passes` passes per `period`, sleeping at most 20 ms between bursts) and is the
// only thread that receives, parses and flushes. CCustomServerClientSocket is the
// accepted connection.
//
// Lifetime: Stop returns only when both threads have ended (it waits 2000 ms for each,
// logs when that is not enough, and then waits on), so a stopped server may be deleted.
// A subclass that replaces hooks the threads call must call Stop in its own destructor,
// before its part of the object is gone. Stop is for the thread that started the
// server; the server's own threads must not call it (it waits for them).
//
// Accept errors that concern one pending connection (reset or aborted before it was
// taken) or a passing shortage of sockets are logged and the accept thread goes on;
// only errors of the listening socket itself end it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <stdint.h>

#include "framework/handles.h"
#include "ravlib/list.h"
#include "ravlib/lock.h"
#include "server/work_socket.h"

class CCustomServerClientSocket : public CCustomWorkSocket {
public:
    enum { kIdleLimitMs = 30000 };

    CCustomServerClientSocket();
    ~CCustomServerClientSocket() override;

    // Takes over an accepted handle: connectTick (and lastActivity) = now, Attach, and
    // the peer's address and port (zero without a peer).
    void Init(SOCKET handle, const sockaddr_in* peer);

    // The work-socket pass; then, when idleCheck is set and the connection has been
    // idle for 30000 ms, OnIdleTimeout (on every pass while that holds).
    void Process() override;
    virtual void OnIdleTimeout() {}

    const wchar_t* PeerText() const { return peerText_; }
    int PeerPort() const { return peerPort_; }
    const sockaddr_in& Peer() const { return peer_; }
    void SetIdleCheck(bool check) { idleCheck_ = check; }
    // Whether, and at which tick, the data thread found the connection ended.
    bool HasEnded() const { return ended_; }
    uint64_t EndedTick() const { return endedTick_; }
    void MarkEnded(uint64_t tick) {
        ended_ = true;
        endedTick_ = tick;
    }

protected:
    sockaddr_in peer_;
    wchar_t peerText_[128];
    int peerPort_ = 0;
    bool idleCheck_ = true;
    bool ended_ = false;
    uint64_t endedTick_ = 0;
};

class CCustomServerSocket : public CCustomWorkSocket {
public:
    enum {
        kNameChars = 256,
        kAcceptWaitMs = 3000,
        kThreadWaitMs = 2000,
        kSocketBuffer = 32768,
        // The most connections held at once, those that linger after they ended
        // included. A newcomer beyond it takes the place of the connection that ended
        // first; when none has ended, the newcomer is closed as soon as it is accepted.
        kDefaultClientLimit = 256,
    };

    CCustomServerSocket();
    // Stops the server and deletes the connections it still holds.
    ~CCustomServerSocket() override;

    // ProcessClients, then OnIdle.
    void Process() override;

    // A new connection object for an accepted handle (accept thread), or null to
    // refuse it.
    virtual CCustomServerClientSocket* CreateClient(SOCKET handle, const sockaddr_in* peer) = 0;
    virtual void DeleteClient(CCustomServerClientSocket* client) { delete client; }
    // Data thread start and end.
    virtual void OnThreadStart() {}
    virtual void OnThreadEnd() {}
    // Ends a wait of the data thread between passes at once (any thread); called when a
    // connection has been handed over and when the server stops. Default: nothing.
    virtual void WakeDataThread() {}
    // A configured connection, before it is handed to the data thread (accept thread).
    virtual void OnClientAccepted(CCustomServerClientSocket* client) { (void)client; }
    // Asked by Start after the socket listens; false refuses the start.
    virtual bool CanStart() { return true; }
    // The last step of Stop.
    virtual void OnStopped() {}
    // Takes the new connections, processes every connection from the last to the
    // first and deletes those that have ended and lingered their time.
    virtual void ProcessClients();
    // Closes and deletes every connection (new ones included).
    virtual void CloseAllClients();

    // Set before Start by the thread that starts the server. Name and host keep at
    // most 255 characters.
    void SetName(const wchar_t* name);
    void SetHost(const wchar_t* host);
    void SetPort(int port) { port_ = port; }
    // Create, bind, listen, start the accept thread. True when the server listens (or
    // already did). A failed start leaves the server stopped.
    bool Start();
    // Ends both threads and closes the listening socket; returns at once when the
    // server is not started.
    void Stop();
    // Starts the data thread once; true when it runs. False when the server is not
    // started or the thread cannot be created.
    bool StartDataThread();

    const wchar_t* Name() const { return name_; }
    const wchar_t* Host() const { return host_; }
    int Port() const { return port_; }
    // The port the socket is bound to (0 when not bound).
    int BoundPort() const { return ntohs(localAddress_.sin_port); }
    bool IsStarted() const { return acceptStop_ == 0; }
    // Connections held by the data thread plus those waiting to be taken.
    int ClientCount();
    // ClientCount without the connections that linger after they ended.
    int LiveClientCount();
    // Set before Start.
    void SetClientLimit(int limit) { clientLimit_ = limit; }
    // How long an ended connection is kept (answering nothing) before it is deleted;
    // 0, the default, deletes it in the pass that finds it ended. Set before Start.
    void SetLinger(uint64_t ms) { lingerMs_ = ms; }
    void SetPacing(int passes, uint64_t periodMs) {
        passes_ = passes;
        period_ = periodMs;
    }

protected:
    volatile LONG acceptStop_ = 1;
    volatile LONG stopped_ = 1;
    wchar_t name_[kNameChars];
    wchar_t host_[kNameChars];
    int port_ = 0;
    CHandle acceptThread_;
    CHandle dataThread_;
    int clientLimit_ = kDefaultClientLimit;
    uint64_t lingerMs_ = 0;
    int32_t lingering_ = 0;  // ended connections in clients_, under clientsLock_
    int passes_ = 5;
    uint64_t period_ = 300;
    ravlib::sync::lock::CCSLock clientsLock_;
    CDrainQueue<CCustomServerClientSocket*> clients_;

private:
    static DWORD WINAPI AcceptThreadRoutine(void* self);
    static DWORD WINAPI DataThreadRoutine(void* self);
    void AcceptLoop();
    void DataLoop();
    // Ends a wait of the accept thread at once by connecting to the listening socket.
    void WakeAcceptThread();
    void JoinThread(CHandle& thread, const wchar_t* what);
    // While more connections are held than the limit allows, deletes the one that
    // ended first (data thread).
    void MakeRoom();
};
