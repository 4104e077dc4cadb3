// Our Huffman decoder in libjpeg's place: every decode must give what libjpeg's own decoder gives,
// pixel for pixel, and damaged files must fail or decode exactly as libjpeg alone has them.
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegBands.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Layout {
    const char* name;
    QSize size;
    QStringList options;
};

void PrintTo(const Layout& l, std::ostream* os) {
    *os << l.name;
}

QByteArray cjpeg(const QImage& photo, const QStringList& options) {
    QTemporaryDir dir;
    const QString ppm = dir.filePath("in.ppm");
    if (!photo.save(ppm, "PPM"))
        return {};
    return runTool(QStringLiteral("cjpeg"), QStringList{"-quality", "90"} + options + QStringList{ppm});
}

// What a decode came to: the picture, or the message it failed with.
struct Outcome {
    QImage image;
    QString error;
};

template <class Decode> Outcome outcomeOf(Decode decode) {
    Outcome o;
    try {
        o.image = decode();
    } catch (const Exception& e) {
        o.error = e.message();
    }
    return o;
}

qsizetype scanDataStart(const QByteArray& jpeg) {
    const qsizetype sos = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    if (sos < 0)
        return -1;
    return sos + 2 + (uchar(jpeg[sos + 2]) << 8 | uchar(jpeg[sos + 3]));
}

class FastEntropy : public ::testing::TestWithParam<Layout> {};

} // namespace

TEST_P(FastEntropy, DecodesAsLibjpegAtEveryScale) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is needed";
    const Layout& layout = GetParam();
    const QByteArray source =
        cjpeg(makeTestPhoto(layout.size.width(), layout.size.height(), 5), layout.options);
    ASSERT_FALSE(source.isEmpty());
    const int w = layout.size.width(), h = layout.size.height();
    const QImage reference = DecodeJpegScaledByLibjpeg(source, w, h);
    ASSERT_EQ(reference.size(), layout.size);
    EXPECT_TRUE(DecodeJpeg(source) == reference);
    // 1/2, 1/4 and 1/8: libjpeg reads fewer coefficients of each block there.
    for (int reduce : {2, 4, 8}) {
        const int mw = (w + reduce - 1) / reduce, mh = (h + reduce - 1) / reduce;
        const QImage scaled = DecodeJpegScaled(source, mw, mh);
        EXPECT_EQ(scaled.size(), QSize(mw, mh)) << reduce;
        EXPECT_TRUE(scaled == DecodeJpegScaledByLibjpeg(source, mw, mh)) << reduce;
    }
    // The band decoder and the resampling decoder read through the same replacement.
    QImage bands(layout.size, QImage::Format_RGB32);
    const QByteArray transcoded = TranscodeJpegInBands(source, 95, false, 16, [&](QImage& band, int top) {
        for (int y = 0; y < band.height(); ++y)
            std::memcpy(bands.scanLine(top + y), band.constScanLine(y), size_t(band.bytesPerLine()));
    });
    EXPECT_FALSE(transcoded.isEmpty());
    EXPECT_TRUE(bands == reference);
}

