// The market presets and the order-book depth rule of the stream tree.

#include "settings/StreamTree.h"

#include <array>

namespace vorlen {

void TStreamTree::ApplyPreset(const TMarketPreset& preset, int stream) {
    if (Contains(preset.Streams, Text(stream))) {
        SetState(stream, kImageUnticked, false);
        for (const int table : Children(stream)) {
            SetState(table, kImageUnticked, false);
        }
        Collapse(stream, true);
        return;
    }
    SetState(stream, kImageTicked, true);
    for (const int table : Children(stream)) {
        if (Contains(preset.Tables, Text(table))) {
            SetState(table, kImageUnticked, false);
        } else {
            SetState(table, kImageTicked, true);
        }
    }
}

void TStreamTree::MarketBoxChange(int market, int depth) {
    TBatch batch(*this);
    Collapse(0, true);

    bool known = true;
    if (market == kMarketCustom) {
        for (int i = 0; i < NodeCount(); ++i) {
            const TNodeLevel level = Node(i).Level;
            if (level == TNodeLevel::Stream || level == TNodeLevel::Table) {
                SetState(i, kImageUnticked, true);
            }
        }
    } else if (const TMarketPreset* preset = MarketPreset(market)) {
        for (const int group : Children(0)) {
            if (Text(group) != kMarketDataGroup && Text(group) != kPersonalDataGroup) {
                continue;
            }
            for (const int stream : Children(group)) {
                ApplyPreset(*preset, stream);
            }
        }
    } else {
        known = false;
    }

    if (known) {
        RefreshTree(depth);
    }
}

void TStreamTree::SelectBookDepth(int depth) {
    const int group = FindChild(0, kMarketDataGroup);
    if (group < 0 || Children(group).empty()) {
        return;
    }
    std::array<int, kDepthStreams.size()> streams{};
    for (std::size_t k = 0; k < kDepthStreams.size(); ++k) {
        streams[k] = FindChild(group, kDepthStreams[k]);
        if (streams[k] < 0) {
            return;
        }
    }
    if (depth < 0 || depth >= static_cast<int>(streams.size())) {
        return;
    }

    TBatch batch(*this);
    for (int k = 0; k < static_cast<int>(streams.size()); ++k) {
        const int stream = streams[static_cast<std::size_t>(k)];
        const bool chosen = k == depth;
        const int image = chosen ? kImageTicked : kImageUnticked;
        SetState(stream, image, chosen);
        if (!Children(stream).empty()) {
            SetState(Children(stream).front(), image, chosen);
        }
    }
}

void TStreamTree::RefreshTree(int depth) {
    TBatch batch(*this);
    SelectBookDepth(depth);
    for (const int group : Children(0)) {
        Collapse(group, true);
        Expand(group, false);
    }
    Expand(0, false);
}

} // namespace vorlen
