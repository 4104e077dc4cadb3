// TIFF, WebP, HEIC and AVIF decoding limits, and 16-bit pictures through rotation and resampling.

#include "imaging/core/BitmapOps.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoFormats.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/core/TExif.h"
#include "platform/ColorMatrix.h"

#include <QFile>
#include <QProcess>
#include <QRgba64>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

bool have(const QString& tool) {
    return !QStandardPaths::findExecutable(tool).isEmpty();
}

// A little-endian TIFF of one strip that declares width x height, 8-bit RGB, with (too few)
// pixel bytes after it; built by hand.
QByteArray tiffDeclaring(quint32 width, quint32 height) {
    QByteArray t("II*\0", 4);
    auto u16 = [&t](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        t.append(b, 2);
    };
    auto u32 = [&t](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        t.append(b, 4);
    };
    u32(8);
    const quint16 entries = 9;
    u16(entries);
    const quint32 bitsAt = 8 + 2 + entries * 12 + 4;
    const quint32 dataAt = bitsAt + 6;
    auto entry = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == 3 && count == 1) {
            u16(quint16(value));
            u16(0);
        } else {
            u32(value);
        }
    };
    entry(256, 4, 1, width);
    entry(257, 4, 1, height);
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);      // no compression
    entry(262, 3, 1, 2);      // RGB
    entry(273, 4, 1, dataAt); // the strip
    entry(277, 3, 1, 3);
    entry(278, 4, 1, height);
    entry(279, 4, 1, 64);
    u32(0);
    u16(8);
    u16(8);
    u16(8);
    t.append(QByteArray(64, '\x40'));
    return t;
}

QByteArray run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Keeps the address space small while a decode runs, so that a picture allocated at its
// declared size fails instead of passing unseen.
struct AddressSpaceCap {
    rlimit old{};
    explicit AddressSpaceCap(rlim_t bytes) {
        getrlimit(RLIMIT_AS, &old);
        rlimit cap = old;
        cap.rlim_cur = bytes;
        setrlimit(RLIMIT_AS, &cap);
    }
    ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &old); }
};

} // namespace

TEST(PhotoFormats, DeclaredSizesAboveTheLimitsAreRefusedBeforeDecoding) {
    // 70000 pixels a side is over the side limit; 20000 x 20000 over the pixel limit (2^28).
    for (const QSize size : {QSize(70000, 10), QSize(20000, 20000)}) {
        const QByteArray tiff = tiffDeclaring(quint32(size.width()), quint32(size.height()));
        ASSERT_EQ(DetectImageType(tiff), ImageFileType::Tiff);
        try {
            DecodeImage(tiff);
            ADD_FAILURE() << "decoded " << size.width() << " x " << size.height();
        } catch (const EInvalidGraphic& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("too large"))) << e.what();
            EXPECT_TRUE(e.message().contains(QStringLiteral("TIFF"))) << e.what();
        }
    }
    // Within the photo limits but over a picture brick's (2^25 pixels): refused there, still
    // before its 400 MB of pixels are asked for.
    const QByteArray big = tiffDeclaring(10000, 10000);
    {
        const AddressSpaceCap cap(rlim_t(3) << 30);
        EXPECT_THROW(DecodeImageWithin(big, MaxPicturePixels), EInvalidGraphic);
    }
}

TEST(PhotoFormats, HeifAndWebpDeclaringTooManyPixelsAreRefused) {
    if (!have(QStringLiteral("heif-enc")) || !have(QStringLiteral("cwebp")) ||
        !have(QStringLiteral("convert")))
        GTEST_SKIP() << "heif-enc, cwebp and ImageMagick are needed";
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("small.png"));
    run(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("64x48"),
                                    QStringLiteral("gradient:#806040-#4060a0"),
                                    QStringLiteral("PNG24:") + png});
    ASSERT_TRUE(QFile::exists(png));
    // HEIC: the spatial extent property (ispe) patched by hand to 100000 x 100000.
    const QString heic = dir.filePath(QStringLiteral("small.heic"));
    run(QStringLiteral("heif-enc"), {png, QStringLiteral("-o"), heic});
    QByteArray heif = readAll(heic);
    ASSERT_EQ(DetectImageType(heif), ImageFileType::Heic);
    EXPECT_EQ(DecodeImage(heif).size(), QSize(64, 48));
    const qsizetype ispe = heif.indexOf("ispe");
    ASSERT_GT(ispe, 0);
    qToBigEndian<quint32>(100000, heif.data() + ispe + 8);
    qToBigEndian<quint32>(100000, heif.data() + ispe + 12);
    {
        const AddressSpaceCap cap(rlim_t(3) << 30);
        EXPECT_THROW(DecodeImage(heif), EInvalidGraphic);
    }
    // WebP: a lossless header patched to 16384 x 16384 (the format's largest), which is over a
    // picture brick's limit.
    const QString webp = dir.filePath(QStringLiteral("small.webp"));
    run(QStringLiteral("cwebp"), {QStringLiteral("-quiet"), QStringLiteral("-lossless"), png,
                                  QStringLiteral("-o"), webp});
    QByteArray w = readAll(webp);
    ASSERT_EQ(DetectImageType(w), ImageFileType::Webp);
    const qsizetype vp8l = w.indexOf("VP8L");
    ASSERT_GT(vp8l, 0);
    // Signature byte 0x2F, then 14 bits width - 1 and 14 bits height - 1.
    const quint32 bits = 16383u | (16383u << 14) | (quint32(uchar(w[vp8l + 12])) & 0xF0000000u);
    qToLittleEndian<quint32>(bits, w.data() + vp8l + 9);
    {
        const AddressSpaceCap cap(rlim_t(3) << 30);
        EXPECT_THROW(DecodeImageWithin(w, MaxPicturePixels), EInvalidGraphic);
    }
}

