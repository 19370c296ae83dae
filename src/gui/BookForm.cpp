#include "gui/BookForm.h"

#include "gui/StaleMark.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace vorlen::gui {

namespace {

enum { kBidColumn, kPriceColumn, kAskColumn, kColumnCount };

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

QIcon BookIcon() {
    static const QIcon icon = [] {
        // A ladder: asks in red above bids in green, the best of each the shortest.
        QPixmap pixmap(32, 32);
        pixmap.setDevicePixelRatio(2);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        const qreal widths[] = {11, 8, 5, 5, 8, 11};
        for (int i = 0; i < 6; ++i) {
            p.fillRect(QRectF(8 - widths[i] / 2, 1.5 + i * 2.2, widths[i], 1.6),
                       i < 3 ? QColor(200, 40, 40) : QColor(30, 140, 50));
        }
        return QIcon(pixmap);
    }();
    return icon;
}

void TLadderModel::SetRows(std::vector<TLadderRow> rows) {
    if (rows.size() == FRows.size()) {
        // The same number of levels, as in most changes: the view repaints what it shows.
        FRows = std::move(rows);
        if (!FRows.empty())
            emit dataChanged(index(0, 0),
                             index(static_cast<int>(FRows.size()) - 1, kColumnCount - 1));
        return;
    }
    beginResetModel();
    FRows = std::move(rows);
    endResetModel();
}

int TLadderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TLadderModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TLadderModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(FRows.size()))
        return {};
    const TLadderRow& r = FRows[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    const bool ownSide = !r.Own.empty() && column == (r.IsAsk ? kAskColumn : kBidColumn);
    switch (role) {
    case Qt::DisplayRole: {
        const std::string& volume = column == kBidColumn ? r.Bid : r.Ask;
        if (column == kPriceColumn)
            return Q(r.Price);
        // The trader's own resting volume beside the level's: "12 (2)".
        return ownSide ? Q(volume + " (" + r.Own + ")") : Q(volume);
    }
    case Qt::TextAlignmentRole:
        return column == kPriceColumn ? int(Qt::AlignCenter)
                                      : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (column == kPriceColumn && r.Best)
            return QBrush(r.IsAsk ? QColor(255, 200, 200) : QColor(200, 235, 200));
        if (column == (r.IsAsk ? kAskColumn : kBidColumn))
            return QBrush(r.IsAsk ? QColor(255, 235, 235) : QColor(235, 248, 235));
        return {};
    case Qt::FontRole:
        if (r.Best || ownSide) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::ToolTipRole:
        return ownSide ? QStringLiteral("Ваши заявки: ") + Q(r.Own) : QVariant();
    default:
        return {};
    }
}

QVariant TLadderModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case kBidColumn:
        return QStringLiteral("Покупка");
    case kPriceColumn:
        return QStringLiteral("Цена");
    case kAskColumn:
        return QStringLiteral("Продажа");
    default:
        return {};
    }
}

TBookForm::TBookForm(TBookKeeper* books, std::int32_t isin_id, const std::string& isin,
                     QWidget* parent)
    : QWidget(parent), FBooks(books), FIsinId(isin_id) {
    setObjectName(QStringLiteral("BookForm"));
    setWindowTitle(QStringLiteral("Стакан ") + Q(isin));
    resize(300, 420);

    Header = new QLabel(this);
    Header->setObjectName(QStringLiteral("Header"));
    Header->setWordWrap(true);
    Header->setTextFormat(Qt::PlainText);
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setTextFormat(Qt::PlainText);
    Model = new TLadderModel(this);
    Ladder = new QTableView(this);
    Ladder->setObjectName(QStringLiteral("Ladder"));
    Ladder->setModel(Model);
    Ladder->verticalHeader()->hide();
    Ladder->verticalHeader()->setDefaultSectionSize(20);
    Ladder->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Ladder->setSelectionMode(QAbstractItemView::NoSelection);
    Ladder->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Ladder->setTextElideMode(Qt::ElideNone);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(Header);
    layout->addWidget(Status);
    layout->addWidget(Ladder, 1);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kBookRefreshMs);
    // A coarse timer may fire up to 5% early, which would let a busy book repaint more than
    // 1000 / kBookRefreshMs times a second.
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TBookForm::Refresh);
    Refresh();
    Timer->start();
}

TBookForm::~TBookForm() {
    Detach();
}

void TBookForm::SetHealthSource(THealthSource source) {
    FHealth = std::move(source);
    Refresh();
}

void TBookForm::Detach() {
    Timer->stop();
    FBooks = nullptr;
    FHealth = nullptr;
}

void TBookForm::Refresh() {
    if (FBooks != nullptr && FBooks->Snapshot(FIsinId, FBook)) {
        Model->SetRows(LadderRows(FBook));
        QStringList lines;
        for (const std::string& line : PositionLines(FBook))
            lines.push_back(Q(line));
        Header->setText(lines.join(QLatin1Char('\n')));
        ++FRepaints;
    }
    // The age and the connection change while the book does not; frozen data must look frozen.
    std::optional<THealthState> health;
    if (FHealth)
        health = FHealth();
    const TBookStatusLine line =
        FBooks != nullptr ? BookStatusLine(FBook, std::chrono::system_clock::now(), health)
                          : TBookStatusLine{"нет соединения", true, std::nullopt};
    Status->setText(Q(line.Text));
    if (line.Stale == FStale && line.Health == FShownHealth)
        return;
    FStale = line.Stale;
    FShownHealth = line.Health;
    QString style;
    if (FStale)
        style += QStringLiteral("color: #b00000; font-weight: bold;");
    // The same colours as the main window's connection indicators.
    if (line.Health && *line.Health != THealthState::Online)
        style += QStringLiteral("background-color: %1;").arg(HealthColor(*line.Health).name());
    Status->setStyleSheet(style);
}

} // namespace vorlen::gui
