#pragma once

// The stream and table tree of the settings dialog, without any window: the dialog draws these
// nodes and forwards clicks here. A node's three image indices are its tick state (0 unticked,
// 1 ticked; -1 on the root and the two groups, which are never ticked). The tree's shape comes
// from a catalogue and never changes afterwards.

#include "settings/Catalogue.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

inline constexpr int kImageNone = -1;
inline constexpr int kImageUnticked = 0;
inline constexpr int kImageTicked = 1;

enum class TNodeLevel { Root, Group, Stream, Table };

struct TNodeIndices {
    int Image = kImageNone;
    int Selected = kImageNone;
    int Expanded = kImageNone;
    bool operator==(const TNodeIndices&) const = default;
};

struct TTreeNode {
    std::string Text;
    TNodeLevel Level = TNodeLevel::Root;
    int Parent = -1;
    std::vector<int> Children;
    TNodeIndices Indices;
    bool Enabled = true;
    // Whether the node shows its children; only nodes with children are ever expanded.
    bool Expanded = false;
};

class TStreamTree {
public:
    // The tree as the dialog is designed: every stream and table unticked and enabled, all
    // collapsed. The dialog then applies its market preset (MarketBoxChange).
    TStreamTree();
    // A tree of another catalogue, for callers that need a smaller or empty one.
    explicit TStreamTree(const TCatalogue& catalogue);

    // Nodes in tree order (depth-first pre-order); node 0 is the root.
    int NodeCount() const { return static_cast<int>(FNodes.size()); }
    bool IsNode(int index) const { return index >= 0 && index < NodeCount(); }
    // Precondition for the accessors below: IsNode(index).
    const TTreeNode& Node(int index) const { return FNodes.at(static_cast<std::size_t>(index)); }
    const std::string& Text(int index) const { return Node(index).Text; }
    TNodeIndices Indices(int index) const { return Node(index).Indices; }
    int ImageIndex(int index) const { return Node(index).Indices.Image; }
    bool IsTicked(int index) const { return ImageIndex(index) == kImageTicked; }
    bool Enabled(int index) const { return Node(index).Enabled; }
    bool Expanded(int index) const { return Node(index).Expanded; }
    int Parent(int index) const { return Node(index).Parent; }
    const std::vector<int>& Children(int index) const { return Node(index).Children; }
    // Shown in the tree: every ancestor is expanded.
    bool IsVisible(int index) const;

    // The index of a stream, or of a table under a stream, by name; -1 when there is none.
    int FindStream(std::string_view stream) const;
    int FindTable(std::string_view stream, std::string_view table) const;

    // The market preset for `market`, then RefreshTree with `depth`.
    void MarketBoxChange(int market, int depth);
    // Ticks the aggregated order-book stream of `depth` (0..2) and switches the other two off.
    void SelectBookDepth(int depth);
    // SelectBookDepth, then the groups show their streams and the streams fold their tables.
    void RefreshTree(int depth);

    // A click on node `index`'s picture: ticks or unticks it and keeps the stream and its
    // tables consistent. Indices that name no node are ignored.
    void ClickPicture(int index);
    // A double click on a node: folds or unfolds it by one level.
    void DoubleClick(int index);

    void Expand(int index, bool recursive);
    void Collapse(int index, bool recursive);

    // Restores a node's indices as a saved file holds them; the enabled flag stays.
    void SetIndices(int index, TNodeIndices indices);
    std::vector<TNodeIndices> AllIndices() const;

    // Called once at the end of every operation that changed something, so a view can repaint
    // once per operation rather than once per node.
    void SetChangeHandler(std::function<void()> handler) { FOnChange = std::move(handler); }

    // Groups several operations into one change notification.
    void BeginUpdate() { ++FUpdateDepth; }
    void EndUpdate();

private:
    // Every public operation runs inside one batch, so a view hears of it once, at its end.
    class TBatch {
    public:
        explicit TBatch(TStreamTree& tree) : FTree(tree) { FTree.BeginUpdate(); }
        ~TBatch() { FTree.EndUpdate(); }
        TBatch(const TBatch&) = delete;
        TBatch& operator=(const TBatch&) = delete;

    private:
        TStreamTree& FTree;
    };

    int AddNode(std::string_view text, TNodeLevel level, int parent);
    TTreeNode& Mut(int index) { return FNodes.at(static_cast<std::size_t>(index)); }
    void SetTick(int index, int image);
    void SetState(int index, int image, bool enabled);
    void SetExpanded(int index, bool expanded);
    int FindChild(int parent, std::string_view text) const;
    void ApplyPreset(const TMarketPreset& preset, int stream);

    std::vector<TTreeNode> FNodes;
    std::function<void()> FOnChange;
    int FUpdateDepth = 0;
    bool FChanged = false;
};

} // namespace vorlen
