#include "batch/core/TBatchJob.h"
#include "bricks/TText.h"
#include "bricks/TTextDate.h"
#include "imaging/core/ImageCodecs.h"
#include "imaging/render/RenderAndSave.h"
#include "imaging/core/PictureLoader.h"
#include "imaging/core/TExif.h"
#include "patterns/settings/TSettings.h"
#include "platform/Messages.h"
#include "platform/SettingsStore.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/bricks/BrickTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString Complete = QStringLiteral("Operation complete!");

// Options that only turn each photo by degrees.
TBatchOptions turnedBy(int degrees) {
    TBatchOptions o;
    o.Rotate = true;
    o.Angle = degrees;
    return o;
}

class BatchJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(files.isValid());
        saved = Settings();
        Settings().defaultDateFormatFile = QStringLiteral("yyyy-MM-dd");
        Settings().defaultTimeFormatFile = QStringLiteral("3");
        Settings().defaultTimeDelimiter = QLatin1Char('-');
        surfacePicture = surface.designer->realPicture;
        surfaceExif = surface.designer->realExif.Entries;
    }
    void TearDown() override { Settings() = saved; }

    // A 40 x 30 JPEG with an EXIF date.
    QString photo(const QString& name, const QByteArray& date = "2006:05:02 14:05:09") {
        const QString path = files.filePath(name);
        EXPECT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(40, 30, 3), date)));
        return path;
    }
    void add(const QString& path, bool folder = false) {
        TShellItem e;
        e.ItemId = path;
        e.DisplayName = QFileInfo(path).fileName();
        e.FullPath = e.TypeText = path;
        e.IsFolder = folder;
        items.append(e);
    }
    TBatchOutcome run_(const TBatchOptions& options) { return run(options).Outcome; }
    TBatchResult run(const TBatchOptions& options) {
        TBatchJob job(items, names);
        job.OnStart = [this](int max) {
            maximum = max;
            shown = true;
        };
        job.OnProgress = [this](int p) { positions.append(p); };
        job.OnFinish = [this] { shown = false; };
        job.OnItemDone = [this](int i, const QString& n) { done.append({i, n}); };
        job.CancelRequested = [this] { return cancelAfter >= 0 && done.size() >= cancelAfter; };
        // Reports are recorded with the kind of box the window shows for them; the capture of
        // shown messages stays on, so that a box shown directly would add to them.
        auto record = [this](MessageKind kind) {
            return [this, kind](const QString& text) {
                messages.messages.append({int(kind), text});
            };
        };
        job.OnNotice = record(MessageKind::Information);
        job.OnRefusal = record(MessageKind::Plain);
        job.OnError = record(MessageKind::Error);
        return job.Run(*surface.designer, options);
    }
    void expectSurfaceRestored() {
        EXPECT_EQ(surface.designer->realPicture, surfacePicture);
        EXPECT_EQ(surface.designer->realExif.Entries, surfaceExif);
    }
    static QSize sizeOf(const QString& path) { return ReadImageFile(path).size(); }

    SurfaceFixture surface{QSize(40, 30)};
    QTemporaryDir files;
    TSettings saved;
    QImage surfacePicture;
    QStringList surfaceExif;
    QList<TShellItem> items;
    TRenameTemplate names;
    MessageCapture messages;
    int maximum = -1;
    bool shown = false;
    QList<int> positions;
    QList<QPair<int, QString>> done;
    int cancelAfter = -1;
};

// ---- Before any file is touched ----------------------------------------------------------

TEST_F(BatchJobTest, FitWithoutWidthStopsBeforeAnyFileButStoresTemplate) {
    const QString a = photo(QStringLiteral("a.jpg"));
    const QByteArray before = ReadFileBytes(a);
    add(a);
    names.LoadStored(QStringLiteral("54"));
    TBatchOptions o;
    o.Fit = true; // width and height both 0
    const TBatchResult r = run(o);
    EXPECT_EQ(r.Outcome, TBatchOutcome::NotStarted);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Please, enter Width.")});
    EXPECT_EQ(messages.messages[0].kind, int(MessageKind::Plain));
    EXPECT_EQ(maximum, -1); // the bar never showed
    EXPECT_EQ(ReadFileBytes(a), before);
    SettingsStore store(SettingsKey);
    ASSERT_TRUE(store.OpenOrCreate());
    EXPECT_EQ(store.Value(QStringLiteral("defaultRenameTmp")), QStringLiteral("54"));
    EXPECT_EQ(Settings().defaultRenameTmp, QStringLiteral("54"));
}

TEST_F(BatchJobTest, FitWithoutHeight) {
    add(photo(QStringLiteral("a.jpg")));
    TBatchOptions o;
    o.Fit = true;
    o.Width = 800;
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::NotStarted);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Please, enter Height.")});
}

TEST_F(BatchJobTest, UnwritableSettingsStoreIsReportedAndJobGoesOn) {
    const QByteArray config = qgetenv("CAPTIOMARK_CONFIG_DIR");
    qputenv("CAPTIOMARK_CONFIG_DIR", "/proc/captiomark-none/config");
    add(photo(QStringLiteral("a.jpg")));
    const TBatchResult r = run(TBatchOptions());
    qputenv("CAPTIOMARK_CONFIG_DIR", config);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Completed);
    ASSERT_EQ(messages.messages.size(), 2);
    // The fixed sentence, then the file and the system's reason.
    EXPECT_TRUE(messages.messages[0].text.startsWith(
        QStringLiteral("Can't write to registry. Cannot create "
                       "\"/proc/captiomark-none/config/Captiomark.conf\": ")))
        << messages.messages[0].text.toStdString();
    EXPECT_EQ(messages.messages[0].kind, int(MessageKind::Error));
    EXPECT_EQ(messages.messages[1].text, Complete);
}

// ---- Running ------------------------------------------------------------------------------

