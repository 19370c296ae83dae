#include "gui/OptionsForm.h"

#include "gui/StaleMark.h"
#include "options/BoardSource.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace vorlen::gui {

namespace {

using namespace vorlen::options;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

bool CallSide(int column) {
    return column < kStrikeColumn;
}

} // namespace

void TBoardModel::SetLines(std::vector<TBoardLine> lines) {
    if (lines.size() == FLines.size()) {
        // Strikes rarely come and go: a repaint of what the view shows, not a reset that would
        // lose the trader's scroll position.
        FLines = std::move(lines);
        if (!FLines.empty())
            emit dataChanged(index(0, 0),
                             index(static_cast<int>(FLines.size()) - 1, kBoardColumnCount - 1));
        return;
    }
    beginResetModel();
    FLines = std::move(lines);
    endResetModel();
}

int TBoardModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FLines.size());
}

int TBoardModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kBoardColumnCount;
}

QVariant TBoardModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(FLines.size()))
        return {};
    const TBoardLine& line = FLines[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    const TBoardCell& cell = line.Cells[static_cast<std::size_t>(column)];
    switch (role) {
    case Qt::DisplayRole:
        return Q(cell.Text);
    case Qt::ToolTipRole:
        return cell.Tip.empty() ? QVariant() : QVariant(Q(cell.Tip));
    case Qt::TextAlignmentRole:
        return column == kStrikeColumn ? int(Qt::AlignCenter)
                                       : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (column == kStrikeColumn)
            return QBrush(line.Atm ? QColor(255, 225, 140) : QColor(235, 235, 235));
        if (line.Atm)
            return QBrush(QColor(255, 246, 214));
        if (column == kCallBid || column == kPutBid)
            return QBrush(QColor(235, 248, 235));
        if (column == kCallAsk || column == kPutAsk)
            return QBrush(QColor(255, 235, 235));
        return {};
    case Qt::FontRole:
        if (line.Atm || column == kStrikeColumn) {
            QFont f;
            f.setBold(line.Atm);
            return f;
        }
        return {};
    default:
        return {};
    }
}

QVariant TBoardModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::ToolTipRole && (section == kCallIv || section == kPutIv))
        return QStringLiteral("Подразумеваемая волатильность, % годовых");
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case kCallPosition:
    case kPutPosition:
        return QStringLiteral("Поз.");
    case kCallOpenInterest:
    case kPutOpenInterest:
        return QStringLiteral("ОИ");
    case kCallDelta:
    case kPutDelta:
        return QStringLiteral("Дельта");
    case kCallIv:
    case kPutIv:
        return QStringLiteral("IV");
    case kCallBid:
    case kPutBid:
        return QStringLiteral("Покупка");
    case kCallAsk:
    case kPutAsk:
        return QStringLiteral("Продажа");
    case kStrikeColumn:
        return QStringLiteral("Страйк");
    default:
        return {};
    }
}

TSmilePlot::TSmilePlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Smile"));
    setMinimumHeight(140);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
}

void TSmilePlot::SetSmile(std::vector<TSmilePoint> points, std::optional<double> forward) {
    FPoints = std::move(points);
    FForward = forward;
    update();
}

