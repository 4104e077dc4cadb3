// One anchored pattern on photos of every shape, through the command line: the caption keeps
// its place at the corner and its size, both in parts of the upright output's shorter side.
#include "imaging/core/ImageCodecs.h"
#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A black caption anchored bottom-right, 40 per mille in from both edges, its line 80 per mille
// of the shorter side high. Left and Top are a place it would have without its anchor, far from
// the corner, so that a reader ignoring the anchor shows plainly.
const QString kBody = QStringLiteral(
    "object Text1: TText%CR%LF  Left = 10%CR%LF  Top = 10%CR%LF  Caption = 'HXH'%CR%LF"
    "  Font.Color = clBlack%CR%LF  Font.Height = -20%CR%LF  Font.Name = 'Arial'%CR%LF"
    "  Font.Style = [fsBold]%CR%LF  Anchor = baBottomRight%CR%LF  MarginX = 40.0%CR%LF"
    "  MarginY = 40.0%CR%LF  RelativeSize = 80.0%CR%LFend%CR%LF");

QByteArray pattern() { return patternFileWith(kBody); }

// A plain light photo: every dark pixel of the output is the caption's.
QImage lightPhoto(QSize size) { return solidImage(size, qRgb(235, 230, 220)); }

QRect inkOf(const QImage& image) { return darkInkBox(image, 90); }

// The ink's gaps to the right and bottom edges and its height, per mille of the shorter side.
struct Relative {
    double right, bottom, height;
};

Relative relativeInk(const QImage& image) {
    const QRect ink = inkOf(image);
    EXPECT_FALSE(ink.isEmpty());
    const double s = std::min(image.width(), image.height()) / 1000.0;
    return {(image.width() - 1 - ink.right()) / s, (image.height() - 1 - ink.bottom()) / s,
            ink.height() / s};
}

class AnchoredPatternCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid() && files.isValid());
        patternFile = write("pattern.xml", pattern());
    }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    QString jpeg(const QString& name, QSize size, int orientation = 1) {
        QByteArray bytes = EncodeJpeg(lightPhoto(size), 95);
        if (orientation != 1)
            bytes =
                withExifBlock(bytes, {{{0x0132, "2004:01:02 03:04:05"}}, {}, quint16(orientation)});
        return write(name, bytes);
    }
    CliRun cli(const QStringList& args) { return runCli(args, config.path()); }

    QTemporaryDir config;
    QTemporaryDir files;
    QString patternFile;
};

// What a caption 80 per mille high at 40 per mille from the corner leaves, worked out by hand:
// the ink of "HXH" in bold capitals sits inside the line box, a few per mille in from its right
// edge (side bearing) and above its bottom edge by the descent (about a fifth of the line); its
// height is the cap height, about 0.7 of a line of this font.
void expectNearCorner(const Relative& r, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_GE(r.right, 38.0);
    EXPECT_LE(r.right, 40.0 + 0.1 * 80);
    EXPECT_GE(r.bottom, 40.0 + 0.1 * 80);
    EXPECT_LE(r.bottom, 40.0 + 0.35 * 80);
    EXPECT_GE(r.height, 0.55 * 80);
    EXPECT_LE(r.height, 0.85 * 80);
}

