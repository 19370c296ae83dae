#include "gui/BacktestForm.h"

#include "backtest/BacktestReport.h"
#include "book/Book.h"
#include "gateway/Cgate.h"
#include "gui/BacktestPlot.h"
#include "gui/Modal.h"
#include "history/Reader.h"
#include "main/Dialogs.h"
#include "main/TerminalDesk.h"
#include "orders/RiskLimits.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimeZone>
#include <QTimer>
#include <QVBoxLayout>
#include <array>

namespace vorlen::gui {

namespace {

constexpr int kProgressSteps = 1000;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString MarketTime(std::int64_t ns) {
    return QDateTime::fromMSecsSinceEpoch(ns / 1'000'000, QTimeZone(10800))
        .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
}

// "2026-12-10" as the trader reads dates.
QString DateText(const std::string& date) {
    const QDate d = QDate::fromString(Q(date), Qt::ISODate);
    return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : Q(date);
}

struct TFillChoice {
    const char* Caption;
    fills::TFillModel Model;
};
constexpr std::array<TFillChoice, 3> kFills = {{{"касание", fills::TFillModel::Touch},
                                                {"сквозь", fills::TFillModel::Through},
                                                {"очередь", fills::TFillModel::Queue}}};

} // namespace

// A figure of the report as the terminal's other windows show it: money in roubles with the
// locale's separator, the win rate in per cent; the report's files keep the plain numbers.
QString SummaryValue(const std::string& name, const std::string& value) {
    static constexpr std::string_view kMoney[] = {"net_pnl",     "gross_pnl",    "fees",
                                                  "largest_win", "largest_loss", "max_drawdown",
                                                  "day_net_pnl "};
    bool number = false;
    const double v = QString::fromStdString(value).toDouble(&number);
    if (!number)
        return QString::fromStdString(value);
    for (const std::string_view money : kMoney)
        if (name.rfind(money, 0) == 0)
            return QString::fromStdString(MoneyText(v));
    if (name == "win_rate")
        return QLocale(QLocale::Russian).toString(v * 100, 'f', 1) + QStringLiteral(" %");
    return QString::fromStdString(value);
}

QString SummaryLabel(const std::string& name) {
    static const std::pair<const char*, const char*> labels[] = {
        {"net_pnl", "Чистый результат"},
        {"gross_pnl", "Результат без комиссий"},
        {"fees", "Комиссии"},
        {"orders", "Заявок"},
        {"fills", "Сделок"},
        {"refusals", "Отказов"},
        {"win_rate", "Доля прибыльных закрытий"},
        {"largest_win", "Наибольшая прибыль"},
        {"largest_loss", "Наибольший убыток"},
        {"max_drawdown", "Наибольшая просадка"},
        {"final_position", "Позиция в конце"},
        {"max_exposure", "Наибольшая позиция"},
        {"records", "Записей прочитано"},
    };
    for (const auto& [key, label] : labels)
        if (name == key)
            return QString::fromUtf8(label);
    constexpr std::string_view day = "day_net_pnl ";
    if (name.rfind(day, 0) == 0)
        return QStringLiteral("Чистый результат за ") + DateText(name.substr(day.size()));
    return Q(name);
}

// The trades of a test: a view over the result's rows, formatted as the view asks for them.
class TTradesModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetRows(const std::vector<backtest::TTradeRow>* rows) {
        beginResetModel();
        FRows = rows;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() || FRows == nullptr ? 0 : static_cast<int>(FRows->size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(kHeaders.size());
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
            section >= static_cast<int>(kHeaders.size()))
            return {};
        return QString::fromUtf8(kHeaders[static_cast<std::size_t>(section)]);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (FRows == nullptr || !index.isValid() || index.row() >= rowCount({}))
            return {};
        if (role == Qt::TextAlignmentRole)
            return index.column() == 0 || index.column() == 2
                       ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                       : QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        const backtest::TTradeRow& t = (*FRows)[static_cast<std::size_t>(index.row())];
        switch (index.column()) {
        case 0:
            return MarketTime(t.AtNs);
        case 1:
            return QString::number(t.OrderId);
        case 2:
            return t.Buy ? QStringLiteral("Покупка") : QStringLiteral("Продажа");
        case 3:
            return QString::number(t.Qty);
        case 4:
            return Q(orders::FormatPrice(t.Price));
        case 5:
            return Q(backtest::Money(t.Fee));
        case 6:
            return t.Closing ? Q(backtest::Money(t.Realized)) : QString();
        case 7:
            return QString::number(t.Position);
        default:
            return {};
        }
    }

private:
    static constexpr std::array<const char*, 8> kHeaders = {
        "Время", "Заявка", "Операция", "Кол-во", "Цена", "Комиссия", "Доход", "Позиция"};
    const std::vector<backtest::TTradeRow>* FRows = nullptr;
};

