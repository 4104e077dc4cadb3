#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "bricks/TTextTime.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/file/PatternFile.h"
#include "tests/app/CliRunner.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
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
          QStringList{"--bogus", a}, QStringList{a, "--rotate"}, QStringList{"--jobs", "-1", a},
          QStringList{"--jobs", "two", a}, QStringList{"--keep-quality=1", a}}) {
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

TEST_F(BatchCommandTest, FitWithoutWidthIsTheJobsMessageOnStderr) {
    const QString a = photo("a.jpg");
    const QByteArray before = sha256Of(a);
    const CliRun r = batch({"--fit", "0x20", a});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "captiomark-cli: Please, enter Width.\n");
    EXPECT_EQ(sha256Of(a), before);
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
    EXPECT_TRUE(r.err.contains(broken)) << r.err.toStdString();
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

TEST_F(BatchCommandTest, ShiftedClockMatchesAPhotoThatRecordedTheShiftedTime) {
    const QString patternFile = path("dates.xml");
    {
        TDesigner designer;
        designer.ZoomRatio = 1.0;
        auto* date = new TTextDate(designer.Panel1);
        designer.AddComponent(date);
        date->SetBounds(0, 0, date->Width(), date->Height());
        auto* time = new TTextTime(designer.Panel1);
        designer.AddComponent(time);
        time->SetBounds(0, 60, time->Width(), time->Height());
        WritePattern(patternFile, designer);
    }
    ASSERT_EQ(cli({"settings", "set", "defaultDateFormat", "d MMM yyyy"}).code, 0);
    // Late on New Year's Eve by a clock one hour slow, and the same moment recorded right.
    const QString slow = path("slow.jpg");
    ASSERT_TRUE(WriteBytes(slow, JpegWithExif(makeTestPhoto(320, 120, 9), "2026:12:31 23:30:00")));
    ASSERT_TRUE(QDir(files.path()).mkdir("right"));
    const QString right = path("right/right.jpg");
    ASSERT_TRUE(WriteBytes(right, JpegWithExif(makeTestPhoto(320, 120, 9), "2027:01:01 00:30:00")));

    CliRun r = batch({"--pattern", patternFile, "--rename", "23", "--shift-time", "+01:00:00", slow});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = batch({"--pattern", patternFile, "--rename", "23", right});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    const QString shifted = path("2027-01-01 00-30-00.jpg");
    const QString recorded = path("right/2027-01-01 00-30-00.jpg");
    ASSERT_TRUE(QFile::exists(shifted));
    ASSERT_TRUE(QFile::exists(recorded));
    QString why;
    EXPECT_TRUE(fuzzyImageCompare(ReadImageFile(shifted), ReadImageFile(recorded), 0, &why))
        << why.toStdString();
    EXPECT_GT(differingPixelShare(ReadImageFile(shifted), makeTestPhoto(320, 120, 9), 60), 0.02);
    // The written photo keeps the time its camera recorded.
    EXPECT_EQ(cli({"date", shifted}).out, "2026-12-31 23:30:00\n");

    EXPECT_EQ(batch({"--shift-time", "+25:00", slow}).code, 2);
}

// A photo whose tags exiftool writes; empty when exiftool is missing.
QString taggedPhoto(const QString& path, const QStringList& tags) {
    if (QStandardPaths::findExecutable("exiftool").isEmpty())
        return QString();
    EXPECT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(360, 80, 4), "2026:03:29 18:42:07")));
    QProcess p;
    p.start("exiftool", QStringList{"-q", "-overwrite_original"} + tags + QStringList{path});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return path;
}

QString textPattern(const QString& file, const QString& caption) {
    TDesigner designer;
    designer.ZoomRatio = 1.0;
    auto* text = new TText(designer.Panel1);
    designer.AddComponent(text);
    text->setCaption(caption);
    text->SetBounds(2, 2, text->Width(), text->Height());
    WritePattern(file, designer);
    return file;
}

