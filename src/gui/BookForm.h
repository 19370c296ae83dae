#pragma once

// An instrument's order book in an MDI child: the header with the trader's positions, the line
// that tells how fresh the book is, and the price ladder (bid volume | price | ask volume).
// A timer copies the book at most 20 times a second, and only repaints when it changed, however
// fast the market-data thread applies rows.
//
// A click on a volume cell names a level: the bid column a buy, the ask column a sell, at that
// row's price. Unarmed, the window only says so (LevelClicked, for an order ticket to fill in).
// Armed one-click trading sends that order at once through the order desk, with the window's
// quantity and client code; it is off in every new window, armed by its own check box only,
// shown by a red frame and banner, and disarmed by Esc, by losing the desk, or by closing.
// While the kill switch holds trading stopped, clicks send nothing and arming is refused.
//
// The ladder shows fixed prices by default: a row for every price step, still while the market
// moves inside it (TFixedLadder); the compact ladder of the book's levels only is a toggle away,
// and is what shows while the instrument's price step is not known.
//
// The banner and the outcome line have their room from the start: rows that moved when either
// appeared would put another price under a cursor already aimed. A click acts on the level that
// was under the cursor when the button went down, whatever the ladder did before it came up.

#include "book/BookKeeper.h"
#include "book/BookView.h"
#include "book/PriceLadder.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QFrame;
class QIcon;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace vorlen::orders {
class TOrderDesk;
}

namespace vorlen::gui {

// The picture of the book command.
QIcon BookIcon();

class TLadderModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetRows(std::vector<TLadderRow> rows);
    const std::vector<TLadderRow>& Rows() const { return FRows; }
    // The cumulative volume's column, after the ask column.
    void SetCumulative(bool on);
    bool Cumulative() const { return FCumulative; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TLadderRow> FRows;
    bool FCumulative = false;
};

class TBookForm final : public QWidget {
    Q_OBJECT
public:
    // Repaints at most this often: 1000 / kBookRefreshMs a second.
    static constexpr int kBookRefreshMs = 50;

    TBookForm(TBookKeeper* books, std::int32_t isin_id, const std::string& isin,
              QWidget* parent = nullptr);
    ~TBookForm() override;

    // The market-data connection's health as the main window tracks it.
    using THealthSource = std::function<THealthState()>;
    // The account table's client codes.
    using TClientSource = std::function<std::vector<std::string>()>;

    std::int32_t IsinId() const { return FIsinId; }
    // Without a source the window judges freshness by the book's age alone.
    void SetHealthSource(THealthSource source);
    // Where one-click orders go; null (the default) when there is no transaction connection.
    // The owner of the desk sets null before the desk goes away; that disarms the window.
    void SetOrderDesk(orders::TOrderDesk* desk);
    void SetClientSource(TClientSource source);
    // Arms or disarms one-click trading. Arming is refused, with the reason shown, without a
    // desk or an explicitly chosen client code; returns whether the window is armed now.
    bool SetOneClick(bool on);
    bool OneClickArmed() const { return FArmed; }
    // Whether the desk's kill switch holds trading stopped, as the last refresh found it.
    bool TradingHalted() const { return !FHaltText.empty(); }
    // Stops reading the books: they are about to be released with the store.
    void Detach();
    // One timer step: copy the book when it changed, refresh what is shown.
    void Refresh();

    // Fixed prices (the default) or the book's levels only.
    void SetFixedPrices(bool on);
    // Whether the ladder shows fixed prices now: asked for, and the price step known.
    bool FixedPricesShown() const { return FFixedShown; }
    // Centres the fixed ladder on the market (the button and the Home key).
    void Recentre();
    // Rows the ladder's view has room for without scrolling.
    int VisibleRows() const;

    const TBookSnapshot& Book() const { return FBook; }
    // Ladder repaints so far (each one a changed book).
    std::uint64_t Repaints() const { return FRepaints; }

    QLabel* Header = nullptr;
    QLabel* Status = nullptr;
    QTableView* Ladder = nullptr;
    TLadderModel* Model = nullptr;
    QTimer* Timer = nullptr;
    QSpinBox* Qty = nullptr;
    QComboBox* Client = nullptr; // first item: none chosen
    QCheckBox* OneClick = nullptr;
    QLabel* ArmedBanner = nullptr;      // shown while armed
    QLabel* TradeNote = nullptr;        // the last click's outcome, or why arming was refused
    QFrame* LadderFrame = nullptr;      // red while armed
    QPushButton* ChartButton = nullptr; // the instrument's chart
    QPushButton* ModeButton = nullptr;  // checked: fixed prices; its text names the mode
    QPushButton* CentreButton = nullptr;
    QCheckBox* CumulativeBox = nullptr;
    QLabel* Info = nullptr; // the spread and the last deal's price

signals:
    // A click on a level while one-click trading is not armed. side: 1 buy, 2 sell; price in
    // 1e-5 units.
    void LevelClicked(const QString& isin, int side, qint64 price);
    void ChartRequested(std::int32_t isin_id, QString isin);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Builds the ladder's rows from the book as last copied.
    void ShowRows();
    void CellPressed(const QModelIndex& index);
    void CellClicked(const QModelIndex& index);
    // Follows the kill switch: the window's trading is off while it holds.
    void FollowHalt();
    void SetNote(const QString& text);
    void ReloadClients();
    void ShowArmed();

    std::string FIsin;
    orders::TOrderDesk* FDesk = nullptr;
    TClientSource FClients;
    bool FArmed = false;
    std::string FHaltText; // the main window's words on the halt; empty while trading is allowed
    // The level under the cursor when the button went down: (side, price in 1e-5 units).
    std::optional<std::pair<int, std::int64_t>> FPressed;
    QModelIndex FPressedAt;
    int FTicksSinceClients = 0;

    TBookKeeper* FBooks;
    std::int32_t FIsinId;
    TBookSnapshot FBook;
    std::uint64_t FRepaints = 0;
    THealthSource FHealth;
    // What the status line was last painted with, so that a steady state restyles nothing.
    std::optional<THealthState> FShownHealth;
    bool FStale = false;
    bool FShownHalted = false;
    TFixedLadder FFixed;
    bool FFixedWanted = true;
    bool FFixedShown = false;
    int FShownRowCount = -1;
};

} // namespace vorlen::gui
