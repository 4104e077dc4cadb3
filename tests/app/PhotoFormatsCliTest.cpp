// Photos in PNG, TIFF (8 and 16 bits), WebP, HEIC and AVIF made by independent tools
// (ImageMagick, cwebp, heif-enc, exiftool), captioned by the tool and checked with those tools
// again. Every test skips when a tool it needs is missing.

#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <cstdlib>

namespace {

// One red bold caption at (20, 20) on the preview at zoom 1.
QByteArray captionPattern() {
    const QString body = QStringLiteral("object Text1: TText%CR%LF  Left = 20%CR%LF  Top = 20%CR%LF"
                                        "  Caption = 'RENDER'%CR%LF  Font.Color = clRed%CR%LF"
                                        "  Font.Height = -30%CR%LF  Font.Name = 'Arial'%CR%LF"
                                        "  Font.Style = [fsBold]%CR%LFend%CR%LF");
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"Test Project\" "
               "Created=\"by qmv\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
               "IsGrid=\"False\"/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
               "  <Bricks>\n    <Brick Body=\"%1\"/>\n  </Bricks>\n</Project>\n")
        .arg(body)
        .toUtf8();
}

bool have(const QString& tool) {
    return !QStandardPaths::findExecutable(tool).isEmpty();
}

struct ToolRun {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// The format of a file by its first bytes, told here by hand.
QString signatureOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("missing");
    const QByteArray h = f.read(64);
    if (h.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("png");
    if (h.startsWith(QByteArray("II*\0", 4)) || h.startsWith(QByteArray("MM\0*", 4)))
        return QStringLiteral("tiff");
    if (h.startsWith("RIFF") && h.mid(8, 4) == "WEBP")
        return QStringLiteral("webp");
    if (h.startsWith(QByteArray("\xFF\xD8\xFF", 3)))
        return QStringLiteral("jpeg");
    if (h.mid(4, 4) == "ftyp") {
        const QByteArray major = h.mid(8, 4);
        if (major == "avif" || major == "avis")
            return QStringLiteral("avif");
        if (major == "heic" || major == "heix" || major == "mif1")
            return QStringLiteral("heic");
    }
    return QStringLiteral("other");
}

// The picture as ImageMagick decodes it, as 8-bit RGB.
QImage decodedByImageMagick(const QString& path) {
    const ToolRun r = run(QStringLiteral("convert"), {path + QStringLiteral("[0]"),
                                                  QStringLiteral("-depth"), QStringLiteral("8"),
                                                  QStringLiteral("png:-")});
    if (r.code != 0)
        return QImage();
    return QImage::fromData(r.out, "PNG").convertToFormat(QImage::Format_RGB32);
}

// Red caption ink: clearly red pixels in the caption's area.
int redInk(const QImage& image, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom() && y < image.height(); ++y)
        for (int x = area.left(); x <= area.right() && x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90)
                ++n;
        }
    return n;
}

QString exifTag(const QString& path, const QString& tag) {
    const ToolRun r = run(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QLatin1Char('-') + tag, path});
    return QString::fromUtf8(r.out).trimmed();
}

QByteArray iccOf(const QString& path) {
    return run(QStringLiteral("exiftool"), {QStringLiteral("-b"), QStringLiteral("-icc_profile"), path}).out;
}

class PhotoFormatsCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid() && files.isValid());
        if (!have(QStringLiteral("convert")) || !have(QStringLiteral("exiftool")))
            GTEST_SKIP() << "ImageMagick's convert and exiftool are needed";
        pattern = write(QStringLiteral("pattern.xml"), captionPattern());
        // A profile that is not sRGB, so that keeping it is seen.
        icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
        iccFile = write(QStringLiteral("adobe.icc"), icc);
        source = path(QStringLiteral("source.png"));
        ASSERT_EQ(run(QStringLiteral("convert"),
                      {QStringLiteral("-size"), QStringLiteral("320x240"),
                       QStringLiteral("gradient:#305080-#e0c090"), QStringLiteral("-depth"),
                       QStringLiteral("8"), QStringLiteral("-profile"), iccFile, source})
                      .code,
                  0);
    }

    QString path(const QString& name) const { return files.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    CliRun cli(const QStringList& args) { return runCli(args, config.path()); }

    // Sets the date taken and an XMP title with exiftool and checks that it reads the date back.
    void stampDate(const QString& file) {
        ASSERT_EQ(run(QStringLiteral("exiftool"),
                      {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
                       QStringLiteral("-DateTimeOriginal=2021:06:15 10:20:30"),
                       QStringLiteral("-XMP-dc:Title=Harbour at dawn"), file})
                      .code,
                  0);
        ASSERT_EQ(exifTag(file, QStringLiteral("DateTimeOriginal")),
                  QStringLiteral("2021:06:15 10:20:30"));
    }

    // Renders file into out and checks what every format must show.
    void checkCaptioned(const QString& file, const QString& out, const QString& signature) {
        const QImage before = decodedByImageMagick(file);
        ASSERT_FALSE(before.isNull()) << file.toStdString();
        const CliRun r = cli({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                              QStringLiteral("--output"), out, file});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(signatureOf(out), signature);
        const QImage after = decodedByImageMagick(out);
        ASSERT_FALSE(after.isNull()) << "ImageMagick cannot decode " << out.toStdString();
        EXPECT_EQ(after.size(), before.size());
        // The caption: red ink where it is drawn, none in the source there; the rest as before.
        const QRect caption(15, 15, 150, 45);
        EXPECT_EQ(redInk(before, caption), 0);
        EXPECT_GT(redInk(after, caption), 300) << out.toStdString();
        const QRect rest(0, 120, before.width(), 120);
        EXPECT_LT(meanChannelDifference(before.copy(rest), after.copy(rest)), 3.0)
            << out.toStdString();
        EXPECT_EQ(exifTag(out, QStringLiteral("DateTimeOriginal")),
                  QStringLiteral("2021:06:15 10:20:30"))
            << out.toStdString();
        EXPECT_EQ(iccOf(out), icc) << "the colour profile of " << out.toStdString();
        EXPECT_EQ(exifTag(out, QStringLiteral("XMP-dc:Title")), QStringLiteral("Harbour at dawn"))
            << out.toStdString();
    }

    QTemporaryDir config;
    QTemporaryDir files;
    QString pattern;
    QByteArray icc;
    QString iccFile;
    QString source;
};

} // namespace

TEST_F(PhotoFormatsCli, PngAndEightBitTiffAreCaptionedInTheirOwnFormat) {
    const QString png = path(QStringLiteral("photo.png"));
    QFile::copy(source, png);
    stampDate(png);
    checkCaptioned(png, path(QStringLiteral("out.png")), QStringLiteral("png"));

    const QString tif = path(QStringLiteral("photo.TIF"));
    ASSERT_EQ(run(QStringLiteral("convert"), {source, QStringLiteral("-compress"),
                                              QStringLiteral("lzw"), QStringLiteral("tiff:") + tif})
                  .code,
              0);
    stampDate(tif);
    const QString out = path(QStringLiteral("out.tif"));
    checkCaptioned(tif, out, QStringLiteral("tiff"));
    if (have(QStringLiteral("tiffinfo"))) {
        const QString info = QString::fromUtf8(run(QStringLiteral("tiffinfo"), {out}).out);
        EXPECT_TRUE(info.contains(QStringLiteral("Bits/Sample: 8"))) << info.toStdString();
    }
}

TEST_F(PhotoFormatsCli, WebpStaysLosslessOrLossy) {
    if (!have(QStringLiteral("cwebp")))
        GTEST_SKIP() << "cwebp is needed";
    for (const bool lossless : {true, false}) {
        const QString name = lossless ? QStringLiteral("lossless") : QStringLiteral("lossy");
        const QString webp = path(name + QStringLiteral(".webp"));
        QStringList args{QStringLiteral("-quiet"), QStringLiteral("-metadata"),
                         QStringLiteral("icc")};
        args << (lossless ? QStringList{QStringLiteral("-lossless")}
                          : QStringList{QStringLiteral("-q"), QStringLiteral("85")});
        args << source << QStringLiteral("-o") << webp;
        ASSERT_EQ(run(QStringLiteral("cwebp"), args).code, 0);
        stampDate(webp);
        const QString out = path(name + QStringLiteral("-out.webp"));
        checkCaptioned(webp, out, QStringLiteral("webp"));
        // The coding, read from the file's chunks by exiftool.
        EXPECT_EQ(exifTag(out, QStringLiteral("VP8Version")).isEmpty(), lossless)
            << out.toStdString();
        EXPECT_TRUE(run(QStringLiteral("exiftool"), {QStringLiteral("-s3"),
                                                      QStringLiteral("-FileType"), out})
                        .out.contains("WEBP"));
    }
}