TEST_F(AnchoredPatternCli, RenderAndBatchPlaceTheCaptionAlikeOnEveryShape) {
    struct Case {
        const char* name;
        QSize stored;
        int orientation;
        QSize upright;
    };
    const QList<Case> cases = {
        {"landscape.jpg", {1200, 800}, 1, {1200, 800}},
        {"portrait.jpg", {600, 900}, 1, {600, 900}},
        {"square.jpg", {700, 700}, 1, {700, 700}},
        {"small.jpg", {320, 240}, 1, {320, 240}},
        // Stored lying on its side: the anchor is to the upright photo's corner.
        {"turned.jpg", {900, 600}, 6, {600, 900}},
    };
    QList<Relative> rendered;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString photo = jpeg(c.name, c.stored, c.orientation);
        const QString copy = jpeg(QStringLiteral("b-") + c.name, c.stored, c.orientation);
        const CliRun r = cli({"render", "--pattern", patternFile, photo});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QImage out = ReadImageFile(photo);
        ASSERT_EQ(out.size(), c.upright);
        rendered.append(relativeInk(out));
        expectNearCorner(rendered.last(), "render");

        // The batch writes the same caption in the same place.
        const CliRun b = cli({"batch", "--pattern", patternFile, copy});
        ASSERT_EQ(b.code, 0) << b.err.toStdString();
        const QImage batched = ReadImageFile(copy);
        ASSERT_EQ(batched.size(), c.upright);
        const Relative rb = relativeInk(batched);
        EXPECT_NEAR(rb.right, rendered.last().right, 1e-9);
        EXPECT_NEAR(rb.bottom, rendered.last().bottom, 1e-9);
        EXPECT_NEAR(rb.height, rendered.last().height, 1e-9);
    }
    // The same relative place and size on every shape, within a pixel or two of the smallest.
    for (int i = 1; i < rendered.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const double tolerance = 2.5 * 1000.0 / 240;
        EXPECT_NEAR(rendered[i].right, rendered[0].right, tolerance);
        EXPECT_NEAR(rendered[i].bottom, rendered[0].bottom, tolerance);
        EXPECT_NEAR(rendered[i].height, rendered[0].height, tolerance);
    }
}

TEST_F(AnchoredPatternCli, FittedAndTurnedOutputsKeepTheCaptionAtTheirOwnCorner) {
    // Fitted into 600 x 600 a 1200 x 800 photo comes out 600 x 400: the caption is placed on
    // the output, not shrunk with the photo from the source's place.
    const QString fitted = jpeg("fit.jpg", {1200, 800});
    CliRun r = cli({"batch", "--pattern", patternFile, "--fit", "600x600", fitted});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QImage out = ReadImageFile(fitted);
    ASSERT_EQ(out.size(), QSize(600, 400));
    expectNearCorner(relativeInk(out), "fitted");

    // Turned a quarter by the batch, the landscape becomes a portrait with the caption at its
    // bottom-right.
    const QString turned = jpeg("rot.jpg", {1200, 800});
    r = cli({"batch", "--pattern", patternFile, "--rotate", "90", turned});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    out = ReadImageFile(turned);
    ASSERT_EQ(out.size(), QSize(800, 1200));
    expectNearCorner(relativeInk(out), "rotated");
}

TEST_F(AnchoredPatternCli, BatchWritesIntoAnOutputFolderAndLeavesTheSourcesAlone) {
    const QString a = jpeg("a.jpg", {320, 240});
    const QString b = jpeg("b.jpg", {240, 320});
    const QMap<QString, QByteArray> before = folderSha256(files.path());
    const QString out = files.filePath(QStringLiteral("out/deeper"));
    // Without a pattern, fit or rotation the photos are copied byte for byte under new names.
    CliRun r = cli({"batch", "--output-dir", out, a, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(folderSha256(files.path()), before) << "the sources are untouched";
    EXPECT_EQ(sha256Of(out + "/a.jpg"), sha256Of(a));
    EXPECT_EQ(sha256Of(out + "/b.jpg"), sha256Of(b));
    // Written again there, an output would be overwritten: refused, nothing written.
    r = cli({"batch", "--pattern", patternFile, "--output-dir", out, a});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("already exists")) << r.err.toStdString();
    EXPECT_EQ(sha256Of(out + "/a.jpg"), sha256Of(a));
    // Renamed from the template, with the pattern burnt in, into a fresh folder.
    const QString other = files.filePath(QStringLiteral("other"));
    r = cli({"batch", "--pattern", patternFile, "--rename", "14", "--text", "x-", "--output-dir",
             other, a, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(folderSha256(files.path()), before);
    EXPECT_EQ(QDir(other).entryList(QDir::Files), (QStringList{"x-1.jpg", "x-2.jpg"}));
    expectNearCorner(relativeInk(ReadImageFile(other + "/x-2.jpg")), "portrait in the folder");
    // A file where the folder should be stops the job before anything is written.
    write("plain", "not a folder");
    r = cli({"batch", "--output-dir", files.filePath("plain"), a});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("is a file")) << r.err.toStdString();
}

} // namespace
