#include "history/HistoryDb.h"

#include "store/FieldConversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <sqlite3.h>
#include <string_view>
#include <utility>

namespace vorlen::history {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS deal(
    sess_id INTEGER NOT NULL,
    id_deal INTEGER NOT NULL,
    isin_id INTEGER NOT NULL,
    price REAL NOT NULL,
    amount INTEGER NOT NULL,
    moment INTEGER NOT NULL,
    own INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(sess_id, id_deal)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS deal_by_isin_moment ON deal(isin_id, moment, id_deal);
CREATE TABLE IF NOT EXISTS candle_1m(
    isin_id INTEGER NOT NULL,
    start INTEGER NOT NULL,
    sess_id INTEGER NOT NULL,
    open REAL NOT NULL,
    high REAL NOT NULL,
    low REAL NOT NULL,
    close REAL NOT NULL,
    volume INTEGER NOT NULL,
    first_moment INTEGER NOT NULL,
    first_deal INTEGER NOT NULL,
    last_moment INTEGER NOT NULL,
    last_deal INTEGER NOT NULL,
    PRIMARY KEY(isin_id, start)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS instrument(
    isin_id INTEGER PRIMARY KEY,
    isin TEXT NOT NULL,
    short_isin TEXT NOT NULL);
)sql";

// Deals may come late (a resend after a reconnect fills a hole): the open and close are the
// first and last deals of the minute by (moment, deal id), whatever order they arrive in.
constexpr const char* kCandle = R"sql(
INSERT INTO candle_1m(isin_id, start, sess_id, open, high, low, close, volume,
                      first_moment, first_deal, last_moment, last_deal)
VALUES(?1, ?2, ?3, ?4, ?4, ?4, ?4, ?5, ?6, ?7, ?6, ?7)
ON CONFLICT(isin_id, start) DO UPDATE SET
    open = CASE WHEN (excluded.first_moment, excluded.first_deal) < (first_moment, first_deal)
                THEN excluded.open ELSE open END,
    first_deal = CASE WHEN (excluded.first_moment, excluded.first_deal) < (first_moment, first_deal)
                      THEN excluded.first_deal ELSE first_deal END,
    first_moment = min(first_moment, excluded.first_moment),
    close = CASE WHEN (excluded.last_moment, excluded.last_deal) > (last_moment, last_deal)
                 THEN excluded.close ELSE close END,
    sess_id = CASE WHEN (excluded.last_moment, excluded.last_deal) > (last_moment, last_deal)
                   THEN excluded.sess_id ELSE sess_id END,
    last_deal = CASE WHEN (excluded.last_moment, excluded.last_deal) > (last_moment, last_deal)
                     THEN excluded.last_deal ELSE last_deal END,
    last_moment = max(last_moment, excluded.last_moment),
    high = max(high, excluded.high),
    low = min(low, excluded.low),
    volume = volume + excluded.volume
)sql";

// Days from 1899-12-30 (the date-time values' epoch) to 1970-01-01.
constexpr double kUnixEpochDays = 25569;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

const cg_field_desc_t* FindField(const cg_message_desc_t& m, std::string_view name) {
    for (const cg_field_desc_t* f = m.fields; f != nullptr; f = f->next)
        if (f->name != nullptr && name == f->name)
            return f;
    return nullptr;
}

double AsDouble(const TValue& v) {
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    const std::int64_t i = VarAsInt64(v);
    return i == kNoInteger ? NAN : static_cast<double>(i);
}

std::int64_t AsInt(const TValue& v) {
    const std::int32_t narrow = VarAsInteger(v);
    return narrow != kNoInteger ? narrow : VarAsInt64(v);
}

} // namespace

THistoryDb::~THistoryDb() {
    Close();
}

bool THistoryDb::Fail(const std::string& what) {
    FError = what + ": " + (FDb != nullptr ? sqlite3_errmsg(FDb) : "нет базы");
    Close();
    return false;
}

