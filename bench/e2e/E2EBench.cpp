// Capacity: the highest background rate of the router that the terminal keeps up with, against
// the same for a bare gateway client that copies every message into a hash map, in one run.
//
// The rate steps up from kRates[0], doubling. At each step a fresh router of the shared
// configuration (alone, so neither side competes with the other) is set to that rate and
// watched for `seconds`: a side sustains it when it applied within 1% of the rows the router
// queued to it and the 99th percentile of its lag behind the router (sampled every 100 ms:
// rows queued but not yet applied, over the rate) stays under 10 ms. Both sides go through the
// gateway library loaded the way the terminal loads it and subscribe with the same listener
// settings, built by the terminal's own subscription builder.
//
// What is counted on the terminal's side: its market-data connection registers its listeners
// through the entry-point table, so the bench swaps the table's cg_lsn_new for one that
// registers a forwarding callback, which counts a stream-data message only after the
// connection's own callback has returned, that is after the store has applied it.
//
// Processor time per message is the process's (the connection's thread does all the work),
// compared at the highest rate both sides sustained.
//
//   bench_e2e [seconds per step, 10]
//       prints, last, "capacity_vs_bare: <ratio>" and "cpu_per_msg_vs_bare: <ratio>"

#include "../../tests/e2e/SimHarness.h"
#include "connections/Connection.h"
#include "connections/GatewayRecords.h"
#include "gateway/Cgate.h"
#include "main/Subscriptions.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"
#include "settings/SavedSettings.h"
#include "settings/StreamTree.h"
#include "store/Storage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
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
    // Every message's bytes under its replication id: the least a client that keeps the data
    // must do.
    std::unordered_map<std::int64_t, std::vector<std::uint8_t>> Copy;
};

