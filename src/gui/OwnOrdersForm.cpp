#include "gui/OwnOrdersForm.h"

#include "main/Dialogs.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

namespace vorlen::gui {

namespace {

constexpr int kRefreshMs = 500;

} // namespace

TOwnOrdersForm::TOwnOrdersForm(TCGStorage* store, std::function<orders::TOrderDesk*()> desk,
                               QWidget* parent)
    : QWidget(parent), FDesk(std::move(desk)) {
    setObjectName(QStringLiteral("OwnOrdersForm"));
    setWindowTitle(QStringLiteral("Мои заявки"));
    if (store != nullptr)
        FReader = std::make_unique<orders::TStoreReader>(*store);

    Grid = new QTableWidget(0, static_cast<int>(kOwnOrderColumns), this);
    Grid->setObjectName(QStringLiteral("OwnOrdersGrid"));
    QStringList captions;
    for (const char* caption : OwnOrderCaptions())
        captions << QString::fromUtf8(caption);
    Grid->setHorizontalHeaderLabels(captions);
    // The widest a column's figures usually are: an order number's 19 digits, an option's isin.
    const char* const samples[kOwnOrderColumns] = {"0000000000000000000",
                                                   "00:00:00.000",
                                                   "Si-12.26M191226CA92000",
                                                   "FZ00001",
                                                   "Продажа",
                                                   "000000,00000",
                                                   "000000",
                                                   "000000",
                                                   "частично исполнена",
                                                   "00:00:00.000"};
    const QFontMetrics metrics = Grid->fontMetrics();
    for (std::size_t c = 0; c < kOwnOrderColumns; ++c)
        Grid->setColumnWidth(static_cast<int>(c),
                             std::max(metrics.horizontalAdvance(captions[static_cast<int>(c)]),
                                      metrics.horizontalAdvance(QString::fromUtf8(samples[c]))) +
                                 16);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Grid->verticalHeader()->setVisible(false);
    Grid->horizontalHeader()->setStretchLastSection(true);
    Grid->horizontalHeader()->setSectionsClickable(true);
    Grid->setTextElideMode(Qt::ElideNone);
    Grid->setWordWrap(false);
    connect(Grid->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { SortBy(column, column == FSortColumn ? !FSortAscending : true); });

    ActiveOnlyBox = new QCheckBox(QStringLiteral("Только активные"), this);
    ActiveOnlyBox->setObjectName(QStringLiteral("ActiveOnlyBox"));
    CancelSelectedButton = new QPushButton(QStringLiteral("Снять выбранные"), this);
    CancelSelectedButton->setObjectName(QStringLiteral("CancelSelectedButton"));
    CancelAllButton = new QPushButton(QStringLiteral("Снять все"), this);
    CancelAllButton->setObjectName(QStringLiteral("CancelAllButton"));
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    HaltLabel = new QLabel(this);
    HaltLabel->setObjectName(QStringLiteral("HaltLabel"));
    HaltLabel->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    HaltLabel->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ActiveOnlyBox);
    buttons->addStretch(1);
    buttons->addWidget(CancelSelectedButton);
    buttons->addWidget(CancelAllButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Grid, 1);
    layout->addLayout(buttons);
    auto* status = new QHBoxLayout;
    status->addWidget(StatusLabel, 1);
    status->addWidget(HaltLabel);
    layout->addLayout(status);
    // Every column's caption and a day's figures in view without scrolling sideways.
    int width = 0;
    for (int c = 0; c < Grid->columnCount(); ++c)
        width += Grid->columnWidth(c);
    // The window's frame in the desktop and a vertical scroll bar take their share too.
    resize(width + 64, 300);

    connect(ActiveOnlyBox, &QCheckBox::toggled, this, [this] { Refresh(); });
    connect(CancelSelectedButton, &QPushButton::clicked, this,
            &TOwnOrdersForm::CancelSelectedClick);
    connect(CancelAllButton, &QPushButton::clicked, this, &TOwnOrdersForm::CancelAllClick);
    FTimer = new QTimer(this);
    FTimer->setInterval(kRefreshMs);
    connect(FTimer, &QTimer::timeout, this, &TOwnOrdersForm::Refresh);
    FTimer->start();
    Refresh();
}

TOwnOrdersForm::~TOwnOrdersForm() = default;

void TOwnOrdersForm::Detach() {
    FTimer->stop();
    FReader.reset();
}

void TOwnOrdersForm::Refresh() {
    // Cancels still go while trading is stopped; new orders do not, and the window says so.
    const orders::TOrderDesk* desk = FDesk ? FDesk() : nullptr;
    const std::string halt =
        desk != nullptr ? TradingStateText(desk->KillPhase(), desk->LastKillReport()) : "";
    HaltLabel->setText(QString::fromStdString(halt));
    HaltLabel->setVisible(!halt.empty());
    if (FReader == nullptr)
        return;
    // The orders are listed here, from the reader's tracker, only where they changed.
    const orders::TStoreFacts facts = FReader->Read(true, false);
    if (facts.Tracker == nullptr)
        return;
    std::vector<TOwnOrderList::TStep> steps;
    const auto column = FSortColumn >= 0 ? static_cast<std::size_t>(FSortColumn) : kOwnOrderColumns;
    if (!FList.Update(*facts.Tracker, facts.Ref, ActiveOnlyBox->isChecked(), column, FSortAscending,
                      steps))
        Fill();
    else if (!steps.empty())
        Apply(steps);
    else
        return;
    StatusLabel->setText(QStringLiteral("Активных заявок: %1").arg(facts.Tracker->ActiveCount()));
}

