#include "imaging/core/BitmapOps.h"
#include "tests/support/TestSupport.h"

#include <QRandomGenerator>
#include <array>
#include <utility>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr QRgb kWhite = 0xFFFFFFFFu;

// Builds an RGB32 image from rows of pixel values given top row first.
QImage FromRows(const std::vector<std::vector<QRgb>>& rows) {
    const int h = int(rows.size()), w = int(rows.front().size());
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, rows[y][x] | 0xFF000000u);
    return img;
}

std::vector<std::vector<QRgb>> ToRows(const QImage& img) {
    std::vector<std::vector<QRgb>> rows(img.height(), std::vector<QRgb>(img.width()));
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            rows[y][x] = img.pixel(x, y);
    return rows;
}

QImage RandomImage(int w, int h, quint32 seed) {
    QRandomGenerator rng(seed);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, 0xFF000000u | (rng.generate() & 0xFFFFFFu));
    return img;
}

// Letters of a 4 x 3 picture:  a b c d / e f g h / i j k l.
enum : QRgb {
    A = 0x010101,
    B = 0x020202,
    C = 0x030303,
    D = 0x040404,
    E = 0x050505,
    F = 0x060606,
    G = 0x070707,
    H = 0x080808,
    I = 0x090909,
    J = 0x0A0A0A,
    K = 0x0B0B0B,
    L = 0x0C0C0C,
};
const std::vector<std::vector<QRgb>> kLetters = {{A, B, C, D}, {E, F, G, H}, {I, J, K, L}};

std::vector<std::vector<QRgb>> Opaque(std::vector<std::vector<QRgb>> rows) {
    for (auto& r : rows)
        for (auto& p : r)
            p |= 0xFF000000u;
    return rows;
}

// Straightforward per-pixel version of the general rotation, kept independent on purpose.
QImage ReferenceRotation(const QImage& src, QRgb fill, double angle) {
    const double a = angle * M_PI / 180.0;
    const double sa = std::sin(a), ca = std::cos(a);
    const long double xs[4] = {0, (long double)src.width(), (long double)src.width(), 0};
    const long double ys[4] = {0, 0, (long double)src.height(), (long double)src.height()};
    long double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    for (int i = 0; i < 4; ++i) {
        const long double x = std::nearbyint(xs[i] * ca - ys[i] * sa);
        const long double y = std::nearbyint(xs[i] * sa + ys[i] * ca);
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    QImage out(int(maxX - minX), int(maxY - minY), QImage::Format_RGB32);
    out.fill(fill | 0xFF000000u);
    const double s = std::sin(-a), c = std::cos(-a);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const long double X = x + minX, Y = y + minY;
            const long double sx = std::nearbyint(X * c - Y * s);
            const long double sy = std::nearbyint(X * s + Y * c);
            if (sx >= 0 && sx < src.width() && sy >= 0 && sy < src.height())
                out.setPixel(x, y, src.pixel(int(sx), int(sy)));
        }
    return out;
}

// Exact box-filter average over the destination pixel's footprint, in doubles.
QImage ReferenceResample(const QImage& src, int w, int h) {
    QImage out(w, h, QImage::Format_RGB32);
    const double fx = double(src.width()) / w, fy = double(src.height()) / h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double x0 = x * fx, x1 = (x + 1) * fx, y0 = y * fy, y1 = (y + 1) * fy;
            double sum[3] = {0, 0, 0};
            for (int sy = int(y0); sy < src.height() && sy < y1; ++sy) {
                const double wy = std::min<double>(y1, sy + 1) - std::max<double>(y0, sy);
                for (int sx = int(x0); sx < src.width() && sx < x1; ++sx) {
                    const double wx = std::min<double>(x1, sx + 1) - std::max<double>(x0, sx);
                    const QRgb p = src.pixel(sx, sy);
                    sum[0] += wx * wy * qRed(p);
                    sum[1] += wx * wy * qGreen(p);
                    sum[2] += wx * wy * qBlue(p);
                }
            }
            const double area = fx * fy;
            out.setPixel(x, y,
                         qRgb(int(std::lround(sum[0] / area)), int(std::lround(sum[1] / area)),
                              int(std::lround(sum[2] / area))));
        }
    return out;
}

