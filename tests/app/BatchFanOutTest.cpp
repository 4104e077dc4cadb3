// Jobs split over processes: file lists, resuming with --skip-existing, and GNU parallel.
#include "bricks/TText.h"
#include "designer/state/TDesigner.h"
#include "designer/state/TcPanel.h"
#include "imaging/core/ImageCodecs.h"
#include "patterns/file/PatternFile.h"
#include "tests/app/CliRunner.h"
#include "tests/batch/BatchTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class BatchFanOut : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(config.isValid() && files.isValid());
        TDesigner designer;
        designer.ZoomRatio = 1.0;
        auto* text = new TText(designer.Panel1);
        designer.AddComponent(text);
        text->setCaption(QStringLiteral("WWWW"));
        text->SetBounds(2, 2, text->Width(), text->Height());
        WritePattern(path("pattern.xml"), designer);
    }
    QString path(const QString& name) const { return files.filePath(name); }
    QString photo(const QString& name, quint32 seed = 3) {
        const QString p = path(name);
        EXPECT_TRUE(
            WriteBytes(p, JpegWithExif(makeTestPhoto(120, 80, seed), "2006:05:02 14:05:09")));
        return p;
    }
    CliRun batch(QStringList args) {
        args.prepend(QStringLiteral("batch"));
        return runCli(args, config.path());
    }
    // A shell command line with the tool's path and settings folder in the environment.
    CliRun shell(const QString& script, const QByteArray& input = {}) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CAPTIOMARK_CONFIG_DIR"), config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CLI"), QStringLiteral(CAPTIOMARK_CLI_PATH));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(files.path());
        p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(180000));
        CliRun r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    // Captioned: the pattern's ink is there, which the photo alone does not have.
    static bool captioned(const QString& file, const QImage& original) {
        return differingPixelShare(ReadImageFile(file), original, 40) > 0.02;
    }

    QTemporaryDir config;
    QTemporaryDir files;
};

TEST_F(BatchFanOut, FilesComeFromAListOrStandardInputAsTheyAreNamed) {
    // Names a line cannot hold are given NUL-separated; a leading blank is part of a name.
    const QString a = photo("a.jpg"), b = photo(" lead.jpg"), c = photo("new\nline.jpg");
    const QImage original = ReadImageFile(a);
    ASSERT_TRUE(WriteBytes(path("list.txt"), (a + "\n\n" + b + "\n").toUtf8()));
    CliRun r = batch({"--pattern", path("pattern.xml"), "--files-from", path("list.txt")});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(captioned(a, original));
    EXPECT_TRUE(captioned(b, original));
    EXPECT_FALSE(QFile::exists(path("lead.jpg")));
    EXPECT_FALSE(QFile::exists(c + ".bak"));

    QByteArray nul = c.toUtf8();
    nul.append('\0');
    r = shell(QStringLiteral("\"$CLI\" batch --pattern pattern.xml --null --files-from -"), nul);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(captioned(c, original));
    EXPECT_TRUE(QFile::exists(c + ".bak"));

    r = batch({"--files-from", path("missing.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Cannot read the file list \"" + path("missing.txt") + "\""))
        << r.err.toStdString();
    r = batch({"--null", a});
    EXPECT_EQ(r.code, 2);
    // An empty list is no job.
    EXPECT_EQ(shell(QStringLiteral("\"$CLI\" batch --files-from - </dev/null")).code, 2);
}

TEST_F(BatchFanOut, SkipExistingResumesWhereAnEarlierRunStopped) {
    const QString a = photo("a.jpg", 1), b = photo("b.jpg", 2), c = photo("c.jpg", 3);
    const QImage original = ReadImageFile(c);
    const QString pattern = path("pattern.xml");

    // In place: the first run did a and b, and left each one's original as ".bak".
    ASSERT_EQ(batch({"--pattern", pattern, a, b}).code, 0);
    const QMap<QString, QByteArray> afterFirst = folderSha256(files.path());
    CliRun r = batch({"--pattern", pattern, "--skip-existing", a, b, c});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"" + a + "\" skipped: \"" + a + ".bak\" exists."))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("\"" + b + "\" skipped")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("\"" + c + "\" skipped")) << r.out.toStdString();
    EXPECT_EQ(sha256Of(a), afterFirst.value("a.jpg"));
    EXPECT_EQ(sha256Of(b), afterFirst.value("b.jpg"));
    EXPECT_TRUE(captioned(c, original));
}

