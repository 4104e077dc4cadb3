#include "bricks/BubbleShape.h"

#include "platform/ColorMatrix.h"
#include "platform/Raster.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <cmath>

using namespace Bubble;

namespace {

constexpr double Pi = 3.14159265358979323846;

// Fewer than two Bézier segments cannot keep a closed outline once one segment is opened for
// the tail, so such narrow ellipses get four.
constexpr int MinEllipsePoints = 7;
constexpr int NarrowEllipsePoints = 13;

// Far-off coordinates (a tail point near the integer limits) come back to a range in which
// sums and differences of pixels cannot overflow; such points lie far outside any bitmap.
constexpr double FarLimit = double(1 << 30);

int ClampedRound(double v) {
    return RoundHalfEven(std::clamp(v, -FarLimit, FarLimit));
}

// Inclusive pixel bounds in 64 bits: a tail point may lie anywhere an int reaches.
struct Bounds {
    qint64 left, top, right, bottom;
    void add(QPoint p) {
        left = std::min<qint64>(left, p.x());
        top = std::min<qint64>(top, p.y());
        right = std::max<qint64>(right, p.x());
        bottom = std::max<qint64>(bottom, p.y());
    }
};

// The region a fill may reach: the shape's extent and the tail point, so that a fill can never
// run over the whole bitmap.
Bounds FillLimit(const QList<QPoint>& outline, QPoint tail) {
    Bounds b{tail.x(), tail.y(), tail.x(), tail.y()};
    for (const QPoint& p : outline)
        b.add(p);
    return Bounds{b.left - 1, b.top - 1, b.right + 1, b.bottom + 1};
}

// The part of the bubble being drawn, at origin in the brick. Shapes come in brick
// coordinates; lines towards a far tail point are cut to the part in double precision, so
// nothing walks pixels outside it.
class Sheet {
public:
    Sheet(QImage& image, QPoint origin) : m_image(image), m_origin(origin) {}

    // Points of the body's outline: near the part, so plain shifting is safe.
    QPoint local(QPoint p) const {
        const QPointF s = shifted(p);
        return QPoint(ClampedRound(s.x()), ClampedRound(s.y()));
    }
    QList<QPoint> local(const QList<QPoint>& points) const {
        QList<QPoint> out;
        out.reserve(points.size());
        for (const QPoint& p : points)
            out.append(local(p));
        return out;
    }

    void polyline(const QList<QPoint>& points, QRgb colour) {
        const QRectF area(-1, -1, m_image.width() + 1, m_image.height() + 1);
        for (qsizetype i = 1; i < points.size(); ++i) {
            if (const std::optional<QLine> cut =
                    Raster::ClipLine(shifted(points[i - 1]), shifted(points[i]), area))
                Raster::Line(m_image, cut->p1(), cut->p2(), colour);
        }
    }
    void bezier(const QList<QPoint>& points, QRgb colour) {
        Raster::PolyBezier(m_image, local(points), colour);
    }
    void square(QPoint centre, QRgb colour) { Raster::Square3x3(m_image, local(centre), colour); }
    void ellipse(const BubbleBox& b, QRgb pen, std::optional<QRgb> brush) {
        if (!meets(b))
            return; // a thought circle far out
        const QPoint tl = local(QPoint(b.left, b.top)), br = local(QPoint(b.right, b.bottom));
        Raster::Ellipse(m_image, tl.x(), tl.y(), br.x(), br.y(), pen, brush);
    }
    void roundRect(const BubbleBox& b, int cornerWidth, int cornerHeight, QRgb pen, QRgb brush) {
        const QPoint tl = local(QPoint(b.left, b.top)), br = local(QPoint(b.right, b.bottom));
        Raster::RoundRect(m_image, tl.x(), tl.y(), br.x(), br.y(), cornerWidth, cornerHeight, pen,
                          brush);
    }
    void fill(QPoint seed, QRgb border, QRgb colour, const Bounds& limit) {
        const qint64 l = std::max<qint64>(limit.left - m_origin.x(), 0);
        const qint64 t = std::max<qint64>(limit.top - m_origin.y(), 0);
        const qint64 r = std::min<qint64>(limit.right - m_origin.x(), m_image.width() - 1);
        const qint64 b = std::min<qint64>(limit.bottom - m_origin.y(), m_image.height() - 1);
        if (l > r || t > b)
            return;
        Raster::FloodFill(m_image, local(seed), border, colour,
                          QRect(QPoint(int(l), int(t)), QPoint(int(r), int(b))));
    }

private:
    // In double precision: a far tail point less the origin may not fit an int.
    QPointF shifted(QPoint p) const {
        return QPointF(double(p.x()) - m_origin.x(), double(p.y()) - m_origin.y());
    }
    bool meets(const BubbleBox& b) const {
        return qint64(b.right) >= m_origin.x() && qint64(b.bottom) >= m_origin.y() &&
               qint64(b.left) <= qint64(m_origin.x()) + m_image.width() &&
               qint64(b.top) <= qint64(m_origin.y()) + m_image.height();
    }

