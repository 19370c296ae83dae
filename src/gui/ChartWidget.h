#pragma once

// The chart's picture on QPainter: candles, bars or a close line over a volume pane, the price
// axis on the right with the last price tagged, the time axis in exchange time, the trader's
// fills, order lines and average price, and a crosshair with its read-out. Candles narrower
// than a pixel are drawn per pixel column (chart/ChartView.h), and each kind of mark goes out in
// one batched call, so a frame costs what the window's width costs, not the candles' number.
//
// Wheel zooms about the cursor, a drag pans, End returns to the live edge.

#include "chart/ChartData.h"
#include "chart/ChartView.h"

#include <QWidget>
#include <optional>
#include <vector>

namespace vorlen::gui {

enum class TChartStyle { Candles, Bars, Line };

// A horizontal line across the plot at a price, with its label on the axis.
struct TPriceLine {
    double Price = 0;
    QColor Color;
    QString Label;
    bool Dashed = true;
    bool operator==(const TPriceLine&) const = default;
};

class TChartWidget final : public QWidget {
    Q_OBJECT
public:
    explicit TChartWidget(QWidget* parent = nullptr);

    // The candles and fills to draw; the data outlives the widget or is set to null first.
    void SetData(const chart::TChartData* data);
    void SetStyle(TChartStyle style);
    TChartStyle Style() const { return FStyle; }
    // Lines for the own active orders and the position's average price.
    void SetLines(std::vector<TPriceLine> lines);
    // Shown in the middle of the plot when there are no candles.
    void SetEmptyText(const QString& text);
    // The data changed: the view follows the live edge (or keeps its place) and repaints.
    void DataChanged();
    void ToLive();

    chart::TViewport& View() { return FView; }
    const std::vector<chart::TColumn>& Columns() const { return FColumns; }
    // What the crosshair reads now; nothing while the cursor is off the candles.
    std::optional<chart::TReadOut> ReadOut() const { return FReadOut; }
    QString ReadOutText() const;
    std::uint64_t Paints() const { return FPaints; }
    // The plot's rectangle (candles), without the axes and the volume pane.
    QRect PlotRect() const;

signals:
    // The view left the live edge or returned to it.
    void FollowChanged(bool follow);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::size_t Count() const;
    void Relayout();
    void Recompute();
    void Crosshair(QPoint at);
    void NoteFollow(bool before);
    void DrawAxes(QPainter& p, const QRect& plot, const QRect& volume);
    void DrawCandles(QPainter& p, const QRect& plot);
    void DrawVolume(QPainter& p, const QRect& volume);
    void DrawMarks(QPainter& p, const QRect& plot);
    void DrawCrosshair(QPainter& p, const QRect& plot, const QRect& volume);

    const chart::TChartData* FData = nullptr;
    TChartStyle FStyle = TChartStyle::Candles;
    std::vector<TPriceLine> FLines;
    QString FEmptyText;
    chart::TViewport FView;
    std::vector<chart::TColumn> FColumns;
    chart::TPriceRange FRange;
    std::int64_t FMaxVolume = 0;
    bool FDirty = true;
    std::uint64_t FPaints = 0;
    std::optional<QPoint> FCursor;
    std::optional<chart::TReadOut> FReadOut;
    std::optional<QPoint> FDragFrom;
};

} // namespace vorlen::gui
