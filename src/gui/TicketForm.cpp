#include "gui/TicketForm.h"

#include "main/Dialogs.h"
#include "main/TerminalDesk.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vorlen::gui {

namespace {

constexpr int kReplyPollMs = 100;

} // namespace

TTicketForm::TTicketForm(TTicketContext context, const QString& isin, int side, qint64 price,
                         QWidget* parent)
    : QDialog(parent), FContext(std::move(context)) {
    setObjectName(QStringLiteral("TicketForm"));
    setWindowTitle(QStringLiteral("Новая заявка"));

    IsinEdit = new QLineEdit(isin, this);
    IsinEdit->setObjectName(QStringLiteral("IsinEdit"));
    IsinEdit->setReadOnly(true);
    ChooseButton = new QPushButton(QStringLiteral("Выбрать..."), this);
    ChooseButton->setObjectName(QStringLiteral("ChooseButton"));
    auto* isinRow = new QHBoxLayout;
    isinRow->addWidget(IsinEdit, 1);
    isinRow->addWidget(ChooseButton);

    // Neither side is chosen unless the caller says which: a buy must never be a default.
    BuyButton = new QRadioButton(QStringLiteral("Покупка"), this);
    BuyButton->setObjectName(QStringLiteral("BuyButton"));
    SellButton = new QRadioButton(QStringLiteral("Продажа"), this);
    SellButton->setObjectName(QStringLiteral("SellButton"));
    BuyButton->setChecked(side == static_cast<int>(orders::TSide::Buy));
    SellButton->setChecked(side == static_cast<int>(orders::TSide::Sell));
    auto* sideRow = new QHBoxLayout;
    sideRow->addWidget(BuyButton);
    sideRow->addWidget(SellButton);
    sideRow->addStretch(1);

    PriceEdit =
        new QLineEdit(price > 0 ? QString::fromStdString(TicketPriceText(price)) : QString(), this);
    PriceEdit->setObjectName(QStringLiteral("PriceEdit"));
    QtyEdit = new QLineEdit(QStringLiteral("1"), this);
    QtyEdit->setObjectName(QStringLiteral("QtyEdit"));

    ClientBox = new QComboBox(this);
    ClientBox->setObjectName(QStringLiteral("ClientBox"));
    ClientBox->addItem(QStringLiteral("— не выбран —"));
    for (const std::string& client : FContext.Clients)
        ClientBox->addItem(QString::fromStdString(client));
    ClientBox->setCurrentIndex(0);

    ConfirmBox = new QCheckBox(QStringLiteral("Подтверждать перед отправкой"), this);
    ConfirmBox->setObjectName(QStringLiteral("ConfirmBox"));
    ConfirmBox->setChecked(true);

    ResultLabel = new QLabel(this);
    ResultLabel->setObjectName(QStringLiteral("ResultLabel"));
    ResultLabel->setWordWrap(true);
    ResultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    SendButton = new QPushButton(QStringLiteral("Отправить"), this);
    SendButton->setObjectName(QStringLiteral("SendButton"));
    // Enter in a field must not send: only a click (or Space on the focused button) does.
    SendButton->setAutoDefault(false);
    CloseButton = new QPushButton(QStringLiteral("Закрыть"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SendButton);
    buttons->addWidget(CloseButton);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Инструмент:"), isinRow);
    form->addRow(QStringLiteral("Направление:"), sideRow);
    form->addRow(QStringLiteral("Цена:"), PriceEdit);
    form->addRow(QStringLiteral("Количество:"), QtyEdit);
    form->addRow(QStringLiteral("Код клиента:"), ClientBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(ConfirmBox);
    layout->addWidget(ResultLabel);
    layout->addLayout(buttons);

    FReplyTimer = new QTimer(this);
    FReplyTimer->setInterval(kReplyPollMs);
    connect(FReplyTimer, &QTimer::timeout, this, &TTicketForm::PollReply);
    connect(ChooseButton, &QPushButton::clicked, this, &TTicketForm::ChooseClick);
    connect(SendButton, &QPushButton::clicked, this, &TTicketForm::SendClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
}

TTicketInput TTicketForm::Input() const {
    TTicketInput in;
    in.Isin = IsinEdit->text().toStdString();
    in.Side = BuyButton->isChecked()    ? static_cast<int>(orders::TSide::Buy)
              : SellButton->isChecked() ? static_cast<int>(orders::TSide::Sell)
                                        : 0;
    in.Price = PriceEdit->text().toStdString();
    in.Qty = QtyEdit->text().toStdString();
    in.Client = ClientBox->currentIndex() > 0 ? ClientBox->currentText().toStdString() : "";
    return in;
}

void TTicketForm::ChooseClick() {
    if (!FContext.Choose)
        return;
    if (const std::optional<std::string> isin = FContext.Choose())
        IsinEdit->setText(QString::fromStdString(*isin));
}

void TTicketForm::ShowResult(const std::string& text, bool refused) {
    ResultLabel->setText(QString::fromStdString(text));
    // A refusal must not read like the last order's acceptance left standing.
    ResultLabel->setStyleSheet(refused ? QStringLiteral("color: #b00000; font-weight: bold;")
                                       : QString());
}

void TTicketForm::SendClick() {
    std::string error;
    std::optional<orders::TOrderRequest> order = TicketOrder(Input(), error);
    if (!order) {
        ShowResult("Заявка не отправлена: " + error, true);
        return;
    }
    orders::TOrderDesk* desk = FContext.Desk ? FContext.Desk() : nullptr;
    if (desk == nullptr) {
        ShowResult("Заявка не отправлена: нет соединения Трансакций.", true);
        return;
    }
    // The gate is asked first: a confirmation of an order it would refuse asks the trader to
    // approve what will not happen.
    orders::TGateDecision verdict = desk->Check(*order);
    // The same order a moment after the last is as likely a double click as a wish: it goes
    // only when the trader says so.
    if (IsRepeatRefusal(verdict)) {
        if (!AskConfirm(kRepeatQuestion)) {
            ShowResult("Заявка не отправлена: отменено.", false);
            return;
        }
        order->RepeatConfirmed = true;
        verdict = desk->Check(*order);
    }
    if (!verdict.Allowed) {
        ShowResult("Заявка отклонена: " + verdict.Reason, true);
        return;
    }
    if (ConfirmBox->isChecked() && !AskConfirm(TicketConfirmText(*order))) {
        ShowResult("Заявка не отправлена: отменено.", false);
        return;
    }
    // The desk may have gone while the question was open.
    desk = FContext.Desk ? FContext.Desk() : nullptr;
    if (desk == nullptr) {
        ShowResult("Заявка не отправлена: нет соединения Трансакций.", true);
        return;
    }
    // Checked again on the way: the market or the limits may have moved during the question.
    orders::TPlaceResult result = desk->Place(*order);
    if (IsRepeatRefusal(result) && AskConfirm(kRepeatQuestion)) {
        order->RepeatConfirmed = true;
        result = desk->Place(*order);
    }
    ShowResult(PlaceOutcomeText(result), result.Status != orders::TPlaceStatus::Posted);
    FAwaited = result.Status == orders::TPlaceStatus::Posted ? result.TrId : 0;
    if (FAwaited != 0)
        FReplyTimer->start();
}

void TTicketForm::PollReply() {
    orders::TOrderDesk* desk = FContext.Desk ? FContext.Desk() : nullptr;
    if (FAwaited == 0 || desk == nullptr) {
        FReplyTimer->stop();
        return;
    }
    if (const std::optional<orders::TReply> reply = desk->Answer(FAwaited)) {
        FReplyTimer->stop();
        FAwaited = 0;
        ShowResult(ReplyOutcomeText(*reply), reply->Code != 0 || reply->OrderId == 0);
    }
}

} // namespace vorlen::gui
