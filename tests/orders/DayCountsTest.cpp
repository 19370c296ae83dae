// A desk that starts again on the same trading day: the orders sent before it, in its own order
// log files and in the exchange's orders log, count for the rate rules, and a kill switch thrown
// earlier still holds. And the own orders that may still trade are counted from every source,
// so that a cleared orders log neither opens the gate nor hides orders from the kill switch.

#include "orders/OrderDesk.h"
#include "orders/ScriptedTransport.h"
#include "platform/FormatSettings.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace vorlen::orders {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t P = kPriceScale;
constexpr std::int64_t kHour = 3'600'000;
constexpr std::int64_t kMinute = 60'000;

std::int64_t WallNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Noon of today's date: each test's clock, so that "the minute before" is never yesterday.
std::int64_t Noon() {
    return LocalMidnightMs(WallNowMs()) + 12 * kHour;
}

std::string Line(std::int64_t ms, const std::string& text) {
    return JournalLine(text, std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)),
                       RussianFormatSettings()) +
           "\n";
}

std::string Sent(std::int64_t ms, const std::string& client, std::uint32_t trId) {
    return Line(ms, "Заявка: покупка Si-3.27 1 по 95, клиент " + client + ".") +
           Line(ms, "Заявка отправлена, транзакция " + std::to_string(trId) + ".");
}

TEST(DayCounts, TheOrderLogTextIsReadWithoutLooseningAnything) {
    const std::int64_t day = LocalMidnightMs(WallNowMs());
    const std::int64_t t = day + 10 * kHour;
    struct TCase {
        const char* Name;
        std::string Text;
        std::vector<std::pair<std::int64_t, std::string>> Posts;
        std::set<std::int64_t> OrderIds;
        int Halted;
        std::size_t Damaged;
    };
    const std::string attempt = Line(t, "Заявка: продажа RI-3.27 2 по 100, клиент FZ00002.");
    const std::vector<TCase> cases = {
        {"sent, answered, refused",
         Sent(t, "FZ00001", 5) +
             Line(t + 1, "Ответ на заявку (транзакция 5): код 0, номер заявки 1850000000007.") +
             attempt + Line(t + 2, "Заявка отклонена: Заявок за минуту уже 3 (допустимо 3)."),
         {{t, "FZ00001"}},
         {1850000000007},
         -1,
         0},
        // Two threads' lines interleave: each outcome goes to the oldest open attempt.
        {"interleaved",
         attempt + Line(t, "Заявка: покупка Si-3.27 1 по 95, клиент FZ00001.") +
             Line(t + 5, "Заявка отклонена: Торговля остановлена.") +
             Line(t + 6, "Заявка отправлена, транзакция 9."),
         {{t + 6, "FZ00001"}},
         {},
         -1,
         0},
        // Killed while it wrote: the attempt's outcome is torn off, so it may have gone.
        {"torn outcome",
         attempt + Line(t + 3, "Заявка отправлена, транзак").substr(0, 40),
         {{t, "FZ00002"}},
         {},
         -1,
         1},
        // The line naming the client is garbage: the post counts for every client code.
        {"garbage attempt",
         "\x01\xff garbage --> Заявка: \n" + Line(t + 7, "Заявка отправлена, транзакция 3."),
         {{t + 7, ""}},
         {},
         -1,
         1},
        {"halted",
         Line(t, std::string(kHaltText) + ", снимается заявок: 2, без ответа биржи: 0."),
         {},
         {},
         1,
         0},
        {"re-armed",
         Line(t, std::string(kHaltText) + ", снимается заявок: 0, без ответа биржи: 0.") +
             Line(t + 9, "Торговля снова разрешена."),
         {},
         {},
         0,
         0},
        {"re-armed, then halted again",
         Line(t, "Торговля снова разрешена.") +
             Line(t + 9, std::string(kHaltText) + ", снимается заявок: 0, без ответа биржи: 0."),
         {},
         {},
         1,
         0},
    };
    for (const TCase& c : cases) {
        TLoggedDay d;
        ReadOrderLogText(c.Text, day, d);
        std::vector<std::pair<std::int64_t, std::string>> posts;
        for (const TLoggedPost& p : d.Posts) {
            posts.emplace_back(p.AtMs, p.Client);
        }
        EXPECT_EQ(posts, c.Posts) << c.Name;
        EXPECT_EQ(d.OrderIds, c.OrderIds) << c.Name;
        EXPECT_EQ(d.Halted, c.Halted) << c.Name;
        EXPECT_EQ(d.Damaged, c.Damaged) << c.Name;
    }
}