TEST_F(BatchJobTest, FoldersOnlyShowsAndHidesBarAndCompletes) {
    add(files.path(), true);
    add(files.path() + QStringLiteral("/sub"), true);
    const TBatchResult r = run(TBatchOptions());
    EXPECT_EQ(r.Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(r.Total, 0);
    EXPECT_EQ(maximum, 0);
    EXPECT_FALSE(shown);
    EXPECT_EQ(messages.texts(), QStringList{Complete});
    expectSurfaceRestored();
}

TEST_F(BatchJobTest, RenamesWithPatternAndKeepsNewPathsForSecondRun) {
    placeBrick<TText>(*surface.designer, 2, 2)->setCaption(QStringLiteral("Hi"));
    const QString a = photo(QStringLiteral("IMG_0001.JPG"));
    const QString b = photo(QStringLiteral("IMG_0002.JPG"), "2007:01:31 08:30:00");
    add(a);
    add(b);
    names.LoadStored(QStringLiteral("23"));
    names.Rename = true;
    TBatchOptions o;
    o.ApplyPattern = true;
    const TBatchResult r = run(o);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(r.Processed, 2);
    const QString outA = files.filePath(QStringLiteral("2006-05-02 14-05-09.jpg"));
    const QString outB = files.filePath(QStringLiteral("2007-01-31 8-30-00.jpg"));
    EXPECT_TRUE(QFile::exists(outA));
    EXPECT_TRUE(QFile::exists(outB));
    EXPECT_TRUE(QFile::exists(a)); // a render writes beside the source
    EXPECT_EQ(items[0].FullPath, outA);
    EXPECT_EQ(items[1].TypeText, outB);
    EXPECT_EQ(done, (QList<QPair<int, QString>>{{0, QFileInfo(outA).fileName()},
                                                {1, QFileInfo(outB).fileName()}}));
    // The EXIF block travels into the written file.
    TExif exif;
    exif.LoadFromJpeg(outA);
    EXPECT_FALSE(exif.Entries.isEmpty());
    expectSurfaceRestored();

    // Second run on what the first wrote: old name then number.
    names.LoadStored(QStringLiteral("54"));
    messages.messages.clear();
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("2006-05-02 14-05-091.jpg"))));
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("2007-01-31 8-30-002.jpg"))));
    EXPECT_EQ(messages.texts(), QStringList{Complete});
}

TEST_F(BatchJobTest, ProgressAdvancesThreeStepsPerFileToTheEnd) {
    add(photo(QStringLiteral("a.jpg")));
    add(files.path(), true);
    add(photo(QStringLiteral("b.jpg")));
    run(TBatchOptions());
    EXPECT_EQ(maximum, 6);
    EXPECT_EQ(positions, (QList<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(shown);
}

TEST_F(BatchJobTest, NumbersCountFoldersAndRemovedEntriesAreSkipped) {
    add(files.path(), true);
    add(photo(QStringLiteral("a.jpg")));
    add(photo(QStringLiteral("b.jpg")));
    add(photo(QStringLiteral("c.jpg")));
    items.removeAt(2); // the middle file
    names.LoadStored(QStringLiteral("54"));
    names.Rename = true;
    EXPECT_EQ(run(TBatchOptions()).Outcome, TBatchOutcome::Completed);
    // Rename only: the files move.
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("a2.jpg"))));
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("c3.jpg"))));
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("b.jpg"))));
    EXPECT_FALSE(QFile::exists(files.filePath(QStringLiteral("a.jpg"))));
    EXPECT_EQ(items[1].FullPath, files.filePath(QStringLiteral("a2.jpg")));
    EXPECT_EQ(items[2].FullPath, files.filePath(QStringLiteral("c3.jpg")));
}

TEST_F(BatchJobTest, RotationIsAppliedEvenWhenOnlyRenaming) {
    const QString a = photo(QStringLiteral("a.jpg"));
    add(a);
    names.LoadStored(QStringLiteral("54"));
    names.Rename = true;
    TBatchOptions o = turnedBy(90);
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(files.filePath(QStringLiteral("a1.jpg"))), QSize(30, 40));
}

TEST_F(BatchJobTest, RotationInPlaceWithoutRename) {
    const QString a = photo(QStringLiteral("a.JPG"));
    add(a);
    TBatchOptions o = turnedBy(-90);
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(items[0].FullPath), QSize(30, 40));
    EXPECT_EQ(QFileInfo(items[0].FullPath).fileName().toLower(), QStringLiteral("a.jpg"));
}

TEST_F(BatchJobTest, RotateUncheckedIgnoresAngleAndFitUncheckedIgnoresSize) {
    const QString a = photo(QStringLiteral("a.jpg"));
    add(a);
    TBatchOptions o;
    o.ApplyPattern = true;
    o.Width = 800;
    o.Height = 600;
    o.Angle = 90;
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(a), QSize(40, 30));
}

TEST_F(BatchJobTest, FitProportionalAndNot) {
    add(photo(QStringLiteral("a.jpg")));
    TBatchOptions o;
    o.Fit = true;
    o.Width = 20;
    o.Height = 20;
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(items[0].FullPath), QSize(20, 15));
    // A box flatter than the photo: the height rules, never a side beyond the box (36 x 27
    // from 40 x 30 into 40 x 27; it was 40 x 30 once).
    o.Width = 40;
    o.Height = 27;
    const QString b = photo(QStringLiteral("b.jpg"));
    items.clear();
    add(b);
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(items[0].FullPath), QSize(36, 27));
    o.Proportional = false;
    o.Width = 10;
    o.Height = 12;
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(items[0].FullPath), QSize(10, 12));
}

