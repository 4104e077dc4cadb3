// Every metadata block of a photo reaches its captioned output: segment by segment, in every way
// RenderAndSave writes a JPEG (save over the source, save as, apply in place, fit, rotation,
// upright turn, keep-quality and its re-encoding fallbacks), and the chunks of a PNG.

#include "bricks/TText.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/core/PhotoMetadata.h"
#include "imaging/core/TExif.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/settings/TSettings.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/MetadataCorpus.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void expectCarried(const QList<QByteArray>& source, const QByteArray& output,
                   const CarryExpectation& e = {}) {
    const QString mismatch = CarriedMismatch(source, output, e);
    EXPECT_TRUE(mismatch.isEmpty()) << mismatch.toStdString();
}

QSize exifSize(const QByteArray& jpeg) {
    TExif exif;
    exif.LoadFromBytes(jpeg);
    const QStringList w = exif.Values(0xA002), h = exif.Values(0xA003);
    return w.size() == 1 && h.size() == 1 ? QSize(w[0].toInt(), h[0].toInt()) : QSize();
}

TText* caption(TDesigner& d, int left, int top) {
    auto* t = placeBrick<TText>(d, left, top);
    t->Font()->setColor(0x000000);
    t->Font()->setHeight(-40);
    t->Font()->setStyle(Tk::TFontStyles(Tk::fsBold));
    t->setCaption(QStringLiteral("CAPTION"));
    t->FitToText();
    return t;
}

// Ink of the caption: dark pixels inside its box.
int darkPixels(const QImage& image, const QRect& box) {
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (image.rect().contains(x, y) && qGray(image.pixel(x, y)) < 60)
                ++n;
    return n;
}

class MetadataCarry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Settings().AutoRotate = true;
        Settings().KeepPhotoQuality = false;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    // A photo with the full corpus in the given coding.
    QString writeSource(const QString& name, JpegCoding coding, const QList<QByteArray>& segments) {
        const QString p = path(name);
        WriteFileBytes(p, BuildJpeg(EncodeBareJpeg(photo, coding), segments));
        return p;
    }
    // Opens the source with a caption and saves it; the notices said.
    QByteArray save(const QString& source, RenderOptions options) {
        TDesigner d;
        d.OpenImage(source, 1.0);
        caption(d, 20, 30);
        options.onNotice = [this](const QString& n) { notices << n; };
        RenderAndSave(d, source, options);
        const QString written = RenderOutputPath(source, options.newName);
        return ReadFileBytes(written);
    }

    QTemporaryDir dir;
    QImage photo = makeTestPhoto(320, 240, 5, true);
    QStringList notices;
};

} // namespace

// Save As, Save over the source (with its backup) and Apply pattern in place: the same segments.
TEST_F(MetadataCarry, EverySaveCarriesEverySegment) {
    const QList<QByteArray> corpus = FullCorpus(AdobeRgbProfile());
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        const QString src = writeSource(QStringLiteral("p%1.jpg").arg(way), JpegCoding::Baseline,
                                        corpus);
        const QString newName = way == 0 ? path("as.jpg") : way == 1 ? src : QString();
        notices.clear();
        const QByteArray out = save(src, {.newName = newName});
        expectCarried(corpus, out);
        EXPECT_EQ(exifSize(out), QSize(320, 240));
        // A re-encoded picture is written alone: the MPF index is the one segment left out, and
        // the user is told of the image that is not kept.
        EXPECT_TRUE(notices.join('\n').contains("re-encoding does not keep 1 more image"))
            << notices.join('\n').toStdString();
        EXPECT_FALSE(out.contains(FurtherImage()));
        EXPECT_EQ(QFile::exists(src + ".bak"), way != 0); // an output over its source keeps it
        EXPECT_GT(darkPixels(DecodeImage(out), QRect(20, 30, 200, 60)), 200);
    }
}

// Three sizes of profile: a small one, one that nearly fills a segment, one over three chunks.
TEST_F(MetadataCarry, ProfilesOfEverySizeArriveWhole) {
    for (const int pad : {0, 60000, 150000}) {
        SCOPED_TRACE(pad);
        const QByteArray profile = AdobeRgbProfile(pad);
        const QList<QByteArray> chunks = IccSegments(profile);
        EXPECT_EQ(chunks.size(), pad > 65000 ? 3 : 1);
        const QString src = writeSource(QStringLiteral("icc%1.jpg").arg(pad), JpegCoding::Baseline,
                                        chunks);
        const QByteArray out = save(src, {.newName = path(QStringLiteral("o%1.jpg").arg(pad))});
        EXPECT_EQ(JpegSegmentsOf(out), chunks);
        if (HaveExiftool()) {
            const QByteArray icc =
                Exiftool({"-b", "-ICC_Profile", path(QStringLiteral("o%1.jpg").arg(pad))});
            EXPECT_EQ(icc, profile);
        }
    }
}

