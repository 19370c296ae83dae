#include "grids/RowKeys.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace vorlen {

std::int64_t TRowKeys::operator[](std::size_t i) const {
    if (i >= FSealedSize)
        return FTail[i - FSealedSize];
    // The last chunk starting at or before i; a chunk emptied by removals starts where the next
    // does, so this never lands on one.
    const auto next = std::upper_bound(FStarts.begin(), FStarts.end(), i);
    const auto c = static_cast<std::size_t>(std::distance(FStarts.begin(), next)) - 1;
    return (*FChunks[c])[i - FStarts[c]];
}

void TRowKeys::Clear() {
    FChunks.clear();
    FStarts.clear();
    FSealedSize = 0;
    FTail.clear();
}

void TRowKeys::PushBack(std::int64_t id) {
    FTail.push_back(id);
    if (FTail.size() >= kChunk)
        Seal();
}

void TRowKeys::Seal() {
    FStarts.push_back(FSealedSize);
    FSealedSize += FTail.size();
    FChunks.push_back(std::make_shared<const TChunk>(std::move(FTail)));
    FTail = TChunk();
}

void TRowKeys::Restart() {
    TRowKeys fresh;
    for (const auto& chunk : FChunks)
        for (const std::int64_t id : *chunk)
            fresh.PushBack(id);
    for (const std::int64_t id : FTail)
        fresh.PushBack(id);
    *this = std::move(fresh);
}

std::size_t TRowKeys::HeldBytes() const {
    std::size_t bytes = FChunks.capacity() * sizeof(FChunks[0]) +
                        FStarts.capacity() * sizeof(std::size_t) +
                        FTail.capacity() * sizeof(std::int64_t);
    for (const auto& chunk : FChunks)
        bytes += sizeof(TChunk) + chunk->capacity() * sizeof(std::int64_t);
    return bytes;
}

} // namespace vorlen
