#pragma once

// "Тест на истории": the expert's strategy run over the recorded days on a thread of its own,
// with a progress bar and a way to give it up, then its figures, its equity curve and its
// trades, and its report saved as the console writes it. The window stays usable meanwhile, and
// closing it gives a running test up and waits for it.

#include "backtest/BacktestJob.h"

#include <QDialog>
#include <filesystem>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableView;
class QTableWidget;
class QTimer;

namespace vorlen::gui {

class TEquityPlot;
class TTradesModel;

struct TBacktestSetup {
    std::string Isin;
    QString StrategyFile;                // the expert's script; empty: none loaded
    std::filesystem::path HistoryFolder; // where the terminal records its days
    QString LimitsFile;                  // the live terminal's; empty: the built-in limits
    std::int32_t PostsPerSecond = 0;     // the terminal's cap on posts; 0: none
};

// The summary's figure names (summary.tsv's) as the window shows them.
QString SummaryLabel(const std::string& name);

class TBacktestForm final : public QDialog {
    Q_OBJECT
public:
    explicit TBacktestForm(TBacktestSetup setup, QWidget* parent = nullptr);
    ~TBacktestForm() override;

    bool Running() const { return FJob != nullptr; }
    // Gives a running test up and waits for its thread: before the gateway library goes.
    void Abort();
    // The last test that ran to its end; null before one has.
    const backtest::TBacktestResult* Result() const { return FResult.get(); }
    // Writes the report files into `dir`; false (and the reason shown) when it cannot.
    bool SaveReport(const QString& dir);

    QListWidget* DaysList = nullptr;
    QLineEdit* StrategyEdit = nullptr;
    QPushButton* StrategyButton = nullptr;
    QComboBox* FillBox = nullptr;
    QSpinBox* LatencyBox = nullptr;
    QTableWidget* ParamsTable = nullptr;
    QLineEdit* LimitsEdit = nullptr;
    QPushButton* LimitsButton = nullptr;
    QPushButton* RunButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QProgressBar* Progress = nullptr;
    QLabel* StatusLabel = nullptr;
    QTabWidget* Tabs = nullptr;
    QTableWidget* SummaryTable = nullptr;
    TEquityPlot* Plot = nullptr;
    QTableView* TradesView = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QWidget* CreateInputs();
    QWidget* CreateResults();
    void LoadDays();
    void ReadParams();
    void Start();
    void Poll();
    void ShowResult();
    void PickStrategy();
    void PickLimits();
    void PickReportFolder();
    void SetRunning(bool running);

    TBacktestSetup FSetup;
    std::unique_ptr<backtest::TBacktestJob> FJob;
    std::unique_ptr<backtest::TBacktestResult> FResult;
    // What the report says about the run: taken when it starts.
    std::vector<std::pair<std::string, std::string>> FFacts, FRunningFacts;
    QTimer* FTimer = nullptr;
    TTradesModel* FTrades = nullptr;
};

} // namespace vorlen::gui
