#pragma once

// How long each stream-data message took from the router's stamp to a client having applied
// it, and the processor time of the thread that applies them; shared by the two sides of the
// end-to-end bench. The router stamps its events with the wall-clock time it made them
// ("moment_ns"); the same machine's clock read when a message has been applied gives its delay.

#include "Stalls.h"
#include "gateway/Cgate.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <string_view>
#include <time.h>
#include <vector>

namespace vorlen::e2e_bench {

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
    // Processor time of the calls of cg_conn_process that delivered stream data inside the
    // window, and the messages they delivered: the cost of the messages without the loop's
    // waiting for them.
    std::atomic<std::uint64_t> BusyNs{0};
    std::atomic<std::uint64_t> BusyMessages{0};

    void Reset() {
        On = false;
        for (auto& b : Bins)
            b.store(0, std::memory_order_relaxed);
        Applied = 0;
        BusyNs = 0;
        BusyMessages = 0;
    }
    double BusyCpuPerMessage() const {
        const std::uint64_t n = BusyMessages.load();
        return n > 0 ? static_cast<double>(BusyNs.load()) * 1e-9 / static_cast<double>(n) : 0;
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

inline TTiming gTiming;

// Where each message of a listener's scheme keeps "moment_ns" and its deletion mark
// ("replAct"), by message index; -1 where it has none.
struct TStamp {
    std::ptrdiff_t Moment = -1;
    std::ptrdiff_t Act = -1;
};

inline std::vector<TStamp> Stamps(cg_listener_t* lsn) {
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

inline std::int64_t Int64At(const cg_msg_streamdata_t& m, std::ptrdiff_t at) {
    std::int64_t v = 0;
    if (at >= 0 && m.data != nullptr && m.data_size >= static_cast<std::size_t>(at) + 8)
        std::memcpy(&v, static_cast<const std::uint8_t*>(m.data) + at, 8);
    return v;
}

// Counts an applied stream-data message and, inside a window, bins its delay. A removal
// carries the bytes the row had, stamped when it was last changed, so only messages that store
// a row are timed.
inline void Applied(const std::vector<TStamp>& stamps, const cg_msg_t* msg) {
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
    if (gStalls.On.load(std::memory_order_relaxed) && made < 1'000'000'000'000'000'000)
        gStalls.Unstamped.fetch_add(1, std::memory_order_relaxed);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const double ms = static_cast<double>(std::max<std::int64_t>(0, now - made)) * 1e-6;
    const auto bin = std::min(kBins, static_cast<std::size_t>(ms / kBinMs));
    gTiming.Bins[bin].fetch_add(1, std::memory_order_relaxed);
    if (gStalls.On.load(std::memory_order_relaxed))
        gStalls.Delay(ms);
}

inline cg_conn_process_t gRealProcess = nullptr;

inline std::uint64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000'000U +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

// cg_conn_process as both sides reach it through the entry-point table: a call that delivered
// stream data inside a window adds its processor time to the window's.
inline std::uint32_t CG_CALL TimedProcess(cg_conn_t* conn, std::uint32_t timeout,
                                          const char* settings) {
    const std::uint64_t before = gTiming.Applied.load(std::memory_order_relaxed);
    const bool stalls = gStalls.On.load(std::memory_order_relaxed);
    if (stalls)
        gStalls.Begin();
    const std::uint64_t cpu = ThreadCpuNs();
    const std::uint32_t rc = gRealProcess(conn, timeout, settings);
    const std::uint64_t delivered = gTiming.Applied.load(std::memory_order_relaxed) - before;
    if (stalls)
        gStalls.End(ThreadCpuNs() - cpu, delivered, rc);
    if (delivered > 0 && gTiming.On.load(std::memory_order_relaxed)) {
        gTiming.BusyNs.fetch_add(ThreadCpuNs() - cpu, std::memory_order_relaxed);
        gTiming.BusyMessages.fetch_add(delivered, std::memory_order_relaxed);
    }
    return rc;
}

} // namespace vorlen::e2e_bench
