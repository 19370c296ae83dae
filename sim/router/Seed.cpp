// The market as the router starts it: instruments, reference tables, the trader's account and
// positions, and a few rows in every other table.

#include "Exchange.h"
#include "RowMaker.h"

#include <cmath>
#include <cstdio>

namespace vsim {

namespace {

struct FutureSpec {
    const char* base;
    const char* shortCode;
    double price;
    double step;
    int firstExpiry;
    int expiries;
    const char* name;
};

struct Expiry {
    const char* suffix; // "12.26"
    char letter;        // futures month letter
    int year, month, day;
};

const Expiry kExpiries[] = {
    {"12.26", 'Z', 2026, 12, 18}, {"3.27", 'H', 2027, 3, 18}, {"6.27", 'M', 2027, 6, 17}};

const FutureSpec kFutures[] = {
    {"Si", "Si", 92000, 1, 0, 3, "Фьючерсный контракт на курс доллар США - российский рубль"},
    {"RTS", "RI", 110000, 10, 0, 3, "Фьючерсный контракт на Индекс РТС"},
    {"Eu", "Eu", 99500, 1, 0, 2, "Фьючерсный контракт на курс евро - российский рубль"},
    {"CNY", "CR", 12.65, 0.001, 0, 2,
     "Фьючерсный контракт на курс китайский юань - российский рубль"},
    {"GAZR", "GZ", 13500, 1, 0, 2, "Фьючерсный контракт на обыкновенные акции ПАО «Газпром»"},
    {"SBRF", "SR", 30500, 1, 0, 2, "Фьючерсный контракт на обыкновенные акции ПАО Сбербанк"},
    {"SBPR", "SP", 30100, 1, 0, 1, "Фьючерсный контракт на привилегированные акции ПАО Сбербанк"},
    {"LKOH", "LK", 71000, 1, 0, 1, "Фьючерсный контракт на обыкновенные акции ПАО «ЛУКОЙЛ»"},
    {"MAIL", "VK", 29000, 1, 1, 1, "Фьючерсный контракт на ГДР VK Company Limited"},
    {"TRNF", "TN", 150000, 1, 0, 1,
     "Фьючерсный контракт на привилегированные акции ПАО «Транснефть»"},
    {"TRNS", "TS", 1500, 1, 1, 1,
     "Фьючерсный контракт на привилегированные акции ПАО «Транснефть»"},
    {"NOTK", "NK", 10500, 1, 0, 1, "Фьючерсный контракт на обыкновенные акции ПАО «НОВАТЭК»"},
    {"MTSI", "MT", 23000, 1, 0, 1, "Фьючерсный контракт на обыкновенные акции ПАО «МТС»"},
    {"SNGP", "SG", 5500, 1, 0, 1,
     "Фьючерсный контракт на привилегированные акции ПАО «Сургутнефтегаз»"},
    {"SNGR", "SN", 2950, 1, 0, 1, "Фьючерсный контракт на обыкновенные акции ПАО «Сургутнефтегаз»"},
    {"TCSI", "TI", 3100, 1, 0, 1, "Фьючерсный контракт на ГДР ТКС Холдинг"},
    {"YNDF", "YN", 4100, 1, 0, 1, "Фьючерсный контракт на акции Яндекс"},
    {"BR", "BR", 75.5, 0.01, 0, 2, "Фьючерсный контракт на нефть марки Brent"},
    {"GOLD", "GD", 2400, 0.1, 0, 1, "Фьючерсный контракт на золото"},
};

struct SpotSpec {
    const char* smallName;
    const char* isin;
    const char* name;
};

const SpotSpec kSpot[] = {
    {"GAZP", "RU0007661625", "Газпром ао"},
    {"SBER", "RU0009029540", "Сбербанк России ПАО ао"},
    {"SBERP", "RU0009029557", "Сбербанк России ПАО ап"},
    {"TRNFP", "RU0009091573", "Транснефть ап"},
    {"NVTK", "RU000A0DKVS5", "НОВАТЭК ао"},
    {"MTSS", "RU0007775219", "МТС ао"},
    {"SNGSP", "RU0009029524", "Сургутнефтегаз ап"},
    {"SNGS", "RU0008926258", "Сургутнефтегаз ао"},
    {"TCSG", "US87238U2033", "ТКС Холдинг"},
    {"YNDX", "NL0009805522", "Яндекс"},
    {"VKCO", "US5603172082", "ВК ао"},
    {"LKOH", "RU0009024277", "ЛУКОЙЛ ао"},
    {"MOEX", "RU000A0JR4A1", "Московская Биржа ао"},
    {"EUR_RUB__TOM", "EUR_RUB__TOM", "Евро - российский рубль TOM"},
    {"CNYRUB_TOM", "CNYRUB_TOM", "Китайский юань - российский рубль TOM"},
    {"USD000UTSTOM", "USD000UTSTOM", "Доллар США - российский рубль TOM"},
};

// Bases whose nearest futures get an option board, and the strike spacing in price units.
struct OptionSpec {
    const char* base;
    double strikeStep;
    int expiries;
};
const OptionSpec kOptions[] = {
    {"Si", 1000, 2}, {"RTS", 2500, 2}, {"GAZR", 250, 1}, {"SBRF", 500, 1}, {"BR", 1, 1}};
constexpr int kStrikesEachSide = 10;

std::int64_t ToUnits(double v) {
    return static_cast<std::int64_t>(std::llround(v * kPriceUnit));
}

std::int64_t RoundToStep(std::int64_t v, std::int64_t step) {
    return (v + step / 2) / step * step;
}

Time MakeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    Time t;
    t.year = static_cast<std::uint16_t>(y);
    t.month = static_cast<std::uint8_t>(mo);
    t.day = static_cast<std::uint8_t>(d);
    t.hour = static_cast<std::uint8_t>(h);
    t.minute = static_cast<std::uint8_t>(mi);
    t.second = static_cast<std::uint8_t>(s);
    return t;
}

} // namespace

