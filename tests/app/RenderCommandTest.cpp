#include "bricks/RegisterBricks.h"
#include "designer/state/TDesigner.h"
#include "designer/surface/DesignerBricks.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "patterns/file/PatternFile.h"
#include "tests/app/CliRunner.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// A pattern with one red text brick at preview (Left, Top).
QByteArray patternWithText(int left, int top, const QString& extraBrick = QString(),
                           const QString& zoom = QString()) {
    const QString body = QStringLiteral("object Text1: TText%CR%LF  Left = %1%CR%LF  Top = %2%CR%LF"
                                        "  Caption = 'RENDER'%CR%LF  Font.Color = clRed%CR%LF"
                                        "  Font.Height = -30%CR%LF  Font.Name = 'Arial'%CR%LF"
                                        "  Font.Style = [fsBold]%CR%LFend%CR%LF")
                             .arg(left)
                             .arg(top);
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"Test Project\" "
               "Created=\"by qmv\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
               "IsGrid=\"False\"%3/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
               "  <Bricks>\n    <Brick Body=\"%1\"/>\n%2  </Bricks>\n</Project>\n")
        .arg(body, extraBrick,
             zoom.isEmpty() ? QString() : QStringLiteral(" Zoom=\"%1\"").arg(zoom))
        .toUtf8();
}

class RenderCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_config.isValid() && m_files.isValid()); }

    CliRun run(const QStringList& args) { return runCli(args, m_config.path()); }
    QString path(const QString& name) const { return m_files.filePath(name); }
    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    QString writePhoto(const QString& name, quint32 seed = 3) {
        const QImage photo = makeTestPhoto(320, 240, seed, true);
        EXPECT_TRUE(photo.save(path(name)));
        return path(name);
    }

    QTemporaryDir m_config;

private:
    QTemporaryDir m_files;
};

// Pixels that differ between two images inside and outside a rectangle.
std::pair<int, int> changedPixels(const QImage& before, const QImage& after, const QRect& inside) {
    int in = 0, out = 0;
    const QImage a = before.convertToFormat(QImage::Format_RGB32);
    const QImage b = after.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                (inside.contains(x, y) ? in : out)++;
    return {in, out};
}

} // namespace

TEST_F(RenderCommand, HelpAndUsageErrors) {
    const CliRun help = run({"render", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith(QLatin1String(
        "usage: captiomark-cli render --pattern FILE.xml [--zoom R] [--output NAME] "
        "[--keep-quality] [--shift-time SHIFT] [--jobs N] IMAGE...")));
    EXPECT_TRUE(run({"--help"}).out.contains(QLatin1String("render --pattern")));

    const QString photo = writePhoto(QStringLiteral("a.bmp"));
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(10, 10));
    const std::pair<QStringList, const char*> cases[] = {
        {{"render", photo}, "missing --pattern"},
        {{"render", "--pattern", pattern}, "missing image"},
        {{"render", "--pattern"}, "--pattern needs a value"},
        {{"render", "--pattern", pattern, "--zoom", "0", photo}, "invalid zoom ratio '0'"},
        {{"render", "--pattern", pattern, "--zoom=abc", photo}, "invalid zoom ratio 'abc'"},
        {{"render", "--pattern", pattern, "--fast", photo}, "unknown option '--fast'"},
        {{"render", "--pattern", pattern, "--output", "x.bmp", photo, photo},
         "--output takes one image only"},
    };
    for (const auto& [args, message] : cases) {
        const CliRun r = run(args);
        EXPECT_EQ(r.code, 2) << message;
        EXPECT_TRUE(r.err.contains(QLatin1String(message))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String("usage: captiomark-cli render"))) << message;
    }
    // Nothing was written by a refused command line.
    EXPECT_EQ(QImage(photo),
              makeTestPhoto(320, 240, 3, true).convertToFormat(QImage(photo).format()));
}

