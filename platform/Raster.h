#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLine>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <optional>

// Raster drawing on 32-bit bitmaps (RGB32, ARGB32 or ARGB32_Premultiplied; other formats are
// converted to ARGB32 first). Every outline is one pixel wide and aliased, and colours are stored
// exactly as given, so a flood fill stops at an outline and no blended fringe appears. Drawing
// outside the image is clipped; nothing reads outside it.
//
// Shapes given by a box follow the platform's convention: left and top are inside, right and
// bottom are not (a box 0, 0, 10, 10 covers pixels 0..9).
namespace Raster {

// A straight line, both end points included. A line reaching far outside the image is first
// cut to the image, so its cost follows the image's size, not the line's length.
void Line(QImage& image, QPoint from, QPoint to, QRgb colour);

// The part of the segment a-b inside area (the closed rectangle from its top-left to its
// bottom-right corner), end points rounded to whole pixels; nothing when the segment misses it.
std::optional<QLine> ClipLine(QPointF a, QPointF b, const QRectF& area);

// Lines through the points in order.
void Polyline(QImage& image, const QList<QPoint>& points, QRgb colour);

// A chain of cubic Bézier segments: the first point, then three points per segment (two control
// points and the end point). A trailing incomplete group is ignored. Each segment is rasterised
// on its own, so drawing a sub-chain again covers exactly the pixels it covered before.
void PolyBezier(QImage& image, const QList<QPoint>& points, QRgb colour);

// A filled 3 x 3 square centred on the point.
void Square3x3(QImage& image, QPoint centre, QRgb colour);

// An ellipse inscribed in the box: pen-coloured outline, interior in the brush colour when given.
void Ellipse(QImage& image, int left, int top, int right, int bottom, QRgb pen,
             std::optional<QRgb> brush);

// A rectangle with corners rounded by a cornerWidth x cornerHeight ellipse.
void RoundRect(QImage& image, int left, int top, int right, int bottom, int cornerWidth,
               int cornerHeight, QRgb pen, std::optional<QRgb> brush);

// Fills every pixel 4-connected to the seed whose colour is not the border colour (alpha is
// ignored in the comparison), staying inside limit when one is given. A seed outside the image
// or on the border colour does nothing. Iterative: any image size is safe.
void FloodFill(QImage& image, QPoint seed, QRgb border, QRgb fill, const QRect& limit = QRect());

// Anti-aliased text in the box (x, y, width, height), top-aligned, clipped to the box,
// tabs expanded, no mnemonic processing. horizontal is Qt::AlignLeft, AlignRight or AlignHCenter.
// Lines break at CR LF, LF or CR, and at word boundaries when wordWrap is set.
void DrawTextInRect(QImage& image, const QRect& box, const QFont& font, const QColor& colour,
                    Qt::Alignment horizontal, bool wordWrap, const QString& text);

} // namespace Raster