std::uint32_t CG_CALL CountRaw(cg_conn_t*, cg_listener_t*, cg_msg_t* msg, void* data) {
    auto* c = static_cast<TRawCounter*>(data);
    if (msg->type == CG_MSG_STREAM_CHANGED) {
        const auto* m = reinterpret_cast<const cg_msg_streamdata_t*>(msg);
        if (m->data != nullptr && m->data_size >= 8) {
            std::int64_t id;
            std::memcpy(&id, m->data, 8);
            const auto* bytes = static_cast<const std::uint8_t*>(m->data);
            c->Copy[id].assign(bytes, bytes + m->data_size);
        }
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
    double CpuSeconds = 0; // the process's, over the window
    double LagP99Ms = 0;   // of the samples of rows queued but not yet applied
    bool Ok = false;

    double PerSecond() const { return Seconds > 0 ? static_cast<double>(Messages) / Seconds : 0; }
    double CpuPerMessage() const {
        return Messages > 0 ? CpuSeconds / static_cast<double>(Messages) : 0;
    }
    bool Sustained() const {
        return Ok && RouterRows > 0 &&
               static_cast<double>(Messages) >= 0.99 * static_cast<double>(RouterRows) &&
               LagP99Ms < 10;
    }
};

Clock::time_point After(Clock::time_point t, double seconds) {
    return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Watches one side for `seconds` at `rate`: `step` keeps the side going (returns after at most
// a few milliseconds), `applied` counts what it has applied so far.
TResult Watch(TRouter& router, double rate, double seconds, const std::function<void()>& step,
              const std::function<std::uint64_t()>& applied) {
    TResult r;
    router.Inst.Control("rate " + std::to_string(static_cast<long long>(rate)));
    const auto warm = After(Clock::now(), 0.5);
    while (Clock::now() < warm) {
        step();
    }
    const std::uint64_t routerStart = router.Rows();
    const std::uint64_t start = applied();
    const double cpu0 = ProcessCpuSeconds();
    const auto t0 = Clock::now();
    const auto t1 = After(t0, seconds);
    std::vector<double> lags;
    auto next = After(t0, 0.1);
    while (Clock::now() < t1) {
        step();
        if (Clock::now() >= next) {
            const double queued = static_cast<double>(router.Rows() - routerStart);
            const double done = static_cast<double>(applied() - start);
            lags.push_back(std::max(0.0, queued - done) / rate * 1000.0);
            next = After(Clock::now(), 0.1);
        }
    }
    r.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.CpuSeconds = ProcessCpuSeconds() - cpu0;
    r.Messages = applied() - start;
    r.RouterRows = router.Rows() - routerStart;
    if (!lags.empty()) {
        std::sort(lags.begin(), lags.end());
        r.LagP99Ms = lags[std::min(lags.size() - 1, lags.size() * 99 / 100)];
    }
    r.Ok = true;
    return r;
}

TResult RunRaw(TConnectorSettings s, const std::vector<std::string>& lsnSettings, double rate,
               double seconds) {
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
        r = Watch(router, rate, seconds, pass, total);
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

TResult RunTerminal(TConnectorSettings s, const TSubscription& sub, double rate, double seconds) {
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
        r = Watch(
            router, rate, seconds,
            [] {
                ui::DrainUiQueue();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            [] { return gApplied.load(); });
    } else {
        std::fprintf(stderr, "terminal: streams did not come on-line\n");
    }
    // WaitFor serves the UI queue itself while the thread writes its last journal lines.
    conn.Terminate();
    conn.WaitFor();
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

// Rates tried, events per second of the router's background activity.
constexpr double kRates[] = {2'000, 4'000, 8'000, 16'000, 32'000, 64'000, 128'000, 256'000};

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;
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
    // run; each step's router has an installation (and ports) of its own.
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

    gRealLsnNew = CG().cg_lsn_new;
    double bareCapacity = 0, termCapacity = 0;
    std::map<double, double> bareCpu, termCpu; // rate -> processor seconds per message
    bool bareOn = true, termOn = true;
    for (const double rate : kRates) {
        if (!bareOn && !termOn) {
            break;
        }
        if (bareOn) {
            CG().cg_lsn_new = gRealLsnNew;
            const TResult r = RunRaw(s, lsnSettings, rate, seconds);
            std::printf("bare %.0f/s: applied %.0f/s of %.0f/s, lag p99 %.1f ms, %.2f us/msg\n",
                        rate, r.PerSecond(), static_cast<double>(r.RouterRows) / r.Seconds,
                        r.LagP99Ms, r.CpuPerMessage() * 1e6);
            bareOn = r.Sustained();
            if (bareOn) {
                bareCapacity = rate;
                bareCpu[rate] = r.CpuPerMessage();
            }
        }
        if (termOn) {
            CG().cg_lsn_new = &CountingLsnNew;
            const TResult r = RunTerminal(s, sub, rate, seconds);
            std::printf("terminal %.0f/s: applied %.0f/s of %.0f/s, lag p99 %.1f ms, %.2f us/msg\n",
                        rate, r.PerSecond(), static_cast<double>(r.RouterRows) / r.Seconds,
                        r.LagP99Ms, r.CpuPerMessage() * 1e6);
            termOn = r.Sustained();
            if (termOn) {
                termCapacity = rate;
                termCpu[rate] = r.CpuPerMessage();
            }
        }
        std::fflush(stdout);
    }
    CG().cg_lsn_new = gRealLsnNew;
    CG().cg_env_close();
    ui::UnmarkUiThread();

    // Processor time compared at the highest rate both sustained.
    double cpuRatio = 0;
    for (auto it = termCpu.rbegin(); it != termCpu.rend(); ++it) {
        if (bareCpu.contains(it->first) && bareCpu[it->first] > 0) {
            cpuRatio = it->second / bareCpu[it->first];
            break;
        }
    }
    std::printf("bare_capacity_per_s: %.0f\n", bareCapacity);
    std::printf("terminal_capacity_per_s: %.0f\n", termCapacity);
    std::printf("cpu_per_msg_vs_bare: %.2f\n", cpuRatio);
    std::printf("capacity_vs_bare: %.2f\n", bareCapacity > 0 ? termCapacity / bareCapacity : 0.0);
    return 0;
}
