#include "main/console/ConsoleDesk.h"

#include "book/BookKeeper.h"
#include "gateway/Connector.h"
#include "platform/FormatSettings.h"
#include "platform/Thread.h"
#include "settings/SavedSettings.h"
#include "store/Storage.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace vorlen {

bool LoadRiskLimits(const TConsoleOptions& options, const std::filesystem::path& dataDir,
                    orders::TLimitsBook& book, std::ostream& err) {
    const std::filesystem::path file = options.RiskFile.empty() ? dataDir / orders::kLimitsFileName
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

std::optional<std::int64_t> BestOppositeUnits(const TBookKeeper& books, std::int32_t isinId,
                                              orders::TSide side) {
    TBookSnapshot book;
    books.Snapshot(isinId, book);
    if (book.Status != TBookStatus::Live) {
        return std::nullopt;
    }
    const std::optional<double> best = side == orders::TSide::Buy ? book.BestAsk() : book.BestBid();
    if (!best) {
        return std::nullopt;
    }
    return std::llround(*best * static_cast<double>(orders::kPriceScale));
}

TConsoleDesk::TConsoleDesk(TCGConnector& conn, orders::TLimitsBook limits, TJournalSink& journal,
                           const std::filesystem::path& dataDir)
    : FStore(*conn.Storage), FBooks(conn.Books.get()), FHealth(conn.Health.get()),
      FTransport(*conn.TRConn, [this] { return Link(THealthLink::Transactions); }),
      FReader(*conn.Storage), FLog(dataDir) {
    orders::TDeskInputs in;
    in.Facts = [this] {
        orders::TStoreFacts facts = FReader.Read();
        FRef = facts.Ref;
        return facts;
    };
    in.FactsChanged = [this] { return FReader.Changed(); };
    in.MarketData = [this] { return Link(THealthLink::MarketData); };
    in.BestOpposite = [this](const std::string& isin,
                             orders::TSide side) -> std::optional<std::int64_t> {
        if (FBooks == nullptr || !FRef) {
            return std::nullopt;
        }
        const auto ins = FRef->Instruments.find(isin);
        if (ins == FRef->Instruments.end()) {
            return std::nullopt;
        }
        return BestOppositeUnits(*FBooks, ins->second.IsinId, side);
    };
    // The console's strategy is stopped by the end of the run, not by a kill switch.
    in.StopStrategies = {};
    // The strategy's orders are journalled from its expert's thread; the output is the UI
    // thread's.
    auto write = [&journal](const std::string& text) {
        const std::string line = JournalLine(text);
        if (ui::IsUiThread()) {
            journal.AppendLine(line);
        } else {
            TThread::Synchronize([&] { journal.AppendLine(line); });
        }
    };
    FDesk = std::make_unique<orders::TOrderDesk>(FTransport, std::move(limits), std::move(in),
                                                 write, &FLog);
}

orders::TLinkHealth TConsoleDesk::Link(THealthLink link) const {
    // The terminal's own judgement of each link: a connection that claims to be active while
    // the exchange has gone silent is stale, and prices from it are not to be traded on.
    if (FHealth == nullptr) {
        return orders::TLinkHealth::Offline;
    }
    switch (FHealth->State(link)) {
    case THealthState::Online:
        return orders::TLinkHealth::Online;
    case THealthState::Stale:
        return orders::TLinkHealth::Stale;
    default:
        return orders::TLinkHealth::Offline;
    }
}

bool TConsoleDesk::Online() {
    return FTransport.Health() == orders::TLinkHealth::Online &&
           Link(THealthLink::MarketData) == orders::TLinkHealth::Online;
}

} // namespace vorlen