bool AllPixels(const QImage& img, QRgb value) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != value)
                return false;
    return true;
}

} // namespace

// ---- Exact turns -------------------------------------------------------------------------------

TEST(RotateBitmapExact, ClockwiseQuarterTurnOf4x3) {
    for (double angle : {90.0, -270.0}) {
        QImage img = FromRows(kLetters);
        RotateBitmap(img, kWhite, angle);
        EXPECT_EQ(img.size(), QSize(3, 4)) << angle;
        EXPECT_EQ(ToRows(img), Opaque({{I, E, A}, {J, F, B}, {K, G, C}, {L, H, D}})) << angle;
        EXPECT_EQ(img.pixel(0, 0), I | 0xFF000000u) << "top-left is the source's bottom-left";
    }
}

TEST(RotateBitmapExact, CounterClockwiseQuarterTurnOf4x3) {
    for (double angle : {-90.0, 270.0}) {
        QImage img = FromRows(kLetters);
        RotateBitmap(img, kWhite, angle);
        EXPECT_EQ(img.size(), QSize(3, 4)) << angle;
        EXPECT_EQ(ToRows(img), Opaque({{D, H, L}, {C, G, K}, {B, F, J}, {A, E, I}})) << angle;
        EXPECT_EQ(img.pixel(0, 0), D | 0xFF000000u) << "top-left is the source's top-right";
    }
}

TEST(RotateBitmapExact, HalfTurn) {
    for (double angle : {180.0, -180.0}) {
        QImage img = FromRows(kLetters);
        RotateBitmap(img, kWhite, angle);
        EXPECT_EQ(ToRows(img), Opaque({{L, K, J, I}, {H, G, F, E}, {D, C, B, A}})) << angle;
    }
}

TEST(RotateBitmapExact, FullTurnsLeaveThePicture) {
    const QImage original = FromRows(kLetters);
    for (double angle : {0.0, 360.0, -360.0, 720.0}) {
        QImage img = original;
        RotateBitmap(img, kWhite, angle);
        EXPECT_EQ(img.size(), original.size()) << angle;
        EXPECT_EQ(ToRows(img), ToRows(original)) << angle;
    }
}

TEST(RotateBitmapExact, QuarterTurnsCompose) {
    // Large enough to cross several tiles, with ragged edges.
    const QImage original = RandomImage(131, 70, 7);
    QImage img = original;
    RotateBitmap(img, kWhite, 90);
    EXPECT_EQ(img.size(), QSize(70, 131));
    RotateBitmap(img, kWhite, -90);
    EXPECT_EQ(img, original);
    RotateBitmap(img, kWhite, 90);
    RotateBitmap(img, kWhite, 90);
    QImage half = original;
    RotateBitmap(half, kWhite, 180);
    EXPECT_EQ(img, half);
    RotateBitmap(img, kWhite, -270);
    RotateBitmap(img, kWhite, 270);
    EXPECT_EQ(img, half);
}

TEST(RotateBitmapExact, OnePixelAndOneRowPictures) {
    QImage dot = FromRows({{0x123456}});
    RotateBitmap(dot, kWhite, 90);
    EXPECT_EQ(ToRows(dot), Opaque({{0x123456}}));

    QImage row = FromRows({{A, B, C}});
    RotateBitmap(row, kWhite, 90);
    EXPECT_EQ(ToRows(row), Opaque({{A}, {B}, {C}}));
    RotateBitmap(row, kWhite, 90); // a column turned clockwise reads right to left
    EXPECT_EQ(ToRows(row), Opaque({{C, B, A}}));
    RotateBitmap(row, kWhite, -180);
    EXPECT_EQ(ToRows(row), Opaque({{A, B, C}}));
}

