// The trader's orders while the router replays a recording: each fill model fills them against
// the recorded book and deals as it promises, the fills reach the trader's own streams as deals
// and a position, and the market's public streams stay exactly as recorded.

#include "Replay.h"
#include "ReplayDay.h"
#include "Row.h"
#include "Text.h"
#include "Wire.h"
#include "history/DayWriter.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
namespace hist = vorlen::history;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int32_t kIsin = 100;
constexpr std::int64_t kRecordedPosition = 3;

std::int64_t DayStart() {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = 10;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t)) * kSecond;
}

using vsim::test::OpenPayload;

const vsim::StreamDef& Stream(std::string_view name) {
    return *vsim::Catalogue::Get().Stream(name);
}

// A day written record by record, each stream a listener position of its own.
class TDay {
public:
    explicit TDay(std::int64_t start) : FNow(start) {}

    std::uint16_t Open(const char* stream) {
        const auto pos = static_cast<std::uint16_t>(FStreams.size());
        FStreams.push_back(&Stream(stream));
        Add(hist::TRecordKind::StreamOpen, pos, hist::kNoTable, OpenPayload(*FStreams.back()));
        Add(hist::TRecordKind::Online, pos, hist::kNoTable, {});
        return pos;
    }
    void At(double seconds) { FNow = FStart + static_cast<std::int64_t>(seconds * 1e9); }

    // A row of `table` under `id`; `fill` writes its fields; `gone` sends it deleted.
    template <class TFill>
    void Row(std::uint16_t pos, const char* table, std::int64_t id, TFill fill, bool gone = false) {
        const int t = FStreams[pos]->Find(table);
        const vsim::TableDef& def = *FStreams[pos]->tables[static_cast<std::size_t>(t)];
        std::string row(def.size, '\0');
        fill(def, row);
        const std::int64_t rev = ++FRev;
        const std::int64_t act = gone ? id : 0;
        std::memcpy(&row[def.fields[0].offset], &id, 8);
        std::memcpy(&row[def.fields[1].offset], &rev, 8);
        std::memcpy(&row[def.fields[2].offset], &act, 8);
        std::string payload(8, '\0');
        std::memcpy(payload.data(), &rev, 8);
        Add(hist::TRecordKind::StreamData, pos, static_cast<std::uint32_t>(t), payload + row);
    }

    fs::path Write(const fs::path& dir) {
        hist::TDayWriter writer(1);
        EXPECT_TRUE(writer.Open(dir, "2026-12-10", FStart, {})) << writer.Fault();
        EXPECT_TRUE(writer.WriteFrame(FRaw, FCount, FFirst, FNow));
        writer.Close();
        return writer.Path();
    }

private:
    void Add(hist::TRecordKind kind, std::uint16_t pos, std::uint32_t table,
             const std::string& payload) {
        const std::size_t at = FRaw.size();
        FRaw.resize(at + hist::kRecordHeaderSize);
        hist::PutRecordHeader(&FRaw[at], kind, pos, table, FNow,
                              static_cast<std::uint32_t>(payload.size()));
        FRaw += payload;
        FFirst = FCount++ == 0 ? FNow : FFirst;
    }

    const std::int64_t FStart = DayStart();
    std::int64_t FNow;
    std::int64_t FFirst = 0;
    std::int64_t FRev = 0;
    std::uint32_t FCount = 0;
    std::string FRaw;
    std::vector<const vsim::StreamDef*> FStreams;
};

void PutPrice(const vsim::TableDef& def, std::string& row, const char* field, std::int64_t p) {
    vsim::PutDecimal(&row[def.Field(field)->offset], p * 100000, static_cast<std::int8_t>(5));
}

