// What captiomark-cli writes, and what it must never touch: files it was not asked to replace,
// the targets of symbolic links, a photo's name at any instant of an in-place save (the tool is
// killed at every system call that changes a name), permissions, formats and odd names.

#include "imaging/core/ImageCodecs.h"
#include "tests/app/CliRunner.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray textPattern() {
    const QString body = QStringLiteral("object Text1: TText%CR%LF  Left = 4%CR%LF  Top = 4%CR%LF"
                                        "  Caption = 'SAFE'%CR%LF  Font.Color = clRed%CR%LF"
                                        "  Font.Height = -20%CR%LF  Font.Name = 'Arial'%CR%LFend"
                                        "%CR%LF");
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Project Name=\"p\">\n"
               "  <Inspector Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" ColWidth=\"0\" "
               "Sort=\"False\" AlwaysOnTop=\"False\"/>\n"
               "  <Designer Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\" GridX=\"4\" GridY=\"4\" "
               "IsGrid=\"False\"/>\n"
               "  <Manager Left=\"0\" Top=\"0\" Width=\"0\" Height=\"0\"/>\n"
               "  <Bricks>\n    <Brick Body=\"%1\"/>\n  </Bricks>\n</Project>\n")
        .arg(body)
        .toUtf8();
}

QByteArray photoBytes(quint32 seed = 1, QSize size = QSize(64, 48)) {
    return JpegWithExif(makeTestPhoto(size.width(), size.height(), seed), "2006:05:02 14:05:09");
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// libjpeg's own tool decodes the whole file without a warning (a cut file gives "Premature end
// of JPEG file" and exit code 2).
bool wholeJpeg(const QString& file, QString* why = nullptr) {
    QProcess p;
    p.start(QStringLiteral("djpeg"), {QStringLiteral("-outfile"), QStringLiteral("/dev/null"), file});
    if (!p.waitForFinished(30000))
        return false;
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    if (why)
        *why = err;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && err.isEmpty();
}

mode_t modeOf(const QString& file) {
    struct stat st {};
    return ::lstat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool isLink(const QString& file) {
    struct stat st {};
    return ::lstat(QFile::encodeName(file).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Every entry of a folder (hidden ones, links and temporary files too) with its bytes.
QMap<QString, QByteArray> everything(const QString& dir) {
    QMap<QString, QByteArray> out;
    for (const QFileInfo& e : QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                      QDir::System | QDir::NoDotAndDotDot))
        out.insert(e.fileName(), e.isSymLink() ? "-> " + e.symLinkTarget().toUtf8()
                                               : readAll(e.filePath()));
    return out;
}

class OutputSafety : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid() && files.isValid() && side.isValid());
        pattern = side.filePath(QStringLiteral("p.xml"));
        ASSERT_TRUE(WriteBytes(pattern, textPattern()));
        // The settings file is written once here, not by the commands under test.
        ASSERT_EQ(cli({"settings", "list"}).code, 0);
    }
    QString path(const QString& name) const { return files.filePath(name); }
    QString photo(const QString& name, quint32 seed = 1) {
        EXPECT_TRUE(WriteBytes(path(name), photoBytes(seed)));
        return path(name);
    }
    CliRun cli(const QStringList& args) { return runCli(args, config.path()); }
    CliRun render(const QStringList& args) {
        return cli(QStringList{"render", "--pattern", pattern} + args);
    }

    QTemporaryDir config, files, side;
    QString pattern;
};

// ---- No unrelated file is ever overwritten ---------------------------------------------------

TEST_F(OutputSafety, RenderRefusesAnOutputThatExistsAndIsNotItsSource) {
    const QString a = photo("a.jpg");
    photo("IMG_0002.jpg", 2);
    WriteBytes(path("notes.jpg"), "my notes");
    const auto before = everything(files.path());

    // The name given, and the names the source's format makes of it (its extension added or in
    // lower case).
    for (const QString& output : {path("IMG_0002.jpg"), path("IMG_0002.JPG"), path("notes")}) {
        const CliRun r = render({"--output", output, a});
        EXPECT_EQ(r.code, 1) << output.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("already exists. Nothing was written.")))
            << r.err.toStdString();
        EXPECT_EQ(everything(files.path()), before) << output.toStdString();
    }
    const CliRun r = render({"--output", path("IMG_0002.jpg"), a});
    EXPECT_TRUE(r.err.contains('"' + path("IMG_0002.jpg") + "\" already exists"))
        << r.err.toStdString();
}

