#include "backtest/Backtest.h"

#include "backtest/BacktestDesk.h"
#include "backtest/BacktestMarket.h"
#include "orders/StoreView.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>

namespace vorlen::backtest {

namespace {

constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kNsPerMinute = 60 * kNsPerSecond;
constexpr std::int64_t kNsPerDay = 86'400 * kNsPerSecond;
// The recorder stamps every message with its own receive time, and one change of the exchange's
// book arrives as a run of messages microseconds apart; the runs themselves come a millisecond
// or more apart. The live expert wakes once for such a run and reads the book it left, so the
// strategy is called once the records pause this long, not between the halves of one change.
constexpr std::int64_t kBurstGapNs = 200'000;
// A run that goes on and on (a snapshot, a busy market) is read now and then meanwhile, as the
// live expert would wake in the middle of it.
constexpr std::int64_t kBurstLongestNs = 5'000'000;
// The exchange's day is Moscow time, UTC+3 all year.
constexpr std::int64_t kMoscowNs = 10'800 * kNsPerSecond; // three hours

int MinuteOfDay(std::int64_t ns) {
    return static_cast<int>(((ns + kMoscowNs) % kNsPerDay + kNsPerDay) % kNsPerDay / kNsPerMinute);
}

std::string TimeText(std::int64_t ns) {
    const std::int64_t t = ((ns + kMoscowNs) % kNsPerDay + kNsPerDay) % kNsPerDay;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(t / 3'600'000'000'000),
                  static_cast<int>(t / kNsPerMinute % 60), static_cast<int>(t / kNsPerSecond % 60),
                  static_cast<int>(t / 1'000'000 % 1000));
    return text;
}

// Tells the fill models of each level whose volume is not what it was, `better` ordering the
// side best first.
template <class Better>
void FeedLevels(fills::TFillEngine& engine, fills::TFillSide side, const TLevels& was,
                const TLevels& now, Better better) {
    std::size_t i = 0, j = 0;
    while (i < was.size() || j < now.size()) {
        if (j == now.size() || (i < was.size() && better(was[i].first, now[j].first))) {
            engine.SetLevel(side, was[i++].first, 0);
        } else if (i == was.size() || better(now[j].first, was[i].first)) {
            engine.SetLevel(side, now[j].first, now[j].second);
            ++j;
        } else {
            if (was[i].second != now[j].second)
                engine.SetLevel(side, now[j].first, now[j].second);
            ++i;
            ++j;
        }
    }
}

// The store's reader turns the session's times with mktime, which sets the time zone again each
// call; the C library's lock around that is out of the thread sanitizer's sight, and a sweep's
// workers read their reference rows now and then only, so they take turns.
std::mutex& ZoneLock() {
    static std::mutex lock;
    return lock;
}

class TRun;

// The strategy's view of the backtest: the recorded market without the live run's own orders,
// with its own simulated orders in their place.
class TWorld final : public TStrategyWorld {
public:
    explicit TWorld(TRun& run) : R(run) {}
    TField GetField(const std::string& name) override;
    std::optional<TDecimal> PriceStep() override;
    bool Book(TBookSnapshot& out) override;
    std::uint64_t BookVersion() override;
    bool Position(const std::string& client, TPositionInfo& out) override;
    std::string HaltReason() override { return {}; }
    std::string OrderPathRefusal() override { return {}; }
    TOrderResult Place(const orders::TOrderRequest& order) override;
    std::string Cancel(std::int64_t id) override;
    std::vector<orders::TOwnOrder> ActiveOrders() override;
    bool NextOrderEvent(TOrderEvent& out) override;
    void Log(const std::string& text) override;
    double Now() override;
    std::chrono::steady_clock::time_point RuleClock() override;

private:
    TRun& R;
};

class TRun {
public:
    TRun(const TBacktestConfig& config, TBacktestResult& out)
        : C(config), Out(out), Desk(Setup(config), out), World(*this) {}

    void Go();
    // The strategy made and loaded, its parameters set; false (the run failed) otherwise.
    bool Prepare(std::int32_t isinId);

