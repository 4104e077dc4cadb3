#include "platform/TextEngine.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cmath>

QStringList SplitTextLines(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t.split(QLatin1Char('\n'));
}

namespace {
std::atomic<quint64> layouts{0};

// Glyphs such as j and italic capitals reach left of the pen's start and right of the advance;
// the block reserves room for both so nothing drawn falls outside the measured box.
struct Block {
    QStringList lines;
    qreal indent = 0; // where every line starts
    QSizeF size;
};

Block layoutBlock(const QFontMetricsF& fm, const QString& text) {
    layouts.fetch_add(1, std::memory_order_relaxed);
    Block b;
    b.lines = SplitTextLines(text);
    qreal right = 0;
    for (const QString& line : b.lines) {
        if (line.isEmpty())
            continue;
        const QRectF ink = fm.boundingRect(line);
        b.indent = std::max(b.indent, -ink.left());
        right = std::max({right, fm.horizontalAdvance(line), ink.right()});
    }
    b.indent = std::ceil(b.indent);
    b.size = QSizeF(right > 0 ? b.indent + right : 0, fm.lineSpacing() * b.lines.size());
    return b;
}
} // namespace

quint64 TextLayoutCount() {
    return layouts.load(std::memory_order_relaxed);
}

QSizeF MeasureText(const QFont& font, const QString& text) {
    return layoutBlock(QFontMetricsF(font), text).size;
}

namespace {
// Where each line's pen starts, as DrawText places it.
qreal lineStart(const QFontMetricsF& fm, const Block& b, const QString& line, qreal width,
                Qt::Alignment alignment) {
    qreal x = b.indent;
    const bool right = alignment & Qt::AlignRight;
    const bool centre = alignment & Qt::AlignHCenter;
    if ((right || centre) && !line.isEmpty()) {
        // The line's extent from its pen start, as the block measured it.
        const qreal extent = std::max(fm.horizontalAdvance(line), fm.boundingRect(line).right());
        const qreal room = width - b.indent - extent;
        x += right ? room : room / 2;
    }
    return x;
}
} // namespace

QPainterPath TextPath(const QFont& font, const QString& text, Qt::Alignment alignment,
                      qreal boxWidth) {
    QPainterPath path;
    const QFontMetricsF fm(font);
    const Block b = layoutBlock(fm, text);
    const qreal width = boxWidth > 0 ? boxWidth : b.size.width();
    for (int i = 0; i < b.lines.size(); ++i) {
        const QString& line = b.lines.at(i);
        if (!line.isEmpty())
            path.addText(QPointF(lineStart(fm, b, line, width, alignment),
                                 fm.ascent() + i * fm.lineSpacing()),
                         font, line);
    }
    return path;
}

void DrawText(QImage& target, const QFont& font, const QString& text, const QColor& color,
              const QTransform& transform, const QRectF& clip, Qt::Alignment alignment,
              qreal boxWidth) {
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
    const Block b = layoutBlock(fm, text);
    const qreal width = boxWidth > 0 ? boxWidth : b.size.width();
    for (int i = 0; i < b.lines.size(); ++i) {
        const QString& line = b.lines.at(i);
        p.drawText(QPointF(lineStart(fm, b, line, width, alignment), fm.ascent() + i * fm.lineSpacing()),
                   line);
    }
}