TEST_F(RenderCommand, RenderAndBatchShareTheZoomCheck) {
    const QString photo = writePhoto(QStringLiteral("a.bmp"));
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(10, 10));
    const QByteArray original = sha256Of(photo);
    for (const char* zoom : {"0", "-1", "-0.5", "1000.001", "abc", "", "nan", "inf", "2x"}) {
        for (const char* command : {"render", "batch"}) {
            for (const QStringList& given :
                 {QStringList{"--zoom", zoom}, QStringList{QLatin1String("--zoom=") + zoom}}) {
                const CliRun r =
                    run(QStringList{command, "--pattern", pattern} + given + QStringList{photo});
                EXPECT_EQ(r.code, 2) << command << ' ' << zoom;
                EXPECT_TRUE(r.err.startsWith(QStringLiteral("captiomark-cli %1: invalid zoom "
                                                            "ratio '%2'\nusage: captiomark-cli %1")
                                                 .arg(command, zoom)))
                    << r.err.toStdString();
            }
        }
    }
    // A bad value given before a good one is still refused.
    EXPECT_EQ(run({"batch", "--pattern", pattern, "--zoom", "0", "--zoom", "2", photo}).code, 2);
    EXPECT_EQ(sha256Of(photo), original);

    // The upper bound is a valid ratio for both.
    for (const char* command : {"render", "batch"})
        EXPECT_EQ(run({command, "--pattern", pattern, "--zoom", "1000", photo}).code, 0) << command;
}

TEST_F(RenderCommand, DoubleDashEndsTheOptionsAndOneDashIsAFile) {
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(10, 10));
    const QString odd = writePhoto(QStringLiteral("--odd.bmp"));
    const QString dash = writePhoto(QStringLiteral("-x.bmp"), 4);
    const QByteArray originalOdd = sha256Of(odd), originalDash = sha256Of(dash);
    // Relative names, so that they start with dashes: run inside the files' folder.
    const CliRun r =
        runCliVia({QStringLiteral("env"), QStringLiteral("--chdir=") + QFileInfo(odd).path()},
                  {"render", "--pattern", pattern, "-x.bmp", "--", "--odd.bmp"}, m_config.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QLatin1String("-x.bmp -> -x.bmp\n--odd.bmp -> --odd.bmp\n"));
    EXPECT_EQ(sha256Of(odd + QLatin1String(".bak")), originalOdd);
    EXPECT_EQ(sha256Of(dash + QLatin1String(".bak")), originalDash);
    EXPECT_NE(sha256Of(odd), originalOdd);
    EXPECT_NE(sha256Of(dash), originalDash);
}

TEST_F(RenderCommand, RendersWithADeadDisplayInTheEnvironment) {
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    const QImage before(a);
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));
    const CliRun r = runCliWithEnv({"render", "--pattern", pattern, a}, m_config.path(),
                                   {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":99"}});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const auto [in, out] = changedPixels(before, QImage(a), QRect(20, 40, 200, 60));
    EXPECT_GT(in, 300);
    EXPECT_EQ(out, 0);
}

TEST_F(RenderCommand, BurnsThePatternIntoEveryImage) {
    const QString a = writePhoto(QStringLiteral("a.bmp"), 3);
    const QString b = writePhoto(QStringLiteral("b.bmp"), 4);
    const QImage beforeA(a), beforeB(b);
    const QByteArray originalA = sha256Of(a), originalB = sha256Of(b);
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));
    const CliRun r = run({"render", "--pattern", pattern, a, b});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(a + QLatin1String(" -> ") + a)) << r.out.toStdString();
    // In place, the originals kept as backups.
    EXPECT_EQ(sha256Of(a + QLatin1String(".bak")), originalA);
    EXPECT_EQ(sha256Of(b + QLatin1String(".bak")), originalB);
    for (const auto& [file, before] : {std::pair{a, beforeA}, std::pair{b, beforeB}}) {
        const QImage after(file);
        ASSERT_EQ(after.size(), before.size());
        // The text starts at (20, 40) and stays in the upper left part of the picture.
        const auto [in, out] = changedPixels(before, after, QRect(20, 40, 200, 60));
        EXPECT_GT(in, 300) << file.toStdString();
        EXPECT_EQ(out, 0) << file.toStdString();
        EXPECT_EQ(after.pixelColor(5, 5), before.pixelColor(5, 5));
    }
}

