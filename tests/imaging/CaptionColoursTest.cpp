// Captions are drawn in the photo's own colour space: sRGB brick colours come out in an Adobe RGB
// photo as Adobe RGB numbers of the same colours, in both save modes; untagged and sRGB photos
// are written as before. The preview shows the photo in the display's space.

#include "bricks/TPictureimg.h"
#include "bricks/TText.h"
#include "bricks/TTextBubble.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/TSettings.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/MetadataCorpus.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

QImage flat(QSize size, QRgb colour) {
    QImage i(size, QImage::Format_RGB32);
    i.fill(colour);
    return i;
}

// The mean colour of a rectangle.
QRgb meanOf(const QImage& image, const QRect& r) {
    qint64 s[3] = {0, 0, 0};
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            s[0] += qRed(p);
            s[1] += qGreen(p);
            s[2] += qBlue(p);
        }
    const qint64 n = qint64(r.width()) * r.height();
    return qRgb(int((s[0] + n / 2) / n), int((s[1] + n / 2) / n), int((s[2] + n / 2) / n));
}

::testing::AssertionResult near(QRgb actual, QRgb expected, int delta) {
    if (std::abs(qRed(actual) - qRed(expected)) <= delta &&
        std::abs(qGreen(actual) - qGreen(expected)) <= delta &&
        std::abs(qBlue(actual) - qBlue(expected)) <= delta)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << qRed(actual) << "," << qGreen(actual) << "," << qBlue(actual) << ") vs ("
           << qRed(expected) << "," << qGreen(expected) << "," << qBlue(expected) << ")";
}

TPictureimg* logo(TDesigner& d, int left, int top, QRgb colour) {
    auto* p = placeBrick<TPictureimg>(d, left, top);
    p->FullWidth = 40;
    p->FullHeight = 40;
    p->Picture()->setGraphic({QStringLiteral("TBitmap"), QByteArray(), flat({8, 8}, colour)});
    return p;
}

TTextBubble* bubble(TDesigner& d, int left, int top) {
    auto* b = placeBrick<TTextBubble>(d, left, top);
    b->SetBounds(b->Left(), b->Top(), 120, 60);
    b->SetUpFromSize(1.0);
    b->Style = 0;
    b->setCaption(QStringLiteral("Hi"));
    b->FitToText();
    return b;
}

// A tall bold "I" in a colour: its stem is solid.
TText* letter(TDesigner& d, int left, int top, TColor colour) {
    auto* t = placeBrick<TText>(d, left, top);
    t->Font()->setColor(colour);
    t->Font()->setHeight(-90);
    t->Font()->setStyle(Tk::TFontStyles(Tk::fsBold));
    t->setCaption(QStringLiteral("I"));
    t->FitToText();
    return t;
}

const QRect kGreen(20, 20, 40, 40), kWhite(80, 20, 40, 40);
const QPoint kBubble(20, 80), kLetter(150, 10);

// The middle of a brick's square, away from its edges and from the JPEG blocks across them.
QRect inner(const QRect& r) {
    return QRect(r.center() - QPoint(8, 8), QSize(16, 16));
}

struct Outcome {
    QImage pixels;
    QStringList notices;
    QRect bubbleInside; // a few pixels of the bubble's fill
    QRect letterBox;
};

// The middle of the ink (pixels far from the grey photo) of a box: inside the letter's stem.
QRect stemOf(const QImage& image, const QRect& box) {
    QRect ink;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (image.rect().contains(x, y) && std::abs(qRed(image.pixel(x, y)) - 100) > 60)
                ink |= QRect(x, y, 1, 1);
    return QRect(ink.center() - QPoint(1, 1), QSize(3, 3));
}

