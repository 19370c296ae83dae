// The desk's side of a restart on the same trading day: what was sent before this run counts
// for the rate rules, and trading left stopped stays stopped.

#include "orders/OrderDesk.h"

#include <algorithm>

namespace vorlen::orders {

namespace {

constexpr std::int64_t kDayMs = 86'400'000;

constexpr const char* kHaltedEarlier =
    "Торговля остановлена ранее в этот день (журнал заявок): заявки не принимаются, пока "
    "торговля не будет снова разрешена.";

// The local midnight after the one `midnightMs` is, whatever the length of the day.
std::int64_t NextMidnightMs(std::int64_t midnightMs) {
    return LocalMidnightMs(midnightMs + kDayMs + 3 * std::int64_t{3'600'000});
}

} // namespace

void TOrderDesk::RestoreHalt() {
    if (FLog == nullptr) {
        return;
    }
    TLoggedDay day;
    FLog->ReadDay(Now(), day);
    if (day.Halted != 1) {
        return;
    }
    FKill.Latch();
    TLines lines{kHaltedEarlier};
    Emit(lines);
}

bool TOrderDesk::DayOver(const TStoreFacts& facts) const {
    const std::int64_t session = RefOf(facts).SessionId;
    return (session != 0 && session != FSeededSession) || Now() - FDayStartMs >= kDayMs;
}

void TOrderDesk::ForgetDay() {
    FSeeded = false;
    // What the rate rules count comes back from the log files; the repeat rule's last second
    // stays as it is.
    for (auto& [client, sent] : FSent) {
        sent.Today = 0;
        sent.RecentMs.clear();
    }
    FLookedUp = 0;
}

void TOrderDesk::SeedDay(const TStoreFacts& facts, TLines& lines) {
    // Without the replica's market data on-line the orders log may not be whole yet; the gate
    // refuses every order until it is, and the seed waits for it.
    if (!FIn.MarketData || FIn.MarketData() != TLinkHealth::Online) {
        return;
    }
    FSeeded = true;
    const std::int64_t now = Now();
    const TRefFacts& ref = RefOf(facts);
    // The exchange's session when it is known and under way; the calendar day otherwise.
    const bool session =
        ref.SessionId != 0 && ref.SessionBeginMs <= now && now - ref.SessionBeginMs < kDayMs;
    const std::int64_t dayStart = session ? ref.SessionBeginMs : LocalMidnightMs(now);

    TLoggedDay day;
    if (FLog != nullptr) {
        // A session begun the evening before has its first orders in the day before's file.
        for (std::int64_t d = LocalMidnightMs(dayStart); d <= now; d = NextMidnightMs(d)) {
            FLog->ReadDay(d, day);
        }
    }
    // A session begun the evening before: trading stopped then is still stopped, though the
    // start read only today's file.
    if (day.Halted == 1 && day.HaltedAtMs >= dayStart && !FKill.Latched()) {
        FKill.Latch();
        lines.push_back(kHaltedEarlier);
    }
    std::erase_if(day.Posts, [&](const TLoggedPost& p) { return p.AtMs < dayStart; });
    const std::size_t logged = day.Posts.size();

    // Orders of the exchange's log this terminal did not send (its runs' answers name theirs),
    // placed by its login: the login of the orders it sent, every login while none is known.
    const std::vector<TOwnOrder> all = facts.Tracker ? facts.Tracker->Orders() : facts.Own;
    std::string login;
    for (const TOwnOrder& o : all) {
        if (day.OrderIds.count(o.OrderId) != 0 && !o.Login.empty()) {
            login = o.Login;
            break;
        }
    }
    for (const TOwnOrder& o : all) {
        if (day.OrderIds.count(o.OrderId) != 0 ||
            (!login.empty() && !o.Login.empty() && o.Login != login)) {
            continue;
        }
        const std::int64_t placedMs = o.FirstMomentNs / 1'000'000;
        const bool today = session && o.SessId != 0 ? o.SessId == ref.SessionId
                                                    : o.FirstMomentNs == 0 || placedMs >= dayStart;
        if (today) {
            day.Posts.push_back({placedMs, o.Client});
        }
    }

    // A post whose client code could not be read counts for every client code.
    std::set<std::string, std::less<>> clients(ref.Clients.begin(), ref.Clients.end());
    for (const TLoggedPost& p : day.Posts) {
        if (!p.Client.empty()) {
            clients.insert(p.Client);
        }
    }
    const auto count = [&](const std::string& client, std::int64_t atMs) {
        TClientSent& sent = FSent[client];
        ++sent.Today;
        // One from a clock that has since gone back stays in the minute until the clock is past
        // it again.
        if (atMs > now - 60'000) {
            sent.RecentMs.push_back(atMs);
        }
    };
    for (const TLoggedPost& p : day.Posts) {
        if (!p.Client.empty()) {
            count(p.Client, p.AtMs);
        } else {
            for (const std::string& c : clients) {
                count(c, p.AtMs);
            }
        }
    }
    for (auto& [client, sent] : FSent) {
        std::sort(sent.RecentMs.begin(), sent.RecentMs.end());
    }
    FDayStartMs = dayStart;
    FSeededSession = session ? ref.SessionId : 0;
    FLookedUp = 0; // the client's counts may be new
    if (day.Posts.empty() && day.Damaged == 0) {
        return;
    }
    lines.push_back("Заявки торгового дня до запуска: " + std::to_string(day.Posts.size()) +
                    " (журнал заявок: " + std::to_string(logged) + ", журнал заявок биржи: " +
                    std::to_string(day.Posts.size() - logged) + "), учтены в лимитах.");
    if (day.Damaged != 0) {
        lines.push_back(
            "Внимание: в журнале заявок нечитаемых строк: " + std::to_string(day.Damaged) +
            "; заявки без известного исхода учтены как отправленные.");
    }
}

} // namespace vorlen::orders
