// The option series: expiries counted from today, each series valued from a volatility smile
// around its futures' price (Black-76, as the exchange margins options: no discounting), quoted a
// step either side of that value, repriced whenever the futures moves or the smile is shifted,
// with the smile published in the volatility stream and a few deals and open interest a second.

#include "Exchange.h"
#include "RowMaker.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>

namespace vsim {

namespace {

double NormCdf(double x) {
    return 0.5 * std::erfc(-x / std::numbers::sqrt2);
}

// Seconds since 1970 of a moment in Moscow time (UTC+3), the exchange's clock.
double MoscowToUnix(const Time& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
#ifdef _WIN32
    const std::time_t utc = _mkgmtime(&tm);
#else
    const std::time_t utc = timegm(&tm);
#endif
    return static_cast<double>(utc) - 3 * 3600.0;
}

// The third Thursday of a month: the day monthly and quarterly series expire.
int ThirdThursday(int year, int month) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = 1;
    tm.tm_hour = 12;
#ifdef _WIN32
    _mkgmtime(&tm);
#else
    timegm(&tm);
#endif
    const int first = 1 + (4 - tm.tm_wday + 7) % 7;
    return first + 14;
}

Time ExpiryAt(int year, int month, int day) {
    Time t;
    t.year = static_cast<std::uint16_t>(year);
    t.month = static_cast<std::uint8_t>(month);
    t.day = static_cast<std::uint8_t>(day);
    t.hour = 18;
    t.minute = 50;
    return t;
}

} // namespace

std::vector<Time> OptionExpiries(const Time& today) {
    // At least two weeks out, so a series never expires while a test runs; the quarterly one is
    // the first of March, June, September or December after the monthly one.
    const auto key = [](int y, int m, int d) { return y * 10000 + m * 100 + d; };
    std::tm soon{};
    soon.tm_year = today.year - 1900;
    soon.tm_mon = today.month - 1;
    soon.tm_mday = today.day + 14;
    soon.tm_hour = 12;
#ifdef _WIN32
    _mkgmtime(&soon);
#else
    timegm(&soon);
#endif
    const int limit = key(soon.tm_year + 1900, soon.tm_mon + 1, soon.tm_mday);
    int y = today.year;
    int m = today.month;
    const auto next = [&] {
        if (++m > 12) {
            m = 1;
            ++y;
        }
    };
    while (key(y, m, ThirdThursday(y, m)) < limit) {
        next();
    }
    const Time monthly = ExpiryAt(y, m, ThirdThursday(y, m));
    do {
        next();
    } while (m % 3 != 0);
    return {monthly, ExpiryAt(y, m, ThirdThursday(y, m))};
}

double OptionValue(bool put, double forward, double strike, double years, double vol) {
    if (years <= 0 || vol <= 0) {
        return std::max(0.0, put ? strike - forward : forward - strike);
    }
    const double sd = vol * std::sqrt(years);
    const double d1 = std::log(forward / strike) / sd + 0.5 * sd;
    const double d2 = d1 - sd;
    return put ? strike * NormCdf(-d2) - forward * NormCdf(-d1)
               : forward * NormCdf(d1) - strike * NormCdf(d2);
}

double Exchange::SmileVol(const Instrument& opt, const Instrument& fut) const {
    const auto it = smiles_.find(fut.isin_id);
    const Smile s = it == smiles_.end() ? Smile{} : it->second;
    const double x = std::log(static_cast<double>(opt.strike) / static_cast<double>(fut.mid));
    return std::max(0.01, s.atm + s.shift + s.skew * x + s.curve * x * x);
}

bool Exchange::ShiftSmile(std::int32_t isin_id, double points) {
    Instrument* ins = FindInstrument(isin_id);
    if (ins != nullptr && ins->option) {
        ins = FindInstrument(ins->fut_isin_id);
    }
    if (ins == nullptr) {
        return false;
    }
    const auto it = smiles_.find(ins->isin_id);
    if (it == smiles_.end() || it->second.atm + it->second.shift + points / 100 < 0.01) {
        return false;
    }
    it->second.shift += points / 100;
    RepriceOptions(*ins);
    return true;
}

