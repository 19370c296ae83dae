#pragma once

// The order path: every order and cancel of the trader (ticket, console, strategies) goes
// through here, past the risk gate, to the transaction connection; every attempt, refusal, post,
// reply and cancel goes to the journal and the order log. The kill switch lives here too.

#include "connections/TrConnection.h"
#include "gateway/AddOrderMessage.h"
#include "orders/KillSwitch.h"
#include "orders/OrderLogFile.h"
#include "orders/RiskGate.h"
#include "orders/StoreView.h"
#include "platform/Compiler.h"
#include "store/FlatHash.h"

#include <array>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vorlen::orders {

// The exchange's answer to one posted message.
struct TReply {
    std::int32_t Code = 0;
    std::int64_t OrderId = 0;
};

// Where orders go: the transaction connection in the program, a script in tests.
class IOrderTransport {
public:
    virtual ~IOrderTransport() = default;
    virtual std::uint32_t NextId() = 0;
    virtual bool PostAdd(std::uint32_t trId, std::int32_t isinId, const TAddOrderParams& p) = 0;
    virtual bool PostCancel(std::uint32_t trId, std::int32_t isinId, const TDelOrderParams& p) = 0;
    // Whether the last post that returned false was refused by the terminal's own cap on
    // posts (then it may go a moment later), rather than not taken.
    virtual bool Throttled() { return false; }
    // The cap: posts in any second, 0 for none; and how many it would admit now.
    virtual std::int32_t PostsPerSecond() { return 0; }
    virtual std::size_t Room() { return std::numeric_limits<std::size_t>::max(); }
    // The reply of trId once it has arrived; false while it has not.
    virtual bool TakeReply(std::uint32_t trId, TReply& out) = 0;
    // Returns when a reply may have arrived, or after `ms`.
    virtual void WaitReply(unsigned ms) = 0;
    virtual TLinkHealth Health() = 0;
};

// What the desk asks of the rest of the terminal, each filled by whoever builds it.
struct TDeskInputs {
    std::function<TStoreFacts()> Facts;
    // True when what Facts returns may have changed since its last call; while it is false the
    // desk goes on with the facts it read last. Empty: Facts is read for every order and cancel.
    std::function<bool()> FactsChanged;
    std::function<TLinkHealth()> MarketData;
    // The best price an order on `side` would trade against; nothing without a book.
    std::function<std::optional<std::int64_t>(const std::string& isin, TSide side)> BestOpposite;
    // Milliseconds of the wall clock; empty: std::chrono::system_clock.
    std::function<std::int64_t()> NowMs;
    // Stops every expert's strategy; the kill switch calls it first.
    std::function<void()> StopStrategies;
    // How long the kill switch waits for its cancels to be confirmed, at the least: hundreds of
    // orders under the terminal's cap take longer (TKillSwitch::DeadlineMs).
    std::int64_t KillTimeoutMs = 5000;
};

enum class TPlaceStatus { Refused, Failed, Posted };

struct TPlaceResult {
    TPlaceStatus Status = TPlaceStatus::Refused;
    std::uint32_t TrId = 0;
    std::string Reason;
};

class TOrderDesk {
public:
    using TJournalFn = std::function<void(const std::string& text)>;

    // `journal` gets each text (written without the desk's lock held); `log` may be null.
    TOrderDesk(IOrderTransport& transport, TLimitsBook limits, TDeskInputs inputs,
               TJournalFn journal, TOrderLogFile* log);

    TPlaceResult Place(const TOrderRequest& order);
    // What Place would decide about `order` now, without posting, counting or journalling it:
    // a window asks before its confirmation, so that the trader confirms only an order that
    // goes.
    TGateDecision Check(const TOrderRequest& order);
    // Cancels one own order; false when the gate or the connection refused it.
    bool Cancel(std::int64_t orderId);
    // Modify: the replacement is placed only once the exchange has confirmed the cancel.
    bool Modify(std::int64_t orderId, const TOrderRequest& replacement);

    // Takes the replies that have arrived and acts on them; also reports the kill switch.
    void Collect();
    // Replies still expected and not given up on.
    std::size_t Pending() const;
    // Gives up on the replies still expected: each counts as failed and is journalled as
    // possibly live; a late reply is still taken, and the kill switch still waits for them.
    void ExpirePending();

    // "Снять все заявки и остановить торговлю".
    void KillSwitch();
    TKillPhase KillPhase() const;
    std::optional<TKillReport> LastKillReport() const;
    bool Rearm(bool confirmed);