// A desk over a data folder of its own; the orders log and the user order book as the test
// sets them.
struct TDesk {
    explicit TDesk(const std::string& limitsText, std::int64_t now = Noon())
        : Dir(fs::temp_directory_path() /
              ("vorlen_daycounts_" + std::to_string(getpid()) + "_" + std::to_string(++Serial))),
          Log(Dir), Now(now) {
        fs::create_directories(Dir);
        EXPECT_TRUE(Limits.Parse(limitsText, Error)) << Error;
    }
    ~TDesk() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    void WriteLog(const std::string& text, std::int64_t day) const {
        std::ofstream(
            Log.FileFor(std::chrono::system_clock::time_point(std::chrono::milliseconds(day))),
            std::ios::binary | std::ios::app)
            << text;
    }
    TOrderDesk& Start() {
        TDeskInputs in;
        in.Facts = [this] {
            auto ref = std::make_shared<TRefFacts>(Ref);
            ref->Clients = {"FZ00001", "FZ00002"};
            ref->Instruments["Si-3.27"] = {7, "Si-3.27", P, 90 * P, 110 * P, true};
            ref->IsinById = {{7, "Si-3.27"}};
            TStoreFacts f;
            f.Ref = ref;
            f.Tracker = &Tracker;
            f.ExtIdsRef = &Tracker.ExtIds();
            f.ExtIdMax = Tracker.ExtIdMax();
            f.Book = Book;
            f.HaveBook = HaveBook;
            return f;
        };
        in.MarketData = [] { return TLinkHealth::Online; };
        in.NowMs = [this] { return Now; };
        Desk = std::make_unique<TOrderDesk>(
            Transport, Limits, in, [this](const std::string& t) { Journal.push_back(t); }, &Log);
        return *Desk;
    }
    TPlaceResult Buy(std::int64_t price, const char* client = "FZ00001") {
        return Desk->Place({"Si-3.27", TSide::Buy, 1, price * P, client, false});
    }

    static inline int Serial = 0;
    fs::path Dir;
    TOrderLogFile Log;
    std::int64_t Now;
    TLimitsBook Limits;
    std::string Error;
    TRefFacts Ref;
    TOwnOrderTracker Tracker;
    std::vector<TOwnOrder> Book;
    bool HaveBook = false;
    TScriptedTransport Transport;
    std::vector<std::string> Journal;
    std::unique_ptr<TOrderDesk> Desk;
};

TOrderLogRow Placed(std::int64_t orderId, std::int64_t atMs, const char* login,
                    std::int32_t sess = 0) {
    TOrderLogRow r;
    r.OrderId = orderId;
    r.IsinId = 7;
    r.Client = "FZ00001";
    r.Price = 95 * P;
    r.Action = 1;
    r.Amount = r.Rest = 1;
    r.MomentNs = atMs * 1'000'000;
    r.Login = login;
    r.SessId = sess;
    return r;
}

