// The trader's own data as the day starts: accounts, positions carried over, a few orders and
// deals; and how accounts and positions are published when they change.

#include "Exchange.h"
#include "RowMaker.h"

#include <algorithm>
#include <ctime>

namespace vsim {

namespace {

// 09:00 of the day, or for a router started before then a few minutes past midnight.
std::chrono::system_clock::time_point MorningOf(std::chrono::system_clock::time_point now) {
    std::tm tm = LocalTm(now);
    tm.tm_hour = 9;
    tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    auto at = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    if (at > now) {
        tm.tm_hour = 0;
        tm.tm_min = 5;
        tm.tm_isdst = -1;
        at = std::min(now, std::chrono::system_clock::from_time_t(std::mktime(&tm)));
    }
    return at;
}

} // namespace

void Exchange::SeedTrader() {
    accounts_ = {{"001", 1000000.0, 1000000.0, 0, 0, 0, 0},
                 {"002", 250000.0, 250000.0, 0, 0, 0, 0}};
    for (const Account& a : accounts_) {
        PublishAccount(a);
    }
    // A long and a short position carried over from the previous session.
    Position p1;
    p1.xpos = p1.open = 3;
    p1.waprice = instruments_[futures_[0]].mid;
    PublishPosition("001", instruments_[futures_[0]].isin_id, p1);
    positions_[{"001", instruments_[futures_[0]].isin_id}] = p1;
    Position p2;
    p2.xpos = p2.open = -2;
    p2.waprice = instruments_[futures_[6]].mid;
    PublishPosition("001", instruments_[futures_[6]].isin_id, p2);
    positions_[{"001", instruments_[futures_[6]].isin_id}] = p2;

    // The day so far: a filled buy, a resting buy below the market, and a multi-leg order with
    // its deal, so every grid of the terminal has something from the start. They were placed in
    // the morning: a terminal counting the day's orders must not take them for orders of the
    // last minute.
    rowClock_ = MorningOf(std::chrono::system_clock::now());
    const Instrument& si = instruments_[futures_[0]];
    UserOrder filled;
    filled.id = nextOrderId_++;
    filled.isin_id = si.isin_id;
    filled.price = si.mid + si.step;
    filled.amount = filled.rest = 1;
    filled.client = "001";
    filled.comment = "утро";
    OrderLogRow(filled, 1, 1, 0, 0);
    Fill(filled, filled.price, 1);
    UserOrder resting = filled;
    resting.id = nextOrderId_++;
    resting.price = si.mid - si.step * 20;
    resting.amount = resting.rest = 2;
    resting.comment = "лимит";
    OrderLogRow(resting, 1, 2, 0, 0);
    resting_[resting.id] = resting;
    BookOrder(resting);
    Stream& trade = market_.At("FORTS_TRADE_REPL");
    const Instrument& far = instruments_[futures_[1]];
    const Time now = LocalTime(RowClock());
    RowMaker(market_, trade, "multileg_orders_log")
        .I("public_order_id", nextOrderId_)
        .I("sess_id", kSession)
        .I("isin_id", far.isin_id)
        .I("public_amount", 1)
        .I("public_amount_rest", 0)
        .I("id_deal", nextDealId_)
        .I("xstatus", 0x1)
        .P("price", far.mid - si.mid)
        .T("moment", now)
        .I("dir", 1)
        .I("public_action", 2)
        .P("deal_price", si.mid)
        .C("client_code", "FZ00001")
        .C("login_from", "vorlen_trader")
        .C("comment", "спред")
        .I("id_ord1", nextOrderId_)
        .I("aspref", 42)
        .I("private_order_id", nextOrderId_)
        .I("private_amount", 1)
        .I("private_amount_rest", 0)
        .I("private_action", 2)
        .Put();
    RowMaker(market_, trade, "user_multileg_deal")
        .I("sess_id", kSession)
        .I("isin_id", far.isin_id)
        .I("isin_id_rd", si.isin_id)
        .I("isin_id_rb", far.isin_id)
        .I("duration", 90)
        .I("id_deal", nextDealId_)
        .I("id_deal_rd", nextDealId_ + 1)
        .I("id_deal_rb", nextDealId_ + 2)
        .I("public_order_id_buy", nextOrderId_)
        .I("xamount", 1)
        .P("price", si.mid)
        .D("rate_price", 0)
        .P("swap_price", far.mid - si.mid)
        .T("moment", now)
        .C("code_buy", "FZ00001")
        .C("code_sell", "XX00000")
        .C("login_buy", "vorlen_trader")
        .C("code_rts_buy", "vorlen")
        .C("code_rts_sell", "other")
        .I("private_order_id_buy", nextOrderId_)
        .Put(nextDealId_);
    ++nextOrderId_;
    nextDealId_ += 3;
    rowClock_.reset();
    Tick();

    Stream& part = market_.At("FORTS_PART_REPL");
    RowMaker(market_, part, "part_sa")
        .C("settlement_account", "FZ00SA1")
        .D("money_old", 1250000)
        .D("money_amount", 1250000)
        .D("money_free", 1250000)
        .D("coeff_go", 1)
        .Put();
    Stream& pos = market_.At("FORTS_POS_REPL");
    RowMaker(market_, pos, "position_sa")
        .C("settlement_account", "FZ00SA1")
        .I("isin_id", instruments_[futures_[0]].isin_id)
        .I("xpos", 3)
        .I("xopen_qty", 3)
        .P("waprice", p1.waprice)
        .Put();
    Stream& prohib = market_.At("FORTS_PROHIBITION_REPL");
    RowMaker(market_, prohib, "prohibition")
        .I("prohib_id", 1)
        .C("client_code", "FZ00002")
        .I("initiator", 2)
        .C("section", "Фондовая секция")
        .C("code_vcb", "YNDF")
        .I("priority", 1)
        .I("group_mask", 0xFF)
        .I("type", 1)
        .I("apply", 1)
        .Put();
}

void Exchange::PublishAccount(const Account& a) {
    Stream& part = market_.At("FORTS_PART_REPL");
    RowMaker(market_, part, "part")
        .C("client_code", std::string(kBroker) + a.client)
        .D("money_free", a.free)
        .D("money_blocked", a.blocked)
        .D("vm_reserve", a.vmReserve)
        .D("fee", a.fee)
        .D("limits_set", a.moneyOld)
        .D("money_old", a.moneyOld)
        .D("money_amount", a.free + a.blocked)
        .D("money_pledge_amount", 0)
        .D("vm_intercl", 0)
        .I("is_auto_update_limit", 1)
        .D("broker_fee", a.brokerFee)
        .D("penalty", 0)
        .D("premium_intercl", 0)
        .D("net_option_value", 0)
        .D("coeff_go", 1)
        .D("coeff_liquidity", 1)
        .Put(a.client == "001" ? 1 : 2);
}

void Exchange::PublishPosition(const std::string& client, std::int32_t isin_id, const Position& p) {
    Stream& pos = market_.At("FORTS_POS_REPL");
    RowMaker(market_, pos, "position")
        .C("client_code", std::string(kBroker) + client)
        .I("isin_id", isin_id)
        .I("xpos", p.xpos)
        .I("xbuys_qty", p.buys)
        .I("xsells_qty", p.sells)
        .I("xopen_qty", p.open)
        .P("waprice", p.waprice)
        .D("net_volume_rur", p.net)
        .I("last_deal_id", p.lastDeal)
        .I("last_quantity", p.open)
        .I("account_type", 1)
        .Put(static_cast<std::int64_t>(isin_id) * 10 + (client == "001" ? 1 : 2));
}

} // namespace vsim
