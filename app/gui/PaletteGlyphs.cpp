#include "app/gui/PaletteGlyphs.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kSize = 18;
const QColor kInk(32, 32, 32);
} // namespace

QImage DrawPaletteGlyph(PaletteGlyph glyph) {
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1.2));
    switch (glyph) {
    case PaletteGlyph::Text: {
        QFont f(QStringLiteral("Liberation Serif"));
        f.setPixelSize(16);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(0, 0, kSize, kSize), Qt::AlignCenter, QStringLiteral("T"));
        break;
    }
    case PaletteGlyph::Date: {
        // A calendar leaf: red binding, a grid of days.
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2.5, 3.5, 13, 12));
        p.fillRect(QRectF(3, 4, 12, 3), QColor(200, 40, 40));
        p.setPen(QPen(kInk, 1));
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 3; ++col)
                p.drawPoint(QPointF(5.5 + 3.5 * col, 9.5 + 3 * row));
        p.drawLine(QPointF(6, 2), QPointF(6, 5));
        p.drawLine(QPointF(12, 2), QPointF(12, 5));
        break;
    }
    case PaletteGlyph::Time: {
        // A clock face at ten past ten.
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(1.5, 1.5, 15, 15));
        p.setPen(QPen(kInk, 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 9), QPointF(9, 4));
        p.drawLine(QPointF(9, 9), QPointF(12.5, 10.5));
        break;
    }
    case PaletteGlyph::Bubble: {
        // A speech bubble with its tail to the lower left.
        QPainterPath path;
        path.addRoundedRect(QRectF(1.5, 2.5, 15, 10), 4, 4);
        QPainterPath tail;
        tail.moveTo(4, 11);
        tail.lineTo(3, 16.5);
        tail.lineTo(9, 12);
        path = path.united(tail);
        p.setBrush(QColor(255, 255, 210));
        p.drawPath(path);
        p.setPen(QPen(kInk, 1));
        p.drawLine(QPointF(5, 6.5), QPointF(13, 6.5));
        p.drawLine(QPointF(5, 9), QPointF(11, 9));
        break;
    }
    case PaletteGlyph::Picture: {
        // A framed landscape: sky, sun and a hill.
        p.setBrush(QColor(170, 210, 250));
        p.drawRect(QRectF(1.5, 3.5, 15, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(240, 190, 30));
        p.drawEllipse(QRectF(11, 5, 3.5, 3.5));
        QPainterPath hill;
        hill.moveTo(2, 14);
        hill.lineTo(7, 8);
        hill.lineTo(11, 12);
        hill.lineTo(13, 10.5);
        hill.lineTo(16, 14);
        hill.closeSubpath();
        p.setBrush(QColor(60, 140, 60));
        p.drawPath(hill);
        break;
    }
    }
    return image;
}
