#include "gui/GridModel.h"

#include "gui/JournalPane.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <algorithm>

namespace vorlen::gui {

TGridModel::TGridModel(QObject* parent) : QAbstractTableModel(parent) {
    // A big table would otherwise cost the user-interface thread its texts on every pass.
    SetWantsRowRefs(true);
}

int TGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FShownRows;
}

int TGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColCount();
}

QVariant TGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return QString::fromStdString(Cell(index.row(), index.column()));
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return QString();
    if (section < 0 || section >= ColCount())
        return {};
    return QString::fromStdString(Captions()[static_cast<std::size_t>(section)]);
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TGridModel::SetCaptions(std::span<const std::string_view> captions) {
    // The column count changes only here, once, so a reset costs nothing worth mentioning.
    beginResetModel();
    TModelGridSink::SetCaptions(captions);
    FShownRows = RowCount();
    FDirtyFirst = FDirtyLast = -1;
    endResetModel();
}

void TGridModel::SetRowCount(int rows) {
    const int before = RowCount();
    TModelGridSink::SetRowCount(rows);
    // Rows that come back are blank again; rows kept are unchanged.
    Touch(before, RowCount() - 1);
}

void TGridModel::SetRow(int row, std::vector<std::string>& cells) {
    TModelGridSink::SetRow(row, cells);
    Touch(row, row);
}

void TGridModel::SetCell(int row, int col, std::string_view text) {
    TModelGridSink::SetCell(row, col, text);
    Touch(row, row);
}

void TGridModel::Touch(int first, int last) {
    if (first < 0 || last < first)
        first = last = -1;
    if (first >= 0) {
        FDirtyFirst = FDirtyFirst < 0 ? first : std::min(FDirtyFirst, first);
        FDirtyLast = std::max(FDirtyLast, last);
    }
    if (!Updating())
        Flush();
}

void TGridModel::Updated() {
    Flush();
}

void TGridModel::RowRefsShown() {
    // Any shown row may have changed; the view repaints only the ones on screen.
    FDirtyFirst = 0;
    FDirtyLast = RowCount() - 1;
    Flush();
}

void TGridModel::Flush() {
    // Rows are reported as inserted or removed at the end, then the changed ones as changed: the
    // view keeps its column widths, scroll position and selection, which a model reset would
    // throw away on every pass.
    const int rows = RowCount();
    if (rows > FShownRows) {
        beginInsertRows({}, FShownRows, rows - 1);
        FShownRows = rows;
        endInsertRows();
    } else if (rows < FShownRows) {
        beginRemoveRows({}, rows, FShownRows - 1);
        FShownRows = rows;
        endRemoveRows();
    }
    const int last = std::min(FDirtyLast, FShownRows - 1);
    if (FDirtyFirst >= 0 && FDirtyFirst <= last && ColCount() > 0)
        emit dataChanged(index(FDirtyFirst, 0), index(last, ColCount() - 1), {Qt::DisplayRole});
    FDirtyFirst = FDirtyLast = -1;
}

TGridView::TGridView(const TGridLayout& layout, QWidget* parent)
    : QTableView(parent), FLayout(layout), FModel(new TGridModel(this)) {
    setObjectName(QString::fromUtf8(layout.Name.data(), static_cast<int>(layout.Name.size())));
    setModel(FModel);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Several cells, so that a block can be copied.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setShowGrid(true);
    setWordWrap(false);
    // A string grid clips its cells; without this the view would elide them with "…".
    setTextElideMode(Qt::ElideNone);
    setCornerButtonEnabled(false);

    QHeaderView* rows = verticalHeader();
    rows->setVisible(false);
    // Fixed, never measured: measuring rows to their contents is what makes big grids slow.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(kGridDefaultRowHeight);

    QHeaderView* columns = horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setSectionsMovable(false);
    columns->setStretchLastSection(false);
    columns->setHighlightSections(false);
    columns->setTextElideMode(Qt::ElideNone);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TGridView::Setup() {
    SetupGrid(*FModel, FLayout);
    const QFontMetrics metrics(font());
    const std::vector<int> widths = ColumnWidths(FLayout, [&metrics](std::string_view text) {
        return metrics.horizontalAdvance(
            QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    });
    for (std::size_t c = 0; c < widths.size(); ++c)
        setColumnWidth(static_cast<int>(c), widths[c]);
}

void TGridView::CopySelection() {
    std::vector<std::pair<int, int>> cells;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        cells.emplace_back(index.row(), index.column());
    if (cells.empty())
        return;
    const std::string text = SelectedCellsText(*FModel, std::move(cells));
    QGuiApplication::clipboard()->setText(
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

bool TGridView::event(QEvent* e) {
    if (e->type() == QEvent::ShortcutOverride &&
        TJournalPane::WantsCopy(static_cast<QKeyEvent*>(e), selectionModel()->hasSelection())) {
        e->accept();
        return true;
    }
    return QTableView::event(e);
}

void TGridView::keyPressEvent(QKeyEvent* e) {
    if (TJournalPane::WantsCopy(e, selectionModel()->hasSelection())) {
        CopySelection();
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

} // namespace vorlen::gui
