#pragma once

// "Мои заявки": the trader's orders as the orders log tells them, with their state, what remains,
// when they were placed and when they last changed; buys and sells in colours of their own, every
// column wide enough for its text; a click on a caption sorts by that column (again: the other
// way), leaving rows it does not tell apart in their order. The selected ones or all active ones
// are cancelled through the desk.

#include "main/OrderTicket.h"
#include "main/OwnOrderList.h"

#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;

namespace vorlen {
class TCGStorage;
}

namespace vorlen::gui {

class TOwnOrdersForm final : public QWidget {
    Q_OBJECT
public:
    // `store` may be null (nothing to show); `desk` gives the desk as it is now.
    TOwnOrdersForm(TCGStorage* store, std::function<orders::TOrderDesk*()> desk,
                   QWidget* parent = nullptr);
    ~TOwnOrdersForm() override;

    // Stops reading: the store is about to go.
    void Detach();
    // Reads the orders log again and shows what changed, touching only the rows of the orders
    // the log named since the last refresh.
    void Refresh();
    const std::deque<TOwnOrderRow>& Rows() const { return FList.Rows(); }
    // Sorts by a column (as a click on its caption does); a column past the last one goes back
    // to the latest placed first.
    void SortBy(int column, bool ascending);

    QTableWidget* Grid = nullptr;
    QCheckBox* ActiveOnlyBox = nullptr;
    QPushButton* CancelSelectedButton = nullptr;
    QPushButton* CancelAllButton = nullptr;
    QLabel* StatusLabel = nullptr;
    QLabel* HaltLabel = nullptr; // the kill switch's state while it holds trading stopped

public slots:
    void CancelSelectedClick();
    void CancelAllClick();

private:
    void Cancel(const std::vector<std::int64_t>& ids);

    std::unique_ptr<orders::TStoreReader> FReader;
    std::function<orders::TOrderDesk*()> FDesk;
    // The whole grid from the rows, or only the rows the steps name.
    void Fill();
    void Apply(const std::vector<TOwnOrderList::TStep>& steps);
    // Grid row `row` as `shown`; widens `widths` to its texts.
    void ShowRow(int row, const TOwnOrderRow& shown, std::vector<int>& widths);
    void Widen(const std::vector<int>& widths);

    TOwnOrderList FList;
    QTimer* FTimer = nullptr;
    int FSortColumn = -1;
    bool FSortAscending = true;
};

} // namespace vorlen::gui
