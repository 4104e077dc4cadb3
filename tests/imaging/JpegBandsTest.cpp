#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/JpegBands.h"
#include "tests/support/TestSupport.h"

#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The caption stand-in: a solid block and an anti-aliased slanted line that cross many bands,
// drawn into a band whose top row is `top` of the picture.
void paintMarks(QImage& band, int top) {
    QPainter p(&band);
    p.translate(0, -top);
    p.fillRect(QRect(17, 21, 90, 70), QColor(250, 20, 30));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(10, 240, 60), 5.5));
    p.drawLine(QPointF(3.3, 2.7), QPointF(band.width() - 4.1, 180.6));
}

QImage fromPpm(const QByteArray& ppm) {
    QImage image;
    EXPECT_TRUE(image.loadFromData(ppm, "PPM"));
    return image.convertToFormat(QImage::Format_RGB32);
}

double meanDifference(const QImage& a, const QImage& b, const QRect& r) {
    double sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * r.width() * r.height());
}

// The box of the pixels that differ from the plain picture by more than JPEG's noise.
QRect inkBox(const QImage& plain, const QImage& marked) {
    QRect box;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const QRgb p = plain.pixel(x, y), q = marked.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                    std::abs(qBlue(p) - qBlue(q)) > 60)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

} // namespace

// Decoding and encoding band by band, whatever the band height, writes the bytes that the
// whole picture decoded, painted and encoded writes, on every layout libjpeg makes: 4:2:0, 4:2:2,
// 4:4:4, grey, restart intervals, progressive, odd sizes. djpeg reads the result without a
// warning, the painted block is there and the rest is the photo.
TEST(JpegBands, BandsWriteWhatTheWholePictureWrites) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg and djpeg (libjpeg-turbo-progs) are needed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        QSize size;
        QStringList options;
    } layouts[] = {
        {"4:2:0", {320, 240}, {"-sample", "2x2"}},
        {"4:2:2", {320, 240}, {"-sample", "2x1"}},
        {"4:4:4", {320, 240}, {"-sample", "1x1"}},
        {"grey", {320, 240}, {"-grayscale"}},
        {"restarts", {320, 240}, {"-restart", "3B"}},
        {"progressive", {320, 240}, {"-progressive"}},
        {"odd size", {333, 251}, {"-sample", "2x2"}},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const QString ppm = dir.filePath(QStringLiteral("photo.ppm"));
        ASSERT_TRUE(makeTestPhoto(layout.size.width(), layout.size.height(), 7, false)
                        .save(ppm, "PPM"));
        const QByteArray source = runTool(
            QStringLiteral("cjpeg"), QStringList{"-quality", "90"} + layout.options + QStringList{ppm});
        ASSERT_FALSE(source.isEmpty());
        EXPECT_EQ(JpegBandsSize(source), layout.size);

        // Unpainted and with a solid block (exact in any band), the very bytes of the whole
        // picture's encode.
        QImage whole = DecodeJpeg(source);
        EXPECT_TRUE(TranscodeJpegInBands(source, 90, false, 16, nullptr) ==
                    EncodeJpegChecked(whole, 90));
        auto block = [](QImage& band, int top) {
            QPainter p(&band);
            p.fillRect(QRect(17, 21, 90, 70).translated(0, -top), QColor(250, 20, 30));
        };
        block(whole, 0);
        const QByteArray expected = EncodeJpegChecked(whole, 90);
        for (const int rows : {1, 7, 16, 64, 1000}) {
            int bands = 0, next = 0;
            const QByteArray banded =
                TranscodeJpegInBands(source, 90, false, rows, [&](QImage& band, int top) {
                    EXPECT_EQ(top, next);
                    EXPECT_EQ(band.width(), layout.size.width());
                    next = top + band.height();
                    ++bands;
                    block(band, top);
                });
            EXPECT_EQ(next, layout.size.height()) << rows;
            EXPECT_EQ(bands, (layout.size.height() + rows - 1) / rows) << rows;
            EXPECT_TRUE(banded == expected) << rows;
        }
        // Anti-aliased drawing is clipped to each band: within a level of the whole picture's,
        // its ink in the same box.
        QImage marked = DecodeJpeg(source);
        paintMarks(marked, 0);
        const QImage wholeMarks = DecodeJpeg(EncodeJpegChecked(marked, 90));
        const QImage bandMarks = DecodeJpeg(TranscodeJpegInBands(source, 90, false, 7, paintMarks));
        const QImage plain = DecodeJpeg(EncodeJpegChecked(DecodeJpeg(source), 90));
        EXPECT_LT(meanDifference(wholeMarks, bandMarks, plain.rect()), 1.0);
        EXPECT_EQ(inkBox(plain, wholeMarks), inkBox(plain, bandMarks));
        EXPECT_TRUE(inkBox(plain, bandMarks).contains(QRect(17, 21, 90, 70)));

        const QString out = dir.filePath(QStringLiteral("out.jpg"));
        WriteFileBytes(out, TranscodeJpegInBands(source, 90, false, 16, paintMarks));
        const QString in = dir.filePath(QStringLiteral("in.jpg"));
        WriteFileBytes(in, source);
        QString warnings;
        const QImage written =
            fromPpm(runTool(QStringLiteral("djpeg"), {QStringLiteral("-ppm"), out}, &warnings));
        EXPECT_TRUE(warnings.isEmpty()) << warnings.toStdString();
        const QImage original = fromPpm(runTool(QStringLiteral("djpeg"), {QStringLiteral("-ppm"), in}));
        ASSERT_EQ(written.size(), layout.size);
        // Inside the block: its red, within JPEG's loss (a grey source is written in colour
        // unless asked otherwise).
        const QRgb ink = written.pixel(60, 55);
        EXPECT_NEAR(qRed(ink), 250, 8);
        EXPECT_NEAR(qGreen(ink), 20, 8);
        // Below the line and the block the photo stays itself, within one encode's loss.
        const QRect untouched(0, 200, layout.size.width(), layout.size.height() - 200);
        EXPECT_LT(meanDifference(written, original, untouched), 2.5);
    }
}

