// Tick to order: how long the terminal takes from the gateway library handing it a change of an
// instrument's book to posting the order a strategy answers it with, in the terminal's own
// process against the offline exchange, through the one order path (the expert host, its Lua
// strategy, the desktop's order desk with its risk gate, the transaction connection).
//
// Stamps. The terminal reaches the gateway only through the entry-point table, so the bench
// swaps three entries: cg_lsn_new (the market-data listeners get a forwarding callback, which
// stamps a book message of the instrument when it is handed over, before the terminal's own
// callback runs), cg_pub_msgnew and cg_pub_post (the moment the order's message is built and
// the moment it is posted). The expert's thread is stamped by a hook put between the expert and
// its strategy runner before the thread starts: its OnTick is entered once the thread has woken
// and refreshed its snapshot, just before the strategy's on_tick and on_book.
//
// Attribution. A strategy that waits for the exchange's answer to its order (as ctx:buy does)
// is busy while further book messages arrive; they coalesce into its next tick, and timing them
// would count the strategy's own wait as the terminal's. So only a book message that arrives
// while the expert is idle (outside every hook call) is stamped as a tick, only the first one
// until the expert has dealt with it, and a post counts as its answer only when it is the first
// add posted by the hook call that followed it. A tick whose call posted nothing (the book
// changed beyond its best levels, or only in the strategy's own orders) is dropped. Carrying an id
// through the order (its price) was the other choice; but the price the strategy quotes repeats,
// and an id cannot tell which message the expert woke for when several came at once.
//
// Breakdown per loop: apply (the terminal's listener callback for the tick's message: store and
// books), batch (tick to the end of the market-data thread's batch that message came in) and
// wake (from there to the expert's OnTick) — split only in the loops whose expert woke after
// the batch's end: most wake before it, the batch letting the store's lock go once the
// instrument's rows are in —, strategy (OnTick to the order's message being built: Lua, the
// book, the desk's reading of the replica and the gate), build (filling the message) and the
// post call itself. Afterwards, with the market still and warm caches, this thread times the
// pieces alone: the desk's Check on such an order (the gate without posting), the expert's
// snapshot refresh and a copy of the book.
//
// Baseline, measured in the same run: a bare hand-off between two threads through the same
// wake-up primitive (TEventSet) the store wakes an expert with.
//
// The market: the router's background activity at --rate events a second, and a move of the
// instrument's price by a step, up and down in turn, every --move-ms: the background alone
// changes one instrument's best prices only a few times a second.
//
//   bench_latency [--loops N] [--rate N] [--move-ms N] [--seconds N] [--stamps FILE] [--cpu]
//       loops timed (default 2000), background events a second (default 5000), the pause
//       between moves (default 10 ms), the longest the loops may take (default 180 s), a file
//       for each loop's stamps in CLOCK_MONOTONIC ns (to cut a `perf record -k mono` profile
//       down to the loops' parts with bench/latency/window_profile.py, or a scheduler trace
//       to the slow loops with bench/latency/wake_tail.py), and --cpu for the expert thread's
//       processor time in the strategy's part (strategy_cpu: read at the wake-up and when the
//       message is built, a system call each inside the timed path, so only when asked). Prints
//       tick_to_post_us_p50/p99, md_to_expert_us_p50/p99, the breakdown, the machine's load,
//       and last "tick_to_post_vs_handoff_p50" and the p50 and p99 against their targets
//       (30 and 200 us).

#include "../../tests/e2e/SimHarness.h"
#include "ListenerTap.h"
#include "book/BookKeeper.h"
#include "experts/ExpertHost.h"
#include "gateway/Cgate.h"
#include "main/ConnectorPort.h"
#include "main/TerminalDesk.h"
#include "main/console/ConsoleTerminal.h"
#include "orders/OrderDesk.h"
#include "platform/Events.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "settings/Settings.h"
#include "store/Storage.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using namespace vorlen;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::int64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// --- stamps ---------------------------------------------------------------------------------

