// Order books against the offline exchange: the books the terminal keeps equal the aggregated
// rows its replica holds at depths 5 and 20, the simulator keeps those rows a proper book while
// its market and the trader's orders move it, and the position is valued as by hand. Then the
// console's --book files.

#include "InProcessTerminal.h"
#include "SimHarness.h"
#include "book/BookKeeper.h"
#include "connections/GatewayRecords.h"
#include "connections/TrConnection.h"
#include "gateway/AddOrderMessage.h"
#include "main/ConnectorPort.h"
#include "main/console/ConsoleTerminal.h"
#include "platform/Events.h"
#include "platform/FormatSettings.h"
#include "platform/Module.h"
#include "platform/Thread.h"
#include "settings/Catalogue.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <tuple>

namespace vorlen::e2e {

namespace {

double Num(const TValue& v) {
    return std::visit(
        [](const auto& x) -> double {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_arithmetic_v<X> && !std::is_same_v<X, bool>)
                return static_cast<double>(x);
            else
                return std::nan("");
        },
        v);
}

using TSide = std::vector<std::pair<double, std::int64_t>>; // price, volume; best first

// The terminal in this process on a market that moves only when told (rate 0), with the book
// stream of the given depth index chosen.
class BookE2E : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        Term = std::make_unique<TInProcessTerminal>(
            Inst, [this](TSettingsModel& settings) { settings.SetDepth(GetParam()); });
        ASSERT_TRUE(Term->Online()) << Term->Failure();
        Port = &Term->Port();
    }
    void TearDown() override { Term.reset(); }

    TCGStorage& Store() { return *Port->Connector().Storage(); }
    TBookKeeper& Books() { return *Port->Connector().Books(); }

    void ForEachRow(const std::string& stream, const std::string& table,
                    const std::function<void(const TRowView&)>& fn) {
        TMarketData data;
        Store().GetData(data);
        TCGStorage::TAccess access(Store());
        for (const TStream& s : data.Streams)
            if (stream.empty() || s.sName == stream)
                for (const TTable& t : s.Tables)
                    if (t.tName == table)
                        for (const TRowView row : access.Rows(t))
                            fn(row);
    }

    // The aggregated rows of one instrument, per side, best first, as the replica holds them.
    std::pair<TSide, TSide> Rows(std::int32_t isin) {
        TSide bids, asks;
        ForEachRow(std::string(kDepthStreams[static_cast<std::size_t>(GetParam())]), "orders_aggr",
                   [&](const TRowView& r) {
                       if (VarAsInteger(r.Field("isin_id").Data) != isin)
                           return;
                       const double price = Num(r.Field("price").Data);
                       const auto volume = static_cast<std::int64_t>(Num(r.Field("volume").Data));
                       (Num(r.Field("dir").Data) == 1 ? bids : asks).emplace_back(price, volume);
                   });
        std::sort(bids.begin(), bids.end(), std::greater<>());
        std::sort(asks.begin(), asks.end());
        return {bids, asks};
    }

    static TSide Side(const std::vector<TBookLevel>& levels) {
        TSide s;
        for (const TBookLevel& l : levels)
            s.emplace_back(l.Price, l.Volume);
        return s;
    }

    // Waits until the book shows what the step before it must have led to (`reached`) with
    // levels on both sides, then checks it against the rows and the rows against what a book
    // must be. Returns the snapshot.
    TBookSnapshot CheckSettled(std::int32_t isin,
                               const std::function<bool(const TBookSnapshot&)>& reached) {
        TBookSnapshot s;
        TSide bids, asks;
        // The book and the rows are read under two holds of the store's lock: a step's rows may
        // still be arriving between them (a move is a run of rows), so both are read until they
        // agree or the time is up; a book that never agrees with its rows fails below.
        const bool settled = Term->ServeUntil([&] {
            Books().Snapshot(isin, s);
            if (s.Bids.empty() || s.Asks.empty() || !reached(s))
                return false;
            std::tie(bids, asks) = Rows(isin);
            return Side(s.Bids) == bids && Side(s.Asks) == asks;
        });
        EXPECT_TRUE(settled) << "isin " << isin;
        const std::size_t depth = static_cast<std::size_t>(kDepthValues[GetParam()]);
        EXPECT_EQ(s.Status, TBookStatus::Live);
        EXPECT_EQ(s.Depth, static_cast<int>(depth));
        EXPECT_EQ(Side(s.Bids), bids);
        EXPECT_EQ(Side(s.Asks), asks);
        EXPECT_EQ(bids.size(), depth);
        EXPECT_EQ(asks.size(), depth);
        for (const TSide* side : {&bids, &asks})
            for (std::size_t i = 1; i < side->size(); ++i)
                EXPECT_NE((*side)[i].first, (*side)[i - 1].first) << "one row per price";
        if (!bids.empty() && !asks.empty()) {
            EXPECT_LT(bids.front().first, asks.front().first);
        }
        return s;
    }

    // The number of the depth stream's rows in the replica, and in the router (-1: no answer).
    long ReplicaRows() {
        long n = 0;
        ForEachRow(std::string(kDepthStreams[static_cast<std::size_t>(GetParam())]), "orders_aggr",
                   [&](const TRowView&) { ++n; });
        return n;
    }
    long RouterRows() {
        const std::string reply = Inst.Control(
            "rows " + std::string(kDepthStreams[static_cast<std::size_t>(GetParam())]) +
            " orders_aggr");
        const std::string key = "OK rows=";
        return reply.rfind(key, 0) == 0 ? std::stol(reply.substr(key.size())) : -1;
    }

    // Posts an order for client 001 and waits for the exchange's answer, which must be `code`.
    void Post(std::int32_t isin, int dir, double price, std::int32_t amount,
              std::int64_t code = 0) {
        TAddOrderParams p{};
        const auto put = [](char* f, std::size_t n, const std::string& t) {
            std::memset(f, 0, n);
            std::copy_n(t.data(), std::min(n - 1, t.size()), f);
        };
        put(p.broker_code, sizeof p.broker_code, "FZ00");
        put(p.client_code, sizeof p.client_code, "001");
        std::ostringstream text;
        text.precision(15);
        text << price;
        put(p.price, sizeof p.price, text.str());
        p.isin_id = isin;
        p.dir = dir;
        p.atype = 1;
        p.amount = amount;
        std::uint32_t id = 0;
        TCGTRConnection& tr = *Port->Connector().Transactions();
        tr.GetTrandID(id);
        TEventSet events(1);
        ASSERT_TRUE(Term->ServeUntil([&] { return tr.AddOrder(id, isin, p, events.Event(0)); }));
        ASSERT_TRUE(Term->ServeUntil([&] { return events.WaitAnyFor(10) == 0; }));
        TReplData reply;
        ASSERT_TRUE(tr.GetReplData(id, reply));
        ASSERT_EQ(VarAsInteger(reply.Fields["code"].Data), code);
    }

    TSimInstall Inst{0};
    std::unique_ptr<TInProcessTerminal> Term;
    TConnectorPort* Port = nullptr;
};