void Exchange::SeedInstruments() {
    std::int32_t nextId = 2070001;
    for (const FutureSpec& f : kFutures) {
        for (int e = f.firstExpiry; e < f.firstExpiry + f.expiries; ++e) {
            const Expiry& x = kExpiries[e];
            Instrument ins;
            ins.isin_id = nextId++;
            ins.base = f.base;
            ins.isin = std::string(f.base) + "-" + x.suffix;
            ins.short_isin = std::string(f.shortCode) + x.letter + std::to_string(x.year % 10);
            ins.name = std::string(f.name) + " " + ins.isin;
            ins.step = ToUnits(f.step);
            ins.mid = RoundToStep(ToUnits(f.price * (1.0 + 0.004 * e)), ins.step);
            ins.lower = RoundToStep(ins.mid * 9 / 10, ins.step);
            ins.upper = RoundToStep(ins.mid * 11 / 10, ins.step);
            ins.expiry = MakeTime(x.year, x.month, x.day, 18, 50);
            futures_.push_back(instruments_.size());
            instruments_.push_back(ins);
        }
    }
    // Clearing-session twins of two contracts: the terminal can hide them from its lists.
    for (std::size_t k : {std::size_t{0}, std::size_t{3}}) {
        Instrument ins = instruments_[futures_[k]];
        ins.isin_id = nextId++;
        ins.isin += "_CLT";
        ins.short_isin += "_CLT";
        ins.name += " (клиринговый)";
        futures_.push_back(instruments_.size());
        instruments_.push_back(ins);
    }
    for (std::size_t k : futures_) {
        const Instrument& fut = instruments_[k];
        flow_.Add(fut.mid, fut.step, fut.lower, fut.upper);
    }
    std::int32_t nextOpt = 3150001;
    // Series expire relative to today, so that no test of the board stops working on a date.
    const std::vector<Time> optionExpiries = OptionExpiries(LocalNow());
    for (const OptionSpec& o : kOptions) {
        int seen = 0;
        for (std::size_t fi = 0; fi < futures_.size() && seen < o.expiries; ++fi) {
            const Instrument fut = instruments_[futures_[fi]];
            if (fut.base != o.base || fut.isin.find("_CLT") != std::string::npos) {
                continue;
            }
            const Time& ex = optionExpiries[static_cast<std::size_t>(seen)];
            ++seen;
            const std::int64_t strikeStep = ToUnits(o.strikeStep);
            const std::int64_t atm = RoundToStep(fut.mid, strikeStep);
            char date[16];
            std::snprintf(date, sizeof date, "%02d%02d%02d", ex.day, ex.month, ex.year % 100);
            for (int k = -kStrikesEachSide; k < kStrikesEachSide; ++k) {
                for (int put = 0; put < 2; ++put) {
                    Instrument opt;
                    opt.isin_id = nextOpt++;
                    opt.option = true;
                    opt.put = put != 0;
                    opt.base = fut.base;
                    opt.fut_isin_id = fut.isin_id;
                    opt.strike = atm + k * strikeStep;
                    char strike[32];
                    std::snprintf(strike, sizeof strike, "%g",
                                  static_cast<double>(opt.strike) / kPriceUnit);
                    opt.isin = fut.isin + "M" + date + (put ? "P" : "C") + "A" + strike;
                    const char letter = static_cast<char>((put ? 'M' : 'A') + ex.month - 1);
                    opt.short_isin = fut.short_isin.substr(0, 2) + strike + "B" + letter +
                                     std::to_string(ex.year % 10);
                    opt.name = std::string("Марж. амер. ") + (put ? "Put" : "Call") + " " + strike +
                               " с исп. " + std::to_string(ex.day) + "." +
                               std::to_string(ex.month) + " на фьюч. контр. " + fut.isin;
                    opt.step = fut.step;
                    // Limits wide enough for any value the smile gives while the futures stays
                    // within its own limits; the price itself comes from the smile (SeedOptions).
                    const double f = static_cast<double>(fut.upper);
                    const double kk = static_cast<double>(opt.strike);
                    const double ceiling = put ? kk : f;
                    opt.mid = opt.step;
                    opt.lower = opt.step;
                    opt.upper = RoundToStep(static_cast<std::int64_t>(ceiling), opt.step);
                    opt.expiry = ex;
                    opt.openInterest = 100 + (opt.isin_id % 37) * 25;
                    instruments_.push_back(opt);
                }
            }
        }
    }
}

