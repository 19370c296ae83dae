#include "gui/ReplayBar.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSlider>
#include <QToolButton>

namespace vorlen::gui {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString SpeedCaption(std::string_view speed) {
    return speed == "max" ? QStringLiteral("макс.")
                          : QStringLiteral("x") +
                                QString::fromLatin1(speed.data(), static_cast<int>(speed.size()));
}

} // namespace

QColor ReplayColor() {
    return QColor(0xd8, 0xc8, 0xf8);
}

QString ReplayDayText(const TReplayState& state) {
    return QStringLiteral("Повтор ") + Q(state.Date);
}

QString ReplayFillText(const std::string& fill) {
    if (fill == "touch")
        return QStringLiteral("Исполнение: касание");
    if (fill == "through")
        return QStringLiteral("Исполнение: проход цены");
    if (fill == "queue")
        return QStringLiteral("Исполнение: очередь");
    return QStringLiteral("Исполнение: ") + Q(fill);
}

QString ReplayFillHint(const std::string& fill) {
    if (fill == "touch")
        return QStringLiteral("Заявка исполняется, как только рынок коснётся её цены");
    if (fill == "through")
        return QStringLiteral("Заявка исполняется, когда рынок пройдёт её цену");
    if (fill == "queue")
        return QStringLiteral(
            "Заявка исполняется в очереди за объёмом, стоявшим по её цене раньше");
    return {};
}

TReplayBar::TReplayBar(QWidget* parent) : QToolBar(QStringLiteral("ReplayBar"), parent) {
    setObjectName(QStringLiteral("ReplayBar"));
    setMovable(false);
    setFloatable(false);
    toggleViewAction()->setVisible(false);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, ReplayColor());
    setPalette(p);

    const auto label = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setMargin(2);
        return l;
    };
    const auto button = [this](const char* name, const QString& text, const QString& hint) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setToolTip(hint);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return b;
    };

    DayLabel = label("ReplayDay");
    QFont bold = DayLabel->font();
    bold.setBold(true);
    DayLabel->setFont(bold);
    TimeLabel = label("ReplayTime");
    TimeLabel->setToolTip(QStringLiteral("Время рынка в записи"));
    PlayButton = button("ReplayPlay", QStringLiteral("Пуск"), QStringLiteral("Пуск/Пауза"));
    SpeedBox = new QComboBox(this);
    SpeedBox->setObjectName(QStringLiteral("ReplaySpeed"));
    SpeedBox->setToolTip(QStringLiteral("Скорость воспроизведения"));
    for (std::string_view speed : kReplaySpeeds)
        SpeedBox->addItem(SpeedCaption(speed),
                          QString::fromLatin1(speed.data(), static_cast<int>(speed.size())));
    StepButton = button("ReplayStep", QStringLiteral("Шаг"),
                        QStringLiteral("На секунду вперёд, затем пауза"));
    FromLabel = label("ReplayFrom");
    TimeSlider = new QSlider(Qt::Horizontal, this);
    TimeSlider->setObjectName(QStringLiteral("ReplaySlider"));
    TimeSlider->setToolTip(QStringLiteral("Перейти к времени записи"));
    // Narrow enough that the whole bar fits the window's starting width.
    TimeSlider->setMinimumWidth(160);
    TimeSlider->setMaximumWidth(260);
    TimeSlider->setSingleStep(60);
    TimeSlider->setPageStep(15 * 60);
    ToLabel = label("ReplayTo");
    FillLabel = label("ReplayFill");

    addWidget(DayLabel);
    addWidget(TimeLabel);
    addSeparator();
    addWidget(PlayButton);
    addWidget(SpeedBox);
    addWidget(StepButton);
    addSeparator();
    addWidget(FromLabel);
    addWidget(TimeSlider);
    addWidget(ToLabel);
    addSeparator();
    addWidget(FillLabel);

    connect(PlayButton, &QToolButton::clicked, this, [this] {
        emit CommandRequested(FState.State == "playing" ? QStringLiteral("replay pause")
                                                        : QStringLiteral("replay play"));
    });
    connect(StepButton, &QToolButton::clicked, this,
            [this] { emit CommandRequested(QStringLiteral("replay step")); });
    connect(SpeedBox, &QComboBox::activated, this, [this](int index) {
        const std::string command =
            ReplaySpeedCommand(SpeedBox->itemData(index).toString().toStdString());
        if (!command.empty())
            emit CommandRequested(Q(command));
    });
    // Dragging only shows where the replay would go; letting go (or a click beside the handle,
    // or a key) goes there.
    connect(TimeSlider, &QSlider::sliderMoved, this, [this](int seconds) {
        TimeLabel->setText(QStringLiteral("→ ") + Q(ClockText(seconds)));
    });
    connect(TimeSlider, &QSlider::sliderReleased, this, [this] { Seek(TimeSlider->value()); });
    connect(TimeSlider, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            Seek(TimeSlider->sliderPosition());
    });
}