struct TLoop {
    std::int64_t Tick = 0, Applied = 0, Released = 0, Wake = 0, Built = 0, Post = 0, Posted = 0;
    // The expert thread's processor time at Wake and at Built: what of the strategy's part it
    // spent running rather than waiting (for a lock, or for a core).
    std::int64_t CpuWake = 0, CpuBuilt = 0;
    // Stream-data messages the market-data thread handed over from the tick to its batch's end.
    std::int64_t Batched = 0;
};

std::atomic<std::int32_t> gIsinId{0};
std::atomic<bool> gBusy{false};
// The tick waiting for the expert, and the moment the expert's hook call for it began; 0: none.
std::atomic<std::int64_t> gTick{0};
std::atomic<std::int64_t> gApplied{0};
std::atomic<std::int64_t> gBatched{0};
// When the market-data thread let the store's lock go after the tick: the end of the batch the
// tick's message was applied in (the expert's snapshot waits for it).
std::atomic<std::int64_t> gReleased{0};
thread_local bool tMarketData = false;
std::atomic<std::int64_t> gWake{0};
std::int64_t gCpuWake = 0; // the expert's thread only
bool gCpuProbe = false;    // --cpu
std::atomic<std::uint64_t> gBookMessages{0}, gAdds{0}, gCancels{0}, gDropped{0};

std::mutex gLock; // the samples
std::vector<TLoop> gLoops;
std::vector<double> gWakeUs;

// Where each message of a book listener's scheme keeps isin_id; -1 where it has none.
std::vector<std::ptrdiff_t> IsinOffsets(cg_listener_t* lsn) {
    std::vector<std::ptrdiff_t> out;
    cg_scheme_desc_t* scheme = nullptr;
    if (CG().cg_lsn_getscheme(lsn, &scheme) != CG_ERR_OK || scheme == nullptr)
        return out;
    for (const cg_message_desc_t* m = scheme->messages; m != nullptr; m = m->next) {
        std::ptrdiff_t at = -1;
        const cg_field_desc_t* f = m->fields;
        for (std::size_t i = 0; f != nullptr && i < m->num_fields; ++i, f = f->next)
            if (std::string_view(f->name) == "isin_id" && std::string_view(f->fild_type) == "i4")
                at = static_cast<std::ptrdiff_t>(f->offset);
        out.push_back(at);
    }
    return out;
}

using TTap = bench::TListenerTap<std::vector<std::ptrdiff_t>>;

bool OurBookMessage(const TTap::TListener& l, const cg_msg_t* msg) {
    if (msg == nullptr || msg->type != CG_MSG_STREAM_CHANGED ||
        l.Settings.find("AGGR") == std::string::npos)
        return false;
    const auto& m = *reinterpret_cast<const cg_msg_streamdata_t*>(msg);
    if (m.msg_index >= l.State.size() || l.State[m.msg_index] < 0 || m.data == nullptr ||
        m.data_size < static_cast<std::size_t>(l.State[m.msg_index]) + 4)
        return false;
    std::int32_t isin = 0;
    std::memcpy(&isin, static_cast<const std::uint8_t*>(m.data) + l.State[m.msg_index], 4);
    return isin == gIsinId.load(std::memory_order_relaxed);
}

