#include "bricks/BubbleShape.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace Bubble;

void PrintTo(const BubbleBox& b, std::ostream* os) {
    *os << "{" << b.left << ", " << b.top << ", " << b.right << ", " << b.bottom << "}";
}

namespace {

constexpr double Pi = 3.14159265358979323846;

// A body fitted to a text of 100 x 30: 124 x 44 (r1 81, r2 42).
const BubbleBox Fitted{0, 0, 124, 44};

// Pixels of exactly this value (ARGB32 images).
qsizetype Count(const QImage& img, QRgb colour) {
    qsizetype n = 0;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        n += std::count(row, row + img.width(), colour);
    }
    return n;
}

bool Transparent(const QImage& img, int x, int y) {
    return qAlpha(img.pixel(x, y)) == 0;
}

} // namespace

// --- Radii and auto-size -------------------------------------------------------------------------

TEST(BubbleRadiiTest, ComputedFromTheBody) {
    // r1 = Round((sqrt(11^2 + 4 * 55^2) + 11) / 2) = Round(60.77); r2 = Round(sqrt(61 * 10))
    EXPECT_EQ(ShapeRadii(100, 20).r1, 61);
    EXPECT_EQ(ShapeRadii(100, 20).r2, 25);
    // r1 = Round((sqrt(24.2^2 + 4 * 68.2^2) + 24.2) / 2) = Round(81.37); r2 = Round(sqrt(1782))
    EXPECT_EQ(ShapeRadii(124, 44).r1, 81);
    EXPECT_EQ(ShapeRadii(124, 44).r2, 42);
    EXPECT_EQ(ShapeRadii(0, 0).r1, 0);
    EXPECT_EQ(ShapeRadii(0, 0).r2, 0);
    // r1 = Round(5.5): the half goes to the even 6; r2 = Round(sqrt(30)) = 5
    EXPECT_EQ(ShapeRadii(0, 10).r1, 6);
    EXPECT_EQ(ShapeRadii(0, 10).r2, 5);
}

TEST(BubbleFitTest, BodyGrowsFromItsCornerWithTheText) {
    // right = left + 4 * 1 + 100 + 100 div 5, bottom = top + 4 * 1 + 30 + 30 div 3
    EXPECT_EQ(FitBodyToText(BubbleBox{0, 0, 7, 7}, 100, 30), (BubbleBox{0, 0, 124, 44}));
    EXPECT_EQ(FitBodyToText(BubbleBox{10, 5, 0, 0}, 100, 30), (BubbleBox{10, 5, 134, 49}));
    EXPECT_EQ(FitBodyToText(BubbleBox{0, 0, 0, 0}, 9, 2), (BubbleBox{0, 0, 14, 6}));
    EXPECT_EQ(FitBodyToText(BubbleBox{0, 0, 0, 0}, 100, 30, 2, 3), (BubbleBox{0, 0, 128, 52}));
}

TEST(BubbleFitTest, FullSizeOfEachStyle) {
    // Body 124 x 44, r1 81, r2 42.
    EXPECT_EQ(BubbleFullSize(SayEllipse, Fitted, 0, 0), QSize(162, 84));
    EXPECT_EQ(BubbleFullSize(SayRectangle, Fitted, 0, 0), QSize(124, 44));
    EXPECT_EQ(BubbleFullSize(SayCloud, Fitted, 0, 0), QSize(202, 105)); // Round(202.5) = 202
    EXPECT_EQ(BubbleFullSize(ThinkEllipse, Fitted, 0, 0), QSize(62 + 162, 22 + 84));
    EXPECT_EQ(BubbleFullSize(ThinkCloud, Fitted, 0, 0), QSize(202, 105));
    // A body moved right and down by a tail point above and left of it.
    const BubbleBox moved{30, 20, 154, 64};
    EXPECT_EQ(BubbleFullSize(SayEllipse, moved, 0, 0), QSize(192, 104));
    EXPECT_EQ(BubbleFullSize(SayRectangle, moved, 0, 0), QSize(154, 64));
}

TEST(BubbleFitTest, TailPointWidensTheBrick) {
    for (int style = 0; style <= 4; ++style)
        EXPECT_EQ(BubbleFullSize(style, Fitted, 300, 200), QSize(300, 200)) << style;
    EXPECT_EQ(BubbleFullSize(SayRectangle, Fitted, 130, 50), QSize(130, 50));
    EXPECT_EQ(BubbleFullSize(SayEllipse, Fitted, 130, 50), QSize(162, 84));
    EXPECT_EQ(BubbleFullSize(SayRectangle, Fitted, 10, 60), QSize(124, 60));
}

