#include "platform/Raster.h"

#include "platform/Rounding.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace Raster {

namespace {

bool Is32Bit(QImage::Format f) {
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 ||
           f == QImage::Format_ARGB32_Premultiplied;
}

// Direct pixel access with clipping; the image is detached once, not per pixel.
class Canvas {
public:
    explicit Canvas(QImage& image) {
        if (!image.isNull() && !Is32Bit(image.format()))
            image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        m_w = image.width();
        m_h = image.height();
        if (image.isNull())
            return;
        m_premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
        m_opaque = image.format() == QImage::Format_RGB32;
        m_bits = reinterpret_cast<QRgb*>(image.bits());
        m_stride = image.bytesPerLine() / 4;
    }

    int width() const { return m_w; }
    int height() const { return m_h; }
    bool contains(int x, int y) const { return m_bits && x >= 0 && y >= 0 && x < m_w && y < m_h; }
    QRgb stored(QRgb c) const {
        if (m_opaque)
            return c | 0xFF000000u;
        return m_premultiplied ? qPremultiply(c) : c;
    }
    void plotStored(int x, int y, QRgb stored) {
        if (contains(x, y))
            m_bits[qsizetype(y) * m_stride + x] = stored;
    }
    QRgb at(int x, int y) const { return m_bits[qsizetype(y) * m_stride + x]; }
    QRgb* row(int y) { return m_bits + qsizetype(y) * m_stride; }

private:
    QRgb* m_bits = nullptr;
    qsizetype m_stride = 0;
    int m_w = 0, m_h = 0;
    bool m_premultiplied = false;
    bool m_opaque = false;
};

void DrawLine(Canvas& c, QPoint a, QPoint b, QRgb stored) {
    // A pixel of margin: a line kept whole inside it is drawn exactly as given.
    const QRectF area(-1, -1, c.width() + 1, c.height() + 1);
    const auto inside = [&](QPoint p) {
        return p.x() >= -1 && p.y() >= -1 && p.x() <= c.width() && p.y() <= c.height();
    };
    if (!inside(a) || !inside(b)) {
        const std::optional<QLine> cut = ClipLine(a, b, area);
        if (!cut)
            return;
        a = cut->p1();
        b = cut->p2();
    }
    // Bresenham with 64-bit error terms, so far-off points cannot overflow.
    long long x = a.x(), y = a.y();
    const long long x1 = b.x(), y1 = b.y();
    const long long dx = std::llabs(x1 - x), dy = -std::llabs(y1 - y);
    const int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    long long err = dx + dy;
    for (;;) {
        c.plotStored(int(x), int(y), stored);
        if (x == x1 && y == y1)
            break;
        const long long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

double Distance(QPoint a, QPoint b) {
    return std::hypot(double(b.x() - a.x()), b.y() - a.y());
}

void DrawBezierSegment(Canvas& c, QPoint p0, QPoint p1, QPoint p2, QPoint p3, QRgb stored) {
    // Chords of about two pixels, joined by lines so the curve has no gaps.
    const double length = Distance(p0, p1) + Distance(p1, p2) + Distance(p2, p3);
    const int steps = int(std::clamp(std::ceil(length / 2.0), 1.0, 100000.0));
    QPoint prev = p0;
    for (int i = 1; i <= steps; ++i) {
        QPoint next = p3;
        if (i < steps) {
            const double t = double(i) / steps, u = 1.0 - t;
            const double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
            next = QPoint(RoundHalfEven(b0 * p0.x() + b1 * p1.x() + b2 * p2.x() + b3 * p3.x()),
                          RoundHalfEven(b0 * p0.y() + b1 * p1.y() + b2 * p2.y() + b3 * p3.y()));
        }
        DrawLine(c, prev, next, stored);
        prev = next;
    }
}

struct Span {
    int x0 = 0, x1 = -1; // inclusive; empty when x0 > x1
    bool has(int x) const { return x >= x0 && x <= x1; }
};

// A shape given as one horizontal span per row, starting at row top: the pixels that have a
// 4-neighbour outside the shape take the pen, the others the brush. The outline is therefore
// closed for a 4-connected fill.
void DrawSpans(Canvas& c, int top, const std::vector<Span>& spans, QRgb pen,
               std::optional<QRgb> brush) {
    const QRgb penStored = c.stored(pen);
    const QRgb brushStored = brush ? c.stored(*brush) : 0;
    const Span none;
    for (size_t i = 0; i < spans.size(); ++i) {
        const long long y = top + (long long)i;
        if (y < 0 || y >= c.height())
            continue;
        const Span& s = spans[i];
        const Span& up = i > 0 ? spans[i - 1] : none;
        const Span& down = i + 1 < spans.size() ? spans[i + 1] : none;
        const int from = std::max(s.x0, 0), to = std::min(s.x1, c.width() - 1);
        for (int x = from; x <= to; ++x) {
            const bool outline = x == s.x0 || x == s.x1 || !up.has(x) || !down.has(x);
            if (outline)
                c.plotStored(x, int(y), penStored);
            else if (brush)
                c.plotStored(x, int(y), brushStored);
        }
    }
}

// Spans of a rounded rectangle; an ellipse is one whose corners take the whole box.
std::vector<Span> RoundRectSpans(int left, int top, int right, int bottom, int cornerWidth,
                                 int cornerHeight) {
    std::vector<Span> spans;
    const int w = right - left, h = bottom - top;
    if (w <= 0 || h <= 0)
        return spans;
    const double rw = std::clamp(cornerWidth, 0, w) / 2.0;
    const double rh = std::clamp(cornerHeight, 0, h) / 2.0;
    constexpr double eps = 1e-9;
    spans.reserve(size_t(h));
    for (int y = top; y < bottom; ++y) {
        const double py = y + 0.5;
        double inset = 0;
        if (rw > 0 && rh > 0) {
            double dy = 0;
            if (py < top + rh)
                dy = (top + rh - py) / rh;
            else if (py > bottom - rh)
                dy = (py - (bottom - rh)) / rh;
            if (dy > 0)
                inset = rw * (1.0 - std::sqrt(std::max(0.0, 1.0 - dy * dy)));
        }
        Span s{int(std::ceil(left + inset - 0.5 - eps)),
               int(std::floor(right - inset - 0.5 + eps))};
        if (s.x0 > s.x1) {
            // A row thinner than a pixel still gets one (two when the centre is on a pixel
            // border), so the outline never breaks.
            const double c = (left + right) / 2.0 - 0.5;
            s = Span{int(std::floor(c)), int(std::ceil(c))};
        }
        spans.push_back(s);
    }
    return spans;
}

} // namespace

std::optional<QLine> ClipLine(QPointF a, QPointF b, const QRectF& area) {
    // Liang-Barsky: the parameter range of a + t (b - a) that stays inside each edge.
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    double t0 = 0, t1 = 1;
    const auto edge = [&](double p, double q) {
        if (p == 0)
            return q >= 0;
        const double r = q / p;
        if (p < 0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!edge(-dx, a.x() - area.left()) || !edge(dx, area.right() - a.x()) ||
        !edge(-dy, a.y() - area.top()) || !edge(dy, area.bottom() - a.y()))
        return std::nullopt;
    const auto at = [&](double t) {
        const double x = std::clamp(a.x() + t * dx, area.left(), area.right());
        const double y = std::clamp(a.y() + t * dy, area.top(), area.bottom());
        return QPoint(RoundHalfEven(x), RoundHalfEven(y));
    };
    // An end point inside stays exactly where it was.
    return QLine(t0 == 0 ? QPoint(RoundHalfEven(a.x()), RoundHalfEven(a.y())) : at(t0),
                 t1 == 1 ? QPoint(RoundHalfEven(b.x()), RoundHalfEven(b.y())) : at(t1));
}

void Line(QImage& image, QPoint from, QPoint to, QRgb colour) {
    Canvas c(image);
    DrawLine(c, from, to, c.stored(colour));
}

void Polyline(QImage& image, const QList<QPoint>& points, QRgb colour) {
    Canvas c(image);
    const QRgb stored = c.stored(colour);
    if (points.size() == 1)
        c.plotStored(points[0].x(), points[0].y(), stored);
    for (qsizetype i = 1; i < points.size(); ++i)
        DrawLine(c, points[i - 1], points[i], stored);
}

void PolyBezier(QImage& image, const QList<QPoint>& points, QRgb colour) {
    Canvas c(image);
    const QRgb stored = c.stored(colour);
    for (qsizetype i = 0; i + 3 < points.size(); i += 3)
        DrawBezierSegment(c, points[i], points[i + 1], points[i + 2], points[i + 3], stored);
}

void Square3x3(QImage& image, QPoint centre, QRgb colour) {
    Canvas c(image);
    const QRgb stored = c.stored(colour);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            c.plotStored(centre.x() + dx, centre.y() + dy, stored);
}

void Ellipse(QImage& image, int left, int top, int right, int bottom, QRgb pen,
             std::optional<QRgb> brush) {
    RoundRect(image, left, top, right, bottom, right - left, bottom - top, pen, brush);
}

void RoundRect(QImage& image, int left, int top, int right, int bottom, int cornerWidth,
               int cornerHeight, QRgb pen, std::optional<QRgb> brush) {
    Canvas c(image);
    DrawSpans(c, top, RoundRectSpans(left, top, right, bottom, cornerWidth, cornerHeight), pen,
              brush);
}

void FloodFill(QImage& image, QPoint seed, QRgb border, QRgb fill, const QRect& limit) {
    Canvas c(image);
    QRect area(0, 0, c.width(), c.height());
    if (!limit.isNull())
        area = area.intersected(limit);
    if (area.isEmpty() || !area.contains(seed))
        return;
    const QRgb borderRgb = border & 0x00FFFFFFu;
    if ((c.at(seed.x(), seed.y()) & 0x00FFFFFFu) == borderRgb)
        return;
    const QRgb fillStored = c.stored(fill);
    const int ax = area.left(), ay = area.top(), aw = area.width();
    // Pixels already of the fill colour must still be passed through, hence the visited map.
    std::vector<unsigned char> visited(size_t(aw) * size_t(area.height()), 0);
    auto open = [&](int x, int y) {
        return !visited[size_t(y - ay) * size_t(aw) + size_t(x - ax)] &&
               (c.at(x, y) & 0x00FFFFFFu) != borderRgb;
    };
    std::vector<std::pair<int, int>> stack;
    stack.emplace_back(seed.x(), seed.y());
    while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        if (!open(x, y))
            continue;
        int xl = x, xr = x;
        while (xl > area.left() && open(xl - 1, y))
            --xl;
        while (xr < area.right() && open(xr + 1, y))
            ++xr;
        QRgb* row = c.row(y);
        unsigned char* seen = visited.data() + size_t(y - ay) * size_t(aw);
        for (int i = xl; i <= xr; ++i) {
            row[i] = fillStored;
            seen[i - ax] = 1;
        }
        for (int ny : {y - 1, y + 1}) {
            if (ny < area.top() || ny > area.bottom())
                continue;
            bool inRun = false;
            for (int i = xl; i <= xr; ++i) {
                const bool o = open(i, ny);
                if (o && !inRun)
                    stack.emplace_back(i, ny);
                inRun = o;
            }
        }
    }
}

void DrawTextInRect(QImage& image, const QRect& box, const QFont& font, const QColor& colour,
                    Qt::Alignment horizontal, bool wordWrap, const QString& text) {
    if (image.isNull() || box.width() <= 0 || box.height() <= 0 || text.isEmpty())
        return;
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    int flags = int(horizontal & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextExpandTabs;
    if (wordWrap)
        flags |= Qt::TextWordWrap;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QRectF(box), flags, t);
}

} // namespace Raster