// Rows handed over a few at a time land where a turn of the whole picture puts them: source
// (x, y) at (H - 1 - y, x) for a clockwise quarter, (y, W - 1 - x) counter-clockwise and
// (W - 1 - x, H - 1 - y) for a half turn; odd sizes, groups of every size up to five.
TEST(TurnRowsInto, EachRowLandsWhereTheTurnPutsIt) {
    for (QSize size : {QSize(7, 5), QSize(1, 9), QSize(9, 1), QSize(13, 6), QSize(4, 4)}) {
        const QImage src = RandomImage(size.width(), size.height(), 17);
        const int w = size.width(), h = size.height();
        for (int quarters : {1, 2, 3}) {
            for (int group = 1; group <= 5; ++group) {
                QImage dst(quarters == 2 ? size : size.transposed(), QImage::Format_RGB32);
                dst.fill(0u);
                for (int first = 0; first < h; first += group) {
                    std::vector<const QRgb*> rows;
                    for (int y = first; y < std::min(h, first + group); ++y)
                        rows.push_back(reinterpret_cast<const QRgb*>(src.constScanLine(y)));
                    TurnRowsInto(rows.data(), first, int(rows.size()), size, quarters, dst);
                }
                int wrong = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const QPoint at = quarters == 1   ? QPoint(h - 1 - y, x)
                                          : quarters == 3 ? QPoint(y, w - 1 - x)
                                                          : QPoint(w - 1 - x, h - 1 - y);
                        wrong += dst.pixel(at) != src.pixel(x, y);
                    }
                EXPECT_EQ(wrong, 0) << w << "x" << h << ", " << quarters << " quarters, rows by "
                                    << group;
            }
        }
    }
}

