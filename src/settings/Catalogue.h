#pragma once

// The fixed catalogue of replication streams and their tables, the market presets and the
// order-book depth choice. Everything here is constant data: nodes are never added or renamed at
// run time, and listener order and saved-file line order both follow the order given here.

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr std::string_view kTreeRootText = "Потоки и таблицы";
inline constexpr std::string_view kMarketDataGroup = "Маркет-дата";
inline constexpr std::string_view kPersonalDataGroup = "Личные данные";

struct TCatalogueStream {
    std::string_view Name;
    std::vector<std::string_view> Tables;
};

struct TCatalogueGroup {
    std::string_view Name;
    std::vector<TCatalogueStream> Streams;
};

using TCatalogue = std::vector<TCatalogueGroup>;

// The two groups with their 30 streams and 120 tables, in tree order.
const TCatalogue& StreamCatalogue();

// The market drop-down, in item order.
inline constexpr int kMarketNone = -1;
inline constexpr int kMarketFutures = 0;
inline constexpr int kMarketOptions = 1;
inline constexpr int kMarketCustom = 2;
inline constexpr std::array<std::string_view, 3> kMarketNames = {"FUTURES", "OPTIONS",
                                                                 "CUSTOM SELECT"};

// The depth radio group: item texts, the order-book depth each one stands for, and the aggregated
// order-book stream it subscribes.
inline constexpr int kDepthNone = -1;
inline constexpr std::array<std::string_view, 3> kDepthItems = {"5", "20", "50"};
inline constexpr std::array<int, 3> kDepthValues = {5, 20, 50};
inline constexpr std::array<std::string_view, 3> kDepthStreams = {
    "FORTS_AGGR5_REPL", "FORTS_AGGR20_REPL", "FORTS_AGGR50_REPL"};

// What a market preset switches off: streams by name, and tables by name under every stream that
// has them.
struct TMarketPreset {
    std::span<const std::string_view> Streams;
    std::span<const std::string_view> Tables;
};

// The exclusion lists of FUTURES and OPTIONS; nullptr for CUSTOM SELECT and any other index,
// which have no lists.
const TMarketPreset* MarketPreset(int market);

bool Contains(std::span<const std::string_view> names, std::string_view name);

} // namespace vorlen
