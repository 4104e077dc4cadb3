// `render` and `batch` carry every metadata block into what they write, and the EXIF block
// describes the written picture: its size, and a thumbnail of it (captions included, turned and
// fitted as it is), as exiftool reads them on its own.

#include "imaging/core/ImageCodecs.h"
#include "tests/app/CliRunner.h"
#include "tests/support/MetadataCorpus.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A big black caption at (10, 10), zoom 1.
QByteArray captionPattern() {
    const QString body = QStringLiteral(
        "object Text1: TText%CR%LF  Left = 10%CR%LF  Top = 10%CR%LF"
        "  Caption = 'HIDDEN'%CR%LF  Font.Color = clBlack%CR%LF"
        "  Font.Height = -70%CR%LF  Font.Name = 'Arial'%CR%LF"
        "  Font.Style = [fsBold]%CR%LFend%CR%LF");
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"P\" Created=\"t\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" "
               "GridY=\"4\" IsGrid=\"False\"/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
               "  <Bricks>\n    <Brick Body=\"%1\"/>\n  </Bricks>\n</Project>\n")
        .arg(body)
        .toUtf8();
}

QImage fromJpeg(const QByteArray& bytes) {
    return QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB32);
}

// The caption's ink in the thumbnail: the thumbnail is darker than the uncaptioned photo reduced
// where the caption lies.
double captionDarkening(const QImage& thumb, const QImage& uncaptioned, const QRect& area) {
    double d = 0;
    int n = 0;
    const QImage a = thumb.convertToFormat(QImage::Format_RGB32);
    const QImage b = uncaptioned.scaled(thumb.size(), Qt::IgnoreAspectRatio,
                                        Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_RGB32);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x, ++n)
            d += qGray(b.pixel(x, y)) - qGray(a.pixel(x, y));
    return n ? d / n : 0;
}

class MetadataCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid() && files.isValid());
        pattern = path("p.xml");
        WriteFileBytes(pattern, captionPattern());
    }
    QString path(const QString& name) const { return files.filePath(name); }
    QString source(const QString& name, const QList<QByteArray>& segments,
                   JpegCoding coding = JpegCoding::Baseline) {
        WriteFileBytes(path(name), BuildJpeg(EncodeBareJpeg(photo, coding), segments));
        return path(name);
    }
    CliRun run(const QStringList& args) {
        const CliRun r = runCli(args, config.path());
        EXPECT_EQ(r.code, 0) << r.err.toStdString();
        return r;
    }
    void expectCarried(const QList<QByteArray>& corpus, const QString& file,
                       const CarryExpectation& e = {}) {
        const QString mismatch = CarriedMismatch(corpus, ReadFileBytes(file), e);
        EXPECT_TRUE(mismatch.isEmpty()) << file.toStdString() << ": " << mismatch.toStdString();
    }
    // The thumbnails exiftool finds (EXIF IFD1 and Photoshop's) against the written picture:
    // same aspect, at most 160 on a side, near the output reduced, and darker than the photo
    // reduced without its caption where the caption lies (near the top left).
    void expectThumbnailsOf(const QString& file, const QImage& uncaptioned) {
        const QImage output = ReadImageFile(file);
        for (const char* tag : {"-ThumbnailImage", "-PhotoshopThumbnail"}) {
            SCOPED_TRACE(tag);
            const QImage thumb = fromJpeg(Exiftool({"-b", tag, file}));
            ASSERT_FALSE(thumb.isNull());
            EXPECT_EQ(std::max(thumb.width(), thumb.height()), 160);
            EXPECT_NEAR(double(thumb.width()) / thumb.height(),
                        double(output.width()) / output.height(), 0.02);
            const QImage reduced =
                output.scaled(thumb.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_RGB32);
            EXPECT_LT(meanChannelDifference(thumb, reduced), 6.0);
            const QRect caption(thumb.width() / 10, thumb.height() * 8 / 100,
                                thumb.width() / 2, thumb.height() * 14 / 100);
            EXPECT_GT(captionDarkening(thumb, uncaptioned, caption), 15.0);
        }
    }
    QSize exifImageSize(const QString& file) {
        const QStringList v = QString::fromUtf8(Exiftool({"-T", "-n", "-ExifIFD:ExifImageWidth",
                                                          "-ExifIFD:ExifImageHeight", file}))
                                  .trimmed()
                                  .split('\t');
        return v.size() == 2 ? QSize(v[0].toInt(), v[1].toInt()) : QSize();
    }

    QTemporaryDir config, files;
    QString pattern;
    const QImage photo = makeTestPhoto(320, 240, 4, true);
};

} // namespace

