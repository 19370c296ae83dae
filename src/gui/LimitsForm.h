#pragma once

// "Лимиты заявок": the limits file as a table, a row per rule (every client code, one client
// code, or a client code and an instrument) and a column per limit, an empty cell inheriting from
// the more general row; checked as a whole before it is saved in the file's own format; the desk
// takes the saved limits at once.

#include "orders/RiskLimits.h"

#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace vorlen::orders {
class TOrderDesk;
}

namespace vorlen::gui {

class TLimitsForm final : public QDialog {
    Q_OBJECT
public:
    TLimitsForm(std::filesystem::path dir, std::function<orders::TOrderDesk*()> desk,
                QWidget* parent = nullptr);

    // Shows a limits file's text in the table; false, with the reason shown, when it is not one.
    bool LoadText(const std::string& text);
    // The table as the rows it holds, and as the file's text that saving writes.
    std::vector<orders::TLimitsRow> TableRows() const;
    std::string Text() const;

    QTableWidget* Table = nullptr;
    QLabel* ErrorLabel = nullptr;
    QPushButton* AddButton = nullptr;
    QPushButton* RemoveButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CancelButton = nullptr;

public slots:
    void SaveClick();
    void AddClick();
    void RemoveClick();

private:
    void ShowRows(const std::vector<orders::TLimitsRow>& rows);

    std::filesystem::path FDir;
    std::function<orders::TOrderDesk*()> FDesk;
};

} // namespace vorlen::gui