// The book of one futures, its deals, and the trader's position and money in it.
fs::path WriteDay(const fs::path& dir) {
    TDay day(DayStart());
    const std::uint16_t book = day.Open("FORTS_AGGR20_REPL");
    const std::uint16_t deals = day.Open("FORTS_DEALS_REPL");
    day.Open("FORTS_TRADE_REPL");
    const std::uint16_t pos = day.Open("FORTS_POS_REPL");
    const std::uint16_t part = day.Open("FORTS_PART_REPL");
    day.At(0.5);
    day.Row(pos, "position", 1, [](const vsim::TableDef& d, std::string& r) {
        vsim::PutText(r.data(), *d.Field("client_code"), "FZ00001");
        vsim::PutInt(r.data(), *d.Field("isin_id"), kIsin);
        vsim::PutInt(r.data(), *d.Field("xpos"), kRecordedPosition);
    });
    day.Row(part, "part", 1, [](const vsim::TableDef& d, std::string& r) {
        vsim::PutText(r.data(), *d.Field("client_code"), "FZ00001");
        vsim::PutDecimal(&r[d.Field("money_free")->offset], 100000.0, d.Field("money_free")->scale);
    });
    // dir 1: a bid, 2: an ask; volume 0 or `gone` takes the level away.
    const auto level = [&](double at, std::int64_t id, int dir, std::int64_t price,
                           std::int64_t volume, bool gone = false) {
        day.At(at);
        day.Row(
            book, "orders_aggr", id,
            [&](const vsim::TableDef& d, std::string& r) {
                vsim::PutInt(r.data(), *d.Field("isin_id"), kIsin);
                vsim::PutInt(r.data(), *d.Field("dir"), dir);
                vsim::PutInt(r.data(), *d.Field("volume"), volume);
                PutPrice(d, r, "price", price);
            },
            gone);
    };
    std::int64_t dealId = 0;
    // `restingBuy`: the buyer's order stood in the book (its number is the lower one).
    const auto deal = [&](double at, std::int64_t price, std::int64_t qty, bool restingBuy) {
        day.At(at);
        ++dealId;
        day.Row(deals, "deal", dealId, [&](const vsim::TableDef& d, std::string& r) {
            vsim::PutInt(r.data(), *d.Field("isin_id"), kIsin);
            vsim::PutInt(r.data(), *d.Field("id_deal"), dealId);
            vsim::PutInt(r.data(), *d.Field("xamount"), qty);
            vsim::PutInt(r.data(), *d.Field("public_order_id_buy"), restingBuy ? 10 : 20);
            vsim::PutInt(r.data(), *d.Field("public_order_id_sell"), restingBuy ? 20 : 10);
            PutPrice(d, r, "price", price);
        });
    };
    level(1.0, 1, 1, 99, 4);
    level(1.0, 2, 1, 98, 10);
    level(1.0, 3, 2, 101, 5);
    level(1.0, 4, 2, 102, 10);
    // The orders are placed at 2 s.
    deal(3.0, 99, 3, true);
    level(3.1, 1, 1, 99, 1);
    deal(4.0, 99, 2, true);
    level(4.1, 1, 1, 99, 0, true);
    deal(4.2, 98, 2, true);
    level(4.3, 2, 1, 98, 8);
    level(5.0, 3, 2, 101, 0, true);
    level(5.1, 5, 2, 100, 3);
    level(5.5, 2, 1, 98, 3); // cancels in front of a queue
    deal(6.0, 98, 4, true);
    level(6.1, 2, 1, 98, 0, true);
    level(6.2, 6, 1, 97, 5);
    deal(6.3, 97, 5, true);
    level(6.4, 6, 1, 97, 0, true);
    level(7.0, 7, 2, 99, 2);
    deal(7.5, 100, 2, false);
    level(7.6, 5, 2, 100, 1);
    deal(8.0, 102, 1, false);
    return day.Write(dir);
}
constexpr std::size_t kRecordedDeals = 7;

struct TFillSeen {
    std::int64_t Price = 0;
    std::int64_t Qty = 0;
    bool operator==(const TFillSeen&) const = default;
};

void PrintTo(const TFillSeen& f, std::ostream* os) {
    *os << f.Qty << " at " << f.Price;
}

struct TOutcome {
    std::vector<TFillSeen> Fills;
    std::int64_t Position = 0;   // xpos of the last position row sent
    std::size_t MarketDeals = 0; // rows of the market's deal stream sent
    std::int32_t ReplyCode = -1;
};

struct TOrderCase {
    const char* Name;
    int Dir; // 1 buy, 2 sell
    std::int64_t Qty;
    const char* Price;
    int Type; // 1 rests, 2 fills what it can at once
};