TEST_F(RenderCommand, ZoomScalesThePreviewPositions) {
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    const QImage before(a);
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(10, 20));
    const CliRun r = run({"render", "--pattern", pattern, "--zoom", "2", a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    // Preview (10, 20) at ratio 2 is full-size (20, 40).
    const auto [in, out] = changedPixels(before, QImage(a), QRect(20, 40, 200, 60));
    EXPECT_GT(in, 300);
    EXPECT_EQ(out, 0);
}

TEST_F(RenderCommand, ThePatternsOwnZoomPlacesItsBricksAndZoomOverridesIt) {
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    const QImage before(a);
    // Laid out at ratio 4: preview (5, 10) is full-size (20, 40).
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(5, 10, {}, "4"));
    const QString copy = path(QStringLiteral("b.bmp"));
    ASSERT_TRUE(QFile::copy(a, copy));
    CliRun r = run({"render", "--pattern", pattern, a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    auto [in, out] = changedPixels(before, QImage(a), QRect(20, 40, 200, 60));
    EXPECT_GT(in, 300);
    EXPECT_EQ(out, 0);
    // --zoom takes the positions at its own ratio: (5, 10) at 1 is (5, 10).
    r = run({"render", "--pattern", pattern, "--zoom", "1", copy});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    std::tie(in, out) = changedPixels(before, QImage(copy), QRect(5, 10, 200, 60));
    EXPECT_GT(in, 300);
    EXPECT_EQ(out, 0);
    // ... so that it starts left of where ratio 4 would put it.
    EXPECT_GT(changedPixels(before, QImage(copy), QRect(5, 10, 15, 60)).first, 0);
}

TEST_F(RenderCommand, OutputNameLeavesTheSourceAlone) {
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    const QImage before(a);
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(5, 5));
    const CliRun r = run({"render", "--pattern", pattern, "--output", "captioned.bmp", a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QImage(a), before);
    const QImage out(path(QStringLiteral("captioned.bmp")));
    ASSERT_FALSE(out.isNull());
    EXPECT_GT(changedPixels(before, out, QRect(5, 5, 200, 60)).first, 300);
}

TEST_F(RenderCommand, AnExistingBackupStays) {
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    const QString bak = writeFile(QStringLiteral("a.bmp.bak"), "the oldest original");
    const QByteArray original = sha256Of(a), oldest = sha256Of(bak);
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));
    const CliRun r = run({"render", "--pattern", pattern, "--output", a, a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_NE(sha256Of(a), original);
    EXPECT_EQ(sha256Of(bak), oldest);
}

TEST_F(RenderCommand, FailedWriteOverTheImagePutsTheOriginalBack) {
    // A file-size limit below the image's size stands for a full disk: the move to .bak works,
    // the write of the new image then fails.
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    ASSERT_EQ(run({"settings", "list"}).code, 0); // the settings file is written beforehand
    const QString folder = QFileInfo(a).path();
    const auto before = folderSha256(folder);
    for (const QStringList& output : {QStringList{"--output", a}, QStringList{}}) {
        const CliRun r = runCliVia(
            {"prlimit", "--fsize=16384", "--"},
            QStringList{"render", "--pattern", pattern} + output + QStringList{a}, m_config.path());
        EXPECT_EQ(r.code, 1) << output.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String("captiomark-cli: ") + a)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLocal8Bit(strerror(EFBIG)))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QLatin1String("Unknown error"))) << r.err.toStdString();
        EXPECT_EQ(folderSha256(folder), before) << "the original under its name, no .bak";
    }
}