    QImage& m_image;
    QPoint m_origin;
};

QList<QPoint> PointsAt(const QList<QPoint>& outline, const QList<int>& indices) {
    QList<QPoint> out;
    out.reserve(indices.size());
    for (int i : indices)
        out.append(outline.at(i));
    return out;
}

// Outline, opening towards the tail, tail lines and fill (Say ellipse and Say cloud).
void DrawOpenedOutline(Sheet& sheet, const QList<QPoint>& outline, QPoint centre, QPoint tail,
                       int gapWidth) {
    sheet.bezier(outline, OutlineColour);
    const QList<int> run = GapRun(int(outline.size()), centre, tail, gapWidth);
    if (!run.isEmpty()) {
        const QPoint first = outline.at(run.first()), last = outline.at(run.last());
        sheet.bezier(PointsAt(outline, run), KeyColour);
        sheet.square(first, OutlineColour);
        sheet.square(last, OutlineColour);
        sheet.polyline({first, tail, last}, OutlineColour);
    }
    sheet.fill(centre, OutlineColour, FillColour, FillLimit(outline, tail));
}

void DrawCircles(Sheet& sheet, const ThoughtCircleSet& set) {
    for (const BubbleBox& b : set.circles)
        sheet.ellipse(b, OutlineColour, FillColour);
}

} // namespace

BubbleRadii ShapeRadii(int w, int h) {
    const double f = ShapeFactor;
    BubbleRadii r;
    r.r1 = RoundHalfEven((std::sqrt((f * h) * (f * h) + 4 * (f * w) * (f * w)) + f * h) / 2);
    r.r2 = RoundHalfEven(std::sqrt(std::max(0.0, double(r.r1) * h / 2)));
    return r;
}

BubbleBox FitBodyToText(BubbleBox body, int cx, int cy, int borderWidth, int borderHeight) {
    body.right = body.left + 4 * borderWidth + cx + cx / 5;
    body.bottom = body.top + 4 * borderHeight + cy + cy / 3;
    return body;
}

QSize BubbleFullSize(int style, const BubbleBox& body, int fromX, int fromY) {
    const BubbleRadii r = ShapeRadii(body.width(), body.height());
    switch (style) {
    case SayEllipse:
        return QSize(std::max(body.left + 2 * r.r1, fromX), std::max(body.top + 2 * r.r2, fromY));
    case ThinkEllipse:
        return QSize(std::max(body.left + body.width() / 2 + 2 * r.r1, fromX),
                     std::max(body.top + body.height() / 2 + 2 * r.r2, fromY));
    case SayCloud:
    case ThinkCloud:
        return QSize(std::max(body.left + RoundHalfEven(2.5 * r.r1), fromX),
                     std::max(body.top + RoundHalfEven(2.5 * r.r2), fromY));
    default:
        return QSize(std::max(body.right, fromX), std::max(body.bottom, fromY));
    }
}

QRect BubbleTextRect(int style, const BubbleBox& body) {
    const int w = body.width(), h = body.height();
    // The text rectangle keeps the body's size: its left and top place the text inside the
    // shape, and centred or right-aligned text then stays inside it too.
    switch (style) {
    case SayEllipse:
    case ThinkEllipse: {
        const BubbleRadii r = ShapeRadii(w, h);
        const QPoint c(body.left + r.r1, body.top + r.r2);
        return QRect(c.x() + w / 10 - w / 2, c.y() + h / 10 - h / 2, w, h);
    }
    case SayCloud:
    case ThinkCloud: {
        const CloudOutline cloud = CloudOutlineOf(body);
        return QRect(cloud.box.left + cloud.r1 - w / 2, cloud.box.top + cloud.r2 - h / 2, w, h);
    }
    default: {
        const int left = body.left + w / 10, top = body.top + h / 6;
        return QRect(left, top, body.right - left, body.bottom - top);
    }
    }
}