// Plays the day with one order placed at 2 s (then, with `seekBack`, a seek to the same second)
// and reads the trader's tables as the terminal keeps them from what it received.
TOutcome Play(const fs::path& file, const std::string& model, const TOrderCase& order,
              bool seekBack = false) {
    TOutcome out;
    vsim::Replay replay;
    std::string error;
    EXPECT_TRUE(replay.Open(file.string(), error)) << error;
    replay.SetFill(model);
    replay.SetSpeed(vsim::Replay::kMax);
    vsim::Client client;
    for (const auto& [id, stream, table] :
         std::vector<std::tuple<std::uint32_t, const char*, const char*>>{
             {1, "FORTS_TRADE_REPL", "user_deal"},
             {2, "FORTS_POS_REPL", "position"},
             {3, "FORTS_DEALS_REPL", "deal"}})
        EXPECT_TRUE(replay.Subscribe(client, id, stream, {table}, false, error)) << error;
    replay.Pause();
    EXPECT_TRUE(replay.Seek(10 * 3600 + 1, error)) << error;

    const vsim::TableDef& add = *vsim::Catalogue::Get().Message("AddOrder");
    std::string msg(add.size, '\0');
    vsim::PutText(msg.data(), *add.Field("client_code"), "001");
    vsim::PutInt(msg.data(), *add.Field("isin_id"), kIsin);
    vsim::PutInt(msg.data(), *add.Field("dir"), order.Dir);
    vsim::PutInt(msg.data(), *add.Field("type"), order.Type);
    vsim::PutInt(msg.data(), *add.Field("amount"), order.Qty);
    vsim::PutText(msg.data(), *add.Field("price"), order.Price);
    const vsim::Reply reply = replay.Post(add.id, "AddOrder", msg.data(), msg.size());
    out.ReplyCode =
        static_cast<std::int32_t>(vsim::GetInt(reply.data.data(), *reply.def->Field("code")));
    if (seekBack) {
        EXPECT_TRUE(replay.Seek(10 * 3600 + 1, error)) << error;
    }
    replay.Play();
    for (int pass = 0; pass < 1000 && !replay.AtEnd(); ++pass)
        replay.Run(vsim::Replay::Clock::now(), true);
    EXPECT_TRUE(replay.AtEnd());

    const vsim::TableDef& deal = *vsim::Catalogue::Get().Table("user_deal");
    const vsim::TableDef& position = *vsim::Catalogue::Get().Table("position");
    std::size_t at = 0;
    vsim::wire::Kind kind{};
    const char* body = nullptr;
    std::size_t len = 0;
    bool bad = false;
    std::vector<std::pair<std::int64_t, TFillSeen>> deals; // the terminal's table, by row id
    while (vsim::wire::NextFrame(client.out.data(), client.out.size(), at, kind, body, len, bad)) {
        vsim::wire::Reader r(body, len);
        const auto sub = r.Get<std::uint32_t>();
        if (kind == vsim::wire::Kind::LifeNum && sub == 1) {
            r.Get<std::uint32_t>();
            if (r.Get<std::uint32_t>() != 1)
                deals.clear();
        }
        if (kind != vsim::wire::Kind::Row)
            continue;
        r.Get<std::uint16_t>();
        r.Get<std::int64_t>();
        std::size_t n = 0;
        const char* row = r.Rest(n);
        if (sub == 1) {
            std::int64_t id = 0;
            std::memcpy(&id, row, 8);
            const TFillSeen f{
                static_cast<std::int64_t>(vsim::GetDecimalValue(row, *deal.Field("price"))),
                vsim::GetInt(row, *deal.Field("xamount"))};
            const auto it = std::find_if(deals.begin(), deals.end(),
                                         [&](const auto& d) { return d.first == id; });
            if (it != deals.end())
                it->second = f;
            else
                deals.emplace_back(id, f);
        } else if (sub == 2) {
            out.Position = vsim::GetInt(row, *position.Field("xpos"));
        } else {
            ++out.MarketDeals;
        }
    }
    for (const auto& d : deals)
        out.Fills.push_back(d.second);
    return out;
}

