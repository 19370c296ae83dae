#include "grids/GridPass.h"

#include "grids/MomentText.h"
#include "store/Storage.h"

#include <algorithm>
#include <chrono>

namespace vorlen {

namespace {
constexpr int kNoField = -2;
}

TGridPass::TGridPass(const TGridLayout& layout)
    : FLayout(layout), FCols(layout.Columns.size()), FValues(kChunkRows * FCols), FCut(kChunkRows),
      FPos(FCols, kNoField), FCells(FCols) {}

void TGridPass::Resolve(const TRowLayout& layout) {
    for (std::size_t c = 0; c < FCols; ++c) {
        const std::string_view field = FLayout.Columns[c].Field;
        FPos[c] = field.empty() ? kNoField : layout.IndexOf(field);
    }
    FActionPos = layout.IndexOf("private_action");
    FResolved = &layout;
}

void TGridPass::Begin(TGridSink& grid) {
    grid.BeginUpdate();
    // Rows are handed over whole, so the grid starts from no rows rather than one empty one.
    grid.SetRowCount(0);
    FStop = false;
    FFilled = 0;
}

void TGridPass::End(TGridSink& grid, int rows) {
    if (rows == 0)
        grid.SetRowCount(1);
    grid.EndUpdate();
    // The order is only good for this pass; a big one is not worth keeping between passes.
    FKeys.clear();
}

int TGridPass::WriteChunk(TGridSink& grid, int row, const TFormatSettings& fs) {
    for (std::size_t s = 0; s < FFilled; ++s) {
        const TField* slot = FValues.data() + s * FCols;
        const std::size_t cut = FCut[s];
        for (std::size_t c = 0; c < FCols; ++c) {
            std::string& cell = FCells[c];
            cell.clear();
            if (c < cut && !FLayout.Columns[c].Field.empty())
                AppendValueText(cell, slot[c].Data, fs);
        }
        grid.SetRow(row++, FCells);
        // The sink hands back the storage of the row it replaced; a grid of another width
        // must not leave this pass with a row of the wrong size.
        if (FCells.size() != FCols)
            FCells.resize(FCols);
    }
    FFilled = 0;
    return row;
}

void TGridPass::Run(TCGStorage& store, const TTable& table, TGridSink& grid,
                    std::optional<std::int32_t> filter, const TFormatSettings& fs) {
    RunOn(
        [&](const auto& fn) {
            const TCGStorage::TAccess access(store);
            fn(access.Rows(table));
        },
        grid, filter, fs);
}

namespace {

std::string MessageKey(const TRowView& row, const TField& moment, const std::string& text,
                       const TFormatSettings& fs) {
    if (const TField id = row.Field("id"); id.FType != nullptr) {
        const TField sess = row.Field("sess_id");
        return "id " + ValueToStr(sess.Data, fs) + ' ' + ValueToStr(id.Data, fs);
    }
    return "at " + ValueToStr(moment.Data, fs) + '\x1f' + text;
}

} // namespace

bool TSeenMessages::Looked(std::int64_t replId, std::string_view bytes) {
    const std::size_t print = std::hash<std::string_view>{}(bytes);
    FNext.emplace(replId, print);
    const auto it = FRows.find(replId);
    return it != FRows.end() && it->second == print;
}

void TSeenMessages::EndRows() {
    FRows.swap(FNext);
    FNext.clear();
}

int JournalSysMessages(TCGStorage& store, const TTable& table, TJournalSink* memo,
                       TSeenMessages& seen, const TFormatSettings& fs) {
    struct TMessage {
        TValue Moment;
        std::string Text;
    };
    std::vector<TMessage> messages;
    {
        TCGStorage::TAccess access(store);
        const TRows& rows = access.Rows(table);
        std::vector<std::int64_t> keys = rows.Keys();
        std::sort(keys.begin(), keys.end());
        for (const std::int64_t key : keys) {
            const TRowView row = rows.Find(key);
            if (!row || seen.Looked(key, {reinterpret_cast<const char*>(row.Data()), row.Size()}))
                continue;
            const TField lang = row.Field("lang_code");
            const TField moment = row.Field("moment");
            const TField text = row.Field("text");
            if (lang.FType != nullptr && moment.FType != nullptr && text.FType != nullptr &&
                ValueToStr(lang.Data, fs) == "ru") {
                std::string shown = ValueToStr(text.Data, fs);
                if (seen.Insert(MessageKey(row, moment, shown, fs)))
                    messages.push_back({moment.Data, std::move(shown)});
            }
        }
        seen.EndRows();
    }
    if (memo == nullptr)
        return 0;
    for (const TMessage& m : messages)
        memo->AppendLine(JournalLine(MomentText(m.Moment, fs) + ": " + m.Text,
                                     std::chrono::system_clock::now(), fs));
    return static_cast<int>(messages.size());
}

} // namespace vorlen
