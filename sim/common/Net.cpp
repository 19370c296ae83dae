#include "Net.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>

namespace vsim::net {

#ifdef _WIN32
const Socket kInvalid = INVALID_SOCKET;
using pollfd_t = WSAPOLLFD;
static int DoPoll(pollfd_t* p, std::size_t n, int t) {
    return WSAPoll(p, static_cast<ULONG>(n), t);
}
static bool WouldBlock() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}
#else
const Socket kInvalid = -1;
using pollfd_t = pollfd;
static int DoPoll(pollfd_t* p, std::size_t n, int t) {
    return ::poll(p, static_cast<nfds_t>(n), t);
}
static bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS;
}
#endif

bool Init() {
#ifdef _WIN32
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
#else
    std::signal(SIGPIPE, SIG_IGN);
    return true;
#endif
}

static bool Resolve(const std::string& host, std::uint16_t port, sockaddr_in& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    const std::string h = host == "localhost" ? "127.0.0.1" : host;
    if (inet_pton(AF_INET, h.c_str(), &addr.sin_addr) == 1) {
        return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(h.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) {
        return false;
    }
    addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return true;
}

void Close(Socket s) {
    if (s == kInvalid) {
        return;
    }
#ifdef _WIN32
    closesocket(s);
#else
    ::close(s);
#endif
}

void Tune(Socket s) {
#ifdef _WIN32
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
#else
    fcntl(s, F_SETFL, fcntl(s, F_GETFL, 0) | O_NONBLOCK);
#endif
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    int size = 4 << 20;
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

Socket Listen(const std::string& host, std::uint16_t port, std::uint16_t* bound) {
    sockaddr_in addr;
    if (!Resolve(host, port, addr)) {
        return kInvalid;
    }
    Socket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kInvalid) {
        return kInvalid;
    }
#ifndef _WIN32
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 64) != 0) {
        Close(s);
        return kInvalid;
    }
    if (bound != nullptr) {
        socklen_t len = sizeof addr;
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
        *bound = ntohs(addr.sin_port);
    }
    Tune(s);
    return s;
}

Socket Accept(Socket listener) {
    Socket s = ::accept(listener, nullptr, nullptr);
    if (s != kInvalid) {
        Tune(s);
    }
    return s;
}

Socket ConnectStart(const std::string& host, std::uint16_t port) {
    sockaddr_in addr;
    if (!Resolve(host, port, addr)) {
        return kInvalid;
    }
    Socket s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == kInvalid) {
        return kInvalid;
    }
    Tune(s);
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && !WouldBlock()) {
        Close(s);
        return kInvalid;
    }
    return s;
}

int ConnectCheck(Socket s) {
    pollfd_t p{};
    p.fd = s;
    p.events = POLLOUT;
    const int r = DoPoll(&p, 1, 0);
    if (r < 0) {
        return -1;
    }
    if (r == 0) {
        return 0;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0 ||
        (p.revents & (POLLERR | POLLHUP)) != 0) {
        return -1;
    }
    return 1;
}

long Send(Socket s, const char* p, std::size_t n) {
#ifdef _WIN32
    const int r = ::send(s, p, static_cast<int>(n), 0);
#else
    const ssize_t r = ::send(s, p, n, MSG_NOSIGNAL);
#endif
    if (r < 0) {
        return WouldBlock() ? 0 : -1;
    }
    return static_cast<long>(r);
}

long Recv(Socket s, char* p, std::size_t n) {
#ifdef _WIN32
    const int r = ::recv(s, p, static_cast<int>(n), 0);
#else
    const ssize_t r = ::recv(s, p, n, 0);
#endif
    if (r < 0) {
        return WouldBlock() ? 0 : -1;
    }
    if (r == 0) {
        return -1;
    }
    return static_cast<long>(r);
}

int Poll(std::vector<PollItem>& items, int timeoutMs) {
    std::vector<pollfd_t> fds(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = items[i].s;
        fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) |
                                           (items[i].wantWrite ? POLLOUT : 0));
    }
    const int r = DoPoll(fds.data(), fds.size(), timeoutMs);
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].readable = (fds[i].revents & (POLLIN | POLLHUP)) != 0;
        items[i].writable = (fds[i].revents & POLLOUT) != 0;
        items[i].failed = (fds[i].revents & (POLLERR | POLLNVAL)) != 0;
    }
    return r;
}

bool WaitReadable(Socket s, int timeoutMs) {
    pollfd_t p{};
    p.fd = s;
    p.events = POLLIN;
    return DoPoll(&p, 1, timeoutMs) > 0;
}

bool WaitWritable(Socket s, int timeoutMs) {
    pollfd_t p{};
    p.fd = s;
    p.events = POLLOUT;
    return DoPoll(&p, 1, timeoutMs) > 0;
}

} // namespace vsim::net