// Keep-quality writes the source's coefficients: every segment as it was, the Adobe one too.
TEST_F(MetadataCarry, KeepQualityCarriesEverySegment) {
    const QList<QByteArray> corpus = FullCorpus(AdobeRgbProfile());
    const QString src = writeSource("kq.jpg", JpegCoding::Baseline, corpus);
    const QByteArray out = save(src, {.newName = path("kq-out.jpg"), .keepQuality = true});
    expectCarried(corpus, out, {.mpfKept = true});
    EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();
    EXPECT_EQ(exifSize(out), QSize(320, 240));
    // The further image follows the picture, and the index, read by hand from the layout
    // MpfSegment writes, points at it although the EXIF and Photoshop blocks before it changed
    // size (new thumbnails).
    EXPECT_TRUE(out.endsWith(FurtherImage()));
    QByteArray mpf;
    for (const QByteArray& s : JpegSegmentsOf(out)) {
        if (s.mid(4, 4) == QByteArray("MPF\0", 4))
            mpf = s;
    }
    ASSERT_FALSE(mpf.isEmpty());
    const qsizetype mark = out.indexOf(mpf) + 8;
    const auto be32At = [&](qsizetype at) {
        return quint32(uchar(out[at])) << 24 | quint32(uchar(out[at + 1])) << 16 |
               quint32(uchar(out[at + 2])) << 8 | quint32(uchar(out[at + 3]));
    };
    EXPECT_EQ(be32At(mark + 50 + 4), quint32(out.size() - FurtherImage().size()));
    EXPECT_EQ(out.mid(mark + be32At(mark + 66 + 8), be32At(mark + 66 + 4)), FurtherImage());
    if (HaveExiftool()) {
        // exiftool gives an MPF image marked as a large thumbnail as the preview.
        EXPECT_EQ(Exiftool({"-b", "-PreviewImage", path("kq-out.jpg")}), FurtherImage());
    }
}

