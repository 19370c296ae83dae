#pragma once

// An instrument's order book in an MDI child: the header with the trader's positions, the line
// that tells how fresh the book is, and the price ladder (bid volume | price | ask volume).
// A timer copies the book at most 20 times a second, and only repaints when it changed, however
// fast the market-data thread applies rows.

#include "book/BookKeeper.h"
#include "book/BookView.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class QIcon;
class QLabel;
class QTableView;
class QTimer;

namespace vorlen::gui {

// The picture of the book command.
QIcon BookIcon();

class TLadderModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetRows(std::vector<TLadderRow> rows);
    const std::vector<TLadderRow>& Rows() const { return FRows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TLadderRow> FRows;
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

    std::int32_t IsinId() const { return FIsinId; }
    // Without a source the window judges freshness by the book's age alone.
    void SetHealthSource(THealthSource source);
    // Stops reading the books: they are about to be released with the store.
    void Detach();
    // One timer step: copy the book when it changed, refresh what is shown.
    void Refresh();

    const TBookSnapshot& Book() const { return FBook; }
    // Ladder repaints so far (each one a changed book).
    std::uint64_t Repaints() const { return FRepaints; }

    QLabel* Header = nullptr;
    QLabel* Status = nullptr;
    QTableView* Ladder = nullptr;
    TLadderModel* Model = nullptr;
    QTimer* Timer = nullptr;

private:
    TBookKeeper* FBooks;
    std::int32_t FIsinId;
    TBookSnapshot FBook;
    std::uint64_t FRepaints = 0;
    THealthSource FHealth;
    // What the status line was last painted with, so that a steady state restyles nothing.
    std::optional<THealthState> FShownHealth;
    bool FStale = false;
};

} // namespace vorlen::gui
