#pragma once

// One instrument's order book as readers see it: a copy of at most the subscribed depth of
// levels per side, taken in one hold of the store's lock (TBookKeeper::Snapshot), with the
// trader's positions in the instrument and what is needed to value them.
//
// Prices are the values the store's own conversion gives for the exchange's decimals, so two
// rows that carry the same decimal meet at the same level.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr std::string_view kBookNotSubscribedText = "поток стакана не подписан";
inline constexpr std::string_view kBookWaitingText = "ожидание данных стакана";
inline constexpr std::string_view kVmNotSubscribedText = "поток вариационной маржи не подписан";
inline constexpr std::string_view kNoPositionText = "позиции нет";

enum class TBookStatus {
    NotSubscribed, // no aggregated order-book stream is chosen
    Waiting,       // one is chosen, its table has not been described yet
    Live,          // levels are those the exchange sent (possibly none)
};

struct TBookLevel {
    double Price = 0;
    std::int64_t Volume = 0;
    // The trader's own resting volume at this price and side; 0 when none.
    std::int64_t Own = 0;
    bool operator==(const TBookLevel&) const = default;
};

// One client code's position in the instrument.
struct TBookPosition {
    std::string Client;
    std::int64_t Pos = 0;
    double AvgPrice = 0;             // waprice
    std::optional<double> VarMargin; // none when the stream is not chosen or has no row yet
};

// The trader's resting volume at one price and side, wherever it is in the book.
struct TOwnLevel {
    int Dir = 0; // 1 buy, 2 sell
    double Price = 0;
    std::int64_t Volume = 0;
    bool operator==(const TOwnLevel&) const = default;
};

struct TBookSnapshot {
    std::int32_t IsinId = 0;
    TBookStatus Status = TBookStatus::NotSubscribed;
    int Depth = 0; // levels per side of the chosen stream
    // Best first: bids by falling, asks by rising price.
    std::vector<TBookLevel> Bids;
    std::vector<TBookLevel> Asks;
    // Changes with every change of anything here; equal versions mean equal contents.
    std::uint64_t Version = 0;
    // When the levels last changed; none before the first row of this instrument.
    std::optional<std::chrono::system_clock::time_point> LastUpdate;

    // Every price the trader rests at, the subscribed depth's and beyond it, by side and price.
    std::vector<TOwnLevel> OwnOrders;

    std::optional<double> LastDeal; // the market's last deal price, when known
    std::optional<double> MinStep;  // from the instrument's reference row
    std::optional<double> StepPrice;
    bool VmSubscribed = false;
    std::vector<TBookPosition> Positions;

    std::optional<double> BestBid() const;
    std::optional<double> BestAsk() const;
    // The exchange sent a book whose best bid is not below its best ask. It is shown as sent:
    // hiding levels would show a market that does not exist.
    bool Crossed() const;
};

// Mid of best bid and ask; with one side empty the last deal price; none without either.
std::optional<double> MarkPrice(const TBookSnapshot& book);

// (mark - average price) * position * step price / minimum step; none when any input is
// missing or the minimum step is not positive.
std::optional<double> OpenPnl(std::optional<double> mark, double avgPrice, std::int64_t pos,
                              std::optional<double> stepPrice, std::optional<double> minStep);

// The rows of the header and of a position dump: client code, position, average price, mark,
// open P&L, variation margin (or the not-subscribed text). Figures as the grids show numbers;
// an unknown figure is empty.
struct TPositionRow {
    std::string Client, Pos, AvgPrice, Mark, OpenPnl, VarMargin;
};
std::vector<TPositionRow> PositionRows(const TBookSnapshot& book);

// A price or money figure as the grids show it.
std::string NumberText(double v);
// Roubles to the kopeck with the locale's separator: "-48,80 ₽" (a sum of doubles such as
// -48.7999999999738 is no figure to show a trader).
std::string MoneyText(double roubles);
// A price rounded to the decimals of the instrument's minimum step (as many as the exchange's
// prices carry without one), shown as the grids show numbers.
std::string PriceText(double price, std::optional<double> minStep);

} // namespace vorlen
