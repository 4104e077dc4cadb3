#include "platform/ColorMatrix.h"
#include "tests/support/TestSupport.h"

#include <QRandomGenerator>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

QImage RandomImage(int w, int h, QImage::Format format, quint32 seed) {
    QRandomGenerator rng(seed);
    QImage img(w, h, format);
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            row[x] =
                format == QImage::Format_RGB32 ? (0xFF000000u | rng.generate()) : rng.generate();
    }
    return img;
}

QImage OnePixel(QRgb p, QImage::Format format = QImage::Format_ARGB32) {
    QImage img(1, 1, format);
    img.setPixel(0, 0, p);
    return img;
}

QRgb Apply(QRgb p, const ColorMatrix& m, QImage::Format format = QImage::Format_ARGB32) {
    return ApplyColorMatrix(OnePixel(p, format), m).pixel(0, 0);
}

} // namespace

TEST(ColorMatrixIdentity, KeepsEveryPixel) {
    for (QImage::Format f : {QImage::Format_RGB32, QImage::Format_ARGB32}) {
        const QImage src = RandomImage(67, 13, f, 5);
        const QImage out = ApplyColorMatrix(src, IdentityColorMatrix());
        EXPECT_EQ(out.format(), f);
        EXPECT_EQ(out, src);
    }
}

TEST(ColorMatrixIdentity, FullSizeImagesKeepEveryPixel) {
    // Big enough for the large-buffer allocation path, both with and without a shared copy.
    const QImage src = RandomImage(1800, 1200, QImage::Format_RGB32, 9);
    EXPECT_EQ(ApplyColorMatrix(src, IdentityColorMatrix()), src);
    QImage shared = src;
    ApplyColorMatrixInPlace(shared, IdentityColorMatrix());
    EXPECT_EQ(shared, src);
    ColorMatrix m = IdentityColorMatrix();
    m[4][0] = 1.0f;
    ApplyColorMatrixInPlace(shared, m);
    EXPECT_EQ(qRed(shared.pixel(17, 1100)), 255);
    EXPECT_EQ(src.pixel(17, 1100),
              RandomImage(1800, 1200, QImage::Format_RGB32, 9).pixel(17, 1100));
}

TEST(ColorMatrixIdentity, IdentityHasOnesOnTheDiagonalOnly) {
    const ColorMatrix m = IdentityColorMatrix();
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(m[i][j], i == j ? 1.0f : 0.0f);
}

TEST(ColorMatrixAlpha, AlphaFactorScalesAlphaOnly) {
    ColorMatrix m = IdentityColorMatrix();
    m[3][3] = 0.5f;
    EXPECT_EQ(Apply(qRgba(10, 20, 30, 200), m), qRgba(10, 20, 30, 100));
    EXPECT_EQ(Apply(qRgba(10, 20, 30, 255), m), qRgba(10, 20, 30, 128)); // 127.5 to even
    EXPECT_EQ(Apply(qRgba(10, 20, 30, 101), m), qRgba(10, 20, 30, 50));  // 50.5 to even
    EXPECT_EQ(Apply(qRgba(10, 20, 30, 0), m), qRgba(10, 20, 30, 0));
}

TEST(ColorMatrixAlpha, Rgb32StaysOpaqueAndReadsAlphaAsOne) {
    ColorMatrix m = IdentityColorMatrix();
    m[3][3] = 0.0f;
    m[3][0] = 0.2f; // red += 0.2 * alpha
    const QImage out = ApplyColorMatrix(OnePixel(qRgb(100, 20, 30), QImage::Format_RGB32), m);
    EXPECT_EQ(out.format(), QImage::Format_RGB32);
    EXPECT_EQ(out.pixel(0, 0), qRgb(151, 20, 30));
    // With straight alpha the same row sees the pixel's own alpha (0 here).
    EXPECT_EQ(Apply(qRgba(100, 20, 30, 0), m), qRgba(100, 20, 30, 0));
}

TEST(ColorMatrixAlpha, AlphaCanBeComputedFromColour) {
    ColorMatrix m = IdentityColorMatrix();
    m[3][3] = 0.0f;
    m[1][3] = 1.0f; // alpha := green
    EXPECT_EQ(Apply(qRgba(1, 77, 3, 255), m), qRgba(1, 77, 3, 77));
}

TEST(ColorMatrixOffsets, OffsetsAreScaledToTheChannelRange) {
    ColorMatrix m = IdentityColorMatrix();
    m[4][0] = 0.2f;  // +51
    m[4][1] = -0.1f; // -25.5
    m[4][2] = 1.0f;
    EXPECT_EQ(Apply(qRgb(100, 100, 0), m, QImage::Format_RGB32), qRgb(151, 74, 255)); // 74.5
}

TEST(ColorMatrixOffsets, ResultsClampAtBothEnds) {
    ColorMatrix m = IdentityColorMatrix();
    m[4][0] = 0.2f;
    m[4][1] = -0.5f;
    m[2][2] = 3.0f;
    EXPECT_EQ(Apply(qRgb(250, 100, 200), m, QImage::Format_RGB32), qRgb(255, 0, 255));
    EXPECT_EQ(Apply(qRgb(0, 127, 1), m, QImage::Format_RGB32), qRgb(51, 0, 3));
    m[4][3] = -2.0f;
    EXPECT_EQ(qAlpha(Apply(qRgba(0, 0, 0, 255), m)), 0);
}

