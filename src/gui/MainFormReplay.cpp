// The main window's side of the router's replay: the bar, the marking of every window, and the
// watch on the router that starts and stops with the connections.

#include "gui/JournalPane.h"
#include "gui/MainForm.h"
#include "gui/ReplayBar.h"
#include "main/Dialogs.h"
#include "platform/Journal.h"
#include "platform/Module.h"

#include <QLabel>
#include <QMdiArea>
#include <QStatusBar>

namespace vorlen::gui {

namespace {

std::string OtherDayText(const TReplayState& state) {
    return "Роутер открыл запись другого дня (" + state.Date +
           "). Списки инструментов и открытые окна относятся к прежнему дню: разорвите "
           "соединение и подключитесь снова.";
}

} // namespace

void TMainForm::CreateReplayBar() {
    addToolBarBreak();
    ReplayBar = new TReplayBar(this);
    addToolBar(ReplayBar);
    ReplayBar->hide();
    connect(ReplayBar, &TReplayBar::CommandRequested, this, [this](const QString& command) {
        if (FReplayControl != nullptr)
            FReplayControl->Send(command.toStdString());
    });

    ReplayMark = new QLabel(this);
    ReplayMark->setObjectName(QStringLiteral("ReplayMark"));
    ReplayMark->setAutoFillBackground(true);
    ReplayMark->setMargin(1);
    QPalette p = ReplayMark->palette();
    p.setColor(QPalette::Window, ReplayColor());
    ReplayMark->setPalette(p);
    statusBar()->insertPermanentWidget(0, ReplayMark);
    ReplayMark->hide();
    FReplayMarking = new TReplayMarking(MdiArea);
    // What arrives after the watch has stopped is dropped: the disconnection has said it all.
    connect(
        this, &TMainForm::ReplayChangeArrived, this,
        [this] {
            if (FReplayControl != nullptr)
                ShowReplay(FReplayControl->State());
        },
        Qt::QueuedConnection);
    connect(
        this, &TMainForm::ReplayLineArrived, this,
        [this](const QString& line) {
            if (FReplayControl != nullptr)
                Memo1->AppendLine(JournalLine(line.toStdString()));
        },
        Qt::QueuedConnection);
}

void TMainForm::ConnectionsRunning(bool running) {
    StopReplayWatch();
    TTerminalPort* port = running ? FController->Port() : nullptr;
    if (port == nullptr)
        return;
    // The thread reads files only; the settings stay with the UI thread.
    TConnectorSettings where;
    where.RoutPath = port->Settings().RoutPath;
    where.RoutIniName = port->Settings().RoutIniName;
    where.Host = port->Settings().Host;
    // Both handlers run on the control thread; the signals carry their news over, queued.
    FReplayControl = std::make_unique<TReplayControl>(
        [where, separator = platform::PathSeparator()] {
            return RouterControlPort(where, separator);
        },
        [this](const TReplayState&) { emit ReplayChangeArrived(); },
        [this](const std::string& command, const std::string& reply) {
            emit ReplayLineArrived(QString::fromStdString(
                reply.empty() ? "Повтор: роутер не ответил на команду «" + command + "»."
                              : "Повтор: роутер отклонил команду «" + command + "»: " + reply));
        });
    FReplayControl->Start();
}

void TMainForm::StopReplayWatch() {
    if (FReplayControl != nullptr) {
        FReplayControl->Stop();
        FReplayControl.reset();
    }
    // Disconnected figures are the last ones seen, but no longer a replay going on.
    if (FReplay.Replaying)
        ShowReplay(TReplayState{});
}

void TMainForm::ShowReplay(const TReplayState& state) {
    const TReplayState before = std::exchange(FReplay, state);
    if (FReplayControl != nullptr) {
        if (state.Replaying && !before.Replaying) {
            Memo1->AppendLine(JournalLine("Роутер воспроизводит запись " + state.Date + " (" +
                                          state.File + "); это не живой рынок."));
        } else if (!state.Replaying && before.Replaying) {
            Memo1->AppendLine(JournalLine("Роутер больше не воспроизводит запись."));
        } else if (state.OtherDayThan(before)) {
            const std::string text = OtherDayText(state);
            Memo1->AppendLine(JournalLine(text));
            ShowInfo(text);
        }
    }
    ReplayBar->setVisible(state.Replaying);
    if (state.Replaying)
        ReplayBar->ShowState(state);
    const QString day = QString::fromStdString(state.Date);
    ReplayMark->setText(QStringLiteral("Повтор записи %1 — не живой рынок").arg(day));
    ReplayMark->setVisible(state.Replaying);
    // The whole status bar carries the tint; the connections' indicators keep their own colours.
    statusBar()->setAutoFillBackground(state.Replaying);
    QPalette p = statusBar()->palette();
    p.setColor(QPalette::Window,
               state.Replaying ? ReplayColor() : palette().color(QPalette::Window));
    statusBar()->setPalette(p);
    setWindowTitle(state.Replaying ? QStringLiteral("Vorlen — повтор %1").arg(day)
                                   : QStringLiteral("Vorlen"));
    if (FReplayMarking->Replay() != state.Replaying)
        FReplayMarking->SetReplay(state.Replaying);
}

} // namespace vorlen::gui
