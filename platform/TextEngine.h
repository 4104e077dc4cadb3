#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QtGlobal>

// Anti-aliased text measuring and drawing with one engine (QPainter on QImage), so that a
// measured box always holds the drawn text. Text is a block: lines separated by CR LF, LF or
// CR, each starting at the left edge, no word wrap.

QStringList SplitTextLines(const QString& text);

// The size of the block: the widest line's advance (or its ink, for overhanging glyphs)
// by the number of lines times the line spacing.
QSizeF MeasureText(const QFont& font, const QString& text);

// Draws the block at origin (0, 0) of the transformed coordinate system, optionally clipped
// to a rectangle of the target. With AlignHCenter or AlignRight each line is centred or pushed
// right within boxWidth (the block's own width when 0 or less); left-aligned lines start where
// they always do.
void DrawText(QImage& target, const QFont& font, const QString& text, const QColor& color,
              const QTransform& transform = QTransform(), const QRectF& clip = QRectF(),
              Qt::Alignment alignment = Qt::AlignLeft, qreal boxWidth = 0);

// The block's glyphs as a path laid out exactly as DrawText draws them (before its transform),
// for outlines and shadows around the same letters.
QPainterPath TextPath(const QFont& font, const QString& text, Qt::Alignment alignment = Qt::AlignLeft,
                      qreal boxWidth = 0);

// How many text blocks were laid out (measured or drawn) in this process so far, on any thread:
// tests and benchmarks check with it that a render lays each text out once.
quint64 TextLayoutCount();
