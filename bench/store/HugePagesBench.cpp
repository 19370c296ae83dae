// What asking for transparent huge pages does to the store's latency while a table grows to a
// million rows. The store's row chunks ask for them (MADV_HUGEPAGE); with the kernel's defrag
// set to "madvise", a fault in such a chunk may compact memory on the spot, which would show as
// a stall of one message. The same fill runs twice, each in a process of its own: once as the
// terminal runs, once with huge pages refused to the whole process (PR_SET_THP_DISABLE), and for
// each the delay of every message is kept (wall time: a stall is what a trader would feel),
// with the page faults and the huge pages the process ended up holding.
//
//   bench_hugepages [rows, 1000000]
//       prints, last, "hugepage_fill_vs_off: <fill time with / without>" and
//       "hugepage_max_stall_vs_off: <longest message with / without>"

#include "gateway/Cgate.h"
#include "store/Storage.h"
#include "store/TestScheme.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vorlen;
using Clock = std::chrono::steady_clock;

struct TFill {
    double Seconds = 0;     // the whole fill
    double P99Us = 0;       // of one message's delay
    double P9999Us = 0;     //
    double MaxUs = 0;       //
    double MinorFaults = 0; // over the fill
    double HugeKb = 0;      // anonymous memory in huge pages at the end
    double ClearMs = 0;     // the life-number clear that follows
};

double HugeKb() {
    std::ifstream in("/proc/self/smaps_rollup");
    std::string key;
    double kb = 0;
    while (in >> key) {
        if (key == "AnonHugePages:") {
            in >> kb;
            return kb;
        }
        in.ignore(1 << 10, '\n');
    }
    return 0;
}

long MinorFaults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

TFill Fill(std::size_t rows) {
    CG().cg_bcd_get = test::TestBcdGet;
    test::TTestScheme scheme;
    scheme.Table("orders_log", test::ReplFields({{"public_order_id", "i8", 8},
                                                 {"isin_id", "i4", 4},
                                                 {"price", "d16.5", 9},
                                                 {"amount", "i8", 8},
                                                 {"moment", "t", sizeof(cg_time_t)},
                                                 {"moment_ns", "u8", 8},
                                                 {"dir", "i1", 1},
                                                 {"comment", "c20", 20},
                                                 {"private_action", "i4", 4}}));
    TCGStorage store;
    store.SetStreams({"FORTS_ORDLOG_REPL"});
    TStreamData lsn;
    lsn.sName = "FORTS_ORDLOG_REPL";
    store.SetTblsDesc(0, lsn, scheme.Desc());
    test::TRowBytes row(scheme, "orders_log");
    std::vector<float> delays;
    delays.reserve(rows);
    const long faults0 = MinorFaults();
    const auto t0 = Clock::now();
    for (std::size_t i = 0; i < rows; ++i) {
        const auto id = static_cast<std::int64_t>(i + 1);
        row.Key(id).Int("public_order_id", id).Int("isin_id", id % 400).Int("amount", id % 50);
        const auto a = Clock::now();
        store.UpdStrMsg(row.Msg(), lsn);
        delays.push_back(std::chrono::duration<float, std::micro>(Clock::now() - a).count());
    }
    TFill f;
    f.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    f.MinorFaults = static_cast<double>(MinorFaults() - faults0);
    f.HugeKb = HugeKb();
    const auto c0 = Clock::now();
    store.LNClearTables(0);
    f.ClearMs = std::chrono::duration<double, std::milli>(Clock::now() - c0).count();
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double share) {
        return static_cast<double>(delays[std::min(
            delays.size() - 1, static_cast<std::size_t>(share * static_cast<double>(rows)))]);
    };
    f.P99Us = at(0.99);
    f.P9999Us = at(0.9999);
    f.MaxUs = static_cast<double>(delays.back());
    return f;
}

// Runs the fill in a child process, with or without huge pages, and reads its figures back.
bool FillApart(std::size_t rows, bool huge, TFill& out) {
    int fd[2];
    if (pipe(fd) != 0)
        return false;
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        close(fd[0]);
        if (!huge)
            prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
        const TFill f = Fill(rows);
        const bool ok = write(fd[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
        _exit(ok ? 0 : 1);
    }
    close(fd[1]);
    const bool got = read(fd[0], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Print(const char* name, const TFill& f) {
    std::printf("%s: fill %.3f s, delay p99 %.2f us, p99.99 %.1f us, max %.0f us, %.0f minor "
                "faults, %.0f kB in huge pages, clear %.1f ms\n",
                name, f.Seconds, f.P99Us, f.P9999Us, f.MaxUs, f.MinorFaults, f.HugeKb, f.ClearMs);
}

} // namespace

int main(int argc, char** argv) try {
    const std::size_t rows =
        argc > 1 ? static_cast<std::size_t>(std::max(1000L, std::atol(argv[1]))) : 1'000'000;
    // Alternated, so that a change in the machine's load falls on both alike; the faster of
    // three runs each.
    TFill on, off;
    for (int run = 0; run < 3; ++run) {
        TFill a, b;
        if (!FillApart(rows, true, a) || !FillApart(rows, false, b)) {
            std::fprintf(stderr, "a fill did not finish\n");
            return 1;
        }
        Print("huge pages", a);
        Print("no huge pages", b);
        if (run == 0 || a.Seconds < on.Seconds)
            on = a;
        if (run == 0 || b.Seconds < off.Seconds)
            off = b;
    }
    std::printf("hugepage_minor_faults_vs_off: %.3f\n", on.MinorFaults / off.MinorFaults);
    std::printf("hugepage_max_stall_vs_off: %.2f\n", on.MaxUs / off.MaxUs);
    std::printf("hugepage_fill_vs_off: %.2f\n", on.Seconds / off.Seconds);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
} catch (...) {
    return 1;
}
