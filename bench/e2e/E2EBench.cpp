// How many stream-data messages the terminal applies to its replica per second when the router
// generates background activity as fast as its client drains it, against what a bare gateway
// client takes from the same router setup in the same run.
//
// Both sides go through the gateway library loaded the way the terminal loads it
// (LoadCGateLibrary, OpenCGateEnvironment) and subscribe to the same listener settings, built by
// the terminal's own subscription builder. Each side gets a fresh router of the same
// configuration, alone, so neither competes with the other for the processor or for the router.
//
// What is counted: the terminal's market-data connection registers its listeners through the
// entry-point table, so the bench swaps the table's cg_lsn_new for one that registers a
// forwarding callback. That callback counts a stream-data message only after the connection's
// own callback has returned, that is after the store has applied it; the bare client counts the
// same message type in its callback. The router's own count of rows queued to its one client
// over the same window is printed beside each, as a check from the other end.
//
//   bench_e2e [seconds per side and round, 2] [rounds, 3]
//                            prints, last, "e2e_vs_raw: <ratio>"

#include "../../tests/e2e/SimHarness.h"
#include "connections/Connection.h"
#include "gateway/Cgate.h"
#include "main/Subscriptions.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"
#include "settings/StreamTree.h"
#include "store/Storage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vorlen;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The streams and tables bench_sim measures: the order log, the aggregated book and the deals.
struct TPick {
    const char* Stream;
    const char* Table;
};
constexpr TPick kPicks[] = {{"FORTS_AGGR5_REPL", "orders_aggr"},
                            {"FORTS_ORDLOG_REPL", "orders_log"},
                            {"FORTS_DEALS_REPL", "deal"}};

class TDiscard final : public TJournalSink {
public:
    void AppendLine(const std::string&) override {}
};

// One router of the shared configuration, started on ports of its own, watched on the control
// channel until it answers.
struct TRouter {
    e2e::TSimInstall Inst{0};
    e2e::TChild Child;

    bool Start() {
        if (!Child.Start(
                {Inst.Router().string(), "/ini:" + (Inst.Root / "client_router.ini").string()},
                Inst.Root / "bin", {})) {
            return false;
        }
        return e2e::WaitUntil([this] { return Inst.Control("ping").rfind("OK", 0) == 0; }, 20s);
    }
    // Rows the router has queued to its clients so far; only one client is connected at a time.
    std::uint64_t Rows() const {
        static const std::regex rows(R"( rows=(\d+))");
        const std::string reply = Inst.Control("counters");
        std::smatch m;
        return std::regex_search(reply, m, rows) ? std::stoull(m[1].str()) : 0;
    }
};

// --- counting behind the terminal's listeners -------------------------------------------------

struct TForward {
    CG_LISTENER_CB Callback = nullptr;
    void* Data = nullptr;
};

std::atomic<std::uint64_t> gApplied{0};
// Holds every registration's forward for the life of the program: the gateway may call a
// listener until it is destroyed, and a deque never moves its elements.
std::deque<TForward> gForwards;
cg_lsn_new_t gRealLsnNew = nullptr;

std::uint32_t CG_CALL CountApplied(cg_conn_t* conn, cg_listener_t* lsn, cg_msg_t* msg, void* data) {
    const auto* f = static_cast<const TForward*>(data);
    const std::uint32_t rc = f->Callback(conn, lsn, msg, f->Data);
    if (msg != nullptr && msg->type == CG_MSG_STREAM_CHANGED) {
        gApplied.fetch_add(1, std::memory_order_relaxed);
    }
    return rc;
}

// Registered on the connection's thread only (creation and re-creation of its listeners), so
// the deque needs no lock.
std::uint32_t CG_CALL CountingLsnNew(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                     void* data, cg_listener_t** lsn) {
    gForwards.push_back({cb, data});
    return gRealLsnNew(conn, settings, &CountApplied, &gForwards.back(), lsn);
}

// --- the bare client ----------------------------------------------------------------------------

struct TRawCounter {
    std::uint64_t Rows = 0;
    bool Online = false;
};

std::uint32_t CG_CALL CountRaw(cg_conn_t*, cg_listener_t*, cg_msg_t* msg, void* data) {
    auto* c = static_cast<TRawCounter*>(data);
    if (msg->type == CG_MSG_STREAM_CHANGED) {
        ++c->Rows;
    } else if (msg->type == CG_MSG_P2REPL_ONLINE) {
        c->Online = true;
    }
    return 0;
}

struct TResult {
    std::uint64_t Messages = 0;   // counted by the client
    std::uint64_t RouterRows = 0; // rows the router queued over the same window
    double Seconds = 0;
    bool Ok = false;