TEST_F(BatchCommandTest, FieldsDrawEachPhotosValuesAsTheLiteralTextWould) {
    const QStringList common{"-FNumber=2.8", "-ExposureTime=1/250", "-ISO=200"};
    const QString a = taggedPhoto(path("a.jpg"), common + QStringList{"-Model=Cam A"});
    if (a.isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString b = taggedPhoto(path("b.jpg"), common + QStringList{"-Model=Cam B"});
    ASSERT_TRUE(QDir(files.path()).mkdir("expected"));
    const QString ea = path("expected/a.jpg"), eb = path("expected/b.jpg");
    ASSERT_TRUE(QFile::copy(a, ea));
    ASSERT_TRUE(QFile::copy(b, eb));

    const QString fields = textPattern(path("fields.xml"), "{Model} {FNumber} {Exposure} {ISO} {Lens}");
    CliRun r = batch({"--pattern", fields, a, b});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    // Neither photo names its lens: both are listed.
    EXPECT_TRUE(r.out.contains("Photos without a field the pattern uses: a.jpg ({Lens}); "
                               "b.jpg ({Lens}).\n"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.endsWith("Operation complete!\n"));
    r = batch({"--pattern", textPattern(path("literal-a.xml"), "Cam A f/2.8 1/250 s ISO 200 "), ea});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = batch({"--pattern", textPattern(path("literal-b.xml"), "Cam B f/2.8 1/250 s ISO 200 "), eb});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    for (const auto& [got, want] : {std::pair{a, ea}, std::pair{b, eb}}) {
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(ReadImageFile(got), ReadImageFile(want), 0, &why))
            << got.toStdString() << ": " << why.toStdString();
    }
    // The two cameras' captions differ where the model is written.
    EXPECT_GT(differingPixelShare(ReadImageFile(a), ReadImageFile(b), 40), 0.0);
}

// A pattern of a bubble and a text, each caption as given.
QString bubblePattern(const QString& file, const QString& bubble, const QString& text) {
    const QString xml =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"t\">\n"
            "<Inspector Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" ColWidth=\"1\" "
            "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
            "<Designer Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\" GridX=\"4\" "
            "GridY=\"4\" IsGrid=\"False\"/>\n"
            "<Manager Left=\"0\" Top=\"0\" Width=\"1\" Height=\"1\"/>\n<Bricks>\n"
            "<Brick Body=\"object TextBubble1: TTextBubble%CR%LF  Left = 10%CR%LF  Top = 2"
            "%CR%LF  Width = 150%CR%LF  Height = 40%CR%LF  Caption = '%1'%CR%LF"
            "  Font.Height = -18%CR%LF  Font.Color = clBlack%CR%LF  FromX = 20%CR%LF"
            "  FromY = 70%CR%LFend\"/>\n"
            "<Brick Body=\"object Text1: TText%CR%LF  Left = 240%CR%LF  Top = 40"
            "%CR%LF  Caption = '%2'%CR%LF  Font.Height = -20%CR%LFend\"/>\n"
            "</Bricks>\n</Project>\n")
            .arg(bubble, text);
    EXPECT_TRUE(WriteBytes(file, xml.toUtf8()));
    return file;
}

