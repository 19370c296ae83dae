#include "gui/ChartForm.h"

#include "gui/StaleMark.h"
#include "orders/StoreView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <utility>

namespace vorlen::gui {

namespace {

// Orders and positions change at a trader's pace: read every tenth step, when they changed.
constexpr int kLinesEvery = 10;
constexpr double kPriceScale = 1e5;

constexpr std::array<chart::TInterval, 6> kIntervals = {
    chart::TInterval::Minute1, chart::TInterval::Minute5, chart::TInterval::Minute15,
    chart::TInterval::Hour1,   chart::TInterval::Day1,    chart::TInterval::Tick};

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QIcon ChartIcon() {
    static const QIcon icon = [] {
        // Three candles, rising.
        QPixmap pixmap(32, 32);
        pixmap.setDevicePixelRatio(2);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        const struct {
            qreal X, Top, Bottom, BodyTop, BodyBottom;
            QColor Color;
        } candles[] = {{3, 7, 14, 9, 13, QColor(200, 40, 40)},
                       {8, 4, 12, 6, 10, QColor(30, 140, 50)},
                       {13, 1.5, 9, 3, 7, QColor(30, 140, 50)}};
        for (const auto& c : candles) {
            p.setPen(c.Color);
            p.drawLine(QPointF(c.X, c.Top), QPointF(c.X, c.Bottom));
            p.fillRect(QRectF(c.X - 1.5, c.BodyTop, 3, c.BodyBottom - c.BodyTop), c.Color);
        }
        return QIcon(pixmap);
    }();
    return icon;
}

QString IntervalCaption(chart::TInterval interval) {
    switch (interval) {
    case chart::TInterval::Minute1:
        return QStringLiteral("1 мин");
    case chart::TInterval::Minute5:
        return QStringLiteral("5 мин");
    case chart::TInterval::Minute15:
        return QStringLiteral("15 мин");
    case chart::TInterval::Hour1:
        return QStringLiteral("1 час");
    case chart::TInterval::Day1:
        return QStringLiteral("1 день");
    case chart::TInterval::Tick:
        return QStringLiteral("тики");
    }
    return {};
}

QString ChartCaption(const std::string& isin, chart::TInterval interval) {
    return QStringLiteral("График ") + Q(isin) + QStringLiteral(", ") + IntervalCaption(interval);
}

TChartForm::TChartForm(TCGStorage* store, std::unique_ptr<chart::THistorySource> history,
                       std::string historyError, std::int32_t isinId, std::string isin,
                       chart::TInterval interval, std::int64_t fromMs, std::int64_t toMs,
                       QWidget* parent)
    : QWidget(parent), FHistory(std::move(history)), FHistoryError(std::move(historyError)),
      FIsin(std::move(isin)), FData(FHistory.get(), isinId, fromMs, toMs) {
    setObjectName(QStringLiteral("ChartForm"));
    resize(720, 460);
    if (store != nullptr) {
        FTail = std::make_unique<chart::TDealTail>(*store, isinId);
        FOrders = std::make_unique<orders::TStoreReader>(*store);
    }

    IntervalBox = new QComboBox(this);
    IntervalBox->setObjectName(QStringLiteral("IntervalBox"));
    for (const chart::TInterval i : kIntervals)
        IntervalBox->addItem(IntervalCaption(i), static_cast<int>(i));
    StyleBox = new QComboBox(this);
    StyleBox->setObjectName(QStringLiteral("StyleBox"));
    StyleBox->addItem(QStringLiteral("Свечи"), static_cast<int>(TChartStyle::Candles));
    StyleBox->addItem(QStringLiteral("Бары"), static_cast<int>(TChartStyle::Bars));
    StyleBox->addItem(QStringLiteral("Линия"), static_cast<int>(TChartStyle::Line));
    LiveButton = new QPushButton(QStringLiteral("К последней свече"), this);
    LiveButton->setObjectName(QStringLiteral("LiveButton"));
    LiveButton->setToolTip(QStringLiteral("Вернуться к последней свече и следовать за ней (End)"));
    LiveButton->setEnabled(false);
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setTextFormat(Qt::PlainText);
    Status->setWordWrap(true);
    Status->hide();
    Chart = new TChartWidget(this);
    Mark = new TStaleMark(Chart);

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Интервал:"), this));
    controls->addWidget(IntervalBox);
    controls->addWidget(new QLabel(QStringLiteral("Вид:"), this));
    controls->addWidget(StyleBox);
    controls->addStretch(1);
    controls->addWidget(LiveButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(controls);
    layout->addWidget(Status);
    layout->addWidget(Chart, 1);

    connect(IntervalBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            SetInterval(static_cast<chart::TInterval>(IntervalBox->itemData(index).toInt()));
    });
    connect(StyleBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            Chart->SetStyle(static_cast<TChartStyle>(StyleBox->itemData(index).toInt()));
    });
    connect(LiveButton, &QPushButton::clicked, Chart, &TChartWidget::ToLive);
    connect(Chart, &TChartWidget::FollowChanged, LiveButton,
            [this](bool follow) { LiveButton->setEnabled(!follow); });

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kRefreshMs);
    // A coarse timer may fire a little early, which would let a busy market repaint more often
    // than 1000 / kRefreshMs times a second.
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TChartForm::Refresh);

    SetInterval(interval);
    Chart->SetData(&FData);
    if (FTail)
        Timer->start();
}

