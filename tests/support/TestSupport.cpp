#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QRect>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>

bool fuzzyImageCompare(const QImage& a0, const QImage& b0, int delta, QString* why) {
    if (a0.size() != b0.size()) {
        if (why)
            *why = QStringLiteral("sizes differ: %1x%2 vs %3x%4")
                       .arg(a0.width())
                       .arg(a0.height())
                       .arg(b0.width())
                       .arg(b0.height());
        return false;
    }
    const QImage a = a0.convertToFormat(QImage::Format_ARGB32);
    const QImage b = b0.convertToFormat(QImage::Format_ARGB32);
    qint64 bad = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < a.height(); ++y) {
        const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb u = pa[x], v = pb[x];
            if (std::abs(qRed(u) - qRed(v)) > delta || std::abs(qGreen(u) - qGreen(v)) > delta ||
                std::abs(qBlue(u) - qBlue(v)) > delta || std::abs(qAlpha(u) - qAlpha(v)) > delta) {
                if (bad == 0)
                    first = QPoint(x, y);
                ++bad;
            }
        }
    }
    if (bad && why)
        *why = QStringLiteral("%1 pixels differ by more than %2, first at (%3,%4): %5 vs %6")
                   .arg(bad)
                   .arg(delta)
                   .arg(first.x())
                   .arg(first.y())
                   .arg(a.pixel(first), 8, 16, QLatin1Char('0'))
                   .arg(b.pixel(first), 8, 16, QLatin1Char('0'));
    return bad == 0;
}

double differingPixelShare(const QImage& a0, const QImage& b0, int delta) {
    if (a0.size() != b0.size() || a0.isNull())
        return 1.0;
    const QImage a = a0.convertToFormat(QImage::Format_ARGB32);
    const QImage b = b0.convertToFormat(QImage::Format_ARGB32);
    qint64 bad = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb u = a.pixel(x, y), v = b.pixel(x, y);
            if (std::abs(qRed(u) - qRed(v)) > delta || std::abs(qGreen(u) - qGreen(v)) > delta ||
                std::abs(qBlue(u) - qBlue(v)) > delta || std::abs(qAlpha(u) - qAlpha(v)) > delta)
                ++bad;
        }
    return double(bad) / (double(a.width()) * a.height());
}

double meanChannelDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

namespace {
bool differs(QRgb u, QRgb v, int delta) {
    return std::abs(qRed(u) - qRed(v)) > delta || std::abs(qGreen(u) - qGreen(v)) > delta ||
           std::abs(qBlue(u) - qBlue(v)) > delta || std::abs(qAlpha(u) - qAlpha(v)) > delta;
}
QString rectText(const QRect& r) {
    return r.isEmpty() ? QStringLiteral("none")
                       : QStringLiteral("(%1,%2 %3x%4)")
                             .arg(r.x())
                             .arg(r.y())
                             .arg(r.width())
                             .arg(r.height());
}
} // namespace

InkStats inkWithin(const QImage& image0, const QImage& background0, int delta,
                   const QRect& region0) {
    InkStats ink;
    if (image0.size() != background0.size())
        return ink;
    const QImage a = image0.convertToFormat(QImage::Format_ARGB32);
    const QImage b = background0.convertToFormat(QImage::Format_ARGB32);
    const QRect region = (region0.isEmpty() ? a.rect() : region0) & a.rect();
    double sx = 0, sy = 0;
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = region.left(); x <= region.right(); ++x)
            if (differs(pa[x], pb[x], delta)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                sx += x;
                sy += y;
                ++ink.count;
            }
    }
    if (ink.count) {
        ink.box = QRect(QPoint(left, top), QPoint(right, bottom));
        ink.cx = sx / double(ink.count);
        ink.cy = sy / double(ink.count);
    }
    return ink;
}

bool blocksMatch(const QImage& actual, const QImage& golden, const QImage& background,
                 const QList<QRect>& blocks, int delta, int boxTolerance, double maxShare,
                 QString* why) {
    const auto fail = [&](const QString& message) {
        if (why)
            *why = message;
        return false;
    };
    if (actual.size() != golden.size() || actual.size() != background.size())
        return fail(QStringLiteral("sizes differ"));
    for (int i = 0; i < blocks.size(); ++i) {
        const QRect block = blocks[i] & actual.rect();
        const QRect a = inkWithin(actual, background, delta, block).box;
        const QRect g = inkWithin(golden, background, delta, block).box;
        const bool sameBox =
            a.isEmpty() == g.isEmpty() &&
            (a.isEmpty() || (std::abs(a.left() - g.left()) <= boxTolerance &&
                             std::abs(a.top() - g.top()) <= boxTolerance &&
                             std::abs(a.right() - g.right()) <= boxTolerance &&
                             std::abs(a.bottom() - g.bottom()) <= boxTolerance));
        if (!sameBox)
            return fail(QStringLiteral("block %1 %2: ink box %3, golden's %4")
                            .arg(i)
                            .arg(rectText(block), rectText(a), rectText(g)));
        const double share = differingPixelShare(actual.copy(block), golden.copy(block), delta);
        if (share > maxShare)
            return fail(QStringLiteral("block %1 %2: %3 % of its pixels differ")
                            .arg(i)
                            .arg(rectText(block))
                            .arg(share * 100, 0, 'f', 2));
    }
    return true;
}

QImage makeTestPhoto(int width, int height, quint32 seed, bool smooth) {
    QImage img(width, height, QImage::Format_RGB32);
    quint32 state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = smooth ? 0 : int((state >> 24) & 0x0F);
            const int r = std::min(255, x * 240 / std::max(1, width - 1) + noise);
            const int g = std::min(255, y * 240 / std::max(1, height - 1) + noise);
            const int b = std::min(255, (x + y) * 128 / std::max(1, width + height) + 64 + noise);
            row[x] = qRgb(r, g, b);
        }
    }
    return img;
}

