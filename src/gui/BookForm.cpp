#include "gui/BookForm.h"

#include "gui/StaleMark.h"
#include "main/OrderTicket.h"
#include "orders/OrderDesk.h"
#include "platform/FormatSettings.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSizePolicy>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace vorlen::gui {

namespace {

enum { kBidColumn, kPriceColumn, kAskColumn, kCumulativeColumn };

// A row's height on the ladder: the visible row count follows from it.
constexpr int kRowHeight = 20;
// Rows the fixed ladder has before its view has a size.
constexpr int kDefaultRows = 21;

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
                             index(static_cast<int>(FRows.size()) - 1, columnCount() - 1));
        return;
    }
    beginResetModel();
    FRows = std::move(rows);
    endResetModel();
}

int TLadderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

void TLadderModel::SetCumulative(bool on) {
    if (on == FCumulative)
        return;
    beginResetModel();
    FCumulative = on;
    endResetModel();
}

int TLadderModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (FCumulative ? kCumulativeColumn + 1 : kCumulativeColumn);
}

QVariant TLadderModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(FRows.size()))
        return {};
    const TLadderRow& r = FRows[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    // The compact ladder's own volume is on its level's side; the fixed one says whose it is.
    const bool ownAsk = r.OwnSide != 0 ? r.OwnSide == 2 : r.IsAsk;
    const bool ownSide = !r.Own.empty() && column == (ownAsk ? kAskColumn : kBidColumn);
    switch (role) {
    case Qt::DisplayRole: {
        if (column == kPriceColumn)
            return Q(r.Price);
        if (column == kCumulativeColumn)
            return Q(r.Cumulative);
        const std::string& volume = column == kBidColumn ? r.Bid : r.Ask;
        // The trader's own resting volume beside the level's: "12 (2)", or "(2)" at a price
        // beyond the subscribed depth.
        return ownSide ? Q(volume + (volume.empty() ? "(" : " (") + r.Own + ")") : Q(volume);
    }
    case Qt::TextAlignmentRole:
        return column == kPriceColumn ? int(Qt::AlignCenter)
                                      : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (column == kPriceColumn && r.LastDeal)
            return QBrush(QColor(255, 225, 120));
        if (column == kPriceColumn && r.Best)
            return QBrush(r.IsAsk ? QColor(255, 200, 200) : QColor(200, 235, 200));
        if (ownSide)
            return QBrush(QColor(200, 215, 255));
        if (r.Inside)
            return QBrush(QColor(245, 245, 245));
        if (column == (r.IsAsk ? kAskColumn : kBidColumn))
            return QBrush(r.IsAsk ? QColor(255, 235, 235) : QColor(235, 248, 235));
        return {};
    case Qt::FontRole:
        if (r.Best || ownSide || (column == kPriceColumn && r.LastDeal)) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::ToolTipRole:
        if (ownSide)
            return QStringLiteral("Ваши заявки: ") + Q(r.Own);
        if (column == kPriceColumn && r.LastDeal)
            return QStringLiteral("Цена последней сделки");
        return {};
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
    case kCumulativeColumn:
        return QStringLiteral("Накоплено");
    default:
        return {};
    }
}

