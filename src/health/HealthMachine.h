#pragma once

// The health of one connection as the trader should see it, derived from what its thread
// reports (see THealthFeed) and from the age of the exchange's heartbeat. Pure: the caller
// samples the feed and passes the time, so every rule can be exercised without threads or
// sleeping.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

enum class THealthState { Disconnected, Connecting, Reconnecting, Stale, Online };

// "на связи", "переподключение", ...: the state's name on screen.
std::string_view HealthStateName(THealthState state);

// One sample of a connection's feed.
struct TLinkFacts {
    bool Running = false;
    int ConnState = -1;
    bool Ready = false;
    std::uint32_t Attempts = 0;
    std::uint64_t Data = 0;
    std::uint64_t Heartbeats = 0;
    bool HeartbeatWatched = false;
};

// "12,3 с", "2 мин 05 с", "1 ч 02 мин".
std::string FormatOutage(std::int64_t ms);

class THealthMachine {
public:
    // A connection without a heartbeat for longer than this, while it claims to be up, is stale.
    static constexpr std::int64_t kStaleAfterMs = 5000;

    // `name` is the connection as the journal names it ("Маркет-дата", "Трансакции").
    explicit THealthMachine(std::string name) : FName(std::move(name)) {}

    // Where the connection goes ("127.0.0.1:4001") and how long the router is given to answer
    // before its silence is reported.
    void Configure(std::string router, std::int64_t routerTimeoutMs);

    // One sample taken at `now` (milliseconds of a monotonic clock). `exchangeSilentSince`:
    // when another connection to the same exchange last heard its heartbeat, while it finds it
    // silent; -1 otherwise. Returns the journal texts this sample gives: one per change of state,
    // and the one report of an unreachable router.
    std::vector<std::string> Observe(const TLinkFacts& facts, std::int64_t exchangeSilentSince,
                                     std::int64_t now);

    THealthState State() const { return FState; }
    // While stale: since when nothing has been heard; -1 otherwise.
    std::int64_t SilentSince() const { return FState == THealthState::Stale ? FSilentSince : -1; }
    // Reported unreachable in this run, and never reached since.
    bool Unreachable() const { return FState == THealthState::Connecting && FUnreachableTold; }
    // When something last arrived; -1 before anything did.
    std::int64_t LastDataAt() const { return FLastData; }

private:
    THealthState Next(const TLinkFacts& f, std::int64_t exchangeSilentSince, std::int64_t now);
    std::string Enter(THealthState next, const TLinkFacts& f, std::int64_t now);

    std::string FName;
    std::string FRouter = "?";
    std::int64_t FRouterTimeoutMs = 2000;

    THealthState FState = THealthState::Disconnected;
    bool FSeen = false; // a first sample has set the counters below
    std::uint64_t FData = 0;
    std::uint64_t FBeats = 0;
    std::int64_t FLastData = -1;
    std::int64_t FLastBeat = -1;
    std::int64_t FReadySince = -1; // -1 while not ready
    std::int64_t FSilentSince = -1;
    bool FEverOnline = false; // in this run of the connection
    std::int64_t FOutageStart = -1;
    std::uint32_t FAttemptsAtOutage = 0;
    std::int64_t FRunStart = -1;
    std::uint32_t FAttemptsAtRun = 0;
    bool FSeenActive = false;
    bool FUnreachableTold = false;
};

} // namespace vorlen
