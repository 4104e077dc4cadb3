#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/core/TExif.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>
#include <zlib.h>

namespace {

// ---- byte building helpers, written from the file layouts, independent of our decoders ------

void le16(QByteArray& b, quint32 v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void le32(QByteArray& b, quint32 v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
void be32(QByteArray& b, quint32 v) {
    b.append(char(v >> 24));
    b.append(char((v >> 16) & 0xFF));
    b.append(char((v >> 8) & 0xFF));
    b.append(char(v & 0xFF));
}

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

struct BmpSpec {
    int width = 1;
    int height = 1; // negative: top-down
    int bits = 24;
    quint32 compression = 0;
    int headerSize = 40; // 12, 40, 108 or 124
    std::vector<QRgb> palette;
    std::vector<quint32> masks;   // after a 40-byte header, or inside a V4/V5 header
    std::vector<QByteArray> rows; // in file order, without padding
    QByteArray raw;               // used instead of rows when not empty (run-length data)
};

QByteArray buildBmp(const BmpSpec& s) {
    QByteArray info;
    if (s.headerSize == 12) {
        le32(info, 12);
        le16(info, quint32(s.width));
        le16(info, quint32(s.height));
        le16(info, 1);
        le16(info, quint32(s.bits));
    } else {
        le32(info, quint32(s.headerSize));
        le32(info, quint32(s.width));
        le32(info, quint32(s.height));
        le16(info, 1);
        le16(info, quint32(s.bits));
        le32(info, s.compression);
        le32(info, 0); // size of image: may be 0 for BI_RGB
        le32(info, 2835);
        le32(info, 2835);
        le32(info, quint32(s.palette.size()));
        le32(info, 0);
        if (s.headerSize > 40) {
            for (size_t i = 0; i < 4; ++i)
                le32(info, i < s.masks.size() ? s.masks[i] : 0);
            while (info.size() < s.headerSize)
                info.append('\0');
        } else {
            for (quint32 m : s.masks)
                le32(info, m);
        }
    }
    for (QRgb c : s.palette) {
        info.append(char(qBlue(c)));
        info.append(char(qGreen(c)));
        info.append(char(qRed(c)));
        if (s.headerSize != 12)
            info.append('\0');
    }
    QByteArray pixels = s.raw;
    if (pixels.isEmpty()) {
        for (QByteArray row : s.rows) {
            while (row.size() % 4)
                row.append('\0');
            pixels.append(row);
        }
    }
    QByteArray file("BM");
    le32(file, quint32(14 + info.size() + pixels.size()));
    le32(file, 0);
    le32(file, quint32(14 + info.size()));
    return file + info + pixels;
}

QRgb pixelAt(const QImage& image, int x, int y) {
    return image.pixel(x, y);
}

QImage smoothGradient(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           qRgb(x * 255 / (width - 1), y * 255 / (height - 1),
                                (x + y) * 255 / (width + height - 2)));
    return image;
}

template <typename F> QString errorOf(F&& f) {
    try {
        f();
    } catch (const EInvalidGraphic& e) {
        return e.message();
    }
    return QStringLiteral("<no EInvalidGraphic>");
}

QByteArray qtEncode(const QImage& image, const char* format, int quality = -1) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return out;
}

// A JPEG written directly with libjpeg from 4-component CMYK samples (with the Adobe marker
// libjpeg adds for CMYK, meaning inverted values).
QByteArray cmykJpeg(int width, int height, const unsigned char cmyk[4]) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(size_t(width) * 4);
    for (int x = 0; x < width; ++x)
        std::copy(cmyk, cmyk + 4, row.begin() + x * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    free(buffer);
    return out;
}

// A JPEG written directly with libjpeg from an RGB32 image, progressive or with a restart
// marker after every restartRows rows of blocks.
QByteArray libjpegFile(const QImage& image, bool progressive, int restartRows = 0) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW r = const_cast<JSAMPROW>(rgb.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    free(buffer);
    return out;
}

QByteArray progressiveJpeg(const QImage& image) {
    return libjpegFile(image, true);
}

// A GIF written with giflib itself.
struct GifSpec {
    int screenWidth = 4;
    int screenHeight = 4;
    int background = 0;
    std::vector<QRgb> globalMap; // power-of-two size, or empty
    std::vector<QRgb> localMap;
    int transparent = -1;
    int left = 0, top = 0, width = 4, height = 4;
    bool interlace = false;
    std::vector<int> pixels; // width * height, row-major
};

int appendToByteArray(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

ColorMapObject* gifMap(const std::vector<QRgb>& colors) {
    if (colors.empty())
        return nullptr;
    std::vector<GifColorType> c(colors.size());
    for (size_t i = 0; i < colors.size(); ++i)
        c[i] = GifColorType{GifByteType(qRed(colors[i])), GifByteType(qGreen(colors[i])),
                            GifByteType(qBlue(colors[i]))};
    return GifMakeMapObject(int(colors.size()), c.data());
}

QByteArray buildGif(const GifSpec& s) {
    QByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, appendToByteArray, &error);
    EXPECT_NE(gif, nullptr);
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = gifMap(s.globalMap);
    ColorMapObject* local = gifMap(s.localMap);
    EXPECT_EQ(EGifPutScreenDesc(gif, s.screenWidth, s.screenHeight, 8, s.background, global),
              GIF_OK);
    if (s.transparent >= 0) {
        GifByteType gce[4] = {1, 0, 0, GifByteType(s.transparent)};
        EXPECT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce), GIF_OK);
    }
    EXPECT_EQ(EGifPutImageDesc(gif, s.left, s.top, s.width, s.height, s.interlace, local), GIF_OK);
    std::vector<int> order;
    if (s.interlace) {
        for (int y = 0; y < s.height; y += 8)
            order.push_back(y);
        for (int y = 4; y < s.height; y += 8)
            order.push_back(y);
        for (int y = 2; y < s.height; y += 4)
            order.push_back(y);
        for (int y = 1; y < s.height; y += 2)
            order.push_back(y);
    } else {
        for (int y = 0; y < s.height; ++y)
            order.push_back(y);
    }
    for (int y : order) {
        std::vector<GifPixelType> line(size_t(s.width));
        for (int x = 0; x < s.width; ++x)
            line[size_t(x)] = GifPixelType(s.pixels[size_t(y * s.width + x)]);
        EXPECT_EQ(EGifPutLine(gif, line.data(), s.width), GIF_OK);
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    if (global)
        GifFreeMapObject(global);
    if (local)
        GifFreeMapObject(local);
    return out;
}

QByteArray pngChunk(const char* type, const QByteArray& data) {
    QByteArray chunk;
    be32(chunk, quint32(data.size()));
    const QByteArray body = QByteArray(type) + data;
    chunk.append(body);
    be32(chunk,
         quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    return chunk;
}

} // namespace

// ---------------------------------------------------------------------------------------------

struct DetectionCase {
    const char* name;
    QByteArray data;
    ImageFileType expected;
};
void PrintTo(const DetectionCase& c, std::ostream* os) {
    *os << c.name;
}

class ImageTypeDetection : public ::testing::TestWithParam<DetectionCase> {};

// Signatures, not names; short or unknown data is Other.
TEST_P(ImageTypeDetection, RecognisesSignaturesNotNames) {
    EXPECT_EQ(DetectImageType(GetParam().data), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, ImageTypeDetection,
    ::testing::Values(
        DetectionCase{"jpeg", bytes({0xFF, 0xD8, 0xFF, 0xE0}), ImageFileType::Jpeg},
        DetectionCase{"gif89a", "GIF89a...", ImageFileType::Gif},
        DetectionCase{"gif87a", "GIF87a...", ImageFileType::Gif},
        DetectionCase{"png", bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}),
                      ImageFileType::Png},
        DetectionCase{"bmp", "BM\x10\0\0\0", ImageFileType::Bmp},
        DetectionCase{"ico", bytes({0, 0, 1, 0, 1, 0}), ImageFileType::Ico},
        DetectionCase{"empty", QByteArray(), ImageFileType::Other},
        DetectionCase{"jpeg_too_short", bytes({0xFF, 0xD8}), ImageFileType::Other},
        DetectionCase{"gif_too_short", "GIF", ImageFileType::Other},
        DetectionCase{"cursor_not_icon", bytes({0, 0, 2, 0}), ImageFileType::Other},
        DetectionCase{"text", "hello world", ImageFileType::Other}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

TEST(JpegCodec, SmoothGradientRoundTripsWithinThree) {
    const QImage source = smoothGradient(320, 240);
    const QImage decoded = DecodeJpeg(EncodeJpeg(source, 95));
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(decoded, source, 3, &why)) << why.toStdString();
}

TEST(JpegCodec, OurOutputDecodesTheSameInQt) {
    const QImage source = smoothGradient(200, 150);
    const QByteArray file = EncodeJpeg(source, 90);
    const QImage byQt = QImage::fromData(file, "JPEG").convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(byQt.isNull());
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(DecodeJpeg(file), byQt, 2, &why)) << why.toStdString();
    EXPECT_TRUE(fuzzyImageCompare(byQt, source, 4, &why)) << why.toStdString();
}

