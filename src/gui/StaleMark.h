#pragma once

// How a window shows that its figures are not live: a connection's colour, and a label with the
// time of the last data laid over the top right corner of a grid or an expert's window.

#include "health/HealthMachine.h"

#include <QLabel>

class QHeaderView;

namespace vorlen::gui {

// Background colour of a connection's indicator and of the stale marks.
QColor HealthColor(THealthState state);

// Shows `text` on a tinted strip in the top right corner of its parent while the data is stale;
// hidden otherwise. Follows the parent's size.
class TStaleMark final : public QLabel {
    Q_OBJECT
public:
    explicit TStaleMark(QWidget* parent);
    void ShowStale(bool stale, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Place();
};

// Tints a grid's column captions while its data is stale.
void TintHeader(QHeaderView* header, bool stale);

} // namespace vorlen::gui