TEST(BubbleTextRectTest, PlacedInsideEachShape) {
    // Default: left + W div 10, top + H div 6, right, bottom.
    EXPECT_EQ(BubbleTextRect(SayRectangle, Fitted), QRect(12, 7, 112, 37));
    // Ellipses: C + (W div 10 - W div 2, H div 10 - H div 2), C = (81, 42).
    EXPECT_EQ(BubbleTextRect(SayEllipse, Fitted).topLeft(), QPoint(31, 24));
    EXPECT_EQ(BubbleTextRect(ThinkEllipse, Fitted).topLeft(), QPoint(31, 24));
    // Clouds: L + r1 - W div 2, T + r2 - H div 2 with L = 27, T = 14.
    EXPECT_EQ(BubbleTextRect(SayCloud, Fitted).topLeft(), QPoint(46, 34));
    EXPECT_EQ(BubbleTextRect(ThinkCloud, Fitted).topLeft(), QPoint(46, 34));
    // The body's size, so centred text stays centred in the shape.
    for (int style : {0, 2, 3, 4})
        EXPECT_EQ(BubbleTextRect(style, Fitted).size(), QSize(124, 44)) << style;
}

// --- Say ellipse and cloud outlines --------------------------------------------------------------

TEST(BubbleOutlineTest, SayEllipsePointsLieOnTheEllipse) {
    const EllipseOutline o = SayEllipseOutline(Fitted);
    ASSERT_EQ(o.points.size(), (124 / 20) * 3 + 1);
    EXPECT_EQ(o.centre, QPoint(81, 42));
    EXPECT_EQ(o.points.first(), QPoint(162, 42));
    EXPECT_EQ(o.points.first(), o.points.last());
    EXPECT_EQ(o.points[9], QPoint(0, 42)); // half way round: angle pi
    // y grows downward: the quarter point is below the centre.
    const EllipseOutline wide = SayEllipseOutline(BubbleBox{0, 0, 240, 40});
    ASSERT_EQ(wide.points.size(), 37);
    EXPECT_EQ(wide.points[9].x(), wide.centre.x());
    EXPECT_EQ(wide.points[9].y(), wide.centre.y() + wide.r2);
}

TEST(BubbleOutlineTest, NarrowSayEllipseStillGetsAClosedOutline) {
    // W < 20 gives a single point and W < 40 a single segment, which the opening would consume
    // whole; both get four segments.
    for (int w : {0, 1, 10, 19, 20, 39}) {
        const EllipseOutline o = SayEllipseOutline(BubbleBox{0, 0, w, 12});
        EXPECT_EQ(o.points.size(), 13) << w;
        EXPECT_EQ(o.points.first(), o.points.last()) << w;
    }
    EXPECT_EQ(SayEllipseOutline(BubbleBox{0, 0, 40, 12}).points.size(), 7);
    EXPECT_EQ(SayEllipseOutline(BubbleBox{0, 0, 79, 12}).points.size(), 10);
}

TEST(BubbleOutlineTest, CloudHasScallopedSegments) {
    const CloudOutline o = CloudOutlineOf(Fitted);
    ASSERT_EQ(o.points.size(), 25);
    EXPECT_EQ(o.box, (BubbleBox{27, 14, 162, 84}));
    EXPECT_EQ(o.centre, QPoint(67, 35)); // from the body's corner, not the cloud's
    const QPointF mid(27 + 135 / 2, 14 + 70 / 2);
    auto dist = [&](QPoint p) {
        return std::hypot((p.x() - mid.x()) / 67.0, (p.y() - mid.y()) / 35.0);
    };
    for (int k = 0; k < 25; ++k) {
        if (k % 3 == 0)
            EXPECT_NEAR(dist(o.points[k]), 1.0, 0.05) << k;
        else
            EXPECT_GT(dist(o.points[k]), 1.25) << k; // control points further out
    }
    EXPECT_EQ(o.points.first(), o.points.last());
}

TEST(BubbleGapTest, GapWidths) {
    // Say ellipse: (2 r1 div 8) div (2 r1 div ((n - 1) div 2)).
    EXPECT_EQ(SayEllipseGapWidth(81, 19), 1);  // 20 div 18
    EXPECT_EQ(SayEllipseGapWidth(240, 61), 3); // 60 div 16
    EXPECT_EQ(SayEllipseGapWidth(2, 19), 1);   // zero divisor
    EXPECT_EQ(SayEllipseGapWidth(50, 1), 1);   // zero divisor
    EXPECT_EQ(SayEllipseGapWidth(100, 13), 1); // 25 div 33 = 0, at least 1
    // Cloud: ((R - L) div 8) div ((R - L) div 12).
    EXPECT_EQ(CloudGapWidth(100), 1);
    EXPECT_EQ(CloudGapWidth(20), 2);
    EXPECT_EQ(CloudGapWidth(11), 1); // zero divisor
    EXPECT_EQ(CloudGapWidth(0), 1);
}

