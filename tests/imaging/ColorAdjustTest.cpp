#include "imaging/core/ColorAdjust.h"
#include "tests/support/TestSupport.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using Row = std::array<double, 5>;

// [r g b a 1] x M in doubles, without clamping.
Row Times(const Row& v, const ColorMatrix& m) {
    Row out{};
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i)
            out[j] += v[i] * m[i][j];
    return out;
}

QRgb ApplyToPixel(QRgb p, const ColorMatrix& m) {
    QImage img(1, 1, QImage::Format_RGB32);
    img.setPixel(0, 0, p);
    return ApplyColorMatrix(img, m).pixel(0, 0);
}

ColorMatrix Diagonal(float a, float b, float c, float d, float e) {
    ColorMatrix m{};
    m[0][0] = a;
    m[1][1] = b;
    m[2][2] = c;
    m[3][3] = d;
    m[4][4] = e;
    return m;
}

} // namespace

TEST(MatrixMultiple, ResultIsSecondTimesFirst) {
    // P adds 0.25 to red; Q doubles red. Q x P doubles then adds; P x Q adds then doubles.
    ColorMatrix p = IdentityColorMatrix();
    p[4][0] = 0.25f;
    const ColorMatrix q = Diagonal(2, 1, 1, 1, 1);
    const ColorMatrix r = MatrixMultiple(p, q);
    EXPECT_EQ(r[0][0], 2.0f);
    EXPECT_EQ(r[4][0], 0.25f);
    const ColorMatrix other = MatrixMultiple(q, p);
    EXPECT_EQ(other[4][0], 0.5f);
}

TEST(MatrixMultiple, IdentityIsNeutralOnBothSides) {
    ColorMatrix x{};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            x[i][j] = float(i * 5 + j) / 7.0f - 1.5f;
    EXPECT_EQ(MatrixMultiple(x, IdentityColorMatrix()), x);
    EXPECT_EQ(MatrixMultiple(IdentityColorMatrix(), x), x);
}

TEST(MatrixMultiple, SumsInMoreThanSinglePrecision) {
    // 1e8 + 1 - 1e8 is 0 when summed in floats; 1 when summed wider.
    ColorMatrix q{};
    q[0][0] = 1e8f;
    q[0][1] = 1.0f;
    q[0][2] = -1e8f;
    ColorMatrix p{};
    p[0][0] = p[1][0] = p[2][0] = 1.0f;
    EXPECT_EQ(MatrixMultiple(p, q)[0][0], 1.0f);
}

TEST(AdjustmentMatrices, NeutralSettingsGiveTheIdentity) {
    EXPECT_EQ(SaturationMatrix(1.0), IdentityColorMatrix());
    EXPECT_EQ(BrightnessMatrix(0.0), IdentityColorMatrix());
    EXPECT_EQ(ContrastMatrix(1.0), IdentityColorMatrix());
    const ColorMatrix m =
        MatrixMult(SaturationMatrix(1.0), BrightnessMatrix(0.0), ContrastMatrix(1.0));
    EXPECT_EQ(m, IdentityColorMatrix());
    const QImage photo = makeTestPhoto(40, 30);
    EXPECT_EQ(ApplyColorMatrix(photo, m), photo);
}

TEST(AdjustmentMatrices, LuminanceBaseHasOneRowOfWeightsPerChannel) {
    const ColorMatrix l = LuminanceBase();
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(l[0][j], 0.299f);
        EXPECT_EQ(l[1][j], 0.587f);
        EXPECT_EQ(l[2][j], 0.114f);
        EXPECT_EQ(l[3][j], 0.0f);
        EXPECT_EQ(l[4][j], 0.0f);
    }
    EXPECT_EQ(l[3][3], 1.0f);
    EXPECT_EQ(l[4][4], 1.0f);
}

TEST(AdjustmentMatrices, SaturationZeroGivesGrey) {
    const ColorMatrix s = SaturationMatrix(0.0);
    const Row red = Times({1, 0, 0, 1, 1}, s);
    EXPECT_FLOAT_EQ(float(red[0]), 0.299f);
    EXPECT_FLOAT_EQ(float(red[1]), 0.299f);
    EXPECT_FLOAT_EQ(float(red[2]), 0.299f);
    EXPECT_EQ(red[3], 1.0);
    EXPECT_EQ(ApplyToPixel(qRgb(255, 0, 0), s), qRgb(76, 76, 76)); // 76.245
    // 0.299 * 10 + 0.587 * 200 + 0.114 * 50 = 126.09
    EXPECT_EQ(ApplyToPixel(qRgb(10, 200, 50), s), qRgb(126, 126, 126));
}

