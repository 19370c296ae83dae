// The main window's trading commands: the order ticket, the own-orders window, the kill switch
// and its re-arming, the limits dialog and the stop-all-experts command.

#include "gui/JournalPane.h"
#include "gui/LimitsForm.h"
#include "gui/MainForm.h"
#include "gui/MdiChild.h"
#include "gui/Modal.h"
#include "gui/OwnOrdersForm.h"
#include "gui/TicketForm.h"
#include "orders/StoreView.h"
#include "platform/FormatSettings.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

namespace vorlen::gui {

namespace {

// Often enough that an answer shows at once, seldom enough to cost nothing while idle.
constexpr int kOrdersTimerMs = 100;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

} // namespace

void TMainForm::CreateTradingActions() {
    const auto make = [this](const char* name, const QString& caption, const QString& tip) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setStatusTip(tip);
        action->setEnabled(false);
        return action;
    };
    Ticket1 = make("Ticket1", QStringLiteral("&Новая заявка..."),
                   QStringLiteral("Выставить заявку с подтверждением"));
    Ticket1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    OwnOrders1 = make("OwnOrders1", QStringLiteral("&Мои заявки"),
                      QStringLiteral("Заявки трейдера и их состояние; снятие заявок"));
    OwnOrders1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    const QString kill = Q(kKillSwitchCaption);
    KillSwitch1 = make("KillSwitch1", kill, kill);
    KillSwitch1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    KillSwitch1Tool = make("KillSwitch1Tool", kill, kill);
    KillSwitch1Tool->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    KillSwitch1Tool->setToolTip(kill);
    Rearm1 = make("Rearm1", QStringLiteral("&Разрешить торговлю"),
                  QStringLiteral("Снова принимать заявки после снятия всех заявок"));
    Limits1 = make("Limits1", QStringLiteral("&Лимиты заявок..."),
                   QStringLiteral("Лимиты заявок по кодам клиента и инструментам"));
    // The limits are a file of their own: editable whether connected or not.
    Limits1->setEnabled(true);

    connect(Ticket1, &QAction::triggered, this, &TMainForm::Ticket1Execute);
    connect(OwnOrders1, &QAction::triggered, this, &TMainForm::OwnOrders1Execute);
    connect(KillSwitch1, &QAction::triggered, this, &TMainForm::KillSwitch1Execute);
    connect(KillSwitch1Tool, &QAction::triggered, this, &TMainForm::KillSwitch1Execute);
    connect(Rearm1, &QAction::triggered, this, &TMainForm::Rearm1Execute);
    connect(Limits1, &QAction::triggered, this, &TMainForm::Limits1Execute);

    OrdersTimer = new QTimer(this);
    OrdersTimer->setObjectName(QStringLiteral("OrdersTimer"));
    OrdersTimer->setInterval(kOrdersTimerMs);
    connect(OrdersTimer, &QTimer::timeout, this, [this] {
        FController->OrdersTick();
        ShowTradingState();
    });
    OrdersTimer->start();

    TradingState = new QLabel(this);
    TradingState->setObjectName(QStringLiteral("TradingState"));
    TradingState->setAutoFillBackground(true);
    TradingState->setMargin(1);
    QPalette p = TradingState->palette();
    p.setColor(QPalette::Window, QColor(255, 160, 160));
    TradingState->setPalette(p);
    TradingState->hide();
    statusBar()->addPermanentWidget(TradingState);
}

void TMainForm::ShowTradingState() {
    const orders::TOrderDesk* desk = Desk();
    const std::string text =
        desk != nullptr ? TradingStateText(desk->KillPhase(), desk->LastKillReport()) : "";
    TradingState->setText(QString::fromStdString(text));
    TradingState->setVisible(!text.empty());
    Rearm1->setEnabled(FController->Controls().Trading && !text.empty());
    Ticket1->setEnabled(FController->Controls().Trading && text.empty());
}

void TMainForm::CreateTradingMenu() {
    Trading1 = menuBar()->addMenu(QStringLiteral("&Торговля"));
    Trading1->setObjectName(QStringLiteral("Trading1"));
    Trading1->menuAction()->setStatusTip(QStringLiteral("Заявки, лимиты и остановка торговли"));
    Trading1->addAction(Ticket1);
    Trading1->addAction(OwnOrders1);
    Trading1->addSeparator();
    Trading1->addAction(KillSwitch1);
    Trading1->addAction(Rearm1);
    Trading1->addSeparator();
    Trading1->addAction(Limits1);
}

orders::TOrderDesk* TMainForm::Desk() const {
    TTerminalPort* port = FController->Port();
    return port != nullptr ? port->OrderDesk() : nullptr;
}

void TMainForm::OpenOrderTicket(const QString& isin, int side, qint64 price) {
    TTerminalPort* port = FController->Port();
    TTicketContext context;
    context.Desk = [this] { return Desk(); };
    context.Choose = [this]() -> std::optional<std::string> {
        if (const auto futures = FController->ChooseFutures())
            return futures->second;
        return std::nullopt;
    };
    if (TCGStorage* store = port != nullptr ? port->Store() : nullptr)
        context.Clients = orders::ReadStoreFacts(*store).Ref->Clients;
    TTicketForm ticket(std::move(context), isin, side, price, this);
    ExecModal(ticket);
}

void TMainForm::Ticket1Execute() {
    OpenOrderTicket({}, 0, 0);
}

TOwnOrdersForm* TMainForm::OwnOrdersChild() const {
    for (QMdiSubWindow* sub : MdiArea->subWindowList())
        if (auto* own = qobject_cast<TOwnOrdersForm*>(sub->widget()))
            return own;
    return nullptr;
}

void TMainForm::OwnOrders1Execute() {
    if (TOwnOrdersForm* own = OwnOrdersChild()) {
        auto* sub = qobject_cast<QMdiSubWindow*>(own->parentWidget());
        if (sub != nullptr && sub->isMinimized())
            sub->showNormal();
        MdiArea->setActiveSubWindow(sub);
        return;
    }
    TTerminalPort* port = FController->Port();
    auto* own =
        new TOwnOrdersForm(port != nullptr ? port->Store() : nullptr, [this] { return Desk(); });
    QMdiSubWindow* sub = MdiArea->addSubWindow(own);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(own->size());
    sub->show();
}

void TMainForm::KillSwitch1Execute() {
    FController->KillSwitchExecute();
}

void TMainForm::Rearm1Execute() {
    FController->RearmExecute();
}

void TMainForm::Limits1Execute() {
    TTerminalPort* port = FController->Port();
    if (port == nullptr || port->TradingDir().empty())
        return;
    TLimitsForm form(
        port->TradingDir(), [this] { return Desk(); }, this);
    if (ExecModal(form) == QDialog::Accepted)
        Memo1->AppendLine(JournalLine("Лимиты заявок сохранены."));
}

void TMainForm::StopAllExpertsExecute() {
    FController->StopAllExpertsExecute();
}

void TMainForm::StopStrategies() {
    for (TMDIChild* child : ExpertChildren())
        child->StopStrategy();
}

} // namespace vorlen::gui