TEST(BubbleGapTest, OpeningFacesTheTailPoint) {
    // 19 points, 6 segments of 60 degrees; a tail up and right at 30 degrees above the axis
    // lies in the last segment.
    EXPECT_EQ(GapRun(19, QPoint(0, 0), QPoint(100, -58), 1), (QList<int>{15, 16, 17, 18}));
    // Below: the segment from 45 to 90 degrees of a 24-part cloud.
    EXPECT_EQ(GapRun(25, QPoint(0, 0), QPoint(0, 50), 1), (QList<int>{3, 4, 5, 6}));
    // Straight above: the segment ending at 270 degrees.
    EXPECT_EQ(GapRun(25, QPoint(0, 0), QPoint(0, -50), 1), (QList<int>{15, 16, 17, 18}));
}

TEST(BubbleGapTest, OpeningWrapsPastTheEnd) {
    // Level with the centre on the right: angle limit pi/2, J = 2 + 6 + 1 = 9, L = -3 -> 21.
    EXPECT_EQ(GapRun(25, QPoint(0, 0), QPoint(80, 0), 1), (QList<int>{21, 22, 23, 24}));
    // Two segments from index 15 of 19: 15 .. 18, then 1 .. 3 (point 18 is point 0).
    EXPECT_EQ(GapRun(19, QPoint(0, 0), QPoint(100, -58), 2), (QList<int>{15, 16, 17, 18, 1, 2, 3}));
}

TEST(BubbleGapTest, IndicesStayInRangeForEveryDirection) {
    for (int n : {4, 7, 13, 19, 25, 61}) {
        const int segments = (n - 1) / 3;
        for (int gap : {0, 1, 2, 5, 100}) {
            for (int deg = 0; deg < 360; deg += 5) {
                for (double dist : {0.0, 1.0, 40.0}) {
                    const QPoint tail(int(std::lround(dist * std::cos(deg * Pi / 180))),
                                      int(std::lround(dist * std::sin(deg * Pi / 180))));
                    const QList<int> run = GapRun(n, QPoint(0, 0), tail, gap);
                    const int width = std::clamp(gap, 1, std::max(1, segments - 1));
                    ASSERT_EQ(run.size(), 3 * width + 1) << n << " " << deg;
                    for (int i : run)
                        ASSERT_TRUE(i >= 0 && i < n) << n << " " << deg << " " << i;
                    ASSERT_EQ(run.first() % 3, 0);
                }
            }
        }
    }
    EXPECT_TRUE(GapRun(1, QPoint(0, 0), QPoint(5, 5), 1).isEmpty());
    EXPECT_TRUE(GapRun(0, QPoint(0, 0), QPoint(5, 5), 1).isEmpty());
}

TEST(BubbleGapTest, OpenedArcContainsTheTailDirection) {
    // With 24 segments the rounding of the quadrant offset is exact: the tail's angle always
    // lies within the opened segment.
    for (int deg = 1; deg < 360; deg += 2) {
        if (deg % 15 == 0)
            continue;
        const double a = deg * Pi / 180; // screen angle, clockwise from +x
        const QPoint tail(int(std::lround(1000 * std::cos(a))),
                          int(std::lround(1000 * std::sin(a))));
        const QList<int> run = GapRun(73, QPoint(0, 0), tail, 1);
        const double from = run.first() * 360.0 / 72, to = from + 15;
        const double actual = std::atan2(double(tail.y()), double(tail.x())) * 180 / Pi;
        const double norm = actual < 0 ? actual + 360 : actual;
        EXPECT_TRUE(norm >= from - 0.5 && norm <= to + 0.5) << deg << ": " << from << ".." << to;
    }
}

// --- Thought circles ----------------------------------------------------------------------------

TEST(BubbleThoughtTest, DistanceToTheEdgeTowardsTheTail) {
    const QPoint c(0, 0);
    EXPECT_EQ(ThoughtB0(c, QPoint(100, 0), 81, 42), 81);        // along the long axis
    EXPECT_EQ(ThoughtB0(c, QPoint(0, -100), 81, 42), 42);       // straight above: alpha = pi/2
    EXPECT_EQ(ThoughtB0(c, QPoint(100, 100), 81, 42), 59);      // 42 / sin(pi/4) = 59.4
    EXPECT_EQ(ThoughtB0(c, QPoint(-100, 0), 81, 42, 1.3), 105); // 105.3
    EXPECT_EQ(ThoughtB0(c, c, 81, 42), 81);                     // no direction: along the axis
    EXPECT_EQ(ThoughtB0(c, QPoint(0, 50), 0, 0), 0);
    EXPECT_EQ(ThoughtB0(c, QPoint(50, 0), 10, 0), 10);
}

