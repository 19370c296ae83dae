#include "gui/ChartWidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace vorlen::gui {

namespace {

constexpr int kAxisWidth = 76;
constexpr int kTimeHeight = 20;
constexpr int kPaneGap = 4;
constexpr double kPlotShare = 0.78; // of the height above the time axis; the rest is volume
constexpr int kTimeLabelEvery = 96; // pixels between time labels
constexpr double kZoomPerNotch = 1.25;
constexpr int kMarkSize = 5;

const QColor kUp(0x1a, 0x98, 0x50);
const QColor kDown(0xd7, 0x30, 0x27);
const QColor kGrid(0xe8, 0xe8, 0xe8);
const QColor kAxisText(0x40, 0x40, 0x40);

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TChartWidget::TChartWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ChartWidget"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(240, 160);
}

void TChartWidget::SetData(const chart::TChartData* data) {
    FData = data;
    DataChanged();
}

void TChartWidget::SetStyle(TChartStyle style) {
    FStyle = style;
    update();
}

void TChartWidget::SetLines(std::vector<TPriceLine> lines) {
    if (lines == FLines)
        return;
    FLines = std::move(lines);
    FDirty = true;
    update();
}

void TChartWidget::SetEmptyText(const QString& text) {
    if (text == FEmptyText)
        return;
    FEmptyText = text;
    update();
}

std::size_t TChartWidget::Count() const {
    return FData != nullptr ? FData->Cache().Candles().size() : 0;
}

void TChartWidget::DataChanged() {
    FView.Update(Count());
    FDirty = true;
    update();
}

void TChartWidget::ToLive() {
    const bool before = FView.Follow;
    FView.ToLive(Count());
    FDirty = true;
    NoteFollow(before);
    update();
}

void TChartWidget::NoteFollow(bool before) {
    if (before != FView.Follow)
        emit FollowChanged(FView.Follow);
}

QRect TChartWidget::PlotRect() const {
    const int w = std::max(1, width() - kAxisWidth);
    const int h = std::max(1, static_cast<int>((height() - kTimeHeight) * kPlotShare));
    return {0, 0, w, h};
}

void TChartWidget::Relayout() {
    FView.Width = PlotRect().width();
    FView.Update(Count());
    FDirty = true;
}

void TChartWidget::Recompute() {
    if (!FDirty)
        return;
    FDirty = false;
    if (FData == nullptr) {
        FColumns.clear();
    } else {
        chart::Aggregate(FData->Cache().Candles(), FView, FColumns);
    }
    FRange = chart::PriceRangeOf(FColumns);
    FMaxVolume = chart::MaxVolume(FColumns);
    // An order or the average a little outside the candles widens the scale to show it; one far
    // away would squash the candles into a line, and stays off the picture.
    if (!FColumns.empty()) {
        const double span = FRange.High - FRange.Low;
        const double low = FRange.Low - span;
        const double high = FRange.High + span;
        for (const TPriceLine& line : FLines) {
            if (line.Price > FRange.High && line.Price < high)
                FRange.High = line.Price + span * 0.03;
            if (line.Price < FRange.Low && line.Price > low)
                FRange.Low = line.Price - span * 0.03;
        }
    }
}

void TChartWidget::Crosshair(QPoint at) {
    FCursor = at;
    Recompute();
    FReadOut.reset();
    if (FData != nullptr && at.x() < PlotRect().width())
        FReadOut = chart::ReadOutAt(FColumns, FData->Cache().Candles(), at.x());
}

QString TChartWidget::ReadOutText() const {
    return FReadOut && FData != nullptr
               ? Q(chart::ReadOutText(*FReadOut, FData->Cache().Interval()))
               : QString();
}

void TChartWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Relayout();
}

void TChartWidget::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const bool before = FView.Follow;
    FView.Zoom(std::pow(kZoomPerNotch, notches), event->position().x(), Count());
    FDirty = true;
    NoteFollow(before);
    Crosshair(event->position().toPoint());
    update();
    event->accept();
}

void TChartWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FDragFrom = event->position().toPoint();
    setFocus();
}

void TChartWidget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (FDragFrom && (event->buttons() & Qt::LeftButton)) {
        const bool before = FView.Follow;
        FView.Pan(at.x() - FDragFrom->x(), Count());
        FDragFrom = at;
        FDirty = true;
        NoteFollow(before);
    }
    Crosshair(at);
    update();
}

void TChartWidget::mouseReleaseEvent(QMouseEvent* /*event*/) {
    FDragFrom.reset();
}

void TChartWidget::leaveEvent(QEvent* /*event*/) {
    FCursor.reset();
    FReadOut.reset();
    update();
}

void TChartWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_End) {
        ToLive();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TChartWidget::paintEvent(QPaintEvent* /*event*/) {
    ++FPaints;
    Recompute();
    // The candle under a resting cursor may have changed with the data.
    if (FCursor)
        Crosshair(*FCursor);
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect plot = PlotRect();
    const int volumeTop = plot.bottom() + 1 + kPaneGap;
    const QRect volume(0, volumeTop, plot.width(), std::max(1, height() - kTimeHeight - volumeTop));
    DrawAxes(p, plot, volume);
    if (FColumns.empty()) {
        p.setPen(kAxisText);
        p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, FEmptyText);
    } else {
        p.setClipRect(plot);
        DrawCandles(p, plot);
        DrawMarks(p, plot);
        p.setClipRect(volume);
        DrawVolume(p, volume);
        p.setClipping(false);
    }
    DrawCrosshair(p, plot, volume);
}

