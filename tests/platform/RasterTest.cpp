#include "platform/Raster.h"

#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr QRgb White = 0xFFFFFFFFu;
constexpr QRgb Black = 0xFF000000u;
constexpr QRgb Red = 0xFFFF0000u;
constexpr QRgb Green = 0xFF00FF00u;

QImage Blank(int w, int h, QRgb colour = White, QImage::Format f = QImage::Format_RGB32) {
    QImage img(w, h, f);
    img.fill(colour);
    return img;
}

qsizetype Count(const QImage& img, QRgb colour) {
    qsizetype n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixel(x, y) == colour;
    return n;
}

QRect InkBounds(const QImage& img, QRgb background) {
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != background)
                r = r.united(QRect(x, y, 1, 1));
    return r;
}

} // namespace

// --- Lines and curves --------------------------------------------------------------------------

TEST(RasterLines, LineIncludesBothEndsAndIsOnePixelWide) {
    QImage img = Blank(20, 20);
    Raster::Line(img, QPoint(2, 5), QPoint(12, 5), Black);
    EXPECT_EQ(Count(img, Black), 11);
    EXPECT_EQ(img.pixel(2, 5), Black);
    EXPECT_EQ(img.pixel(12, 5), Black);

    QImage diag = Blank(20, 20);
    Raster::Line(diag, QPoint(0, 0), QPoint(9, 9), Black);
    EXPECT_EQ(Count(diag, Black), 10); // one pixel per step: aliased, no blending
}

TEST(RasterLines, LineFarOutsideIsClippedWithoutTouchingMemoryOutside) {
    QImage img = Blank(30, 30);
    Raster::Line(img, QPoint(-1000, -1000), QPoint(1000, 1000), Black);
    EXPECT_EQ(Count(img, Black), 30);
    Raster::Line(img, QPoint(-50, 40), QPoint(80, 40), Black); // entirely below the image
    EXPECT_EQ(Count(img, Black), 30);
}

TEST(RasterLines, ClipLineKeepsThePartInsideOnTheSameLine) {
    const QRectF area(0, 0, 99, 49);
    // Inside: unchanged, in its own direction.
    EXPECT_EQ(Raster::ClipLine(QPointF(3, 4), QPointF(90, 40), area), QLine(3, 4, 90, 40));
    EXPECT_EQ(Raster::ClipLine(QPointF(90, 40), QPointF(3, 4), area), QLine(90, 40, 3, 4));
    // On the border counts as inside.
    EXPECT_EQ(Raster::ClipLine(QPointF(0, 0), QPointF(99, 49), area), QLine(0, 0, 99, 49));
    // Leaving through each side, from the middle.
    EXPECT_EQ(Raster::ClipLine(QPointF(50, 20), QPointF(1050, 20), area), QLine(50, 20, 99, 20));
    EXPECT_EQ(Raster::ClipLine(QPointF(50, 20), QPointF(-950, 20), area), QLine(50, 20, 0, 20));
    EXPECT_EQ(Raster::ClipLine(QPointF(50, 20), QPointF(50, -1e9), area), QLine(50, 20, 50, 0));
    EXPECT_EQ(Raster::ClipLine(QPointF(50, 20), QPointF(50, 1e9), area), QLine(50, 20, 50, 49));
    // Through the area from outside to outside: both ends cut.
    EXPECT_EQ(Raster::ClipLine(QPointF(-100, 25), QPointF(200, 25), area), QLine(0, 25, 99, 25));
    // Missing it: beside, beyond a corner, or parallel outside.
    EXPECT_FALSE(Raster::ClipLine(QPointF(-10, -10), QPointF(-1, 60), area));
    EXPECT_FALSE(Raster::ClipLine(QPointF(90, -20), QPointF(120, 10), area));
    EXPECT_FALSE(Raster::ClipLine(QPointF(-5, 60), QPointF(500, 60), area));
    // The integer limits: the cut end lies on the line towards the far point.
    const double far = 2147483647.0;
    const auto cut = Raster::ClipLine(QPointF(10, 10), QPointF(far, far / 4), area);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->p1(), QPoint(10, 10));
    EXPECT_EQ(cut->p2(), QPoint(99, qRound(10 + 89 * (far / 4 - 10) / (far - 10))));
    const auto back = Raster::ClipLine(QPointF(-far - 1, 30), QPointF(60, 30), area);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, QLine(0, 30, 60, 30));
}

