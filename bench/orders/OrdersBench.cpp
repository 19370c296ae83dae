// What the risk gate adds to posting an order, and how long an order takes to come back
// answered, with the terminal's core in this process against the offline exchange.
//
// Post alone: TCGTRConnection::AddOrder with a ready record. Gate + post: the desk's Place,
// which reads the replica's facts, runs the gate and posts the same way. Both post limit orders
// resting far from the market over the same transport. Each round runs both sides, which one
// first alternating, and each side starts only once the other's replies are in and the replica
// has taken its orders-log rows: otherwise the second side would pay for the first side's
// replies being taken on the other core. The ratio is of the bench thread's CPU time, which the
// other engineers' builds on a shared machine disturb far less than the wall clock (the wall
// clock's ratio is printed too). The round trip: Place until the desk has taken the exchange's
// reply.
//
// After each round the exchange fills every resting order, so a round starts with few active
// orders, as a trader's day does (the gate's default allows 20).
//
// The ratio is the median of the rounds' own ratios: the two sides of a round run a moment apart,
// so a load that changes over the run moves both. A post alone takes anywhere from 5 to 18 us
// from one round to the next on a two-core virtual machine, while the gate adds well under one:
// the rounds' ratios scatter from 0.9 to 1.3, and the medians of forty rounds in a row of one
// run ranged from 1.00 to 1.17. Hence 320 rounds, about fifteen seconds: with 160, two runs in
// 56 still strayed 0.04 above the others' median.
//
//   bench_orders [orders per side and round, 20] [rounds, 320]
//            prints, last, "gate_overhead_vs_post: <ratio>" and "order_roundtrip_us_p50: <n>"

#include "../../tests/e2e/SimHarness.h"
#include "gateway/AddOrderMessage.h"
#include "main/ConnectorPort.h"
#include "main/console/ConsoleTerminal.h"
#include "orders/OrderDesk.h"
#include "orders/TrTransport.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "store/Storage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <time.h>

