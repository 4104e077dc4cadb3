#include "batch/window/TToolBox.h"

#include <QPainter>
#include <QPainterPath>

TToolBox::TToolBox(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::OpenHandCursor);
    resize(48, 48);
}

QColor TToolBox::TransparentColor() const {
    if (EnabledPicture.isNull() || EnabledPicture.height() <= 45 || EnabledPicture.width() < 1)
        return QColor();
    return EnabledPicture.pixelColor(0, 45);
}

QImage TToolBox::ShownPicture() const {
    const QImage& source = isEnabled() ? EnabledPicture : DisabledPicture;
    if (source.isNull())
        return QImage();
    QImage shown = source.convertToFormat(QImage::Format_ARGB32);
    const QColor key = TransparentColor();
    if (key.isValid()) {
        const QRgb k = key.rgb() & 0xFFFFFF;
        for (int y = 0; y < shown.height(); ++y) {
            QRgb* row = reinterpret_cast<QRgb*>(shown.scanLine(y));
            for (int x = 0; x < shown.width(); ++x)
                if ((row[x] & 0xFFFFFF) == k)
                    row[x] = 0;
        }
    }
    return shown;
}

void TToolBox::paintEvent(QPaintEvent*) {
    const QImage shown = ShownPicture();
    if (shown.isNull())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect(), shown);
}

QRgb TokenKeyColor() {
    return qRgb(255, 0, 255);
}

namespace {

struct Ink {
    QColor face, line, accent;
};

void drawCalendar(QPainter& p, const Ink& ink) {
    p.setPen(QPen(ink.line, 2));
    p.setBrush(ink.face);
    p.drawRoundedRect(QRectF(7, 9, 34, 32), 3, 3);
    p.setBrush(ink.accent);
    p.drawRect(QRectF(7, 9, 34, 8));
    p.setPen(QPen(ink.line, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 5), QPointF(15, 12));
    p.drawLine(QPointF(33, 5), QPointF(33, 12));
    p.setPen(Qt::NoPen);
    p.setBrush(ink.line);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            p.drawRect(QRectF(11 + c * 7, 21 + r * 6, 4, 3));
}

void drawClock(QPainter& p, const Ink& ink) {
    p.setPen(QPen(ink.line, 2));
    p.setBrush(ink.face);
    p.drawEllipse(QRectF(6, 6, 36, 36));
    p.setPen(QPen(ink.accent, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(24, 24), QPointF(24, 12));
    p.drawLine(QPointF(24, 24), QPointF(33, 28));
    p.setPen(QPen(ink.line, 2));
    for (int i = 0; i < 12; ++i) {
        const QTransform t = QTransform().translate(24, 24).rotate(i * 30);
        p.drawLine(t.map(QPointF(0, -16)), t.map(QPointF(0, -13)));
    }
}

void drawNumber(QPainter& p, const Ink& ink) {
    p.setPen(QPen(ink.line, 2));
    p.setBrush(ink.face);
    p.drawRoundedRect(QRectF(6, 8, 36, 32), 4, 4);
    QFont f = p.font();
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.setPen(ink.accent);
    p.drawText(QRectF(6, 8, 36, 32), Qt::AlignCenter, QStringLiteral("#1"));
}

void drawOldName(QPainter& p, const Ink& ink) {
    QPainterPath sheet;
    sheet.moveTo(10, 5);
    sheet.lineTo(30, 5);
    sheet.lineTo(38, 13);
    sheet.lineTo(38, 43);
    sheet.lineTo(10, 43);
    sheet.closeSubpath();
    p.setPen(QPen(ink.line, 2));
    p.setBrush(ink.face);
    p.drawPath(sheet);
    p.drawLine(QPointF(30, 5), QPointF(30, 13));
    p.drawLine(QPointF(30, 13), QPointF(38, 13));
    QFont f = p.font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(ink.accent);
    p.drawText(QRectF(10, 20, 28, 16), Qt::AlignCenter, QStringLiteral("abc"));
}

} // namespace

QImage TokenPicture(int j, bool enabled) {
    QImage img(48, 48, QImage::Format_RGB32);
    img.fill(TokenKeyColor());
    // The key colour must stay out of the drawing; no anti-aliasing against it either.
    const Ink ink = enabled
                        ? Ink{QColor(255, 255, 240), QColor(40, 60, 110), QColor(200, 50, 40)}
                        : Ink{QColor(235, 235, 235), QColor(150, 150, 150), QColor(175, 175, 175)};
    QPainter p(&img);
    switch (j) {
    case 0:
        drawCalendar(p, ink);
        break;
    case 1:
        drawClock(p, ink);
        break;
    case 2:
        drawNumber(p, ink);
        break;
    default:
        drawOldName(p, ink);
        break;
    }
    return img;
}

QImage InsertMarkerPicture(int height) {
    QImage img(6, std::max(height, 8), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 200));
    p.drawRect(2, 3, 2, img.height() - 6);
    p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(6, 0), QPoint(3, 4)}));
    p.drawPolygon(
        QPolygon({QPoint(0, img.height()), QPoint(6, img.height()), QPoint(3, img.height() - 4)}));
    return img;
}
