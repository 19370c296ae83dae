// How many stream-data messages one connection takes from the router per second when the
// router generates background activity as fast as the connection drains it. The baseline is a
// plain copy of the same records in this process, so the ratio travels between machines.
//
//   bench_sim [seconds]      prints, last, "sim_msgs_per_s: <n>"

#include "../../tests/sim/SimSupport.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Counter {
    std::uint64_t rows = 0;
    std::uint64_t bytes = 0;
    bool online = false;
};

std::uint32_t CG_CALL Count(cg_conn_t*, cg_listener_t*, cg_msg_t* msg, void* data) {
    auto* c = static_cast<Counter*>(data);
    if (msg->type == CG_MSG_STREAM_CHANGED) {
        ++c->rows;
        c->bytes += msg->data_size;
    } else if (msg->type == CG_MSG_P2REPL_ONLINE) {
        c->online = true;
    }
    return 0;
}

// Baseline: copying one orders_aggr-sized record, as the library does for every row.
void BM_CopyRecord(benchmark::State& state) {
    std::vector<char> from(96, 'x');
    std::vector<char> to(96);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CopyRecord);

struct Baseline : benchmark::ConsoleReporter {
    double perSecond = 0;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.counters.count("items_per_second")) {
                perSecond = r.counters.at("items_per_second");
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    int one = 1;
    benchmark::Initialize(&one, argv);
    Baseline baseline;
    benchmark::RunSpecifiedBenchmarks(&baseline);

    simtest::OpenEnvironment();
    simtest::Router router("rate=max\n");
    if (!router.Running()) {
        std::fprintf(stderr, "router did not start\n");
        return 1;
    }
    cg_conn_t* conn = nullptr;
    const std::string s = "p2tcp://127.0.0.1:" + std::to_string(router.Port()) +
                          ";app_name=bench;timeout=2000;local_timeout=500;name=marketdata";
    if (cg_conn_new(s.c_str(), &conn) != 0) {
        return 1;
    }
    const char* streams[] = {"p2repl://FORTS_AGGR5_REPL;tables=orders_aggr",
                             "p2repl://FORTS_ORDLOG_REPL;tables=orders_log",
                             "p2repl://FORTS_DEALS_REPL;tables=deal"};
    Counter counters[3];
    cg_listener_t* lsn[3] = {};
    for (int i = 0; i < 3; ++i) {
        cg_lsn_new(conn, streams[i], Count, &counters[i], &lsn[i]);
    }
    using Clock = std::chrono::steady_clock;
    auto total = [&] {
        std::uint64_t n = 0;
        for (const Counter& c : counters) {
            n += c.rows;
        }
        return n;
    };
    auto pass = [&] {
        std::uint32_t st = 0;
        cg_conn_getstate(conn, &st);
        if (st == CG_STATE_CLOSED) {
            cg_conn_open(conn, nullptr);
        } else if (st == CG_STATE_ERROR) {
            cg_conn_close(conn);
        } else if (st == CG_STATE_ACTIVE) {
            cg_conn_process(conn, 1, nullptr);
            for (cg_listener_t* l : lsn) {
                std::uint32_t ls = 0;
                if (cg_lsn_getstate(l, &ls) == 0 && ls == CG_STATE_CLOSED) {
                    cg_lsn_open(l, "lifinum=0");
                }
            }
        }
    };
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!(counters[0].online && counters[1].online && counters[2].online) &&
           Clock::now() < deadline) {
        pass();
    }
    // Warm up, then measure.
    const auto warm = Clock::now() + std::chrono::milliseconds(500);
    while (Clock::now() < warm) {
        pass();
    }
    const std::uint64_t start = total();
    const auto t0 = Clock::now();
    const auto t1 =
        t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < t1) {
        pass();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const double rate = static_cast<double>(total() - start) / elapsed;
    std::printf("router counters: %s\n", router.Control("counters").c_str());
    for (cg_listener_t* l : lsn) {
        cg_lsn_destroy(l);
    }
    cg_conn_destroy(conn);
    router.Stop();
    if (baseline.perSecond > 0) {
        std::printf("sim_vs_record_copy_ratio: %.6f\n", rate / baseline.perSecond);
    }
    std::printf("sim_msgs_per_s: %.0f\n", rate);
    return 0;
}
