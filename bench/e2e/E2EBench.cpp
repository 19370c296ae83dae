// Capacity: the highest background rate of the router that the terminal keeps up with, against
// the same for a bare gateway client that copies every message into a hash map, in one run.
//
// Each side's rate doubles from kFirstRate until a step fails, then the gap between the last
// step sustained (or none) and the first failed is halved a few times. Each step gets a fresh
// router of the shared configuration (alone, so neither side competes with the other), set to that
// rate and watched for `seconds`. A side sustains a rate when it applied within 1% of the rows the
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
// over the calls of cg_conn_process that delivered stream data (the bench swaps the table's
// entry for a timed one, which both sides call): the loop's waiting for messages, which does not
// grow with them, is left out. It is compared at the highest rate both sustained. A
// step that fails is tried once more, since the machine may be busy with something else.
//
//   bench_e2e [--long] [--seconds N]
//       default: 3 s per step, the gap halved twice (a minute or two);
//       --long: 10 s per step, the gap halved four times (several minutes).
//       Prints, last, "capacity_vs_bare: <ratio>" and "cpu_per_msg_vs_bare: <ratio>".
//
//   bench_e2e --stalls [--rate N] [--seconds N]
//       Each side three times in turn at one rate (default 50 000/s), each window followed by
//       the account of where the receiving thread's time went around late messages (Stalls.h).
//
//   bench_e2e --record [--rate N] [--seconds N]
//       What recording the market costs the market-data thread: the terminal's side only, at
//       one rate it sustains (default 50 000/s), with the recorder off and on in turn, five of
//       each; the receiving thread's processor time per message as above. Prints
//       "record_overhead_vs_off: <ratio>", the median on over the median off.

#include "../../tests/e2e/SimHarness.h"
#include "Delays.h"
#include "ListenerTap.h"
#include "book/BookKeeper.h"
#include "connections/Connection.h"
#include "connections/GatewayRecords.h"
#include "gateway/Cgate.h"
#include "history/Recorder.h"
#include "main/Subscriptions.h"
#include "platform/Thread.h"
#include "settings/ConnectorSettings.h"
#include "settings/SavedSettings.h"
#include "settings/StreamTree.h"
#include "store/Storage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using namespace vorlen;
using namespace vorlen::e2e_bench;
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

using TTap = bench::TListenerTap<std::vector<TStamp>>;

std::uint32_t CG_CALL CountApplied(TTap::TListener& l, cg_conn_t* conn, cg_listener_t* lsn,
                                   cg_msg_t* msg) {
    const bool stalls = gStalls.On.load(std::memory_order_relaxed);
    const std::int64_t t0 = stalls ? TStalls::Now() : 0;
    const std::uint32_t rc = l.Forward(conn, lsn, msg);
    if (stalls)
        gStalls.Callback(TStalls::Now() - t0);
    if (msg == nullptr)
        return rc;
    if (msg->type == CG_MSG_STREAM_CHANGED)
        Applied(l.State, msg);
    else if (msg->type == CG_MSG_OPEN)
        l.State = Stamps(lsn);
    return rc;
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
    const bool stalls = gStalls.On.load(std::memory_order_relaxed);
    const std::int64_t t0 = stalls ? TStalls::Now() : 0;
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
        if (stalls)
            gStalls.Callback(TStalls::Now() - t0);
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
    double CpuSeconds = 0;        // the receiving thread's, over the window
    double BusyCpuPerMessage = 0; // see TTiming::BusyNs
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

bool gWantStalls = false;

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
    if (gWantStalls)
        gStalls.Arm(std::size_t{1} << 20);
    gStalls.On = gWantStalls;
    gTiming.On = true;
    Serve(t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)),
          [] { return false; });
    gTiming.On = false;
    gStalls.On = false;
    r.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    r.CpuSeconds = gTiming.CpuSeconds() - cpu0;
    r.Messages = gTiming.Applied.load() - start;
    r.RouterRows = router.Rows() - routerStart;
    r.Timed = gTiming.Timed();
    r.BusyCpuPerMessage = gTiming.BusyCpuPerMessage();
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