void TSmilePlot::paintEvent(QPaintEvent* /*event*/) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(44, 20, -10, -24);
    double kLo = 0, kHi = 0, vLo = 1e300, vHi = -1e300;
    bool any = false;
    for (const TSmilePoint& s : FPoints) {
        for (const auto& v : {s.Bid, s.Ask, s.Mid, s.Exchange}) {
            if (!v)
                continue;
            vLo = std::min(vLo, *v);
            vHi = std::max(vHi, *v);
            any = true;
        }
    }
    if (!FPoints.empty()) {
        kLo = FPoints.front().Strike;
        kHi = FPoints.back().Strike;
    }
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRectF(4, 2, width() - 8, 16), Qt::AlignLeft,
               QStringLiteral("Улыбка: IV, % (вне денег)"));
    if (!any || kHi <= kLo) {
        p.drawText(area, Qt::AlignCenter, QStringLiteral("Нет волатильностей для графика"));
        return;
    }
    // A little room above and below, and never a flat range to divide by.
    const double pad = std::max(0.5, (vHi - vLo) * 0.08);
    vLo -= pad;
    vHi += pad;
    const auto x = [&](double k) { return area.left() + (k - kLo) / (kHi - kLo) * area.width(); };
    const auto y = [&](double v) {
        return area.bottom() - (v - vLo) / (vHi - vLo) * area.height();
    };

    p.setPen(QColor(200, 200, 200));
    p.drawRect(area);
    for (int i = 0; i <= 4; ++i) {
        const double v = vLo + (vHi - vLo) * i / 4;
        p.setPen(QColor(235, 235, 235));
        p.drawLine(QPointF(area.left(), y(v)), QPointF(area.right(), y(v)));
        p.setPen(QColor(90, 90, 90));
        p.drawText(QRectF(0, y(v) - 8, 40, 16), Qt::AlignRight | Qt::AlignVCenter, Q(Fixed(v, 1)));
    }
    // The end labels stay inside the plot: the first starts at its tick, the last ends at it.
    p.drawText(QRectF(x(kLo), area.bottom() + 4, 80, 16), Qt::AlignLeft, Q(Fixed(kLo, 0)));
    p.drawText(QRectF(x((kLo + kHi) / 2) - 40, area.bottom() + 4, 80, 16), Qt::AlignCenter,
               Q(Fixed((kLo + kHi) / 2, 0)));
    p.drawText(QRectF(x(kHi) - 80, area.bottom() + 4, 80, 16), Qt::AlignRight, Q(Fixed(kHi, 0)));
    if (FForward && *FForward >= kLo && *FForward <= kHi) {
        p.setPen(QPen(QColor(230, 150, 0), 1, Qt::DashLine));
        p.drawLine(QPointF(x(*FForward), area.top()), QPointF(x(*FForward), area.bottom()));
    }
    QPainterPath curve;
    bool started = false;
    for (const TSmilePoint& s : FPoints) {
        if (!s.Exchange)
            continue;
        const QPointF at(x(s.Strike), y(*s.Exchange));
        started ? curve.lineTo(at) : curve.moveTo(at);
        started = true;
    }
    p.setPen(QPen(QColor(130, 130, 130), 1.5));
    p.drawPath(curve);
    const auto dots = [&](std::optional<double> TSmilePoint::*field, QColor color, double r) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        for (const TSmilePoint& s : FPoints)
            if (const auto& v = s.*field)
                p.drawEllipse(QPointF(x(s.Strike), y(*v)), r, r);
    };
    dots(&TSmilePoint::Bid, QColor(30, 140, 50), 2.5);
    dots(&TSmilePoint::Ask, QColor(200, 40, 40), 2.5);
    dots(&TSmilePoint::Mid, QColor(20, 20, 20), 2.0);
    // The legend, in the colours of the points.
    const QString legend[] = {QStringLiteral("покупка"), QStringLiteral("продажа"),
                              QStringLiteral("середина"), QStringLiteral("биржа")};
    const QColor colors[] = {QColor(30, 140, 50), QColor(200, 40, 40), QColor(20, 20, 20),
                             QColor(130, 130, 130)};
    const QFontMetricsF metrics(font());
    qreal lx = area.right();
    for (int i = 3; i >= 0; --i) {
        const QString text = QStringLiteral("● ") + legend[i];
        lx -= metrics.horizontalAdvance(text) + 10;
        p.setPen(colors[i]);
        p.drawText(QRectF(lx, 2, metrics.horizontalAdvance(text) + 4, 16), Qt::AlignLeft, text);
    }
}

TOptionsForm::TOptionsForm(TCGStorage* store, const TBookKeeper* books, const std::string& isin,
                           QWidget* parent)
    : QWidget(parent), FIsin(isin) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(QStringLiteral("Опционы ") + Q(isin));
    resize(900, 620);

    Expiry = new QComboBox(this);
    Expiry->setObjectName(QStringLiteral("Expiry"));
    Expiry->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Expiry->setMinimumContentsLength(18);
    IvMode = new QComboBox(this);
    IvMode->setObjectName(QStringLiteral("IvMode"));
    IvMode->addItem(QStringLiteral("IV покупки / продажи"));
    IvMode->addItem(QStringLiteral("IV середины"));
    Header = new QLabel(this);
    Header->setObjectName(QStringLiteral("Header"));
    Header->setTextFormat(Qt::PlainText);
    Risk = new QLabel(this);
    Risk->setObjectName(QStringLiteral("Risk"));
    Risk->setTextFormat(Qt::PlainText);
    Risk->setStyleSheet(QStringLiteral("font-weight: bold;"));
    Missing = new QLabel(this);
    Missing->setObjectName(QStringLiteral("Missing"));
    Missing->setTextFormat(Qt::PlainText);
    Missing->setWordWrap(true);
    Missing->setStyleSheet(QStringLiteral("color: #b00000;"));
    Missing->hide();

    Model = new TBoardModel(this);
    Table = new QTableView(this);
    Table->setObjectName(QStringLiteral("Board"));
    Table->setModel(Model);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(20);
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // "21,3 / 22,1" needs more room than a price; a few dozen rows cost nothing to measure.
    for (const int c : {kCallIv, kPutIv})
        Table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    Table->setSelectionMode(QAbstractItemView::NoSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setTextElideMode(Qt::ElideNone);
    connect(Table, &QTableView::clicked, this, &TOptionsForm::CellClicked);
    StaleMark = new TStaleMark(Table);
    Smile = new TSmilePlot(this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Экспирация:"), this));
    top->addWidget(Expiry);
    top->addWidget(IvMode);
    top->addStretch(1);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(Table);
    split->addWidget(Smile);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top);
    layout->addWidget(Header);
    layout->addWidget(Risk);
    layout->addWidget(Missing);
    layout->addWidget(split, 1);

    connect(Expiry, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            FExpiry = Expiry->itemData(index).toDouble();
        FAtmShown = -1;
        Repaint();
    });
    connect(IvMode, &QComboBox::currentIndexChanged, this, [this] { Repaint(); });

    if (store != nullptr && books != nullptr) {
        FWorker = std::make_unique<TBoardWorker>(
            [store, books, isin] { return ReadBoardSource(*store, *books, isin); });
    } else {
        Header->setText(QStringLiteral("Нет соединения"));
    }
    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kRefreshMs);
    // A coarse timer may fire early, which would let the board repaint more than 10 times a
    // second.
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TOptionsForm::Refresh);
    Timer->start();
}