TBookForm::TBookForm(TBookKeeper* books, std::int32_t isin_id, const std::string& isin,
                     QWidget* parent)
    : QWidget(parent), FIsin(isin), FBooks(books), FIsinId(isin_id) {
    setObjectName(QStringLiteral("BookForm"));
    setWindowTitle(QStringLiteral("Стакан ") + Q(isin));

    Header = new QLabel(this);
    Header->setObjectName(QStringLiteral("Header"));
    Header->setWordWrap(true);
    Header->setTextFormat(Qt::PlainText);
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setTextFormat(Qt::PlainText);
    // Two lines whatever it says: a halt's words before the freshness would otherwise push the
    // ladder down under the cursor.
    Status->setWordWrap(true);
    Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Status->setFixedHeight(2 * Status->fontMetrics().lineSpacing() + 2);
    Info = new QLabel(this);
    Info->setObjectName(QStringLiteral("Info"));
    Info->setTextFormat(Qt::PlainText);
    Info->setFixedHeight(Info->fontMetrics().lineSpacing() + 2);
    Model = new TLadderModel(this);
    Ladder = new QTableView(this);
    Ladder->setObjectName(QStringLiteral("Ladder"));
    Ladder->setModel(Model);
    Ladder->verticalHeader()->hide();
    Ladder->verticalHeader()->setMinimumSectionSize(kRowHeight);
    Ladder->verticalHeader()->setDefaultSectionSize(kRowHeight);
    Ladder->viewport()->installEventFilter(this);
    // Home centres the ladder; the view would take it to move a current cell it does not show.
    Ladder->installEventFilter(this);
    Ladder->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Ladder->setSelectionMode(QAbstractItemView::NoSelection);
    Ladder->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Ladder->setTextElideMode(Qt::ElideNone);
    // Only a mouse click names a level: the view's activation by Enter is left unconnected.
    connect(Ladder, &QTableView::pressed, this, &TBookForm::CellPressed);
    connect(Ladder, &QTableView::clicked, this, &TBookForm::CellClicked);

    Qty = new QSpinBox(this);
    Qty->setObjectName(QStringLiteral("Qty"));
    Qty->setRange(1, 1000000);
    Qty->setValue(1);
    Client = new QComboBox(this);
    Client->setObjectName(QStringLiteral("Client"));
    Client->addItem(QStringLiteral("— клиент —"), QString());
    // Armed trading always has a client code: taking it away disarms.
    connect(Client, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (FArmed && index <= 0) {
            SetOneClick(false);
            SetNote(QStringLiteral("Торговля в один клик выключена: не выбран код "
                                   "клиента."));
        }
    });
    OneClick = new QCheckBox(QStringLiteral("В один клик"), this);
    OneClick->setObjectName(QStringLiteral("OneClick"));
    OneClick->setToolTip(QStringLiteral("Щелчок по уровню сразу отправляет заявку"));
    connect(OneClick, &QCheckBox::clicked, this, [this](bool on) { SetOneClick(on); });
    auto* trade = new QHBoxLayout;
    trade->addWidget(new QLabel(QStringLiteral("Кол-во:"), this));
    trade->addWidget(Qty);
    trade->addWidget(Client, 1);
    trade->addWidget(OneClick);
    ChartButton = new QPushButton(QStringLiteral("График"), this);
    ChartButton->setObjectName(QStringLiteral("ChartButton"));
    connect(ChartButton, &QPushButton::clicked, this,
            [this] { emit ChartRequested(FIsinId, QString::fromStdString(FIsin)); });
    trade->addWidget(ChartButton);

    ModeButton = new QPushButton(this);
    ModeButton->setObjectName(QStringLiteral("ModeButton"));
    ModeButton->setCheckable(true);
    ModeButton->setChecked(true);
    ModeButton->setToolTip(QStringLiteral("Все цены с шагом цены (строки не сдвигаются) или "
                                          "только уровни стакана"));
    connect(ModeButton, &QPushButton::clicked, this, [this](bool on) { SetFixedPrices(on); });
    CentreButton = new QPushButton(QStringLiteral("По центру"), this);
    CentreButton->setObjectName(QStringLiteral("CentreButton"));
    CentreButton->setToolTip(QStringLiteral("Поставить лучшие цены в середину (Home)"));
    connect(CentreButton, &QPushButton::clicked, this, &TBookForm::Recentre);
    CumulativeBox = new QCheckBox(QStringLiteral("Накопленный объём"), this);
    CumulativeBox->setObjectName(QStringLiteral("CumulativeBox"));
    connect(CumulativeBox, &QCheckBox::toggled, this, [this](bool on) {
        Model->SetCumulative(on);
        ShowRows();
    });
    auto* view = new QHBoxLayout;
    view->addWidget(ModeButton);
    view->addWidget(CentreButton);
    view->addWidget(CumulativeBox);
    view->addStretch(1);

    ArmedBanner = new QLabel(
        QStringLiteral("ТОРГОВЛЯ В ОДИН КЛИК: щелчок по уровню отправляет заявку. Esc — выключить"),
        this);
    ArmedBanner->setObjectName(QStringLiteral("ArmedBanner"));
    ArmedBanner->setWordWrap(true);
    ArmedBanner->setStyleSheet(
        QStringLiteral("background-color: #c00000; color: white; font-weight: bold;"));
    QSizePolicy keepRoom = ArmedBanner->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    ArmedBanner->setSizePolicy(keepRoom);
    ArmedBanner->hide();
    TradeNote = new QLabel(this);
    TradeNote->setObjectName(QStringLiteral("TradeNote"));
    TradeNote->setWordWrap(true);
    TradeNote->setTextFormat(Qt::PlainText);
    TradeNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Two lines, whatever it says (a longer text is in its tool tip): see the header's comment.
    TradeNote->setFixedHeight(2 * TradeNote->fontMetrics().lineSpacing() + 2);

    LadderFrame = new QFrame(this);
    LadderFrame->setObjectName(QStringLiteral("LadderFrame"));
    auto* frameLayout = new QVBoxLayout(LadderFrame);
    frameLayout->setContentsMargins(3, 3, 3, 3);
    frameLayout->addWidget(Ladder);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(Header);
    layout->addWidget(Status);
    layout->addLayout(trade);
    layout->addLayout(view);
    layout->addWidget(Info);
    layout->addWidget(ArmedBanner);
    layout->addWidget(TradeNote);
    layout->addWidget(LadderFrame, 1);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kBookRefreshMs);
    // A coarse timer may fire up to 5% early, which would let a busy book repaint more than
    // 1000 / kBookRefreshMs times a second.
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TBookForm::Refresh);
    ShowArmed();
    SetFixedPrices(true);
    // Room for a position's header line and the freshness line unwrapped, however large the
    // system's font: text cut at the default size is text the trader does not read.
    const QFontMetrics metrics = fontMetrics();
    const int header =
        metrics.horizontalAdvance(QStringLiteral("FZ00001: позиция -10 по 92000,25, оценка "
                                                 "92010,5, доход -1 234,50 ₽, ВМ -12,5"));
    resize(std::clamp(header + 24, 460, 720), 640);
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
    FClients = nullptr;
    SetOrderDesk(nullptr);
}