INSTANTIATE_TEST_SUITE_P(
    CjpegLayouts, FastEntropy,
    ::testing::Values(
        Layout{"yuv420_odd", {333, 251}, {"-sample", "2x2"}},
        Layout{"yuv422", {250, 77}, {"-sample", "2x1"}},
        Layout{"yuv440", {129, 130}, {"-sample", "1x2"}},
        Layout{"yuv411", {211, 45}, {"-sample", "4x1"}},
        Layout{"yuv444", {201, 119}, {"-sample", "1x1"}},
        Layout{"gray", {147, 99}, {"-grayscale"}},
        Layout{"tiny", {1, 1}, {"-sample", "2x2"}},
        Layout{"yuv420_restart_5mcus", {333, 251}, {"-sample", "2x2", "-restart", "5B"}},
        Layout{"yuv444_restart_row", {201, 119}, {"-sample", "1x1", "-restart", "1"}},
        Layout{"yuv422_restart_1mcu", {250, 77}, {"-sample", "2x1", "-restart", "1B"}},
        Layout{"gray_restart_7", {147, 99}, {"-grayscale", "-restart", "7B"}},
        Layout{"yuv420_optimized_restart", {333, 251}, {"-sample", "2x2", "-optimize", "-restart", "3B"}},
        Layout{"gray_optimized", {147, 99}, {"-grayscale", "-optimize"}},
        // Not ours to read: libjpeg's decoder stays, and the result is the same.
        Layout{"progressive", {160, 120}, {"-progressive"}},
        Layout{"arithmetic", {160, 120}, {"-arithmetic"}}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// Bytes of the coded data changed at random, or the file cut short, with and without restart
// markers: whatever libjpeg alone makes of the file (an error, or a picture, zeros and all) is
// what comes out.
TEST(FastEntropyDamage, DamagedFilesComeOutAsLibjpegAloneHasThem) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is needed";
    const QImage photo = makeTestPhoto(96, 64, 9);
    for (const QStringList& options :
         {QStringList{"-sample", "2x2"}, QStringList{"-sample", "1x1", "-restart", "2B"}}) {
        const QByteArray source = cjpeg(photo, options);
        ASSERT_FALSE(source.isEmpty());
        const qsizetype start = scanDataStart(source);
        const qsizetype end = source.size() - 2; // the end marker
        ASSERT_GT(end - start, 100);
        quint32 seed = 12345;
        const auto next = [&seed](quint32 below) {
            seed = seed * 1664525u + 1013904223u;
            return (seed >> 8) % below;
        };
        int failures = 0, pictures = 0;
        for (int trial = 0; trial < 300; ++trial) {
            QByteArray damaged = source;
            const int kind = trial % 4;
            if (kind == 3) {
                damaged.truncate(start + qsizetype(next(quint32(end - start + 2))));
            } else {
                for (int i = 0; i <= kind; ++i) {
                    const qsizetype at = start + qsizetype(next(quint32(end - start)));
                    damaged[at] = char(next(2) ? next(256) : 0xFF);
                }
            }
            const Outcome fast = outcomeOf([&] { return DecodeJpeg(damaged); });
            const Outcome alone = outcomeOf([&] { return DecodeJpegScaledByLibjpeg(damaged, 96, 64); });
            ASSERT_EQ(fast.error, alone.error) << "trial " << trial;
            ASSERT_TRUE(fast.image == alone.image) << "trial " << trial;
            (fast.error.isEmpty() ? pictures : failures)++;
        }
        // Both kinds of outcome were tried.
        EXPECT_GT(failures, 20);
        EXPECT_GT(pictures, 20);
    }
}

// Restart markers out of their order, a marker after the last interval and a file that ends
// without its end marker: each read as libjpeg reads it.
TEST(FastEntropyDamage, RestartMarkersAndEndsAsLibjpegHasThem) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is needed";
    const QByteArray source =
        cjpeg(makeTestPhoto(64, 48, 3), {"-sample", "1x1", "-restart", "4B"});
    ASSERT_FALSE(source.isEmpty());
    const qsizetype start = scanDataStart(source);
    QList<qsizetype> restarts;
    for (qsizetype i = start; i + 1 < source.size(); ++i)
        if (uchar(source[i]) == 0xFF && (uchar(source[i + 1]) & 0xF8) == 0xD0)
            restarts << i;
    ASSERT_GE(restarts.size(), 3); // 8 x 6 MCUs in intervals of 4

    QList<QByteArray> cases;
    QByteArray swapped = source; // RST1 where RST0 belongs
    swapped[restarts[0] + 1] = char(0xD1);
    cases << swapped;
    QByteArray repeated = source; // the first marker again in the second's place
    repeated[restarts[1] + 1] = source[restarts[0] + 1];
    cases << repeated;
    QByteArray dropped = source; // a marker left out
    dropped.remove(restarts[1], 2);
    cases << dropped;
    QByteArray extra = source; // a restart marker after the last interval
    extra.insert(extra.size() - 2, QByteArray("\xFF\xD7", 2));
    cases << extra;
    cases << source.left(source.size() - 2); // no end marker
    cases << source.left(source.size() - 5); // the last bytes of data gone
    int pictures = 0;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Outcome fast = outcomeOf([&] { return DecodeJpeg(cases[i]); });
        const Outcome alone =
            outcomeOf([&] { return DecodeJpegScaledByLibjpeg(cases[i], 64, 48); });
        EXPECT_EQ(fast.error, alone.error) << "case " << i;
        EXPECT_TRUE(fast.image == alone.image) << "case " << i;
        pictures += fast.error.isEmpty();
    }
    EXPECT_GE(pictures, 2); // the extra marker and the missing end marker decode
}

// Camera files (restart intervals, odd tables, thumbnails and all): the same pixels, or the same
// refusal, as libjpeg alone.
TEST(FastEntropyCameras, CameraFilesDecodeAsLibjpegAloneHasThem) {
    const QString dir = sharedTestDataDir();
    if (dir.isEmpty() || !QFileInfo(dir + QStringLiteral("/exif")).isDir())
        GTEST_SKIP() << "camera samples absent";
    const QFileInfoList files = QDir(dir + QStringLiteral("/exif"))
                                    .entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")},
                                                   QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    for (const QFileInfo& info : files) {
        SCOPED_TRACE(info.fileName().toStdString());
        QFile f(info.filePath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        const Outcome fast = outcomeOf([&] { return DecodeJpeg(data); });
        const Outcome alone = outcomeOf([&] { return DecodeJpegScaledByLibjpeg(data, 1 << 16, 1 << 16); });
        EXPECT_EQ(fast.error, alone.error);
        EXPECT_TRUE(fast.image == alone.image);
        const Outcome small = outcomeOf([&] { return DecodeJpegScaled(data, 160, 160); });
        const Outcome smallAlone = outcomeOf([&] { return DecodeJpegScaledByLibjpeg(data, 160, 160); });
        EXPECT_EQ(small.error, smallAlone.error);
        EXPECT_TRUE(small.image == smallAlone.image);
    }
}
