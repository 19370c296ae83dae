#pragma once

// The replicated tables the router serves: rows per stream and table, revisions, life numbers,
// and the subscriptions that receive every change as it is made.

#include "../common/Catalogue.h"
#include "../common/Net.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vsim {

// One connection of a gateway library; the market appends frames to out.
struct Client {
    std::uint64_t id = 0;
    net::Socket sock = net::kInvalid;
    std::string in;
    std::string out;
    std::size_t outPos = 0;
    std::string app;
    std::string name;
    bool dead = false;
    std::size_t Pending() const { return out.size() - outPos; }
};

struct Row {
    std::int64_t rev = 0;
    std::uint64_t seq = 0; // arrival order: snapshots replay rows in it
    std::string data;      // the table's record, service fields included
};

struct Table {
    const TableDef* def = nullptr;
    std::unordered_map<std::int64_t, Row> rows;
    // Log tables keep only their latest rows (Market::SetLogRows); older ones leave the router's
    // memory unannounced (a terminal that saw them keeps them, a fresh snapshot no longer has
    // them). 0 keeps every row.
    std::size_t cap = 0;
    bool log = false;
    std::deque<std::int64_t> order;
};

struct Subscription;

struct Stream {
    const StreamDef* def = nullptr;
    std::uint32_t life = 1;
    std::int64_t rev = 0;
    std::vector<Table> tables;
    std::vector<Subscription*> subs;
};

struct Subscription {
    Client* client = nullptr;
    std::uint32_t id = 0;
    Stream* stream = nullptr;
    std::vector<int> slotOf; // stream table index -> client's table slot, or -1
};

// The reply to one posted message: the reply message and its record.
struct Reply {
    const TableDef* def = nullptr;
    std::string data;
};

// A subscription as the client made it, to hand over to a replay.
struct SubscriptionInfo {
    Client* client = nullptr;
    std::uint32_t id = 0;
    std::string stream;
    std::vector<std::string> tables; // in the client's slot order
};

struct MarketCounters {
    std::uint64_t rows = 0;      // row frames queued
    std::uint64_t frames = 0;    // every frame queued
    std::uint64_t snapshots = 0; // subscriptions served
};

// Rows a log table keeps by default: a trading day (about 14 hours) at the default rate of 200
// events per second, as if every event went to the one table.
constexpr std::size_t kDefaultLogRows = 10'000'000;

class Market {
public:
    Market();

    // Rows each log table (order logs, deals, events) keeps; 0 keeps every row.
    void SetLogRows(std::size_t rows);

    Stream* Find(std::string_view stream);
    Stream& At(std::string_view stream); // aborts on a name that is not in the catalogue
    static int TableIndex(const Stream& s, std::string_view table);

    // A zeroed record of the table, for filling before Upsert.
    std::string Blank(const Stream& s, int table) const;
    // Stores the record under id (replID, replRev and replAct are set here) and sends it to
    // every subscriber of the table.
    void Upsert(Stream& s, int table, std::int64_t id, std::string data);
    // The same from a scratch record the caller keeps: an existing row's buffer is reused.
    void UpsertCopy(Stream& s, int table, std::int64_t id, const std::string& data);
    // Removes the row and sends it with a non-zero deletion mark; false when absent.
    bool Delete(Stream& s, int table, std::int64_t id);
    // Drops rows whose revision is below rev and tells subscribers.
    void ClearDeleted(Stream& s, int table, std::int64_t rev);
    // A new life number: subscribers are told, then receive the whole stream again.
    void SetLife(Stream& s, std::uint32_t life);
    void ReplState(Stream& s, std::string_view text);
    std::int64_t NextId(Stream& s, int table);

    // False with a reason for an unknown stream or table.
    bool Subscribe(Client& c, std::uint32_t id, std::string_view stream, std::uint32_t life,
                   const std::vector<std::string>& tables, std::string& reason);
    void Unsubscribe(Client& c, std::uint32_t id);
    void DropClient(Client& c);
    // Ends every subscription and says what each was.
    std::vector<SubscriptionInfo> TakeSubscriptions();
    bool HasSubscribers(const Stream& s) const { return !s.subs.empty(); }

    const MarketCounters& Counters() const { return counters_; }
    std::vector<Stream>& Streams() { return streams_; }

private:
    // What Upsert and UpsertCopy do, with the record's bytes put in place by `fill`.
    template <class TFill>
    void Store(Stream& s, int table, std::int64_t id, const TFill& fill);
    void SendRow(Subscription& sub, int table, const Row& row);
    void SendSnapshot(Subscription& sub);

    std::vector<Stream> streams_;
    std::vector<std::unique_ptr<Subscription>> subs_;
    std::map<std::pair<const Stream*, int>, std::int64_t> nextId_;
    std::uint64_t seq_ = 0;
    MarketCounters counters_;
};

} // namespace vsim
