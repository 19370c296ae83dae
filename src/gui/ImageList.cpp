#include "gui/ImageList.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <functional>

namespace vorlen::gui {

namespace {

constexpr qreal kPi = 3.14159265358979323846;
constexpr int kSide = 16;
// Drawn at twice the size so the pictures stay crisp on high-density screens.
constexpr qreal kScale = 2.0;

const QColor kInk(40, 40, 48);
const QColor kPaper(250, 250, 245);
const QColor kBlue(52, 101, 164);
const QColor kGreen(46, 139, 64);
const QColor kRed(204, 40, 40);
const QColor kAmber(230, 160, 20);
const QColor kGrey(140, 140, 140);

QPen Pen(const QColor& c, qreal w = 1.2) {
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Window(QPainter& p, const QRectF& r, const QColor& title) {
    p.setPen(Pen(kInk, 1.0));
    p.setBrush(kPaper);
    p.drawRect(r);
    p.fillRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 0.5, 2.5), title);
}

void Page(QPainter& p, const QRectF& r) {
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.setPen(Pen(kInk, 1.0));
    p.setBrush(kPaper);
    p.drawPath(path);
}

void Plus(QPainter& p, QPointF c, qreal s, const QColor& colour) {
    p.setPen(Pen(colour, 2.2));
    p.drawLine(QPointF(c.x() - s, c.y()), QPointF(c.x() + s, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - s), QPointF(c.x(), c.y() + s));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour) {
    p.setPen(Pen(colour, 1.8));
    p.drawLine(from, to);
    const qreal a = std::atan2(to.y() - from.y(), to.x() - from.x());
    const qreal head = 3.5;
    p.drawLine(to, to - QPointF(head * std::cos(a - 0.6), head * std::sin(a - 0.6)));
    p.drawLine(to, to - QPointF(head * std::cos(a + 0.6), head * std::sin(a + 0.6)));
}

// A plug (left) and a socket (right), `gap` pixels apart.
void Plugs(QPainter& p, qreal gap, const QColor& colour) {
    const qreal mid = 8.0;
    const qreal l = mid - gap / 2;
    const qreal r = mid + gap / 2;
    p.setPen(Pen(kInk, 1.0));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(l - 5, 5, 5, 6), 1, 1);
    p.drawRoundedRect(QRectF(r, 5, 5, 6), 1, 1);
    p.setPen(Pen(kInk, 1.2));
    p.drawLine(QPointF(l, 6.5), QPointF(l + 1.5, 6.5));
    p.drawLine(QPointF(l, 9.5), QPointF(l + 1.5, 9.5));
    p.drawLine(QPointF(1, 8), QPointF(l - 5, 8));
    p.drawLine(QPointF(r + 5, 8), QPointF(15, 8));
}

void Gear(QPainter& p, QPointF c, qreal outer, const QColor& colour) {
    QPolygonF teeth;
    const int n = 8;
    for (int i = 0; i < n * 2; ++i) {
        const qreal a = kPi * i / n;
        const qreal rad = i % 2 == 0 ? outer : outer * 0.72;
        teeth << QPointF(c.x() + rad * std::cos(a), c.y() + rad * std::sin(a));
    }
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(colour);
    p.drawPolygon(teeth);
    p.setBrush(kPaper);
    p.drawEllipse(c, outer * 0.3, outer * 0.3);
}