void TChartWidget::DrawAxes(QPainter& p, const QRect& plot, const QRect& volume) {
    const int axisX = plot.right() + 1;
    p.setPen(kAxisText);
    p.drawLine(axisX, 0, axisX, height() - kTimeHeight);
    p.drawLine(0, height() - kTimeHeight, width(), height() - kTimeHeight);
    p.drawLine(0, volume.top() - kPaneGap / 2, axisX, volume.top() - kPaneGap / 2);
    if (FColumns.empty())
        return;
    QVector<QLineF> grid;
    const std::vector<double> ticks = chart::PriceTicks(FRange, std::max(2, plot.height() / 40));
    for (const double price : ticks) {
        const double y = FRange.Y(price, plot.top(), plot.height());
        grid.push_back(QLineF(0, y, axisX, y));
    }
    const auto& candles = FData->Cache().Candles();
    const chart::TInterval interval = FData->Cache().Interval();
    struct TLabel {
        int X;
        QString Text;
    };
    std::vector<TLabel> labels;
    int lastX = -kTimeLabelEvery;
    std::int64_t lastStamp = 0;
    for (const chart::TColumn& c : FColumns) {
        if (c.X - lastX < kTimeLabelEvery)
            continue;
        const std::int64_t stamp = candles[c.First].StartMs;
        const bool newDay = labels.empty() || chart::OtherDay(lastStamp, stamp);
        labels.push_back({c.X, Q(chart::TimeLabel(stamp, interval, newDay))});
        grid.push_back(QLineF(c.X + c.Width / 2.0, 0, c.X + c.Width / 2.0, volume.bottom()));
        lastX = c.X;
        lastStamp = stamp;
    }
    p.setPen(kGrid);
    p.drawLines(grid);
    p.setPen(kAxisText);
    const QFontMetrics fm = p.fontMetrics();
    for (const double price : ticks) {
        const double y = FRange.Y(price, plot.top(), plot.height());
        p.drawText(QPointF(axisX + 4, y + fm.ascent() / 2.0), Q(chart::PriceText(price)));
    }
    for (const TLabel& l : labels)
        p.drawText(QPointF(l.X + 2, height() - kTimeHeight + fm.ascent() + 2), l.Text);
    // The last price, tagged on the axis in the colour of its candle.
    const chart::TCandle& last = candles.back();
    const double y = FRange.Y(last.Close, plot.top(), plot.height());
    if (y >= plot.top() && y <= plot.bottom()) {
        const QRectF tag(axisX + 1, y - fm.height() / 2.0, kAxisWidth - 2, fm.height());
        p.fillRect(tag, last.Close >= last.Open ? kUp : kDown);
        p.setPen(Qt::white);
        p.drawText(tag.adjusted(3, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   Q(chart::PriceText(last.Close)));
    }
}

void TChartWidget::DrawCandles(QPainter& p, const QRect& plot) {
    const auto y = [&](double price) { return FRange.Y(price, plot.top(), plot.height()); };
    QVector<QLineF> upLines;
    QVector<QLineF> downLines;
    QVector<QRectF> upBodies;
    QVector<QRectF> downBodies;
    QPolygonF closes;
    if (FStyle == TChartStyle::Line)
        closes.reserve(static_cast<qsizetype>(FColumns.size()));
    for (const chart::TColumn& c : FColumns) {
        const double mid = c.X + c.Width / 2.0;
        if (FStyle == TChartStyle::Line) {
            closes.push_back(QPointF(mid, y(c.Close)));
            continue;
        }
        const bool up = c.Close >= c.Open;
        QVector<QLineF>& lines = up ? upLines : downLines;
        lines.push_back(QLineF(mid, y(c.High), mid, y(c.Low)));
        if (FStyle == TChartStyle::Bars) {
            if (c.Width >= 3) {
                lines.push_back(QLineF(c.X, y(c.Open), mid, y(c.Open)));
                lines.push_back(QLineF(mid, y(c.Close), c.X + c.Width, y(c.Close)));
            }
            continue;
        }
        // Below three pixels a body would hide its wick: the column is its high-low line.
        if (c.Width >= 3) {
            const double inset = std::max(1.0, c.Width * 0.15);
            const double top = std::min(y(c.Open), y(c.Close));
            const double h = std::max(1.0, std::abs(y(c.Open) - y(c.Close)));
            (up ? upBodies : downBodies)
                .push_back(QRectF(c.X + inset, top, c.Width - 2 * inset, h));
        }
    }
    if (FStyle == TChartStyle::Line) {
        p.setPen(QPen(QColor(0x20, 0x50, 0xa0), 1.5));
        p.drawPolyline(closes);
        return;
    }
    p.setPen(kUp);
    p.drawLines(upLines);
    p.setPen(kDown);
    p.drawLines(downLines);
    p.setPen(Qt::NoPen);
    p.setBrush(kUp);
    p.drawRects(upBodies);
    p.setBrush(kDown);
    p.drawRects(downBodies);
    p.setBrush(Qt::NoBrush);
}

void TChartWidget::DrawVolume(QPainter& p, const QRect& volume) {
    if (FMaxVolume <= 0)
        return;
    QVector<QRectF> up;
    QVector<QRectF> down;
    const double scale = volume.height() / static_cast<double>(FMaxVolume);
    for (const chart::TColumn& c : FColumns) {
        const double h = std::max(c.Volume > 0 ? 1.0 : 0.0, c.Volume * scale);
        const double inset = c.Width >= 3 ? c.Width * 0.15 : 0;
        (c.Close >= c.Open ? up : down)
            .push_back(QRectF(c.X + inset, volume.bottom() + 1 - h, c.Width - 2 * inset, h));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kUp.lighter(150));
    p.drawRects(up);
    p.setBrush(kDown.lighter(150));
    p.drawRects(down);
    p.setBrush(Qt::NoBrush);
}

void TChartWidget::DrawMarks(QPainter& p, const QRect& plot) {
    const auto y = [&](double price) { return FRange.Y(price, plot.top(), plot.height()); };
    const QFontMetrics fm = p.fontMetrics();
    for (const TPriceLine& line : FLines) {
        const double at = y(line.Price);
        if (at < plot.top() || at > plot.bottom())
            continue;
        p.setPen(QPen(line.Color, 1, line.Dashed ? Qt::DashLine : Qt::DotLine));
        p.drawLine(QPointF(plot.left(), at), QPointF(plot.right(), at));
        p.setPen(line.Color);
        // Above its line, or below it where the frame would cut it.
        const double base = at - 3 - fm.ascent() < plot.top() ? at + fm.ascent() + 2 : at - 3;
        p.drawText(QPointF(plot.right() - fm.horizontalAdvance(line.Label) - 4, base), line.Label);
    }
    const auto& candles = FData->Cache().Candles();
    const std::vector<chart::TFillMark> marks =
        chart::PlaceFills(candles, FData->Cache().Interval(), FData->Fills());
    QPainterPath buys;
    QPainterPath sells;
    QPainterPath others;
    for (const chart::TFillMark& m : marks) {
        const double x = FView.X(static_cast<double>(m.Candle)) + FView.Step / 2;
        if (x < plot.left() - kMarkSize || x > plot.right() + kMarkSize)
            continue;
        const double py = y(m.Price);
        QPolygonF shape;
        switch (m.Side) {
        case chart::TFillSide::Buy: // under the price, pointing up at it
            shape << QPointF(x, py) << QPointF(x - kMarkSize, py + 2 * kMarkSize)
                  << QPointF(x + kMarkSize, py + 2 * kMarkSize);
            buys.addPolygon(shape);
            break;
        case chart::TFillSide::Sell:
            shape << QPointF(x, py) << QPointF(x - kMarkSize, py - 2 * kMarkSize)
                  << QPointF(x + kMarkSize, py - 2 * kMarkSize);
            sells.addPolygon(shape);
            break;
        case chart::TFillSide::Unknown:
            shape << QPointF(x, py - kMarkSize) << QPointF(x + kMarkSize, py)
                  << QPointF(x, py + kMarkSize) << QPointF(x - kMarkSize, py);
            others.addPolygon(shape);
            break;
        }
    }
    p.setPen(QPen(Qt::black, 0.5));
    p.setBrush(QColor(0x00, 0x80, 0xff));
    p.drawPath(buys);
    p.setBrush(QColor(0xff, 0x80, 0x00));
    p.drawPath(sells);
    p.setBrush(Qt::gray);
    p.drawPath(others);
    p.setBrush(Qt::NoBrush);
}

void TChartWidget::DrawCrosshair(QPainter& p, const QRect& plot, const QRect& volume) {
    if (!FCursor || FCursor->x() > plot.right() || FCursor->y() > volume.bottom())
        return;
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DotLine));
    p.drawLine(FCursor->x(), plot.top(), FCursor->x(), volume.bottom());
    const QFontMetrics fm = p.fontMetrics();
    if (FCursor->y() <= plot.bottom() && !FColumns.empty()) {
        p.drawLine(plot.left(), FCursor->y(), plot.right(), FCursor->y());
        const QRectF tag(plot.right() + 2, FCursor->y() - fm.height() / 2.0, kAxisWidth - 3,
                         fm.height());
        p.fillRect(tag, QColor(0x30, 0x30, 0x30));
        p.setPen(Qt::white);
        p.drawText(tag.adjusted(3, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   Q(chart::PriceText(FRange.PriceAt(FCursor->y(), plot.top(), plot.height()))));
    }
    const QString text = ReadOutText();
    if (text.isEmpty())
        return;
    const QRect box(4, 4, fm.horizontalAdvance(text) + 8, fm.height() + 4);
    p.fillRect(box, QColor(255, 255, 255, 220));
    p.setPen(Qt::black);
    p.drawText(box, Qt::AlignCenter, text);
}

} // namespace vorlen::gui