std::uint32_t CG_CALL StampBook(TTap::TListener& l, cg_conn_t* conn, cg_listener_t* lsn,
                                cg_msg_t* msg) {
    const std::int64_t t = NowNs();
    bool ours = false;
    if (OurBookMessage(l, msg)) {
        gBookMessages.fetch_add(1, std::memory_order_relaxed);
        std::int64_t none = 0;
        ours = !gBusy.load() && gTick.compare_exchange_strong(none, t);
    }
    // The transaction connection's replies come through a tapped listener too.
    const bool marketData = l.Settings.rfind("p2repl://", 0) == 0;
    if (marketData)
        tMarketData = true;
    const std::uint32_t rc = l.Forward(conn, lsn, msg);
    if (ours) {
        gApplied = NowNs();
        gReleased = 0;
        gBatched = 1;
    } else if (marketData && msg != nullptr && msg->type == CG_MSG_STREAM_CHANGED &&
               gTick.load() != 0 && gReleased.load() == 0) {
        gBatched.fetch_add(1, std::memory_order_relaxed);
    } else if (marketData && msg != nullptr && msg->type != CG_MSG_STREAM_CHANGED &&
               gTick.load() != 0 && gReleased.load() == 0) {
        gReleased = NowNs(); // any other message ends the batch before it is handled
    }
    if (msg != nullptr && msg->type == CG_MSG_OPEN)
        l.State = IsinOffsets(lsn);
    return rc;
}

cg_conn_process_t gRealProcess = nullptr;

// The market-data thread ends its batch as soon as the call returns.
std::uint32_t CG_CALL StampProcess(cg_conn_t* conn, std::uint32_t timeout, const char* settings) {
    const std::uint32_t rc = gRealProcess(conn, timeout, settings);
    if (tMarketData && gTick.load() != 0 && gReleased.load() == 0)
        gReleased = NowNs();
    return rc;
}

cg_pub_msgnew_t gRealMsgNew = nullptr;
cg_pub_post_t gRealPost = nullptr;
thread_local bool tAdd = false;
thread_local std::int64_t tBuilt = 0;
thread_local std::int64_t tCpuBuilt = 0;

std::uint32_t CG_CALL StampMsgNew(cg_publisher_t* pub, std::uint32_t idType, const void* id,
                                  cg_msg_t** msg) {
    tBuilt = NowNs();
    if (gCpuProbe)
        tCpuBuilt = ThreadCpuNs();
    tAdd = idType == CG_KEY_NAME && std::string_view(static_cast<const char*>(id)) == "AddOrder";
    return gRealMsgNew(pub, idType, id, msg);
}

std::uint32_t CG_CALL StampPost(cg_publisher_t* pub, cg_msg_t* msg, std::uint32_t flags) {
    const std::int64_t post = NowNs();
    const std::uint32_t rc = gRealPost(pub, msg, flags);
    const std::int64_t posted = NowNs();
    (tAdd ? gAdds : gCancels).fetch_add(1, std::memory_order_relaxed);
    const std::int64_t wake = gWake.load();
    if (tAdd && wake != 0) {
        const std::int64_t tick = gTick.load();
        gWake = 0;
        gTick = 0;
        std::lock_guard lock(gLock);
        gLoops.push_back({tick, gApplied.load(), gReleased.load(), wake, tBuilt, post, posted,
                          gCpuWake, tCpuBuilt, gBatched.load()});
    }
    return rc;
}

// Between the expert and its strategy runner: stamps the expert's wake-up and keeps gBusy for
// as long as the strategy runs.
class TStampingHook final : public TExpertHook {
public:
    explicit TStampingHook(TExpertHook& inner) : FInner(inner) {}
    void OnTick() override {
        const std::int64_t t = NowNs();
        gBusy = true;
        const std::int64_t tick = gTick.load();
        if (tick != 0) {
            if (gCpuProbe)
                gCpuWake = ThreadCpuNs();
            gWake = t;
        }
        FInner.OnTick();
        if (tick != 0) {
            std::lock_guard lock(gLock);
            gWakeUs.push_back(static_cast<double>(t - tick) * 1e-3);
        }
        // A tick the strategy did not answer: the best levels stayed as they were.
        if (tick != 0 && gWake.exchange(0) != 0) {
            gTick = 0;
            gDropped.fetch_add(1, std::memory_order_relaxed);
        }
        gBusy = false;
    }
    void OnOrderReplies() override {
        gBusy = true;
        FInner.OnOrderReplies();
        gBusy = false;
    }
    void OnHookEvent() override {
        gBusy = true;
        FInner.OnHookEvent();
        gBusy = false;
    }
    void OnThreadEnd() override { FInner.OnThreadEnd(); }

private:
    TExpertHook& FInner;
};

