#include "inspector/InspectorCells.h"

#include "platform/PublishedProperties.h"

#include <QPainter>
#include <QPalette>

namespace {

QColor windowColor(const QPalette& p) {
    return p.color(QPalette::Base);
}

QColor buttonFace(const QPalette& p) {
    return p.color(QPalette::Button);
}

} // namespace

QRect DecorationSquare(const QRect& cell) {
    return QRect(QPoint(cell.left() + 1, cell.top() + 2),
                 QPoint(cell.left() + cell.height() - 4, cell.bottom() - 2));
}

void DrawAlignmentIcon(QPainter& painter, const QRect& rect, Tk::TAlignment alignment,
                       const QColor& ink) {
    // Five lines on an 11 x 11 grid, long and short alternating, set as the alignment says.
    painter.save();
    painter.translate(rect.topLeft());
    painter.scale(rect.width() / 11.0, rect.height() / 11.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    for (int i = 0; i < 5; ++i) {
        const int length = i % 2 == 0 ? 11 : 7;
        int left = 0;
        if (alignment == Tk::taRightJustify)
            left = 11 - length;
        else if (alignment == Tk::taCenter)
            left = (11 - length) / 2;
        painter.drawRect(QRectF(left, 1 + i * 2, length, 1));
    }
    painter.restore();
}

void DrawColorSwatch(QPainter& painter, const QRect& rect, TColor color, const QColor& frame) {
    painter.save();
    painter.setPen(frame);
    painter.setBrush(TColorToQColor(color));
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}

std::optional<TColor> ColorOfText(const QString& text) {
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (ok)
        return TColor(qint32(quint32(n)));
    if (const auto c = IdentToColor(text))
        return c;
    return IdentToColor(QStringLiteral("cl") + text);
}

std::optional<Tk::TAlignment> AlignmentOfText(const QString& text) {
    const QString name =
        text.startsWith(QLatin1String("ta"), Qt::CaseInsensitive) ? text.mid(2) : text;
    if (name.compare(QLatin1String("LeftJustify"), Qt::CaseInsensitive) == 0)
        return Tk::taLeftJustify;
    if (name.compare(QLatin1String("RightJustify"), Qt::CaseInsensitive) == 0)
        return Tk::taRightJustify;
    if (name.compare(QLatin1String("Center"), Qt::CaseInsensitive) == 0)
        return Tk::taCenter;
    return std::nullopt;
}

void PaintInspectorCell(QPainter& painter, const QPalette& palette, const InspectorCell& cell) {
    const QRect& r = cell.rect;
    painter.save();

    QColor background;
    if (cell.nameColumn)
        background =
            cell.skin == kSkin3 && !cell.selected ? windowColor(palette) : buttonFace(palette);
    else
        background =
            cell.skin == kSkin2 && !cell.selected ? buttonFace(palette) : windowColor(palette);
    painter.fillRect(r, background);

    if (cell.selected && (cell.skin == kSkin1 || cell.skin == kSkin2)) {
        painter.setPen(palette.color(QPalette::Dark)); // button shadow
        painter.drawLine(r.left(), r.top(), r.right(), r.top());
        if (cell.nameColumn) {
            painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
            painter.drawLine(r.left() + 1, r.top(), r.left() + 1, r.bottom());
        }
    } else if (!cell.selected && cell.nameColumn && cell.skin == kSkin3) {
        painter.setPen(buttonFace(palette));
        painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
        painter.drawLine(r.left() + 1, r.top(), r.left() + 1, r.bottom());
    }

    const QColor ink = palette.color(QPalette::ButtonText);
    QRect textRect = r.adjusted(3, 1, -3, -1);
    if (cell.decoration != CellDecoration::None) {
        const QRect square = DecorationSquare(r);
        if (cell.decoration == CellDecoration::ColorSwatch)
            DrawColorSwatch(painter, square, cell.color, ink);
        else
            DrawAlignmentIcon(painter, square, cell.alignment, ink);
        textRect.setLeft(square.right() + 1 + 3);
    }

    QFont font = painter.font();
    font.setBold(cell.bold);
    painter.setFont(font);
    painter.setPen(ink);
    const QString shown =
        painter.fontMetrics().elidedText(cell.text, Qt::ElideRight, textRect.width());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    painter.restore();
}