TEST(JpegCodec, AcceptsImagesInOtherFormatsAndDropsAlpha) {
    QImage argb(40, 30, QImage::Format_ARGB32);
    argb.fill(qRgba(200, 100, 50, 40));
    const QImage decoded = DecodeJpeg(EncodeJpeg(argb, 100));
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    EXPECT_LE(std::abs(qRed(pixelAt(decoded, 10, 10)) - 200), 2);
    EXPECT_LE(std::abs(qBlue(pixelAt(decoded, 10, 10)) - 50), 2);

    QImage rgb888(40, 30, QImage::Format_RGB888);
    rgb888.fill(QColor(10, 220, 130));
    const QImage fromRgb888 = DecodeJpeg(EncodeJpeg(rgb888, 100));
    EXPECT_LE(std::abs(qGreen(pixelAt(fromRgb888, 20, 15)) - 220), 2);
}

TEST(JpegCodec, QualityIsClampedToOneToHundred) {
    const QImage source = makeTestPhoto(64, 48);
    EXPECT_EQ(EncodeJpeg(source, 0), EncodeJpeg(source, 1));
    EXPECT_EQ(EncodeJpeg(source, -50), EncodeJpeg(source, 1));
    EXPECT_EQ(EncodeJpeg(source, 101), EncodeJpeg(source, 100));
    EXPECT_EQ(EncodeJpeg(source, 1000), EncodeJpeg(source, 100));
    EXPECT_LT(EncodeJpeg(source, 1).size(), EncodeJpeg(source, 100).size());
    EXPECT_NE(EncodeJpeg(source, 50), EncodeJpeg(source, 51));
}

TEST(JpegCodec, EmptyImageCannotBeEncoded) {
    EXPECT_THROW(EncodeJpeg(QImage(), 90), EInvalidGraphic);
}

TEST(JpegCodec, GrayscaleFileWrittenByQtDecodesToGrayRgb) {
    QImage gray(64, 32, QImage::Format_Grayscale8);
    for (int y = 0; y < gray.height(); ++y)
        for (int x = 0; x < gray.width(); ++x)
            gray.scanLine(y)[x] = uchar(x * 4);
    const QByteArray file = qtEncode(gray, "jpeg", 100);
    {
        QByteArray copy = file;
        QBuffer buffer(&copy);
        QImageReader probe(&buffer, "jpeg");
        ASSERT_EQ(probe.imageFormat(), QImage::Format_Grayscale8) << "Qt did not write gray";
    }
    const QImage decoded = DecodeJpeg(file);
    ASSERT_EQ(decoded.format(), QImage::Format_RGB32);
    ASSERT_EQ(decoded.size(), gray.size());
    for (int y = 0; y < decoded.height(); y += 7)
        for (int x = 0; x < decoded.width(); ++x) {
            const QRgb p = pixelAt(decoded, x, y);
            EXPECT_EQ(qRed(p), qGreen(p));
            EXPECT_EQ(qGreen(p), qBlue(p));
            EXPECT_LE(std::abs(qRed(p) - x * 4), 3) << "at " << x << "," << y;
        }
}

TEST(JpegCodec, AdobeCmykFilesConvertToRgb) {
    struct Case {
        unsigned char cmyk[4];
        QRgb expected;
    };
    // Adobe stores inverted ink: 255 means no ink.
    const Case cases[] = {
        {{255, 255, 255, 255}, qRgb(255, 255, 255)}, // no ink
        {{255, 255, 255, 0}, qRgb(0, 0, 0)},         // full black
        {{0, 255, 255, 255}, qRgb(0, 255, 255)},     // full cyan
        {{255, 0, 255, 255}, qRgb(255, 0, 255)},     // full magenta
        {{255, 255, 0, 255}, qRgb(255, 255, 0)},     // full yellow
        {{255, 255, 255, 128}, qRgb(128, 128, 128)}, // half black
    };
    for (const Case& c : cases) {
        const QImage decoded = DecodeJpeg(cmykJpeg(16, 16, c.cmyk));
        ASSERT_EQ(decoded.format(), QImage::Format_RGB32);
        QImage expected(16, 16, QImage::Format_RGB32);
        expected.fill(c.expected);
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(decoded, expected, 3, &why)) << why.toStdString();
    }
}

TEST(JpegCodec, MissingOnlyTheEndMarkerStillDecodes) {
    const QByteArray file = EncodeJpeg(makeTestPhoto(96, 64), 90);
    ASSERT_TRUE(file.endsWith("\xFF\xD9"));
    const QImage whole = DecodeJpeg(file);
    const QImage cut = DecodeJpeg(file.left(file.size() - 2));
    EXPECT_TRUE(fuzzyImageCompare(cut, whole, 0));
}

TEST(JpegCodec, ProgressiveFilesDecodeAndCutOnesAreRejected) {
    const QImage source = smoothGradient(120, 80);
    const QByteArray file = progressiveJpeg(source);
    const QImage decoded = DecodeJpeg(file);
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(decoded, source, 4, &why)) << why.toStdString();
    const QImage byQt = QImage::fromData(file, "JPEG").convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(fuzzyImageCompare(decoded, byQt, 2, &why)) << why.toStdString();
    EXPECT_TRUE(errorOf([&] {
                    DecodeJpeg(file.left(file.size() * 2 / 3));
                }).startsWith("Invalid JPEG file: Premature end"));
}

// libjpeg's own warning count for a file, with its default error handler (an independent
// check that a case really makes libjpeg warn).
long libjpegWarnings(const QByteArray& file) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    err.emit_message = [](j_common_ptr c, int level) {
        if (level < 0)
            c->err->num_warnings++;
    };
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(file.constData()),
                 static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    std::vector<unsigned char> row(size_t(cinfo.output_width) * size_t(cinfo.output_components));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW r = row.data();
        jpeg_read_scanlines(&cinfo, &r, 1);
    }
    const long warnings = err.num_warnings;
    jpeg_destroy_decompress(&cinfo);
    return warnings;
}

const QByteArray JpegEnd("\xFF\xD9", 2);

// Where the entropy-coded data of the (last) scan starts.
qsizetype scanDataStart(const QByteArray& file) {
    const qsizetype sos = file.lastIndexOf(QByteArray("\xFF\xDA", 2));
    EXPECT_GT(sos, 0);
    return sos + 2 + ((uchar(file[sos + 2]) << 8) | uchar(file[sos + 3]));
}

// libjpeg only warns about lost or damaged pixel data and paints the rest grey; such a picture
// is refused with libjpeg's own message, so that it is never saved over the original.
TEST(JpegCodec, CorruptOrMissingDataIsRejectedWithLibjpegsMessage) {
    const QByteArray file = EncodeJpeg(makeTestPhoto(128, 128), 90);
    ASSERT_EQ(libjpegWarnings(file), 0);
    const QString cutSegment =
        QStringLiteral("Invalid JPEG file: Corrupt JPEG data: premature end of data segment");
    const QString cutFile = QStringLiteral("Invalid JPEG file: Premature end of JPEG file");

    // Cut in half with an end marker appended, as a broken copy leaves it.
    const QByteArray halfWithEnd = file.left(file.size() / 2) + JpegEnd;
    EXPECT_GT(libjpegWarnings(halfWithEnd), 0);
    EXPECT_EQ(errorOf([&] { DecodeJpeg(halfWithEnd); }), cutSegment);
    EXPECT_EQ(errorOf([&] { DecodeImage(halfWithEnd); }), cutSegment);

    // Cut inside the last row of blocks: only the bottom rows would be grey.
    EXPECT_EQ(errorOf([&] { DecodeJpeg(file.left(file.size() - 40)); }), cutFile);
    EXPECT_EQ(errorOf([&] { DecodeJpeg(file.left(file.size() - 40) + JpegEnd); }), cutSegment);

    // A restart marker out of sequence.
    QByteArray restarts = libjpegFile(makeTestPhoto(64, 64), false, 1);
    ASSERT_EQ(libjpegWarnings(restarts), 0);
    const qsizetype rst0 = restarts.indexOf(QByteArray("\xFF\xD0", 2), scanDataStart(restarts));
    ASSERT_GT(rst0, 0);
    restarts[rst0 + 1] = char(0xD5);
    EXPECT_GT(libjpegWarnings(restarts), 0);
    EXPECT_EQ(errorOf([&] { DecodeJpeg(restarts); }),
              QStringLiteral("Invalid JPEG file: Corrupt JPEG data: found marker 0xd5 instead "
                             "of RST0"));

    // Progressive: cut inside a scan, with and without an end marker.
    const QByteArray progressive = progressiveJpeg(smoothGradient(120, 80));
    const QByteArray progressiveCut = progressive.left(progressive.size() * 2 / 3);
    EXPECT_EQ(errorOf([&] { DecodeJpeg(progressiveCut + JpegEnd); }), cutSegment);
    // Cut between two scans: each scan present is whole, the last refinement is missing.
    const qsizetype lastScan = progressive.lastIndexOf(QByteArray("\xFF\xDA", 2));
    EXPECT_EQ(errorOf([&] { DecodeJpeg(progressive.left(lastScan)); }), cutFile);
}