void TBookForm::SetOrderDesk(orders::TOrderDesk* desk) {
    FDesk = desk;
    if (FDesk == nullptr && FArmed) {
        SetOneClick(false);
        SetNote(QStringLiteral("Торговля в один клик выключена: нет соединения "
                               "Трансакций."));
    }
}

void TBookForm::SetClientSource(TClientSource source) {
    FClients = std::move(source);
    ReloadClients();
}

void TBookForm::ReloadClients() {
    FTicksSinceClients = 0;
    if (!FClients)
        return;
    const std::vector<std::string> codes = FClients();
    // Rebuilding an unchanged list would close the drop-down under the trader's hand.
    bool same = static_cast<std::size_t>(Client->count()) == codes.size() + 1;
    for (std::size_t i = 0; same && i < codes.size(); ++i)
        same = Client->itemData(static_cast<int>(i) + 1).toString() == Q(codes[i]);
    if (same)
        return;
    const QString chosen = Client->currentData().toString();
    const QSignalBlocker block(Client);
    while (Client->count() > 1)
        Client->removeItem(1);
    for (const std::string& code : codes)
        Client->addItem(Q(code), Q(code));
    // A code the account table no longer lists is not kept chosen.
    const int at = chosen.isEmpty() ? -1 : Client->findData(chosen);
    Client->setCurrentIndex(at > 0 ? at : 0);
    if (FArmed && at <= 0) {
        SetOneClick(false);
        SetNote(
            QStringLiteral("Торговля в один клик выключена: кода клиента нет в списке счетов."));
    }
}

void TBookForm::SetNote(const QString& text) {
    TradeNote->setText(text);
    TradeNote->setToolTip(text);
}