TEST_F(BatchJobTest, NothingToDoLeavesFilesAlone) {
    const QString a = photo(QStringLiteral("a.jpg"));
    const QByteArray before = ReadFileBytes(a);
    add(a);
    const TBatchResult r = run(TBatchOptions());
    EXPECT_EQ(r.Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(r.Processed, 1);
    EXPECT_EQ(ReadFileBytes(a), before);
    EXPECT_EQ(messages.texts(), QStringList{Complete});
}

TEST_F(BatchJobTest, FileWithoutExifIsNamedAndStillProcessed) {
    const QString bmp = files.filePath(QStringLiteral("plain.bmp"));
    ASSERT_TRUE(makeTestPhoto(40, 30).save(bmp));
    add(bmp);
    TBatchOptions o = turnedBy(180);
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(
        messages.texts(),
        (QStringList{QStringLiteral("plain.bmp doesn't have an EXIF information."), Complete}));
    EXPECT_EQ(messages.messages[0].kind, int(MessageKind::Information));
    const QImage out = ReadImageFile(bmp);
    EXPECT_EQ(out.pixel(0, 0), makeTestPhoto(40, 30).pixel(39, 29));
}

TEST_F(BatchJobTest, FailingFileStopsJobAndKeepsWhatWasDone) {
    const QString a = photo(QStringLiteral("a.jpg"));
    const QString broken = files.filePath(QStringLiteral("b.jpg"));
    ASSERT_TRUE(WriteBytes(broken, QByteArray("\xFF\xD8\xFF\xE0 not a picture")));
    const QString c = photo(QStringLiteral("c.jpg"));
    add(a);
    add(broken);
    add(c);
    names.LoadStored(QStringLiteral("54"));
    names.Rename = true;
    TBatchOptions o;
    o.ApplyPattern = true;
    const TBatchResult r = run(o);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Failed);
    EXPECT_EQ(r.Processed, 1);
    EXPECT_EQ(items[0].FullPath, files.filePath(QStringLiteral("a1.jpg")));
    EXPECT_EQ(items[1].FullPath, broken);
    EXPECT_EQ(items[2].FullPath, c);
    EXPECT_FALSE(QFile::exists(files.filePath(QStringLiteral("c3.jpg"))));
    EXPECT_FALSE(shown);
    ASSERT_FALSE(messages.messages.isEmpty());
    EXPECT_EQ(messages.messages.last().kind, int(MessageKind::Error));
    EXPECT_EQ(messages.messages.last().text, r.Error);
    EXPECT_TRUE(r.Error.contains(broken)) << r.Error.toStdString();
    EXPECT_FALSE(messages.texts().contains(Complete));
    expectSurfaceRestored();
}

TEST_F(BatchJobTest, EncoderFailureNamesTheFile) {
    // A JPEG fitted wider than a JPEG can be (the encoder stops at 65500 pixels).
    const QString wide = files.filePath(QStringLiteral("wide.jpg"));
    ASSERT_TRUE(WriteBytes(wide, JpegWithExif(makeTestPhoto(16, 4), "2006:05:02 14:05:09")));
    const QByteArray original = ReadFileBytes(wide);
    add(wide);
    TBatchOptions o;
    o.Fit = true;
    o.Width = 65520;
    o.Height = 1;
    o.Proportional = false;
    const TBatchResult r = run(o);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Failed);
    EXPECT_TRUE(r.Error.startsWith(wide + QStringLiteral(": Cannot write JPEG file: ")))
        << r.Error.toStdString();
    EXPECT_EQ(ReadFileBytes(wide), original);
    EXPECT_FALSE(QFile::exists(wide + ".bak"));
}

// ---- Output names, planned before the first file -----------------------------------------

// Every file of the folder with its content, to show that a refused job touched nothing.
QMap<QString, QByteArray> folderContents(const QString& dir) {
    QMap<QString, QByteArray> out;
    for (const QString& name : QDir(dir).entryList(QDir::Files))
        out.insert(name, ReadFileBytes(QDir(dir).filePath(name)));
    return out;
}

TEST_F(BatchJobTest, CollidingNamesStopTheJobBeforeAnyFile) {
    struct Case {
        const char* what;
        QStringList sources;
        QString stored;
        QString text;
        bool pattern;
        QString source; // the entry refused
        QString other;  // the file the message names beside it
    };
    const QList<Case> cases{
        // 10.jpg, second entry, becomes 2.jpg: the third source, not yet processed.
        {"later source", {"1.jpg", "10.jpg", "2.jpg"}, "4", "", false, "10.jpg", "2.jpg"},
        {"later source, drawn", {"1.jpg", "10.jpg", "2.jpg"}, "4", "", true, "10.jpg", "2.jpg"},
        // Both become Trip.jpg: the second would replace the first one's output.
        {"earlier output", {"a.jpg", "b.jpg"}, "1", "Trip", true, "b.jpg", "a.jpg"},
        {"earlier output, moved", {"a.jpg", "b.jpg"}, "1", "Trip", false, "b.jpg", "a.jpg"},
        // A Trip.jpg that is not in the job.
        {"existing file", {"a.jpg", "Trip.jpg!"}, "1", "Trip", true, "a.jpg", "Trip.jpg"},
        // 2.jpg is processed first but still there when drawn into a new file.
        {"earlier source kept", {"2.jpg", "x.jpg"}, "4", "", true, "x.jpg", "2.jpg"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        items.clear();
        messages.messages.clear();
        for (QString name : c.sources) {
            const bool outside = name.endsWith('!');
            name.remove('!');
            const QString path = dir.filePath(name);
            ASSERT_TRUE(WriteBytes(path, JpegWithExif(makeTestPhoto(40, 30, 3), "2006:05:02 "
                                                                                "14:05:09")));
            if (!outside)
                add(path);
        }
        const auto before = folderContents(dir.path());
        names.LoadStored(c.stored);
        names.Rename = true;
        names.CustomText = c.text;
        TBatchOptions o;
        o.ApplyPattern = c.pattern;
        const TBatchResult r = run(o);
        EXPECT_EQ(r.Outcome, TBatchOutcome::NotStarted) << c.what;
        EXPECT_EQ(r.Processed, 0) << c.what;
        EXPECT_EQ(folderContents(dir.path()), before) << c.what;
        for (const QString& named : {c.source, c.other})
            EXPECT_TRUE(r.Error.contains(QLatin1Char('"') + dir.filePath(named) + QLatin1Char('"')))
                << c.what << ": " << r.Error.toStdString();
        EXPECT_TRUE(r.Error.contains("Nothing was written.")) << c.what;
        EXPECT_EQ(messages.texts(), QStringList{r.Error}) << c.what;
        EXPECT_EQ(messages.messages.value(0).kind, int(MessageKind::Error)) << c.what;
        // The names stay the sources': nothing was processed.
        for (const TShellItem& e : items)
            EXPECT_TRUE(before.contains(QFileInfo(e.FullPath).fileName())) << c.what;
    }
}

TEST_F(BatchJobTest, NamesFreedOrKeptByTheJobAreAllowed) {
    // Renaming only: 2.jpg has moved to 1.jpg before x.jpg takes its name.
    const QString two = photo(QStringLiteral("2.jpg")), x = photo(QStringLiteral("x.jpg"));
    const QByteArray twoBytes = ReadFileBytes(two), xBytes = ReadFileBytes(x);
    add(two);
    add(x);
    names.LoadStored(QStringLiteral("4"));
    names.Rename = true;
    EXPECT_EQ(run(TBatchOptions()).Outcome, TBatchOutcome::Completed)
        << messages.texts().join('|').toStdString();
    EXPECT_EQ(ReadFileBytes(files.filePath(QStringLiteral("1.jpg"))), twoBytes);
    EXPECT_EQ(ReadFileBytes(files.filePath(QStringLiteral("2.jpg"))), xBytes);
    EXPECT_FALSE(QFile::exists(x));
    // The same list again: each name is its own file's, nothing to move.
    EXPECT_EQ(run(TBatchOptions()).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), (QStringList{"1.jpg", "2.jpg"}));
}