TEST_F(OutputSafety, RenderOutputNamingAnotherFormatIsRefused) {
    const QString a = photo("a.jpg");
    photo("IMG_0002.jpg", 2);
    const auto before = everything(files.path());
    // A PNG name for a JPEG must not become IMG_0002.jpg, nor a JPEG named .png.
    for (const char* name : {"IMG_0002.png", "fresh.png", "fresh.gif", "fresh.bmp"}) {
        const CliRun r = render({"--output", path(name), a});
        EXPECT_EQ(r.code, 1) << name;
        EXPECT_TRUE(r.err.contains(path(name))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("JPEG")) << r.err.toStdString();
        EXPECT_EQ(everything(files.path()), before) << name;
    }
    // Names of the JPEG format, or with no extension, are written as JPEGs.
    for (const char* name : {"copy.jpg", "second.jpeg", "third.JPG", "plain"}) {
        const CliRun r = render({"--output", path(name), a});
        ASSERT_EQ(r.code, 0) << name << ": " << r.err.toStdString();
        const QString written = r.out.section(QStringLiteral(" -> "), 1).trimmed();
        EXPECT_EQ(QFileInfo(written).absolutePath(), QFileInfo(path(name)).absolutePath());
        EXPECT_TRUE(wholeJpeg(written)) << written.toStdString();
    }
    EXPECT_EQ(readAll(path("IMG_0002.jpg")), before.value("IMG_0002.jpg"));
}

// ---- No link is followed ---------------------------------------------------------------------

TEST_F(OutputSafety, NoOutputIsWrittenThroughASymbolicLink) {
    const QString a = photo("a.jpg");
    QTemporaryDir elsewhere;
    const QString notes = elsewhere.filePath("notes.txt");
    WriteBytes(notes, "not a photo");
    const QString real = elsewhere.filePath("real.jpg");
    WriteBytes(real, photoBytes(5));
    ASSERT_EQ(::symlink(QFile::encodeName(notes).constData(),
                        QFile::encodeName(path("out.jpg")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere.filePath("missing.jpg")).constData(),
                        QFile::encodeName(path("dangling.jpg")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(real).constData(),
                        QFile::encodeName(path("linked.jpg")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere.filePath("Trip.jpg")).constData(),
                        QFile::encodeName(path("Trip.jpg")).constData()), 0);
    const auto here = everything(files.path());
    const auto there = everything(elsewhere.path());

    const QList<QPair<QStringList, QString>> cases{
        {{"render", "--pattern", pattern, "--output", path("out.jpg"), a}, path("out.jpg")},
        {{"render", "--pattern", pattern, "--output", path("dangling.jpg"), a},
         path("dangling.jpg")},
        {{"render", "--pattern", pattern, path("linked.jpg")}, path("linked.jpg")},
        {{"batch", "--rename", "1", "--text", "Trip", "--rotate", "90", a}, path("Trip.jpg")},
        {{"batch", "--rotate", "90", path("linked.jpg")}, path("linked.jpg")},
    };
    for (const auto& [args, link] : cases) {
        const CliRun r = cli(args);
        EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains('"' + link + '"')) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("symbolic link")) << r.err.toStdString();
        EXPECT_EQ(everything(files.path()), here) << args.join(' ').toStdString();
        EXPECT_EQ(everything(elsewhere.path()), there) << args.join(' ').toStdString();
    }
}