TChartForm::~TChartForm() {
    Timer->stop();
    Chart->SetData(nullptr);
}

void TChartForm::SetInterval(chart::TInterval interval) {
    if (const int index = IntervalBox->findData(static_cast<int>(interval));
        index != IntervalBox->currentIndex()) {
        const QSignalBlocker quiet(IntervalBox);
        IntervalBox->setCurrentIndex(index);
    }
    if (!FData.Load(interval))
        FHistoryError = FData.Error();
    setWindowTitle(ChartCaption(FIsin, interval));
    Chart->ToLive();
    Refresh();
}

void TChartForm::Detach() {
    Timer->stop();
    FTail.reset();
    FOrders.reset();
    ShowState();
}

void TChartForm::ShowStale(bool stale, const QString& text) {
    Mark->ShowStale(stale, text);
}

void TChartForm::Refresh() {
    if (FTail) {
        chart::TTailPoll poll;
        FTail->Poll(poll);
        FData.AddLive(poll.Deals);
        FData.AddFills(poll.Fills);
        FSubscribed = poll.Subscribed;
        if (poll.Position != FPosition || poll.AveragePrice != FAverage) {
            FPosition = poll.Position;
            FAverage = poll.AveragePrice;
            FTicks = 0; // the average's line follows at once
        }
        if (FTicks++ % kLinesEvery == 0)
            ReadLines();
    }
    ShowState();
    if (FData.Cache().Version() != FShownVersion || FData.FillsVersion() != FShownFills) {
        FShownVersion = FData.Cache().Version();
        FShownFills = FData.FillsVersion();
        Chart->DataChanged();
    }
}

void TChartForm::ReadLines() {
    if (FOrders && FOrders->Changed()) {
        FOrderLines.clear();
        const orders::TStoreFacts facts = FOrders->Read(false, true);
        for (const orders::TOwnOrder& o : facts.Own) {
            if (o.IsinId != FData.IsinId() || !o.Active())
                continue;
            const bool buy = o.Side == orders::TSide::Buy;
            FOrderLines.push_back({static_cast<double>(o.Price) / kPriceScale,
                                   buy ? QColor(0x00, 0x60, 0xd0) : QColor(0xd0, 0x50, 0x00),
                                   (buy ? QStringLiteral("покупка ") : QStringLiteral("продажа ")) +
                                       QString::number(o.Rest),
                                   true});
        }
    }
    std::vector<TPriceLine> lines = FOrderLines;
    if (FAverage)
        lines.push_back({*FAverage, QColor(0x80, 0x00, 0x80),
                         QStringLiteral("средняя, позиция ") + QString::number(FPosition), false});
    Chart->SetLines(std::move(lines));
}

void TChartForm::ShowState() {
    QStringList parts;
    if (!FHistoryError.empty())
        parts << QString::fromUtf8(kNoHistoryText) + QStringLiteral(": ") + Q(FHistoryError);
    else if (FData.NoHistory())
        parts << QString::fromUtf8(kNoHistoryText);
    if (FTail && !FSubscribed)
        parts << QString::fromUtf8(kNoDealStreamText);
    const QString text = parts.join(QStringLiteral("; "));
    if (Status->text() != text) {
        Status->setText(text);
        Status->setVisible(!text.isEmpty());
    }
    Chart->SetEmptyText(text.isEmpty() ? QStringLiteral("сделок нет") : text);
}

bool RenderChartPicture(const TChartPicture& picture, std::string& error) {
    const auto interval = history::ParseInterval(picture.Interval);
    if (!interval) {
        error = "--interval: tick, 1m, 5m, 15m, 1h или 1d, а не \"" + picture.Interval + "\"";
        return false;
    }
    std::int64_t from = -chart::TChartData::kAll;
    std::int64_t to = chart::TChartData::kAll;
    for (const auto& [name, text, value] :
         {std::tuple{"--from", &picture.From, &from}, std::tuple{"--to", &picture.To, &to}}) {
        if (text->empty())
            continue;
        const auto ms = history::ParseExchangeTime(*text);
        if (!ms) {
            error = std::string(name) + ": нужно \"ГГГГ-ММ-ДД ЧЧ:ММ\", а не \"" + *text + "\"";
            return false;
        }
        *value = *ms;
    }
    auto db = std::make_unique<chart::TDbHistory>();
    if (!db->Open(picture.HistoryDir / "history.db", error))
        return false;
    const auto isinId = db->FindInstrument(picture.Isin);
    if (!isinId) {
        error = picture.Isin + ": такого инструмента нет в истории";
        return false;
    }
    TChartForm form(nullptr, std::move(db), {}, *isinId, picture.Isin, *interval, from, to);
    if (!form.Data().Error().empty()) {
        error = form.Data().Error();
        return false;
    }
    // Laid out and drawn as on screen; the off-screen platform shows nothing.
    form.setAttribute(Qt::WA_DontShowOnScreen);
    form.resize(picture.Width, picture.Height);
    form.show();
    form.Chart->ToLive();
    if (!form.grab().save(QString::fromStdString(picture.File.string()), "PNG")) {
        error = picture.File.string() + ": файл не записывается";
        return false;
    }
    return true;
}

} // namespace vorlen::gui