TEST(RasterLines, LineToTheIntegerLimitsFollowsItsDirection) {
    // Cut to the image first: a line to 2^31 costs what the image costs. Inside, its pixels are
    // those of the same line ending just past the edge.
    const QPoint from(10, 20);
    for (const QPoint to : {QPoint(2147483647, 20 + 2147483647 / 8), QPoint(-2147483647 - 1, 20),
                            QPoint(10, 2147483647), QPoint(2147483647, -2147483647 - 1)}) {
        QImage far = Blank(120, 90);
        Raster::Line(far, from, to, Black);
        // The same direction, ending just outside the image, drawn in a larger bitmap.
        const double dx = double(to.x()) - from.x(), dy = double(to.y()) - from.y();
        const double t = 400.0 / std::max(std::fabs(dx), std::fabs(dy));
        const QPoint near(qRound(from.x() + t * dx), qRound(from.y() + t * dy));
        QImage ref = Blank(1000, 1000);
        Raster::Line(ref, from + QPoint(450, 450), near + QPoint(450, 450), Black);
        const QImage expected = ref.copy(450, 450, 120, 90);
        // Allow a pixel of difference from where the cut end was rounded.
        int missing = 0;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x) {
                if (far.pixel(x, y) != Black)
                    continue;
                bool close = false;
                for (int yy = std::max(0, y - 1); yy <= std::min(89, y + 1); ++yy)
                    for (int xx = std::max(0, x - 1); xx <= std::min(119, x + 1); ++xx)
                        close = close || expected.pixel(xx, yy) == Black;
                missing += !close;
            }
        EXPECT_EQ(missing, 0) << to.x() << "," << to.y();
        EXPECT_NEAR(Count(far, Black), Count(expected, Black), 2) << to.x() << "," << to.y();
        EXPECT_EQ(far.pixel(from), Black);
    }
}

TEST(RasterLines, PolylineJoinsItsPoints) {
    QImage img = Blank(20, 20);
    Raster::Polyline(img, {QPoint(1, 1), QPoint(10, 1), QPoint(10, 10)}, Black);
    EXPECT_EQ(Count(img, Black), 19);
    QImage single = Blank(5, 5);
    Raster::Polyline(single, {QPoint(2, 3)}, Black);
    EXPECT_EQ(single.pixel(2, 3), Black);
}

TEST(RasterLines, ColoursAreStoredExactlyOnEveryFormat) {
    for (QImage::Format f :
         {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied}) {
        QImage img = Blank(8, 8, 0xFF102030u, f);
        Raster::Line(img, QPoint(0, 3), QPoint(7, 3), 0xFFDD137Bu);
        EXPECT_EQ(img.pixel(4, 3), 0xFFDD137Bu) << f;
        EXPECT_EQ(img.format(), f);
    }
    QImage indexed(8, 8, QImage::Format_Indexed8);
    indexed.setColorTable({White});
    indexed.fill(0);
    Raster::Line(indexed, QPoint(0, 0), QPoint(7, 0), Red);
    EXPECT_EQ(indexed.pixel(3, 0), Red);
}

TEST(RasterCurves, BezierPassesThroughItsEndPoints) {
    QImage img = Blank(100, 100);
    const QList<QPoint> pts{QPoint(10, 50), QPoint(10, 10), QPoint(90, 10), QPoint(90, 50),
                            QPoint(90, 90), QPoint(10, 90), QPoint(10, 50)};
    Raster::PolyBezier(img, pts, Black);
    for (const QPoint& p : {pts[0], pts[3], pts[6]})
        EXPECT_EQ(img.pixel(p), Black) << p.x() << "," << p.y();
    EXPECT_NE(img.pixel(10, 10), Black); // control points pull the curve, it does not reach them
    // The closed chain holds a fill.
    Raster::FloodFill(img, QPoint(50, 50), Black, Red);
    EXPECT_EQ(img.pixel(0, 0), White);
    EXPECT_EQ(img.pixel(50, 50), Red);
}

TEST(RasterCurves, RedrawingASubChainCoversExactlyItsOwnPixels) {
    const QList<QPoint> pts{QPoint(5, 40),  QPoint(5, 5),   QPoint(60, 5),  QPoint(60, 40),
                            QPoint(60, 75), QPoint(20, 75), QPoint(30, 50), QPoint(35, 35),
                            QPoint(10, 45), QPoint(5, 40)};
    QImage alone = Blank(70, 80);
    Raster::PolyBezier(alone, pts.mid(3, 4), Black);
    QImage img = Blank(70, 80);
    Raster::PolyBezier(img, pts, Black);
    Raster::PolyBezier(img, pts.mid(3, 4), Red);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(alone.pixel(x, y) == Black, img.pixel(x, y) == Red) << x << "," << y;
}