EllipseOutline SayEllipseOutline(const BubbleBox& body) {
    const int w = body.width(), h = body.height();
    const BubbleRadii r = ShapeRadii(w, h);
    EllipseOutline o;
    o.r1 = r.r1;
    o.r2 = r.r2;
    o.centre = QPoint(body.left + r.r1, body.top + r.r2);
    int n = (w / 20) * 3 + 1;
    if (n < MinEllipsePoints)
        n = NarrowEllipsePoints;
    o.points.reserve(n);
    for (int k = 0; k < n; ++k) {
        const double theta = k * 2 * Pi / (n - 1);
        o.points.append(QPoint(RoundHalfEven(std::cos(theta) * r.r1 + o.centre.x()),
                               RoundHalfEven(std::sin(theta) * r.r2 + o.centre.y())));
    }
    return o;
}

int SayEllipseGapWidth(int r1, int pointCount) {
    const int half = (pointCount - 1) / 2;
    if (half == 0)
        return 1;
    const int divisor = (2 * r1) / half;
    if (divisor == 0)
        return 1;
    return std::max(1, ((2 * r1) / 8) / divisor);
}

CloudOutline CloudOutlineOf(const BubbleBox& body) {
    const BubbleRadii r = ShapeRadii(body.width(), body.height());
    CloudOutline o;
    o.r1 = r.r1;
    o.r2 = r.r2;
    o.box = BubbleBox{body.left + r.r1 / 3, body.top + r.r2 / 3, body.left + 2 * r.r1,
                      body.top + 2 * r.r2};
    const int cw = o.box.width(), ch = o.box.height();
    o.centre = QPoint(body.left + cw / 2, body.top + ch / 2);
    const double cx = o.box.left + cw / 2, cy = o.box.top + ch / 2;
    for (int k = 0; k < 25; ++k) {
        const double theta = k * 2 * Pi / 24;
        // Every third point is on the curve; the control points between lie further out.
        const double rx = k % 3 == 0 ? double(cw / 2) : cw / 1.5;
        const double ry = k % 3 == 0 ? double(ch / 2) : ch / 1.5;
        o.points.append(QPoint(RoundHalfEven(std::cos(theta) * rx + cx),
                               RoundHalfEven(std::sin(theta) * ry + cy)));
    }
    return o;
}

int CloudGapWidth(int cloudWidth) {
    const int divisor = cloudWidth / 12;
    if (divisor == 0)
        return 1;
    return std::max(1, (cloudWidth / 8) / divisor);
}

QList<int> GapRun(int pointCount, QPoint centre, QPoint tail, int gapWidth) {
    const int last = pointCount - 1;
    const int segments = last / 3;
    if (segments < 1)
        return {};
    // Opening every segment would leave nothing to close the shape.
    const int width = std::clamp(gapWidth, 1, std::max(1, segments - 1));
    const double dx = std::fabs(double(tail.x()) - centre.x());
    const double dy = std::fabs(double(tail.y()) - centre.y());
    const bool above = tail.y() < centre.y();
    const bool left = tail.x() < centre.x();
    // atan2 gives the limit pi/2 where the quotient's divisor is zero.
    double phi;
    int q;
    if (above && !left) {
        phi = std::atan2(dy, dx);
        q = 0;
    } else if (above) {
        phi = std::atan2(dx, dy);
        q = RoundHalfEven(segments / 4.0);
    } else if (left) {
        phi = std::atan2(dy, dx);
        q = RoundHalfEven(segments / 2.0);
    } else {
        phi = std::atan2(dx, dy);
        q = RoundHalfEven(3.0 * segments / 4.0);
    }
    const int j = int(std::trunc(segments * phi / (2 * Pi))) + q + 1;
    // Point `last` and point 0 coincide, so indices count modulo `last`.
    const int start = ((last - 3 * j) % last + last) % last;
    QList<int> run;
    run.reserve(3 * width + 1);
    for (int i = 0; i <= 3 * width; ++i) {
        const int index = start + i;
        run.append(index > last ? index - last : index);
    }
    return run;
}

