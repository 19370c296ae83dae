#include "platform/LoopbackIo.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorlen::platform::loopback {

namespace {

int Fd(std::intptr_t s) {
    return static_cast<int>(s);
}

bool Transient() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

TIo Result(ssize_t n, std::size_t& moved) {
    if (n >= 0) {
        moved = static_cast<std::size_t>(n);
        return TIo::Done;
    }
    return Transient() ? TIo::Again : TIo::Failed;
}

} // namespace

std::intptr_t Open(std::uint16_t port, bool& connecting) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kNone;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    connecting = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    if (errno == EINPROGRESS) {
        connecting = true;
        return fd;
    }
    ::close(fd);
    return kNone;
}

bool Connected(std::intptr_t s) {
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

void Close(std::intptr_t s) {
    ::close(Fd(s));
}

TIo Send(std::intptr_t s, const char* data, std::size_t size, std::size_t& moved) {
    return Result(::send(Fd(s), data, size, MSG_NOSIGNAL), moved);
}

TIo Receive(std::intptr_t s, char* data, std::size_t size, std::size_t& moved) {
    return Result(::recv(Fd(s), data, size, 0), moved);
}

int Poll(std::intptr_t s, bool forWrite, std::chrono::milliseconds wait) {
    pollfd p{Fd(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int n = ::poll(&p, 1, static_cast<int>(wait.count()));
    return n < 0 && errno == EINTR ? 0 : (n > 0 ? 1 : n);
}

} // namespace vorlen::platform::loopback