void Draw(QPainter& p, int index) {
    switch (index) {
    case MainImage::Document: // document
        Page(p, QRectF(3.5, 1.5, 9, 13));
        break;
    case MainImage::AllExperts: // all experts: a stack of windows
        Window(p, QRectF(1.5, 1.5, 9, 7), kBlue);
        Window(p, QRectF(3.5, 4.5, 9, 7), kBlue);
        Window(p, QRectF(5.5, 7.5, 9, 7), kGreen);
        break;
    case MainImage::Folder: // folder
        p.setPen(Pen(kInk, 1.0));
        p.setBrush(kAmber);
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawRect(QRectF(1.5, 3, 5, 1.5));
        break;
    case MainImage::Disk: // disk
        p.setPen(Pen(kInk, 1.0));
        p.setBrush(kBlue);
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 2.5, 7, 4));
        p.drawRect(QRectF(4.5, 9.5, 7, 4));
        break;
    case MainImage::Magnifier: // magnifier
        p.setPen(Pen(kInk, 1.6));
        p.setBrush(QColor(200, 225, 250));
        p.drawEllipse(QPointF(6.5, 6.5), 4, 4);
        p.setPen(Pen(kInk, 2.4));
        p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
        break;
    case MainImage::StopAll: { // stop all
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i) {
            const qreal a = kPi / 8 + kPi * i / 4;
            octagon << QPointF(8 + 6.8 * std::cos(a), 8 + 6.8 * std::sin(a));
        }
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(kRed);
        p.drawPolygon(octagon);
        p.fillRect(QRectF(4.5, 7, 7, 2), Qt::white);
        break;
    }
    case MainImage::NewExpert: // new expert: a window with a plus
        Window(p, QRectF(1.5, 1.5, 11, 10), kBlue);
        Plus(p, QPointF(11.5, 11.5), 3.5, kGreen);
        break;
    case MainImage::Cut: // cut
        p.setPen(Pen(kInk, 1.4));
        p.drawLine(QPointF(4, 2), QPointF(11, 11));
        p.drawLine(QPointF(12, 2), QPointF(5, 11));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(4, 12.5), 2, 2);
        p.drawEllipse(QPointF(12, 12.5), 2, 2);
        break;
    case MainImage::Copy: // copy
        Page(p, QRectF(1.5, 1.5, 8, 10));
        Page(p, QRectF(6.5, 4.5, 8, 10));
        break;
    case MainImage::Paste: // paste: clipboard
        p.setPen(Pen(kInk, 1.0));
        p.setBrush(kAmber);
        p.drawRect(QRectF(2.5, 2.5, 11, 12));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 5.5, 7, 7));
        p.setBrush(kGrey);
        p.drawRect(QRectF(5.5, 1.5, 5, 2.5));
        break;
    case MainImage::Undo: // undo
        Arrow(p, QPointF(13, 11), QPointF(3, 6), kBlue);
        break;
    case MainImage::Redo: // redo
        Arrow(p, QPointF(3, 11), QPointF(13, 6), kBlue);
        break;
    case MainImage::Help: { // help
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        QFont f = p.font();
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case MainImage::Info: { // info
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.fillRect(QRectF(7, 7, 2, 5), Qt::white);
        p.fillRect(QRectF(7, 4, 2, 2), Qt::white);
        break;
    }
    case MainImage::Warning: { // warning
        QPolygonF t;
        t << QPointF(8, 1.5) << QPointF(14.5, 14) << QPointF(1.5, 14);
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(kAmber);
        p.drawPolygon(t);
        p.fillRect(QRectF(7.2, 5.5, 1.6, 5), kInk);
        p.fillRect(QRectF(7.2, 11.5, 1.6, 1.6), kInk);
        break;
    }
    case MainImage::TileHorizontal: // tile horizontally: windows one above the other
        Window(p, QRectF(1.5, 1.5, 13, 6), kBlue);
        Window(p, QRectF(1.5, 8.5, 13, 6), kBlue);
        break;
    case MainImage::TileVertical: // tile vertically: windows side by side
        Window(p, QRectF(1.5, 1.5, 6, 13), kBlue);
        Window(p, QRectF(8.5, 1.5, 6, 13), kBlue);
        break;
    case MainImage::Cascade: // cascade
        Window(p, QRectF(1.5, 1.5, 8, 7), kBlue);
        Window(p, QRectF(4.5, 4.5, 8, 7), kBlue);
        Window(p, QRectF(7.5, 7.5, 7, 7), kBlue);
        break;
    case MainImage::Exit: // exit: a door and an arrow out
        p.setPen(Pen(kInk, 1.0));
        p.setBrush(QColor(160, 110, 60));
        p.drawRect(QRectF(2.5, 1.5, 7, 13));
        Arrow(p, QPointF(7, 8), QPointF(15, 8), kRed);
        break;
    case MainImage::Disconnect: // disconnect: plugs apart, red
        Plugs(p, 5, kRed);
        break;
    case MainImage::Connect: // connect: plugs together, green
        Plugs(p, 0, kGreen);
        break;
    case MainImage::Settings: // settings
        Gear(p, QPointF(8, 8), 7, kGrey);
        break;
    case MainImage::ConnDisIdle: // connect or disconnect, not connected: grey plugs apart
        Plugs(p, 4, kGrey);
        p.setPen(Pen(kRed, 1.6));
        p.drawLine(QPointF(6.5, 2), QPointF(9.5, 14));
        break;
    case MainImage::ConnDisConnected: // connected: plugs joined, with a spark
        Plugs(p, 0, kGreen);
        p.setPen(Pen(kAmber, 1.6));
        p.drawLine(QPointF(8, 1), QPointF(6.5, 4));
        p.drawLine(QPointF(6.5, 4), QPointF(9.5, 3));
        p.drawLine(QPointF(9.5, 3), QPointF(8, 6));
        break;
    default:
        break;
    }
}

QPixmap Render(const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(static_cast<int>(kSide * kScale), static_cast<int>(kSide * kScale));
    pixmap.setDevicePixelRatio(kScale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pixmap;
}

} // namespace

QPixmap MainPixmap(int index) {
    if (index < 0 || index >= kMainImageCount)
        return {};
    return Render([index](QPainter& p) { Draw(p, index); });
}

QIcon MainIcon(int index) {
    static QHash<int, QIcon> cache;
    if (index < 0 || index >= kMainImageCount)
        return {};
    auto it = cache.find(index);
    if (it == cache.end())
        it = cache.insert(index, QIcon(MainPixmap(index)));
    return *it;
}

QIcon TreeIcon(int index) {
    if (index != 0 && index != 1)
        return {};
    static QIcon icons[2];
    if (icons[index].isNull()) {
        icons[index] = QIcon(Render([index](QPainter& p) {
            p.setPen(Pen(kInk, 1.0));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(2.5, 2.5, 11, 11));
            if (index == 1) {
                p.setPen(Pen(kGreen, 2.2));
                p.drawLine(QPointF(4.5, 8), QPointF(7, 11));
                p.drawLine(QPointF(7, 11), QPointF(12, 4.5));
            }
        }));
    }
    return icons[index];
}

} // namespace vorlen::gui
