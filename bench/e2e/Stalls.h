#pragma once

// Where the receiving thread's time goes around the late messages: one record per call of
// cg_conn_process that delivered stream data, and per gap between two such calls, written by
// the receiving thread into room set aside before the window opens and read by the main thread
// once it has closed. Only with --stalls: reading the clocks per message costs the thread a
// little, so the capacity figures are never taken with it.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace vorlen::e2e_bench {

struct TCallRecord {
    std::int64_t Start = 0; // steady clock, ns
    std::int64_t End = 0;
    std::uint64_t CpuNs = 0;      // the thread's processor time over the call
    std::uint64_t GapCpuNs = 0;   // and over the gap before it, since the last call ended
    std::uint64_t CallbackNs = 0; // of which inside the listeners' callbacks (the store, books)
    std::uint32_t MaxCallbackNs = 0;
    std::uint32_t Messages = 0;
    std::uint32_t Late = 0; // messages it delivered more than kLateMs after their stamp
    long Switches = 0;      // involuntary context switches of the thread so far
    long Faults = 0;        // and its page faults
    std::uint32_t Rc = 0;   // what the call returned: not CG_ERR_OK, the loop sleeps
    double MaxDelayMs = 0;
};

constexpr double kLateMs = 5;
// One message's callback this long is a stall of the receiving thread's own.
constexpr std::uint32_t kLongCallbackNs = 2'000'000;

struct TStalls {
    std::atomic<bool> On{false};
    std::vector<TCallRecord> Calls;
    std::atomic<std::size_t> Count{0};
    // Timed messages whose stamp is not a time of this century (the router left it unset).
    std::atomic<std::uint64_t> Unstamped{0};
    TCallRecord Current;
    std::uint64_t LastEndCpu = 0;

    void Arm(std::size_t room) {
        Calls.assign(room, TCallRecord{});
        Count = 0;
        Unstamped = 0;
        LastEndCpu = 0;
    }
    static std::int64_t Now() {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static std::uint64_t Cpu() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000U +
               static_cast<std::uint64_t>(ts.tv_nsec);
    }
    static rusage Usage() {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return u;
    }
    void Begin() {
        Current = TCallRecord{};
        Current.Start = Now();
        const std::uint64_t cpu = Cpu();
        Current.GapCpuNs = LastEndCpu != 0 && cpu > LastEndCpu ? cpu - LastEndCpu : 0;
    }
    void Delay(double ms) {
        Current.MaxDelayMs = std::max(Current.MaxDelayMs, ms);
        if (ms > kLateMs)
            ++Current.Late;
    }
    void Callback(std::int64_t ns) {
        Current.CallbackNs += static_cast<std::uint64_t>(ns);
        Current.MaxCallbackNs = std::max(Current.MaxCallbackNs, static_cast<std::uint32_t>(ns));
    }
    void End(std::uint64_t cpuNs, std::uint64_t messages, std::uint32_t rc) {
        Current.End = Now();
        Current.CpuNs = cpuNs;
        Current.Rc = rc;
        Current.Messages = static_cast<std::uint32_t>(messages);
        const rusage u = Usage();
        Current.Switches = u.ru_nivcsw;
        Current.Faults = u.ru_minflt + u.ru_majflt;
        LastEndCpu = Cpu();
        const std::size_t n = Count.load(std::memory_order_relaxed);
        if (n < Calls.size()) {
            Calls[n] = Current;
            Count.store(n + 1, std::memory_order_release);
        }
    }

    // The loop's own pause after a call that returned early without messages.
    static double Sleep(const TCallRecord& c) {
        const double wall = static_cast<double>(c.End - c.Start) * 1e-6;
        return c.Rc != 0 ? std::max(0.0, 1.0 - wall) : 0.0;
    }

