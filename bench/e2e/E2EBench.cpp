// Capacity: the highest background rate of the router that the terminal keeps up with, against
// the same for a bare gateway client that copies every message into a hash map, in one run.
//
// Each side's rate doubles from kFirstRate until a step fails, then the gap between the last
// step sustained and the first failed is halved a few times. Each step gets a fresh router of
// the shared configuration (alone, so neither side competes with the other), set to that rate
// and watched for `seconds`. A side sustains a rate when it applied within 1% of the rows the
// router queued to it and the 99th percentile of every timed message's delay stays under 10 ms.
// The delay of a message is measured for each one, not sampled: the router stamps its events
// with the wall-clock time it made them ("moment_ns"), and the side compares that with the
// clock when the message has been applied. Both sides go through the gateway library loaded the
// way the terminal loads it, subscribe with the same listener settings, built by the terminal's
// own subscription builder, and run the same loop around cg_conn_process on a thread of their
// own.
//
// What is counted on the terminal's side: its market-data connection registers its listeners
// through the entry-point table, so the bench swaps the table's cg_lsn_new for one that
// registers a forwarding callback, which counts and times a stream-data message only after the
// connection's own callback has returned, that is after the store (and the order books that
// follow it) have applied it.
//
// Processor time per message is that of the thread that receives the messages, each side's own,
// compared at the highest rate of the doubling steps that both sustained, where the wait for
// messages costs least beside them.
//
//   bench_e2e [--long] [--seconds N]
//       default: 3 s per step, the gap halved twice (a minute or two);
//       --long: 10 s per step, the gap halved four times (several minutes).
//       Prints, last, "capacity_vs_bare: <ratio>" and "cpu_per_msg_vs_bare: <ratio>".

#include "../../tests/e2e/SimHarness.h"
#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "gateway/Cgate.h"
#include "main/Subscriptions.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"
#include "settings/StreamTree.h"
#include "store/Storage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <pthread.h>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <time.h>
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

// --- per-message delay and the receiving thread's processor time -----------------------------

// Delays in bins of 0.1 ms up to 1 s, and one bin beyond; written by the receiving thread,
// read by the main thread once a window has closed.
constexpr std::size_t kBins = 10'000;
constexpr double kBinMs = 0.1;

struct TTiming {
    std::atomic<bool> On{false};
    std::array<std::atomic<std::uint32_t>, kBins + 1> Bins{};
    std::atomic<std::uint64_t> Applied{0};
    std::atomic<bool> HaveClock{false};
    clockid_t Clock{};

