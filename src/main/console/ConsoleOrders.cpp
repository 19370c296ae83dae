#include "main/console/ConsoleOrders.h"

#include "orders/OrderDesk.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "store/Storage.h"

#include <chrono>
#include <set>

namespace vorlen {

namespace {

using TClock = std::chrono::steady_clock;
constexpr auto kReplyWait = std::chrono::seconds(10);
constexpr auto kLogWait = std::chrono::seconds(5);
// The kill switch reports by a deadline of its own, which grows with the number of orders it
// cancels under the terminal's cap; this only keeps a desk that never reports from holding the
// console for ever.
constexpr auto kKillWait = std::chrono::hours(1);

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

} // namespace

int RunConsoleOrders(const TConsoleOptions& options, TConsoleDesk& console, TJournalSink& journal,
                     const std::function<bool()>& stop) {
    if (options.Orders.empty() && !options.CancelAll) {
        return 0;
    }
    orders::TOrderDesk& desk = console.Desk();
    TCGStorage& store = console.Store();

    // Replies can only come once the publisher is open; an order before that would be refused
    // for a reason that is only a matter of waiting.
    // The health monitor samples the links a few times a second, so both may come on-line a
    // moment after the instrument lists are built; the gate would refuse every order until then.
    WaitFor(
        desk, [&] { return console.Online(); }, kReplyWait, stop);

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
            desk, [&] { return desk.LastKillReport().has_value(); }, kKillWait, stop);
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