TEST(RasterCurves, IncompleteTrailingGroupIsIgnored) {
    QImage img = Blank(50, 50);
    Raster::PolyBezier(img, {QPoint(1, 1), QPoint(20, 1), QPoint(40, 40)}, Black);
    EXPECT_EQ(Count(img, Black), 0);
    Raster::PolyBezier(img, {}, Black);
    EXPECT_EQ(Count(img, Black), 0);
}

TEST(RasterCurves, SquareIsCentredAndClipped) {
    QImage img = Blank(10, 10);
    Raster::Square3x3(img, QPoint(5, 5), Black);
    EXPECT_EQ(InkBounds(img, White), QRect(4, 4, 3, 3));
    EXPECT_EQ(Count(img, Black), 9);
    QImage corner = Blank(10, 10);
    Raster::Square3x3(corner, QPoint(0, 0), Black);
    EXPECT_EQ(Count(corner, Black), 4);
}

// --- Ellipses and rounded rectangles ------------------------------------------------------------

TEST(RasterShapes, EllipseStaysInsideItsBoxAndTouchesEverySide) {
    QImage img = Blank(60, 40);
    Raster::Ellipse(img, 10, 5, 50, 25, Black, Red);
    EXPECT_EQ(InkBounds(img, White), QRect(10, 5, 40, 20)); // right and bottom are outside
    EXPECT_EQ(img.pixel(30, 15), Red);
    EXPECT_EQ(img.pixel(10, 5), White); // the corners of the box are not part of it
    // Left-right and top-bottom symmetric.
    for (int y = 5; y < 25; ++y)
        for (int x = 10; x < 50; ++x) {
            ASSERT_EQ(img.pixel(x, y), img.pixel(59 - x, y)) << x << "," << y;
            ASSERT_EQ(img.pixel(x, y), img.pixel(x, 29 - y)) << x << "," << y;
        }
}

TEST(RasterShapes, EllipseOutlineIsClosedForAFill) {
    // Many sizes, thin and tiny ones too: a fill from outside never gets in.
    for (int w = 1; w <= 41; w += 4)
        for (int h = 1; h <= 41; h += 5) {
            QImage img = Blank(w + 10, h + 10);
            Raster::Ellipse(img, 5, 5, 5 + w, 5 + h, Black, std::nullopt);
            QImage outside = img;
            Raster::FloodFill(outside, QPoint(0, 0), Black, Red);
            const qsizetype inside = Count(outside, White);
            Raster::Ellipse(img, 5, 5, 5 + w, 5 + h, Black, Green);
            ASSERT_EQ(inside, Count(img, Green)) << w << "x" << h;
        }
}

TEST(RasterShapes, EllipseWithoutBrushLeavesTheInsideAlone) {
    QImage img = Blank(40, 40, Green);
    Raster::Ellipse(img, 0, 0, 40, 40, Black, std::nullopt);
    EXPECT_EQ(img.pixel(20, 20), Green);
    EXPECT_EQ(img.pixel(0, 20), Black);
}

TEST(RasterShapes, EmptyBoxesDrawNothing) {
    QImage img = Blank(20, 20);
    Raster::Ellipse(img, 5, 5, 5, 15, Black, Red);
    Raster::RoundRect(img, 10, 10, 4, 4, 2, 2, Black, Red);
    EXPECT_EQ(Count(img, White), 400);
}

TEST(RasterShapes, RoundRectWithoutCornersIsARectangle) {
    QImage img = Blank(30, 30);
    Raster::RoundRect(img, 2, 3, 22, 13, 0, 0, Black, Red);
    EXPECT_EQ(InkBounds(img, White), QRect(2, 3, 20, 10));
    EXPECT_EQ(Count(img, Black), 2 * 20 + 2 * 8);
    EXPECT_EQ(Count(img, Red), 18 * 8);
}

TEST(RasterShapes, RoundRectCutsItsCornersOnly) {
    QImage img = Blank(60, 40);
    Raster::RoundRect(img, 0, 0, 60, 40, 20, 20, Black, Red);
    EXPECT_EQ(img.pixel(0, 0), White);
    EXPECT_EQ(img.pixel(2, 2), White);
    EXPECT_EQ(img.pixel(30, 0), Black);  // straight top edge
    EXPECT_EQ(img.pixel(0, 20), Black);  // straight left edge
    EXPECT_EQ(img.pixel(59, 20), Black); // right edge at right - 1
    EXPECT_EQ(img.pixel(30, 20), Red);
    QImage outside = img;
    Raster::FloodFill(outside, QPoint(0, 0), Black, Green);
    EXPECT_EQ(Count(outside, Red), Count(img, Red)); // closed
}

