#pragma once

// The simulated derivatives market behind the router: instruments and reference data, the
// trader's account, positions and orders, other traders' background activity, and the handling
// of posted messages.

#include "../common/LocalTime.h"
#include "../common/Row.h"
#include "Flow.h"
#include "Market.h"
#include "fills/FillModel.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vsim {

struct Instrument {
    std::int32_t isin_id = 0;
    std::string isin;
    std::string short_isin;
    std::string name; // UTF-8
    std::string base; // base contract code, e.g. "Si"
    bool option = false;
    bool put = false;
    std::int64_t step = 0;  // price step, in 1e-5 units
    std::int64_t mid = 0;   // current middle price, in 1e-5 units, a multiple of step
    std::int64_t lower = 0; // price limits of the session
    std::int64_t upper = 0;
    std::int64_t strike = 0;
    std::int32_t fut_isin_id = 0;
    Time expiry;
    std::int64_t openInterest = 0; // options: lots open, grown by their background deals
};

struct UserOrder {
    std::int64_t id = 0;
    std::int32_t isin_id = 0;
    int dir = 1; // 1 buy, 2 sell
    std::int64_t price = 0;
    std::int64_t amount = 0;
    std::int64_t rest = 0;
    std::string client;
    std::string comment;
    std::int32_t ext_id = 0;
};

struct Position {
    std::int64_t xpos = 0, buys = 0, sells = 0, open = 0;
    std::int64_t waprice = 0; // 1e-5 units
    double net = 0;
    std::int64_t lastDeal = 0;
};

struct Account {
    std::string client;
    double moneyOld = 0, free = 0, blocked = 0, fee = 0, vmReserve = 0, brokerFee = 0;
};

struct ExchangeCounters {
    std::uint64_t posts = 0, accepted = 0, rejected = 0, fills = 0, events = 0;
};

inline constexpr std::int64_t kPriceUnit = 100000; // prices are kept in 1e-5 units
inline constexpr const char* kBroker = "FZ00";
inline constexpr std::int32_t kSession = 7141;

Time LocalNow();

// The option series' expiries seen from `today`: the next monthly one at least two weeks away,
// then the quarterly one after it, at 18:50 Moscow time.
std::vector<Time> OptionExpiries(const Time& today);
inline constexpr int kBackgroundLevels = 50; // levels of others' volume per side around the mid

// The price of background level `level` (0: best) on a side (0 bid, 1 ask), from the current
// middle price.
inline std::int64_t LevelPrice(const Instrument& ins, int side, int level) {
    return side == 0 ? ins.mid - ins.step * (level + 1) : ins.mid + ins.step * (level + 1);
}

// Black-76 without discounting, as margined options are valued; intrinsic value once expired.
double OptionValue(bool put, double forward, double strike, double years, double vol);

class Exchange {
public:
    explicit Exchange(std::uint64_t seed);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    Market& market() { return market_; }
    const std::vector<Instrument>& Instruments() const { return instruments_; }
    const ExchangeCounters& Counters() const { return counters_; }

    // Fills the reference tables and the trader's own tables.
    void Seed();
    // Once a second or so: heartbeats and the occasional exchange message.
    void Tick();
    // Generates n background events: order-book changes, other traders' orders and deals.
    void Background(std::size_t n);
    // Brings a stream whose rows were not kept while nobody watched it up to date; called before
    // a subscription is served.
    void Refresh(std::string_view stream);
    void MarkStale(std::string_view stream);
    // True when some subscriber would receive background events.
    bool BackgroundWatched();

    // Resting orders: filled when the market crosses them (the default), never, or all at once.
    void SetFillResting(bool on);
    // Resting orders filled by one of the models a backtest fills by, from the levels and deals
    // of the generated market: what a recording of the day holds, so that a backtest over it
    // fills them alike. The crossing rule is `touch` but for one thing: it fills the whole order
    // however little stands at the price that reaches it.
    void SetFillModel(vorlen::fills::TFillModel model);
    std::optional<vorlen::fills::TFillModel> FillModel() const { return fillModel_; }
    std::size_t FillAllResting();
    std::size_t RestingCount() const { return resting_.size(); }
    // Puts `n` buy orders of the trader's first account on the book of `isin_id` at its lowest
    // allowed price, where nothing fills them, as if placed earlier in the day; false for an
    // unknown instrument.
    bool RestOrders(std::int32_t isin_id, std::size_t n);
    // Moves a futures' middle price by `ticks` steps, as its background trading would; false for
    // an unknown futures or a move that would reach its price limits.
    bool Move(std::int32_t isin_id, int ticks);

    // Adds `points` volatility points (negative: takes them off) to the smile of a futures'
    // options; the futures or any of its series names it. False for an unknown futures, one
    // without options, or a smile that would fall under 1 %.
    bool ShiftSmile(std::int32_t isin_id, double points);
    // The smile's volatility (a fraction) of an option series.
    double SmileVol(const Instrument& opt, const Instrument& fut) const;

    Reply Handle(std::uint32_t msgId, std::string_view msgName, const char* data, std::size_t n);
    std::int64_t SystemMessage(std::string_view lang, std::string_view utf8, const Time& moment);

