#pragma once

// The replication ids a grid shows, in arrival order, kept so that copies share most of them.
//
// The grid updater keeps one list per grid and changes it by what changed in the table; each
// pass hands the user-interface thread a copy. Full chunks of ids are never written once made
// (a removal makes a new, shorter chunk), so a copy shares them; only the last, partly filled
// run of ids is copied. Handing over a list of a million rows thus costs a thousand pointers and
// at most one chunk's ids, and a list of a few rows holds no more than their ids.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vorlen {

class TRowKeys {
public:
    static constexpr std::size_t kChunk = 1024;

    std::size_t Size() const { return FSealedSize + FTail.size(); }
    bool Empty() const { return Size() == 0; }
    std::int64_t operator[](std::size_t i) const;

    void Clear();
    void PushBack(std::int64_t id);
    // Drops the ids for which drop(id) is true, keeping the others' order. Only chunks that
    // lose an id are made anew.
    template <class Pred>
    void RemoveIf(Pred drop);

    // Heap held, counting shared chunks in full.
    std::size_t HeldBytes() const;

private:
    using TChunk = std::vector<std::int64_t>;
    void Seal();
    void Restart();

    std::vector<std::shared_ptr<const TChunk>> FChunks; // full or shortened, never written
    std::vector<std::size_t> FStarts;                   // index of each chunk's first id
    std::size_t FSealedSize = 0;
    TChunk FTail; // the ids after the chunks; this list's own
};

template <class Pred>
void TRowKeys::RemoveIf(Pred drop) {
    std::size_t at = 0;
    for (std::size_t c = 0; c < FChunks.size(); ++c) {
        FStarts[c] = at;
        const TChunk& chunk = *FChunks[c];
        std::size_t first = 0;
        while (first < chunk.size() && !drop(chunk[first]))
            ++first;
        if (first < chunk.size()) {
            auto kept = std::make_shared<TChunk>(chunk.begin(), chunk.begin() + first);
            for (std::size_t i = first + 1; i < chunk.size(); ++i)
                if (!drop(chunk[i]))
                    kept->push_back(chunk[i]);
            kept->shrink_to_fit();
            FChunks[c] = std::move(kept);
        }
        at += FChunks[c]->size();
    }
    FSealedSize = at;
    std::erase_if(FTail, drop);
    // Many short chunks would make lookups and hand-overs cost more than the rows warrant.
    if (FChunks.size() > 4 + 2 * (Size() / kChunk))
        Restart();
}

} // namespace vorlen
