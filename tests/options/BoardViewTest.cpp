// The board's page as the window shows it, and its worker's rhythm: computed again only when
// what it reads changes, or when the board has aged; stopped cleanly.

#include "options/BoardView.h"

#include "options/BoardWorker.h"
#include "options/ExpiryClock.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace vorlen::options {
namespace {

constexpr std::chrono::system_clock::time_point kNow{std::chrono::seconds(1797609000 - 86400 * 73)};
const double kExpiry = ExchangeDays(2026, 12, 18, 18, 50);

TSeriesInput Quoted(std::int32_t id, double strike, TRight right, std::optional<double> bid,
                    std::optional<double> ask) {
    TSeriesInput s;
    s.IsinId = id;
    s.Isin = "S" + std::to_string(id);
    s.Strike = strike;
    s.Right = right;
    s.ExpiryDays = kExpiry;
    s.Bid = bid;
    s.Ask = ask;
    return s;
}

TBoardInput Market() {
    TBoardInput in;
    in.Underlying = {1, "Si-12.26", 91990, 92010, std::nullopt, 0};
    const double f = 92000;
    for (const double k : {90000.0, 92000.0, 94000.0}) {
        for (const TRight r : {TRight::Call, TRight::Put}) {
            const double v = Black76Price(r, f, k, 0.2, 0.2);
            in.Series.push_back(Quoted(static_cast<std::int32_t>(k / 1000) * 2 + (r == TRight::Put),
                                       k, r, std::round(v) - 5, std::round(v) + 5));
        }
    }
    return in;
}

TEST(BoardPage, RowsByStrikeCallsLeftPutsRightTheMoneyMarkedAndReasonsForDashes) {
    TBoardInput in = Market();
    // A put with no bid, and one bid under its value at expiry: each "—" says why.
    in.Series[1].Bid.reset();
    in.Series[5].Bid = 1.0; // the 94000 put is worth at least 2000
    const TBoard board = ComputeBoard(in, kNow);
    const TBoardPage page = BuildPage(board, kExpiry, TIvShow::BidAsk, kNow);
    ASSERT_EQ(page.Lines.size(), 3U);
    EXPECT_EQ(page.AtmLine, 1);
    EXPECT_TRUE(page.Lines[1].Atm);
    EXPECT_FALSE(page.Lines[0].Atm || page.Lines[2].Atm);

    struct TExpect {
        int Line, Column;
        const char* Text; // exact, or a prefix when it ends with '*'
        const char* Tip;  // a piece of it; null: no tip
    };
    const TExpect cases[] = {
        {0, kStrikeColumn, "90000", nullptr},
        {0, kPutBid, "—", "нет заявок на покупку"},
        {0, kPutIv, "— / *", "покупка: нет цены"},
        {2, kPutBid, "1", nullptr},
        {2, kPutIv, "— / *", "покупка: цена не выше внутренней стоимости"},
        {1, kCallIv, "20,0 / 20,0", nullptr},
        {1, kCallDelta, "0,5*", nullptr},
        {1, kPutDelta, "-0,4*", nullptr},
        {1, kCallOpenInterest, "0", nullptr},
        {1, kCallPosition, "", nullptr},
    };
    for (const TExpect& e : cases) {
        const TBoardCell& c =
            page.Lines[static_cast<std::size_t>(e.Line)].Cells[static_cast<std::size_t>(e.Column)];
        const std::string text = e.Text;
        if (text.back() == '*')
            EXPECT_EQ(c.Text.rfind(text.substr(0, text.size() - 1), 0), 0U)
                << e.Line << "/" << e.Column << ": " << c.Text;
        else
            EXPECT_EQ(c.Text, text) << e.Line << "/" << e.Column;
        if (e.Tip == nullptr)
            EXPECT_TRUE(c.Tip.empty()) << e.Line << "/" << e.Column << ": " << c.Tip;
        else
            EXPECT_NE(c.Tip.find(e.Tip), std::string::npos)
                << e.Line << "/" << e.Column << ": " << c.Tip;
    }
    // A click orders the series at its quote, in the gate's units.
    EXPECT_EQ(page.Lines[1].CallIsin, "S184");
    EXPECT_EQ(page.Lines[1].CallBid, std::llround(*in.Series[2].Bid * 1e5));
    EXPECT_FALSE(page.Lines[0].PutBid);

    // The smile takes the series out of the money: puts under the futures, calls from it up.
    ASSERT_EQ(page.Smile.size(), 3U);
    EXPECT_EQ(page.Smile[0].Strike, 90000);
    EXPECT_FALSE(page.Smile[0].Bid) << "the 90000 put has no bid";
    EXPECT_TRUE(page.Smile[0].Ask);
    EXPECT_EQ(page.Smile[2].Strike, 94000);
    EXPECT_TRUE(page.Smile[2].Mid) << "the call, not the put under its intrinsic value";

    const TBoardPage mid = BuildPage(board, kExpiry, TIvShow::Mid, kNow);
    EXPECT_EQ(mid.Lines[1].Cells[kCallIv].Text.find('/'), std::string::npos);
    EXPECT_NE(page.Header.find("середина стакана"), std::string::npos) << page.Header;
    EXPECT_NE(page.Header.find("73,"), std::string::npos) << page.Header;
    EXPECT_EQ(page.Risk.rfind("Позиция: дельта", 0), 0U);

    in.Underlying.Bid.reset();
    const TBoardPage none = BuildPage(ComputeBoard(in, kNow), kExpiry, TIvShow::BidAsk, kNow);
    EXPECT_EQ(none.AtmLine, -1) << "no futures' price: no money to mark";
    EXPECT_NE(none.Header.find("нет цены"), std::string::npos);
}

TEST(BoardWorker, ComputesOnChangeOrWhenAgedAndStops) {
    std::atomic<int> bid{100};
    std::atomic<std::int64_t> clockSecs{0};
    TBoardWorker worker(
        [&] {
            TBoardSource s;
            s.Found = true;
            s.Input = Market();
            s.Input.Series[0].Bid = bid.load();
            return s;
        },
        std::chrono::milliseconds(1),
        [&] { return kNow + std::chrono::seconds(clockSecs.load()); });
    const auto waitReads = [&](std::uint64_t n) {
        for (int i = 0; i < 10000 && worker.Reads() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return worker.Reads() >= n;
    };
    ASSERT_TRUE(waitReads(5));
    EXPECT_EQ(worker.Latest().Serial, 1U) << "unchanged reads compute nothing";
    bid = 101;
    const std::uint64_t after = worker.Reads();
    ASSERT_TRUE(waitReads(after + 3));
    EXPECT_EQ(worker.Latest().Serial, 2U);
    EXPECT_EQ(worker.Latest().Board->Rows.front().In.Bid, 101);
    clockSecs = 6; // past kAgeing
    ASSERT_TRUE(waitReads(worker.Reads() + 3));
    EXPECT_EQ(worker.Latest().Serial, 3U);
    worker.Stop();
    const std::uint64_t reads = worker.Reads();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(worker.Reads(), reads) << "stopped for good";
    EXPECT_EQ(worker.Latest().Serial, 3U) << "what was computed stays";
}

} // namespace
} // namespace vorlen::options