TEST_F(BatchJobTest, SourceListedTwiceStops) {
    const QString a = photo(QStringLiteral("a.jpg"));
    add(a);
    add(files.path() + QStringLiteral("/./a.jpg"));
    names.LoadStored(QStringLiteral("4"));
    names.Rename = true;
    const TBatchResult r = run(TBatchOptions());
    EXPECT_EQ(r.Outcome, TBatchOutcome::NotStarted);
    EXPECT_TRUE(r.Error.contains(a)) << r.Error.toStdString();
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), QStringList{"a.jpg"});
}

TEST_F(BatchJobTest, ATemplateThatMakesNoNewNameStopsBeforeAnyFile) {
    // No file-name time format: the template would give each file its old name, so that every
    // output replaced its original.
    Settings().defaultTimeFormatFile.clear();
    const QString a = photo(QStringLiteral("a.jpg")), b = photo(QStringLiteral("b.JPG"));
    const QByteArray aBytes = ReadFileBytes(a), bBytes = ReadFileBytes(b);
    add(a);
    add(b);
    names.LoadStored(QStringLiteral("23"));
    names.Rename = true;
    const TBatchResult r = run(turnedBy(90));
    EXPECT_EQ(r.Outcome, TBatchOutcome::NotStarted);
    EXPECT_EQ(r.Error, QStringLiteral("No new name can be made for \"%1\": no time format for file "
                                      "names is chosen (Options). Nothing was written.")
                           .arg(a));
    EXPECT_EQ(ReadFileBytes(a), aBytes);
    EXPECT_EQ(ReadFileBytes(b), bBytes);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), (QStringList{"a.jpg", "b.JPG"}));
}

TEST_F(BatchJobTest, OutputsOverTheirSourceKeepTheOriginalAsBackup) {
    // Drawn with the old name (rename off) and rotated in place: the first run keeps each
    // original under .bak.
    const QString a = photo(QStringLiteral("a.jpg")), b = photo(QStringLiteral("b.JPG"));
    const QByteArray aBytes = ReadFileBytes(a), bBytes = ReadFileBytes(b);
    add(a);
    add(b);
    names.Rename = false;
    TBatchOptions o = turnedBy(90);
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(ReadFileBytes(a + ".bak"), aBytes);
    EXPECT_EQ(ReadFileBytes(b + ".bak"), bBytes);
    EXPECT_EQ(sizeOf(a), QSize(30, 40));
    EXPECT_EQ(sizeOf(b), QSize(30, 40));
    // A second run keeps the first backups, the oldest originals.
    names.Rename = false;
    EXPECT_EQ(run(o).Outcome, TBatchOutcome::Completed);
    EXPECT_EQ(sizeOf(a), QSize(40, 30));
    EXPECT_EQ(ReadFileBytes(a + ".bak"), aBytes);
    EXPECT_EQ(ReadFileBytes(b + ".bak"), bBytes);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files),
              (QStringList{"a.jpg", "a.jpg.bak", "b.JPG", "b.JPG.bak"}));
}

TEST_F(BatchJobTest, NameWithFolderSeparatorFromDateFormatStopsBeforeAnyFile) {
    Settings().defaultDateFormatFile = QStringLiteral("yyyy/MM/dd");
    const QString a = photo(QStringLiteral("a.jpg"));
    QDir(files.path()).mkpath(QStringLiteral("2006/05"));
    add(a);
    names.LoadStored(QStringLiteral("2"));
    names.Rename = true;
    TBatchOptions o;
    o.ApplyPattern = true;
    const TBatchResult r = run(o);
    EXPECT_EQ(r.Outcome, TBatchOutcome::NotStarted);
    EXPECT_TRUE(r.Error.contains(QStringLiteral("2006/05/02.jpg"))) << r.Error.toStdString();
    EXPECT_TRUE(r.Error.contains(a)) << r.Error.toStdString();
    EXPECT_FALSE(QFile::exists(files.filePath(QStringLiteral("2006/05/02.jpg"))));
}

TEST_F(BatchJobTest, CancelBetweenFilesKeepsWhatWasDone) {
    for (const char* n : {"a.jpg", "b.jpg", "c.jpg"})
        add(photo(QString::fromLatin1(n)));
    names.LoadStored(QStringLiteral("54"));
    names.Rename = true;
    cancelAfter = 1;
    const TBatchResult r = run(TBatchOptions());
    EXPECT_EQ(r.Outcome, TBatchOutcome::Cancelled);
    EXPECT_EQ(r.Processed, 1);
    EXPECT_EQ(r.Total, 3);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Cancelled after 1 of 3 files.")});
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("a1.jpg"))));
    EXPECT_TRUE(QFile::exists(files.filePath(QStringLiteral("b.jpg"))));
    EXPECT_EQ(items[1].FullPath, files.filePath(QStringLiteral("b.jpg")));
    EXPECT_FALSE(shown);
    expectSurfaceRestored();
}

// ---- On several workers --------------------------------------------------------------------

