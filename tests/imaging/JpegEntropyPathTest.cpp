// Captioning in place by copying the coded bits of untouched MCUs, on files made by cjpeg, checked
// against libjpeg's own reading of the files and djpeg's decode.
#include "imaging/core/JpegEntropy.h"
#include "imaging/core/JpegRecaption.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include <jpeglib.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// djpeg's decode of a file, with its warnings.
QImage djpeg(const QString& path, bool smooth, QString* warnings) {
    QStringList args{QStringLiteral("-ppm")};
    if (!smooth)
        args << QStringLiteral("-nosmooth");
    QImage image;
    EXPECT_TRUE(
        image.loadFromData(runTool(QStringLiteral("djpeg"), args << path, warnings), "PPM"));
    return image.convertToFormat(QImage::Format_RGB32);
}

void abortOnJpegError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    std::fprintf(stderr, "libjpeg failed in the test helpers: %s\n", message);
    std::abort();
}

// Every block's coefficients as libjpeg reads them, component after component.
struct Coefs {
    int maxH = 1, maxV = 1, width = 0, height = 0, restart = 0;
    struct Comp {
        int h = 1, v = 1, across = 0, down = 0;
        std::vector<JCOEF> c;
    };
    std::vector<Comp> comps;
};

Coefs readCoefs(const QByteArray& data) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    err.error_exit = abortOnJpegError;
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&d);
    Coefs out;
    out.maxH = d.max_h_samp_factor;
    out.maxV = d.max_v_samp_factor;
    out.width = int(d.image_width);
    out.height = int(d.image_height);
    out.restart = int(d.restart_interval);
    for (int ci = 0; ci < d.num_components; ++ci) {
        Coefs::Comp comp;
        comp.h = d.comp_info[ci].h_samp_factor;
        comp.v = d.comp_info[ci].v_samp_factor;
        comp.across = int(d.comp_info[ci].width_in_blocks);
        comp.down = int(d.comp_info[ci].height_in_blocks);
        for (int by = 0; by < comp.down; ++by) {
            JBLOCKARRAY row = (*d.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&d),
                                                           arrays[ci], JDIMENSION(by), 1, FALSE);
            for (int bx = 0; bx < comp.across; ++bx)
                comp.c.insert(comp.c.end(), row[0][bx], row[0][bx] + DCTSIZE2);
        }
        out.comps.push_back(std::move(comp));
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

// The MCUs the areas reach, from the file's sampling (one block per MCU for a single component).
struct Grid {
    int mcuW, mcuH, cols, rows;
    std::vector<bool> touched;
    Grid(const Coefs& c, const QList<QRect>& areas)
        : mcuW(c.comps.size() == 1 ? 8 : c.maxH * 8), mcuH(c.comps.size() == 1 ? 8 : c.maxV * 8),
          cols((c.width + mcuW - 1) / mcuW), rows((c.height + mcuH - 1) / mcuH),
          touched(size_t(cols * rows), false) {
        const QRect picture(0, 0, c.width, c.height);
        for (int my = 0; my < rows; ++my)
            for (int mx = 0; mx < cols; ++mx)
                for (const QRect& a : areas)
                    if (a.intersected(picture).intersects(QRect(mx * mcuW, my * mcuH, mcuW, mcuH)))
                        touched[size_t(my * cols + mx)] = true;
    }
    bool at(int mx, int my) const { return touched[size_t(my * cols + mx)]; }
    bool pixelNear(int x, int y, int margin) const {
        for (int dy = -margin; dy <= margin; ++dy)
            for (int dx = -margin; dx <= margin; ++dx) {
                const int px = x + dx, py = y + dy;
                if (px >= 0 && py >= 0 && px / mcuW < cols && py / mcuH < rows &&
                    at(px / mcuW, py / mcuH))
                    return true;
            }
        return false;
    }
};