bool THistoryDb::Exec(const char* sql) {
    return sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool THistoryDb::Open(const std::filesystem::path& file) {
    Close();
    FError.clear();
    if (sqlite3_open_v2(file.string().c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
        return Fail("база истории " + file.string() + " не открывается");
    sqlite3_busy_timeout(FDb, 2000);
    // WAL lets a chart or an SQLite tool read while the recorder writes; a lost last second of
    // deals after a power cut is re-sent by the exchange on the next start anyway.
    if (!Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") || !Exec(kSchema))
        return Fail("база истории " + file.string() + " не создаётся");
    const std::array<std::pair<sqlite3_stmt**, const char*>, 4> statements = {{
        {&FInsertDeal, "INSERT OR IGNORE INTO deal(sess_id, id_deal, isin_id, price, amount, "
                       "moment, own) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"},
        {&FMarkOwn, "UPDATE deal SET own = 1 WHERE sess_id = ?1 AND id_deal = ?2"},
        {&FCandle, kCandle},
        {&FInstrument, "INSERT OR REPLACE INTO instrument(isin_id, isin, short_isin) "
                       "VALUES(?1, ?2, ?3)"},
    }};
    for (const auto& [stmt, sql] : statements)
        if (sqlite3_prepare_v3(FDb, sql, -1, SQLITE_PREPARE_PERSISTENT, stmt, nullptr) != SQLITE_OK)
            return Fail("база истории " + file.string() + " не готова");
    return true;
}

void THistoryDb::Close() {
    if (FDb == nullptr)
        return;
    if (FInTransaction)
        Exec("COMMIT");
    FInTransaction = false;
    FPending = 0;
    for (sqlite3_stmt* s : {FInsertDeal, FMarkOwn, FCandle, FInstrument})
        sqlite3_finalize(s);
    FInsertDeal = FMarkOwn = FCandle = FInstrument = nullptr;
    sqlite3_close(FDb);
    FDb = nullptr;
    FStreams.clear();
}

bool THistoryDb::Begin() {
    if (FInTransaction)
        return true;
    if (!Exec("BEGIN"))
        return Fail("база истории: транзакция не начата");
    FInTransaction = true;
    return true;
}

bool THistoryDb::Commit() {
    if (FDb == nullptr)
        return false;
    if (!FInTransaction)
        return true;
    FInTransaction = false;
    FPending = 0;
    if (!Exec("COMMIT"))
        return Fail("база истории: запись не сохранена");
    return true;
}

bool THistoryDb::Add(const TDeal& d) {
    if (!Begin())
        return false;
    sqlite3_stmt* s = FInsertDeal;
    sqlite3_bind_int(s, 1, d.SessId);
    sqlite3_bind_int64(s, 2, d.IdDeal);
    sqlite3_bind_int(s, 3, d.IsinId);
    sqlite3_bind_double(s, 4, d.Price);
    sqlite3_bind_int64(s, 5, d.Amount);
    sqlite3_bind_int64(s, 6, d.MomentMs);
    sqlite3_bind_int(s, 7, d.Own ? 1 : 0);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE)
        return Fail("база истории: сделка не записана");
    ++FPending;
    if (sqlite3_changes(FDb) == 0) {
        // Seen before: the public deal and the trader's own are one deal.
        if (!d.Own)
            return true;
        sqlite3_bind_int(FMarkOwn, 1, d.SessId);
        sqlite3_bind_int64(FMarkOwn, 2, d.IdDeal);
        const int own = sqlite3_step(FMarkOwn);
        sqlite3_reset(FMarkOwn);
        return own == SQLITE_DONE || Fail("база истории: сделка не отмечена");
    }
    constexpr std::int64_t kMinute = 60'000;
    const std::int64_t start =
        FloorDiv(d.MomentMs + kExchangeOffsetMs, kMinute) * kMinute - kExchangeOffsetMs;
    s = FCandle;
    sqlite3_bind_int(s, 1, d.IsinId);
    sqlite3_bind_int64(s, 2, start);
    sqlite3_bind_int(s, 3, d.SessId);
    sqlite3_bind_double(s, 4, d.Price);
    sqlite3_bind_int64(s, 5, d.Amount);
    sqlite3_bind_int64(s, 6, d.MomentMs);
    sqlite3_bind_int64(s, 7, d.IdDeal);
    const int candle = sqlite3_step(s);
    sqlite3_reset(s);
    return candle == SQLITE_DONE || Fail("база истории: свеча не записана");
}

bool THistoryDb::AddInstrument(std::int32_t isinId, const std::string& isin,
                               const std::string& shortIsin) {
    if (!Begin())
        return false;
    sqlite3_bind_int(FInstrument, 1, isinId);
    sqlite3_bind_text(FInstrument, 2, isin.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(FInstrument, 3, shortIsin.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(FInstrument);
    sqlite3_reset(FInstrument);
    ++FPending;
    return rc == SQLITE_DONE || Fail("база истории: инструмент не записан");
}

bool THistoryDb::Take(const TRecordView& record) {
    if (FDb == nullptr)
        return false;
    if (record.Stream == kNoStream || record.Stream == kTransactionStream)
        return true;
    if (record.Kind == TRecordKind::StreamOpen) {
        auto scheme = TRecordedScheme::Decode(record.Payload);
        FStreams.erase(record.Stream);
        if (!scheme)
            return true;
        TStream& stream =
            FStreams.emplace(record.Stream, TStream(std::move(*scheme))).first->second;
        std::uint32_t index = 0;
        for (const cg_message_desc_t* m = stream.Scheme.Scheme().messages; m != nullptr;
             m = m->next, ++index) {
            const std::string_view name = m->name != nullptr ? m->name : "";
            TTable table;
            std::vector<std::string_view> wanted;
            if (name == "deal" || name == "user_deal") {
                table.Kind = name == "deal" ? TKind::Deal : TKind::OwnDeal;
                // The exchange renamed amount to xamount; either is the deal's quantity.
                const char* amount = FindField(*m, "xamount") != nullptr ? "xamount" : "amount";
                wanted = {"replAct", "sess_id", "id_deal", "isin_id", "price", amount, "moment"};
            } else if (name == "fut_sess_contents" || name == "opt_sess_contents") {
                table.Kind = TKind::Instrument;
                wanted = {"replAct", "isin_id", "isin", "short_isin"};
            } else {
                continue;
            }
            for (const std::string_view field : wanted)
                table.Fields.push_back(FindField(*m, field));
            // replAct may be missing in hand-made layouts; every other field is needed.
            if (std::find(table.Fields.begin() + 1, table.Fields.end(), nullptr) ==
                table.Fields.end())
                stream.Tables.emplace(index, std::move(table));
        }
        return true;
    }
    if (record.Kind != TRecordKind::StreamData)
        return true;
    const auto stream = FStreams.find(record.Stream);
    if (stream == FStreams.end())
        return true;
    const auto table = stream->second.Tables.find(record.Table);
    if (table == stream->second.Tables.end())
        return true;
    const auto data = DecodeStreamData(record.Payload);
    if (!data)
        return true;
    const auto value = [&](std::size_t i) {
        return FieldToVariant(*table->second.Fields[i], data->Bytes.data(), data->Bytes.size());
    };
    // A row with a non-zero replAct is the exchange deleting it, not a new one.
    if (table->second.Fields[0] != nullptr && AsInt(value(0)) != 0)
        return true;
    if (table->second.Kind == TKind::Instrument) {
        const TValue isin = value(2);
        const TValue shortIsin = value(3);
        const std::int64_t id = AsInt(value(1));
        if (id == kNoInteger || !std::holds_alternative<std::string>(isin))
            return true;
        return AddInstrument(static_cast<std::int32_t>(id), std::get<std::string>(isin),
                             std::holds_alternative<std::string>(shortIsin)
                                 ? std::get<std::string>(shortIsin)
                                 : std::string());
    }
    TDeal deal;
    const std::int64_t sess = AsInt(value(1));
    deal.IdDeal = AsInt(value(2));
    const std::int64_t isin = AsInt(value(3));
    deal.Price = AsDouble(value(4));
    deal.Amount = AsInt(value(5));
    const TValue moment = value(6);
    const auto* when = std::get_if<TDateTime>(&moment);
    if (sess == kNoInteger || isin == kNoInteger || deal.IdDeal == kNoInteger ||
        deal.Amount == kNoInteger || std::isnan(deal.Price) || when == nullptr)
        return true;
    deal.SessId = static_cast<std::int32_t>(sess);
    deal.IsinId = static_cast<std::int32_t>(isin);
    // The exchange's moment is Moscow wall time; the database keeps UTC.
    deal.MomentMs = std::llround((when->Days - kUnixEpochDays) * 86'400'000.0) - kExchangeOffsetMs;
    deal.Own = table->second.Kind == TKind::OwnDeal;
    return Add(deal);
}

} // namespace vorlen::history