// What exiftool reads of a tag, as printed alone.
QString exiftoolValue(const QString& file, const char* tag) {
    QProcess p;
    p.start("exiftool", {"-s3", QStringLiteral("-") + QLatin1String(tag), file});
    EXPECT_TRUE(p.waitForFinished(30000));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Into another folder, bubbles and texts show each photo's own values and running number.
TEST_F(BatchCommandTest, BubbleFieldsShowEachPhotosValuesInAnOutputFolder) {
    const QString a = taggedPhoto(path("a.jpg"), {"-Model=Alpha 1"});
    if (a.isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString b = taggedPhoto(path("b.jpg"), {"-Model=Beta Two Long"});
    const QByteArray sa = sha256Of(a), sb = sha256Of(b);
    const QString fields =
        bubblePattern(path("fields.xml"), "{Model}", "#{Counter} {FileName}");
    CliRun r = batch({"--pattern", fields, "--output-dir", path("out"), a, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(sha256Of(a), sa);
    EXPECT_EQ(sha256Of(b), sb);
    ASSERT_TRUE(QFile::exists(path("out/a.jpg")) && QFile::exists(path("out/b.jpg")));

    // The same photos with the values written out, one at a time (each its own counter).
    int counter = 0;
    for (const QString& source : {a, b}) {
        ++counter;
        SCOPED_TRACE(source.toStdString());
        const QString name = QFileInfo(source).fileName();
        const QString literal = bubblePattern(
            path(QStringLiteral("literal-%1.xml").arg(counter)), exiftoolValue(source, "Model"),
            QStringLiteral("#%1 %2").arg(counter).arg(exiftoolValue(source, "FileName")));
        const QString folder = path(QStringLiteral("expected-%1").arg(counter));
        r = batch({"--pattern", literal, "--output-dir", folder, source});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        const QString got = path("out/" + name), want = folder + "/" + name;
        QString why;
        EXPECT_TRUE(fuzzyImageCompare(ReadImageFile(got), ReadImageFile(want), 0, &why))
            << why.toStdString();
    }
    EXPECT_GT(differingPixelShare(ReadImageFile(path("out/a.jpg")), ReadImageFile(path("out/b.jpg")),
                                  40),
              0.0);
}

TEST_F(BatchCommandTest, APhotoWithoutADateIsNamedOrLeftOut) {
    const QString patternFile = path("date.xml");
    textPattern(patternFile, "{Date:yyyy-MM-dd}");
    const QString bmp = path("plain.bmp");
    ASSERT_TRUE(makeTestPhoto(200, 60).save(bmp));
    CliRun r = batch({"--pattern", patternFile, bmp});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("plain.bmp: no date taken; dated 01.01.1980 by the settings' "
                               "default\n"))
        << r.out.toStdString();
    ASSERT_EQ(cli({"settings", "set", "DateFallback", "skip"}).code, 0);
    const QByteArray before = sha256Of(bmp);
    r = batch({"--pattern", patternFile, bmp});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("plain.bmp: no date taken; not written (DateFallback=skip)\n"))
        << r.out.toStdString();
    EXPECT_EQ(sha256Of(bmp), before);
    r = cli({"render", "--pattern", patternFile, bmp});
    EXPECT_TRUE(r.out.contains("plain.bmp: no date taken; not written (DateFallback=skip)\n"))
        << r.out.toStdString();
    EXPECT_EQ(sha256Of(bmp), before);
}

TEST_F(BatchCommandTest, FileThatCannotBeWrittenIsNamed) {
    // Readable, but a PNG under a JPEG name: it is written neither as JPEG nor as PNG.
    const QString wide = path("wide.jpg");
    QImage strip(640, 1, QImage::Format_RGB32);
    strip.fill(Qt::gray);
    ASSERT_TRUE(strip.save(wide, "PNG"));
    const QByteArray original = sha256Of(wide);
    const CliRun r = batch({"--rotate", "180", wide});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("captiomark-cli: \"" + wide + "\" is a PNG picture under a JPEG "
                                 "name"))
        << r.err.toStdString();
    EXPECT_EQ(sha256Of(wide), original);
    EXPECT_FALSE(QFile::exists(wide + ".bak"));
}

TEST_F(BatchCommandTest, CollidingNamesStopTheJobWithEveryOriginalKept) {
    struct Case {
        const char* what;
        QStringList options;
        QStringList job;     // files of the job, in order
        QStringList outside; // other files of the folder
        QString source, other;
    };
    const QList<Case> cases{
        {"a number hits a later source",
         {"--rename", "4"},
         {"1.jpg", "10.jpg", "2.jpg"},
         {},
         "10.jpg",
         "2.jpg"},
        {"the same name twice, renamed",
         {"--rename", "1", "--text", "Trip"},
         {"a.jpg", "b.jpg"},
         {},
         "b.jpg",
         "a.jpg"},
        {"the same name twice, drawn",
         {"--rename", "1", "--text", "Trip", "--rotate", "90"},
         {"a.jpg", "b.jpg"},
         {},
         "b.jpg",
         "a.jpg"},
        {"a file outside the job",
         {"--rename", "1", "--text", "Trip", "--rotate", "90"},
         {"a.jpg"},
         {"Trip.jpg"},
         "a.jpg",
         "Trip.jpg"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        QStringList args = c.options;
        quint32 seed = 1;
        for (const QString& name : c.job + c.outside) {
            ASSERT_TRUE(WriteBytes(dir.filePath(name),
                                   JpegWithExif(makeTestPhoto(40, 30, seed++), "2006:05:02 "
                                                                               "14:05:09")));
            if (c.job.contains(name))
                args.append(dir.filePath(name));
        }
        const auto before = folderSha256(dir.path());
        const CliRun r = batch(args);
        EXPECT_EQ(r.code, 1) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        for (const QString& named : {c.source, c.other})
            EXPECT_TRUE(r.err.contains('"' + dir.filePath(named) + '"'))
                << c.what << ": " << r.err.toStdString();
        EXPECT_EQ(folderSha256(dir.path()), before) << c.what;
    }
}

TEST_F(BatchCommandTest, ATemplateThatGivesNoNewNameWritesNothing) {
    // No file time format chosen: the date-and-time template cannot name the files, and the
    // old names would have the outputs replace the originals.
    ASSERT_EQ(cli({"settings", "set", "defaultTimeFormatFile", ""}).code, 0);
    const QString a = photo("a.jpg"), b = photo("b.jpg", "2007:01:01 10:00:00");
    const auto before = folderSha256(files.path());
    const CliRun r = batch({"--rename", "23", "--fit", "20x20", a, b});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("No new name can be made for \"%1\"").arg(a)))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Nothing was written.")) << r.err.toStdString();
    EXPECT_EQ(folderSha256(files.path()), before);
}

