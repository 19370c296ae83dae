#pragma once

// "Лимиты заявок": the limits file as text, one rule a line (every client code, one client code,
// or a client code and an instrument), checked before it is saved; the desk takes the saved
// limits at once.

#include "orders/RiskLimits.h"

#include <QDialog>
#include <filesystem>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vorlen::orders {
class TOrderDesk;
}

namespace vorlen::gui {

class TLimitsForm final : public QDialog {
    Q_OBJECT
public:
    TLimitsForm(std::filesystem::path dir, std::function<orders::TOrderDesk*()> desk,
                QWidget* parent = nullptr);

    QPlainTextEdit* Editor = nullptr;
    QLabel* ErrorLabel = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    void SaveClick();

private:
    std::filesystem::path FDir;
    std::function<orders::TOrderDesk*()> FDesk;
};

} // namespace vorlen::gui
