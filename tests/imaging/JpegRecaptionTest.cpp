#include "imaging/core/JpegRecaption.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include <jpeglib.h>

namespace {

// ---- libjpeg used directly, independent of the code under test --------------------------------
// The files handed to these helpers are all valid, so a libjpeg failure stops the test program.

void abortOnJpegError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    std::fprintf(stderr, "libjpeg failed in the test helpers: %s\n", message);
    std::abort();
}

struct SourceShape {
    int width = 333;
    int height = 251;
    int lumaH = 2, lumaV = 2; // 2x2: 4:2:0, 2x1: 4:2:2, 1x1: 4:4:4
    bool gray = false;
    bool cmyk = false;
    bool progressive = false;
    bool arithmetic = false;
    int restartInterval = 0; // in MCUs
    int quality = 90;
};

QByteArray exifPayload() {
    // exifSegment() gives the whole segment; libjpeg wants what follows the length.
    return exifSegment({{0x010F, "RecaptionCam"}, {0x0132, "2026:12:08 10:11:12"}}).mid(4);
}
const QByteArray CommentText("Made for the recaption tests");

// The test photo, or the given picture, encoded with the case's sampling and size.
QByteArray makeJpeg(const SourceShape& shape, const QImage& picture = QImage()) {
    const QImage photo = (picture.isNull() ? makeTestPhoto(shape.width, shape.height, 7) : picture)
                             .convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    err.error_exit = abortOnJpegError;
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(shape.width);
    c.image_height = JDIMENSION(shape.height);
    c.input_components = shape.cmyk ? 4 : 3;
    c.in_color_space = shape.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, shape.quality, TRUE);
    if (shape.gray) {
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    } else if (!shape.cmyk) {
        c.comp_info[0].h_samp_factor = shape.lumaH;
        c.comp_info[0].v_samp_factor = shape.lumaV;
    }
    c.restart_interval = JDIMENSION(shape.restartInterval);
    c.arith_code = shape.arithmetic ? TRUE : FALSE;
    if (shape.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    const QByteArray exif = exifPayload();
    jpeg_write_marker(&c, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.constData()),
                      unsigned(exif.size()));
    jpeg_write_marker(&c, JPEG_COM, reinterpret_cast<const JOCTET*>(CommentText.constData()),
                      unsigned(CommentText.size()));
    std::vector<unsigned char> cmykRow(size_t(shape.width) * 4);
    while (c.next_scanline < c.image_height) {
        const uchar* rgb = photo.constScanLine(int(c.next_scanline));
        JSAMPROW row = const_cast<JSAMPROW>(rgb);
        if (shape.cmyk) {
            for (int x = 0; x < shape.width; ++x) {
                for (int k = 0; k < 3; ++k)
                    cmykRow[size_t(x) * 4 + size_t(k)] = 255 - rgb[x * 3 + k];
                cmykRow[size_t(x) * 4 + 3] = 255;
            }
            row = cmykRow.data();
        }
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}

// Decodes to RGB32; fancy=false turns off the smooth colour upsampling, so that every pixel
// depends on its own MCU only.
QImage decodeJpeg(const QByteArray& data, bool fancy = true) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    err.error_exit = abortOnJpegError;
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    d.do_fancy_upsampling = fancy ? TRUE : FALSE;
    jpeg_start_decompress(&d);
    QImage image(int(d.output_width), int(d.output_height), QImage::Format_RGB888);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = image.scanLine(int(d.output_scanline));
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return image.convertToFormat(QImage::Format_RGB32);
}

struct Coefficients {
    int width = 0, height = 0;
    int maxH = 1, maxV = 1;
    int restartInterval = 0;
    J_COLOR_SPACE space = JCS_UNKNOWN;
    struct Component {
        int id = 0, h = 1, v = 1, across = 0, down = 0;
        std::array<UINT16, DCTSIZE2> quant{};
        std::vector<JCOEF> blocks; // across x down blocks of 64
        const JCOEF* block(int bx, int by) const {
            return blocks.data() + (size_t(by) * size_t(across) + size_t(bx)) * DCTSIZE2;
        }
    };
    std::vector<Component> components;
};

