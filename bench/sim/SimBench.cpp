// How many stream-data messages one connection takes from the router per second when the
// router generates background activity as fast as the connection drains it, and the processor
// time each message costs the router and the client's thread. Processor time, unlike the rate,
// hardly depends on what else the machine runs.
//
//   bench_sim [seconds]      prints, last, "sim_msgs_per_s: <n>"
#include "../../tests/sim/SimSupport.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
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

// Processor time of a process, from /proc: user and system, in seconds.
double ProcessCpuSeconds(long long pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        return 0;
    }
    char text[1024] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = 0;
    // The command name may hold spaces; the fields counted below start after its ')'.
    const char* p = std::strrchr(text, ')');
    if (p == nullptr) {
        return 0;
    }
    unsigned long utime = 0, stime = 0;
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) !=
        2) {
        return 0;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;

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
    const double routerCpu0 = ProcessCpuSeconds(router.Pid());
    const double clientCpu0 = ThreadCpuSeconds();
    const auto t0 = Clock::now();
    const auto t1 =
        t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (Clock::now() < t1) {
        pass();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const auto messages = static_cast<double>(total() - start);
    const double rate = messages / elapsed;
    const double routerCpu = ProcessCpuSeconds(router.Pid()) - routerCpu0;
    const double clientCpu = ThreadCpuSeconds() - clientCpu0;
    std::printf("router counters: %s\n", router.Control("counters").c_str());
    for (cg_listener_t* l : lsn) {
        cg_lsn_destroy(l);
    }
    cg_conn_destroy(conn);
    router.Stop();
    std::printf("sim_router_cpu_share: %.2f\n", routerCpu / elapsed);
    std::printf("sim_client_cpu_us_per_msg: %.3f\n", messages > 0 ? clientCpu * 1e6 / messages : 0);
    std::printf("sim_router_cpu_us_per_msg: %.3f\n", messages > 0 ? routerCpu * 1e6 / messages : 0);
    std::printf("sim_msgs_per_s: %.0f\n", rate);
    return 0;
}
