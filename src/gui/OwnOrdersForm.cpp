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
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Grid->verticalHeader()->setVisible(false);
    Grid->horizontalHeader()->setStretchLastSection(true);

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
    resize(720, 260);

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
    const bool same = rows.size() == FRows.size() &&
                      std::equal(rows.begin(), rows.end(), FRows.begin(),
                                 [](const auto& a, const auto& b) { return a.Cells == b.Cells; });
    if (same)
        return;
    // The selection follows the orders, not the row positions, as new orders come in on top.
    std::set<std::int64_t> selected;
    for (const QModelIndex& index : Grid->selectionModel()->selectedRows())
        selected.insert(FRows[static_cast<std::size_t>(index.row())].OrderId);
    FRows = std::move(rows);
    Grid->clearSelection();
    Grid->setRowCount(static_cast<int>(FRows.size()));
    for (std::size_t r = 0; r < FRows.size(); ++r) {
        for (std::size_t c = 0; c < kOwnOrderColumns; ++c) {
            auto* item = new QTableWidgetItem(QString::fromStdString(FRows[r].Cells[c]));
            if (!FRows[r].Active)
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            Grid->setItem(static_cast<int>(r), static_cast<int>(c), item);
        }
        if (selected.count(FRows[r].OrderId) != 0)
            Grid->selectRow(static_cast<int>(r));
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
