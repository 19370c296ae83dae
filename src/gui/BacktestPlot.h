#pragma once

// A backtest's equity as it went, and under it how far it stood below its best so far: a small
// picture drawn with QPainter, one line point per pixel column at most.

#include "backtest/BacktestResult.h"

#include <QWidget>
#include <vector>

namespace vorlen::gui {

class TEquityPlot final : public QWidget {
    Q_OBJECT
public:
    explicit TEquityPlot(QWidget* parent = nullptr);
    void SetPoints(std::vector<backtest::TEquityPoint> points);
    QSize sizeHint() const override { return {560, 260}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<backtest::TEquityPoint> FPoints;
};

} // namespace vorlen::gui