TEST(BubbleThoughtTest, ThreeCirclesOnTheRayTowardsTheTail) {
    // D = 200, B0 = 80: N = Round(200 - 80 - 5) = 115, Q = Round(55 / 3) = 18.
    const ThoughtCircleSet s = ThoughtCircles(QPoint(0, 0), QPoint(200, 0), 80, 40, 80);
    EXPECT_EQ(s.count, 3);
    EXPECT_EQ(s.n, 115);
    EXPECT_EQ(s.q, 18);
    ASSERT_EQ(s.circles.size(), 3);
    EXPECT_EQ(s.circles[0], (BubbleBox{98, -10, 138, 10})); // at 80 + 18 + 20, r / 4
    EXPECT_EQ(s.circles[1], (BubbleBox{156, -5, 176, 5}));  // at 36 + 80 + 40 + 10, r / 8
    EXPECT_EQ(s.circles[2], (BubbleBox{190, -2, 200, 2}));  // at 80 + 115, r / 16 (2.5 -> 2)
    // Mirrored into the upper left quadrant.
    const ThoughtCircleSet m = ThoughtCircles(QPoint(0, 0), QPoint(-200, 0), 80, 40, 80);
    EXPECT_EQ(m.circles[0], (BubbleBox{-138, -10, -98, 10}));
    const ThoughtCircleSet up = ThoughtCircles(QPoint(10, 10), QPoint(10, -190), 80, 40, 80);
    EXPECT_EQ(up.circles[2], (BubbleBox{5, -188, 15, -182})); // -182.5 -> -182
}

TEST(BubbleThoughtTest, CloseTailDrawsFewerCircles) {
    // B0 = 80: N = D - 85. Three circles need Round((N - 60) / 3) >= 0, two Round((N - 40) / 2).
    EXPECT_EQ(ThoughtCircles(QPoint(0, 0), QPoint(144, 0), 80, 40, 80).count, 3); // N 59
    const ThoughtCircleSet two = ThoughtCircles(QPoint(0, 0), QPoint(143, 0), 80, 40, 80);
    EXPECT_EQ(two.count, 2);
    EXPECT_EQ(two.q, 9); // Round(18 / 2)
    EXPECT_EQ(two.circles.size(), 2);
    EXPECT_EQ(ThoughtCircles(QPoint(0, 0), QPoint(124, 0), 80, 40, 80).count, 2); // -0.5 -> 0
    const ThoughtCircleSet one = ThoughtCircles(QPoint(0, 0), QPoint(123, 0), 80, 40, 80);
    EXPECT_EQ(one.count, 1);
    EXPECT_EQ(one.q, 0);
    ASSERT_EQ(one.circles.size(), 1);
    EXPECT_EQ(one.circles[0], (BubbleBox{113, -2, 123, 2})); // the small one at B0 + N = 118
}

// --- Say rectangle tail -------------------------------------------------------------------------

TEST(BubbleRectangleTailTest, BaseOnTheEdgeFacingTheTail) {
    const BubbleBox body{0, 0, 160, 64}; // t = 10; horizontal e = 10, base 20; vertical e = 4
    RectangleTail t = SayRectangleTail(body, 80, -40);
    EXPECT_EQ(t.t, 10);
    EXPECT_EQ(t.p1, QPoint(70, 0));
    EXPECT_EQ(t.p2, QPoint(90, 0));
    EXPECT_EQ(t.seed, QPoint(80, 0));
    t = SayRectangleTail(body, 158, 100); // below, near the right corner
    EXPECT_EQ(t.p1, QPoint(130, 63));
    EXPECT_EQ(t.p2, QPoint(150, 63));
    EXPECT_EQ(t.seed, QPoint(140, 63));
    t = SayRectangleTail(body, 200, 32); // right of the body
    EXPECT_EQ(t.p1, QPoint(159, 28));
    EXPECT_EQ(t.p2, QPoint(159, 36));
    EXPECT_EQ(t.seed, QPoint(159, 32));
    t = SayRectangleTail(body, -30, 2); // left, near the top corner
    EXPECT_EQ(t.p1, QPoint(0, 10));
    EXPECT_EQ(t.p2, QPoint(0, 18));
    EXPECT_EQ(t.seed, QPoint(0, 14));
}

TEST(BubbleRectangleTailTest, BelowNearTheLeftCorner) {
    const RectangleTail t = SayRectangleTail(BubbleBox{0, 0, 160, 64}, 5, 100);
    EXPECT_EQ(t.p1, QPoint(10, 63)); // left + t
    EXPECT_EQ(t.p2, QPoint(30, 63)); // left + t + W div 8
    EXPECT_EQ(t.seed, QPoint(20, 63));
}

TEST(BubbleRectangleTailTest, InsideTheBodyUsesTheLeftEdge) {
    const RectangleTail t = SayRectangleTail(BubbleBox{0, 0, 160, 64}, 50, 30);
    EXPECT_EQ(t.p1, QPoint(0, 26));
    EXPECT_EQ(t.p2, QPoint(0, 34));
    EXPECT_EQ(t.seed, QPoint(0, 30));
}

