#pragma once

// What the market-data and the transaction connection threads share: the connection string,
// the pacing of their polling loops, the text conversions at the gateway boundary, and the
// registry through which a listener callback finds the connection it belongs to.

#include "gateway/GatewayCInterface.h"
#include "health/HealthFeed.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen::conn {

// ConType://Host:Port;app_name=<appPrefix>ProgName;timeout=..;local_timeout=..[;lrpcq_buf=..]
// ;name=<name>. Only the exact "p2tcp" goes without the lrpcq buffer size.
std::string ConnectionString(const TConnectorSettings& s, std::string_view appPrefix,
                             std::string_view name);

// 0 and "nothing happened within the timeout" are the normal results of cg_conn_process.
inline bool ProcessResultOk(std::uint32_t rc) {
    return rc == CG_ERR_OK || rc == CG_ERR_TIMEOUT;
}

// One cg_conn_process call with the 1 ms timeout. A gateway that reports "nothing done" (or an
// error) sooner than the timeout would have the loop spin, so such a call is padded to 1 ms.
std::uint32_t ProcessConnection(cg_conn_t* conn);

// The pause that ends a pass while a connection is not active (or its state is unknown): a few
// milliseconds, cut short by a terminate request. Without it a closed or opening connection
// would be polled as fast as the CPU allows.
void IdlePause(const TThread& thread);

// The part of a pass that both connection threads share: read the connection's state, open it
// when closed, close it after an error (the next passes find it closed and open it again: that
// is the whole reconnection scheme), and pause while it is not active. True when the connection
// is active and the pass should go on to process it. `feed` (may be null) learns the state read
// and each opening.
bool KeepConnectionOpen(const TThread& thread, cg_conn_t* conn, THealthFeed* feed = nullptr);

// A run's start and end as the health monitor sees them; `feed` may be null.
void ReportRunStart(THealthFeed* feed);
void ReportRunEnd(THealthFeed* feed);

// The end of a run that disconnects, in the gateway's order: the listeners closed and destroyed
// (their handles cleared), then (for the transaction thread) its publisher, then the connection
// closed and destroyed. The next run starts from cg_conn_new again.
void CloseListener(cg_listener_t*& lsn);
void CloseConnection(cg_conn_t* conn);

// Processes the connection once. A failure writes `warning` through `journal`, once per run of
// failures: a gateway that keeps failing would otherwise fill the journal a thousand lines a
// second with the same sentence. `warned` carries that state between passes.
template <class Journal>
void ProcessAndWarnOnce(cg_conn_t* conn, bool& warned, Journal&& journal, const char* warning) {
    if (ProcessResultOk(ProcessConnection(conn))) {
        warned = false;
    } else if (!warned) {
        warned = true;
        journal(warning);
    }
}

// Terminal text to gateway text and back. Gateway text is read at most `maxLen` bytes far, so a
// text that is not terminated within its message is cut instead of read past.
std::string ToGateway(const std::string& utf8);
std::string FromGateway(const char* text, std::size_t maxLen);

// The connections that are running, by gateway connection handle. A listener callback gets its
// connection handle from the gateway and looks its owner up here, so no process-wide "current
// connection" is needed: several connections (of either kind) can run side by side, and a
// callback for a connection that has already ended finds nothing instead of a stale object.
template <class T>
class TConnectionRegistry {
public:
    static void Add(cg_conn_t* conn, T* owner) {
        std::lock_guard<std::mutex> lock(Lock());
        Items().emplace_back(conn, owner);
    }
    static void Remove(T* owner) {
        std::lock_guard<std::mutex> lock(Lock());
        auto& items = Items();
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [owner](const auto& item) { return item.second == owner; }),
                    items.end());
    }
    static T* Find(cg_conn_t* conn) {
        std::lock_guard<std::mutex> lock(Lock());
        for (const auto& item : Items()) {
            if (item.first == conn) {
                return item.second;
            }
        }
        return nullptr;
    }

private:
    static std::mutex& Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::pair<cg_conn_t*, T*>>& Items() {
        static std::vector<std::pair<cg_conn_t*, T*>> items;
        return items;
    }
};

} // namespace vorlen::conn