int ThoughtB0(QPoint centre, QPoint tail, int r1, int r2, double factor) {
    const double alpha = std::atan2(std::fabs(double(tail.y()) - centre.y()),
                                    std::fabs(double(tail.x()) - centre.x()));
    const double s = std::sin(alpha), c = std::cos(alpha);
    double b0 = 0;
    if (std::atan2(double(r2), double(r1)) <= alpha && s > 1e-12)
        b0 = r2 / s;
    else if (c > 1e-12)
        b0 = r1 / c;
    return RoundHalfEven(b0 * factor);
}

ThoughtCircleSet ThoughtCircles(QPoint centre, QPoint tail, int r1, int r2, int b0) {
    const double dx = double(tail.x()) - centre.x(), dy = double(tail.y()) - centre.y();
    const double alpha = std::atan2(std::fabs(dy), std::fabs(dx));
    const double ux = (dx < 0 ? -1 : 1) * std::cos(alpha), uy = (dy < 0 ? -1 : 1) * std::sin(alpha);
    const double b = b0;
    ThoughtCircleSet set;
    const double d = std::nearbyint(std::hypot(dx, dy));
    set.n = ClampedRound(d - b - b / 16);
    set.count = 3;
    set.q = RoundHalfEven((set.n - b / 2 - b / 4) / 3);
    if (set.q < 0) {
        set.count = 2;
        set.q = RoundHalfEven((set.n - b / 2) / 2);
        if (set.q < 0) {
            set.count -= 1;
            set.q = 0;
        }
    }
    auto circle = [&](double distance, double a, double bb) {
        const double x = centre.x() + distance * ux, y = centre.y() + distance * uy;
        set.circles.append(BubbleBox{ClampedRound(x - a), ClampedRound(y - bb), ClampedRound(x + a),
                                     ClampedRound(y + bb)});
    };
    if (set.count > 1)
        circle(b + set.q + b / 4, r1 / 4.0, r2 / 4.0);
    if (set.count > 2)
        circle(2.0 * set.q + b + b / 2 + b / 8, r1 / 8.0, r2 / 8.0);
    circle(b + set.n, r1 / 16.0, r2 / 16.0);
    return set;
}

RectangleTail SayRectangleTail(const BubbleBox& body, int fromX, int fromY) {
    const int w = body.width(), h = body.height();
    RectangleTail tail;
    tail.t = std::min(w, h) / 6;
    const int t = tail.t;
    // The base along one edge: centred on the tail point, or held out of the rounded corners.
    auto base = [t](int low, int high, int size, int from, int& p1, int& p2, int& s) {
        const int e = size / 16;
        if (low + t + e <= from && from <= high - t - e) {
            p1 = from - e;
            p2 = from + e;
            s = from;
        } else if (from < low + t + e) {
            p1 = low + t;
            p2 = low + t + size / 8;
            s = low + t + e;
        } else {
            p1 = high - t - size / 8;
            p2 = high - t;
            s = high - t - e;
        }
    };
    int p1, p2, s;
    if (fromY < body.top || fromY >= body.bottom) {
        const int y = fromY < body.bottom ? body.top : body.bottom - 1;
        base(body.left, body.right, w, fromX, p1, p2, s);
        tail.p1 = QPoint(p1, y);
        tail.p2 = QPoint(p2, y);
        tail.seed = QPoint(s, y);
    } else {
        const int x = fromX < body.right ? body.left : body.right - 1;
        base(body.top, body.bottom, h, fromY, p1, p2, s);
        tail.p1 = QPoint(x, p1);
        tail.p2 = QPoint(x, p2);
        tail.seed = QPoint(x, s);
    }
    return tail;
}

