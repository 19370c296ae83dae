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
    std::vector<TOwnOrderRow> rows = OwnOrderRows(FReader->Read(true), ActiveOnlyBox->isChecked());
    if (FSortColumn >= 0)
        SortOwnOrderRows(rows, static_cast<std::size_t>(FSortColumn), FSortAscending);
    const bool same = rows.size() == FRows.size() &&
                      std::equal(rows.begin(), rows.end(), FRows.begin(),
                                 [](const auto& a, const auto& b) { return a.Cells == b.Cells; });
    if (same)
        return;
    Fill(std::move(rows));
}

void TOwnOrdersForm::SortBy(int column, bool ascending) {
    const bool known = column >= 0 && column < static_cast<int>(kOwnOrderColumns);
    FSortColumn = known ? column : -1;
    FSortAscending = ascending;
    Grid->horizontalHeader()->setSortIndicatorShown(known);
    if (known)
        Grid->horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder
                                                                     : Qt::DescendingOrder);
    if (FReader == nullptr)
        return;
    std::vector<TOwnOrderRow> rows = OwnOrderRows(FReader->Read(true), ActiveOnlyBox->isChecked());
    if (known)
        SortOwnOrderRows(rows, static_cast<std::size_t>(column), ascending);
    Fill(std::move(rows));
}

void TOwnOrdersForm::Fill(std::vector<TOwnOrderRow> rows) {
    // The selection follows the orders, not the row positions, as new orders come in on top.
    std::set<std::int64_t> selected;
    for (const QModelIndex& index : Grid->selectionModel()->selectedRows())
        selected.insert(FRows[static_cast<std::size_t>(index.row())].OrderId);
    FRows = std::move(rows);
    Grid->clearSelection();
    Grid->setRowCount(static_cast<int>(FRows.size()));
    const QFontMetrics metrics = Grid->fontMetrics();
    std::vector<int> widths(kOwnOrderColumns, 0);
    // Buys green, sells red, as the book's sides; a finished order's text greyed over either.
    const QBrush buy(QColor(225, 245, 225));
    const QBrush sell(QColor(252, 226, 226));
    for (std::size_t r = 0; r < FRows.size(); ++r) {
        for (std::size_t c = 0; c < kOwnOrderColumns; ++c) {
            const QString text = QString::fromStdString(FRows[r].Cells[c]);
            widths[c] = std::max(widths[c], metrics.horizontalAdvance(text));
            auto* item = new QTableWidgetItem(text);
            item->setBackground(FRows[r].Buy ? buy : sell);
            if (!FRows[r].Active)
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            Grid->setItem(static_cast<int>(r), static_cast<int>(c), item);
        }
        if (selected.count(FRows[r].OrderId) != 0)
            Grid->selectRow(static_cast<int>(r));
    }
    // Columns only widen: one that narrowed with every refresh would jump under the cursor.
    for (std::size_t c = 0; c < kOwnOrderColumns; ++c) {
        const int column = static_cast<int>(c);
        Grid->setColumnWidth(column, std::max(Grid->columnWidth(column), widths[c] + 16));
    }
    std::size_t active = 0;
    for (const TOwnOrderRow& row : FRows)
        active += row.Active ? 1 : 0;
    StatusLabel->setText(QStringLiteral("Активных заявок: %1").arg(active));
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
        const TOwnOrderRow& row = FRows[static_cast<std::size_t>(index.row())];
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
    for (const TOwnOrderRow& row : FRows)
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