TResult RunTerminal(TConnectorSettings s, const TSubscription& sub, double rate, double seconds,
                    const std::filesystem::path& recordInto = {}) {
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
    std::unique_ptr<history::TRecorder> recorder;
    if (!recordInto.empty()) {
        history::TRecorderOptions options;
        options.Folder = recordInto;
        recorder = std::make_unique<history::TRecorder>(options, nullptr);
        recorder->Start("2026-12-10");
        conn.SetRecorder(recorder.get());
    }

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
    if (recorder) {
        recorder->Stop();
        if (recorder->Lost() != 0 || !std::filesystem::exists(recordInto))
            r.Ok = false;
    }
    return r;
}

// Recorder off and on in turn at one rate; the medians of the thread's time per message.
int RecordPairs(const TConnectorSettings& s, const TSubscription& sub, double rate,
                double seconds) {
    std::vector<double> off;
    std::vector<double> on;
    char pattern[] = "/tmp/vorlen-recbench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::filesystem::path folder = pattern;
    for (int pair = 0; pair < 5; ++pair) {
        for (const bool record : {false, true}) {
            std::error_code ec;
            std::filesystem::remove_all(folder / "history", ec);
            const TResult r = RunTerminal(s, sub, rate, seconds,
                                          record ? folder / "history" : std::filesystem::path());
            std::printf("recording %s %.0f/s: applied %.0f/s, %.3f us/msg delivering\n",
                        record ? "on " : "off", rate, r.PerSecond(), r.BusyCpuPerMessage * 1e6);
            std::fflush(stdout);
            if (r.Sustained())
                (record ? on : off).push_back(r.BusyCpuPerMessage);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    if (off.empty() || on.empty()) {
        std::fprintf(stderr, "the rate was not sustained: no ratio\n");
        return 1;
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("market-data thread us/msg: off %.3f, on %.3f\n", median(off) * 1e6,
                median(on) * 1e6);
    std::printf("record_overhead_vs_off: %.3f\n", median(on) / median(off));
    return 0;
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
    bool Record = false;
    bool Stalls = false;
    double Rate = 50'000;
};

TOptions Parse(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--long") {
            o.Seconds = 10;
            o.Halvings = 4;
        } else if (a == "--record") {
            o.Record = true;
        } else if (a == "--stalls") {
            o.Stalls = true;
        } else if (a == "--rate" && i + 1 < argc) {
            o.Rate = std::max(1000.0, std::atof(argv[++i]));
        } else if (a == "--seconds" && i + 1 < argc) {
            o.Seconds = std::max(1.0, std::atof(argv[++i]));
        }
    }
    return o;
}

// One side of the comparison and what its steps found.
struct TSide {
    const char* Name;
    std::function<TResult(double)> Run;
    double Sustained = 0, Failed = 0;
    // Processor seconds per message, by rate, of the steps sustained.
    std::map<double, double> Cpu;

    // One step. The machine is shared, so a step that fails is tried once more: a pass shows
    // what the side can do, a failure may be someone else's doing.
    bool Step(double rate) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            const TResult r = Run(rate);
            std::printf("%s %.0f/s: applied %.0f/s of %.0f/s, delay p50 %.1f p99 %.1f ms over "
                        "%llu timed, %.2f us/msg of the thread, %.3f us/msg delivering\n",
                        Name, rate, r.PerSecond(),
                        r.Seconds > 0 ? static_cast<double>(r.RouterRows) / r.Seconds : 0.0,
                        r.DelayP50Ms, r.DelayP99Ms, static_cast<unsigned long long>(r.Timed),
                        r.CpuPerMessage() * 1e6, r.BusyCpuPerMessage * 1e6);
            std::fflush(stdout);
            if (gWantStalls)
                gStalls.Print(Name);
            if (r.Sustained()) {
                Cpu[rate] = r.BusyCpuPerMessage;
                return true;
            }
        }
        return false;
    }
};