Coefficients readCoefficients(const QByteArray& data) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    err.error_exit = abortOnJpegError;
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d);
    Coefficients out;
    out.width = int(d.image_width);
    out.height = int(d.image_height);
    out.maxH = d.max_h_samp_factor;
    out.maxV = d.max_v_samp_factor;
    out.restartInterval = int(d.restart_interval);
    out.space = d.jpeg_color_space;
    for (int ci = 0; ci < d.num_components; ++ci) {
        const jpeg_component_info& info = d.comp_info[ci];
        Coefficients::Component comp;
        comp.id = info.component_id;
        comp.h = info.h_samp_factor;
        comp.v = info.v_samp_factor;
        comp.across = int(info.width_in_blocks);
        comp.down = int(info.height_in_blocks);
        std::copy(std::begin(info.quant_table->quantval), std::end(info.quant_table->quantval),
                  comp.quant.begin());
        comp.blocks.resize(size_t(comp.across) * size_t(comp.down) * DCTSIZE2);
        for (int by = 0; by < comp.down; ++by) {
            JBLOCKARRAY row = (*d.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&d),
                                                           arrays[ci], JDIMENSION(by), 1, FALSE);
            for (int bx = 0; bx < comp.across; ++bx)
                std::copy(row[0][bx], row[0][bx] + DCTSIZE2,
                          comp.blocks.begin() +
                              qsizetype((size_t(by) * size_t(comp.across) + size_t(bx)) * 64));
        }
        out.components.push_back(std::move(comp));
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

// APPn and COM segments before the first scan, in file order: marker byte and payload.
QList<QPair<int, QByteArray>> segments(const QByteArray& jpeg) {
    QList<QPair<int, QByteArray>> out;
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const int marker = uchar(jpeg[pos + 1]);
        const int length = (uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]);
        if (marker == 0xDA)
            break;
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE)
            out.append({marker, jpeg.mid(pos + 4, length - 2)});
        pos += 2 + length;
    }
    return out;
}

// ---- the captions the tests paint ----------------------------------------------------------

const QColor FillColor(250, 220, 60);

struct Captions {
    QRect fill;
    QRect text;

    QList<QRect> areas() const { return {fill, text}; }

    void paint(QImage& image, const QPoint& origin) const {
        QPainter p(&image);
        p.translate(-origin);
        p.setClipRegion(QRegion(fill) + QRegion(text));
        p.fillRect(fill, FillColor);
        QFont font;
        font.setPixelSize(text.height() - 4);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(text, Qt::AlignCenter, QStringLiteral("Lake 2026"));
    }
};

// The MCU grid of a file, from its sampling factors.
struct McuMask {
    int mcuW, mcuH, cols, rows;
    std::vector<bool> touched;

    McuMask(const Coefficients& c, const QList<QRect>& areas)
        : mcuW(c.maxH * 8), mcuH(c.maxV * 8), cols((c.width + mcuW - 1) / mcuW),
          rows((c.height + mcuH - 1) / mcuH), touched(size_t(cols) * size_t(rows), false) {
        for (int my = 0; my < rows; ++my)
            for (int mx = 0; mx < cols; ++mx) {
                const QRect cell(mx * mcuW, my * mcuH, mcuW, mcuH);
                for (const QRect& a : areas)
                    if (a.intersects(cell))
                        touched[size_t(my) * size_t(cols) + size_t(mx)] = true;
            }
    }
    bool mcu(int mx, int my) const {
        return mx < cols && my < rows && touched[size_t(my) * size_t(cols) + size_t(mx)];
    }
    bool pixel(int x, int y) const { return mcu(x / mcuW, y / mcuH); }
    // Within `margin` pixels of a touched MCU.
    bool near(int x, int y, int margin) const {
        for (int dy = -margin; dy <= margin; ++dy)
            for (int dx = -margin; dx <= margin; ++dx)
                if (x + dx >= 0 && y + dy >= 0 && pixel(x + dx, y + dy))
                    return true;
        return false;
    }
};

