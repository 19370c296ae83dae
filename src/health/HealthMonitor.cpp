#include "health/HealthMonitor.h"

#include "platform/FormatSettings.h"

#include <chrono>
#include <utility>
#include <vector>

namespace vorlen {

namespace {

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TLinkFacts Sample(const THealthFeed& feed) {
    TLinkFacts f;
    f.Running = feed.Running.load(std::memory_order_acquire);
    f.ConnState = feed.ConnState.load(std::memory_order_relaxed);
    f.Ready = feed.Ready.load(std::memory_order_relaxed);
    f.Attempts = feed.Attempts.load(std::memory_order_relaxed);
    f.Data = feed.Data.load(std::memory_order_relaxed);
    f.Heartbeats = feed.Heartbeats.load(std::memory_order_relaxed);
    f.HeartbeatWatched = feed.HeartbeatWatched.load(std::memory_order_relaxed);
    return f;
}

} // namespace

THealthMonitor::THealthMonitor(TJournalSink* journal, TMsClock clock)
    : FJournal(journal), FClock(clock ? std::move(clock) : TMsClock(&SteadyMs)) {}

THealthMonitor::~THealthMonitor() {
    Stop();
}

void THealthMonitor::Configure(const std::string& router, std::int64_t routerTimeoutMs) {
    std::lock_guard<std::mutex> lock(FLock);
    for (THealthMachine& m : FMachines) {
        m.Configure(router, routerTimeoutMs);
    }
}

void THealthMonitor::WatchProcess(TProcessWatch watch) {
    std::lock_guard<std::mutex> lock(FLock);
    FWatch = std::move(watch);
}

void THealthMonitor::Poll() {
    std::vector<std::string> lines;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(FLock);
        const std::int64_t now = FClock();
        auto& md = FMachines[static_cast<std::size_t>(THealthLink::MarketData)];
        auto& tr = FMachines[static_cast<std::size_t>(THealthLink::Transactions)];
        const THealthState mdBefore = md.State();
        const THealthState trBefore = tr.State();
        for (std::string& l : md.Observe(Sample(Feed(THealthLink::MarketData)), -1, now)) {
            lines.push_back(std::move(l));
        }
        // The transaction connection carries no heartbeat of its own; a silent exchange seen
        // on the market-data connection is silent for orders too.
        for (std::string& l :
             tr.Observe(Sample(Feed(THealthLink::Transactions)), md.SilentSince(), now)) {
            lines.push_back(std::move(l));
        }
        changed = md.State() != mdBefore || tr.State() != trBefore;
        if (FWatch) {
            TProcessReport report =
                FWatch(md.State() == THealthState::Online || tr.State() == THealthState::Online);
            for (std::string& l : report.Lines) {
                lines.push_back(std::move(l));
            }
            report.Lines.clear();
            // A router that cannot be had, or one whose start is over, changes what the window
            // and a waiting console make of the connections.
            changed = changed || report.Problem != FProcess.Problem ||
                      report.Starting != FProcess.Starting;
            FProcess = std::move(report);
        }
    }
    // Journal and window are served on the UI thread, never under FLock: the UI thread may be
    // asking for a snapshot at this very moment.
    for (const std::string& text : lines) {
        if (FJournal != nullptr) {
            const std::string line = JournalLine(text);
            Synchronize([this, &line] { FJournal->AppendLine(line); });
        }
    }
    if (changed && FOnChange) {
        Synchronize(FOnChange);
    }
}

void THealthMonitor::Execute() {
    while (!Terminated()) {
        if (FEvents.WaitAnyFor(kPollMs) == 0) {
            break;
        }
        Poll();
    }
}

void THealthMonitor::Stop() {
    Terminate();
    FEvents.Event(0).Set();
    WaitFor();
}

THealthState THealthMonitor::State(THealthLink link) const {
    std::lock_guard<std::mutex> lock(FLock);
    return FMachines[static_cast<std::size_t>(link)].State();
}

THealthSnapshot THealthMonitor::Snapshot() const {
    std::lock_guard<std::mutex> lock(FLock);
    const std::int64_t now = FClock();
    THealthSnapshot s;
    for (std::size_t i = 0; i < kHealthLinks; ++i) {
        s.Links[i].State = FMachines[i].State();
        const std::int64_t at = FMachines[i].LastDataAt();
        s.Links[i].DataAgeMs = at < 0 ? -1 : now - at;
        s.Links[i].Unreachable = FMachines[i].Unreachable();
    }
    s.RouterProblem = FProcess.Problem;
    s.RouterStarting = FProcess.Starting;
    return s;
}

} // namespace vorlen
