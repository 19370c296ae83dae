#pragma once

// One chart's data: the history of its instrument and interval from history.db, the live deals
// that continue it, and the trader's fills. Switching the interval reads the history again and
// replays the live deals kept so far, so nothing the stream brought is lost by a switch.

#include "chart/ChartCandles.h"
#include "chart/ChartView.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorlen::chart {

// What one read of the history gives.
struct THistory {
    std::vector<TCandle> Candles;
    std::int32_t LastSession = 0;
    // The deals of the recent past the candles already count: the live stream resends them.
    std::vector<std::int64_t> Counted;
    // The trader's deals the history holds (their side is not recorded).
    std::vector<TOwnFill> Fills;
    bool Nothing = false; // the database holds no deal of the instrument at all
};

class THistorySource {
public:
    virtual ~THistorySource() = default;
    // False with `error` when the history cannot be read.
    virtual bool Read(std::int32_t isinId, TInterval interval, std::int64_t fromMs,
                      std::int64_t toMs, THistory& out, std::string& error) = 0;
};

// history.db, opened read-only (the recorder may be writing it); each read is one snapshot.
class TDbHistory final : public THistorySource {
public:
    static constexpr std::int64_t kCountedReachMs = 36LL * 3600 * 1000;
    ~TDbHistory() override;
    // False with `error` when the file is missing or is not a database.
    bool Open(const std::filesystem::path& file, std::string& error);
    // The instrument's id by its code, as history/Candles.h finds it.
    std::optional<std::int32_t> FindInstrument(const std::string& text);
    bool Read(std::int32_t isinId, TInterval interval, std::int64_t fromMs, std::int64_t toMs,
              THistory& out, std::string& error) override;

private:
    sqlite3* FDb = nullptr;
};

class TChartData {
public:
    static constexpr std::int64_t kAll = std::numeric_limits<std::int64_t>::max() / 2;

    // `source` may be null (a chart of live deals only); it must outlive this.
    TChartData(THistorySource* source, std::int32_t isinId, std::int64_t fromMs = -kAll,
               std::int64_t toMs = kAll);

    // Reads the interval's history and replays the live deals kept so far. False with Error()
    // when the history could not be read (the live deals are shown all the same).
    bool Load(TInterval interval);
    // Live deals of the chart's instrument; deals seen before change nothing.
    void AddLive(std::span<const TLiveDeal> deals);
    // The trader's deals; a deal seen again replaces what was known of it (the stream knows the
    // side, the history does not).
    void AddFills(std::span<const TOwnFill> fills);

    const TCandleCache& Cache() const { return FCache; }
    const std::vector<TOwnFill>& Fills() const { return FFills; }
    // Live deals taken so far, each once.
    std::size_t LiveDeals() const { return FLive.size(); }
    std::uint64_t FillsVersion() const { return FFillsVersion; }
    bool NoHistory() const { return FNothing; }
    const std::string& Error() const { return FError; }
    std::int32_t IsinId() const { return FIsinId; }

private:
    THistorySource* FSource;
    std::int32_t FIsinId;
    std::int64_t FFrom, FTo;
    TCandleCache FCache{TInterval::Minute1};
    std::vector<TLiveDeal> FLive;
    std::unordered_map<std::int64_t, std::size_t> FLiveIds; // id -> index in FLive
    std::vector<TOwnFill> FFills;
    std::unordered_map<std::int64_t, std::size_t> FFillIds;
    std::uint64_t FFillsVersion = 0;
    bool FNothing = false;
    std::string FError;
};

} // namespace vorlen::chart
