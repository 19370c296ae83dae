#include "strategies/ExpertWorld.h"

#include "experts/Expert.h"
#include "store/FieldConversion.h"
#include "store/Storage.h"

#include <chrono>
#include <variant>

namespace vorlen {

namespace {

// A numeric field as a double; none for any other kind.
std::optional<double> Number(const TValue& v) {
    return std::visit(
        [](const auto& x) -> std::optional<double> {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
                return static_cast<double>(x);
            else
                return std::nullopt;
        },
        v);
}

const TTable* FindTable(const TMarketData& data, const std::string& stream,
                        const std::string& table) {
    for (const TStream& s : data.Streams) {
        if (s.sName != stream)
            continue;
        for (const TTable& t : s.Tables) {
            if (t.tName == table)
                return &t;
        }
    }
    return nullptr;
}

} // namespace

TExpertWorld::TExpertWorld(TExpert& expert, TCGStorage& store, TStrategyOrders* orders,
                           TStrategyBook* book)
    : FExpert(expert), FStore(store), FOrders(orders), FBook(book) {}

TField TExpertWorld::GetField(const std::string& name) {
    return FExpert.DataBase.GetField(name);
}

std::optional<TDecimal> TExpertWorld::PriceStep() {
    if (FStep)
        return FStep;
    const TMarketData& data = FExpert.DataBase.DataBuff;
    if (data.FutSPos < 0 || static_cast<std::size_t>(data.FutSPos) >= data.Streams.size())
        return std::nullopt;
    const auto& tables = data.Streams[static_cast<std::size_t>(data.FutSPos)].Tables;
    if (data.FutTpos < 0 || static_cast<std::size_t>(data.FutTpos) >= tables.size())
        return std::nullopt;
    TCGStorage::TAccess access(FStore);
    const TRows& rows = access.Rows(tables[static_cast<std::size_t>(data.FutTpos)]);
    const int isinPos = rows.IndexOf("isin_id");
    const int stepPos = rows.IndexOf("min_step");
    if (isinPos < 0 || stepPos < 0)
        return std::nullopt;
    for (const TRowView row : rows) {
        if (VarAsInteger(row.Value(isinPos)) != FExpert.isin_id)
            continue;
        const std::optional<double> step = Number(row.Value(stepPos));
        if (step && *step > 0)
            FStep = DecimalFromDouble(*step);
        break;
    }
    return FStep;
}

bool TExpertWorld::Book(TBookSnapshot& out) {
    return FBook != nullptr && FBook->Snapshot(FExpert.isin_id, out);
}

std::uint64_t TExpertWorld::BookVersion() {
    return FBook != nullptr ? FBook->Version(FExpert.isin_id) : 0;
}

bool TExpertWorld::Position(const std::string& client, TPositionInfo& out) {
    const TTable* table = FindTable(FExpert.DataBase.DataBuff, "FORTS_POS_REPL", "position");
    if (table == nullptr)
        return false;
    TCGStorage::TAccess access(FStore);
    const TRows& rows = access.Rows(*table);
    const int isinPos = rows.IndexOf("isin_id");
    const int clientPos = rows.IndexOf("client_code");
    const int posPos = rows.IndexOf("xpos");
    const int pricePos = rows.IndexOf("waprice");
    if (isinPos < 0 || posPos < 0)
        return false;
    bool found = false;
    double weighted = 0;
    std::int64_t gross = 0;
    out = TPositionInfo{};
    for (const TRowView row : rows) {
        if (VarAsInteger(row.Value(isinPos)) != FExpert.isin_id)
            continue;
        if (!client.empty()) {
            const TValue code = clientPos >= 0 ? row.Value(clientPos) : TValue{};
            const auto* text = std::get_if<std::string>(&code);
            if (text == nullptr || *text != client)
                continue;
        }
        const std::int64_t pos = VarAsInt64(row.Value(posPos));
        if (pos == kNoInteger)
            continue;
        const double price = pricePos >= 0 ? Number(row.Value(pricePos)).value_or(0) : 0;
        found = true;
        out.Net += pos;
        gross += pos < 0 ? -pos : pos;
        weighted += price * static_cast<double>(pos < 0 ? -pos : pos);
    }
    // Clients on both sides of the market do not average into one meaningful price.
    const std::int64_t net = out.Net < 0 ? -out.Net : out.Net;
    out.AvgPrice = gross > 0 && gross == net ? weighted / static_cast<double>(gross) : 0;
    return found;
}

std::string TExpertWorld::HaltReason() {
    return FOrders != nullptr ? FOrders->HaltReason() : std::string();
}

std::string TExpertWorld::OrderPathRefusal() {
    return FOrders != nullptr ? FOrders->HaltReason() : std::string(kNoGateRefusal);
}

TOrderResult TExpertWorld::Place(const orders::TOrderRequest& order) {
    if (FOrders == nullptr)
        return TOrderResult{0, kNoGateRefusal};
    return FOrders->Place(order);
}

std::string TExpertWorld::Cancel(std::int64_t id) {
    return FOrders != nullptr ? FOrders->Cancel(id) : std::string(kNoGateRefusal);
}

std::vector<orders::TOwnOrder> TExpertWorld::ActiveOrders() {
    return FOrders != nullptr ? FOrders->ActiveOrders() : std::vector<orders::TOwnOrder>{};
}

bool TExpertWorld::NextOrderEvent(TOrderEvent& out) {
    return FOrders != nullptr && FOrders->NextOrderEvent(out);
}

void TExpertWorld::Log(const std::string& text) {
    FExpert.WriteMemo(text);
}

double TExpertWorld::Now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace vorlen
