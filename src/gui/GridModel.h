#pragma once

// A string grid of the main window: the grid updater writes into the model (a TModelGridSink),
// or, once connected, shows the store's rows through it by reference; the view shows it. Row 0
// of the grid is the view's header; data rows follow.

#include "grids/GridLayouts.h"
#include "grids/GridSink.h"

#include <QAbstractTableModel>
#include <QTableView>

namespace vorlen::gui {

class TGridModel final : public QAbstractTableModel, public TModelGridSink {
    Q_OBJECT
public:
    explicit TGridModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Changes made outside BeginUpdate/EndUpdate reach the view at once; inside, once at the
    // outermost EndUpdate.
    void SetCaptions(std::span<const std::string_view> captions) override;
    void SetRowCount(int rows) override;
    void SetRow(int row, std::vector<std::string>& cells) override;
    void SetCell(int row, int col, std::string_view text) override;

protected:
    void Updated() override;
    void RowRefsShown() override;

private:
    void Touch(int first, int last);
    void Flush();

    // The row count the view has been told of; the sink's own may run ahead during an update.
    int FShownRows = 0;
    int FDirtyFirst = -1;
    int FDirtyLast = -1;
};

// The view of one grid: header captions, widths by the caption + "11" rule in the view's own
// font, 18-pixel rows, grid lines, read-only, text clipped rather than elided.
class TGridView final : public QTableView {
    Q_OBJECT
public:
    explicit TGridView(const TGridLayout& layout, QWidget* parent = nullptr);

    TGridModel& Model() { return *FModel; }
    const TGridLayout& Layout() const { return FLayout; }
    // Captions, one empty data row and the column widths, as the main window is created.
    void Setup();
    // The selected cells as tab-separated lines on the clipboard; nothing without a selection.
    void CopySelection();

protected:
    // Ctrl+C with cells selected copies them instead of reaching the window's Connect.
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    const TGridLayout& FLayout;
    TGridModel* FModel;
};

} // namespace vorlen::gui