    void Reset() {
        On = false;
        for (auto& b : Bins)
            b.store(0, std::memory_order_relaxed);
        Applied = 0;
    }
    std::uint64_t Timed() const {
        std::uint64_t n = 0;
        for (const auto& b : Bins)
            n += b.load(std::memory_order_relaxed);
        return n;
    }
    // The upper edge of the bin where the given share of the delays is reached.
    double PercentileMs(std::uint64_t percent) const {
        const std::uint64_t n = Timed();
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i <= kBins; ++i) {
            seen += Bins[i].load(std::memory_order_relaxed);
            if (n > 0 && seen * 100 >= n * percent)
                return static_cast<double>(i + 1) * kBinMs;
        }
        return 0;
    }
    // Processor time of the receiving thread, known once it has received a message.
    double CpuSeconds() const {
        if (!HaveClock.load())
            return 0;
        timespec ts{};
        clock_gettime(Clock, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
};

TTiming gTiming;

// Where each message of a listener's scheme keeps "moment_ns" and its deletion mark
// ("replAct"), by message index; -1 where it has none.
struct TStamp {
    std::ptrdiff_t Moment = -1;
    std::ptrdiff_t Act = -1;
};

std::vector<TStamp> Stamps(cg_listener_t* lsn) {
    std::vector<TStamp> out;
    cg_scheme_desc_t* scheme = nullptr;
    if (CG().cg_lsn_getscheme(lsn, &scheme) != CG_ERR_OK || scheme == nullptr)
        return out;
    for (const cg_message_desc_t* m = scheme->messages; m != nullptr; m = m->next) {
        TStamp at;
        const cg_field_desc_t* f = m->fields;
        for (std::size_t i = 0; f != nullptr && i < m->num_fields; ++i, f = f->next) {
            const std::string_view name(f->name), type(f->fild_type);
            if (name == "moment_ns" && type == "u8")
                at.Moment = static_cast<std::ptrdiff_t>(f->offset);
            else if (name == "replAct" && type == "i8")
                at.Act = static_cast<std::ptrdiff_t>(f->offset);
        }
        out.push_back(at);
    }
    return out;
}

std::int64_t Int64At(const cg_msg_streamdata_t& m, std::ptrdiff_t at) {
    std::int64_t v = 0;
    if (at >= 0 && m.data != nullptr && m.data_size >= static_cast<std::size_t>(at) + 8)
        std::memcpy(&v, static_cast<const std::uint8_t*>(m.data) + at, 8);
    return v;
}

// Counts an applied stream-data message and, inside a window, bins its delay. A removal
// carries the bytes the row had, stamped when it was last changed, so only messages that store
// a row are timed.
void Applied(const std::vector<TStamp>& stamps, const cg_msg_t* msg) {
    gTiming.Applied.fetch_add(1, std::memory_order_relaxed);
    if (!gTiming.HaveClock.load(std::memory_order_relaxed)) {
        pthread_getcpuclockid(pthread_self(), &gTiming.Clock);
        gTiming.HaveClock = true;
    }
    if (!gTiming.On.load(std::memory_order_relaxed))
        return;
    const auto& m = *reinterpret_cast<const cg_msg_streamdata_t*>(msg);
    if (m.msg_index >= stamps.size() || stamps[m.msg_index].Moment < 0 ||
        Int64At(m, stamps[m.msg_index].Act) != 0)
        return;
    const std::int64_t made = Int64At(m, stamps[m.msg_index].Moment);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const double ms = static_cast<double>(std::max<std::int64_t>(0, now - made)) * 1e-6;
    const auto bin = std::min(kBins, static_cast<std::size_t>(ms / kBinMs));
    gTiming.Bins[bin].fetch_add(1, std::memory_order_relaxed);
}

// --- counting behind the terminal's listeners -------------------------------------------------

struct TForward {
    CG_LISTENER_CB Callback = nullptr;
    void* Data = nullptr;
    std::vector<TStamp> Stamps;
};

// Holds every registration's forward for the life of the program: the gateway may call a
// listener until it is destroyed, and a deque never moves its elements.
std::deque<TForward> gForwards;
cg_lsn_new_t gRealLsnNew = nullptr;

std::uint32_t CG_CALL CountApplied(cg_conn_t* conn, cg_listener_t* lsn, cg_msg_t* msg, void* data) {
    auto* f = static_cast<TForward*>(data);
    const std::uint32_t rc = f->Callback(conn, lsn, msg, f->Data);
    if (msg == nullptr)
        return rc;
    if (msg->type == CG_MSG_STREAM_CHANGED)
        Applied(f->Stamps, msg);
    else if (msg->type == CG_MSG_OPEN)
        f->Stamps = Stamps(lsn);
    return rc;
}

// Registered on the connection's thread only (creation and re-creation of its listeners), so
// the deque needs no lock.
std::uint32_t CG_CALL CountingLsnNew(cg_conn_t* conn, const char* settings, CG_LISTENER_CB cb,
                                     void* data, cg_listener_t** lsn) {
    gForwards.push_back({cb, data, {}});
    return gRealLsnNew(conn, settings, &CountApplied, &gForwards.back(), lsn);
}

// --- the bare client ----------------------------------------------------------------------------

struct TRawListener {
    bool Online = false;
    std::vector<TStamp> Stamps;
    // Every message's bytes under its replication id, per table: the least a client that keeps
    // the data must do.
    std::vector<std::unordered_map<std::int64_t, std::vector<std::uint8_t>>> Copy;
};

std::uint32_t CG_CALL CountRaw(cg_conn_t*, cg_listener_t* lsn, cg_msg_t* msg, void* data) {
    auto* c = static_cast<TRawListener*>(data);
    if (msg->type == CG_MSG_STREAM_CHANGED) {
        const auto* m = reinterpret_cast<const cg_msg_streamdata_t*>(msg);
        if (m->data != nullptr && m->data_size >= 8) {
            std::int64_t id;
            std::memcpy(&id, m->data, 8);
            const auto* bytes = static_cast<const std::uint8_t*>(m->data);
            if (m->msg_index >= c->Copy.size())
                c->Copy.resize(m->msg_index + 1);
            c->Copy[m->msg_index][id].assign(bytes, bytes + m->data_size);
        }
        Applied(c->Stamps, msg);
    } else if (msg->type == CG_MSG_OPEN) {
        c->Stamps = Stamps(lsn);
    } else if (msg->type == CG_MSG_P2REPL_ONLINE) {
        c->Online = true;
    }
    return 0;
}

struct TResult {
    std::uint64_t Messages = 0;   // applied by the side
    std::uint64_t RouterRows = 0; // rows the router queued over the same window
    std::uint64_t Timed = 0;      // messages whose delay was measured
    double Seconds = 0;
    double CpuSeconds = 0; // the receiving thread's, over the window
    double DelayP50Ms = 0;
    double DelayP99Ms = 0;
    bool Ok = false;

    double PerSecond() const { return Seconds > 0 ? static_cast<double>(Messages) / Seconds : 0; }
    double CpuPerMessage() const {
        return Messages > 0 ? CpuSeconds / static_cast<double>(Messages) : 0;
    }
    bool Sustained() const {
        return Ok && RouterRows > 0 && Timed > 0 &&
               static_cast<double>(Messages) >= 0.99 * static_cast<double>(RouterRows) &&
               DelayP99Ms < 10;
    }
};

// Serves the user-interface queue (the terminal's connection writes its journal through it)
// until `until` or `done`.
void Serve(Clock::time_point until, const std::function<bool()>& done) {
    while (Clock::now() < until && !done()) {
        ui::DrainUiQueue();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Watches the side that is receiving for `seconds` at `rate`.
TResult Watch(TRouter& router, double rate, double seconds) {
    TResult r;
    router.Inst.Control("rate " + std::to_string(static_cast<long long>(rate)));
    Serve(Clock::now() + 500ms, [] { return false; });
    gTiming.Reset();
    const std::uint64_t routerStart = router.Rows();
    const std::uint64_t start = gTiming.Applied.load();
    const double cpu0 = gTiming.CpuSeconds();
    const auto t0 = Clock::now();
    gTiming.On = true;
    Serve(t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)),
          [] { return false; });
    gTiming.On = false;
    r.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.CpuSeconds = gTiming.CpuSeconds() - cpu0;
    r.Messages = gTiming.Applied.load() - start;
    r.RouterRows = router.Rows() - routerStart;
    r.Timed = gTiming.Timed();
    r.DelayP50Ms = gTiming.PercentileMs(50);
    r.DelayP99Ms = gTiming.PercentileMs(99);
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
    gTiming.HaveClock = false;
    std::atomic<bool> stop{false}, online{false}, failed{false};
    // The client's thread: the loop a minimal client runs, with the same 1 ms wait and the same
    // pause after an early return as the terminal's connection.
    std::thread client([&] {
        const TCGateEntryPoints& cg = CG();
        const std::string connSettings = TCGConnection::ConnectionString(s);
        cg_conn_t* conn = nullptr;
        if (cg.cg_conn_new(connSettings.c_str(), &conn) != CG_ERR_OK) {
            failed = true;
            return;
        }
        std::vector<TRawListener> listeners(lsnSettings.size());
        std::vector<cg_listener_t*> lsn(lsnSettings.size(), nullptr);
        for (std::size_t i = 0; i < lsnSettings.size(); ++i)
            cg.cg_lsn_new(conn, lsnSettings[i].c_str(), &CountRaw, &listeners[i], &lsn[i]);
        while (!stop) {
            std::uint32_t st = 0;
            cg.cg_conn_getstate(conn, &st);
            if (st == CG_STATE_CLOSED) {
                cg.cg_conn_open(conn, nullptr);
            } else if (st == CG_STATE_ERROR) {
                cg.cg_conn_close(conn);
            } else if (st == CG_STATE_ACTIVE) {
                const auto t = Clock::now();
                if (cg.cg_conn_process(conn, 1, nullptr) != CG_ERR_OK && Clock::now() - t < 1ms)
                    std::this_thread::sleep_for(1ms - (Clock::now() - t));
                for (cg_listener_t* l : lsn) {
                    std::uint32_t ls = 0;
                    if (cg.cg_lsn_getstate(l, &ls) == CG_ERR_OK && ls == CG_STATE_CLOSED)
                        cg.cg_lsn_open(l, "lifinum=0");
                }
                online = std::all_of(listeners.begin(), listeners.end(),
                                     [](const TRawListener& c) { return c.Online; });
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
        for (cg_listener_t* l : lsn)
            if (l != nullptr)
                cg.cg_lsn_destroy(l);
        cg.cg_conn_destroy(conn);
    });
    Serve(Clock::now() + 60s, [&] { return online.load() || failed.load(); });
    if (online)
        r = Watch(router, rate, seconds);
    else
        std::fprintf(stderr, "raw: streams did not come on-line\n");
    stop = true;
    client.join();
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
    // The order books follow the store as they do in the terminal.
    TBookKeeper books(store.Mutex());
    store.SetObserver(&books);
    store.SetStreams(sub.StreamNames);
    TDiscard journal;
    TCGConnection conn(store, s, &journal);
    conn.Lsnrs = sub.Listeners;

    gTiming.HaveClock = false;
    conn.Start();
    Serve(Clock::now() + 60s, [&] { return conn.Online(); });
    if (conn.Online()) {
        r = Watch(router, rate, seconds);
    } else {
        std::fprintf(stderr, "terminal: streams did not come on-line\n");
    }
    // WaitFor serves the UI queue itself while the thread writes its last journal lines.
    conn.Terminate();
    conn.WaitFor();
    store.SetObserver(nullptr);
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

// The first rate tried, events per second of the router's background activity, and the last.
constexpr double kFirstRate = 4'000;
constexpr double kLastRate = 1'024'000;

struct TOptions {
    double Seconds = 3;
    int Halvings = 2;
};

TOptions Parse(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--long") {
            o.Seconds = 10;
            o.Halvings = 4;
        } else if (a == "--seconds" && i + 1 < argc) {
            o.Seconds = std::max(1.0, std::atof(argv[++i]));
        }
    }
    return o;
}

// The highest rate `run` sustains; the processor time per message of each doubling step it
// sustained goes to `cpu`.
double Capacity(const char* side, const TOptions& o, const std::function<TResult(double)>& run,
                std::map<double, double>& cpu) {
    auto step = [&](double rate) {
        const TResult r = run(rate);
        std::printf(
            "%s %.0f/s: applied %.0f/s of %.0f/s, delay p50 %.1f p99 %.1f ms over %llu timed, "
            "%.2f us/msg\n",
            side, rate, r.PerSecond(),
            r.Seconds > 0 ? static_cast<double>(r.RouterRows) / r.Seconds : 0.0, r.DelayP50Ms,
            r.DelayP99Ms, static_cast<unsigned long long>(r.Timed), r.CpuPerMessage() * 1e6);
        std::fflush(stdout);
        return r;
    };
    double sustained = 0, failed = 0;
    for (double rate = kFirstRate; rate <= kLastRate; rate *= 2) {
        const TResult r = step(rate);
        if (!r.Sustained()) {
            failed = rate;
            break;
        }
        sustained = rate;
        cpu[rate] = r.CpuPerMessage();
    }
    for (int i = 0; i < o.Halvings && failed > 0; ++i) {
        const double rate = std::round((sustained + failed) / 2);
        if (step(rate).Sustained())
            sustained = rate;
        else
            failed = rate;
    }
    return sustained;
}

} // namespace

int main(int argc, char** argv) {
    const TOptions options = Parse(argc, argv);
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
    std::map<double, double> bareCpu, termCpu; // rate -> processor seconds per message
    const double bareCapacity = Capacity(
        "bare", options,
        [&](double rate) {
            CG().cg_lsn_new = gRealLsnNew;
            return RunRaw(s, lsnSettings, rate, options.Seconds);
        },
        bareCpu);
    const double termCapacity = Capacity(
        "terminal", options,
        [&](double rate) {
            CG().cg_lsn_new = &CountingLsnNew;
            return RunTerminal(s, sub, rate, options.Seconds);
        },
        termCpu);
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
