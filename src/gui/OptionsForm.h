#pragma once

// The options board of one futures in an MDI child: an expiry selector, the futures' price and
// time to expiry, the risk line, rows by strike (calls left, puts right) with the at-the-money
// row marked and kept in view, and the smile of the chosen expiry. The board is computed by a
// worker thread (options/BoardWorker.h); a timer takes its latest result, so the window
// repaints at most 1000 / kRefreshMs times a second and only when there is something new.
//
// A click on a bid or an ask names the series and the price (LevelClicked, as the book window
// does), for the order ticket to fill in.

#include "health/HealthMachine.h"
#include "options/BoardView.h"
#include "options/BoardWorker.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QTableView;
class QTimer;

namespace vorlen {
class TCGStorage;
class TBookKeeper;
} // namespace vorlen

namespace vorlen::gui {

class TStaleMark;

class TBoardModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void SetLines(std::vector<options::TBoardLine> lines);
    const std::vector<options::TBoardLine>& Lines() const { return FLines; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<options::TBoardLine> FLines;
};

// IV against strike: bid, ask and mid points of the out-of-the-money series, the exchange's
// curve as a line, the futures' price as a vertical mark.
class TSmilePlot final : public QWidget {
    Q_OBJECT
public:
    explicit TSmilePlot(QWidget* parent = nullptr);
    void SetSmile(std::vector<options::TSmilePoint> points, std::optional<double> forward);
    const std::vector<options::TSmilePoint>& Points() const { return FPoints; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<options::TSmilePoint> FPoints;
    std::optional<double> FForward;
};

class TOptionsForm final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 100;

    // Reads `store` and `books` on the worker's thread until Detach; both null: a board that
    // shows only that there is no connection.
    TOptionsForm(TCGStorage* store, const TBookKeeper* books, const std::string& isin,
                 QWidget* parent = nullptr);
    ~TOptionsForm() override;

    // Whether the window's figures are live, and the text that says since when they are not.
    using TStaleSource = std::function<std::pair<bool, std::string>()>;
    void SetStaleSource(TStaleSource source);
    const std::string& Isin() const { return FIsin; }
    // Stops the worker: the store and its books are about to be released.
    void Detach();
    // One timer step: take the worker's latest board, repaint if it is new.
    void Refresh();
    std::uint64_t Repaints() const { return FRepaints; }
    std::uint64_t Recomputes() const; // boards the worker has computed

    QComboBox* Expiry = nullptr;
    QComboBox* IvMode = nullptr; // "IV покупки / продажи", "IV середины"
    QLabel* Header = nullptr;
    QLabel* Risk = nullptr;
    QLabel* Missing = nullptr; // what the settings do not subscribe
    QTableView* Table = nullptr;
    TBoardModel* Model = nullptr;
    TSmilePlot* Smile = nullptr;
    TStaleMark* StaleMark = nullptr;
    QTimer* Timer = nullptr;

signals:
    // side: 1 buy (a bid clicked), 2 sell (an ask clicked); price in 1e-5 units.
    void LevelClicked(const QString& isin, int side, qint64 price);

private:
    void Repaint();
    void CellClicked(const QModelIndex& index);

    std::string FIsin;
    std::unique_ptr<options::TBoardWorker> FWorker;
    options::TBoardResult FShown;
    std::uint64_t FRepaints = 0;
    double FExpiry = 0; // the expiry shown, kept across boards by its value
    int FAtmShown = -1; // the ATM row last scrolled to
    TStaleSource FStale;
};

} // namespace vorlen::gui
