// Outline, shadow, plate, box colour and automatic contrast of a text brick, measured on the
// pixels of generated photos (flat white, flat black, busy blocks of random colours): the ink
// against what surrounds it, where the stroke and the shadow lie, how opaque the plate is. The
// expected figures come from the properties by hand (percent of the font's line spacing as Qt
// reports it, alpha blending, the relative luminance formula), not from the drawing code.
#include "bricks/BrickPlacement.h"

#include <QFontMetricsF>
#include <QImage>
#include <QRandomGenerator>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr QSize kPhoto(480, 240);

QImage flat(QRgb colour) {
    QImage image(kPhoto, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Blocks of 6 x 6 pixels in random colours: no single text colour reads on all of it.
QImage busy() {
    QImage image(kPhoto, QImage::Format_RGB32);
    QRandomGenerator random(23);
    for (int by = 0; by < kPhoto.height(); by += 6)
        for (int bx = 0; bx < kPhoto.width(); bx += 6) {
            const QRgb c = qRgb(random.bounded(256), random.bounded(256), random.bounded(256));
            for (int y = by; y < std::min(by + 6, kPhoto.height()); ++y)
                for (int x = bx; x < std::min(bx + 6, kPhoto.width()); ++x)
                    image.setPixel(x, y, c);
        }
    return image;
}

struct Photo {
    const char* name;
    QImage image;
};

QList<Photo> photos() {
    return {{"white", flat(qRgb(255, 255, 255))},
            {"black", flat(qRgb(0, 0, 0))},
            {"busy", busy()}};
}

QFont font() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(60);
    f.setBold(true);
    return f;
}

double lineSpacing() {
    return QFontMetricsF(font()).lineSpacing();
}

BrickData brick(TColor colour) {
    BrickData b;
    b.kind = BrickKind::Text;
    b.left = 80;
    b.top = 70;
    b.text = b.caption = QStringLiteral("HOH");
    b.font = font();
    b.fontColor = colour;
    b.stale = true; // measured when placed
    return b;
}

struct Drawn {
    QImage image;
    BrickPlacement placement;
};

Drawn draw(const QImage& photo, const BrickData& b) {
    Drawn d{photo.copy(), PlaceBrick(b, {photo.size(), 1.0, 1.0, {}})};
    DrawPlacedBrick(d.image, d.placement, QPoint(), photo.size());
    return d;
}

int channelDistance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

using Mask = std::vector<char>;

Mask maskOf(const QImage& image, const std::function<bool(int x, int y)>& in) {
    Mask m(size_t(image.width() * image.height()), 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            m[size_t(y * image.width() + x)] = in(x, y) ? 1 : 0;
    return m;
}

// Pixels within a square of radius r of the mask.
Mask dilated(const Mask& m, int w, int h, int r) {
    Mask out(m.size(), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!m[size_t(y * w + x)])
                continue;
            for (int yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
                for (int xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx)
                    out[size_t(yy * w + xx)] = 1;
        }
    return out;
}

int count(const Mask& m) {
    return int(std::count(m.begin(), m.end(), 1));
}

double luminance(QRgb c) {
    const auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

double contrastRatio(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// The median contrast between the ink's core (pixels of the fill colour) and the pixels just
// outside it, 2 to 3 pixels away: what an eye reads a letter's edge against.
double edgeContrast(const QImage& image, QRgb fill) {
    const int w = image.width(), h = image.height();
    const Mask core =
        maskOf(image, [&](int x, int y) { return channelDistance(image.pixel(x, y), fill) < 24; });
    const Mask near = dilated(core, w, h, 1), far = dilated(core, w, h, 3);
    std::vector<double> ratios;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y * w + x);
            if (far[i] && !near[i])
                ratios.push_back(contrastRatio(image.pixel(x, y), fill));
        }
    return median(ratios);
}

} // namespace

TEST(Readability, OutlineSurroundsTheGlyphsAtItsWidthOnEveryPhoto) {
    for (const Photo& photo : photos()) {
        SCOPED_TRACE(photo.name);
        BrickData b = brick(0x0000FF); // red (TColor is BGR)
        const QImage plain = draw(photo.image, b).image;
        b.readability.outline = 0xFF0000; // blue
        b.readability.outlineWidth = 10;
        const Drawn d = draw(photo.image, b);
        const int w = d.image.width(), h = d.image.height();
        const auto isBlue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 50 && qGreen(c) < 50; };
        const auto isRed = [](QRgb c) { return qRed(c) > 200 && qBlue(c) < 50 && qGreen(c) < 50; };
        const Mask red = maskOf(d.image, [&](int x, int y) {
            return isRed(d.image.pixel(x, y)) && !isRed(photo.image.pixel(x, y));
        });
        const Mask blueBefore =
            maskOf(plain, [&](int x, int y) { return isBlue(plain.pixel(x, y)); });
        const Mask blue = maskOf(d.image, [&](int x, int y) {
            return isBlue(d.image.pixel(x, y)) && !blueBefore[size_t(y * w + x)];
        });
        const double width = 0.10 * lineSpacing();
        ASSERT_GT(count(red), 500);
        // Every new blue pixel lies within the stroke's width of the letters...
        const Mask reach = dilated(red, w, h, int(std::ceil(width)) + 2);
        int outside = 0;
        for (size_t i = 0; i < blue.size(); ++i)
            outside += blue[i] && !reach[i];
        EXPECT_EQ(outside, 0);
        // ...and the ring is there: on a row through the middle of the first H's stem, the
        // solid blue left of it is about the width.
        int row = -1, stem = -1;
        for (int y = 0; y < h && row < 0; ++y)
            for (int x = 0; x < w; ++x)
                if (red[size_t(y * w + x)]) {
                    row = y + 25; // well below the top of the letter
                    break;
                }
        ASSERT_GE(row, 0);
        for (int x = 0; x < w; ++x)
            if (red[size_t(row * w + x)]) {
                stem = x;
                break;
            }
        ASSERT_GT(stem, 0);
        // The letter's own smoothed edge pixel first, then the stroke.
        int x = stem - 1, solid = 0;
        while (x > 0 && !isBlue(d.image.pixel(x, row)) && stem - x <= 2)
            --x;
        for (; x >= 0 && isBlue(d.image.pixel(x, row)); --x)
            ++solid;
        EXPECT_GE(solid, width - 3) << "line spacing " << lineSpacing();
        EXPECT_LE(solid, width + 1) << "line spacing " << lineSpacing();
    }
}