TEST_F(BatchFanOut, SkipExistingLeavesOutputsAndMovedFilesOfAnEarlierRun) {
    const QString pattern = path("pattern.xml");
    const QString a = photo("a.jpg", 1), b = photo("b.jpg", 2);
    // A new name for each (custom text and old name), written beside the source.
    ASSERT_EQ(batch({"--pattern", pattern, "--rename", "15", "--text", "x-", a}).code, 0);
    const QString aOut = path("x-a.jpg");
    ASSERT_TRUE(QFile::exists(aOut));
    const QByteArray aOutHash = sha256Of(aOut);
    CliRun r = batch({"--pattern", pattern, "--rename", "15", "--text", "x-", a, b});
    EXPECT_EQ(r.code, 1) << "without --skip-existing a taken name stops the job";
    EXPECT_TRUE(r.err.contains("already exists. Nothing was written.")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("x-b.jpg")));
    r = batch({"--pattern", pattern, "--rename", "15", "--text", "x-", "--skip-existing", a, b});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"" + a + "\" skipped: \"" + aOut + "\" exists."))
        << r.out.toStdString();
    EXPECT_EQ(sha256Of(aOut), aOutHash);
    EXPECT_TRUE(QFile::exists(path("x-b.jpg")));

    // Renaming alone moves the files: a file the first run moved is not there to resume.
    const QString c = photo("c.jpg", 3), d = photo("d.jpg", 4);
    ASSERT_EQ(batch({"--rename", "15", "--text", "m-", c}).code, 0);
    ASSERT_FALSE(QFile::exists(c));
    r = batch({"--rename", "15", "--text", "m-", "--skip-existing", c, d});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\"" + c + "\" skipped: it is not there")) << r.out.toStdString();
    EXPECT_TRUE(QFile::exists(path("m-c.jpg")));
    EXPECT_TRUE(QFile::exists(path("m-d.jpg")));
    EXPECT_FALSE(QFile::exists(d));
}

// The recipe for many machines, run locally on two job slots: the list is cut into chunks, each
// chunk a process; a second run of the same command line finds everything done.
TEST_F(BatchFanOut, GnuParallelSplitsTheListAndAResumeFindsEverythingDone) {
    if (QStandardPaths::findExecutable(QStringLiteral("parallel")).isEmpty())
        GTEST_SKIP() << "GNU parallel is not installed";
    QStringList photos;
    for (int i = 0; i < 7; ++i)
        photos << photo(QStringLiteral("p%1.jpg").arg(i), quint32(10 + i));
    QDir().mkdir(path("ref"));
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(QFile::copy(photos[i], path(QStringLiteral("ref/p%1.jpg").arg(i))));
    const QImage original = ReadImageFile(photos[0]);
    // What one process makes of the same files: the split must not change a byte.
    ASSERT_EQ(shell(QStringLiteral("ls ref/*.jpg | \"$CLI\" batch --pattern pattern.xml "
                                   "--files-from -"))
                  .code,
              0);
    QString job = QStringLiteral(
        "find . -maxdepth 1 -name 'p*.jpg' -print0 | parallel --null --pipe --recend '\\0' -N 2 "
        "-j 2 --joblog jobs.log \"$CLI\" batch --pattern pattern.xml --skip-existing --null "
        "--files-from -");
    CliRun r = shell(job);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(captioned(photos[i], original));
        EXPECT_EQ(sha256Of(photos[i]), sha256Of(path(QStringLiteral("ref/p%1.jpg").arg(i))));
    }
    // Four chunks of at most two, each with its own exit code.
    QFile log(path("jobs.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count('\n'), 1 + 4);

    const QMap<QString, QByteArray> done = folderSha256(files.path());
    r = shell(job.replace(QStringLiteral("jobs.log"), QStringLiteral("again.log")));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("skipped")), 7) << r.out.toStdString();
    QMap<QString, QByteArray> after = folderSha256(files.path());
    after.remove(QStringLiteral("again.log"));
    EXPECT_EQ(after, done);
}

} // namespace