// Some warnings do not touch the pixels: a missing end marker, stray bytes between segments
// (common in camera files). Those pictures open as they are.
TEST(JpegCodec, HarmlessWarningsStillDecode) {
    const QByteArray file = EncodeJpeg(makeTestPhoto(96, 64), 90);
    const QImage whole = DecodeJpeg(file);

    const int app0 = 4 + ((uchar(file[4]) << 8) | uchar(file[5]));
    ASSERT_EQ(uchar(file[app0]), 0xFF);
    const QByteArray stray = file.left(app0) + "abc" + file.mid(app0);
    EXPECT_GT(libjpegWarnings(stray), 0);
    EXPECT_TRUE(fuzzyImageCompare(DecodeJpeg(stray), whole, 0));

    const QByteArray progressive = progressiveJpeg(smoothGradient(120, 80));
    ASSERT_TRUE(progressive.endsWith(JpegEnd));
    const QByteArray noEnd = progressive.left(progressive.size() - 2);
    EXPECT_GT(libjpegWarnings(noEnd), 0);
    EXPECT_TRUE(fuzzyImageCompare(DecodeJpeg(noEnd), DecodeJpeg(progressive), 0));
}

// Real camera files (when the shared samples are present) decode without complaint, to the
// size and pixels Qt's own reader gives.
TEST(JpegCodec, CameraFilesDecode) {
    const QString dir = sharedTestDataDir();
    if (dir.isEmpty() || !QFileInfo(dir + QStringLiteral("/exif")).isDir())
        GTEST_SKIP() << "camera samples absent";
    const QFileInfoList files =
        QDir(dir + QStringLiteral("/exif"))
            .entryInfoList({QStringLiteral("*.jpg"), QStringLiteral("*.JPG")}, QDir::Files,
                           QDir::Name);
    EXPECT_EQ(files.size(), 31);
    for (const QFileInfo& info : files) {
        SCOPED_TRACE(info.fileName().toStdString());
        QImage decoded;
        try {
            decoded = ReadImageFile(info.filePath());
        } catch (const Exception& e) {
            ADD_FAILURE() << e.message().toStdString();
            continue;
        }
        QImageReader reader(info.filePath());
        reader.setAutoTransform(false);
        const QImage byQt = reader.read().convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(byQt.isNull()) << reader.errorString().toStdString();
        EXPECT_LT(differingPixelShare(decoded, byQt, 2), 0.001);
    }
}

// The mean of each factor x factor block of an image whose sides the factor divides.
QImage boxAverage(const QImage& image, int factor) {
    QImage out(image.width() / factor, image.height() / factor, QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            int sum[3] = {0, 0, 0};
            for (int dy = 0; dy < factor; ++dy)
                for (int dx = 0; dx < factor; ++dx) {
                    const QRgb p = image.pixel(x * factor + dx, y * factor + dy);
                    sum[0] += qRed(p);
                    sum[1] += qGreen(p);
                    sum[2] += qBlue(p);
                }
            const int n = factor * factor;
            out.setPixel(x, y,
                         qRgb((sum[0] + n / 2) / n, (sum[1] + n / 2) / n, (sum[2] + n / 2) / n));
        }
    return out;
}

TEST(JpegCodec, ScaledDecodeTakesTheLargestReductionCoveringTheSize) {
    const QByteArray file = EncodeJpeg(makeTestPhoto(320, 240, 4), 95);
    const QImage full = DecodeJpeg(file);
    const struct {
        int minWidth, minHeight;
        QSize expected;
    } cases[] = {
        {40, 30, {40, 30}},     {0, 0, {40, 30}},       {-5, -5, {40, 30}},
        {41, 30, {80, 60}},     {40, 31, {80, 60}},     {80, 60, {80, 60}},
        {81, 1, {160, 120}},    {160, 120, {160, 120}}, {161, 120, {320, 240}},
        {320, 240, {320, 240}}, {1000, 10, {320, 240}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.minWidth << " x " << c.minHeight);
        const QImage scaled = DecodeJpegScaled(file, c.minWidth, c.minHeight);
        ASSERT_EQ(scaled.size(), c.expected);
        EXPECT_EQ(scaled.format(), QImage::Format_RGB32);
        const QImage expected = boxAverage(full, 320 / scaled.width());
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(scaled, expected, 3, &why)) << why.toStdString();
        EXPECT_LT(differingPixelShare(scaled, expected, 1), 0.05);
    }

    // Sides the reduction does not divide are rounded up.
    const QByteArray odd = EncodeJpeg(makeTestPhoto(101, 67), 90);
    EXPECT_EQ(DecodeJpegScaled(odd, 13, 9).size(), QSize(13, 9));
    EXPECT_EQ(DecodeJpegScaled(odd, 14, 9).size(), QSize(26, 17));
    EXPECT_EQ(DecodeJpegScaled(odd, 51, 34).size(), QSize(51, 34));
    EXPECT_EQ(DecodeJpegScaled(odd, 52, 34).size(), QSize(101, 67));

    // Damaged data is refused at every scale.
    EXPECT_EQ(
        errorOf([&] { DecodeJpegScaled(file.left(file.size() / 2) + JpegEnd, 40, 30); }),
        QStringLiteral("Invalid JPEG file: Corrupt JPEG data: premature end of data segment"));
    EXPECT_TRUE(errorOf([&] {
                    DecodeJpegScaled("\xFF\xD8\xFF", 40, 30);
                }).startsWith("Invalid JPEG file: "));
}

// ---------------------------------------------------------------------------------------------

TEST(BmpDecoder, OneBitPaletteBottomUp) {
    BmpSpec s;
    s.width = 10;
    s.height = 2;
    s.bits = 1;
    s.palette = {qRgb(10, 20, 30), qRgb(200, 100, 50)};
    // Bottom row first: 1010101010, then 1100000011.
    s.rows = {bytes({0xAA, 0x80}), bytes({0xC0, 0xC0})};
    const QImage image = DecodeBmp(buildBmp(s));
    ASSERT_EQ(image.size(), QSize(10, 2));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    const QRgb a = qRgb(10, 20, 30), b = qRgb(200, 100, 50);
    const QRgb top[10] = {b, b, a, a, a, a, a, a, b, b};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(pixelAt(image, x, 0), top[x]) << x;
        EXPECT_EQ(pixelAt(image, x, 1), x % 2 == 0 ? b : a) << x;
    }
}

TEST(BmpDecoder, FourBitOddWidthWithPadding) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bits = 4;
    for (int i = 0; i < 16; ++i)
        s.palette.push_back(qRgb(i * 16, 255 - i * 16, i));
    s.rows = {bytes({0x12, 0x30}), bytes({0xF0, 0xE0})};
    const QImage image = DecodeBmp(buildBmp(s));
    ASSERT_EQ(image.size(), QSize(3, 2));
    EXPECT_EQ(pixelAt(image, 0, 1), s.palette[1]);
    EXPECT_EQ(pixelAt(image, 1, 1), s.palette[2]);
    EXPECT_EQ(pixelAt(image, 2, 1), s.palette[3]);
    EXPECT_EQ(pixelAt(image, 0, 0), s.palette[15]);
    EXPECT_EQ(pixelAt(image, 1, 0), s.palette[0]);
    EXPECT_EQ(pixelAt(image, 2, 0), s.palette[14]);
}

TEST(BmpDecoder, EightBitWithShortPaletteMapsMissingEntriesToBlack) {
    BmpSpec s;
    s.width = 5;
    s.height = 1;
    s.bits = 8;
    s.palette = {qRgb(1, 2, 3), qRgb(250, 251, 252), qRgb(0, 128, 255)};
    s.rows = {bytes({2, 1, 0, 2, 7})};
    const QImage image = DecodeBmp(buildBmp(s));
    EXPECT_EQ(pixelAt(image, 0, 0), qRgb(0, 128, 255));
    EXPECT_EQ(pixelAt(image, 1, 0), qRgb(250, 251, 252));
    EXPECT_EQ(pixelAt(image, 2, 0), qRgb(1, 2, 3));
    EXPECT_EQ(pixelAt(image, 3, 0), qRgb(0, 128, 255));
    EXPECT_EQ(pixelAt(image, 4, 0), qRgb(0, 0, 0)); // index 7 is beyond the palette
}

TEST(BmpDecoder, TwentyFourBitsBottomUpAndTopDown) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bits = 24;
    const QByteArray first = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9});
    const QByteArray second = bytes({10, 20, 30, 40, 50, 60, 70, 80, 90});
    s.rows = {first, second};
    const QImage bottomUp = DecodeBmp(buildBmp(s));
    EXPECT_EQ(pixelAt(bottomUp, 0, 1), qRgb(3, 2, 1));
    EXPECT_EQ(pixelAt(bottomUp, 2, 1), qRgb(9, 8, 7));
    EXPECT_EQ(pixelAt(bottomUp, 1, 0), qRgb(60, 50, 40));

    s.height = -2;
    const QImage topDown = DecodeBmp(buildBmp(s));
    ASSERT_EQ(topDown.size(), QSize(3, 2));
    EXPECT_EQ(pixelAt(topDown, 0, 0), qRgb(3, 2, 1));
    EXPECT_EQ(pixelAt(topDown, 1, 1), qRgb(60, 50, 40));
}