// Progressive, arithmetic-coded and CMYK photos are re-encoded: the segments are carried all the
// same; the Adobe segment then says YCbCr, and a CMYK profile (which cannot describe RGB pixels)
// is left out with a notice.
TEST_F(MetadataCarry, KeepQualityFallbacksCarryEverySegment) {
    const struct {
        JpegCoding coding;
        const char* reason;
    } cases[] = {{JpegCoding::Progressive, "progressive JPEG"},
                 {JpegCoding::Arithmetic, "arithmetic-coded JPEG"},
                 {JpegCoding::Cmyk, "CMYK JPEG"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        const bool cmyk = c.coding == JpegCoding::Cmyk;
        const QList<QByteArray> corpus =
            FullCorpus(cmyk ? CmykProfile() : AdobeRgbProfile(), cmyk ? 2 : 1);
        const QString src = writeSource(QStringLiteral("%1.jpg").arg(int(c.coding)), c.coding,
                                        corpus);
        notices.clear();
        const QByteArray out =
            save(src, {.newName = path(QStringLiteral("f%1.jpg").arg(int(c.coding))),
                       .keepQuality = true});
        EXPECT_TRUE(notices.join('\n').contains(QStringLiteral("%1; written by re-encoding").arg(c.reason)))
            << notices.join('\n').toStdString();
        expectCarried(corpus, out, {.adobeTransform = 1, .profileLeftOut = cmyk});
        EXPECT_EQ(notices.join('\n').contains("is not RGB"), cmyk);
        EXPECT_EQ(DecodeImage(out).size(), QSize(320, 240));
    }
}

// Fit, rotation and an upright turn: segments carried, the EXIF block gives the written size and
// says orientation 1 after the turn.
TEST_F(MetadataCarry, FitRotationAndUprightTurnCarryEverySegment) {
    const QList<QByteArray> corpus = FullCorpus(AdobeRgbProfile());
    const QString src = writeSource("fit.jpg", JpegCoding::Baseline, corpus);
    QByteArray out = save(src, {.newName = path("fitted.jpg"), .width = 160, .height = 160,
                                .fit = true});
    expectCarried(corpus, out);
    EXPECT_EQ(exifSize(out), QSize(160, 120));
    EXPECT_EQ(DecodeImage(out).size(), QSize(160, 120));

    out = save(src, {.newName = path("turned.jpg"), .angle = 90});
    expectCarried(corpus, out);
    EXPECT_EQ(exifSize(out), QSize(240, 320));

    const QList<QByteArray> sideways = FullCorpus(AdobeRgbProfile(), 1, 6);
    const QString upright = writeSource("six.jpg", JpegCoding::Baseline, sideways);
    out = save(upright, {.newName = path("upright.jpg")});
    expectCarried(sideways, out);
    EXPECT_EQ(DecodeImage(out).size(), QSize(240, 320));
    EXPECT_EQ(exifSize(out), QSize(240, 320));
    TExif exif;
    exif.LoadFromBytes(out);
    EXPECT_EQ(exif.Orientation, 1u);
    // Keep-quality does not apply to a photo it would have to turn: re-encoded, same carrying.
    out = save(upright, {.newName = path("upright-kq.jpg"), .keepQuality = true});
    expectCarried(sideways, out);
}

// What exiftool, reading on its own, finds in an output: the blocks' contents.
TEST_F(MetadataCarry, ExiftoolReadsEveryBlockOfTheOutput) {
    if (!HaveExiftool())
        GTEST_SKIP() << "exiftool not installed";
    const QString src = writeSource("x.jpg", JpegCoding::Baseline, FullCorpus(AdobeRgbProfile()));
    save(src, {.newName = path("x-out.jpg")});
    const QString table = QString::fromUtf8(Exiftool(
        {"-T", "-XMP-dc:Title", "-IPTC:Caption-Abstract", "-IPTC:Credit", "-File:Comment",
         "-ICC_Profile:ProfileDescription", "-ExifIFD:ExifImageWidth", "-IFD0:Make",
         "-JFIF:XResolution", "-APP14:ColorTransform", path("x-out.jpg")}));
    EXPECT_EQ(table.trimmed().split('\t'),
              QStringList({"Corpus title", "Corpus caption", "Corpus credit", "Corpus comment",
                           "Corpus Adobe RGB (1998)", "320", "CorpusCam", "300", "YCbCr"}));
    // The extended packet (90,000 characters over two segments) is read back whole.
    const QByteArray description =
        Exiftool({"-b", "-XMP-dc:Description", path("x-out.jpg")}).trimmed();
    EXPECT_EQ(description, ExtendedXmpText().trimmed());
}

// A grey photo with a grey profile stays grey, so that the profile still describes it.
TEST_F(MetadataCarry, GreyProfiledPhotoIsWrittenGrey) {
    const QList<QByteArray> segments = IccSegments(GrayProfile());
    const QString src = writeSource("grey.jpg", JpegCoding::Gray, segments);
    const QByteArray out = save(src, {.newName = path("grey-out.jpg")});
    EXPECT_EQ(JpegSegmentsOf(out), segments);
    // The frame header: one component.
    const qsizetype sof = out.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    EXPECT_EQ(int(out[sof + 9]), 1);
}

// PNG: its iCCP, eXIf and XMP iTXt chunks are carried, in order; the EXIF block gets the size.
TEST_F(MetadataCarry, PngKeepsProfileExifAndXmpChunks) {
    const QByteArray profile = AdobeRgbProfile();
    const QByteArray packed = qCompress(profile).mid(4); // zlib stream without Qt's length
    const QByteArray iccp = PngChunk("iCCP", QByteArray("Corpus\0\0", 8) + packed);
    const QByteArray app1 = ExifSegment({});
    const QByteArray exif = PngChunk("eXIf", app1.mid(10));
    const QByteArray xmp = PngChunk(
        "iTXt", QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + XmpSegment("Png title").mid(33));
    const QString src = path("p.png");
    WriteFileBytes(src, BuildPng(photo, {iccp, exif, xmp}));
    const QByteArray out = save(src, {.newName = path("p-out.png")});
    const QList<QByteArray> chunks = PngChunksOf(out, {"iCCP", "eXIf", "iTXt"});
    ASSERT_EQ(chunks.size(), 3);
    EXPECT_EQ(chunks[0], iccp);
    EXPECT_EQ(chunks[2], xmp);
    if (HaveExiftool()) {
        const QString table = QString::fromUtf8(
            Exiftool({"-T", "-ICC_Profile:ProfileDescription", "-XMP-dc:Title",
                      "-ExifIFD:ExifImageWidth", "-IFD0:Make", path("p-out.png")}));
        EXPECT_EQ(table.trimmed().split('\t'),
                  QStringList({"Corpus Adobe RGB (1998)", "Png title", "320", "CorpusCam"}));
    }
}

// Damaged blocks do not stop the caption: they are carried unchanged, and the user is told.
TEST_F(MetadataCarry, MalformedBlocksAreCarriedUnchangedWithANotice) {
    const QByteArray profile = AdobeRgbProfile(100000);
    QList<QByteArray> chunks = IccSegments(profile);
    ASSERT_EQ(chunks.size(), 2);
    QByteArray badHeader = profile;
    badHeader[36] = 'x'; // no "acsp"
    QByteArray shortTiff = ExifSegment({});
    // A directory offset past the end of the block: a truncated EXIF block.
    shortTiff[14] = char(0x70);
    shortTiff[15] = char(0x70);
    const QByteArray cutXmp = XmpSegment("Cut").left(120);
    const QByteArray cutXmpSegment =
        Segment(0xE1, cutXmp.mid(4)); // the packet cut in the middle, its length mended
    const struct {
        const char* what;
        QList<QByteArray> segments;
        const char* notice;
    } cases[] = {
        {"one of two profile chunks", {chunks[0]}, "1 of the 2 ICC profile chunks are missing"},
        {"bad profile header", IccSegments(badHeader), "lacks its signature"},
        {"profile shorter than its header says", IccSegments(profile.left(5000)),
         "declares"},
        {"truncated EXIF", {shortTiff}, "the EXIF block"},
        {"cut XMP", {cutXmpSegment}, "the XMP block is incomplete"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString src =
            writeSource(QStringLiteral("bad%1.jpg").arg(++n), JpegCoding::Baseline, c.segments);
        notices.clear();
        const QByteArray out = save(src, {.newName = path(QStringLiteral("bad%1-out.jpg").arg(n))});
        EXPECT_EQ(JpegSegmentsOf(out), c.segments);
        EXPECT_TRUE(notices.join('\n').contains(c.notice)) << notices.join('\n').toStdString();
        EXPECT_TRUE(notices.join('\n').contains(QDir::toNativeSeparators(src)));
        EXPECT_GT(darkPixels(DecodeImage(out), QRect(20, 30, 200, 60)), 200);
    }
}

// The read-back check: an output that lacks a block, has another size or does not decode is
// refused; a render whose output fails it writes nothing and names the file.
TEST_F(MetadataCarry, OutputThatDoesNotReadBackIsRefused) {
    const QList<QByteArray> corpus = {XmpSegment("t"), Segment(0xFE, "c")};
    const QByteArray good = BuildJpeg(EncodeBareJpeg(photo, JpegCoding::Baseline), corpus);
    EXPECT_NO_THROW(VerifyOutput(good, QSize(320, 240), corpus));
    EXPECT_THROW(VerifyOutput(good, QSize(320, 241), corpus), EInvalidGraphic);
    EXPECT_THROW(VerifyOutput(good, QSize(320, 240), {corpus[1], corpus[0]}), EInvalidGraphic);
    EXPECT_THROW(VerifyOutput(good, QSize(320, 240), {corpus[0]}), EInvalidGraphic);
    EXPECT_THROW(VerifyOutput(good.left(good.size() / 2), QSize(320, 240), corpus),
                 EInvalidGraphic);

    // A block of the surface's record that is not a well-formed segment (its length field says
    // more than it holds) would make a broken file: the save fails and the source stays.
    const QString src = writeSource("v.jpg", JpegCoding::Baseline, corpus);
    const QByteArray before = ReadFileBytes(src);
    TDesigner d;
    d.OpenImage(src, 1.0);
    caption(d, 10, 10);
    d.realMetadata.segments[1].bytes[3] = char(0x40);
    try {
        RenderAndSave(d, src, {.newName = src});
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.message().contains(QDir::toNativeSeparators(src))) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("did not read back")) << e.message().toStdString();
    }
    EXPECT_EQ(ReadFileBytes(src), before);
}

