#include "gui/StaleMark.h"

#include <QEvent>
#include <QHeaderView>

namespace vorlen::gui {

QColor HealthColor(THealthState state) {
    switch (state) {
    case THealthState::Online:
        return QColor(0xc8, 0xf0, 0xc8);
    case THealthState::Connecting:
    case THealthState::Reconnecting:
        return QColor(0xff, 0xf0, 0xa0);
    case THealthState::Stale:
        return QColor(0xff, 0xc8, 0x90);
    case THealthState::Disconnected:
        break;
    }
    return QColor(0xd8, 0xd8, 0xd8);
}

TStaleMark::TStaleMark(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("StaleMark"));
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, HealthColor(THealthState::Stale));
    setPalette(p);
    setMargin(2);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    parent->installEventFilter(this);
}

void TStaleMark::ShowStale(bool stale, const QString& text) {
    setText(text);
    setToolTip(text);
    setVisible(stale);
    if (stale) {
        adjustSize();
        Place();
        raise();
    }
}

bool TStaleMark::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize && isVisible())
        Place();
    return QLabel::eventFilter(watched, event);
}

void TStaleMark::Place() {
    const QWidget* p = parentWidget();
    move(std::max(0, p->width() - width() - 2), 2);
}

void TintHeader(QHeaderView* header, bool stale) {
    // A style sheet rather than the palette: most styles paint header sections their own way
    // and ignore the palette's button colour.
    header->setStyleSheet(stale ? QStringLiteral("QHeaderView::section { background-color: %1; }")
                                      .arg(HealthColor(THealthState::Stale).name())
                                : QString());
}

} // namespace vorlen::gui