// 16-bit pictures keep their 16 bits through the operations a save may run.
TEST(PhotoFormats, SixteenBitPicturesAreTurnedAndResampledAtTheirDepth) {
    QImage ramp(8, 2, QImage::Format_RGBX64);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x)
            reinterpret_cast<QRgba64*>(ramp.scanLine(y))[x] =
                QRgba64::fromRgba64(quint16(1000 + 3 * x + y), quint16(40000 + x), 7, 65535);

    QImage turned = ramp;
    RotateBitmap(turned, qRgb(255, 255, 255), 90);
    ASSERT_EQ(turned.format(), QImage::Format_RGBX64);
    ASSERT_EQ(turned.size(), QSize(2, 8));
    // Clockwise: the bottom row becomes the left column.
    const auto at = [](const QImage& img, int x, int y) {
        return reinterpret_cast<const QRgba64*>(img.constScanLine(y))[x];
    };
    EXPECT_EQ(at(turned, 0, 0).red(), 1001);
    EXPECT_EQ(at(turned, 1, 0).red(), 1000);
    EXPECT_EQ(at(turned, 0, 7).red(), 1000 + 21 + 1);

    QImage half = ramp;
    ResampleBitmap(half, 4, 1);
    ASSERT_EQ(half.format(), QImage::Format_RGBX64);
    // Each result pixel is the mean of a 2 x 2 block, worked out by hand: red
    // (1000 + 6d) + (1003 + 6d) + (1001 + 6d) + (1004 + 6d) over 4 = 1002 + 6d.
    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(at(half, d, 0).red(), 1002 + 6 * d) << d;
        EXPECT_EQ(at(half, d, 0).green(), 40001 + 2 * d) << d; // 2d + 1/2, halves up
        EXPECT_EQ(at(half, d, 0).blue(), 7);
    }

    // Brightness +0.25 adds a quarter of full scale: 16384 (65535 / 4 = 16383.75, rounded).
    ColorMatrix brighter = IdentityColorMatrix();
    for (int c = 0; c < 3; ++c)
        brighter[4][c] = 0.25f;
    QImage adjusted = ramp;
    ApplyColorMatrixInPlace(adjusted, brighter);
    ASSERT_EQ(adjusted.format(), QImage::Format_RGBX64);
    EXPECT_EQ(at(adjusted, 3, 1).red(), 1000 + 9 + 1 + 16384);
    EXPECT_EQ(at(adjusted, 3, 1).green(), 40003 + 16384);
    EXPECT_EQ(at(adjusted, 3, 1).blue(), 7 + 16384);
}

// The EXIF block of the newer containers is read as a JPEG's is: date and orientation.
TEST(PhotoFormats, ExifOfEveryContainerIsRead) {
    if (!have(QStringLiteral("exiftool")) || !have(QStringLiteral("convert")))
        GTEST_SKIP() << "exiftool and ImageMagick are needed";
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("a.png"));
    // RGB (PNG24): a grey or palette PNG would make a monochrome AVIF.
    run(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("40x30"),
                                    QStringLiteral("gradient:#406080-#a08060"),
                                    QStringLiteral("PNG24:") + png});
    QStringList files{png};
    const QString tif = dir.filePath(QStringLiteral("a.tif"));
    run(QStringLiteral("convert"), {png, tif});
    files << tif;
    if (have(QStringLiteral("cwebp"))) {
        files << dir.filePath(QStringLiteral("a.webp"));
        run(QStringLiteral("cwebp"), {QStringLiteral("-quiet"), png, QStringLiteral("-o"), files.last()});
    }
    if (have(QStringLiteral("heif-enc"))) {
        files << dir.filePath(QStringLiteral("a.heic"));
        run(QStringLiteral("heif-enc"), {png, QStringLiteral("-o"), files.last()});
        files << dir.filePath(QStringLiteral("a.avif"));
        run(QStringLiteral("heif-enc"), {QStringLiteral("-A"), png, QStringLiteral("-o"), files.last()});
    }
    for (const QString& file : files) {
        run(QStringLiteral("exiftool"),
            {QStringLiteral("-q"), QStringLiteral("-overwrite_original"),
             QStringLiteral("-DateTimeOriginal=2019:03:04 05:06:07"),
             QStringLiteral("-Orientation#=6"), file});
        TExif exif;
        ASSERT_NO_THROW(exif.LoadFromJpeg(file)) << file.toStdString();
        EXPECT_EQ(exif.Values(0x9003), QStringList{QStringLiteral("2019:03:04 05:06:07") + QChar(0)})
            << file.toStdString();
        EXPECT_EQ(exif.Orientation, 6u) << file.toStdString();
        // The photo is turned by it, except a HEIF one, which its own properties turn.
        const LoadedPhoto photo = LoadPhotoFile(file, true);
        const bool heif = file.endsWith(QStringLiteral("heic")) || file.endsWith(QStringLiteral("avif"));
        EXPECT_EQ(photo.picture.size(), heif ? QSize(40, 30) : QSize(30, 40)) << file.toStdString();
        EXPECT_EQ(photo.exif.Orientation, 1u) << file.toStdString();
    }
}