TEST(RasterShapes, OversizedCornersBecomeAnEllipse) {
    QImage a = Blank(50, 30), b = Blank(50, 30);
    Raster::RoundRect(a, 5, 5, 45, 25, 400, 400, Black, Red);
    Raster::Ellipse(b, 5, 5, 45, 25, Black, Red);
    EXPECT_EQ(a, b);
}

TEST(RasterShapes, ShapesPartlyOutsideAreClipped) {
    QImage img = Blank(30, 30);
    Raster::Ellipse(img, -20, -20, 20, 20, Black, Red);
    EXPECT_EQ(img.pixel(0, 0), Red);
    EXPECT_EQ(img.pixel(29, 29), White);
    Raster::RoundRect(img, 10, 10, 100000, 100000, 8, 8, Black, Green);
    EXPECT_EQ(img.pixel(29, 29), Green); // the far edges lie outside the image
}

// --- Flood fill ---------------------------------------------------------------------------------

TEST(RasterFloodFill, FillsAWholeLargeOpenImage) {
    QImage img = Blank(4000, 3000);
    Raster::FloodFill(img, QPoint(1234, 2345), Black, Red);
    EXPECT_EQ(Count(img, Red), qsizetype(4000) * 3000);
}

TEST(RasterFloodFill, FollowsAWindingCorridorWithoutRecursion) {
    // A serpentine of 1-pixel walls: the fill has to turn at every wall end.
    QImage img = Blank(2001, 1500);
    for (int x = 1; x < 2000; x += 2) {
        const bool fromTop = (x / 2) % 2 == 0;
        Raster::Line(img, QPoint(x, fromTop ? 0 : 1), QPoint(x, fromTop ? 1498 : 1499), Black);
    }
    const qsizetype open = Count(img, White);
    Raster::FloodFill(img, QPoint(0, 0), Black, Red);
    EXPECT_EQ(Count(img, Red), open);
}

TEST(RasterFloodFill, StopsAtAnEllipseOutline) {
    QImage img = Blank(300, 200, Green);
    Raster::Ellipse(img, 20, 10, 280, 190, Black, std::nullopt);
    const QImage before = img;
    Raster::FloodFill(img, QPoint(150, 100), Black, Red);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (before.pixel(x, y) == Black) {
                ASSERT_EQ(img.pixel(x, y), Black);
            }
            if (img.pixel(x, y) == Red)
                continue;
            ASSERT_EQ(img.pixel(x, y), before.pixel(x, y)) << x << "," << y;
        }
    EXPECT_EQ(img.pixel(0, 0), Green);
    EXPECT_EQ(img.pixel(21, 100), Red);
}

TEST(RasterFloodFill, PassesThroughPixelsOfTheFillColourAndAnyOtherColour) {
    QImage img = Blank(50, 50);
    Raster::Line(img, QPoint(0, 25), QPoint(49, 25), Red);   // already the fill colour
    Raster::Line(img, QPoint(25, 0), QPoint(25, 49), Green); // another colour
    Raster::FloodFill(img, QPoint(3, 3), Black, Red);
    EXPECT_EQ(Count(img, Red), 2500);
}

TEST(RasterFloodFill, SeedOutsideOrOnTheBorderDoesNothing) {
    QImage img = Blank(20, 20);
    Raster::Line(img, QPoint(0, 10), QPoint(19, 10), Black);
    const QImage before = img;
    Raster::FloodFill(img, QPoint(-1, 5), Black, Red);
    Raster::FloodFill(img, QPoint(20, 5), Black, Red);
    Raster::FloodFill(img, QPoint(5, 20), Black, Red);
    Raster::FloodFill(img, QPoint(5, 10), Black, Red);
    EXPECT_EQ(img, before);
    QImage empty;
    Raster::FloodFill(empty, QPoint(0, 0), Black, Red);
    EXPECT_TRUE(empty.isNull());
}

TEST(RasterFloodFill, StaysInsideTheLimit) {
    QImage img = Blank(40, 40);
    Raster::FloodFill(img, QPoint(10, 10), Black, Red, QRect(5, 5, 10, 20));
    EXPECT_EQ(Count(img, Red), 200);
    EXPECT_EQ(InkBounds(img, White), QRect(5, 5, 10, 20));
    QImage other = Blank(40, 40);
    Raster::FloodFill(other, QPoint(1, 1), Black, Red, QRect(5, 5, 10, 20)); // seed outside it
    EXPECT_EQ(Count(other, Red), 0);
}