void TReplayBar::Seek(int seconds) {
    emit CommandRequested(Q(ReplaySeekCommand(seconds)));
}

void TReplayBar::ShowState(const TReplayState& s) {
    FState = s;
    DayLabel->setText(ReplayDayText(s));
    DayLabel->setToolTip(Q(s.File));
    QString time = Q(s.Time);
    if (s.State == "end")
        time += QStringLiteral(", конец записи");
    if (!TimeSlider->isSliderDown())
        TimeLabel->setText(time);
    PlayButton->setText(s.State == "playing" ? QStringLiteral("Пауза") : QStringLiteral("Пуск"));
    StepButton->setEnabled(s.State != "end");
    const int speed = SpeedBox->findData(Q(s.Speed));
    if (speed >= 0)
        SpeedBox->setCurrentIndex(speed);
    const int from = s.FromSeconds();
    const int to = s.ToSeconds();
    const bool range = from >= 0 && to >= from;
    TimeSlider->setEnabled(range);
    FromLabel->setText(Q(s.From));
    ToLabel->setText(Q(s.To));
    if (range && !TimeSlider->isSliderDown()) {
        const QSignalBlocker quiet(TimeSlider);
        TimeSlider->setRange(from, to);
        TimeSlider->setValue(std::clamp(s.TimeSeconds(), from, to));
    }
    FillLabel->setText(ReplayFillText(s.Fill));
    FillLabel->setToolTip(ReplayFillHint(s.Fill));
}

TReplayMarking::TReplayMarking(QMdiArea* area) : QObject(area), FArea(area) {
    // A window opened during a replay is marked once the MDI area has placed it.
    area->viewport()->installEventFilter(this);
    connect(area, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* sub) {
        if (sub != nullptr)
            Apply(sub);
    });
}

void TReplayMarking::SetReplay(bool replay) {
    FReplay = replay;
    ApplyAll();
}

void TReplayMarking::ApplyAll() {
    for (QMdiSubWindow* sub : FArea->subWindowList())
        Apply(sub);
}

void TReplayMarking::Apply(QMdiSubWindow* sub) {
    QWidget* widget = sub->widget();
    if (widget == nullptr)
        return;
    if (!widget->property("vorlenReplayWatched").toBool()) {
        widget->setProperty("vorlenReplayWatched", true);
        widget->installEventFilter(this);
    }
    const QString title =
        widget->windowTitle() + (FReplay ? QString::fromUtf8(kReplayTitleSuffix) : QString());
    if (sub->windowTitle() != title)
        sub->setWindowTitle(title);
}

bool TReplayMarking::eventFilter(QObject* watched, QEvent* event) {
    // A new sub-window gets its child only after it was added, and copies a child's new title
    // only after this filter has run: both are marked once the event loop comes round.
    if ((event->type() == QEvent::ChildAdded && watched == FArea->viewport()) ||
        event->type() == QEvent::WindowTitleChange)
        QMetaObject::invokeMethod(this, "ApplyAll", Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

} // namespace vorlen::gui