TEST_P(BookE2E, BooksEqualTheRowsAsMarketAndOrdersMoveThemAndPositionsAreValued) {
    // The futures where client 001 carries a long position from the day before.
    std::int32_t isin = 0;
    ForEachRow("FORTS_POS_REPL", "position", [&](const TRowView& r) {
        if (isin == 0 && Num(r.Field("xpos").Data) > 0)
            isin = VarAsInteger(r.Field("isin_id").Data);
    });
    ASSERT_NE(isin, 0);
    double minStep = 0, stepPrice = 0;
    ForEachRow("", "fut_sess_contents", [&](const TRowView& r) {
        if (VarAsInteger(r.Field("isin_id").Data) == isin) {
            minStep = Num(r.Field("min_step").Data);
            stepPrice = Num(r.Field("step_price").Data);
        }
    });
    ASSERT_GT(minStep, 0);
    // The header's figures by hand, from the replica's own position row and the best prices.
    const auto checkPnl = [&](TBookSnapshot& book, std::int64_t pos) {
        ASSERT_TRUE(Term->ServeUntil([&] {
            Books().Snapshot(isin, book);
            return book.Positions.size() == 1 && book.Positions.front().Pos == pos;
        }));
        double waprice = 0;
        ForEachRow("FORTS_POS_REPL", "position", [&](const TRowView& r) {
            if (VarAsInteger(r.Field("isin_id").Data) == isin)
                waprice = Num(r.Field("waprice").Data);
        });
        const double mark = (*book.BestBid() + *book.BestAsk()) / 2;
        const auto rows = PositionRows(book);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].Client, "FZ00001");
        EXPECT_EQ(rows[0].Pos, std::to_string(pos));
        EXPECT_EQ(rows[0].AvgPrice, PriceText(waprice, minStep));
        EXPECT_EQ(rows[0].Mark, PriceText(mark, minStep));
        EXPECT_EQ(rows[0].OpenPnl,
                  MoneyText((mark - waprice) * static_cast<double>(pos) * stepPrice / minStep));
        EXPECT_EQ(rows[0].VarMargin, kVmNotSubscribedText);
    };
    const auto any = [](const TBookSnapshot&) { return true; };
    TBookSnapshot quiet = CheckSettled(isin, any);
    checkPnl(quiet, 4);

    // A buy that rests inside the spread becomes the best bid, marked as the trader's own; one
    // at the best ask fills at once and adds to the position.
    const double inside = *quiet.BestBid() + minStep;
    ASSERT_LT(inside, *quiet.BestAsk());
    Post(isin, 1, inside, 2);
    Post(isin, 1, *quiet.BestAsk(), 1);
    TBookSnapshot own = CheckSettled(isin, [&](const TBookSnapshot& s) {
        return s.Bids.front().Price == inside && s.Bids.front().Own == 2;
    });
    ASSERT_FALSE(own.Bids.empty());
    EXPECT_EQ(own.Bids.front().Price, inside);
    EXPECT_EQ(own.Bids.front().Own, 2);
    EXPECT_GE(own.Bids.front().Volume, 2);
    checkPnl(own, 5);

    // A sell at the same price would trade against the trader's own buy: the exchange refuses
    // such a counter order, and the book stays uncrossed.
    Post(isin, 2, inside, 1, 31);
    TBookSnapshot counter = CheckSettled(isin, any);
    EXPECT_EQ(counter.Bids.front().Own, 2);
    EXPECT_EQ(counter.Asks.front().Own, 0);

    // With resting orders left unfilled the market moves down through the trader's buy: no
    // offer is shown at or below it, and it stays the best bid.
    ASSERT_EQ(Inst.Control("fill off").rfind("OK", 0), 0u);
    ASSERT_EQ(Inst.Control("move " + std::to_string(isin) + " -3").rfind("OK", 0), 0u);
    TBookSnapshot through = CheckSettled(
        isin, [&](const TBookSnapshot& s) { return s.Asks.front().Price == inside + minStep; });
    EXPECT_EQ(through.Bids.front().Price, inside);
    EXPECT_EQ(through.Bids.front().Own, 2);
    EXPECT_EQ(through.Asks.front().Price, inside + minStep);

    // A busy market: levels come and go, the middle price moves; once it calms down the books
    // still equal the rows.
    // Busy for as many events as the router makes in a second at that rate, however long they
    // take; the book must have been moved by them.
    const long events = Inst.Counter("events");
    ASSERT_GE(events, 0);
    const std::uint64_t version = through.Version;
    ASSERT_EQ(Inst.Control("rate 20000").rfind("OK", 0), 0u);
    ASSERT_TRUE(Term->ServeUntil([&] {
        TBookSnapshot s;
        Books().Snapshot(isin, s);
        return s.Version != version && Inst.Counter("events") >= events + 20000;
    }));
    ASSERT_EQ(Inst.Control("rate 0").rfind("OK", 0), 0u);
    // The router stands still now: once the replica holds as many levels as it does, every book
    // must be whole again.
    const long rows = RouterRows();
    ASSERT_GT(rows, 0);
    ASSERT_TRUE(Term->ServeUntil([&] { return ReplicaRows() == rows; }))
        << ReplicaRows() << " rows of " << rows;
    THeaders fut, opt;
    TSHeaders spot;
    Store().GetHeaders(fut, opt, spot);
    const std::size_t depth = static_cast<std::size_t>(kDepthValues[GetParam()]);
    for (const THeader& h : fut)
        CheckSettled(h.isin_id, [&](const TBookSnapshot& s) {
            return s.Bids.size() == depth && s.Asks.size() == depth &&
                   s.Bids.front().Price < s.Asks.front().Price;
        });
}

