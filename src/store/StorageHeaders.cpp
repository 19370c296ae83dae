// The instrument lists the store builds from the reference tables, and the copies of them and
// of the stream list it hands out.

#include "store/FieldConversion.h"
#include "store/Storage.h"
#include "store/StorageImpl.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlen {

namespace {

// Positions of the fields an instrument list reads; -1 for one the table lacks.
template <std::size_t N>
std::array<int, N> Positions(const TRows& rows, const char* const (&names)[N]) {
    std::array<int, N> pos{};
    for (std::size_t i = 0; i < N; ++i)
        pos[i] = rows.IndexOf(names[i]);
    return pos;
}

template <std::size_t N>
bool AllFound(const std::array<int, N>& pos) {
    for (int p : pos)
        if (p < 0)
            return false;
    return true;
}

std::string Text(const TRowView& row, int pos) {
    return ValueToStr(row.Value(pos));
}

} // namespace

// Every row of a table has the same fields, so a field missing from the table is missing from
// the first row that needs it: the list keeps its full length with the entries before that row
// filled and the rest empty.
bool TCGStorage::Impl::BuildFutures(const TRows& rows) {
    const std::size_t n = rows.Size();
    if (n == 0)
        return true;
    THeaders& list = MarData.FutHdr;
    list.assign(n, THeader{});
    const int isin = rows.IndexOf("isin");
    if (isin < 0)
        return false;
    static const char* const kNames[] = {"isin_id", "short_isin", "name"};
    const auto pos = Positions(rows, kNames);
    std::size_t i = 0;
    for (const TRowView row : rows) {
        std::string code = Text(row, isin);
        if (CLTFut && code.find("_CLT") != std::string::npos)
            continue;
        if (!AllFound(pos))
            return false;
        THeader& h = list[i++];
        h.isin = std::move(code);
        h.isin_id = VarAsInteger(row.Value(pos[0]));
        h.short_isin = Text(row, pos[1]);
        h.name = Text(row, pos[2]);
    }
    list.resize(i);
    return true;
}

bool TCGStorage::Impl::BuildOptions(const TRows& rows) {
    const std::size_t n = rows.Size();
    if (n == 0)
        return true;
    THeaders& list = MarData.OptHdr;
    list.assign(n, THeader{});
    static const char* const kNames[] = {"isin_id", "short_isin", "isin", "name"};
    const auto pos = Positions(rows, kNames);
    if (!AllFound(pos))
        return false;
    std::size_t i = 0;
    for (const TRowView row : rows) {
        THeader& h = list[i++];
        h.isin_id = VarAsInteger(row.Value(pos[0]));
        h.short_isin = Text(row, pos[1]);
        h.isin = Text(row, pos[2]);
        h.name = Text(row, pos[3]);
    }
    return true;
}

bool TCGStorage::Impl::BuildSpot(const TRows& rows) {
    const std::size_t n = rows.Size();
    if (n == 0)
        return true;
    TSHeaders& list = MarData.SpotHdr;
    list.assign(n, TSpotHeader{});
    static const char* const kNames[] = {"bond_id", "small_name", "short_isin", "name"};
    const auto pos = Positions(rows, kNames);
    if (!AllFound(pos))
        return false;
    std::size_t i = 0;
    for (const TRowView row : rows) {
        TSpotHeader& h = list[i++];
        h.bond_id = VarAsInteger(row.Value(pos[0]));
        h.small_name = Text(row, pos[1]);
        h.short_isin = Text(row, pos[2]);
        h.name = Text(row, pos[3]);
    }
    return true;
}

bool TCGStorage::BuildHeaders() {
    using TPass = bool (Impl::*)(const TRows&);
    struct TStep {
        std::int32_t TMarketData::*Str;
        std::int32_t TMarketData::*Tbl;
        TPass Pass;
    };
    static constexpr TStep kSteps[] = {
        {&TMarketData::FutSPos, &TMarketData::FutTpos, &Impl::BuildFutures},
        {&TMarketData::OptSpos, &TMarketData::OptTpos, &Impl::BuildOptions},
        {&TMarketData::SpotSpos, &TMarketData::SpotTpos, &Impl::BuildSpot},
    };
    for (const TStep& step : kSteps) {
        // Each list under a lock span of its own, so the market-data thread is held up for one
        // table at a time.
        TMutexGuard lock(FMutex);
        auto& d = *FImpl;
        const std::int32_t s = d.MarData.*step.Str;
        const std::int32_t t = d.MarData.*step.Tbl;
        if (s < 0 || t < 0)
            continue;
        const TTable* table = d.TableAt(s, t);
        if (table == nullptr || !table->Values)
            continue;
        d.ListsChanged();
        if (!(d.*step.Pass)(*table->Values))
            return false;
    }
    return true;
}

void TCGStorage::GetData(TMarketData& Data) {
    TMutexGuard lock(FMutex);
    const TMarketData& m = FImpl->MarData;
    // An expert asks at every wake-up and nearly always holds the lists already: copying the
    // instruments' names again kept the lock, and the thread's caches, busy for nothing.
    if (Data.Generation == m.Generation)
        return;
    // Names and row-set handles only; the rows themselves stay shared.
    Data = m;
}

void TCGStorage::GetHeaders(THeaders& FHdr, THeaders& OHdr, TSHeaders& SHdr) {
    TMutexGuard lock(FMutex);
    FHdr = FImpl->MarData.FutHdr;
    OHdr = FImpl->MarData.OptHdr;
    SHdr = FImpl->MarData.SpotHdr;
}

} // namespace vorlen
