#include "server/custom_socket.h"

#include <string.h>

#include "ravlib/strings.h"

namespace ravlib {
namespace inet {
namespace socket {

CCustomSocket::CCustomSocket() : handle_(INVALID_SOCKET), blocking_(true), connected_(false) {
    memset(&localAddress_, 0, sizeof localAddress_);
    localAddress_.sin_family = AF_INET;
}

CCustomSocket::~CCustomSocket() {
    if (handle_ != INVALID_SOCKET) Close();
}

void CCustomSocket::HandleError(int code) {
    OnError(code);
    Close();
}

int CCustomSocket::Create() {
    SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET) return WSAGetLastError();
    if (handle_ != INVALID_SOCKET) Close();
    handle_ = handle;
    return 0;
}

int CCustomSocket::Bind(const wchar_t* host, int port) {
    string::CWideString wide(host);
    string::CAnsiString ansi;
    wide.ToAnsi(&ansi);
    hostent* entry = gethostbyname(ansi.c_str());
    if (!entry) {
        int code = WSAGetLastError();
        return code ? code : WSAHOST_NOT_FOUND;
    }
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list ||
        !entry->h_addr_list[0])
        return WSAHOST_NOT_FOUND;
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    memcpy(&address.sin_addr, entry->h_addr_list[0], 4);
    address.sin_port = htons(static_cast<u_short>(port));
    if (::bind(handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return WSAGetLastError();
    // The port actually bound (differs from the request only for port 0).
    sockaddr_in bound;
    int length = sizeof bound;
    if (getsockname(handle_, reinterpret_cast<sockaddr*>(&bound), &length) == 0 &&
        bound.sin_family == AF_INET)
        address.sin_port = bound.sin_port;
    localAddress_ = address;
    return 0;
}

int CCustomSocket::Listen(int backlog) {
    return ::listen(handle_, backlog) == 0 ? 0 : WSAGetLastError();
}

int CCustomSocket::AcceptWithTimeout(SOCKET* handle, DWORD milliseconds, sockaddr_in* peer) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle_, &readable);
    timeval timeout;
    timeout.tv_sec = static_cast<long>(milliseconds / 1000);
    timeout.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    int ready = ::select(0, &readable, nullptr, nullptr, &timeout);
    if (ready == 0) return -2;
    if (ready < 0) return WSAGetLastError();
    sockaddr_in from;
    int length = sizeof from;
    SOCKET accepted = ::accept(handle_, reinterpret_cast<sockaddr*>(&from), &length);
    if (accepted == INVALID_SOCKET) return WSAGetLastError();
    if (handle) {
        *handle = accepted;
    } else {
        closesocket(accepted);
    }
    if (peer) *peer = from;
    return 0;
}

int CCustomSocket::Attach(SOCKET handle) {
    if (handle_ != INVALID_SOCKET && handle_ != handle) Close();
    handle_ = handle;
    if (handle == INVALID_SOCKET) {
        connected_ = false;
        return 0;
    }
    connected_ = true;
    u_long nonBlocking = blocking_ ? 0 : 1;
    return ioctlsocket(handle_, FIONBIO, &nonBlocking) == 0 ? 0 : WSAGetLastError();
}

int CCustomSocket::SetBlocking(bool blocking) {
    if (blocking == blocking_) return 0;
    if (handle_ != INVALID_SOCKET) {
        u_long nonBlocking = blocking ? 0 : 1;
        if (ioctlsocket(handle_, FIONBIO, &nonBlocking) != 0) return WSAGetLastError();
    }
    blocking_ = blocking;
    return 0;
}

int CCustomSocket::SetRecvBufferSize(int bytes) {
    return setsockopt(handle_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0
               ? 0
               : WSAGetLastError();
}

int CCustomSocket::SetSendBufferSize(int bytes) {
    return setsockopt(handle_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0
               ? 0
               : WSAGetLastError();
}

void CCustomSocket::Close() {
    if (handle_ != INVALID_SOCKET) {
        // connected is cleared before the hook runs, so a hook that closes again does
        // not notify twice.
        bool wasConnected = connected_;
        connected_ = false;
        if (wasConnected) NotifyDisconnected();
        if (handle_ != INVALID_SOCKET) {
            closesocket(handle_);
            handle_ = INVALID_SOCKET;
        }
    }
    connected_ = false;
    blocking_ = true;
}

int CCustomSocket::Recv(void* buffer, int size, int flags) {
    int n = ::recv(handle_, static_cast<char*>(buffer), size, flags);
    if (n == 0) {
        Close();
        return 0;
    }
    if (n < 0) {
        int code = WSAGetLastError();
        if (blocking_) return n;
        if (code == WSAEWOULDBLOCK) return -2;
        HandleError(code);
        return -1;
    }
    return n;
}

int CCustomSocket::Send(const void* data, int length, int flags) {
    const char* bytes = static_cast<const char*>(data);
    int sent = 0;
    while (sent < length) {
        int n = ::send(handle_, bytes + sent, length - sent, flags);
        if (n == 0) {
            Close();
            return 0;
        }
        if (n < 0) {
            int code = WSAGetLastError();
            if (blocking_) return sent;
            if (code == WSAEWOULDBLOCK) return sent > 0 ? sent : -2;
            HandleError(code);
            return -1;
        }
        sent += n;
    }
    return sent;
}

}  // namespace socket
}  // namespace inet
}  // namespace ravlib