TEST(BmpDecoder, ThirtyTwoBitsPlainIgnoresTheFourthByte) {
    BmpSpec s;
    s.width = 2;
    s.height = 1;
    s.bits = 32;
    s.rows = {bytes({10, 20, 30, 0, 40, 50, 60, 77})};
    const QImage image = DecodeBmp(buildBmp(s));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixelAt(image, 0, 0), qRgb(30, 20, 10));
    EXPECT_EQ(pixelAt(image, 1, 0), qRgb(60, 50, 40));
}

TEST(BmpDecoder, ThirtyTwoBitFieldsWithAlphaInV5Header) {
    BmpSpec s;
    s.width = 2;
    s.height = 1;
    s.bits = 32;
    s.compression = 3;
    s.headerSize = 124;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.rows = {bytes({10, 20, 30, 128, 40, 50, 60, 255})};
    const QImage image = DecodeBmp(buildBmp(s));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(pixelAt(image, 0, 0), qRgba(30, 20, 10, 128));
    EXPECT_EQ(pixelAt(image, 1, 0), qRgba(60, 50, 40, 255));

    s.headerSize = 108; // V4: the same mask fields
    EXPECT_EQ(pixelAt(DecodeBmp(buildBmp(s)), 0, 0), qRgba(30, 20, 10, 128));
}

TEST(BmpDecoder, AllZeroAlphaMeansOpaque) {
    BmpSpec s;
    s.width = 2;
    s.height = 1;
    s.bits = 32;
    s.compression = 3;
    s.headerSize = 124;
    s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    s.rows = {bytes({10, 20, 30, 0, 40, 50, 60, 0})};
    const QImage image = DecodeBmp(buildBmp(s));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixelAt(image, 1, 0), qRgb(60, 50, 40));
}

TEST(BmpDecoder, SwappedBitFieldsAfterPlainHeader) {
    BmpSpec s;
    s.width = 1;
    s.height = 1;
    s.bits = 32;
    s.compression = 3;
    s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000}; // red in the lowest byte
    s.rows = {bytes({10, 20, 30, 0})};
    EXPECT_EQ(pixelAt(DecodeBmp(buildBmp(s)), 0, 0), qRgb(10, 20, 30));
}