TEST(Readability, ShadowFallsBelowRightByItsOffsetSoftenedAndTurnsWithTheText) {
    for (const Photo& photo : photos()) {
        SCOPED_TRACE(photo.name);
        for (const int angle : {0, 900}) {
            SCOPED_TRACE(angle);
            BrickData b = brick(0xFF0000); // blue text
            b.angle = angle;
            b.top = 30;
            const QImage plain = draw(photo.image, b).image;
            b.readability.shadow = 0x00C000; // green shadow
            b.readability.shadowOffset = 12;
            const Drawn d = draw(photo.image, b);
            // The shadow: what changed against the same text without one.
            double sx = 0, sy = 0, n = 0, tx = 0, ty = 0, m = 0;
            int soft = 0;
            for (int y = 0; y < d.image.height(); ++y)
                for (int x = 0; x < d.image.width(); ++x) {
                    const QRgb was = plain.pixel(x, y), now = d.image.pixel(x, y);
                    if (channelDistance(was, photo.image.pixel(x, y)) > 40) {
                        tx += x;
                        ty += y;
                        ++m;
                    }
                    const int change = channelDistance(was, now);
                    if (change > 30) {
                        sx += x;
                        sy += y;
                        ++n;
                    }
                    // Partly covered pixels: a blurred edge, not a hard copy of the glyphs.
                    if (change > 10 && change < 100)
                        ++soft;
                }
            ASSERT_GT(n, 300);
            ASSERT_GT(m, 300);
            const double dx = sx / n - tx / m, dy = sy / n - ty / m;
            const double offset = 0.12 * lineSpacing();
            // Below-right of the text in its own frame; turned a quarter clockwise, below-left.
            const double wantX = angle == 0 ? offset : -offset;
            EXPECT_NEAR(dx, wantX, 0.45 * offset);
            EXPECT_NEAR(dy, offset, 0.45 * offset);
            EXPECT_GT(soft, n / 10);
        }
    }
}