INSTANTIATE_TEST_SUITE_P(Depths, BookE2E, ::testing::Values(0, 1),
                         [](const auto& info) { return "Depth" + std::to_string(info.param); });

TEST(ConsoleBook, DumpsBookAndPositionAndRefusesAnUnknownInstrument) {
    TSimInstall inst(0);
    const fs::path first = inst.Root / "first";
    {
        TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--until-online",
                               "--seconds", "60", "--book", "NO-SUCH", "--dump", first.string()});
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Wait(120s), 2);
        EXPECT_NE(run.Stderr().find("--book: no futures or option with isin \"NO-SUCH\""),
                  std::string::npos)
            << run.Stderr();
    }
    std::string isin;
    for (const auto& r : TsvRows(first / "instruments.tsv"))
        if (isin.empty() && r.size() >= 3 && r[0] == "futures")
            isin = r[2];
    ASSERT_FALSE(isin.empty());

    const fs::path dump = inst.Root / "dump";
    TConsoleRun run(inst, {"--settings", inst.SettingsFile.string(), "--seconds", "5", "--book",
                           isin, "--dump", dump.string()});
    ASSERT_TRUE(run.Started());
    ASSERT_EQ(run.Wait(120s), 0) << run.Stderr();
    const auto book = TsvRows(dump / ("book_" + isin + ".tsv"));
    ASSERT_EQ(book.size(), 11u) << "header and five levels a side";
    EXPECT_EQ(book[0], (std::vector<std::string>{"side", "price", "volume", "own"}));
    const auto price = [](const std::string& t) {
        std::string s = t;
        std::replace(s.begin(), s.end(), ',', '.');
        return std::stod(s);
    };
    for (std::size_t i = 1; i < book.size(); ++i) {
        ASSERT_EQ(book[i].size(), 4u);
        EXPECT_EQ(book[i][0], i <= 5 ? "ask" : "bid");
        if (i > 1) {
            EXPECT_GT(price(book[i - 1][1]), price(book[i][1])) << "ladder order, row " << i;
        }
    }
    const auto pos = TsvRows(dump / ("position_" + isin + ".tsv"));
    ASSERT_EQ(pos.size(), 2u);
    EXPECT_EQ(pos[0], (std::vector<std::string>{"client_code", "pos", "waprice", "mark", "open_pnl",
                                                "vm"}));
    ASSERT_EQ(pos[1].size(), 6u);
    EXPECT_EQ(pos[1][0], "FZ00001");
    EXPECT_EQ(pos[1][1], "4");
    // The default settings leave the margin stream out: the file says so instead of a zero.
    EXPECT_EQ(pos[1][5], kVmNotSubscribedText);
}

} // namespace

} // namespace vorlen::e2e