TEST_F(OutputSafety, SettingsAreNotWrittenThroughALink) {
    QTemporaryDir elsewhere;
    const QString conf = QDir(config.path()).filePath("Captiomark.conf");
    const QString kept = elsewhere.filePath("kept.conf");
    ASSERT_TRUE(QFile::rename(conf, kept));
    ASSERT_EQ(::symlink(QFile::encodeName(kept).constData(), QFile::encodeName(conf).constData()),
              0);
    const QByteArray before = readAll(kept);
    const CliRun r = cli({"settings", "set", "defaultFontName", "Verdana"});
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.err.contains(conf)) << r.err.toStdString();
    EXPECT_EQ(readAll(kept), before);
    EXPECT_TRUE(isLink(conf));
}

// ---- A name taken while the batch runs -------------------------------------------------------

TEST_F(OutputSafety, AFileAppearingAtAPlannedNameIsLeftAndTheBatchGoesOn) {
    // renameat2 unsupported (EINVAL, as on some file systems): the link-and-unlink way holds too.
    for (const QString& fail : {QString(), QStringLiteral("renameat2=22")}) {
        QTemporaryDir dir;
        const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
        WriteBytes(a, photoBytes(1));
        WriteBytes(b, photoBytes(2));
        const QByteArray aBefore = readAll(a), bBefore = readAll(b);
        // The first name change in the folder is the first output's temporary file: by then the
        // names were planned and found free.
        const CliRun r = runCliWithFaults({"batch", "--rename", "54", "--rotate", "90", a, b},
                                          config.path(),
                                          {{"CAPTIOMARK_FAULT_DIR", dir.path()},
                                           {"CAPTIOMARK_FAULT_STEP", "1"},
                                           {"CAPTIOMARK_FAULT_ACTION", "plant"},
                                           {"CAPTIOMARK_FAULT_PLANT", dir.filePath("a1.jpg")},
                                           {"CAPTIOMARK_FAULT_FAIL", fail}});
        EXPECT_EQ(r.code, 1) << fail.toStdString();
        EXPECT_TRUE(r.err.contains('"' + dir.filePath("a1.jpg") +
                                   "\" appeared while the batch ran; nothing was written for it"))
            << r.err.toStdString();
        EXPECT_EQ(readAll(dir.filePath("a1.jpg")), QByteArray("planted"));
        EXPECT_TRUE(wholeJpeg(dir.filePath("b2.jpg"))) << "the batch went on";
        EXPECT_EQ(ReadImageFile(dir.filePath("b2.jpg")).size(), QSize(48, 64));
        EXPECT_EQ(readAll(a), aBefore);
        EXPECT_EQ(readAll(b), bBefore);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"a.jpg", "a1.jpg", "b.jpg", "b2.jpg"}))
            << "no temporary file left";
    }
}

