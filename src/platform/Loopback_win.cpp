#include "platform/Loopback.h"

#include <algorithm>
#include <mutex>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace vorlen::platform {

namespace {

constexpr int kSliceMs = 50;

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

bool WaitFor(SOCKET s, short events, std::chrono::steady_clock::time_point deadline,
             const std::atomic<bool>* cancel) {
    for (;;) {
        if (cancel != nullptr && cancel->load())
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        WSAPOLLFD p{s, events, 0};
        const int n = WSAPoll(&p, 1, static_cast<int>(std::min<long long>(left.count(), kSliceMs)));
        if (n > 0)
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (n < 0)
            return false;
    }
}

bool WouldBlock() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}

} // namespace

TLoopbackLine::~TLoopbackLine() {
    Close();
}

void TLoopbackLine::Close() {
    if (FSocket != kNone)
        closesocket(Sock(FSocket));
    FSocket = kNone;
    FPending.clear();
}

bool TLoopbackLine::Connect(std::uint16_t port, std::chrono::milliseconds limit) {
    Close();
    if (!StartSockets())
        return false;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    bool ok = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok && WSAGetLastError() == WSAEWOULDBLOCK &&
        WaitFor(s, POLLWRNORM, std::chrono::steady_clock::now() + limit, nullptr)) {
        int error = 0;
        int size = sizeof error;
        ok = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
             error == 0;
    }
    if (!ok) {
        closesocket(s);
        return false;
    }
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    FSocket = static_cast<std::intptr_t>(s);
    return true;
}

std::optional<std::string> TLoopbackLine::Ask(const std::string& line,
                                              std::chrono::milliseconds limit,
                                              const std::atomic<bool>& cancel) {
    if (FSocket == kNone)
        return std::nullopt;
    const SOCKET s = Sock(FSocket);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const std::string out = line + "\n";
    std::size_t sent = 0;
    while (sent < out.size()) {
        const int n = send(s, out.data() + sent, static_cast<int>(out.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && WouldBlock()) {
            if (!WaitFor(s, POLLWRNORM, deadline, &cancel)) {
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
        if (!WaitFor(s, POLLRDNORM, deadline, &cancel)) {
            Close();
            return std::nullopt;
        }
        char buffer[512];
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n > 0) {
            FPending.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || !WouldBlock()) {
            Close();
            return std::nullopt;
        }
    }
}

} // namespace vorlen::platform