TEST_F(RenderCommand, BadQualitySettingWritesNothing) {
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));
    const QString a = writePhoto(QStringLiteral("a.bmp"));
    const QString folder = QFileInfo(a).path();
    const auto before = folderSha256(folder);
    for (const char* value : {"9O", "abc", "-5"}) {
        ASSERT_EQ(run({"settings", "set", "defaultCompressionQuality", value}).code, 0);
        const CliRun r = run({"render", "--pattern", pattern, a});
        EXPECT_EQ(r.code, 1) << value;
        EXPECT_EQ(r.out, QString()) << value;
        EXPECT_TRUE(r.err.contains(QStringLiteral("Setting \"defaultCompressionQuality\": '%1'")
                                       .arg(QLatin1String(value))))
            << r.err.toStdString();
        EXPECT_EQ(folderSha256(folder), before) << value;
        // Reading the settings still works, so the value can be repaired.
        EXPECT_EQ(run({"settings", "get", "defaultCompressionQuality"}).out,
                  QLatin1String(value) + QLatin1Char('\n'));
        const CliRun list = run({"settings", "list"});
        EXPECT_EQ(list.code, 0) << value;
        EXPECT_TRUE(list.out.contains(
            QStringLiteral("defaultCompressionQuality=%1\n").arg(QLatin1String(value))));
    }
    ASSERT_EQ(run({"settings", "set", "defaultCompressionQuality", "90"}).code, 0);
    EXPECT_EQ(run({"render", "--pattern", pattern, a}).code, 0);
    EXPECT_NE(sha256Of(a), before.value(QStringLiteral("a.bmp")));
}

TEST_F(RenderCommand, FailuresNameTheFileAndTheRestGoesOn) {
    const QString good = writePhoto(QStringLiteral("good.bmp"));
    const QImage before(good);
    const QString missing = path(QStringLiteral("missing.bmp"));
    const QString notAPicture = writeFile(QStringLiteral("text.bmp"), "hello");
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));
    CliRun r = run({"render", "--pattern", pattern, missing, notAPicture, good});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("captiomark-cli: ") + missing + QLatin1String(": ")))
        << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains(QLatin1String("captiomark-cli: ") + notAPicture + QLatin1String(": ")))
        << r.err.toStdString();
    EXPECT_GT(changedPixels(before, QImage(good), QRect(20, 40, 200, 60)).first, 300);

    // A pattern that fails part-way: the message names the pattern; the image is not written.
    const QString other = writePhoto(QStringLiteral("other.bmp"));
    const QImage otherBefore(other);
    const QString bad = writeFile(
        QStringLiteral("bad.xml"),
        patternWithText(20, 40,
                        QStringLiteral("    <Brick Body=\"object X: TNoSuchBrick%CR%LFend\"/>\n")));
    r = run({"render", "--pattern", bad, other});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("pattern \"%1\": Class TNoSuchBrick not found").arg(bad)))
        << r.err.toStdString();
    EXPECT_EQ(QImage(other), otherBefore);

    const QString broken = writeFile(QStringLiteral("broken.xml"), "<Project>");
    r = run({"render", "--pattern", broken, other});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Cannot read pattern file \"%1\"").arg(broken)))
        << r.err.toStdString();
}

