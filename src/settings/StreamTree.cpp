#include "settings/StreamTree.h"

#include <algorithm>
#include <utility>

namespace vorlen {

TStreamTree::TStreamTree() : TStreamTree(StreamCatalogue()) {}

TStreamTree::TStreamTree(const TCatalogue& catalogue) {
    const int root = AddNode(kTreeRootText, TNodeLevel::Root, -1);
    for (const TCatalogueGroup& group : catalogue) {
        const int groupNode = AddNode(group.Name, TNodeLevel::Group, root);
        for (const TCatalogueStream& stream : group.Streams) {
            const int streamNode = AddNode(stream.Name, TNodeLevel::Stream, groupNode);
            for (const std::string_view table : stream.Tables) {
                AddNode(table, TNodeLevel::Table, streamNode);
            }
        }
    }
}

int TStreamTree::AddNode(std::string_view text, TNodeLevel level, int parent) {
    TTreeNode node;
    node.Text = std::string(text);
    node.Level = level;
    node.Parent = parent;
    if (level == TNodeLevel::Stream || level == TNodeLevel::Table) {
        node.Indices = {kImageUnticked, kImageUnticked, kImageUnticked};
    }
    const int index = NodeCount();
    FNodes.push_back(std::move(node));
    if (parent >= 0) {
        Mut(parent).Children.push_back(index);
    }
    return index;
}

void TStreamTree::EndUpdate() {
    if (FUpdateDepth > 0) {
        --FUpdateDepth;
    }
    if (FUpdateDepth == 0 && FChanged) {
        FChanged = false;
        if (FOnChange) {
            FOnChange();
        }
    }
}

bool TStreamTree::IsVisible(int index) const {
    if (!IsNode(index)) {
        return false;
    }
    for (int p = Parent(index); p >= 0; p = Parent(p)) {
        if (!Expanded(p)) {
            return false;
        }
    }
    return true;
}

int TStreamTree::FindChild(int parent, std::string_view text) const {
    if (!IsNode(parent)) {
        return -1;
    }
    for (const int child : Children(parent)) {
        if (Text(child) == text) {
            return child;
        }
    }
    return -1;
}

int TStreamTree::FindStream(std::string_view stream) const {
    for (int i = 0; i < NodeCount(); ++i) {
        if (FNodes[static_cast<std::size_t>(i)].Level == TNodeLevel::Stream && Text(i) == stream) {
            return i;
        }
    }
    return -1;
}

int TStreamTree::FindTable(std::string_view stream, std::string_view table) const {
    return FindChild(FindStream(stream), table);
}

void TStreamTree::SetIndices(int index, TNodeIndices indices) {
    if (!IsNode(index)) {
        return;
    }
    TBatch batch(*this);
    TTreeNode& node = Mut(index);
    if (node.Indices != indices) {
        node.Indices = indices;
        FChanged = true;
    }
}

std::vector<TNodeIndices> TStreamTree::AllIndices() const {
    std::vector<TNodeIndices> result;
    result.reserve(FNodes.size());
    for (const TTreeNode& node : FNodes) {
        result.push_back(node.Indices);
    }
    return result;
}

void TStreamTree::SetTick(int index, int image) {
    SetIndices(index, {image, image, image});
}

void TStreamTree::SetState(int index, int image, bool enabled) {
    SetTick(index, image);
    TTreeNode& node = Mut(index);
    if (node.Enabled != enabled) {
        node.Enabled = enabled;
        FChanged = true;
    }
}

void TStreamTree::SetExpanded(int index, bool expanded) {
    TTreeNode& node = Mut(index);
    // A node without children has nothing to show, so it never counts as expanded.
    const bool value = expanded && !node.Children.empty();
    if (node.Expanded != value) {
        node.Expanded = value;
        FChanged = true;
    }
}

void TStreamTree::Expand(int index, bool recursive) {
    if (!IsNode(index)) {
        return;
    }
    TBatch batch(*this);
    SetExpanded(index, true);
    if (recursive) {
        for (const int child : Children(index)) {
            Expand(child, true);
        }
    }
}

void TStreamTree::Collapse(int index, bool recursive) {
    if (!IsNode(index)) {
        return;
    }
    TBatch batch(*this);
    SetExpanded(index, false);
    if (recursive) {
        for (const int child : Children(index)) {
            Collapse(child, true);
        }
    }
}

void TStreamTree::DoubleClick(int index) {
    if (!IsNode(index)) {
        return;
    }
    TBatch batch(*this);
    if (Expanded(index)) {
        Collapse(index, false);
    } else {
        Expand(index, false);
    }
}

void TStreamTree::ClickPicture(int index) {
    if (!IsNode(index)) {
        return;
    }
    TBatch batch(*this);
    // A greyed node cannot be ticked; the click only makes sure it shows unticked.
    if (!Enabled(index)) {
        SetTick(index, kImageUnticked);
        return;
    }
    const TNodeLevel level = Node(index).Level;
    if (level == TNodeLevel::Root || level == TNodeLevel::Group) {
        return;
    }

    const int image = ImageIndex(index) == kImageUnticked ? kImageTicked : kImageUnticked;
    SetTick(index, image);

    const std::vector<int>& children = Children(index);
    if (!children.empty()) {
        for (const int child : children) {
            if (Enabled(child)) {
                SetIndices(child, Indices(index));
            }
        }
        if (image == kImageTicked) {
            Expand(index, true);
        }
        return;
    }

    // A table keeps its stream consistent: ticking any table subscribes the stream, and unticking
    // the last ticked one drops it. A childless node directly under a group is left alone so a
    // group never gets ticked.
    const int parent = Parent(index);
    if (parent < 0 || Node(parent).Level != TNodeLevel::Stream || !Enabled(parent)) {
        return;
    }
    if (image == kImageTicked) {
        SetIndices(parent, Indices(index));
        return;
    }
    const std::vector<int>& siblings = Children(parent);
    const bool allSame = std::all_of(siblings.begin(), siblings.end(),
                                     [&](int sibling) { return ImageIndex(sibling) == image; });
    if (allSame) {
        SetIndices(parent, Indices(index));
    }
}

} // namespace vorlen