namespace {

// What a run showed, in order: every callback as one line.
struct RunTrace {
    QStringList events;
    TBatchResult result;
};

// Runs a job over copies of sources in a folder of its own, recording every callback in order.
RunTrace traceRun(TDesigner& designer, const QStringList& sources, const QString& folder,
                  const TBatchOptions& options, int cancelBefore = -1) {
    QDir().mkpath(folder);
    QList<TShellItem> items;
    for (const QString& s : sources) {
        const QString copy = folder + QLatin1Char('/') + QFileInfo(s).fileName();
        QFile::copy(s, copy);
        TShellItem e;
        e.ItemId = copy;
        e.DisplayName = QFileInfo(copy).fileName();
        e.FullPath = e.TypeText = copy;
        items.append(e);
    }
    TRenameTemplate names;
    names.LoadStored(QStringLiteral("54"));
    names.Rename = true;
    TBatchJob job(items, names);
    RunTrace t;
    // Paths differ between folders: events carry file names only.
    auto bare = [folder](QString text) { return text.replace(folder + QLatin1Char('/'), QString()); };
    job.OnStart = [&t](int m) { t.events << QStringLiteral("start %1").arg(m); };
    job.OnProgress = [&t](int p) { t.events << QStringLiteral("progress %1").arg(p); };
    job.OnFinish = [&t] { t.events << QStringLiteral("finish"); };
    job.OnItemDone = [&t](int i, const QString& n) {
        t.events << QStringLiteral("done %1 %2").arg(i).arg(n);
    };
    int asked = 0;
    job.CancelRequested = [&asked, cancelBefore] {
        return cancelBefore >= 0 && asked++ >= cancelBefore;
    };
    job.OnNotice = [&t, bare](const QString& m) { t.events << QStringLiteral("notice ") + bare(m); };
    job.OnError = [&t, bare](const QString& m) { t.events << QStringLiteral("error ") + bare(m); };
    job.OnRefusal = [&t](const QString& m) { t.events << QStringLiteral("refusal ") + m; };
    t.result = job.Run(designer, options);
    return t;
}

} // namespace

TEST_F(BatchJobTest, SeveralWorkersWriteTheSameFilesAndReportInTheSameOrderAsOne) {
    placeBrick<TText>(*surface.designer, 4, 3)->setCaption(QStringLiteral("Hi"));
    QStringList sources;
    for (int i = 0; i < 7; ++i) {
        const QString name = QStringLiteral("p%1.jpg").arg(i);
        // Every third photo has no EXIF block: a notice in the middle of the run.
        if (i % 3 == 1) {
            const QString path = files.filePath(name);
            ASSERT_TRUE(WriteBytes(path, EncodeJpeg(makeTestPhoto(80, 60, quint32(i)), 90)));
            sources << path;
        } else {
            sources << photo(name);
        }
    }
    struct Case {
        const char* label;
        TBatchOptions options;
    };
    TBatchOptions plain;
    plain.ApplyPattern = true;
    TBatchOptions fitted = plain;
    fitted.Fit = true;
    fitted.Width = 20;
    fitted.Height = 20;
    fitted.Rotate = true;
    fitted.Angle = 90;
    TBatchOptions turned = plain;
    turned.Rotate = true;
    turned.Angle = 30;
    for (const Case& c : {Case{"plain", plain}, Case{"fit and rotate", fitted},
                          Case{"odd angle", turned}}) {
        SCOPED_TRACE(c.label);
        const QString base = files.filePath(QString::fromLatin1(c.label));
        TBatchOptions one = c.options, many = c.options;
        one.Jobs = 1;
        many.Jobs = 3;
        const RunTrace serial = traceRun(*surface.designer, sources, base + "-1", one);
        const RunTrace parallel = traceRun(*surface.designer, sources, base + "-3", many);
        EXPECT_EQ(serial.result.Outcome, TBatchOutcome::Completed);
        EXPECT_EQ(parallel.result.Outcome, TBatchOutcome::Completed);
        EXPECT_EQ(parallel.events, serial.events);
        // Two notices for the photos without EXIF, in the files' order, then the end.
        EXPECT_EQ(serial.events.filter(QStringLiteral("notice")),
                  (QStringList{QStringLiteral("notice p1.jpg doesn't have an EXIF information."),
                               QStringLiteral("notice p4.jpg doesn't have an EXIF information."),
                               QStringLiteral("notice ") + Complete}));
        const auto a = folderContents(base + "-1"), b = folderContents(base + "-3");
        EXPECT_EQ(a.size(), 14); // the copies and their outputs
        EXPECT_EQ(a.keys(), b.keys());
        for (const QString& k : a.keys())
            EXPECT_TRUE(a[k] == b[k]) << k.toStdString() << " differs";
    }
    expectSurfaceRestored();
}

TEST_F(BatchJobTest, SeveralWorkersStopAtTheFirstFailureAndWriteNothingAfterIt) {
    QStringList sources;
    for (int i = 0; i < 8; ++i)
        sources << photo(QStringLiteral("p%1.jpg").arg(i));
    const QString broken = files.filePath(QStringLiteral("p2.jpg"));
    ASSERT_TRUE(WriteBytes(broken, QByteArray("\xFF\xD8\xFF\xE0 not a picture")));
    TBatchOptions o;
    o.ApplyPattern = true;
    o.Jobs = 4;
    const QString folder = files.filePath(QStringLiteral("run"));
    const RunTrace t = traceRun(*surface.designer, sources, folder, o);
    EXPECT_EQ(t.result.Outcome, TBatchOutcome::Failed);
    EXPECT_EQ(t.result.Processed, 2);
    EXPECT_TRUE(t.result.Error.contains(folder + QStringLiteral("/p2.jpg")))
        << t.result.Error.toStdString();
    // The first two are renamed outputs; the failing one and all after it stay as they were.
    const QStringList left = folderContents(folder).keys();
    QStringList expected{"p01.jpg", "p0.jpg", "p12.jpg", "p1.jpg", "p2.jpg",
                         "p3.jpg",  "p4.jpg", "p5.jpg",  "p6.jpg", "p7.jpg"};
    expected.sort();
    EXPECT_EQ(left, expected);
    ASSERT_FALSE(t.events.isEmpty());
    EXPECT_TRUE(t.events.last().startsWith(QStringLiteral("error ")) &&
                t.events.last().contains(QStringLiteral("\"p2.jpg\"")))
        << t.events.last().toStdString();
    EXPECT_EQ(t.events.filter(QStringLiteral("error")).size(), 1);
    // The bar stopped at the failing file's first step.
    EXPECT_EQ(t.events.filter(QStringLiteral("progress")).last(), QStringLiteral("progress 7"));
}

TEST_F(BatchJobTest, SeveralWorkersCancelledKeepWhatWasWrittenAndNothingMore) {
    QStringList sources;
    for (int i = 0; i < 6; ++i)
        sources << photo(QStringLiteral("p%1.jpg").arg(i));
    TBatchOptions o;
    o.ApplyPattern = true;
    o.Jobs = 3;
    const QString folder = files.filePath(QStringLiteral("run"));
    const RunTrace t = traceRun(*surface.designer, sources, folder, o, 2);
    EXPECT_EQ(t.result.Outcome, TBatchOutcome::Cancelled);
    EXPECT_EQ(t.result.Processed, 2);
    const QStringList left = folderContents(folder).keys();
    QStringList expected{"p01.jpg", "p0.jpg", "p12.jpg", "p1.jpg",
                         "p2.jpg",  "p3.jpg", "p4.jpg",  "p5.jpg"};
    expected.sort();
    EXPECT_EQ(left, expected);
    EXPECT_EQ(t.events.filter(QStringLiteral("notice")),
              QStringList{QStringLiteral("notice Cancelled after 2 of 6 files.")});
    expectSurfaceRestored();
}

