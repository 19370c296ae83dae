#pragma once

// The order ticket: instrument, side, price, quantity and a client code picked from the account
// table; a confirmation naming all of them (on unless the trader turns it off), then the desk's
// verdict and, once it comes, the exchange's answer.

#include "main/OrderTicket.h"

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace vorlen::gui {

struct TTicketContext {
    // The desk as it is now: null once the transaction connection has gone.
    std::function<orders::TOrderDesk*()> Desk;
    // The instrument chooser; the code of the futures chosen, or nothing.
    std::function<std::optional<std::string>()> Choose;
    std::vector<std::string> Clients; // the account table's codes
};

class TTicketForm final : public QDialog {
    Q_OBJECT
public:
    // `side`: 1 buy, 2 sell, 0 none; `price` in 1e-5 units, 0 for none.
    TTicketForm(TTicketContext context, const QString& isin, int side, qint64 price,
                QWidget* parent = nullptr);

    // What the fields say now.
    TTicketInput Input() const;

    QLineEdit* IsinEdit = nullptr;
    QPushButton* ChooseButton = nullptr;
    QRadioButton* BuyButton = nullptr;
    QRadioButton* SellButton = nullptr;
    QLineEdit* PriceEdit = nullptr;
    QLineEdit* QtyEdit = nullptr;
    QComboBox* ClientBox = nullptr; // item 0 stands for "not chosen"
    QCheckBox* ConfirmBox = nullptr;
    QLabel* ResultLabel = nullptr;
    QPushButton* SendButton = nullptr;
    QPushButton* CloseButton = nullptr;

public slots:
    void SendClick();

private:
    void ChooseClick();
    void PollReply();
    void ShowResult(const std::string& text, bool refused);

    TTicketContext FContext;
    QTimer* FReplyTimer = nullptr;
    std::uint32_t FAwaited = 0; // the transaction whose answer is still to be shown
};

} // namespace vorlen::gui