// Both sides step up the same doubling rates, one after the other at each rate so that they
// see the machine alike; then each side halves the gap between its last rate sustained and its
// first failed.
void FindCapacities(std::vector<TSide>& sides, const TOptions& o) {
    for (int step = 0; kFirstRate * (1 << step) <= kLastRate; ++step) {
        const double rate = kFirstRate * (1 << step);
        bool any = false;
        for (TSide& side : sides) {
            if (side.Failed > 0)
                continue;
            if (side.Step(rate))
                side.Sustained = rate;
            else
                side.Failed = rate;
            any = true;
        }
        if (!any)
            break;
    }
    for (TSide& side : sides) {
        for (int i = 0; i < o.Halvings && side.Failed > 0; ++i) {
            const double rate = std::round((side.Sustained + side.Failed) / 2);
            if (side.Step(rate))
                side.Sustained = rate;
            else
                side.Failed = rate;
        }
    }
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

    gRealProcess = CG().cg_conn_process;
    CG().cg_conn_process = &TimedProcess;
    if (options.Record) {
        TTap::Install(&CountApplied);
        const int rc = RecordPairs(s, sub, options.Rate, options.Seconds);
        TTap::Remove();
        CG().cg_conn_process = gRealProcess;
        CG().cg_env_close();
        ui::UnmarkUiThread();
        return rc;
    }
    std::vector<TSide> sides;
    sides.push_back({"bare", [&](double rate) {
                         TTap::Remove();
                         return RunRaw(s, lsnSettings, rate, options.Seconds);
                     }});
    sides.push_back({"terminal", [&](double rate) {
                         TTap::Install(&CountApplied);
                         return RunTerminal(s, sub, rate, options.Seconds);
                     }});
    if (options.Stalls) {
        // One rate, each side three times in turn, with the account of each window.
        gWantStalls = true;
        for (int i = 0; i < 3; ++i)
            for (TSide& side : sides)
                side.Step(options.Rate);
    } else {
        FindCapacities(sides, options);
    }
    TTap::Remove();
    CG().cg_conn_process = gRealProcess;
    CG().cg_env_close();
    ui::UnmarkUiThread();

    const TSide& bare = sides[0];
    const TSide& term = sides[1];
    // Compared at the highest rate both sustained, where the most messages share each call.
    double bareCpu = 0, termCpu = 0;
    for (auto it = term.Cpu.rbegin(); it != term.Cpu.rend(); ++it) {
        const auto b = bare.Cpu.find(it->first);
        if (b != bare.Cpu.end() && b->second > 0) {
            bareCpu = b->second;
            termCpu = it->second;
            break;
        }
    }
    std::printf("bare_cpu_us_per_msg: %.3f\n", bareCpu * 1e6);
    std::printf("terminal_cpu_us_per_msg: %.3f\n", termCpu * 1e6);
    std::printf("bare_capacity_per_s: %.0f\n", bare.Sustained);
    std::printf("terminal_capacity_per_s: %.0f\n", term.Sustained);
    // No rate sustained (a machine too busy to keep any delay under 10 ms) gives no ratio, not a
    // ratio of zero.
    if (bare.Sustained == 0 || term.Sustained == 0)
        std::fprintf(stderr, "no rate sustained by one side: the ratios are undefined\n");
    std::printf("cpu_per_msg_vs_bare: %.2f\n", bareCpu > 0 ? termCpu / bareCpu : std::nan(""));
    std::printf("capacity_vs_bare: %.2f\n", bare.Sustained > 0 && term.Sustained > 0
                                                ? term.Sustained / bare.Sustained
                                                : std::nan(""));
    return 0;
}
