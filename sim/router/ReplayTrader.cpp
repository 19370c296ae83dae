#include "ReplayTrader.h"

#include "../common/LocalTime.h"
#include "../common/Row.h"
#include "../common/Text.h"
#include "Replay.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <tuple>

namespace vsim {

namespace fills = vorlen::fills;

namespace {

constexpr double kFeePerContract = 2.0;
constexpr const char* kLogin = "vorlen_trader";
constexpr std::int32_t kOrderNotFound = 14;
constexpr std::int32_t kBadParameters = 35;
constexpr std::int32_t kOffStep = 39;
constexpr std::int32_t kBadAmount = 53;
constexpr std::int32_t kUnknownMessage = 10001;
constexpr std::int32_t kUnparsed = 10006;

const char* ReplyText(std::int32_t code) {
    switch (code) {
    case 0:
        return "Операция выполнена успешно.";
    case kOrderNotFound:
        return "Не найдена заявка для удаления.";
    case kBadParameters:
        return "Ошибка в задании входных параметров.";
    case kOffStep:
        return "Цена не кратна минимальному шагу цены.";
    case kBadAmount:
        return "Ошибка в задании входного параметра - количество.";
    case kUnknownMessage:
        return "Неизвестный тип сообщения.";
    default:
        return "Ошибка при парсинге сообщения.";
    }
}

const FieldDef& F(const TableDef* def, std::string_view name) {
    static const FieldDef none;
    const FieldDef* f = def != nullptr ? def->Field(name) : nullptr;
    return f != nullptr ? *f : none;
}

// A price field in the fill engines' unit, 1e-5 of the currency.
std::int64_t Price5(const std::string& row, const FieldDef& f) {
    std::int64_t m = 0;
    std::int8_t scale = 0;
    GetDecimal(&row[f.offset], m, scale);
    for (; scale < 5; ++scale) {
        m *= 10;
    }
    for (; scale > 5; --scale) {
        m /= 10;
    }
    return m;
}

fills::TFillSide SideOf(std::int64_t dir) {
    return dir == 1 ? fills::TFillSide::Buy : fills::TFillSide::Sell;
}

} // namespace

ReplayTrader::ReplayTrader(const ReplayState& state, PutRow put)
    : state_(state), put_(std::move(put)), cat_(Catalogue::Get()) {
    log_ = Find("FORTS_TRADE_REPL", "orders_log");
    userDeal_ = Find("FORTS_TRADE_REPL", "user_deal");
    userBook_ = Find("FORTS_USERORDERBOOK_REPL", "orders");
    position_ = Find("FORTS_POS_REPL", "position");
    part_ = Find("FORTS_PART_REPL", "part");
    const Ref deal = Find("FORTS_DEALS_REPL", "deal");
    deals_ = deal.stream;
    dealTable_ = deal.table;
}

ReplayTrader::Ref ReplayTrader::Find(const char* stream, const char* table) const {
    Ref r;
    const StreamDef* s = cat_.Stream(stream);
    if (s == nullptr || s->Find(table) < 0) {
        return r;
    }
    r.stream = static_cast<int>(s - cat_.Streams().data());
    r.table = s->Find(table);
    r.def = s->tables[static_cast<std::size_t>(r.table)];
    return r;
}

void ReplayTrader::ChooseBook(const std::vector<char>& recorded) {
    book_ = bookTable_ = -1;
    for (const char* name : {"FORTS_AGGR50_REPL", "FORTS_AGGR20_REPL", "FORTS_AGGR5_REPL"}) {
        const Ref r = Find(name, "orders_aggr");
        if (r.stream >= 0 && recorded[static_cast<std::size_t>(r.stream)] != 0) {
            book_ = r.stream;
            bookTable_ = r.table;
            return;
        }
    }
}

Reply ReplayTrader::MakeReply(const char* msg, std::int32_t code, std::int64_t orderId,
                              std::int64_t amount) const {
    Reply r;
    r.def = cat_.Message(msg);
    r.data.assign(r.def->size, '\0');
    PutInt(r.data.data(), F(r.def, "code"), code);
    PutText(r.data.data(), F(r.def, "message"), Utf8ToCp1251(ReplyText(code)));
    if (r.def->Field("order_id") != nullptr) {
        PutInt(r.data.data(), F(r.def, "order_id"), orderId);
    }
    if (r.def->Field("amount") != nullptr) {
        PutInt(r.data.data(), F(r.def, "amount"), amount);
    }
    return r;
}

std::string ReplayTrader::FullClient(const std::string& client) const {
    if (part_.stream >= 0) {
        const auto& rows = state_.streams[static_cast<std::size_t>(part_.stream)]
                               .tables[static_cast<std::size_t>(part_.table)];
        std::string found;
        rows.ForEach([&](std::int64_t, const ReplayRow& row) {
            std::string code = GetText(row.data.data(), F(part_.def, "client_code"));
            if (found.empty() && code.size() > client.size() &&
                code.compare(code.size() - client.size(), client.size(), client) == 0) {
                found = std::move(code);
            }
        });
        if (!found.empty()) {
            return found;
        }
    }
    return "FZ00" + client;
}

fills::TFillEngine& ReplayTrader::Engine(std::int32_t isin) {
    auto& e = engines_[isin];
    if (e == nullptr) {
        e = std::make_unique<fills::TFillEngine>(model_);
        Seed(isin, *e);
    }
    return *e;
}

void ReplayTrader::Seed(std::int32_t isin, fills::TFillEngine& e) const {
    if (book_ < 0) {
        return;
    }
    const TableDef* def = cat_.Streams()[static_cast<std::size_t>(book_)]
                              .tables[static_cast<std::size_t>(bookTable_)];
    // In the order they were last written: a later row at a level's price says what the level
    // holds now.
    std::vector<const ReplayRow*> rows;
    state_.streams[static_cast<std::size_t>(book_)]
        .tables[static_cast<std::size_t>(bookTable_)]
        .ForEach([&](std::int64_t, const ReplayRow& row) {
            if (GetInt(row.data.data(), F(def, "isin_id")) == isin) {
                rows.push_back(&row);
            }
        });
    std::sort(rows.begin(), rows.end(), [](const ReplayRow* a, const ReplayRow* b) {
        return std::tie(a->rev, a->seq) < std::tie(b->rev, b->seq);
    });
    for (const ReplayRow* row : rows) {
        e.SetLevel(SideOf(GetInt(row->data.data(), F(def, "dir"))),
                   Price5(row->data, F(def, "price")), GetInt(row->data.data(), F(def, "volume")));
    }
}

void ReplayTrader::BookRow(const std::string* before, const std::string* after) {
    const TableDef* def = cat_.Streams()[static_cast<std::size_t>(book_)]
                              .tables[static_cast<std::size_t>(bookTable_)];
    struct Level {
        std::int64_t isin, dir, price;
        bool operator==(const Level&) const = default;
    };
    const auto level = [&](const std::string& row) {
        return Level{GetInt(row.data(), F(def, "isin_id")), GetInt(row.data(), F(def, "dir")),
                     Price5(row, F(def, "price"))};
    };
    const auto engine = [&](std::int64_t isin) -> fills::TFillEngine* {
        const auto it = engines_.find(static_cast<std::int32_t>(isin));
        return it != engines_.end() ? it->second.get() : nullptr;
    };
    // A level row that moves to another price leaves its old one empty.
    if (before != nullptr) {
        const Level was = level(*before);
        fills::TFillEngine* e = engine(was.isin);
        if (e != nullptr && (after == nullptr || !(level(*after) == was))) {
            e->SetLevel(SideOf(was.dir), was.price, 0);
        }
    }
    if (after != nullptr) {
        const Level now = level(*after);
        if (fills::TFillEngine* e = engine(now.isin)) {
            e->SetLevel(SideOf(now.dir), now.price, GetInt(after->data(), F(def, "volume")));
        }
    }
}

void ReplayTrader::DealRow(const std::string& row) {
    const TableDef* def = cat_.Streams()[static_cast<std::size_t>(deals_)]
                              .tables[static_cast<std::size_t>(dealTable_)];
    const auto it = engines_.find(static_cast<std::int32_t>(GetInt(row.data(), F(def, "isin_id"))));
    if (it == engines_.end()) {
        return;
    }
    // The taker of a deal is its later order: the one with the lower number stood in the book.
    const std::int64_t buy = GetInt(row.data(), F(def, "public_order_id_buy"));
    const std::int64_t sell = GetInt(row.data(), F(def, "public_order_id_sell"));
    std::optional<fills::TFillSide> resting;
    if (buy > 0 && sell > 0) {
        resting = buy < sell ? fills::TFillSide::Buy : fills::TFillSide::Sell;
    }
    it->second->Deal(Price5(row, F(def, "price")), GetInt(row.data(), F(def, "xamount")), resting);
}

void ReplayTrader::BookReset() {
    for (auto& [isin, e] : engines_) {
        e->ClearBook();
        Seed(isin, *e);
    }
}

void ReplayTrader::Flush(std::int64_t nowNs) {
    for (auto& [isin, e] : engines_) {
        for (const fills::TFill& f : e->TakeFills()) {
            Fill(f.OrderId, f, nowNs);
        }
    }
}

void ReplayTrader::CancelAll(std::int64_t nowNs) {
    for (auto& [id, o] : orders_) {
        const std::int64_t rest = o.rest;
        o.rest = 0;
        LogRow(id, o, 0, rest, 0, 0, nowNs);
        BookOrder(id, o, nowNs);
    }
    orders_.clear();
    for (auto& [isin, e] : engines_) {
        e->CancelAll();
    }
    BookReset();
}

Reply ReplayTrader::Handle(std::uint32_t msgId, std::string_view msgName, const char* d,
                           std::size_t n, std::int64_t nowNs) {
    const TableDef* def = msgName.empty() ? cat_.MessageById(msgId) : cat_.Message(msgName);
    if (def == nullptr || (def->name != "AddOrder" && def->name != "DelOrder")) {
        return MakeReply("FORTS_MSG100", kUnknownMessage, 0, 0);
    }
    if (n < def->size) {
        return MakeReply("FORTS_MSG100", kUnparsed, 0, 0);
    }
    if (def->name == "DelOrder") {
        const std::int64_t id = GetInt(d, F(def, "order_id"));
        const auto it = orders_.find(id);
        if (it == orders_.end()) {
            return MakeReply("FORTS_MSG102", kOrderNotFound, 0, 0);
        }
        Own o = it->second;
        orders_.erase(it);
        engines_[o.isin]->Cancel(id);
        const std::int64_t rest = o.rest;
        o.rest = 0;
        LogRow(id, o, 0, rest, 0, 0, nowNs);
        BookOrder(id, o, nowNs);
        return MakeReply("FORTS_MSG102", 0, id, rest);
    }
    const std::int64_t dir = GetInt(d, F(def, "dir"));
    const std::int64_t type = GetInt(d, F(def, "type"));
    Own o;
    o.isin = static_cast<std::int32_t>(GetInt(d, F(def, "isin_id")));
    o.dir = static_cast<int>(dir);
    o.amount = o.rest = GetInt(d, F(def, "amount"));
    o.client = FullClient(std::string(Trim(GetText(d, F(def, "client_code")))));
    o.comment = GetText(d, F(def, "comment"));
    o.extId = GetInt(d, F(def, "ext_id"));
    bool offStep = false;
    if ((dir != 1 && dir != 2) || type < 1 || type > 3) {
        return MakeReply("FORTS_MSG101", kBadParameters, 0, 0);
    }
    if (o.amount <= 0) {
        return MakeReply("FORTS_MSG101", kBadAmount, 0, 0);
    }
    if (!ParsePrice(GetText(d, F(def, "price")), o.price, offStep) || o.price <= 0) {
        return MakeReply("FORTS_MSG101", kBadParameters, 0, 0);
    }
    if (offStep) {
        return MakeReply("FORTS_MSG101", kOffStep, 0, 0);
    }
    const std::int64_t id = nextOrder_++;
    orders_[id] = o;
    LogRow(id, o, 1, o.amount, 0, 0, nowNs);
    fills::TFillEngine& e = Engine(o.isin);
    for (const fills::TFill& f : e.Add(id, SideOf(dir), o.price, o.amount)) {
        Fill(id, f, nowNs);
    }
    const auto it = orders_.find(id);
    if (it != orders_.end() && type != 1) {
        // Not a limit order that rests: what did not fill at once is taken off.
        e.Cancel(id);
        Own left = it->second;
        orders_.erase(it);
        const std::int64_t rest = left.rest;
        left.rest = 0;
        LogRow(id, left, 0, rest, 0, 0, nowNs);
    } else if (it != orders_.end()) {
        BookOrder(id, it->second, nowNs);
    }
    return MakeReply("FORTS_MSG101", 0, id, 0);
}

void ReplayTrader::Fill(std::int64_t id, const fills::TFill& f, std::int64_t nowNs) {
    const auto it = orders_.find(id);
    if (it == orders_.end()) {
        return;
    }
    Own o = it->second;
    o.rest = f.Rest;
    if (o.rest <= 0) {
        orders_.erase(it);
    } else {
        it->second.rest = o.rest;
    }
    const std::int64_t deal = nextDeal_++;
    LogRow(id, o, 2, f.Qty, deal, f.Price, nowNs);
    BookOrder(id, o, nowNs);

    const bool buy = o.dir == 1;
    const double fee = kFeePerContract * static_cast<double>(f.Qty);
    const Time at = LocalTimeNs(nowNs);
    if (userDeal_.stream >= 0) {
        std::string row(userDeal_.def->size, '\0');
        char* p = row.data();
        const TableDef* u = userDeal_.def;
        PutInt(p, F(u, "isin_id"), o.isin);
        PutInt(p, F(u, "id_deal"), deal);
        PutInt(p, F(u, "xamount"), f.Qty);
        PutInt(p, F(u, "public_order_id_buy"), buy ? id : 0);
        PutInt(p, F(u, "public_order_id_sell"), buy ? 0 : id);
        PutDecimal(&row[F(u, "price").offset], f.Price, static_cast<std::int8_t>(5));
        PutTime(&row[F(u, "moment").offset], at);
        PutInt(p, F(u, "moment_ns"), nowNs);
        PutInt(p, F(u, "xstatus_buy"), 1);
        PutInt(p, F(u, "xstatus_sell"), 1);
        PutInt(p, F(u, "ext_id_buy"), buy ? o.extId : 0);
        PutInt(p, F(u, "ext_id_sell"), buy ? 0 : o.extId);
        PutText(p, F(u, "code_buy"), buy ? o.client : "");
        PutText(p, F(u, "code_sell"), buy ? "" : o.client);
        PutText(p, F(u, "comment_buy"), buy ? o.comment : "");
        PutText(p, F(u, "comment_sell"), buy ? "" : o.comment);
        PutDecimal(&row[F(u, "fee_buy").offset], buy ? fee : 0.0, F(u, "fee_buy").scale);
        PutDecimal(&row[F(u, "fee_sell").offset], buy ? 0.0 : fee, F(u, "fee_sell").scale);
        PutText(p, F(u, "login_buy"), buy ? kLogin : "");
        PutText(p, F(u, "login_sell"), buy ? "" : kLogin);
        PutInt(p, F(u, "private_order_id_buy"), buy ? id : 0);
        PutInt(p, F(u, "private_order_id_sell"), buy ? 0 : id);
        put_(userDeal_.stream, userDeal_.table, deal, std::move(row), false, -1);
    }
    PositionDelta d;
    d.xpos = buy ? f.Qty : -f.Qty;
    (buy ? d.buys : d.sells) = f.Qty;
    d.net =
        (buy ? -1.0 : 1.0) * static_cast<double>(f.Price) / 100000.0 * static_cast<double>(f.Qty);
    PositionChanged(o, d, fee);
}

void ReplayTrader::LogRow(std::int64_t id, const Own& o, int action, std::int64_t amount,
                          std::int64_t deal, std::int64_t dealPrice, std::int64_t nowNs) {
    if (log_.stream < 0) {
        return;
    }
    const TableDef* l = log_.def;
    std::string row(l->size, '\0');
    char* p = row.data();
    PutInt(p, F(l, "public_order_id"), id);
    PutInt(p, F(l, "isin_id"), o.isin);
    PutInt(p, F(l, "public_amount"), amount);
    PutInt(p, F(l, "public_amount_rest"), o.rest);
    PutInt(p, F(l, "id_deal"), deal);
    PutInt(p, F(l, "xstatus"), 1);
    PutDecimal(&row[F(l, "price").offset], o.price, static_cast<std::int8_t>(5));
    PutTime(&row[F(l, "moment").offset], LocalTimeNs(nowNs));
    PutInt(p, F(l, "moment_ns"), nowNs);
    PutInt(p, F(l, "dir"), o.dir);
    PutInt(p, F(l, "public_action"), action);
    PutDecimal(&row[F(l, "deal_price").offset], dealPrice, static_cast<std::int8_t>(5));
    PutText(p, F(l, "client_code"), o.client);
    PutText(p, F(l, "login_from"), kLogin);
    PutText(p, F(l, "comment"), o.comment);
    PutInt(p, F(l, "ext_id"), o.extId);
    PutInt(p, F(l, "id_ord1"), id);
    PutInt(p, F(l, "private_order_id"), id);
    PutInt(p, F(l, "private_amount"), amount);
    PutInt(p, F(l, "private_amount_rest"), o.rest);
    PutInt(p, F(l, "private_action"), action);
    put_(log_.stream, log_.table, nextRow_++, std::move(row), false, -1);
}

void ReplayTrader::BookOrder(std::int64_t id, const Own& o, std::int64_t nowNs) {
    if (userBook_.stream < 0) {
        return;
    }
    const auto& rows = state_.streams[static_cast<std::size_t>(userBook_.stream)]
                           .tables[static_cast<std::size_t>(userBook_.table)];
    if (o.rest <= 0) {
        if (const ReplayRow* booked = rows.Find(id)) {
            put_(userBook_.stream, userBook_.table, id, booked->data, true, -1);
        }
        return;
    }
    const TableDef* b = userBook_.def;
    std::string row(b->size, '\0');
    char* p = row.data();
    PutInt(p, F(b, "public_order_id"), id);
    PutText(p, F(b, "client_code"), o.client);
    PutTime(&row[F(b, "moment").offset], LocalTimeNs(nowNs));
    PutInt(p, F(b, "moment_ns"), nowNs);
    PutInt(p, F(b, "xstatus"), 1);
    PutInt(p, F(b, "action"), 1);
    PutInt(p, F(b, "isin_id"), o.isin);
    PutInt(p, F(b, "dir"), o.dir);
    PutDecimal(&row[F(b, "price").offset], o.price, static_cast<std::int8_t>(5));
    PutInt(p, F(b, "public_amount"), o.amount);
    PutInt(p, F(b, "public_amount_rest"), o.rest);
    PutText(p, F(b, "comment"), o.comment);
    PutInt(p, F(b, "ext_id"), o.extId);
    PutInt(p, F(b, "private_order_id"), id);
    PutInt(p, F(b, "private_amount"), o.amount);
    PutInt(p, F(b, "private_amount_rest"), o.rest);
    put_(userBook_.stream, userBook_.table, id, std::move(row), false, -1);
}

namespace {

void AddPosition(std::string& row, const TableDef* def, std::int64_t xpos, std::int64_t buys,
                 std::int64_t sells, double net) {
    char* p = row.data();
    PutInt(p, F(def, "xpos"), GetInt(p, F(def, "xpos")) + xpos);
    PutInt(p, F(def, "xbuys_qty"), GetInt(p, F(def, "xbuys_qty")) + buys);
    PutInt(p, F(def, "xsells_qty"), GetInt(p, F(def, "xsells_qty")) + sells);
    const FieldDef& n = F(def, "net_volume_rur");
    PutDecimal(&row[n.offset], GetDecimalValue(p, n) + net, n.scale);
}

void AddFee(std::string& row, const TableDef* def, double fee) {
    const FieldDef& f = F(def, "fee");
    const FieldDef& free = F(def, "money_free");
    PutDecimal(&row[f.offset], GetDecimalValue(row.data(), f) + fee, f.scale);
    PutDecimal(&row[free.offset], GetDecimalValue(row.data(), free) - fee, free.scale);
}

} // namespace

void ReplayTrader::PositionChanged(const Own& o, const PositionDelta& d, double fee) {
    PositionDelta& total = positions_[{o.client, o.isin}];
    total.xpos += d.xpos;
    total.buys += d.buys;
    total.sells += d.sells;
    total.net += d.net;
    fees_[o.client] += fee;
    if (position_.stream >= 0) {
        const auto& rows = state_.streams[static_cast<std::size_t>(position_.stream)]
                               .tables[static_cast<std::size_t>(position_.table)];
        std::optional<std::pair<std::int64_t, ReplayRow>> held;
        rows.ForEach([&](std::int64_t rowId, const ReplayRow& r) {
            if (!held && GetInt(r.data.data(), F(position_.def, "isin_id")) == o.isin &&
                GetText(r.data.data(), F(position_.def, "client_code")) == o.client) {
                held.emplace(rowId, r);
            }
        });
        if (held) {
            std::string row = held->second.data;
            AddPosition(row, position_.def, d.xpos, d.buys, d.sells, d.net);
            put_(position_.stream, position_.table, held->first, std::move(row), false,
                 held->second.rev);
        } else {
            std::string row(position_.def->size, '\0');
            PutText(row.data(), F(position_.def, "client_code"), o.client);
            PutInt(row.data(), F(position_.def, "isin_id"), o.isin);
            PutDecimal(&row[F(position_.def, "net_volume_rur").offset], 0.0,
                       F(position_.def, "net_volume_rur").scale);
            AddPosition(row, position_.def, total.xpos, total.buys, total.sells, total.net);
            put_(position_.stream, position_.table, nextRow_++, std::move(row), false, -1);
        }
    }
    if (part_.stream >= 0) {
        const auto& rows = state_.streams[static_cast<std::size_t>(part_.stream)]
                               .tables[static_cast<std::size_t>(part_.table)];
        std::optional<std::pair<std::int64_t, ReplayRow>> held;
        rows.ForEach([&](std::int64_t rowId, const ReplayRow& r) {
            if (!held && GetText(r.data.data(), F(part_.def, "client_code")) == o.client) {
                held.emplace(rowId, r);
            }
        });
        if (held) {
            std::string row = held->second.data;
            AddFee(row, part_.def, fee);
            put_(part_.stream, part_.table, held->first, std::move(row), false, held->second.rev);
        }
    }
}

void ReplayTrader::Adjust(int stream, int table, std::string& row) const {
    if (stream == position_.stream && table == position_.table && !positions_.empty()) {
        const auto it = positions_.find(
            {GetText(row.data(), F(position_.def, "client_code")),
             static_cast<std::int32_t>(GetInt(row.data(), F(position_.def, "isin_id")))});
        if (it != positions_.end()) {
            const PositionDelta& d = it->second;
            AddPosition(row, position_.def, d.xpos, d.buys, d.sells, d.net);
        }
    } else if (stream == part_.stream && table == part_.table && !fees_.empty()) {
        const auto it = fees_.find(GetText(row.data(), F(part_.def, "client_code")));
        if (it != fees_.end()) {
            AddFee(row, part_.def, it->second);
        }
    }
}

void ReplayTrader::Readjust(ReplayState& st) const {
    for (const Ref& ref : {position_, part_}) {
        if (ref.stream < 0) {
            continue;
        }
        st.streams[static_cast<std::size_t>(ref.stream)]
            .tables[static_cast<std::size_t>(ref.table)]
            .ForEachMutable([&](std::int64_t id, ReplayRow& row) {
                if (id < kFirstOwnRow) {
                    Adjust(ref.stream, ref.table, row.data);
                }
            });
    }
}

} // namespace vsim