QByteArray exifBlockSegment(const ExifBlock& block) {
    auto u16 = [](QByteArray& b, quint16 v) {
        b.append(char(v & 0xFF));
        b.append(char(v >> 8));
    };
    auto u32 = [](QByteArray& b, quint32 v) {
        for (int i = 0; i < 4; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
    };
    const auto dirSize = [](qsizetype n) { return quint32(2 + 12 * n + 4); };
    const qsizetype n0 =
        (block.orientation > 0 ? 1 : 0) + block.main.size() + (block.exif.isEmpty() ? 0 : 1);
    const quint32 exifAt = 8 + dirSize(n0);
    const quint32 dataStart = exifAt + (block.exif.isEmpty() ? 0 : dirSize(block.exif.size()));
    QByteArray data;
    auto ascii = [&](QByteArray& dir, quint16 tag, const QByteArray& text) {
        const QByteArray bytes = text + '\0';
        u16(dir, tag);
        u16(dir, 2);
        u32(dir, quint32(bytes.size()));
        if (bytes.size() <= 4) {
            dir.append(bytes.leftJustified(4, '\0'));
        } else {
            u32(dir, dataStart + quint32(data.size()));
            data.append(bytes);
        }
    };
    QByteArray ifd0, exif;
    u16(ifd0, quint16(n0));
    if (block.orientation > 0) {
        u16(ifd0, 0x0112);
        u16(ifd0, 3);
        u32(ifd0, 1);
        u16(ifd0, block.orientation);
        u16(ifd0, 0);
    }
    for (const auto& [tag, text] : block.main)
        ascii(ifd0, tag, text);
    if (!block.exif.isEmpty()) {
        u16(ifd0, 0x8769);
        u16(ifd0, 4);
        u32(ifd0, 1);
        u32(ifd0, exifAt);
        u16(exif, quint16(block.exif.size()));
        for (const auto& [tag, text] : block.exif)
            ascii(exif, tag, text);
        u32(exif, 0);
    }
    u32(ifd0, 0);
    const QByteArray payload =
        QByteArray("Exif\0\0II\x2A\x00\x08\x00\x00\x00", 14) + ifd0 + exif + data;
    QByteArray segment("\xFF\xE1", 2);
    const quint16 len = quint16(payload.size() + 2);
    segment.append(char(len >> 8));
    segment.append(char(len & 0xFF));
    return segment + payload;
}

QByteArray exifBlockJpeg(const ExifBlock& block) {
    return QByteArray("\xFF\xD8", 2) + exifBlockSegment(block) + QByteArray("\xFF\xD9", 2);
}

QByteArray withExifBlock(const QByteArray& jpeg, const ExifBlock& block) {
    const int firstLen = (uchar(jpeg.at(4)) << 8) | uchar(jpeg.at(5));
    return jpeg.left(2) + exifBlockSegment(block) + jpeg.mid(4 + firstLen);
}

// A flat IFD0 is the fuller block without orientation or sub-directory: same bytes.
QByteArray exifSegment(const AsciiEntries& entries) {
    return exifBlockSegment(ExifBlock{entries, {}, 0});
}

QByteArray exifJpeg(const AsciiEntries& entries) {
    return exifBlockJpeg(ExifBlock{entries, {}, 0});
}

QByteArray withExif(const QByteArray& jpeg, const AsciiEntries& entries) {
    return withExifBlock(jpeg, ExifBlock{entries, {}, 0});
}

QString sharedTestDataDir() {
    const QString dir = qEnvironmentVariable("CAPTIOMARK_TESTDATA");
    return !dir.isEmpty() && QFileInfo(dir).isDir() ? dir : QString();
}

static QString sourceDir() {
    const QString dir = qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR");
    return dir.isEmpty() ? QDir::currentPath() : dir;
}

QString fixturePath(const QString& relative) {
    return sourceDir() + QStringLiteral("/tests/fixtures/") + relative;
}

QString goldenPath(const QString& name) {
    return sourceDir() + QStringLiteral("/tests/golden/") + name + QStringLiteral(".png");
}

bool updatingGoldens() {
    return qEnvironmentVariable("CAPTIOMARK_UPDATE_GOLDEN") == QLatin1String("1");
}

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << 'x' << s.height();
}
void PrintTo(const QRect& r, std::ostream* os) {
    *os << '(' << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height() << ')';
}
void PrintTo(const QPoint& p, std::ostream* os) {
    *os << '(' << p.x() << ',' << p.y() << ')';
}

QImage solidImage(QSize size, QRgb colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QRect darkInkBox(const QImage& image, int below) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < below)
                box |= QRect(x, y, 1, 1);
    return box;
}

QByteArray patternFileWith(const QString& body, const QString& extra) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"Test Project\" "
               "Created=\"by qmv\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
               "IsGrid=\"False\" Zoom=\"1\"/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n%2"
               "  <Bricks>\n    <Brick Body=\"%1\"/>\n  </Bricks>\n</Project>\n")
        .arg(body, extra)
        .toUtf8();
}

bool haveJpegTools() {
    return !QStandardPaths::findExecutable(QStringLiteral("cjpeg")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("djpeg")).isEmpty();
}

QByteArray runTool(const QString& tool, const QStringList& args, QString* err) {
    QProcess p;
    p.start(tool, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << tool.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << tool.toStdString() << " "
                               << p.readAllStandardError().toStdString();
    if (err)
        *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.readAllStandardOutput();
}