// Blocks outside the touched MCUs that differ (0 when all are bit-identical).
int changedBlocksOutside(const Coefficients& a, const Coefficients& b, const McuMask& mask) {
    int changed = 0;
    for (size_t ci = 0; ci < a.components.size(); ++ci) {
        const auto& ca = a.components[ci];
        const auto& cb = b.components[ci];
        for (int by = 0; by < ca.down; ++by)
            for (int bx = 0; bx < ca.across; ++bx) {
                if (mask.mcu(bx / ca.h, by / ca.v))
                    continue;
                if (!std::equal(ca.block(bx, by), ca.block(bx, by) + DCTSIZE2, cb.block(bx, by)))
                    ++changed;
            }
    }
    return changed;
}

// Pixels away from the touched MCUs (farther than margin) whose decoded value differs.
int changedPixelsOutside(const QImage& a, const QImage& b, const McuMask& mask, int margin) {
    int changed = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (!mask.near(x, y, margin) && a.pixel(x, y) != b.pixel(x, y))
                ++changed;
    return changed;
}

int gray(QRgb c) {
    return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114 + 500) / 1000;
}

struct Difference {
    int max = 0;
    double mean = 0;
};

// Per channel (or on grey levels), over the pixels of an area.
Difference difference(const QImage& a, const QImage& b, const QRect& area, bool grayOnly) {
    Difference d;
    qint64 sum = 0, count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            int m = 0;
            if (grayOnly) {
                m = std::abs(gray(p) - gray(q));
            } else {
                m = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
            }
            d.max = std::max(d.max, m);
            sum += m;
            ++count;
        }
    d.mean = count ? double(sum) / double(count) : 0;
    return d;
}

QByteArray writeAndRead(const QString& path, const QByteArray& bytes) {
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly)) << out.errorString().toStdString();
    out.write(bytes);
    out.close();
    QFile in(path);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << in.errorString().toStdString();
    return in.readAll();
}

// ---- recaptioning per sampling -------------------------------------------------------------

