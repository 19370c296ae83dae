#pragma once

// An expert's window: its journal and three buttons, and the expert thread it owns.

#include "experts/ExpertHost.h"
#include "main/MainController.h"

#include <QWidget>
#include <memory>

class QPushButton;

namespace vorlen::gui {

class TJournalPane;
class TStaleMark;

class TMDIChild final : public QWidget, public TExpertWindowPort {
    Q_OBJECT
public:
    // Creates the window's suspended expert over `store`; without a store the window has no
    // expert. `transactions` may be null (the expert then reads no order replies); so may `desk`
    // (its strategy's orders are refused) and `books` (it has no book). The desk and the books
    // must outlive the expert's strategy (FinishStrategy, or the window's closing).
    TMDIChild(TCGStorage* store, TCGTRConnection* transactions, orders::TOrderDesk* desk = nullptr,
              TBookKeeper* books = nullptr, QWidget* parent = nullptr);
    ~TMDIChild() override;

    TExpert* Expert() { return FHost != nullptr ? FHost->Expert() : nullptr; }
    QSize sizeHint() const override;

    std::string Caption() const override;
    void SetupExpert(std::int32_t isin_id, const std::string& futName,
                     const std::string& futIsin) override;
    bool RegisterAndStart() override;
    void StopExpert() override;
    void ShowStale(bool stale, const std::string& text) override;
    bool StrategyRunning() const override;
    // Asks the expert's strategy to stop (the kill switch); it stops on the expert's thread.
    void StopStrategy();
    // Stops it and waits until its on_stop has run: before the connections go at closing.
    void FinishStrategy();
    TStaleMark* StaleMark = nullptr;

    TJournalPane* Memo1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* BookButton = nullptr;     // the order book of the expert's instrument
    QPushButton* ChartButton = nullptr;    // its chart
    QPushButton* BacktestButton = nullptr; // its strategy over the recorded days
    // The script file last loaded; empty before one is.
    QString StrategyFile() const { return FStrategyFile; }

signals:
    void BookRequested(std::int32_t isin_id, QString isin);
    void ChartRequested(std::int32_t isin_id, QString isin);
    void BacktestRequested(QString isin, QString strategyFile);
    // The expert's thread has handled something; carried to the window's thread.
    void StrategyChangeArrived();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
#if VORLEN_STRATEGIES
    TStrategyRunner* Runner(); // null without an expert
    // The three buttons: a strategy script, its parameters, and start/stop.
    void Button1Click();
    void BitBtn2Click();
    void BitBtn1Click();
    // The expert's thread has handled something: caption and the start button follow.
    void StrategyChanged();
#endif

    QString FStrategyFile;
    std::unique_ptr<TExpertHost> FHost; // null without a store
#if VORLEN_STRATEGIES
    QString FBaseCaption; // the caption the main window gave, before a strategy joined it
#endif
};

} // namespace vorlen::gui