bool TBookForm::SetOneClick(bool on) {
    if (on && !FHaltText.empty()) {
        SetNote(QStringLiteral("Торговля в один клик недоступна: ") + Q(orders::kHaltedRefusal));
        on = false;
    } else if (on && FDesk == nullptr) {
        SetNote(QStringLiteral("Торговля в один клик недоступна: нет соединения "
                               "Трансакций."));
        on = false;
    } else if (on && Client->currentData().toString().isEmpty()) {
        SetNote(QStringLiteral("Для торговли в один клик выберите код клиента."));
        on = false;
    } else if (on != FArmed) {
        SetNote({});
    }
    FArmed = on;
    ShowArmed();
    return FArmed;
}

void TBookForm::ShowArmed() {
    const QSignalBlocker block(OneClick);
    OneClick->setChecked(FArmed);
    ArmedBanner->setVisible(FArmed);
    // Unarmed, the frame's width is kept as padding: the ladder must not shift by it.
    LadderFrame->setStyleSheet(
        FArmed ? QStringLiteral("QFrame#LadderFrame { border: 3px solid #c00000; }")
               : QStringLiteral("QFrame#LadderFrame { padding: 3px; }"));
}

void TBookForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home) {
        Recentre();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && FArmed) {
        SetOneClick(false);
        SetNote(QStringLiteral("Торговля в один клик выключена."));
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TBookForm::CellPressed(const QModelIndex& index) {
    FPressed.reset();
    FPressedAt = index;
    if (!index.isValid() || index.row() >= static_cast<int>(Model->Rows().size()) ||
        (index.column() != kBidColumn && index.column() != kAskColumn))
        return;
    const TLadderRow& row = Model->Rows()[static_cast<std::size_t>(index.row())];
    FPressed.emplace(index.column() == kBidColumn ? 1 : 2, row.Units);
}

void TBookForm::CellClicked(const QModelIndex& index) {
    // A click is a press and a release on one cell; the press named the level.
    const std::optional<std::pair<int, std::int64_t>> pressed = std::exchange(FPressed, {});
    if (!pressed || index != FPressedAt)
        return;
    const auto [side, units] = *pressed;
    if (!FHaltText.empty()) {
        SetNote(Q(orders::kHaltedRefusal));
        return;
    }
    if (!FArmed) {
        emit LevelClicked(Q(FIsin), side, static_cast<qint64>(units));
        return;
    }
    orders::TOrderRequest order;
    order.Isin = FIsin;
    order.Side = side == 1 ? orders::TSide::Buy : orders::TSide::Sell;
    order.Qty = Qty->value();
    order.Price = units;
    order.Client = Client->currentData().toString().toStdString();
    const orders::TPlaceResult r = FDesk->Place(order);
    switch (r.Status) {
    case orders::TPlaceStatus::Posted:
        SetNote(QStringLiteral("Отправлена заявка: ") +
                Q(orders::DescribeOrder(order, FormatSettings().DecimalSeparator)) +
                QLatin1Char('.'));
        break;
    case orders::TPlaceStatus::Refused:
        SetNote(QStringLiteral("Заявка отклонена: ") + Q(r.Reason));
        break;
    case orders::TPlaceStatus::Failed:
        SetNote(QStringLiteral("Заявка не отправлена: ") + Q(r.Reason));
        break;
    }
}

void TBookForm::FollowHalt() {
    const std::string text = FDesk != nullptr
                                 ? TradingStateText(FDesk->KillPhase(), FDesk->LastKillReport())
                                 : std::string();
    if (text == FHaltText)
        return;
    const bool wasHalted = !FHaltText.empty();
    FHaltText = text;
    if (!FHaltText.empty() && FArmed) {
        SetOneClick(false);
        SetNote(QStringLiteral("Торговля в один клик выключена: торговля остановлена."));
    } else if (FHaltText.empty() && wasHalted) {
        SetNote({});
    }
    OneClick->setEnabled(FHaltText.empty());
    OneClick->setToolTip(FHaltText.empty()
                             ? QStringLiteral("Щелчок по уровню сразу отправляет заявку")
                             : Q(orders::kHaltedRefusal));
}

void TBookForm::SetFixedPrices(bool on) {
    FFixedWanted = on;
    if (on)
        FFixed.Recentre();
    ShowRows();
}

void TBookForm::Recentre() {
    FFixed.Recentre();
    ShowRows();
}

int TBookForm::VisibleRows() const {
    const int height = Ladder->viewport()->height();
    return Ladder->isVisible() && height >= kRowHeight ? height / kRowHeight : kDefaultRows;
}

bool TBookForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Ladder && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Home) {
        Recentre();
        return true;
    }
    if (watched == Ladder->viewport() && event->type() == QEvent::Resize &&
        VisibleRows() != FShownRowCount)
        ShowRows();
    return QWidget::eventFilter(watched, event);
}

