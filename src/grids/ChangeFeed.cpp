#include "grids/ChangeFeed.h"

#include "store/KeyTables.h"

#include <utility>

namespace vorlen {

TGridChangeFeed::TChanges TGridChangeFeed::Take(int grid, std::string_view stream,
                                                std::int64_t table) {
    if (grid < 0 || grid >= kGridCount)
        return {};
    TWatch& w = FWatch[static_cast<std::size_t>(grid)];
    std::int32_t s = -1;
    for (std::size_t i = 0; i < FStreams.size(); ++i)
        if (FStreams[i] == stream)
            s = static_cast<std::int32_t>(i);
    if (s != w.Stream || table != w.Table) {
        w.Stream = s;
        w.Table = table;
        w.Changes = {false, {}, {}};
        return {};
    }
    TChanges out = std::move(w.Changes);
    w.Changes = {false, {}, {}};
    // A stream the store has not named is not followed.
    if (s < 0)
        out.All = true;
    return out;
}

void TGridChangeFeed::Lose(std::int32_t stream, std::int64_t table) {
    for (TWatch& w : FWatch) {
        if (w.Stream == stream && (table < 0 || w.Table == table))
            w.Changes = {};
    }
}

void TGridChangeFeed::OnStreams(const std::vector<std::string>& names) {
    FStreams = names;
    for (TWatch& w : FWatch)
        w = {};
    if (FNext != nullptr)
        FNext->OnStreams(names);
}

TStoreObserver::TFollow
TGridChangeFeed::OnTableDescribed(std::int32_t stream, std::int32_t table,
                                  const cg_message_desc_t& desc,
                                  const std::shared_ptr<const TRows>& rows) {
    Lose(stream, table);
    // The feed keeps nothing in the rows and records stored rows told in bulk as well; the
    // follower behind it decides, except that a grid's table must be told every row stored.
    TFollow follow =
        FNext != nullptr ? FNext->OnTableDescribed(stream, table, desc, rows) : TFollow{};
    const std::string_view name = desc.name != nullptr ? desc.name : "";
    const auto s = static_cast<std::size_t>(stream);
    for (const TKeyTableRef& ref : kKeyTableRefs)
        if (s < FStreams.size() && ref.Stream == FStreams[s] && ref.Table == name)
            follow.KeyBytes = 0;
    return follow;
}

void TGridChangeFeed::Note(std::int32_t stream, std::int32_t table, std::int64_t id, bool removed) {
    for (TWatch& w : FWatch) {
        if (w.Stream != stream || w.Table != table || w.Changes.All)
            continue;
        if (w.Changes.Stored.size() + w.Changes.Removed.size() >= kMaxIds)
            w.Changes = {};
        else
            (removed ? w.Changes.Removed : w.Changes.Stored).push_back(id);
    }
}

void TGridChangeFeed::OnRow(std::int32_t stream, std::int32_t table, const TRowChange& change) {
    Note(stream, table, change.ReplId, change.Deleted);
    if (FNext != nullptr)
        FNext->OnRow(stream, table, change);
}

void TGridChangeFeed::OnRowsStored(std::int32_t stream, std::int32_t table,
                                   std::span<const TStoredRow> rows, TRowView latest) {
    for (const TStoredRow& r : rows)
        Note(stream, table, r.ReplId, !r.Row);
    if (FNext != nullptr)
        FNext->OnRowsStored(stream, table, rows, latest);
}

void TGridChangeFeed::OnStreamCleared(std::int32_t stream) {
    Lose(stream, -1);
    if (FNext != nullptr)
        FNext->OnStreamCleared(stream);
}

void TGridChangeFeed::OnDeletedCleared(std::int32_t stream, std::int32_t table, std::int64_t rev) {
    Lose(stream, table);
    if (FNext != nullptr)
        FNext->OnDeletedCleared(stream, table, rev);
}

} // namespace vorlen