TEST(BubbleRectangleTailTest, ZoneBoundaries) {
    const BubbleBox body{0, 0, 160, 64};
    EXPECT_EQ(SayRectangleTail(body, 20, -5).p1, QPoint(10, 0)); // left + t + e: centred
    EXPECT_EQ(SayRectangleTail(body, 20, -5).seed, QPoint(20, 0));
    EXPECT_EQ(SayRectangleTail(body, 19, -5).seed, QPoint(20, 0)); // corner zone
    EXPECT_EQ(SayRectangleTail(body, 19, -5).p2, QPoint(30, 0));
    EXPECT_EQ(SayRectangleTail(body, 140, -5).p2, QPoint(150, 0)); // right - t - e: centred
    EXPECT_EQ(SayRectangleTail(body, 141, -5).p1, QPoint(130, 0)); // corner zone
    // FromY = bottom is below (bottom - 1), FromY = top is beside.
    EXPECT_EQ(SayRectangleTail(body, 80, 64).seed, QPoint(80, 63));
    EXPECT_EQ(SayRectangleTail(body, 200, 0).seed.x(), 159);
    EXPECT_EQ(SayRectangleTail(body, 160, 30).seed.x(), 159); // FromX = right: the right edge
}

// --- Composition
// ----------------------------------------------------------------------------------

namespace {

QFont GoldenFont() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(16);
    return f;
}

// A bubble as the design surface keeps it: the body moved away from the brick's corner when the
// tail point lies above or left of it, so FromX and FromY stay at or above 0.
BubbleDrawing Drawing(int style, const QString& where) {
    const BubbleBox fitted = FitBodyToText(BubbleBox{}, 110, 38); // 136 x 54
    BubbleDrawing d;
    d.style = style;
    d.body = fitted;
    const QSize shape = BubbleFullSize(style, fitted, 0, 0);
    if (where == QLatin1String("above")) {
        d.body = BubbleBox{40, 70, 40 + 136, 70 + 54};
        d.fromX = 40 + 136 / 2 + 30;
        d.fromY = 0;
    } else if (where == QLatin1String("below")) {
        d.fromX = 40;
        d.fromY = shape.height() + 70;
    } else if (where == QLatin1String("left")) {
        d.body = BubbleBox{90, 10, 90 + 136, 10 + 54};
        d.fromX = 0;
        d.fromY = 10 + 54 / 2 + 10;
    } else if (where == QLatin1String("right")) {
        d.fromX = shape.width() + 60;
        d.fromY = 54 / 2;
    } else { // inside
        d.fromX = 136 / 3;
        d.fromY = 54 / 2;
    }
    const QSize full = BubbleFullSize(style, d.body, d.fromX, d.fromY);
    d.width = full.width();
    d.height = full.height();
    d.font = GoldenFont();
    d.text = QStringLiteral("Hello there,\nbubble text!");
    return d;
}

const QStringList Places{"above", "below", "left", "right", "inside"};
const char* StyleNames[] = {"say_ellipse", "say_rectangle", "say_cloud", "think_ellipse",
                            "think_cloud"};

} // namespace

TEST(BubbleComposeTest, NoKeyColourAndTheBodyIsFilled) {
    for (int style = 0; style <= 4; ++style)
        for (const QString& where : Places) {
            BubbleDrawing d = Drawing(style, where);
            d.drawText = false;
            const QImage img = ComposeBubble(d);
            ASSERT_EQ(img.size(), QSize(d.width, d.height));
            ASSERT_EQ(img.format(), QImage::Format_ARGB32);
            EXPECT_EQ(Count(img, KeyColour), 0) << style << " " << where.toStdString();
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if ((img.pixel(x, y) & 0xFFFFFF) == (KeyColour & 0xFFFFFF))
                        FAIL() << "key colour at " << x << "," << y;
            // The middle of the body is filled.
            const QPoint mid((d.body.left + d.body.right) / 2, (d.body.top + d.body.bottom) / 2);
            const QPoint probe = where == QLatin1String("inside") ? mid + QPoint(20, 0) : mid;
            EXPECT_EQ(img.pixel(probe), FillColour) << style << " " << where.toStdString();
            // No fill ran out: the bitmap's corners are transparent.
            EXPECT_TRUE(Transparent(img, img.width() - 1, img.height() - 1) ||
                        Transparent(img, 0, img.height() - 1))
                << style << " " << where.toStdString();
            EXPECT_TRUE(Transparent(img, img.width() - 1, 0) || Transparent(img, 0, 0))
                << style << " " << where.toStdString();
        }
}