// A JPEG cut in half with an end marker appended: libjpeg would paint the lost half grey. The
// file is reported with libjpeg's reason and left exactly as it was.
TEST_F(RenderCommand, CorruptJpegIsReportedAndLeftAlone) {
    const QString whole = writePhoto(QStringLiteral("whole.jpg"));
    QByteArray bytes;
    {
        QFile f(whole);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        bytes = f.readAll();
    }
    const QString broken =
        writeFile(QStringLiteral("broken.jpg"), bytes.left(bytes.size() / 2) + "\xFF\xD9");
    auto sha256 = [](const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
            .toHex()
            .toStdString();
    };
    const std::string before = sha256(broken);
    const QString pattern = writeFile(QStringLiteral("p.xml"), patternWithText(20, 40));

    for (const QStringList& output : {QStringList(), QStringList{"--output", "out.jpg"}}) {
        const CliRun r =
            run(QStringList{"render", "--pattern", pattern} + output + QStringList{broken});
        EXPECT_EQ(r.code, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("captiomark-cli: %1: ").arg(broken)))
            << r.err.toStdString();
        EXPECT_TRUE(
            r.err.contains(QLatin1String("Corrupt JPEG data: premature end of data segment")))
            << r.err.toStdString();
        EXPECT_EQ(sha256(broken), before);
        EXPECT_EQ(QDir(QFileInfo(broken).path()).entryList(QDir::Files),
                  (QStringList{"broken.jpg", "p.xml", "whole.jpg"}));
    }
}

TEST_F(RenderCommand, SampleFilesRenderWithTheirExif) {
    const QString source = qEnvironmentVariable("CAPTIOMARK_SOURCE_DIR");
    ASSERT_FALSE(source.isEmpty());
    const QString photo = path(QStringLiteral("sample.jpg"));
    ASSERT_TRUE(QFile::copy(source + QLatin1String("/examples/sample-photo.jpg"), photo));
    const QImage before(photo);
    const CliRun r =
        run({"render", "--pattern", source + QLatin1String("/examples/sample-pattern.xml"),
             "--zoom", "2", "--output", "out.jpg", photo});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString out = path(QStringLiteral("out.jpg"));
    const QImage after(out);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_GT(differingPixelShare(before, after, 40), 0.005);
    const CliRun exif = run({"exif", out});
    EXPECT_TRUE(exif.out.contains(QLatin1String("Model=Synthetic Camera")))
        << exif.out.toStdString();
}