// render (to another name, in place, with --keep-quality) and batch (plain, fitted, rotated,
// keep-quality, on two workers): the same segments in every output.
TEST_F(MetadataCli, EveryCommandCarriesEverySegment) {
    const QList<QByteArray> corpus = FullCorpus(AdobeRgbProfile());
    const QString a = source("a.jpg", corpus);
    run({"render", "--pattern", pattern, "--output", path("a-out.jpg"), a});
    expectCarried(corpus, path("a-out.jpg"));
    run({"render", "--pattern", pattern, "--keep-quality", "--output", path("a-kq.jpg"), a});
    expectCarried(corpus, path("a-kq.jpg"), {.mpfKept = true});
    const QString inPlace = source("in-place.jpg", corpus);
    run({"render", "--pattern", pattern, inPlace});
    expectCarried(corpus, inPlace);
    EXPECT_TRUE(QFile::exists(inPlace + ".bak"));

    const QString b = source("b.jpg", corpus), c = source("c.jpg", corpus);
    const QString p = source("p.jpg", corpus, JpegCoding::Progressive);
    run({"batch", "--pattern", pattern, "--rename", "15", "--text", "plain-", "--jobs", "2", b, c});
    expectCarried(corpus, path("plain-b.jpg"));
    expectCarried(corpus, path("plain-c.jpg"));
    run({"batch", "--pattern", pattern, "--fit", "200x200", "--rename", "15", "--text", "fit-", b});
    expectCarried(corpus, path("fit-b.jpg"));
    EXPECT_EQ(ReadImageFile(path("fit-b.jpg")).size(), QSize(200, 150));
    run({"batch", "--pattern", pattern, "--rotate", "90", "--rename", "15", "--text", "rot-", b});
    expectCarried(corpus, path("rot-b.jpg"));
    const CliRun kq = run({"batch", "--pattern", pattern, "--keep-quality", "--rename", "15",
                           "--text", "kq-", b, p});
    expectCarried(corpus, path("kq-b.jpg"), {.mpfKept = true});
    expectCarried(corpus, path("kq-p.jpg"), {.adobeTransform = 1});
    EXPECT_TRUE(kq.out.contains("progressive JPEG; written by re-encoding")) << kq.out.toStdString();
    EXPECT_TRUE(kq.out.contains("p.jpg: re-encoding does not keep 1 more image"))
        << kq.out.toStdString();
    EXPECT_FALSE(kq.out.contains("b.jpg: re-encoding")) << kq.out.toStdString();
}

// After a fit, a quarter turn and an upright turn, the EXIF block gives the written size, and its
// thumbnail (and Photoshop's) is the written picture reduced: turned like it, with the caption.
TEST_F(MetadataCli, ExifSizeAndThumbnailFollowTheOutput) {
    if (!HaveExiftool())
        GTEST_SKIP() << "exiftool not installed";
    const QString a = source("a.jpg", FullCorpus(AdobeRgbProfile()));
    run({"batch", "--pattern", pattern, "--fit", "240x240", "--rename", "15", "--text", "fit-", a});
    EXPECT_EQ(exifImageSize(path("fit-a.jpg")), QSize(240, 180));
    expectThumbnailsOf(path("fit-a.jpg"), photo);
    const QImage turned = photo.transformed(QTransform().rotate(90));

    run({"batch", "--pattern", pattern, "--rotate", "90", "--rename", "15", "--text", "rot-", a});
    EXPECT_EQ(exifImageSize(path("rot-a.jpg")), QSize(240, 320));
    expectThumbnailsOf(path("rot-a.jpg"), turned);

    const QString six = source("six.jpg", FullCorpus(AdobeRgbProfile(), 1, 6));
    run({"render", "--pattern", pattern, "--output", path("upright.jpg"), six});
    EXPECT_EQ(exifImageSize(path("upright.jpg")), QSize(240, 320));
    EXPECT_EQ(Exiftool({"-s3", "-n", "-IFD0:Orientation", path("upright.jpg")}).trimmed(), "1");
    expectThumbnailsOf(path("upright.jpg"), turned);

    // Keep-quality: the thumbnail is made from the written picture as well.
    run({"render", "--pattern", pattern, "--keep-quality", "--output", path("kq.jpg"), a});
    expectThumbnailsOf(path("kq.jpg"), photo);
}

// The camera samples: after a caption, exiftool reads every tag of the source back from the output
// with the same value (maker notes included, binary values byte for byte), except what must
// change: the size, the thumbnail, the orientation of a photo turned upright, where a preview
// inside the maker notes now lies, and the MPF images, which are not kept.
TEST_F(MetadataCli, CameraFilesKeepEveryTag) {
    const QString samples = sharedTestDataDir() + "/exif";
    if (sharedTestDataDir().isEmpty() || !QDir(samples).exists())
        GTEST_SKIP() << "camera sample folder (testdata/exif) not present";
    if (!HaveExiftool())
        GTEST_SKIP() << "exiftool not installed";
    const QStringList changing = {"ExifImageWidth", "ExifImageHeight", "ThumbnailImage",
                                  "ThumbnailOffset", "ThumbnailLength", "Orientation",
                                  "PreviewImageStart"};
    const auto tags = [](const QString& file) {
        return QJsonDocument::fromJson(Exiftool({"-j", "-G1", "-n", "-b", "-a", file}))
            .array()
            .at(0)
            .toObject();
    };
    int files = 0;
    for (const QFileInfo& f : QDir(samples).entryInfoList({"*.jpg", "*.JPG"}, QDir::Files)) {
        SCOPED_TRACE(f.fileName().toStdString());
        const QString out = path("out-" + f.completeBaseName() + ".jpg");
        run({"render", "--pattern", pattern, "--output", out, f.filePath()});
        const QJsonObject before = tags(f.filePath()), after = tags(out);
        for (auto it = before.begin(); it != before.end(); ++it) {
            const QString group = it.key().section(':', 0, 0), tag = it.key().section(':', 1);
            if (tag.isEmpty() || changing.contains(tag) ||
                QStringList({"System", "File", "Composite", "ExifTool"}).contains(group) ||
                group.startsWith("MPF") || group.startsWith("MPImage"))
                continue;
            EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString();
        }
        ++files;
    }
    EXPECT_GT(files, 20);
}