TEST(DayCounts, ARestartedDeskCountsWhatTheDayAlreadySent) {
    // The last minute's orders of an earlier run: the fourth within the minute is refused.
    {
        TDesk d("* per_minute=3 per_day=100\n");
        d.WriteLog(Sent(d.Now - 50'000, "FZ00001", 1) + Sent(d.Now - 30'000, "FZ00001", 2) +
                       Sent(d.Now - 10'000, "FZ00001", 3),
                   d.Now);
        d.Start();
        EXPECT_EQ(d.Buy(95).Status, TPlaceStatus::Refused);
        EXPECT_EQ(d.Buy(95, "FZ00002").Status, TPlaceStatus::Posted); // another client code
        d.Now += 11'000;                                              // the first is past
        EXPECT_EQ(d.Buy(96).Status, TPlaceStatus::Posted);
    }
    // Per day: the log's posts and the exchange's orders of the same login this terminal did
    // not send; not its own twice, not another login's, not yesterday's session.
    {
        TDesk d("* per_minute=100 per_day=5\n");
        d.Ref.SessionId = 7141;
        d.Ref.SessionBeginMs = d.Now - 3 * kHour;
        std::string text = Sent(d.Now - 2 * kHour, "FZ00001", 1) +
                           Line(d.Now - 2 * kHour, "Ответ на заявку (транзакция 1): код 0, "
                                                   "номер заявки 501.") +
                           Sent(d.Now - kHour, "FZ00001", 2);
        d.WriteLog(text, d.Now);
        d.Tracker.Add(Placed(501, d.Now - 2 * kHour, "trader", 7141)); // the log's own
        d.Tracker.Add(Placed(502, d.Now - 2 * kHour, "trader", 7141));
        d.Tracker.Add(Placed(503, d.Now - 2 * kHour, "trader", 0)); // no session: by its time
        d.Tracker.Add(Placed(504, d.Now - 2 * kHour, "other", 7141));
        d.Tracker.Add(Placed(505, d.Now - 20 * kHour, "trader", 7140));
        d.Start();
        // 2 from the file, 502 and 503 from the exchange: one more is the fifth.
        EXPECT_EQ(d.Buy(95).Status, TPlaceStatus::Posted);
        const TPlaceResult sixth = d.Buy(96);
        EXPECT_EQ(sixth.Status, TPlaceStatus::Refused);
        EXPECT_NE(sixth.Reason.find('5'), std::string::npos) << sixth.Reason;
    }
    // A session begun the evening before: its orders in yesterday's file count, the earlier
    // ones of that file do not.
    {
        TDesk d("* per_minute=100 per_day=3\n", LocalMidnightMs(WallNowMs()) + 2 * kHour);
        const std::int64_t yesterday = LocalMidnightMs(d.Now - 3 * kHour);
        d.Ref.SessionId = 7142;
        d.Ref.SessionBeginMs = yesterday + 19 * kHour;
        d.WriteLog(Sent(yesterday + 12 * kHour, "FZ00001", 1) +
                       Sent(yesterday + 20 * kHour, "FZ00001", 2),
                   yesterday);
        d.WriteLog(Sent(d.Now - kHour, "FZ00001", 1), d.Now);
        d.Start();
        EXPECT_EQ(d.Buy(95).Status, TPlaceStatus::Posted);
        EXPECT_EQ(d.Buy(96).Status, TPlaceStatus::Refused);
    }
    // A desk that runs for days counts by session: the next one starts the count again however
    // soon it begins, and the clock's midnight within a session does not. (Days to come, so that
    // the lines this desk writes at the wall clock's time are of no session here.)
    {
        const std::int64_t day = LocalMidnightMs(WallNowMs()) + 26 * kHour;
        TDesk d("* per_minute=100 per_day=2\n", day + 20 * kHour);
        d.Ref.SessionId = 7143;
        d.Ref.SessionBeginMs = day + 19 * kHour;
        d.Start();
        EXPECT_EQ(d.Buy(95).Status, TPlaceStatus::Posted);
        EXPECT_EQ(d.Buy(96).Status, TPlaceStatus::Posted);
        EXPECT_EQ(d.Buy(97).Status, TPlaceStatus::Refused);
        const std::int64_t next = day + 42 * kHour + 45 * kMinute;
        d.Ref.SessionId = 7144;
        d.Ref.SessionBeginMs = next;
        d.Now = next + 5 * kMinute;
        EXPECT_EQ(d.Buy(95).Status, TPlaceStatus::Posted);
        EXPECT_EQ(d.Buy(96).Status, TPlaceStatus::Posted);
        EXPECT_EQ(d.Buy(97).Status, TPlaceStatus::Refused);
        d.Now = day + 49 * kHour;
        EXPECT_EQ(d.Buy(98).Status, TPlaceStatus::Refused);
    }
}

TEST(DayCounts, AHaltOfTheSameDayHoldsUntilReArmed) {
    TDesk d("* per_minute=100\n");
    d.WriteLog(Line(d.Now - kHour,
                    std::string(kHaltText) + ", снимается заявок: 0, без ответа биржи: 0.") +
                   Line(d.Now - kHour + 5, "Все заявки сняты, торговля остановлена."),
               d.Now);
    TOrderDesk& desk = d.Start();
    EXPECT_EQ(desk.KillPhase(), TKillPhase::Halted);
    const TPlaceResult r = d.Buy(95);
    EXPECT_EQ(r.Status, TPlaceStatus::Refused);
    EXPECT_EQ(r.Reason, kHaltedRefusal);
    EXPECT_EQ(std::count_if(d.Journal.begin(), d.Journal.end(),
                            [](const std::string& t) {
                                return t.rfind("Торговля остановлена ранее", 0) == 0;
                            }),
              1);
    EXPECT_TRUE(desk.Rearm(true));
    EXPECT_EQ(d.Buy(95).Status, TPlaceStatus::Posted);

    // The re-arm went to the log: the next run starts armed.
    std::ifstream in(d.Log.FileFor(std::chrono::system_clock::now()), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    ASSERT_NE(text.find(std::string(kRearmText)), std::string::npos);
    TDesk again("* per_minute=100\n");
    again.WriteLog(text, again.Now);
    EXPECT_EQ(again.Start().KillPhase(), TKillPhase::Armed);

    // A session begun the evening before: a halt in yesterday's file holds if it was thrown in
    // this session, not if it was the session before's and the trader never came back to it.
    const std::string halt = std::string(kHaltText) + ", снимается заявок: 0, без ответа биржи: 0.";
    for (const int haltHour : {20, 12}) {
        SCOPED_TRACE(haltHour);
        TDesk d("* per_minute=100\n", LocalMidnightMs(WallNowMs()) + 2 * kHour);
        const std::int64_t yesterday = LocalMidnightMs(d.Now - 3 * kHour);
        d.Ref.SessionId = 7142;
        d.Ref.SessionBeginMs = yesterday + 19 * kHour;
        d.WriteLog(Line(yesterday + haltHour * kHour, halt), yesterday);
        d.Start();
        const TPlaceResult r = d.Buy(95);
        if (haltHour == 20) {
            EXPECT_EQ(r.Status, TPlaceStatus::Refused);
            EXPECT_EQ(r.Reason, kHaltedRefusal);
            EXPECT_EQ(d.Desk->KillPhase(), TKillPhase::Halted);
        } else {
            EXPECT_EQ(r.Status, TPlaceStatus::Posted) << r.Reason;
        }
    }
}

TOwnOrder Resting(std::int64_t orderId, std::int64_t extId = 0) {
    TOwnOrder o;
    o.OrderId = orderId;
    o.IsinId = 7;
    o.Client = "FZ00001";
    o.Price = 95 * P;
    o.Amount = o.Rest = 1;
    o.ExtId = extId;
    return o;
}

TEST(DayCounts, OwnOrdersCountFromEverySourceAfterTheOrdersLogIsCleared) {
    for (const bool book : {true, false}) {
        SCOPED_TRACE(book ? "with the user order book" : "without it");
        TDesk d("* max_active=3 per_minute=100\n");
        d.HaveBook = book;
        if (book) {
            d.Book.push_back(Resting(900)); // an earlier run's, its log rows long cleared
        }
        TOrderDesk& desk = d.Start();
        const int mine = book ? 2 : 3;
        for (int i = 0; i < mine; ++i) {
            ASSERT_EQ(d.Buy(95 - i).Status, TPlaceStatus::Posted);
        }
        d.Transport.ReplyAll();
        desk.Collect();
        for (const auto& [trId, post] : d.Transport.Posts) {
            TOrderLogRow r = Placed(1000 + trId, d.Now, "trader");
            r.ExtId = post.ExtId;
            d.Tracker.Add(r);
            if (book) {
                d.Book.push_back(Resting(1000 + trId, post.ExtId));
            }
        }
        ASSERT_EQ(d.Buy(90).Status, TPlaceStatus::Refused);
        // The exchange clears the orders log's rows: the orders rest all the same.
        d.Tracker.Clear();
        const TPlaceResult r = d.Buy(91);
        EXPECT_EQ(r.Status, TPlaceStatus::Refused) << r.Reason;
        EXPECT_EQ(desk.ActiveOrders().size(), 3u);

        desk.KillSwitch();
        EXPECT_EQ(d.Transport.Cancels(), 3u);
        d.Transport.ReplyAll(0);
        d.Book.clear();
        desk.Collect();
        ASSERT_TRUE(desk.LastKillReport().has_value());
        EXPECT_TRUE(desk.LastKillReport()->AllGone);
        EXPECT_TRUE(desk.ActiveOrders().empty());
    }
}

TEST(DayCounts, AnAcceptedOrderTheUserOrderBookShowsGoneIsNoLongerCounted) {
    TDesk d("* max_active=1 per_minute=100\n");
    d.HaveBook = true;
    TOrderDesk& desk = d.Start();
    ASSERT_EQ(d.Buy(95).Status, TPlaceStatus::Posted);
    d.Transport.ReplyAll();
    desk.Collect();
    // Not in the book yet (it lags the answer): still counted.
    EXPECT_EQ(d.Buy(94).Status, TPlaceStatus::Refused);
    d.Book.push_back(Resting(1001, d.Transport.Posts.begin()->second.ExtId));
    EXPECT_EQ(d.Buy(94).Status, TPlaceStatus::Refused);
    d.Book.clear(); // filled: the book lets it go, the cleared log says nothing
    EXPECT_EQ(d.Buy(94).Status, TPlaceStatus::Posted);
}

} // namespace
} // namespace vorlen::orders
