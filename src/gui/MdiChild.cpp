#include "gui/MdiChild.h"

#include "gui/DesignFont.h"
#include "gui/JournalPane.h"
#include "gui/StaleMark.h"
#include "platform/Thread.h"

#include <QCloseEvent>
#include <QPushButton>

#if VORLEN_STRATEGIES
#include "gui/Modal.h"
#include "gui/StrategyForm.h"
#include "main/Dialogs.h"

#include <QFile>
#include <QFileInfo>
#endif

namespace vorlen::gui {

namespace {
const QSize kClientSize(415, 253);
}

QSize TMDIChild::sizeHint() const {
    return kClientSize;
}

TMDIChild::TMDIChild(TCGStorage* store, TCGTRConnection* transactions, orders::TOrderDesk* desk,
                     TBookKeeper* books, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("MDIChild"));
    setWindowTitle(QStringLiteral("MDI Child"));
    setFont(DesignFont(font()));
    resize(kClientSize);

    Memo1 = new TJournalPane(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(7, 121, 401, 89);
    Memo1->setPlainText(QStringLiteral("Memo1"));

    BitBtn1 = new QPushButton(QStringLiteral("Старт"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(24, 216, 75, 25);
    BitBtn2 = new QPushButton(QStringLiteral("Настройки"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(136, 216, 75, 25);
    Button1 = new QPushButton(QStringLiteral("Загрузить эксперта"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(240, 216, 123, 25);

    StaleMark = new TStaleMark(this);
    BookButton = new QPushButton(QStringLiteral("Стакан"), this);
    BookButton->setObjectName(QStringLiteral("BookButton"));
    BookButton->setGeometry(7, 7, 75, 25);
    connect(BookButton, &QPushButton::clicked, this, [this] {
        if (const TExpert* expert = Expert(); expert != nullptr)
            emit BookRequested(expert->isin_id, QString::fromStdString(expert->Futisin));
    });
    ChartButton = new QPushButton(QStringLiteral("График"), this);
    ChartButton->setObjectName(QStringLiteral("ChartButton"));
    ChartButton->setGeometry(88, 7, 75, 25);
    connect(ChartButton, &QPushButton::clicked, this, [this] {
        if (const TExpert* expert = Expert(); expert != nullptr)
            emit ChartRequested(expert->isin_id, QString::fromStdString(expert->Futisin));
    });
#if VORLEN_BACKTEST
    BacktestButton = new QPushButton(QStringLiteral("Тест на истории..."), this);
    BacktestButton->setObjectName(QStringLiteral("BacktestButton"));
    BacktestButton->setGeometry(169, 7, 121, 25);
    connect(BacktestButton, &QPushButton::clicked, this, [this] {
        if (const TExpert* expert = Expert(); expert != nullptr)
            emit BacktestRequested(QString::fromStdString(expert->Futisin), FStrategyFile);
    });
#endif

    if (store == nullptr)
        return;
    FHost = std::make_unique<TExpertHost>(*Memo1, store, transactions, desk, books);
#if VORLEN_STRATEGIES
    // Queued, and dropped with the window if it is gone by then.
    connect(this, &TMDIChild::StrategyChangeArrived, this, &TMDIChild::StrategyChanged,
            Qt::QueuedConnection);
    FHost->SetOnStrategyChange([this] { emit StrategyChangeArrived(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
#endif
}

TMDIChild::~TMDIChild() {
    StopExpert();
}

std::string TMDIChild::Caption() const {
#if VORLEN_STRATEGIES
    if (!FBaseCaption.isEmpty())
        return FBaseCaption.toStdString();
#endif
    return windowTitle().toStdString();
}

void TMDIChild::SetupExpert(std::int32_t isin_id, const std::string& futName,
                            const std::string& futIsin) {
    if (FHost != nullptr)
        FHost->SetupExpert(isin_id, futName, futIsin);
}

bool TMDIChild::RegisterAndStart() {
    return FHost != nullptr && FHost->RegisterAndStart();
}

void TMDIChild::StopExpert() {
    if (FHost != nullptr)
        FHost->StopExpert();
}

void TMDIChild::StopStrategy() {
    if (FHost != nullptr)
        FHost->StopStrategy();
}

void TMDIChild::FinishStrategy() {
    if (FHost != nullptr)
        FHost->FinishStrategy();
}

void TMDIChild::ShowStale(bool stale, const std::string& text) {
    StaleMark->ShowStale(stale, QString::fromStdString(text));
}

bool TMDIChild::StrategyRunning() const {
    return FHost != nullptr && FHost->StrategyRunning();
}

void TMDIChild::closeEvent(QCloseEvent* event) {
    StopExpert();
    event->accept();
}

#if VORLEN_STRATEGIES
TStrategyRunner* TMDIChild::Runner() {
    return FHost != nullptr ? FHost->Strategy() : nullptr;
}

void TMDIChild::Button1Click() {
    TStrategyRunner* runner = Runner();
    if (runner == nullptr)
        return;
    TOpenFileRequest request;
    request.Parent = this;
    request.NameFilters = {QStringLiteral("Стратегии Lua (*.lua)"),
                           QStringLiteral("Все файлы (*.*)")};
    request.DefaultSuffix = QStringLiteral("lua");
    const QString path = PickOpenFile(request);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowError("Не удалось прочитать файл " + path.toStdString());
        return;
    }
    const QByteArray text = file.readAll();
    FStrategyFile = path;
    runner->Load(QFileInfo(path).fileName().toStdString(), text.toStdString());
}

void TMDIChild::BitBtn2Click() {
    TStrategyRunner* runner = Runner();
    if (runner == nullptr)
        return;
    const TStrategyStatus status = runner->Status();
    if (status.State == TStrategy::TState::Empty) {
        ShowInfo("Эксперт не загружен.");
        return;
    }
    TStrategyForm form(QString::fromStdString(status.Name), status.Params, this);
    if (ExecModal(form) != QDialog::Accepted)
        return;
    std::vector<TParamOverride> values = form.Values();
    TStrategyParams checked = status.Params;
    if (std::string error; !ApplyParamOverrides(checked, values, error)) {
        ShowError("Стратегия " + status.Name + ": " + error);
        return;
    }
    // A running strategy takes them at its next start.
    runner->SetParams(std::move(values));
}

void TMDIChild::BitBtn1Click() {
    TStrategyRunner* runner = Runner();
    if (runner == nullptr)
        return;
    const TStrategy::TState state = runner->Status().State;
    if (state == TStrategy::TState::Empty) {
        ShowInfo("Эксперт не загружен.");
    } else if (state == TStrategy::TState::Running) {
        runner->Stop();
    } else {
        // The journal says it too when the strategy is asked to start; the trader pressing the
        // button is told at once.
        if (const std::string halt = FHost->HaltReason(); !halt.empty())
            ShowInfo("Стратегия не запущена: " + halt);
        runner->Start();
    }
}

void TMDIChild::StrategyChanged() {
    // A change queued just before the expert was stopped arrives after the runner has gone.
    const TStrategyRunner* runner = Runner();
    if (runner == nullptr)
        return;
    const TStrategyStatus status = runner->Status();
    if (FBaseCaption.isEmpty())
        FBaseCaption = windowTitle();
    setWindowTitle(status.Name.empty() ? FBaseCaption
                                       : FBaseCaption + QStringLiteral(" — ") +
                                             QString::fromStdString(status.Name));
    BitBtn1->setText(status.State == TStrategy::TState::Running ? QStringLiteral("Стоп")
                                                                : QStringLiteral("Старт"));
}
#endif

} // namespace vorlen::gui