TEST(RasterFloodFill, ComparesColoursWithoutAlpha) {
    QImage img = Blank(20, 20, 0x00FFFFFFu, QImage::Format_ARGB32);
    Raster::Line(img, QPoint(0, 10), QPoint(19, 10), 0x80000000u); // black, half transparent
    Raster::FloodFill(img, QPoint(5, 5), Black, Red);
    EXPECT_EQ(Count(img, Red), 200);
    EXPECT_EQ(img.pixel(5, 15), 0x00FFFFFFu);
}

TEST(RasterFloodFill, DiagonalStepsOfALineHoldTheFill) {
    QImage img = Blank(40, 40);
    Raster::Line(img, QPoint(0, 39), QPoint(39, 0), Black); // 8-connected staircase
    Raster::FloodFill(img, QPoint(0, 0), Black, Red);
    EXPECT_EQ(img.pixel(39, 39), White);
    EXPECT_EQ(Count(img, Red), (40 * 39) / 2);
}

// --- Text ---------------------------------------------------------------------------------------

namespace {
QFont TestFont() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(16);
    return f;
}
} // namespace

TEST(RasterText, AlignmentPlacesTheLineInTheBox) {
    const QRect box(10, 10, 200, 40);
    QImage left = Blank(220, 60), right = Blank(220, 60), centre = Blank(220, 60);
    Raster::DrawTextInRect(left, box, TestFont(), Qt::black, Qt::AlignLeft, false, "Hello");
    Raster::DrawTextInRect(right, box, TestFont(), Qt::black, Qt::AlignRight, false, "Hello");
    Raster::DrawTextInRect(centre, box, TestFont(), Qt::black, Qt::AlignHCenter, false, "Hello");
    const QRect l = InkBounds(left, White), r = InkBounds(right, White),
                c = InkBounds(centre, White);
    EXPECT_LE(std::abs(l.left() - box.left()), 3);
    EXPECT_LE(std::abs(r.right() - box.right()), 3);
    EXPECT_LE(std::abs(c.center().x() - box.center().x()), 3);
    EXPECT_EQ(l.width(), r.width());
    EXPECT_LT(l.top(), box.top() + 8); // top-aligned
}

TEST(RasterText, WordWrapAndLineBreaksMakeLines) {
    const QRect box(0, 0, 90, 200);
    QImage one = Blank(300, 200), wrapped = Blank(300, 200), broken = Blank(300, 200);
    const QString text = QStringLiteral("several words of text");
    Raster::DrawTextInRect(one, box.adjusted(0, 0, 200, 0), TestFont(), Qt::black, Qt::AlignLeft,
                           false, text);
    Raster::DrawTextInRect(wrapped, box, TestFont(), Qt::black, Qt::AlignLeft, true, text);
    Raster::DrawTextInRect(broken, box.adjusted(0, 0, 200, 0), TestFont(), Qt::black, Qt::AlignLeft,
                           false, "one\r\ntwo\rthree");
    EXPECT_GT(InkBounds(wrapped, White).height(), 2 * InkBounds(one, White).height());
    EXPECT_LE(InkBounds(wrapped, White).right(), box.right());
    EXPECT_GT(InkBounds(broken, White).height(), 2 * InkBounds(one, White).height());
}

TEST(RasterText, TabsAreExpandedAndTextIsClippedToTheBox) {
    QImage plain = Blank(300, 40), tabbed = Blank(300, 40);
    Raster::DrawTextInRect(plain, QRect(0, 0, 300, 40), TestFont(), Qt::black, Qt::AlignLeft, false,
                           "a b");
    Raster::DrawTextInRect(tabbed, QRect(0, 0, 300, 40), TestFont(), Qt::black, Qt::AlignLeft,
                           false, "a\tb");
    EXPECT_GT(InkBounds(tabbed, White).width(), InkBounds(plain, White).width() + 10);

    QImage clipped = Blank(300, 40);
    Raster::DrawTextInRect(clipped, QRect(0, 0, 30, 40), TestFont(), Qt::black, Qt::AlignLeft,
                           false, "a long line of text");
    EXPECT_LT(InkBounds(clipped, White).right(), 30);
}

TEST(RasterText, AmpersandIsDrawnAsIs) {
    QImage amp = Blank(200, 40), plain = Blank(200, 40);
    Raster::DrawTextInRect(amp, QRect(0, 0, 200, 40), TestFont(), Qt::black, Qt::AlignLeft, false,
                           "A&B");
    Raster::DrawTextInRect(plain, QRect(0, 0, 200, 40), TestFont(), Qt::black, Qt::AlignLeft, false,
                           "AB");
    EXPECT_GT(InkBounds(amp, White).width(), InkBounds(plain, White).width() + 5);
}
