// The main window's options boards: the command, and the windows it opens.

#include "gui/ImageList.h"
#include "gui/MainForm.h"
#include "gui/OptionsForm.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vorlen::gui {

namespace {

QIcon OptionsIcon() {
    static const QIcon icon = [] {
        // A smile: volatility high in the wings, low at the money.
        QPixmap pixmap(32, 32);
        pixmap.setDevicePixelRatio(2);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath smile;
        smile.moveTo(1.5, 3);
        smile.quadTo(8, 17, 14.5, 3);
        p.setPen(QPen(QColor(30, 80, 170), 1.8));
        p.drawPath(smile);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 40, 40));
        for (const QPointF at : {QPointF(3.5, 6.5), QPointF(8, 10), QPointF(12.5, 6.5)})
            p.drawEllipse(at, 1.4, 1.4);
        return QIcon(pixmap);
    }();
    return icon;
}

} // namespace

void TMainForm::CreateOptionsActions() {
    OptionsNew1 =
        NewAction("OptionsNew1", QStringLiteral("&Опционы"),
                  QStringLiteral("Опционы|Открыть доску опционов фьючерса"), MainImage::None);
    OptionsNew1->setIcon(OptionsIcon());
    OptionsNew1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    OptionsNew1Tool =
        NewAction("OptionsNew1Tool", QStringLiteral("Опционы"),
                  QStringLiteral("Опционы|Открыть доску опционов фьючерса"), MainImage::None);
    OptionsNew1Tool->setIcon(OptionsIcon());
    connect(OptionsNew1, &QAction::triggered, this, &TMainForm::OptionsNew1Execute);
    connect(OptionsNew1Tool, &QAction::triggered, this, &TMainForm::OptionsNew1Execute);
}

void TMainForm::OptionsNew1Execute() {
    if (const auto futures = FController->ChooseFutures())
        OpenOptionsWindow(futures->second);
}

std::vector<TOptionsForm*> TMainForm::OptionsChildren() const {
    std::vector<TOptionsForm*> children;
    for (QMdiSubWindow* sub : MdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* child = qobject_cast<TOptionsForm*>(sub->widget()))
            children.push_back(child);
    return children;
}

void TMainForm::OpenOptionsWindow(const std::string& isin) {
    for (QMdiSubWindow* sub : MdiArea->subWindowList()) {
        if (auto* board = qobject_cast<TOptionsForm*>(sub->widget());
            board != nullptr && board->Isin() == isin) {
            if (sub->isMinimized())
                sub->showNormal();
            MdiArea->setActiveSubWindow(sub);
            return;
        }
    }
    TTerminalPort* port = FController->Port();
    auto* board = new TOptionsForm(port != nullptr ? port->Store() : nullptr,
                                   port != nullptr ? port->Books() : nullptr, isin);
    // The same mark and words as the grids', from the same health view.
    board->SetStaleSource([this] {
        const THealthView v = FController->HealthView();
        return std::make_pair(v.Stale, v.StaleText);
    });
    connect(board, &TOptionsForm::LevelClicked, this, &TMainForm::OpenOrderTicket);
    QMdiSubWindow* sub = MdiArea->addSubWindow(board);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(board->size());
    sub->show();
}

} // namespace vorlen::gui