TEST(BmpDecoder, SixteenBitsScaleEveryChannelToFullRange) {
    BmpSpec s;
    s.width = 3;
    s.height = 1;
    s.bits = 16;
    // 5-5-5 default: white, pure red, and black with the unused top bit set.
    s.rows = {bytes({0xFF, 0x7F, 0x00, 0x7C, 0x00, 0x80})};
    const QImage rgb555 = DecodeBmp(buildBmp(s));
    EXPECT_EQ(pixelAt(rgb555, 0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(rgb555, 1, 0), qRgb(255, 0, 0));
    EXPECT_EQ(pixelAt(rgb555, 2, 0), qRgb(0, 0, 0));

    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F}; // 5-6-5
    s.rows = {bytes({0xE0, 0x07, 0x1F, 0x00, 0x00, 0x84})};
    const QImage rgb565 = DecodeBmp(buildBmp(s));
    EXPECT_EQ(pixelAt(rgb565, 0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(pixelAt(rgb565, 1, 0), qRgb(0, 0, 255));
    // red 16 of 31 -> 131.6, green 32 of 63 -> 129.5, blue 0: rounded to the nearest.
    EXPECT_EQ(qRed(pixelAt(rgb565, 2, 0)), 132);
    EXPECT_EQ(qGreen(pixelAt(rgb565, 2, 0)), 130);
    EXPECT_EQ(qBlue(pixelAt(rgb565, 2, 0)), 0);
}

TEST(BmpDecoder, OldCoreHeaderWithThreeBytePalette) {
    BmpSpec s;
    s.headerSize = 12;
    s.width = 2;
    s.height = 2;
    s.bits = 8;
    s.palette = {qRgb(255, 0, 0), qRgb(0, 255, 0)};
    s.rows = {bytes({0, 1}), bytes({1, 1})};
    QByteArray file = buildBmp(s);
    const QImage image = DecodeBmp(file);
    EXPECT_EQ(pixelAt(image, 0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(pixelAt(image, 0, 0), qRgb(0, 255, 0));
}

TEST(BmpDecoder, RunLengthEightBits) {
    BmpSpec s;
    s.width = 5;
    s.height = 3;
    s.bits = 8;
    s.compression = 1;
    s.palette = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    s.raw = bytes({3, 1,             // bottom row: 3 x red
                   0, 3, 2, 3, 2, 0, // then literally green, blue, green (padded)
                   0, 0,             // end of line
                   0, 2, 1, 1,       // move right 1, up 1: to the top row, x = 1
                   2, 3,             // 2 x blue
                   0, 1});           // end of picture
    const QImage image = DecodeBmp(buildBmp(s));
    const QRgb K = qRgb(0, 0, 0), R = qRgb(255, 0, 0), G = qRgb(0, 255, 0), B = qRgb(0, 0, 255);
    const QRgb expected[3][5] = {{K, B, B, K, K}, {K, K, K, K, K}, {R, R, R, G, B}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(pixelAt(image, x, y), expected[y][x]) << x << "," << y;
}

TEST(BmpDecoder, RunLengthFourBits) {
    BmpSpec s;
    s.width = 6;
    s.height = 1;
    s.bits = 4;
    s.compression = 2;
    s.palette = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    s.raw = bytes({3, 0x12,          // 1, 2, 1
                   0, 3, 0x32, 0x10, // literally 3, 2, 1 (two bytes, already even)
                   0, 1});
    const QImage image = DecodeBmp(buildBmp(s));
    const QRgb R = qRgb(255, 0, 0), G = qRgb(0, 255, 0), B = qRgb(0, 0, 255);
    const QRgb expected[6] = {R, G, R, B, G, R};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(pixelAt(image, x, 0), expected[x]) << x;
}

TEST(BmpEncoder, HeaderFieldsFollowTheFileLayout) {
    QImage image(5, 3, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    image.setPixel(0, 2, qRgb(200, 100, 50)); // bottom-left
    const QByteArray file = EncodeBmp(image);
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(file.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(file.constData() + at); };
    const int rowSize = 16; // 15 bytes padded to 16
    ASSERT_EQ(file.size(), 54 + rowSize * 3);
    EXPECT_TRUE(file.startsWith("BM"));
    EXPECT_EQ(u32(2), quint32(file.size()));
    EXPECT_EQ(u32(10), 54u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 5u);
    EXPECT_EQ(u32(22), 3u); // positive: bottom-up
    EXPECT_EQ(u16(26), 1u);
    EXPECT_EQ(u16(28), 24u);
    EXPECT_EQ(u32(30), 0u);
    EXPECT_EQ(u32(34), quint32(rowSize * 3));
    EXPECT_EQ(u32(38), 3780u);
    EXPECT_EQ(u32(42), 3780u);
    EXPECT_EQ(u32(46), 0u);
    // The first stored pixel is the bottom-left one, as blue, green, red.
    EXPECT_EQ(file.mid(54, 3), bytes({50, 100, 200}));
    EXPECT_EQ(file.mid(54 + 15, 1), bytes({0}));
}

TEST(BmpEncoder, RoundTripsExactlyThroughOursAndQt) {
    const QImage source = makeTestPhoto(37, 23, 7);
    const QByteArray file = EncodeBmp(source);
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(DecodeBmp(file), source, 0, &why)) << why.toStdString();
    const QImage byQt = QImage::fromData(file, "BMP").convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(fuzzyImageCompare(byQt, source, 0, &why)) << why.toStdString();
}

TEST(BmpEncoder, AlphaIsDropped) {
    QImage argb(2, 2, QImage::Format_ARGB32);
    argb.fill(qRgba(90, 80, 70, 10));
    const QImage decoded = DecodeBmp(EncodeBmp(argb));
    EXPECT_EQ(decoded.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixelAt(decoded, 1, 1), qRgb(90, 80, 70));
}

// ---------------------------------------------------------------------------------------------

// The PNG header as written: bit depth and colour type from IHDR.
std::pair<int, int> pngDepthAndColourType(const QByteArray& file) {
    EXPECT_TRUE(file.startsWith(QByteArray("\x89PNG\r\n\x1A\n", 8)));
    EXPECT_EQ(file.mid(12, 4), QByteArray("IHDR"));
    return {uchar(file[24]), uchar(file[25])};
}

QImage readByQt(const QByteArray& file, const char* format) {
    QByteArray copy = file;
    QBuffer buffer(&copy);
    QImageReader reader(&buffer, format);
    const QImage image = reader.read();
    EXPECT_FALSE(image.isNull()) << reader.errorString().toStdString();
    return image;
}

TEST(PngEncoder, AlphaIsKeptStraight) {
    QImage argb(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            argb.setPixel(x, y, qRgba(x * 7, y * 11, (x + y) * 4, (x * 29 + y * 13) % 256));
    argb.setPixel(0, 0, qRgba(255, 255, 255, 255));
    argb.setPixel(1, 0, qRgba(0, 0, 0, 0));
    const QByteArray file = EncodePng(argb);
    EXPECT_EQ(pngDepthAndColourType(file), std::make_pair(8, 6)); // RGBA
    const QImage byQt = readByQt(file, "png").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(byQt.size(), argb.size());
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb expected = argb.pixel(x, y);
            const QRgb actual = byQt.pixel(x, y);
            ASSERT_EQ(qAlpha(actual), qAlpha(expected)) << x << "," << y;
            // Qt drops the colour of fully transparent pixels.
            if (qAlpha(expected) != 0) {
                ASSERT_EQ(actual, expected) << x << "," << y;
            }
        }
    EXPECT_EQ(DecodePng(file), argb);

    // Premultiplied input is written straight.
    const QImage premultiplied = argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(fuzzyImageCompare(DecodePng(EncodePng(premultiplied)),
                                  premultiplied.convertToFormat(QImage::Format_ARGB32), 0));
}

TEST(PngEncoder, OpaqueImagesAreWrittenAsRgb) {
    const QImage photo = makeTestPhoto(61, 40, 3);
    for (const QImage& source : {photo, photo.convertToFormat(QImage::Format_RGB888)}) {
        const QByteArray file = EncodePng(source);
        EXPECT_EQ(pngDepthAndColourType(file), std::make_pair(8, 2)); // RGB
        const QImage byQt = readByQt(file, "png");
        EXPECT_FALSE(byQt.hasAlphaChannel());
        EXPECT_EQ(byQt.convertToFormat(QImage::Format_RGB32), photo);
    }
    EXPECT_THROW(EncodePng(QImage()), EInvalidGraphic);
}

TEST(PngDecoder, AlphaSurvivesFromQtEncoder) {
    QImage source(31, 17, QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x)
            source.setPixel(x, y, qRgba(x * 8, y * 15, 200 - x, (x * 37 + y * 11) % 256));
    const QImage decoded = DecodePng(qtEncode(source, "png"));
    EXPECT_EQ(decoded.format(), QImage::Format_ARGB32);
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(decoded, source, 0, &why)) << why.toStdString();
}

TEST(PngDecoder, OpaqueGrayPaletteAndSixteenBitKinds) {
    const QImage rgb = makeTestPhoto(20, 10, 3);
    const QImage fromRgb = DecodePng(qtEncode(rgb, "png"));
    EXPECT_EQ(fromRgb.format(), QImage::Format_RGB32);
    EXPECT_TRUE(fuzzyImageCompare(fromRgb, rgb, 0));

    QImage gray(16, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x)
            gray.scanLine(y)[x] = uchar(x * 17);
    const QImage fromGray = DecodePng(qtEncode(gray, "png"));
    EXPECT_EQ(fromGray.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixelAt(fromGray, 15, 3), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(fromGray, 3, 0), qRgb(51, 51, 51));

    QImage indexed(4, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(9, 99, 199)});
    indexed.fill(0);
    indexed.setPixel(2, 1, 2);
    indexed.setPixel(1, 0, 1);
    const QImage fromIndexed = DecodePng(qtEncode(indexed, "png"));
    EXPECT_EQ(fromIndexed.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixelAt(fromIndexed, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(pixelAt(fromIndexed, 1, 0), qRgb(0, 0, 255));
    EXPECT_EQ(pixelAt(fromIndexed, 2, 1), qRgb(9, 99, 199));

    QImage deep(3, 1, QImage::Format_RGBA64);
    deep.setPixelColor(0, 0, QColor::fromRgba64(QRgba64::fromRgba64(0xFFFF, 0, 0x8080, 0xFFFF)));
    deep.setPixelColor(1, 0, QColor::fromRgba64(QRgba64::fromRgba64(0x1010, 0x2020, 0, 0x8080)));
    deep.setPixelColor(2, 0, QColor::fromRgba64(QRgba64::fromRgba64(0, 0xFFFF, 0, 0)));
    const QByteArray deepFile = qtEncode(deep, "png");
    ASSERT_EQ(quint8(deepFile.at(24)), 16) << "Qt did not write a 16-bit PNG";
    // Kept at 16 bits: every sample exactly as Qt wrote it.
    const QImage fromDeep = DecodePng(deepFile);
    ASSERT_EQ(fromDeep.format(), QImage::Format_RGBA64);
    const auto* px = reinterpret_cast<const QRgba64*>(fromDeep.constScanLine(0));
    EXPECT_EQ(px[0], QRgba64::fromRgba64(0xFFFF, 0, 0x8080, 0xFFFF));
    EXPECT_EQ(px[1], QRgba64::fromRgba64(0x1010, 0x2020, 0, 0x8080));
    EXPECT_EQ(px[2].alpha(), 0);

    // Opaque and grey 16-bit files too, values one 16-bit step apart kept apart.
    QImage ramp(4, 1, QImage::Format_Grayscale16);
    for (int x = 0; x < 4; ++x)
        reinterpret_cast<quint16*>(ramp.scanLine(0))[x] = quint16(0x7FFE + x);
    const QByteArray rampFile = qtEncode(ramp, "png");
    ASSERT_EQ(quint8(rampFile.at(24)), 16) << "Qt did not write a 16-bit PNG";
    const QImage fromRamp = DecodePng(rampFile);
    ASSERT_EQ(fromRamp.format(), QImage::Format_RGBX64);
    const auto* g = reinterpret_cast<const QRgba64*>(fromRamp.constScanLine(0));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(g[x], QRgba64::fromRgba64(0x7FFE + x, 0x7FFE + x, 0x7FFE + x, 0xFFFF)) << x;
}

// A 64-bit picture is written at 16 bits a channel (read back by Qt's own reader), with or
// without alpha; an 8-bit one still at 8.
TEST(PngEncoder, SixteenBitPicturesStaySixteenBit) {
    for (const bool alpha : {false, true}) {
        QImage deep(5, 2, alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x)
                reinterpret_cast<QRgba64*>(deep.scanLine(y))[x] = QRgba64::fromRgba64(
                    quint16(0x1234 + x), quint16(0x8001 + y), quint16(0xFFFE - x),
                    alpha ? quint16(0x4000 + x * 0x1000) : 0xFFFF);
        const QByteArray file = EncodePng(deep);
        ASSERT_EQ(quint8(file.at(24)), 16);         // IHDR bit depth
        EXPECT_EQ(quint8(file.at(25)), alpha ? 6 : 2); // RGBA or RGB
        QImage back = QImage::fromData(file, "PNG");
        ASSERT_EQ(back.depth(), 64);
        back = back.convertToFormat(deep.format());
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(reinterpret_cast<const QRgba64*>(back.constScanLine(y))[x],
                          reinterpret_cast<const QRgba64*>(deep.constScanLine(y))[x])
                    << x << "," << y;
    }
    EXPECT_EQ(quint8(EncodePng(makeTestPhoto(4, 4, 1)).at(24)), 8);
}

TEST(PngDecoder, PaletteTransparencyBecomesAlpha) {
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(10, 20, 30, 0), qRgba(40, 50, 60, 255)});
    indexed.setPixel(0, 0, 0);
    indexed.setPixel(1, 0, 1);
    const QImage decoded = DecodePng(qtEncode(indexed, "png"));
    EXPECT_EQ(decoded.format(), QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(pixelAt(decoded, 0, 0)), 0);
    EXPECT_EQ(pixelAt(decoded, 1, 0), qRgba(40, 50, 60, 255));
}

// ---------------------------------------------------------------------------------------------

TEST(GifCodec, DecodedOutputEqualsTheReducedImage) {
    const QImage photo = makeTestPhoto(120, 90, 5);
    const QImage reduced = ReduceToGifColors(photo);
    EXPECT_EQ(reduced.format(), QImage::Format_RGB32);
    const QByteArray file = EncodeGif(photo);
    EXPECT_TRUE(file.startsWith("GIF8"));
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(DecodeGif(file), reduced, 0, &why)) << why.toStdString();
    // Qt's own GIF reader as an independent check of the file.
    const QImage byQt = QImage::fromData(file, "GIF").convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(fuzzyImageCompare(byQt, reduced, 0, &why)) << why.toStdString();
}

TEST(GifCodec, ReductionKeepsAtMost256ColoursCloseToTheSource) {
    const QImage photo = makeTestPhoto(100, 100, 9);
    const QImage reduced = ReduceToGifColors(photo);
    QSet<QRgb> colours;
    for (int y = 0; y < reduced.height(); ++y)
        for (int x = 0; x < reduced.width(); ++x)
            colours.insert(pixelAt(reduced, x, y));
    EXPECT_LE(colours.size(), 256);
    EXPECT_LT(differingPixelShare(reduced, photo, 48), 0.02);

    QImage fewColours(8, 8, QImage::Format_RGB32);
    fewColours.fill(qRgb(255, 0, 0));
    for (int x = 0; x < 8; ++x)
        fewColours.setPixel(x, 3, qRgb(0, 0, 255));
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(ReduceToGifColors(fewColours), fewColours, 8, &why))
        << why.toStdString();
}

TEST(GifCodec, SinglePixelAndSingleColourImages) {
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(qRgb(100, 150, 200));
    EXPECT_TRUE(fuzzyImageCompare(DecodeGif(EncodeGif(one)), ReduceToGifColors(one), 0));
    QImage flat(50, 3, QImage::Format_RGB32);
    flat.fill(qRgb(0, 0, 0));
    EXPECT_TRUE(fuzzyImageCompare(DecodeGif(EncodeGif(flat)), flat, 0));
}

// giflib's quantiser works on 5 bits a channel; a flat colour such as white caption text must
// still come out exactly, not as (248, 248, 248).
TEST(GifCodec, FlatColoursKeepTheirExactValue) {
    QImage photo = makeTestPhoto(160, 120, 5);
    const QRect whiteBlock(10, 10, 30, 8), redBlock(60, 70, 12, 12), greyBlock(100, 20, 9, 9);
    photo.setPixel(150, 110, qRgb(255, 255, 255)); // a lone pixel of the same colour elsewhere
    {
        QPainter p(&photo);
        p.fillRect(whiteBlock, QColor(255, 255, 255));
        p.fillRect(redBlock, QColor(255, 0, 0));
        p.fillRect(greyBlock, QColor(133, 133, 133));
    }
    const QByteArray file = EncodeGif(photo);
    for (const QImage& decoded :
         {DecodeGif(file), readByQt(file, "gif").convertToFormat(QImage::Format_RGB32)}) {
        for (const QRect& r : {whiteBlock, redBlock, greyBlock}) {
            QString why;
            EXPECT_TRUE(fuzzyImageCompare(decoded.copy(r), photo.copy(r), 0, &why))
                << why.toStdString();
        }
        EXPECT_LT(differingPixelShare(decoded, photo, 48), 0.01);
    }
    QImage white(20, 5, QImage::Format_RGB32);
    white.fill(qRgb(255, 255, 255));
    EXPECT_EQ(DecodeGif(EncodeGif(white)), white);
}

TEST(GifDecoder, FrameOffsetOnBackgroundCanvas) {
    GifSpec s;
    s.screenWidth = 5;
    s.screenHeight = 4;
    s.globalMap = {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    s.background = 2;
    s.left = 1;
    s.top = 2;
    s.width = 3;
    s.height = 2;
    s.pixels = {1, 3, 1, 3, 1, 3};
    const QImage image = DecodeGif(buildGif(s));
    ASSERT_EQ(image.size(), QSize(5, 4));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(pixelAt(image, 0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(pixelAt(image, 0, 3), qRgb(0, 255, 0));
    EXPECT_EQ(pixelAt(image, 1, 2), qRgb(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 2, 2), qRgb(0, 0, 255));
    EXPECT_EQ(pixelAt(image, 1, 3), qRgb(0, 0, 255));
    EXPECT_EQ(pixelAt(image, 4, 3), qRgb(0, 255, 0));
}

TEST(GifDecoder, TransparentIndexGivesAlpha) {
    GifSpec s;
    s.screenWidth = 3;
    s.screenHeight = 2;
    s.globalMap = {qRgb(10, 10, 10), qRgb(255, 255, 0)};
    s.transparent = 0;
    s.left = 1;
    s.width = 2;
    s.height = 2;
    s.pixels = {1, 0, 0, 1};
    const QImage image = DecodeGif(buildGif(s));
    EXPECT_EQ(image.format(), QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(pixelAt(image, 0, 0)), 0); // outside the frame
    EXPECT_EQ(pixelAt(image, 1, 0), qRgba(255, 255, 0, 255));
    EXPECT_EQ(qAlpha(pixelAt(image, 2, 0)), 0);
    EXPECT_EQ(qAlpha(pixelAt(image, 1, 1)), 0);
    EXPECT_EQ(pixelAt(image, 2, 1), qRgba(255, 255, 0, 255));
}

TEST(GifDecoder, LocalColourMapWinsAndInterlacedRowsLandInPlace) {
    GifSpec s;
    s.screenWidth = 2;
    s.screenHeight = 11;
    s.globalMap = {qRgb(1, 1, 1), qRgb(2, 2, 2)};
    s.localMap = {qRgb(0, 0, 0),  qRgb(10, 0, 0), qRgb(20, 0, 0),  qRgb(30, 0, 0),
                  qRgb(40, 0, 0), qRgb(50, 0, 0), qRgb(60, 0, 0),  qRgb(70, 0, 0),
                  qRgb(80, 0, 0), qRgb(90, 0, 0), qRgb(100, 0, 0), qRgb(0, 0, 0),
                  qRgb(0, 0, 0),  qRgb(0, 0, 0),  qRgb(0, 0, 0),   qRgb(0, 0, 0)};
    s.width = 2;
    s.height = 11;
    s.interlace = true;
    for (int y = 0; y < 11; ++y)
        s.pixels.insert(s.pixels.end(), {y, y});
    const QImage image = DecodeGif(buildGif(s));
    for (int y = 0; y < 11; ++y)
        EXPECT_EQ(pixelAt(image, 1, y), qRgb(y * 10, 0, 0)) << "row " << y;
}

TEST(GifDecoder, FrameLargerThanScreenIsClipped) {
    GifSpec s;
    s.screenWidth = 2;
    s.screenHeight = 2;
    s.globalMap = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    s.width = 3;
    s.height = 3;
    s.pixels = {1, 0, 1, 0, 1, 0, 1, 0, 1};
    const QImage image = DecodeGif(buildGif(s));
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(pixelAt(image, 0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(image, 1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(pixelAt(image, 1, 1), qRgb(255, 255, 255));
}

// ---- Broken files, per format: each refused with its format's message ----------------------

struct RejectedCase {
    const char* name;
    std::function<QByteArray()> file; // built inside the test, so its own checks count there
    QImage (*decode)(const QByteArray&);
    QString prefix;       // the message starts with it
    QStringList contains; // and holds each of these
};
void PrintTo(const RejectedCase& c, std::ostream* os) {
    *os << c.name;
}

QByteArray jpegToBreak() {
    return EncodeJpeg(makeTestPhoto(128, 128), 90);
}

QByteArray jpegOfSize(quint16 side) {
    QByteArray file = EncodeJpeg(makeTestPhoto(16, 16), 90);
    const qsizetype sof = file.indexOf("\xFF\xC0");
    EXPECT_GT(sof, 0);
    // SOF0: marker, length (2), precision (1), height (2), width (2), big-endian.
    qToBigEndian<quint16>(side, file.data() + sof + 5);
    qToBigEndian<quint16>(side, file.data() + sof + 7);
    return file;
}

QByteArray bmpToBreak() {
    BmpSpec s;
    s.width = 4;
    s.height = 4;
    s.bits = 24;
    s.rows = std::vector<QByteArray>(4, QByteArray(12, '\x40'));
    const QByteArray good = buildBmp(s);
    EXPECT_NO_THROW(DecodeBmp(good));
    return good;
}

// The good bitmap with one little-endian field overwritten.
template <typename T> std::function<QByteArray()> bmpWith(int at, T value) {
    return [=] {
        QByteArray file = bmpToBreak();
        qToLittleEndian<T>(value, file.data() + at);
        return file;
    };
}

std::function<QByteArray()> bmpOfSize(int width, int height) {
    return [=] {
        BmpSpec s;
        s.width = width;
        s.height = height;
        s.bits = 24;
        s.rows = {QByteArray(12, '\0')};
        return buildBmp(s);
    };
}

QByteArray pngToBreak() {
    return qtEncode(makeTestPhoto(64, 64), "png");
}

QByteArray gifToBreak() {
    return EncodeGif(makeTestPhoto(64, 64));
}

const QString InvalidJpeg = QStringLiteral("Invalid JPEG file: ");
const QString InvalidBmp = QStringLiteral("Invalid BMP file");
const QString InvalidPng = QStringLiteral("Invalid PNG file: ");
const QString InvalidGif = QStringLiteral("Invalid GIF file: ");
const QStringList TooLarge = {QStringLiteral("dimensions"), QStringLiteral("too large")};

const RejectedCase RejectedCases[] = {
    // JPEG: cut anywhere, garbage after the signature, dimensions refused before allocating.
    {"jpeg_cut_in_half", [] { return jpegToBreak().left(jpegToBreak().size() / 2); }, DecodeJpeg,
     InvalidJpeg + "Premature end", {}},
    {"jpeg_first_3_bytes", [] { return jpegToBreak().left(3); }, DecodeJpeg, InvalidJpeg, {}},
    {"jpeg_first_100_bytes", [] { return jpegToBreak().left(100); }, DecodeJpeg, InvalidJpeg, {}},
    {"jpeg_garbage_after_signature",
     [] { return bytes({0xFF, 0xD8, 0xFF}) + QByteArray(200, 'x'); }, DecodeImage, InvalidJpeg,
     {}},
    {"jpeg_65000_square", [] { return jpegOfSize(65000); }, DecodeJpeg, {}, TooLarge},
    // BMP: cut, bad offsets and header sizes, unsupported kinds, lying palettes and run lengths.
    {"bmp_last_byte_cut", [] { return bmpToBreak().chopped(1); }, DecodeBmp, {}, {"truncated"}},
    {"bmp_first_20_bytes", [] { return bmpToBreak().left(20); }, DecodeBmp, {}, {"truncated"}},
    {"bmp_first_2_bytes", [] { return bmpToBreak().left(2); }, DecodeBmp, InvalidBmp, {}},
    {"bmp_pixel_offset_past_the_end", bmpWith<quint32>(10, 0x7FFFFFF0), DecodeBmp, {}, {"offset"}},
    {"bmp_header_size_33", bmpWith<quint32>(14, 33), DecodeBmp, {}, {"header size"}},
    {"bmp_jpeg_compressed", bmpWith<quint32>(30, 4), DecodeBmp, {}, {"not supported"}},
    {"bmp_two_bits", bmpWith<quint16>(28, 2), DecodeBmp, {}, {"not supported"}},
    {"bmp_palette_of_200_declared_1_present",
     [] {
         BmpSpec noPalette;
         noPalette.bits = 8;
         noPalette.palette = {qRgb(1, 1, 1)};
         noPalette.rows = {bytes({0})};
         QByteArray lying = buildBmp(noPalette);
         qToLittleEndian<quint32>(200, lying.data() + 46);
         qToLittleEndian<quint32>(0, lying.data() + 10);
         return lying;
     },
     DecodeBmp, {}, {}},
    {"bmp_run_length_literal_past_the_end",
     [] {
         BmpSpec s;
         s.width = 8;
         s.height = 1;
         s.bits = 8;
         s.compression = 1;
         s.palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
         s.raw = bytes({0, 8, 1, 1});
         return buildBmp(s);
     },
     DecodeBmp, InvalidBmp, {}},
    {"bmp_100000_square", bmpOfSize(100000, 100000), DecodeBmp, {}, TooLarge},
    // Each side allowed, the product is not.
    {"bmp_65535_square_top_down", bmpOfSize(65535, -65535), DecodeBmp, {}, {"too large"}},
    {"bmp_zero_width", bmpOfSize(0, 1), DecodeBmp, {}, {"dimensions"}},
    {"bmp_negative_width", bmpOfSize(-3, 1), DecodeBmp, {}, {"dimensions"}},
    // Its negation does not fit in 32 bits.
    {"bmp_height_int_min", bmpOfSize(1, int(0x80000000u)), DecodeBmp, {}, {"dimensions"}},
    // PNG: cut, a damaged checksum, dimensions.
    {"png_cut_in_half", [] { return pngToBreak().left(pngToBreak().size() / 2); }, DecodePng,
     InvalidPng, {}},
    {"png_signature_only", [] { return pngToBreak().left(8); }, DecodePng, InvalidPng, {}},
    {"png_ihdr_checksum_wrong",
     [] {
         QByteArray corrupt = pngToBreak();
         corrupt[20] = char(corrupt[20] ^ 0x55); // inside IHDR
         return corrupt;
     },
     DecodePng, InvalidPng, {}},
    {"png_100000_square",
     [] {
         QByteArray ihdr;
         be32(ihdr, 100000);
         be32(ihdr, 100000);
         ihdr.append(bytes({8, 2, 0, 0, 0}));
         return QByteArray("\x89PNG\r\n\x1A\n") + pngChunk("IHDR", ihdr) +
                pngChunk("IDAT", bytes({0x78, 0x9C, 0x03, 0x00})) + pngChunk("IEND", QByteArray());
     },
     DecodeImage, {}, TooLarge},
    // GIF: cut, garbage, no picture, an absurd screen.
    {"gif_cut_in_half", [] { return gifToBreak().left(gifToBreak().size() / 2); }, DecodeGif,
     InvalidGif, {}},
    {"gif_first_8_bytes", [] { return gifToBreak().left(8); }, DecodeGif, InvalidGif, {}},
    {"gif_garbage_after_signature", [] { return QByteArray("GIF89a") + QByteArray(40, '\xEE'); },
     DecodeImage, InvalidGif, {}},
    // A header, a colour table and the trailer, but no picture.
    {"gif_without_a_picture",
     [] {
         QByteArray empty("GIF89a");
         le16(empty, 1);
         le16(empty, 1);
         empty.append(bytes({0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x3B}));
         return empty;
     },
     DecodeGif, {}, {"no picture"}},
    {"gif_65535_square_screen",
     [] {
         QByteArray file = EncodeGif(makeTestPhoto(8, 8));
         qToLittleEndian<quint16>(65535, file.data() + 6);
         qToLittleEndian<quint16>(65535, file.data() + 8);
         return file;
     },
     DecodeGif, {}, TooLarge},
};

class RejectedFiles : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedFiles, AreRefusedWithTheFormatsMessage) {
    const RejectedCase& c = GetParam();
    const QByteArray file = c.file();
    const QString message = errorOf([&] { c.decode(file); });
    EXPECT_NE(message, QStringLiteral("<no EInvalidGraphic>"));
    EXPECT_TRUE(message.startsWith(c.prefix)) << message.toStdString();
    for (const QString& part : c.contains)
        EXPECT_TRUE(message.contains(part)) << message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, RejectedFiles, ::testing::ValuesIn(RejectedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

TEST(OtherFormats, IconThroughQtReaders) {
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(qRgba(0, 0, 255, 255));
    icon.setPixel(3, 3, qRgba(0, 0, 0, 0));
    const QByteArray file = qtEncode(icon, "ico");
    ASSERT_EQ(DetectImageType(file), ImageFileType::Ico);
    const QImage decoded = DecodeImage(file);
    EXPECT_EQ(decoded.format(), QImage::Format_ARGB32);
    EXPECT_EQ(decoded.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(pixelAt(decoded, 3, 3)), 0);
    EXPECT_EQ(pixelAt(decoded, 8, 8), qRgba(0, 0, 255, 255));
}

TEST(OtherFormats, UnknownAndEmptyDataAreInvalid) {
    EXPECT_EQ(errorOf([] { DecodeImage(QByteArray()); }), "Unknown picture format");
    EXPECT_EQ(errorOf([] { DecodeImage("this is not a picture at all"); }),
              "Unknown picture format");
    EXPECT_TRUE(errorOf([] { DecodeImage(bytes({0, 0, 1, 0, 5, 0})); }).contains("icon"));
}

// ---------------------------------------------------------------------------------------------

TEST(PictureFiles, MissingFileGivesOpenErrorNamingIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("absent.jpg");
    try {
        ReadImageFile(path);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_TRUE(e.message().startsWith(
            QStringLiteral("Cannot open file \"%1\". ").arg(QDir::toNativeSeparators(path))))
            << e.message().toStdString();
    }
    EXPECT_THROW(ReadFileBytes(dir.path()), EFOpenError); // a folder is not a file
}

TEST(PictureFiles, SpecialFilesAreRefusedByEveryReaderWithTheReason) {
    QTemporaryDir dir;
    using Reader = std::function<void(const QString&)>;
    const QList<QPair<const char*, Reader>> readers{
        {"ReadFileBytes", [](const QString& p) { ReadFileBytes(p); }},
        {"ReadImageFile", [](const QString& p) { ReadImageFile(p); }},
        {"LoadGraphicFile", [](const QString& p) { LoadGraphicFile(p); }},
        {"LoadPhotoFile", [](const QString& p) { LoadPhotoFile(p, true); }},
        {"PhotoFileSize", [](const QString& p) { PhotoFileSize(p, true); }},
        {"TExif::LoadFromJpeg", [](const QString& p) { TExif().LoadFromJpeg(p); }},
    };
    for (const SpecialCase& c : SpecialFileCases()) {
        const QString path = dir.filePath(QString::fromLatin1(c.label).replace(' ', '_') + ".jpg");
        QString why;
        ASSERT_TRUE(MakeSpecialFile(c.kind, path, &why)) << why.toStdString();
        for (const auto& [name, read] : readers) {
            SCOPED_TRACE(std::string(c.label) + " / " + name);
            QString message;
            bool openError = false;
            EXPECT_TRUE(ReturnsWithin(5000,
                                      [&] {
                                          try {
                                              read(path);
                                          } catch (const EFOpenError& e) {
                                              openError = true;
                                              message = e.message();
                                          } catch (const Exception& e) {
                                              message = e.message();
                                          }
                                      },
                                      {path}));
            EXPECT_TRUE(openError) << message.toStdString();
            EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(path)))
                << message.toStdString();
            EXPECT_TRUE(message.contains(QLatin1String(c.reasonWord))) << message.toStdString();
        }
    }
}

TEST(PictureFiles, APhotoOverTheCapIsRefusedBeforeItIsRead) {
    QTemporaryDir dir;
    // A real photo followed by (sparse) zeros: one byte over the cap.
    const QString path = dir.filePath("padded.jpg");
    WriteFileBytes(path, EncodeJpeg(makeTestPhoto(16, 16), 90));
    ASSERT_TRUE(QFile::resize(path, MaxImageFileSize + 1));
    try {
        ReadImageFile(path);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot open file \"%1\". It is 1.0 GB; files over "
                                              "1 GB are not read.")
                                   .arg(path));
    }
}

TEST(PictureFiles, InvalidContentNamesTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("broken.bmp");
    WriteFileBytes(path, "BM garbage");
    const QString message = errorOf([&] { ReadImageFile(path); });
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
    EXPECT_TRUE(message.contains("Invalid BMP file")) << message.toStdString();
}

TEST(PictureFiles, WriteTruncatesAndReadsBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.bmp");
    WriteFileBytes(path, QByteArray(1000, 'a'));
    const QByteArray bmp = EncodeBmp(makeTestPhoto(9, 9));
    WriteFileBytes(path, bmp);
    EXPECT_EQ(ReadFileBytes(path), bmp);
    EXPECT_TRUE(fuzzyImageCompare(ReadImageFile(path), makeTestPhoto(9, 9), 0));
    WriteFileBytes(path, QByteArray());
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST(PictureFiles, UnwritablePathGivesCreateErrorNamingIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath("no/such/folder/out.jpg");
    try {
        WriteFileBytes(path, "x");
        FAIL() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_TRUE(e.message().startsWith(
            QStringLiteral("Cannot create file \"%1\". ").arg(QDir::toNativeSeparators(path))))
            << e.message().toStdString();
    }
    EXPECT_THROW(WriteFileBytes(dir.path(), "x"), EFCreateError);
}

// ---------------------------------------------------------------------------------------------

// ---- Picture files and streamed picture values, per class ----------------------------------

struct GraphicCase {
    const char* name;
    const char* fileName;
    std::function<QByteArray(const QImage&)> encode;
    const char* className;
};
void PrintTo(const GraphicCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadGraphicFileKinds : public ::testing::TestWithParam<GraphicCase> {};

TEST_P(LoadGraphicFileKinds, NamesTheClassBySignature) {
    const GraphicCase& c = GetParam();
    QTemporaryDir dir;
    const QImage photo = makeTestPhoto(12, 8);
    const QByteArray data = c.encode(photo);
    const QString path = dir.filePath(c.fileName);
    WriteFileBytes(path, data);
    const LoadedGraphic g = LoadGraphicFile(path);
    EXPECT_EQ(g.className, QString(c.className));
    EXPECT_EQ(g.data, data);
    EXPECT_EQ(g.image.size(), photo.size());
}

INSTANTIATE_TEST_SUITE_P(
    Classes, LoadGraphicFileKinds,
    ::testing::Values(
        GraphicCase{"jpeg", "a.jpg", [](const QImage& p) { return EncodeJpeg(p, 90); },
                    "TJPEGImage"},
        GraphicCase{"bmp", "a.bmp", [](const QImage& p) { return EncodeBmp(p); }, "TBitmap"},
        GraphicCase{"png", "a.png", [](const QImage& p) { return qtEncode(p, "png"); },
                    "TPngImage"},
        GraphicCase{"gif", "a.gif", [](const QImage& p) { return EncodeGif(p); }, "TGIFImage"},
        GraphicCase{"ico", "a.ico",
                    [](const QImage& p) {
                        return qtEncode(p.convertToFormat(QImage::Format_ARGB32), "ico");
                    },
                    "TIcon"},
        // The name does not matter.
        GraphicCase{"ppm_named_jpg", "picture.jpg", [](const QImage& p) { return qtEncode(p, "ppm"); },
                    "TWICImage"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PictureData, LoadGraphicFileOfAMissingFileFails) {
    QTemporaryDir dir;
    EXPECT_THROW(LoadGraphicFile(dir.filePath("none.png")), EFOpenError);
}

struct LayoutCase {
    const char* name;
    const char* className;
    std::function<QByteArray(const QImage&)> encode;
    bool lengthPrefix; // a 32-bit length between the class name and the picture
    bool lossless;
};
void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class PictureDataLayout : public ::testing::TestWithParam<LayoutCase> {};

// The value: the class name as a short string, the length for bitmaps and JPEGs, the picture.
TEST_P(PictureDataLayout, ClassNameThenPictureAndBack) {
    const LayoutCase& c = GetParam();
    const QImage photo = makeTestPhoto(6, 6);
    LoadedGraphic g{c.className, c.encode(photo), {}};
    QByteArray expected = bytes({int(qstrlen(c.className))}) + c.className;
    if (c.lengthPrefix)
        le32(expected, quint32(g.data.size()));
    expected += g.data;
    EXPECT_EQ(MakePictureData(g), expected);

    const LoadedGraphic back = LoadGraphicData(expected);
    EXPECT_EQ(back.className, g.className);
    EXPECT_EQ(back.data, g.data);
    EXPECT_EQ(back.image.size(), photo.size());
    if (c.lossless) {
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(back.image, photo, 0, &why)) << why.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Classes, PictureDataLayout,
    ::testing::Values(
        LayoutCase{"bmp", "TBitmap", [](const QImage& p) { return EncodeBmp(p); }, true, true},
        LayoutCase{"jpeg", "TJPEGImage", [](const QImage& p) { return EncodeJpeg(p, 80); }, true,
                   false},
        LayoutCase{"png", "TPngImage", [](const QImage& p) { return qtEncode(p, "png"); }, false,
                   true},
        LayoutCase{"gif", "TGIFImage", [](const QImage& p) { return EncodeGif(p); }, false,
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PictureData, BitmapLayoutHasLengthPrefix) {
    LoadedGraphic g;
    g.className = "TBitmap";
    g.data = EncodeBmp(makeTestPhoto(3, 3));
    const QByteArray stream = MakePictureData(g);
    QByteArray expected = bytes({7}) + "TBitmap";
    le32(expected, quint32(g.data.size()));
    expected += g.data;
    EXPECT_EQ(stream, expected);

    const LoadedGraphic back = LoadGraphicData(stream);
    EXPECT_EQ(back.className, "TBitmap");
    EXPECT_EQ(back.data, g.data);
    EXPECT_TRUE(fuzzyImageCompare(back.image, makeTestPhoto(3, 3), 0));
}

TEST(PictureData, OldPngClassNameAndUnexpectedPrefixesAreRecognised) {
    const QByteArray png = qtEncode(makeTestPhoto(5, 4), "png");
    const LoadedGraphic old = LoadGraphicData(bytes({10}) + "TPNGObject" + png);
    EXPECT_EQ(old.className, "TPngImage");
    EXPECT_EQ(old.data, png);

    // A length prefix where none is expected, matching the rest: skipped.
    QByteArray prefixed = bytes({9}) + "TPngImage";
    le32(prefixed, quint32(png.size()));
    EXPECT_EQ(LoadGraphicData(prefixed + png).data, png);

    // A bitmap stored without its prefix is still found by its signature.
    const QByteArray bmp = EncodeBmp(makeTestPhoto(2, 2));
    EXPECT_EQ(LoadGraphicData(bytes({7}) + "TBitmap" + bmp).className, "TBitmap");

    // A length shorter than the rest: the picture is what the length covers.
    QByteArray padded = bytes({7}) + "TBitmap";
    le32(padded, quint32(bmp.size()));
    EXPECT_EQ(LoadGraphicData(padded + bmp + "trailing").data, bmp);
}

TEST(PictureData, EmptyAndMalformedValues) {
    EXPECT_TRUE(LoadGraphicData(QByteArray()).className.isEmpty());
    const LoadedGraphic nameOnly = LoadGraphicData(bytes({7}) + "TBitmap");
    EXPECT_TRUE(nameOnly.data.isEmpty());
    EXPECT_TRUE(nameOnly.image.isNull());
    QByteArray zeroLength = bytes({7}) + "TBitmap";
    le32(zeroLength, 0);
    EXPECT_TRUE(LoadGraphicData(zeroLength).image.isNull());
    EXPECT_TRUE(MakePictureData(LoadedGraphic{}).isEmpty());

    EXPECT_THROW(LoadGraphicData(bytes({50}) + "TBitmap"), EInvalidGraphic); // name too long
    EXPECT_THROW(LoadGraphicData(bytes({0, 1, 2, 3})), EInvalidGraphic);     // no name
    EXPECT_THROW(LoadGraphicData(bytes({7}) + "TBitmap" + "not a picture"), EInvalidGraphic);
    QByteArray truncatedBmp = bytes({7}) + "TBitmap" + EncodeBmp(makeTestPhoto(8, 8)).left(60);
    EXPECT_THROW(LoadGraphicData(truncatedBmp), EInvalidGraphic);
}