// Blocks that differ between a and b; outsideOnly skips the touched MCUs.
int differingBlocks(const Coefs& a, const Coefs& b, const Grid& grid, bool outsideOnly) {
    int n = 0;
    for (size_t ci = 0; ci < a.comps.size(); ++ci) {
        const auto& ca = a.comps[ci];
        const auto& cb = b.comps[ci];
        const int h = a.comps.size() == 1 ? 1 : ca.h, v = a.comps.size() == 1 ? 1 : ca.v;
        for (int by = 0; by < ca.down; ++by)
            for (int bx = 0; bx < ca.across; ++bx) {
                if (outsideOnly && grid.at(bx / h, by / v))
                    continue;
                const size_t at = (size_t(by) * size_t(ca.across) + size_t(bx)) * DCTSIZE2;
                if (!std::equal(ca.c.begin() + qsizetype(at), ca.c.begin() + qsizetype(at) + 64,
                                cb.c.begin() + qsizetype(at)))
                    ++n;
            }
    }
    return n;
}

int differingPixelsAway(const QImage& a, const QImage& b, const Grid& grid, int margin) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (!grid.pixelNear(x, y, margin) && a.pixel(x, y) != b.pixel(x, y))
                ++n;
    return n;
}

// Where the coded data starts: after the first SOS segment.
qsizetype scanStart(const QByteArray& jpeg) {
    const qsizetype sos = jpeg.indexOf(QByteArray::fromHex("ffda"));
    return sos + 2 + ((uchar(jpeg[sos + 2]) << 8) | uchar(jpeg[sos + 3]));
}

// The coded data cut at its restart markers (each piece without its marker).
QList<QByteArray> intervals(const QByteArray& jpeg) {
    QList<QByteArray> out;
    qsizetype from = scanStart(jpeg);
    for (qsizetype p = from; p + 1 < jpeg.size(); ++p) {
        if (uchar(jpeg[p]) != 0xFF)
            continue;
        const uchar m = uchar(jpeg[p + 1]);
        if (m == 0)
            continue;
        out << jpeg.mid(from, p - from);
        if (m == 0xD9)
            break;
        from = p + 2;
        ++p;
    }
    return out;
}

// The captions: solid fills of different colours and a line of text.
struct Paint {
    QList<QRect> fills;
    QRect text;
    int alpha = 255; // of the fills; a faint fill needs only the symbols a photo's own tables hold
    QList<QRect> areas() const { return text.isEmpty() ? fills : fills + QList<QRect>{text}; }
    void operator()(QImage& band, const QPoint& origin) const {
        QPainter p(&band);
        p.translate(-origin);
        const QColor colours[] = {QColor(250, 220, 60), QColor(20, 30, 200), QColor(0, 0, 0),
                                  QColor(255, 255, 255), QColor(200, 10, 90)};
        for (qsizetype i = 0; i < fills.size(); ++i) {
            QColor c = colours[i % 5];
            c.setAlpha(alpha);
            p.fillRect(fills[i], c);
        }
        if (text.isEmpty())
            return;
        QFont font;
        font.setPixelSize(std::max(8, text.height() - 4));
        p.setFont(font);
        p.setPen(Qt::white);
        p.setClipRect(text);
        p.drawText(text, Qt::AlignCenter, QStringLiteral("Lake 2026"));
    }
};

struct Layout {
    const char* name;
    QSize size;
    QStringList options;
    bool optimized; // tables made for the photo: only faint fills, which its symbols can code
};

void PrintTo(const Layout& l, std::ostream* os) {
    *os << l.name;
}

class EntropyPath : public ::testing::TestWithParam<Layout> {};

// Areas at the first MCU, at the right edge (so the run of touched MCUs ends a row), inside the
// picture, and reaching past the bottom-right corner.
Paint paintFor(const QSize& s, bool faint) {
    Paint p;
    p.fills = {QRect(0, 0, 5, 5), QRect(s.width() - 20, 40, 20, 30),
               QRect(s.width() / 3, s.height() / 2, 50, 17),
               QRect(s.width() - 3, s.height() - 3, 30, 30)};
    if (faint) {
        p.alpha = 12;
        p.fills << QRect(20, s.height() / 4, 90, 26);
    } else {
        p.text = QRect(20, s.height() / 4, 90, 26);
    }
    return p;
}

} // namespace