    // New limits for the orders from now on (the trader saved them in the limits dialog).
    // Clears a refusal of BlockUntilLimits.
    void SetLimits(TLimitsBook limits);
    // Every order is refused with `reason` until new limits are set: the limits file could not
    // be read, and no limits the trader did not mean may stand in for it. Cancels and the kill
    // switch still go: they only take risk away.
    void BlockUntilLimits(std::string reason);
    // Every order is refused with `reason` for as long as the desk lives (another terminal keeps
    // this data folder's day); cancels and the kill switch still go.
    void Block(std::string reason);

    std::size_t Refused() const;
    std::size_t Failed() const;
    IOrderTransport& Transport() { return FTransport; }

    // The own orders that may still trade: those the orders log shows active, those the user
    // order book shows that the log does not tell of (it may have been cleared), and those the
    // exchange accepted that neither shows gone.
    std::vector<TOwnOrder> ActiveOrders();
    // The exchange's answer to an add, once Collect has taken it; kept for the latest
    // kAnswersKept adds, so whoever posted one can learn its order id without racing others.
    std::optional<TReply> Answer(std::uint32_t trId) const;
    static constexpr std::size_t kAnswersKept = 1024;

private:
    // An add's fields as numbers, a cancel's order id: every order writes one, and moves it when
    // earlier ones are answered.
    struct TPendingPost {
        bool IsCancel = false;
        bool Expired = false; // given up on (counted failed) but still listened for
        TSide Side = TSide::Buy;
        std::uint32_t Client = 0, Isin = 0; // an add's, FNames' numbers
        std::int32_t IsinId = 0;
        std::int32_t ExtId = 0;
        std::int64_t OrderId = 0; // the order a cancel is for
        std::int64_t Qty = 0, Price = 0;
        // A modify's new order; rare, so out of line.
        std::unique_ptr<const TOrderRequest> Replacement;
    };
    using TLines = std::vector<std::string>;
    // Starts a line for the order log only (Emit leaves it out of the journal).
    static constexpr char kLogOnly = '\x1f';

    std::int64_t Now() const;
    // An ext_id neither this run nor the orders log has used.
    std::int32_t NextExtId(const TStoreFacts& facts);
    // The facts' reference rows; empty ones when the facts have none.
    static const TRefFacts& RefOf(const TStoreFacts& facts);
    // The facts as they are now: read again only when they may have changed.
    const TStoreFacts& Facts();
    VORLEN_NOINLINE void ReadFacts();
    // Brings what the desk keeps of the facts up to a new read.
    void FollowFacts();
    // The gate's view for `order`, without its Live and Sent lists (Tally stands for them).
    const TGateView& PlaceView(const TStoreFacts& facts, const TOrderRequest& order);
    // What the gate's counting rules need for `order`: as TallyOf would find it in a view that
    // listed every live order (LiveOrders and UnseenAdds) and every order sent. PlaceView has
    // looked up the order's pair and let go of the sent times past a minute.
    TOrderTally Tally(const TOrderRequest& order, std::int64_t nowMs) const;
    // The orders log's active orders: the facts' list, or the reader's, listed once per read.
    const std::vector<TOwnOrder>& OwnActive(const TStoreFacts& facts) const;
    std::vector<TOwnOrder> LiveOrders(const TStoreFacts& facts) const;
    // Adds still without a reply whose order the orders log does not show yet (its ext_id is
    // the transaction id): the ones that may rest on the book unseen.
    std::vector<std::uint32_t> UnseenAdds(const TStoreFacts& facts) const;
    TPlaceResult PlaceLocked(const TOrderRequest& order, TLines& lines);
    // The gate's verdict with the day's counts brought up to date; Place and Check share it.
    TGateDecision Decide(const TStoreFacts& facts, const TOrderRequest& order, TLines& lines,
                         std::int64_t& nowMs);
    // Once, before the first order may go: the trading day's orders sent before this run, from
    // the order log files and the orders log, count for the rate rules.
    void SeedDay(const TStoreFacts& facts, TLines& lines);
    // A new trading session has begun (or, where none is known, a day has passed) since the
    // counts were seeded.
    bool DayOver(const TStoreFacts& facts) const;
    // Lets go of the day's counts, so that the next order seeds them for the new day: a long run
    // counts by session, as a restart does, not by the clock's midnight.
    void ForgetDay();
    // The day's order log left trading stopped: it stays so until the trader re-arms.
    void RestoreHalt();
    // Whether a source shows an accepted order filled or cancelled.
    bool ShownGone(const TStoreFacts& facts, const TOwnOrder& accepted);
    // Whether the orders log tells of the order at all.
    static bool LogKnows(const TStoreFacts& facts, const TOwnOrder& order);
    // What an order's path needs only now and then stays out of its line of code: the journal's
    // words, a refusal or failure, a clock that went back, a sweep of old sends.
    VORLEN_NOINLINE static std::string AttemptLine(const TOrderRequest& order);
    VORLEN_NOINLINE static void PostedLines(const TOrderRequest& order, std::uint32_t trId,
                                            TLines& lines);
    TPlaceResult NotPosted(const TOrderRequest& order, TPlaceResult result, const char* prefix,
                           TLines& lines);
    // Counts an add for the rate rules and keeps it pending and unseen. It is counted just
    // before it is posted, while what the gate read is still in the cache: the post's system
    // calls would have all of it fetched again. Returns the time an equal order was last sent
    // (-1 for none), which Uncount needs should the post fail.
    std::int64_t CountPosted(const TOrderRequest& order, const TAddOrderParams& p,
                             std::uint32_t trId, std::int64_t now);
    // Takes back what CountPosted counted for an add that was not posted after all.
    void Uncount(const TOrderRequest& order, const TAddOrderParams& p, std::uint32_t trId,
                 std::int64_t now, std::int64_t lastSame);
    bool CancelLocked(std::int64_t orderId, const TStoreFacts& facts, TLines& lines,
                      std::optional<TOrderRequest> replacement = {});
    enum class TPosted { Posted, Refused, Throttled, NotTaken };
    // Posts a cancel of `target` past the gate and keeps it pending; the caller words failures.
    TPosted PostCancel(const TKillTarget& target, std::optional<TOrderRequest> replacement,
                       std::uint32_t& trId, TLines& lines);
    // A post the terminal's cap refused: the first of a second is journalled in full (true),
    // the rest only counted, and FlushThrottled sums them up once the second is over.
    bool NoteThrottled(TLines& lines);
    void FlushThrottled(TLines& lines);
    std::string ThrottleReason();
    // Posts the kill switch's due cancels, as many as the cap lets go now.
    void PumpKill(TLines& lines);
    void OnReply(std::uint32_t trId, const TPendingPost& post, const TReply& reply, TLines& lines,
                 std::vector<TOrderRequest>& replacements);
    void CancelSeenAdds();
    void PollKill(TLines& lines);
    void Emit(TLines& lines);

