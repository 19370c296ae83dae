#include "platform/Loopback.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorlen::platform {

namespace {

// Waits in short slices so that a cancel request is seen within one of them.
constexpr int kSliceMs = 50;

int Fd(std::intptr_t s) {
    return static_cast<int>(s);
}

// True when `events` arrived on the socket before the deadline or the cancel request.
bool WaitFor(int fd, short events, std::chrono::steady_clock::time_point deadline,
             const std::atomic<bool>* cancel) {
    for (;;) {
        if (cancel != nullptr && cancel->load())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), kSliceMs)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

TLoopbackLine::~TLoopbackLine() {
    Close();
}

void TLoopbackLine::Close() {
    if (FSocket != kNone)
        ::close(Fd(FSocket));
    FSocket = kNone;
    FPending.clear();
}

bool TLoopbackLine::Connect(std::uint16_t port, std::chrono::milliseconds limit) {
    Close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok && errno == EINPROGRESS &&
        WaitFor(fd, POLLOUT, std::chrono::steady_clock::now() + limit, nullptr)) {
        int error = 0;
        socklen_t size = sizeof error;
        ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    if (!ok) {
        ::close(fd);
        return false;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FSocket = fd;
    return true;
}

std::optional<std::string> TLoopbackLine::Ask(const std::string& line,
                                              std::chrono::milliseconds limit,
                                              const std::atomic<bool>& cancel) {
    if (FSocket == kNone)
        return std::nullopt;
    const int fd = Fd(FSocket);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string out = line + "\n";
    std::size_t sent = 0;
    while (sent < out.size()) {
        const ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            if (!WaitFor(fd, POLLOUT, deadline, &cancel)) {
                Close();
                return std::nullopt;
            }
        } else {
            Close();
            return std::nullopt;
        }
    }
    for (;;) {
        if (const std::size_t end = FPending.find('\n'); end != std::string::npos) {
            std::string reply = FPending.substr(0, end);
            FPending.erase(0, end + 1);
            if (!reply.empty() && reply.back() == '\r')
                reply.pop_back();
            return reply;
        }
        if (!WaitFor(fd, POLLIN, deadline, &cancel)) {
            Close();
            return std::nullopt;
        }
        char buffer[512];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            FPending.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            Close();
            return std::nullopt;
        }
    }
}

} // namespace vorlen::platform
