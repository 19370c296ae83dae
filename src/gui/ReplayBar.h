#pragma once

// The replay bar of the main window, and the marking that tells every window its figures come
// from a recording played by the router, not from the live market.

#include "main/ReplayControl.h"

#include <QColor>
#include <QObject>
#include <QToolBar>

class QComboBox;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QSlider;
class QToolButton;

namespace vorlen::gui {

// The tint of everything that shows a replay; none of the connections' health colours.
QColor ReplayColor();
// What a window's title gets while the router replays.
inline constexpr const char* kReplayTitleSuffix = " — повтор";
// "Повтор 2026-12-10"
QString ReplayDayText(const TReplayState& state);
// How the router fills the trader's orders, as the bar names it.
QString ReplayFillText(const std::string& fill);
// What that means for the trader's orders (the label's tool tip).
QString ReplayFillHint(const std::string& fill);

// The recording's day and market time, play/pause, speed, step, a time slider that seeks when
// let go, and the fill model. It shows what the router last said and asks for changes through
// CommandRequested; it changes nothing itself.
class TReplayBar final : public QToolBar {
    Q_OBJECT
public:
    explicit TReplayBar(QWidget* parent);
    void ShowState(const TReplayState& state);

    QLabel* DayLabel = nullptr;
    QLabel* TimeLabel = nullptr;
    QToolButton* PlayButton = nullptr; // "Пуск" while paused, "Пауза" while playing
    QComboBox* SpeedBox = nullptr;
    QToolButton* StepButton = nullptr;
    QLabel* FromLabel = nullptr;
    QSlider* TimeSlider = nullptr; // seconds of the day, from..to
    QLabel* ToLabel = nullptr;
    QLabel* FillLabel = nullptr;

signals:
    // One line of the router's control protocol ("replay pause").
    void CommandRequested(const QString& command);

private:
    void Seek(int seconds);

    TReplayState FState;
};

// Gives the MDI children's titles the replay suffix while the router replays, including
// children opened meanwhile and titles their windows change themselves; the windows' own titles
// stay as they are (an expert's caption names its instrument).
class TReplayMarking final : public QObject {
    Q_OBJECT
public:
    explicit TReplayMarking(QMdiArea* area);
    void SetReplay(bool replay);
    bool Replay() const { return FReplay; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void ApplyAll();

private:
    void Apply(QMdiSubWindow* sub);

    QMdiArea* FArea;
    bool FReplay = false;
};

} // namespace vorlen::gui