TEST_F(PhotoFormatsCli, HeicAndAvifAreWrittenAsThemselves) {
    if (!have(QStringLiteral("heif-enc")))
        GTEST_SKIP() << "heif-enc is needed";
    for (const bool avif : {false, true}) {
        const QString ext = avif ? QStringLiteral("avif") : QStringLiteral("heic");
        const QString file = path(QStringLiteral("photo.") + ext);
        QStringList args{QStringLiteral("-q"), QStringLiteral("90")};
        if (avif)
            args << QStringLiteral("-A");
        args << source << QStringLiteral("-o") << file;
        ASSERT_EQ(run(QStringLiteral("heif-enc"), args).code, 0);
        stampDate(file);
        checkCaptioned(file, path(QStringLiteral("out.") + ext), ext);
    }
}

namespace {

// A 4096-column ramp from black to white, one 16-bit step of 16 per column (16 columns per
// 8-bit level), 240 rows, in the Adobe RGB profile, as ImageMagick writes it (format: "tiff:",
// "PNG48:" ...).
void makeDeepRamp(const QString& file, const QString& iccFile, const QStringList& extra = {}) {
    QStringList args{QStringLiteral("-size"), QStringLiteral("240x4096"),
                     QStringLiteral("gradient:black-white"), QStringLiteral("-rotate"),
                     QStringLiteral("-90"), QStringLiteral("-depth"), QStringLiteral("16"),
                     QStringLiteral("-profile"), iccFile};
    args << extra << file;
    ASSERT_EQ(run(QStringLiteral("convert"), args).code, 0);
}

// One row of a written ramp, as ImageMagick's 16-bit grey samples, must still be smooth: 8 bits
// would show as steps of 257 between neighbours and at most 256 distinct values.
void expectSmoothRamp(const QString& out, int row) {
    const ToolRun pixels = run(QStringLiteral("convert"),
                               {out, QStringLiteral("-crop"),
                                QStringLiteral("4096x1+0+%1").arg(row), QStringLiteral("-depth"),
                                QStringLiteral("16"), QStringLiteral("-endian"),
                                QStringLiteral("MSB"), QStringLiteral("-colorspace"),
                                QStringLiteral("gray"), QStringLiteral("gray:-")});
    ASSERT_EQ(pixels.code, 0);
    ASSERT_EQ(pixels.out.size(), 4096 * 2);
    const auto* p = reinterpret_cast<const uchar*>(pixels.out.constData());
    auto value = [p](int x) { return int(p[2 * x]) << 8 | p[2 * x + 1]; };
    int distinct8 = 0, largestStep = 0, distinct16 = 1;
    for (int x = 1; x < 4096; ++x) {
        largestStep = std::max(largestStep, std::abs(value(x) - value(x - 1)));
        distinct16 += value(x) != value(x - 1);
        distinct8 += (value(x) >> 8) != (value(x - 1) >> 8);
    }
    // Rising by about 16 per column: no step larger than one 8-bit level, and far more
    // distinct values than 8 bits have.
    EXPECT_LE(largestStep, 257) << out.toStdString();
    EXPECT_GT(distinct16, 2000) << out.toStdString();
    EXPECT_GE(distinct8, 250) << out.toStdString();
    EXPECT_LT(value(0), 64) << out.toStdString();
    EXPECT_GT(value(4095), 65535 - 64) << out.toStdString();
}

} // namespace

// A 16-bit gradient keeps its 16 bits: every one of the 256 8-bit levels of the ramp lies
// between two 16-bit steps.
TEST_F(PhotoFormatsCli, SixteenBitTiffStaysSmooth) {
    if (!have(QStringLiteral("tiffinfo")))
        GTEST_SKIP() << "tiffinfo is needed";
    const QString tif = path(QStringLiteral("deep.tiff"));
    makeDeepRamp(tif, iccFile, {QStringLiteral("-compress"), QStringLiteral("zip")});
    stampDate(tif);
    const QString out = path(QStringLiteral("deep-out.tiff"));
    const CliRun r = cli({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                          QStringLiteral("--output"), out, tif});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(signatureOf(out), QStringLiteral("tiff"));
    const QString info = QString::fromUtf8(run(QStringLiteral("tiffinfo"), {out}).out);
    EXPECT_TRUE(info.contains(QStringLiteral("Bits/Sample: 16"))) << info.toStdString();
    EXPECT_EQ(exifTag(out, QStringLiteral("DateTimeOriginal")),
              QStringLiteral("2021:06:15 10:20:30"));
    EXPECT_EQ(iccOf(out), icc);
    // ImageMagick's 16-bit samples of one row below the caption.
    expectSmoothRamp(out, 200);

    // The caption was drawn too.
    const QImage after = decodedByImageMagick(out);
    const QImage before = decodedByImageMagick(tif);
    EXPECT_EQ(redInk(before, QRect(15, 15, 150, 45)), 0);
    EXPECT_GT(redInk(after, QRect(15, 15, 150, 45)), 300);
}