TBacktestForm::TBacktestForm(TBacktestSetup setup, QWidget* parent)
    : QDialog(parent), FSetup(std::move(setup)) {
    setObjectName(QStringLiteral("BacktestForm"));
    setWindowTitle(QStringLiteral("Тест на истории: ") + Q(FSetup.Isin));
    setSizeGripEnabled(true);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(CreateInputs());
    splitter->addWidget(CreateResults());
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    resize(980, 760);

    FTimer = new QTimer(this);
    FTimer->setInterval(100);
    connect(FTimer, &QTimer::timeout, this, [this] { Poll(); });
    LoadDays();
    ReadParams();
    SetRunning(false);
}

TBacktestForm::~TBacktestForm() {
    Abort();
}

QWidget* TBacktestForm::CreateInputs() {
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    int row = 0;
    const auto caption = [&](const QString& text) {
        auto* label = new QLabel(text, box);
        grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
    };

    caption(QStringLiteral("Дни:"));
    DaysList = new QListWidget(box);
    DaysList->setObjectName(QStringLiteral("DaysList"));
    DaysList->setMaximumHeight(fontMetrics().height() * 5);
    grid->addWidget(DaysList, row++, 1, 1, 2);

    caption(QStringLiteral("Стратегия:"));
    StrategyEdit = new QLineEdit(FSetup.StrategyFile, box);
    StrategyEdit->setObjectName(QStringLiteral("StrategyEdit"));
    connect(StrategyEdit, &QLineEdit::editingFinished, this, [this] { ReadParams(); });
    grid->addWidget(StrategyEdit, row, 1);
    StrategyButton = new QPushButton(QStringLiteral("Выбрать..."), box);
    connect(StrategyButton, &QPushButton::clicked, this, [this] { PickStrategy(); });
    grid->addWidget(StrategyButton, row++, 2);

    caption(QStringLiteral("Исполнение:"));
    auto* line = new QHBoxLayout();
    FillBox = new QComboBox(box);
    FillBox->setObjectName(QStringLiteral("FillBox"));
    for (const TFillChoice& f : kFills)
        FillBox->addItem(QString::fromUtf8(f.Caption));
    line->addWidget(FillBox);
    line->addSpacing(16);
    line->addWidget(new QLabel(QStringLiteral("Задержка, мс:"), box));
    LatencyBox = new QSpinBox(box);
    LatencyBox->setObjectName(QStringLiteral("LatencyBox"));
    LatencyBox->setRange(0, 60'000);
    line->addWidget(LatencyBox);
    line->addStretch(1);
    grid->addLayout(line, row++, 1, 1, 2);

    caption(QStringLiteral("Параметры:"));
    ParamsTable = new QTableWidget(0, 2, box);
    ParamsTable->setObjectName(QStringLiteral("ParamsTable"));
    ParamsTable->setHorizontalHeaderLabels(
        {QStringLiteral("Параметр"), QStringLiteral("Значение")});
    ParamsTable->horizontalHeader()->setStretchLastSection(true);
    ParamsTable->verticalHeader()->hide();
    ParamsTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    ParamsTable->setMaximumHeight(fontMetrics().height() * 9);
    grid->addWidget(ParamsTable, row++, 1, 1, 2);

    caption(QStringLiteral("Лимиты риска:"));
    LimitsEdit = new QLineEdit(FSetup.LimitsFile, box);
    LimitsEdit->setObjectName(QStringLiteral("LimitsEdit"));
    LimitsEdit->setPlaceholderText(QStringLiteral("встроенные лимиты"));
    grid->addWidget(LimitsEdit, row, 1);
    LimitsButton = new QPushButton(QStringLiteral("Выбрать..."), box);
    connect(LimitsButton, &QPushButton::clicked, this, [this] { PickLimits(); });
    grid->addWidget(LimitsButton, row++, 2);

    auto* buttons = new QHBoxLayout();
    RunButton = new QPushButton(QStringLiteral("Запустить"), box);
    RunButton->setObjectName(QStringLiteral("RunButton"));
    connect(RunButton, &QPushButton::clicked, this, [this] { Start(); });
    CancelButton = new QPushButton(QStringLiteral("Отмена"), box);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        if (FJob != nullptr)
            FJob->Cancel();
    });
    Progress = new QProgressBar(box);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setRange(0, kProgressSteps);
    Progress->setValue(0);
    SaveButton = new QPushButton(QStringLiteral("Сохранить отчёт..."), box);
    SaveButton->setObjectName(QStringLiteral("SaveButton"));
    connect(SaveButton, &QPushButton::clicked, this, [this] { PickReportFolder(); });
    CloseButton = new QPushButton(QStringLiteral("Закрыть"), box);
    connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
    buttons->addWidget(RunButton);
    buttons->addWidget(CancelButton);
    buttons->addWidget(Progress, 1);
    buttons->addWidget(SaveButton);
    buttons->addWidget(CloseButton);
    grid->addLayout(buttons, row++, 0, 1, 3);

    StatusLabel = new QLabel(box);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    StatusLabel->setWordWrap(true);
    StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(StatusLabel, row++, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    return box;
}