TEST(BubbleComposeTest, NoFillRunsOutWhateverTheTailDirection) {
    const BubbleBox body{200, 200, 336, 254};
    const EllipseOutline o = SayEllipseOutline(body);
    for (int style : {SayEllipse, SayCloud, SayRectangle, ThinkEllipse, ThinkCloud}) {
        const QPoint c = style == SayRectangle                      ? QPoint(268, 227)
                         : style == SayCloud || style == ThinkCloud ? CloudOutlineOf(body).centre
                                                                    : o.centre;
        for (int deg = 0; deg < 360; deg += 10)
            for (int dist : {0, 30, 150}) {
                BubbleDrawing d;
                d.style = style;
                d.body = body;
                d.fromX = o.centre.x() + int(std::lround((o.r1 + dist) * std::cos(deg * Pi / 180)));
                d.fromY = o.centre.y() + int(std::lround((o.r2 + dist) * std::sin(deg * Pi / 180)));
                d.width = 600;
                d.height = 500;
                d.drawText = false;
                const QImage img = ComposeBubble(d);
                ASSERT_EQ(Count(img, KeyColour), 0);
                // The bitmap's far corners stay empty and the middle of the body is filled.
                ASSERT_TRUE(Transparent(img, 0, 0) && Transparent(img, 599, 499) &&
                            Transparent(img, 599, 0) && Transparent(img, 0, 499))
                    << style << " " << deg << " " << dist;
                int filled = 0;
                for (QPoint p :
                     {c, c + QPoint(10, 0), c - QPoint(10, 0), c + QPoint(0, 8), c - QPoint(0, 8)})
                    filled += img.pixel(p) == FillColour;
                ASSERT_GE(filled, 4) << style << " " << deg << " " << dist;
            }
    }
}

TEST(BubbleComposeTest, NarrowAndEmptyBodiesAreSafe) {
    for (int style = 0; style <= 4; ++style)
        for (int w : {0, 1, 8, 19, 25, 39}) {
            BubbleDrawing d;
            d.style = style;
            d.body = BubbleBox{0, 0, w, 10};
            d.fromX = w + 20;
            d.fromY = 30;
            const QSize full = BubbleFullSize(style, d.body, d.fromX, d.fromY);
            d.width = full.width();
            d.height = full.height();
            d.text = QStringLiteral("x");
            d.font = GoldenFont();
            const QImage img = ComposeBubble(d);
            ASSERT_FALSE(img.isNull());
            EXPECT_EQ(Count(img, KeyColour), 0);
            // The whole bitmap never turns into fill.
            EXPECT_LT(Count(img, FillColour), qsizetype(img.width()) * img.height() / 2)
                << style << " " << w;
        }
    BubbleDrawing none;
    EXPECT_TRUE(ComposeBubble(none).isNull());
}

TEST(BubbleComposeTest, SayRectangleTailInsideAMovedBodyDoesNotFloodTheBitmap) {
    BubbleDrawing d;
    d.style = SayRectangle;
    d.body = BubbleBox{40, 30, 200, 94};
    d.fromX = 100;
    d.fromY = 60;
    d.width = 220;
    d.height = 120;
    d.drawText = false;
    const QImage img = ComposeBubble(d);
    EXPECT_TRUE(Transparent(img, 10, 60));
    EXPECT_TRUE(Transparent(img, 39, 60));
    EXPECT_EQ(img.pixel(120, 60), FillColour);
}

TEST(BubbleComposeTest, CentredTextStaysInsideTheEllipse) {
    BubbleDrawing d;
    d.style = SayEllipse;
    d.body = FitBodyToText(BubbleBox{}, 110, 38);
    d.fromX = 300;
    d.fromY = 150;
    d.width = 301;
    d.height = 151;
    d.font = GoldenFont();
    d.text = QStringLiteral("centred\ntext");
    d.alignment = Qt::AlignHCenter;
    const QImage withText = ComposeBubble(d);
    d.drawText = false;
    const QImage without = ComposeBubble(d);
    QRect ink;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x)
            if (withText.pixel(x, y) != without.pixel(x, y))
                ink = ink.united(QRect(x, y, 1, 1));
    const EllipseOutline o = SayEllipseOutline(d.body);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_LE(std::abs(ink.center().x() - BubbleTextRect(SayEllipse, d.body).center().x()), 3);
    EXPECT_GT(ink.left(), d.body.left + 10);
    EXPECT_LT(ink.right(), d.body.left + 2 * o.r1 - 10);
}

TEST(BubbleComposeTest, OpacityScalesAlphaOnly) {
    BubbleDrawing d = Drawing(SayRectangle, "below");
    const QImage composed = ComposeBubble(d);
    const QImage half = BubbleWithOpacity(composed, 128);
    const QPoint mid(d.body.left + 20, d.body.top + 3);
    ASSERT_EQ(composed.pixel(mid), FillColour);
    EXPECT_EQ(qAlpha(half.pixel(mid)), 128);
    EXPECT_EQ(qRgb(qRed(half.pixel(mid)), qGreen(half.pixel(mid)), qBlue(half.pixel(mid))),
              FillColour);
    EXPECT_EQ(qAlpha(half.pixel(0, d.height - 1)), 0);
    EXPECT_EQ(BubbleWithOpacity(composed, 255), composed);
    const QImage none = BubbleWithOpacity(composed, 0);
    EXPECT_EQ(qAlpha(none.pixel(mid)), 0);
}

