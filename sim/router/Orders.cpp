// The trader's orders: validation of AddOrder and DelOrder, immediate matching against the
// simulated book, resting orders, fills with their deals, positions and money.

#include "Exchange.h"
#include "RowMaker.h"

#include <chrono>
#include <cstdlib>

namespace vsim {

namespace {

const char* ReplyText(std::int32_t code) {
    switch (code) {
    case 0:
        return "Операция выполнена успешно.";
    case Exchange::kOrderNotFound:
        return "Не найдена заявка для удаления.";
    case Exchange::kOutOfLimits:
        return "Цена сделки вне лимита.";
    case Exchange::kCrossTrade:
        return "Не разрешена встречная заявка на один счёт и/или ИНН.";
    case Exchange::kUnknownClient:
        return "Попытка операции на несуществующий код клиента.";
    case Exchange::kBadParameters:
        return "Ошибка в задании входных параметров.";
    case Exchange::kOffStep:
        return "Цена не кратна минимальному шагу цены.";
    case Exchange::kBadAmount:
        return "Ошибка в задании входного параметра - количество.";
    case Exchange::kUnknownInstrument:
        return "Инструмент отсутствует в текущей сессии.";
    case Exchange::kUnknownMessage:
        return "Неизвестный тип сообщения.";
    case 10006:
        return "Ошибка при парсинге сообщения.";
    default:
        return "Ошибка при выполнении операции.";
    }
}

std::int64_t EpochNs(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

constexpr double kFeePerContract = 2.0;
constexpr const char* kLogin = "vorlen_trader";

} // namespace

Reply Exchange::MakeReply(const char* msg, std::int32_t code, std::int64_t orderId,
                          std::int64_t amount) {
    Reply r;
    r.def = Catalogue::Get().Message(msg);
    r.data.assign(r.def->size, '\0');
    if (const FieldDef* f = r.def->Field("code")) {
        PutInt(r.data.data(), *f, code);
    }
    if (const FieldDef* f = r.def->Field("message")) {
        PutText(r.data.data(), *f, Utf8ToCp1251(ReplyText(code)));
    }
    if (const FieldDef* f = r.def->Field("order_id")) {
        PutInt(r.data.data(), *f, orderId);
    }
    if (const FieldDef* f = r.def->Field("amount")) {
        PutInt(r.data.data(), *f, amount);
    }
    if (code == 0) {
        ++counters_.accepted;
    } else {
        ++counters_.rejected;
    }
    return r;
}

Reply Exchange::Handle(std::uint32_t msgId, std::string_view msgName, const char* data,
                       std::size_t n) {
    ++counters_.posts;
    const Catalogue& cat = Catalogue::Get();
    const TableDef* def = msgName.empty() ? cat.MessageById(msgId) : cat.Message(msgName);
    if (def == nullptr || (def->name != "AddOrder" && def->name != "DelOrder")) {
        return MakeReply("FORTS_MSG100", kUnknownMessage, 0, 0);
    }
    if (n < def->size) {
        return MakeReply("FORTS_MSG100", 10006, 0, 0);
    }
    return def->name == "AddOrder" ? AddOrder(data) : DelOrder(data);
}

Reply Exchange::AddOrder(const char* d) {
    const TableDef& m = *Catalogue::Get().Message("AddOrder");
    const std::string client(Trim(GetText(d, *m.Field("client_code"))));
    const auto isin_id = static_cast<std::int32_t>(GetInt(d, *m.Field("isin_id")));
    const std::int64_t dir = GetInt(d, *m.Field("dir"));
    const std::int64_t type = GetInt(d, *m.Field("type"));
    const std::int64_t amount = GetInt(d, *m.Field("amount"));
    if (FindAccount(client) == nullptr) {
        return MakeReply("FORTS_MSG101", kUnknownClient, 0, 0);
    }
    Instrument* ins = FindInstrument(isin_id);
    if (ins == nullptr) {
        return MakeReply("FORTS_MSG101", kUnknownInstrument, 0, 0);
    }
    if ((dir != 1 && dir != 2) || type < 1 || type > 3) {
        return MakeReply("FORTS_MSG101", kBadParameters, 0, 0);
    }
    if (amount <= 0) {
        return MakeReply("FORTS_MSG101", kBadAmount, 0, 0);
    }
    std::int64_t price = 0;
    bool offStep = false;
    if (!ParsePrice(GetText(d, *m.Field("price")), price, offStep) || price <= 0) {
        return MakeReply("FORTS_MSG101", kBadParameters, 0, 0);
    }
    if (offStep || price % ins->step != 0) {
        return MakeReply("FORTS_MSG101", kOffStep, 0, 0);
    }
    if (price < ins->lower || price > ins->upper) {
        return MakeReply("FORTS_MSG101", kOutOfLimits, 0, 0);
    }
    // Every account here is the one trader's: an order that would trade against the trader's own
    // resting order is refused, as the exchange's check of counter orders does.
    const std::int64_t ownOpposite = OwnBest(*ins, dir == 1 ? 1 : 0);
    if (ownOpposite != 0 && (dir == 1 ? price >= ownOpposite : price <= ownOpposite)) {
        return MakeReply("FORTS_MSG101", kCrossTrade, 0, 0);
    }
    UserOrder o;
    o.id = nextOrderId_++;
    o.isin_id = isin_id;
    o.dir = static_cast<int>(dir);
    o.price = price;
    o.amount = o.rest = amount;
    o.client = client;
    o.comment = GetText(d, *m.Field("comment"));
    o.ext_id = static_cast<std::int32_t>(GetInt(d, *m.Field("ext_id")));
    OrderLogRow(o, 1, amount, 0, 0);
    if (fillModel_) {
        // The model's engine takes what the book offers at the order's price or better.
        FillFeed& feed = FeedOf(*ins);
        const auto side =
            o.dir == 1 ? vorlen::fills::TFillSide::Buy : vorlen::fills::TFillSide::Sell;
        for (const vorlen::fills::TFill& f : feed.engine.Add(o.id, side, price, o.rest)) {
            Fill(o, f.Price, f.Qty);
        }
        if (o.rest > 0 && type == 1) {
            resting_[o.id] = o;
            BookOrder(o);
            OwnOrdersChanged(*ins);
        } else if (o.rest > 0) {
            feed.engine.Cancel(o.id);
            const std::int64_t rest = o.rest;
            o.rest = 0;
            OrderLogRow(o, 0, rest, 0, 0);
        }
        return MakeReply("FORTS_MSG101", 0, o.id, 0);
    }
    const std::int64_t ask = BackgroundBest(*ins, 1);
    const std::int64_t bid = BackgroundBest(*ins, 0);
    if (o.dir == 1 && price >= ask) {
        Fill(o, ask, o.rest);
    } else if (o.dir == 2 && price <= bid) {
        Fill(o, bid, o.rest);
    } else if (type == 1) {
        resting_[o.id] = o;
        BookOrder(o);
        OwnOrdersChanged(*ins);
    } else {
        const std::int64_t rest = o.rest;
        o.rest = 0;
        OrderLogRow(o, 0, rest, 0, 0);
    }
    return MakeReply("FORTS_MSG101", 0, o.id, 0);
}

Reply Exchange::DelOrder(const char* d) {
    const TableDef& m = *Catalogue::Get().Message("DelOrder");
    auto it = resting_.find(GetInt(d, *m.Field("order_id")));
    if (it == resting_.end()) {
        return MakeReply("FORTS_MSG102", kOrderNotFound, 0, 0);
    }
    UserOrder o = it->second;
    resting_.erase(it);
    if (const auto feed = feeds_.find(o.isin_id); feed != feeds_.end()) {
        feed->second.engine.Cancel(o.id);
    }
    const std::int64_t rest = o.rest;
    o.rest = 0;
    OrderLogRow(o, 0, rest, 0, 0);
    BookOrder(o);
    if (const Instrument* ins = FindInstrument(o.isin_id)) {
        OwnOrdersChanged(*ins);
    }
    return MakeReply("FORTS_MSG102", 0, o.id, rest);
}

bool Exchange::RestOrders(std::int32_t isin_id, std::size_t n) {
    Instrument* ins = FindInstrument(isin_id);
    if (ins == nullptr) {
        return false;
    }
    UserOrder o;
    o.isin_id = isin_id;
    o.price = (ins->lower + ins->step - 1) / ins->step * ins->step;
    o.amount = o.rest = 1;
    o.client = accounts_.front().client;
    o.comment = "лимит";
    for (std::size_t i = 0; i < n; ++i) {
        o.id = nextOrderId_++;
        OrderLogRow(o, 1, o.amount, 0, 0);
        BookOrder(o);
        resting_[o.id] = o;
        if (fillModel_) {
            FeedOf(*ins).engine.Add(o.id, vorlen::fills::TFillSide::Buy, o.price, o.rest);
        }
    }
    OwnOrdersChanged(*ins);
    return true;
}

std::size_t Exchange::FillAllResting() {
    const std::size_t n = resting_.size();
    for (auto& [id, o] : resting_) {
        Fill(o, o.price, o.rest);
    }
    resting_.clear();
    for (auto& [isin, feed] : feeds_) {
        feed.engine.CancelAll();
    }
    return n;
}

void Exchange::MatchResting(const Instrument& ins) {
    if (!fillResting_) {
        return;
    }
    if (fillModel_) {
        FollowBook(ins);
        return;
    }
    for (auto it = resting_.begin(); it != resting_.end();) {
        UserOrder& o = it->second;
        const bool crossed =
            o.isin_id == ins.isin_id && ((o.dir == 1 && o.price >= ins.mid + ins.step) ||
                                         (o.dir == 2 && o.price <= ins.mid - ins.step));
        if (!crossed) {
            ++it;
            continue;
        }
        Fill(o, o.price, o.rest);
        it = resting_.erase(it);
    }
}

void Exchange::OrderLogRow(const UserOrder& o, int action, std::int64_t amount, std::int64_t dealId,
                           std::int64_t dealPrice) {
    const auto at = RowClock();
    Stream& trade = market_.At("FORTS_TRADE_REPL");
    RowMaker(market_, trade, "orders_log")
        .I("public_order_id", o.id)
        .I("sess_id", kSession)
        .I("isin_id", o.isin_id)
        .I("public_amount", amount)
        .I("public_amount_rest", o.rest)
        .I("id_deal", dealId)
        .I("xstatus", 0x1)
        .I("xstatus2", 0)
        .P("price", o.price)
        .T("moment", LocalTime(at))
        .I("moment_ns", EpochNs(at))
        .I("dir", o.dir)
        .I("public_action", action)
        .P("deal_price", dealPrice)
        .C("client_code", std::string(kBroker) + o.client)
        .C("login_from", kLogin)
        .C("comment", o.comment)
        .I("ext_id", o.ext_id)
        .C("broker_to", "")
        .C("broker_to_rts", "")
        .C("broker_from_rts", "vorlen")
        .I("id_ord1", o.id)
        .I("aspref", 42)
        .I("private_order_id", o.id)
        .I("private_amount", amount)
        .I("private_amount_rest", o.rest)
        .I("variance_amount", 0)
        .I("disclose_const_amount", 0)
        .I("private_action", action)
        .I("reason", 0)
        .Put();
}

std::chrono::system_clock::time_point Exchange::RowClock() const {
    return rowClock_ ? *rowClock_ : std::chrono::system_clock::now();
}

void Exchange::BookOrder(const UserOrder& o) {
    Stream& book = market_.At("FORTS_USERORDERBOOK_REPL");
    if (o.rest <= 0) {
        market_.Delete(book, Market::TableIndex(book, "orders"), o.id);
        return;
    }
    const auto at = RowClock();
    RowMaker(market_, book, "orders")
        .I("public_order_id", o.id)
        .I("sess_id", kSession)
        .C("client_code", std::string(kBroker) + o.client)
        .T("moment", LocalTime(at))
        .I("moment_ns", EpochNs(at))
        .I("xstatus", 0x1)
        .I("action", 1)
        .I("isin_id", o.isin_id)
        .I("dir", o.dir)
        .P("price", o.price)
        .I("public_amount", o.amount)
        .I("public_amount_rest", o.rest)
        .C("comment", o.comment)
        .I("ext_id", o.ext_id)
        .C("login_from", kLogin)
        .I("id_ord1", o.id)
        .I("aspref", 42)
        .I("private_order_id", o.id)
        .I("private_amount", o.amount)
        .I("private_amount_rest", o.rest)
        .Put(o.id);
}

void Exchange::Fill(UserOrder& o, std::int64_t price, std::int64_t qty) {
    ++counters_.fills;
    const std::int64_t dealId = nextDealId_++;
    o.rest -= qty;
    OrderLogRow(o, 2, qty, dealId, price);
    BookOrder(o);
    const auto at = RowClock();

    const bool buy = o.dir == 1;
    const std::string mine = std::string(kBroker) + o.client;
    const double fee = kFeePerContract * static_cast<double>(qty);
    Position& p = positions_[{o.client, o.isin_id}];
    const std::int64_t before = p.xpos;
    p.xpos += buy ? qty : -qty;
    (buy ? p.buys : p.sells) += qty;
    if (p.xpos != 0 && ((before >= 0 && buy) || (before <= 0 && !buy))) {
        const std::int64_t absBefore = before < 0 ? -before : before;
        const std::int64_t absAfter = p.xpos < 0 ? -p.xpos : p.xpos;
        p.waprice = (p.waprice * absBefore + price * qty) / absAfter;
    }
    p.net +=
        (buy ? -1.0 : 1.0) * static_cast<double>(price) / kPriceUnit * static_cast<double>(qty);
    p.lastDeal = dealId;

    Stream& trade = market_.At("FORTS_TRADE_REPL");
    RowMaker(market_, trade, "user_deal")
        .I("sess_id", kSession)
        .I("isin_id", o.isin_id)
        .I("id_deal", dealId)
        .I("id_deal_multileg", 0)
        .I("id_repo", 0)
        .I("xpos", p.xpos)
        .I("xamount", qty)
        .I("public_order_id_buy", buy ? o.id : nextPublicId_)
        .I("public_order_id_sell", buy ? nextPublicId_ : o.id)
        .P("price", price)
        .T("moment", LocalTime(at))
        .I("moment_ns", EpochNs(at))
        .I("nosystem", 0)
        .I("xstatus_buy", 0x1)
        .I("xstatus_sell", 0x1)
        .I("xstatus2_buy", 0)
        .I("xstatus2_sell", 0)
        .I("ext_id_buy", buy ? o.ext_id : 0)
        .I("ext_id_sell", buy ? 0 : o.ext_id)
        .C("code_buy", buy ? mine : "XX00000")
        .C("code_sell", buy ? "XX00000" : mine)
        .C("comment_buy", buy ? o.comment : "")
        .C("comment_sell", buy ? "" : o.comment)
        .D("fee_buy", buy ? fee : 0)
        .D("fee_sell", buy ? 0 : fee)
        .C("login_buy", buy ? kLogin : "")
        .C("login_sell", buy ? "" : kLogin)
        .C("code_rts_buy", buy ? "vorlen" : "other")
        .C("code_rts_sell", buy ? "other" : "vorlen")
        .I("private_order_id_buy", buy ? o.id : 0)
        .I("private_order_id_sell", buy ? 0 : o.id)
        .I("reason_buy", 0)
        .I("reason_sell", 0)
        .Put(dealId);
    ++nextPublicId_;
    PublishPosition(o.client, o.isin_id, p);

    if (Account* a = FindAccount(o.client)) {
        const std::int64_t absBefore = before < 0 ? -before : before;
        const std::int64_t absAfter = p.xpos < 0 ? -p.xpos : p.xpos;
        const double margin = 0.12 * static_cast<double>(price) / kPriceUnit;
        const double go = margin * static_cast<double>(absAfter - absBefore);
        a->fee += fee;
        a->blocked += go;
        a->free -= go + fee;
        PublishAccount(*a);
    }
}

} // namespace vsim