// ---- Fitting from a reduced decode ---------------------------------------------------------

namespace {

// The box of the dark pixels (the caption's ink) of a light photo.
QRect inkBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 60)
                box |= QRect(x, y, 1, 1);
    return box;
}

// A light, smooth 800 x 600 photo, stored lying on its side (EXIF orientation 6).
QByteArray sidewaysPhoto() {
    QImage image(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            image.setPixel(x, y, qRgb(150 + x / 8, 160 + y / 8, 230 - (x + y) / 20));
    return withExifBlock(EncodeJpeg(image, 92),
                         ExifBlock{{{0x010F, "Cam"}, {0x0132, "2004:01:02 03:04:05"}}, {}, 6});
}

} // namespace

TEST_F(BatchJobTest, FittingFromAReducedDecodeMatchesTheFullSizePath) {
    // Laid out on the upright 600 x 800 full-size picture.
    auto* t = placeBrick<TText>(*surface.designer, 120, 500);
    t->Font()->setHeight(-80);
    t->Font()->setColor(0x000000);
    t->setCaption(QStringLiteral("Hi"));
    t->FitToText();
    const QString source = files.filePath(QStringLiteral("side.jpg"));
    ASSERT_TRUE(WriteBytes(source, sidewaysPhoto()));
    Settings().AutoRotate = true;

    for (const int angle : {0, 90}) {
        SCOPED_TRACE(angle);
        TBatchOptions o;
        o.ApplyPattern = true;
        o.Fit = true;
        // A quarter of the (turned) full size: decoded at 1/4.
        o.Width = angle ? 200 : 150;
        o.Height = angle ? 150 : 200;
        o.Rotate = angle != 0;
        o.Angle = angle;

        // Today's path: the full-size picture on the surface, rendered from there.
        QImage full;
        {
            TSurfaceRestorer keep(*surface.designer);
            QList<TShellItem> none;
            TBatchJob steps(none, names);
            steps.LoadFile(*surface.designer, source);
            ASSERT_EQ(surface.designer->realPicture.size(), QSize(600, 800));
            const TPlannedFile plan{QStringLiteral("x.jpg"), files.filePath("x.jpg"), false};
            full = DecodeImage(TBatchJob::RenderFile(*surface.designer, source, plan, o));
        }

        items.clear();
        add(source);
        names.LoadStored(QStringLiteral("5"));
        names.Rename = false;
        const QString out = files.filePath(QStringLiteral("run%1").arg(angle));
        QDir().mkpath(out);
        const QString copy = out + QStringLiteral("/side.jpg");
        ASSERT_TRUE(QFile::copy(source, copy));
        items[0].FullPath = copy;
        ASSERT_EQ(run(o).Outcome, TBatchOutcome::Completed);
        const QImage reduced = ReadImageFile(copy);

        const QSize expected = angle ? QSize(200, 150) : QSize(150, 200);
        ASSERT_EQ(full.size(), expected);
        ASSERT_EQ(reduced.size(), expected);
        EXPECT_LT(meanChannelDifference(full, reduced), 2.0);
        const QRect a = inkBox(full), b = inkBox(reduced);
        ASSERT_FALSE(a.isEmpty());
        SCOPED_TRACE(testing::PrintToString(a) + " / " + testing::PrintToString(b));
        EXPECT_LE(std::abs(a.left() - b.left()), 1);
        EXPECT_LE(std::abs(a.top() - b.top()), 1);
        EXPECT_LE(std::abs(a.right() - b.right()), 1);
        EXPECT_LE(std::abs(a.bottom() - b.bottom()), 1);
    }
}

// ---- Upright JPEGs written band by band ------------------------------------------------------

namespace {

// A light photo with some texture, made a JPEG by cjpeg with its options.
QByteArray cjpegPhoto(const QSize& size, const QStringList& options, const QString& folder) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(150 + (x * 7 + y) % 90, 170 + (x / 3 + y * 5) % 70,
                                      200 - (x + y) % 50));
    const QString ppm = folder + QStringLiteral("/photo.ppm");
    if (!image.save(ppm, "PPM"))
        return {};
    QProcess p;
    p.start(QStringLiteral("cjpeg"), QStringList{"-quality", "90"} + options + QStringList{ppm});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

} // namespace