QWidget* TBacktestForm::CreateResults() {
    // The figures beside the curve: both in sight at once; the trades behind the curve.
    auto* split = new QSplitter(Qt::Horizontal, this);
    SummaryTable = new QTableWidget(0, 2, split);
    SummaryTable->setObjectName(QStringLiteral("SummaryTable"));
    SummaryTable->setHorizontalHeaderLabels({QStringLiteral("Итоги"), QStringLiteral("Значение")});
    SummaryTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    SummaryTable->horizontalHeader()->setStretchLastSection(true);
    SummaryTable->verticalHeader()->hide();
    SummaryTable->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    SummaryTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SummaryTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Tabs = new QTabWidget(split);
    Tabs->setObjectName(QStringLiteral("ResultTabs"));
    Plot = new TEquityPlot(Tabs);
    FTrades = new TTradesModel(this);
    TradesView = new QTableView(Tabs);
    TradesView->setObjectName(QStringLiteral("TradesView"));
    TradesView->setModel(FTrades);
    TradesView->verticalHeader()->hide();
    TradesView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    TradesView->setTextElideMode(Qt::ElideNone);
    TradesView->setColumnWidth(
        0, fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000 00:00:00.000")) + 12);
    Tabs->addTab(Plot, QStringLiteral("Капитал"));
    Tabs->addTab(TradesView, QStringLiteral("Сделки"));
    split->addWidget(SummaryTable);
    split->addWidget(Tabs);
    split->setStretchFactor(1, 1);
    return split;
}

void TBacktestForm::LoadDays() {
    DaysList->clear();
    const std::vector<std::filesystem::path> files = backtest::DayFiles(FSetup.HistoryFolder);
    for (const std::filesystem::path& file : files) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec))
            continue;
        history::TRecordingReader header;
        const bool readable = header.Open(file);
        const double mb = static_cast<double>(std::filesystem::file_size(file, ec)) / (1 << 20);
        QString text =
            readable ? DateText(header.Header().TradingDate) : Q(file.filename().string());
        text += QStringLiteral(" — ") + QLocale(QLocale::Russian).toString(mb, 'f', 1) +
                QStringLiteral(" МБ");
        if (!readable)
            text += QStringLiteral(" (не читается: ") + Q(header.Error()) + QStringLiteral(")");
        auto* item = new QListWidgetItem(text, DaysList);
        item->setData(Qt::UserRole, Q(file.string()));
        item->setFlags(readable ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::NoItemFlags);
        item->setCheckState(Qt::Unchecked);
    }
    // The latest day is the one usually wanted.
    for (int i = DaysList->count() - 1; i >= 0; --i)
        if (DaysList->item(i)->flags() & Qt::ItemIsUserCheckable) {
            DaysList->item(i)->setCheckState(Qt::Checked);
            break;
        }
    if (DaysList->count() == 0)
        StatusLabel->setText(QStringLiteral("В папке истории нет записей: ") +
                             Q(FSetup.HistoryFolder.string()));
}

namespace {

bool ReadScript(const QString& path, std::string& text) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    text = file.readAll().toStdString();
    return true;
}

} // namespace

