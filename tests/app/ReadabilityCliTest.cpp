// Captions readable on any photo, through the command line: automatic contrast over a batch of a
// light and a dark photo, and the caption band (the photo with a band added, its own pixels
// untouched, the caption anchored to the band's edge inside it; keep-quality re-encodes).
#include "imaging/core/ImageCodecs.h"
#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QByteArray patternWith(const QString& body, const QString& band = {}) {
    return patternFileWith(body, band);
}

// A magenta caption that picks black or white by the photo; magenta shows if it does not.
const QString kAutoBody = QStringLiteral(
    "object Text1: TText%CR%LF  Left = 40%CR%LF  Top = 40%CR%LF  Caption = 'HXH'%CR%LF"
    "  Font.Color = clFuchsia%CR%LF  Font.Height = -48%CR%LF  Font.Name = 'DejaVu Sans'%CR%LF"
    "  Font.Style = [fsBold]%CR%LF  AutoContrast = True%CR%LFend%CR%LF");

// A black caption anchored to an edge, 50 per mille in; its line 100 per mille high.
QString anchoredBody(const char* anchor) {
    return QStringLiteral(
               "object Text1: TText%CR%LF  Left = 10%CR%LF  Top = 10%CR%LF  Caption = 'HXH'%CR%LF"
               "  Font.Color = clBlack%CR%LF  Font.Height = -20%CR%LF  Font.Name = 'DejaVu "
               "Sans'%CR%LF  Font.Style = [fsBold]%CR%LF  Anchor = %1%CR%LF  MarginX = 50.0%CR%LF"
               "  MarginY = 50.0%CR%LF  RelativeSize = 100.0%CR%LFend%CR%LF")
        .arg(QLatin1String(anchor));
}

QImage noise(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(random.bounded(256), random.bounded(256), random.bounded(256)));
    return image;
}

double luminance(QRgb c) {
    const auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

class ReadabilityCli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(config.isValid() && files.isValid()); }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    CliRun cli(const QStringList& args) { return runCli(args, config.path()); }

    QTemporaryDir config;
    QTemporaryDir files;
};

} // namespace

TEST_F(ReadabilityCli, AutomaticContrastGivesDarkTextOnLightAndLightOnDarkInOneBatch) {
    const QString pattern = write("auto.xml", patternWith(kAutoBody));
    QImage light(400, 200, QImage::Format_RGB32), dark(400, 200, QImage::Format_RGB32);
    light.fill(qRgb(225, 230, 210));
    dark.fill(qRgb(30, 25, 45));
    const QString a = write("light.png", EncodePng(light));
    const QString b = write("dark.png", EncodePng(dark));
    const CliRun r = cli({"batch", "--pattern", pattern, a, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    struct Case {
        QString file;
        QImage photo;
        bool wantDark;
    };
    for (const Case& c : {Case{a, light, true}, Case{b, dark, false}}) {
        SCOPED_TRACE(c.file.toStdString());
        const QImage out = ReadImageFile(c.file).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(out.size(), c.photo.size());
        // The ink: pixels far from the photo's colour.
        std::vector<double> ink;
        int magenta = 0;
        for (int y = 0; y < out.height(); ++y)
            for (int x = 0; x < out.width(); ++x) {
                const QRgb p = out.pixel(x, y), q = c.photo.pixel(x, y);
                if (std::abs(qGray(p) - qGray(q)) > 60)
                    ink.push_back(luminance(p));
                magenta += qRed(p) > 150 && qBlue(p) > 150 && qGreen(p) < 90;
            }
        ASSERT_GT(ink.size(), 400u);
        std::nth_element(ink.begin(), ink.begin() + ink.size() / 2, ink.end());
        const double median = ink[ink.size() / 2];
        if (c.wantDark)
            EXPECT_LT(median, 0.02);
        else
            EXPECT_GT(median, 0.8);
        EXPECT_EQ(magenta, 0);
    }
}

TEST_F(ReadabilityCli, BandAddsRowsKeepsThePhotoAndHoldsTheAnchoredCaption) {
    const QImage photo = noise({400, 300});
    struct Case {
        const char* edge;
        const char* anchor;
        int photoTop; // where the photo's rows start in the output
        int bandTop;
    };
    // 250 per mille of the shorter side (300): 75 rows.
    for (const Case& c : {Case{"Bottom", "baBottomRight", 0, 300},
                          Case{"Top", "baTopLeft", 75, 0}}) {
        SCOPED_TRACE(c.edge);
        const QString pattern = write(
            QStringLiteral("band-%1.xml").arg(QLatin1String(c.edge)),
            patternWith(anchoredBody(c.anchor),
                        QStringLiteral("  <Band Edge=\"%1\" Size=\"250\" Color=\"clWhite\"/>\n")
                            .arg(QLatin1String(c.edge))));
        const QString file =
            write(QStringLiteral("photo-%1.png").arg(QLatin1String(c.edge)), EncodePng(photo));
        const CliRun r = cli({"render", "--pattern", pattern, file});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QImage out = ReadImageFile(file).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(out.size(), QSize(400, 375));
        // The photo's own pixels, every one, where they were put.
        int changed = 0;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x)
                changed += out.pixel(x, y + c.photoTop) != photo.pixel(x, y);
        EXPECT_EQ(changed, 0);
        // The band: white but for the caption's dark ink, which keeps 15 pixels (50 per mille)
        // from the band's anchored corner.
        QRect ink;
        int other = 0;
        for (int y = c.bandTop; y < c.bandTop + 75; ++y)
            for (int x = 0; x < 400; ++x) {
                const QRgb p = out.pixel(x, y);
                if (qGray(p) < 100)
                    ink |= QRect(x, y, 1, 1);
                else if (qGray(p) < 250 && !(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)))
                    ++other; // nothing coloured: only white and the text's greys
            }
        ASSERT_FALSE(ink.isEmpty());
        EXPECT_EQ(other, 0);
        // A line of 30 pixels: capitals about 22 high.
        EXPECT_GE(ink.height(), 15);
        EXPECT_LE(ink.height(), 30);
        if (std::string(c.edge) == "Bottom") {
            EXPECT_GE(399 - ink.right(), 14);
            EXPECT_LE(399 - ink.right(), 15 + 6);
            EXPECT_GE(374 - ink.bottom(), 14);
            EXPECT_LE(374 - ink.bottom(), 15 + 12);
        } else {
            EXPECT_GE(ink.left(), 15);
            EXPECT_LE(ink.left(), 15 + 6);
            EXPECT_GE(ink.top(), 15);
            EXPECT_LE(ink.top(), 15 + 12);
        }
    }
}