    // The account of one window: how the calls and the gaps between them were spent, and the
    // calls that delivered late messages with what came just before each.
    void Print(const char* side) const {
        const std::size_t n = Count.load(std::memory_order_acquire);
        if (n < 2)
            return;
        std::vector<double> gaps, walls;
        double cbTotal = 0, wallTotal = 0, cpuTotal = 0, gapTotal = 0, gapCpu = 0, over = 0;
        std::uint64_t late = 0, msgs = 0, switches = 0, lateInLong = 0, longCalls = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const TCallRecord& c = Calls[i];
            const double wall = static_cast<double>(c.End - c.Start) * 1e-6;
            walls.push_back(wall);
            wallTotal += wall;
            cpuTotal += static_cast<double>(c.CpuNs) * 1e-6;
            cbTotal += static_cast<double>(c.CallbackNs) * 1e-6;
            late += c.Late;
            if (c.MaxCallbackNs > kLongCallbackNs) {
                lateInLong += c.Late;
                ++longCalls;
            }
            msgs += c.Messages;
            if (i > 0) {
                const TCallRecord& p = Calls[i - 1];
                switches += static_cast<std::uint64_t>(std::max(0L, c.Switches - p.Switches));
                const double gap = static_cast<double>(c.Start - p.End) * 1e-6;
                gaps.push_back(gap);
                gapTotal += gap;
                gapCpu += static_cast<double>(c.GapCpuNs) * 1e-6;
                over += std::max(0.0, gap - Sleep(p) - static_cast<double>(c.GapCpuNs) * 1e-6);
            }
        }
        const auto pct = [](std::vector<double> v, double p) {
            std::sort(v.begin(), v.end());
            return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100 * v.size()))];
        };
        std::printf(
            "stalls %s: %zu calls, %.0f msgs/call; call ms p50 %.2f p99 %.2f max %.2f; "
            "gap ms p50 %.2f p99 %.2f max %.2f; in calls %.0f ms (cpu %.0f, callbacks "
            "%.0f), in gaps %.0f ms (cpu %.0f, past the loop's sleep and cpu %.0f); %llu late "
            "(>%.0f ms) of %llu, %llu unstamped; %llu preemptions\n",
            side, n, static_cast<double>(msgs) / static_cast<double>(n), pct(walls, 50),
            pct(walls, 99), pct(walls, 100), pct(gaps, 50), pct(gaps, 99), pct(gaps, 100),
            wallTotal, cpuTotal, cbTotal, gapTotal, gapCpu, over,
            static_cast<unsigned long long>(late), kLateMs, static_cast<unsigned long long>(msgs),
            static_cast<unsigned long long>(Unstamped.load()),
            static_cast<unsigned long long>(switches));
        std::printf("  %llu calls held a callback over %.0f ms; they delivered %llu of the late\n",
                    static_cast<unsigned long long>(longCalls), kLongCallbackNs * 1e-6,
                    static_cast<unsigned long long>(lateInLong));
        // The episodes: a call that delivered late messages after one that did not, with the
        // calls and gaps leading to it.
        int shown = 0;
        for (std::size_t i = 1; i < n && shown < 6; ++i) {
            if (Calls[i].Late == 0 || Calls[i - 1].Late != 0)
                continue;
            ++shown;
            std::printf("  episode at call %zu:\n", i);
            for (std::size_t k = i >= 4 ? i - 4 : 0; k < std::min(n, i + 6); ++k) {
                const TCallRecord& c = Calls[k];
                const double gap =
                    k > 0 ? static_cast<double>(c.Start - Calls[k - 1].End) * 1e-6 : 0.0;
                std::printf(
                    "    gap %6.2f cpu %6.2f | call %6.2f ms cpu %6.2f cb %6.2f maxcb "
                    "%6.3f rc %u | %5u msgs %5u late, max delay %6.2f ms, %ld preempt %ld faults\n",
                    gap, static_cast<double>(c.GapCpuNs) * 1e-6,
                    static_cast<double>(c.End - c.Start) * 1e-6,
                    static_cast<double>(c.CpuNs) * 1e-6, static_cast<double>(c.CallbackNs) * 1e-6,
                    static_cast<double>(c.MaxCallbackNs) * 1e-6, c.Rc, c.Messages, c.Late,
                    c.MaxDelayMs, k > 0 ? c.Switches - Calls[k - 1].Switches : 0L,
                    k > 0 ? c.Faults - Calls[k - 1].Faults : 0L);
            }
        }
    }
};

inline TStalls gStalls;

} // namespace vorlen::e2e_bench