    const TBacktestConfig& C;
    TBacktestResult& Out;
    TBacktestDesk Desk;
    TWorld World;
    // Made once the instrument's id is known (ctx.isin_id), and kept over the days.
    std::unique_ptr<TStrategy> Strategy;
    TDayMarket* Market = nullptr;
    std::int64_t NowNs = 0;
    std::uint64_t MarketVersion = 0;
    bool Quiet = false; // the script's first reading, before any day: its lines are not the run's
    std::string Client;
    std::optional<TDecimal> Step;
    bool Cancelled = false;

private:
    static TDeskSetup Setup(const TBacktestConfig& c) {
        return {c.Isin, c.Limits, c.Fill, c.LatencyMs * 1'000'000, c.PostsPerSecond};
    }
    bool Fail(std::string error) {
        Out.Ok = false;
        Out.Error = std::move(error);
        return false;
    }
    bool Day(const std::filesystem::path& file, double base, double span);
    bool Ready(TDayMarket& market);
    void ReadFees(TDayMarket& market);
    bool Tick();
    bool AfterCall();
    void Sample(bool force);
    std::optional<std::int64_t> Mark() const;

    std::int32_t FIsinId = 0;
    bool FFound = false;
    std::uint64_t FRefChanges = ~std::uint64_t{0};
    TLevels FFedBids, FFedAsks;
    std::optional<std::int64_t> FLastDeal;
    std::int64_t FSampledMinute = -1;
    bool FOpeningRead = false;
};

// The account's lots of the instrument by client as the recording shows them now: what the live
// strategy's position held before its first fill, carried over from earlier days or trades.
std::map<std::string, std::int64_t> OpeningLots(TDayMarket& market, std::int32_t isinId) {
    orders::TStoreFacts facts;
    {
        std::lock_guard guard(ZoneLock());
        facts = orders::ReadStoreFacts(market.Store());
    }
    std::map<std::string, std::int64_t> lots;
    for (const auto& [key, net] : facts.Positions)
        if (key.second == isinId && net != 0)
            lots[key.first] = net;
    return lots;
}

bool TRun::Ready(TDayMarket& market) {
    const std::uint64_t changes = market.Store().TableChanges(TCGStorage::kFuturesRefTable);
    if (changes == FRefChanges)
        return Desk.Market().Instrument.has_value();
    FRefChanges = changes;
    orders::TStoreFacts facts;
    {
        std::lock_guard guard(ZoneLock());
        facts = orders::ReadStoreFacts(market.Store());
    }
    const auto it = facts.Ref->Instruments.find(C.Isin);
    if (it == facts.Ref->Instruments.end())
        return false;
    FFound = true;
    TDeskMarket& m = Desk.Market();
    m.Instrument = it->second;
    m.Clients = facts.Ref->Clients;
    FIsinId = it->second.IsinId;
    market.SetIsinId(FIsinId);
    Client = !C.Client.empty() ? C.Client : (m.Clients.empty() ? std::string() : m.Clients[0]);
    Step = ParseDecimal(orders::FormatPrice(it->second.MinStep));
    ReadFees(market);
    return true;
}

// The exchange's and the clearing's fee per contract from the instrument's fee table (fut_vcb,
// by its code_vcb), when the recording has one; else the fee the run was given.
void TRun::ReadFees(TDayMarket& market) {
    TDeskMarket& m = Desk.Market();
    m.FeePerLot = C.FeePerLot;
    TMarketData data;
    market.Store().GetData(data);
    const TTable *ref = nullptr, *vcb = nullptr;
    for (const TStream& s : data.Streams)
        for (const TTable& t : s.Tables) {
            ref = t.tName == "fut_sess_contents" ? &t : ref;
            vcb = t.tName == "fut_vcb" ? &t : vcb;
        }
    if (ref == nullptr || vcb == nullptr)
        return;
    TCGStorage::TAccess access(market.Store());
    std::string code;
    for (const TRowView row : access.Rows(*ref)) {
        if (VarAsInteger(row.Field("isin_id").Data) != FIsinId)
            continue;
        const TField field = row.Field("code_vcb");
        if (const auto* text = std::get_if<std::string>(&field.Data))
            code = *text;
    }
    if (code.empty())
        return;
    for (const TRowView row : access.Rows(*vcb)) {
        const TField field = row.Field("code_vcb");
        const auto* text = std::get_if<std::string>(&field.Data);
        if (text == nullptr || *text != code)
            continue;
        double fee = 0;
        for (const char* name : {"exch_pay", "clear_pay"}) {
            const TField pay = row.Field(name);
            if (const auto* v = std::get_if<double>(&pay.Data))
                fee += *v;
        }
        if (fee > 0)
            m.FeePerLot = fee;
    }
}

std::optional<std::int64_t> TRun::Mark() const {
    const TLevels &b = Market->Bids(), &a = Market->Asks();
    if (!b.empty() && !a.empty())
        return (b[0].first + a[0].first) / 2;
    return FLastDeal;
}

void TRun::Sample(bool force) {
    const std::int64_t minute = NowNs / kNsPerMinute;
    if (!force && minute == FSampledMinute)
        return;
    FSampledMinute = minute;
    Out.Equity.push_back({NowNs, Desk.Equity(Mark()), Desk.NetPosition()});
}

// What the strategy's last call left: a failure ends the run; fills booked since are sampled.
bool TRun::AfterCall() {
    if (Strategy != nullptr && Strategy->State() == TStrategy::TState::Failed)
        return Fail(Strategy->Error());
    return true;
}

bool TRun::Tick() {
    if (Market->SyncBook()) {
        ++MarketVersion;
        FeedLevels(Desk.Engine(), fills::TFillSide::Buy, FFedBids, Market->Bids(),
                   std::greater<>());
        FeedLevels(Desk.Engine(), fills::TFillSide::Sell, FFedAsks, Market->Asks(), std::less<>());
        FFedBids = Market->Bids();
        FFedAsks = Market->Asks();
        TDeskMarket& m = Desk.Market();
        m.BestBid = FFedBids.empty() ? std::nullopt : std::optional(FFedBids[0].first);
        m.BestAsk = FFedAsks.empty() ? std::nullopt : std::optional(FFedAsks[0].first);
        const TBookSnapshot& s = Market->Snapshot();
        if (s.MinStep && s.StepPrice && *s.MinStep > 0)
            m.MoneyPerUnit = *s.StepPrice / *s.MinStep / static_cast<double>(orders::kPriceScale);
    }
    for (const TMarketDeal& d : Market->TakeDeals()) {
        FLastDeal = d.Price;
        std::optional<fills::TFillSide> resting;
        if (d.RestingBuy)
            resting = *d.RestingBuy ? fills::TFillSide::Buy : fills::TFillSide::Sell;
        Desk.Engine().Deal(d.Price, d.Qty, resting);
    }
    const std::size_t trades = Out.Trades.size();
    Desk.TakeMarketFills();
    Sample(Out.Trades.size() != trades);
    if (Strategy == nullptr || !Strategy->Running())
        return true;
    Strategy->OrderEvents();
    if (Strategy->Running())
        Strategy->Tick();
    if (Strategy->Running())
        Strategy->OrderEvents();
    return AfterCall();
}

bool TRun::Day(const std::filesystem::path& file, double base, double span) {
    TDayMarket market;
    Market = &market;
    FRefChanges = ~std::uint64_t{0};
    FFedBids.clear();
    FFedAsks.clear();
    std::string error;
    if (!market.Open(file, error))
        return Fail(file.filename().string() + ": " + error);
    TDayResult day;
    day.Date = market.Replay().TradingDate();
    const double grossBefore = Desk.Equity(Mark()) + Desk.Fees();
    const double feesBefore = Desk.Fees();
    std::int64_t first = 0, last = 0;
    {
        history::TRecordingReader index;
        if (index.Open(file) && !index.Frames().empty()) {
            first = index.Frames().front().FirstNs;
            last = index.Frames().back().LastNs;
        }
    }
    bool ready = false, tickDue = false, stopped = false;
    std::int64_t at = 0; // receive time of the records applied last
    history::TRecordView record;
    const auto inWindow = [this](std::int64_t ns) {
        const int m = MinuteOfDay(ns);
        return (!C.FromMinute || m >= *C.FromMinute) && (!C.ToMinute || m < *C.ToMinute);
    };
    std::int64_t burstFrom = 0; // receive time of the first record the strategy has not seen
    const auto moment = [&](std::int64_t ns) {
        // Everything of the moment before `ns`: the strategy's wake once a burst has ended,
        // then what the exchange gets of its orders meanwhile.
        if (tickDue && (ns - at > kBurstGapNs || at - burstFrom >= kBurstLongestNs)) {
            tickDue = false;
            NowNs = at;
            Desk.SetNow(at);
            if (!Tick())
                return false;
        }
        while (const auto due = Desk.NextDue()) {
            if (*due >= ns)
                break;
            NowNs = *due;
            Desk.SetNow(*due);
            const std::size_t trades = Out.Trades.size();
            Desk.Deliver();
            Sample(Out.Trades.size() != trades);
            if (Strategy != nullptr)
                Strategy->OrderEvents();
            if (!AfterCall())
                return false;
        }
        return true;
    };
    for (;;) {
        if (C.Cancel != nullptr && C.Cancel->load(std::memory_order_relaxed)) {
            Cancelled = true;
            return false;
        }
        const bool more = market.Replay().Next(record);
        const std::int64_t t = more ? record.TimeNs : std::numeric_limits<std::int64_t>::max();
        if (t > at && !moment(t))
            return false;
        if (!more)
            break;
        at = record.TimeNs;
        NowNs = at;
        Desk.SetNow(at);
        ++day.Records;
        if (market.Apply(record) && ready && !tickDue) {
            tickDue = true;
            burstFrom = at;
        }
        if (!ready && record.Kind == history::TRecordKind::Online &&
            market.Replay().Stats().InstrumentsBuilt) {
            market.Replay().Flush();
            ready = Ready(market);
            tickDue = ready;
            burstFrom = at;
            if (ready && Strategy == nullptr && !Prepare(FIsinId))
                return false;
        }
        if (ready && FRefChanges != market.Store().TableChanges(TCGStorage::kFuturesRefTable)) {
            // Limits or steps of the session changed; the store is read only with the batch
            // let go.
            market.Replay().Flush();
            Ready(market);
        }
        if (ready && !stopped && !Strategy->Running() && inWindow(at)) {
            market.Replay().Flush();
            if (!FOpeningRead) {
                FOpeningRead = true;
                Desk.SetOpening(OpeningLots(market, FIsinId));
            }
            Strategy->Start();
            if (!AfterCall())
                return false;
        } else if (ready && Strategy->Running() && !inWindow(at)) {
            stopped = true;
            Strategy->Stop();
            if (!AfterCall())
                return false;
        }
        if (C.Progress && (day.Records & 0xFFF) == 0 && last > first)
            C.Progress(base + span * static_cast<double>(at - first) /
                                  static_cast<double>(last - first),
                       Out.Records + day.Records);
    }
    if (Strategy != nullptr && Strategy->Running()) {
        Strategy->Stop();
        if (!AfterCall())
            return false;
        if (!moment(std::numeric_limits<std::int64_t>::max()))
            return false;
    }
    Desk.EndDay();
    if (Strategy != nullptr)
        Strategy->OrderEvents();
    Sample(true);
    day.Fees = Desk.Fees() - feesBefore;
    day.Gross = Desk.Equity(Mark()) + Desk.Fees() - grossBefore;
    Out.Records += day.Records;
    Out.Days.push_back(day);
    Market = nullptr;
    return true;
}

bool TRun::Prepare(std::int32_t isinId) {
    Strategy = std::make_unique<TStrategy>(World, isinId, C.Isin, C.Budget);
    if (!Strategy->Load(C.StrategyName, C.StrategySource))
        return Fail(Strategy->Error());
    if (std::string error; !Strategy->SetParams(C.Params, error))
        return Fail(error);
    return true;
}

void TRun::Go() {
    // A script that does not load or take its parameters ends the run before any day is read.
    Quiet = true;
    const bool loaded = Prepare(0);
    Quiet = false;
    if (!loaded)
        return;
    Strategy.reset();
    const double span = C.Days.empty() ? 0 : 1.0 / static_cast<double>(C.Days.size());
    for (std::size_t i = 0; i < C.Days.size(); ++i)
        if (!Day(C.Days[i], span * static_cast<double>(i), span))
            return;
    if (!FFound)
        Fail("инструмент " + C.Isin + " не найден в записях");
}

TField TWorld::GetField(const std::string& name) {
    if (name == "client_code" && !R.Client.empty())
        return TField{"c7", R.Client};
    return {};
}

std::optional<TDecimal> TWorld::PriceStep() {
    return R.Step;
}

bool TWorld::Book(TBookSnapshot& out) {
    if (R.Market == nullptr)
        return false;
    const TBookSnapshot& s = R.Market->Snapshot();
    out = TBookSnapshot{};
    out.IsinId = s.IsinId;
    out.Status = s.Status;
    out.Depth = s.Depth;
    out.Version = BookVersion();
    out.LastDeal = s.LastDeal;
    out.MinStep = s.MinStep;
    out.StepPrice = s.StepPrice;
    const auto fill = [this](const TLevels& others, orders::TSide side, auto better,
                             std::vector<TBookLevel>& levels) {
        std::map<std::int64_t, TBookLevel, decltype(better)> merged(better);
        for (const auto& [price, volume] : others)
            merged[price].Volume = volume;
        if (R.Desk.HasResting())
            for (const orders::TOwnOrder& o : R.Desk.ActiveOrders()) {
                const std::int64_t price = o.Price;
                const std::int64_t own = R.Desk.OwnResting(side, price);
                if (o.Side == side && own > 0 && merged[price].Own == 0) {
                    merged[price].Volume += own;
                    merged[price].Own = own;
                }
            }
        for (auto& [price, level] : merged) {
            level.Price = static_cast<double>(price) / static_cast<double>(orders::kPriceScale);
            levels.push_back(level);
        }
    };
    fill(R.Market->Bids(), orders::TSide::Buy, std::greater<>(), out.Bids);
    fill(R.Market->Asks(), orders::TSide::Sell, std::less<>(), out.Asks);
    return s.Status == TBookStatus::Live;
}

std::uint64_t TWorld::BookVersion() {
    return R.MarketVersion + R.Desk.OwnSerial();
}

bool TWorld::Position(const std::string& client, TPositionInfo& out) {
    return R.Desk.Position(client, out);
}

TOrderResult TWorld::Place(const orders::TOrderRequest& order) {
    return R.Desk.Place(order);
}

std::string TWorld::Cancel(std::int64_t id) {
    return R.Desk.Cancel(id);
}

std::vector<orders::TOwnOrder> TWorld::ActiveOrders() {
    return R.Desk.ActiveOrders();
}

bool TWorld::NextOrderEvent(TOrderEvent& out) {
    return R.Desk.NextOrderEvent(out);
}

void TWorld::Log(const std::string& text) {
    if (R.Quiet)
        return;
    R.Out.Journal.push_back(TimeText(R.NowNs) + " " + text);
}

double TWorld::Now() {
    return static_cast<double>(R.NowNs) / static_cast<double>(kNsPerSecond);
}

std::chrono::steady_clock::time_point TWorld::RuleClock() {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(R.NowNs));
}

} // namespace

