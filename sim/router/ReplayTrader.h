#pragma once

// The trader's own orders while a recording plays: they fill against the recorded market
// through the fill models (one engine per instrument, fed the recorded book levels and deals),
// and their rows are added to the trader's recorded streams: orders log, user order book, own
// deals; recorded positions and money go out with the replay's trading added. The recorded
// market itself never learns of them.

#include "../common/Row.h"
#include "Market.h"
#include "fills/FillModel.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vsim {

struct ReplayState;

class ReplayTrader {
public:
    // Puts one of the trader's rows into the replica and sends it: under `id`, with revision
    // `rev` (negative: the stream's latest), or takes it away.
    using PutRow = std::function<void(int stream, int table, std::int64_t id, std::string data,
                                      bool deleted, std::int64_t rev)>;

    ReplayTrader(const ReplayState& state, PutRow put);

    // The model of instruments the trader first orders from now on.
    void SetModel(vorlen::fills::TFillModel model) { model_ = model; }
    // The book stream to fill against: the deepest of the aggregated books the recording holds.
    void ChooseBook(const std::vector<char>& recorded);
    int BookStream() const { return book_; }
    int BookTable() const { return bookTable_; }
    int DealStream() const { return deals_; }
    int DealTable() const { return dealTable_; }

    // A posted message while replaying; `nowNs` the market time.
    Reply Handle(std::uint32_t msgId, std::string_view msgName, const char* data, std::size_t n,
                 std::int64_t nowNs);

    // The recorded market, as it plays (only while some instrument has an engine).
    bool Watching() const { return !engines_.empty(); }
    void BookRow(const std::string* before, const std::string* after);
    void DealRow(const std::string& row);
    // The book stream was cleared or replaced: every engine reads its levels again.
    void BookReset();
    // Rows for what the market filled since the last call.
    void Flush(std::int64_t nowNs);
    // A seek: every resting order is cancelled, and the books read again.
    void CancelAll(std::int64_t nowNs);

    // A recorded row of the trader's positions or money, with the replay's trading added.
    void Adjust(int stream, int table, std::string& row) const;
    // The same for every recorded row of those tables in `st` (read without adjusting).
    void Readjust(ReplayState& st) const;
    static constexpr std::int64_t kFirstOwnRow = std::int64_t{1} << 62;

private:
    struct Own {
        std::int32_t isin = 0;
        int dir = 1;
        std::int64_t price = 0, amount = 0, rest = 0;
        std::string client; // as the position and money rows write it
        std::string comment;
        std::int64_t extId = 0;
    };
    struct PositionDelta {
        std::int64_t xpos = 0, buys = 0, sells = 0;
        double net = 0;
    };
    struct Ref {
        int stream = -1, table = -1;
        const TableDef* def = nullptr;
    };

    Ref Find(const char* stream, const char* table) const;
    vorlen::fills::TFillEngine& Engine(std::int32_t isin);
    void Seed(std::int32_t isin, vorlen::fills::TFillEngine& e) const;
    void Fill(std::int64_t id, const vorlen::fills::TFill& f, std::int64_t nowNs);
    void LogRow(std::int64_t id, const Own& o, int action, std::int64_t amount, std::int64_t deal,
                std::int64_t dealPrice, std::int64_t nowNs);
    void BookOrder(std::int64_t id, const Own& o, std::int64_t nowNs);
    void PositionChanged(const Own& o, const PositionDelta& d, double fee);
    std::string FullClient(const std::string& client) const;
    Reply MakeReply(const char* msg, std::int32_t code, std::int64_t orderId,
                    std::int64_t amount) const;

    const ReplayState& state_;
    PutRow put_;
    const Catalogue& cat_;
    vorlen::fills::TFillModel model_ = vorlen::fills::TFillModel::Touch;
    int book_ = -1, bookTable_ = -1, deals_ = -1, dealTable_ = -1;
    Ref log_, userBook_, userDeal_, position_, part_;
    std::map<std::int32_t, std::unique_ptr<vorlen::fills::TFillEngine>> engines_;
    std::map<std::int64_t, Own> orders_;
    std::map<std::pair<std::string, std::int32_t>, PositionDelta> positions_;
    std::map<std::string, double> fees_;
    std::int64_t nextOrder_ = 1'990'000'000'001;
    std::int64_t nextDeal_ = 1'790'000'000'001;
    std::int64_t nextRow_ = kFirstOwnRow; // above any replication id of a recording
};

} // namespace vsim