namespace {

// The bit depth and colour type of a PNG's header, as ImageMagick reports them.
QString pngHeaderOf(const QString& file) {
    return QString::fromUtf8(run(QStringLiteral("identify"),
                                 {QStringLiteral("-format"),
                                  QStringLiteral("%[png:IHDR.bit_depth] %[png:IHDR.color_type]"),
                                  file})
                                 .out)
        .trimmed();
}

} // namespace

// A 16-bit PNG stays 16-bit through render and through a batch that fits it, its profile and
// date kept, the ramp smooth.
TEST_F(PhotoFormatsCli, SixteenBitPngStaysSmooth) {
    const QString png = path(QStringLiteral("deep.png"));
    makeDeepRamp(QStringLiteral("PNG48:") + png, iccFile);
    ASSERT_TRUE(pngHeaderOf(png).startsWith(QStringLiteral("16 2"))) << pngHeaderOf(png).toStdString();
    stampDate(png);
    ASSERT_EQ(iccOf(png), icc) << "ImageMagick did not keep the profile";

    const QString out = path(QStringLiteral("deep-out.png"));
    const CliRun r = cli({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                          QStringLiteral("--output"), out, png});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(signatureOf(out), QStringLiteral("png"));
    // 16 bits, truecolour (2).
    EXPECT_TRUE(pngHeaderOf(out).startsWith(QStringLiteral("16 2"))) << pngHeaderOf(out).toStdString();
    EXPECT_EQ(exifTag(out, QStringLiteral("DateTimeOriginal")),
              QStringLiteral("2021:06:15 10:20:30"));
    EXPECT_EQ(iccOf(out), icc) << "the colour profile of the 16-bit PNG";
    EXPECT_EQ(exifTag(out, QStringLiteral("XMP-dc:Title")), QStringLiteral("Harbour at dawn"));
    expectSmoothRamp(out, 200);
    const QImage after = decodedByImageMagick(out);
    const QImage before = decodedByImageMagick(png);
    EXPECT_EQ(redInk(before, QRect(15, 15, 150, 45)), 0);
    EXPECT_GT(redInk(after, QRect(15, 15, 150, 45)), 300);

    // A batch that halves it: resampled at 16 bits too.
    const QString folder = path(QStringLiteral("fitted"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const CliRun b = cli({QStringLiteral("batch"), QStringLiteral("--pattern"), pattern,
                          QStringLiteral("--fit"), QStringLiteral("2048x2048"),
                          QStringLiteral("--output-dir"), folder, png});
    ASSERT_EQ(b.code, 0) << b.err.toStdString() << b.out.toStdString();
    const QString fitted = QDir(folder).filePath(QStringLiteral("deep.png"));
    EXPECT_TRUE(pngHeaderOf(fitted).startsWith(QStringLiteral("16 2")))
        << pngHeaderOf(fitted).toStdString();
    EXPECT_EQ(iccOf(fitted), icc);
    const QString size = QString::fromUtf8(
        run(QStringLiteral("identify"), {QStringLiteral("-format"), QStringLiteral("%wx%h"), fitted})
            .out);
    EXPECT_EQ(size, QStringLiteral("2048x120"));
    // Half as many columns: 8 per 8-bit level, each a 16-bit step of about 32.
    const ToolRun pixels = run(QStringLiteral("convert"),
                               {fitted, QStringLiteral("-crop"), QStringLiteral("2048x1+0+100"),
                                QStringLiteral("-depth"), QStringLiteral("16"),
                                QStringLiteral("-endian"), QStringLiteral("MSB"),
                                QStringLiteral("-colorspace"), QStringLiteral("gray"),
                                QStringLiteral("gray:-")});
    ASSERT_EQ(pixels.out.size(), 2048 * 2);
    const auto* p = reinterpret_cast<const uchar*>(pixels.out.constData());
    int largestStep = 0, distinct16 = 1;
    for (int x = 1; x < 2048; ++x) {
        const int a = int(p[2 * x - 2]) << 8 | p[2 * x - 1], c = int(p[2 * x]) << 8 | p[2 * x + 1];
        largestStep = std::max(largestStep, std::abs(c - a));
        distinct16 += c != a;
    }
    EXPECT_LE(largestStep, 257);
    EXPECT_GT(distinct16, 1500);
}

namespace {

// The bits a channel of a HEIF file's primary picture, from its pixi box as heif-info dumps it
// ("10,10,10"); empty when there is none.
QString heifBitsPerChannel(const QString& file) {
    const QString dump =
        QString::fromUtf8(run(QStringLiteral("heif-info"), {QStringLiteral("-d"), file}).out);
    const qsizetype at = dump.indexOf(QStringLiteral("bits_per_channel: "));
    if (at < 0)
        return QString();
    const qsizetype start = at + qsizetype(qstrlen("bits_per_channel: "));
    return dump.mid(start, dump.indexOf(QLatin1Char('\n'), start) - start).trimmed();
}

} // namespace

// A 10-bit HEIC or AVIF (heif-enc from a 16-bit PNG) is written at 10 bits again: the ramp,
// decoded by heif-convert, still has four times the levels 8 bits could hold.
TEST_F(PhotoFormatsCli, TenBitHeifStaysTenBit) {
    if (!have(QStringLiteral("heif-enc")) || !have(QStringLiteral("heif-info")) ||
        !have(QStringLiteral("heif-convert")))
        GTEST_SKIP() << "heif-enc, heif-info and heif-convert are needed";
    const QString png = path(QStringLiteral("deep.png"));
    makeDeepRamp(QStringLiteral("PNG48:") + png, iccFile);
    for (const bool avif : {false, true}) {
        const QString ext = avif ? QStringLiteral("avif") : QStringLiteral("heic");
        const QString file = path(QStringLiteral("deep.") + ext);
        QStringList args{QStringLiteral("-b"), QStringLiteral("10"), QStringLiteral("-q"),
                         QStringLiteral("90")};
        // This aom takes 10 bits with 4:2:2 chroma only.
        if (avif)
            args << QStringLiteral("-A") << QStringLiteral("-p") << QStringLiteral("chroma=422");
        args << png << QStringLiteral("-o") << file;
        if (run(QStringLiteral("heif-enc"), args).code != 0 ||
            heifBitsPerChannel(file) != QStringLiteral("10,10,10")) {
            ADD_FAILURE() << "heif-enc cannot write a 10-bit " << ext.toStdString() << " here";
            continue;
        }
        stampDate(file);
        const bool sourceHasProfile = iccOf(file) == icc;

        const QString out = path(QStringLiteral("deep-out.") + ext);
        const CliRun r = cli({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                              QStringLiteral("--output"), out, file});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(signatureOf(out), ext);
        EXPECT_EQ(heifBitsPerChannel(out), QStringLiteral("10,10,10")) << ext.toStdString();
        EXPECT_EQ(exifTag(out, QStringLiteral("ImagePixelDepth")), QStringLiteral("10 10 10"));
        EXPECT_EQ(exifTag(out, QStringLiteral("DateTimeOriginal")),
                  QStringLiteral("2021:06:15 10:20:30"));
        if (sourceHasProfile) {
            EXPECT_EQ(iccOf(out), icc) << ext.toStdString();
        }

        // heif-convert writes the 10-bit samples into a 16-bit PNG.
        const QString shown = path(QStringLiteral("deep-out-shown.png"));
        QFile::remove(shown);
        ASSERT_EQ(run(QStringLiteral("heif-convert"), {out, shown}).code, 0);
        const ToolRun pixels = run(QStringLiteral("convert"),
                                   {shown, QStringLiteral("-crop"),
                                    QStringLiteral("4096x1+0+200"), QStringLiteral("-depth"),
                                    QStringLiteral("16"), QStringLiteral("-endian"),
                                    QStringLiteral("MSB"), QStringLiteral("-colorspace"),
                                    QStringLiteral("gray"), QStringLiteral("gray:-")});
        ASSERT_EQ(pixels.out.size(), 4096 * 2);
        const auto* p = reinterpret_cast<const uchar*>(pixels.out.constData());
        const auto value = [p](int x) { return int(p[2 * x]) << 8 | p[2 * x + 1]; };
        QSet<int> levels;
        int largestStep = 0;
        for (int x = 0; x < 4096; ++x) {
            levels.insert(value(x));
            if (x > 0)
                largestStep = std::max(largestStep, std::abs(value(x) - value(x - 1)));
        }
        // 1024 levels at 10 bits, at most 256 through an 8-bit picture.
        EXPECT_GT(levels.size(), 900) << ext.toStdString();
        EXPECT_LE(largestStep, 257) << ext.toStdString();
        // ImageMagick decodes it, the caption drawn.
        EXPECT_GT(redInk(decodedByImageMagick(out), QRect(15, 15, 150, 45)), 300)
            << ext.toStdString();
    }
}

// Where HEIC or AVIF cannot be encoded (libheif without the encoder, as the preloaded fault
// injection makes it answer) the photo is written as JPEG beside it, with a notice: never under
// its own name, never over another file.
TEST_F(PhotoFormatsCli, UnwritableFormatIsWrittenBesideAsJpeg) {
    if (!have(QStringLiteral("heif-enc")) || !have(QStringLiteral("djpeg")))
        GTEST_SKIP() << "heif-enc and djpeg are needed";
    const QMap<QString, QString> noEncoder{
        {QStringLiteral("CAPTIOMARK_FAULT_NO_ENCODER"), QStringLiteral("hevc,av1")}};
    for (const bool avif : {false, true}) {
        const QString ext = avif ? QStringLiteral("avif") : QStringLiteral("heic");
        const QString name = avif ? QStringLiteral("AVIF") : QStringLiteral("HEIC");
        const QString file = path(QStringLiteral("phone.") + ext);
        QStringList args{QStringLiteral("-q"), QStringLiteral("90")};
        if (avif)
            args << QStringLiteral("-A");
        args << source << QStringLiteral("-o") << file;
        ASSERT_EQ(run(QStringLiteral("heif-enc"), args).code, 0);
        stampDate(file);
        const QByteArray original = sha256Of(file);
        const QImage before = decodedByImageMagick(file);

        // In place: phone.jpg beside it.
        const QString jpg = path(QStringLiteral("phone.jpg"));
        QFile::remove(jpg);
        CliRun r = runCliWithFaults({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                                     file},
                                    config.path(), noEncoder);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("%1 pictures cannot be written here; it is "
                                                  "written as JPEG to \"%2\".")
                                       .arg(name, jpg)))
            << r.out.toStdString();
        EXPECT_EQ(sha256Of(file), original) << "the source was changed";
        EXPECT_FALSE(QFile::exists(file + QStringLiteral(".bak")));
        EXPECT_EQ(signatureOf(jpg), QStringLiteral("jpeg"));
        EXPECT_EQ(run(QStringLiteral("djpeg"), {QStringLiteral("-pnm"), jpg}).code, 0);
        const QImage after = decodedByImageMagick(jpg);
        ASSERT_EQ(after.size(), before.size());
        EXPECT_GT(redInk(after, QRect(15, 15, 150, 45)), 300);
        EXPECT_LT(meanChannelDifference(before.copy(0, 120, 320, 120),
                                        after.copy(0, 120, 320, 120)),
                  3.0);
        EXPECT_EQ(exifTag(jpg, QStringLiteral("DateTimeOriginal")),
                  QStringLiteral("2021:06:15 10:20:30"));
        EXPECT_EQ(iccOf(jpg), icc) << "the colour profile of the JPEG written instead";

        // Again: that JPEG is not replaced.
        const QByteArray first = sha256Of(jpg);
        r = runCliWithFaults({QStringLiteral("render"), QStringLiteral("--pattern"), pattern, file},
                             config.path(), noEncoder);
        EXPECT_NE(r.code, 0);
        EXPECT_TRUE(r.err.contains(QStringLiteral("already exists"))) << r.err.toStdString();
        EXPECT_EQ(sha256Of(jpg), first);
        EXPECT_EQ(sha256Of(file), original);

        // A name of its own: a JPEG name is the one that fits; the photo's own format's name
        // becomes .jpg too.
        const QString named = path(QStringLiteral("named.jpg"));
        r = runCliWithFaults({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                              QStringLiteral("--output"), named, file},
                             config.path(), noEncoder);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(signatureOf(named), QStringLiteral("jpeg"));
        const QString other = path(QStringLiteral("other.") + ext);
        r = runCliWithFaults({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                              QStringLiteral("--output"), other, file},
                             config.path(), noEncoder);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(other));
        EXPECT_EQ(signatureOf(path(QStringLiteral("other.jpg"))), QStringLiteral("jpeg"));

        // A batch into another folder says so too.
        const QString folder = path(QStringLiteral("batch-") + ext);
        ASSERT_TRUE(QDir().mkpath(folder));
        r = runCliWithFaults({QStringLiteral("batch"), QStringLiteral("--pattern"), pattern,
                              QStringLiteral("--output-dir"), folder, file},
                             config.path(), noEncoder);
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        const QString batched = QDir(folder).filePath(QStringLiteral("phone.jpg"));
        EXPECT_TRUE((r.out + r.err).contains(
            QStringLiteral("%1 pictures cannot be written here; it is written as JPEG to \"%2\".")
                .arg(name, batched)))
            << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(signatureOf(batched), QStringLiteral("jpeg"));
        EXPECT_GT(redInk(decodedByImageMagick(batched), QRect(15, 15, 150, 45)), 300);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("phone.jpg")});
        EXPECT_EQ(sha256Of(file), original);
        QFile::remove(jpg);
        QFile::remove(named);
        QFile::remove(path(QStringLiteral("other.jpg")));
    }
}

