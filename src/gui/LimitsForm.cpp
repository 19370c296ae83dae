#include "gui/LimitsForm.h"

#include "main/Dialogs.h"
#include "main/TerminalDesk.h"
#include "platform/FormatSettings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace vorlen::gui {

namespace {

enum { kClientColumn, kIsinColumn, kFirstKeyColumn };

constexpr const char* kAllClients = "все клиенты";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TLimitsForm::TLimitsForm(std::filesystem::path dir, std::function<orders::TOrderDesk*()> desk,
                         QWidget* parent)
    : QDialog(parent), FDir(std::move(dir)), FDesk(std::move(desk)) {
    setObjectName(QStringLiteral("LimitsForm"));
    setWindowTitle(QStringLiteral("Лимиты заявок"));
    const orders::TRiskLimits d;
    auto* help = new QLabel(
        QStringLiteral("Первая строка — для всех кодов клиента; ниже — для кода клиента или для "
                       "кода клиента и инструмента. Пустая ячейка — значение из более общей "
                       "строки, затем встроенное (%1 лотов в заявке, позиция %2, %3 активных, "
                       "%4 в минуту, %5 в день, отклонение %6 %, опционы %7 шагов).")
            .arg(d.MaxOrderQty)
            .arg(d.MaxPosition)
            .arg(d.MaxActive)
            .arg(d.MaxPerMinute)
            .arg(d.MaxPerDay)
            .arg(Q(orders::FormatPrice(d.MaxDistanceBp * (orders::kPriceScale / 100),
                                       FormatSettings().DecimalSeparator)))
            .arg(d.MaxOptionDistanceSteps),
        this);
    help->setWordWrap(true);

    Table = new QTableWidget(0, kFirstKeyColumn + static_cast<int>(orders::kLimitKeyCount), this);
    Table->setObjectName(QStringLiteral("LimitsTable"));
    QStringList captions{QStringLiteral("Код клиента"), QStringLiteral("Инструмент")};
    for (const char* caption : orders::LimitKeyCaptions())
        captions << QString::fromUtf8(caption);
    Table->setHorizontalHeaderLabels(captions);
    for (std::size_t k = 0; k < orders::kLimitKeyCount; ++k)
        Table->horizontalHeaderItem(kFirstKeyColumn + static_cast<int>(k))
            ->setToolTip(QString::fromUtf8(orders::LimitKeyHints()[k]));
    Table->verticalHeader()->setVisible(false);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setTextElideMode(Qt::ElideNone);
    // Every caption in view: the columns are as wide as their captions, at least.
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table->horizontalHeader()->setStretchLastSection(true);

    ErrorLabel = new QLabel(this);
    ErrorLabel->setObjectName(QStringLiteral("ErrorLabel"));
    ErrorLabel->setWordWrap(true);
    ErrorLabel->setStyleSheet(QStringLiteral("color: #b00000;"));
    AddButton = new QPushButton(QStringLiteral("Добавить строку"), this);
    AddButton->setObjectName(QStringLiteral("AddButton"));
    AddButton->setAutoDefault(false);
    RemoveButton = new QPushButton(QStringLiteral("Удалить строку"), this);
    RemoveButton->setObjectName(QStringLiteral("RemoveButton"));
    RemoveButton->setAutoDefault(false);
    SaveButton = new QPushButton(QStringLiteral("Сохранить"), this);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    SaveButton->setAutoDefault(false);
    CancelButton = new QPushButton(QStringLiteral("Отмена"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(AddButton);
    buttons->addWidget(RemoveButton);
    buttons->addStretch(1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(help);
    layout->addWidget(Table, 1);
    layout->addWidget(ErrorLabel);
    layout->addLayout(buttons);
    connect(SaveButton, &QPushButton::clicked, this, &TLimitsForm::SaveClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(AddButton, &QPushButton::clicked, this, &TLimitsForm::AddClick);
    connect(RemoveButton, &QPushButton::clicked, this, &TLimitsForm::RemoveClick);

    if (!LoadText(LimitsFileText(FDir)))
        ShowRows(orders::LimitsRows(orders::TLimitsBook{}, FormatSettings().DecimalSeparator));
    int width = 0;
    for (int c = 0; c < Table->columnCount(); ++c)
        width += Table->horizontalHeader()->sectionSize(c);
    resize(std::max(width + 40, 760), 400);
}

bool TLimitsForm::LoadText(const std::string& text) {
    orders::TLimitsBook book;
    std::string error;
    if (!book.Parse(text, error)) {
        // Shown, never saved over silently: the trader sees what the file was.
        ErrorLabel->setText(QStringLiteral("Файл лимитов не прочитан (") + Q(error) +
                            QStringLiteral("); сохранение заменит его."));
        return false;
    }
    ErrorLabel->clear();
    ShowRows(orders::LimitsRows(book, FormatSettings().DecimalSeparator));
    return true;
}

void TLimitsForm::ShowRows(const std::vector<orders::TLimitsRow>& rows) {
    Table->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const int row = static_cast<int>(r);
        const bool all = r == 0;
        auto* client =
            new QTableWidgetItem(all ? QString::fromUtf8(kAllClients) : Q(rows[r].Client));
        auto* isin = new QTableWidgetItem(Q(rows[r].Isin));
        if (all) {
            // The rule for every client code is always there and has no instrument.
            for (QTableWidgetItem* item : {client, isin}) {
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            }
        }
        Table->setItem(row, kClientColumn, client);
        Table->setItem(row, kIsinColumn, isin);
        for (std::size_t k = 0; k < orders::kLimitKeyCount; ++k) {
            auto* item = new QTableWidgetItem(Q(rows[r].Values[k]));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            Table->setItem(row, kFirstKeyColumn + static_cast<int>(k), item);
        }
    }
}

std::vector<orders::TLimitsRow> TLimitsForm::TableRows() const {
    std::vector<orders::TLimitsRow> rows;
    const auto cell = [this](int row, int column) {
        const QTableWidgetItem* item = Table->item(row, column);
        return item != nullptr ? item->text().toStdString() : std::string();
    };
    for (int row = 0; row < Table->rowCount(); ++row) {
        orders::TLimitsRow r;
        r.Client = row == 0 ? "*" : cell(row, kClientColumn);
        r.Isin = row == 0 ? std::string() : cell(row, kIsinColumn);
        for (std::size_t k = 0; k < orders::kLimitKeyCount; ++k)
            r.Values[k] = cell(row, kFirstKeyColumn + static_cast<int>(k));
        rows.push_back(std::move(r));
    }
    return rows;
}

std::string TLimitsForm::Text() const {
    return orders::LimitsRowsText(TableRows());
}

void TLimitsForm::AddClick() {
    const int row = Table->rowCount();
    Table->insertRow(row);
    for (int c = 0; c < Table->columnCount(); ++c) {
        auto* item = new QTableWidgetItem;
        if (c >= kFirstKeyColumn)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Table->setItem(row, c, item);
    }
    Table->setCurrentCell(row, kClientColumn);
    Table->editItem(Table->item(row, kClientColumn));
}

void TLimitsForm::RemoveClick() {
    const int row = Table->currentRow();
    if (row <= 0) {
        ErrorLabel->setText(QStringLiteral("Строку для всех клиентов удалить нельзя: очистите "
                                           "её ячейки."));
        return;
    }
    Table->removeRow(row);
}

void TLimitsForm::SaveClick() {
    orders::TLimitsBook book;
    std::string error;
    const std::string text = Text();
    // A zero typed for "no limit" would stop trading without a word: it is saved only once the
    // trader has read what it does.
    if (orders::TLimitsBook probe; probe.Parse(text, error)) {
        if (const std::string warning = StoppingLimitsQuestion(probe.Stopping());
            !warning.empty() && !AskConfirm(warning)) {
            ErrorLabel->setText(QStringLiteral("Лимиты не сохранены."));
            return;
        }
    }
    // Nothing is written and nothing changes on the desk unless the whole table is sound. The
    // parser counts lines, which are the table's rows.
    if (!SaveLimitsFile(FDir, text, book, error)) {
        const std::string line = "строка ";
        if (error.rfind(line, 0) == 0)
            error.replace(0, line.size(), "строка таблицы ");
        ErrorLabel->setText(QStringLiteral("Лимиты не сохранены: ") + Q(error));
        return;
    }
    if (orders::TOrderDesk* desk = FDesk ? FDesk() : nullptr)
        desk->SetLimits(std::move(book));
    accept();
}

} // namespace vorlen::gui
