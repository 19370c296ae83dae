#include "options/BoardSource.h"

#include "book/BookKeeper.h"
#include "store/Storage.h"

#include <map>
#include <type_traits>
#include <variant>

namespace vorlen::options {

namespace {

double Number(const TRowView& row, int pos) {
    if (pos < 0) {
        return 0;
    }
    return std::visit(
        [](const auto& v) -> double {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>) {
                return v;
            } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
                return static_cast<double>(v);
            } else if constexpr (std::is_same_v<T, TDateTime>) {
                return v.Days;
            } else {
                return 0;
            }
        },
        row.Value(pos));
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

const TTable* FindTable(const TMarketData& data, std::string_view stream, std::string_view table) {
    for (const TStream& s : data.Streams) {
        if (s.sName != stream) {
            continue;
        }
        for (const TTable& t : s.Tables) {
            if (t.tName == table && t.Values) {
                return &t;
            }
        }
    }
    return nullptr;
}

bool HasStream(const TMarketData& data, std::string_view stream) {
    for (const TStream& s : data.Streams) {
        if (s.sName == stream) {
            return true;
        }
    }
    return false;
}

std::int64_t Positions(const TBookSnapshot& book) {
    std::int64_t sum = 0;
    for (const TBookPosition& p : book.Positions) {
        sum += p.Pos;
    }
    return sum;
}

} // namespace

TBoardSource ReadBoardSource(TCGStorage& store, const TBookKeeper& books, const std::string& isin) {
    TBoardSource out;
    TMarketData data;
    store.GetData(data);
    const TTable* futRef = FindTable(data, "FORTS_REFDATA_REPL", "fut_sess_contents");
    const TTable* optRef = FindTable(data, "FORTS_REFDATA_REPL", "opt_sess_contents");
    const TTable* common = FindTable(data, "FORTS_COMMON_REPL", "common");
    const TTable* volat = FindTable(data, "FORTS_VOLAT_REPL", "volat");
    if (futRef == nullptr) {
        out.Missing.emplace_back("FORTS_REFDATA_REPL fut_sess_contents");
    }
    if (optRef == nullptr) {
        out.Missing.emplace_back("FORTS_REFDATA_REPL opt_sess_contents");
    }
    if (common == nullptr) {
        out.Missing.emplace_back("FORTS_COMMON_REPL common");
    }
    if (!HasStream(data, "FORTS_VOLAT_REPL")) {
        out.Missing.emplace_back("FORTS_VOLAT_REPL volat");
    }
    std::map<std::int32_t, std::int64_t> openInterest;
    std::map<std::int32_t, std::pair<double, double>> exchange; // volat, theor_price
    {
        const TCGStorage::TAccess access(store);
        if (futRef != nullptr) {
            const TRows& rows = access.Rows(*futRef);
            const int id = rows.IndexOf("isin_id");
            const int code = rows.IndexOf("isin");
            for (const TRowView row : rows) {
                if (Text(row, code) == isin) {
                    out.Found = true;
                    out.Input.Underlying.IsinId = static_cast<std::int32_t>(Number(row, id));
                    out.Input.Underlying.Isin = isin;
                    break;
                }
            }
        }
        if (out.Found && optRef != nullptr) {
            const TRows& rows = access.Rows(*optRef);
            const int id = rows.IndexOf("isin_id");
            const int code = rows.IndexOf("isin");
            const int fut = rows.IndexOf("fut_isin_id");
            const int put = rows.IndexOf("put");
            const int strike = rows.IndexOf("strike");
            const int expiry = rows.IndexOf("d_exec_end");
            for (const TRowView row : rows) {
                if (static_cast<std::int32_t>(Number(row, fut)) != out.Input.Underlying.IsinId) {
                    continue;
                }
                TSeriesInput s;
                s.IsinId = static_cast<std::int32_t>(Number(row, id));
                s.Isin = Text(row, code);
                s.Right = Number(row, put) != 0 ? TRight::Put : TRight::Call;
                s.Strike = Number(row, strike);
                s.ExpiryDays = Number(row, expiry);
                out.Input.Series.push_back(std::move(s));
            }
        }
        if (common != nullptr) {
            const TRows& rows = access.Rows(*common);
            const int id = rows.IndexOf("isin_id");
            const int pos = rows.IndexOf("pos");
            for (const TRowView row : rows) {
                openInterest[static_cast<std::int32_t>(Number(row, id))] =
                    static_cast<std::int64_t>(Number(row, pos));
            }
        }
        if (volat != nullptr) {
            const TRows& rows = access.Rows(*volat);
            const int id = rows.IndexOf("isin_id");
            const int v = rows.IndexOf("volat");
            const int theo = rows.IndexOf("theor_price");
            for (const TRowView row : rows) {
                exchange[static_cast<std::int32_t>(Number(row, id))] = {Number(row, v),
                                                                        Number(row, theo)};
            }
        }
    }
    if (!out.Found) {
        return out;
    }
    // The books are copied one by one, each under its own short hold of the lock.
    TBookSnapshot book;
    books.Snapshot(out.Input.Underlying.IsinId, book);
    if (book.Status == TBookStatus::NotSubscribed) {
        out.Missing.emplace_back("FORTS_AGGR*_REPL orders_aggr");
    }
    out.Input.Underlying.Bid = book.BestBid();
    out.Input.Underlying.Ask = book.BestAsk();
    out.Input.Underlying.Last = book.LastDeal;
    out.Input.Underlying.Position = Positions(book);
    for (TSeriesInput& s : out.Input.Series) {
        TBookSnapshot quotes;
        books.Snapshot(s.IsinId, quotes);
        s.Bid = quotes.BestBid();
        s.Ask = quotes.BestAsk();
        s.Position = Positions(quotes);
        if (const auto it = openInterest.find(s.IsinId); it != openInterest.end()) {
            s.OpenInterest = it->second;
        }
        if (const auto it = exchange.find(s.IsinId); it != exchange.end()) {
            s.ExchangeVolat = it->second.first;
            s.ExchangeTheor = it->second.second;
        }
    }
    return out;
}

std::string MissingText(const std::vector<std::string>& missing) {
    if (missing.empty()) {
        return {};
    }
    std::string text = "Не подписаны: ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        text += (i == 0 ? "" : ", ") + missing[i];
    }
    return text;
}

} // namespace vorlen::options