void Exchange::RepriceOptions(const Instrument& fut) {
    if (smiles_.find(fut.isin_id) == smiles_.end()) {
        return;
    }
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    Stream& volat = market_.At("FORTS_VOLAT_REPL");
    for (Instrument& opt : instruments_) {
        if (!opt.option || opt.fut_isin_id != fut.isin_id) {
            continue;
        }
        const double years = (MoscowToUnix(opt.expiry) - now) / (365.0 * 86400);
        const double vol = SmileVol(opt, fut);
        const double theo = OptionValue(opt.put, static_cast<double>(fut.mid),
                                        static_cast<double>(opt.strike), years, vol);
        // Quoted a step either side of the value rounded to the step: the book's mid is within
        // half a step of the smile's price.
        const auto steps = std::llround(theo / static_cast<double>(opt.step));
        const std::int64_t mid =
            std::clamp<std::int64_t>(steps * opt.step, opt.step, opt.upper - opt.step);
        RowMaker(market_, volat, "volat")
            .I("isin_id", opt.isin_id)
            .D("volat", vol * 100)
            .D("theor_price", theo / kPriceUnit)
            .P("theor_price_limit", opt.upper)
            .Put(opt.isin_id);
        if (mid != opt.mid) {
            opt.mid = mid;
            MatchResting(opt);
            PublishBook(opt);
        }
    }
}

void Exchange::SeedOptions() {
    for (const std::size_t k : futures_) {
        const Instrument& fut = instruments_[k];
        if (fut.isin.find("_CLT") != std::string::npos) {
            continue;
        }
        // A plain equity-like smile: puts dearer than calls, wings lifted.
        const double atm = fut.base == "Si" || fut.base == "Eu" ? 0.18
                           : fut.base == "BR"                   ? 0.38
                           : fut.base == "RTS"                  ? 0.32
                                                                : 0.30;
        smiles_[fut.isin_id] = Smile{atm, -0.25, 1.2, 0};
    }
    for (const std::size_t k : futures_) {
        RepriceOptions(instruments_[k]);
    }
}

void Exchange::OptionsTick() {
    // A deal in one series in ten each second, at its mid; every deal adds to open interest.
    Stream& common = market_.At("FORTS_COMMON_REPL");
    Stream& deals = market_.At("FORTS_DEALS_REPL");
    const Time now = LocalNow();
    for (Instrument& opt : instruments_) {
        if (!opt.option || optionRng_() % 10 != 0) {
            continue;
        }
        const auto amount = static_cast<std::int64_t>(1 + optionRng_() % 20);
        opt.openInterest += amount;
        const std::int64_t dealId = nextDealId_++;
        RowMaker(market_, deals, "deal")
            .I("sess_id", kSession)
            .I("isin_id", opt.isin_id)
            .I("id_deal", dealId)
            .I("xamount", amount)
            .P("price", opt.mid)
            .T("moment", now)
            .Put(dealId);
        // Which side stood in the book is not told: the engine reads it as the trader's.
        if (const auto feed = feeds_.find(opt.isin_id); fillResting_ && feed != feeds_.end()) {
            feed->second.engine.Deal(opt.mid, amount, std::nullopt);
            if (BookFills(feed->second)) {
                PublishBook(opt);
            }
        }
        RowMaker(market_, common, "common")
            .I("sess_id", kSession)
            .I("isin_id", opt.isin_id)
            .P("best_sell", opt.mid + opt.step)
            .P("best_buy", opt.mid - opt.step)
            .P("price", opt.mid)
            .I("amount", amount)
            .T("deal_time", now)
            .I("pos", opt.openInterest)
            .Put(opt.isin_id);
    }
    // Time passes for the smile's prices as well.
    if (ticks_ % 10 == 0) {
        for (const std::size_t k : futures_) {
            RepriceOptions(instruments_[k]);
        }
    }
}

} // namespace vsim