    // By transaction id, in the order posted (the ids only grow): an order appends one, with no
    // allocation once the vector has grown to the most ever pending.
    using TPendingList = std::vector<std::pair<std::uint32_t, TPendingPost>>;
    // False when an entry with a higher id was already there (or this one, now replaced).
    bool AddPending(std::uint32_t trId, TPendingPost post);
    bool InsertPending(std::uint32_t trId, TPendingPost post);
    // Client codes and isins by number (NameNo), so that the lists walked for every order
    // compare numbers and keep no strings.
    std::uint32_t NameNo(const std::string& name);
    // The live orders the orders log does not show yet: adds without an answer (by transaction
    // id) and accepted ones (by order id), each as the gate counts it.
    struct TUnseen {
        std::pair<bool, std::int64_t> Key; // (accepted, transaction or order id)
        std::int64_t ExtId = 0;
        std::int64_t Qty = 0;
        std::int32_t IsinId = 0;
        std::uint32_t Client = 0; // FNames' number
        std::uint32_t Isin = 0;   // an add's, FNames' number; an accepted order goes by IsinId
        TSide Side = TSide::Buy;
    };
    TUnseen Unseen(std::pair<bool, std::int64_t> key, std::int64_t extId, const std::string& client,
                   const std::string& isin, std::int32_t isinId, TSide side, std::int64_t qty);
    void SetUnseen(const TUnseen& entry);
    bool DropUnseen(std::pair<bool, std::int64_t> key);
    // By client code: when its orders of (at least) the last minute were posted, in time order;
    // when each distinct order of (at least) the last second was posted last; and how many it
    // posted since FDayStartMs. Both are looked up for every order, so neither is a walk over
    // what a fast run posted.
    struct TRepeatKey {
        std::int32_t IsinId = 0;
        TSide Side = TSide::Buy;
        std::int64_t Price = 0;
        std::int64_t Qty = 0;
        bool operator==(const TRepeatKey&) const = default;
    };
    struct TRepeatHash {
        std::size_t operator()(const TRepeatKey& k) const;
    };
    struct TClientSent {
        // Only the last minute's: older ones go before each order is counted.
        std::deque<std::int64_t> RecentMs;
        TFlatMap<TRepeatKey, std::int64_t, TRepeatHash> LastSameMs;
        // Past the last second's go once it has grown this big, and it is set again to twice
        // what is left: the sweep's cost is spread over the orders that filled it.
        std::size_t SweepAt = 64;
        std::int64_t Today = 0;
    };
    static void InsertLate(std::deque<std::int64_t>& times, std::int64_t now);
    static void Sweep(TClientSent& sent, std::int64_t now);
    void LookUp(const TStoreFacts& facts, const std::string& isin, const std::string& client);
    // Whether an order's isin_id is the instrument of the order looked up.
    bool SameIsin(std::int32_t isinId, const std::string& isin) const;

