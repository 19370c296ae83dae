#include "platform/LoopbackIo.h"

#include <mutex>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace vorlen::platform::loopback {

namespace {

bool StartSockets() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

SOCKET Sock(std::intptr_t s) {
    return static_cast<SOCKET>(s);
}

TIo Result(int n, std::size_t& moved) {
    if (n >= 0) {
        moved = static_cast<std::size_t>(n);
        return TIo::Done;
    }
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR ? TIo::Again : TIo::Failed;
}

} // namespace

std::intptr_t Open(std::uint16_t port, bool& connecting) {
    if (!StartSockets())
        return kNone;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kNone;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    connecting = false;
    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
        return static_cast<std::intptr_t>(s);
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
        connecting = true;
        return static_cast<std::intptr_t>(s);
    }
    closesocket(s);
    return kNone;
}

bool Connected(std::intptr_t s) {
    int error = 0;
    int size = sizeof error;
    return getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
           error == 0;
}

void Close(std::intptr_t s) {
    closesocket(Sock(s));
}

TIo Send(std::intptr_t s, const char* data, std::size_t size, std::size_t& moved) {
    return Result(send(Sock(s), data, static_cast<int>(size), 0), moved);
}

TIo Receive(std::intptr_t s, char* data, std::size_t size, std::size_t& moved) {
    return Result(recv(Sock(s), data, static_cast<int>(size), 0), moved);
}

int Poll(std::intptr_t s, bool forWrite, std::chrono::milliseconds wait) {
    const short events = forWrite ? POLLWRNORM : POLLRDNORM;
    WSAPOLLFD p{Sock(s), events, 0};
    const int n = WSAPoll(&p, 1, static_cast<int>(wait.count()));
    if (n > 0)
        return (p.revents & (events | POLLHUP | POLLERR)) != 0 ? 1 : -1;
    return n;
}

} // namespace vorlen::platform::loopback
