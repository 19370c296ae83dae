#include "connections/ConnectionUtil.h"

#include "gateway/Cgate.h"
#include "platform/CodePage.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace vorlen::conn {

namespace {
constexpr auto kProcessTimeout = std::chrono::milliseconds(1);
constexpr int kIdleSlices = 5; // of 1 ms each
} // namespace

std::string ConnectionString(const TConnectorSettings& s, std::string_view appPrefix,
                             std::string_view name) {
    std::string r = s.ConType + "://" + s.Host + ":" + s.Port + ";app_name=";
    r += appPrefix;
    r += s.ProgName + ";timeout=" + s.RoutTOut + ";local_timeout=" + s.LocTOut;
    if (s.ConType != "p2tcp") {
        r += ";lrpcq_buf=" + s.BuffSize;
    }
    r += ";name=";
    r += name;
    return r;
}

std::uint32_t ProcessConnection(cg_conn_t* conn) {
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t rc =
        CG().cg_conn_process(conn, static_cast<std::uint32_t>(kProcessTimeout.count()), nullptr);
    if (rc != CG_ERR_OK) {
        // A call that handled messages returns 0 and the next one follows at once; anything
        // else that came back early would turn the loop into a busy wait.
        const auto spent = std::chrono::steady_clock::now() - start;
        if (spent < kProcessTimeout) {
            std::this_thread::sleep_for(kProcessTimeout - spent);
        }
    }
    return rc;
}

void IdlePause(const TThread& thread) {
    for (int i = 0; i < kIdleSlices && !thread.Terminated(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string ToGateway(const std::string& utf8) {
    return platform::Utf8ToCp1251(utf8);
}

std::string FromGateway(const char* text, std::size_t maxLen) {
    if (text == nullptr) {
        return {};
    }
    const void* end = std::memchr(text, 0, maxLen);
    const std::size_t len =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : maxLen;
    return platform::Cp1251ToUtf8(std::string_view(text, len));
}

bool KeepConnectionOpen(const TThread& thread, cg_conn_t* conn, THealthFeed* feed) {
    std::uint32_t state = 0;
    if (CG().cg_conn_getstate(conn, &state) != CG_ERR_OK) {
        if (feed != nullptr) {
            feed->ConnState.store(-1, std::memory_order_relaxed);
        }
        IdlePause(thread);
        return false;
    }
    if (feed != nullptr) {
        // A connection that stays closed is asked to open on every pass; only a new opening,
        // after it had left the closed state, counts as an attempt.
        if (state == CG_STATE_CLOSED &&
            feed->ConnState.load(std::memory_order_relaxed) != CG_STATE_CLOSED) {
            feed->Attempts.fetch_add(1, std::memory_order_relaxed);
        }
        feed->ConnState.store(static_cast<int>(state), std::memory_order_relaxed);
    }
    switch (state) {
    case CG_STATE_ACTIVE:
        return true;
    case CG_STATE_CLOSED:
        CG().cg_conn_open(conn, nullptr);
        break;
    case CG_STATE_ERROR:
        CG().cg_conn_close(conn);
        break;
    default:
        break;
    }
    IdlePause(thread);
    return false;
}

void ReportRunStart(THealthFeed* feed) {
    if (feed != nullptr) {
        feed->Ready.store(false, std::memory_order_relaxed);
        feed->ConnState.store(-1, std::memory_order_relaxed);
        feed->Running.store(true, std::memory_order_release);
    }
}

void ReportRunEnd(THealthFeed* feed) {
    if (feed != nullptr) {
        feed->Running.store(false, std::memory_order_release);
    }
}

void CloseListener(cg_listener_t*& lsn) {
    if (lsn == nullptr) {
        return;
    }
    CG().cg_lsn_close(lsn);
    if (CG().cg_lsn_destroy != nullptr) {
        CG().cg_lsn_destroy(lsn);
    }
    lsn = nullptr;
}

void CloseConnection(cg_conn_t* conn) {
    if (conn == nullptr) {
        return;
    }
    CG().cg_conn_close(conn);
    if (CG().cg_conn_destroy != nullptr) {
        CG().cg_conn_destroy(conn);
    }
}

} // namespace vorlen::conn