    void Add(const TResult& r) {
        Messages += r.Messages;
        RouterRows += r.RouterRows;
        Seconds += r.Seconds;
        Ok = r.Ok;
    }
    double PerSecond() const { return Seconds > 0 ? static_cast<double>(Messages) / Seconds : 0; }
    double RouterPerSecond() const {
        return Seconds > 0 ? static_cast<double>(RouterRows) / Seconds : 0;
    }
};

Clock::time_point After(Clock::time_point t, double seconds) {
    return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

TResult RunRaw(TConnectorSettings s, const std::vector<std::string>& lsnSettings, double seconds) {
    TResult r;
    TRouter router;
    if (!router.Start()) {
        std::fprintf(stderr, "raw: router did not start\n");
        return r;
    }
    s.Port = std::to_string(router.Inst.Port);
    const TCGateEntryPoints& cg = CG();
    const std::string connSettings = TCGConnection::ConnectionString(s);
    cg_conn_t* conn = nullptr;
    if (cg.cg_conn_new(connSettings.c_str(), &conn) != CG_ERR_OK) {
        std::fprintf(stderr, "raw: no connection\n");
        return r;
    }
    std::vector<TRawCounter> counters(lsnSettings.size());
    std::vector<cg_listener_t*> lsn(lsnSettings.size(), nullptr);
    for (std::size_t i = 0; i < lsnSettings.size(); ++i) {
        cg.cg_lsn_new(conn, lsnSettings[i].c_str(), &CountRaw, &counters[i], &lsn[i]);
    }
    // The loop a minimal client runs: open what is closed, process with the same 1 ms wait the
    // terminal uses.
    auto pass = [&] {
        std::uint32_t st = 0;
        cg.cg_conn_getstate(conn, &st);
        if (st == CG_STATE_CLOSED) {
            cg.cg_conn_open(conn, nullptr);
        } else if (st == CG_STATE_ERROR) {
            cg.cg_conn_close(conn);
        } else if (st == CG_STATE_ACTIVE) {
            cg.cg_conn_process(conn, 1, nullptr);
            for (cg_listener_t* l : lsn) {
                std::uint32_t ls = 0;
                if (cg.cg_lsn_getstate(l, &ls) == CG_ERR_OK && ls == CG_STATE_CLOSED) {
                    cg.cg_lsn_open(l, "lifinum=0");
                }
            }
        }
    };
    auto total = [&] {
        std::uint64_t n = 0;
        for (const TRawCounter& c : counters) {
            n += c.Rows;
        }
        return n;
    };
    auto online = [&] {
        for (const TRawCounter& c : counters) {
            if (!c.Online) {
                return false;
            }
        }
        return true;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!online() && Clock::now() < deadline) {
        pass();
    }
    if (online()) {
        router.Inst.Control("rate max");
        const auto warm = After(Clock::now(), 0.5);
        while (Clock::now() < warm) {
            pass();
        }
        const std::uint64_t routerStart = router.Rows();
        const std::uint64_t start = total();
        const auto t0 = Clock::now();
        const auto t1 = After(t0, seconds);
        while (Clock::now() < t1) {
            pass();
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        const std::uint64_t got = total() - start;
        const std::uint64_t routerRows = router.Rows() - routerStart;
        r.Messages = got;
        r.RouterRows = routerRows;
        r.Seconds = elapsed;
        r.Ok = true;
    } else {
        std::fprintf(stderr, "raw: streams did not come on-line\n");
    }
    for (cg_listener_t* l : lsn) {
        if (l != nullptr) {
            cg.cg_lsn_destroy(l);
        }
    }
    cg.cg_conn_destroy(conn);
    return r;
}

// --- the terminal -------------------------------------------------------------------------------

// Rows the replica holds at the end: a check that the messages counted did land in the store.
std::uint64_t StoreRows(TCGStorage& store) {
    TMarketData data;
    store.GetData(data);
    TCGStorage::TAccess access(store);
    std::uint64_t n = 0;
    for (const TStream& st : data.Streams) {
        for (const TTable& t : st.Tables) {
            n += access.Rows(t).Size();
        }
    }
    return n;
}

TResult RunTerminal(TConnectorSettings s, const TSubscription& sub, double seconds) {
    TResult r;
    TRouter router;
    if (!router.Start()) {
        std::fprintf(stderr, "terminal: router did not start\n");
        return r;
    }
    s.Port = std::to_string(router.Inst.Port);
    TCGStorage store;
    store.SetStreams(sub.StreamNames);
    TDiscard journal;
    TCGConnection conn(store, s, &journal);
    conn.Lsnrs = sub.Listeners;

    // The connection's thread reaches the journal through the UI queue; this thread serves it,
    // sleeping between drains so that it takes as little processor time as a window would.
    auto serve = [](Clock::time_point until, const std::function<bool()>& done) {
        while (Clock::now() < until && !done()) {
            ui::DrainUiQueue();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    conn.Start();
    serve(Clock::now() + std::chrono::seconds(60), [&] { return conn.Online(); });
    if (conn.Online()) {
        router.Inst.Control("rate max");
        serve(After(Clock::now(), 0.5), [] { return false; });
        const std::uint64_t routerStart = router.Rows();
        const std::uint64_t start = gApplied.load();
        const auto t0 = Clock::now();
        serve(After(t0, seconds), [] { return false; });
        const std::uint64_t got = gApplied.load() - start;
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        const std::uint64_t routerRows = router.Rows() - routerStart;
        r.Messages = got;
        r.RouterRows = routerRows;
        r.Seconds = elapsed;
        r.Ok = true;
    } else {
        std::fprintf(stderr, "terminal: streams did not come on-line\n");
    }
    // WaitFor serves the UI queue itself while the thread writes its last journal lines.
    conn.Terminate();
    conn.WaitFor();
    std::printf("terminal store rows: %llu\n", static_cast<unsigned long long>(StoreRows(store)));
    return r;
}

// The connection settings the settings dialog starts with, pointed at a router's port (the port
// is filled per run).
TConnectorSettings DialogDefaults() {
    const TDialogValues v = DefaultSavedSettings().Values;
    TConnectorSettings s;
    s.CGDLLName = v.CgateDllEdit;
    s.CGIniFileName = v.CGIniEdit;
    s.SubSys = v.SubSysEdit;
    s.LogType = v.LogTypeEdit;
    s.LogMinLevel = v.LogLevelEdit;
    s.ProgKey = v.ProgKeyEdit;
    s.ConType = v.TypeConnEdit;
    s.Host = v.HostEdit;
    s.ProgName = v.ProgNameEdit;
    s.RoutTOut = v.RoutTOutEdit;
    s.LocTOut = v.LocTOutEdit;
    s.BuffSize = v.BuffSizeEdit;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    ui::MarkUiThread();

    TStreamTree tree;
    TSubscription sub;
    int n = 0;
    for (const TPick& p : kPicks) {
        tree.ClickPicture(tree.FindTable(p.Stream, p.Table));
        AddStreamListener(tree, tree.FindStream(p.Stream), false, sub, n);
    }
    std::vector<std::string> lsnSettings;
    for (const TListenerData& l : sub.Listeners) {
        std::printf("listener: %s\n", l.Settings.c_str());
        lsnSettings.push_back(l.Settings);
    }
    if (n != static_cast<int>(std::size(kPicks))) {
        std::fprintf(stderr, "subscription incomplete\n");
        return 1;
    }

    // The library and environment of one laid-out installation serve every connection of the
    // run; each side's router has an installation (and ports) of its own.
    const e2e::TSimInstall layout(0);
    TConnectorSettings s = DialogDefaults();
    std::string missing;
    if (LoadCGateLibrary((layout.Root / "bin" / s.CGDLLName).string(), &missing) < 32) {
        std::fprintf(stderr, "gateway library not loaded %s\n", missing.c_str());
        return 1;
    }
    if (OpenCGateEnvironment(s) != TEnvOpenResult::Accepted) {
        std::fprintf(stderr, "gateway environment not opened\n");
        return 1;
    }

    // Rounds alternate the two sides, so that a machine whose load changes during the run
    // weighs on both alike; the figures are totals over all rounds.
    TResult raw, term;
    gRealLsnNew = CG().cg_lsn_new;
    for (int round = 0; round < rounds; ++round) {
        // The bare client with the entry-point table as the library filled it.
        CG().cg_lsn_new = gRealLsnNew;
        const TResult r = RunRaw(s, lsnSettings, seconds);
        CG().cg_lsn_new = &CountingLsnNew;
        const TResult e = RunTerminal(s, sub, seconds);
        if (!r.Ok || !e.Ok) {
            return 1;
        }
        std::printf("round %d: raw %.0f/s, e2e %.0f/s\n", round + 1, r.PerSecond(), e.PerSecond());
        raw.Add(r);
        term.Add(e);
    }
    CG().cg_lsn_new = gRealLsnNew;

    CG().cg_env_close();
    ui::UnmarkUiThread();
    std::printf("raw_router_rows_per_s: %.0f\n", raw.RouterPerSecond());
    std::printf("raw_msgs_per_s: %.0f\n", raw.PerSecond());
    std::printf("e2e_router_rows_per_s: %.0f\n", term.RouterPerSecond());
    std::printf("e2e_msgs_per_s: %.0f\n", term.PerSecond());
    std::printf("e2e_vs_raw: %.3f\n",
                raw.PerSecond() > 0 ? term.PerSecond() / raw.PerSecond() : 0.0);
    return 0;
}
