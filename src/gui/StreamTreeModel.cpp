#include "gui/StreamTreeModel.h"

#include "gui/ImageList.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace vorlen::gui {

TStreamTreeModel::TStreamTreeModel(TStreamTree& tree, QObject* parent)
    : QAbstractItemModel(parent), FTree(tree) {
    FTree.SetChangeHandler([this] { OnTreeChanged(); });
}

TStreamTreeModel::~TStreamTreeModel() {
    Detach();
}

void TStreamTreeModel::Detach() {
    if (FAttached)
        FTree.SetChangeHandler({});
    FAttached = false;
}

int TStreamTreeModel::NodeOf(const QModelIndex& index) {
    return index.isValid() ? static_cast<int>(index.internalId()) : -1;
}

QModelIndex TStreamTreeModel::IndexOf(int node) const {
    if (!FTree.IsNode(node))
        return {};
    const int parent = FTree.Parent(node);
    int row = 0;
    if (parent >= 0) {
        const std::vector<int>& siblings = FTree.Children(parent);
        row =
            static_cast<int>(std::find(siblings.begin(), siblings.end(), node) - siblings.begin());
    }
    return createIndex(row, 0, static_cast<quintptr>(node));
}

QModelIndex TStreamTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row == 0 && FTree.NodeCount() > 0 ? createIndex(0, 0, quintptr{0}) : QModelIndex();
    const std::vector<int>& children = FTree.Children(NodeOf(parent));
    if (row >= static_cast<int>(children.size()))
        return {};
    return createIndex(row, 0, static_cast<quintptr>(children[static_cast<std::size_t>(row)]));
}

QModelIndex TStreamTreeModel::parent(const QModelIndex& child) const {
    const int node = NodeOf(child);
    if (!FTree.IsNode(node))
        return {};
    return IndexOf(FTree.Parent(node));
}

int TStreamTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return FTree.NodeCount() > 0 ? 1 : 0;
    if (parent.column() != 0)
        return 0;
    return static_cast<int>(FTree.Children(NodeOf(parent)).size());
}

int TStreamTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant TStreamTreeModel::data(const QModelIndex& index, int role) const {
    const int node = NodeOf(index);
    if (!FTree.IsNode(node))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(FTree.Text(node));
    case Qt::DecorationRole:
        return TreeIcon(FTree.ImageIndex(node));
    case Qt::ToolTipRole:
        return QString::fromUtf8(kTreeHint);
    default:
        return {};
    }
}

Qt::ItemFlags TStreamTreeModel::flags(const QModelIndex& index) const {
    const int node = NodeOf(index);
    if (!FTree.IsNode(node))
        return Qt::NoItemFlags;
    // A disabled node is drawn greyed; clicks on its picture still reach the tree's rule.
    return FTree.Enabled(node) ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TStreamTreeModel::OnTreeChanged() {
    // Captions and shape never change; the pictures, enabled flags and expansion may have.
    for (int node = 0; node < FTree.NodeCount(); ++node) {
        const QModelIndex i = IndexOf(node);
        emit dataChanged(i, i, {Qt::DecorationRole});
    }
    emit TreeChanged();
}

TStreamTreeView::TStreamTreeView(QWidget* parent) : QTreeView(parent) {
    setObjectName(QStringLiteral("TreeView1"));
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    // Long stream names scroll sideways instead of being cut short with "…".
    setTextElideMode(Qt::ElideNone);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setToolTip(QString::fromUtf8(kTreeHint));
    connect(this, &QTreeView::expanded, this,
            [this](const QModelIndex& i) { OnExpanded(i, true); });
    connect(this, &QTreeView::collapsed, this,
            [this](const QModelIndex& i) { OnExpanded(i, false); });
}

void TStreamTreeView::SetTreeModel(TStreamTreeModel* model) {
    FModel = model;
    setModel(model);
    connect(model, &TStreamTreeModel::TreeChanged, this, &TStreamTreeView::SyncExpansion);
    SyncExpansion();
}

void TStreamTreeView::SyncExpansion() {
    if (FModel == nullptr)
        return;
    FSyncing = true;
    const TStreamTree& tree = FModel->Tree();
    for (int node = 0; node < tree.NodeCount(); ++node)
        if (!tree.Children(node).empty())
            setExpanded(FModel->IndexOf(node), tree.Expanded(node));
    FSyncing = false;
}

void TStreamTreeView::OnExpanded(const QModelIndex& index, bool expanded) {
    // The user opened or closed a node with its arrow: the tree keeps the state, so that the
    // next rule that re-lays out the tree starts from what the user sees.
    if (FSyncing || FModel == nullptr)
        return;
    const int node = TStreamTreeModel::NodeOf(index);
    if (!FModel->Tree().IsNode(node) || FModel->Tree().Expanded(node) == expanded)
        return;
    FSyncing = true;
    if (expanded)
        FModel->Tree().Expand(node, false);
    else
        FModel->Tree().Collapse(node, false);
    FSyncing = false;
}

QRect TStreamTreeView::PictureRect(int node) const {
    if (FModel == nullptr || !FModel->Tree().IsNode(node) || FModel->Tree().ImageIndex(node) < 0)
        return {};
    const QRect item = visualRect(FModel->IndexOf(node));
    if (!item.isValid())
        return {};
    // The picture leads the item, centred in its height, after the style's small margin.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const QSize size = iconSize();
    return QRect(item.left() + margin, item.top() + (item.height() - size.height()) / 2,
                 size.width(), size.height());
}

bool TStreamTreeView::viewportEvent(QEvent* event) {
    if (FModel != nullptr && (event->type() == QEvent::MouseButtonPress ||
                              event->type() == QEvent::MouseButtonDblClick)) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int node = TStreamTreeModel::NodeOf(indexAt(mouse->position().toPoint()));
        if (mouse->button() == Qt::LeftButton && node >= 0) {
            if (event->type() == QEvent::MouseButtonDblClick) {
                FModel->Tree().DoubleClick(node);
                return true;
            }
            // A little slack around the picture, as a hit test on a 16-pixel target wants.
            if (PictureRect(node).adjusted(-2, -2, 2, 2).contains(mouse->position().toPoint()))
                FModel->Tree().ClickPicture(node);
        }
    }
    return QTreeView::viewportEvent(event);
}

} // namespace vorlen::gui