    // First what every order reads or writes, side by side: after the post's system calls each
    // further cache line, and each page, has to be fetched again.
    IOrderTransport& FTransport;
    TDeskInputs FIn;
    TJournalFn FJournal;
    TOrderLogFile* FLog;
    mutable std::mutex FLock;
    TPendingList FPending;
    // A few dozen at most: side by side in memory.
    std::vector<TUnseen> FUnseen;
    // The unseen orders' part of the tally for the pair looked up, by side (0 buy, 1 sell): the
    // list is walked again only once it changed otherwise than by an add of that pair appended
    // (each such change, and each look-up, moves FUnseenGen on).
    struct TUnseenTally {
        std::uint64_t Gen = 0;
        std::int64_t Active = 0;
        std::array<std::int64_t, 2> Rest{};
    };
    mutable TUnseenTally FUnseenTally;
    TUnseenTally WalkUnseen(const std::string& isin) const;
    std::uint64_t FUnseenGen = 1;
    TStoreFacts FFacts;
    bool FHaveFacts = false;
    std::uint64_t FFactsSerial = 0; // each new read of the facts
    // Between orders; its Live and Sent stay empty (Tally stands for them).
    TGateView FView;
    // What was looked up for the last order's instrument and client code, valid for the same
    // pair until new facts or limits: orders come in runs, and each of these would otherwise be
    // a walk through maps and strings for every order.
    std::uint64_t FLookedUp = 0; // 0: look up again
    std::string FLookedIsin, FLookedClient;
    std::uint32_t FLookedIsinNo = 0, FLookedClientNo = 0;
    TRiskLimits FLookedLimits;
    TClientSent* FLookedSent = nullptr; // null until the client code has posted
    // The orders log's active orders of the client code, and their rest on the instrument by
    // side (0 buy, 1 sell).
    std::int64_t FLoggedActive = 0;
    std::array<std::int64_t, 2> FLoggedRest{};
    // An add for the pair, but for the price, side, quantity and ext_id.
    TAddOrderParams FLookedParams{};
    TKillSwitch FKill;
    std::size_t FRefused = 0;
    std::size_t FFailed = 0;
    // The next ext_id to give. The orders log keeps earlier runs' orders and an order must never
    // be taken for one of them: each run starts from its own second's thousand, counts up, and
    // steps over any ext_id the log already holds.
    std::int32_t FNextExtId = 1;
    std::int64_t FDayStartMs = 0;
    bool FSeeded = false;
    std::int64_t FSeededSession = 0; // the session the counts were seeded for; 0: none known

    TLimitsBook FLimits;
    // Orders the exchange accepted; kept until a source shows them gone.
    std::map<std::int64_t, TOwnOrder> FAccepted;
    // Those of them the user order book has shown: one it no longer shows is gone.
    std::set<std::int64_t> FBookSeen;
    TFlatSet<std::int64_t> FBookIds; // the last read's, for the look-ups above
    // The user order book's orders that neither the orders log nor FAccepted tells of, and
    // their parts by client code.
    std::vector<TOwnOrder> FBookOnly;
    TActiveByClient FBookCounts;
    mutable std::vector<TOwnOrder> FOwnList;
    mutable std::uint64_t FOwnListSerial = 0;
    // The log's active orders counted, for facts that come without a reader's tracker.
    TActiveByClient FOwnCounts;
    std::vector<std::string> FNames;
    // How far the tracker's ext_ids had been followed.
    const TOwnOrderTracker* FExtTracker = nullptr;
    std::uint64_t FExtClears = 0;
    std::size_t FExtSeen = 0;
    std::shared_ptr<const TRefFacts> FViewRef; // what the view's client codes were copied from
    std::map<std::string, TClientSent, std::less<>> FSent;
    std::optional<TKillReport> FKillReport;
    std::int64_t FThrottledSinceMs = 0;
    std::size_t FThrottled = 0; // refused by the cap since FThrottledSinceMs
    std::map<std::uint32_t, TReply> FAnswers;
    bool FLogWarned = false;
    std::string FBlocked, FBlockedUntilLimits;
};

// "покупка Si-3.27 1 по 92000, клиент FZ00001"
std::string DescribeOrder(const TOrderRequest& order);
// The same with the price's decimal separator the trader's locale uses, for what a window shows
// (the journal keeps the point).
std::string DescribeOrder(const TOrderRequest& order, char decimalSeparator);

} // namespace vorlen::orders