void TOwnOrdersForm::SortBy(int column, bool ascending) {
    const bool known = column >= 0 && column < static_cast<int>(kOwnOrderColumns);
    FSortColumn = known ? column : -1;
    FSortAscending = ascending;
    Grid->horizontalHeader()->setSortIndicatorShown(known);
    if (known)
        Grid->horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder
                                                                     : Qt::DescendingOrder);
    Refresh();
}

void TOwnOrdersForm::ShowRow(int row, const TOwnOrderRow& r, std::vector<int>& widths) {
    // Buys green, sells red, as the book's sides; a finished order's text greyed over either.
    const QBrush buy(QColor(225, 245, 225));
    const QBrush sell(QColor(252, 226, 226));
    const QFontMetrics metrics = Grid->fontMetrics();
    for (std::size_t c = 0; c < kOwnOrderColumns; ++c) {
        const QString text = QString::fromStdString(r.Cells[c]);
        widths[c] = std::max(widths[c], metrics.horizontalAdvance(text));
        QTableWidgetItem* item = Grid->item(row, static_cast<int>(c));
        const bool made = item == nullptr;
        if (made) {
            item = new QTableWidgetItem(text);
        } else if (item->text() != text) {
            item->setText(text);
        }
        item->setBackground(r.Buy ? buy : sell);
        if (!r.Active)
            item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
        else if (!made && item->data(Qt::ForegroundRole).isValid())
            item->setData(Qt::ForegroundRole, QVariant());
        // Put in once dressed, so the grid is told of it once.
        if (made)
            Grid->setItem(row, static_cast<int>(c), item);
    }
}

void TOwnOrdersForm::Widen(const std::vector<int>& widths) {
    // Columns only widen: one that narrowed with every refresh would jump under the cursor.
    for (std::size_t c = 0; c < kOwnOrderColumns; ++c) {
        const int column = static_cast<int>(c);
        Grid->setColumnWidth(column, std::max(Grid->columnWidth(column), widths[c] + 16));
    }
}

void TOwnOrdersForm::Fill() {
    // The selection follows the orders, not the row positions, as new orders come in on top;
    // the grid's rows are still the old ones, numbered in their first column.
    std::set<std::int64_t> selected;
    for (const QModelIndex& index : Grid->selectionModel()->selectedRows())
        if (const QTableWidgetItem* item = Grid->item(index.row(), 0))
            selected.insert(item->text().toLongLong());
    Grid->clearSelection();
    Grid->setRowCount(0);
    const auto& rows = FList.Rows();
    Grid->setRowCount(static_cast<int>(rows.size()));
    std::vector<int> widths(kOwnOrderColumns, 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        ShowRow(static_cast<int>(r), rows[r], widths);
        if (selected.count(rows[r].OrderId) != 0)
            Grid->selectRow(static_cast<int>(r));
    }
    Widen(widths);
}

void TOwnOrdersForm::Apply(const std::vector<TOwnOrderList::TStep>& steps) {
    // The grid keeps its selection and scroll position across rows put in and taken out.
    std::vector<int> widths(kOwnOrderColumns, 0);
    for (const TOwnOrderList::TStep& step : steps) {
        const int row = static_cast<int>(step.Row);
        switch (step.Kind) {
        case TOwnOrderList::TStep::TKind::Remove:
            Grid->removeRow(row);
            break;
        case TOwnOrderList::TStep::TKind::Insert:
            Grid->insertRow(row);
            ShowRow(row, step.Shown, widths);
            break;
        case TOwnOrderList::TStep::TKind::Change:
            ShowRow(row, step.Shown, widths);
            break;
        }
    }
    Widen(widths);
}

void TOwnOrdersForm::Cancel(const std::vector<std::int64_t>& ids) {
    orders::TOrderDesk* desk = FDesk ? FDesk() : nullptr;
    if (desk == nullptr) {
        StatusLabel->setText(QStringLiteral("Снять нельзя: нет соединения Трансакций."));
        return;
    }
    std::size_t sent = 0;
    for (const std::int64_t id : ids)
        sent += desk->Cancel(id) ? 1 : 0;
    StatusLabel->setText(QStringLiteral("Отправлено снятий: %1 из %2.").arg(sent).arg(ids.size()));
}

void TOwnOrdersForm::CancelSelectedClick() {
    std::vector<std::int64_t> ids;
    for (const QModelIndex& index : Grid->selectionModel()->selectedRows()) {
        const TOwnOrderRow& row = FList.Rows()[static_cast<std::size_t>(index.row())];
        if (row.Active)
            ids.push_back(row.OrderId);
    }
    if (ids.empty()) {
        StatusLabel->setText(QStringLiteral("Не выбрано ни одной активной заявки."));
        return;
    }
    Cancel(ids);
}

void TOwnOrdersForm::CancelAllClick() {
    std::vector<std::int64_t> ids;
    for (const TOwnOrderRow& row : FList.Rows())
        if (row.Active)
            ids.push_back(row.OrderId);
    if (ids.empty()) {
        StatusLabel->setText(QStringLiteral("Активных заявок нет."));
        return;
    }
    if (!AskConfirm("Снять все активные заявки (" + std::to_string(ids.size()) + ")?"))
        return;
    Cancel(ids);
}

} // namespace vorlen::gui