// An HEIC stored on its side with an irot property (libheif writes it from the orientation
// asked for) is read upright, as libheif's own converter shows it, and captioned upright.
TEST_F(PhotoFormatsCli, HeicTurnedByItsPropertiesIsCaptionedUpright) {
    if (!have(QStringLiteral("heif-convert")))
        GTEST_SKIP() << "heif-convert is needed";
    // 300 x 100, its right sixth red.
    const int w = 300, h = 100;
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    ASSERT_EQ(heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code,
              heif_error_Ok);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = nullptr;
    heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, w, h, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* px = plane + y * stride + 3 * x;
            const bool red = x >= 250;
            px[0] = red ? 230 : 240;
            px[1] = red ? 20 : 240;
            px[2] = red ? 20 : 240;
        }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    ASSERT_EQ(heif_context_encode_image(ctx, image, encoder, options, nullptr).code,
              heif_error_Ok);
    const QString file = path(QStringLiteral("turned.heic"));
    ASSERT_EQ(heif_context_write_to_file(ctx, file.toLocal8Bit().constData()).code, heif_error_Ok);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);

    // What a viewer shows: libheif's converter applies the properties.
    const QString shown = path(QStringLiteral("shown.png"));
    ASSERT_EQ(run(QStringLiteral("heif-convert"), {file, shown}).code, 0);
    const QImage upright = QImage(shown).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(upright.size(), QSize(100, 300)) << "the property does not turn the picture";
    // Turned clockwise, the red band lies along the bottom.
    ASSERT_GT(qRed(upright.pixel(50, 290)), 180);
    ASSERT_LT(qGreen(upright.pixel(50, 290)), 90);
    ASSERT_GT(qGreen(upright.pixel(50, 10)), 180);

    const QString out = path(QStringLiteral("turned-out.heic"));
    const CliRun r = cli({QStringLiteral("render"), QStringLiteral("--pattern"), pattern,
                          QStringLiteral("--output"), out, file});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(signatureOf(out), QStringLiteral("heic"));
    const QString outShown = path(QStringLiteral("out-shown.png"));
    ASSERT_EQ(run(QStringLiteral("heif-convert"), {out, outShown}).code, 0);
    const QImage written = QImage(outShown).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(written.size(), QSize(100, 300));
    // The band is still at the bottom, and the caption lies at the top left of the upright
    // picture, where the pattern puts it.
    EXPECT_GT(qRed(written.pixel(50, 290)), 180);
    EXPECT_LT(qGreen(written.pixel(50, 290)), 90);
    EXPECT_GT(redInk(written, QRect(15, 15, 85, 45)), 100);
    const InkStats ink = inkWithin(written, upright, 60, QRect(0, 0, 100, 240));
    EXPECT_GT(ink.count, 100);
    EXPECT_GE(ink.box.left(), 15);
    EXPECT_GE(ink.box.top(), 15);
    EXPECT_LE(ink.box.top(), 35);
    EXPECT_LE(ink.box.bottom(), 65);
}