TEST(Readability, PlateHasItsOpacityAndPaddingOnEveryPhoto) {
    for (const Photo& photo : photos()) {
        SCOPED_TRACE(photo.name);
        BrickData b = brick(0x000000);
        b.readability.backdrop = 0xFFFFFF; // white plate
        const Drawn d = draw(photo.image, b);
        const QRectF box = d.placement.Bounds();
        const double pad = 0.25 * lineSpacing();
        // Inside the padding, level with the middle of the box, away from the round corners.
        const int y = int(box.center().y());
        for (const int x : {int(box.left() - pad / 2), int(box.right() + pad / 2)}) {
            const QRgb under = photo.image.pixel(x, y), got = d.image.pixel(x, y);
            // white at alpha 160 over the photo: c * 95/255 + 255 * 160/255
            const auto want = [](int c) { return c * 95.0 / 255 + 160.0; };
            EXPECT_NEAR(qRed(got), want(qRed(under)), 2.5) << x;
            EXPECT_NEAR(qGreen(got), want(qGreen(under)), 2.5) << x;
            EXPECT_NEAR(qBlue(got), want(qBlue(under)), 2.5) << x;
        }
        // Beyond the padding the photo is untouched.
        for (const int x : {int(box.left() - 1.6 * pad), int(box.right() + 1.6 * pad)})
            EXPECT_EQ(d.image.pixel(x, y), photo.image.pixel(x, y)) << x;
        // A black plate at opacity 200: c * 55/255.
        b.readability.backdrop = 0x000000;
        b.readability.backdropOpacity = 200;
        const QImage dark = draw(photo.image, b).image;
        const int x = int(box.left() - pad / 2);
        EXPECT_NEAR(qGreen(dark.pixel(x, y)), qGreen(photo.image.pixel(x, y)) * 55.0 / 255, 2.5);
    }
}

TEST(Readability, AutomaticContrastPicksTheInkThatReadsAndOutlineTakesTheOther) {
    for (const Photo& photo : photos()) {
        SCOPED_TRACE(photo.name);
        BrickData b = brick(0x808080); // mid grey: poor on busy blocks
        const double greyEdge = edgeContrast(draw(photo.image, b).image, qRgb(128, 128, 128));
        b.readability.autoContrast = true;
        b.readability.outline = 0x0000FF; // any colour: it takes the other of black and white
        const Drawn d = draw(photo.image, b);
        const bool onWhite = photo.image.pixel(0, 0) == qRgb(255, 255, 255);
        const bool onBlack = photo.image.pixel(0, 0) == qRgb(0, 0, 0);
        // By hand: the mean relative luminance under the box against the 0.179 at which black
        // and white text contrast alike.
        double sum = 0;
        int n = 0;
        const QRect under = d.placement.Bounds().toAlignedRect();
        for (int y = under.top(); y <= under.bottom(); ++y)
            for (int x = under.left(); x <= under.right(); ++x, ++n)
                sum += luminance(photo.image.pixel(x, y));
        const bool dark = sum / n > 0.179;
        EXPECT_EQ(dark, !onBlack);
        const QRgb fill = dark ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
        const QRgb other = dark ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        int fillPixels = 0, otherPixels = 0;
        const QRect box = d.placement.Bounds().toAlignedRect().adjusted(-8, -8, 8, 8);
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) {
                fillPixels += d.image.pixel(x, y) == fill;
                otherPixels += d.image.pixel(x, y) == other;
            }
        EXPECT_GT(fillPixels, 500);
        if (!onWhite && !onBlack) {
            EXPECT_GT(otherPixels, 300); // the outline, in the other colour
        }
        // The letters' edge against what is right around them: black on white or white on black
        // reads at the full 21:1 where a flat photo shows; the outline makes a busy one so.
        const double edge = edgeContrast(d.image, fill);
        EXPECT_GT(edge, 15.0);
        if (!onWhite && !onBlack) {
            EXPECT_GT(edge, greyEdge * 2) << "grey text's edge " << greyEdge;
        }
    }
}

TEST(Readability, ContrastChoiceFollowsRelativeLuminance) {
    // (L + 0.05) / 0.05 = 1.05 / (L + 0.05) at L = 0.179, sRGB 117.5 in grey.
    const BrickPlacement p = PlaceBrick(brick(0), {kPhoto, 1.0, 1.0, {}});
    using C = BrickPlacement::Contrast;
    EXPECT_EQ(ChooseContrast(p, flat(qRgb(119, 119, 119))), C::Dark);
    EXPECT_EQ(ChooseContrast(p, flat(qRgb(116, 116, 116))), C::Light);
    // Green counts for most of the luminance, blue for little.
    EXPECT_EQ(ChooseContrast(p, flat(qRgb(0, 160, 0))), C::Dark);
    EXPECT_EQ(ChooseContrast(p, flat(qRgb(0, 0, 255))), C::Light);
    // Only what lies under the box counts: a dark photo with a light patch under the brick.
    QImage patched = flat(qRgb(10, 10, 10));
    const QRect box = p.Bounds().toAlignedRect();
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            patched.setPixel(x, y, qRgb(240, 240, 240));
    EXPECT_EQ(ChooseContrast(p, patched), C::Dark);
    // A photo at half the target's size, placed at an offset, is looked at where the box is.
    EXPECT_EQ(ChooseContrast(p, patched.scaled(kPhoto / 2), {}, 2.0), C::Dark);
}