TEST_F(BatchCommandTest, OutputsOverTheirSourceKeepTheOriginalAsBak) {
    // Without a new name the fitted pictures replace their sources.
    const QString a = photo("a.jpg"), b = photo("b.jpg");
    const QByteArray aOriginal = sha256Of(a), bOriginal = sha256Of(b);
    CliRun r = batch({"--fit", "20x20", a, b});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(sizeOf(a), QSize(20, 15));
    EXPECT_EQ(sha256Of(a + ".bak"), aOriginal);
    EXPECT_EQ(sha256Of(b + ".bak"), bOriginal);

    // Rename off: rotated in place; the first backup, the real original, stays.
    const QByteArray fitted = sha256Of(a);
    r = batch({"--rotate", "90", a});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(sizeOf(a), QSize(15, 20));
    EXPECT_NE(sha256Of(a), fitted);
    EXPECT_EQ(sha256Of(a + ".bak"), aOriginal);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files),
              (QStringList{"a.jpg", "a.jpg.bak", "b.jpg", "b.jpg.bak"}));
}

TEST_F(BatchCommandTest, FailedWriteAfterTheBackupMovePutsTheOriginalBack) {
    // A file-size limit below the photo's size: the move to .bak works, the write then fails as
    // on a full disk.
    const QString big = path("big.jpg");
    ASSERT_TRUE(WriteBytes(big, JpegWithExif(makeTestPhoto(320, 240, 5), "2006:05:02 14:05:09")));
    ASSERT_EQ(cli({"settings", "list"}).code, 0); // the settings file is written beforehand
    const auto before = folderSha256(files.path());
    ASSERT_GT(QFileInfo(big).size(), 16384);
    const CliRun r = runCliVia({"prlimit", "--fsize=16384", "--"},
                               {"batch", "--fit", "300x300", big}, config.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(big)) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromLocal8Bit(strerror(EFBIG)))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Unknown error")) << r.err.toStdString();
    EXPECT_EQ(folderSha256(files.path()), before) << "the original under its name, no .bak";
}

TEST_F(BatchCommandTest, BadQualitySettingWritesNothing) {
    const QString a = photo("a.jpg");
    const QByteArray original = sha256Of(a);
    for (const char* value : {"9O", "abc", "-5"}) {
        ASSERT_EQ(cli({"settings", "set", "defaultCompressionQuality", value}).code, 0);
        const CliRun r = batch({"--rotate", "90", a});
        EXPECT_EQ(r.code, 1) << value;
        EXPECT_EQ(r.out, "") << value;
        EXPECT_TRUE(r.err.contains(
            QStringLiteral("Setting \"defaultCompressionQuality\": '%1'").arg(value)))
            << r.err.toStdString();
        EXPECT_EQ(sha256Of(a), original) << value;
        EXPECT_FALSE(QFile::exists(a + ".bak")) << value;
        // The value can still be read and listed.
        const CliRun get = cli({"settings", "get", "defaultCompressionQuality"});
        EXPECT_EQ(get.code, 0);
        EXPECT_EQ(get.out, QString::fromLatin1(value) + '\n');
        EXPECT_EQ(cli({"settings", "list"}).code, 0);
    }
    ASSERT_EQ(cli({"settings", "set", "defaultCompressionQuality", "95"}).code, 0);
    const CliRun r = batch({"--rotate", "90", a});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(sizeOf(a), QSize(30, 40));
}

} // namespace

TEST_F(BatchCommandTest, JobsGiveTheSameFilesAndLines) {
    QStringList one, three;
    for (const char* n : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
        const QString source = photo(QString::fromLatin1(n));
        QDir().mkpath(path("one"));
        QDir().mkpath(path("three"));
        one << path("one/") + n;
        three << path("three/") + n;
        ASSERT_TRUE(QFile::copy(source, one.last()));
        ASSERT_TRUE(QFile::copy(source, three.last()));
    }
    const CliRun r1 = batch(QStringList{"--jobs", "1", "--fit", "20x20", "--rotate", "90"} + one);
    const CliRun r3 = batch(QStringList{"--jobs=3", "--fit", "20x20", "--rotate", "90"} + three);
    EXPECT_EQ(r1.code, 0) << r1.err.toStdString();
    EXPECT_EQ(r3.code, 0) << r3.err.toStdString();
    EXPECT_EQ(r1.out, r3.out);
    for (int i = 0; i < one.size(); ++i) {
        EXPECT_EQ(sizeOf(one[i]), QSize(15, 20));
        EXPECT_EQ(sha256Of(one[i]), sha256Of(three[i])) << one[i].toStdString();
    }
}
