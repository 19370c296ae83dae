#pragma once

// The window "График <isin>": one instrument at one interval, its history from history.db
// continued by the live deals, the trader's fills, active orders and average price. A timer reads
// what arrived at most 20 times a second and repaints only when something changed; the
// market-data thread does nothing for the window. A line under the controls says honestly what
// is missing: no history, or no deal stream subscribed.

#include "chart/ChartData.h"
#include "chart/DealTail.h"
#include "gui/ChartWidget.h"

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QIcon;
class QLabel;
class QPushButton;
class QTimer;

namespace vorlen {
class TCGStorage;
}
namespace vorlen::orders {
class TStoreReader;
}

namespace vorlen::gui {

class TStaleMark;

// The picture of the chart command.
QIcon ChartIcon();
// "1 мин", "5 мин", "15 мин", "1 час", "1 день", "тики".
QString IntervalCaption(chart::TInterval interval);
// "График Si-12.26, 5 мин": the window's title and its entry in the window list.
QString ChartCaption(const std::string& isin, chart::TInterval interval);

inline constexpr char kNoHistoryText[] = "нет истории";
inline constexpr char kNoDealStreamText[] =
    "поток сделок не подписан: в настройках выберите рынок CUSTOM SELECT и отметьте "
    "FORTS_DEALS_REPL (наборы FUTURES и OPTIONS его не включают)";

class TChartForm final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 50;

    // `store` may be null (a picture of the history alone); so may `history` (the live deals
    // alone), with `historyError` saying why there is none.
    TChartForm(TCGStorage* store, std::unique_ptr<chart::THistorySource> history,
               std::string historyError, std::int32_t isinId, std::string isin,
               chart::TInterval interval, std::int64_t fromMs = -chart::TChartData::kAll,
               std::int64_t toMs = chart::TChartData::kAll, QWidget* parent = nullptr);
    ~TChartForm() override;

    std::int32_t IsinId() const { return FData.IsinId(); }
    const std::string& Isin() const { return FIsin; }
    chart::TInterval Interval() const { return FData.Cache().Interval(); }
    void SetInterval(chart::TInterval interval);
    // Stops reading the store: it is about to be released.
    void Detach();
    // The market data is not live (with the text saying since when), or live again.
    void ShowStale(bool stale, const QString& text);
    // One timer step: what arrived, the lines, the state line; a repaint when anything changed.
    void Refresh();
    const chart::TChartData& Data() const { return FData; }

    QComboBox* IntervalBox = nullptr;
    QComboBox* StyleBox = nullptr;
    QPushButton* LiveButton = nullptr; // back to the live edge (End in the chart)
    QLabel* Status = nullptr;
    TChartWidget* Chart = nullptr;
    TStaleMark* Mark = nullptr;
    QTimer* Timer = nullptr;

private:
    void ShowState();
    void ReadLines();

    std::unique_ptr<chart::THistorySource> FHistory;
    std::string FHistoryError;
    std::string FIsin;
    chart::TChartData FData;
    std::unique_ptr<chart::TDealTail> FTail;
    std::unique_ptr<orders::TStoreReader> FOrders;
    bool FSubscribed = false;
    std::int64_t FPosition = 0;
    std::optional<double> FAverage;
    std::vector<TPriceLine> FOrderLines;
    std::uint64_t FShownVersion = ~0ULL;
    std::uint64_t FShownFills = ~0ULL;
    int FTicks = 0;
};

// `vorlen --chart`: the window drawn off screen into a PNG file.
struct TChartPicture {
    std::string Isin;
    std::string Interval = "5m";
    std::string From, To; // exchange time, "YYYY-MM-DD HH:MM"; empty: unbounded
    std::filesystem::path HistoryDir;
    std::filesystem::path File;
    int Width = 1000;
    int Height = 600;
};
// False with `error` when the history or the file fails.
bool RenderChartPicture(const TChartPicture& picture, std::string& error);

} // namespace vorlen::gui