TEST(RotateBitmapFormat, AlphaIsDroppedBeforeTurning) {
    QImage img(2, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(10, 20, 30, 0));
    img.setPixel(1, 0, qRgba(200, 100, 50, 128));
    RotateBitmap(img, kWhite, 0);
    EXPECT_EQ(img.format(), QImage::Format_RGB32);
    EXPECT_EQ(img.pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(img.pixel(1, 0), qRgb(200, 100, 50));

    QImage indexed(2, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
    indexed.fill(1);
    RotateBitmap(indexed, kWhite, 90);
    EXPECT_EQ(indexed.format(), QImage::Format_RGB32);
    EXPECT_TRUE(AllPixels(indexed, qRgb(4, 5, 6)));
}

TEST(RotateBitmapFormat, NullImageStaysNull) {
    QImage img;
    RotateBitmap(img, kWhite, 30);
    EXPECT_TRUE(img.isNull());
}

TEST(RotateBitmapExact, FullSizeBitmapsRoundTrip) {
    // Big enough for the large-buffer allocation path; the results must behave as plain images.
    const QImage original = makeTestPhoto(1700, 1300, 4);
    QImage img = original;
    RotateBitmap(img, kWhite, -90);
    ASSERT_EQ(img.size(), QSize(1300, 1700));
    EXPECT_EQ(img.pixel(0, 0), original.pixel(1699, 0));
    EXPECT_EQ(img.pixel(1299, 1699), original.pixel(0, 1299));
    const QImage turned = img; // shared: the next turn must not write through
    RotateBitmap(img, kWhite, 90);
    EXPECT_EQ(img, original);
    EXPECT_EQ(turned.size(), QSize(1300, 1700));
    RotateBitmap(img, kWhite, 180);
    RotateBitmap(img, kWhite, 180);
    EXPECT_EQ(img, original);
    img.setPixel(0, 0, qRgb(1, 2, 3));
    EXPECT_EQ(img.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(original.pixel(0, 0), makeTestPhoto(1700, 1300, 4).pixel(0, 0));
}

// ---- General rotation --------------------------------------------------------------------------

TEST(RotateBitmapGeneral, FortyFiveDegreesOf4x3) {
    QImage img = FromRows(kLetters);
    RotateBitmap(img, 0x00FF00, 45);
    ASSERT_EQ(img.size(), QSize(5, 5));
    const QRgb fill = 0xFF00FF00u;
    EXPECT_EQ(img.pixel(0, 0), fill);
    EXPECT_EQ(img.pixel(4, 0), fill);
    EXPECT_EQ(img.pixel(0, 4), fill);
    EXPECT_EQ(img.pixel(4, 4), fill);
    // Centre (2, 2) is the point (0, 2) of the turned plane; turned back: (1.41, 1.41) -> (1, 1).
    EXPECT_EQ(img.pixel(2, 2), F | 0xFF000000u);
    // (0, 2) is (-2, 2): back to (0, 2.83) -> (0, 3), below the picture.
    EXPECT_EQ(img.pixel(0, 2), fill);
    // (1, 1) is (-1, 1): back to (0, 1.41) -> (0, 1) = e.
    EXPECT_EQ(img.pixel(1, 1), E | 0xFF000000u);
}

TEST(RotateBitmapGeneral, FractionalAngleNearAQuarterTurn) {
    QImage img = FromRows(kLetters);
    RotateBitmap(img, kWhite, 90.5);
    // Corners land on (0, 0), (-0.03, 4.0), (-3.03, 3.97), (-3.0, -0.03): a 3 x 4 box from
    // x = -3. The corner-based mapping sends column 0 to source row 3 (outside), so it is fill
    // and the other columns take source rows 2 and 1 (row 0 falls outside the box).
    ASSERT_EQ(img.size(), QSize(3, 4));
    EXPECT_EQ(ToRows(img),
              Opaque({{kWhite, I, E}, {kWhite, J, F}, {kWhite, K, G}, {kWhite, L, H}}));
}

TEST(RotateBitmapGeneral, OtherIntegerAnglesUseTheGeneralRotation) {
    QImage img = FromRows(kLetters);
    RotateBitmap(img, kWhite, 450);
    // Same corner-based mapping as above: 4 x 3 turns to a 3 x 4 box whose column 0 is fill.
    ASSERT_EQ(img.size(), QSize(3, 4));
    EXPECT_EQ(img.pixel(0, 0), kWhite);
    EXPECT_EQ(img.pixel(1, 0), I | 0xFF000000u);
}

TEST(RotateBitmapGeneral, MatchesThePerPixelFormula) {
    const QSize sizes[] = {{17, 9}, {1, 1}, {1, 7}, {7, 1}, {31, 23}, {120, 80}};
    const double angles[] = {7.5, -33.3, 90.5,    135.25,  200.7, 300.01, 0.001,     45,
                             30,  60,    -60,     120,     150,   210,    240,       330,
                             450, 1000,  -1000.5, 359.999, -0.5,  179.5,  89.9999999};
    quint32 seed = 1;
    for (const QSize& size : sizes) {
        const QImage src = RandomImage(size.width(), size.height(), seed++);
        for (double angle : angles) {
            QImage img = src;
            RotateBitmap(img, 0xABCDEF, angle);
            const QImage expected = ReferenceRotation(src, 0xABCDEF, angle);
            QString why;
            EXPECT_TRUE(fuzzyImageCompare(img, expected, 0, &why))
                << size.width() << "x" << size.height() << " by " << angle << ": "
                << why.toStdString();
            EXPECT_EQ(img.format(), QImage::Format_RGB32);
        }
    }
}

TEST(RotateBitmapGeneral, ProductsAreFormedInExtendedPrecision) {
    // At this angle the point (1, 1) maps back to a column of 0.5 + 2^-54: double arithmetic
    // loses the 2^-54 and rounds to 0, extended precision keeps it and rounds to 1.
    const double angle = -24.295188945364572;
    const QImage src = RandomImage(5, 4, 17);
    QImage img = src;
    RotateBitmap(img, kWhite, angle);
    EXPECT_EQ(img, ReferenceRotation(src, kWhite, angle));
    // The box starts at (0, round(5 sin a)) = (0, -2), so (1, 1) is the result pixel (1, 3);
    // its row is round(sin(-a) + cos(-a)) = round(1.32) = 1.
    EXPECT_EQ(img.pixel(1, 3), src.pixel(1, 1));
}

TEST(RotateBitmapGeneral, FillColourIsOpaque) {
    QImage img = FromRows(kLetters);
    RotateBitmap(img, 0x00123456, 10.25);
    EXPECT_EQ(img.pixel(0, 0), 0xFF123456u);
}

// ---- Resampling --------------------------------------------------------------------------------

TEST(ResampleBitmap, UniformColourStaysUniform) {
    const QRgb colour = qRgb(12, 200, 99);
    for (QSize target : {QSize(10, 7), QSize(80, 50), QSize(1, 1), QSize(37, 3), QSize(5, 100)}) {
        QImage img(37, 23, QImage::Format_RGB32);
        img.fill(colour);
        ResampleBitmap(img, target.width(), target.height());
        EXPECT_EQ(img.size(), target);
        EXPECT_TRUE(AllPixels(img, colour)) << target.width() << "x" << target.height();
    }
}

TEST(ResampleBitmap, ReducingAveragesWholePixels) {
    QImage square =
        FromRows({{qRgb(10, 0, 255), qRgb(20, 100, 255)}, {qRgb(30, 0, 0), qRgb(40, 100, 0)}});
    ResampleBitmap(square, 1, 1);
    EXPECT_EQ(square.pixel(0, 0), qRgb(25, 50, 128)) << "127.5 rounds up";

    QImage row = FromRows({{qRgb(0, 0, 0), qRgb(100, 50, 2), qRgb(7, 7, 7), qRgb(9, 9, 9)}});
    ResampleBitmap(row, 2, 1);
    EXPECT_EQ(ToRows(row), Opaque({{qRgb(50, 25, 1), qRgb(8, 8, 8)}}));
}

TEST(ResampleBitmap, ReducingUsesFractionalCoverage) {
    // Three pixels onto two: each output covers 1.5 inputs, so (2 p0 + p1) / 3 and (p1 + 2 p2) / 3.
    QImage row = FromRows({{qRgb(0, 0, 30), qRgb(90, 100, 60), qRgb(180, 0, 0)}});
    ResampleBitmap(row, 2, 1);
    EXPECT_EQ(ToRows(row), Opaque({{qRgb(30, 33, 40), qRgb(150, 33, 20)}}));

    QImage column = FromRows({{qRgb(0, 0, 30)}, {qRgb(90, 100, 60)}, {qRgb(180, 0, 0)}});
    ResampleBitmap(column, 1, 2);
    EXPECT_EQ(ToRows(column), Opaque({{qRgb(30, 33, 40)}, {qRgb(150, 33, 20)}}));
}

TEST(ResampleBitmap, Enlarging) {
    QImage dot = FromRows({{qRgb(1, 128, 254)}});
    ResampleBitmap(dot, 5, 5);
    EXPECT_EQ(dot.size(), QSize(5, 5));
    EXPECT_TRUE(AllPixels(dot, qRgb(1, 128, 254)));

    QImage two = FromRows({{qRgb(0, 10, 20), qRgb(200, 110, 120)}});
    ResampleBitmap(two, 4, 1);
    EXPECT_EQ(ToRows(two), Opaque({{qRgb(0, 10, 20), qRgb(0, 10, 20), qRgb(200, 110, 120),
                                    qRgb(200, 110, 120)}}));

    // Onto three: the middle output straddles both inputs equally.
    QImage three = FromRows({{qRgb(0, 10, 20), qRgb(200, 110, 120)}});
    ResampleBitmap(three, 3, 1);
    EXPECT_EQ(ToRows(three), Opaque({{qRgb(0, 10, 20), qRgb(100, 60, 70), qRgb(200, 110, 120)}}));
}

TEST(ResampleBitmap, MeanColourIsKept) {
    const QImage src = RandomImage(301, 199, 3);
    auto mean = [](const QImage& img, int shift) {
        double sum = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                sum += (img.pixel(x, y) >> shift) & 0xFF;
        return sum / (double(img.width()) * img.height());
    };
    for (QSize target : {QSize(100, 66), QSize(37, 151), QSize(640, 400)}) {
        QImage img = src;
        ResampleBitmap(img, target.width(), target.height());
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(mean(img, shift), mean(src, shift), 0.1)
                << target.width() << "x" << target.height() << " channel " << shift;
    }
}

TEST(ResampleBitmap, MatchesAnExactBoxFilter) {
    const QImage src = RandomImage(47, 29, 11);
    for (QSize target :
         {QSize(13, 10), QSize(47, 7), QSize(20, 29), QSize(100, 61), QSize(5, 90)}) {
        QImage img = src;
        ResampleBitmap(img, target.width(), target.height());
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(img, ReferenceResample(src, target.width(), target.height()),
                                      1, &why))
            << target.width() << "x" << target.height() << ": " << why.toStdString();
    }
}

// The resampler's fixed-point definition written out plainly: along each axis, destination d
// covers [d S / D, (d + 1) S / D); a source pixel's weight is its overlap over S in units of
// 2^-14, rounded, the largest weight of d taking what the rounding lost so that they sum to
// 2^14. Rows are weighted first and kept with 8 fractional bits (rounded), then the columns,
// rounded to whole levels.
struct AxisWeights {
    std::vector<std::vector<std::pair<int, int>>> taps; // (source index, weight) per destination
};

AxisWeights ExactAxis(int S, int D) {
    AxisWeights a;
    for (long long d = 0; d < D; ++d) {
        std::vector<std::pair<int, int>> taps;
        const long long lo = d * S, hi = (d + 1) * S; // in units of 1/D source pixels
        int sum = 0;
        for (long long i = 0; i < S; ++i) {
            const long long overlap = std::min(hi, (i + 1) * D) - std::max(lo, i * D);
            if (overlap <= 0)
                continue;
            const int w = int(std::floor(double(overlap) * 16384.0 / double(S) + 0.5));
            taps.emplace_back(int(i), w);
            sum += w;
        }
        auto largest = taps.begin();
        for (auto t = taps.begin(); t != taps.end(); ++t)
            if (t->second > largest->second)
                largest = t;
        largest->second += 16384 - sum;
        a.taps.push_back(std::move(taps));
    }
    return a;
}

QImage ExactResample(const QImage& src, int w, int h) {
    const AxisWeights ax = ExactAxis(src.width(), w), ay = ExactAxis(src.height(), h);
    std::vector<std::vector<std::array<long long, 3>>> rows(src.height());
    for (int sy = 0; sy < src.height(); ++sy)
        for (int x = 0; x < w; ++x) {
            std::array<long long, 3> c{};
            for (auto [i, wt] : ax.taps[x]) {
                const QRgb p = src.pixel(i, sy);
                c[0] += wt * qRed(p);
                c[1] += wt * qGreen(p);
                c[2] += wt * qBlue(p);
            }
            for (long long& v : c)
                v = (v + 32) / 64;
            rows[sy].push_back(c);
        }
    QImage out(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::array<long long, 3> c{};
            for (auto [j, wt] : ay.taps[y])
                for (int k = 0; k < 3; ++k)
                    c[k] += wt * rows[j][x][k];
            for (long long& v : c)
                v = (v + (1 << 21)) >> 22;
            out.setPixel(x, y, qRgb(int(c[0]), int(c[1]), int(c[2])));
        }
    return out;
}

// Byte for byte the plain definition, over the cases the fast paths tell apart: one tap
// (enlarging), two (a reduction by less than two), three and many, windows that would run past
// the row's end, rows too short for them, widths off every grouping of pixels, sides of one.
TEST(ResampleBitmap, ExactlyTheFixedPointDefinition) {
    const QImage src = RandomImage(61, 23, 29);
    const QSize targets[] = {{49, 19}, {48, 18}, {60, 22}, {1, 1},   {2, 23}, {3, 5},
                             {7, 9},   {13, 4},  {122, 47}, {200, 3}, {5, 70}, {61, 1},
                             {1, 23},  {30, 11}, {20, 7},  {9, 2}};
    for (QSize t : targets) {
        QImage img = src;
        ResampleBitmap(img, t.width(), t.height());
        EXPECT_EQ(img, ExactResample(src, t.width(), t.height())) << t.width() << "x" << t.height();
    }
    // Narrow sources: single pixels and rows of two and three, enlarged and reduced.
    for (QSize from : {QSize(1, 1), QSize(2, 3), QSize(3, 2), QSize(1, 5), QSize(5, 1)}) {
        const QImage small = RandomImage(from.width(), from.height(), 7);
        for (QSize t : {QSize(1, 1), QSize(2, 2), QSize(7, 5), QSize(1, 4), QSize(4, 1)}) {
            QImage img = small;
            ResampleBitmap(img, t.width(), t.height());
            EXPECT_EQ(img, ExactResample(small, t.width(), t.height()))
                << from.width() << "x" << from.height() << " to " << t.width() << "x"
                << t.height();
        }
    }
}

// Rows fed one at a time give the same rows, whatever the alpha bytes of the source hold, and
// each as soon as its last source row is in.
TEST(TRowResampler, RowsAsTheWholePictureAndIgnoringAlpha) {
    QImage src = RandomImage(37, 29, 5);
    QImage noisyAlpha = src;
    QRandomGenerator rng(3);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x)
            noisyAlpha.setPixel(x, y, (src.pixel(x, y) & 0xFFFFFFu) | (rng.generate() << 24));
    for (QSize t : {QSize(30, 23), QSize(11, 29), QSize(37, 40), QSize(1, 2)}) {
        const QImage expected = ExactResample(src, t.width(), t.height());
        TRowResampler resampler(src.size(), t);
        QImage got(t, QImage::Format_RGB32);
        got.fill(0u);
        int last = -1;
        for (int j = 0; j < src.height(); ++j)
            resampler.Push(reinterpret_cast<const QRgb*>(noisyAlpha.constScanLine(j)),
                           [&](int y, const QRgb* row) {
                               EXPECT_EQ(y, last + 1);
                               last = y;
                               std::copy(row, row + t.width(),
                                         reinterpret_cast<QRgb*>(got.scanLine(y)));
                           });
        EXPECT_EQ(resampler.RowsGiven(), t.height());
        EXPECT_EQ(got, expected) << t.width() << "x" << t.height();
    }
}

TEST(ResampleBitmap, SizesBelowOneLeaveTheBitmap) {
    QImage img(3, 2, QImage::Format_ARGB32);
    img.fill(qRgba(1, 2, 3, 4));
    const QImage before = img;
    for (QSize target : {QSize(0, 5), QSize(5, 0), QSize(-1, -1)}) {
        ResampleBitmap(img, target.width(), target.height());
        EXPECT_EQ(img, before);
        EXPECT_EQ(img.format(), QImage::Format_ARGB32);
    }
}

TEST(ResampleBitmap, SameSizeOnlyDropsAlpha) {
    QImage img(3, 2, QImage::Format_ARGB32);
    img.fill(qRgba(1, 2, 3, 4));
    ResampleBitmap(img, 3, 2);
    EXPECT_EQ(img.format(), QImage::Format_RGB32);
    EXPECT_TRUE(AllPixels(img, qRgb(1, 2, 3)));

    const QImage photo = makeTestPhoto(20, 10);
    QImage same = photo;
    ResampleBitmap(same, 20, 10);
    EXPECT_EQ(same, photo);
}

TEST(ResampleBitmap, OneAxisOnlyKeepsTheOther) {
    // Halving the width of a 4 x 2 picture: each row is averaged in pairs, rows stay apart.
    QImage img =
        FromRows({{qRgb(0, 0, 0), qRgb(2, 4, 6), qRgb(10, 10, 10), qRgb(30, 30, 30)},
                  {qRgb(9, 9, 9), qRgb(9, 9, 9), qRgb(255, 255, 255), qRgb(255, 255, 255)}});
    ResampleBitmap(img, 2, 2);
    EXPECT_EQ(ToRows(img),
              Opaque({{qRgb(1, 2, 3), qRgb(20, 20, 20)}, {qRgb(9, 9, 9), qRgb(255, 255, 255)}}));
}

TEST(FitIntoBox, ProportionalStaysInsideTheBox) {
    // 4:3 into a box flatter than 4:3: the height rules, 993 * 4 / 3 = 1324.
    EXPECT_EQ(FitIntoBox(QSize(4000, 3000), QSize(1600, 993), true), QSize(1324, 993));
    // A square box gives the long side, upright or not.
    EXPECT_EQ(FitIntoBox(QSize(4000, 3000), QSize(1600, 1600), true), QSize(1600, 1200));
    EXPECT_EQ(FitIntoBox(QSize(3000, 4000), QSize(1600, 1600), true), QSize(1200, 1600));
    // The box's own aspect: both sides reach it.
    EXPECT_EQ(FitIntoBox(QSize(4000, 3000), QSize(800, 600), true), QSize(800, 600));
    // Enlarging: 40 x 30 into 1000 x 1000.
    EXPECT_EQ(FitIntoBox(QSize(40, 30), QSize(1000, 1000), true), QSize(1000, 750));
    // Rounding: 3000 x 2000 into 1000 x 1000 is 1000 x 666.67, so 667; 5 x 3 into 10 x 10 is
    // 10 x 6 exactly; 7 x 3 into 10 x 10 is 10 x 4.29, so 4.
    EXPECT_EQ(FitIntoBox(QSize(3000, 2000), QSize(1000, 1000), true), QSize(1000, 667));
    EXPECT_EQ(FitIntoBox(QSize(7, 3), QSize(10, 10), true), QSize(10, 4));
    // A sliver keeps one pixel.
    EXPECT_EQ(FitIntoBox(QSize(10000, 1), QSize(100, 100), true), QSize(100, 1));
    EXPECT_EQ(FitIntoBox(QSize(1, 10000), QSize(100, 100), true), QSize(1, 100));
}

TEST(FitIntoBox, NotProportionalOrNothingToFitGivesTheBox) {
    EXPECT_EQ(FitIntoBox(QSize(4000, 3000), QSize(1600, 993), false), QSize(1600, 993));
    EXPECT_EQ(FitIntoBox(QSize(), QSize(1600, 993), true), QSize(1600, 993));
    EXPECT_EQ(FitIntoBox(QSize(4000, 3000), QSize(0, 993), true), QSize(0, 993));
}

TEST(HalveBitmap, EachPixelIsTheMeanOfItsBlock) {
    // 5 x 3: the last column and the last row are dropped; 2 x 1 remains.
    QImage img(5, 3, QImage::Format_RGB32);
    img.fill(qRgb(255, 255, 255));
    img.setPixel(0, 0, qRgb(0, 0, 0));
    img.setPixel(1, 0, qRgb(100, 40, 8));
    img.setPixel(0, 1, qRgb(200, 80, 16));
    img.setPixel(1, 1, qRgb(100, 40, 8));
    for (int x = 2; x < 4; ++x)
        for (int y = 0; y < 2; ++y)
            img.setPixel(x, y, qRgb(10 * x, 20 * y, 7));
    const QImage half = HalveBitmap(img);
    ASSERT_EQ(half.size(), QSize(2, 1));
    EXPECT_EQ(half.format(), QImage::Format_RGB32);
    // (0 + 100 + 200 + 100) / 4 = 100, (0 + 40 + 80 + 40) / 4 = 40, (0 + 8 + 16 + 8) / 4 = 8.
    EXPECT_EQ(half.pixel(0, 0), qRgb(100, 40, 8));
    // Red (20 + 30 + 20 + 30) / 4 = 25; green (0 + 0 + 20 + 20) / 4 = 10.
    EXPECT_EQ(half.pixel(1, 0), qRgb(25, 10, 7));

    QImage line(1, 4, QImage::Format_RGB32);
    line.fill(qRgb(8, 8, 8));
    EXPECT_EQ(HalveBitmap(line).size(), QSize(1, 2));
}