TEST(BubbleComposeTest, GoldenContactSheets) {
    // One sheet per style: the tail above, below, left, right and inside, on grey.
    constexpr int TileW = 400, TileH = 300;
    for (int style = 0; style <= 4; ++style) {
        QImage sheet(TileW * 5, TileH, QImage::Format_RGB32);
        sheet.fill(qRgb(128, 128, 128));
        QImage plain = sheet; // the same sheet without the bubbles
        QList<QRect> tiles;
        QPainter p(&sheet), pp(&plain);
        for (int i = 0; i < Places.size(); ++i) {
            const QImage img = ComposeBubble(Drawing(style, Places[i]));
            ASSERT_LE(img.width(), TileW);
            ASSERT_LE(img.height(), TileH);
            p.fillRect(QRect(i * TileW + 1, 1, img.width(), img.height()), qRgb(150, 150, 150));
            pp.fillRect(QRect(i * TileW + 1, 1, img.width(), img.height()), qRgb(150, 150, 150));
            p.drawImage(i * TileW + 1, 1, img);
            tiles << QRect(i * TileW, 0, TileW, TileH);
        }
        p.end();
        pp.end();
        const QString name = QStringLiteral("bubble_%1").arg(StyleNames[style]);
        if (updatingGoldens()) {
            ASSERT_TRUE(sheet.save(goldenPath(name)));
            continue;
        }
        const QImage golden(goldenPath(name));
        ASSERT_FALSE(golden.isNull()) << name.toStdString();
        QString why;
        EXPECT_LT(differingPixelShare(sheet, golden.convertToFormat(QImage::Format_RGB32), 32),
                  0.001)
            << name.toStdString();
        EXPECT_TRUE(
            fuzzyImageCompare(sheet, golden.convertToFormat(QImage::Format_RGB32), 160, &why))
            << name.toStdString() << ": " << why.toStdString();
        // Tile by tile: each bubble's ink where the golden has it.
        EXPECT_TRUE(blocksMatch(sheet, golden.convertToFormat(QImage::Format_RGB32), plain, tiles,
                                32, 2, 0.005, &why))
            << name.toStdString() << ": " << why.toStdString();
    }
}

// --- Composing only the part over the picture
// ------------------------------------------------------

TEST(BubbleClipTest, CanvasIsTheClippedBoxAndTheBody) {
    BubbleDrawing d;
    d.style = SayEllipse;
    d.body = Fitted;
    const QSize shape = BubbleFullSize(SayEllipse, Fitted, 0, 0);
    d.width = 10000000;
    d.height = 5000000;
    // Without a clip: the whole box.
    EXPECT_EQ(BubbleCanvasRect(d), QRect(0, 0, 10000000, 5000000));
    // The picture's part of the box, which already holds the body.
    d.clip = QRect(0, 0, 400, 300);
    EXPECT_EQ(BubbleCanvasRect(d), QRect(0, 0, 400, 300));
    // The brick partly left of and above the picture: its part, widened to hold the body.
    d.clip = QRect(-60, -20, 100, 50);
    EXPECT_EQ(BubbleCanvasRect(d), QRect(QPoint(0, 0), shape.expandedTo(QSize(40, 30))));
    // Only far out along the tail: that part and the body, from the corner.
    d.clip = QRect(1000, 10, 50, 40);
    EXPECT_EQ(BubbleCanvasRect(d), QRect(0, 0, 1050, std::max(50, shape.height())));
    // Touching the box's last pixel, or missing it by one.
    d.clip = QRect(9999999, 4999999, 10, 10);
    EXPECT_EQ(BubbleCanvasRect(d), QRect(0, 0, 10000000, 5000000));
    d.clip = QRect(10000000, 0, 10, 10);
    EXPECT_TRUE(BubbleCanvasRect(d).isEmpty());
    d.clip = QRect(-500, -500, 500, 500);
    EXPECT_TRUE(BubbleCanvasRect(d).isEmpty());
    EXPECT_TRUE(ComposeBubble(d).isNull());
    // A box smaller than the clip is not widened by it.
    d.width = 150;
    d.height = 70;
    d.clip = QRect(-100, -100, 1000, 1000);
    EXPECT_EQ(BubbleCanvasRect(d), QRect(0, 0, 150, 70));
}

namespace {
// Where a tail line is cut at the edge of the part, its pixels may step a pixel aside: every
// differing pixel must then lie next to the outline in both images, and there are no more of
// them than two lines across the image could make.
bool LineJitterOnly(const QImage& a, const QImage& b) {
    const auto outlineNear = [](const QImage& img, int x, int y) {
        for (int yy = std::max(0, y - 1); yy <= std::min(img.height() - 1, y + 1); ++yy)
            for (int xx = std::max(0, x - 1); xx <= std::min(img.width() - 1, x + 1); ++xx)
                if (img.pixel(xx, yy) == OutlineColour)
                    return true;
        return false;
    };
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) == b.pixel(x, y))
                continue;
            ++differing;
            if (!outlineNear(a, x, y) || !outlineNear(b, x, y))
                return false;
        }
    return differing <= 4 * (a.width() + a.height());
}
} // namespace