void Exchange::SeedReference() {
    Stream& ref = market_.At("FORTS_REFDATA_REPL");
    const Time now = LocalNow();
    const Time sessBegin = MakeTime(now.year, now.month, now.day, 9, 0);
    const Time sessEnd = MakeTime(now.year, now.month, now.day, 23, 50);
    for (const Instrument& ins : instruments_) {
        if (ins.option) {
            RowMaker(market_, ref, "opt_sess_contents")
                .I("sess_id", kSession)
                .I("isin_id", ins.isin_id)
                .C("isin", ins.isin)
                .C("short_isin", ins.short_isin)
                .C("name", ins.name)
                .C("code_vcb", ins.base)
                .I("fut_isin_id", ins.fut_isin_id)
                .I("is_limited", 1)
                .P("limit_up", ins.upper)
                .P("limit_down", ins.lower)
                .P("old_kotir", ins.mid)
                .D("bgo_c", 1500.25)
                .D("bgo_nc", 1800.5)
                .I("europe", 0)
                .I("put", ins.put ? 1 : 0)
                .P("strike", ins.strike)
                .I("roundto", 0)
                .P("min_step", ins.step)
                .I("lot_volume", 1)
                .P("step_price", ins.step)
                .T("d_pg", ins.expiry)
                .T("d_exec_beg", sessBegin)
                .T("d_exec_end", ins.expiry)
                .I("signs", 0x100)
                .P("last_cl_quote", ins.mid)
                .D("bgo_buy", 1200.0)
                .I("base_isin_id", 0)
                .T("d_start", MakeTime(2025, 12, 19))
                .I("state", 1)
                .Put(ins.isin_id);
            continue;
        }
        RowMaker(market_, ref, "fut_sess_contents")
            .I("sess_id", kSession)
            .I("isin_id", ins.isin_id)
            .C("short_isin", ins.short_isin)
            .C("isin", ins.isin)
            .C("name", ins.name)
            .I("inst_term", 0)
            .C("code_vcb", ins.base)
            .I("is_limited", 1)
            .P("limit_up", ins.upper)
            .P("limit_down", ins.lower)
            .P("old_kotir", ins.mid)
            .D("buy_deposit", 0.12 * ins.mid / kPriceUnit)
            .D("sell_deposit", 0.12 * ins.mid / kPriceUnit)
            .I("roundto", ins.step < kPriceUnit ? 3 : 0)
            .P("min_step", ins.step)
            .I("lot_volume", 1)
            .P("step_price", ins.step)
            .T("d_pg", ins.expiry)
            .I("is_spread", 0)
            .D("coeff", 1.0)
            .T("d_exp", ins.expiry)
            .I("is_percent", 0)
            .D("percent_rate", 0)
            .P("last_cl_quote", ins.mid)
            .I("signs", 0x20)
            .I("is_trade_evening", 1)
            .I("ticker", ins.isin_id % 1000)
            .I("state", 1)
            .I("price_dir", 0)
            .I("multileg_type", 0)
            .I("legs_qty", 0)
            .P("step_price_clr", ins.step)
            .P("step_price_interclr", ins.step)
            .P("step_price_curr", ins.step)
            .T("d_start", MakeTime(2025, 9, 19))
            .C("base_contract_code", ins.base)
            .Put(ins.isin_id);
        RowMaker(market_, ref, "fut_instruments")
            .I("isin_id", ins.isin_id)
            .C("isin", ins.isin)
            .C("short_isin", ins.short_isin)
            .C("name", ins.name)
            .C("code_vcb", ins.base)
            .P("old_kotir", ins.mid)
            .P("min_step", ins.step)
            .I("lot_volume", 1)
            .P("step_price", ins.step)
            .T("d_pg", ins.expiry)
            .T("d_exp", ins.expiry)
            .T("d_start", MakeTime(2025, 9, 19))
            .Put(ins.isin_id);
    }
    std::int32_t bond = 501;
    for (const SpotSpec& s : kSpot) {
        RowMaker(market_, ref, "fut_bond_registry")
            .I("bond_id", bond)
            .C("small_name", s.smallName)
            .C("short_isin", s.isin)
            .C("name", s.name)
            .T("date_redempt", MakeTime(2099, 12, 31))
            .D("nominal", 1)
            .I("bond_type", 1)
            .I("year_base", 365)
            .Put(bond);
        ++bond;
    }
    std::string lastBase;
    for (const Instrument& ins : instruments_) {
        if (ins.option || ins.base == lastBase) {
            continue;
        }
        lastBase = ins.base;
        RowMaker(market_, ref, "fut_vcb")
            .C("code_vcb", ins.base)
            .C("name", "Базовый актив " + ins.base)
            .C("exec_type", "C")
            .C("curr", "RUB")
            .D("exch_pay", 1.25)
            .D("clear_pay", 0.5)
            .D("sell_fee", 0.005)
            .D("buy_fee", 0.005)
            .C("trade_scheme", "G")
            .C("section", "Фондовая секция")
            .Put();
    }
    RowMaker(market_, ref, "session")
        .I("sess_id", kSession)
        .T("begin", sessBegin)
        .T("end", sessEnd)
        .I("state", 1)
        .I("opt_sess_id", kSession)
        .T("inter_cl_begin", MakeTime(now.year, now.month, now.day, 14))
        .T("inter_cl_end", MakeTime(now.year, now.month, now.day, 14, 5))
        .I("eve_on", 1)
        .T("eve_begin", MakeTime(now.year, now.month, now.day, 19, 5))
        .T("eve_end", sessEnd)
        .Put(kSession);
    RowMaker(market_, ref, "dealer")
        .C("client_code", kBroker)
        .C("name", "ООО «Ворлен Брокер»")
        .C("rts_code", "vorlen")
        .I("status", 1)
        .Put();
    for (const char* code : {"001", "002"}) {
        RowMaker(market_, ref, "investor")
            .C("client_code", std::string(kBroker) + code)
            .C("name", std::string("Клиент ") + code)
            .I("status", 1)
            .Put();
    }
    RowMaker(market_, ref, "user")
        .C("u_login", "vorlen_trader")
        .C("client_code", std::string(kBroker) + "001")
        .I("status", 1)
        .I("login_type", 1)
        .Put();

    // Exchange messages at the start of the day: one at midnight, in both languages.
    const Time midnight = MakeTime(now.year, now.month, now.day);
    SystemMessage("ru", "Начало торговой сессии. Добро пожаловать в учебный торговый шлюз.",
                  midnight);
    SystemMessage("en", "Trading session started. Welcome to the offline exchange.", midnight);
    SystemMessage("ru", "Промежуточный клиринг состоится в 14:00.", sessBegin);
    SystemMessage("en", "Intermediate clearing at 14:00.", sessBegin);
}