// A fit streamed band by band: decoded at the DCT scaling djpeg -scale makes for the size
// wanted, then resampled row by row, it writes the bytes of the whole scaled decode resampled,
// painted and encoded; and a reduction is what ImageMagick's box resize makes of the photo,
// within two levels (its box weighs the pixels at the edges a little otherwise, which a photo
// this noisy shows).
TEST(JpegBands, FitBandsWriteWhatTheWholeFitWrites) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg and djpeg (libjpeg-turbo-progs) are needed";
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* name;
        QSize size;
        QStringList options;
        QSize target;   // the fit's size
        QSize least;    // the least decode asked for (invalid: full size)
        const char* scale; // what djpeg decodes for it
    } cases[] = {
        {"4:2:0 at 1/2", {1001, 667}, {"-sample", "2x2"}, {334, 222}, {334, 222}, "1/2"},
        {"4:2:2 at 1/4", {640, 480}, {"-sample", "2x1"}, {150, 113}, {150, 113}, "1/4"},
        {"4:4:4 at 1/8", {640, 480}, {"-sample", "1x1"}, {79, 59}, {79, 59}, "1/8"},
        {"grey at 1/2", {640, 480}, {"-grayscale"}, {300, 225}, {300, 225}, "1/2"},
        {"restarts, full", {640, 480}, {"-restart", "2B"}, {480, 360}, {}, "1/1"},
        {"odd size, not proportional", {333, 251}, {"-sample", "2x2"}, {123, 77}, {123, 77},
         "1/2"},
        {"enlarged", {200, 150}, {"-sample", "2x2"}, {311, 233}, {}, "1/1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString ppm = dir.filePath(QStringLiteral("photo.ppm"));
        ASSERT_TRUE(makeTestPhoto(c.size.width(), c.size.height(), 11, false).save(ppm, "PPM"));
        const QByteArray source = runTool(
            QStringLiteral("cjpeg"), QStringList{"-quality", "90"} + c.options + QStringList{ppm});
        ASSERT_FALSE(source.isEmpty());
        const QString in = dir.filePath(QStringLiteral("in.jpg"));
        WriteFileBytes(in, source);
        QImage expected = fromPpm(runTool(QStringLiteral("djpeg"),
                                          {"-ppm", "-scale", QString::fromLatin1(c.scale), in}));
        ResampleBitmap(expected, c.target.width(), c.target.height());
        ASSERT_EQ(expected.size(), c.target);
        auto block = [](QImage& band, int top) {
            QPainter p(&band);
            p.fillRect(QRect(9, 13, 40, 70).translated(0, -top), QColor(250, 20, 30));
        };
        const QByteArray plain = EncodeJpegChecked(expected, 90);
        // Decoded so without an encode: the resampled pixels themselves.
        EXPECT_EQ(DecodeJpegResampled(source, c.least, c.target), expected);
        // Turned as the rows come: pixel for pixel the resampled picture turned.
        for (const int quarters : {1, 2, 3, -1}) {
            const int q = (quarters + 4) % 4;
            const QImage turned = DecodeJpegResampled(source, c.least, c.target, quarters);
            ASSERT_EQ(turned.size(), q == 2 ? c.target : c.target.transposed()) << quarters;
            const int w = expected.width(), h = expected.height();
            bool same = true;
            for (int y = 0; y < h && same; ++y)
                for (int x = 0; x < w && same; ++x) {
                    const QPoint at = q == 1 ? QPoint(h - 1 - y, x)
                                      : q == 3 ? QPoint(y, w - 1 - x)
                                               : QPoint(w - 1 - x, h - 1 - y);
                    same = turned.pixel(at) == expected.pixel(x, y);
                    EXPECT_TRUE(same) << quarters << " turns, source pixel " << x << "," << y;
                }
        }
        block(expected, 0);
        const QByteArray blocked = EncodeJpegChecked(expected, 90);
        for (const int rows : {1, 7, 64}) {
            TBandsOptions o;
            o.quality = 90;
            o.bandRows = rows;
            o.minDecode = c.least;
            o.output = c.target;
            EXPECT_TRUE(TranscodeJpegInBands(source, o, nullptr) == plain) << rows;
            int next = 0;
            const QByteArray banded = TranscodeJpegInBands(source, o, [&](QImage& band, int top) {
                EXPECT_EQ(top, next);
                EXPECT_EQ(band.width(), c.target.width());
                next = top + band.height();
                block(band, top);
            });
            EXPECT_EQ(next, c.target.height()) << rows;
            EXPECT_TRUE(banded == blocked) << rows;
        }
        if (!convert.isEmpty() && QByteArray(c.scale) == "1/1" && c.target.width() < c.size.width()) {
            // Decoded whole by djpeg, resized by ImageMagick's box filter.
            const QString full = dir.filePath(QStringLiteral("full.ppm"));
            WriteFileBytes(full, runTool(QStringLiteral("djpeg"), {"-ppm", in}));
            const QImage theirs = fromPpm(runTool(
                convert, {full, "-filter", "Box", "-resize",
                          QStringLiteral("%1x%2!").arg(c.target.width()).arg(c.target.height()),
                          "ppm:-"}));
            TBandsOptions o;
            o.quality = 100;
            o.output = c.target;
            const QImage ours = DecodeJpeg(TranscodeJpegInBands(source, o, nullptr));
            ASSERT_EQ(theirs.size(), ours.size());
            EXPECT_LT(meanDifference(theirs, ours, ours.rect()), 2.0);
        }
    }
}

// A cut source fails as its whole decode does; so does a painter that throws, and nothing is
// written.
TEST(JpegBands, FailuresAreTheDecodersOrThePaintersOwn) {
    const QByteArray good = EncodeJpeg(makeTestPhoto(200, 160, 3, false), 90);
    const QByteArray cut = good.left(good.size() / 2) + QByteArray("\xFF\xD9", 2);
    QString wholeError;
    try {
        DecodeJpeg(cut);
    } catch (const EInvalidGraphic& e) {
        wholeError = e.message();
    }
    ASSERT_FALSE(wholeError.isEmpty());
    try {
        TranscodeJpegInBands(cut, 90, false, 16, nullptr);
        ADD_FAILURE() << "a cut JPEG was transcoded";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.message(), wholeError);
    }
    EXPECT_THROW(TranscodeJpegInBands(good, 90, false, 16,
                                      [](QImage&, int top) {
                                          if (top >= 64)
                                              throw Exception(QStringLiteral("no brick"));
                                      }),
                 Exception);
    EXPECT_FALSE(JpegBandsSize(QByteArray("not a JPEG")).isValid());
    EXPECT_EQ(JpegBandsSize(good), QSize(200, 160));
}