TEST_F(OutputSafety, ThePhotoReachedThroughALinkedFolderIsInTheJobOnce) {
    QDir(files.path()).mkdir("p");
    const QString a = photo("p/a.jpg");
    ASSERT_EQ(::symlink("p", QFile::encodeName(path("alias")).constData()), 0);
    const auto before = everything(path("p"));
    const CliRun r = cli({"batch", "--rotate", "90", a, path("alias/a.jpg")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("is in the job twice")) << r.err.toStdString();
    EXPECT_EQ(everything(path("p")), before);
}

// ---- A kill at any instant leaves every photo whole --------------------------------------------

// The counted system calls of a run, as the fault injection logged them.
QStringList loggedSteps(const QString& log) {
    QStringList steps;
    for (const QString& line : QString::fromUtf8(readAll(log)).split('\n', Qt::SkipEmptyParts))
        steps.append(line);
    return steps;
}

// Runs command (the photo's path replaces "PHOTO") once to learn its name changes, then once
// for each of them killed just before and just after it. Each time the photo's name holds a
// whole JPEG, the original or the finished output, and a backup, where there is one, is the
// whole original.
void killAtEveryStep(const QString& configDir, const QStringList& command,
                     const QMap<QString, QString>& extra, int* stepsSeen) {
    const QByteArray original = photoBytes(7, QSize(160, 120));
    auto args = [&](const QString& photo) {
        QStringList out = command;
        out.replaceInStrings(QStringLiteral("PHOTO"), photo);
        return out;
    };

    QTemporaryDir ref, logDir;
    const QString refPhoto = ref.filePath("IMG_0001.jpg");
    WriteBytes(refPhoto, original);
    const QString log = logDir.filePath("steps.log");
    QMap<QString, QString> env = extra;
    env.insert("CAPTIOMARK_FAULT_DIR", ref.path());
    env.insert("CAPTIOMARK_FAULT_LOG", log);
    const CliRun clean = runCliWithFaults(args(refPhoto), configDir, env);
    ASSERT_EQ(clean.code, 0) << clean.err.toStdString();
    const QByteArray finished = readAll(refPhoto);
    ASSERT_NE(finished, original);
    ASSERT_TRUE(wholeJpeg(refPhoto));
    int steps = 0;
    for (const QString& line : loggedSteps(log))
        steps += !line.startsWith('-');
    *stepsSeen = steps;
    ASSERT_GE(steps, 2) << loggedSteps(log).join('\n').toStdString();

    for (int step = 1; step <= steps; ++step) {
        for (const char* action : {"kill-before", "kill-after"}) {
            const std::string at = std::to_string(step) + " " + action;
            QTemporaryDir dir;
            const QString photo = dir.filePath("IMG_0001.jpg");
            WriteBytes(photo, original);
            QMap<QString, QString> e = extra;
            e.insert("CAPTIOMARK_FAULT_DIR", dir.path());
            e.insert("CAPTIOMARK_FAULT_STEP", QString::number(step));
            e.insert("CAPTIOMARK_FAULT_ACTION", QString::fromLatin1(action));
            const CliRun r = runCliWithFaults(args(photo), configDir, e);
            EXPECT_EQ(r.code, -1) << at << ": the tool was to be killed";
            const QByteArray now = readAll(photo);
            EXPECT_TRUE(now == original || now == finished) << at;
            QString why;
            EXPECT_TRUE(wholeJpeg(photo, &why)) << at << ": " << why.toStdString();
            if (QFileInfo::exists(photo + ".bak")) {
                EXPECT_EQ(readAll(photo + ".bak"), original) << at;
            }
            if (now == finished) {
                EXPECT_EQ(readAll(photo + ".bak"), original) << at << ": replaced without backup";
            }
        }
    }
}

TEST_F(OutputSafety, KilledAtEveryNameChangeOfAnInPlaceRenderThePhotoStaysWhole) {
    int steps = 0;
    killAtEveryStep(config.path(), {"render", "--pattern", pattern, "PHOTO"}, {}, &steps);
    EXPECT_GE(steps, 3);
}

TEST_F(OutputSafety, KilledAtEveryNameChangeOfAnInPlaceBatchThePhotoStaysWhole) {
    int steps = 0;
    killAtEveryStep(config.path(), {"batch", "--pattern", pattern, "--jobs", "2", "PHOTO"}, {},
                    &steps);
    EXPECT_GE(steps, 3);
}

TEST_F(OutputSafety, KilledAtEveryNameChangeOfABatchFittingInBandsThePhotoStaysWhole) {
    // Upright JPEGs are decoded, fitted, captioned and encoded band by band.
    int steps = 0;
    killAtEveryStep(config.path(),
                    {"batch", "--pattern", pattern, "--fit", "70x70", "--jobs", "2", "PHOTO"}, {},
                    &steps);
    EXPECT_GE(steps, 3);
}

TEST_F(OutputSafety, KilledAtEveryStepOfABackupByCopyThePhotoStaysWhole) {
    // A file system without hard links (EPERM): the backup is a copy, written the same careful way.
    int steps = 0;
    killAtEveryStep(config.path(), {"render", "--pattern", pattern, "--keep-quality", "PHOTO"},
                    {{"CAPTIOMARK_FAULT_FAIL", "link=1"}}, &steps);
    EXPECT_GE(steps, 4) << "the copy adds its own steps";
}

TEST_F(OutputSafety, AnInPlaceSaveIsOnTheDiskBeforeItIsReported) {
    QTemporaryDir logDir;
    const QString a = photo("a.jpg");
    const QString log = logDir.filePath("steps.log");
    const CliRun r = runCliWithFaults({"render", "--pattern", pattern, a}, config.path(),
                                      {{"CAPTIOMARK_FAULT_DIR", files.path()},
                                       {"CAPTIOMARK_FAULT_LOG", log}});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList steps = loggedSteps(log);
    // New bytes in a temporary file, the backup a link to the original, then one rename.
    int created = -1, linked = -1, renamed = -1, fileSynced = -1, folderSynced = -1;
    QString temp;
    for (int i = 0; i < steps.size(); ++i) {
        const QStringList w = steps[i].split(' ');
        if (w.value(1) == "open" && created < 0) {
            created = i;
            temp = w.value(2);
        } else if (w.value(1) == "link" && w.value(2) == a && w.value(3) == a + ".bak") {
            linked = i;
        } else if (w.value(1).startsWith("rename") && w.value(2) == temp && w.value(3) == a) {
            renamed = i;
        } else if (steps[i] == "- fsync " + temp && renamed < 0) {
            fileSynced = i;
        } else if (steps[i] == "- fsync " + files.path() && renamed >= 0) {
            folderSynced = i;
        }
    }
    const std::string all = steps.join('\n').toStdString();
    EXPECT_GE(created, 0) << all;
    EXPECT_GT(linked, created) << all;
    EXPECT_GT(renamed, linked) << all;
    EXPECT_GT(fileSynced, created) << all;
    EXPECT_LT(fileSynced, renamed) << all;
    EXPECT_GT(folderSynced, renamed) << all;
    EXPECT_FALSE(temp.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(temp));
}

TEST_F(OutputSafety, CtrlCStopsRenderAfterTheFileInHand) {
    const QString a = photo("a.jpg", 1), b = photo("b.jpg", 2), c = photo("c.jpg", 3);
    const QByteArray aBefore = readAll(a), bBefore = readAll(b), cBefore = readAll(c);
    // The interrupt comes while the first file is being written.
    const CliRun r = runCliWithFaults({"render", "--pattern", pattern, a, b, c}, config.path(),
                                      {{"CAPTIOMARK_FAULT_DIR", files.path()},
                                       {"CAPTIOMARK_FAULT_STEP", "1"},
                                       {"CAPTIOMARK_FAULT_ACTION", "interrupt-before"}});
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Cancelled after 1 of 3 files.")) << r.out.toStdString();
    EXPECT_NE(readAll(a), aBefore);
    EXPECT_TRUE(wholeJpeg(a));
    EXPECT_EQ(readAll(a + ".bak"), aBefore);
    EXPECT_EQ(readAll(b), bBefore);
    EXPECT_EQ(readAll(c), cBefore);
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"a.jpg", "a.jpg.bak", "b.jpg", "c.jpg"}));
}