TEST_F(ReadabilityCli, KeepQualityWithABandReEncodesAndSaysSo) {
    const QString pattern =
        write("band.xml", patternWith(anchoredBody("baBottomLeft"),
                                      QStringLiteral("  <Band Edge=\"Bottom\" Size=\"100\" "
                                                     "Color=\"clBlack\"/>\n")));
    QImage photo(320, 240, QImage::Format_RGB32);
    photo.fill(qRgb(90, 140, 200));
    const QString file = write("keep.jpg", EncodeJpeg(photo, 90));
    const CliRun r = cli({"render", "--pattern", pattern, "--keep-quality", file});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(file + ": a caption band is added to the picture; written by "
                                      "re-encoding."))
        << r.out.toStdString();
    const QImage out = ReadImageFile(file);
    EXPECT_EQ(out.size(), QSize(320, 240 + 24));
    // The band is black (JPEG noise aside) below the photo.
    EXPECT_LT(qGray(out.pixel(300, 250)), 20);
    const CliRun b = cli({"batch", "--pattern", pattern, "--keep-quality", file});
    ASSERT_EQ(b.code, 0) << b.err.toStdString();
    EXPECT_TRUE(b.out.contains(QLatin1String("a caption band is added to the picture; written by "
                                             "re-encoding.")))
        << b.out.toStdString();
    EXPECT_EQ(ReadImageFile(file).size(), QSize(320, 264 + 26));
}

// A JPEG is captioned band by band (64 rows): a caption that picks black or white and crosses a
// band boundary picks once, for all of it, as on a photo rendered whole (the same photo as PNG).
// The photo is light above row 64 and dark below, so a band judged alone would pick otherwise.
TEST_F(ReadabilityCli, AutomaticContrastPicksOnceForACaptionAcrossBands) {
    const QString pattern = write("auto.xml", patternWith(kAutoBody));
    QImage photo(400, 200, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, y < 64 ? qRgb(225, 230, 210) : qRgb(30, 25, 45));
    for (const char* command : {"render", "batch"}) {
        SCOPED_TRACE(command);
        const QString whole = write(QStringLiteral("%1.png").arg(command), EncodePng(photo));
        const QString banded =
            write(QStringLiteral("%1.jpg").arg(command), EncodeJpeg(photo, 100));
        const CliRun r = cli({command, "--pattern", pattern, whole, banded});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QImage a = ReadImageFile(whole).convertToFormat(QImage::Format_RGB32);
        const QImage b = ReadImageFile(banded).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(a.size(), b.size());
        // Where the caption stands, above and below the band boundary.
        for (const QRect part : {QRect(36, 36, 200, 28), QRect(36, 64, 200, 40)}) {
            double sum = 0;
            for (int y = part.top(); y <= part.bottom(); ++y)
                for (int x = part.left(); x <= part.right(); ++x)
                    sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
            EXPECT_LT(sum / (part.width() * part.height()), 4.0)
                << part.top() << ": the caption's colour differs from the whole picture's";
        }
    }
}
