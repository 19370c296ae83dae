#include "main/console/ConsoleOrders.h"

#include "connections/Connection.h"
#include "health/HealthMonitor.h"
#include "orders/OrderDesk.h"
#include "orders/TrTransport.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"
#include "store/Storage.h"

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>

namespace vorlen {

namespace {

using TClock = std::chrono::steady_clock;
constexpr auto kReplyWait = std::chrono::seconds(10);
constexpr auto kLogWait = std::chrono::seconds(5);

// Serves the journal's synchronised calls while it waits: the transaction thread writes its
// lines through this thread, and a reply waits behind them.
void WaitFor(orders::TOrderDesk& desk, const std::function<bool()>& done, TClock::duration limit,
             const std::function<bool()>& stop) {
    const auto until = TClock::now() + limit;
    for (;;) {
        ui::DrainUiQueue();
        desk.Collect();
        if (done() || stop() || TClock::now() >= until) {
            return;
        }
        desk.Transport().WaitReply(5);
    }
}

bool LoadLimits(const TConsoleOptions& options, const std::filesystem::path& dataDir,
                orders::TLimitsBook& book, std::ostream& err) {
    std::filesystem::path file = options.RiskFile.empty() ? dataDir / orders::kLimitsFileName
                                                          : PathFromUtf8(options.RiskFile);
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (options.RiskFile.empty()) {
            return true; // the built-in limits
        }
        err << "vorlen-console: --risk: cannot read " << options.RiskFile << '\n';
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (!book.Parse(text.str(), error)) {
        err << "vorlen-console: " << PathToUtf8(file) << ": " << error << '\n';
        return false;
    }
    return true;
}

} // namespace

int RunConsoleOrders(const TConsoleOptions& options, TConnectorPort& port, TJournalSink& journal,
                     const std::filesystem::path& dataDir, const std::function<bool()>& stop,
                     std::ostream& err) {
    if (options.Orders.empty() && !options.CancelAll) {
        return 0;
    }
    orders::TLimitsBook limits;
    if (!LoadLimits(options, dataDir, limits, err)) {
        return kExitUsage;
    }
    TCGConnector& conn = port.Connector();
    if (!conn.Transactions() || !conn.Storage()) {
        return kExitOrderRefused;
    }
    const THealthMonitor* health = &conn.Health();
    // The terminal's own judgement of each link: a connection that claims to be active while
    // the exchange has gone silent is stale, and prices from it are not to be traded on.
    const auto linkHealth = [health](THealthLink link) {
        if (health == nullptr) {
            return orders::TLinkHealth::Offline;
        }
        switch (health->State(link)) {
        case THealthState::Online:
            return orders::TLinkHealth::Online;
        case THealthState::Stale:
            return orders::TLinkHealth::Stale;
        default:
            return orders::TLinkHealth::Offline;
        }
    };
    orders::TTrTransport transport(*conn.Transactions(),
                                   [linkHealth] { return linkHealth(THealthLink::Transactions); });
    TCGStorage& store = *conn.Storage();
    orders::TDeskInputs in;
    orders::TStoreReader reader(store);
    in.Facts = [&reader] { return reader.Read(); };
    in.MarketData = [linkHealth] { return linkHealth(THealthLink::MarketData); };
    // The console gives the gate no best opposite price, so its distance-from-the-market rule
    // is not applied to console orders; every other rule is.
    in.BestOpposite = {};
    // The console runs no strategies; its expert, if any, only watches.
    in.StopStrategies = {};
    orders::TOrderLogFile log(dataDir);
    orders::TOrderDesk desk(
        transport, limits, in,
        [&journal](const std::string& t) { journal.AppendLine(JournalLine(t)); }, &log);

    // Replies can only come once the publisher is open; an order before that would be refused
    // for a reason that is only a matter of waiting.
    // The health monitor samples the links a few times a second, so both may come on-line a
    // moment after the instrument lists are built; the gate would refuse every order until then.
    WaitFor(
        desk,
        [&] {
            return transport.Health() == orders::TLinkHealth::Online &&
                   linkHealth(THealthLink::MarketData) == orders::TLinkHealth::Online;
        },
        kReplyWait, stop);

    std::set<std::int64_t> before;
    for (const auto& o : orders::ReadStoreFacts(store).Own) {
        before.insert(o.OrderId);
    }
    std::size_t posted = 0;
    for (const std::string& line : options.Orders) {
        std::string error;
        const auto order = ParseOrderLine(line, error);
        posted += order && desk.Place(*order).Status == orders::TPlaceStatus::Posted ? 1 : 0;
    }
    WaitFor(
        desk, [&] { return desk.Pending() == 0; }, kReplyWait, stop);
    desk.ExpirePending();

    if (options.CancelAll) {
        desk.KillSwitch();
        WaitFor(
            desk, [&] { return desk.LastKillReport().has_value(); }, kReplyWait, stop);
    }

    // Own orders as the orders log shows them; the placed ones are waited for a moment so that
    // the list says what became of them.
    std::vector<orders::TOwnOrder> own;
    const auto refresh = [&] {
        own = orders::ReadStoreFacts(store).Own;
        std::size_t fresh = 0;
        bool settled = true;
        for (const auto& o : own) {
            fresh += before.count(o.OrderId) == 0 ? 1 : 0;
            settled = settled && !(options.CancelAll && o.Active());
        }
        return fresh >= posted && settled;
    };
    WaitFor(desk, refresh, kLogWait, stop);
    const orders::TStoreFacts facts = orders::ReadStoreFacts(store);
    for (const auto& o : own) {
        if (before.count(o.OrderId) != 0 && !o.Active()) {
            continue; // done with before this run
        }
        const auto isin = facts.Ref->IsinById.find(o.IsinId);
        journal.AppendLine(JournalLine(
            "Своя заявка " + std::to_string(o.OrderId) + ": " +
            orders::DescribeOrder({isin != facts.Ref->IsinById.end() ? isin->second : "?", o.Side,
                                   o.Amount, o.Price, o.Client, false}) +
            ", " + orders::StateText(o.State) + ", остаток " + std::to_string(o.Rest) + "."));
    }

    journal.AppendLine(JournalLine("Заявки консоли: отклонено " + std::to_string(desk.Refused()) +
                                   ", не выполнено " + std::to_string(desk.Failed()) + "."));
    const auto report = desk.LastKillReport();
    const bool killFailed = options.CancelAll && (!report || !report->AllGone);
    return desk.Refused() > 0 || desk.Failed() > 0 || killFailed ? kExitOrderRefused : 0;
}

} // namespace vorlen