// ---- Permissions -------------------------------------------------------------------------------

TEST_F(OutputSafety, OutputsKeepTheSourcesPermissions) {
    for (const mode_t mode : {mode_t(0600), mode_t(0444), mode_t(0640), mode_t(0664)}) {
        QTemporaryDir dir;
        const QString a = dir.filePath("a.jpg"), b = dir.filePath("b.jpg");
        WriteBytes(a, photoBytes(1));
        WriteBytes(b, photoBytes(2));
        ASSERT_EQ(::chmod(QFile::encodeName(a).constData(), mode), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(b).constData(), mode), 0);
        const std::string m = std::to_string(mode);

        ASSERT_EQ(render({"--output", dir.filePath("copy.jpg"), a}).code, 0) << m;
        EXPECT_EQ(modeOf(dir.filePath("copy.jpg")), mode) << m << ": a new output beside it";
        ASSERT_EQ(render({a}).code, 0) << m;
        EXPECT_EQ(modeOf(a), mode) << m << ": in place";
        EXPECT_EQ(modeOf(a + ".bak"), mode) << m;
        ASSERT_EQ(cli({"batch", "--rename", "54", "--rotate", "90", b}).code, 0) << m;
        EXPECT_EQ(modeOf(dir.filePath("b1.jpg")), mode) << m << ": renamed by the batch";
        ASSERT_EQ(cli({"batch", "--rotate", "90", b}).code, 0) << m;
        EXPECT_EQ(modeOf(b), mode) << m << ": batch in place";
    }
}

