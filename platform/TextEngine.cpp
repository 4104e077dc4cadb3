#include "TextEngine.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

QStringList SplitTextLines(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

QSizeF MeasureText(const QFont& font, const QString& text) {
    const QFontMetricsF fm(font);
    const QStringList lines = SplitTextLines(text);
    qreal width = 0;
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        // Italic and some script glyphs reach past their advance; keep them inside the box.
        const qreal ink = fm.boundingRect(line).right();
        width = std::max({width, fm.horizontalAdvance(line), ink});
    }
    return QSizeF(width, fm.lineSpacing() * lines.size());
}

void DrawText(QImage& target, const QFont& font, const QString& text, const QColor& color,
              const QTransform& transform, const QRectF& clip) {
    if (target.isNull() || color.alpha() == 0)
        return;
    QPainter p(&target);
    if (!clip.isNull())
        p.setClipRect(clip);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setTransform(transform);
    p.setFont(font);
    p.setPen(color);
    const QFontMetricsF fm(font);
    const QStringList lines = SplitTextLines(text);
    for (int i = 0; i < lines.size(); ++i)
        p.drawText(QPointF(0, fm.ascent() + i * fm.lineSpacing()), lines.at(i));
}