struct Case {
    const char* name;
    SourceShape shape;
    Captions captions;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class RecaptionSampling : public ::testing::TestWithParam<Case> {};

TEST_P(RecaptionSampling, ChangesOnlyTheTouchedMcusAndKeepsTheSegments) {
    const Case& tc = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray source = writeAndRead(dir.filePath("source.jpg"), makeJpeg(tc.shape));
    ASSERT_TRUE(RecaptionUnsupportedReason(source).isEmpty());

    const QList<QRect> areas = tc.captions.areas();
    int calls = 0;
    const QByteArray out =
        writeAndRead(dir.filePath("captioned.jpg"),
                     RecaptionJpeg(source, areas, [&](QImage& band, const QPoint& origin) {
                         ++calls;
                         tc.captions.paint(band, origin);
                     }));
    ASSERT_FALSE(out.isEmpty());
    EXPECT_GE(calls, 1);

    const Coefficients before = readCoefficients(source);
    const Coefficients after = readCoefficients(out);
    const McuMask mask(before, areas);

    // Same frame: size, colour space, sampling, tables, restart interval.
    ASSERT_EQ(after.width, before.width);
    ASSERT_EQ(after.height, before.height);
    EXPECT_EQ(after.space, before.space);
    EXPECT_EQ(after.restartInterval, before.restartInterval);
    ASSERT_EQ(after.components.size(), before.components.size());
    for (size_t ci = 0; ci < before.components.size(); ++ci) {
        EXPECT_EQ(after.components[ci].id, before.components[ci].id);
        EXPECT_EQ(after.components[ci].h, before.components[ci].h);
        EXPECT_EQ(after.components[ci].v, before.components[ci].v);
        EXPECT_EQ(after.components[ci].quant, before.components[ci].quant) << "component " << ci;
    }

    // Every block outside the touched MCUs is bit-identical; the touched ones did change.
    EXPECT_EQ(changedBlocksOutside(before, after, mask), 0);
    const McuMask nothing(before, {});
    EXPECT_GT(changedBlocksOutside(before, after, nothing), 0);

    // Decoded pixels: identical outside the touched MCUs; with smooth upsampling of subsampled
    // colour, a pixel next to a touched MCU may blend in its colour.
    const QImage sourcePixels = decodeJpeg(source);
    const QImage outPixels = decodeJpeg(out);
    EXPECT_EQ(changedPixelsOutside(decodeJpeg(source, false), decodeJpeg(out, false), mask, 0), 0);
    const bool subsampled = before.maxH > 1 || before.maxV > 1;
    EXPECT_EQ(changedPixelsOutside(sourcePixels, outPixels, mask, subsampled ? 1 : 0), 0);

    // Inside: what painting on the decoded photo gives, within JPEG's tolerance, measured as
    // the loss of encoding that painted photo whole with the same settings.
    const QRect picture(0, 0, before.width, before.height);
    const QRect fillInside = tc.captions.fill.adjusted(2, 2, -2, -2).intersected(picture);
    auto closeToPainting = [&](const QImage& underneath, const QImage& decoded) {
        QImage expected = underneath;
        tc.captions.paint(expected, QPoint(0, 0));
        const QImage reference = decodeJpeg(makeJpeg(tc.shape, expected));
        for (const QRect& area : {fillInside, tc.captions.text.intersected(picture)}) {
            const Difference ours = difference(expected, decoded, area, tc.shape.gray);
            const Difference whole = difference(expected, reference, area, tc.shape.gray);
            EXPECT_LE(ours.mean, whole.mean * 1.25 + 1.0) << "in " << area.x() << "," << area.y();
            EXPECT_LE(ours.max, whole.max + 12) << "in " << area.x() << "," << area.y();
        }
    };
    {
        SCOPED_TRACE("first caption");
        closeToPainting(sourcePixels, outPixels);
    }
    // The painting is really there: the fill colour is far from the photo's colours.
    EXPECT_GT(difference(sourcePixels, outPixels, fillInside, tc.shape.gray).mean, 30.0);

    // APP1 (EXIF) and COM, and libjpeg's JFIF APP0, in their order and byte for byte.
    const auto segs = segments(source);
    EXPECT_EQ(segments(out), segs);
    ASSERT_EQ(segs.size(), 3);
    EXPECT_EQ(segs[0].first, 0xE0);
    EXPECT_EQ(segs[1], qMakePair(0xE1, exifPayload()));
    EXPECT_EQ(segs[2], qMakePair(0xFE, CommentText));

    // Captioning the result again the same way: still nothing changes outside, and inside the
    // picture stays as close to the painting.
    const QByteArray again =
        writeAndRead(dir.filePath("again.jpg"),
                     RecaptionJpeg(out, areas, [&](QImage& band, const QPoint& origin) {
                         tc.captions.paint(band, origin);
                     }));
    const Coefficients twice = readCoefficients(again);
    EXPECT_EQ(changedBlocksOutside(before, twice, mask), 0);
    EXPECT_EQ(changedBlocksOutside(after, twice, mask), 0);
    const QImage againPixels = decodeJpeg(again);
    EXPECT_EQ(changedPixelsOutside(sourcePixels, againPixels, mask, subsampled ? 1 : 0), 0);
    {
        SCOPED_TRACE("second caption");
        closeToPainting(outPixels, againPixels);
    }
    EXPECT_EQ(segments(again), segs);
}

SourceShape shape(int w, int h, int lumaH, int lumaV, bool gray, int restart) {
    SourceShape s;
    s.width = w;
    s.height = h;
    s.lumaH = lumaH;
    s.lumaV = lumaV;
    s.gray = gray;
    s.restartInterval = restart;
    return s;
}

// Sizes are not multiples of the MCU; the second area reaches into the partial MCUs at the right
// and bottom edges, and past them.
INSTANTIATE_TEST_SUITE_P(
    Samplings, RecaptionSampling,
    ::testing::Values(
        Case{"yuv420", shape(333, 251, 2, 2, false, 0), {{37, 45, 90, 30}, {250, 221, 100, 40}}},
        // Areas in an L: the MCUs in the corner they leave out must not change either.
        Case{"yuv420_restarts",
             shape(333, 251, 2, 2, false, 5),
             {{37, 45, 90, 30}, {110, 70, 100, 30}}},
        Case{"yuv444", shape(201, 119, 1, 1, false, 0), {{3, 5, 60, 20}, {150, 95, 60, 30}}},
        Case{"yuv422_restarts", shape(250, 77, 2, 1, false, 3), {{100, 0, 70, 24}, {0, 50, 40, 27}}},
        Case{"gray", shape(147, 99, 1, 1, true, 0), {{8, 8, 48, 24}, {100, 70, 60, 35}}},
        Case{"gray_restarts", shape(147, 99, 1, 1, true, 2), {{20, 30, 40, 20}, {60, 35, 50, 20}}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ---- the band handed to the painter ---------------------------------------------------------

TEST(Recaption, BandsAreMcuAlignedAndHoldTheDecodedPhoto) {
    SourceShape s; // 333 x 251, 4:2:0: MCUs of 16 x 16
    const QByteArray source = makeJpeg(s);
    const QImage pixels = decodeJpeg(source);
    // Two areas far apart get a band each; two that touch share one.
    const QList<QRect> areas = {{20, 20, 10, 10}, {31, 35, 5, 5}, {300, 200, 33, 51}};
    QList<QRect> bands;
    RecaptionJpeg(source, areas, [&](QImage& band, const QPoint& origin) {
        bands.append(QRect(origin, band.size()));
        EXPECT_EQ(band.format(), QImage::Format_RGB32);
        // Exactly what a full decode shows there.
        EXPECT_EQ(band, pixels.copy(QRect(origin, band.size())));
    });
    ASSERT_EQ(bands.size(), 2);
    std::sort(bands.begin(), bands.end(),
              [](const QRect& a, const QRect& b) { return a.y() < b.y(); });
    EXPECT_EQ(bands[0], QRect(16, 16, 32, 32));
    EXPECT_EQ(bands[1], QRect(288, 192, 45, 59)); // cut at the picture's edges
}

TEST(Recaption, NoAreaInsideThePictureLeavesTheFileAsItIs) {
    const QByteArray source = makeJpeg(SourceShape());
    bool called = false;
    auto draw = [&](QImage&, const QPoint&) { called = true; };
    EXPECT_EQ(RecaptionJpeg(source, {}, draw), source);
    EXPECT_EQ(
        RecaptionJpeg(source, {QRect(400, 10, 50, 50), QRect(-60, -60, 60, 60), QRect()}, draw),
        source);
    EXPECT_FALSE(called);
}

TEST(Recaption, WholePictureTouched) {
    SourceShape s;
    s.width = 64;
    s.height = 40;
    const QByteArray source = makeJpeg(s);
    const QByteArray out =
        RecaptionJpeg(source, {QRect(-5, -5, 100, 100)}, [](QImage& band, const QPoint& origin) {
            EXPECT_EQ(origin, QPoint(0, 0));
            EXPECT_EQ(band.size(), QSize(64, 40));
            band.fill(FillColor);
        });
    QImage expected(64, 40, QImage::Format_RGB32);
    expected.fill(FillColor);
    const Difference d = difference(expected, decodeJpeg(out), expected.rect(), false);
    EXPECT_LE(d.max, 6);
    EXPECT_EQ(segments(out), segments(source));
}

TEST(Recaption, PainterMayNotResizeTheBand) {
    const QByteArray source = makeJpeg(SourceShape());
    EXPECT_THROW(RecaptionJpeg(source, {QRect(10, 10, 20, 20)},
                               [](QImage& band, const QPoint&) { band = band.copy(0, 0, 8, 8); }),
                 EInvalidGraphic);
}

TEST(Recaption, OtherBandFormatsAreAccepted) {
    const QByteArray source = makeJpeg(SourceShape());
    const QByteArray out =
        RecaptionJpeg(source, {QRect(32, 32, 32, 32)}, [](QImage& band, const QPoint&) {
            band = band.convertToFormat(QImage::Format_RGB888);
            band.fill(Qt::white);
        });
    const QImage pixels = decodeJpeg(out);
    for (int y = 34; y < 62; ++y)
        for (int x = 34; x < 62; ++x)
            ASSERT_GE(gray(pixels.pixel(x, y)), 250) << x << "," << y;
}

// ---- files that are not handled ------------------------------------------------------------

TEST(Recaption, UnsupportedFilesGiveAReason) {
    SourceShape progressive;
    progressive.progressive = true;
    SourceShape arithmetic;
    arithmetic.arithmetic = true;
    SourceShape cmyk;
    cmyk.cmyk = true;
    const QList<QPair<QByteArray, QString>> files = {
        {makeJpeg(progressive), QStringLiteral("progressive")},
        {makeJpeg(arithmetic), QStringLiteral("arithmetic")},
        {makeJpeg(cmyk), QStringLiteral("CMYK")},
        {QByteArray("not a picture at all"), QStringLiteral("JPEG")},
        {QByteArray(), QStringLiteral("JPEG")},
    };
    for (const auto& [data, word] : files) {
        const QString reason = RecaptionUnsupportedReason(data);
        EXPECT_TRUE(reason.contains(word)) << reason.toStdString();
        try {
            RecaptionJpeg(data, {QRect(0, 0, 10, 10)}, [](QImage&, const QPoint&) {});
            ADD_FAILURE() << "no exception for " << word.toStdString();
        } catch (const EInvalidGraphic& e) {
            EXPECT_TRUE(e.message().contains(reason)) << e.message().toStdString();
        }
    }
    EXPECT_EQ(RecaptionUnsupportedReason(makeJpeg(SourceShape())), QString());
}

TEST(Recaption, TruncatedFileIsRefused) {
    const QByteArray source = makeJpeg(SourceShape());
    const QByteArray cut = source.left(source.size() / 2);
    EXPECT_TRUE(RecaptionUnsupportedReason(cut).isEmpty()); // the header is whole
    bool called = false;
    EXPECT_THROW(
        RecaptionJpeg(cut, {QRect(0, 0, 10, 10)}, [&](QImage&, const QPoint&) { called = true; }),
        EInvalidGraphic);
    EXPECT_FALSE(called);
}

TEST(Recaption, PainterExceptionsPassThrough) {
    const QByteArray source = makeJpeg(SourceShape());
    EXPECT_THROW(RecaptionJpeg(source, {QRect(0, 0, 10, 10)},
                               [](QImage&, const QPoint&) { throw EFOpenError("no font"); }),
                 EFOpenError);
}

} // namespace

// ---- hostile headers and endings -------------------------------------------------------------

namespace {

// The file with its first quantisation table rewritten: 16-bit steps when wide, the step at
// position `index` (zig-zag order) set to `step`. libjpeg writes one table per DQT segment.
QByteArray withQuantStep(const QByteArray& jpeg, int index, int step, bool wide) {
    const qsizetype at = jpeg.indexOf(QByteArray::fromHex("ffdb"));
    const int length = (uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]);
    const int id = uchar(jpeg[at + 4]) & 0x0F;
    if (length != 67 || (uchar(jpeg[at + 4]) >> 4) != 0)
        return {}; // not the layout this helper rewrites
    QByteArray table;
    table.append(char((wide ? 0x10 : 0x00) | id));
    for (int k = 0; k < 64; ++k) {
        const int value = k == index ? step : uchar(jpeg[at + 5 + k]);
        if (wide)
            table.append(char(value >> 8));
        table.append(char(value & 0xFF));
    }
    QByteArray dqt = QByteArray::fromHex("ffdb");
    dqt.append(char((table.size() + 2) >> 8)).append(char((table.size() + 2) & 0xFF));
    return jpeg.left(at) + dqt + table + jpeg.mid(at + 2 + length);
}

} // namespace

TEST(Recaption, QuantisationStepsTheEncoderCannotUseAreReasonsNotCrashes) {
    const QByteArray source = makeJpeg(SourceShape());
    const QList<QPair<QByteArray, QString>> refused = {
        {withQuantStep(source, 10, 0, false), QStringLiteral("JPEG with a quantisation step of 0")},
        {withQuantStep(source, 0, 0, true), QStringLiteral("JPEG with a quantisation step of 0")},
        {withQuantStep(source, 3, 8192, true),
         QStringLiteral("JPEG with quantisation steps above 8191")},
        {withQuantStep(source, 63, 65535, true),
         QStringLiteral("JPEG with quantisation steps above 8191")},
    };
    for (const auto& [data, reason] : refused) {
        ASSERT_FALSE(data.isEmpty());
        // Still a picture a decoder opens.
        EXPECT_EQ(decodeJpeg(data).size(), QSize(333, 251));
        EXPECT_EQ(RecaptionUnsupportedReason(data), reason);
        EXPECT_THROW(RecaptionJpeg(data, {QRect(0, 0, 10, 10)}, [](QImage&, const QPoint&) {}),
                     EInvalidGraphic);
    }

    // The largest usable step: captioned, and the blocks away from the caption unchanged.
    const QByteArray coarse = withQuantStep(source, 0, 8191, true); // the DC step
    EXPECT_EQ(RecaptionUnsupportedReason(coarse), QString());
    const Captions captions{QRect(40, 40, 50, 20), QRect(200, 150, 60, 30)};
    const QByteArray out = RecaptionJpeg(coarse, captions.areas(),
                                         [&](QImage& band, const QPoint& origin) {
                                             captions.paint(band, origin);
                                         });
    const Coefficients before = readCoefficients(coarse), after = readCoefficients(out);
    EXPECT_EQ(after.components[0].quant[0], 8191);
    EXPECT_EQ(changedBlocksOutside(before, after, McuMask(before, captions.areas())), 0);
}

TEST(Recaption, AFileLackingOnlyItsEndMarkerIsCaptioned) {
    const QByteArray whole = makeJpeg(SourceShape());
    ASSERT_TRUE(whole.endsWith(QByteArray::fromHex("ffd9")));
    const QByteArray open = whole.left(whole.size() - 2);
    const Captions captions{QRect(40, 40, 50, 20), QRect(200, 150, 60, 30)};
    const auto paint = [&](QImage& band, const QPoint& origin) { captions.paint(band, origin); };
    const QByteArray fromOpen = RecaptionJpeg(open, captions.areas(), paint);
    // The same file as from the whole source, end marker included.
    EXPECT_TRUE(fromOpen == RecaptionJpeg(whole, captions.areas(), paint));
    EXPECT_TRUE(fromOpen.endsWith(QByteArray::fromHex("ffd9")));
    // A file cut inside its scan data is still refused.
    EXPECT_THROW(RecaptionJpeg(whole.left(whole.size() - 200), captions.areas(), paint),
                 EInvalidGraphic);
}