TEST_F(OutputSafety, AnInPlaceOutputKeepsTheOwnerWherePermitted) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    const QString a = photo("a.jpg");
    ASSERT_EQ(::chown(QFile::encodeName(a).constData(), 65534, 65534), 0);
    ASSERT_EQ(render({a}).code, 0);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(a).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
}

// ---- Odd files and odd names -------------------------------------------------------------------

TEST_F(OutputSafety, EveryFileIsWrittenInTheFormatItReallyIs) {
    // A JPEG without an extension, one with a trailing dot, a PNG without an extension.
    const QString bare = photo("IMG_0001"), dotted = photo("IMG_0002."), png = path("scan");
    ASSERT_TRUE(makeTestPhoto(64, 48, 3).save(png, "PNG"));
    for (const QString& file : {bare, dotted, png}) {
        const QByteArray before = readAll(file);
        const CliRun r = render({file});
        ASSERT_EQ(r.code, 0) << file.toStdString() << ": " << r.err.toStdString();
        const QByteArray after = readAll(file);
        EXPECT_NE(after, before);
        EXPECT_EQ(readAll(file + ".bak"), before);
        EXPECT_EQ(DetectImageType(after), DetectImageType(before)) << file.toStdString();
    }
    EXPECT_TRUE(wholeJpeg(bare));
    EXPECT_TRUE(wholeJpeg(dotted));
    EXPECT_TRUE(QImage(png, "PNG").size() == QSize(64, 48));
    // A new name from an extensionless JPEG is a JPEG too.
    ASSERT_EQ(render({"--output", path("copy"), bare}).code, 0);
    EXPECT_TRUE(wholeJpeg(path("copy")));
    ASSERT_EQ(cli({"batch", "--rotate", "90", bare}).code, 0);
    EXPECT_TRUE(wholeJpeg(bare));
}

TEST_F(OutputSafety, FormatsTheWriterCannotWriteOrNamesOfAnotherFormatAreRefused) {
    // A PPM (written by hand) is read but cannot be written; a BMP named .gif is not rewritten
    // as either.
    QByteArray ppm = "P6\n4 3\n255\n";
    for (int i = 0; i < 4 * 3; ++i)
        ppm += QByteArray::fromHex("20a0f0");
    WriteBytes(path("a.ppm"), ppm);
    WriteBytes(path("odd.gif"), EncodeBmp(makeTestPhoto(20, 10, 4)));
    const auto before = everything(files.path());
    for (const QString& file : {path("a.ppm"), path("odd.gif")}) {
        for (const QStringList& args :
             {QStringList{"render", "--pattern", pattern, file},
              QStringList{"batch", "--rotate", "90", file}}) {
            const CliRun r = cli(args);
            EXPECT_EQ(r.code, 1) << args.join(' ').toStdString();
            EXPECT_TRUE(r.err.contains('"' + file + '"')) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains("Nothing was written")) << r.err.toStdString();
            EXPECT_EQ(everything(files.path()), before) << args.join(' ').toStdString();
        }
    }
}

TEST_F(OutputSafety, ANameWithALeadingBlankIsUsedAsItIs) {
    const QString lead = photo(" lead.jpg");
    const QByteArray original = readAll(lead);
    CliRun r = cli({"batch", "--rotate", "90", lead});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(ReadImageFile(lead).size(), QSize(48, 64));
    EXPECT_EQ(readAll(lead + ".bak"), original);
    // The old-name token keeps it too; the blanks a template adds itself are trimmed.
    r = cli({"batch", "--rename", "5", "--rotate", "90", lead});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(ReadImageFile(lead).size(), QSize(64, 48));
    r = cli({"render", "--pattern", pattern, lead});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files), (QStringList{" lead.jpg", " lead.jpg.bak"}));
}

} // namespace
