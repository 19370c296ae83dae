#include "platform/Loopback.h"

#include "platform/LoopbackIo.h"

#include <algorithm>

namespace vorlen::platform {

namespace {

namespace io = loopback;
using Clock = std::chrono::steady_clock;

// Waits in short slices so that a cancel request is seen within one of them.
constexpr std::chrono::milliseconds kSlice{50};

// True when the socket became ready before the deadline or the cancel request.
bool WaitFor(std::intptr_t s, bool forWrite, Clock::time_point deadline,
             const std::atomic<bool>* cancel) {
    for (;;) {
        if (cancel != nullptr && cancel->load())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        const int n = io::Poll(s, forWrite, std::min(left, kSlice));
        if (n != 0)
            return n > 0;
    }
}

} // namespace

TLoopbackLine::~TLoopbackLine() {
    Close();
}

void TLoopbackLine::Close() {
    if (FSocket != kNone)
        io::Close(FSocket);
    FSocket = kNone;
    FPending.clear();
}

bool TLoopbackLine::Connect(std::uint16_t port, std::chrono::milliseconds limit) {
    Close();
    bool connecting = false;
    const std::intptr_t s = io::Open(port, connecting);
    if (s == kNone)
        return false;
    if (connecting && !(WaitFor(s, true, Clock::now() + limit, nullptr) && io::Connected(s))) {
        io::Close(s);
        return false;
    }
    FSocket = s;
    return true;
}

std::optional<std::string> TLoopbackLine::Ask(const std::string& line,
                                              std::chrono::milliseconds limit,
                                              const std::atomic<bool>& cancel) {
    if (FSocket == kNone)
        return std::nullopt;
    const std::intptr_t s = FSocket;
    const auto deadline = Clock::now() + limit;
    // A late reply would be taken for the answer to the next line: whatever fails closes.
    const auto fail = [this]() -> std::optional<std::string> {
        Close();
        return std::nullopt;
    };
    const std::string out = line + "\n";
    std::size_t sent = 0;
    while (sent < out.size()) {
        std::size_t n = 0;
        switch (io::Send(s, out.data() + sent, out.size() - sent, n)) {
        case io::TIo::Done:
            sent += n;
            break;
        case io::TIo::Again:
            if (!WaitFor(s, true, deadline, &cancel))
                return fail();
            break;
        case io::TIo::Failed:
            return fail();
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
        if (!WaitFor(s, false, deadline, &cancel))
            return fail();
        char buffer[512];
        std::size_t n = 0;
        const io::TIo r = io::Receive(s, buffer, sizeof buffer, n);
        if (r == io::TIo::Failed || (r == io::TIo::Done && n == 0))
            return fail();
        FPending.append(buffer, n);
    }
}

} // namespace vorlen::platform