TEST(ReplayFills, EachModelFillsTheTradersOrdersAgainstTheRecordedMarket) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorlen-replay-fills-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = WriteDay(dir);

    const TOrderCase atBest{"buy 2 at the best bid, 4 ahead", 1, 2, "99", 1};
    const TOrderCase behind{"buy 3 behind 10 at the second bid", 1, 3, "98", 1};
    const TOrderCase above{"sell 1 above the best bid, below the asks", 2, 1, "100", 1};
    const TOrderCase partial{"buy 6 against 5 at the best ask, the rest rests", 1, 6, "101", 1};
    const TOrderCase sweep{"buy 20 through two asks, the rest cancelled", 1, 20, "102", 2};
    using F = std::vector<TFillSeen>;
    const struct {
        const char* Model;
        const TOrderCase& Order;
        F Fills;
        bool SeekBack = false;
    } cases[] = {
        // touch: the opposite best price reaching the order fills it from the visible volume.
        {"touch", atBest, {{99, 2}}},
        {"touch", behind, {}},
        {"touch", above, {}},
        // What rests fills at its own price once the market comes to it, as the exchange fills
        // the earlier order of a cross.
        {"touch", partial, {{101, 5}, {101, 1}}},
        {"touch", sweep, {{101, 5}, {102, 10}}},
        // through: only a deal past the order's price.
        {"through", atBest, {{99, 2}}},
        {"through", behind, {{98, 3}}},
        {"through", above, {{100, 1}}},
        {"through", partial, {{101, 5}, {101, 1}}},
        {"through", sweep, {{101, 5}, {102, 10}}},
        // queue: the recorded volume ahead trades (or leaves) first, then the order.
        {"queue", atBest, {{99, 1}, {99, 1}}},
        {"queue", behind, {{98, 1}, {98, 2}}},
        {"queue", above, {{100, 1}}},
        {"queue", partial, {{101, 5}, {101, 1}}},
        {"queue", sweep, {{101, 5}, {102, 10}}},
        // A seek cancels what rests; what filled stays, in the deals and the position.
        {"touch", partial, {{101, 5}}, true},
        {"queue", atBest, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Model) + ": " + c.Order.Name + (c.SeekBack ? ", seek" : ""));
        const TOutcome got = Play(file, c.Model, c.Order, c.SeekBack);
        EXPECT_EQ(got.ReplyCode, 0);
        EXPECT_EQ(got.Fills, c.Fills);
        std::int64_t traded = 0;
        for (const TFillSeen& f : c.Fills)
            traded += f.Qty;
        EXPECT_EQ(got.Position, kRecordedPosition + (c.Order.Dir == 1 ? traded : -traded));
        EXPECT_EQ(got.MarketDeals, kRecordedDeals) << "own deals never reach the market's stream";
        // The same day, the same order: the same fills.
        EXPECT_EQ(Play(file, c.Model, c.Order, c.SeekBack).Fills, got.Fills);
    }
    fs::remove_all(dir);
}

TEST(ReplayFills, ASeekFromAnyKeyframeHandsOverWhatAReplayFromTheStartHolds) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorlen-replay-keys-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path file = WriteDay(dir);
    // Every second of the day, and the moments before and after it.
    for (int second = -1; second <= 10; ++second) {
        SCOPED_TRACE(second);
        std::string handed[2];
        for (const int k : {0, 1}) {
            vsim::Replay replay;
            // Keyframes as close together as the replica allows, or only the day's start.
            replay.SetKeyframeEvery(k == 0 ? 1 : ~std::uint64_t{0});
            std::string error;
            ASSERT_TRUE(replay.Open(file.string(), error)) << error;
            vsim::Client client;
            std::uint32_t id = 0;
            for (const char* stream :
                 {"FORTS_AGGR20_REPL", "FORTS_DEALS_REPL", "FORTS_POS_REPL", "FORTS_PART_REPL"}) {
                std::vector<std::string> tables;
                for (const vsim::TableDef* t : Stream(stream).tables)
                    tables.push_back(t->name);
                ASSERT_TRUE(replay.Subscribe(client, ++id, stream, tables, false, error));
            }
            client.out.clear();
            ASSERT_TRUE(replay.Seek(10 * 3600 + second, error)) << error;
            handed[k] = client.out;
        }
        if (second >= 1) {
            EXPECT_GT(handed[0].size(), 100u) << "the book and the position are handed over";
        }
        EXPECT_TRUE(handed[0] == handed[1]);
    }
    fs::remove_all(dir);
}

} // namespace
