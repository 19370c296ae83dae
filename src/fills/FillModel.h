#pragma once

// How a simulated exchange fills the trader's orders against a market it only watches: a
// recorded day played back, or a backtest. The market is what was recorded (the book's price
// levels, its deals), and it never learns of the trader's orders; these models decide when and
// how much of an order would have traded had it been there. One engine per instrument.
//
// Prices are integers in a unit the caller chooses (price steps, or 1e-5 of the currency), the
// same for every call. No clock, thread or random number takes part: the same calls give the
// same fills.

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlen::fills {

enum class TFillModel {
    Touch,   // a resting order fills when the opposite best price reaches it
    Through, // only when a deal trades through its price
    Queue,   // after the volume ahead of it at its price has traded
};

std::optional<TFillModel> ParseFillModel(std::string_view name); // "touch", "through", "queue"
std::string_view FillModelName(TFillModel model);

enum class TFillSide { Buy = 1, Sell = 2 };

struct TFill {
    std::int64_t OrderId = 0;
    TFillSide Side = TFillSide::Buy;
    std::int64_t Price = 0;
    std::int64_t Qty = 0;
    std::int64_t Rest = 0; // what remains of the order after this fill
};

class TFillEngine {
public:
    explicit TFillEngine(TFillModel model) : FModel(model) {}

    TFillModel Model() const { return FModel; }

    // --- The recorded market.
    // The volume now standing at one price of the book (0: the level is gone). Under `touch`, a
    // resting order the opposite side now reaches fills from the level at once.
    void SetLevel(TFillSide side, std::int64_t price, std::int64_t volume);
    // The whole book goes (a new life number, a seek): levels, and liquidity taken from them.
    void ClearBook();
    // A recorded deal of `qty` at `price`. `resting` is the side whose order stood in the book
    // (known from the order log); unknown, the deal is taken to have traded the side the trader's
    // order is on, the optimistic reading.
    void Deal(std::int64_t price, std::int64_t qty, std::optional<TFillSide> resting);

    // --- The trader's orders.
    // A new limit order: what the book's opposite side holds at its price or better fills it at
    // once, level by level at the levels' prices, never more than the levels' volume less what
    // earlier orders of the trader took; the rest rests. Returns the fills made now.
    std::vector<TFill> Add(std::int64_t id, TFillSide side, std::int64_t price, std::int64_t qty);
    // Takes a resting order away; false when none rests under that id.
    bool Cancel(std::int64_t id);
    // What rests of an order (0 when none).
    std::int64_t Resting(std::int64_t id) const;
    // Every resting order goes (a seek cancels them).
    void CancelAll();

    // Fills the recorded market made since the last call, in the order they happened.
    std::vector<TFill> TakeFills();

    // The volume the trader may still take at a price of a side: recorded less taken.
    std::int64_t Visible(TFillSide side, std::int64_t price) const;

private:
    struct TOrder {
        TFillSide Side = TFillSide::Buy;
        std::int64_t Price = 0;
        std::int64_t Rest = 0;
        std::int64_t Ahead = 0; // queue: recorded volume in front of it at its price
        std::uint64_t Seq = 0;  // time priority among the trader's own orders
    };
    struct TLevel {
        std::int64_t Volume = 0; // as recorded
        std::int64_t Taken = 0;  // by the trader's orders, until the recording shows it gone
    };
    using TSideBook = std::map<std::int64_t, TLevel>;

    TSideBook& Book(TFillSide side) { return side == TFillSide::Buy ? FBids : FAsks; }
    const TSideBook& Book(TFillSide side) const { return side == TFillSide::Buy ? FBids : FAsks; }
    // Fills `order` from the opposite levels it reaches, best first: at the levels' prices for an
    // order arriving, at its own for one that rested there first (the market came to it).
    void TakeLiquidity(std::int64_t id, TOrder& order, bool resting, std::vector<TFill>& out);
    void Fill(std::int64_t id, TOrder& order, std::int64_t price, std::int64_t qty,
              std::vector<TFill>& out);
    // Resting orders of `side` in priority: best price first, then the earlier.
    std::vector<std::pair<std::int64_t, TOrder*>> InPriority(TFillSide side);

    TFillModel FModel;
    TSideBook FBids, FAsks;
    std::map<std::int64_t, TOrder> FOrders;
    std::vector<TFill> FPending;
    std::uint64_t FSeq = 0;
};

} // namespace vorlen::fills