// The part composed alone is the same part of the whole composition, up to the pixel where a
// tail line is cut.
TEST(BubbleClipTest, ClippedCompositionIsTheCropOfTheWhole) {
    for (int style = 0; style <= 4; ++style)
        for (const QString& where : Places) {
            BubbleDrawing d = Drawing(style, where);
            const QImage whole = ComposeBubble(d);
            ASSERT_EQ(whole.size(), QSize(d.width, d.height));
            for (const QRect& clip : {QRect(20, 10, 120, 90), QRect(-30, -30, d.width / 2 + 30, 60),
                                      QRect(d.width / 2, d.height / 2, 500, 500),
                                      QRect(d.width - 20, 0, 20, d.height)}) {
                d.clip = clip;
                const QRect canvas = BubbleCanvasRect(d);
                const QImage part = ComposeBubble(d);
                ASSERT_EQ(part.size(), canvas.size()) << style << " " << where.toStdString();
                EXPECT_TRUE(canvas.contains(QRect(0, 0, d.width, d.height).intersected(clip)));
                EXPECT_TRUE(LineJitterOnly(part, whole.copy(canvas)))
                    << style << " " << where.toStdString() << " " << clip.x() << "," << clip.y();
            }
        }
}

// A tail point millions of pixels away, or at the integer limits: the bitmap is the clip's
// size, and the tail lines leave it where the lines towards the point cross its edge.
TEST(BubbleClipTest, FarTailIsCutAtTheEdgeOfTheClip) {
    const QRect clip(0, 0, 400, 300);
    const std::pair<QPoint, int> tails[] = {
        {QPoint(10000000, 2500000), 399},
        {QPoint(2147483647, 2147483647 / 4), 399},
        {QPoint(2147483647, 2147483647), -1}, // leaves through the bottom
        {QPoint(-2147483647 - 1, 30), 0},
    };
    for (int style : {SayEllipse, SayRectangle, SayCloud, ThinkEllipse, ThinkCloud})
        for (const auto& [tail, edge] : tails) {
            SCOPED_TRACE(::testing::Message() << style << " " << tail.x() << "," << tail.y());
            BubbleDrawing d;
            d.style = style;
            d.body = Fitted;
            d.fromX = tail.x();
            d.fromY = tail.y();
            const QSize full = BubbleFullSize(style, d.body, d.fromX, d.fromY);
            d.width = full.width();
            d.height = full.height();
            d.clip = clip;
            d.drawText = false;
            const QImage img = ComposeBubble(d);
            ASSERT_FALSE(img.isNull());
            ASSERT_LE(img.width(), 400);
            ASSERT_LE(img.height(), 300);
            EXPECT_EQ(Count(img, KeyColour), 0);
            // The body is there and filled.
            const QPoint c = style == SayCloud || style == ThinkCloud
                                 ? CloudOutlineOf(Fitted).centre
                                 : SayEllipseOutline(Fitted).centre;
            EXPECT_EQ(img.pixel(c), FillColour);
            if (style == ThinkEllipse || style == ThinkCloud)
                continue; // the thought circles lie far along the ray, off the bitmap
            // Where the tail starts: the opening's ends, or the base points of the rectangle.
            QList<QPoint> starts;
            if (style == SayRectangle) {
                const RectangleTail rt = SayRectangleTail(Fitted, d.fromX, d.fromY);
                starts = {rt.p1, rt.p2};
            } else {
                const QList<QPoint> outline = style == SayEllipse ? SayEllipseOutline(Fitted).points
                                                                  : CloudOutlineOf(Fitted).points;
                const int gap =
                    style == SayEllipse
                        ? SayEllipseGapWidth(SayEllipseOutline(Fitted).r1, int(outline.size()))
                        : CloudGapWidth(CloudOutlineOf(Fitted).box.width());
                const QList<int> run = GapRun(int(outline.size()), c, tail, gap);
                ASSERT_FALSE(run.isEmpty());
                starts = {outline.at(run.first()), outline.at(run.last())};
            }
            for (const QPoint& s : starts) {
                const double dx = double(tail.x()) - s.x(), dy = double(tail.y()) - s.y();
                if (edge >= 0) {
                    if (edge >= img.width())
                        continue;
                    // The column of the edge, at the height of the line there.
                    const double y = s.y() + dy * (edge - s.x()) / dx;
                    bool found = false;
                    for (int yy = int(y) - 2; yy <= int(y) + 2; ++yy)
                        found = found || (yy >= 0 && yy < img.height() &&
                                          img.pixel(edge, yy) == OutlineColour);
                    EXPECT_TRUE(found) << "start " << s.x() << "," << s.y() << " at y " << y;
                } else {
                    const int bottom = img.height() - 1;
                    const double x = s.x() + dx * (bottom - s.y()) / dy;
                    bool found = false;
                    for (int xx = int(x) - 2; xx <= int(x) + 2; ++xx)
                        found = found || (xx >= 0 && xx < img.width() &&
                                          img.pixel(xx, bottom) == OutlineColour);
                    EXPECT_TRUE(found) << "start " << s.x() << "," << s.y() << " at x " << x;
                }
            }
        }
}