TEST(Readability, OpaqueBoxIsPaintedInItsColour) {
    BrickData b = brick(0x000000);
    b.transparent = false;
    b.color = 0x00FFFF; // yellow
    const QImage photo = busy();
    const Drawn d = draw(photo, b);
    const QRect box = d.placement.Bounds().toAlignedRect();
    EXPECT_EQ(d.image.pixel(box.left() + 1, box.top() + 1), qRgb(255, 255, 0));
    EXPECT_EQ(d.image.pixel(box.right() - 1, box.bottom() - 1), qRgb(255, 255, 0));
    EXPECT_EQ(d.image.pixel(box.left() - 2, box.top() + 2), photo.pixel(box.left() - 2, box.top() + 2));
    // Transparent (the default): the photo shows between the letters.
    b.transparent = true;
    const QImage clear = draw(photo, b).image;
    EXPECT_EQ(clear.pixel(box.left() + 1, box.top() + 1), photo.pixel(box.left() + 1, box.top() + 1));
}

TEST(Readability, FootprintHoldsEveryChangedPixel) {
    // What the keep-quality write re-encodes must cover all that was drawn.
    const QImage photo = flat(qRgb(128, 128, 128));
    for (const int angle : {0, 450, -900, 1800}) {
        SCOPED_TRACE(angle);
        BrickData b = brick(0xFFFFFF);
        b.angle = angle;
        b.left = 160;
        b.top = 40;
        b.readability.outline = 0x000000;
        b.readability.outlineWidth = 20;
        b.readability.shadow = 0x000000;
        b.readability.shadowOffset = 30;
        b.readability.backdrop = 0x0000FF;
        b.readability.backdropPadding = 40;
        const Drawn d = draw(photo, b);
        const QRectF footprint = PlacedFootprint(d.placement, photo.size());
        EXPECT_TRUE(footprint.contains(d.placement.Bounds()));
        QRect changed;
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                if (d.image.pixel(x, y) != photo.pixel(x, y))
                    changed |= QRect(x, y, 1, 1);
        ASSERT_FALSE(changed.isEmpty());
        EXPECT_TRUE(footprint.adjusted(-0.5, -0.5, 0.5, 0.5).contains(QRectF(changed)))
            << "changed " << changed.x() << "," << changed.y() << " " << changed.width() << "x"
            << changed.height() << " footprint " << footprint.x() << "," << footprint.y() << " "
            << footprint.width() << "x" << footprint.height();
        // Larger than the box: the plate's padding at least on each side.
        const double pad = 0.40 * lineSpacing();
        EXPECT_GE(footprint.width(), d.placement.Bounds().width() + pad);
    }
}

TEST(Readability, BandSidesTakeBricksAnchoredToTheirEdge) {
    // A 480 x 240 photo with a bottom band of 250 per mille: 60 rows below it.
    TCaptionBand band;
    band.on = true;
    band.size = 250;
    const PlacementTarget target = TargetWithBand(kPhoto, band);
    EXPECT_EQ(target.size, QSize(480, 300));
    EXPECT_EQ(target.band, QRect(0, 240, 480, 60));
    BrickData b = brick(0);
    b.layout.anchor = Tk::baBottomRight;
    b.layout.marginX = b.layout.marginY = 50; // 12 pixels of the 240 shorter side
    const QRectF bottom = PlaceBrick(b, target).Bounds();
    EXPECT_NEAR(bottom.right(), 480 - 12, 1.0);
    EXPECT_NEAR(bottom.bottom(), 300 - 12, 1.0);
    b.layout.anchor = Tk::baTopLeft;
    const QRectF top = PlaceBrick(b, target).Bounds();
    EXPECT_NEAR(top.left(), 12, 1.0);
    EXPECT_NEAR(top.top(), 12, 1.0);
    // A band on top takes the top anchors; the photo, below it, the others.
    band.edge = TCaptionBand::Edge::Top;
    const PlacementTarget above = TargetWithBand(kPhoto, band);
    EXPECT_EQ(above.band, QRect(0, 0, 480, 60));
    EXPECT_NEAR(PlaceBrick(b, above).Bounds().top(), 12, 1.0);
    b.layout.anchor = Tk::baBottomLeft;
    EXPECT_NEAR(PlaceBrick(b, above).Bounds().bottom(), 300 - 12, 1.0);
    b.layout.anchor = Tk::baLeft;
    b.layout.marginY = 0;
    EXPECT_NEAR(PlaceBrick(b, above).Bounds().center().y(), 60 + 240 / 2.0, 1.0);
    // Margins and sizes are parts of the photo's shorter side, not of the taller canvas.
    b.layout.relativeSize = 100; // a line of 24 pixels
    EXPECT_NEAR(QFontMetricsF(PlaceBrick(b, above).brick.font).lineSpacing(), 24, 1.0);
}