void TBookForm::ShowRows() {
    std::vector<TLadderRow> rows;
    const int count = VisibleRows();
    if (FFixedWanted)
        rows = FFixed.Rows(FBook, count);
    // Without a price step there is no grid to fix: the book's levels are what can be shown.
    FFixedShown = FFixedWanted && (!rows.empty() || StepUnits(FBook) > 0);
    if (!FFixedShown)
        rows = LadderRows(FBook);
    if (Model->Cumulative())
        AddCumulative(rows);
    FShownRowCount = count;
    Model->SetRows(std::move(rows));
    // The fixed ladder is exactly as tall as its view: nothing to scroll, nothing to move.
    Ladder->setVerticalScrollBarPolicy(FFixedShown ? Qt::ScrollBarAlwaysOff
                                                   : Qt::ScrollBarAsNeeded);
    {
        const QSignalBlocker block(ModeButton);
        ModeButton->setChecked(FFixedWanted);
    }
    ModeButton->setText(FFixedWanted ? QStringLiteral("Цены: все шаги")
                                     : QStringLiteral("Цены: только уровни"));
    CentreButton->setEnabled(FFixedShown);
    std::string info = SpreadText(FBook);
    if (FBook.LastDeal)
        info += (info.empty() ? "" : "; ") + std::string("последняя сделка ") +
                PriceText(*FBook.LastDeal, FBook.MinStep);
    if (FFixedWanted && !FFixedShown && FBook.Status == TBookStatus::Live)
        info += (info.empty() ? "" : "; ") + std::string("шаг цены неизвестен: только уровни");
    Info->setText(Q(info));
}

void TBookForm::Refresh() {
    FollowHalt();
    if (FBooks != nullptr && FBooks->Snapshot(FIsinId, FBook)) {
        ShowRows();
        QStringList lines;
        for (const std::string& line : PositionLines(FBook))
            lines.push_back(Q(line));
        Header->setText(lines.join(QLatin1Char('\n')));
        ++FRepaints;
    }
    // The account table may be filled, or gain a client code, after the window opened.
    if (++FTicksSinceClients >= 1000 / kBookRefreshMs)
        ReloadClients();
    // The age and the connection change while the book does not; frozen data must look frozen.
    std::optional<THealthState> health;
    if (FHealth)
        health = FHealth();
    const TBookStatusLine line =
        FBooks != nullptr ? BookStatusLine(FBook, std::chrono::system_clock::now(), health)
                          : TBookStatusLine{"нет соединения", true, std::nullopt};
    const bool halted = !FHaltText.empty();
    Status->setText(halted ? Q(FHaltText + "; " + line.Text) : Q(line.Text));
    if (line.Stale == FStale && line.Health == FShownHealth && halted == FShownHalted)
        return;
    FStale = line.Stale;
    FShownHealth = line.Health;
    FShownHalted = halted;
    QString style;
    if (FStale || halted)
        style += QStringLiteral("color: #b00000; font-weight: bold;");
    // The same colours as the main window's connection indicators.
    if (line.Health && *line.Health != THealthState::Online)
        style += QStringLiteral("background-color: %1;").arg(HealthColor(*line.Health).name());
    Status->setStyleSheet(style);
}

} // namespace vorlen::gui