// --- the baseline ------------------------------------------------------------------------------

// A bare hand-off: this thread stamps and signals, the other stamps on waking. Spaced out so
// that the waiting thread has gone to sleep each time, as an idle expert has.
std::vector<double> HandOffs(int count) {
    TEventSet events(2);
    std::atomic<std::int64_t> sent{0}, seen{0};
    std::thread waiter([&] {
        while (events.WaitAny() == 0)
            seen = NowNs();
    });
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_for(200us);
        seen = 0;
        sent = NowNs();
        events.Signal(0);
        while (seen.load() == 0)
            std::this_thread::yield();
        us.push_back(static_cast<double>(seen.load() - sent.load()) * 1e-3);
    }
    events.Signal(1);
    waiter.join();
    return us;
}

// --- the strategy ------------------------------------------------------------------------------

// Answers each change of the best prices or their volumes with a buy resting far below the market
// and cancels it at once; one that could not be cancelled yet (the orders log had not shown it) is
// tried again after the next order, so none piles up against the active-order limit.
constexpr const char* kStrategy = R"lua(
params = { offset = 100 }
local bid, bidv, ask, askv, n = 0, 0, 0, 0, 0
local left = {}

function on_book(ctx)
  local b = ctx:book(1)
  if b == nil or #b.bids == 0 or #b.asks == 0 then return end
  local tb, ta = b.bids[1], b.asks[1]
  -- The others' volume only: the strategy's own orders rest far below the best prices.
  if tb[1] == bid and tb[2] - tb[3] == bidv and ta[1] == ask and ta[2] - ta[3] == askv then
    return
  end
  bid, bidv, ask, askv = tb[1], tb[2] - tb[3], ta[1], ta[2] - ta[3]
  n = n + 1
  -- The gate refuses the same order twice in a second: the price walks down in steps of three,
  -- which a best bid moving a step or two cannot undo.
  local id = ctx:buy(1, bid - ctx.params.offset - 3 * (n % 500))
  if id ~= nil and not ctx:cancel(id) then left[#left + 1] = id end
  for i = #left, 1, -1 do
    if ctx:cancel(left[i]) then table.remove(left, i) end
  end
end

function on_stop(ctx)
  for _, o in ipairs(ctx:orders()) do ctx:cancel(o.id) end
end
)lua";

// --- figures ------------------------------------------------------------------------------------

double Percentile(std::vector<double> v, int percent) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * static_cast<std::size_t>(percent) / 100)];
}

template <class TFn>
std::vector<double> Part(const std::vector<TLoop>& loops, TFn fn) {
    std::vector<double> out;
    out.reserve(loops.size());
    for (const TLoop& l : loops)
        out.push_back(static_cast<double>(fn(l)) * 1e-3);
    return out;
}

void PrintPair(const char* name, const std::vector<double>& us) {
    std::printf("%s_us_p50: %.1f\n%s_us_p99: %.1f\n", name, Percentile(us, 50), name,
                Percentile(us, 99));
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

struct TOptions {
    int Loops = 2000;
    int Rate = 5000;
    int Seconds = 180;
    int MoveMs = 10;
    std::string Stamps; // where each loop's stamps go, if anywhere
    bool Cpu = false;
};

TOptions Parse(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--cpu") {
            o.Cpu = true;
            continue;
        }
        if (i + 1 == argc)
            break;
        const char* value = argv[++i];
        if (a == "--stamps") {
            o.Stamps = value;
            continue;
        }
        const int v = std::max(1, std::atoi(value));
        if (a == "--loops")
            o.Loops = v;
        else if (a == "--rate")
            o.Rate = v;
        else if (a == "--seconds")
            o.Seconds = v;
        else if (a == "--move-ms")
            o.MoveMs = v;
    }
    return o;
}