TOptionsForm::~TOptionsForm() {
    Detach();
}

void TOptionsForm::Detach() {
    Timer->stop();
    if (FWorker)
        FWorker->Stop();
    FStale = nullptr;
}

void TOptionsForm::SetStaleSource(TStaleSource source) {
    FStale = std::move(source);
    Refresh();
}

std::uint64_t TOptionsForm::Recomputes() const {
    return FWorker ? FWorker->Latest().Serial : 0;
}

void TOptionsForm::Refresh() {
    if (FStale) {
        const auto [stale, text] = FStale();
        StaleMark->ShowStale(stale, Q(text));
        TintHeader(Table->horizontalHeader(), stale);
    }
    if (!FWorker)
        return;
    TBoardResult latest = FWorker->Latest();
    if (latest.Serial == FShown.Serial)
        return;
    FShown = std::move(latest);
    // The selector follows the expiries listed, keeping the one chosen while it is there.
    const std::vector<double>& expiries = FShown.Board->Expiries;
    bool same = static_cast<std::size_t>(Expiry->count()) == expiries.size();
    for (std::size_t i = 0; same && i < expiries.size(); ++i)
        same = Expiry->itemData(static_cast<int>(i)).toDouble() == expiries[i];
    if (!same) {
        const QSignalBlocker block(Expiry);
        Expiry->clear();
        const auto now = std::chrono::system_clock::now();
        for (const double e : expiries)
            Expiry->addItem(Q(ExpiryText(e, now)), e);
        const int at = Expiry->findData(FExpiry);
        Expiry->setCurrentIndex(at >= 0 ? at : 0);
        FExpiry = expiries.empty() ? 0 : Expiry->currentData().toDouble();
        FAtmShown = -1;
    }
    Repaint();
}

void TOptionsForm::Repaint() {
    if (!FShown.Board)
        return;
    const TBoardSource& source = *FShown.Source;
    std::string missing = MissingText(source.Missing);
    if (!source.Found) {
        missing = "Фьючерс " + FIsin + " не найден в справочнике фьючерсов" +
                  (missing.empty() ? "." : ". " + missing);
    } else if (source.Input.Series.empty()) {
        missing = "Нет опционных серий на " + FIsin + (missing.empty() ? "." : ". " + missing);
    }
    Missing->setText(Q(missing));
    Missing->setVisible(!missing.empty());
    const TIvShow show = IvMode->currentIndex() == 1 ? TIvShow::Mid : TIvShow::BidAsk;
    TBoardPage page = BuildPage(*FShown.Board, FExpiry, show, std::chrono::system_clock::now());
    Header->setText(Q(page.Header));
    Risk->setText(Q(page.Risk));
    Model->SetLines(std::move(page.Lines));
    Smile->SetSmile(std::move(page.Smile), page.Forward);
    // Kept in view when the money moves to another strike, not on every repaint: the trader
    // may have scrolled away on purpose.
    if (page.AtmLine >= 0 && page.AtmLine != FAtmShown) {
        FAtmShown = page.AtmLine;
        Table->scrollTo(Model->index(page.AtmLine, kStrikeColumn),
                        QAbstractItemView::PositionAtCenter);
    }
    ++FRepaints;
}

void TOptionsForm::CellClicked(const QModelIndex& index) {
    if (!index.isValid() || index.row() >= static_cast<int>(Model->Lines().size()))
        return;
    const TBoardLine& line = Model->Lines()[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    const bool bid = column == kCallBid || column == kPutBid;
    if (!bid && column != kCallAsk && column != kPutAsk)
        return;
    const bool call = CallSide(column);
    const std::optional<std::int64_t>& price =
        call ? (bid ? line.CallBid : line.CallAsk) : (bid ? line.PutBid : line.PutAsk);
    const std::string& isin = call ? line.CallIsin : line.PutIsin;
    if (isin.empty())
        return;
    // As in the book window: the bid column buys at that price, the ask column sells. An empty
    // side gives the ticket the series alone.
    emit LevelClicked(Q(isin), bid ? 1 : 2, static_cast<qint64>(price.value_or(0)));
}

} // namespace vorlen::gui