TEST(ColorMatrixOffsets, NonFiniteResultsClampToZero) {
    ColorMatrix m = IdentityColorMatrix();
    m[0][0] = std::numeric_limits<float>::quiet_NaN();
    m[1][1] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(Apply(qRgb(9, 9, 9), m, QImage::Format_RGB32), qRgb(0, 255, 9));
}

TEST(ColorMatrixChannels, RowsAreInputsAndColumnsAreOutputs) {
    ColorMatrix m{};
    m[0][2] = 1.0f; // red -> blue
    m[2][0] = 1.0f; // blue -> red
    m[0][1] = 0.5f; // half of red into green
    m[3][3] = 1.0f;
    EXPECT_EQ(Apply(qRgba(200, 99, 7, 33), m), qRgba(7, 100, 200, 33));
}

TEST(ColorMatrixFormats, PremultipliedIsTransformedOnStraightColours) {
    QImage img(1, 1, QImage::Format_ARGB32_Premultiplied);
    img.setPixel(0, 0, qRgba(100, 50, 0, 128)); // premultiplied values
    ColorMatrix m = IdentityColorMatrix();
    const QImage same = ApplyColorMatrix(img, m);
    EXPECT_EQ(same.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(same.pixel(0, 0), img.pixel(0, 0));

    m[4][2] = 1.0f; // blue to full in straight colour: premultiplied blue = alpha
    const QImage out = ApplyColorMatrix(img, m);
    EXPECT_EQ(qBlue(out.pixel(0, 0)), 128);
    EXPECT_EQ(qAlpha(out.pixel(0, 0)), 128);
}

TEST(ColorMatrixFormats, IndexedImagesKeepTheirIndicesAndChangeTheirTable) {
    QImage img(2, 1, QImage::Format_Indexed8);
    img.setColorTable({qRgb(10, 20, 30), qRgb(200, 200, 200)});
    img.setPixel(0, 0, 1);
    img.setPixel(1, 0, 0);
    ColorMatrix m = IdentityColorMatrix();
    m[4][0] = 0.2f;
    const QImage out = ApplyColorMatrix(img, m);
    EXPECT_EQ(out.format(), QImage::Format_Indexed8);
    EXPECT_EQ(out.pixelIndex(0, 0), 1);
    EXPECT_EQ(out.pixel(0, 0), qRgb(251, 200, 200));
    EXPECT_EQ(out.pixel(1, 0), qRgb(61, 20, 30));
}

TEST(ColorMatrixFormats, OtherFormatsRoundTrip) {
    QImage rgb888(1, 1, QImage::Format_RGB888);
    rgb888.setPixel(0, 0, qRgb(1, 2, 3));
    ColorMatrix m = IdentityColorMatrix();
    m[4][1] = 0.2f;
    const QImage out = ApplyColorMatrix(rgb888, m);
    EXPECT_EQ(out.format(), QImage::Format_RGB888);
    EXPECT_EQ(out.pixel(0, 0), qRgb(1, 53, 3));

    QImage grey(1, 1, QImage::Format_Grayscale8);
    grey.fill(100);
    const QImage coloured = ApplyColorMatrix(grey, m);
    EXPECT_EQ(coloured.format(), QImage::Format_RGB32);
    EXPECT_EQ(coloured.pixel(0, 0), qRgb(100, 151, 100));
}

TEST(ColorMatrixFormats, SourceIsLeftAloneAndNullStaysNull) {
    const QImage src = OnePixel(qRgb(1, 2, 3), QImage::Format_RGB32);
    ColorMatrix m = IdentityColorMatrix();
    m[4][0] = 1.0f;
    const QImage out = ApplyColorMatrix(src, m);
    EXPECT_EQ(src.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(out.pixel(0, 0), qRgb(255, 2, 3));

    QImage in = src;
    ApplyColorMatrixInPlace(in, m);
    EXPECT_EQ(in.pixel(0, 0), qRgb(255, 2, 3));
    EXPECT_EQ(src.pixel(0, 0), qRgb(1, 2, 3)) << "a shared copy is detached, not written through";

    QImage null;
    ApplyColorMatrixInPlace(null, m);
    EXPECT_TRUE(null.isNull());
}

TEST(ColorMatrixRows, EveryPixelOfALongRowIsTransformed) {
    // Odd widths cover the tails left over by vectorised loops.
    for (int w : {1, 3, 7, 17, 33}) {
        QImage img(w, 2, QImage::Format_ARGB32);
        for (int x = 0; x < w; ++x) {
            img.setPixel(x, 0, qRgba(x, 2 * x, 3 * x, 255 - x));
            img.setPixel(x, 1, qRgba(255 - x, x, 0, x));
        }
        ColorMatrix m = IdentityColorMatrix();
        m[0][0] = 0.0f; // red := green
        m[1][0] = 1.0f;
        m[4][2] = 0.4f; // blue + 102
        const QImage out = ApplyColorMatrix(img, m);
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(out.pixel(x, 0), qRgba(2 * x, 2 * x, 3 * x + 102, 255 - x)) << w << " " << x;
            EXPECT_EQ(out.pixel(x, 1), qRgba(x, x, 102, x)) << w << " " << x;
        }
    }
}