class TDiscard final : public TJournalSink {
public:
    void AppendLine(const std::string&) override {}
};

} // namespace

int main(int argc, char** argv) {
    const TOptions options = Parse(argc, argv);
    gCpuProbe = options.Cpu;
    std::printf("load at start: %s\n", LoadAverage().c_str());
    const std::vector<double> handoff = HandOffs(2000);

    // The market moves only when told until the terminal is on-line.
    e2e::TSimInstall inst(0);
    // The bench's own data folder (limits, the day's order log), before any thread starts.
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    setenv("VORLEN_DATA_DIR", inst.DataDir.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    {
        // Far more orders than a trader's defaults allow; the price rules stay as they are.
        std::ofstream limits(inst.DataDir / orders::kLimitsFileName);
        limits << "* max_qty=1 max_pos=50 max_active=50 per_minute=1000000 per_day=100000000\n";
    }
    ui::MarkUiThread();
    std::ostringstream journal, errors;
    TConsoleDialogs dialogs(errors);
    TScopedDialogs scoped(dialogs);
    auto settings = std::make_unique<TSettingsModel>();
    if (settings->Load(inst.SettingsFile).Status != TLoadStatus::Loaded) {
        std::fprintf(stderr, "settings not loaded\n");
        return 1;
    }
    settings->SetSpin(100); // the highest transaction rate the settings take
    TConsoleView view(journal, std::move(settings));
    TConnectorPort* port = nullptr;
    const TPortFactory makePort = ConnectorPortFactory(DefaultConnectorServices(), inst.DataDir);
    auto controller = std::make_unique<TMainController>(
        view,
        [&](TJournalSink& memo, const std::array<TGridSink*, kGridCount>& grids) {
            std::unique_ptr<TTerminalPort> created = makePort(memo, grids);
            port = static_cast<TConnectorPort*>(created.get());
            return created;
        },
        platform::ExecutableDir());
    controller->FormCreate();
    controller->Timer1Timer(); // loads the gateway library
    if (port == nullptr || CG().cg_lsn_new == nullptr) {
        std::fprintf(stderr, "gateway library not loaded\n%s", errors.str().c_str());
        return 1;
    }
    TTap::Install(&StampBook);
    gRealProcess = CG().cg_conn_process;
    CG().cg_conn_process = &StampProcess;
    gRealMsgNew = CG().cg_pub_msgnew;
    gRealPost = CG().cg_pub_post;
    CG().cg_pub_msgnew = &StampMsgNew;
    CG().cg_pub_post = &StampPost;
    controller->Connect1Execute();
    // Nothing wakes this thread when the conditions below come true: it looks every few ms.
    const auto drainUntil = [](const std::function<bool()>& done, Clock::duration limit) {
        const auto until = Clock::now() + limit;
        while (!done() && Clock::now() < until)
            ui::WaitAndDrainFor(done, 5ms);
        return done();
    };
    TCGConnector& conn = port->Connector();
    orders::TOrderDesk* desk = port->OrderDesk();
    if (desk == nullptr ||
        !drainUntil([&] { return view.Online() && conn.Transactions()->PubState() == 3; }, 90s)) {
        std::fprintf(stderr, "not on-line\n%s%s", errors.str().c_str(), journal.str().c_str());
        return 1;
    }
    THeaders fut, opt;
    TSHeaders spot;
    conn.Storage()->GetHeaders(fut, opt, spot);
    const std::string isin = "Si-12.26";
    const auto si =
        std::find_if(fut.begin(), fut.end(), [&](const THeader& h) { return h.isin == isin; });
    if (si == fut.end()) {
        std::fprintf(stderr, "no %s\n", isin.c_str());
        return 1;
    }
    gIsinId = si->isin_id;

    TDiscard memo;
    auto host = std::make_unique<TExpertHost>(memo, conn.Storage(), conn.Transactions(), desk,
                                              conn.Books());
    host->SetupExpert(si->isin_id, si->name, si->isin);
    TStampingHook hook(*host->Strategy());
    host->Expert()->SetHook(&hook);
    // The hook outlives the expert's thread, which calls it up to its end.
    const auto fail = [&](const std::string& why) {
        host.reset();
        std::fprintf(stderr, "%s\n%s", why.c_str(), journal.str().c_str());
        return 1;
    };
    if (!host->RegisterAndStart())
        return fail("the expert did not start");
    TStrategyRunner& runner = *host->Strategy();
    const std::uint64_t first = runner.Status().Serial;
    runner.Load("latency.lua", kStrategy);
    runner.Start();
    if (!drainUntil([&] { return runner.Status().Serial >= first + 2; }, 10s) ||
        runner.Status().State != TStrategy::TState::Running)
        return fail("the strategy did not start: " + runner.Status().Error);

    inst.Control("rate " + std::to_string(options.Rate));
    const auto t0 = Clock::now();
    const auto loops = [] {
        std::lock_guard lock(gLock);
        return gLoops.size();
    };
    std::size_t shown = 0;
    int restarts = 0;
    const std::string move = "move " + std::to_string(si->isin_id) + " ";
    int moves = 0;
    while (loops() < static_cast<std::size_t>(options.Loops) &&
           Clock::now() - t0 < std::chrono::seconds(options.Seconds)) {
        // The background alone changes the best prices of one instrument a few times a second;
        // a move changes them for certain, up and down in turn.
        ui::WaitAndDrainFor([] { return false; }, std::chrono::milliseconds(options.MoveMs));
        inst.Control(move + (++moves % 2 != 0 ? "1" : "-1"));
        // An answer that takes the exchange more than a second on a busy machine overruns the
        // callback's budget, and the strategy stops; a trader would start it again.
        if (const TStrategyStatus st = runner.Status(); st.State != TStrategy::TState::Running) {
            std::printf("strategy stopped (%s), started again\n", st.Error.c_str());
            ++restarts;
            runner.Load("latency.lua", kStrategy);
            runner.Start();
            drainUntil([&] { return runner.Status().Serial >= st.Serial + 2; }, 10s);
        }
        if (loops() / 500 != shown / 500) {
            shown = loops();
            std::printf("loops: %zu\n", shown);
            std::fflush(stdout);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    inst.Control("rate 0");
    host->FinishStrategy();
    std::vector<TLoop> taken;
    {
        std::lock_guard lock(gLock);
        taken = gLoops;
    }
    const std::vector<double> wakes = gWakeUs;
    if (!options.Stamps.empty()) {
        std::ofstream out(options.Stamps);
        out << "tick\tapplied\treleased\twake\tbuilt\tpost\tposted\n";
        for (const TLoop& l : taken)
            out << l.Tick << '\t' << l.Applied << '\t' << l.Released << '\t' << l.Wake << '\t'
                << l.Built << '\t' << l.Post << '\t' << l.Posted << '\n';
    }

    // The gate alone, on the order the strategy would send: the desk's check reads the replica
    // and asks the gate, as a post does, without posting.
    std::vector<double> gate;
    std::size_t allowed = 0;
    const std::int64_t ask =
        BestOppositeUnits(*conn.Books(), si->isin_id, orders::TSide::Buy).value_or(0);
    const orders::TOrderRequest order{
        isin, orders::TSide::Buy, 1, ask - 200 * orders::kPriceScale, "FZ00001", false, true};
    for (int i = 0; i < 2000; ++i) {
        const std::int64_t a = NowNs();
        allowed += desk->Check(order).Allowed ? 1 : 0;
        gate.push_back(static_cast<double>(NowNs() - a) * 1e-3);
    }
    std::printf("gate checks allowed: %zu of %zu\n", allowed, gate.size());
    // The expert's refresh of its snapshot on every wake-up.
    std::vector<double> snapshot, book;
    {
        // A strategy's tick copies its instrument's book: the copy alone, with warm caches.
        for (int i = 0; i < 2000; ++i) {
            TBookSnapshot b;
            const std::int64_t a = NowNs();
            conn.Books()->Snapshot(si->isin_id, b);
            book.push_back(static_cast<double>(NowNs() - a) * 1e-3);
        }
        TMarketData data;
        for (int i = 0; i < 2000; ++i) {
            const std::int64_t a = NowNs();
            conn.Storage()->GetData(data);
            snapshot.push_back(static_cast<double>(NowNs() - a) * 1e-3);
        }
    }

    std::printf("loops timed: %zu in %.1f s (book messages of %s: %llu, ticks dropped "
                "unanswered: %llu, adds posted: %llu, cancels posted: %llu)\n",
                taken.size(), seconds, isin.c_str(),
                static_cast<unsigned long long>(gBookMessages.load()),
                static_cast<unsigned long long>(gDropped.load()),
                static_cast<unsigned long long>(gAdds.load()),
                static_cast<unsigned long long>(gCancels.load()));
    std::printf("strategy restarts: %d\n", restarts);
    const std::vector<double> tickToPost =
        Part(taken, [](const TLoop& l) { return l.Post - l.Tick; });
    PrintPair("tick_to_post", tickToPost);
    PrintPair("md_to_expert", wakes);
    PrintPair("apply", Part(taken, [](const TLoop& l) { return l.Applied - l.Tick; }));
    // A loop whose batch end was not seen (the expert came in between) has no split.
    std::vector<TLoop> split;
    std::copy_if(taken.begin(), taken.end(), std::back_inserter(split),
                 [](const TLoop& l) { return l.Released >= l.Tick && l.Wake >= l.Released; });
    std::printf("loops with the batch's end seen: %zu\n", split.size());
    PrintPair("batch", Part(split, [](const TLoop& l) { return l.Released - l.Tick; }));
    std::vector<double> batched;
    batched.reserve(split.size());
    for (const TLoop& l : split)
        batched.push_back(static_cast<double>(l.Batched));
    std::printf("batch_messages_p50: %.0f\nbatch_messages_p99: %.0f\n", Percentile(batched, 50),
                Percentile(batched, 99));
    PrintPair("wake", Part(split, [](const TLoop& l) { return l.Wake - l.Released; }));
    PrintPair("strategy", Part(taken, [](const TLoop& l) { return l.Built - l.Wake; }));
    if (gCpuProbe)
        PrintPair("strategy_cpu",
                  Part(taken, [](const TLoop& l) { return l.CpuBuilt - l.CpuWake; }));
    PrintPair("build", Part(taken, [](const TLoop& l) { return l.Post - l.Built; }));
    PrintPair("post_call", Part(taken, [](const TLoop& l) { return l.Posted - l.Post; }));
    PrintPair("gate_check", gate);
    PrintPair("snapshot", snapshot);
    PrintPair("book_copy", book);
    PrintPair("handoff", handoff);
    std::printf("load at end: %s\n", LoadAverage().c_str());

    host.reset();
    controller->FormClose();
    controller.reset();
    CG().cg_conn_process = gRealProcess;
    CG().cg_pub_msgnew = gRealMsgNew;
    CG().cg_pub_post = gRealPost;
    TTap::Remove();
    ui::UnmarkUiThread();
    if (taken.size() < static_cast<std::size_t>(options.Loops)) {
        std::fprintf(stderr, "only %zu loops of %d timed\n%s", taken.size(), options.Loops,
                     journal.str().c_str());
        return 1;
    }
    std::printf("tick_to_post_vs_handoff_p50: %.2f\n",
                Percentile(tickToPost, 50) / Percentile(handoff, 50));
    std::printf("tick_to_post_p50_vs_target: %.2f\n", Percentile(tickToPost, 50) / 30.0);
    std::printf("tick_to_post_p99_vs_target: %.2f\n", Percentile(tickToPost, 99) / 200.0);
    return 0;
}
