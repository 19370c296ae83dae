#include "orders/StoreView.h"

#include "platform/Clock.h"
#include "store/FieldConversion.h"
#include "store/KeyTables.h"
#include "store/Storage.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <type_traits>
#include <variant>

namespace vorlen::orders {

namespace {

// Any integer width the scheme gives the field; 0 for anything else or a field the table lacks.
std::int64_t Int(const TRowView& row, int pos) {
    if (pos < 0) {
        return 0;
    }
    return std::visit(
        [](const auto& v) -> std::int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
                return static_cast<std::int64_t>(v);
            } else {
                return 0;
            }
        },
        row.Value(pos));
}

// Decimal fields arrive as doubles; prices are whole numbers of 1e-5 units.
std::int64_t Price(const TRowView& row, int pos) {
    if (pos < 0) {
        return 0;
    }
    const TValue v = row.Value(pos);
    if (const double* d = std::get_if<double>(&v)) {
        return std::llround(*d * static_cast<double>(kPriceScale));
    }
    return Int(row, pos) * kPriceScale;
}

std::string Text(const TRowView& row, int pos) {
    if (pos < 0) {
        return {};
    }
    TValue v = row.Value(pos);
    if (std::string* s = std::get_if<std::string>(&v)) {
        const std::size_t end = s->find_last_not_of(' ');
        s->resize(end == std::string::npos ? 0 : end + 1);
        return std::move(*s);
    }
    return {};
}

// Local date and time, whole days since 30 December 1899, as wall-clock milliseconds.
std::int64_t LocalMs(const TRowView& row, int pos) {
    if (pos < 0) {
        return 0;
    }
    const TValue v = row.Value(pos);
    const TDateTime* t = std::get_if<TDateTime>(&v);
    if (t == nullptr || t->Days <= 0) {
        return 0;
    }
    const double whole = std::floor(t->Days);
    const auto msOfDay = std::llround((t->Days - whole) * 86'400'000.0);
    std::tm tm{};
    tm.tm_year = -1; // 1899
    tm.tm_mon = 11;
    tm.tm_mday = 30 + static_cast<int>(whole);
    tm.tm_hour = static_cast<int>(msOfDay / 3'600'000);
    tm.tm_min = static_cast<int>(msOfDay / 60'000 % 60);
    tm.tm_sec = static_cast<int>(msOfDay / 1000 % 60);
    tm.tm_isdst = -1;
    const std::time_t secs = std::mktime(&tm);
    return secs == static_cast<std::time_t>(-1) ? 0 : secs * 1000LL + msOfDay % 1000;
}

} // namespace

TStoreFacts ReadStoreFacts(TCGStorage& store) {
    TStoreReader reader(store);
    TStoreFacts f = reader.Read(true);
    f.ExtIds = *f.ExtIdsRef;
    f.ExtIdsRef = nullptr;
    f.Tracker = nullptr;
    return f;
}

void TStoreReader::Describe() {
    TMarketData data;
    FStore.GetData(data);
    const auto find = [&](const char* stream, const char* table, TTable& out) {
        for (const TStream& s : data.Streams) {
            for (const TTable& t : s.Tables) {
                if (s.sName == stream && t.tName == table && t.Values) {
                    out = t;
                    return true;
                }
            }
        }
        return false;
    };
    // Each table is there once its stream has been described; until all are, look again.
    // Every table is looked for, so those already there are taken even while one is missing.
    const bool log = find("FORTS_TRADE_REPL", "orders_log", FLog);
    const bool pos = find("FORTS_POS_REPL", "position", FPos);
    const bool part = find("FORTS_PART_REPL", "part", FPart);
    const bool ref = find("FORTS_REFDATA_REPL", "fut_sess_contents", FRef);
    FDescribed = log && pos && part && ref;
    FHaveSession = FHaveSession || find("FORTS_REFDATA_REPL", "session", FSession);
    FHaveBook = FHaveBook || find("FORTS_USERORDERBOOK_REPL", "orders", FBook);
    FHaveOptRef = FHaveOptRef || find("FORTS_REFDATA_REPL", "opt_sess_contents", FOptRef);
}

namespace {

// Asked before every order; reads are a second apart, far above the clock's tick.
std::int64_t SteadyMs() {
    return platform::CoarseSteadyMs();
}

} // namespace