// A JPEG written band by band by the batch (no turn: plain, fitted with a reduced decode, fitted
// from the full size) is, decoded, within a level of what the whole picture decoded, fitted,
// captioned and encoded gives, with its ink in the very same box, on every sampling and an odd
// size; the bricks cross many bands. Fitted and turned, it is resampled as it is decoded and
// then gives the very same pixels.
TEST_F(BatchJobTest, StreamedJpegsEqualTheWholePicturePath) {
    if (QStandardPaths::findExecutable(QStringLiteral("cjpeg")).isEmpty())
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is needed";
    auto* t = placeBrick<TText>(*surface.designer, 37, 41);
    t->Font()->setHeight(-90);
    t->Font()->setColor(0x000000);
    t->setCaption(QStringLiteral("Wg/7"));
    t->FitToText();
    auto* date = placeBrick<TTextDate>(*surface.designer, 150, 190);
    date->Font()->setHeight(-40);
    date->Font()->setColor(0x101010);
    date->FitToText();
    Settings().AutoRotate = true;

    const struct {
        const char* name;
        QSize size;
        QStringList options;
    } layouts[] = {
        {"4:2:0", {640, 480}, {"-sample", "2x2"}},
        {"4:2:2", {640, 480}, {"-sample", "2x1"}},
        {"4:4:4", {480, 640}, {"-sample", "1x1"}},
        {"grey", {640, 480}, {"-grayscale"}},
        {"odd size", {333, 251}, {"-sample", "2x2", "-restart", "1"}},
    };
    TBatchOptions plain;
    plain.ApplyPattern = true;
    plain.Jobs = 2;
    TBatchOptions reduced = plain; // a quarter of the size at most: decoded at 1/2 or less
    reduced.Fit = true;
    reduced.Width = 150;
    reduced.Height = 150;
    TBatchOptions resampled = reduced; // from the full size
    resampled.Width = 250;
    resampled.Height = 200;
    resampled.Proportional = false;
    // Turned: decoded and resampled row by row, then turned whole as before.
    TBatchOptions quarter = reduced;
    quarter.Rotate = true;
    quarter.Angle = 90;
    TBatchOptions half = resampled;
    half.Rotate = true;
    half.Angle = -180;
    int run = 0;
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.name);
        const QByteArray jpeg = cjpegPhoto(layout.size, layout.options, files.path());
        ASSERT_FALSE(jpeg.isEmpty());
        const QString source = files.filePath(QStringLiteral("src%1.jpg").arg(run));
        ASSERT_TRUE(WriteBytes(source, withExifBlock(jpeg, ExifBlock{{{0x0132,
                                                                       "2011:03:04 05:06:07"}},
                                                                     {}, 1})));
        for (const TBatchOptions& o : {plain, reduced, resampled, quarter, half}) {
            SCOPED_TRACE(testing::Message() << (o.Fit ? o.Width : 0) << " turned " << o.Angle);
            // The whole picture: decoded (reduced as far as the fit allows), fitted, captioned
            // and encoded.
            RenderOptions ro;
            ro.width = o.Fit ? o.Width : 0;
            ro.height = o.Fit ? o.Height : 0;
            ro.proportional = o.Proportional;
            ro.fit = o.Fit;
            ro.perFileDates = true;
            ro.angle = o.Rotate ? o.Angle : 0;
            LoadedPhoto photo = LoadPhotoFileReduced(
                source, true, [&ro](const QSize& full) { return LeastDecodeForFit(full, ro); });
            PreparedPicture whole = PreparePicture(photo.picture, photo.fullSize, source, ro);
            DrawBricks(whole.image, *surface.designer, source, true, whole.sx, whole.sy);
            const QImage expected = DecodeImage(EncodePicture(
                whole.image, source, Settings().defaultCompressionQuality, photo.exif,
                photo.metadata));
            const QImage unmarked = [&] {
                PreparedPicture bare = PreparePicture(photo.picture, photo.fullSize, source, ro);
                return DecodeImage(EncodePicture(bare.image, source,
                                                 Settings().defaultCompressionQuality,
                                                 photo.exif, photo.metadata));
            }();

            TBatchOptions into = o;
            into.OutputFolder = files.filePath(QStringLiteral("out%1").arg(run++));
            items.clear();
            add(source);
            names.Rename = false;
            ASSERT_EQ(run_(into), TBatchOutcome::Completed);
            const QString written = into.OutputFolder + QStringLiteral("/") +
                                    QFileInfo(source).fileName();
            const QImage streamed = ReadImageFile(written);
            ASSERT_EQ(streamed.size(), expected.size());
            EXPECT_LT(meanChannelDifference(expected, streamed), 1.0);
            // A turned picture is captioned whole: the very pixels.
            if (o.Rotate) {
                EXPECT_EQ(streamed, expected);
            }
            // The ink: where the captioned picture is far from the bare one.
            auto ink = [&unmarked](const QImage& image) {
                QRect box;
                for (int y = 0; y < image.height(); ++y)
                    for (int x = 0; x < image.width(); ++x)
                        if (std::abs(qGray(image.pixel(x, y)) - qGray(unmarked.pixel(x, y))) > 60)
                            box |= QRect(x, y, 1, 1);
                return box;
            };
            const QRect box = ink(expected);
            EXPECT_FALSE(box.isEmpty());
            EXPECT_EQ(ink(streamed), box);
            // Its EXIF block is carried, its date shown.
            TExif exif;
            exif.LoadFromJpeg(written);
            EXPECT_TRUE(exif.Entries.join(QLatin1Char('\n')).contains(QStringLiteral("2011")));
        }
    }
    expectSurfaceRestored();
}

// ---- Keeping the photos' compressed data ---------------------------------------------------

TEST_F(BatchJobTest, KeepQualityRecaptionsBaselineJpegsAndTellsWhichAreEncodedAgain) {
    auto* t = placeBrick<TText>(*surface.designer, 4, 4);
    t->Font()->setColor(0x000000);
    t->setCaption(QStringLiteral("Hi"));
    t->FitToText();
    const QString baseline = files.filePath(QStringLiteral("a.jpg"));
    ASSERT_TRUE(WriteBytes(baseline, JpegWithExif(makeTestPhoto(160, 120, 3), "2006:05:02 14:05:09")));
    const QString progressive = files.filePath(QStringLiteral("b.jpg"));
    {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(makeTestPhoto(160, 120, 4)));
        ASSERT_TRUE(WriteBytes(progressive, buffer.data()));
    }
    const QString reason = KeepQualityRefusal(ReadFileBytes(progressive));
    ASSERT_FALSE(reason.isEmpty());
    Settings().KeepPhotoQuality = false;
    TBatchOptions o;
    o.ApplyPattern = true;
    o.KeepQuality = true;
    o.Jobs = 2;
    const QString folder = files.filePath(QStringLiteral("run"));
    const RunTrace r = traceRun(*surface.designer, {baseline, progressive}, folder, o);
    ASSERT_EQ(r.result.Outcome, TBatchOutcome::Completed);
    // The notice comes in the second file's turn, before it is written.
    const QStringList expected{
        "start 6", "progress 1", "progress 2", "done 0 a1.jpg", "progress 3", "progress 4",
        "notice b.jpg doesn't have an EXIF information.", "progress 5",
        "notice b.jpg: " + reason + "; written by re-encoding.", "done 1 b2.jpg", "progress 6",
        "finish", "notice " + Complete};
    EXPECT_EQ(r.events, expected);

    // Away from the caption's blocks (and the one pixel smooth upsampling blends in), the
    // baseline photo decodes exactly as before; the caption is there.
    const QImage before = ReadImageFile(baseline), after = ReadImageFile(folder + "/a1.jpg");
    ASSERT_EQ(after.size(), before.size());
    const QRect box = t->FullBox(t->FullLeft, t->FullTop);
    const QRect touched(0, 0, (box.right() / 16 + 1) * 16 + 1, (box.bottom() / 16 + 1) * 16 + 1);
    int changedOutside = 0, changedInside = 0;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            (touched.contains(x, y) ? changedInside : changedOutside) +=
                before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
    EXPECT_EQ(changedOutside, 0);
    EXPECT_GT(changedInside, 20);
    EXPECT_EQ(ReadImageFile(folder + "/b2.jpg").size(), QSize(160, 120));
}

