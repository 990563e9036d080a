// The socket base class of the local resource server's TCP framework: one Winsock
// handle with its local address, blocking mode and connected state, and virtual hooks
// that subclasses replace (connected, disconnected, error, receive, send).
//
// Every operation that calls Winsock returns 0 on success or the Winsock error code.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace ravlib {
namespace inet {
namespace socket {

class CCustomSocket {
public:
    CCustomSocket();
    CCustomSocket(const CCustomSocket&) = delete;
    CCustomSocket& operator=(const CCustomSocket&) = delete;

    // Hooks, no action by default.
    virtual void OnConnected() {}
    virtual void OnDisconnected() {}
    virtual void OnError(int code) { (void)code; }
    // Called by the socket itself: NotifyConnected calls OnConnected,
    // NotifyDisconnected calls OnDisconnected (from Close, once per connection).
    virtual void NotifyConnected() { OnConnected(); }
    virtual void NotifyDisconnected() { OnDisconnected(); }
    // OnError (code), then Close.
    virtual void HandleError(int code);
    // Closes the handle when one is held.
    virtual ~CCustomSocket();

    // recv. Returns the byte count (> 0); 0 when the peer closed (the socket is then
    // closed). On a blocking socket an error gives the negative result as is; on a
    // non-blocking one "would block" gives -2 and any other error closes the socket
    // (HandleError) and gives -1.
    virtual int Recv(void* buffer, int size, int flags);
    // send until all bytes are gone. Returns the byte count; 0 when a send call moved
    // nothing (the socket is then closed). On an error a blocking socket returns what
    // was sent so far; a non-blocking one returns what was sent so far, or -2 when
    // nothing was, on "would block", and closes the socket (HandleError) and returns
    // -1 on any other error.
    virtual int Send(const void* data, int length, int flags);

    // A TCP socket of family AF_INET.
    int Create();
    // Resolves host (converted to the ANSI code page) and binds the first address
    // found with port. On success the bound address (with the port actually bound)
    // becomes the local address.
    int Bind(const wchar_t* host, int port);
    int Listen(int backlog);
    // Waits until the listening handle is readable, at most milliseconds; -2 when the
    // time ran out, otherwise accepts into *handle (and *peer when given) and returns 0
    // or the error.
    int AcceptWithTimeout(SOCKET* handle, DWORD milliseconds, sockaddr_in* peer);
    // Takes handle over (a handle already held is closed first). A valid handle marks
    // the socket connected and gets the socket's blocking mode.
    int Attach(SOCKET handle);
    int SetBlocking(bool blocking);
    int SetRecvBufferSize(int bytes);
    int SetSendBufferSize(int bytes);
    // With a handle: NotifyDisconnected when connected, then closesocket. Afterwards
    // the socket holds no handle, is not connected and is in blocking mode.
    void Close();

    SOCKET GetHandle() const { return handle_; }
    bool IsConnected() const { return connected_; }
    bool IsBlocking() const { return blocking_; }
    const sockaddr_in& GetLocalAddress() const { return localAddress_; }

protected:
    SOCKET handle_;
    sockaddr_in localAddress_;
    bool blocking_;
    bool connected_;
};

}  // namespace socket
}  // namespace inet
}  // namespace ravlib