namespace {

using namespace vorlen;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool DrainUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        ui::DrainUiQueue();
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

template <std::size_t N>
void Put(char (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

// Linux only, like the whole bench.
double ThreadCpuUs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 320;

    e2e::TSimInstall inst(0);
    // Before any thread of the bench starts.
    setenv("VORLEN_REGISTRY", inst.RegFile.c_str(), 1); // NOLINT(concurrency-mt-unsafe)
    ui::MarkUiThread();
    std::ostringstream journal, errors;
    TConsoleDialogs dialogs(errors);
    TScopedDialogs scoped(dialogs);
    auto settings = std::make_unique<TSettingsModel>();
    if (settings->Load(inst.SettingsFile).Status != TLoadStatus::Loaded) {
        std::fprintf(stderr, "settings not loaded\n");
        return 1;
    }
    TConsoleView view(journal, std::move(settings));
    TConnectorPort* port = nullptr;
    // The port's desk keeps its order log in the installation's folder, not the build's.
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
    controller->Timer1Timer();
    controller->Connect1Execute();
    TCGConnector& conn = port->Connector();
    if (!DrainUntil([&] { return view.Online() && conn.Transactions()->PubState() == 3; })) {
        std::fprintf(stderr, "not on-line\n%s", journal.str().c_str());
        return 1;
    }
    conn.Transactions()->TrMax = 1'000'000; // the bench measures posting, not the limiter

    orders::TLimitsBook limits;
    std::string error;
    limits.Parse("* max_qty=10 max_pos=1000000 max_active=1000000 per_minute=1000000 "
                 "per_day=1000000\n",
                 error);
    orders::TTrTransport transport(*conn.Transactions());
    TCGStorage& store = *conn.Storage();
    orders::TDeskInputs in;
    orders::TStoreReader reader(store);
    std::size_t factReads = 0;
    in.Facts = [&reader, &factReads] {
        ++factReads;
        return reader.Read(false, false); // as the terminal's desk reads
    };
    in.FactsChanged = [&reader] { return reader.Changed(); };
    in.MarketData = [] { return orders::TLinkHealth::Online; };
    orders::TOrderDesk desk(transport, limits, in, {}, nullptr);

    const orders::TStoreFacts facts = orders::ReadStoreFacts(store);
    const auto si = facts.Ref->Instruments.find("Si-12.26");
    if (si == facts.Ref->Instruments.end()) {
        std::fprintf(stderr, "no Si-12.26\n");
        return 1;
    }
    const std::int32_t isinId = si->second.IsinId;
    int price = 85000; // far below the market: every order rests
    auto nextPrice = [&] { return price++; };

    {
        const auto t = Clock::now();
        for (int i = 0; i < 20; ++i) {
            reader.Read();
        }
        std::printf("store read: %.1f us\n",
                    std::chrono::duration<double, std::micro>(Clock::now() - t).count() / 20);
        TMarketData data;
        const auto t2 = Clock::now();
        for (int i = 0; i < 20; ++i) {
            store.GetData(data);
        }
        std::printf("GetData: %.1f us\n",
                    std::chrono::duration<double, std::micro>(Clock::now() - t2).count() / 20);
    }
    // Until the replica has gone 5 ms without a change to its key tables: the rows the last
    // side's orders caused are in.
    const auto settle = [&] {
        std::uint64_t seen = store.KeyTableChanges();
        auto still = Clock::now();
        DrainUntil([&] {
            desk.Collect(); // as the terminal's timer does between orders
            if (store.KeyTableChanges() != seen) {
                seen = store.KeyTableChanges();
                still = Clock::now();
            }
            return Clock::now() - still >= 5ms;
        });
    };
    struct TTimes {
        std::vector<double> CpuUs, WallUs;
        void Add(double cpu0, Clock::time_point wall0, int n) {
            CpuUs.push_back((ThreadCpuUs() - cpu0) / n);
            WallUs.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - wall0).count() / n);
        }
    };
    TTimes postAlone, gated;
    std::vector<double> roundTrips;
    const auto runPostAlone = [&] {
        std::vector<std::uint32_t> ids;
        const double cpu0 = ThreadCpuUs();
        const auto wall0 = Clock::now();
        for (int i = 0; i < count; ++i) {
            TAddOrderParams p{};
            Put(p.broker_code, "FZ00");
            Put(p.client_code, "001");
            Put(p.price, std::to_string(nextPrice()));
            Put(p.comment, "vorlen");
            p.isin_id = isinId;
            p.dir = 1;
            p.atype = 1;
            p.amount = 1;
            std::uint32_t id = transport.NextId();
            p.ext_id = static_cast<std::int32_t>(id);
            if (transport.PostAdd(id, isinId, p)) {
                ids.push_back(id);
            }
        }
        postAlone.Add(cpu0, wall0, count);
        DrainUntil([&] {
            std::erase_if(ids, [&](std::uint32_t id) {
                orders::TReply reply;
                return transport.TakeReply(id, reply);
            });
            return ids.empty();
        });
        settle();
    };
    std::size_t gatedReads = 0;
    const auto runGated = [&] {
        const std::size_t reads0 = factReads;
        const double cpu0 = ThreadCpuUs();
        const auto wall0 = Clock::now();
        for (int i = 0; i < count; ++i) {
            desk.Place({"Si-12.26", orders::TSide::Buy, 1, nextPrice() * orders::kPriceScale,
                        "FZ00001", false});
        }
        gated.Add(cpu0, wall0, count);
        gatedReads += factReads - reads0;
        DrainUntil([&] {
            desk.Collect();
            return desk.Pending() == 0;
        });
        settle();
    };
    for (int r = 0; r < rounds; ++r) {
        if (r % 2 == 0) {
            runPostAlone();
            runGated();
        } else {
            runGated();
            runPostAlone();
        }
        for (int i = 0; i < std::max(1, count / 4); ++i) {
            const auto start = Clock::now();
            desk.Place({"Si-12.26", orders::TSide::Buy, 1, nextPrice() * orders::kPriceScale,
                        "FZ00001", false});
            while (desk.Pending() != 0) {
                ui::DrainUiQueue();
                transport.WaitReply(1);
                desk.Collect();
            }
            roundTrips.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        inst.Control("fill now");
        settle();
        std::printf("round %d: post alone %.2f us CPU (%.2f wall), gate + post %.2f us CPU (%.2f "
                    "wall) per order\n",
                    r + 1, postAlone.CpuUs.back(), postAlone.WallUs.back(), gated.CpuUs.back(),
                    gated.WallUs.back());
    }
    std::printf("refused %zu, failed %zu, own orders %zu\n", desk.Refused(), desk.Failed(),
                orders::ReadStoreFacts(store).Own.size());
    std::printf("replica reads per gated order: %.2f\n",
                static_cast<double>(gatedReads) / (static_cast<double>(count) * rounds));
    const auto ratios = [](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> r;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            r.push_back(a[i] / b[i]);
        }
        return Median(r);
    };
    std::printf("wall clock: gate + post vs post alone %.2f\n",
                ratios(gated.WallUs, postAlone.WallUs));
    std::printf("CPU, ratio of the sides' medians: %.2f\n",
                Median(gated.CpuUs) / Median(postAlone.CpuUs));
    std::printf("gate_overhead_vs_post: %.2f\n", ratios(gated.CpuUs, postAlone.CpuUs));
    std::printf("order_roundtrip_us_p50: %.0f\n", Median(roundTrips));

    controller->FormClose();
    controller.reset();
    ui::UnmarkUiThread();
    return 0;
}