// ---- The steps alone ----------------------------------------------------------------------

TEST_F(BatchJobTest, ValidateAsksForTheMissingSizeOnlyWhenFitting) {
    TBatchOptions o;
    EXPECT_EQ(TBatchJob::Validate(o), QString());
    o.Fit = true;
    EXPECT_EQ(TBatchJob::Validate(o), QStringLiteral("Please, enter Width."));
    o.Height = 600; // the width is asked for first
    EXPECT_EQ(TBatchJob::Validate(o), QStringLiteral("Please, enter Width."));
    o.Width = 800;
    o.Height = 0;
    EXPECT_EQ(TBatchJob::Validate(o), QStringLiteral("Please, enter Height."));
    o.Height = -1; // only 0 counts as missing
    EXPECT_EQ(TBatchJob::Validate(o), QString());
}

TEST_F(BatchJobTest, PlanNamesGivesEveryOutputWithoutTouchingFiles) {
    const QString a = photo(QStringLiteral("a.JPG")), b = photo(QStringLiteral("b.jpg"));
    add(a);
    add(files.path(), true);
    add(b);
    names.LoadStored(QStringLiteral("54"));
    names.Rename = true;
    TBatchJob job(items, names);
    TBatchOptions o;
    const QList<TPlannedFile> moved = job.PlanNames(o);
    ASSERT_EQ(moved.size(), 3);
    EXPECT_EQ(moved[0].NewName, QStringLiteral("a1.JPG"));
    EXPECT_EQ(moved[0].Output, files.filePath(QStringLiteral("a1.JPG"))) << "a move keeps the name";
    EXPECT_TRUE(moved[0].MoveOnly);
    EXPECT_EQ(moved[1].Output, QString()) << "a folder has no output";
    EXPECT_EQ(moved[2].Output, files.filePath(QStringLiteral("b3.jpg")));
    o.ApplyPattern = true;
    const QList<TPlannedFile> drawn = job.PlanNames(o);
    EXPECT_EQ(drawn[0].Output, files.filePath(QStringLiteral("a1.jpg")))
        << "a written file takes the extension in lower case";
    EXPECT_FALSE(drawn[0].MoveOnly);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), (QStringList{"a.JPG", "b.jpg"}));
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(BatchJobTest, LoadRenderAndWriteOneFileByHand) {
    const QString bmp = files.filePath(QStringLiteral("plain.bmp"));
    ASSERT_TRUE(makeTestPhoto(40, 30).save(bmp));
    add(bmp);
    TBatchJob job(items, names);
    QStringList notices;
    job.OnNotice = [&](const QString& text) { notices.append(text); };
    job.LoadFile(*surface.designer, bmp);
    EXPECT_EQ(notices, QStringList{QStringLiteral("plain.bmp doesn't have an EXIF information.")});
    EXPECT_EQ(surface.designer->realPicture.size(), QSize(40, 30));

    TBatchOptions o = turnedBy(90);
    const TPlannedFile plan{QStringLiteral("turned.bmp"),
                            files.filePath(QStringLiteral("turned.bmp"))};
    const QByteArray bytes = TBatchJob::RenderFile(*surface.designer, bmp, plan, o);
    EXPECT_EQ(DetectImageType(bytes), ImageFileType::Bmp);
    EXPECT_FALSE(QFile::exists(plan.Output)) << "rendering writes nothing";
    TBatchJob::WriteFile(bmp, plan, bytes);
    EXPECT_EQ(sizeOf(plan.Output), QSize(30, 40));
    EXPECT_TRUE(QFile::exists(bmp));

    // A file only moved renders nothing and is moved by the write.
    const TPlannedFile move{QStringLiteral("moved.bmp"),
                            files.filePath(QStringLiteral("moved.bmp")), true};
    EXPECT_TRUE(TBatchJob::RenderFile(*surface.designer, bmp, move, TBatchOptions()).isEmpty());
    TBatchJob::WriteFile(bmp, move, QByteArray());
    EXPECT_FALSE(QFile::exists(bmp));
    EXPECT_EQ(sizeOf(move.Output), QSize(40, 30));
    EXPECT_TRUE(messages.messages.isEmpty()) << "the steps show no box";
}

TEST_F(BatchJobTest, JobWithoutListenersShowsNothing) {
    // Every report goes through the callbacks: with none set, no box appears, whatever the end.
    const QString a = photo(QStringLiteral("a.jpg"));
    const QString broken = files.filePath(QStringLiteral("b.jpg"));
    ASSERT_TRUE(WriteBytes(broken, QByteArray("\xFF\xD8\xFF\xE0 not a picture")));
    const QString bmp = files.filePath(QStringLiteral("plain.bmp"));
    ASSERT_TRUE(makeTestPhoto(40, 30).save(bmp));
    for (const QString& f : {bmp, a, broken})
        add(f);
    TBatchOptions o;
    o.ApplyPattern = true;
    TBatchJob job(items, names);
    EXPECT_EQ(job.Run(*surface.designer, o).Outcome, TBatchOutcome::Failed);
    o.Fit = true;
    EXPECT_EQ(job.Run(*surface.designer, o).Outcome, TBatchOutcome::NotStarted);
    EXPECT_TRUE(messages.messages.isEmpty()) << messages.texts().join('|').toStdString();
}

TEST(SurfaceRestorer, PutsPictureAndRecordBackOnException) {
    SurfaceFixture s(QSize(10, 10));
    const QImage before = s.designer->realPicture;
    s.designer->realExif.Entries = {QStringLiteral("Make=x")};
    try {
        TSurfaceRestorer guard(*s.designer);
        s.designer->realPicture = QImage(3, 3, QImage::Format_RGB32);
        s.designer->realExif = TExif();
        throw Exception(QStringLiteral("boom"));
    } catch (const Exception&) {
    }
    EXPECT_EQ(s.designer->realPicture, before);
    EXPECT_EQ(s.designer->realExif.Entries, QStringList{QStringLiteral("Make=x")});
}

} // namespace