    // The code of each refusal of AddOrder, for tests and the control channel's help.
    static constexpr std::int32_t kUnknownInstrument = 4098;
    static constexpr std::int32_t kBadAmount = 53;
    static constexpr std::int32_t kOffStep = 39;
    static constexpr std::int32_t kUnknownClient = 34;
    static constexpr std::int32_t kBadParameters = 35;
    static constexpr std::int32_t kOutOfLimits = 32;
    static constexpr std::int32_t kCrossTrade = 31;
    static constexpr std::int32_t kOrderNotFound = 14;
    static constexpr std::int32_t kUnknownMessage = 10001;

private:
    struct Handles;
    struct Book;
    void SeedInstruments();
    void SeedReference();
    void SeedTrader();
    void SeedMarketData();
    void SeedOtherStreams();
    void SeedOptions();
    // Values the futures' series from its smile: quotes, the volatility stream's rows.
    void RepriceOptions(const Instrument& fut);
    void OptionsTick();
    void PutAggrLevel(const Instrument& ins, int side, int level);
    void PublishBook(const Instrument& ins);
    // The trader's resting orders on the instrument changed: its book shows them.
    void OwnOrdersChanged(const Instrument& ins);
    std::int64_t LevelVolume(const Instrument& ins, int side, std::int64_t price);
    // The others' volume at one price of a side, drawn when the price is first looked at.
    std::int64_t OthersVolume(const Instrument& ins, int side, std::int64_t price);
    // The rows of one price of the book follow its volume, where a watched depth shows it;
    // `level` background levels at least are better than it.
    void ShowLevel(const Instrument& ins, int side, std::int64_t price, int level);
    // Another trader takes `amount` from the book of futures k (futures_[k]): buys (dir 1) at the
    // asks, sells at the bids, level by level, with a deal at each level reached.
    void BackgroundDeal(std::size_t k, int dir, std::int64_t amount);
    void OrderLogFill(const Instrument& ins, std::int64_t orderId, int dir, std::int64_t price,
                      std::int64_t amount, std::int64_t rest, std::int64_t dealId,
                      std::int64_t dealPrice, std::uint64_t ns);
    // The trader's best resting price on a side (0 bid, 1 ask); 0 when none rests there.
    std::int64_t OwnBest(const Instrument& ins, int side) const;
    // The best background price on a side, as the book shows it: background volume never
    // stands where it would meet the trader's own resting orders of the other side.
    std::int64_t BackgroundBest(const Instrument& ins, int side) const;
    bool DepthWatched(int d);
    void WriteAggrRow(int d, const Instrument& ins, int side, std::int64_t id, std::int64_t price,
                      std::int64_t volume);
    bool MoveMid(Instrument& ins, int ticks);
    void MatchResting(const Instrument& ins);
    // What the fill model's engine of an instrument knows: the others' volume at each price of
    // each side (0 bid, 1 ask), as last told.
    struct FillFeed {
        explicit FillFeed(vorlen::fills::TFillModel model) : engine(model) {}
        vorlen::fills::TFillEngine engine;
        std::map<std::int64_t, std::int64_t> told[2];
    };
    // The instrument's engine, made on first use with the book as it stands and the trader's
    // orders already resting there.
    FillFeed& FeedOf(const Instrument& ins);
    // Tells the engine of the instrument, when it has one, the book's levels as they are now
    // and books what it fills; true when something filled.
    bool FollowBook(const Instrument& ins);
    // The engine's fills since its last call booked; true when there were any.
    bool BookFills(FillFeed& feed);
    void BookFill(const vorlen::fills::TFill& fill);
    Reply AddOrder(const char* data);
    Reply DelOrder(const char* data);
    Reply MakeReply(const char* msg, std::int32_t code, std::int64_t orderId, std::int64_t amount);
    void Fill(UserOrder& order, std::int64_t price, std::int64_t qty);
    // The trader's user order book follows the order: a row while it rests, changed as it is
    // partly filled, deleted once it is filled or cancelled.
    void BookOrder(const UserOrder& order);
    // When the trader's rows written now happened.
    std::chrono::system_clock::time_point RowClock() const;
    void OrderLogRow(const UserOrder& order, int action, std::int64_t amount, std::int64_t dealId,
                     std::int64_t dealPrice);
    void PublishAccount(const Account& a);
    void PublishPosition(const std::string& client, std::int32_t isin_id, const Position& p);
    Instrument* FindInstrument(std::int32_t isin_id);
    Account* FindAccount(std::string_view client);

    Market market_;
    std::mt19937_64 rng_;
    // The options' deals come once a second of the clock: drawn from a generator of their own,
    // they leave the futures' flow the same for the same seed at any pace.
    std::mt19937_64 optionRng_;
    Flow flow_; // one entry per futures_, in its order
    std::vector<Instrument> instruments_;
    std::vector<std::size_t> futures_; // indexes of futures in instruments_
    std::vector<Account> accounts_;
    std::map<std::int64_t, UserOrder> resting_;
    // Set while the day's earlier orders are seeded: their rows carry the morning's time, so
    // that nobody takes them for orders sent a moment ago.
    std::optional<std::chrono::system_clock::time_point> rowClock_;
    bool fillResting_ = true;
    std::optional<vorlen::fills::TFillModel> fillModel_;
    std::map<std::int32_t, FillFeed> feeds_; // by isin_id, while a fill model is chosen
    std::map<std::pair<std::string, std::int32_t>, Position> positions_;
    std::int64_t nextOrderId_ = 1850000000001;
    std::int64_t nextDealId_ = 1700000000001;
    std::int64_t nextPublicId_ = 1850500000001;
    // The resting side of background deals: orders placed before the taker's, so their numbers
    // are lower, as the exchange's are (the taker of a deal is its later order).
    std::int64_t nextRestingId_ = 1850200000001;
    std::int32_t nextSysId_ = 1;
    std::uint64_t ticks_ = 0;
    ExchangeCounters counters_;
    // Per futures with options: volatility at the money, its slope and curvature against
    // log(strike / futures), and the shift the control channel applied.
    struct Smile {
        double atm = 0.3, skew = 0, curve = 0, shift = 0;
    };
    std::map<std::int32_t, Smile> smiles_;
    std::unique_ptr<Handles> h_;
};

} // namespace vsim