TEST_F(RenderCommand, KeepQualityLeavesThePhotoAloneAwayFromTheBricks) {
    const QString pattern = writeFile("p.xml", patternWithText(10, 10));
    const QImage photo = makeTestPhoto(320, 240, 5, true);
    ASSERT_TRUE(photo.save(path("kept.jpg"), "JPEG", 90));
    ASSERT_TRUE(photo.save(path("encoded.jpg"), "JPEG", 90));
    const QImage before(path("kept.jpg"));
    // What the design surface writes with the photo open and the pattern read.
    QByteArray expected;
    {
        RegisterBricks();
        TDesigner designer;
        designer.OpenImage(path("kept.jpg"), 1.0);
        ReadPattern(pattern, designer);
        expected = RenderImage(designer, path("kept.jpg"), {.newName = {}, .keepQuality = true});
        ClearBricks(designer);
    }
    CliRun r = run({"render", "--pattern", pattern, "--keep-quality", path("kept.jpg")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    // The command never decodes the whole photo, and writes the same bytes.
    EXPECT_TRUE(ReadFileBytes(path("kept.jpg")) == expected);
    r = run({"render", "--pattern", pattern, path("encoded.jpg")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    // The caption sits in the top rows; below them, kept pixels are the photo's own and
    // encoded ones are not.
    const QRect top(0, 0, 320, 96);
    const auto kept = changedPixels(before, QImage(path("kept.jpg")), top);
    const auto encoded = changedPixels(before, QImage(path("encoded.jpg")), top);
    EXPECT_GT(kept.first, 100);
    EXPECT_EQ(kept.second, 0);
    EXPECT_GT(encoded.second, 1000);

    // A progressive JPEG is encoded again, and the user is told.
    QImageWriter writer(path("prog.jpg"), "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(photo));
    writer.device()->close();
    const QByteArray progressive = ReadFileBytes(path("prog.jpg"));
    r = run({"render", "--pattern", pattern, "--keep-quality", path("prog.jpg")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(path("prog.jpg") + ": progressive JPEG; written by re-encoding."))
        << r.out.toStdString();

    // Several images in one call (captioned on several threads): the same bytes, and the lines
    // in the images' order.
    QStringList images;
    for (int i = 0; i < 5; ++i) {
        images << path(QStringLiteral("m%1.jpg").arg(i));
        if (i == 2)
            writeFile(QStringLiteral("m%1.jpg").arg(i), progressive);
        else
            ASSERT_TRUE(photo.save(images.last(), "JPEG", 90));
    }
    r = run(QStringList{"render", "--pattern", pattern, "--keep-quality"} + images);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    QString lines;
    for (int i = 0; i < 5; ++i) {
        if (i == 2)
            lines += images[i] + ": progressive JPEG; written by re-encoding.\n";
        lines += images[i] + " -> " + images[i] + "\n";
        if (i != 2) {
            EXPECT_TRUE(ReadFileBytes(images[i]) == expected) << i;
        }
    }
    EXPECT_EQ(r.out, lines);
}

// Many images in one call are decoded and encoded on worker threads. Whatever the number of
// workers, each file gets the bytes a save of it alone on the design surface writes, one after
// another (a photo named twice is captioned twice), and the lines come in the images' order: a
// bad file among good ones is named in its place and the others are written.
TEST_F(RenderCommand, ManyImagesOnWorkersWriteWhatSavesOneAfterAnotherWrite) {
    const QString dated = QStringLiteral(
        "    <Brick Body=\"object Text2: TText%CR%LF  Left = 10%CR%LF  Top = 150%CR%LF"
        "  Caption = 'on {Date}'%CR%LF  Font.Color = clBlue%CR%LF  Font.Height = -20%CR%LF"
        "  Font.Name = 'Arial'%CR%LFend%CR%LF\"/>\n");
    const QString pattern = writeFile("p.xml", patternWithText(20, 40, dated));
    const QStringList names{"a.jpg", "b.png", "c.jpg", "bad.jpg", "d.bmp", "e.jpg",
                            "missing.jpg", "a.jpg", "f.jpg", "g.jpg"};
    auto makeSources = [&](const QString& folder) {
        QDir().mkpath(folder);
        for (int i = 0; i < names.size(); ++i) {
            const QString file = folder + QLatin1Char('/') + names[i];
            if (names[i] == QLatin1String("bad.jpg")) {
                WriteFileBytes(file, "not a picture");
            } else if (names[i] != QLatin1String("missing.jpg") && !QFileInfo::exists(file)) {
                ASSERT_TRUE(makeTestPhoto(320 + 16 * i, 240, quint32(10 + i), i % 2 == 0)
                                .save(file, nullptr, 90));
            }
        }
    };
    auto listed = [&](const QString& folder) {
        QStringList images;
        for (const QString& name : names)
            images << folder + QLatin1Char('/') + name;
        return images;
    };

    // The reference: the design surface saving each image in turn.
    const QString reference = path("reference");
    makeSources(reference);
    QString expectedOut, expectedErr;
    {
        RegisterBricks();
        TDesigner designer;
        for (const QString& image : listed(reference)) {
            try {
                designer.OpenImage(image, 1.0);
                ClearBricks(designer);
                ReadPattern(pattern, designer);
                if (!designer.Fields.dated.hasDate)
                    expectedOut += designer.Fields.dated.notice + QLatin1Char('\n');
                RenderAndSave(designer, image,
                              {.newName = {},
                               .onNotice = [&](const QString& t) { expectedOut += t + '\n'; }});
                expectedOut += image + QStringLiteral(" -> ") + image + QLatin1Char('\n');
            } catch (const Exception& e) {
                expectedErr += QStringLiteral("captiomark-cli: ") + image + QStringLiteral(": ") +
                               e.message() + QLatin1Char('\n');
            }
        }
        ClearBricks(designer);
    }
    ASSERT_TRUE(expectedErr.contains("bad.jpg")) << expectedErr.toStdString();
    ASSERT_TRUE(expectedErr.contains("missing.jpg")) << expectedErr.toStdString();

    for (const char* jobs : {"1", "2", "5"}) {
        const QString folder = path(QStringLiteral("jobs%1").arg(jobs));
        makeSources(folder);
        const CliRun r =
            run(QStringList{"render", "--pattern", pattern, "--jobs", jobs} + listed(folder));
        EXPECT_EQ(r.code, 1) << jobs;
        QString out = expectedOut, err = expectedErr;
        out.replace(reference, folder);
        err.replace(reference, folder);
        EXPECT_EQ(r.out, out) << jobs;
        EXPECT_EQ(r.err, err) << jobs;
        for (const QString& name : QDir(reference).entryList(QDir::Files))
            EXPECT_TRUE(ReadFileBytes(folder + QLatin1Char('/') + name) ==
                        ReadFileBytes(reference + QLatin1Char('/') + name))
                << jobs << " " << name.toStdString();
        EXPECT_EQ(QDir(folder).entryList(QDir::Files), QDir(reference).entryList(QDir::Files));
    }
    const CliRun bad = run({"render", "--pattern", pattern, "--jobs", "65", path("x.jpg")});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(bad.err.contains("--jobs wants a whole number from 0 to 64, not '65'"))
        << bad.err.toStdString();
}

// With --keep-quality each image is written as soon as it and those before it are done, while
// the others are still being captioned: over more images than are captioned at a time, with
// pictures of other kinds, a bad file and a name given twice among them, each file and each line
// is what rendering the images one call at a time gives, in the images' order.
TEST_F(RenderCommand, KeepQualityWritesAsItGoesWhatOneCallPerImageWrites) {
    const QString pattern = writeFile("p.xml", patternWithText(20, 40));
    const QStringList names{"a.jpg", "b.jpg", "c.png", "d.jpg", "bad.jpg", "e.jpg", "a.jpg",
                            "f.jpg", "g.jpg", "h.jpg", "i.jpg", "j.bmp", "k.jpg"};
    const auto makeSources = [&](const QString& folder) {
        QDir().mkpath(folder);
        for (int i = 0; i < names.size(); ++i) {
            const QString file = folder + QLatin1Char('/') + names[i];
            if (names[i] == QLatin1String("bad.jpg")) {
                WriteFileBytes(file, "not a picture");
            } else if (!QFileInfo::exists(file)) {
                ASSERT_TRUE(makeTestPhoto(160 + 16 * i, 120, quint32(30 + i)).save(file, nullptr, 90));
            }
        }
    };
    const QString alone = path("alone"), together = path("together");
    makeSources(alone);
    makeSources(together);
    QString expectedOut, expectedErr;
    for (const QString& name : names) {
        const CliRun r = run({"render", "--pattern", pattern, "--keep-quality",
                              alone + QLatin1Char('/') + name});
        expectedOut += r.out;
        expectedErr += r.err;
    }
    ASSERT_TRUE(expectedErr.contains("bad.jpg")) << expectedErr.toStdString();
    QStringList images;
    for (const QString& name : names)
        images << together + QLatin1Char('/') + name;
    const CliRun r =
        run(QStringList{"render", "--pattern", pattern, "--keep-quality", "--jobs", "2"} + images);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, QString(expectedOut).replace(alone, together));
    EXPECT_EQ(r.err, QString(expectedErr).replace(alone, together));
    EXPECT_EQ(QDir(together).entryList(QDir::Files), QDir(alone).entryList(QDir::Files));
    for (const QString& name : QDir(alone).entryList(QDir::Files))
        EXPECT_TRUE(ReadFileBytes(together + QLatin1Char('/') + name) ==
                    ReadFileBytes(alone + QLatin1Char('/') + name))
            << name.toStdString();
}
