#include "bricks/TText.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/file/PatternFile.h"
#include "tests/app/CliRunner.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class BatchCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(config.isValid() && files.isValid()); }

    CliRun cli(const QStringList& args) { return runCli(args, config.path()); }
    CliRun batch(QStringList args) {
        args.prepend(QStringLiteral("batch"));
        return cli(args);
    }
    QString photo(const QString& name, const QByteArray& date = "2006:05:02 14:05:09") {
        const QString path = files.filePath(name);
        EXPECT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(40, 30, 9), date)));
        return path;
    }
    QString path(const QString& name) const { return files.filePath(name); }
    static QSize sizeOf(const QString& file) { return ReadImageFile(file).size(); }

    QTemporaryDir config;
    QTemporaryDir files;
};

TEST_F(BatchCommandTest, HelpAndUsageErrors) {
    CliRun r = batch({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("usage: captiomark-cli batch [--pattern FILE.xml]"));
    EXPECT_TRUE(cli({"--help"}).out.contains("batch"));

    const QString a = photo("a.jpg");
    for (const QStringList& args :
         {QStringList{}, QStringList{"--fit", "800", a}, QStringList{"--fit", "-1x5", a},
          QStringList{"--fit", "20000x5", a}, QStringList{"--rotate", "400", a},
          QStringList{"--rotate", "ninety", a}, QStringList{"--rename", "66", a},
          QStringList{"--rename", "16", a}, QStringList{"--zoom", "0", a},
          QStringList{"--bogus", a}, QStringList{a, "--rotate"}}) {
        r = batch(args);
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("usage: captiomark-cli batch")) << r.err.toStdString();
    }
    EXPECT_EQ(sizeOf(a), QSize(40, 30));
}

TEST_F(BatchCommandTest, RotateAndRenameLikeProcess) {
    const QString a = photo("a.jpg"), b = photo("b.jpg");
    const CliRun r = batch({"--rotate", "90", "--rename", "54", a, b});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Operation complete!\n");
    // Not a terminal: no progress bar.
    EXPECT_FALSE(r.err.contains('\r'));
    EXPECT_EQ(sizeOf(path("a1.jpg")), QSize(30, 40));
    EXPECT_EQ(sizeOf(path("b2.jpg")), QSize(30, 40));
    // The template is stored as the window stores it.
    EXPECT_EQ(cli({"settings", "get", "defaultRenameTmp"}).out, "54\n");
}

TEST_F(BatchCommandTest, TemplateAndFormatsFromSettingsWhenRenameGiven) {
    ASSERT_EQ(cli({"settings", "set", "defaultDateFormatFile", "yyyy-MM-dd"}).code, 0);
    ASSERT_EQ(cli({"settings", "set", "defaultTimeFormatFile", "2"}).code, 0);
    const QString a = photo("IMG_0001.JPG");
    CliRun r = batch({"--rename", "23", a});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("2006-05-02 14-05.JPG")));
    // Without --rename the names stay whatever the stored template.
    r = batch({"--rotate", "180", path("2006-05-02 14-05.JPG")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    // Written over its source, whose extension keeps its case.
    EXPECT_EQ(sizeOf(path("2006-05-02 14-05.JPG")), QSize(40, 30));
    EXPECT_FALSE(QFile::exists(path("2006-05-02 14-05.jpg")));
}

TEST_F(BatchCommandTest, CustomTextToken) {
    const QString a = photo("a.jpg");
    const CliRun r = batch({"--rename", "14", "--text", "Trip:", a});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("Trip1.jpg")));
}

TEST_F(BatchCommandTest, FitProportionalAndStretched) {
    const QString a = photo("a.jpg");
    EXPECT_EQ(batch({"--fit", "20x20", a}).code, 0);
    EXPECT_EQ(sizeOf(a), QSize(20, 15));
    EXPECT_EQ(batch({"--fit=7x9", "--no-proportional", a}).code, 0);
    EXPECT_EQ(sizeOf(a), QSize(7, 9));
}

TEST_F(BatchCommandTest, FitWithoutWidthIsTheJobsMessage) {
    const QString a = photo("a.jpg");
    const CliRun r = batch({"--fit", "0x20", a});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "Please, enter Width.\n");
    EXPECT_EQ(sizeOf(a), QSize(40, 30));
}

TEST_F(BatchCommandTest, FailingFileStopsWithExitOne) {
    const QString a = photo("a.jpg");
    const QString broken = path("b.jpg");
    ASSERT_TRUE(WriteBytes(broken, "not a picture"));
    const QString c = photo("c.jpg");
    const CliRun r = batch({"--rotate", "90", a, broken, c});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(r.out.contains("Operation complete!"));
    EXPECT_TRUE(r.err.startsWith("captiomark-cli: ")) << r.err.toStdString();
    EXPECT_EQ(sizeOf(a), QSize(30, 40));
    EXPECT_EQ(sizeOf(c), QSize(40, 30));
}

TEST_F(BatchCommandTest, FileWithoutExifIsReportedAndProcessed) {
    const QString bmp = path("plain.bmp");
    ASSERT_TRUE(makeTestPhoto(40, 30).save(bmp));
    const CliRun r = batch({"--rotate", "-90", bmp, files.path()});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "plain.bmp doesn't have an EXIF information.\nOperation complete!\n");
    EXPECT_EQ(sizeOf(bmp), QSize(30, 40));
}

TEST_F(BatchCommandTest, PatternIsBurntIntoEveryFile) {
    const QString patternFile = path("pattern.xml");
    {
        TDesigner designer;
        designer.ZoomRatio = 1.0;
        auto* text = new TText(designer.Panel1);
        designer.AddComponent(text);
        text->setCaption(QStringLiteral("WWWW"));
        text->SetBounds(0, 0, text->Width(), text->Height());
        WritePattern(patternFile, designer);
    }
    const QString a = photo("a.jpg"), b = photo("b.jpg");
    const QImage before = ReadImageFile(a);
    const CliRun r = batch({"--pattern", patternFile, "--zoom", "0.5", a, b});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    for (const QString& f : {a, b})
        EXPECT_GT(differingPixelShare(ReadImageFile(f), before, 40), 0.05) << f.toStdString();

    EXPECT_EQ(batch({"--pattern", path("missing.xml"), a}).code, 1);
}

} // namespace