void TBacktestForm::ReadParams() {
    // Values typed already stay when the same script is read again.
    std::map<QString, QString> typed;
    for (int r = 0; r < ParamsTable->rowCount(); ++r)
        typed[ParamsTable->item(r, 0)->text()] = ParamsTable->item(r, 1)->text();
    ParamsTable->setRowCount(0);
    const QString path = StrategyEdit->text().trimmed();
    if (path.isEmpty())
        return;
    std::string source, error;
    TStrategyParams params;
    if (!ReadScript(path, source)) {
        StatusLabel->setText(QStringLiteral("Не удалось прочитать файл ") + path);
        return;
    }
    if (!backtest::ReadScriptParams(QFileInfo(path).fileName().toStdString(), source, params,
                                    error)) {
        StatusLabel->setText(Q(error));
        return;
    }
    StatusLabel->clear();
    ParamsTable->setRowCount(static_cast<int>(params.size()));
    for (int r = 0; r < static_cast<int>(params.size()); ++r) {
        const TStrategyParam& p = params[static_cast<std::size_t>(r)];
        auto* name = new QTableWidgetItem(Q(p.Name));
        name->setFlags(Qt::ItemIsEnabled);
        ParamsTable->setItem(r, 0, name);
        const auto it = typed.find(Q(p.Name));
        ParamsTable->setItem(r, 1,
                             new QTableWidgetItem(it != typed.end() ? it->second : Q(p.Value)));
    }
    ParamsTable->resizeColumnToContents(0);
}

void TBacktestForm::Start() {
    if (FJob != nullptr)
        return;
    backtest::TBacktestConfig config;
    config.Isin = FSetup.Isin;
    for (int i = 0; i < DaysList->count(); ++i)
        if (DaysList->item(i)->checkState() == Qt::Checked)
            config.Days.emplace_back(
                DaysList->item(i)->data(Qt::UserRole).toString().toStdString());
    if (config.Days.empty()) {
        ShowError("Не выбрано ни одного дня.");
        return;
    }
    const QString path = StrategyEdit->text().trimmed();
    if (path.isEmpty()) {
        ShowError("Не выбран файл стратегии.");
        return;
    }
    if (!ReadScript(path, config.StrategySource)) {
        ShowError("Не удалось прочитать файл " + path.toStdString());
        return;
    }
    config.StrategyName = QFileInfo(path).fileName().toStdString();
    std::string params;
    for (int r = 0; r < ParamsTable->rowCount(); ++r) {
        config.Params.emplace_back(ParamsTable->item(r, 0)->text().toStdString(),
                                   ParamsTable->item(r, 1)->text().trimmed().toStdString());
        params += (params.empty() ? "" : " ") + config.Params.back().first + "=" +
                  config.Params.back().second;
    }
    TStrategyParams declared;
    std::string error;
    if (!backtest::ReadScriptParams(config.StrategyName, config.StrategySource, declared, error) ||
        !ApplyParamOverrides(declared, config.Params, error)) {
        ShowError("Стратегия " + config.StrategyName + ": " + error);
        return;
    }
    if (const QString limits = LimitsEdit->text().trimmed(); !limits.isEmpty()) {
        if (!ReadLimitsFile(std::filesystem::path(limits.toStdString()), config.Limits, error)) {
            ShowError("Файл лимитов " + limits.toStdString() + ": " + error);
            return;
        }
    }
    // The recorded prices are the gateway's decimals: without its library they cannot be read.
    if (CG().cg_bcd_get == nullptr) {
        ShowError("Библиотека шлюза не загружена: цены в записях прочитать нечем.");
        return;
    }
    const TFillChoice& fill =
        kFills[static_cast<std::size_t>(std::max(0, FillBox->currentIndex()))];
    config.Fill = fill.Model;
    config.LatencyMs = LatencyBox->value();
    config.PostsPerSecond = FSetup.PostsPerSecond;
    FRunningFacts = {
        {"strategy", config.StrategyName},
        {"isin", config.Isin},
        {"params", params},
        {"fill", std::string(fills::FillModelName(config.Fill))},
        {"latency_ms", std::to_string(config.LatencyMs)},
        {"days", std::to_string(config.Days.size())},
    };
    FJob = std::make_unique<backtest::TBacktestJob>(std::move(config));
    Progress->setValue(0);
    StatusLabel->setText(QStringLiteral("Тест идёт..."));
    SetRunning(true);
    FTimer->start();
}