QRect BubbleCanvasRect(const BubbleDrawing& d) {
    if (d.width <= 0 || d.height <= 0)
        return QRect();
    const QRect box(0, 0, d.width, d.height);
    if (d.clip.isNull())
        return box;
    const QRect wanted = box.intersected(d.clip);
    if (wanted.isEmpty())
        return QRect();
    // The body's own extent, without the tail: its fill starts from its centre.
    const QSize shape = BubbleFullSize(d.style, d.body, 0, 0);
    return shape.isEmpty() ? wanted : wanted.united(box.intersected(QRect(QPoint(0, 0), shape)));
}

QImage ComposeBubble(const BubbleDrawing& d) {
    const QRect canvas = BubbleCanvasRect(d);
    if (canvas.isEmpty())
        return QImage();
    QImage image(canvas.size(), QImage::Format_RGB32);
    if (image.isNull())
        return QImage();
    image.fill(KeyColour);
    Sheet sheet(image, canvas.topLeft());
    const QPoint tail(d.fromX, d.fromY);
    const BubbleBox& body = d.body;
    switch (d.style) {
    case SayEllipse: {
        const EllipseOutline o = SayEllipseOutline(body);
        DrawOpenedOutline(sheet, o.points, o.centre, tail,
                          SayEllipseGapWidth(o.r1, int(o.points.size())));
        break;
    }
    case SayCloud: {
        const CloudOutline o = CloudOutlineOf(body);
        DrawOpenedOutline(sheet, o.points, o.centre, tail, CloudGapWidth(o.box.width()));
        break;
    }
    case ThinkEllipse: {
        const BubbleRadii r = ShapeRadii(body.width(), body.height());
        const QPoint c(body.left + r.r1, body.top + r.r2);
        sheet.ellipse(BubbleBox{body.left, body.top, body.left + 2 * r.r1, body.top + 2 * r.r2},
                      OutlineColour, FillColour);
        DrawCircles(sheet, ThoughtCircles(c, tail, r.r1, r.r2, ThoughtB0(c, tail, r.r1, r.r2)));
        break;
    }
    case ThinkCloud: {
        const CloudOutline o = CloudOutlineOf(body);
        sheet.bezier(o.points, OutlineColour);
        sheet.fill(o.centre, OutlineColour, FillColour, FillLimit(o.points, tail));
        DrawCircles(sheet, ThoughtCircles(o.centre, tail, o.r1, o.r2,
                                          ThoughtB0(o.centre, tail, o.r1, o.r2, 1.3)));
        break;
    }
    default: {
        const RectangleTail rt = SayRectangleTail(body, d.fromX, d.fromY);
        sheet.roundRect(body, 2 * rt.t, 2 * rt.t, OutlineColour, FillColour);
        sheet.polyline({rt.p1, rt.p2}, FillColour);
        sheet.polyline({rt.p1, tail, rt.p2}, OutlineColour);
        // Bounded by the body and the tail: a tail inside the body opens the border towards the
        // outside, where an unbounded fill would run over the whole bitmap.
        Bounds limit{body.left, body.top, qint64(body.right) - 1, qint64(body.bottom) - 1};
        limit.add(tail);
        sheet.fill(rt.seed, OutlineColour, FillColour, limit);
        break;
    }
    }
    // The key colour becomes fully transparent (and black, so no scaling can bring it back).
    QImage out = std::move(image);
    out.convertTo(QImage::Format_ARGB32); // same depth: converted in place
    const int w = out.width();
    for (int y = 0; y < out.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        std::replace(row, row + w, KeyColour, QRgb(0));
    }
    // Text goes on after keying: its anti-aliased edges then blend with the fill or stay
    // partly transparent, and never with the key colour.
    if (d.drawText && !d.text.isEmpty()) {
        out.convertTo(QImage::Format_ARGB32_Premultiplied);
        Raster::DrawTextInRect(out, BubbleTextRect(d.style, body).translated(-canvas.topLeft()),
                               d.font, d.textColour, d.alignment, d.wordWrap, d.text);
        out.convertTo(QImage::Format_ARGB32);
    }
    return out;
}

QImage BubbleWithOpacity(const QImage& composed, int opacity) {
    if (composed.isNull())
        return composed;
    ColorMatrix m = IdentityColorMatrix();
    m[3][3] = std::clamp(opacity, 0, 255) / 255.0f;
    return ApplyColorMatrix(composed.convertToFormat(QImage::Format_ARGB32), m);
}
