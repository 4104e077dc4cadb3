#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// The geometry of the speech and thought bubbles and their composition at full size. All values
// are full-size pixels relative to the brick's top-left corner.

// A box whose right and bottom lie just outside it (the body rectangle, ellipse boxes).
struct BubbleBox {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const BubbleBox&) const = default;
};

namespace Bubble {
enum Style : quint8 {
    SayEllipse = 0,
    SayRectangle = 1,
    SayCloud = 2,
    ThinkEllipse = 3,
    ThinkCloud = 4
};

inline constexpr QRgb KeyColour = 0xFFDD137Bu;  // RGB(221, 19, 123): transparent after composing
inline constexpr QRgb FillColour = 0xFFFFFFE1u; // RGB(255, 255, 225)
inline constexpr QRgb OutlineColour = 0xFF000000u;
inline constexpr double ShapeFactor = 0.55;
} // namespace Bubble

struct BubbleRadii {
    int r1 = 0, r2 = 0;
};
// r1 and r2 of a body of w x h.
BubbleRadii ShapeRadii(int w, int h);

// The body after measuring its text (cx x cy): right and bottom grow from left and top.
BubbleBox FitBodyToText(BubbleBox body, int cx, int cy, int borderWidth = 1, int borderHeight = 1);
// FullWidth x FullHeight of a style for a fitted body and tail point.
QSize BubbleFullSize(int style, const BubbleBox& body, int fromX, int fromY);

// Where the text goes.
QRect BubbleTextRect(int style, const BubbleBox& body);

// Say ellipse: the Bézier chain's points (first point repeated at the end) and its centre.
struct EllipseOutline {
    QList<QPoint> points;
    QPoint centre;
    int r1 = 0, r2 = 0;
};
EllipseOutline SayEllipseOutline(const BubbleBox& body);
int SayEllipseGapWidth(int r1, int pointCount);

// Clouds: 8 scalloped Bézier segments in the box L..R x T..B; centre is C, from the body's corner.
struct CloudOutline {
    QList<QPoint> points;
    QPoint centre;
    BubbleBox box;
    int r1 = 0, r2 = 0;
};
CloudOutline CloudOutlineOf(const BubbleBox& body);
int CloudGapWidth(int cloudWidth);

// Indices of the outline points to open towards the tail point (gapWidth segments), always inside
// the array; first and last are where the tail lines start. Empty without a whole segment.
QList<int> GapRun(int pointCount, QPoint centre, QPoint tail, int gapWidth);

// Thought circles: B0 is the distance from the centre to the body's edge towards the tail point.
int ThoughtB0(QPoint centre, QPoint tail, int r1, int r2, double factor = 1.0);
struct ThoughtCircleSet {
    int count = 0, q = 0, n = 0;
    QList<BubbleBox> circles; // ellipse boxes, from the body outwards: large, middle, small
};
ThoughtCircleSet ThoughtCircles(QPoint centre, QPoint tail, int r1, int r2, int b0);

// Say rectangle: the tail's base points on the border and the fill's seed.
struct RectangleTail {
    int t = 0; // corner radius
    QPoint p1, p2, seed;
};
RectangleTail SayRectangleTail(const BubbleBox& body, int fromX, int fromY);

struct BubbleDrawing {
    int style = Bubble::SayRectangle;
    BubbleBox body;
    int fromX = 0, fromY = 0;
    int width = 0, height = 0; // FullWidth x FullHeight
    QFont font;
    QColor textColour = Qt::black;
    QString text;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool wordWrap = false;
    bool drawText = true;
    // The part wanted (the picture the bubble is drawn on, in brick coordinates); null: all.
    QRect clip;
};

// The part of the box that ComposeBubble draws: where the box meets the clip, and the whole
// body so that its fill is whole. A tail point far away then costs no more than the clip.
QRect BubbleCanvasRect(const BubbleDrawing& drawing);

// The bubble as ARGB32 over BubbleCanvasRect (all of width x height without a clip): shape
// and text, the key colour fully transparent. Null when the bitmap cannot be had.
QImage ComposeBubble(const BubbleDrawing& drawing);
// The composed bubble with its alpha scaled by opacity / 255 through the colour matrix.
QImage BubbleWithOpacity(const QImage& composed, int opacity);