TBacktestResult RunBacktest(const TBacktestConfig& config) {
    TBacktestResult out;
    // The strategy's state holds pointers into the run: it lives on the heap, never moved.
    auto run = std::make_unique<TRun>(config, out);
    run->Go();
    const bool cancelled = run->Cancelled;
    run.reset();
    if (cancelled) {
        out = TBacktestResult{};
        out.Ok = false;
        out.Cancelled = true;
        out.Error = "тест прерван";
    }
    return out;
}

bool ReadScriptParams(const std::string& name, const std::string& source, TStrategyParams& out,
                      std::string& error) {
    TBacktestConfig config;
    config.StrategyName = name;
    config.StrategySource = source;
    TBacktestResult result;
    auto run = std::make_unique<TRun>(config, result);
    run->Quiet = true;
    if (!run->Prepare(0)) {
        error = result.Error;
        return false;
    }
    out = run->Strategy->Params();
    return true;
}

std::vector<std::filesystem::path> DayFiles(const std::filesystem::path& fileOrFolder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    if (!std::filesystem::is_directory(fileOrFolder, ec)) {
        files.push_back(fileOrFolder);
        return files;
    }
    for (const auto& e : std::filesystem::directory_iterator(fileOrFolder, ec))
        if (e.path().extension() == ".vrec")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace vorlen::backtest