TEST_P(EntropyPath, SameCoefficientsAsCodingEveryBlockAndUntouchedDataKept) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg and djpeg (libjpeg-turbo-progs) are needed";
    const Layout& layout = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ppm = dir.filePath("in.ppm");
    QImage photo = makeTestPhoto(layout.size.width(), layout.size.height(), 11);
    if (layout.optimized) {
        // Grain, as a camera's: tables made for such a photo hold most symbols.
        quint32 seed = 7;
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int n = int(seed >> 25) - 64;
                const QRgb c = photo.pixel(x, y);
                photo.setPixel(x, y,
                               qRgb(std::clamp(qRed(c) + n, 0, 255),
                                    std::clamp(qGreen(c) - n, 0, 255),
                                    std::clamp(qBlue(c) + n / 2, 0, 255)));
            }
    }
    ASSERT_TRUE(photo.save(ppm, "PPM"));
    const QByteArray source = runTool(
        QStringLiteral("cjpeg"), QStringList{"-quality", "88"} + layout.options + QStringList{ppm});
    ASSERT_FALSE(source.isEmpty());
    const QString sourcePath = dir.filePath("source.jpg");
    writeFile(sourcePath, source);

    const Paint paint = paintFor(layout.size, layout.optimized);
    const QByteArray fast =
        RecaptionJpeg(source, paint.areas(), paint, RecaptionPath::CopyCodedBits);
    const QByteArray all = RecaptionJpeg(source, paint.areas(), paint, RecaptionPath::RecodeAll);
    const QString fastPath = dir.filePath("fast.jpg");
    writeFile(fastPath, fast);
    writeFile(dir.filePath("all.jpg"), all);

    // djpeg reads both without a word.
    QString warnings;
    const QImage fastSmooth = djpeg(fastPath, true, &warnings);
    EXPECT_EQ(warnings, QString());
    djpeg(dir.filePath("all.jpg"), true, &warnings);
    EXPECT_EQ(warnings, QString());

    const Coefs before = readCoefs(source), afterFast = readCoefs(fast), afterAll = readCoefs(all);
    const Grid grid(before, paint.areas());
    // The same coefficients in every block, the touched MCUs and the DC of the blocks after them
    // included; outside the touched MCUs, the source's.
    EXPECT_EQ(differingBlocks(afterFast, afterAll, grid, false), 0);
    EXPECT_EQ(differingBlocks(before, afterFast, grid, true), 0);
    EXPECT_GT(differingBlocks(before, afterFast, grid, false), 0);
    EXPECT_EQ(afterFast.restart, before.restart);

    // Pixels away from the touched MCUs decode as the source's; with smooth upsampling of
    // subsampled colour a pixel next to them may take some of their colour.
    const QImage sourceSmooth = djpeg(sourcePath, true, nullptr);
    EXPECT_EQ(differingPixelsAway(djpeg(sourcePath, false, nullptr),
                                  djpeg(fastPath, false, nullptr), grid, 0),
              0);
    const bool subsampled = before.comps.size() > 1 && (before.maxH > 1 || before.maxV > 1);
    EXPECT_EQ(differingPixelsAway(sourceSmooth, fastSmooth, grid, subsampled ? 1 : 0), 0);

    {
        // The header, tables included, as it was: the coded data was copied, not made again
        // (coding every block uses libjpeg's standard tables).
        EXPECT_EQ(fast.left(scanStart(fast)), source.left(scanStart(source)));
        if (layout.optimized) {
            EXPECT_NE(all.left(scanStart(all)), source.left(scanStart(source)));
        }
        // Restart intervals without a touched MCU are the source's bytes.
        if (before.restart) {
            const QList<QByteArray> was = intervals(source), now = intervals(fast);
            ASSERT_EQ(now.size(), was.size());
            int kept = 0;
            for (qsizetype i = 0; i < was.size(); ++i) {
                bool touched = false;
                for (qsizetype m = i * before.restart;
                     m < std::min<qsizetype>((i + 1) * before.restart, grid.cols * grid.rows); ++m)
                    touched = touched || grid.touched[size_t(m)];
                if (!touched) {
                    EXPECT_EQ(now[i], was[i]) << "interval " << i;
                    ++kept;
                }
            }
            EXPECT_GT(kept, 0);
        }
    }

    // Left to choose, the copy is taken for the standard tables only: tables fitted to the photo
    // are coded again at once.
    EXPECT_EQ(RecaptionJpeg(source, paint.areas(), paint), layout.optimized ? all : fast);

    // Captioning the result again keeps the coefficients outside as well.
    const QByteArray again = RecaptionJpeg(fast, paint.areas(), paint);
    EXPECT_EQ(differingBlocks(before, readCoefs(again), grid, true), 0);
}