void TBacktestForm::Poll() {
    if (FJob == nullptr) {
        FTimer->stop();
        return;
    }
    Progress->setValue(static_cast<int>(FJob->Done() * kProgressSteps));
    if (!FJob->Finished()) {
        StatusLabel->setText(
            QStringLiteral("Тест идёт: прочитано записей ") +
            QLocale(QLocale::Russian).toString(static_cast<qulonglong>(FJob->Records())));
        return;
    }
    auto result = std::make_unique<backtest::TBacktestResult>(FJob->TakeResult());
    FJob.reset();
    FTimer->stop();
    SetRunning(false);
    if (result->Cancelled) {
        Progress->setValue(0);
        StatusLabel->setText(QStringLiteral("Тест прерван."));
        return;
    }
    if (!result->Ok) {
        StatusLabel->setText(QStringLiteral("Тест не выполнен: ") + Q(result->Error));
        ShowError("Тест не выполнен: " + result->Error);
        return;
    }
    FResult = std::move(result);
    FFacts = FRunningFacts;
    StatusLabel->setText(QStringLiteral("Тест выполнен."));
    ShowResult();
    SetRunning(false);
}

void TBacktestForm::ShowResult() {
    const std::vector<std::pair<std::string, std::string>> rows = backtest::SummaryRows(*FResult);
    SummaryTable->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const auto& [name, value] = rows[static_cast<std::size_t>(r)];
        SummaryTable->setItem(r, 0, new QTableWidgetItem(SummaryLabel(name)));
        auto* item = new QTableWidgetItem(SummaryValue(name, value));
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        SummaryTable->setItem(r, 1, item);
    }
    // Every figure whole, however long the money.
    SummaryTable->resizeColumnsToContents();
    const int width = SummaryTable->columnWidth(0) + SummaryTable->columnWidth(1) +
                      SummaryTable->verticalScrollBar()->sizeHint().width() +
                      2 * SummaryTable->frameWidth() + 16;
    SummaryTable->setMinimumWidth(width);
    Plot->SetPoints(FResult->Equity);
    FTrades->SetRows(&FResult->Trades);
}

void TBacktestForm::SetRunning(bool running) {
    RunButton->setEnabled(!running);
    CancelButton->setEnabled(running);
    SaveButton->setEnabled(!running && FResult != nullptr);
    for (QWidget* w :
         std::initializer_list<QWidget*>{DaysList, StrategyEdit, StrategyButton, FillBox,
                                         LatencyBox, ParamsTable, LimitsEdit, LimitsButton})
        w->setEnabled(!running);
}

void TBacktestForm::PickStrategy() {
    TOpenFileRequest request;
    request.Parent = this;
    request.Directory = QFileInfo(StrategyEdit->text()).absolutePath();
    request.NameFilters = {QStringLiteral("Стратегии Lua (*.lua)"),
                           QStringLiteral("Все файлы (*.*)")};
    request.DefaultSuffix = QStringLiteral("lua");
    const QString path = PickOpenFile(request);
    if (path.isEmpty())
        return;
    StrategyEdit->setText(path);
    ReadParams();
}

void TBacktestForm::PickLimits() {
    TOpenFileRequest request;
    request.Parent = this;
    request.Directory = QFileInfo(LimitsEdit->text()).absolutePath();
    request.NameFilters = {QStringLiteral("Лимиты (*.txt)"), QStringLiteral("Все файлы (*.*)")};
    request.DefaultSuffix = QStringLiteral("txt");
    const QString path = PickOpenFile(request);
    if (!path.isEmpty())
        LimitsEdit->setText(path);
}

void TBacktestForm::PickReportFolder() {
    TOpenFileRequest request;
    request.Parent = this;
    request.Folder = true;
    const QString dir = PickOpenFile(request);
    if (!dir.isEmpty())
        SaveReport(dir);
}

bool TBacktestForm::SaveReport(const QString& dir) {
    if (FResult == nullptr)
        return false;
    std::string error;
    if (!backtest::WriteReport(std::filesystem::path(dir.toStdString()), FFacts, *FResult, error)) {
        ShowError("Отчёт не сохранён: " + error);
        return false;
    }
    StatusLabel->setText(QStringLiteral("Отчёт сохранён в папку ") + dir);
    return true;
}

void TBacktestForm::Abort() {
    if (FJob == nullptr)
        return;
    FTimer->stop();
    FJob->Stop();
    FJob.reset();
    SetRunning(false);
    Progress->setValue(0);
    StatusLabel->setText(QStringLiteral("Тест прерван."));
}

void TBacktestForm::closeEvent(QCloseEvent* event) {
    Abort();
    event->accept();
}

void TBacktestForm::reject() {
    Abort();
    QDialog::reject();
}

} // namespace vorlen::gui
