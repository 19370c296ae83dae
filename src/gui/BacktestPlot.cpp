#include "gui/BacktestPlot.h"

#include "backtest/BacktestReport.h"
#include "book/Book.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

namespace vorlen::gui {

namespace {

// As the summary beside it writes money: roubles, the locale's separator.
QString Money(double v) {
    return QString::fromStdString(MoneyText(v));
}

// The exchange's time, whatever the machine's zone.
QString MarketTime(std::int64_t ns) {
    return QDateTime::fromMSecsSinceEpoch(ns / 1'000'000, QTimeZone(10800))
        .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace

TEquityPlot::TEquityPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("EquityPlot"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

void TEquityPlot::SetPoints(std::vector<backtest::TEquityPoint> points) {
    FPoints = std::move(points);
    update();
}

void TEquityPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics fm(font());
    const int left = fm.horizontalAdvance(Money(-999999999.99)) + 8;
    const int top = fm.height(), bottom = fm.height() * 2 + 4, right = 10;
    const QRect all(left, top, width() - left - right, height() - top - bottom);
    if (all.width() < 20 || all.height() < 40)
        return;
    if (FPoints.empty()) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Нет данных"));
        return;
    }
    // Equity above, its drawdown below at a third of the height.
    const int gap = fm.height() / 2;
    const int ddHeight = all.height() / 3;
    const QRect eq(all.left(), all.top(), all.width(), all.height() - ddHeight - gap);
    const QRect dd(all.left(), eq.bottom() + gap, all.width(), ddHeight);

    std::vector<double> drawdown(FPoints.size());
    double best = FPoints.front().Equity, lo = best, hi = best, deepest = 0;
    for (std::size_t i = 0; i < FPoints.size(); ++i) {
        const double e = FPoints[i].Equity;
        best = std::max(best, e);
        lo = std::min(lo, e);
        hi = std::max(hi, e);
        drawdown[i] = e - best;
        deepest = std::min(deepest, drawdown[i]);
    }
    if (hi - lo < 0.01) {
        hi += 1;
        lo -= 1;
    }
    const double n = static_cast<double>(std::max<std::size_t>(FPoints.size() - 1, 1));
    const auto x = [&](std::size_t i) {
        return eq.left() + static_cast<double>(eq.width()) * static_cast<double>(i) / n;
    };
    const auto yEq = [&](double v) {
        return eq.bottom() - static_cast<double>(eq.height()) * (v - lo) / (hi - lo);
    };
    const auto yDd = [&](double v) {
        return deepest < 0 ? dd.top() + static_cast<double>(dd.height()) * v / deepest
                           : static_cast<double>(dd.top());
    };

    painter.setPen(QColor(210, 210, 210));
    painter.drawRect(eq);
    painter.drawRect(dd);
    if (lo < 0 && hi > 0)
        painter.drawLine(QPointF(eq.left(), yEq(0)), QPointF(eq.right(), yEq(0)));

    painter.setPen(Qt::black);
    const int ax = left - 4;
    const auto label = [&](double y, const QString& text) {
        painter.drawText(QRectF(0, y - fm.height() / 2.0, ax, fm.height()),
                         Qt::AlignRight | Qt::AlignVCenter, text);
    };
    label(eq.top(), Money(hi));
    label(eq.bottom(), Money(lo));
    label(dd.bottom(), Money(deepest));
    // Named at the right, out of the way of where every curve starts.
    painter.drawText(QRect(eq.left(), eq.top() + 2, eq.width() - 4, fm.height()), Qt::AlignRight,
                     QStringLiteral("Капитал"));
    painter.drawText(QRect(dd.left(), dd.bottom() - fm.height() - 2, dd.width() - 4, fm.height()),
                     Qt::AlignRight, QStringLiteral("Просадка"));
    const int textY = all.bottom() + 4;
    painter.drawText(QRect(all.left(), textY, all.width(), fm.height()), Qt::AlignLeft,
                     MarketTime(FPoints.front().AtNs));
    painter.drawText(QRect(all.left(), textY, all.width(), fm.height()), Qt::AlignRight,
                     MarketTime(FPoints.back().AtNs));

    // At most a point per pixel column: a long run has far more samples than the plot pixels.
    const std::size_t stride =
        std::max<std::size_t>(1, FPoints.size() / static_cast<std::size_t>(eq.width()));
    QPainterPath line, area;
    area.moveTo(x(0), dd.top());
    for (std::size_t i = 0; i < FPoints.size(); i += stride) {
        const QPointF p(x(i), yEq(FPoints[i].Equity));
        if (i == 0)
            line.moveTo(p);
        else
            line.lineTo(p);
        area.lineTo(x(i), yDd(drawdown[i]));
    }
    const std::size_t last = FPoints.size() - 1;
    line.lineTo(x(last), yEq(FPoints[last].Equity));
    area.lineTo(x(last), yDd(drawdown[last]));
    area.lineTo(x(last), dd.top());
    area.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(area, QColor(220, 80, 60, 140));
    painter.setPen(QPen(QColor(30, 90, 180), 1.5));
    painter.drawPath(line);
}

} // namespace vorlen::gui