INSTANTIATE_TEST_SUITE_P(
    CjpegLayouts, EntropyPath,
    ::testing::Values(
        Layout{"yuv420", {333, 251}, {"-sample", "2x2"}, false},
        Layout{"yuv422", {333, 251}, {"-sample", "2x1"}, false},
        Layout{"yuv444", {201, 119}, {"-sample", "1x1"}, false},
        Layout{"gray", {147, 99}, {"-grayscale"}, false},
        Layout{"yuv420_restart_5mcus", {333, 251}, {"-sample", "2x2", "-restart", "5B"}, false},
        Layout{"yuv444_restart_row", {201, 119}, {"-sample", "1x1", "-restart", "1"}, false},
        Layout{"yuv422_restart_1mcu", {250, 77}, {"-sample", "2x1", "-restart", "1B"}, false},
        Layout{"gray_restart_7", {147, 99}, {"-grayscale", "-restart", "7B"}, false},
        Layout{"yuv420_optimized", {333, 251}, {"-sample", "2x2", "-optimize"}, true},
        Layout{"yuv422_optimized", {333, 251}, {"-sample", "2x1", "-optimize"}, true},
        Layout{"yuv444_optimized_restart",
               {201, 119},
               {"-sample", "1x1", "-optimize", "-restart", "2B"},
               true},
        Layout{"gray_optimized", {147, 99}, {"-grayscale", "-optimize"}, true},
        Layout{"yuv420_optimized_restart",
               {333, 251},
               {"-sample", "2x2", "-optimize", "-restart", "3B"},
               true}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

// A flat grey photo with tables made for it holds almost no AC symbols: text needs codes they
// lack, so every block is coded again, with the same result as coding every block on purpose.
TEST(EntropyPathTables, MissingSymbolsFallBackToCodingEveryBlock) {
    if (!haveJpegTools())
        GTEST_SKIP() << "cjpeg and djpeg (libjpeg-turbo-progs) are needed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage flat(96, 64, QImage::Format_RGB32);
    flat.fill(QColor(128, 128, 128));
    const QString ppm = dir.filePath("flat.ppm");
    ASSERT_TRUE(flat.save(ppm, "PPM"));
    const QByteArray source =
        runTool(QStringLiteral("cjpeg"), {"-quality", "90", "-optimize", ppm});
    Paint paint;
    paint.text = QRect(10, 20, 70, 24);
    const QByteArray fast =
        RecaptionJpeg(source, paint.areas(), paint, RecaptionPath::CopyCodedBits);
    const QByteArray all = RecaptionJpeg(source, paint.areas(), paint, RecaptionPath::RecodeAll);
    writeFile(dir.filePath("fast.jpg"), fast);
    QString warnings;
    const QImage decoded = djpeg(dir.filePath("fast.jpg"), true, &warnings);
    EXPECT_EQ(warnings, QString());
    EXPECT_NE(fast.left(scanStart(fast)), source.left(scanStart(source)));
    const Coefs a = readCoefs(fast), b = readCoefs(all);
    EXPECT_EQ(differingBlocks(a, b, Grid(a, {}), false), 0);
    // The text is there: bright pixels on the grey.
    int bright = 0;
    for (int y = 20; y < 44; ++y)
        for (int x = 10; x < 80; ++x)
            bright += qGray(decoded.pixel(x, y)) > 200;
    EXPECT_GT(bright, 20);
}

// A table as a file states it is refused when its codes would not fit their lengths (the
// all-ones code of a length included), before any lookup is filled: a crafted photo's table
// must never reach past them.
TEST(EntropyTables, OverFullTablesAreRefused) {
    const uint8_t symbols[256] = {0x01, 0x02, 0x03, 0x04, 0x05};
    const auto build = [&](std::initializer_list<std::pair<int, int>> lengths, bool dc) {
        uint8_t counts[17] = {};
        for (const auto& [len, count] : lengths)
            counts[len] = uint8_t(count);
        auto table = std::make_unique<JpegEntropy::HuffmanTable>();
        return table->build(counts, symbols, dc);
    };
    // Worked out by hand: one code of length 1 (0) and one of length 2 (10) leave 11 unused.
    EXPECT_TRUE(build({{1, 1}, {2, 1}}, false));
    EXPECT_TRUE(build({{2, 3}}, true));
    // Two codes of length 1 take 1, the all-ones code; three cannot be had at all.
    EXPECT_FALSE(build({{1, 2}}, false));
    EXPECT_FALSE(build({{1, 3}}, false));
    EXPECT_FALSE(build({{1, 1}, {2, 2}}, false));
    // 255 codes of length 1, the most a count can say.
    uint8_t counts[17] = {};
    counts[1] = 255;
    uint8_t many[256];
    for (int i = 0; i < 256; ++i)
        many[i] = uint8_t(i);
    auto table = std::make_unique<JpegEntropy::HuffmanTable>();
    EXPECT_FALSE(table->build(counts, many, false));
}

// Two AC codes with their extra bits are read past in one lookup when both fit in its bits; an
// end of block ends the pair. A small table, its codes worked out by hand: 00 (0/1), 01 (0/2),
// 100 (0/3), 1010 (end of block), 1011 (sixteen zeros), 11000 (1/1), 11001 (1/4).
TEST(EntropyTables, TwoCodesAreReadPastInOneLookup) {
    using JpegEntropy::HuffmanTable;
    uint8_t counts[17] = {};
    counts[2] = 2;
    counts[3] = 1;
    counts[4] = 2;
    counts[5] = 2;
    const uint8_t symbols[256] = {0x01, 0x02, 0x03, 0x00, 0xF0, 0x11, 0x14};
    auto table = std::make_unique<HuffmanTable>();
    ASSERT_TRUE(table->build(counts, symbols, false));
    const auto at = [&](const char* bits) {
        uint32_t i = 0;
        int n = 0;
        for (; bits[n]; ++n)
            i = (i << 1) | uint32_t(bits[n] == '1');
        return int(table->pair[i << (HuffmanTable::PairBits - n)]);
    };
    const auto entry = [](int bits, int advance) { return (bits << 8) | advance; };
    const int end = HuffmanTable::EndOfBlock;
    EXPECT_EQ(at("001" "0110"), entry(7, 2));           // 0/1 +1, 0/2 +10
    EXPECT_EQ(at("001" "1010"), entry(7, 1 + end));     // 0/1 +1, end of block
    EXPECT_EQ(at("1010" "001"), entry(4, end));         // the block ends: nothing more
    EXPECT_EQ(at("1011" "1011"), entry(8, 32));         // sixteen zeros twice
    EXPECT_EQ(at("110001" "100101"), entry(12, 2 + 1)); // 1/1 +1, 0/3 +101: all 12 bits
    EXPECT_EQ(at("110011010" "100"), entry(9, 2));      // 1/4 +1010; 0/3 needs 6 more bits
    EXPECT_EQ(at("1111"), 0);                           // no code starts so
    // A DC table gets no pairs.
    auto dc = std::make_unique<HuffmanTable>();
    const uint8_t sizes[256] = {0, 1, 2};
    uint8_t dcCounts[17] = {};
    dcCounts[2] = 3;
    ASSERT_TRUE(dc->build(dcCounts, sizes, true));
    EXPECT_EQ(dc->pair[0], 0);
}