std::int64_t Exchange::SystemMessage(std::string_view lang, std::string_view utf8,
                                     const Time& moment) {
    Stream& ref = market_.At("FORTS_REFDATA_REPL");
    const std::int32_t id = nextSysId_++;
    return RowMaker(market_, ref, "sys_messages")
        .I("id", id)
        .I("sess_id", kSession)
        .C("lang_code", lang)
        .I("urgency", 0)
        .I("status", 1)
        .C("text", utf8)
        .T("moment", moment)
        .C("message_body", utf8)
        .Put(id);
}

void Exchange::SeedMarketData() {
    for (const char* s : {"FORTS_AGGR5_REPL", "FORTS_AGGR20_REPL", "FORTS_AGGR50_REPL"}) {
        MarkStale(s);
        Refresh(s);
    }
}

// Every table nobody seeded above gets two rows of plausible values, so that each stream has
// something to replicate. The trader's user order book holds only the trader's resting orders.
void Exchange::SeedOtherStreams() {
    const Time now = LocalNow();
    for (Stream& s : market_.Streams()) {
        for (std::size_t t = 0; t < s.tables.size(); ++t) {
            Table& table = s.tables[t];
            if (!table.rows.empty() || table.def->name == "heartbeat" ||
                table.def->name == "orders_log" || table.def->name == "multileg_orders_log" ||
                table.def->name == "user_deal" || table.def->name == "user_multileg_deal" ||
                table.def->name == "deal" || table.def->name == "orders_aggr" ||
                (s.def->name == "FORTS_USERORDERBOOK_REPL" && table.def->name == "orders")) {
                continue;
            }
            for (int n = 0; n < 2; ++n) {
                std::string data(table.def->size, '\0');
                for (std::size_t f = 3; f < table.def->fields.size(); ++f) {
                    const FieldDef& fd = table.def->fields[f];
                    switch (fd.kind) {
                    case FieldKind::Int:
                    case FieldKind::UInt:
                        PutInt(data.data(), fd,
                               fd.name == "isin_id"
                                   ? instruments_[futures_[static_cast<std::size_t>(n)]].isin_id
                                   : static_cast<std::int64_t>(n + 1));
                        break;
                    case FieldKind::Text:
                        PutText(data.data(), fd,
                                fd.name.find("client_code") != std::string::npos
                                    ? std::string(kBroker) + (n == 0 ? "001" : "002")
                                    : fd.name + std::to_string(n + 1));
                        break;
                    case FieldKind::Decimal:
                        PutDecimal(&data[fd.offset], 1.25 * (n + 1), fd.scale);
                        break;
                    case FieldKind::Time:
                        PutTime(&data[fd.offset], now);
                        break;
                    case FieldKind::Float: {
                        const double v = 0.5 * (n + 1);
                        std::memcpy(&data[fd.offset], &v, 8);
                        break;
                    }
                    case FieldKind::Char:
                        data[fd.offset] = 'A';
                        break;
                    }
                }
                market_.Upsert(s, static_cast<int>(t), market_.NextId(s, static_cast<int>(t)),
                               std::move(data));
            }
        }
    }
}

void Exchange::Seed() {
    SeedInstruments();
    SeedOptions();
    SeedReference();
    SeedTrader();
    SeedMarketData();
    SeedOtherStreams();
}

} // namespace vsim
