// The trader's order windows without the windows: what the ticket makes of its fields, how the
// desk's verdicts and the exchange's answers read, the own-orders rows, the limits file, and the
// main controller's kill switch, re-arming and stop-all commands.

#include "main/OrderTicket.h"

#include "main/Dialogs.h"
#include "main/FakePort.h"
#include "main/MainController.h"
#include "main/TerminalDesk.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace vorlen {
namespace {

namespace fs = std::filesystem;

TEST(OrderTicket, FieldsAreCheckedBeforeAnythingIsAsked) {
    const TTicketInput good{"Si-12.26", 1, " 91000,5 ", "2", "FZ00001"};
    struct TCase {
        const char* Name;
        TTicketInput In;
        const char* Error; // empty: accepted
    };
    const auto with = [&](auto change) {
        TTicketInput in = good;
        change(in);
        return in;
    };
    const TCase cases[] = {
        {"good", good, ""},
        {"no instrument", with([](TTicketInput& i) { i.Isin.clear(); }), "инструмент"},
        {"no side", with([](TTicketInput& i) { i.Side = 0; }), "направление"},
        {"side 3", with([](TTicketInput& i) { i.Side = 3; }), "направление"},
        {"qty 0", with([](TTicketInput& i) { i.Qty = "0"; }), "количество"},
        {"qty -1", with([](TTicketInput& i) { i.Qty = "-1"; }), "количество"},
        {"qty 1.5", with([](TTicketInput& i) { i.Qty = "1.5"; }), "количество"},
        {"qty 2x", with([](TTicketInput& i) { i.Qty = "2x"; }), "количество"},
        {"qty empty", with([](TTicketInput& i) { i.Qty = " "; }), "количество"},
        {"price empty", with([](TTicketInput& i) { i.Price.clear(); }), "цена"},
        {"price 0", with([](TTicketInput& i) { i.Price = "0"; }), "цена"},
        {"price six decimals", with([](TTicketInput& i) { i.Price = "1.000001"; }), "цена"},
        {"price text", with([](TTicketInput& i) { i.Price = "abc"; }), "цена"},
        {"no client", with([](TTicketInput& i) { i.Client.clear(); }), "код клиента"},
    };
    for (const TCase& c : cases) {
        std::string error;
        const auto order = TicketOrder(c.In, error);
        if (std::string(c.Error).empty()) {
            ASSERT_TRUE(order) << c.Name << ": " << error;
            EXPECT_EQ(order->Isin, "Si-12.26");
            EXPECT_EQ(order->Side, orders::TSide::Buy);
            EXPECT_EQ(order->Qty, 2);
            EXPECT_EQ(order->Price, 9'100'050'000);
            EXPECT_EQ(order->Client, "FZ00001");
            EXPECT_FALSE(order->RepeatConfirmed);
            EXPECT_EQ(TicketConfirmText(*order),
                      "Выставить заявку: покупка Si-12.26 2 по 91000,5, клиент FZ00001?");
        } else {
            EXPECT_FALSE(order) << c.Name;
            EXPECT_NE(error.find(c.Error), std::string::npos) << c.Name << ": " << error;
        }
    }
}

// A transport whose replies the test hands out.
class TScriptTransport final : public orders::IOrderTransport {
public:
    std::uint32_t NextId() override { return ++Last; }
    bool PostAdd(std::uint32_t, std::int32_t, const TAddOrderParams&) override { return true; }
    bool PostCancel(std::uint32_t, std::int32_t, const TDelOrderParams&) override { return true; }
    bool TakeReply(std::uint32_t trId, orders::TReply& out) override {
        const auto it = Replies.find(trId);
        if (it == Replies.end())
            return false;
        out = it->second;
        Replies.erase(it);
        return true;
    }
    void WaitReply(unsigned) override {}
    orders::TLinkHealth Health() override { return orders::TLinkHealth::Online; }
    std::uint32_t Last = 0;
    std::map<std::uint32_t, orders::TReply> Replies;
};

orders::TDeskInputs TradableInputs() {
    auto ref = std::make_shared<orders::TRefFacts>();
    ref->Clients = {"FZ00001"};
    orders::TInstrumentRef si;
    si.IsinId = 7;
    si.Isin = "Si-12.26";
    si.MinStep = orders::kPriceScale;
    si.Limited = false;
    ref->Instruments[si.Isin] = si;
    ref->IsinById[si.IsinId] = si.Isin;
    orders::TDeskInputs in;
    in.Facts = [ref] {
        orders::TStoreFacts f;
        f.Ref = ref;
        return f;
    };
    in.MarketData = [] { return orders::TLinkHealth::Online; };
    in.NowMs = [] { return std::int64_t{1'700'000'000'000}; };
    return in;
}

// The ticket learns the exchange's answer from the desk, and tells a repeated
// order (which it may send again once the trader agrees) from any other refusal.
TEST(OrderTicket, AnswersAndRefusalsAsTheTicketReadsThem) {
    TScriptTransport transport;
    TScriptTransport* script = &transport;
    std::vector<std::string> journal;
    orders::TOrderDesk desk(
        transport, {}, TradableInputs(), [&](const std::string& t) { journal.push_back(t); },
        nullptr);
    const orders::TOrderRequest order{"Si-12.26", orders::TSide::Sell, 3,
                                      92000 * orders::kPriceScale, "FZ00001"};

    const orders::TPlaceResult posted = desk.Place(order);
    ASSERT_EQ(posted.Status, orders::TPlaceStatus::Posted) << posted.Reason;
    EXPECT_EQ(PlaceOutcomeText(posted), "Заявка отправлена, транзакция 1. Ожидается ответ биржи.");
    EXPECT_FALSE(desk.Answer(posted.TrId)) << "no answer before the exchange gave one";
    script->Replies[posted.TrId] = {0, 1850000000004};
    EXPECT_FALSE(desk.Answer(posted.TrId)) << "the desk has not taken it yet";
    desk.Collect();
    const auto reply = desk.Answer(posted.TrId);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ReplyOutcomeText(*reply), "Заявка принята биржей, номер заявки 1850000000004.");

    const orders::TPlaceResult repeated = desk.Place(order);
    EXPECT_TRUE(IsRepeatRefusal(repeated)) << repeated.Reason;
    orders::TOrderRequest confirmed = order;
    confirmed.RepeatConfirmed = true;
    const orders::TPlaceResult again = desk.Place(confirmed);
    EXPECT_EQ(again.Status, orders::TPlaceStatus::Posted);

    orders::TOrderRequest big = order;
    big.Qty = 11;
    const orders::TPlaceResult refused = desk.Place(big);
    EXPECT_EQ(refused.Status, orders::TPlaceStatus::Refused);
    EXPECT_FALSE(IsRepeatRefusal(refused));
    EXPECT_EQ(PlaceOutcomeText(refused).rfind("Заявка отклонена: Количество 11", 0), 0U)
        << PlaceOutcomeText(refused);

    script->Replies[again.TrId] = {31, 0};
    desk.Collect();
    const auto rejected = desk.Answer(again.TrId);
    ASSERT_TRUE(rejected);
    EXPECT_EQ(ReplyOutcomeText(*rejected).rfind("Биржа не приняла заявку: код 31", 0), 0U);
}

TEST(OrderTicket, OwnOrderRowsNewestFirstWithTheirState) {
    orders::TStoreFacts facts;
    auto ref = std::make_shared<orders::TRefFacts>();
    ref->IsinById[7] = "Si-12.26";
    facts.Ref = ref;
    const auto own = [](std::int64_t id, std::int32_t isin, orders::TOrderState state,
                        std::int64_t at) {
        orders::TOwnOrder o;
        o.OrderId = id;
        o.IsinId = isin;
        o.Client = "FZ00001";
        o.Side = id == 2 ? orders::TSide::Sell : orders::TSide::Buy;
        o.Price = 9'100'050'000;
        o.Amount = 5;
        o.Rest = state == orders::TOrderState::PartlyFilled ? 3 : 5;
        o.State = state;
        o.LastMomentNs = at;
        return o;
    };
    facts.Own = {own(1, 7, orders::TOrderState::Placed, 1'000),
                 own(2, 7, orders::TOrderState::Cancelled, 3'000),
                 own(3, 9, orders::TOrderState::PartlyFilled, 2'000)};

    const auto all = OwnOrderRows(facts, false);
    ASSERT_EQ(all.size(), 3U);
    EXPECT_EQ(all[0].OrderId, 2);
    EXPECT_EQ(all[1].OrderId, 3);
    EXPECT_EQ(all[2].OrderId, 1);
    EXPECT_FALSE(all[0].Active);
    const std::array<std::string, kOwnOrderColumns> cancelled{
        "2", all[0].Cells[1], "Si-12.26",     "FZ00001", "Продажа", "91000,5", "5",
        "5", "снята",         all[0].Cells[1]};
    EXPECT_EQ(all[0].Cells, cancelled);
    EXPECT_FALSE(all[0].Cells[1].empty()) << "the time of the last event";
    EXPECT_EQ(all[1].Cells[2], "?") << "an instrument the reference does not name";
    EXPECT_EQ(all[1].Cells[7], "3");
    EXPECT_EQ(all[1].Cells[8], "частично исполнена");

    const auto active = OwnOrderRows(facts, true);
    ASSERT_EQ(active.size(), 2U);
    EXPECT_EQ(active[0].OrderId, 3);
    EXPECT_EQ(active[1].OrderId, 1);
}

// A row keeps its place while its order fills or is cancelled; "Время" says when the order was
// placed and "Изменена" when it last changed; sorting by a column leaves rows that column does
// not tell apart as they were, so a refresh shuffles nothing.
TEST(OrderTicket, OwnOrderRowsStayPutAndSortStably) {
    constexpr std::int64_t S = 1'000'000'000; // a second in nanoseconds
    const auto at = [](std::int64_t ns) {
        return FormatClockTime(std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::nanoseconds(ns))));
    };
    struct TOrder {
        std::int64_t Id, Placed, Changed, Price, Rest;
        orders::TSide Side;
    };
    // Order 14 changed last but was placed first; 12 and 13 were placed at the same moment.
    const std::vector<TOrder> orders = {
        {11, 10 * S, 11 * S, 100, 1, orders::TSide::Buy},
        {12, 20 * S, 25 * S, 100, 2, orders::TSide::Sell},
        {13, 20 * S, 21 * S, 90, 2, orders::TSide::Buy},
        {14, 5 * S, 90 * S, 100, 0, orders::TSide::Sell},
    };
    orders::TStoreFacts facts;
    for (const TOrder& o : orders) {
        orders::TOwnOrder own;
        own.OrderId = o.Id;
        own.FirstMomentNs = o.Placed;
        own.LastMomentNs = o.Changed;
        own.Price = o.Price * orders::kPriceScale;
        own.Amount = 2;
        own.Rest = o.Rest;
        own.Side = o.Side;
        own.State = o.Rest == 0 ? orders::TOrderState::Filled : orders::TOrderState::Placed;
        facts.Own.push_back(own);
    }
    const auto ids = [](const std::vector<TOwnOrderRow>& rows) {
        std::vector<std::int64_t> out;
        out.reserve(rows.size());
        for (const TOwnOrderRow& r : rows)
            out.push_back(r.OrderId);
        return out;
    };
    const std::vector<TOwnOrderRow> rows = OwnOrderRows(facts, false);
    EXPECT_EQ(ids(rows), (std::vector<std::int64_t>{13, 12, 11, 14}));
    EXPECT_STREQ(OwnOrderCaptions()[kOwnOrderChangedColumn], "Изменена");
    for (const TOwnOrderRow& r : rows) {
        const auto o = std::find_if(orders.begin(), orders.end(),
                                    [&](const TOrder& x) { return x.Id == r.OrderId; });
        EXPECT_EQ(r.Cells[1], at(o->Placed)) << r.OrderId;
        EXPECT_EQ(r.Cells[kOwnOrderChangedColumn], at(o->Changed)) << r.OrderId;
        EXPECT_EQ(r.Buy, o->Side == orders::TSide::Buy) << r.OrderId;
    }

    struct TSortCase {
        std::size_t Column;
        bool Ascending;
        std::vector<std::int64_t> Ids;
    };
    const std::vector<TSortCase> sorts = {
        {5, true, {13, 12, 11, 14}},  // price: the three at 100 stay as they were
        {5, false, {12, 11, 14, 13}}, // the other way, ties still as they were
        {4, true, {13, 11, 12, 14}}, // "Покупка" before "Продажа", each side as it was
        {7, true, {14, 11, 13, 12}}, // by value, the two of 2 as they were
        {kOwnOrderChangedColumn, false, {14, 12, 13, 11}},
        {0, true, {11, 12, 13, 14}},
        {kOwnOrderColumns, true, {13, 12, 11, 14}}, // no such column: left alone
    };
    for (const TSortCase& c : sorts) {
        std::vector<TOwnOrderRow> sorted = rows;
        SortOwnOrderRows(sorted, c.Column, c.Ascending);
        EXPECT_EQ(ids(sorted), c.Ids) << c.Column << (c.Ascending ? " up" : " down");
    }
}

class LimitsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir =
            fs::temp_directory_path() /
            ("vorlen_limits_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::remove_all(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }
    fs::path Dir;
};

// Without a file the built-in limits hold and the dialog shows them; a damaged text is neither
// written nor taken; a sound one is written owner-only and read back with its overrides.
TEST_F(LimitsFileTest, BuiltInLimitsDamagedTextRefusedSoundTextKept) {
    orders::TLimitsBook book;
    std::string error;
    EXPECT_TRUE(LoadLimitsFile(Dir, book, error)) << error;
    EXPECT_EQ(book.For("FZ00001", "Si-12.26"), orders::TRiskLimits{});
    orders::TLimitsBook shown;
    ASSERT_TRUE(shown.Parse(LimitsFileText(Dir), error)) << error;
    EXPECT_EQ(shown.For("X", "Y"), orders::TRiskLimits{});

    orders::TLimitsBook saved;
    EXPECT_FALSE(SaveLimitsFile(Dir, "* max_qty=ten\n", saved, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(Dir / orders::kLimitsFileName));

    const std::string text = "* max_qty=4\nFZ00001 Si-12.26 max_pos=7 distance_pct=1.5\n";
    ASSERT_TRUE(SaveLimitsFile(Dir, text, saved, error)) << error;
    EXPECT_EQ(saved.For("FZ00001", "Si-12.26").MaxPosition, 7);
#ifndef _WIN32
    // Windows gives the file the profile folder's permissions.
    EXPECT_EQ(fs::status(Dir / orders::kLimitsFileName).permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none);
#endif
    EXPECT_EQ(LimitsFileText(Dir), text);

    orders::TLimitsBook loaded;
    ASSERT_TRUE(LoadLimitsFile(Dir, loaded, error)) << error;
    const orders::TRiskLimits si = loaded.For("FZ00001", "Si-12.26");
    EXPECT_EQ(si.MaxOrderQty, 4);
    EXPECT_EQ(si.MaxPosition, 7);
    EXPECT_EQ(si.MaxDistanceBp, 150);
    EXPECT_EQ(loaded.For("FZ00002", "Si-12.26").MaxPosition, orders::TRiskLimits{}.MaxPosition);

    EXPECT_FALSE(SaveLimitsFile(Dir, "FZ00001 max_pos=-\n", saved, error));
    EXPECT_EQ(LimitsFileText(Dir), text) << "a refused text leaves the file as it was";
}

} // namespace
} // namespace vorlen