TEST(AdjustmentMatrices, SaturationThreeTriplesTheDistanceFromGrey) {
    const ColorMatrix s = SaturationMatrix(3.0);
    // grey of (0.5, 0.4, 0.2) = 0.1495 + 0.2348 + 0.0228 = 0.4071
    const Row out = Times({0.5, 0.4, 0.2, 1, 1}, s);
    EXPECT_NEAR(out[0], 0.4071 + 3 * (0.5 - 0.4071), 1e-6);
    EXPECT_NEAR(out[1], 0.4071 + 3 * (0.4 - 0.4071), 1e-6);
    EXPECT_NEAR(out[2], 0.4071 + 3 * (0.2 - 0.4071), 1e-6);
    // Outside the colour block the matrix stays the identity.
    EXPECT_EQ(s[3][3], 1.0f);
    EXPECT_EQ(s[4][4], 1.0f);
    EXPECT_EQ(s[4][0], 0.0f);
    EXPECT_EQ(s[0][3], 0.0f);
}

TEST(AdjustmentMatrices, BrightnessExtremesGiveWhiteAndBlack) {
    EXPECT_EQ(ApplyToPixel(qRgb(0, 0, 0), BrightnessMatrix(1.0)), qRgb(255, 255, 255));
    EXPECT_EQ(ApplyToPixel(qRgb(1, 128, 254), BrightnessMatrix(1.0)), qRgb(255, 255, 255));
    EXPECT_EQ(ApplyToPixel(qRgb(255, 255, 255), BrightnessMatrix(-1.0)), qRgb(0, 0, 0));
    EXPECT_EQ(ApplyToPixel(qRgb(100, 0, 200), BrightnessMatrix(0.2)), qRgb(151, 51, 251));
}

TEST(AdjustmentMatrices, ContrastScalesAboutTheMiddle) {
    const ColorMatrix flat = ContrastMatrix(0.0);
    for (double v : {0.0, 0.3, 1.0}) {
        const Row out = Times({v, 1 - v, v, 1, 1}, flat);
        EXPECT_EQ(out[0], 0.5);
        EXPECT_EQ(out[1], 0.5);
        EXPECT_EQ(out[2], 0.5);
    }
    const ColorMatrix steep = ContrastMatrix(2.0);
    EXPECT_EQ(Times({0.25, 0.75, 0.5, 1, 1}, steep)[0], 0.0);
    EXPECT_EQ(Times({0.25, 0.75, 0.5, 1, 1}, steep)[1], 1.0);
    EXPECT_EQ(Times({0.25, 0.75, 0.5, 1, 1}, steep)[2], 0.5);
    // In pixels: 2 v - 127.5, clamped.
    EXPECT_EQ(ApplyToPixel(qRgb(60, 200, 100), steep), qRgb(0, 255, 72)); // 72.5 to even
}

TEST(AdjustmentMatrices, CombinedOrderIsSaturationThenBrightnessThenContrast) {
    // Brightness 0.5 then contrast 2: v -> 2 (v + 0.5) - 0.5.
    const ColorMatrix m =
        MatrixMult(IdentityColorMatrix(), BrightnessMatrix(0.5), ContrastMatrix(2.0));
    EXPECT_EQ(m[0][0], 2.0f);
    EXPECT_EQ(m[4][0], 0.5f);
    EXPECT_NEAR(Times({0.1, 0.0, -0.25, 1, 1}, m)[0], 0.7, 1e-7);
    EXPECT_NEAR(Times({0.1, 0.0, -0.25, 1, 1}, m)[2], 0.0, 1e-7);

    // Brightness 0.25 then contrast 2 is a plain doubling: exact in 8 bits.
    const ColorMatrix twice =
        MatrixMult(IdentityColorMatrix(), BrightnessMatrix(0.25), ContrastMatrix(2.0));
    EXPECT_EQ(ApplyToPixel(qRgb(100, 0, 128), twice), qRgb(200, 0, 255));

    // Saturation first: grey is taken before brightness is added.
    const ColorMatrix grey =
        MatrixMult(SaturationMatrix(0.0), BrightnessMatrix(0.2), ContrastMatrix(1.0));
    EXPECT_EQ(ApplyToPixel(qRgb(255, 0, 0), grey), qRgb(127, 127, 127)); // 76.245 + 51
    // Contrast last: with contrast 0 nothing before it matters.
    const ColorMatrix flat =
        MatrixMult(SaturationMatrix(2.5), BrightnessMatrix(-0.7), ContrastMatrix(0.0));
    EXPECT_EQ(ApplyToPixel(qRgb(3, 250, 90), flat), qRgb(128, 128, 128)); // 127.5 to even
}