class CaptionColours : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Settings().defaultCompressionQuality = 100;
        Settings().KeepPhotoQuality = false;
    }
    void TearDown() override { Settings().defaultCompressionQuality = 95; }

    QString jpeg(const QString& name, const QImage& photo, const QList<QByteArray>& segments) {
        const QString p = dir.filePath(name);
        WriteFileBytes(p, BuildJpeg(EncodeBareJpeg(photo, JpegCoding::Baseline, 100), segments));
        return p;
    }
    Outcome render(const QString& source, bool keepQuality, bool withBubble = true) {
        TDesigner d;
        d.OpenImage(source, 1.0);
        logo(d, kGreen.left(), kGreen.top(), qRgb(0, 255, 0));
        logo(d, kWhite.left(), kWhite.top(), qRgb(255, 255, 255));
        Outcome o;
        if (withBubble) {
            const TTextBubble* b = bubble(d, kBubble.x(), kBubble.y());
            o.bubbleInside = QRect(kBubble.x() + b->Body.left + 6,
                                   kBubble.y() + (b->Body.top + b->Body.bottom) / 2 - 2, 4, 4);
            const TText* t = letter(d, kLetter.x(), kLetter.y(), 0x0000FF); // TColor: red
            o.letterBox = t->FullBox(t->FullLeft, t->FullTop);
        }
        const QString out = dir.filePath((keepQuality ? "kq-" : "out-") +
                                         QFileInfo(source).fileName());
        RenderAndSave(d, source, {.newName = out, .keepQuality = keepQuality,
                                  .onNotice = [&o](const QString& n) { o.notices << n; }});
        o.pixels = ReadImageFile(out);
        return o;
    }

    QTemporaryDir dir;
    const QImage grey = flat({200, 160}, qRgb(100, 100, 100));
};

