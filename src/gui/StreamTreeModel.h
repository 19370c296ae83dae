#pragma once

// The settings dialog's tree of streams and tables: a Qt model over the core's TStreamTree, and
// the view that forwards clicks on a node's picture and double clicks to it.

#include "settings/StreamTree.h"

#include <QAbstractItemModel>
#include <QTreeView>

namespace vorlen::gui {

class TStreamTreeModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    // The tree must outlive the model; the model takes its change notifications.
    explicit TStreamTreeModel(TStreamTree& tree, QObject* parent = nullptr);
    ~TStreamTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QModelIndex IndexOf(int node) const;
    static int NodeOf(const QModelIndex& index);
    TStreamTree& Tree() { return FTree; }
    // Stops listening to the tree (before the tree is handed on to someone else).
    void Detach();

signals:
    // Ticks, enabled flags or expansion changed; the view re-reads the expansion.
    void TreeChanged();

private:
    void OnTreeChanged();
    TStreamTree& FTree;
    bool FAttached = true;
};

class TStreamTreeView final : public QTreeView {
    Q_OBJECT
public:
    explicit TStreamTreeView(QWidget* parent = nullptr);
    void SetTreeModel(TStreamTreeModel* model);
    // Makes the view's expansion that of the tree.
    void SyncExpansion();
    // Where a node's picture is drawn, in viewport coordinates; empty when it has none.
    QRect PictureRect(int node) const;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    void OnExpanded(const QModelIndex& index, bool expanded);
    TStreamTreeModel* FModel = nullptr;
    bool FSyncing = false;
};

inline constexpr const char* kTreeHint = "Изменнени подключаемых потоков и таблиц";

} // namespace vorlen::gui
