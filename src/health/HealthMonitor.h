#pragma once

// Watches both connections and the router this terminal started: samples the connection
// threads' feeds a few times a second, keeps each connection's health state, writes one journal
// line per change of state, tells the window (through the UI-call seam) when a state changed,
// and reaps and reports a router process that ended by itself.

#include "health/HealthFeed.h"
#include "health/HealthMachine.h"
#include "platform/Clock.h"
#include "platform/Events.h"
#include "platform/Journal.h"
#include "platform/Thread.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vorlen {

enum class THealthLink { MarketData = 0, Transactions = 1 };
inline constexpr std::size_t kHealthLinks = 2;

// A connection's health as the window shows it.
struct TLinkStatus {
    THealthState State = THealthState::Disconnected;
    // Since something last arrived on the connection; -1 when nothing has yet.
    std::int64_t DataAgeMs = -1;
    // The router has been reported unreachable and the connection has not been up since.
    bool Unreachable = false;
};

// What a pass finds of the router process this terminal started.
struct TProcessReport {
    std::vector<std::string> Lines; // journal texts, in order
    // While no such router runs: why, as the indicators say it; empty otherwise.
    std::string Problem;
    // Started so lately that it may not listen yet: its silence is not yet a verdict.
    bool Starting = false;
};

struct THealthSnapshot {
    std::array<TLinkStatus, kHealthLinks> Links{};
    std::string RouterProblem;
    bool RouterStarting = false;
    const TLinkStatus& operator[](THealthLink link) const {
        return Links[static_cast<std::size_t>(link)];
    }
};

class THealthMonitor : public TThread {
public:
    // Milliseconds of a monotonic clock; tests pass their own.
    using TMsClock = platform::TMsClock;
    // Non-blocking, asked at every pass: what became of the watched process since the last one.
    // `served`: a connection is on-line, so a router answers on its port.
    using TProcessWatch = std::function<TProcessReport(bool served)>;

    static constexpr int kPollMs = 250;

    // `journal` may be null. An empty clock means std::chrono::steady_clock.
    explicit THealthMonitor(TJournalSink* journal, TMsClock clock = {});
    ~THealthMonitor() override;

    // The feed a connection thread writes; it lives as long as the monitor.
    THealthFeed& Feed(THealthLink link) { return FFeeds[static_cast<std::size_t>(link)]; }

    // The router both connections go to, for the report of one that does not answer.
    void Configure(const std::string& router, std::int64_t routerTimeoutMs);
    // Runs on the UI thread after a state changed. Set before Start.
    void SetOnChange(std::function<void()> onChange) { FOnChange = std::move(onChange); }
    // Replaces what is watched; an empty function watches nothing.
    void WatchProcess(TProcessWatch watch);

    // One sampling pass; the thread runs it every kPollMs. Public so that tests can step the
    // monitor with their own clock instead of starting the thread.
    void Poll();
    // Asks the thread to end and waits for it (serving the UI-call queue meanwhile).
    void Stop();

    // Thread-safe: the state found by the last pass, and the whole picture for the window.
    THealthState State(THealthLink link) const;
    bool IsOnline(THealthLink link) const { return State(link) == THealthState::Online; }
    THealthSnapshot Snapshot() const;

protected:
    void Execute() override;

private:
    TJournalSink* FJournal;
    TMsClock FClock;
    std::array<THealthFeed, kHealthLinks> FFeeds;
    std::function<void()> FOnChange;
    TEventSet FEvents{1};

    mutable std::mutex FLock; // the machines and the watch
    std::array<THealthMachine, kHealthLinks> FMachines{THealthMachine("Маркет-дата"),
                                                       THealthMachine("Трансакции")};
    TProcessWatch FWatch;
    TProcessReport FProcess; // as of the last pass, without its lines
};

} // namespace vorlen