// ImageMagick's conversion of one sRGB colour into a profile (relative colorimetric), when
// ImageMagick is installed.
std::optional<QRgb> imageMagickConversion(const QString& folder, QRgb colour,
                                          const QByteArray& profile) {
    if (QStandardPaths::findExecutable("convert").isEmpty())
        return std::nullopt;
    const QString srgb = folder + "/srgb.icc", target = folder + "/target.icc";
    WriteFileBytes(srgb, SrgbProfile());
    WriteFileBytes(target, profile);
    QProcess p;
    p.start("convert", {"-size", "1x1",
                        QStringLiteral("xc:rgb(%1,%2,%3)").arg(qRed(colour)).arg(qGreen(colour)).arg(qBlue(colour)),
                        "-profile", srgb, "-intent", "Relative", "-profile", target, "-depth", "8",
                        "rgb:-"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return std::nullopt;
    const QByteArray rgb = p.readAllStandardOutput();
    if (rgb.size() != 3)
        return std::nullopt;
    return qRgb(uchar(rgb[0]), uchar(rgb[1]), uchar(rgb[2]));
}

} // namespace

// Pure green on an Adobe RGB photo is written as about (144, 255, 60), white stays white, the
// bubble's fill (255, 255, 225) moves the same way; in both save modes.
TEST_F(CaptionColours, AdobeRgbPhotoGetsAdobeRgbNumbers) {
    const QByteArray adobe = AdobeRgbProfile();
    const QRgb green = SrgbToAdobeByHand(qRgb(0, 255, 0));
    ASSERT_TRUE(near(green, qRgb(144, 255, 60), 1)); // the figure everyone quotes
    const QRgb fill = SrgbToAdobeByHand(qRgb(255, 255, 225));
    const QRgb red = SrgbToAdobeByHand(qRgb(255, 0, 0));
    if (const auto magick = imageMagickConversion(dir.path(), qRgb(0, 255, 0), adobe)) {
        EXPECT_TRUE(near(*magick, green, 1)) << "ImageMagick disagrees with the matrices";
    }

    const QString source = jpeg("adobe.jpg", grey, IccSegments(adobe));
    for (const bool keepQuality : {false, true}) {
        SCOPED_TRACE(keepQuality ? "keep-quality" : "re-encoded");
        const Outcome o = render(source, keepQuality);
        EXPECT_FALSE(o.notices.join('\n').contains("re-encoding"));
        EXPECT_TRUE(near(meanOf(o.pixels, inner(kGreen)), green, 3));
        EXPECT_TRUE(near(meanOf(o.pixels, inner(kWhite)), qRgb(255, 255, 255), 1));
        EXPECT_TRUE(near(meanOf(o.pixels, o.bubbleInside), fill, 3));
        EXPECT_TRUE(near(meanOf(o.pixels, stemOf(o.pixels, o.letterBox)), red, 4));
        // The photo around the bricks keeps its numbers.
        EXPECT_TRUE(near(meanOf(o.pixels, QRect(150, 120, 30, 30)), qRgb(100, 100, 100), 1));
    }
}

// A PNG with an Adobe RGB iCCP chunk converts the same way, and loses nothing to compression.
TEST_F(CaptionColours, AdobeRgbPngGetsAdobeRgbNumbers) {
    const QByteArray iccp = PngChunk("iCCP", QByteArray("Adobe\0\0", 7) + qCompress(AdobeRgbProfile()).mid(4));
    const QString source = dir.filePath("adobe.png");
    WriteFileBytes(source, BuildPng(grey, {iccp}));
    const Outcome o = render(source, false, false);
    EXPECT_TRUE(near(meanOf(o.pixels, inner(kGreen)), SrgbToAdobeByHand(qRgb(0, 255, 0)), 1));
    EXPECT_TRUE(near(meanOf(o.pixels, inner(kWhite)), qRgb(255, 255, 255), 0));
}

// Untagged and sRGB-tagged photos: the bricks keep their numbers, and the pixels are exactly
// those of the plain pipeline (bricks drawn on the decoded photo, encoded at the same quality).
TEST_F(CaptionColours, UntaggedAndSrgbPhotosAreWrittenAsBefore) {
    const QImage photo = makeTestPhoto(200, 160, 9, true);
    const QString untagged = jpeg("plain.jpg", photo, {});
    const QString tagged = jpeg("srgb.jpg", photo, IccSegments(SrgbProfile()));
    const Outcome a = render(untagged, false);
    const Outcome b = render(tagged, false);

    TDesigner d;
    d.OpenImage(untagged, 1.0);
    logo(d, kGreen.left(), kGreen.top(), qRgb(0, 255, 0));
    logo(d, kWhite.left(), kWhite.top(), qRgb(255, 255, 255));
    bubble(d, kBubble.x(), kBubble.y());
    letter(d, kLetter.x(), kLetter.y(), 0x0000FF);
    QImage plain = DecodeImage(ReadFileBytes(untagged));
    DrawBricks(plain, d, untagged, false);
    const QImage expected = DecodeImage(EncodeJpeg(plain, 100));

    QString why;
    EXPECT_TRUE(fuzzyImageCompare(a.pixels, expected, 0, &why)) << why.toStdString();
    EXPECT_TRUE(fuzzyImageCompare(b.pixels, expected, 0, &why)) << why.toStdString();
    EXPECT_TRUE(near(meanOf(a.pixels, inner(kGreen)), qRgb(0, 255, 0), 2));
}

// The preview converts the photo to the display: an Adobe RGB photo is shown in sRGB (the
// default display), an untagged photo as it is; a display with its own profile gets its numbers.
// The picture the surface holds keeps the photo's own numbers.
TEST_F(CaptionColours, PreviewShowsThePhotoInTheDisplaysColours) {
    const QRgb stored = qRgb(200, 60, 40);
    const QString adobe = dir.filePath("adobe.png");
    WriteFileBytes(adobe, BuildPng(flat({64, 48}, stored),
                                   {PngChunk("iCCP", QByteArray("Adobe\0\0", 7) +
                                                         qCompress(AdobeRgbProfile()).mid(4))}));
    const QString plain = dir.filePath("plain.png");
    WriteFileBytes(plain, BuildPng(flat({64, 48}, qRgb(0, 255, 0)), {}));
    const auto shown = [](TDesigner& d) { return d.Panel1->grab().toImage().pixel(10, 10); };
    {
        TDesigner d;
        d.OpenImage(adobe, 2.0);
        EXPECT_EQ(d.realPicture.pixel(10, 10), stored);
        EXPECT_EQ(d.PreviewImage().pixel(10, 10), stored);
        EXPECT_TRUE(near(shown(d), AdobeToSrgbByHand(stored), 1));
        d.OpenImage(plain, 1.0);
        EXPECT_EQ(shown(d), qRgb(0, 255, 0));
    }
    const QString display = dir.filePath("display.icc");
    WriteFileBytes(display, AdobeRgbProfile());
    qputenv("CAPTIOMARK_DISPLAY_PROFILE", display.toLocal8Bit());
    TDesigner d;
    d.OpenImage(plain, 1.0);
    EXPECT_TRUE(near(shown(d), SrgbToAdobeByHand(qRgb(0, 255, 0)), 1));
    d.OpenImage(adobe, 1.0);
    EXPECT_TRUE(near(shown(d), stored, 1)); // the display's own space
    qunsetenv("CAPTIOMARK_DISPLAY_PROFILE");
}