// Thumbnails outside EXIF: a JFIF header's own (stored as raw pixels) is dropped, the header
// otherwise kept; a JFIF extension thumbnail becomes a JPEG of the written picture.
TEST_F(MetadataCarry, JfifThumbnailsFollowTheOutput) {
    QByteArray jfif("JFIF\0\x01\x02\x01\x01\x2c\x01\x2c\x02\x01", 14);
    jfif.append(QByteArray(6, char(0xEE))); // 2 x 1 RGB pixels
    QByteArray jfxx("JFXX\0\x13\x01\x01", 8);
    jfxx.append(QByteArray(3, char(0x10)));
    const QString src = writeSource("jfif.jpg", JpegCoding::Baseline,
                                    {Segment(0xE0, jfif), Segment(0xE0, jfxx)});
    const QByteArray out = save(src, {.newName = path("jfif-out.jpg"), .width = 160,
                                      .height = 160, .fit = true});
    const QList<QByteArray> got = JpegSegmentsOf(out);
    ASSERT_EQ(got.size(), 2);
    QByteArray header = jfif.left(14);
    header[12] = header[13] = 0;
    EXPECT_EQ(got[0], Segment(0xE0, header));
    ASSERT_TRUE(got[1].mid(4, 6) == QByteArray("JFXX\0\x10", 6));
    const QImage thumb = QImage::fromData(got[1].mid(10), "JPEG");
    EXPECT_EQ(thumb.size(), QSize(160, 120));
    EXPECT_LT(meanChannelDifference(thumb.convertToFormat(QImage::Format_RGB32),
                                    DecodeImage(out).scaled(160, 120, Qt::IgnoreAspectRatio,
                                                            Qt::SmoothTransformation)),
              6.0);
}