std::array<std::uint64_t, 5> TStoreReader::Counts() const {
    return {FStore.TableChanges(kKeyTableOrders), FStore.TableChanges(kKeyTablePositions),
            FStore.TableChanges(kKeyTablePart), FStore.TableChanges(TCGStorage::kFuturesRefTable),
            FStore.TableChanges(TCGStorage::kOptionsRefTable)};
}

bool TStoreReader::Changed() {
    return !FRead || !FDescribed || Counts() != FReadCounts || SteadyMs() - FReadAtMs > 1000;
}

template <std::size_t N>
void TStoreReader::TColumns<N>::Resolve(const TRows& rows,
                                        const std::array<const char*, N>& names) {
    // A new description may reuse the freed layout's address; the generation tells them apart.
    if (rows.Layout() == Layout && rows.Generation() == Generation) {
        return;
    }
    Layout = rows.Layout();
    Generation = rows.Generation();
    for (std::size_t i = 0; i < N; ++i) {
        Pos[i] = rows.IndexOf(names[i]);
    }
}

TStoreFacts TStoreReader::Read(bool allOrders, bool listOwn) {
    // A table found only now was not there when its change was counted: everything is read.
    const bool everything = !FRead || !FDescribed;
    if (!FDescribed ||
        ((!FHaveSession || !FHaveBook) && platform::CoarseSteadyMs() - FOptionalAtMs > 1000)) {
        FOptionalAtMs = platform::CoarseSteadyMs();
        Describe();
    }
    TStoreFacts f;
    const std::int64_t nowMs = SteadyMs();
    // Taken before the rows are read: a change while they are read shows as a change next time.
    const std::array<std::uint64_t, 5> counts = Counts();
    FRead = true;
    const TCGStorage::TAccess access(FStore);
    const TRows& log = access.Rows(FLog);
    if (log.Size() < FSeen.size()) {
        FSeen.clear();
        FTracker.Clear();
    }
    // Orders-log rows are events, added and never changed: an unchanged count means nothing new.
    if (log.Size() != FSeen.size()) {
        FLogCols.Resolve(log, {"public_order_id", "isin_id", "client_code", "dir", "price",
                               "public_action", "public_amount", "public_amount_rest", "id_deal",
                               "moment_ns", "ext_id", "login_from", "sess_id"});
        const auto& c = FLogCols.Pos;
        // Rows keep their arrival positions until the table is rearranged: only those past the
        // last read's end can be new. After a rearrangement every row is looked at again.
        const bool resume = log.Generation() == FLogGeneration && log.Positions() >= FLogEnd;
        for (std::size_t i = resume ? FLogEnd : 0; i < log.Positions(); ++i) {
            const TRowView row = log.AtPosition(i);
            if (!row || !FSeen.insert(row.ReplId()).second) {
                continue;
            }
            TOrderLogRow r;
            r.OrderId = Int(row, c[0]);
            r.IsinId = static_cast<std::int32_t>(Int(row, c[1]));
            r.Client = Text(row, c[2]);
            r.Side = Int(row, c[3]) == 2 ? TSide::Sell : TSide::Buy;
            r.Price = Price(row, c[4]);
            r.Action = static_cast<int>(Int(row, c[5]));
            r.Amount = Int(row, c[6]);
            r.Rest = Int(row, c[7]);
            r.DealId = Int(row, c[8]);
            r.MomentNs = Int(row, c[9]);
            r.ExtId = Int(row, c[10]);
            r.Login = Text(row, c[11]);
            r.SessId = static_cast<std::int32_t>(Int(row, c[12]));
            FTracker.Add(r);
        }
        FLogGeneration = log.Generation();
        FLogEnd = log.Positions();
    }
    if (listOwn) {
        f.Own = FTracker.Orders(!allOrders);
    }
    f.Tracker = &FTracker;
    f.ExtIdsRef = &FTracker.ExtIds();
    f.ExtIdMax = FTracker.ExtIdMax();
    if (everything || counts[1] != FReadCounts[1]) {
        const TRows& pos = access.Rows(FPos);
        FPosCols.Resolve(pos, {"client_code", "isin_id", "xpos"});
        const auto& c = FPosCols.Pos;
        FPositions.clear();
        for (const TRowView row : pos) {
            FPositions[{Text(row, c[0]), static_cast<std::int32_t>(Int(row, c[1]))}] =
                Int(row, c[2]);
        }
    }
    f.Positions = FPositions;
    if (FHaveBook) {
        ReadBook(access.Rows(FBook), f);
    }
    const TRows& ref = access.Rows(FRef);
    const TRows& part = access.Rows(FPart);
    const std::size_t optRefSize = FHaveOptRef ? access.Rows(FOptRef).Size() : 0;
    if (everything || counts[2] != FReadCounts[2] || counts[3] != FReadCounts[3] ||
        counts[4] != FReadCounts[4] || ref.Size() != FRefCount || part.Size() != FPartCount ||
        optRefSize != FOptRefCount || nowMs - FReadAtMs > 1000) {
        FReadAtMs = nowMs;
        FRefCount = ref.Size();
        FPartCount = part.Size();
        FOptRefCount = optRefSize;
        auto refFacts = std::make_shared<TRefFacts>();
        FPartCols.Resolve(part, {"client_code"});
        for (const TRowView row : part) {
            if (std::string c = Text(row, FPartCols.Pos[0]); !c.empty()) {
                refFacts->Clients.push_back(std::move(c));
            }
        }
        ReadRef(ref, FRefCols, false, *refFacts);
        if (FHaveOptRef) {
            ReadRef(access.Rows(FOptRef), FOptRefCols, true, *refFacts);
        }
        if (FHaveSession) {
            const TRows& sessions = access.Rows(FSession);
            FSessionCols.Resolve(sessions, {"sess_id", "begin", "state"});
            const auto& sc = FSessionCols.Pos;
            const std::int64_t wallMs = platform::CoarseWallMs();
            for (const TRowView row : sessions) {
                const std::int64_t begin = LocalMs(row, sc[1]);
                if (begin > 0 && begin <= wallMs && begin >= refFacts->SessionBeginMs) {
                    refFacts->SessionId = static_cast<std::int32_t>(Int(row, sc[0]));
                    refFacts->SessionBeginMs = begin;
                }
            }
        }
        // Kept when nothing in it changed (the account table changes with every order's
        // money): a new one would be copied, and the old one freed, by whoever holds it.
        if (!(*refFacts == *FRefFacts)) {
            FRefFacts = std::move(refFacts);
        }
    }
    FReadCounts = counts;
    f.Ref = FRefFacts;
    return f;
}

void TStoreReader::ReadRef(const TRows& rows, TColumns<6>& cols, bool option, TRefFacts& out) {
    cols.Resolve(rows, {"isin_id", "isin", "min_step", "limit_down", "limit_up", "is_limited"});
    const auto& c = cols.Pos;
    for (const TRowView row : rows) {
        TInstrumentRef ins;
        ins.IsinId = static_cast<std::int32_t>(Int(row, c[0]));
        ins.Isin = Text(row, c[1]);
        ins.MinStep = Price(row, c[2]);
        ins.LimitDown = Price(row, c[3]);
        ins.LimitUp = Price(row, c[4]);
        ins.Limited = c[5] < 0 || Int(row, c[5]) != 0;
        ins.Option = option;
        // A futures and a series never share a code; should a damaged table say otherwise, the
        // futures' row is kept, the one whose limits the other orders have been held to.
        if (const auto it = out.Instruments.find(ins.Isin);
            option && it != out.Instruments.end() && !it->second.Option) {
            continue;
        }
        out.IsinById[ins.IsinId] = ins.Isin;
        out.Instruments[ins.Isin] = std::move(ins);
    }
}

void TStoreReader::ReadBook(const TRows& rows, TStoreFacts& f) {
    f.HaveBook = true;
    FBookCols.Resolve(rows, {"public_order_id", "isin_id", "client_code", "dir", "price",
                             "public_amount", "public_amount_rest", "ext_id", "login_from"});
    const auto& c = FBookCols.Pos;
    f.Book.reserve(rows.Size());
    for (const TRowView row : rows) {
        TOwnOrder o;
        o.OrderId = Int(row, c[0]);
        o.Rest = Int(row, c[6]);
        if (o.OrderId == 0 || o.Rest <= 0) {
            continue;
        }
        o.IsinId = static_cast<std::int32_t>(Int(row, c[1]));
        o.Client = Text(row, c[2]);
        o.Side = Int(row, c[3]) == 2 ? TSide::Sell : TSide::Buy;
        o.Price = Price(row, c[4]);
        o.Amount = std::max(Int(row, c[5]), o.Rest);
        o.ExtId = Int(row, c[7]);
        o.Login = Text(row, c[8]);
        o.State = o.Rest < o.Amount ? TOrderState::PartlyFilled : TOrderState::Placed;
        f.Book.push_back(std::move(o));
    }
}

} // namespace vorlen::orders
